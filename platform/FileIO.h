// FileIO: reading and writing one whole file.
//
// The script build driver's file adapter keeps compiled unit images and
// unit sources as whole files in a directory: it reads a file into memory
// at once and writes one at once (and looks at a file's first bytes before
// it replaces it). These calls are all it needs from the operating system.
//
// Reading never follows the request into anything but a regular file (a
// FIFO or device named like a unit is refused, not opened) and refuses files
// above a size bound, since the names come from script text. Writing goes to
// a temporary file of a unique name in the same directory (created
// exclusively, so it never truncates or removes anybody's file, and two
// programs writing the same target never share one), which is renamed over
// the target when complete: a reader sees the old content or the new, never
// a half-written file.
//
// What it does not do: decide names or directories (the file adapter joins
// and checks them), list directories (FileSystem).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace corvane {

// The bytes of the regular file at path; false when it cannot be read, is
// not a regular file or holds more than maxBytes.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out,
                   size_t maxBytes = size_t{64} << 20);
// What WriteWholeFile does when a file is already at the path.
enum class TWriteMode : uint8_t {
    wmReplace,     // replace it atomically
    wmCreateOnly,  // leave it: the write fails and *exists is set
};

// The first bytes (at most maxBytes) of the regular file at path; false when
// it cannot be read or is not a regular file. For a look at a header.
bool ReadFileStart(const std::string& path, size_t maxBytes, std::vector<uint8_t>& out);

// Writes the bytes as the file's whole content; false when that fails, with
// errorText describing why. With wmCreateOnly a path that exists (whatever
// it is) is left alone and reported through exists.
bool WriteWholeFile(const std::string& path, const void* data, size_t size, std::string& errorText,
                    TWriteMode mode = TWriteMode::wmReplace, bool* exists = nullptr);

}  // namespace corvane

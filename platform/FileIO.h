// FileIO: reading and writing one whole file.
//
// The script build driver's file adapter keeps compiled unit images and
// unit sources as whole files in a directory: it reads a file into memory
// at once and writes one at once. These two calls are all it needs from the
// operating system.
//
// Reading never follows the request into anything but a regular file (a
// FIFO or device named like a unit is refused, not opened) and refuses files
// above a size bound, since the names come from script text. Writing goes to
// a temporary file in the same directory that is renamed over the target
// when complete, so a failed write never leaves a half-written file.
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
// Writes the bytes as the file's whole content (replacing it atomically);
// false when that fails, with errorText describing why.
bool WriteWholeFile(const std::string& path, const void* data, size_t size, std::string& errorText);

}  // namespace corvane

// PeVersion: the file version of Windows executables found on disk.
//
// A Windows executable (a PE image) may carry a version resource. This unit
// finds it the way the loader's resource lookup does and returns the most
// significant half of the fixed file version (major * 65536 + minor):
//
//   "MZ" header --e_lfanew--> "PE\0\0" + file header + optional header
//     optional header data directory 2 --> resource directory (an RVA)
//       type level: the entry with id RT_VERSION (16)
//       name level: the entry with id 1 (VS_VERSION_INFO), else the first
//       language level: the first entry --> data entry (RVA, size)
//         VS_VERSIONINFO: wLength, wValueLength, wType, L"VS_VERSION_INFO",
//         padding to 4 bytes, VS_FIXEDFILEINFO (signature 0xFEEF04BD,
//         struct version, dwFileVersionMS, ...)
//
// Every byte comes from an untrusted file: each offset and length is checked
// against the file size and the section that holds it, arithmetic is done in
// 64 bits, the walk has a fixed depth (no loops), and the total number of
// bytes read per file is capped. Any missing or malformed piece simply means
// "no version". Files are read through ReadOnlyFile, so only regular files
// are ever opened.
//
// Only names with an executable's extension are read (see
// HasExecutableExtension); any other file has no version.
//
// It does not cache anything (the file source keeps the result per record)
// and reads nothing but the fixed part: string tables are not parsed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace corvane {

// Random-access bytes of one image.
class PeSource {
  public:
    virtual ~PeSource() = default;
    virtual uint64_t Size() const = 0;
    // Exactly length bytes at offset; false otherwise.
    virtual bool ReadAt(uint64_t offset, void* dest, size_t length) const = 0;
};

// dwFileVersionMS of the image's version resource; false when the image
// has none or anything on the way is missing or malformed.
bool ReadPeFileVersion(const PeSource& source, uint32_t& fileVersionMS);
bool ReadPeFileVersion(std::span<const uint8_t> image, uint32_t& fileVersionMS);
bool ReadPeFileVersionOfFile(const std::string& path, uint32_t& fileVersionMS);

// Whether a file name's extension (the text after its last ".", compared
// in any letter case) is one that Windows executables, libraries, drivers
// and resource modules carry. Only such files are opened for a version:
// reading the head of every file of a tree would cost a file open per
// entry (and, without O_NOATIME, change access times) for nothing.
bool HasExecutableExtension(std::string_view fileName);

// The number a version column shows: dwFileVersionMS, or -1 when there is
// none or its top bit is set (it would not read as a positive number).
int64_t FileVersionNumber(const std::string& path);

}  // namespace corvane

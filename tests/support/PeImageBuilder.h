// PeImageBuilder: a minimal Windows executable with a version resource,
// written byte by byte for the version reader's tests.
//
// Layout (offsets in the file):
//   0x000  DOS header, "MZ", e_lfanew = 0x40
//   0x040  "PE\0\0", file header (one section), optional header (PE32 or
//          PE32+, 16 data directories; directory 2 = resources)
//   ...    section table: ".rsrc", RVA 0x1000, raw data at 0x200
//   0x200  resource tree: type dir (RT_VERSION) -> name dir (id 1) ->
//          language dir (0x409) -> data entry -> VS_VERSIONINFO
// The offsets are exposed so that tests can damage one field at a time.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace corvane::testing {

struct PeImage {
    std::vector<uint8_t> bytes;
    size_t peOffset = 0;                           // "PE\0\0"
    size_t optionalOffset = 0;                     // optional header
    size_t dataDirOffset = 0;                      // data directory 0
    size_t sectionOffset = 0;                      // section table
    size_t rawOffset = 0;                          // resource section raw data (= resource root)
    size_t typeDir = 0, nameDir = 0, langDir = 0;  // resource directories
    size_t dataEntry = 0;                          // IMAGE_RESOURCE_DATA_ENTRY
    size_t versionInfo = 0;                        // VS_VERSIONINFO
    size_t fixedInfo = 0;                          // VS_FIXEDFILEINFO

    void Put16(size_t at, uint16_t v) {
        bytes[at] = static_cast<uint8_t>(v);
        bytes[at + 1] = static_cast<uint8_t>(v >> 8);
    }
    void Put32(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
    }
};

inline PeImage BuildPeImage(uint32_t fileVersionMS, bool pe32plus = false) {
    PeImage img;
    const uint32_t kSectionRva = 0x1000;
    const size_t kRaw = 0x200;
    img.bytes.assign(kRaw + 0x100, 0);
    img.bytes[0] = 'M';
    img.bytes[1] = 'Z';
    img.Put32(0x3C, 0x40);

    img.peOffset = 0x40;
    std::memcpy(img.bytes.data() + img.peOffset, "PE\0\0", 4);
    size_t fh = img.peOffset + 4;
    const uint16_t optSize = pe32plus ? 240 : 224;
    img.Put16(fh + 0, pe32plus ? 0x8664 : 0x14c);  // machine
    img.Put16(fh + 2, 1);                          // sections
    img.Put16(fh + 16, optSize);
    img.Put16(fh + 18, 0x0102);  // executable, 32-bit

    img.optionalOffset = fh + 20;
    img.Put16(img.optionalOffset, pe32plus ? 0x20b : 0x10b);
    size_t dirBase = pe32plus ? 112 : 96;
    img.Put32(img.optionalOffset + dirBase - 4, 16);  // NumberOfRvaAndSizes
    img.dataDirOffset = img.optionalOffset + dirBase;

    img.sectionOffset = img.optionalOffset + optSize;
    std::memcpy(img.bytes.data() + img.sectionOffset, ".rsrc\0\0\0", 8);
    const uint32_t kResSize = 0x100;
    img.Put32(img.sectionOffset + 8, kResSize);      // VirtualSize
    img.Put32(img.sectionOffset + 12, kSectionRva);  // VirtualAddress
    img.Put32(img.sectionOffset + 16, kResSize);     // SizeOfRawData
    img.Put32(img.sectionOffset + 20, kRaw);         // PointerToRawData
    img.Put32(img.dataDirOffset + 2 * 8, kSectionRva);
    img.Put32(img.dataDirOffset + 2 * 8 + 4, kResSize);

    img.rawOffset = kRaw;
    // Directory: 16-byte header (named count at 12, id count at 14), then
    // 8-byte entries (id, offset; high bit of offset = sub-directory).
    img.typeDir = kRaw + 0x00;
    img.nameDir = kRaw + 0x18;
    img.langDir = kRaw + 0x30;
    img.dataEntry = kRaw + 0x48;
    img.versionInfo = kRaw + 0x58;
    img.Put16(img.typeDir + 14, 1);
    img.Put32(img.typeDir + 16, 16);  // RT_VERSION
    img.Put32(img.typeDir + 20, 0x80000000u | 0x18);
    img.Put16(img.nameDir + 14, 1);
    img.Put32(img.nameDir + 16, 1);  // VS_VERSION_INFO
    img.Put32(img.nameDir + 20, 0x80000000u | 0x30);
    img.Put16(img.langDir + 14, 1);
    img.Put32(img.langDir + 16, 0x409);
    img.Put32(img.langDir + 20, 0x48);  // data entry
    const uint16_t infoLength = 92;
    img.Put32(img.dataEntry, kSectionRva + 0x58);
    img.Put32(img.dataEntry + 4, infoLength);

    img.Put16(img.versionInfo, infoLength);
    img.Put16(img.versionInfo + 2, 52);  // wValueLength
    img.Put16(img.versionInfo + 4, 0);   // binary
    const char key[] = "VS_VERSION_INFO";
    for (size_t i = 0; i < sizeof key; ++i)
        img.bytes[img.versionInfo + 6 + 2 * i] = key[i];
    img.fixedInfo = img.versionInfo + 40;
    img.Put32(img.fixedInfo, 0xFEEF04BD);
    img.Put32(img.fixedInfo + 4, 0x00010000);
    img.Put32(img.fixedInfo + 8, fileVersionMS);
    img.Put32(img.fixedInfo + 12, 0x00020003);  // LS: 2.3
    return img;
}

}  // namespace corvane::testing

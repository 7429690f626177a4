#include "platform/PeVersion.h"

#include <cstring>
#include <vector>

#include "platform/FileSystem.h"

namespace corvane {

namespace {

constexpr uint64_t kReadBudget = 8u << 20;  // bytes read per image, at most
constexpr uint16_t kRtVersion = 16;
constexpr uint16_t kVsVersionInfoId = 1;
constexpr uint32_t kFixedSignature = 0xFEEF04BD;
constexpr uint32_t kHighBit = 0x80000000u;
// wLength, wValueLength, wType, L"VS_VERSION_INFO\0" (32 bytes), 2 padding.
constexpr size_t kFixedInfoOffset = 40;
constexpr size_t kFixedInfoSize = 52;

uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Bounds-checked reads with a budget, so a hostile header cannot make us
// read much of a large file.
class Reader {
  public:
    explicit Reader(const PeSource& src) : src_(src), size_(src.Size()) {}
    bool Read(uint64_t offset, void* dest, uint64_t length) {
        if (length > kReadBudget - spent_) return false;
        if (offset > size_ || length > size_ - offset) return false;
        spent_ += length;
        return src_.ReadAt(offset, dest, static_cast<size_t>(length));
    }
    bool Read(uint64_t offset, std::vector<uint8_t>& out, uint64_t length) {
        if (length > kReadBudget - spent_ || offset > size_ || length > size_ - offset)
            return false;
        out.resize(static_cast<size_t>(length));
        return Read(offset, out.data(), length);
    }

  private:
    const PeSource& src_;
    uint64_t size_;
    uint64_t spent_ = 0;
};

struct Section {
    uint32_t virtualAddress, virtualSize, rawSize, rawPointer;
};

// File offset of length bytes at rva; they must lie in one section's raw
// data.
bool RvaToOffset(const std::vector<Section>& sections, uint32_t rva, uint64_t length,
                 uint64_t& offset) {
    for (const Section& s : sections) {
        uint64_t span = s.virtualSize > s.rawSize ? s.virtualSize : s.rawSize;
        if (rva < s.virtualAddress || rva - s.virtualAddress >= span) continue;
        uint64_t delta = rva - s.virtualAddress;
        if (delta + length > s.rawSize) return false;
        offset = static_cast<uint64_t>(s.rawPointer) + delta;
        return true;
    }
    return false;
}

// One resource directory (its header and id entries). Named entries are
// skipped: the ones we want carry ids.
struct ResourceDir {
    std::vector<uint8_t> entries;  // 8 bytes each: name/id, offset
    uint32_t named = 0, ids = 0;
};

bool ReadResourceDir(Reader& r, const std::vector<Section>& sections, uint32_t resourceRva,
                     uint32_t dirOffset, ResourceDir& dir) {
    uint64_t rva = static_cast<uint64_t>(resourceRva) + dirOffset;
    if (rva > UINT32_MAX) return false;
    uint8_t header[16];
    uint64_t off = 0;
    if (!RvaToOffset(sections, static_cast<uint32_t>(rva), sizeof header, off) ||
        !r.Read(off, header, sizeof header))
        return false;
    dir.named = Le16(header + 12);
    dir.ids = Le16(header + 14);
    uint64_t total = (static_cast<uint64_t>(dir.named) + dir.ids) * 8;
    if (total == 0) return false;
    uint64_t entriesRva = rva + sizeof header;
    if (entriesRva > UINT32_MAX) return false;
    return RvaToOffset(sections, static_cast<uint32_t>(entriesRva), total, off) &&
           r.Read(off, dir.entries, total);
}

// Offset field of the entry with the given id; of the first entry when id is
// 0 or no entry has it and anyId is set.
bool FindEntry(const ResourceDir& dir, uint16_t id, bool anyId, uint32_t& offsetField) {
    size_t count = dir.entries.size() / 8;
    for (size_t i = dir.named; i < count; ++i) {
        const uint8_t* e = dir.entries.data() + i * 8;
        uint32_t name = Le32(e);
        if ((name & kHighBit) == 0 && name == id) {
            offsetField = Le32(e + 4);
            return true;
        }
    }
    if (!anyId || count == 0) return false;
    offsetField = Le32(dir.entries.data() + 4);
    return true;
}

}  // namespace

bool ReadPeFileVersion(const PeSource& source, uint32_t& fileVersionMS) {
    Reader r(source);
    // DOS header: "MZ", e_lfanew at 0x3C.
    uint8_t dos[64];
    if (!r.Read(0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return false;
    uint64_t peOffset = Le32(dos + 0x3C);
    // "PE\0\0" and the 20-byte file header.
    uint8_t nt[24];
    if (!r.Read(peOffset, nt, sizeof nt) || std::memcmp(nt, "PE\0\0", 4) != 0) return false;
    uint16_t sectionCount = Le16(nt + 6);
    uint16_t optionalSize = Le16(nt + 20);
    uint64_t optionalOffset = peOffset + sizeof nt;

    // Optional header: magic tells where the data directories start.
    std::vector<uint8_t> opt;
    if (optionalSize < 2 || !r.Read(optionalOffset, opt, optionalSize)) return false;
    uint16_t magic = Le16(opt.data());
    size_t dirBase = magic == 0x10b ? 96 : magic == 0x20b ? 112 : 0;
    if (dirBase == 0 || optionalSize < dirBase + 3 * 8) return false;
    if (Le32(opt.data() + dirBase - 4) < 3) return false;  // NumberOfRvaAndSizes
    uint32_t resourceRva = Le32(opt.data() + dirBase + 2 * 8);
    if (resourceRva == 0) return false;

    // Section table, for mapping RVAs to file offsets.
    std::vector<uint8_t> table;
    if (sectionCount == 0 ||
        !r.Read(optionalOffset + optionalSize, table, static_cast<uint64_t>(sectionCount) * 40))
        return false;
    std::vector<Section> sections(sectionCount);
    for (size_t i = 0; i < sectionCount; ++i) {
        const uint8_t* s = table.data() + i * 40;
        sections[i] = {Le32(s + 12), Le32(s + 8), Le32(s + 16), Le32(s + 20)};
    }

    // Three levels: type, name, language. Levels 1 and 2 must point to
    // sub-directories (high bit set), level 3 to a data entry (clear).
    ResourceDir dir;
    uint32_t field = 0;
    if (!ReadResourceDir(r, sections, resourceRva, 0, dir) ||
        !FindEntry(dir, kRtVersion, false, field) || (field & kHighBit) == 0)
        return false;
    if (!ReadResourceDir(r, sections, resourceRva, field & ~kHighBit, dir) ||
        !FindEntry(dir, kVsVersionInfoId, true, field) || (field & kHighBit) == 0)
        return false;
    if (!ReadResourceDir(r, sections, resourceRva, field & ~kHighBit, dir) ||
        !FindEntry(dir, 0, true, field) || (field & kHighBit) != 0)
        return false;

    // Data entry: RVA and size of VS_VERSIONINFO.
    uint64_t dataRva = static_cast<uint64_t>(resourceRva) + field;
    uint8_t dataEntry[16];
    uint64_t off = 0;
    if (dataRva > UINT32_MAX ||
        !RvaToOffset(sections, static_cast<uint32_t>(dataRva), sizeof dataEntry, off) ||
        !r.Read(off, dataEntry, sizeof dataEntry))
        return false;
    uint32_t infoRva = Le32(dataEntry);
    uint32_t infoSize = Le32(dataEntry + 4);
    constexpr size_t kNeeded = kFixedInfoOffset + kFixedInfoSize;
    uint8_t info[kNeeded];
    if (infoSize < kNeeded || !RvaToOffset(sections, infoRva, kNeeded, off) ||
        !r.Read(off, info, kNeeded))
        return false;

    uint16_t length = Le16(info);
    uint16_t valueLength = Le16(info + 2);
    if (length < kNeeded || length > infoSize || valueLength < kFixedInfoSize) return false;
    static const char kKey[] = "VS_VERSION_INFO";
    for (size_t i = 0; i < sizeof kKey; ++i)  // UTF-16LE, terminator included
        if (info[6 + 2 * i] != static_cast<uint8_t>(kKey[i]) || info[7 + 2 * i] != 0) return false;
    const uint8_t* fixed = info + kFixedInfoOffset;
    if (Le32(fixed) != kFixedSignature) return false;
    fileVersionMS = Le32(fixed + 8);
    return true;
}

namespace {

class SpanSource : public PeSource {
  public:
    explicit SpanSource(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    uint64_t Size() const override { return bytes_.size(); }
    bool ReadAt(uint64_t offset, void* dest, size_t length) const override {
        if (offset > bytes_.size() || length > bytes_.size() - offset) return false;
        if (length > 0) std::memcpy(dest, bytes_.data() + offset, length);
        return true;
    }

  private:
    std::span<const uint8_t> bytes_;
};

class FileSource : public PeSource {
  public:
    explicit FileSource(const ReadOnlyFile& file) : file_(file) {}
    uint64_t Size() const override { return file_.Size(); }
    bool ReadAt(uint64_t offset, void* dest, size_t length) const override {
        return file_.ReadAt(offset, dest, length);
    }

  private:
    const ReadOnlyFile& file_;
};

}  // namespace

bool ReadPeFileVersion(std::span<const uint8_t> image, uint32_t& fileVersionMS) {
    return ReadPeFileVersion(SpanSource(image), fileVersionMS);
}

bool ReadPeFileVersionOfFile(const std::string& path, uint32_t& fileVersionMS) {
    ReadOnlyFile file;
    if (!file.Open(path)) return false;
    return ReadPeFileVersion(FileSource(file), fileVersionMS);
}

bool HasExecutableExtension(std::string_view fileName) {
    // Images in PE format: programs, libraries, drivers, control panel and
    // screen-saver modules, firmware programs, language resources, filters
    // and codecs, type libraries and the libraries of a few toolchains.
    static constexpr std::string_view kExtensions[] = {
        "exe", "dll", "sys", "ocx", "drv", "cpl", "scr", "efi", "mui",   "ax",
        "acm", "tsp", "ime", "rll", "tlb", "pyd", "bpl", "mun", "winmd", "com"};
    const size_t dot = fileName.rfind('.');
    if (dot == std::string_view::npos) return false;
    const std::string_view ext = fileName.substr(dot + 1);
    if (ext.empty() || ext.size() > 5) return false;
    char lower[5];
    for (size_t i = 0; i < ext.size(); ++i) {
        const char c = ext[i];
        lower[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    const std::string_view key(lower, ext.size());
    for (std::string_view known : kExtensions)
        if (key == known) return true;
    return false;
}

int64_t FileVersionNumber(const std::string& path) {
    uint32_t ms = 0;
    if (!ReadPeFileVersionOfFile(path, ms) || (ms & kHighBit) != 0) return -1;
    return ms;
}

}  // namespace corvane

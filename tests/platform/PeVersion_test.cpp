// The version reader parses untrusted executables: it must find the fixed
// file version of a well-formed image and say "none" for every damaged one,
// without reading out of bounds.
#include "platform/PeVersion.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>

#include "support/PeImageBuilder.h"

namespace corvane {
namespace {

using testing::BuildPeImage;
using testing::PeImage;

bool Version(const std::vector<uint8_t>& bytes, uint32_t& ms) {
    return ReadPeFileVersion(std::span<const uint8_t>(bytes), ms);
}

TEST(PeVersion, ReadsFixedFileVersionOfPe32AndPe32Plus) {
    for (bool plus : {false, true}) {
        PeImage img = BuildPeImage((5u << 16) | 1u, plus);
        uint32_t ms = 0;
        ASSERT_TRUE(Version(img.bytes, ms)) << plus;
        EXPECT_EQ(ms, 5u * 65536 + 1) << plus;
    }
}

TEST(PeVersion, EveryTruncatedImageHasNoVersion) {
    PeImage img = BuildPeImage(0x00070008);
    for (size_t len = 0; len < img.versionInfo + 92; ++len) {
        std::vector<uint8_t> cut(img.bytes.begin(), img.bytes.begin() + static_cast<long>(len));
        uint32_t ms = 0;
        EXPECT_FALSE(Version(cut, ms)) << "length " << len;
    }
}

TEST(PeVersion, DamagedImagesHaveNoVersion) {
    struct Case {
        const char* what;
        std::function<void(PeImage&)> damage;
    } cases[] = {
        {"no MZ", [](PeImage& i) { i.bytes[1] = 'X'; }},
        {"e_lfanew past the end", [](PeImage& i) { i.Put32(0x3C, 0xFFFFFFF0u); }},
        {"no PE signature", [](PeImage& i) { i.bytes[i.peOffset + 1] = 'Q'; }},
        {"unknown optional magic", [](PeImage& i) { i.Put16(i.optionalOffset, 0x107); }},
        {"optional header too small", [](PeImage& i) { i.Put16(i.peOffset + 4 + 16, 64); }},
        {"too few data directories", [](PeImage& i) { i.Put32(i.dataDirOffset - 4, 2); }},
        {"no resource directory", [](PeImage& i) { i.Put32(i.dataDirOffset + 16, 0); }},
        {"no sections", [](PeImage& i) { i.Put16(i.peOffset + 6, 0); }},
        {"section table past the end", [](PeImage& i) { i.Put16(i.peOffset + 6, 0xFFFF); }},
        {"resource RVA outside every section",
         [](PeImage& i) { i.Put32(i.dataDirOffset + 16, 0x9000); }},
        {"raw data past the end", [](PeImage& i) { i.Put32(i.sectionOffset + 20, 0x7FFFFFF0); }},
        {"raw size smaller than the tree", [](PeImage& i) { i.Put32(i.sectionOffset + 16, 0x20); }},
        {"huge entry counts",
         [](PeImage& i) {
             i.Put16(i.typeDir + 12, 0xFFFF);
             i.Put16(i.typeDir + 14, 0xFFFF);
         }},
        {"no RT_VERSION", [](PeImage& i) { i.Put32(i.typeDir + 16, 3); }},
        {"RT_VERSION is named", [](PeImage& i) { i.Put32(i.typeDir + 16, 0x80000010u); }},
        {"type entry is a leaf", [](PeImage& i) { i.Put32(i.typeDir + 20, 0x18); }},
        {"name entry is a leaf", [](PeImage& i) { i.Put32(i.nameDir + 20, 0x30); }},
        {"language entry is a directory",
         [](PeImage& i) { i.Put32(i.langDir + 20, 0x80000000u | 0x48); }},
        {"directory offset loops to the root",
         [](PeImage& i) { i.Put32(i.nameDir + 20, 0x80000000u); }},
        {"directory offset far away", [](PeImage& i) { i.Put32(i.typeDir + 20, 0xFFFFFFFFu); }},
        {"data RVA past the section", [](PeImage& i) { i.Put32(i.dataEntry, 0x1000 + 0xF0); }},
        {"data RVA wraps", [](PeImage& i) { i.Put32(i.dataEntry, 0xFFFFFFF0u); }},
        {"data size too small", [](PeImage& i) { i.Put32(i.dataEntry + 4, 91); }},
        {"wLength too small", [](PeImage& i) { i.Put16(i.versionInfo, 60); }},
        {"wLength beyond the data", [](PeImage& i) { i.Put16(i.versionInfo, 200); }},
        {"no fixed info", [](PeImage& i) { i.Put16(i.versionInfo + 2, 0); }},
        {"wrong key", [](PeImage& i) { i.bytes[i.versionInfo + 6] = 'W'; }},
        {"wrong signature", [](PeImage& i) { i.Put32(i.fixedInfo, 0xFEEF04BE); }},
    };
    for (auto& c : cases) {
        PeImage img = BuildPeImage(0x00050001);
        c.damage(img);
        uint32_t ms = 0;
        EXPECT_FALSE(Version(img.bytes, ms)) << c.what;
    }
}

TEST(PeVersion, RandomlyDamagedImagesNeverReadOutOfBounds) {
    // Under the sanitizers this shows every read is bounds-checked; the
    // verdict itself does not matter.
    PeImage img = BuildPeImage(0x00050001);
    std::mt19937 rng(12345);
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> bytes = img.bytes;
        int flips = 1 + static_cast<int>(rng() % 4);
        for (int f = 0; f < flips; ++f)
            bytes[rng() % bytes.size()] = static_cast<uint8_t>(rng());
        if (rng() % 4 == 0) bytes.resize(rng() % bytes.size());
        uint32_t ms = 0;
        (void)Version(bytes, ms);
    }
}

class PeVersionFile : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string tmpl = (std::filesystem::temp_directory_path() / "corvane-pe-XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        std::string path = dir_ + "/" + name;
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        ::close(fd);
        return path;
    }
    std::string dir_;
};

TEST(PeVersion, ExecutableExtensionsInAnyLetterCase) {
    struct Case {
        const char* name;
        bool executable;
    } cases[] = {
        {"app.exe", true},   {"APP.EXE", true}, {"lib.Dll", true},      {"drv.sys", true},
        {"x.ocx", true},     {"x.drv", true},   {"x.cpl", true},        {"x.scr", true},
        {"boot.efi", true},  {"x.mui", true},   {"x.ax", true},         {"x.acm", true},
        {"a.b.winmd", true}, {".exe", true},    {"app.exe.txt", false}, {"app.bin", false},
        {"exe", false},      {"app.", false},   {"app.exes", false},    {"app.ex", false},
        {"app.exe ", false}, {"", false},       {"dir.d/app", false},   {"app.ÉXE", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(HasExecutableExtension(c.name), c.executable) << c.name;
}

TEST_F(PeVersionFile, NumberIsEmptyWhenMissingOrTopBitSet) {
    EXPECT_EQ(FileVersionNumber(Write("app.exe", BuildPeImage((5u << 16) | 1u).bytes)), 327681);
    EXPECT_EQ(FileVersionNumber(Write("top.exe", BuildPeImage(0x80000001u).bytes)), -1);
    EXPECT_EQ(FileVersionNumber(Write("plain.txt", {'h', 'i'})), -1);
    EXPECT_EQ(FileVersionNumber(Write("empty", {})), -1);
    EXPECT_EQ(FileVersionNumber(dir_ + "/missing.exe"), -1);
    EXPECT_EQ(FileVersionNumber(dir_), -1);  // a directory
}

TEST_F(PeVersionFile, NeverOpensFifosOrFollowsLinks) {
    std::string exe = Write("app.exe", BuildPeImage(0x00010002).bytes);
    ASSERT_EQ(::symlink(exe.c_str(), (dir_ + "/link.exe").c_str()), 0);
    ASSERT_EQ(::mkfifo((dir_ + "/pipe.exe").c_str(), 0644), 0);
    EXPECT_EQ(FileVersionNumber(exe), 0x00010002);
    EXPECT_EQ(FileVersionNumber(dir_ + "/link.exe"), -1);
    // Opening a FIFO for reading would block for ever; this returns.
    EXPECT_EQ(FileVersionNumber(dir_ + "/pipe.exe"), -1);
}

}  // namespace
}  // namespace corvane

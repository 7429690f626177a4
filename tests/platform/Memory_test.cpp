// Sizes as users write them and as messages show them, and what the process
// may use.
#include "platform/Memory.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

TEST(Memory, ParseByteSize) {
    struct Case {
        const char* text;
        bool ok;
        int64_t bytes;
    } cases[] = {
        {"0", true, 0},
        {"1048576", true, 1048576},
        {"512K", true, 512 << 10},
        {"512k", true, 512 << 10},
        {"1M", true, 1 << 20},
        {"4G", true, int64_t{4} << 30},
        {"4GiB", true, int64_t{4} << 30},
        {"4gb", true, int64_t{4} << 30},
        {"2T", true, int64_t{2} << 40},
        {" 64 M ", true, int64_t{64} << 20},
        {"100B", true, 100},
        {"", false, 0},
        {"M", false, 0},
        {"-1M", false, 0},
        {"1.5G", false, 0},
        {"1X", false, 0},
        {"1Mi", false, 0},
        {"1MBB", false, 0},
        {"1 G extra", false, 0},
        {"4611686018427387904", true, int64_t{1} << 62},
        {"4611686018427387905", false, 0},
        {"4194304T", true, int64_t{1} << 62},
        {"4194305T", false, 0},
        {"99999999999999999999999", false, 0},
    };
    for (const Case& c : cases) {
        int64_t out = -7;
        EXPECT_EQ(ParseByteSize(c.text, out), c.ok) << c.text;
        EXPECT_EQ(out, c.ok ? c.bytes : -7) << c.text;
    }
}

TEST(Memory, FormatByteSize) {
    struct Case {
        int64_t bytes;
        const char* text;
    } cases[] = {
        {0, "0 B"},
        {1000, "1000 B"},
        {1024, "1 KiB"},
        {512 << 10, "512 KiB"},
        {1 << 20, "1 MiB"},
        {int64_t{4} << 30, "4 GiB"},
        {int64_t{3} << 29, "1.5 GiB"},
        {(int64_t{1} << 30) + 1, "1.0 GiB"},
        {int64_t{2} << 40, "2 TiB"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatByteSize(c.bytes), c.text) << c.bytes;
}

TEST(Memory, TheProcessCanUseSomeMemory) {
    const int64_t bytes = AvailableMemoryBytes();
    EXPECT_GT(bytes, int64_t{16} << 20);
}

}  // namespace
}  // namespace corvane

// LIKE matching on arbitrary text and pattern: never crashes, never takes
// more than polynomial time (the runner's timeout catches a blow-up).
// Input: pattern, a 0 byte, text.
#include <cstdint>
#include <string_view>

#include "script/common/ULike.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view all(reinterpret_cast<const char*>(data), size);
    size_t zero = all.find('\0');
    std::string_view pattern = all.substr(0, zero);
    std::string_view text =
        zero == std::string_view::npos ? std::string_view() : all.substr(zero + 1);
    bool m = corvane::LikeMatch(text, pattern);
    // Equal strings always match.
    if (!corvane::LikeMatch(pattern, pattern)) __builtin_trap();
    (void)m;
    return 0;
}

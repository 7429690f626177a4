// The version reader parses bytes of any file on disk: no input may make it
// read out of bounds, loop or crash.
#include <cstdint>
#include <span>

#include "platform/PeVersion.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint32_t ms = 0;
    (void)corvane::ReadPeFileVersion(std::span<const uint8_t>(data, size), ms);
    return 0;
}

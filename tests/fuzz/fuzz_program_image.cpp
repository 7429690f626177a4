// Program images come from files: any bytes must load or be refused
// cleanly, and a loaded program writes back to bytes that load again to the
// same program.
#include <cstdint>
#include <string_view>

#include "script/common/qv_vmc.h"

using namespace corvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TMemoryStream input(std::string_view(reinterpret_cast<const char*>(data), size));
    TProgramImage program;
    try {
        if (!program.LoadFromStream(input)) return 0;
    } catch (const EScriptError&) {
        return 0;
    }
    TMemoryStream first;
    if (!program.SaveToStream(first)) __builtin_trap();
    TProgramImage again;
    if (!again.LoadFromStream(first)) __builtin_trap();
    TMemoryStream second;
    again.SaveToStream(second);
    if (first.Bytes() != second.Bytes()) __builtin_trap();
    return 0;
}

// Unit images come from files: any bytes must load or be refused cleanly.
// An image that loads completely writes back to bytes that load to the same
// image.
#include <cstdint>
#include <string_view>

#include "script/common/qv_vmc.h"

using namespace corvane;

static bool LoadAll(TVMC_OBJ& image, TMemoryStream& stream) {
    if (!image.LoadFromStream(stream)) return false;
    for (int i = 0; i < image.Funcs.Count(); ++i) {
        try {
            image.LoadFuncBody(stream, i);
        } catch (const EScriptError&) {
            return false;
        }
    }
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TMemoryStream input(std::string_view(reinterpret_cast<const char*>(data), size));
    TVMC_OBJ image;
    if (!LoadAll(image, input)) return 0;
    TMemoryStream first;
    image.SaveToStream(first);
    TVMC_OBJ again;
    if (!LoadAll(again, first)) __builtin_trap();
    TMemoryStream second;
    again.SaveToStream(second);
    if (first.Bytes() != second.Bytes()) __builtin_trap();
    return 0;
}

// The script compiler on arbitrary source: it must end (no loop, no stack
// overflow) and never touch memory it does not own. What compiles cleanly
// must survive the unit-image round trip byte for byte, and must link when
// it has a function named main.
#include <cstdint>
#include <string>
#include <vector>

#include "script/common/qv_vmc.h"
#include "script/compiler/u_compile.h"
#include "script/runtime/qv_build.h"

using namespace corvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 20000) return 0;
    std::string source(reinterpret_cast<const char*>(data), size);
    TVMC_OBJ image;
    TsourceFile sf;
    sf.target = &image;
    sf.SetText(source);
    try {
        sf.Compile();
    } catch (const EScriptError&) {
        return 0;
    }
    if (!image.Loaded || !sf.errors.Render().empty()) return 0;

    TMemoryStream first;
    image.SaveToStream(first);
    TVMC_OBJ again;
    if (!again.LoadFromStream(first)) __builtin_trap();
    for (int i = 0; i < again.Funcs.Count(); ++i)
        again.LoadFuncBody(first, i);
    TMemoryStream second;
    again.SaveToStream(second);
    if (first.Bytes() != second.Bytes()) __builtin_trap();

    if (image.Funcs.IndexOf("main") >= 0) {
        std::vector<std::string> lines;
        size_t start = 0;
        while (start <= source.size()) {
            size_t nl = source.find('\n', start);
            if (nl == std::string::npos) nl = source.size();
            lines.push_back(source.substr(start, nl - start));
            start = nl + 1;
        }
        TBuildObj build;
        try {
            (void)build.Build(lines, "main");
        } catch (const EScriptError&) {
        }
    }
    return 0;
}

// Text conversions of the value type: every text a user or a file hands over
// may be read as a number or a date-time. Nothing may crash, and a text that
// reads as a number must survive a round trip through its text form.
#include <cmath>
#include <cstdint>
#include <string>

#include "platform/DateTime.h"
#include "platform/Variant.h"

using namespace corvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    Variant v(text);
    int64_t i;
    double d;
    bool b;
    (void)v.TryAsBoolean(b);
    if (v.TryAsInteger(i)) {
        Variant back(v.AsString());
        (void)back;
    }
    if (v.TryAsDouble(d) && std::isfinite(d)) {
        Variant num(d);
        double again;
        if (!Variant(num.AsString()).TryAsDouble(again)) __builtin_trap();
        // 15 significant digits: equal to that precision.
        if (d != 0 && std::fabs(again - d) > std::fabs(d) * 1e-14) __builtin_trap();
    }
    if (v.TryAsDate(d)) {
        std::string shown = Variant::FromDate(d).AsString();
        (void)shown;
    }
    return 0;
}

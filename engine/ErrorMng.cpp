#include "engine/ErrorMng.h"

namespace corvane {

std::string TmyErrorMng::Text() const {
    std::string out;
    for (const std::string& m : items_) {
        out += m;
        out += "\r\n";
    }
    return out;
}

}  // namespace corvane

#include "sql/ErrorMng.h"

namespace corvane {

std::string TmyErrorMng::Text() const {
    std::string out;
    for (const Entry& m : items_) {
        out += m.text;
        out += "\r\n";
    }
    return out;
}

}  // namespace corvane

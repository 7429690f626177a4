#include "script/common/U_err.h"

namespace corvane {

std::vector<std::string> TErrorList::Render() const {
    std::vector<std::string> out;
    out.reserve(items_.size());
    for (const Terr_line& e : items_)
        out.push_back(name_ + ": line " + std::to_string(e.lineNo) + ":" + e.text);
    return out;
}

std::string TErrorList::Text() const {
    std::string out;
    for (const std::string& line : Render()) {
        out += line;
        out += '\n';
    }
    return out;
}

static std::string Fill(std::string_view text, std::string_view arg) {
    size_t p = text.find("%s");
    if (p == std::string_view::npos) p = text.find("%d");
    std::string out(text);
    if (p != std::string_view::npos) out.replace(p, 2, arg);
    return out;
}

std::string FormatMsg(std::string_view text, std::string_view arg) {
    return Fill(text, arg);
}

std::string FormatMsg(std::string_view text, long long arg) {
    return Fill(text, std::to_string(arg));
}

}  // namespace corvane

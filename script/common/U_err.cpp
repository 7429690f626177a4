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

std::string FormatMsg2(std::string_view text, std::string_view first, std::string_view second) {
    const size_t a = text.find("%s");
    const size_t b = a == std::string_view::npos ? a : text.find("%s", a + 2);
    if (b == std::string_view::npos) return Fill(Fill(text, first), second);
    std::string out(text.substr(0, a));
    out += first;
    out += text.substr(a + 2, b - a - 2);
    out += second;
    out += text.substr(b + 2);
    return out;
}

}  // namespace corvane

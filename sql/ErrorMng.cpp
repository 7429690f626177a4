#include "sql/ErrorMng.h"

#include "script/common/U_err.h"
#include "sql/SqlLexer.h"
#include "sql/SqlMessages.h"

namespace corvane {

namespace {

// The line "… n more messages", empty when there are none.
std::string MoreLine(int more) {
    if (more <= 0) return {};
    return FormatMsg(std::string(Msg(sqlmsg::TooManyMessages)), static_cast<long long>(more));
}

// About 80 bytes of text around offset pos (1-based), cut at character
// boundaries, line ends shown as blanks.
std::string Around(std::string_view text, int pos) {
    size_t from = pos > 40 ? static_cast<size_t>(pos - 40) : 0;
    size_t to = std::min(text.size(), from + 80);
    auto isContinuation = [&](size_t i) {
        return i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80;
    };
    while (from > 0 && isContinuation(from))
        --from;
    while (to < text.size() && isContinuation(to))
        ++to;
    std::string out(text.substr(from, to - from));
    for (char& c : out)
        if (c == '\n' || c == '\r' || c == '\t') c = ' ';
    if (from > 0) out.insert(0, "…");
    if (to < text.size()) out += "…";
    return out;
}

}  // namespace

std::string TmyErrorMng::Text() const {
    std::string out;
    for (const Entry& m : items_) {
        out += m.text;
        out += "\r\n";
    }
    if (more_ > 0) out += MoreLine(more_) + "\r\n";
    return out;
}

std::string TmyErrorMng::TextWithPlaces(std::string_view statement) const {
    std::string out;
    for (const Entry& m : items_) {
        out += m.text;
        if (m.position > 0) {
            int line = 0, column = 0;
            LineColumnOf(statement, m.position, line, column);
            std::string place = FormatMsg(std::string(Msg(sqlmsg::PlaceAt)), line);
            out += FormatMsg(place, column);
            if (statement.size() > 200)
                out += FormatMsg(std::string(Msg(sqlmsg::NearText)), Around(statement, m.position));
        }
        out += '\n';
    }
    if (more_ > 0) out += MoreLine(more_) + '\n';
    return out;
}

}  // namespace corvane

#include "sql/SqlStatement.h"

namespace corvane {

TRelOp RelOpOfText(std::string_view text) {
    if (text == "=" || text == "==") return roEqual;
    if (text == "<>" || text == "!=") return roNotEqual;
    if (text == ">") return roGreater;
    if (text == ">=") return roGreaterEqual;
    if (text == "<") return roLess;
    if (text == "<=") return roLessEqual;
    return roNone;
}

std::string TParsedStatement::TextOf(const TSqlExpr& e) const {
    if (e.pos < 1 || e.end <= e.pos || static_cast<size_t>(e.pos - 1) >= source.size()) return {};
    const size_t from = static_cast<size_t>(e.pos - 1);
    return source.substr(from, std::min(source.size(), static_cast<size_t>(e.end - 1)) - from);
}

}  // namespace corvane

#include "sql/SqlStatement.h"

namespace corvane {

TRelOp RelOpOfText(std::string_view text) {
    if (text == "=") return roEqual;
    if (text == "<>") return roNotEqual;
    if (text == ">") return roGreater;
    if (text == ">=") return roGreaterEqual;
    if (text == "<") return roLess;
    if (text == "<=") return roLessEqual;
    return roNone;
}

TParsedCondition::~TParsedCondition() {
    std::unique_ptr<TParsedCondition> p = std::move(next);
    while (p) {
        std::unique_ptr<TParsedCondition> q = std::move(p->next);
        p.reset();
        p = std::move(q);
    }
}

TParsedCondition* TParsedCondition::Last() {
    TParsedCondition* n = this;
    while (n->next)
        n = n->next.get();
    return n;
}

}  // namespace corvane

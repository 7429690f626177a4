// The statement parser alone on arbitrary text, up to 1 MiB: it must end
// quickly, never raise, never recurse past its bound, and leave at most one
// message, pointing inside the text (or just past its end). What parses is
// parsed again to the same shape, so the tree does not depend on state.
#include <cstdint>
#include <string>

#include "sql/UveskBase.h"
#include "sql/sqlScan_Base.h"

using namespace corvane;

namespace {

// A compact form of a tree, walked without recursion.
std::string Shape(const TSqlExpr* root) {
    std::string out;
    std::vector<const TSqlExpr*> todo{root};
    while (!todo.empty()) {
        const TSqlExpr* e = todo.back();
        todo.pop_back();
        if (!e) continue;
        out += std::to_string(static_cast<int>(e->kind)) + ":" + std::to_string(e->op) + ":" +
               e->name + "(" + std::to_string(e->args.size()) + ")";
        if (e->pos < 1 || e->end < e->pos) __builtin_trap();  // every node has its place
        for (const TSqlExprPtr& a : e->args)
            todo.push_back(a.get());
    }
    return out;
}

std::string ShapeOf(const TParsedStatement& s) {
    std::string out = std::to_string(s.items.size()) + "/" + std::to_string(s.from.size());
    for (const TParsedSelectItem& i : s.items)
        out += "|" + Shape(i.expr.get());
    out += "|w" + Shape(s.where.get()) + "|h" + Shape(s.having.get());
    for (const TSqlExprPtr& g : s.groupBy)
        out += "|g" + Shape(g.get());
    for (const TParsedOrderItem& o : s.orderBy)
        out += "|o" + Shape(o.expr.get());
    return out;
}

TParsedStatement ParseOnce(const std::string& sql) {
    TParamList params;
    int id = 0;
    TASQLSource parser(params, [&] { return ++id; });
    parser.SetText(sql);
    parser.Parse();
    return parser.TakeStatement();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    const std::string sql(reinterpret_cast<const char*>(data), size);
    const TParsedStatement s = ParseOnce(sql);
    if (s.messages.Count() > 1) __builtin_trap();  // the first fault ends the parse
    if (s.messages.Count() == 1) {
        const int pos = s.messages.Position(0);
        if (pos < 0 || pos > static_cast<int>(size) + 1) __builtin_trap();
        (void)s.messages.TextWithPlaces(sql);
        return 0;
    }
    if (ShapeOf(ParseOnce(sql)) != ShapeOf(s)) __builtin_trap();
    return 0;
}

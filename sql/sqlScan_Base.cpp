#include "sql/sqlScan_Base.h"

#include <algorithm>
#include <cstdio>

#include "script/common/U_err.h"
#include "sql/UveskBase.h"

namespace corvane {

namespace {

// Words that end an expression or an item: never an output name without AS.
constexpr std::string_view kNotAlias[] = {
    "from",   "where",     "group", "having", "order",   "limit",  "fetch",   "offset", "union",
    "except", "intersect", "and",   "or",     "not",     "in",     "is",      "like",   "ilike",
    "regexp", "between",   "as",    "then",   "else",    "end",    "when",    "on",     "join",
    "using",  "inner",     "left",  "right",  "full",    "cross",  "natural", "outer",  "div",
    "mod",    "xor",       "asc",   "desc",   "collate", "escape", "select"};

// Words that cannot stand where an operand begins.
constexpr std::string_view kNotOperand[] = {
    "from",  "where",  "group",     "having", "order", "limit", "fetch", "offset",
    "union", "except", "intersect", "and",    "or",    "in",    "is",    "like",
    "ilike", "regexp", "between",   "as",     "then",  "else",  "end",   "on",
    "join",  "using",  "div",       "mod",    "xor",   "asc",   "desc"};

template <size_t N>
bool IsOneOf(const TSqlToken& t, const std::string_view (&words)[N]) {
    if (t.kind != TSqlTok::Name) return false;
    for (std::string_view w : words)
        if (t.IsWord(w)) return true;
    return false;
}

// "desc", "descending" and every prefix of "descending" of at least 4
// letters sort descending.
bool IsDescendingWord(const TSqlToken& t) {
    if (t.kind != TSqlTok::Name || t.text.size() < 4 || t.text.size() > 10) return false;
    static constexpr std::string_view kWord = "descending";
    for (size_t i = 0; i < t.text.size(); ++i) {
        char c = t.text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != kWord[i]) return false;
    }
    return true;
}

// The type named in CAST(x AS type).
bool CastTypeOf(std::string_view lower, TSqlType& type) {
    static const struct {
        std::string_view name;
        TSqlType type;
    } kTypes[] = {
        {"integer", TSqlType::Integer}, {"int", TSqlType::Integer},
        {"bigint", TSqlType::Integer},  {"smallint", TSqlType::Integer},
        {"tinyint", TSqlType::Integer}, {"real", TSqlType::Real},
        {"double", TSqlType::Real},     {"float", TSqlType::Real},
        {"numeric", TSqlType::Real},    {"decimal", TSqlType::Real},
        {"text", TSqlType::Text},       {"varchar", TSqlType::Text},
        {"char", TSqlType::Text},       {"string", TSqlType::Text},
        {"boolean", TSqlType::Boolean}, {"bool", TSqlType::Boolean},
        {"date", TSqlType::Date},       {"datetime", TSqlType::Date},
        {"timestamp", TSqlType::Date},
    };
    for (const auto& t : kTypes)
        if (t.name == lower) {
            type = t.type;
            return true;
        }
    return false;
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// What a token reads as in a message ("from", "(", "'x'").
std::string Shown(const TSqlToken& t, std::string_view source) {
    if (t.kind == TSqlTok::End) return "end";
    std::string s(source.substr(static_cast<size_t>(t.pos - 1), static_cast<size_t>(t.len)));
    if (s.size() > 40) s = s.substr(0, 37) + "...";
    return s;
}

}  // namespace

// Counts one level of nesting for as long as it lives; past kMaxExprDepth
// it reports, and the parse stops.
class TASQLSource::DepthGuard {
  public:
    explicit DepthGuard(TASQLSource& p) : p_(p) { ++p_.depth_; }
    ~DepthGuard() { --p_.depth_; }
    bool Ok() {
        if (p_.depth_ <= kMaxExprDepth) return true;
        p_.FailHere(FormatMsg(std::string(Msg(sqlmsg::TooDeep)), kMaxExprDepth));
        return false;
    }

  private:
    TASQLSource& p_;
};

TASQLSource::TASQLSource(TParamList& params, std::function<int()> nextId)
    : params_(params), nextId_(std::move(nextId)) {}

void TASQLSource::SetText(const std::string& text) {
    source_ = text;
}

std::string TASQLSource::MakeName(const std::string& prefix) {
    std::string digits = std::to_string(nextId_ ? nextId_() : 0);
    if (digits.size() < 9) digits.insert(0, 9 - digits.size(), '0');
    return prefix + digits;
}

// ---- Tokens -----------------------------------------------------------------

const TSqlToken& TASQLSource::Peek(size_t ahead) {
    while (ahead_.size() < ahead)
        ahead_.push_back(lexer_->Next());
    return ahead_[ahead - 1];
}

void TASQLSource::Advance() {
    if (cur_.kind != TSqlTok::End) lastEnd_ = cur_.End();
    if (!ahead_.empty()) {
        cur_ = std::move(ahead_.front());
        ahead_.pop_front();
    } else {
        cur_ = lexer_->Next();
    }
}

bool TASQLSource::AcceptOp(std::string_view op) {
    if (!cur_.Is(op)) return false;
    Advance();
    return true;
}

bool TASQLSource::AcceptWord(std::string_view word) {
    if (!cur_.IsWord(word)) return false;
    Advance();
    return true;
}

bool TASQLSource::IsStatementEnd(const TSqlToken& t) const {
    return t.kind == TSqlTok::End || t.Is(";");
}

bool TASQLSource::IsClauseWord(const TSqlToken& t) const {
    static constexpr std::string_view kClauses[] = {"from",  "where",  "group",    "having",
                                                    "order", "limit",  "fetch",    "offset",
                                                    "union", "except", "intersect"};
    return IsOneOf(t, kClauses);
}

bool TASQLSource::Fail(std::string_view message, int pos) {
    if (!failed_) {
        failed_ = true;
        statement_.messages.Add(std::string(message), pos);
    }
    return false;
}

bool TASQLSource::CloseBracket(int open, std::string_view close) {
    if (AcceptOp(close)) return true;
    if (cur_.kind == TSqlTok::Bad) return FailToken();
    // Where the statement or its clause ends, the bracket was never closed.
    if (cur_.kind == TSqlTok::End || IsClauseWord(cur_))
        return Fail(sqlmsg::BracketsUnbalanced, open);
    return FailToken();
}

bool TASQLSource::FailToken() {
    if (cur_.kind == TSqlTok::Bad) return FailHere(cur_.text);
    if (cur_.kind == TSqlTok::End) return FailHere(Msg(sqlmsg::ExpressionExpected));
    return FailHere(FormatMsg(std::string(Msg(sqlmsg::UnexpectedToken)), Shown(cur_, source_)));
}

// ---- Statement ----------------------------------------------------------------

void TASQLSource::Parse() {
    statement_ = TParsedStatement{};
    statement_.source = source_;
    failed_ = false;
    depth_ = 0;
    ahead_.clear();
    lastEnd_ = 0;
    for (int i = 0; i < params_.Count(); ++i)
        if (params_.Item(i).internalName.empty()) params_.Item(i).internalName = MakeName("pm");
    lexer_ = std::make_unique<TSqlLexer>(statement_.source);
    cur_ = lexer_->Next();
    ParseStatement();
    lexer_.reset();
    ahead_.clear();
}

// statement -> select-head items ["from" tables] ["where" expr]
//              ["group" "by" exprs] ["having" expr] ["order" "by" orders]
//              [limit] [";"]
bool TASQLSource::ParseStatement() {
    if (cur_.kind == TSqlTok::Bad) return FailToken();
    if (!cur_.IsWord("select")) return Fail(sqlmsg::InvalidSelect, cur_.pos > 0 ? cur_.pos : 1);
    Advance();
    if (!ParseSelectHead() || !ParseItems()) return false;
    if (cur_.IsWord("from") && !ParseFrom()) return false;
    if (cur_.IsWord("where") && !ParseWhere()) return false;
    if (cur_.IsWord("group") && !ParseGroupBy()) return false;
    if (cur_.IsWord("having")) {
        if (statement_.groupBy.empty()) return FailHere(sqlmsg::HavingNeedsGroupBy);
        if (!ParseHaving()) return false;
    }
    if (cur_.IsWord("order") && !ParseOrderBy()) return false;
    if ((cur_.IsWord("limit") || cur_.IsWord("offset") || cur_.IsWord("fetch")) && !ParseLimit())
        return false;
    // What may not follow here says what it is.
    if (cur_.IsWord("where")) return FailHere(sqlmsg::WhereExpected);
    if (cur_.IsWord("having"))
        return FailHere(statement_.groupBy.empty() ? std::string_view(sqlmsg::HavingNeedsGroupBy)
                                                   : Msg(sqlmsg::TrailingText));
    if (cur_.IsWord("union") || cur_.IsWord("except") || cur_.IsWord("intersect"))
        return FailHere(Msg(sqlmsg::SubQueryUnsupported));
    if (cur_.IsWord("from") || cur_.IsWord("group") || cur_.IsWord("order"))
        return FailHere(FormatMsg(std::string(Msg(sqlmsg::UnexpectedToken)), Shown(cur_, source_)));
    AcceptOp(";");
    if (cur_.kind == TSqlTok::Bad) return FailToken();
    if (cur_.kind != TSqlTok::End) return FailHere(Msg(sqlmsg::TrailingText));
    return true;
}

// select-head -> { "distinct" | "all" | "top" integer }
bool TASQLSource::ParseSelectHead() {
    for (;;) {
        if (AcceptWord("distinct")) {
            statement_.distinct = true;
        } else if (AcceptWord("all")) {
        } else if (cur_.IsWord("top")) {
            Advance();
            if (cur_.kind != TSqlTok::Number || cur_.value.type() != VarType::Integer ||
                cur_.value.RawInteger() < 0)
                return FailHere(sqlmsg::TopNeedsInteger);
            statement_.topCount = cur_.value.RawInteger();
            statement_.topSeen = true;
            Advance();
        } else {
            return true;
        }
    }
}

// items -> item {"," item}
bool TASQLSource::ParseItems() {
    for (;;) {
        if (cur_.Is(",") || IsStatementEnd(cur_) || IsClauseWord(cur_))
            return FailHere(sqlmsg::MissingItem);
        if (!ParseItem()) return false;
        if (!AcceptOp(",")) return true;
    }
}

// item -> "*" | name "." "*" | expr [["as"] output-name]
bool TASQLSource::ParseItem() {
    TParsedSelectItem item;
    item.textPos = cur_.pos;
    if (cur_.Is("*")) {
        item.starKind = skStar;
        item.text = "*";
        Advance();
    } else if ((cur_.kind == TSqlTok::Name || cur_.kind == TSqlTok::QuotedName ||
                cur_.kind == TSqlTok::String) &&
               Peek(1).Is(".") && Peek(2).Is("*") && Peek(1).pos == cur_.End() &&
               Peek(2).pos == Peek(1).End()) {
        item.starKind = skTableStar;
        const int start = cur_.pos;
        Advance();
        Advance();
        item.text =
            source_.substr(static_cast<size_t>(start - 1), static_cast<size_t>(cur_.End() - start));
        Advance();
    } else {
        item.expr = ParseExpr();
        if (!item.expr) return false;
        item.text = statement_.TextOf(*item.expr);
        if (AcceptWord("as")) {
            if (cur_.kind != TSqlTok::Name && cur_.kind != TSqlTok::QuotedName &&
                cur_.kind != TSqlTok::String)
                return FailHere(Msg(sqlmsg::NameExpected));
            item.outputName = cur_.text;
            Advance();
        } else if (cur_.kind == TSqlTok::QuotedName ||
                   (cur_.kind == TSqlTok::Name && !IsOneOf(cur_, kNotAlias))) {
            item.outputName = cur_.text;
            Advance();
        }
    }
    if (!cur_.Is(",") && !IsStatementEnd(cur_) && !IsClauseWord(cur_)) {
        if (cur_.kind == TSqlTok::Bad) return FailToken();
        if (cur_.Is("!")) return FailHere(sqlmsg::UnknownRelation);
        return FailToken();
    }
    statement_.items.push_back(std::move(item));
    return true;
}

// from -> "from" table {"," table}
bool TASQLSource::ParseFrom() {
    statement_.hasFrom = true;
    Advance();
    for (;;) {
        if (IsStatementEnd(cur_) || IsClauseWord(cur_) || cur_.Is(","))
            return FailHere(Msg(sqlmsg::TableExpected));
        if (static_cast<int>(statement_.from.size()) >= kMaxFromTables)
            return FailHere(FormatMsg(std::string(sqlmsg::TooManyTables), kMaxFromTables));
        if (!ParseTable()) return false;
        if (!AcceptOp(",")) break;
    }
    if (cur_.kind == TSqlTok::Bad) return FailToken();
    if (!IsStatementEnd(cur_) && !IsClauseWord(cur_)) return FailToken();
    return true;
}

// table -> ('quoted text' | "quoted text" | word | "(" ... ")") [["as"] alias]
bool TASQLSource::ParseTable() {
    TParsedTable table;
    const int start = cur_.pos;
    table.textPos = start;
    if (cur_.Is("(")) {
        // A sub-query: refused, quoting it as written.
        int depth = 0;
        do {
            if (cur_.Is("(")) ++depth;
            if (cur_.Is(")")) --depth;
            if (cur_.kind == TSqlTok::End) return Fail(sqlmsg::BracketsUnbalanced, start);
            if (cur_.kind == TSqlTok::Bad) return FailToken();
            Advance();
        } while (depth > 0);
        const std::string written =
            source_.substr(static_cast<size_t>(start - 1), static_cast<size_t>(lastEnd_ - start));
        return Fail(std::string(sqlmsg::SubQueryInFrom) + written, start);
    }
    std::string written;
    if (cur_.kind == TSqlTok::String || cur_.kind == TSqlTok::QuotedName) {
        const char quote = cur_.kind == TSqlTok::String ? '\'' : '"';
        written = source_.substr(static_cast<size_t>(start - 1), static_cast<size_t>(cur_.len));
        // The source strips one pair of enclosing quotes; a doubled quote
        // inside is one quote of the name.
        table.tableText = std::string(1, quote) + cur_.text + quote;
        Advance();
    } else if (cur_.kind == TSqlTok::Bad) {
        return FailToken();
    } else if (cur_.kind == TSqlTok::Param) {
        const int index = params_.IndexOfName(cur_.text);
        if (index < 0) return FailHere(std::string(sqlmsg::UnknownParameter) + cur_.text);
        return FailToken();
    } else {
        // An unquoted table name, read raw: "t", "FileSystem.t", "/tmp".
        ahead_.clear();
        written = lexer_->ReadTableWord(start);
        if (written.empty()) return FailToken();
        const size_t colon = written.find(':');
        if (colon != std::string::npos) {
            // A drive letter or a parameter: the colon starts a reference.
            std::string name = written.substr(colon + 1);
            return Fail(std::string(sqlmsg::UnknownParameter) + name,
                        start + static_cast<int>(colon));
        }
        cur_.pos = start;
        cur_.len = static_cast<int>(written.size());
        cur_.kind = TSqlTok::Name;
        Advance();
        table.tableText = written;
    }
    table.alias = written;
    if (AcceptWord("as")) {
        if (cur_.kind != TSqlTok::Name && cur_.kind != TSqlTok::QuotedName)
            return FailHere(Msg(sqlmsg::NameExpected));
        table.alias = cur_.text;
        Advance();
    } else if (cur_.kind == TSqlTok::QuotedName ||
               (cur_.kind == TSqlTok::Name && !IsOneOf(cur_, kNotAlias))) {
        table.alias = cur_.text;
        Advance();
    } else if (cur_.kind == TSqlTok::Param) {
        return FailHere(std::string(sqlmsg::UnknownParameter) + cur_.text);
    }
    table.itemText =
        source_.substr(static_cast<size_t>(start - 1), static_cast<size_t>(lastEnd_ - start));
    statement_.from.push_back(std::move(table));
    return true;
}

// where -> "where" expr
bool TASQLSource::ParseWhere() {
    Advance();
    if (IsStatementEnd(cur_) || IsClauseWord(cur_)) return FailHere(sqlmsg::WhereIncomplete);
    statement_.where = ParseExpr();
    if (!statement_.where) return false;
    if (cur_.kind == TSqlTok::Bad) return FailToken();
    if (!IsStatementEnd(cur_) && !IsClauseWord(cur_)) {
        if (cur_.Is("!")) return FailHere(sqlmsg::UnknownRelation);
        if (cur_.Is(")")) return FailHere(sqlmsg::BracketsUnbalanced);
        return FailHere(sqlmsg::WhereTrailing);
    }
    return true;
}

// group -> "group" "by" expr {"," expr}
bool TASQLSource::ParseGroupBy() {
    Advance();
    if (!AcceptWord("by"))
        return FailHere(FormatMsg(std::string(Msg(sqlmsg::TokenExpected)), "by"));
    for (;;) {
        if (cur_.Is(",") || IsStatementEnd(cur_) || IsClauseWord(cur_))
            return FailHere(sqlmsg::MissingGroupItem);
        TSqlExprPtr e = ParseExpr();
        if (!e) return false;
        statement_.groupBy.push_back(std::move(e));
        if (!AcceptOp(",")) break;
    }
    if (cur_.kind == TSqlTok::Bad) return FailToken();
    if (!IsStatementEnd(cur_) && !IsClauseWord(cur_)) return FailToken();
    return true;
}

// having -> "having" expr
bool TASQLSource::ParseHaving() {
    Advance();
    if (IsStatementEnd(cur_) || IsClauseWord(cur_)) return FailHere(sqlmsg::HavingIncomplete);
    statement_.having = ParseExpr();
    if (!statement_.having) return false;
    if (cur_.kind == TSqlTok::Bad) return FailToken();
    if (!IsStatementEnd(cur_) && !IsClauseWord(cur_)) return FailHere(sqlmsg::HavingTrailing);
    return true;
}

// orders -> "order" "by" order {"," order}
// order  -> expr [direction-word]
bool TASQLSource::ParseOrderBy() {
    Advance();
    if (!AcceptWord("by"))
        return FailHere(FormatMsg(std::string(Msg(sqlmsg::TokenExpected)), "by"));
    for (;;) {
        if (cur_.Is(",") || IsStatementEnd(cur_) || IsClauseWord(cur_))
            return FailHere(Msg(sqlmsg::ExpressionExpected));
        TParsedOrderItem item;
        item.textPos = cur_.pos;
        item.expr = ParseExpr();
        if (!item.expr) return false;
        item.text = statement_.TextOf(*item.expr);
        // A direction word: "asc", or "desc" and the longer prefixes of
        // "descending"; any other lone word sorts ascending, as order
        // items always have.
        if (cur_.kind == TSqlTok::Name && !IsClauseWord(cur_)) {
            item.descending = IsDescendingWord(cur_);
            Advance();
        }
        statement_.orderBy.push_back(std::move(item));
        if (!AcceptOp(",")) break;
    }
    if (cur_.kind == TSqlTok::Bad) return FailToken();
    if (!IsStatementEnd(cur_) && !IsClauseWord(cur_)) return FailToken();
    return true;
}

bool TASQLSource::ReadCount(int64_t& out, std::string_view message) {
    if (cur_.kind != TSqlTok::Number || cur_.value.type() != VarType::Integer ||
        cur_.value.RawInteger() < 0)
        return FailHere(message);
    out = cur_.value.RawInteger();
    Advance();
    return true;
}

// limit -> "limit" count ["offset" count] | "limit" count "," count
//        | ["offset" count ["row" | "rows"]]
//          ["fetch" ("first" | "next") [count] ("row" | "rows") "only"]
bool TASQLSource::ParseLimit() {
    if (statement_.topSeen) return FailHere(sqlmsg::TopWithLimit);
    if (AcceptWord("limit")) {
        int64_t first = 0;
        if (!ReadCount(first, sqlmsg::LimitNeedsInteger)) return false;
        if (AcceptOp(",")) {
            int64_t count = 0;
            if (!ReadCount(count, sqlmsg::LimitNeedsInteger)) return false;
            statement_.offset = first;
            statement_.limit = count;
        } else {
            statement_.limit = first;
            if (AcceptWord("offset") && !ReadCount(statement_.offset, sqlmsg::OffsetNeedsInteger))
                return false;
        }
    } else {
        if (AcceptWord("offset")) {
            if (!ReadCount(statement_.offset, sqlmsg::OffsetNeedsInteger)) return false;
            if (!AcceptWord("rows")) AcceptWord("row");
        }
        if (AcceptWord("fetch")) {
            if (!AcceptWord("first") && !AcceptWord("next"))
                return FailHere(Msg(sqlmsg::FetchSyntax));
            int64_t count = 1;
            if (cur_.kind == TSqlTok::Number && !ReadCount(count, sqlmsg::LimitNeedsInteger))
                return false;
            if (!AcceptWord("rows") && !AcceptWord("row"))
                return FailHere(Msg(sqlmsg::FetchSyntax));
            if (!AcceptWord("only")) return FailHere(Msg(sqlmsg::FetchSyntax));
            statement_.limit = count;
        }
    }
    if (cur_.kind == TSqlTok::Bad) return FailToken();
    if (!IsStatementEnd(cur_)) return FailHere(sqlmsg::LimitNotLast);
    return true;
}

// ---- Expressions --------------------------------------------------------------

TSqlExprPtr TASQLSource::Node(TExprKind kind, int32_t op, int pos, std::vector<TSqlExprPtr> args) {
    auto n = std::make_unique<TSqlExpr>();
    n->kind = kind;
    n->op = op;
    n->pos = pos;
    n->end = lastEnd_;
    int height = 0;
    for (const TSqlExprPtr& a : args)
        height = std::max(height, a->height);
    n->height = height + 1;
    n->args = std::move(args);
    if (n->height > kMaxExprHeight) {
        Fail(FormatMsg(std::string(Msg(sqlmsg::TooDeep)), kMaxExprHeight), pos);
        return nullptr;
    }
    return n;
}

TSqlExprPtr TASQLSource::Binary(TExprKind kind, int32_t op, TSqlExprPtr a, TSqlExprPtr b) {
    const int pos = a->pos;
    std::vector<TSqlExprPtr> args;
    args.push_back(std::move(a));
    args.push_back(std::move(b));
    return Node(kind, op, pos, std::move(args));
}

// expr -> or
TSqlExprPtr TASQLSource::ParseExpr() {
    DepthGuard guard(*this);
    if (!guard.Ok()) return nullptr;
    return ParseOr();
}

// or -> xor {"or" xor}
TSqlExprPtr TASQLSource::ParseOr() {
    TSqlExprPtr first = ParseXor();
    if (!first || !cur_.IsWord("or")) return first;
    const int pos = first->pos;
    std::vector<TSqlExprPtr> args;
    args.push_back(std::move(first));
    while (AcceptWord("or")) {
        TSqlExprPtr next = ParseXor();
        if (!next) return nullptr;
        args.push_back(std::move(next));
    }
    return Node(TExprKind::Or, soOr, pos, std::move(args));
}

// xor -> and {"xor" and}
TSqlExprPtr TASQLSource::ParseXor() {
    TSqlExprPtr left = ParseAnd();
    while (left && AcceptWord("xor")) {
        TSqlExprPtr right = ParseAnd();
        if (!right) return nullptr;
        left = Binary(TExprKind::Binary, soXor, std::move(left), std::move(right));
    }
    return left;
}

// and -> not {"and" not}
TSqlExprPtr TASQLSource::ParseAnd() {
    TSqlExprPtr first = ParseNot();
    if (!first || !cur_.IsWord("and")) return first;
    const int pos = first->pos;
    std::vector<TSqlExprPtr> args;
    args.push_back(std::move(first));
    while (AcceptWord("and")) {
        TSqlExprPtr next = ParseNot();
        if (!next) return nullptr;
        args.push_back(std::move(next));
    }
    return Node(TExprKind::And, soAnd, pos, std::move(args));
}

// not -> "not" not | predicate
TSqlExprPtr TASQLSource::ParseNot() {
    if (!cur_.IsWord("not")) return ParsePredicate();
    const int pos = cur_.pos;
    Advance();
    DepthGuard guard(*this);
    if (!guard.Ok()) return nullptr;
    if (IsStatementEnd(cur_) || IsClauseWord(cur_)) {
        FailHere(Msg(sqlmsg::ExpressionExpected));
        return nullptr;
    }
    TSqlExprPtr operand = ParseNot();
    if (!operand) return nullptr;
    std::vector<TSqlExprPtr> args;
    args.push_back(std::move(operand));
    return Node(TExprKind::Unary, soNot, pos, std::move(args));
}

bool TASQLSource::RefuseGluedOperator(const TSqlToken& op) {
    const TSqlToken& next = Peek(1);
    if (next.kind != TSqlTok::Op || next.pos != op.End()) return false;
    static constexpr std::string_view kRelational = "<>=!";
    if (next.text.size() != 1 && next.text != "<>" && next.text != "<=" && next.text != ">=" &&
        next.text != "==" && next.text != "!=")
        return false;
    if (kRelational.find(next.text[0]) == std::string_view::npos) return false;
    Fail(std::string(sqlmsg::UnknownRelation) + ":" + op.text + next.text, op.pos);
    return true;
}

// predicate -> relational { ("=" | "==" | "!=" | "<>") relational
//              | "is" ["not"] ("null" | "true" | "false" | "unknown"
//                              | "distinct" "from" relational)
//              | ["not"] "in" list
//              | ["not"] ("like" | "ilike" | "regexp") relational
//              | ["not"] "between" relational "and" relational }
TSqlExprPtr TASQLSource::ParsePredicate() {
    TSqlExprPtr left = ParseRelational();
    while (left) {
        if (cur_.Is("=") || cur_.Is("==") || cur_.Is("!=") || cur_.Is("<>")) {
            const TSqlToken op = cur_;
            if (RefuseGluedOperator(op)) return nullptr;
            Advance();
            TSqlExprPtr right = ParseRelational();
            if (!right) return nullptr;
            const int32_t code = op.text == "=" || op.text == "==" ? soEq : soNe;
            left = Binary(TExprKind::Binary, code, std::move(left), std::move(right));
            continue;
        }
        if (cur_.Is("!")) {
            FailHere(sqlmsg::UnknownRelation);
            return nullptr;
        }
        if (cur_.IsWord("is")) {
            const int isPos = cur_.pos;
            Advance();
            const bool no = AcceptWord("not");
            int32_t op = soNone;
            if (AcceptWord("null"))
                op = no ? soIsNotNull : soIsNull;
            else if (AcceptWord("true"))
                op = no ? soIsNotTrue : soIsTrue;
            else if (AcceptWord("false"))
                op = no ? soIsNotFalse : soIsFalse;
            else if (AcceptWord("unknown"))
                op = no ? soIsNotNull : soIsNull;
            if (op != soNone) {
                const int pos = left->pos;
                std::vector<TSqlExprPtr> args;
                args.push_back(std::move(left));
                left = Node(TExprKind::IsTest, op, pos, std::move(args));
                continue;
            }
            if (AcceptWord("distinct")) {
                if (!AcceptWord("from")) {
                    FailHere(FormatMsg(std::string(Msg(sqlmsg::TokenExpected)), "from"));
                    return nullptr;
                }
                TSqlExprPtr right = ParseRelational();
                if (!right) return nullptr;
                left = Binary(TExprKind::Binary, no ? soIs : soIsNot, std::move(left),
                              std::move(right));
                continue;
            }
            Fail(std::string(sqlmsg::UnknownRelation) + "is", isPos);
            return nullptr;
        }
        bool negated = false;
        if (cur_.IsWord("not")) {
            const TSqlToken& next = Peek(1);
            if (!next.IsWord("in") && !next.IsWord("like") && !next.IsWord("ilike") &&
                !next.IsWord("regexp") && !next.IsWord("between"))
                break;
            negated = true;
            Advance();
        }
        if (AcceptWord("in")) {
            left = ParseInList(std::move(left), negated);
            continue;
        }
        int32_t matchOp = soNone;
        if (cur_.IsWord("like"))
            matchOp = soLike;
        else if (cur_.IsWord("ilike"))
            matchOp = soILike;
        else if (cur_.IsWord("regexp"))
            matchOp = soRegexp;
        if (matchOp != soNone) {
            Advance();
            TSqlExprPtr right = ParseRelational();
            if (!right) return nullptr;
            left = Binary(TExprKind::Binary, matchOp, std::move(left), std::move(right));
            if (left) left->negated = negated;
            continue;
        }
        if (AcceptWord("between")) {
            TSqlExprPtr low = ParseRelational();
            if (!low) return nullptr;
            if (!AcceptWord("and")) {
                FailHere(sqlmsg::BetweenNeedsAnd);
                return nullptr;
            }
            TSqlExprPtr high = ParseRelational();
            if (!high) return nullptr;
            const int pos = left->pos;
            std::vector<TSqlExprPtr> args;
            args.push_back(std::move(left));
            args.push_back(std::move(low));
            args.push_back(std::move(high));
            left = Node(TExprKind::Between, soNone, pos, std::move(args));
            if (left) left->negated = negated;
            continue;
        }
        break;
    }
    return left;
}

// list -> ("(" | "[") expr {"," expr} (")" | "]")
TSqlExprPtr TASQLSource::ParseInList(TSqlExprPtr left, bool negated) {
    const bool square = cur_.Is("[");
    if (!square && !cur_.Is("(")) {
        if (cur_.kind == TSqlTok::Bad) {
            FailToken();
            return nullptr;
        }
        Fail(std::string(sqlmsg::InListExpected) + Shown(cur_, source_), cur_.pos);
        return nullptr;
    }
    const int open = cur_.pos;
    Advance();
    if (cur_.IsWord("select")) {
        FailHere(Msg(sqlmsg::SubQueryUnsupported));
        return nullptr;
    }
    DepthGuard guard(*this);
    if (!guard.Ok()) return nullptr;
    const int pos = left->pos;
    std::vector<TSqlExprPtr> args;
    args.push_back(std::move(left));
    for (;;) {
        if (cur_.kind == TSqlTok::End) {
            Fail(square ? std::string(sqlmsg::SquareBracketExpected)
                        : std::string(sqlmsg::BracketsUnbalanced),
                 square ? cur_.pos : open);
            return nullptr;
        }
        TSqlExprPtr item = ParseExpr();
        if (!item) return nullptr;
        args.push_back(std::move(item));
        if (AcceptOp(",")) continue;
        if (square && !cur_.Is("]") && cur_.kind != TSqlTok::Bad &&
            (IsStatementEnd(cur_) || IsClauseWord(cur_))) {
            FailHere(sqlmsg::SquareBracketExpected);
            return nullptr;
        }
        if (!CloseBracket(open, square ? "]" : ")")) return nullptr;
        break;
    }
    TSqlExprPtr n = Node(TExprKind::In, soNone, pos, std::move(args));
    if (n) n->negated = negated;
    return n;
}

// relational -> additive {("<" | "<=" | ">" | ">=") additive}
TSqlExprPtr TASQLSource::ParseRelational() {
    TSqlExprPtr left = ParseAdditive();
    while (left && (cur_.Is("<") || cur_.Is("<=") || cur_.Is(">") || cur_.Is(">="))) {
        const TSqlToken op = cur_;
        if (RefuseGluedOperator(op)) return nullptr;
        Advance();
        TSqlExprPtr right = ParseAdditive();
        if (!right) return nullptr;
        const int32_t code = op.text == "<"    ? soLt
                             : op.text == "<=" ? soLe
                             : op.text == ">"  ? soGt
                                               : soGe;
        left = Binary(TExprKind::Binary, code, std::move(left), std::move(right));
    }
    return left;
}

// additive -> multiplicative {("+" | "-") multiplicative}
TSqlExprPtr TASQLSource::ParseAdditive() {
    TSqlExprPtr left = ParseMultiplicative();
    while (left && (cur_.Is("+") || cur_.Is("-"))) {
        const int32_t code = cur_.Is("+") ? soAdd : soSub;
        Advance();
        TSqlExprPtr right = ParseMultiplicative();
        if (!right) return nullptr;
        left = Binary(TExprKind::Binary, code, std::move(left), std::move(right));
    }
    return left;
}

// multiplicative -> concat {("*" | "/" | "%" | "div" | "mod") concat}
TSqlExprPtr TASQLSource::ParseMultiplicative() {
    TSqlExprPtr left = ParseConcat();
    while (left) {
        int32_t code = soNone;
        if (cur_.Is("*"))
            code = soMul;
        else if (cur_.Is("/") || cur_.IsWord("div"))
            code = soDiv;
        else if (cur_.Is("%") || cur_.IsWord("mod"))
            code = soMod;
        if (code == soNone) break;
        Advance();
        TSqlExprPtr right = ParseConcat();
        if (!right) return nullptr;
        left = Binary(TExprKind::Binary, code, std::move(left), std::move(right));
    }
    return left;
}

// concat -> unary {"||" unary}
TSqlExprPtr TASQLSource::ParseConcat() {
    TSqlExprPtr left = ParseUnary();
    while (left && cur_.Is("||")) {
        Advance();
        TSqlExprPtr right = ParseUnary();
        if (!right) return nullptr;
        left = Binary(TExprKind::Binary, soConcat, std::move(left), std::move(right));
    }
    return left;
}

// unary -> ("-" | "+") unary | primary
TSqlExprPtr TASQLSource::ParseUnary() {
    if (!cur_.Is("-") && !cur_.Is("+")) return ParsePrimary();
    const int pos = cur_.pos;
    const int32_t code = cur_.Is("-") ? soNeg : soPlus;
    Advance();
    DepthGuard guard(*this);
    if (!guard.Ok()) return nullptr;
    TSqlExprPtr operand = ParseUnary();
    if (!operand) return nullptr;
    // A sign before a number literal is part of it: -5 is a constant.
    if (operand->kind == TExprKind::Literal && operand->value.IsNumeric() && operand->pos > 0 &&
        operand->args.empty()) {
        if (code == soNeg) {
            if (operand->value.type() == VarType::Integer &&
                operand->value.RawInteger() != INT64_MIN) {
                operand->value.SetInteger(-operand->value.RawInteger());
                operand->pos = pos;
                return operand;
            }
            if (operand->value.type() == VarType::Double) {
                operand->value.SetDouble(-operand->value.RawDouble());
                operand->pos = pos;
                return operand;
            }
        } else {
            operand->pos = pos;
            return operand;
        }
    }
    std::vector<TSqlExprPtr> args;
    args.push_back(std::move(operand));
    return Node(TExprKind::Unary, code, pos, std::move(args));
}

// primary -> number | 'text' | date | "true" | "false" | "null" | ":"name
//          | column | call | case | cast | "interval" 'text'
//          | "current_date" | "current_timestamp" | "current_time"
//          | "(" expr ")"
TSqlExprPtr TASQLSource::ParsePrimary() {
    const int pos = cur_.pos;
    auto literal = [&](Variant v) {
        Advance();
        TSqlExprPtr n = Node(TExprKind::Literal, soNone, pos, {});
        if (n) n->value = std::move(v);
        return n;
    };
    switch (cur_.kind) {
        case TSqlTok::Number:
        case TSqlTok::Date:
            return literal(cur_.value);
        case TSqlTok::String:
            return literal(Variant(cur_.text));
        case TSqlTok::Param: {
            const int index = params_.IndexOfName(cur_.text);
            if (index < 0) {
                FailHere(std::string(sqlmsg::UnknownParameter) + cur_.text);
                return nullptr;
            }
            TSqlExprPtr n = std::make_unique<TSqlExpr>();
            n->kind = TExprKind::Param;
            n->name = cur_.text;
            n->pos = pos;
            Advance();
            n->end = lastEnd_;
            return n;
        }
        case TSqlTok::QuotedName:
            return ParseColumn();
        case TSqlTok::Op:
            if (cur_.Is("(")) {
                Advance();
                if (cur_.IsWord("select")) {
                    FailHere(Msg(sqlmsg::SubQueryUnsupported));
                    return nullptr;
                }
                TSqlExprPtr inner = ParseExpr();
                if (!inner || !CloseBracket(pos, ")")) return nullptr;
                // The brackets belong to the node's text.
                inner->pos = pos;
                inner->end = lastEnd_;
                return inner;
            }
            if (cur_.Is("*")) {
                FailHere(Msg(sqlmsg::StarMisplaced));
                return nullptr;
            }
            if (cur_.Is(")") || cur_.Is(",")) {
                FailHere(Msg(sqlmsg::ExpressionExpected));
                return nullptr;
            }
            FailToken();
            return nullptr;
        case TSqlTok::Name:
            break;
        default:
            FailToken();
            return nullptr;
    }
    if (cur_.IsWord("null")) return literal(Variant::Null());
    if (cur_.IsWord("true")) return literal(Variant(true));
    if (cur_.IsWord("false")) return literal(Variant(false));
    if (cur_.IsWord("case")) return ParseCase();
    if (cur_.IsWord("cast") && Peek(1).Is("(")) return ParseCast();
    if (cur_.IsWord("exists") && Peek(1).Is("(")) {
        FailHere(Msg(sqlmsg::SubQueryUnsupported));
        return nullptr;
    }
    if (cur_.IsWord("interval") && Peek(1).kind == TSqlTok::String) {
        Advance();
        const std::string text = cur_.text;
        Advance();
        TSqlExprPtr n = Node(TExprKind::Interval, soNone, pos, {});
        if (n) n->value = Variant(text);
        return n;
    }
    if (cur_.IsWord("not")) return ParseNot();
    if (IsOneOf(cur_, kNotOperand) || cur_.IsWord("select")) {
        FailHere(Msg(sqlmsg::ExpressionExpected));
        return nullptr;
    }
    return ParseColumn();
}

// column -> name ["." name] | name "(" args ")"
TSqlExprPtr TASQLSource::ParseColumn() {
    const int pos = cur_.pos;
    const bool quoted = cur_.kind == TSqlTok::QuotedName;
    std::string first = cur_.text;
    Advance();
    if (!quoted && cur_.Is("(")) {
        TSqlExprPtr call = std::make_unique<TSqlExpr>();
        call->kind = TExprKind::Call;
        call->name = std::move(first);
        call->pos = pos;
        return ParseCall(std::move(call));
    }
    TSqlExprPtr n = std::make_unique<TSqlExpr>();
    n->kind = TExprKind::Column;
    n->pos = pos;
    n->quoted = quoted;
    if (cur_.Is(".") && cur_.pos == lastEnd_ &&
        (Peek(1).kind == TSqlTok::Name || Peek(1).kind == TSqlTok::QuotedName) &&
        Peek(1).pos == cur_.End()) {
        Advance();
        n->qualifier = std::move(first);
        n->quoted = cur_.kind == TSqlTok::QuotedName;
        n->name = cur_.text;
        Advance();
    } else {
        n->name = std::move(first);
    }
    n->end = lastEnd_;
    return n;
}

// call -> name "(" ["*" | ["distinct"] expr {"," expr}] ")"
TSqlExprPtr TASQLSource::ParseCall(TSqlExprPtr call) {
    const int open = cur_.pos;
    Advance();  // "("
    DepthGuard guard(*this);
    if (!guard.Ok()) return nullptr;
    if (cur_.Is("*") && Peek(1).Is(")")) {
        call->star = true;
        Advance();
        Advance();
    } else if (!AcceptOp(")")) {
        if (AcceptWord("distinct")) {
            call->distinct = true;
            // count(distinct *): the binder says which aggregates take "*".
            if (cur_.Is("*") && Peek(1).Is(")")) {
                call->star = true;
                Advance();
                Advance();
                goto made;
            }
        }
        for (;;) {
            if (cur_.kind == TSqlTok::End) {
                Fail(sqlmsg::BracketsUnbalanced, open);
                return nullptr;
            }
            TSqlExprPtr arg = ParseExpr();
            if (!arg) return nullptr;
            call->args.push_back(std::move(arg));
            if (AcceptOp(",")) continue;
            if (!CloseBracket(open, ")")) return nullptr;
            break;
        }
    }
made:
    std::vector<TSqlExprPtr> args = std::move(call->args);
    TSqlExprPtr n = Node(TExprKind::Call, soNone, call->pos, std::move(args));
    if (!n) return nullptr;
    n->name = std::move(call->name);
    n->star = call->star;
    n->distinct = call->distinct;
    return n;
}

// case -> "case" [expr] "when" expr "then" expr {"when" expr "then" expr}
//         ["else" expr] "end"
TSqlExprPtr TASQLSource::ParseCase() {
    const int pos = cur_.pos;
    Advance();
    DepthGuard guard(*this);
    if (!guard.Ok()) return nullptr;
    std::vector<TSqlExprPtr> args;
    bool hasOperand = false, hasElse = false;
    if (!cur_.IsWord("when")) {
        TSqlExprPtr operand = ParseExpr();
        if (!operand) return nullptr;
        args.push_back(std::move(operand));
        hasOperand = true;
    }
    if (!cur_.IsWord("when")) {
        FailHere(Msg(sqlmsg::CaseNeedsWhen));
        return nullptr;
    }
    while (AcceptWord("when")) {
        TSqlExprPtr when = ParseExpr();
        if (!when) return nullptr;
        if (!AcceptWord("then")) {
            FailHere(FormatMsg(std::string(Msg(sqlmsg::TokenExpected)), "then"));
            return nullptr;
        }
        TSqlExprPtr then = ParseExpr();
        if (!then) return nullptr;
        args.push_back(std::move(when));
        args.push_back(std::move(then));
    }
    if (AcceptWord("else")) {
        TSqlExprPtr otherwise = ParseExpr();
        if (!otherwise) return nullptr;
        args.push_back(std::move(otherwise));
        hasElse = true;
    }
    if (!AcceptWord("end")) {
        FailHere(FormatMsg(std::string(Msg(sqlmsg::TokenExpected)), "end"));
        return nullptr;
    }
    TSqlExprPtr n = Node(TExprKind::Case, soNone, pos, std::move(args));
    if (n) {
        n->hasOperand = hasOperand;
        n->hasElse = hasElse;
    }
    return n;
}

// cast -> "cast" "(" expr "as" type-name ["(" number {"," number} ")"] ")"
TSqlExprPtr TASQLSource::ParseCast() {
    const int pos = cur_.pos;
    Advance();
    const int open = cur_.pos;
    Advance();  // "("
    DepthGuard guard(*this);
    if (!guard.Ok()) return nullptr;
    TSqlExprPtr operand = ParseExpr();
    if (!operand) return nullptr;
    if (!AcceptWord("as")) {
        FailHere(FormatMsg(std::string(Msg(sqlmsg::TokenExpected)), "as"));
        return nullptr;
    }
    if (cur_.kind != TSqlTok::Name) {
        FailHere(Msg(sqlmsg::NameExpected));
        return nullptr;
    }
    TSqlType type;
    if (!CastTypeOf(Lower(cur_.text), type)) {
        FailHere(FormatMsg(std::string(Msg(sqlmsg::UnknownType)), cur_.text));
        return nullptr;
    }
    Advance();
    // A length or precision ("varchar(20)", "decimal(10, 2)") means nothing here.
    if (AcceptOp("(")) {
        while (cur_.kind == TSqlTok::Number || cur_.Is(","))
            Advance();
        if (!AcceptOp(")")) {
            FailToken();
            return nullptr;
        }
    }
    if (!CloseBracket(open, ")")) return nullptr;
    std::vector<TSqlExprPtr> args;
    args.push_back(std::move(operand));
    TSqlExprPtr n = Node(TExprKind::Cast, soNone, pos, std::move(args));
    if (n) n->castType = type;
    return n;
}

}  // namespace corvane

#include "sql/sqlScan_Base.h"

#include <algorithm>
#include <charconv>
#include <vector>

#include "platform/Text.h"
#include "script/common/U_err.h"
#include "script/common/u_functions_consts.h"
#include "sql/QuoteScanner.h"
#include "sql/SqlMessages.h"
#include "sql/UveskBase.h"

namespace corvane {

namespace {

bool IsQuote(char c) {
    return c == '\'' || c == '"';
}

// Position (1-based) of the first blank at bracket depth 0 outside quotes;
// 0 when none.
int FirstBlankOutside(std::string_view s) {
    const size_t blank = FindBlankOutside(s);
    return blank == std::string_view::npos ? 0 : static_cast<int>(blank) + 1;
}

// How many bytes Trim removes from the front of s.
int LeadingTrimmed(std::string_view s) {
    const std::string_view t = TrimView(s);
    return t.empty() ? static_cast<int>(s.size()) : static_cast<int>(t.data() - s.data());
}

// Splits at commas at bracket depth 0 outside quotes. With skipNext the
// character right after a comma is never a separator (the FROM list rule).
// starts, when given, receives the 1-based position of every piece in s.
std::vector<std::string> SplitAtCommas(std::string_view s, bool skipNext,
                                       std::vector<int>* starts = nullptr) {
    std::vector<std::string> pieces;
    int start = 1;
    int comma = FindNameOutside(",", s, 1);
    while (comma > 0) {
        pieces.emplace_back(
            s.substr(static_cast<size_t>(start - 1), static_cast<size_t>(comma - start)));
        if (starts) starts->push_back(start);
        start = comma + 1;
        comma = FindNameOutside(",", s, comma + (skipNext ? 2 : 1));
    }
    pieces.emplace_back(
        s.substr(static_cast<size_t>(std::min<int>(start - 1, static_cast<int>(s.size())))));
    if (starts) starts->push_back(start);
    return pieces;
}

// The last position of the raw token ReadToken read at tokenPos.
int RawTokenEnd(std::string_view text, int tokenPos) {
    const int n = static_cast<int>(text.size());
    if (tokenPos < 1 || tokenPos > n) return tokenPos - 1;
    const char c = text[static_cast<size_t>(tokenPos - 1)];
    if (IsQuote(c)) {
        size_t close = text.find(c, static_cast<size_t>(tokenPos));
        return close == std::string_view::npos ? n : static_cast<int>(close) + 1;
    }
    int end = tokenPos;
    while (end <= n && !IsSeparator(text[static_cast<size_t>(end - 1)]) &&
           !(text[static_cast<size_t>(end - 1)] == '.' && end < n &&
             text[static_cast<size_t>(end)] == '.'))
        ++end;
    return end - 1;
}

bool ParseTopCount(std::string_view word, int64_t& out) {
    if (word.empty()) return false;
    for (char c : word)
        if (c < '0' || c > '9') return false;
    auto [ptr, ec] = std::from_chars(word.data(), word.data() + word.size(), out);
    return ec == std::errc() && ptr == word.data() + word.size();
}

}  // namespace

// ===========================================================================
// WHERE parser

char TWhereParser::At(int pos) const {
    return pos >= 1 && pos <= length_ ? text_[static_cast<size_t>(pos - 1)] : '\0';
}

void TWhereParser::SkipBlanksHere() {
    while (pos_ <= length_ && IsBlankChar(At(pos_)))
        ++pos_;
}

std::string TWhereParser::Where(std::string_view prefix) const {
    return std::string(prefix) + text_ + FormatMsg(sqlmsg::PlaceSuffix, pos_);
}

int TWhereParser::StatementPos(int pos) const {
    if (!origin_) return 0;
    return origin_(partOffset_ + std::clamp(pos, 1, length_ + 1));
}

// A message of the parser stands where the parser stopped.
void TWhereParser::Report(std::string_view message) {
    if (!message.empty()) messages_.Add(std::string(message), StatementPos(pos_));
}

void TWhereParser::StoreOperand(TParsedOperand& op, std::string text, const std::vector<int>& map) {
    op.text = std::move(text);
    op.textPos = 0;
    op.textMap.clear();
    if (!origin_) return;
    op.textMap.reserve(map.size());
    for (int p : map)
        op.textMap.push_back(StatementPos(p));
    if (!op.textMap.empty()) op.textPos = op.textMap.front();
}

void TWhereParser::SetKeyword(std::string_view keyword) {
    keywordLength_ = static_cast<int>(keyword.size());
    const bool having = keyword == "having";
    incomplete_ = having ? sqlmsg::HavingIncomplete : sqlmsg::WhereIncomplete;
    trailing_ = having ? sqlmsg::HavingTrailing : sqlmsg::WhereTrailing;
    tooDeep_ = having ? sqlmsg::HavingTooDeep : sqlmsg::WhereTooDeep;
}

// where-part  -> "where" condition
// having-part -> "having" condition
void TWhereParser::ParseWhere(const std::string& wherePart, TParsedCondition& root) {
    const std::string w = Trim(wherePart);
    const size_t keyword = static_cast<size_t>(keywordLength_);
    partOffset_ = LeadingTrimmed(wherePart);
    length_ = 0;
    pos_ = 1;
    if (w.empty()) return;
    if (w.size() <= keyword) {
        Report(incomplete_);
        return;
    }
    partOffset_ += keywordLength_ + LeadingTrimmed(std::string_view(w).substr(keyword));
    text_ = Trim(std::string_view(w).substr(keyword));
    if (text_.empty()) {
        Report(incomplete_);
        return;
    }
    length_ = static_cast<int>(text_.size());
    pos_ = 1;
    depth_ = 0;
    if (ParseOrGroup(root) && pos_ < length_) Report(trailing_);
}

// condition   -> alternative { "or" alternative }
// alternative -> term { "and" term }
bool TWhereParser::ParseOrGroup(TParsedCondition& node) {
    if (pos_ > length_) return true;
    SkipBlanksHere();
    if (pos_ > length_) return true;
    if (!node.group) node.group = std::make_unique<TParsedOrGroup>();
    while (true) {
        auto head = std::make_unique<TParsedCondition>();
        if (!ParseTerm(1, *head)) {
            Report(Where(sqlmsg::ConditionFailed));
            return false;
        }
        TParsedCondition* tail = head->Last();
        node.group->push_back(std::move(head));
        int tokenPos = 0;
        std::string word = ReadToken(text_, pos_, tokenPos);
        while (word == "and") {
            tail->next = std::make_unique<TParsedCondition>();
            tail = tail->next.get();
            pos_ = tokenPos + 3;
            if (!ParseTerm(2, *tail)) {
                Report(Where(sqlmsg::ConditionAfterAndFailed));
                return false;
            }
            tail = tail->Last();
            word = ReadToken(text_, pos_, tokenPos);
        }
        if (word != "or") return true;
        pos_ = tokenPos + 2;
        if (pos_ > length_) return true;  // a trailing "or" is ignored
    }
}

// term -> "not" term | "(" condition ")" | "true" | "false" | relation
// level: 1 first term of an alternative, 2 after "and", 3 after "not".
bool TWhereParser::ParseTerm(int level, TParsedCondition& node) {
    struct DepthGuard {
        int& d;
        explicit DepthGuard(int& depth) : d(depth) { ++d; }
        ~DepthGuard() { --d; }
    } guard(depth_);
    if (depth_ > kMaxWhereDepth) {
        Report(tooDeep_);
        pos_ = length_ + 1;
        return false;
    }
    SkipBlanksHere();
    if (pos_ > length_) return false;
    if (At(pos_) == '(') {
        bool isOperand = false;
        std::string message;
        if (!IsBracketedOperand(pos_, isOperand, message)) {
            Report(message);
            return false;
        }
        if (isOperand) {
            if (!ParseRelation(node)) {
                Report(Where(sqlmsg::BracketedRelationFailed));
                return false;
            }
        } else {
            ++pos_;
            if (!ParseOrGroup(node)) {
                Report(Where(sqlmsg::SubTermFailed));
                return false;
            }
            // "(x)" holding one plain term folds into the node itself.
            if (!node.negated && node.group && node.group->size() == 1) {
                TParsedCondition* entry = node.group->front().get();
                if (!entry->next && !entry->group) {
                    node.relation = std::move(entry->relation);
                    node.negated = entry->negated;
                    node.literal = entry->literal;
                    node.isLiteral = entry->isLiteral;
                    node.group.reset();
                }
            }
            SkipBlanksHere();
            if (pos_ > length_ || At(pos_) != ')') {
                Report(sqlmsg::BracketsUnbalanced);
                pos_ = length_ + 1;
                return false;
            }
            ++pos_;
        }
    } else {
        int tokenPos = 0;
        const std::string word = ReadToken(text_, pos_, tokenPos);
        if (word == "not") {
            node.negated = true;
            pos_ = tokenPos + 3;
            // A NOT without a term after it is incomplete, not "not nothing".
            if (!ParseTerm(3, node)) return false;
        } else if (word == "true" || word == "false") {
            node.isLiteral = true;
            node.literal = word == "true";
            pos_ = tokenPos + static_cast<int>(word.size());
        } else if (!ParseRelation(node)) {
            Report(Where(sqlmsg::RelationFailed));
            return false;
        }
    }

    // After the term: an "and" at level 1 continues this node's chain; any
    // other word is left to the caller.
    int n = pos_;
    while (n <= length_ && IsBlankChar(At(n)))
        ++n;
    if (n > length_ || At(n) == ')') return true;
    int tokenPos = 0;
    const std::string word = ReadToken(text_, pos_, tokenPos);
    int precedence;
    if (word == "or")
        precedence = 1;
    else if (word == "and")
        precedence = 2;
    else
        return true;
    if (level >= precedence) return true;
    pos_ = tokenPos + static_cast<int>(word.size());
    TParsedCondition* tail = node.Last();
    tail->next = std::make_unique<TParsedCondition>();
    return ParseTerm(2, *tail->next);
}

// relation -> operand comparison operand
//           | operand "between" operand "and" operand
//           | operand "in" operand | operand "like" operand
//           | operand ["not"] "regexp" operand
// comparison -> "=" | "<>" | ">" | ">=" | "<" | "<="
bool TWhereParser::ParseRelation(TParsedCondition& node) {
    if (!node.relation) node.relation = std::make_unique<TParsedRelation>();
    TParsedRelation& rel = *node.relation;
    const int start = pos_;
    std::string operand, message;
    std::vector<int> map;
    int end = pos_ - 1;
    if (!ReadOperand(pos_, operand, map, end, message)) {
        Report(message);
        return false;
    }
    if (operand.empty()) return false;  // no operand where one must stand
    StoreOperand(rel.left, operand, map);
    pos_ = end + 1;

    SkipBlanksHere();
    if (pos_ > length_) {
        Report(sqlmsg::UnknownRelation);
        return false;
    }
    const char c = At(pos_);
    if (c == '<' || c == '=' || c == '>') {
        int runEnd = pos_;
        while (runEnd <= length_ && (At(runEnd) == '<' || At(runEnd) == '=' || At(runEnd) == '>'))
            ++runEnd;
        const std::string run =
            text_.substr(static_cast<size_t>(pos_ - 1), static_cast<size_t>(runEnd - pos_));
        rel.op = RelOpOfText(run);
        if (rel.op == roNone) {
            Report(std::string(sqlmsg::UnknownRelation) + ":" + run);
            return false;
        }
        pos_ = runEnd;
    } else if (const int regexpEnd = RegexpOperator(rel.op); regexpEnd > 0) {
        pos_ = regexpEnd;
    } else if (c == 'b' || c == 'B' || c == 'i' || c == 'I' || c == 'l' || c == 'L') {
        int tokenPos = 0;
        const std::string word = ReadToken(text_, pos_, tokenPos);
        if (word == "in")
            rel.op = roIn;
        else if (word == "like")
            rel.op = roLike;
        else if (word == "between")
            rel.op = roBetween;
        else {
            Report(std::string(sqlmsg::UnknownRelation) + word);
            return false;
        }
        pos_ = tokenPos + static_cast<int>(word.size());
    } else {
        Report(sqlmsg::UnknownRelation);
        return false;
    }

    end = pos_ - 1;
    if (!ReadOperand(pos_, operand, map, end, message)) {
        Report(message);
        return false;
    }
    if (operand.empty()) return false;
    StoreOperand(rel.right, operand, map);
    pos_ = end + 1;
    if (rel.op == roBetween) {
        int tokenPos = 0;
        const std::string word = ReadToken(text_, pos_, tokenPos);
        if (word != "and") {
            Report(sqlmsg::BetweenNeedsAnd);
            return false;
        }
        pos_ = tokenPos + 3;
        if (!rel.upper) rel.upper = std::make_unique<TParsedOperand>();
        end = pos_ - 1;
        if (!ReadOperand(pos_, operand, map, end, message)) {
            Report(message);
            return false;
        }
        if (operand.empty()) return false;
        StoreOperand(*rel.upper, operand, map);
        pos_ = end + 1;
    }
    rel.text = text_.substr(static_cast<size_t>(start - 1),
                            static_cast<size_t>(std::max(0, std::min(pos_, length_ + 1) - start)));
    return true;
}

// regexp-op -> ["not"] "regexp"
// At pos_: the position after the operator, with op set; 0 (op untouched)
// when no regexp operator stands there.
int TWhereParser::RegexpOperator(TRelOp& op) const {
    int tokenPos = 0;
    const std::string word = ReadToken(text_, pos_, tokenPos);
    if (tokenPos != pos_) return 0;
    const int wordEnd = tokenPos + static_cast<int>(word.size());
    if (word == "regexp") {
        op = roRegexp;
        return wordEnd;
    }
    if (word != "not") return 0;
    int nextPos = 0;
    const std::string next = ReadToken(text_, wordEnd, nextPos);
    if (next != "regexp") return 0;
    op = roNotRegexp;
    return nextPos + static_cast<int>(next.size());
}

int TWhereParser::MatchBracket(int pos) const {
    TQuoteScanner scan(/*squareBrackets=*/false, /*depth=*/1);
    for (int i = pos + 1; i <= length_; ++i)
        if (scan.Step(At(i)) == TQuoteScanner::TByte::Close && scan.Depth() == 0) return i;
    return 0;
}

bool TWhereParser::IsBracketedOperand(int pos, bool& isOperand, std::string& message) {
    const int close = MatchBracket(pos);
    if (close == 0) {
        message = sqlmsg::BracketsUnbalanced;
        return false;
    }
    const std::string b = LowerCaseAscii(std::string_view(text_).substr(
        static_cast<size_t>(pos - 1), static_cast<size_t>(close - pos + 1)));
    bool condition = PosOutsideQuotes(">", b, 1) > 0 || PosOutsideQuotes("<", b, 1) > 0 ||
                     PosOutsideQuotes("=", b, 1) > 0;
    static const char* const kWords[] = {"in", "like", "between", "and", "or", "not", "regexp"};
    for (const char* w : kWords) {
        if (condition) break;
        const std::string_view word(w);
        const int p = PosOutsideQuotes(word, b, 1);
        if (p <= 1) continue;
        const size_t after = static_cast<size_t>(p - 1) + word.size();
        const bool blankBefore = IsBlankChar(b[static_cast<size_t>(p - 2)]);
        const bool blankAfter = after < b.size() && (IsBlankChar(b[after]) || b[after] == '(');
        if (blankBefore && blankAfter) condition = true;
    }
    isOperand = !condition;
    return true;
}

// operand -> primary { ("*" | "+" | "-" | "/" | "div" | "mod") primary }
// primary -> ["+" | "-"] number | "(" ... ")" | "[" ... "]" | token ["(" ... ")"]
// Blanks inside an operand are dropped; the last character of the text is
// never read as a continuation. A word directly followed by a bracket is a
// function call (yearof(lastwritetime) = 2024): the bracket belongs to the
// operand, which then binds as an expression.
bool TWhereParser::ReadOperand(int start, std::string& text, std::vector<int>& map, int& end,
                               std::string& message) {
    text.clear();
    map.clear();
    message.clear();
    // Appends bytes of the condition text from position from on, or other
    // bytes that stand for the place at.
    auto take = [&](int from, int count) {
        text.append(text_, static_cast<size_t>(from - 1), static_cast<size_t>(count));
        for (int i = 0; i < count; ++i)
            map.push_back(from + i);
    };
    auto put = [&](std::string_view bytes, int at) {
        text += bytes;
        for (size_t i = 0; i < bytes.size(); ++i)
            map.push_back(std::min(at + static_cast<int>(i), length_));
    };
    int p = start;
    while (true) {
        while (p <= length_ && IsBlankChar(At(p)))
            ++p;
        if (p > length_) {
            end = length_;
            return true;
        }
        char c = At(p);
        if (c == '+' || c == '-') {
            int tokenPos = 0;
            const std::string word = ReadToken(text_, p + 1, tokenPos);
            double d;
            // "-1e-5": the word ends at the exponent's sign.
            const int after = tokenPos > 0 ? RawTokenEnd(text_, tokenPos) + 1 : 0;
            const bool exponent = tokenPos > 0 && word.size() >= 2 && (word.back() == 'e') &&
                                  after < length_ && (At(after) == '+' || At(after) == '-') &&
                                  At(after + 1) >= '0' && At(after + 1) <= '9' &&
                                  TryParseDouble(word.substr(0, word.size() - 1), '.', d);
            if (tokenPos == 0 || (!exponent && !TryParseDouble(word, '.', d))) {
                message = sqlmsg::InvalidNumber;
                return false;
            }
            put(std::string_view(&c, 1), p);
            p = tokenPos;
            c = At(p);
        }
        if (c == '(') {
            const int close = MatchBracket(p);
            if (close == 0) {
                message = sqlmsg::BracketsUnbalanced;
                return false;
            }
            take(p, close - p + 1);
            p = close + 1;
        } else if (c == '[') {
            const int close = PosOutsideQuotes("]", text_, p);
            if (close == 0) {
                message = sqlmsg::SquareBracketExpected;
                end = length_ + 1;
                return false;
            }
            take(p, close - p + 1);
            end = close;
            return true;
        } else {
            int tokenPos = 0;
            const std::string word = ReadToken(text_, p, tokenPos);
            put(word, tokenPos > 0 ? tokenPos : p);
            if (tokenPos > 0) p = RawTokenEnd(text_, tokenPos) + 1;
            if (tokenPos > 0 && !word.empty() && !IsQuote(word[0]) && p <= length_ &&
                At(p) == '(') {
                const int close = MatchBracket(p);
                if (close == 0) {
                    message = sqlmsg::BracketsUnbalanced;
                    return false;
                }
                take(p, close - p + 1);
                p = close + 1;
            }
        }
        // Continuation.
        int n = p;
        while (n <= length_ && IsBlankChar(At(n)))
            ++n;
        if (n >= length_) {
            end = n - 1;
            return true;
        }
        const char op = At(n);
        if (op == '*' || op == '+' || op == '-' || op == '/') {
            put(std::string_view(&op, 1), n);
            p = n + 1;
            continue;
        }
        int tokenPos = 0;
        const std::string word = ReadToken(text_, n, tokenPos);
        if (tokenPos == n && (word == "div" || word == "mod")) {
            put(" ", n);
            put(word, n);
            put(" ", n + 2);
            p = n + 3;
            continue;
        }
        end = n - 1;
        return true;
    }
}

// ===========================================================================
// Statement parser

void TASQLSource::Report(std::string_view message, int position) {
    if (!message.empty()) statement_.messages.Add(std::string(message), Origin(position));
}

int TASQLSource::Origin(int pos) const {
    if (pos < 1 || origin_.empty()) return 0;
    if (static_cast<size_t>(pos) <= origin_.size()) return origin_[static_cast<size_t>(pos - 1)];
    return origin_.back() + 1;
}

bool TASQLSource::HasErrors() const {
    return statement_.messages.Count() > 0;
}

TASQLSource::TASQLSource(TParamList& params, std::function<int()> nextId)
    : params_(params), nextId_(std::move(nextId)) {}

void TASQLSource::SetText(const std::string& text) {
    std::string t = Trim(text);
    if (t != source_) {
        source_ = t;
        text_ = t;
        const int lead = LeadingTrimmed(text);
        origin_.resize(text_.size());
        for (size_t i = 0; i < origin_.size(); ++i)
            origin_[i] = lead + static_cast<int>(i) + 1;
    }
}

std::string TASQLSource::MakeName(const std::string& prefix) {
    std::string digits = std::to_string(nextId_ ? nextId_() : 0);
    if (digits.size() < 9) digits.insert(0, 9 - digits.size(), '0');
    return prefix + digits;
}

int TASQLSource::FindKeyword(std::string_view keyword, int start) const {
    const int len = static_cast<int>(keyword.size());
    int from = start;
    while (true) {
        const int p = FindNameOutside(keyword, lower_, from);
        if (p == 0) return 0;
        if (IsWholeWord(lower_, p, p + len - 1)) return p;
        from = p + len;
    }
}

// statement -> "select" [top] [distinct] items ["from" tables] ["where" condition]
//              ["group" "by" groups] ["having" condition] ["order" "by" orders]
//              [limit]
void TASQLSource::Parse() {
    statement_ = TParsedStatement();
    topSeen_ = false;
    SubstituteParameters();
    LocateClauses();
    CutClauses();
    if (HasErrors()) return;
    ParseFromList();
    ParseSelectList();
    TWhereParser where(statement_.messages);
    where.SetOrigin([this](int pos) { return Origin(whereStart_ + pos - 1); });
    if (!statement_.wherePart.empty()) {
        statement_.where = std::make_unique<TParsedCondition>();
        where.ParseWhere(statement_.wherePart, *statement_.where);
    }
    ParseOrderList();
    ParseGroupList();
    if (!statement_.havingPart.empty()) {
        TWhereParser having(statement_.messages);
        having.SetKeyword("having");
        having.SetOrigin([this](int pos) { return Origin(havingStart_ + pos - 1); });
        statement_.having = std::make_unique<TParsedCondition>();
        having.ParseWhere(statement_.havingPart, *statement_.having);
    }
    ParseLimit();
}

// parameter -> ":" name
// A ":" outside quotes followed by a word names a parameter; the reference
// is replaced by the parameter's internal name.
void TASQLSource::SubstituteParameters() {
    TParamList& params = params_;
    for (int i = 0; i < params.Count(); ++i)
        if (params.Item(i).internalName.empty()) params.Item(i).internalName = MakeName("pm");
    int colon = PosOutsideQuotes(":", text_, 1);
    while (colon > 0) {
        int tokenPos = 0;
        const std::string word = ReadToken(text_, colon + 1, tokenPos);
        if (word.empty()) break;
        const int index = params.IndexOfName(word);
        if (index < 0) {
            Report(std::string(sqlmsg::UnknownParameter) + word, colon);
        } else {
            const int wordEnd = RawTokenEnd(text_, tokenPos);
            const std::string& name = params.Item(index).internalName;
            text_.replace(static_cast<size_t>(colon - 1), static_cast<size_t>(wordEnd - colon + 1),
                          name);
            // The internal name stands where the reference stood.
            const int at = Origin(colon);
            origin_.erase(origin_.begin() + (colon - 1), origin_.begin() + wordEnd);
            origin_.insert(origin_.begin() + (colon - 1), name.size(), at);
        }
        colon = PosOutsideQuotes(":", text_, colon + 1);
    }
}

// The clause keywords are found as whole words at bracket depth 0 outside
// quotes, after "select": "from"; then, after "from" when there is one,
// "where", "order" "by", "group" "by" and "having". WHERE after a later
// clause, and HAVING without an earlier GROUP BY, are errors.
void TASQLSource::LocateClauses() {
    lower_ = LowerCaseAscii(text_);
    fromPos_ = FindKeyword("from", 7);
    const int start = fromPos_ > 0 ? fromPos_ + 4 : 7;
    wherePos_ = FindKeyword("where", start);
    auto findWithBy = [&](std::string_view keyword) {
        int p = FindKeyword(keyword, start);
        while (p > 0) {
            int tokenPos = 0;
            if (ReadToken(lower_, p + 5, tokenPos) == "by") break;
            p = FindKeyword(keyword, p + 5);
        }
        return p;
    };
    orderPos_ = findWithBy("order");
    groupPos_ = findWithBy("group");
    havingPos_ = FindKeyword("having", start);
    limitPos_ = FindKeyword("limit", start);
    if (wherePos_ > 0 &&
        ((orderPos_ > 0 && orderPos_ < wherePos_) || (groupPos_ > 0 && groupPos_ < wherePos_) ||
         (havingPos_ > 0 && havingPos_ < wherePos_)))
        Report(sqlmsg::WhereExpected, wherePos_);
    if (havingPos_ > 0 && (groupPos_ == 0 || groupPos_ > havingPos_))
        Report(sqlmsg::HavingNeedsGroupBy, havingPos_);
    // LIMIT ends the statement.
    if (limitPos_ > 0 && (wherePos_ > limitPos_ || orderPos_ > limitPos_ || groupPos_ > limitPos_ ||
                          havingPos_ > limitPos_))
        Report(sqlmsg::LimitNotLast, limitPos_);
}

void TASQLSource::CutClauses() {
    const int length = static_cast<int>(text_.size());
    auto nearestAfter = [&](int own, std::initializer_list<int> others) {
        int best = length + 1;
        for (int o : others)
            if (o > own && o < best) best = o;
        return best;
    };
    // [from, to) as 1-based positions, trimmed; start receives where the
    // trimmed part begins in text_.
    auto cut = [&](int from, int to, int* start = nullptr) {
        if (from < 1 || to <= from) return std::string();
        const std::string_view raw = std::string_view(text_).substr(static_cast<size_t>(from - 1),
                                                                    static_cast<size_t>(to - from));
        if (start) *start = from + LeadingTrimmed(raw);
        return Trim(raw);
    };
    statement_.selectPart.clear();
    selectStart_ = fromStart_ = whereStart_ = orderStart_ = groupStart_ = havingStart_ =
        limitStart_ = 0;
    if (!lower_.starts_with("select")) {
        Report(sqlmsg::InvalidSelect, 1);
    } else {
        statement_.selectPart = cut(
            1, nearestAfter(0, {fromPos_, wherePos_, groupPos_, orderPos_, havingPos_, limitPos_}),
            &selectStart_);
    }
    statement_.fromPart =
        fromPos_
            ? cut(fromPos_,
                  nearestAfter(fromPos_, {wherePos_, groupPos_, orderPos_, havingPos_, limitPos_}),
                  &fromStart_)
            : std::string();
    statement_.wherePart =
        wherePos_
            ? cut(wherePos_, nearestAfter(wherePos_, {orderPos_, groupPos_, havingPos_, limitPos_}),
                  &whereStart_)
            : std::string();
    statement_.orderPart =
        orderPos_ ? cut(orderPos_, nearestAfter(orderPos_, {groupPos_, havingPos_, limitPos_}),
                        &orderStart_)
                  : std::string();
    statement_.groupPart =
        groupPos_ ? cut(groupPos_, nearestAfter(groupPos_, {orderPos_, havingPos_, limitPos_}),
                        &groupStart_)
                  : std::string();
    statement_.havingPart =
        havingPos_
            ? cut(havingPos_, nearestAfter(havingPos_, {orderPos_, limitPos_}), &havingStart_)
            : std::string();
    statement_.limitPart =
        limitPos_ ? cut(limitPos_, nearestAfter(limitPos_, {}), &limitStart_) : std::string();
}

// tables -> table { "," table }
// table  -> table-text [["as"] alias]
void TASQLSource::ParseFromList() {
    if (statement_.fromPart.empty()) return;
    const std::string list = statement_.fromPart.size() > 5
                                 ? Trim(std::string_view(statement_.fromPart).substr(5))
                                 : std::string();
    const int listStart =
        statement_.fromPart.size() > 5
            ? fromStart_ + 5 + LeadingTrimmed(std::string_view(statement_.fromPart).substr(5))
            : 0;
    std::vector<TParsedTable>& from = statement_.from;
    std::vector<int> starts;
    const std::vector<std::string> pieces = SplitAtCommas(list, true, &starts);
    for (size_t k = 0; k < pieces.size(); ++k) {
        const std::string& raw = pieces[k];
        const int pieceStart = listStart + starts[k] - 1 + LeadingTrimmed(raw);
        if (from.size() >= static_cast<size_t>(kMaxFromTables)) {
            Report(FormatMsg(sqlmsg::TooManyTables, kMaxFromTables), pieceStart);
            return;
        }
        TParsedTable& table = from.emplace_back();
        table.itemText = raw;
        table.textPos = Origin(pieceStart);
        const std::string piece = Trim(raw);
        const int blank = FirstBlankOutside(piece);
        if (blank == 0) {
            table.tableText = piece;
        } else {
            table.tableText = piece.substr(0, static_cast<size_t>(blank - 1));
            int tokenPos = 0;
            const std::string word = ReadToken(piece, blank, tokenPos);
            if (word == "as" && tokenPos > 0)
                table.alias =
                    Trim(std::string_view(piece).substr(static_cast<size_t>(tokenPos + 1)));
            else
                table.alias = Trim(std::string_view(piece).substr(static_cast<size_t>(blank - 1)));
        }
        table.bracketed = table.tableText.size() >= 2 && table.tableText.front() == '(' &&
                          table.tableText.back() == ')';
        if (table.bracketed)
            Report(std::string(sqlmsg::SubQueryInFrom) + table.tableText, pieceStart);
        else if (table.alias.empty())
            table.alias = table.tableText;
    }
}

// select-part -> "select" { "top" integer | "distinct" } item { "," item }
// item        -> operand [["as"] output-name]
void TASQLSource::ParseSelectList() {
    TParsedStatement& clause = statement_;
    const std::string rest =
        statement_.selectPart.size() > 6 ? statement_.selectPart.substr(6) : std::string();
    const int restStart = selectStart_ + 6;  // where rest begins in text_
    const std::string low = LowerCaseAscii(rest);
    const int n = static_cast<int>(rest.size());
    int p = 1;
    auto skip = [&] {
        while (p <= n && IsBlankChar(low[static_cast<size_t>(p - 1)]))
            ++p;
    };
    skip();
    while (p <= n &&
           (low[static_cast<size_t>(p - 1)] == 't' || low[static_cast<size_t>(p - 1)] == 'd')) {
        int tokenPos = 0;
        const std::string word = ReadToken(low, p, tokenPos);
        if (word == "top") {
            topSeen_ = true;
            int countPos = 0;
            const std::string count = ReadToken(low, tokenPos + 3, countPos);
            int64_t value = 0;
            if (ParseTopCount(count, value))
                clause.topCount = value;
            else
                Report(sqlmsg::TopNeedsInteger,
                       restStart + (countPos > 0 ? countPos : tokenPos) - 1);
            p = countPos > 0 ? RawTokenEnd(low, countPos) + 1 : n + 1;
            if (countPos > 0 && p <= countPos) p = countPos + 1;
        } else if (word == "distinct") {
            clause.distinct = true;
            p = tokenPos + 8;
        } else {
            break;
        }
        skip();
    }
    const std::string items = p <= n ? rest.substr(static_cast<size_t>(p - 1)) : std::string();
    const int itemsStart = restStart + p - 1;
    std::vector<int> starts;
    const std::vector<std::string> pieces = SplitAtCommas(items, false, &starts);
    for (size_t k = 0; k < pieces.size(); ++k) {
        const std::string& raw = pieces[k];
        const int pieceStart = itemsStart + starts[k] - 1 + LeadingTrimmed(raw);
        const std::string piece = Trim(raw);
        TParsedSelectItem& item = clause.items.emplace_back();
        item.textPos = Origin(pieceStart);
        if (piece.empty()) {
            Report(sqlmsg::MissingItem, pieceStart);
            continue;
        }
        const int blank = FirstBlankOutside(piece);
        if (blank == 0) {
            item.text = piece;
        } else {
            item.text = piece.substr(0, static_cast<size_t>(blank - 1));
            int tokenPos = 0;
            std::string name = ReadToken(piece, blank, tokenPos);
            if (name == "as") name = ReadToken(piece, tokenPos + 2, tokenPos);
            item.outputName = name;
        }
        const int len = static_cast<int>(item.text.size());
        if (item.text == "*")
            item.starKind = skStar;
        else if (len >= 2 && FindNameOutside(".*", item.text, len - 1) == len - 1)
            item.starKind = skTableStar;
        else
            item.starKind = skPlain;
    }
}

// orders -> order { "," order }
// order  -> name ["asc" | "desc" | "descending"]
void TASQLSource::ParseOrderList() {
    if (statement_.orderPart.empty()) return;
    std::string s = Trim(statement_.orderPart);
    int at = orderStart_;  // where s begins in text_
    if (s.size() > 5) {
        at += 5 + LeadingTrimmed(std::string_view(s).substr(5));
        s = Trim(std::string_view(s).substr(5));
    } else {
        s.clear();
    }
    if (s.size() > 2) {
        at += 2 + LeadingTrimmed(std::string_view(s).substr(2));
        s = Trim(std::string_view(s).substr(2));
    } else {
        s.clear();
    }
    std::vector<int> starts;
    const std::vector<std::string> pieces = SplitAtCommas(s, false, &starts);
    for (size_t k = 0; k < pieces.size(); ++k) {
        const std::string item = Trim(pieces[k]);
        if (item.empty()) continue;
        TParsedOrderItem& parsed = statement_.orderBy.emplace_back();
        ReadOrderItem(item, parsed.name, parsed.descending);
        parsed.textPos = Origin(at + starts[k] - 1 + LeadingTrimmed(pieces[k]));
    }
}

// groups -> group { "," group }
// group  -> operand
void TASQLSource::ParseGroupList() {
    if (statement_.groupPart.empty()) return;
    // "group", blanks, "by", blanks: the rest is the list.
    std::string_view s = statement_.groupPart;
    int at = groupStart_;  // where s begins in text_
    auto drop = [&](size_t count) {
        count = std::min(count, s.size());
        const std::string_view rest = s.substr(count);
        const int lead = LeadingTrimmed(rest);
        at += static_cast<int>(count) + lead;
        s = rest.substr(static_cast<size_t>(std::min<int>(lead, static_cast<int>(rest.size()))));
    };
    drop(5);
    drop(2);
    std::vector<int> starts;
    const std::vector<std::string> pieces = SplitAtCommas(s, false, &starts);
    for (size_t k = 0; k < pieces.size(); ++k) {
        const int pieceStart = at + starts[k] - 1 + LeadingTrimmed(pieces[k]);
        const std::string item = Trim(pieces[k]);
        if (item.empty()) {
            Report(sqlmsg::MissingGroupItem, pieceStart);
            continue;
        }
        TParsedOperand& parsed = statement_.groupBy.emplace_back();
        parsed.text = item;
        parsed.textPos = Origin(pieceStart);
    }
}

// limit -> "limit" integer ["offset" integer]
void TASQLSource::ParseLimit() {
    if (topSeen_ && limitPos_ > 0) Report(sqlmsg::TopWithLimit, limitPos_);
    if (statement_.limitPart.empty()) return;
    const std::string low = LowerCaseAscii(statement_.limitPart);
    const int n = static_cast<int>(low.size());
    // The next word from p on, with its place; p moves behind it.
    int p = 6;
    auto next = [&](int& tokenPos) {
        std::string word = ReadToken(low, p, tokenPos);
        if (tokenPos > 0) p = std::max(RawTokenEnd(low, tokenPos), tokenPos) + 1;
        return word;
    };
    auto place = [&](int tokenPos) { return limitStart_ + (tokenPos > 0 ? tokenPos : n + 1) - 1; };
    int tokenPos = 0;
    std::string word = next(tokenPos);
    if (!ParseTopCount(word, statement_.limit)) {
        statement_.limit = -1;
        Report(sqlmsg::LimitNeedsInteger, place(tokenPos));
        return;
    }
    word = next(tokenPos);
    if (tokenPos == 0) return;
    if (word == "offset") {
        word = next(tokenPos);
        if (!ParseTopCount(word, statement_.offset)) {
            statement_.offset = 0;
            Report(sqlmsg::OffsetNeedsInteger, place(tokenPos));
            return;
        }
        word = next(tokenPos);
        if (tokenPos == 0) return;
    }
    Report(sqlmsg::LimitNotLast, place(tokenPos));
}

// order -> name ["asc" | "desc" | "descending"]
void ReadOrderItem(std::string_view itemText, std::string& name, bool& descending) {
    const std::string text = Trim(itemText);
    const size_t blank = FindBlankOutside(text);
    descending = false;
    if (blank == std::string::npos) {
        name = text;
        return;
    }
    name = text.substr(0, blank);
    const std::string word = LowerCaseAscii(Trim(std::string_view(text).substr(blank)));
    descending = word.size() >= 4 && std::string_view("descending").starts_with(word);
}

}  // namespace corvane

#include "engine/sqlScan_Base.h"

#include <algorithm>
#include <charconv>
#include <vector>

#include "engine/UVeskEngine.h"
#include "platform/Text.h"
#include "script/compiler/qv_consts.h"
#include "script/compiler/u_functions_consts.h"

namespace corvane {

namespace {

bool IsQuote(char c) {
    return c == '\'' || c == '"';
}

// Position (1-based) of the first blank at bracket depth 0 outside quotes;
// 0 when none.
int FirstBlankOutside(std::string_view s) {
    char quote = 0;
    int depth = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (quote) {
            if (c == quote) quote = 0;
        } else if (IsQuote(c)) {
            quote = c;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')') {
            --depth;
        } else if (depth == 0 && IsBlankChar(c)) {
            return static_cast<int>(i) + 1;
        }
    }
    return 0;
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

// The 1-based position of the first whole-word occurrence of name outside
// quotes in text, letter case ignored; 1 when there is none.
int WordPosition(std::string_view text, std::string_view name) {
    const std::string lower = LowerCaseAscii(text);
    const std::string key = LowerCaseAscii(name);
    const int len = static_cast<int>(key.size());
    for (int p = PosOutsideQuotes(key, lower, 1); p > 0 && len > 0;
         p = PosOutsideQuotes(key, lower, p + 1))
        if (IsWholeWord(lower, p, p + len - 1)) return p;
    return 1;
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

std::string TWhereParser::Where(const char* prefix) const {
    return std::string(prefix) + text_ + "的" + std::to_string(pos_) + "位置)";
}

int TWhereParser::StatementPos(int pos) const {
    if (!origin_) return 0;
    return origin_(partOffset_ + std::clamp(pos, 1, length_ + 1));
}

// A message of the parser stands where the parser stopped.
void TWhereParser::Report(const std::string& message) {
    if (!message.empty()) engine_.Errors().Add(message, StatementPos(pos_));
}

void TWhereParser::StoreOperand(TROperandDef& op, std::string text, const std::vector<int>& map) {
    op.text = std::move(text);
    op.textPos = 0;
    op.textMap.clear();
    if (!origin_) return;
    op.textMap.reserve(map.size());
    for (int p : map)
        op.textMap.push_back(StatementPos(p));
    if (!op.textMap.empty()) op.textPos = op.textMap.front();
}

// where-part -> "where" condition
void TWhereParser::ParseWhere(const std::string& wherePart) {
    const std::string w = Trim(wherePart);
    partOffset_ = LeadingTrimmed(wherePart);
    length_ = 0;
    pos_ = 1;
    if (w.empty()) return;
    if (w.size() <= 5) {
        Report("where部分不完整。");
        return;
    }
    partOffset_ += 5 + LeadingTrimmed(std::string_view(w).substr(5));
    text_ = Trim(std::string_view(w).substr(5));
    if (text_.empty()) {
        Report("where部分不完整。");
        return;
    }
    length_ = static_cast<int>(text_.size());
    pos_ = 1;
    depth_ = 0;
    if (ParseOrGroup(engine_.WhereRoot()) && pos_ < length_)
        Report("where部分有语法错误，似乎有多余字符串");
}

// condition   -> alternative { "or" alternative }
// alternative -> term { "and" term }
bool TWhereParser::ParseOrGroup(TBoolNode& node) {
    if (pos_ > length_) return true;
    SkipBlanksHere();
    if (pos_ > length_) return true;
    if (!node.group) node.group = std::make_unique<TOrNodeList>();
    while (true) {
        auto head = std::make_unique<TBoolNode>();
        if (!ParseTerm(1, *head)) {
            Report(Where("试图获得一个布尔表达式时失败.("));
            return false;
        }
        TBoolNode* tail = head->Last();
        node.group->Add(std::move(head));
        int tokenPos = 0;
        std::string word = ReadToken(text_, pos_, tokenPos);
        while (word == "and") {
            tail->next = std::make_unique<TBoolNode>();
            tail = tail->next.get();
            pos_ = tokenPos + 3;
            if (!ParseTerm(2, *tail)) {
                Report(Where("在and之后，试图获得一个布尔表达式时失败.("));
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
bool TWhereParser::ParseTerm(int level, TBoolNode& node) {
    struct DepthGuard {
        int& d;
        explicit DepthGuard(int& depth) : d(depth) { ++d; }
        ~DepthGuard() { --d; }
    } guard(depth_);
    if (depth_ > kMaxWhereDepth) {
        Report("where部分嵌套太深");
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
                Report(Where("试图获得一个关系式时失败.("));
                return false;
            }
        } else {
            ++pos_;
            if (!ParseOrGroup(node)) {
                Report(Where("试图获得一个子项时失败.("));
                return false;
            }
            // "(x)" holding one plain term folds into the node itself.
            if (!node.negated && node.group && node.group->Count() == 1) {
                TBoolNode* entry = node.group->Item(0);
                if (!entry->next && !entry->group) {
                    node.relation = std::move(entry->relation);
                    node.negated = entry->negated;
                    node.literal = entry->literal;
                    node.isLiteral = entry->isLiteral;
                    node.spare = entry->spare;
                    node.group.reset();
                }
            }
            SkipBlanksHere();
            if (pos_ > length_ || At(pos_) != ')') {
                Report("括号不匹配");
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
            Report(Where("试图获得一个关系式时，失败了.("));
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
    TBoolNode* tail = node.Last();
    tail->next = std::make_unique<TBoolNode>();
    return ParseTerm(2, *tail->next);
}

// relation -> operand comparison operand
//           | operand "between" operand "and" operand
//           | operand "in" operand | operand "like" operand
// comparison -> "=" | "<>" | ">" | ">=" | "<" | "<="
bool TWhereParser::ParseRelation(TBoolNode& node) {
    if (!node.relation) node.relation = std::make_unique<TRelaSimpleExpr>();
    TRelaSimpleExpr& rel = *node.relation;
    const int start = pos_;
    std::string operand, message;
    std::vector<int> map;
    int end = pos_ - 1;
    if (!ReadOperand(pos_, operand, map, end, message)) {
        Report(message);
        return false;
    }
    if (operand.empty()) return false;  // no operand where one must stand
    StoreOperand(*rel.left, operand, map);
    pos_ = end + 1;

    SkipBlanksHere();
    if (pos_ > length_) {
        Report("不认识的关系运算符");
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
            Report("不认识的关系运算符:" + run);
            return false;
        }
        pos_ = runEnd;
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
            Report("不认识的关系运算符" + word);
            return false;
        }
        pos_ = tokenPos + static_cast<int>(word.size());
    } else {
        Report("不认识的关系运算符");
        return false;
    }

    end = pos_ - 1;
    if (!ReadOperand(pos_, operand, map, end, message)) {
        Report(message);
        return false;
    }
    if (operand.empty()) return false;
    StoreOperand(*rel.right, operand, map);
    pos_ = end + 1;
    if (rel.op == roBetween) {
        int tokenPos = 0;
        const std::string word = ReadToken(text_, pos_, tokenPos);
        if (word != "and") {
            Report("Between之后，期待关键字and");
            return false;
        }
        pos_ = tokenPos + 3;
        if (!rel.upper) rel.upper = std::make_unique<TROperandDef>();
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

int TWhereParser::MatchBracket(int pos) const {
    int depth = 1;
    char quote = 0;
    for (int i = pos + 1; i <= length_; ++i) {
        const char c = At(i);
        if (quote) {
            if (c == quote) quote = 0;
        } else if (IsQuote(c)) {
            quote = c;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')') {
            if (--depth == 0) return i;
        }
    }
    return 0;
}

bool TWhereParser::IsBracketedOperand(int pos, bool& isOperand, std::string& message) {
    const int close = MatchBracket(pos);
    if (close == 0) {
        message = "括号不匹配";
        return false;
    }
    const std::string b = LowerCaseAscii(std::string_view(text_).substr(
        static_cast<size_t>(pos - 1), static_cast<size_t>(close - pos + 1)));
    bool condition = PosOutsideQuotes(">", b, 1) > 0 || PosOutsideQuotes("<", b, 1) > 0 ||
                     PosOutsideQuotes("=", b, 1) > 0;
    static const char* const kWords[] = {"in", "like", "between", "and", "or", "not"};
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
                message = "无效的数字";
                return false;
            }
            put(std::string_view(&c, 1), p);
            p = tokenPos;
            c = At(p);
        }
        if (c == '(') {
            const int close = MatchBracket(p);
            if (close == 0) {
                message = "括号不匹配";
                return false;
            }
            take(p, close - p + 1);
            p = close + 1;
        } else if (c == '[') {
            const int close = PosOutsideQuotes("]", text_, p);
            if (close == 0) {
                message = "期待\"]\"";
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
                    message = "括号不匹配";
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

void TASQLSource::Report(const std::string& message, int position) {
    if (!message.empty()) engine_.Errors().Add(message, Origin(position));
}

int TASQLSource::Origin(int pos) const {
    if (pos < 1 || origin_.empty()) return 0;
    if (static_cast<size_t>(pos) <= origin_.size()) return origin_[static_cast<size_t>(pos - 1)];
    return origin_.back() + 1;
}

bool TASQLSource::HasErrors() const {
    return engine_.Errors().Count() > 0;
}

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
    std::string digits = std::to_string(engine_.NextId());
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
//              ["group" "by" ...] ["having" ...] ["order" "by" orders]
void TASQLSource::Parse() {
    SubstituteParameters();
    LocateClauses();
    CutClauses();
    if (!HasErrors()) {
        ParseFromList();
        ParseSelectList();
        TWhereParser where(engine_);
        where.SetOrigin([this](int pos) { return Origin(whereStart_ + pos - 1); });
        where.ParseWhere(wherePart_);
        ParseOrderList();
    }
    if (!HasErrors()) {
        if (BindTables()) {
            BindWhere();
            BindSelectList();
        }
    }
}

// A ":" outside quotes followed by a word names a parameter; the reference
// is replaced by the parameter's internal name.
void TASQLSource::SubstituteParameters() {
    TParamList& params = engine_.Params();
    for (int i = 0; i < params.Count(); ++i)
        if (params.Item(i).internalName.empty()) params.Item(i).internalName = MakeName("pm");
    int colon = PosOutsideQuotes(":", text_, 1);
    while (colon > 0) {
        int tokenPos = 0;
        const std::string word = ReadToken(text_, colon + 1, tokenPos);
        if (word.empty()) break;
        const int index = params.IndexOfName(word);
        if (index < 0) {
            Report("不认识的参数:" + word, colon);
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
    if (wherePos_ > 0 &&
        ((orderPos_ > 0 && orderPos_ < wherePos_) || (groupPos_ > 0 && groupPos_ < wherePos_) ||
         (havingPos_ > 0 && havingPos_ < wherePos_)))
        Report("期待where出现", wherePos_);
    if (havingPos_ > 0 && (groupPos_ == 0 || groupPos_ > havingPos_))
        Report("having之前应有group by", havingPos_);
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
    selectPart_.clear();
    selectStart_ = fromStart_ = whereStart_ = orderStart_ = 0;
    if (!lower_.starts_with("select")) {
        Report("无效的select语句", 1);
    } else {
        selectPart_ =
            cut(1, nearestAfter(0, {fromPos_, wherePos_, groupPos_, orderPos_, havingPos_}),
                &selectStart_);
    }
    fromPart_ =
        fromPos_
            ? cut(fromPos_, nearestAfter(fromPos_, {wherePos_, groupPos_, orderPos_, havingPos_}),
                  &fromStart_)
            : std::string();
    wherePart_ = wherePos_
                     ? cut(wherePos_, nearestAfter(wherePos_, {orderPos_, groupPos_, havingPos_}),
                           &whereStart_)
                     : std::string();
    orderPart_ =
        orderPos_ ? cut(orderPos_, nearestAfter(orderPos_, {groupPos_, havingPos_}), &orderStart_)
                  : std::string();
    groupPart_ = groupPos_ ? cut(groupPos_, nearestAfter(groupPos_, {orderPos_, havingPos_}))
                           : std::string();
    havingPart_ =
        havingPos_ ? cut(havingPos_, nearestAfter(havingPos_, {orderPos_})) : std::string();
}

// tables -> table { "," table }
// table  -> table-text [["as"] alias]
void TASQLSource::ParseFromList() {
    if (fromPart_.empty()) return;
    const std::string list =
        fromPart_.size() > 5 ? Trim(std::string_view(fromPart_).substr(5)) : std::string();
    const int listStart =
        fromPart_.size() > 5
            ? fromStart_ + 5 + LeadingTrimmed(std::string_view(fromPart_).substr(5))
            : 0;
    TFromClause& from = engine_.FromClause();
    std::vector<int> starts;
    const std::vector<std::string> pieces = SplitAtCommas(list, true, &starts);
    for (size_t k = 0; k < pieces.size(); ++k) {
        const std::string& raw = pieces[k];
        const int pieceStart = listStart + starts[k] - 1 + LeadingTrimmed(raw);
        if (from.Count() >= kMaxFromTables) {
            Report("FROM中的表太多，最多" + std::to_string(kMaxFromTables) + "个", pieceStart);
            return;
        }
        TFromTable& table = from.AddTable();
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
            Report("不支持FROM中的子查询：" + table.tableText, pieceStart);
        else if (table.alias.empty())
            table.alias = table.tableText;
    }
}

// select-part -> "select" { "top" integer | "distinct" } item { "," item }
// item        -> operand [["as"] output-name]
void TASQLSource::ParseSelectList() {
    TSelectClause& clause = engine_.SelectEnv().Clause();
    clause.topCount = 0;
    clause.distinct = false;
    clause.Clear();
    const std::string rest = selectPart_.size() > 6 ? selectPart_.substr(6) : std::string();
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
            int countPos = 0;
            const std::string count = ReadToken(low, tokenPos + 3, countPos);
            int64_t value = 0;
            if (ParseTopCount(count, value))
                clause.topCount = value;
            else
                Report("Top 之后应该是一个整数",
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
        TSelectField& item = clause.Insert(std::string(), -1);
        item.textPos = Origin(pieceStart);
        if (piece.empty()) {
            Report("缺失输出项", pieceStart);
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
    orderItemPos_.clear();
    if (orderPart_.empty()) return;
    std::string s = Trim(orderPart_);
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
    TOrderClause& order = engine_.OrderClause();
    std::vector<int> starts;
    const std::vector<std::string> pieces = SplitAtCommas(s, false, &starts);
    for (size_t k = 0; k < pieces.size(); ++k) {
        const std::string item = Trim(pieces[k]);
        if (item.empty()) continue;
        order.Add(item);
        orderItemPos_.push_back(at + starts[k] - 1 + LeadingTrimmed(pieces[k]));
    }
}

bool TASQLSource::BindTables() {
    TFromClause& from = engine_.FromClause();
    bool ok = true;
    for (int i = 0; i < from.Count(); ++i) {
        TFromTable& t = from.Table(i);
        if (t.bracketed) continue;
        t.dataset = t.tableText.empty() ? nullptr : engine_.DataBases().FindDataset(t.tableText);
        if (!t.dataset) {
            engine_.Errors().Add(t.tableText + "不是有效的表", t.textPos);
            ok = false;
        }
    }
    if (ok) from.Prepare();
    return ok;
}

void TASQLSource::BindWhere() {
    TFromClause& from = engine_.FromClause();
    TBoolNode& root = engine_.WhereRoot();
    if (root.group) {
        // Every relation of the tree, without recursion over chains.
        std::vector<TOrNodeList*> groups{root.group.get()};
        while (!groups.empty()) {
            TOrNodeList* g = groups.back();
            groups.pop_back();
            for (int i = 0; i < g->Count(); ++i)
                for (TBoolNode* n = g->Item(i); n; n = n->next.get()) {
                    if (n->group) groups.push_back(n->group.get());
                    if (!n->relation) continue;
                    TRelaSimpleExpr& r = *n->relation;
                    for (TROperandDef* op : {r.left.get(), r.right.get(), r.upper.get()}) {
                        if (!op) continue;
                        op->source = &from;
                        BindOperand(*op, op == r.right.get() && r.op == roIn, true);
                    }
                    r.CollectTables();
                }
        }
        Normalize(*root.group);
        engine_.WhereObj().Build(*root.group, from.Count());
    } else {
        engine_.WhereObj().Build(TOrNodeList(), from.Count());
    }
}

// Binds one operand and reports its messages where it stands: all of them
// (reportAll) or only an expression's own (select items: a name that does
// not resolve reports itself through the FROM clause).
void TASQLSource::BindOperand(TROperandDef& op, bool inList, bool reportAll) {
    TmyErrorMng& errors = engine_.Errors();
    const int before = errors.Count();
    op.Bind(inList);
    // The value source reports a name it cannot resolve without knowing
    // where the name stood.
    for (int i = before; i < errors.Count(); ++i)
        if (errors.Position(i) == 0) errors.SetPosition(i, op.StatementPos(1));
    if (!reportAll && op.kind != okExpression) return;
    for (const TTextMessage& m : op.messages)
        errors.Add(m.text, op.StatementPos(m.position));
}

void TASQLSource::BindSelectList() {
    TFromClause& from = engine_.FromClause();
    TSelectClause& clause = engine_.SelectEnv().Clause();
    auto fieldsOf = [&](int t) {
        std::vector<std::string> texts;
        const TFromTable& table = from.Table(t);
        if (!table.dataset) return texts;
        const int count = table.dataset->GetFieldCount();
        for (int f = 0; f < count; ++f)
            texts.push_back(table.alias + "." + table.dataset->GetFieldName(f));
        return texts;
    };
    // 1. table stars
    for (int i = clause.Count() - 1; i >= 0; --i) {
        if (clause.Item(i).starKind != skTableStar) continue;
        const std::string text = clause.Item(i).text;
        const int dot = PosOutsideQuotes(".", text, 1);
        const std::string name = text.substr(0, static_cast<size_t>(std::max(0, dot - 1)));
        const int t = from.IndexOfTable(name);
        if (t < 0) {
            engine_.Errors().Add("没有相应的表：" + name, clause.Item(i).textPos);
            return;
        }
        clause.Remove(i);
        const std::vector<std::string> texts = fieldsOf(t);
        for (size_t k = 0; k < texts.size(); ++k)
            clause.Insert(texts[k], i + static_cast<int>(k));
    }
    // 2. stars: every table inserted at the item's place in turn, so the
    // last FROM table's fields come first.
    for (int i = clause.Count() - 1; i >= 0; --i) {
        if (clause.Item(i).starKind != skStar) continue;
        clause.Remove(i);
        for (int t = 0; t < from.Count(); ++t) {
            const std::vector<std::string> texts = fieldsOf(t);
            for (size_t k = 0; k < texts.size(); ++k)
                clause.Insert(texts[k], i + static_cast<int>(k));
        }
    }
    // 3. ORDER BY columns refer to a select item, appended when missing.
    TOrderClause& order = engine_.OrderClause();
    for (int k = 0; k < order.Count(); ++k) {
        TOrderItem& item = order.Item(k);
        int index = clause.IndexOfName(item.name);
        if (index < 0) {
            TSelectField& added = clause.Insert(std::string(), -1);
            added.text = item.name;
            if (static_cast<size_t>(k) < orderItemPos_.size())
                added.textPos = Origin(orderItemPos_[static_cast<size_t>(k)]);
            item.boundText = item.name;
            index = clause.Count() - 1;
        }
        item.column = index;
    }
    // 4. bind every item. Only an expression's own failure is reported
    // here: unknown names report themselves through the FROM clause.
    for (int i = 0; i < clause.Count(); ++i) {
        TSelectField& item = clause.Item(i);
        item.source = &from;
        BindOperand(item, false, false);
    }
    // 5. ambiguous names in expressions. The check reports one message per
    // ambiguous name, items from the last to the first; the same walk here
    // tells where each name stands.
    const int before = engine_.Errors().Count();
    engine_.SelectEnv().CheckAmbiguity();
    int next = before;
    for (int i = clause.Count() - 1; i >= 0 && next < engine_.Errors().Count(); --i) {
        TSelectField& item = clause.Item(i);
        if (item.kind != okExpression || !item.expr) continue;
        const auto& refs = item.expr->VarRefs();
        const auto& names = item.expr->VarNames();
        for (size_t k = 0; k < refs.size() && k < names.size(); ++k) {
            if (refs[k].tableIndex < 0 || from.CountTablesWithField(names[k]) <= 1) continue;
            if (next >= engine_.Errors().Count()) break;
            engine_.Errors().SetPosition(next++,
                                         item.StatementPos(WordPosition(item.text, names[k])));
        }
    }
    // 6. output names
    for (int i = clause.Count() - 1; i >= 0; --i) {
        TSelectField& item = clause.Item(i);
        if (!item.outputName.empty()) continue;
        if (item.kind == okConstant || item.kind == okExpression)
            item.outputName = "compt_" + std::to_string(engine_.NextId());
        else
            item.outputName = item.text;
    }
    // 7. type names
    for (int i = clause.Count() - 1; i >= 0; --i) {
        TSelectField& item = clause.Item(i);
        switch (item.kind) {
            case okConstant:
                item.typeName = std::string(TypeNameOf(item.literalType));
                break;
            case okParameter:
                item.typeName =
                    item.ref.paramIndex >= 0 && item.ref.paramIndex < engine_.Params().Count()
                        ? engine_.Params().Item(item.ref.paramIndex).typeName
                        : std::string();
                break;
            case okColumn:
                item.typeName =
                    from.Table(item.ref.tableIndex).dataset->GetFieldType(item.ref.fieldIndex);
                break;
            case okExpression:
            case okVariable:
                item.typeName = "any";
                break;
            case okSubQuery:
                item.typeName.clear();
                break;
        }
    }
}

}  // namespace corvane

#include "sql/UveskBase.h"

#include <algorithm>
#include <utility>

#include "platform/DateTime.h"
#include "platform/FormatSettings.h"
#include "platform/Text.h"
#include "script/common/URegexp.h"
#include "script/common/U_err.h"
#include "script/common/qv_consts.h"
#include "script/common/u_functions_consts.h"
#include "script/runtime/u_expr.h"
#include "sql/QuoteScanner.h"
#include "sql/UVeskEngineBase.h"

namespace corvane {

namespace {

// The script runtime's expression component behind the seam. The host
// writes the globals directly between evaluations, so the program's own
// initialization of globals is switched off and done once after compiling;
// the compiled program holds only the globals the expression reads (the
// linker takes only what is addressed), so only those are written per row.
// Whether a declaration line "name:type;" names a variable the script
// language can declare: one word, without the language's delimiters. Table
// texts and aliases such as '/data /s'.size are declared by the FROM clause
// too, and a column may carry a reserved word as its name; as script source
// they would not compile, and no expression could name them anyway, so they
// are left out.
bool IsScriptDeclaration(std::string_view line) {
    const size_t colon = line.rfind(':');
    if (colon == std::string_view::npos || colon == 0) return false;
    const std::string_view name = line.substr(0, colon);
    if (name.find("..") != std::string_view::npos || !IsIdentifier(name)) return false;
    for (char c : name)
        if (IsSeparator(c) || c == '{' || c == '}') return false;
    return true;
}

class ScriptExpressionBackend : public IExpressionBackend {
  public:
    ScriptExpressionBackend() { expr_.SetAutoInitVars(false); }
    // One token per line: the compiler's line numbers then say which token
    // it stumbled over.
    void SetExpr(const std::string& text) override {
        expr_.SetExpr(SpreadExpression(text, lineStarts_));
    }
    void SetGlobalDeclarations(const std::string& declarations) override {
        std::vector<std::string> lines;
        size_t start = 0;
        while (start < declarations.size()) {
            size_t end = declarations.find('\n', start);
            if (end == std::string::npos) end = declarations.size();
            std::string line = declarations.substr(start, end - start);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (IsScriptDeclaration(line)) lines.push_back(std::move(line));
            start = end + 1;
        }
        expr_.SetGVarDefs(std::move(lines));
    }
    std::string Compile() override {
        std::string errors = expr_.Compile();
        if (errors.empty()) expr_.InitGlobals();
        return errors;
    }
    int GlobalCount() override { return expr_.GlobalCount(); }
    std::string GlobalName(int index) override { return expr_.GlobalAt(index).Name(); }
    void SetGlobal(int index, const Variant& value) override {
        expr_.GlobalAt(index).SetVariant(value);
    }
    bool Evaluate(Variant& out) override { return expr_.Evaluate(out); }
    void SetCancelCheck(std::function<bool()> check) override {
        expr_.SetCancelCheck(std::move(check));
    }
    std::string Errors() override { return expr_.ErrorText(); }
    bool ReadsFileContents() override { return expr_.ReadsFileContents(); }
    std::vector<TTextMessage> Diagnostics() override {
        std::vector<TTextMessage> out;
        for (const TExprDiagnostic& d : expr_.Diagnostics()) {
            const bool known = d.line >= 1 && static_cast<size_t>(d.line) <= lineStarts_.size();
            out.push_back({d.text, known ? lineStarts_[static_cast<size_t>(d.line - 1)] : 0});
        }
        return out;
    }

  private:
    TXExpression expr_;
    std::vector<int> lineStarts_;  // per line of the spread text, its place in the text
};

ExpressionBackendFactory& Factory() {
    static ExpressionBackendFactory factory = [] {
        return std::unique_ptr<IExpressionBackend>(std::make_unique<ScriptExpressionBackend>());
    };
    return factory;
}

bool IsQuoteChar(char c) {
    return c == '\'' || c == '"';
}

bool IsDigitChar(char c) {
    return c >= '0' && c <= '9';
}

// A date with a four-digit year as the comparisons read one
// ("2024-01-31", "2024/1/31"): written without quotes it is still a date,
// not a subtraction.
bool IsDateLiteral(std::string_view text) {
    const std::string_view t = TrimView(text);
    if (t.size() < 8) return false;
    for (size_t i = 0; i < 4; ++i)
        if (!IsDigitChar(t[i])) return false;
    if (IsDigitChar(t[4])) return false;
    TDateTime d;
    return TryParseDate(t, FormatSettings::Current(), d);
}

// An item of an IN list without quotes: what a constant operand may be,
// except a quoted text.
bool IsPlainListItem(std::string_view item) {
    return IsWellFormedNumber(item) || IsBooleanText(item) || IsDateLiteral(item) ||
           IsTimeText(item);
}

// The items of a bracketed list, split at commas outside quotes and
// brackets, each trimmed, with the position of its first byte in text
// (1-based). False when text is not bracketed by "()" or "[]".
struct TListItem {
    std::string text;
    int position;
};
bool SplitBracketedList(std::string_view text, std::vector<TListItem>& items) {
    const size_t n = text.size();
    if (n < 2 || !((text.front() == '(' && text.back() == ')') ||
                   (text.front() == '[' && text.back() == ']')))
        return false;
    items.clear();
    TQuoteScanner scan(/*squareBrackets=*/true);
    size_t start = 1;
    auto flush = [&](size_t end) {
        const std::string_view raw = text.substr(start, end - start);
        const std::string_view trimmed = TrimView(raw);
        const size_t lead = trimmed.empty() ? 0 : static_cast<size_t>(trimmed.data() - raw.data());
        items.push_back({std::string(trimmed), static_cast<int>(start + lead) + 1});
    };
    for (size_t i = 1; i + 1 < n; ++i) {
        if (scan.Step(text[i]) == TQuoteScanner::TByte::Plain && scan.Depth() == 0 &&
            text[i] == ',') {
            flush(i);
            start = i + 1;
        }
    }
    flush(n - 1);
    return true;
}

// How many characters (not bytes) of UTF-8 text come before byte position
// pos (1-based), plus one.
int CharacterPosition(std::string_view text, int pos) {
    int chars = 1;
    const size_t end = std::min(text.size(), static_cast<size_t>(std::max(pos - 1, 0)));
    for (size_t i = 0; i < end; ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ++chars;
    return chars;
}

// The texts of an IN list: every token read from the start, quotes
// stripped; the next token is read from one character after the end of the
// token as it was read, which steps over the separating comma.
//   list -> token { sep token }
void ReadInList(std::string_view text, std::vector<std::string>& out) {
    int pos = 1;
    const int n = static_cast<int>(text.size());
    while (pos <= n) {
        int tokenPos = 0;
        std::string word = ReadToken(text, pos, tokenPos);
        if (tokenPos == 0) break;
        out.push_back(StripQuotes(word));
        pos = tokenPos + static_cast<int>(word.size()) + 1;
    }
}

}  // namespace

void SetExpressionBackendFactory(ExpressionBackendFactory factory) {
    Factory() = std::move(factory);
}

ExpressionBackendFactory CurrentExpressionBackendFactory() {
    return Factory();
}

bool HasExpressionBackend() {
    return static_cast<bool>(Factory());
}

std::vector<TTextMessage> IExpressionBackend::Diagnostics() {
    return {};
}

ResultTooLargeError ResultTooLargeError::Rows(int64_t rows) {
    return ResultTooLargeError(FormatMsg(sqlmsg::TooManyRows, static_cast<long long>(rows)));
}

ResultTooLargeError ResultTooLargeError::Combinations(int64_t combinations) {
    return ResultTooLargeError(
        FormatMsg(sqlmsg::TooManyCombinations, static_cast<long long>(combinations)));
}

ResultTooLargeError ResultTooLargeError::Memory(std::string_view limit, std::string_view what) {
    return ResultTooLargeError(FormatMsg(FormatMsg(sqlmsg::MemoryExceeded, limit), what));
}

std::string ExpressionMessage(std::string_view text, int position, std::string_view detail) {
    std::string out(sqlmsg::ExpressionOpen);
    out += text;
    out += sqlmsg::ExpressionClose;
    if (position > static_cast<int>(text.size()))
        out += sqlmsg::ExpressionAtEnd;
    else if (position > 0)
        out += FormatMsg(sqlmsg::ExpressionAtChar,
                         static_cast<long long>(CharacterPosition(text, position)));
    out += sqlmsg::ExpressionDetail;
    out += detail;
    return out;
}

// ---- TVeskExprPlus --------------------------------------------------------

TVeskExprPlus::TVeskExprPlus() = default;
TVeskExprPlus::~TVeskExprPlus() = default;

std::string TVeskExprPlus::Prepare() {
    compiled_ = false;
    readsContent_ = false;
    refs_.clear();
    names_.clear();
    errors_.clear();
    messages_.clear();
    backend_.reset();
    auto fail = [this](int position, std::string_view detail) {
        messages_.push_back({ExpressionMessage(text_, position, detail), position});
    };
    auto joined = [this] {
        std::string out;
        for (const TTextMessage& m : messages_) {
            if (!out.empty()) out += '\n';
            out += m.text;
        }
        return out;
    };
    if (source_) source_->Prepare();
    // Refused before anything is compiled: an aggregate call where none may
    // stand (the binder cuts the calls out of the places where they may),
    // and text that would leave the expression's place in the generated
    // program.
    std::string detail;
    if (const int at = FindAggregateCall(text_, detail)) {
        fail(at, FormatMsg(sqlmsg::AggregateMisplaced, detail));
        errors_ = joined();
        return errors_;
    }
    if (const int at = CheckSingleExpression(text_, detail)) {
        fail(at, detail);
        errors_ = joined();
        return errors_;
    }
    if (Factory()) backend_ = Factory()();
    if (!backend_) {
        errors_ = std::string(sqlmsg::ExpressionUnavailable) + text_;
        messages_.push_back({errors_, 0});
        return errors_;
    }
    backend_->SetGlobalDeclarations(source_ ? source_->GetDeclarations() : std::string());
    // A script loop inside an expression stops when the query is cancelled.
    if (source_) backend_->SetCancelCheck([source = source_] { return source->Cancelled(); });
    backend_->SetExpr(text_);
    const std::string compileErrors = backend_->Compile();
    if (!compileErrors.empty()) {
        std::vector<TTextMessage> diagnostics = backend_->Diagnostics();
        if (diagnostics.empty()) {
            // A backend that does not place its faults: every line of its
            // error text, about the expression as a whole.
            size_t start = 0;
            while (start < compileErrors.size()) {
                size_t end = compileErrors.find('\n', start);
                if (end == std::string::npos) end = compileErrors.size();
                if (end > start)
                    diagnostics.push_back({compileErrors.substr(start, end - start), 0});
                start = end + 1;
            }
        }
        for (const TTextMessage& d : diagnostics)
            fail(d.position, d.text);
        errors_ = joined();
        return errors_;
    }
    if (const int at = CheckRegexpLiterals(text_, detail)) {
        fail(at, detail);
        errors_ = joined();
        return errors_;
    }
    compiled_ = true;
    readsContent_ = backend_->ReadsFileContents();
    const int count = backend_->GlobalCount();
    for (int i = 0; i < count; ++i) {
        TOperandRef ref;
        ref.tag = i;
        std::string name = backend_->GlobalName(i);
        if (source_) source_->Resolve(name, i, ref);
        refs_.push_back(ref);
        names_.push_back(std::move(name));
    }
    return {};
}

void TVeskExprPlus::Evaluate(Variant& out) {
    if (!compiled_ || !backend_) {
        if (errors_.empty()) errors_ = std::string(msg::InvalidObjectCode);
        return;
    }
    for (size_t i = 0; i < refs_.size(); ++i)
        backend_->SetGlobal(static_cast<int>(i), source_->GetValue(refs_[i]));
    backend_->Evaluate(out);
}

std::string TVeskExprPlus::Errors() const {
    if (backend_ && compiled_) return backend_->Errors();
    return errors_;
}

// ---- TROperandDef ---------------------------------------------------------

TROperandDef::~TROperandDef() = default;

std::string TROperandDef::Bind(bool inList) {
    ref.paramIndex = ref.tableIndex = ref.fieldIndex = -1;
    const std::string_view trimmed = TrimView(text);
    if (!trimmed.empty() && trimmed.data() != text.data()) {
        // Keep the place in the statement in step with the trimmed text.
        const size_t lead = static_cast<size_t>(trimmed.data() - text.data());
        if (!textMap.empty())
            textMap.erase(textMap.begin(), textMap.begin() + static_cast<std::ptrdiff_t>(
                                                                 std::min(lead, textMap.size())));
        else if (textPos > 0)
            textPos += static_cast<int>(lead);
    }
    text = std::string(trimmed);
    if (textMap.size() > text.size()) textMap.resize(text.size());
    isList = false;
    listTexts.clear();
    listValues.clear();
    messages.clear();
    auto result = [this] {
        std::string out;
        for (const TTextMessage& m : messages) {
            if (!out.empty()) out += '\n';
            out += m.text;
        }
        return out;
    };
    auto makeList = [this] {
        text.clear();
        kind = okConstant;
        isList = true;
        literalType = 0;
    };

    // The right side of IN: a bracketed list of constants. An unquoted item
    // compares like "=" does; a quoted one matches its text exactly.
    const size_t n = text.size();
    const bool quotedListShape = [&] {
        if (n <= 4 || !((text.front() == '(' && text.back() == ')') ||
                        (text.front() == '[' && text.back() == ']')))
            return false;
        size_t first = 1;
        while (first < n - 1 && IsBlankChar(text[first]))
            ++first;
        size_t last = n - 2;
        while (last > first && IsBlankChar(text[last]))
            --last;
        return first < last && IsQuoteChar(text[first]) && IsQuoteChar(text[last]);
    }();
    if (inList) {
        std::vector<TListItem> items;
        if (SplitBracketedList(text, items)) {
            bool literals = true, unquoted = false;
            for (const TListItem& item : items) {
                if (IsSingleQuotedText(item.text)) continue;
                if (!IsPlainListItem(item.text)) {
                    literals = false;
                    break;
                }
                unquoted = true;
            }
            if (literals && (unquoted || !quotedListShape)) {
                for (const TListItem& item : items) {
                    if (IsSingleQuotedText(item.text))
                        listTexts.push_back(StripQuotes(item.text));
                    else
                        listValues.emplace_back(item.text);
                }
                makeList();
                return {};
            }
        }
    }
    // A bracketed run of quoted texts is a list of texts wherever it stands
    // (the items are read as tokens, so "('a' ,'b')" holds an empty text).
    if (quotedListShape) {
        size_t first = 1;
        while (IsBlankChar(text[first]))
            ++first;
        size_t last = n - 2;
        while (IsBlankChar(text[last]))
            --last;
        ReadInList(std::string_view(text).substr(first, last - first + 1), listTexts);
        makeList();
        return {};
    }
    if (inList) {
        messages.push_back({std::string(sqlmsg::InListExpected) + text, 0});
        makeList();
        return result();
    }

    if (IsLiteral(text) && !IsComputedLiteral(text)) {
        literalType = LiteralType(text);
        if (IsQuotedText(text)) text = StripQuotes(text);
        kind = okConstant;
        return {};
    }

    if (HasOperator(text)) {
        kind = okExpression;
        if (!expr) expr = std::make_unique<TVeskExprPlus>();
        expr->SetExpr(text);
        expr->SetSource(source);
        expr->Prepare();
        messages = expr->Messages();
        return result();
    }

    TOperandRef found;
    if (source) source->Resolve(text, 0, found);
    ref = found;
    if (ref.paramIndex >= 0) {
        kind = okParameter;
    } else if (ref.tableIndex >= 0) {
        kind = okColumn;
    } else {
        messages.push_back({std::string(sqlmsg::UnknownText) + text, 0});
        return result();
    }
    return {};
}

int TROperandDef::StatementPos(int posInText) const {
    const int at = std::max(posInText, 1);
    if (!textMap.empty()) {
        if (static_cast<size_t>(at) <= textMap.size()) return textMap[static_cast<size_t>(at - 1)];
        return textMap.back() + 1;
    }
    if (textPos <= 0) return 0;
    return textPos + std::min(at, static_cast<int>(text.size()) + 1) - 1;
}

const Variant& TROperandDef::Evaluate() {
    switch (kind) {
        case okColumn:
            ++evalCount;
            return source->GetValue(ref);
        case okExpression:
            if (expr) expr->Evaluate(value);
            break;
        case okConstant:
            if (evalCount == 0 && !isList) value.SetString(text);
            break;
        case okParameter:
            if (evalCount == 0 && source) value.Assign(source->GetValue(ref));
            break;
    }
    ++evalCount;
    return value;
}

int TROperandDef::Cost() const {
    if (!source) return 1;
    if (kind == okExpression) {
        int sum = 0;
        if (expr)
            for (const TOperandRef& r : expr->VarRefs())
                sum += source->Cost(r);
        return sum;
    }
    return source->Cost(ref);
}

void TROperandDef::CopyFrom(const TROperandDef& other) {
    value.Assign(other.value);
    listTexts = other.listTexts;
    listValues = other.listValues;
    isList = other.isList;
    textPos = other.textPos;
    textMap = other.textMap;
    messages = other.messages;
    literalType = other.literalType;
    kind = other.kind;
    ref = other.ref;
    source = other.source;
    text = other.text;
    if (other.expr) {
        // A compiled expression is not shared: the copy compiles its own.
        if (!expr) expr = std::make_unique<TVeskExprPlus>();
        expr->SetExpr(other.text);
        expr->SetSource(other.source);
        if (other.expr->Compiled()) expr->Prepare();
    }
}

// ---- Lists ----------------------------------------------------------------

int TParamList::IndexOfName(std::string_view name) const {
    for (size_t i = 0; i < items_.size(); ++i)
        if (SameTextAscii(items_[i].name, name)) return static_cast<int>(i);
    return -1;
}

void TVarDeclareList::Add(const std::string& name, const std::string& typeName) {
    std::string lower = LowerCaseAscii(name);
    if (std::find(lowerNames_.begin(), lowerNames_.end(), lower) != lowerNames_.end()) return;
    lowerNames_.push_back(std::move(lower));
    items_.emplace_back(name, typeName);
}

std::string TVarDeclareList::ToText() const {
    std::string out;
    for (const auto& [name, type] : items_) {
        out += name;
        out += ':';
        out += type;
        out += ";\r\n";
    }
    return out;
}

// ---- Helpers --------------------------------------------------------------

std::string NormalizeName(std::string_view text) {
    std::string out(text);
    TQuoteScanner scan;
    for (char& c : out)
        if (scan.Step(c) != TQuoteScanner::TByte::Quoted) c = LowerAscii(c);
    return out;
}

std::string StripQuotes(std::string_view text) {
    std::string_view s = TrimView(text);
    if (s.size() >= 2 && IsQuoteChar(s.front()) && s.back() == s.front())
        s = s.substr(1, s.size() - 2);
    return std::string(s);
}

bool HasOperator(std::string_view text) {
    static constexpr std::string_view kWordOperators[] = {"div", "mod", "and", "or",
                                                          "xor", "not", "like"};
    TQuoteScanner scan;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (scan.Step(c) == TQuoteScanner::TByte::Quoted) {
            continue;
        } else if (c == '+' || c == '-' || c == '*' || c == '/' || c == '(' || c == '<' ||
                   c == '>' || c == '=') {
            return true;
        } else if (!IsSeparator(c) && (i == 0 || IsSeparator(text[i - 1]))) {
            // A word starts here: is it a word operator?
            size_t end = i;
            while (end < text.size() && !IsSeparator(text[end]))
                ++end;
            const std::string_view word = text.substr(i, end - i);
            for (std::string_view op : kWordOperators)
                if (SameTextAscii(word, op)) return true;
        }
    }
    return false;
}

bool IsWellFormedNumber(std::string_view text) {
    const std::string_view t = TrimView(text);
    size_t i = 0;
    if (i < t.size() && (t[i] == '-' || t[i] == '+')) ++i;
    const size_t digits = i;
    while (i < t.size() && IsDigitChar(t[i]))
        ++i;
    if (i == digits) return false;
    if (i < t.size() && t[i] == '.') {
        ++i;
        while (i < t.size() && IsDigitChar(t[i]))
            ++i;
    }
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        if (i < t.size() && (t[i] == '-' || t[i] == '+')) ++i;
        const size_t exponent = i;
        while (i < t.size() && IsDigitChar(t[i]))
            ++i;
        if (i == exponent) return false;
    }
    return i == t.size();
}

bool IsSingleQuotedText(std::string_view text) {
    const std::string_view t = TrimView(text);
    if (t.size() < 2 || !IsQuoteChar(t.front())) return false;
    return t.find(t.front(), 1) == t.size() - 1;
}

bool IsComputedLiteral(std::string_view text) {
    const std::string_view t = TrimView(text);
    if (t.empty() || !HasOperator(t)) return false;
    if (IsQuoteChar(t.front())) return !IsSingleQuotedText(t);
    const size_t first = t.front() == '-' ? 1 : 0;
    if (first < t.size() && IsDigitChar(t[first]))
        return !IsWellFormedNumber(t) && !IsDateLiteral(t);
    return false;
}

int FindAggregateCall(std::string_view text, std::string& name) {
    static constexpr std::string_view kAggregates[] = {"count", "sum", "min", "max", "avg"};
    TQuoteScanner scan;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        // Only the first byte of a word is looked at: the rest are no
        // quotes (quotes separate words), so the scanner may read them too.
        if (scan.Step(c) == TQuoteScanner::TByte::Quoted) continue;
        if (IsSeparator(c) || (i > 0 && !IsSeparator(text[i - 1]))) continue;
        size_t end = i;
        while (end < text.size() && !IsSeparator(text[end]))
            ++end;
        const std::string_view word = text.substr(i, end - i);
        size_t next = end;
        while (next < text.size() && IsBlankChar(text[next]))
            ++next;
        if (next < text.size() && text[next] == '(')
            for (std::string_view aggregate : kAggregates)
                if (SameTextAscii(word, aggregate)) {
                    name = std::string(word);
                    return static_cast<int>(i) + 1;
                }
    }
    return 0;
}

int CheckRegexpLiterals(std::string_view text, std::string& detail) {
    static constexpr std::string_view kFunctions[] = {"regexp_like", "regexp_substr",
                                                      "regexp_replace", "contains_regexp"};
    TQuoteScanner scan;
    for (size_t i = 0; i < text.size(); ++i) {
        if (scan.Step(text[i]) == TQuoteScanner::TByte::Quoted) continue;
        if (IsSeparator(text[i]) || (i > 0 && !IsSeparator(text[i - 1]))) continue;
        size_t end = i;
        while (end < text.size() && !IsSeparator(text[end]))
            ++end;
        const std::string_view word = text.substr(i, end - i);
        size_t open = end;
        while (open < text.size() && IsBlankChar(text[open]))
            ++open;
        bool known = false;
        for (std::string_view f : kFunctions)
            known = known || SameTextAscii(word, f);
        if (!known || open >= text.size() || text[open] != '(') continue;
        // The arguments: split at commas at depth 1 outside quotes.
        std::vector<std::pair<size_t, size_t>> args;  // [start, end) in text
        TQuoteScanner inner(false, 1);
        size_t start = open + 1;
        size_t k = open + 1;
        for (; k < text.size(); ++k) {
            const TQuoteScanner::TByte b = inner.Step(text[k]);
            if (b == TQuoteScanner::TByte::Close && inner.Depth() == 0) break;
            if (b == TQuoteScanner::TByte::Plain && inner.Depth() == 1 && text[k] == ',') {
                args.emplace_back(start, k);
                start = k + 1;
            }
        }
        if (k >= text.size()) return 0;  // unbalanced: the compiler said so
        args.emplace_back(start, k);
        auto literal = [&](size_t a, std::string& value, size_t& at) {
            if (a >= args.size()) return false;
            const std::string_view raw = text.substr(args[a].first, args[a].second - args[a].first);
            const std::string_view arg = TrimView(raw);
            if (!IsSingleQuotedText(arg)) return false;
            value = StripQuotes(arg);
            at = args[a].first + static_cast<size_t>(arg.data() - raw.data());
            return true;
        };
        std::string pattern, rewrite, error;
        size_t patternAt = 0, rewriteAt = 0;
        // contains_regexp's pattern is its last argument (after the file,
        // given as one text or two); the others' is the second.
        const size_t patternArg =
            SameTextAscii(word, "contains_regexp") && args.size() == 3 ? 2 : 1;
        if (!literal(patternArg, pattern, patternAt)) continue;
        std::shared_ptr<const TRegexp> re = CachedRegexp(pattern, error);
        if (!re) {
            detail = FormatMsg(sqlmsg::RegexpInvalid, pattern) + error;
            return static_cast<int>(patternAt) + 1;
        }
        std::string replaced;
        if (SameTextAscii(word, "regexp_replace") && literal(2, rewrite, rewriteAt) &&
            !re->ReplaceAll("", rewrite, replaced, error)) {
            detail = FormatMsg(sqlmsg::RewriteInvalid, rewrite) + error;
            return static_cast<int>(rewriteAt) + 1;
        }
    }
    return 0;
}

void SortIntList(std::vector<int>& list, bool descending) {
    std::stable_sort(list.begin(), list.end());
    if (descending) std::reverse(list.begin(), list.end());
}

}  // namespace corvane

#include "engine/UveskBase.h"

#include <algorithm>
#include <utility>

#include "engine/UVeskEngine.h"
#include "platform/Text.h"
#include "script/compiler/qv_consts.h"
#include "script/compiler/u_functions_consts.h"
#include "script/runtime/u_expr.h"

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
    void SetExpr(const std::string& text) override { expr_.SetExpr(text); }
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

  private:
    TXExpression expr_;
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

// ---- TVeskExprPlus --------------------------------------------------------

TVeskExprPlus::TVeskExprPlus() = default;
TVeskExprPlus::~TVeskExprPlus() = default;

std::string TVeskExprPlus::Prepare() {
    compiled_ = false;
    refs_.clear();
    names_.clear();
    errors_.clear();
    if (source_) source_->Prepare();
    if (!Factory()) {
        errors_ = std::string(kExpressionUnavailable) + text_;
        return errors_;
    }
    backend_ = Factory()();
    if (!backend_) {
        errors_ = std::string(kExpressionUnavailable) + text_;
        return errors_;
    }
    backend_->SetGlobalDeclarations(source_ ? source_->GetDeclarations() : std::string());
    // A script loop inside an expression stops when the query is cancelled.
    if (source_) backend_->SetCancelCheck([source = source_] { return source->Cancelled(); });
    backend_->SetExpr(text_);
    errors_ = backend_->Compile();
    if (!errors_.empty()) return errors_;
    compiled_ = true;
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
        if (errors_.empty()) errors_ = "目标代码无效。";
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

std::string TROperandDef::Bind() {
    ref.paramIndex = ref.tableIndex = ref.fieldIndex = ref.subQueryIndex = ref.variableIndex = -1;
    text = Trim(text);
    isList = false;
    listTexts.clear();

    // An IN list: a bracketed run of quoted texts. Lists of unquoted values
    // are not lists; they are bound as expressions below.
    const size_t n = text.size();
    if (n > 4 && ((text.front() == '(' && text.back() == ')') ||
                  (text.front() == '[' && text.back() == ']'))) {
        size_t first = 1;
        while (first < n - 1 && IsBlankChar(text[first]))
            ++first;
        size_t last = n - 2;
        while (last > first && IsBlankChar(text[last]))
            --last;
        if (first < last && IsQuoteChar(text[first]) && IsQuoteChar(text[last])) {
            ReadInList(std::string_view(text).substr(first, last - first + 1), listTexts);
            text.clear();
            kind = okConstant;
            isList = true;
            literalType = 0;
            return {};
        }
    }

    if (IsLiteral(text)) {
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
        return expr->Prepare();
    }

    TOperandRef found;
    if (source) source->Resolve(text, 0, found);
    ref = found;
    if (ref.paramIndex >= 0) {
        kind = okParameter;
    } else if (ref.tableIndex >= 0) {
        kind = okColumn;
    } else if (ref.subQueryIndex >= 0) {
        kind = okSubQuery;
    } else if (ref.variableIndex >= 0) {
        kind = okVariable;
    } else {
        return "不认识的字符串：" + text;
    }
    return {};
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
        case okVariable:
            if (evalCount == 0 && source) value.Assign(source->GetValue(ref));
            break;
        case okSubQuery:
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
    isList = other.isList;
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

TSubSQLList::TSubSQLList() = default;
TSubSQLList::~TSubSQLList() = default;

TVeskEngineBase* TSubSQLList::Item(int index) const {
    if (index < 0 || index >= Count()) return nullptr;
    return items_[static_cast<size_t>(index)].get();
}

int TSubSQLList::IndexOfName(std::string_view name) const {
    for (size_t i = 0; i < items_.size(); ++i)
        if (SameTextAscii(items_[i]->EngineName, name)) return static_cast<int>(i);
    return -1;
}

void TSubSQLList::Add(std::unique_ptr<TVeskEngineBase> engine) {
    if (engine) items_.push_back(std::move(engine));
}

void TSubSQLList::Clear() {
    items_.clear();
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

bool TypeCodeOfName(std::string_view name, int& code) {
    static const std::pair<std::string_view, int> kNames[] = {
        {"integer", 1}, {"word", 2},    {"byte", 3}, {"string", 4},   {"char", 5}, {"float", 6},
        {"double", 6},  {"boolean", 7}, {"date", 8}, {"datetime", 8}, {"any", 9},  {"variant", 9}};
    for (const auto& [n, c] : kNames)
        if (n == name) {
            code = c;
            return true;
        }
    return false;
}

std::string NormalizeName(std::string_view text) {
    std::string out(text);
    char quote = 0;
    for (char& c : out) {
        if (quote) {
            if (c == quote) quote = 0;
        } else if (IsQuoteChar(c)) {
            quote = c;
        } else {
            c = LowerAscii(c);
        }
    }
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
    char quote = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quote) {
            if (c == quote) quote = 0;
        } else if (IsQuoteChar(c)) {
            quote = c;
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

void SortIntList(std::vector<int>& list, bool descending) {
    std::stable_sort(list.begin(), list.end());
    if (descending) std::reverse(list.begin(), list.end());
}

}  // namespace corvane

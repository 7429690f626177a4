#include "script/runtime/u_expr.h"

#include "platform/Text.h"
#include "script/runtime/qv_build.h"

namespace corvane {

namespace {

// The script language's word delimiters (besides a line end).
bool IsDelimiter(char c) {
    switch (c) {
        case ' ':
        case '\t':
        case '\r':
        case '\n':
        case '"':
        case '&':
        case '\'':
        case '(':
        case ')':
        case '*':
        case '+':
        case ',':
        case '-':
        case '/':
        case ':':
        case ';':
        case '<':
        case '=':
        case '>':
        case '[':
        case ']':
        case '^':
            return true;
        default:
            return false;
    }
}

// The end (exclusive) of the token starting at i: a quoted literal up to its
// closing quote on the same line (or the line's end), a word up to the next
// delimiter or "..", a ".." or a single delimiter.
size_t TokenEnd(std::string_view s, size_t i) {
    const size_t n = s.size();
    char c = s[i];
    if (c == '\'' || c == '"') {
        size_t k = i + 1;
        while (k < n && s[k] != c && s[k] != '\n' && s[k] != '\r')
            ++k;
        return k < n && s[k] == c ? k + 1 : k;
    }
    if (s.substr(i, 2) == "..") return i + 2;
    if (IsDelimiter(c)) return i + 1;
    size_t k = i;
    while (k < n && !IsDelimiter(s[k]) && s.substr(k, 2) != "..")
        ++k;
    return k;
}

}  // namespace

std::string RewriteExternalNames(std::string_view expr, const TExternalMap& map) {
    std::string text(expr);
    for (const TExternalMapEntry& e : map) {
        std::string listed = LowerCaseAscii(e.ListedName);
        if (listed.empty()) continue;
        std::string lower = LowerCaseAscii(text);
        size_t i = 0;
        while (i < text.size()) {
            size_t end = TokenEnd(lower, i);
            if (std::string_view(lower).substr(i, end - i) == listed) {
                text.replace(i, end - i, e.PrivateName);
                lower.replace(i, end - i, LowerCaseAscii(e.PrivateName));
                // Go on after the inserted name: a name is never looked at
                // twice, so no listing can make the renaming loop.
                i += e.PrivateName.size();
            } else {
                i = end;
            }
        }
    }
    return text;
}

std::vector<std::string> GenerateExpressionProgram(std::string_view expr,
                                                   const std::vector<std::string>& externals,
                                                   const std::vector<std::string>& externalFuncs,
                                                   const std::vector<std::string>& gvarDefs,
                                                   TExternalMap& map) {
    std::vector<std::string> lines;
    lines.push_back("interface");
    lines.push_back("const PI=3.1415926;");
    for (const std::string& line : externalFuncs) {
        std::string decl = Trim(line);
        if (decl.empty()) continue;
        if (decl.back() == ';') decl.pop_back();
        lines.push_back(decl + " External;");
    }
    if (!gvarDefs.empty()) {
        lines.push_back("var ");
        for (const std::string& line : gvarDefs)
            lines.push_back(line);
    }
    const std::string head = std::string("function ") + kExprFuncName + ":variant;";
    lines.push_back(head);
    lines.push_back("implementation");
    lines.push_back(head);

    map.clear();
    std::string declarations;
    for (size_t k = 0; k < externals.size(); ++k) {
        const std::string& line = externals[k];
        if (TrimView(line).empty()) continue;
        size_t colon = line.find(':');
        std::string privateName = "_E_" + std::to_string(k);
        // Without a colon the listed name is empty (it never matches) and
        // the whole line follows the private name.
        std::string listed = colon == std::string::npos ? std::string() : line.substr(0, colon);
        std::string rest = colon == std::string::npos ? line : line.substr(colon);
        if (!rest.empty() && rest.back() == ';') rest.pop_back();
        map.push_back({privateName, listed});
        declarations += privateName + rest + " external;";
    }
    lines.push_back(declarations.empty() ? std::string() : "var " + declarations);
    lines.push_back("begin");
    lines.push_back("result:=" + RewriteExternalNames(expr, map) + ";");
    lines.push_back("end;");
    lines.push_back("end.");
    return lines;
}

// ---------------------------------------------------------------------------
// TXExpression

TXExpression::TXExpression() : program_(std::make_unique<TProgram>()) {
    // The program's accessors serve every external variable of the
    // generated program: they map the private name back to the listed one.
    program_->SetOnGetValue([this](const std::string& name, Variant& value) {
        const TExternalMapEntry* e = EntryOf(name);
        if (e && onGetValue) onGetValue(e->ListedName, value);
    });
    program_->SetOnSetValue([this](const std::string& name, const Variant& value) {
        const TExternalMapEntry* e = EntryOf(name);
        if (e && OnSetValue) OnSetValue(e->ListedName, value);
    });
}

TXExpression::~TXExpression() = default;

const TExternalMapEntry* TXExpression::EntryOf(const std::string& varName) const {
    if (varName.size() <= 3) return nullptr;
    std::string_view digits = std::string_view(varName).substr(3);
    for (const TExternalMapEntry& e : externalMap_)
        if (std::string_view(e.PrivateName).substr(3) == digits) return &e;
    return nullptr;
}

void TXExpression::SetExpr(std::string text) {
    if (text == expr_) return;
    expr_ = std::move(text);
    dirty_ = true;
}

void TXExpression::SetExternals(std::vector<std::string> lines) {
    externals_ = std::move(lines);
    dirty_ = true;
}

void TXExpression::SetExternalFuncs(std::vector<std::string> lines) {
    externalFuncs_ = std::move(lines);
    dirty_ = true;
}

std::string TXExpression::ErrorText() const {
    std::string out;
    for (size_t i = 0; i < errors_.size(); ++i) {
        if (i) out += "\n";
        out += errors_[i];
    }
    return out;
}

std::string TXExpression::Compile() {
    std::vector<std::string> lines =
        GenerateExpressionProgram(expr_, externals_, externalFuncs_, gvarDefs_, externalMap_);
    TBuildObj builder;
    try {
        if (!builder.Build(lines, kExprFuncName)) {
            errors_ = builder.ErrorTexts();
            return ErrorText();
        }
    } catch (const std::exception& e) {
        errors_ = builder.ErrorTexts();
        if (errors_.empty()) errors_.push_back(e.what());
        return ErrorText();
    }
    TMemoryStream stream;
    builder.Program().SaveToStream(stream);
    if (!program_->LoadFromStream(stream)) {
        errors_ = {kMsgObjectCodeInvalid};
        return ErrorText();
    }
    dirty_ = false;
    compiled_ = true;
    return {};
}

bool TXExpression::Evaluate(Variant& r) {
    errors_.clear();
    if (dirty_) Compile();
    if (!errors_.empty()) return false;
    if (!compiled_) {
        errors_.push_back(kMsgObjectCodeInvalid);
        return false;
    }
    program_->SetMain(0);
    r = program_->ExecuteMain();
    lastValue_.Assign(r);
    return true;
}

Variant TXExpression::Evaluate() {
    Variant r;
    Evaluate(r);
    return r;
}

void TXExpression::Assign(const TXExpression& source) {
    if (!source.program_) return;
    TMemoryStream stream;
    source.program_->SaveToStream(stream);
    if (source.program_->Loaded())
        program_->LoadFromStream(stream);
    else
        program_->Reset();
    program_->onExternalFunc = source.program_->onExternalFunc;
    onGetValue = source.onGetValue;
    OnSetValue = source.OnSetValue;
    expr_ = source.expr_;
    compiled_ = source.compiled_;
    errors_ = source.errors_;
    externalMap_ = source.externalMap_;
}

}  // namespace corvane

#include "script/runtime/u_expr.h"

#include <algorithm>

#include "platform/Text.h"
#include "script/common/BuiltinHeads.h"
#include "script/common/U_err.h"
#include "script/common/u_functions_consts.h"
#include "script/common/u_keywords.h"
#include "script/runtime/qv_build.h"

namespace corvane {

namespace {

// Words are delimited by the separator set of the text helpers
// (IsSeparator).

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
    if (IsSeparator(c)) return i + 1;
    size_t k = i;
    while (k < n && !IsSeparator(s[k]) && s.substr(k, 2) != "..")
        ++k;
    return k;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// A byte below the blank (or DEL) that is not a blank: the compiler's line
// reader would pass it on into names and literals.
bool IsControl(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return (u < 0x20 || u == 0x7f) && !IsBlank(c);
}

// "12e", "1.5E": a number that an exponent sign continues ("12e-3").
bool IsExponentStem(std::string_view w) {
    if (w.size() < 2 || (w.back() != 'e' && w.back() != 'E') || !IsDigit(w.front())) return false;
    bool point = false;
    for (size_t i = 0; i + 1 < w.size(); ++i) {
        if (IsDigit(w[i])) continue;
        if (w[i] != '.' || point) return false;
        point = true;
    }
    return true;
}

// The reserved words an expression may use: its word operators and the type
// names, which convert ("integer(x)").
bool IsExpressionWord(std::string_view lower) {
    static constexpr std::string_view kWords[] = {
        "and",  "or",       "not",    "div",   "mod",     "like",   "any",    "bealoon",
        "char", "datetime", "double", "float", "integer", "string", "variant"};
    for (std::string_view w : kWords)
        if (w == lower) return true;
    return false;
}

// "Compile: line 12:text" -> 12 and "text"; false for any other form.
bool SplitRenderedDiagnostic(std::string_view rendered, int& line, std::string& text) {
    static constexpr std::string_view kLine = ": line ";
    const size_t at = rendered.find(kLine);
    if (at == std::string_view::npos) return false;
    size_t k = at + kLine.size();
    const bool negative = k < rendered.size() && rendered[k] == '-';
    if (negative) ++k;
    const size_t digits = k;
    long long value = 0;
    while (k < rendered.size() && IsDigit(rendered[k]) && value < 1000000000) {
        value = value * 10 + (rendered[k] - '0');
        ++k;
    }
    if (k == digits || k >= rendered.size() || rendered[k] != ':') return false;
    line = static_cast<int>(negative ? -value : value);
    text = std::string(rendered.substr(k + 1));
    return true;
}

}  // namespace

int CheckSingleExpression(std::string_view s, std::string& detail) {
    const size_t n = s.size();
    std::vector<std::pair<char, size_t>> open;  // open brackets and where they stand
    auto fault = [&](size_t at, std::string text) {
        detail = std::move(text);
        return static_cast<int>(at) + 1;
    };
    size_t i = 0;
    while (i < n) {
        const char c = s[i];
        if (c == '\'' || c == '"') {
            // A literal ends at its quote on the same line, as the compiler
            // reads it.
            size_t k = i + 1;
            while (k < n && s[k] != c && s[k] != '\n' && s[k] != '\r')
                ++k;
            if (k >= n || s[k] != c) return fault(i, kMsgQuoteNotClosed);
            i = k + 1;
            continue;
        }
        if (IsBlank(c)) {
            ++i;
            continue;
        }
        if (IsControl(c)) return fault(i, kMsgControlCharacter);
        const std::string_view two = s.substr(i, 2);
        if (two == "(*" || two == "*)" || two == "//")
            return fault(i, FormatMsg(kMsgOnlyOneExpression, two));
        if (c == ';' || c == ':' || c == '{' || c == '}')
            return fault(i, FormatMsg(kMsgOnlyOneExpression, s.substr(i, 1)));
        if (c == '(' || c == '[') {
            open.emplace_back(c, i);
            ++i;
            continue;
        }
        if (c == ')' || c == ']') {
            if (open.empty() || open.back().first != (c == ')' ? '(' : '['))
                return fault(i, kMsgBracketsDoNotMatch);
            open.pop_back();
            ++i;
            continue;
        }
        if (IsSeparator(c)) {
            ++i;
            continue;
        }
        // A word; each of its dotted parts is looked at ("t.end" hides "end").
        size_t end = i;
        while (end < n && !IsSeparator(s[end]) && !IsControl(s[end]) && s[end] != '{' &&
               s[end] != '}')
            ++end;
        size_t part = i;
        while (part < end) {
            size_t dot = part;
            while (dot < end && s[dot] != '.')
                ++dot;
            const std::string_view word = s.substr(part, dot - part);
            if (!word.empty() && IsKeyword(word) && !IsExpressionWord(LowerCaseAscii(word)))
                return fault(part, FormatMsg(kMsgOnlyOneExpression, word));
            part = dot + 1;
        }
        i = end;
    }
    if (!open.empty()) return fault(open.back().second, kMsgBracketsDoNotMatch);
    return 0;
}

std::string SpreadExpression(std::string_view s, std::vector<int>& lineStarts) {
    lineStarts.clear();
    std::string out;
    const size_t n = s.size();
    size_t i = 0;
    while (i < n) {
        const char c = s[i];
        if (IsBlank(c)) {
            ++i;
            continue;
        }
        size_t end;
        const std::string_view two = s.substr(i, 2);
        if (c == '\'' || c == '"') {
            end = TokenEnd(s, i);
        } else if (two == "<>" || two == "<=" || two == ">=" || two == ":=" || two == "..") {
            end = i + 2;
        } else if (IsSeparator(c)) {
            end = i + 1;
        } else {
            end = TokenEnd(s, i);
            if (IsExponentStem(s.substr(i, end - i)) && end + 1 < n &&
                (s[end] == '+' || s[end] == '-') && IsDigit(s[end + 1]))
                end = TokenEnd(s, end + 1);
            if (end < n && s[end] == '(') ++end;
        }
        out.append(s, i, end - i);
        out += '\n';
        lineStarts.push_back(static_cast<int>(i) + 1);
        i = end;
    }
    lineStarts.push_back(static_cast<int>(n) + 1);
    return out;
}

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
                                                   TExternalMap& map, int* exprLine) {
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
    if (exprLine) *exprLine = static_cast<int>(lines.size()) + 1;
    // One program line per expression line, so that the compiler's line
    // numbers tell the host which line of its text a diagnostic is about.
    const std::string rewritten = RewriteExternalNames(expr, map);
    std::string line = "result:=";
    for (size_t start = 0;;) {
        const size_t feed = rewritten.find('\n', start);
        if (feed == std::string::npos) {
            line.append(rewritten, start);
            break;
        }
        line.append(rewritten, start, feed - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        line.clear();
        start = feed + 1;
    }
    lines.push_back(line + ";");
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
    errors_.clear();
    diagnostics_.clear();
    int firstLine = 0;
    std::vector<std::string> lines = GenerateExpressionProgram(expr_, externals_, externalFuncs_,
                                                               gvarDefs_, externalMap_, &firstLine);
    // A text that is more than one expression never reaches the compiler:
    // pasted after "result:=" it would run as statements of its own.
    std::string detail;
    if (const int at = CheckSingleExpression(expr_, detail)) {
        const int line =
            1 + static_cast<int>(std::count(expr_.begin(), expr_.begin() + (at - 1), '\n'));
        errors_.push_back("Compile: line " + std::to_string(firstLine + line - 1) + ":" + detail);
        diagnostics_.push_back({line, detail});
        return ErrorText();
    }
    TBuildObj builder;
    auto takeErrors = [&] {
        errors_ = builder.ErrorTexts();
        const int exprLines = 1 + static_cast<int>(std::count(expr_.begin(), expr_.end(), '\n'));
        for (const std::string& rendered : errors_) {
            TExprDiagnostic d;
            int programLine = 0;
            if (SplitRenderedDiagnostic(rendered, programLine, d.text)) {
                const int line = programLine - firstLine + 1;
                d.line = line >= 1 && line <= exprLines ? line : 0;
            } else {
                d.text = rendered;
            }
            diagnostics_.push_back(std::move(d));
        }
    };
    try {
        if (!builder.Build(lines, kExprFuncName)) {
            takeErrors();
            return ErrorText();
        }
    } catch (const std::exception& e) {
        takeErrors();
        if (errors_.empty()) {
            errors_.push_back(e.what());
            diagnostics_.push_back({0, e.what()});
        }
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
    diagnostics_ = source.diagnostics_;
    externalMap_ = source.externalMap_;
}

bool TXExpression::ReadsFileContents() const {
    if (!compiled_) return false;
    const std::shared_ptr<const TBuiltinHeads> heads = TBuiltinHeads::Acquire();
    const TFuncDefList& funcs = program_->Image().Funcs;
    for (int f = 0; f < funcs.Count(); ++f)
        for (const TQVInstruction& ins : funcs.Get(f).code) {
            // A linked call: Imm is the function number, negative for a
            // built-in.
            if (ins.OpCode != opCallPrep) continue;
            const int64_t number = -static_cast<int64_t>(static_cast<int32_t>(ins.Imm));
            if (number >= 1 && number < heads->Count() &&
                heads->Head(static_cast<int>(number)).ReadsContent)
                return true;
        }
    return false;
}

}  // namespace corvane

#include "script/compiler/u_compile.h"

#include <cstring>
#include <limits>

#include "platform/Text.h"
#include "platform/Variant.h"
#include "script/compiler/qv_consts.h"
#include "script/compiler/u_functions_consts.h"

namespace corvane {

namespace {

// Used units compiled from source inside one another: past this depth a
// further source is not compiled (a chain of distinct units this long is no
// real program, and each level costs stack).
constexpr size_t kMaxUnitNesting = 16;

constexpr std::string_view kExpectSemiOrColon = ";”或者“:";
constexpr std::string_view kExpectSemiOrParen = ";”或者“)";
constexpr std::string_view kExpectSemiOrExternal = ";”或者“External";
constexpr std::string_view kExpectSemiOrEnd = ";”或者“end";
constexpr std::string_view kExpectElseOrSemi = "else”或者“;";
constexpr std::string_view kExpectToOrDownto = "to”或者“downto";
constexpr std::string_view kExpectLabelEnd = ",”，“..”，“:";
constexpr std::string_view kExpectBoolean = "布尔表达式";

Taddr LocalAddr(int slot) {
    Taddr a;
    a.Kind = akLocal;
    a.Index = slot;
    return a;
}

Taddr NoDest() {
    return LocalAddr(-1);
}

Taddr CalleeAddr(int slot) {
    Taddr a;
    a.Kind = akCallee;
    a.Index = slot;
    return a;
}

TQVInstruction Make(TOpCode op, const Taddr& dest = {}, const Taddr& src1 = {},
                    const Taddr& src2 = {}, int32_t imm = 0) {
    TQVInstruction i;
    i.OpCode = op;
    i.Dest = dest;
    i.Src1 = src1;
    i.Src2 = src2;
    i.Imm = imm;
    return i;
}

TQVInstruction Jump(TOpCode op, int32_t target = kNoJump) {
    return Make(op, {}, {}, {}, target);
}

bool IsJump(const TQVInstruction& i) {
    return i.OpCode == opJmp || i.OpCode == opJmpTrue;
}

bool SameOperand(const Taddr& a, const Taddr& b) {
    if (a.Kind != b.Kind || a.Module != b.Module || a.Index != b.Index) return false;
    if ((a.Indexed != 0) != (b.Indexed != 0)) return false;
    return !a.Indexed || a.IndexVar == b.IndexVar;
}

// Words that end a var or const section.
bool EndsSection(std::string_view w) {
    return w == "begin" || w == "function" || w == "procedure" || w == "var" ||
           w == "initialization" || w == "implementation" || w == "const" || w == "label";
}

bool StartsWith(std::string_view s, std::string_view p) {
    return s.substr(0, p.size()) == p;
}

bool IsHeaderLine(std::string_view text) {
    return StartsWith(text, "function ") || StartsWith(text, "procedure ") ||
           text == "initialization";
}

bool IsEndLine(std::string_view text) {
    return StartsWith(text, "end.");
}

// The function name on a body's first line, exactly as written.
std::string HeaderName(std::string_view text) {
    if (text == "initialization") return "initialization";
    size_t p = StartsWith(text, "function ") ? 9 : 10;
    while (p < text.size() && text[p] == ' ')
        ++p;
    size_t e = p;
    while (e < text.size() && text[e] != ' ' && text[e] != '(' && text[e] != ':' && text[e] != ';')
        ++e;
    return std::string(text.substr(p, e - p));
}

std::string Unquote(std::string_view s) {
    if (s.size() >= 2 && (s.front() == '\'' || s.front() == '"'))
        return std::string(s.substr(1, s.size() - 2));
    return std::string(s);
}

// Characters RecoverStatement passes one by one.
bool IsRecoverDelimiter(char c) {
    return c == ' ' || c == '\t' || c == '(' || c == ')' || c == '*' || c == '+' || c == ',' ||
           c == '-' || c == '/' || c == ':' || c == ';' || c == '<' || c == '=' || c == '>' ||
           c == '[' || c == ']';
}

}  // namespace

// ===========================================================================
// Number literals

NumberCheck CheckNumber(std::string_view text, int type) {
    if (!IsNumberText(text)) return NumberCheck::Ok;
    if (type == dtDouble) {
        double d = 0;
        if (TryParseDouble(text, '.', d)) return NumberCheck::Ok;
    } else if (type == dtInteger || type == dtWord) {
        // TryParseInteger also reads a hexadecimal "0x10", which has always
        // loaded as an integer.
        int64_t n = 0;
        if (TryParseInteger(text, n)) return NumberCheck::Ok;
    } else {
        return NumberCheck::Ok;  // a number that reads as a time of day
    }
    return IsNumberLiteral(text) ? NumberCheck::OutOfRange : NumberCheck::Malformed;
}

// ===========================================================================
// Temporaries

bool IsTempName(std::string_view name) {
    return StartsWith(name, "_tmp_");
}

Ttmpmng::Ttmpmng() {
    static const char* const prefixes[9] = {"int", "wrd", "byt", "str", "chr",
                                            "flt", "bln", "dat", "any"};
    for (int i = 0; i < 9; ++i)
        classes_[i].prefix = prefixes[i];
}

void Ttmpmng::Reset(compiler::TvarList* vars) {
    vars_ = vars;
    for (Ttmp_inf& c : classes_)
        c.states.clear();
    ++body_;
}

std::string Ttmpmng::FreeName(const std::string& stem, size_t& number) const {
    // A source may declare a variable named like a temporary; skip such
    // names rather than fail on a repeat.
    while (vars_->IndexOf(stem + std::to_string(number)) >= 0)
        ++number;
    return stem + std::to_string(number);
}

TDataType Ttmpmng::StorageOf(int type) {
    return type == dtWord || type == dtByte ? dtInteger : static_cast<TDataType>(type);
}

int Ttmpmng::Allocate(int type, bool exact) {
    const int cls = (type >= 1 && type <= 9) ? TypeClassOf(type) : dtUnknown;
    if (cls == dtUnknown) {
        size_t number = untyped_.size();
        const std::string name = FreeName("_tmp__", number);
        // Defined as a variant until Retype decides: a definition of type
        // 100 could never be created at run time.
        const int slot = vars_->Add({name, dtVariant});
        Tvar_state s;
        s.Name = name;
        s.inUse = 1;
        s.slot = slot;
        s.DataType = dtUnknown;
        s.body = body_;
        untyped_.push_back(s);
        return slot;
    }
    const TDataType storage = exact ? static_cast<TDataType>(type) : StorageOf(type);
    Ttmp_inf& c = classes_[cls - 1];
    for (Tvar_state& s : c.states) {
        if (s.inUse || s.locked) continue;
        // A reused temporary keeps the definition it was created with, so it
        // is taken only when that definition holds the new value unchanged.
        const TDataType def = (*vars_->defs)[static_cast<size_t>(s.slot)].DataType;
        if (exact ? def != storage : TypePick(def, storage) != 1) continue;
        s.DataType = static_cast<TDataType>(type);
        s.inUse = 1;
        return s.slot;
    }
    size_t number = c.states.size() + 1;
    const std::string name = FreeName("_tmp_" + c.prefix + "_", number);
    const int slot = vars_->Add({name, storage});
    Tvar_state s;
    s.Name = name;
    s.inUse = 1;
    s.slot = slot;
    s.DataType = static_cast<TDataType>(type);
    c.states.push_back(s);
    return slot;
}

void Ttmpmng::Lock(const Taddr& a, bool flag) {
    if (a.Kind != akLocal) return;
    for (Ttmp_inf& c : classes_)
        for (Tvar_state& s : c.states)
            if (s.slot == a.Index) s.locked = flag;
}

int Ttmpmng::TypeOfSlot(int slot) const {
    for (const Ttmp_inf& c : classes_)
        for (const Tvar_state& s : c.states)
            if (s.slot == slot) return s.DataType;
    return -1;
}

void Ttmpmng::Retype(int slot, int type) {
    if (type < 1 || type > 9) return;
    // Only an untyped temporary of this body: slots of earlier bodies mean
    // other variables here.
    const Tvar_state* entry = nullptr;
    for (const Tvar_state& s : untyped_)
        if (s.slot == slot && s.body == body_) entry = &s;
    if (!entry) return;
    Ttmp_inf& c = classes_[type - 1];
    size_t number = c.states.size() + 1;
    const std::string name = FreeName("_tmp_" + c.prefix + "_", number);
    Tvar_state s;
    s.Name = name;
    s.inUse = entry->inUse;
    s.slot = slot;
    s.DataType = static_cast<TDataType>(type);
    c.states.push_back(s);
    Tvardef& def = (*vars_->defs)[static_cast<size_t>(slot)];
    def.Name = name;
    def.DataType = StorageOf(type);
}

Tvar_state* Ttmpmng::StateOf(int slot, int cls) {
    if (cls < 1 || cls > 9) return nullptr;
    for (Tvar_state& s : classes_[cls - 1].states)
        if (s.slot == slot) return &s;
    return nullptr;
}

void Ttmpmng::SetInUse(int slot, bool inUse) {
    if (!vars_ || slot < 0 || slot >= vars_->Count()) return;
    const Tvardef& def = (*vars_->defs)[static_cast<size_t>(slot)];
    if (!IsTempName(def.Name)) return;
    if (Tvar_state* s = StateOf(slot, TypeClassOf(def.DataType))) s->inUse = inUse;
}

void Ttmpmng::Release(const TQVInstruction& ins) {
    const Taddr* ops[3] = {&ins.Dest, &ins.Src1, &ins.Src2};
    for (int k = OperandCount(ins.OpCode) - 1; k >= 0; --k) {
        const Taddr& a = *ops[k];
        if (a.Kind == akLocal) SetInUse(a.Index, k == 0 && ins.OpCode != opTest);
        if (a.Indexed) SetInUse(a.IndexVar, false);
    }
}

void AppendList(TsubList& from, TsubList& to) {
    const int32_t base = static_cast<int32_t>(to.size());
    to.reserve(to.size() + from.size());
    for (TQVInstruction& i : from) {
        if (IsJump(i) && i.Imm >= 0) i.Imm += base;
        to.push_back(std::move(i));
    }
    from.clear();
}

bool RemoveAt(TsubList& list, int j) {
    for (const TQVInstruction& i : list)
        if (IsJump(i) && i.Imm == j) return false;
    for (TQVInstruction& i : list)
        if (IsJump(i) && i.Imm > j) --i.Imm;
    list.erase(list.begin() + j);
    return true;
}

// ===========================================================================
// Scanner

TsourceFile::TsourceFile(TFileAdapter* adapter)
    : compiling(std::make_shared<std::set<std::string>>()), adapter_(adapter) {}

TsourceFile::DepthGuard::DepthGuard(TsourceFile& owner) : owner_(owner) {
    if (++owner_.depth_ > kMaxNesting) {
        owner_.Error(std::string(msg::NestingTooDeep));
        owner_.stop_ = true;
        owner_.fatal_ = true;
        --owner_.depth_;
        throw AbandonBody{};
    }
}

void TsourceFile::SetText(std::string_view text) {
    lines.clear();
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            if (start < text.size()) lines.emplace_back(text.substr(start));
            break;
        }
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.emplace_back(line);
        start = end + 1;
    }
    if (!lines.empty() && !lines.back().empty() && lines.back().back() == '\r')
        lines.back().pop_back();
}

void TsourceFile::BuildLineList() {
    Tcodetxt out;
    bool inQuote = false, inBrace = false;
    char quote = 0;
    for (size_t n = 0; n < lines.size(); ++n) {
        const std::string& src = lines[n];
        std::string t;
        t.reserve(src.size());
        size_t braceStart = 0;  // where in t the open brace comment begins
        for (size_t i = 0; i < src.size(); ++i) {
            const char c = src[i];
            if (inQuote) {
                t += c;
                if (c == quote) inQuote = false;
                continue;
            }
            if (c == '\'' || c == '"') {
                inQuote = true;
                quote = c;
                t += c;
            } else if (c == '/' && i + 1 < src.size() && src[i + 1] == '/') {
                break;
            } else if (c == '{' && !inBrace) {
                inBrace = true;
                braceStart = t.size();
                t += c;
            } else if (c == '}' && inBrace) {
                t.resize(braceStart);
                inBrace = false;
            } else {
                t += c;
            }
        }
        if (inBrace) t.resize(braceStart);
        const std::string_view trimmed = TrimView(t);
        if (!trimmed.empty()) out.push_back({static_cast<int32_t>(n + 1), std::string(trimmed)});
    }
    SetLineList(std::move(out));
}

void TsourceFile::SetLineList(Tcodetxt list) {
    lineList_ = std::move(list);
    lower_.clear();
    lower_.reserve(lineList_.size());
    for (const Tline& l : lineList_)
        lower_.push_back(LowerCaseAscii(l.text));
    pos_ = {};
    endRecorded_ = false;
}

int TsourceFile::LineNo() const {
    if (pos_.lineIndex >= 0 && static_cast<size_t>(pos_.lineIndex) < lineList_.size())
        return lineList_[static_cast<size_t>(pos_.lineIndex)].lineNo;
    return -1;
}

const std::string& TsourceFile::CurLine() const {
    static const std::string empty;
    if (pos_.lineIndex >= 0 && static_cast<size_t>(pos_.lineIndex) < lower_.size())
        return lower_[static_cast<size_t>(pos_.lineIndex)];
    return empty;
}

int TsourceFile::WordLine() {
    // The line of the next word: a message about a word that was only
    // peeked belongs to the word's line, not to the end of the line before.
    const TScanPos save = pos_;
    NextChar();
    const int line = LineNo();
    pos_ = save;
    return line;
}

bool TsourceFile::Stuck(const TScanPos& before) const {
    return before.lineIndex == pos_.lineIndex && before.col == pos_.col;
}

void TsourceFile::RanOut() {
    if (!endRecorded_) {
        Error(std::string(msg::NoProperEnd));
        endRecorded_ = true;
    }
    stop_ = true;
}

bool TsourceFile::AdvanceLine() {
    if (static_cast<size_t>(pos_.lineIndex + 1) >= lineList_.size()) return false;
    ++pos_.lineIndex;
    pos_.col = 1;
    return true;
}

char TsourceFile::NextChar() {
    for (;;) {
        const std::string& l = CurLine();
        const int len = static_cast<int>(l.size());
        if (pos_.col < 1) pos_.col = 1;
        while (pos_.col <= len && IsBlankChar(l[static_cast<size_t>(pos_.col - 1)]))
            ++pos_.col;
        if (pos_.col <= len) return l[static_cast<size_t>(pos_.col++ - 1)];
        if (!AdvanceLine()) return '\0';
    }
}

char TsourceFile::PeekChar() {
    const TScanPos save = pos_;
    const char c = NextChar();
    pos_ = save;
    return c;
}

std::string TsourceFile::NextWord() {
    // word -> quoted-literal | run of characters up to a delimiter or ".."
    if (pos_.col < 1 || pos_.col > static_cast<int>(CurLine().size())) {
        if (!AdvanceLine()) {
            RanOut();
            return {};
        }
    }
    const std::string& l = CurLine();
    const int len = static_cast<int>(l.size());
    while (pos_.col <= len && IsBlankChar(l[static_cast<size_t>(pos_.col - 1)]))
        ++pos_.col;
    if (pos_.col > len) return {};
    const char c = l[static_cast<size_t>(pos_.col - 1)];
    if (c == '\'' || c == '"') {
        const std::string& text = lineList_[static_cast<size_t>(pos_.lineIndex)].text;
        const size_t close = text.find(c, static_cast<size_t>(pos_.col));
        std::string word = ReadQuoted(text, pos_.col);
        pos_.col = close == std::string::npos ? len + 1 : static_cast<int>(close) + 2;
        return word;
    }
    const int start = pos_.col;
    // The sign of a number's exponent belongs to the number: "1e-5" is one
    // word, not "1e" minus 5.
    auto isDigit = [](char ch) { return ch >= '0' && ch <= '9'; };
    auto exponentSign = [&](int col) {
        const size_t at = static_cast<size_t>(col - 1);  // where the sign stands
        if (!isDigit(c) || at + 1 >= l.size() || !isDigit(l[at + 1])) return false;
        // What comes before the sign must be a number up to its "e".
        const std::string before(l, static_cast<size_t>(start - 1), at - (start - 1));
        return !before.empty() && before.back() == 'e' && IsNumberLiteral(before + "0");
    };
    while (pos_.col <= len) {
        const char d = l[static_cast<size_t>(pos_.col - 1)];
        if ((d == '+' || d == '-') && exponentSign(pos_.col)) {
            ++pos_.col;
            continue;
        }
        if (IsSeparator(d)) break;
        if (d == '.' && pos_.col < len && l[static_cast<size_t>(pos_.col)] == '.') break;
        ++pos_.col;
    }
    return std::string(TrimView(std::string_view(l).substr(static_cast<size_t>(start - 1),
                                                           static_cast<size_t>(pos_.col - start))));
}

std::string TsourceFile::PeekWord() {
    const TScanPos save = pos_;
    std::string w = NextWord();
    pos_ = save;
    return w;
}

std::string TsourceFile::ReadConstValue() {
    const std::string& l = CurLine();
    if (pos_.col >= 1 && pos_.col <= static_cast<int>(l.size())) {
        const char c = l[static_cast<size_t>(pos_.col - 1)];
        if (c == '\'' || c == '"') {
            const std::string& text = lineList_[static_cast<size_t>(pos_.lineIndex)].text;
            const size_t close = text.find(c, static_cast<size_t>(pos_.col));
            std::string v = ReadQuoted(text, pos_.col);
            pos_.col = close == std::string::npos ? static_cast<int>(l.size()) + 1
                                                  : static_cast<int>(close) + 2;
            return v;
        }
    }
    return NextWord();
}

bool TsourceFile::SkipToNextBody() {
    // The search starts after the current line: a body's first line is its
    // own header, and no later line of a body starts another one.
    for (size_t i = static_cast<size_t>(std::max(pos_.lineIndex + 1, 0)); i < lineList_.size();
         ++i) {
        const std::string& t = lineList_[i].text;
        if (StartsWith(t, "function ") || StartsWith(t, "procedure ") || t == "end.") {
            pos_ = {static_cast<int>(i), 1};
            return true;
        }
    }
    if (!lineList_.empty()) pos_ = {static_cast<int>(lineList_.size()) - 1, 1};
    fatal_ = true;
    return false;
}

// ===========================================================================
// Compile and the interface part

TClassDefInf& TsourceFile::CurrentFunc() {
    return target->Funcs.Get(funcIndex_);
}

void TsourceFile::Compile() {
    if (!target) {
        errors.Add(0, std::string(msg::InvalidTarget));
        return;
    }
    target->Loaded = false;
    if (lines.empty()) return;
    BuildLineList();
    stop_ = false;
    AdvanceLine();
    CompileInterface();
    if (fatal_) return;
    CompileImplementation();
    if (!fatal_) target->Loaded = errors.Empty();
}

void TsourceFile::CompileInterface() {
    // source -> "interface" { interface-item } "implementation" implementation-lines
    // interface-item -> "uses" unit-list ";" | "var" var-group {var-group}
    //                 | "const" const-decl {const-decl} | header
    consts_.consts = &target->Consts;
    vars_.defs = &target->Globals;
    auto init = std::make_unique<TClassDefInf>();
    init->Name = "initialization";
    init->varDefs = {{"result", dtBoolean}};
    target->Funcs.Add(std::move(init));

    if (NextWord() != "interface") {
        Error(msg::Expected, "interface");
        fatal_ = true;
        return;
    }
    while (!fatal_) {
        const TScanPos before = pos_;
        const std::string w = PeekWord();
        if (stop_) break;
        if (w == "var") {
            NextWord();
            VarSection();
        } else if (w == "uses") {
            NextWord();
            CompileUses();
        } else if (w == "const") {
            NextWord();
            ConstSection();
        } else if (w == "function" || w == "procedure") {
            DeclareFunction();
        } else {
            break;
        }
        if (stop_ || Stuck(before)) break;
    }
    if (stop_) fatal_ = true;
}

void TsourceFile::VarSection() {
    // var-section -> "var" var-group { var-group }
    do {
        const TScanPos before = pos_;
        VarGroup(false, nullptr);
        if (stop_) return;
        if (Stuck(before)) return RanOut();
    } while (!fatal_ && !EndsSection(PeekWord()) && !stop_);
}

void TsourceFile::ConstSection() {
    // const-section -> "const" const-decl { const-decl }
    do {
        const TScanPos before = pos_;
        ConstDecl();
        if (stop_) return;
        if (Stuck(before)) return RanOut();
    } while (!fatal_ && !EndsSection(PeekWord()) && !stop_);
}

void TsourceFile::LabelSection(std::vector<std::string>& labels) {
    // label-section -> "label" name { name }
    for (;;) {
        const std::string w = PeekWord();
        if (stop_ || w.empty()) return;  // a delimiter ends the section
        if (w == "begin" || w == "var" || w == "const" || w == "label") return;
        NextWord();
        bool known = false;
        for (const std::string& l : labels)
            known = known || l == w;
        if (known) {
            Error(msg::LabelDeclaredTwice, w);
        } else if (labels.size() == static_cast<size_t>(kMaxLabels)) {
            Error(FormatMsg(msg::TooManyLabels, kMaxLabels));
            labels.push_back(w);  // reported once; later labels pass silently
        } else if (labels.size() < static_cast<size_t>(kMaxLabels)) {
            labels.push_back(w);
        }
    }
}

bool TsourceFile::VarGroup(bool paramMode, TvarDeflist* added) {
    // var-group -> name { "," name } ":" ( type-name | "array" "[" N "]" "of" type-name )
    //              [ "external" ] ";"          (parameter mode: no external, no ";")
    auto fail = [&](std::string text) {
        Error(std::move(text));
        AdvanceLine();
        return false;
    };
    std::vector<std::string> names;
    for (;;) {
        const std::string name = NextWord();
        if (stop_) return false;
        if (!IsIdentifier(name)) return fail(FormatMsg(msg::NotIdentifier, name));
        if (vars_.IndexOf(name) >= 0) return fail(FormatMsg(msg::VarExists, name));
        names.push_back(name);
        const char c = NextChar();
        if (c == ',') continue;
        if (c == ':') break;
        return fail(FormatMsg(msg::Expected, kExpectSemiOrColon));
    }
    const std::string tw = NextWord();
    TDataType type = dtNone;
    int32_t size = 1;
    if (TypeCodeOf(tw, type)) {
    } else if (tw == "array") {
        if (NextChar() != '[') return fail(FormatMsg(msg::Expected, "["));
        const std::string nw = NextWord();
        int64_t n = 0;
        if (!TryParseInteger(nw, n) || n < std::numeric_limits<int32_t>::min())
            return fail(nw + std::string(msg::NotInteger));
        if (n > kMaxArrayElements) return fail(FormatMsg(msg::ArrayTooLarge, kMaxArrayElements));
        if (NextChar() != ']') return fail(FormatMsg(msg::Expected, "]"));
        if (NextWord() != "of") return fail(FormatMsg(msg::Expected, "of"));
        if (!TypeCodeOf(NextWord(), type)) return fail(FormatMsg(msg::TypeAfter, "of"));
        size = static_cast<int32_t>(n);
    } else {
        return fail(FormatMsg(msg::UnknownType, tw));
    }
    const char c = PeekChar();
    if (c == ')') {
        if (!paramMode) return fail(FormatMsg(msg::Expected, kExpectSemiOrExternal));
    } else if (c != ';') {
        if (paramMode) return fail(FormatMsg(msg::Expected, kExpectSemiOrParen));
        if (NextWord() != "external") return fail(FormatMsg(msg::Expected, kExpectSemiOrExternal));
        size = 0;
        if (NextChar() != ';') return fail(FormatMsg(msg::Expected, kExpectSemiOrParen));
    } else if (!paramMode) {
        NextChar();
    }
    for (const std::string& name : names) {
        const Tvardef def(name, type, "", 0, size);
        vars_.Add(def);  // a name twice in this group raises and ends the compilation
        if (added) added->push_back(def);
    }
    return true;
}

void TsourceFile::ConstDecl() {
    // const-decl -> name "=" value ";"
    const std::string name = NextWord();
    if (stop_) return;
    if (!IsIdentifier(name)) {
        Error(msg::NotIdentifier, name);
        AdvanceLine();
        return;
    }
    if (consts_.IndexOf(name) >= 0) {
        Error(msg::Repeated, name);
        AdvanceLine();
        return;
    }
    if (NextChar() != '=') {
        Error(msg::Expected, "=");
        AdvanceLine();
        return;
    }
    const std::string value = ReadConstValue();
    if (NextChar() != ';') Error(msg::Expected, ";");
    consts_.Add(name, value);
}

void TsourceFile::CompileUses() {
    // uses-clause -> "uses" unit-name { "," unit-name } ";"
    TusedFileList& used = target->UsedUnits;
    while (!fatal_) {
        const std::string w = NextWord();
        if (stop_) return;
        std::string unit = w, file;
        const size_t dot = w.find('.');
        if (dot != std::string::npos) {
            file = w;
            unit = w.substr(0, dot);
        }
        if (!IsIdentifier(unit)) {
            Error(msg::NotIdentifier, unit);
        } else if (used.IndexOf(unit) > 0) {
            Error(msg::Repeated, unit);
        } else {
            const int n = used.Add(unit);  // a 101st unit raises and ends the compilation
            if (!file.empty() && adapter_) AttachUsedSource(n, unit, file);
        }
        const char c = NextChar();
        if (c == ',') continue;
        if (c != ';') Error(msg::Expected, ";");
        return;
    }
}

void TsourceFile::AttachUsedSource(int number, const std::string& unitName,
                                   const std::string& fileName) {
    if (compiling->count(fileName) || compiling->size() >= kMaxUnitNesting) return;
    TMemoryStream* s = nullptr;
    try {
        s = adapter_->GetFile(fileName);
    } catch (const std::exception&) {
        return;
    }
    if (!s) return;
    auto image = std::make_unique<TVMC_OBJ>(adapter_, target->Builtins);
    image->SourceName = fileName;
    TsourceFile nested(adapter_);
    nested.compiling = compiling;
    nested.target = image.get();
    nested.SetText(s->View());
    compiling->insert(fileName);
    try {
        nested.Compile();
    } catch (const EScriptError&) {
        // Only keeps the unit from being attached.
        compiling->erase(fileName);
        return;
    }
    compiling->erase(fileName);
    if (!nested.errors.Empty()) return;
    image->SaveToAdapter(unitName);
    target->SetUnitImage(number, std::move(image));
}

bool TsourceFile::FunctionHeader(TClassDefInf& rec) {
    // header -> ( "function" name [params] ":" type-name | "procedure" name [params] )
    //           [ "external" ] ";"
    // params -> "(" [ param-group { ";" param-group } [ ";" ] ] ")"
    const bool isFunc = NextWord() == "function";
    TvarDeflist params;
    TDataType rt = dtNone;
    auto finish = [&](bool ok) {
        rec.ResultType = rt;
        rec.varDefs.clear();
        rec.varDefs.push_back({"result", isFunc ? rt : dtBoolean});
        rec.varDefs.insert(rec.varDefs.end(), params.begin(), params.end());
        rec.HeadCount = static_cast<int32_t>(rec.varDefs.size());
        return ok;
    };
    const std::string name = NextWord();
    rec.Name = name;
    if (name != "initialization" && !IsIdentifier(name)) {
        Error(msg::NotIdentifier, name);
        AdvanceLine();
        return finish(false);
    }
    if (PeekChar() == '(') {
        NextChar();
        if (PeekChar() != ')') ParamList(params);
        char c = NextChar();
        if (c == ';') c = NextChar();
        if (c != ')') Error(msg::Expected, ")");
    }
    if (isFunc) {
        if (NextChar() != ':') {
            Error(msg::Expected, ":");
            AdvanceLine();
            return finish(false);
        }
        const std::string tw = NextWord();
        if (!TypeCodeOf(tw, rt)) {
            Error(msg::UnknownType, tw);
            AdvanceLine();
            return finish(false);
        }
    }
    if (PeekChar() != ';') {
        if (NextWord() != "external") {
            Error(msg::Expected, kExpectSemiOrExternal);
            AdvanceLine();
            return finish(false);
        }
        rec.IsExternal = 1;
        rec.Loaded = 1;
    }
    if (NextChar() != ';') {
        Error(msg::Expected, ";");
        AdvanceLine();
        return finish(false);
    }
    return finish(true);
}

void TsourceFile::ParamList(TvarDeflist& params) {
    // param-group -> [ "var" ] name { "," name } ":" type
    const compiler::TvarList saved = vars_;
    vars_.defs = &params;
    for (;;) {
        bool byRef = false;
        if (PeekWord() == "var") {
            NextWord();
            byRef = true;
        }
        const size_t first = params.size();
        VarGroup(true, nullptr);
        if (byRef)
            for (size_t i = first; i < params.size(); ++i)
                params[i].IsVarParam = 1;
        if (stop_ || PeekChar() != ';') break;
        NextChar();
        if (PeekChar() == ')') break;
    }
    vars_ = saved;
    if (PeekChar() != ')') {
        fatal_ = true;
        Error(msg::Expected, kExpectSemiOrParen);
        AdvanceLine();
    }
}

void TsourceFile::DeclareFunction() {
    // The line where the header begins: the line of its first word.
    const TScanPos save = pos_;
    NextChar();
    const int line = LineNo();
    pos_ = save;
    TClassDefInf rec;
    FunctionHeader(rec);
    bool global = false;
    for (const Tvardef& g : target->Globals)
        global = global || g.Name == rec.Name;
    if (target->Funcs.IndexOf(rec.Name) >= 0 || global) {
        if (!stop_) errors.Add(line, FormatMsg(msg::SameNameExists, rec.Name));
        AdvanceLine();
        return;
    }
    auto f = std::make_unique<TClassDefInf>();
    f->Name = rec.Name;
    f->ResultType = rec.ResultType;
    f->varDefs = rec.varDefs;
    f->HeadCount = rec.HeadCount;
    f->IsExternal = rec.IsExternal;
    f->Loaded = rec.Loaded;
    target->Funcs.Add(std::move(f));
}

// ===========================================================================
// The implementation part

void TsourceFile::CompileImplementation() {
    if (NextWord() != "implementation") {
        Error(msg::Expected, "var”或者“implementation");
        fatal_ = true;
        return;
    }
    SplitBodies();
    CompileBodies();
    vars_.defs = &target->Globals;
}

void TsourceFile::SplitBodies() {
    // implementation-lines -> { body-line-group } [ "initialization" lines ] "end." ...
    while (pending_.Count() > 0)
        pending_.Pop();
    const size_t n = lineList_.size();
    size_t i = static_cast<size_t>(std::max(pos_.lineIndex, 0));
    bool endDotMissing = false;
    for (;;) {
        while (i < n && !IsHeaderLine(lineList_[i].text) && !IsEndLine(lineList_[i].text))
            ++i;
        if (i >= n) {
            // No "end." line: a source without one is in error even when no
            // body ran into the end.
            if (!endDotMissing && n > 0)
                errors.Add(lineList_.back().lineNo, std::string(msg::MissingEndDot));
            break;
        }
        if (IsEndLine(lineList_[i].text)) break;
        const Tline header = lineList_[i];
        const std::string name = HeaderName(header.text);
        if (name.empty()) {
            errors.Add(header.lineNo, FormatMsg(msg::NotIdentifier, "函数名称"));
            ++i;
            continue;
        }
        const int p = target->Funcs.IndexOf(name);
        if (p < 0) {
            errors.Add(header.lineNo, FormatMsg(msg::NotDeclared, "函数"));
            ++i;
            continue;
        }
        TClassDefInf& f = target->Funcs.Get(p);
        if (f.Loaded) {
            errors.Add(header.lineNo, std::string(msg::SeveralBodies));
            ++i;
            continue;
        }
        size_t j = i + 1;
        while (j < n && !IsHeaderLine(lineList_[j].text) && !IsEndLine(lineList_[j].text))
            ++j;
        size_t last = j - 1;
        if (j >= n) {
            errors.Add(lineList_.back().lineNo, std::string(msg::MissingEndDot));
            endDotMissing = true;
            last = n - 1;
        }
        Tcodetxt body;
        if (p == 0) {
            body.push_back({header.lineNo, "procedure initialization;"});
            body.push_back({header.lineNo, "begin"});
            body.insert(body.end(), lineList_.begin() + static_cast<std::ptrdiff_t>(i + 1),
                        lineList_.begin() + static_cast<std::ptrdiff_t>(last + 1));
            body.push_back({0, "end;"});
        } else {
            body.assign(lineList_.begin() + static_cast<std::ptrdiff_t>(i),
                        lineList_.begin() + static_cast<std::ptrdiff_t>(last + 1));
        }
        f.bodyText = std::move(body);
        f.Loaded = 1;
        pending_.Push(std::to_string(p));
        i = last + 1;
    }
    TClassDefInf& init = target->Funcs.Get(0);
    if (!init.Loaded) {
        init.bodyText = {{0, "procedure initialization;"}, {0, "begin"}, {0, "end;"}};
        init.Loaded = 1;
        pending_.Push("0");
    }
    SetLineList({});
}

void TsourceFile::CompileBodies() {
    while (pending_.Count() > 0) {
        const int p = std::stoi(pending_.Pop());
        TClassDefInf& f = target->Funcs.Get(p);
        Tcodetxt body = std::move(f.bodyText);
        f.bodyText = {};
        SetLineList(std::move(body));
        AdvanceLine();
        stop_ = false;
        depth_ = 0;
        CompileBody(p);
        lastBodyLine_ = lineList_.empty() ? 0 : lineList_.back().lineNo;
        SetLineList({});
    }
    stop_ = false;
    for (int i = 0; i < target->Funcs.Count(); ++i) {
        const TClassDefInf& f = target->Funcs.Get(i);
        if (!f.Loaded) errors.Add(lastBodyLine_, FormatMsg(msg::NotImplemented, f.Name));
    }
}

void TsourceFile::CompileBody(int p) {
    // body -> header { local-section } "begin" statement-list "end" ";"
    TClassDefInf scratch;
    FunctionHeader(scratch);
    TClassDefInf& d = target->Funcs.Get(p);
    if (scratch.ResultType != d.ResultType) Error(msg::ReturnTypeDiffers, d.Name);
    if (scratch.varDefs.size() != d.varDefs.size()) Error(msg::ParamsDiffer, d.Name);
    for (size_t k = 0; k < std::min(scratch.varDefs.size(), d.varDefs.size()); ++k) {
        const Tvardef& a = scratch.varDefs[k];
        const Tvardef& b = d.varDefs[k];
        if (a.Name != b.Name || a.DataType != b.DataType || a.Size != b.Size)
            Error(msg::ParamsDiffer, d.Name);
    }
    vars_.defs = &d.varDefs;
    funcVars_.defs = &d.varDefs;
    consts_.consts = &d.consts;
    funcIndex_ = p;

    std::vector<std::string> labels;
    for (;;) {
        const TScanPos before = pos_;
        const std::string w = PeekWord();
        if (stop_) break;
        if (w == "var") {
            NextWord();
            VarSection();
        } else if (w == "const") {
            NextWord();
            ConstSection();
        } else if (w == "label") {
            NextWord();
            LabelSection(labels);
        } else {
            break;
        }
        if (stop_) break;
        if (Stuck(before)) {
            RanOut();
            break;
        }
    }
    if (stop_) return;  // ran out of input in a section: nothing to compile
    if (PeekWord() != "begin") {
        if (!stop_) Error(msg::Expected, "begin");
        SkipToNextBody();
        return;
    }
    temps_.Reset(&vars_);
    NextWord();
    TsubList code;
    try {
        CompileBodyStatements(code);
    } catch (const AbandonBody&) {
        // recorded where it happened
    } catch (const EScriptError& e) {
        // A fault the compiler did not foresee: never let it pass as a
        // successful compilation.
        Error(e.what());
    }
    if (code.empty() || code.back().OpCode != opHalt) Emit(Make(opHalt), code, LineNo());

    // Display texts of the operands, then the code and its relocations.
    for (TQVInstruction& ins : code) {
        Taddr* ops[3] = {&ins.Dest, &ins.Src1, &ins.Src2};
        for (int k = 0; k < OperandCount(ins.OpCode); ++k)
            ops[k]->Name = OperandName(*ops[k]);
    }
    Tfunc_adapter adapter(&d);
    for (size_t k = 0; k < code.size(); ++k) {
        const TQVInstruction& ins = code[k];
        bool reloc = ins.OpCode == opCallPrep;
        const Taddr* ops[3] = {&ins.Dest, &ins.Src1, &ins.Src2};
        for (int m = 0; m < OperandCount(ins.OpCode); ++m)
            reloc = reloc || ops[m]->Kind == akGlobal;
        if (reloc) d.Relocs.push_back(static_cast<int32_t>(k));
        adapter.AddInstruction(std::move(code[k]));
    }
    d.Loaded = 1;
}

void TsourceFile::CompileBodyStatements(TsubList& code) {
    CompileStatementList(code, "end", nullptr, false);
    if (stop_) return;
    if (NextWord() != "end") Error(msg::Expected, "end");
    if (stop_) return;
    if (NextChar() != ';') Error(msg::Expected, ";");
    if (PeekChar() != '\0') Error(std::string(msg::CodeAfterEnd));
}

// ===========================================================================
// Statements

bool TsourceFile::CompileStatementList(TsubList& list, std::string_view term, TgotoList* gotos,
                                       bool inLoop) {
    // statement-list -> statement { ";" statement }
    bool result = true;
    TScanPos last{-2, -2};
    for (;;) {
        if (stop_) return false;
        if (PeekChar() == ';') {
            NextChar();
            continue;
        }
        for (;;) {
            // A pass that consumed nothing would repeat forever: give up.
            if (Stuck(last)) return false;
            last = pos_;
            if (PeekWord() == term) return result;
            if (stop_) return false;
            if (!CompileStatement(list, inLoop, gotos)) {
                result = RecoverStatement();
                if (!result) return false;
            }
            if (PeekChar() == ';') break;
            if (PeekWord() == term) return result;
            if (stop_) return false;
            Error(FormatMsg(msg::Expected, std::string(";”或者“") + std::string(term)));
            result = false;
        }
        NextChar();
    }
}

bool TsourceFile::CompileStatement(TsubList& list, bool inLoop, TgotoList* gotos) {
    DepthGuard guard(*this);
    return CompileStatementBody(list, inLoop, gotos);
}

bool TsourceFile::CompileStatementBody(TsubList& list, bool inLoop, TgotoList* gotos) {
    // statement -> assignment | call | compound | if | while | repeat | for | case
    //            | "break" | "continue" | "exit" | tag | (empty)
    if (stop_) return false;
    if (PeekChar() == ';') return true;
    const std::string w = PeekWord();
    if (w.empty()) return false;
    if (w == "end") return true;
    if (w == "exit") {
        NextWord();
        Emit(Make(opHalt), list, LineNo());
        return true;
    }
    if (w == "break" || w == "continue") {
        const bool isBreak = w == "break";
        if (inLoop && gotos) {
            NextWord();
            gotos->push_back({isBreak ? 2 : 3, static_cast<int>(list.size())});
            Emit(Jump(opJmp), list, LineNo());
            return true;
        }
        errors.Add(WordLine(), std::string(isBreak ? msg::BreakOutside : msg::ContinueOutside));
        // goes on as an ordinary word, which is not declared
    } else if (w == "begin") {
        // compound -> "begin" statement-list "end"
        NextWord();
        if (!CompileStatementList(list, "end", gotos, inLoop)) return false;
        if (NextWord() != "end") {
            Error(msg::Expected, "end");
            return false;
        }
        return true;
    } else if (w == "if") {
        return CompileIf(list, inLoop, gotos);
    } else if (w == "for") {
        return CompileFor(list);
    } else if (w == "while") {
        return CompileWhile(list);
    } else if (w == "case") {
        return CompileCase(list, inLoop, gotos);
    } else if (w == "repeat") {
        return CompileRepeat(list);
    } else if (w == "tag") {
        return CompileTag(list);
    } else if (w == "function" || w == "procedure" || w == "initialization" || w == "var") {
        errors.Add(WordLine(), std::string(msg::WrongStatement));
        return false;
    }
    // assignment -> target ":=" expression ;  call -> name [ "(" arguments ")" ]
    NextWord();
    Taddr target;
    const int code = ResolveWord(w, list, target);
    switch (code) {
        case 0:
            Error(msg::NotDeclared, w);
            return false;
        case 1:
        case 2: {
            if (ReadOperator() != 18) {
                Error(msg::Expected, ":=");
                return false;
            }
            TsubList e;
            int type = 0;
            const bool ok = CompileExpression(target, e, type);
            Optimize(e);
            AppendList(e, list);
            return ok;
        }
        case 3:
        case 4:
            Error(std::string(msg::StatementStartsWithConst));
            return false;
        default:
            return true;
    }
}

bool TsourceFile::CompileCondition(TsubList& list, Taddr& flag) {
    flag = LocalAddr(temps_.Allocate(dtBoolean));
    int type = 0;
    return CompileExpression(flag, list, type) && type == dtBoolean;
}

bool TsourceFile::CompileIf(TsubList& list, bool inLoop, TgotoList* gotos) {
    // if -> "if" expression "then" [ statement ] [ "else" [ statement ] ]
    NextWord();
    const int ifLine = LineNo();
    Taddr c;
    TsubList cond;
    if (!CompileCondition(cond, c)) {
        Error(msg::Expected, kExpectBoolean);
        return false;
    }
    if (NextWord() != "then") {
        Error(msg::Expected, "then");
        return false;
    }
    Optimize(cond);
    AppendList(cond, list);
    if (PeekChar() == ';') return true;  // nothing to choose, but the condition runs
    Emit(Make(opTest, c), list, ifLine);
    Emit(Jump(opJmpTrue, static_cast<int32_t>(list.size()) + 2), list, ifLine);
    const size_t j1 = list.size();
    Emit(Jump(opJmp), list, LineNo());
    if (PeekWord() != "else" && !CompileStatement(list, inLoop, gotos)) {
        Error(std::string(msg::WrongStatement));
        return false;
    }
    if (PeekChar() == ';') {
        list[j1].Imm = static_cast<int32_t>(list.size());
        return true;
    }
    const size_t j2 = list.size();
    Emit(Jump(opJmp), list, ifLine);
    list[j1].Imm = static_cast<int32_t>(list.size());
    if (NextWord() != "else") {
        Error(msg::Expected, kExpectElseOrSemi);
        return false;
    }
    if (PeekChar() == ';' || CompileStatement(list, inLoop, gotos)) {
        list[j2].Imm = static_cast<int32_t>(list.size());
        return true;
    }
    Error(std::string(msg::WrongStatement));
    return false;
}

// Fills the open jumps of a loop: breaks go to exit, continues to next.
static void FillGotos(TsubList& list, const TgotoList& gotos, int exitPos, int nextPos) {
    for (const TgotoEntry& g : gotos) {
        if (g.kind == 2) list[static_cast<size_t>(g.position)].Imm = exitPos;
        if (g.kind == 3) list[static_cast<size_t>(g.position)].Imm = nextPos;
    }
}

bool TsourceFile::CompileWhile(TsubList& list) {
    // while -> "while" expression "do" statement
    NextWord();
    const int start = static_cast<int>(list.size());
    Taddr c;
    TsubList cond;
    if (!CompileCondition(cond, c)) {
        Error(std::string(msg::WrongStatement));
        return false;
    }
    if (NextWord() != "do") {
        Error(msg::Expected, "do");
        return false;
    }
    // An empty body keeps its loop: "while step do ;" calls step until it
    // gives false.
    Optimize(cond);
    AppendList(cond, list);
    Emit(Make(opTest, c), list, LineNo());
    Emit(Jump(opJmpTrue, static_cast<int32_t>(list.size()) + 2), list, LineNo());
    const size_t x = list.size();
    Emit(Jump(opJmp), list, LineNo());
    TgotoList gotos;
    if (!CompileStatement(list, true, &gotos)) {
        Error(std::string(msg::WrongStatement));
        return false;
    }
    Emit(Jump(opJmp, start), list, LineNo());
    const int exitPos = static_cast<int>(list.size());
    list[x].Imm = exitPos;
    FillGotos(list, gotos, exitPos, start);
    return true;
}

bool TsourceFile::CompileRepeat(TsubList& list) {
    // repeat -> "repeat" statement-list "until" expression
    NextWord();
    const int start = static_cast<int>(list.size());
    TgotoList gotos;
    if (!CompileStatementList(list, "until", &gotos, true)) {
        Error(std::string(msg::WrongStatement));
        return false;
    }
    if (NextWord() != "until") {
        Error(msg::Expected, "until");
        return false;
    }
    // Statements that leave no code ("repeat until f", "repeat n := n
    // until f") still loop on the condition.
    // "continue" goes to the until-test, so it can never skip it.
    const int test = static_cast<int>(list.size());
    Taddr c;
    TsubList cond;
    if (!CompileCondition(cond, c)) {
        Error(std::string(msg::WrongStatement));
        return false;
    }
    Optimize(cond);
    AppendList(cond, list);
    Emit(Make(opTest, c), list, LineNo());
    Emit(Jump(opJmpTrue, static_cast<int32_t>(list.size()) + 2), list, LineNo());
    Emit(Jump(opJmp, start), list, LineNo());
    FillGotos(list, gotos, static_cast<int>(list.size()), test);
    return true;
}

bool TsourceFile::CompileFor(TsubList& list) {
    // for -> "for" variable ":=" expression ( "to" | "downto" ) expression "do" statement
    //
    // Layout (for "downto" read < for >, <= for >=, the type's first value
    // for its last and -1 for +1):
    //         start; end; [word or byte counter: if e > last then e := last]
    //         v := s; if v > e goto exit
    //   top:  body
    //   next: if v >= e goto done; v := v + 1; goto top
    //   done: if v >= last goto exit; v := v + 1
    //   exit:
    // where last is the last value of the counter's type.
    NextWord();
    const int forLine = LineNo();
    const std::string vw = NextWord();
    Taddr v;
    const int code = ResolveWord(vw, list, v);
    const int vt = code == 1 ? OperandType(v) : 0;
    if (code != 1 || (vt != dtInteger && vt != dtWord && vt != dtByte)) {
        Error(std::string(msg::BadExpression));
        return false;
    }
    if (ReadOperator() != 18) {
        Error(msg::Expected, ":=");
        return false;
    }
    const Taddr s = LocalAddr(temps_.Allocate(dtInteger));
    TsubList startList;
    int type = 0;
    if (!CompileExpression(s, startList, type)) {
        Error(std::string(msg::BadExpression));
        return false;
    }
    const std::string dir = NextWord();
    int step = 0;
    if (dir == "to") {
        step = 1;
    } else if (dir == "downto") {
        step = -1;
    } else {
        Error(msg::Expected, kExpectToOrDownto);
        return false;
    }
    const Taddr e = LocalAddr(temps_.Allocate(dtInteger));
    TsubList endList;
    if (!CompileExpression(e, endList, type)) {
        Error(std::string(msg::BadExpression));
        return false;
    }
    if (NextWord() != "do") {
        Error(std::string(msg::WrongStatement));
        return false;
    }
    // An empty body keeps its loop: the bounds may call functions, and the
    // counter ends past the end bound as always.
    Optimize(startList);
    AppendList(startList, list);
    Optimize(endList);
    AppendList(endList, list);
    temps_.Lock(e, true);
    // The last value the counter's type can hold in the loop's direction.
    const char* typeEnd = step > 0 ? (vt == dtInteger ? "9223372036854775807"
                                      : vt == dtWord  ? "65535"
                                                      : "255")
                                   : (vt == dtInteger ? "-9223372036854775808" : "0");
    if (vt != dtInteger) {
        // A word or byte counter cannot go past its type: an end bound
        // beyond it becomes the type's last value, or the counter would wrap
        // round and the loop never end.
        Taddr lim;
        LoadText(typeEnd, list, lim);
        const Taddr inside = LocalAddr(temps_.Allocate(dtBoolean));
        Emit(Make(opCmp, inside, e, lim, step > 0 ? ckLessEqual : ckGreaterEqual), list, forLine);
        Emit(Make(opTest, inside), list, forLine);
        Emit(Jump(opJmpTrue, static_cast<int32_t>(list.size()) + 2), list, forLine);
        Emit(Make(opMov, e, lim), list, forLine);
    }
    Emit(Make(opMov, v, s), list, forLine);
    const Taddr c = LocalAddr(temps_.Allocate(dtBoolean));
    Emit(Make(opCmp, c, v, e, step > 0 ? ckGreater : ckLess), list, forLine);
    Emit(Make(opTest, c), list, forLine);
    const size_t none = list.size();
    Emit(Jump(opJmpTrue), list, forLine);
    const int top = static_cast<int>(list.size());
    TgotoList gotos;
    if (!CompileStatement(list, true, &gotos)) {
        temps_.Lock(e, false);
        Error(std::string(msg::WrongStatement));
        return false;
    }
    // After each pass: the pass at the end bound was the last one. The test
    // comes before the step, so the counter never steps beyond its type.
    // "continue" goes here, so it can never skip the test or the step.
    const int next = static_cast<int>(list.size());
    const int line = LineNo();
    const Taddr done = LocalAddr(temps_.Allocate(dtBoolean));
    Emit(Make(opCmp, done, v, e, step > 0 ? ckGreaterEqual : ckLessEqual), list, line);
    Emit(Make(opTest, done), list, line);
    const size_t last = list.size();
    Emit(Jump(opJmpTrue), list, line);
    Emit(Make(opAddImm, v, v, {}, step), list, line);
    Emit(Jump(opJmp, top), list, line);
    // After the last pass the counter steps once more, past the end bound,
    // unless it stands on its type's last value.
    list[last].Imm = static_cast<int32_t>(list.size());
    Taddr lim;
    LoadText(typeEnd, list, lim);
    const Taddr atEnd = LocalAddr(temps_.Allocate(dtBoolean));
    Emit(Make(opCmp, atEnd, v, lim, step > 0 ? ckGreaterEqual : ckLessEqual), list, line);
    Emit(Make(opTest, atEnd), list, line);
    const size_t skip = list.size();
    Emit(Jump(opJmpTrue), list, line);
    Emit(Make(opAddImm, v, v, {}, step), list, line);
    const int exitPos = static_cast<int>(list.size());
    list[none].Imm = exitPos;
    list[skip].Imm = exitPos;
    FillGotos(list, gotos, exitPos, next);
    temps_.Lock(e, false);
    return true;
}

bool TsourceFile::CompileCase(TsubList& list, bool inLoop, TgotoList* gotos) {
    // case -> "case" expression "of" { branch ";" } "end"
    // branch -> label { "," label } ":" statement | "else" [ statement ]
    NextWord();
    TsubList selList;
    int selType = 0;
    if (!CompileExpression(NoDest(), selList, selType) || selList.empty()) {
        Error(std::string(msg::BadExpression));
        return false;
    }
    const Taddr sel = selList.back().Dest;
    if (NextWord() != "of") {
        Error(msg::Expected, "of");
        return false;
    }
    Optimize(selList);
    AppendList(selList, list);
    if (PeekWord() == "end") {
        NextWord();
        return true;  // no branch, but the selector still runs (it may call)
    }
    temps_.Lock(sel, true);
    TgotoList exits;
    auto branchEnd = [&] {
        if (PeekChar() == ';')
            NextChar();
        else if (PeekWord() != "end")
            Error(msg::Expected, kExpectSemiOrEnd);
    };
    for (;;) {
        const TScanPos before = pos_;
        const std::string w = PeekWord();
        if (stop_) break;
        if (w == "end") break;
        if (w == "else") {
            NextWord();
            if (PeekWord() != "end" && !CompileStatement(list, inLoop, gotos)) RecoverStatement();
            branchEnd();
        } else if (CompileCaseLabels(list, sel, selType)) {
            const size_t n = list.size();
            Emit(Jump(opJmp), list, LineNo());
            if (!CompileStatement(list, inLoop, gotos)) RecoverStatement();
            exits.push_back({0, static_cast<int>(list.size())});
            Emit(Jump(opJmp), list, LineNo());
            list[n].Imm = static_cast<int32_t>(list.size());
            branchEnd();
        } else {
            RecoverStatement();
            if (PeekChar() == ';') NextChar();
        }
        if (stop_) break;
        if (Stuck(before)) RanOut();
    }
    temps_.Lock(sel, false);
    if (stop_) return false;  // the source ended inside the case statement
    NextWord();
    for (const TgotoEntry& g : exits)
        list[static_cast<size_t>(g.position)].Imm = static_cast<int32_t>(list.size());
    return true;
}

bool TsourceFile::CompileCaseLabels(TsubList& list, const Taddr& sel, int selType) {
    // label -> expression [ ".." expression ]
    std::vector<size_t> branch;
    for (;;) {
        const Taddr lt = LocalAddr(temps_.Allocate(selType));
        TsubList ll;
        int type = 0;
        if (!CompileExpression(lt, ll, type)) return false;
        if (ResultTypeOf(type, selType) < 0) Error(std::string(msg::TypeMismatch));
        Optimize(ll);
        AppendList(ll, list);
        const Taddr b = LocalAddr(temps_.Allocate(dtBoolean));
        const char c = PeekChar();
        if (c == ',' || c == ':') {
            Emit(Make(opCmp, b, lt, sel, ckEqual), list, LineNo());
            Emit(Make(opTest, b), list, LineNo());
            branch.push_back(list.size());
            Emit(Jump(opJmpTrue), list, LineNo());
        } else if (c == '.') {
            NextChar();
            if (NextChar() != '.') {
                Error(msg::Expected, "..");
                return false;
            }
            Emit(Make(opCmp, b, sel, lt, ckGreater), list, LineNo());
            TsubList hl;
            if (!CompileExpression(lt, hl, type)) return false;
            Optimize(hl);
            AppendList(hl, list);
            const Taddr b2 = LocalAddr(temps_.Allocate(dtBoolean));
            Emit(Make(opCmp, b2, sel, lt, ckLess), list, LineNo());
            Emit(Make(opAnd, b, b, b2), list, LineNo());
            Emit(Make(opTest, b), list, LineNo());
            branch.push_back(list.size());
            Emit(Jump(opJmpTrue), list, LineNo());
        }
        if (PeekChar() != ',') break;
        NextChar();
    }
    if (PeekChar() != ':') {
        Error(msg::Expected, kExpectLabelEnd);
        return false;
    }
    NextChar();
    // A match enters the branch statement, just after the jump to the next
    // branch that the caller emits next.
    for (size_t k : branch)
        list[k].Imm = static_cast<int32_t>(list.size()) + 1;
    return true;
}

bool TsourceFile::CompileTag(TsubList& list) {
    // tag -> "tag" text "endtag"
    NextWord();
    const int tagIndex = pos_.lineIndex;
    const int tagCol = pos_.col;
    const int tagLine = LineNo();
    for (;;) {
        const TScanPos before = pos_;
        const std::string w = PeekWord();
        if (stop_) return false;  // the source ended inside the tag
        if (w == "endtag") break;
        if (NextWord().empty()) NextChar();
        if (Stuck(before)) {
            RanOut();
            return false;
        }
    }
    NextWord();  // endtag, on the line that ends the text
    const int endIndex = pos_.lineIndex;
    const std::string& first = lineList_[static_cast<size_t>(tagIndex)].text;
    std::string text = tagCol - 1 <= static_cast<int>(first.size())
                           ? first.substr(static_cast<size_t>(tagCol - 1))
                           : "";
    for (int i = tagIndex + 1; i <= endIndex; ++i) {
        text += "\r\n";
        text += lineList_[static_cast<size_t>(i)].text;
    }
    TQVInstruction ins = Make(opTag);
    ins.Text = Trim(text);
    Emit(std::move(ins), list, tagLine);
    return true;
}

bool TsourceFile::RecoverStatement() {
    // Skips to the ";" or the blank before "end" that ends the faulty
    // statement, passing over nested begin/end, case/end and repeat/until.
    std::vector<std::string_view> closers;
    auto endFollows = [&](int col) {
        const std::string& l = CurLine();
        int k = col;
        while (k <= static_cast<int>(l.size()) && IsBlankChar(l[static_cast<size_t>(k - 1)]))
            ++k;
        int e = k;
        while (e <= static_cast<int>(l.size()) &&
               !IsRecoverDelimiter(l[static_cast<size_t>(e - 1)]) &&
               l[static_cast<size_t>(e - 1)] != '\'' && l[static_cast<size_t>(e - 1)] != '"')
            ++e;
        return std::string_view(l).substr(static_cast<size_t>(k - 1), static_cast<size_t>(e - k)) ==
               "end";
    };
    if (pos_.col < 1) pos_.col = 1;
    for (;;) {
        const std::string& l = CurLine();
        const int len = static_cast<int>(l.size());
        if (pos_.col > len) {
            if (!AdvanceLine()) {
                fatal_ = true;
                RanOut();
                return false;
            }
            // A line break counts as the blank in front of "end".
            if (closers.empty() && endFollows(1)) return true;
            continue;
        }
        const char c = l[static_cast<size_t>(pos_.col - 1)];
        if (closers.empty()) {
            if (c == ';') return true;
            if (IsBlankChar(c) && endFollows(pos_.col)) return true;
        }
        if (c == '\'' || c == '"') {
            const size_t close = l.find(c, static_cast<size_t>(pos_.col));
            pos_.col = close == std::string::npos ? len + 1 : static_cast<int>(close) + 2;
            continue;
        }
        if (IsRecoverDelimiter(c)) {
            ++pos_.col;
            continue;
        }
        const int start = pos_.col;
        while (pos_.col <= len) {
            const char d = l[static_cast<size_t>(pos_.col - 1)];
            if (IsRecoverDelimiter(d) || d == '\'' || d == '"') break;
            ++pos_.col;
        }
        const std::string_view w = std::string_view(l).substr(
            static_cast<size_t>(start - 1), static_cast<size_t>(pos_.col - start));
        if (!closers.empty() && w == closers.back())
            closers.pop_back();
        else if (w == "begin" || w == "of")
            closers.push_back("end");
        else if (w == "repeat")
            closers.push_back("until");
    }
}

// ===========================================================================
// Expressions

int TsourceFile::OperandType(const Taddr& a) const {
    switch (a.Kind) {
        case akLocal: {
            if (a.Index < 0 || a.Index >= funcVars_.Count()) return dtNone;
            const int t = temps_.TypeOfSlot(a.Index);
            return t >= 0 ? t : (*funcVars_.defs)[static_cast<size_t>(a.Index)].DataType;
        }
        case akGlobal:
            try {
                return target->GetGlobalDef(static_cast<int>(a.Module), a.Index).DataType;
            } catch (const EScriptError&) {
                return dtNone;
            }
        default:
            return dtNone;
    }
}

bool TsourceFile::IsTempOperand(const Taddr& a) const {
    return a.Kind == akLocal && a.Index >= 0 && a.Index < funcVars_.Count() &&
           IsTempName((*funcVars_.defs)[static_cast<size_t>(a.Index)].Name);
}

std::string TsourceFile::OperandName(const Taddr& a) const {
    auto local = [&](int slot) -> std::string {
        if (slot < 0 || slot >= funcVars_.Count()) return {};
        return (*funcVars_.defs)[static_cast<size_t>(slot)].Name;
    };
    std::string name;
    switch (a.Kind) {
        case akCallee:
            return "params[" + std::to_string(a.Index) + "]";
        case akLocal:
            name = local(a.Index);
            break;
        case akGlobal:
            try {
                name = target->GetGlobalDef(static_cast<int>(a.Module), a.Index).Name;
            } catch (const EScriptError&) {
            }
            break;
        default:
            return {};
    }
    if (a.Indexed) name += "[" + local(a.IndexVar) + "]";
    return name;
}

bool TsourceFile::CheckOperands(int left, int right, int& result, int& other) const {
    result = ResultTypeOf(left, right);
    other = OtherTypeOf(left, right);
    return result >= 0;
}

bool TsourceFile::CheckLeftOperand(const TQVInstruction& q) const {
    const int t = OperandType(q.Src1);
    switch (q.OpCode) {
        case opMod:
            return t == dtInteger || t == dtWord || t == dtByte;
        case opAdd:
        case opSub:
        case opMul:
        case opDiv:
            return t != dtString && t != dtChar && t != dtBoolean;
        case opAnd:
        case opOr:
        case opXor:
        case opNot:
            return t == dtBoolean;
        case opConcat:
            return t == dtString || t == dtChar;
        default:
            return true;
    }
}

void TsourceFile::FinishInstruction(TQVInstruction& q, int wanted) {
    int vt = dtNone;
    if (q.OpCode == opMov) {
        vt = OperandType(q.Src1);
    } else if (q.OpCode == opNot) {
        vt = dtBoolean;
    } else {
        int other = 0;
        const int left = OperandType(q.Src1);
        if (!CheckOperands(left, OperandType(q.Src2), vt, other)) {
            Error(std::string(msg::TypeMismatch));
            // The pair has no result type; go on with the left one so that
            // the instruction still gets a destination.
            vt = (left >= 1 && left <= 9) ? left : dtVariant;
        }
        if (q.OpCode == opCmp) vt = dtBoolean;
        if (q.OpCode == opDiv) vt = dtDouble;
    }
    if (!CheckLeftOperand(q)) Error(std::string(msg::TypeMismatch));
    const bool unary = q.OpCode == opMov || q.OpCode == opNot;
    const Taddr& rp = unary ? q.Src1 : (OperandType(q.Src1) == vt ? q.Src1 : q.Src2);
    if (wanted == dtUnknown) {
        // Working in place needs a temporary whose definition holds the
        // result uncut (not the true word of a word(x) conversion).
        if (IsTempOperand(rp) && TypePick(OperandType(rp), vt) == 1 &&
            TypePick((*funcVars_.defs)[static_cast<size_t>(rp.Index)].DataType,
                     Ttmpmng::StorageOf(vt)) == 1) {
            q.Dest = rp;
        } else {
            q.Dest = LocalAddr(temps_.Allocate(vt));
        }
    } else if (TypePick(wanted, vt) == 0) {
        Error(std::string(msg::TypeMismatch));
    }
}

static int Precedence(const TQVInstruction& i) {
    const int k = OperatorOfCode(i.OpCode);
    return k > 0 ? kOperators[static_cast<size_t>(k - 1)].precedence : 0;
}

bool TsourceFile::CompileExpression(const Taddr& dest, TsubList& list, int& type) {
    DepthGuard guard(*this);
    return CompileExpressionBody(dest, list, type);
}

bool TsourceFile::CompileExpressionBody(const Taddr& dest, TsubList& list, int& type) {
    // expression -> operand { operator operand }, by precedence:
    //   * / div mod (6)  + - (5)  comparisons and like (4)  not (3)  and (2)  or xor (1)
    std::vector<TQVInstruction> stack;
    TQVInstruction bottom = Make(opMov, dest);
    bottom.Line = static_cast<uint32_t>(LineNo());
    stack.push_back(std::move(bottom));
    Taddr current;
    for (;;) {
        if (!CompileOperand(list, true, current)) {
            Error(std::string(msg::BadExpression));
            return false;
        }
        const int op = ReadOperator();
        const int prec = op > 0 ? kOperators[static_cast<size_t>(op - 1)].precedence : 0;
        while (!stack.empty() && Precedence(stack.back()) >= prec) {
            TQVInstruction q = std::move(stack.back());
            stack.pop_back();
            if (q.OpCode != opMov && q.OpCode != opNot) {
                q.Src2 = current;
                int result = 0, other = 0;
                if (!CheckOperands(OperandType(q.Src1), OperandType(q.Src2), result, other)) {
                    Error(std::string(msg::TypeMismatch));
                    other = dtNone;
                }
                if (q.OpCode == opCmp && q.Imm == ckLike && other != dtString)
                    Error(std::string(msg::LikeNeedsString));
            } else {
                q.Src1 = current;
            }
            int wanted = dtUnknown;
            if (q.OpCode == opMov && q.Dest.Index >= 0) {
                wanted = OperandType(q.Dest);
                if (q.Dest.Kind == akLocal && q.Dest.Index == 0)
                    CurrentFunc().AssignedType = static_cast<TDataType>(OperandType(q.Src1));
            }
            FinishInstruction(q, wanted);
            const int line = static_cast<int>(q.Line);
            current = q.Dest;
            Emit(std::move(q), list, line);
            type = OperandType(current);
            if (stack.empty()) return true;
        }
        TQVInstruction ins = Make(kOperators[static_cast<size_t>(op - 1)].code, {}, current);
        ins.Line = static_cast<uint32_t>(LineNo());
        if (ins.OpCode == opAdd) {
            const int t = OperandType(current);
            if (t == dtString || t == dtChar) ins.OpCode = opConcat;
        }
        if (ins.OpCode == opCmp) ins.Imm = kRelations[static_cast<size_t>(op - 7)].code;
        stack.push_back(std::move(ins));
    }
}

bool TsourceFile::CompileOperand(TsubList& list, bool allowMinus, Taddr& operand) {
    // operand -> literal | constant | variable | element | call | iff | conversion
    //          | "(" expression ")" | "not" expression | "-" number
    DepthGuard guard(*this);
    const char c = PeekChar();
    if (c == '(') {
        NextChar();
        int type = 0;
        if (!CompileExpression(NoDest(), list, type) || list.empty()) return false;
        operand = list.back().Dest;
        if (type != dtUnknown) temps_.Retype(operand.Index, type);
        if (NextChar() != ')') {
            Error(msg::Expected, ")");
            return false;
        }
        return true;
    }
    if (c == '-' && allowMinus) {
        NextChar();
        const char d = PeekChar();
        if (d < '0' || d > '9') {
            Error(std::string(msg::MinusNeedsNumber));
            return false;
        }
        const std::string number = "-" + NextWord();
        return ResolveWord(number, list, operand) != 0;
    }
    const std::string w = PeekWord();
    if (w == "not") {
        NextWord();
        const Taddr t = LocalAddr(temps_.Allocate(dtBoolean));
        int type = 0;
        if (!CompileExpression(t, list, type) || type != dtBoolean) {
            Error(std::string(msg::BadExpression));
            return false;
        }
        Emit(Make(opNot, t, t), list, LineNo());
        operand = t;
        return true;
    }
    NextWord();
    if (w.empty()) {
        Error(std::string(msg::OperandNeeded));
        return false;
    }
    switch (ResolveWord(w, list, operand)) {
        case 0:
            Error(msg::NotDeclared, w);
            return false;
        case 6:
            Error(std::string(msg::ProcedureInExpression));
            return false;
        default:
            return true;
    }
}

void TsourceFile::LoadText(const std::string& text, TsubList& list, Taddr& operand) {
    int type = LiteralType(text);
    const NumberCheck number = CheckNumber(text, type);
    // A constant whose value is no literal (nor a well-formed number): a
    // variant takes the text as it is.
    if (type < 1 || type > 9 || number == NumberCheck::Malformed) type = dtVariant;
    // A number the run time cannot hold would load as a silent 0.
    if (number == NumberCheck::OutOfRange) Error(msg::NumberOutOfRange, text);
    operand = LocalAddr(temps_.Allocate(type));
    TQVInstruction ins = Make(opLoadText, operand);
    ins.Text = (type == dtString || type == dtChar) && IsQuotedText(text) ? Unquote(text) : text;
    Emit(std::move(ins), list, LineNo());
}

int TsourceFile::ResolveWord(const std::string& word, TsubList& list, Taddr& operand) {
    // Literals, then names: local constant, local variable, global constant,
    // global variable, "iff", function, conversion.
    if (IsLiteral(word)) {
        // A word that starts like a number but is none ("1abc", "1e") is
        // neither a literal nor a name that could be declared.
        if (CheckNumber(word, LiteralType(word)) == NumberCheck::Malformed) return 0;
        LoadText(word, list, operand);
        return 4;
    }
    if (!IsIdentifier(word)) return 0;
    const int lc = consts_.IndexOf(word);
    if (lc >= 0) {
        LoadText(consts_.ValueOf(lc), list, operand);
        return 3;
    }
    const int slot = funcVars_.IndexOf(word);
    if (slot >= 0) {
        operand = LocalAddr(slot);
        const Tvardef& def = (*funcVars_.defs)[static_cast<size_t>(slot)];
        if (def.Size > 1 || (def.DataType == dtString && PeekChar() == '[')) {
            CompileIndex(operand, list);
            return fatal_ ? 0 : 2;
        }
        return 1;
    }
    int unit = 0, pos = 0;
    if (target->FindConst(word, unit, pos)) {
        LoadText(target->GetConstValue(unit, pos), list, operand);
        return 3;
    }
    if (target->FindGlobal(word, unit, pos)) {
        operand = {};
        operand.Kind = akGlobal;
        operand.Module = static_cast<uint32_t>(unit);
        operand.Index = pos;
        const Tvardef def = target->GetGlobalDef(unit, pos);
        if (def.Size > 1 || (def.DataType == dtString && PeekChar() == '[')) {
            CompileIndex(operand, list);
            return fatal_ ? 0 : 2;
        }
        return 1;
    }
    if (word == "iff") {
        operand = LocalAddr(temps_.Allocate(dtVariant));
        return CompileIff(operand, list) ? 5 : 0;
    }
    if (target->FindFunc(word, unit, pos)) {
        const TClassDefInf head = unit == 0 ? TClassDefInf{} : target->GetFuncHead(unit, pos);
        const int resultType =
            unit == 0 ? target->Funcs.Get(pos).ResultType : static_cast<int>(head.ResultType);
        int code = 6;
        Taddr result = NoDest();
        if (resultType != dtNone) {
            result = LocalAddr(temps_.Allocate(resultType));
            code = 5;
        }
        operand = result;
        return CompileCall(unit, pos, result, list) ? code : 0;
    }
    TDataType conv = dtNone;
    const std::string& l = CurLine();
    const bool parenFollows = pos_.col >= 1 && pos_.col <= static_cast<int>(l.size()) &&
                              l[static_cast<size_t>(pos_.col - 1)] == '(';
    if (TypeCodeOf(word, conv) && parenFollows) {
        NextChar();
        int type = 0;
        if (!CompileExpression(NoDest(), list, type) || list.empty()) return 0;
        if (NextChar() != ')') {
            Error(msg::Expected, ")");
            return 0;
        }
        const Taddr src = list.back().Dest;
        // word(x) and byte(x) cut the value: their temporary is a true word
        // or byte.
        operand = LocalAddr(temps_.Allocate(conv, true));
        Emit(Make(opConvert, operand, src), list, LineNo());
        return 5;
    }
    return 0;
}

int TsourceFile::ReadOperator() {
    const TScanPos save = pos_;
    std::string run;
    for (;;) {
        const TScanPos p = pos_;
        const char c = NextChar();
        const bool opChar = c != '\0' && std::strchr("*+-/<=>", c) != nullptr;
        if (!opChar || (!run.empty() && (c == '+' || c == '-'))) {
            pos_ = p;
            break;
        }
        run += c;
    }
    if (!run.empty()) {
        const int k = OperatorIndex(run);
        if (k > 0) return k;
    }
    const TScanPos afterRun = pos_;
    for (int n = 2; n <= 4; ++n) {
        pos_ = n == 2 ? afterRun : save;
        std::string s;
        for (int i = 0; i < n; ++i) {
            const char c = NextChar();
            if (c == '\0') break;
            s += LowerAscii(c);
        }
        const int k = OperatorIndex(s);
        if (k > 0) return k;
    }
    pos_ = save;
    return -1;
}

bool TsourceFile::CompileIndex(Taddr& operand, TsubList& list) {
    // element -> name "[" expression "]"
    if (NextChar() != '[') {
        Error(msg::Expected, "[");
        return false;
    }
    const int t = temps_.Allocate(dtInteger);
    operand.Indexed = 1;
    operand.IndexVar = t;
    TsubList il;
    int type = 0;
    const bool ok = CompileExpression(LocalAddr(t), il, type);
    Optimize(il);
    AppendList(il, list);
    if (!ok) return false;
    if (type != dtInteger) Error(std::string(msg::IndexNotOrdinal));
    if (NextChar() != ']') {
        Error(msg::Expected, "]");
        return false;
    }
    return true;
}

bool TsourceFile::CompileCall(int unit, int pos, const Taddr& result, TsubList& list) {
    // call -> name [ "(" argument { "," argument } ")" ]
    // The callee's head, copied: compiling the arguments may add temporaries
    // to the very function being called (a recursive call).
    TvarDeflist params;
    {
        const TClassDefInf head = unit == 0 ? TClassDefInf{} : target->GetFuncHead(unit, pos);
        const TClassDefInf& h = unit == 0 ? target->Funcs.Get(pos) : head;
        const size_t n = std::min(static_cast<size_t>(std::max(h.HeadCount, 0)), h.varDefs.size());
        params.assign(h.varDefs.begin(), h.varDefs.begin() + static_cast<std::ptrdiff_t>(n));
    }
    std::vector<std::pair<Taddr, int>> args;
    std::vector<std::pair<Taddr, int>> byRef;
    if (params.size() > 1) {
        if (NextChar() != '(') {
            Error(msg::Expected, "(");
            return false;
        }
        for (size_t i = 1; i < params.size(); ++i) {
            const Tvardef& p = params[i];
            Taddr arg;
            if (p.IsVarParam) {
                const std::string w = NextWord();
                if (ResolveWord(w, list, arg) != 1) {
                    Error(std::string(msg::VarParamNotValue));
                    return false;
                }
                byRef.push_back({arg, static_cast<int>(i)});
            } else if (p.DataType == dtChar) {
                arg = LocalAddr(temps_.Allocate(dtChar));
                if (!CompileCharArgument(arg, list)) return false;
            } else {
                arg = LocalAddr(temps_.Allocate(p.DataType));
                TsubList al;
                int type = 0;
                const bool ok = CompileExpression(arg, al, type);
                Optimize(al);
                AppendList(al, list);
                if (!ok) return false;
            }
            args.push_back({arg, static_cast<int>(i)});
            const char c = NextChar();
            if (i + 1 < params.size()) {
                if (c != ',') {
                    Error(std::string(msg::ArgsNeedComma));
                    return false;
                }
            } else if (c != ')') {
                Error(msg::Expected, ")");
                return false;
            }
        }
    }
    TQVInstruction prep = Make(opCallPrep, {}, {}, {}, unit);
    prep.Imm2 = static_cast<uint32_t>(pos);
    Emit(std::move(prep), list, LineNo());
    for (const auto& [arg, i] : args)
        Emit(Make(opMov, CalleeAddr(i), arg), list, LineNo());
    Emit(Make(opCall), list, LineNo());
    for (const auto& [arg, i] : byRef)
        Emit(Make(opMov, arg, CalleeAddr(i)), list, LineNo());
    if (result.Index > 0) Emit(Make(opMov, result, CalleeAddr(0)), list, LineNo());
    Emit(Make(opCallEnd), list, LineNo());
    return true;
}

bool TsourceFile::CompileCharArgument(const Taddr& dest, TsubList& list) {
    // char-argument -> operand { "+" operand }, each a string or a char
    for (bool first = true;; first = false) {
        Taddr op;
        if (!CompileOperand(list, false, op)) {
            Error(std::string(msg::BadExpression));
            return false;
        }
        const int t = OperandType(op);
        if (t != dtString && t != dtChar) Error(std::string(msg::TypeMismatch));
        Emit(first ? Make(opMov, dest, op) : Make(opConcat, dest, dest, op), list, LineNo());
        if (PeekChar() != '+') return true;
        NextChar();
    }
}

bool TsourceFile::CompileIff(const Taddr& dest, TsubList& list) {
    // iff -> "iff" "(" expression "," expression "," expression ")"
    if (NextChar() != '(') {
        Error(msg::Expected, "(");
        return false;
    }
    Taddr c;
    TsubList cond;
    if (!CompileCondition(cond, c)) {
        Error(msg::Expected, kExpectBoolean);
        return false;
    }
    Optimize(cond);
    AppendList(cond, list);
    Emit(Make(opTest, c), list, LineNo());
    Emit(Jump(opJmpTrue, static_cast<int32_t>(list.size()) + 2), list, LineNo());
    const size_t j1 = list.size();
    Emit(Jump(opJmp), list, LineNo());
    if (NextChar() != ',') {
        Error(std::string(msg::ArgsNeedComma));
        return false;
    }
    int type = 0;
    if (!CompileExpression(dest, list, type)) {
        Error(FormatMsg(msg::IffOption, 1));
        return false;
    }
    const size_t j2 = list.size();
    Emit(Jump(opJmp), list, LineNo());
    if (NextChar() != ',') {
        Error(std::string(msg::ArgsNeedComma));
        return false;
    }
    list[j1].Imm = static_cast<int32_t>(list.size());
    if (!CompileExpression(dest, list, type)) {
        Error(FormatMsg(msg::IffOption, 2));
        return false;
    }
    list[j2].Imm = static_cast<int32_t>(list.size());
    if (NextChar() != ')') {
        Error(msg::Expected, ")");
        return false;
    }
    return true;
}

// ===========================================================================
// Emission and the peephole pass

void TsourceFile::Emit(TQVInstruction ins, TsubList& list, int line) {
    ins.Line = static_cast<uint32_t>(std::max(line, 0));
    temps_.Release(ins);
    list.push_back(std::move(ins));
}

void TsourceFile::Optimize(TsubList& list) {
    // 1. x := x goes.
    for (int i = static_cast<int>(list.size()) - 1; i >= 0; --i) {
        const TQVInstruction& m = list[static_cast<size_t>(i)];
        if (m.OpCode == opMov && SameOperand(m.Dest, m.Src1)) RemoveAt(list, i);
    }
    // 2. t := a op b; x := t  becomes  x := a op b.
    for (int i = static_cast<int>(list.size()) - 1; i >= 1; --i) {
        if (static_cast<size_t>(i) >= list.size()) continue;
        const TQVInstruction& m = list[static_cast<size_t>(i)];
        const TQVInstruction& p = list[static_cast<size_t>(i - 1)];
        if (m.OpCode != opMov || !IsTempOperand(m.Src1) || !SameOperand(m.Src1, p.Dest)) continue;
        switch (p.OpCode) {
            case opJmp:
            case opJmpTrue:
            case opPushFlag:
            case opPopFlag:
            case opHalt:
            case opTest:
            case opCallPrep:
            case opCall:
            case opCallEnd:
                continue;
            case opConvert:
                // word(x) cuts its value; writing the conversion straight
                // into a variable of another type would not.
                if (OperandType(m.Dest) !=
                    (*funcVars_.defs)[static_cast<size_t>(p.Dest.Index)].DataType)
                    continue;
                break;
            default:
                break;
        }
        const Taddr dest = m.Dest;
        if (RemoveAt(list, i)) list[static_cast<size_t>(i - 1)].Dest = dest;
    }
}

}  // namespace corvane

// u_compile.cpp: the driver and the declarations of the script compiler.
//
// Compile runs the parts in order: the whole source as one line list
// (BuildLineList) for the interface part (used units, global variables,
// constants, function headers) and the start of the implementation part;
// SplitBodies then cuts the implementation part into one line list per
// function body, by the header lines alone, and CompileBodies compiles the
// bodies one after the other, each with its own scanner lines, its header
// checked against the declaration, its local sections, and its statement
// list. A body that fails does not stop the next one.
//
// What it deliberately does not do: read characters and words (the scanner,
// CompilerScanner), compile statements and expressions (CompilerStatements,
// CompilerExpressions), or lay out instructions (CodeEmitter). It owns the
// rules of the program layout and of declarations, the scopes (which
// variables and constants a name is looked up in) and the guards that end a
// part: fatal_ ends the compilation, stop_ the part being compiled.
#include "script/compiler/u_compile.h"

#include <algorithm>
#include <limits>

#include "platform/Text.h"
#include "platform/Variant.h"
#include "script/common/qv_consts.h"

namespace corvane {

namespace {

// Used units compiled from source inside one another: past this depth a
// further source is not compiled (a chain of distinct units this long is no
// real program, and each level costs stack).
constexpr size_t kMaxUnitNesting = 16;

constexpr std::string_view kFunctionPrefix = "function ";
constexpr std::string_view kProcedurePrefix = "procedure ";

// Words that end a var or const section.
bool EndsSection(std::string_view w) {
    return w == "begin" || w == "function" || w == "procedure" || w == "var" ||
           w == "initialization" || w == "implementation" || w == "const" || w == "label";
}

bool IsHeaderLine(std::string_view text) {
    return text.starts_with(kFunctionPrefix) || text.starts_with(kProcedurePrefix) ||
           text == "initialization";
}

bool IsEndLine(std::string_view text) {
    return text.starts_with("end.");
}

// The function name on a body's first line, exactly as written.
std::string HeaderName(std::string_view text) {
    if (text == "initialization") return "initialization";
    size_t p = text.starts_with(kFunctionPrefix) ? kFunctionPrefix.size() : kProcedurePrefix.size();
    while (p < text.size() && text[p] == ' ')
        ++p;
    size_t e = p;
    while (e < text.size() && text[e] != ' ' && text[e] != '(' && text[e] != ':' && text[e] != ';')
        ++e;
    return std::string(text.substr(p, e - p));
}

}  // namespace

// ===========================================================================
// The compiler object

TsourceFile::TsourceFile(TFileAdapter* adapter)
    : compiling(std::make_shared<std::set<std::string>>()),
      scan_([this] { RanOut(); }),
      adapter_(adapter) {}

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
    lines = SplitSourceText(text);
}

void TsourceFile::StartPart(Tcodetxt part) {
    scan_.SetLines(std::move(part));
    endRecorded_ = false;
}

void TsourceFile::RanOut() {
    if (!endRecorded_) {
        Error(std::string(msg::NoProperEnd));
        endRecorded_ = true;
    }
    stop_ = true;
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
    StartPart(BuildLineList(lines));
    stop_ = false;
    scan_.AdvanceLine();
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

    if (scan_.NextWord() != "interface") {
        Error(msg::Expected, "interface");
        fatal_ = true;
        return;
    }
    while (!fatal_) {
        const TScanPos before = scan_.Pos();
        const std::string w = scan_.PeekWord();
        if (stop_) break;
        if (w == "var") {
            scan_.NextWord();
            VarSection();
        } else if (w == "uses") {
            scan_.NextWord();
            CompileUses();
        } else if (w == "const") {
            scan_.NextWord();
            ConstSection();
        } else if (w == "function" || w == "procedure") {
            DeclareFunction();
        } else {
            break;
        }
        if (stop_ || scan_.Stuck(before)) break;
    }
    if (stop_) fatal_ = true;
}

void TsourceFile::VarSection() {
    // var-section -> "var" var-group { var-group }
    do {
        const TScanPos before = scan_.Pos();
        VarGroup(false, nullptr);
        if (stop_) return;
        if (scan_.Stuck(before)) return RanOut();
    } while (!fatal_ && !EndsSection(scan_.PeekWord()) && !stop_);
}

void TsourceFile::ConstSection() {
    // const-section -> "const" const-decl { const-decl }
    do {
        const TScanPos before = scan_.Pos();
        ConstDecl();
        if (stop_) return;
        if (scan_.Stuck(before)) return RanOut();
    } while (!fatal_ && !EndsSection(scan_.PeekWord()) && !stop_);
}

void TsourceFile::LabelSection(std::vector<std::string>& labels) {
    // label-section -> "label" name { name }
    for (;;) {
        const std::string w = scan_.PeekWord();
        if (stop_ || w.empty()) return;  // a delimiter ends the section
        if (w == "begin" || w == "var" || w == "const" || w == "label") return;
        scan_.NextWord();
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
        scan_.AdvanceLine();
        return false;
    };
    std::vector<std::string> names;
    for (;;) {
        const std::string name = scan_.NextWord();
        if (stop_) return false;
        if (!IsIdentifier(name)) return fail(FormatMsg(msg::NotIdentifier, name));
        if (vars_.IndexOf(name) >= 0) return fail(FormatMsg(msg::VarExists, name));
        names.push_back(name);
        const char c = scan_.NextChar();
        if (c == ',') continue;
        if (c == ':') break;
        return fail(FormatMsg(msg::Expected, msg::arg::SemiOrColon));
    }
    const std::string tw = scan_.NextWord();
    TDataType type = dtNone;
    int32_t size = 1;
    if (TypeCodeOf(tw, type)) {
    } else if (tw == "array") {
        if (scan_.NextChar() != '[') return fail(FormatMsg(msg::Expected, "["));
        const std::string nw = scan_.NextWord();
        int64_t n = 0;
        if (!TryParseInteger(nw, n) || n < std::numeric_limits<int32_t>::min())
            return fail(nw + std::string(msg::NotInteger));
        if (n > kMaxArrayElements) return fail(FormatMsg(msg::ArrayTooLarge, kMaxArrayElements));
        if (scan_.NextChar() != ']') return fail(FormatMsg(msg::Expected, "]"));
        if (scan_.NextWord() != "of") return fail(FormatMsg(msg::Expected, "of"));
        if (!TypeCodeOf(scan_.NextWord(), type)) return fail(FormatMsg(msg::TypeAfter, "of"));
        size = static_cast<int32_t>(n);
    } else {
        return fail(FormatMsg(msg::UnknownType, tw));
    }
    const char c = scan_.PeekChar();
    if (c == ')') {
        if (!paramMode) return fail(FormatMsg(msg::Expected, msg::arg::SemiOrExternal));
    } else if (c != ';') {
        if (paramMode) return fail(FormatMsg(msg::Expected, msg::arg::SemiOrParen));
        if (scan_.NextWord() != "external")
            return fail(FormatMsg(msg::Expected, msg::arg::SemiOrExternal));
        size = 0;
        if (scan_.NextChar() != ';') return fail(FormatMsg(msg::Expected, msg::arg::SemiOrParen));
    } else if (!paramMode) {
        scan_.NextChar();
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
    const std::string name = scan_.NextWord();
    if (stop_) return;
    if (!IsIdentifier(name)) {
        Error(msg::NotIdentifier, name);
        scan_.AdvanceLine();
        return;
    }
    if (consts_.IndexOf(name) >= 0) {
        Error(msg::Repeated, name);
        scan_.AdvanceLine();
        return;
    }
    if (scan_.NextChar() != '=') {
        Error(msg::Expected, "=");
        scan_.AdvanceLine();
        return;
    }
    const std::string value = scan_.ReadConstValue();
    if (scan_.NextChar() != ';') Error(msg::Expected, ";");
    consts_.Add(name, value);
}

void TsourceFile::CompileUses() {
    // uses-clause -> "uses" unit-name { "," unit-name } ";"
    TusedFileList& used = target->UsedUnits;
    while (!fatal_) {
        const std::string w = scan_.NextWord();
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
        const char c = scan_.NextChar();
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
    const bool isFunc = scan_.NextWord() == "function";
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
    const std::string name = scan_.NextWord();
    rec.Name = name;
    if (name != "initialization" && !IsIdentifier(name)) {
        Error(msg::NotIdentifier, name);
        scan_.AdvanceLine();
        return finish(false);
    }
    if (scan_.PeekChar() == '(') {
        scan_.NextChar();
        if (scan_.PeekChar() != ')') ParamList(params);
        char c = scan_.NextChar();
        if (c == ';') c = scan_.NextChar();
        if (c != ')') Error(msg::Expected, ")");
    }
    if (isFunc) {
        if (scan_.NextChar() != ':') {
            Error(msg::Expected, ":");
            scan_.AdvanceLine();
            return finish(false);
        }
        const std::string tw = scan_.NextWord();
        if (!TypeCodeOf(tw, rt)) {
            Error(msg::UnknownType, tw);
            scan_.AdvanceLine();
            return finish(false);
        }
    }
    if (scan_.PeekChar() != ';') {
        if (scan_.NextWord() != "external") {
            Error(msg::Expected, msg::arg::SemiOrExternal);
            scan_.AdvanceLine();
            return finish(false);
        }
        rec.IsExternal = 1;
        rec.Loaded = 1;
    }
    if (scan_.NextChar() != ';') {
        Error(msg::Expected, ";");
        scan_.AdvanceLine();
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
        if (scan_.PeekWord() == "var") {
            scan_.NextWord();
            byRef = true;
        }
        const size_t first = params.size();
        VarGroup(true, nullptr);
        if (byRef)
            for (size_t i = first; i < params.size(); ++i)
                params[i].IsVarParam = 1;
        if (stop_ || scan_.PeekChar() != ';') break;
        scan_.NextChar();
        if (scan_.PeekChar() == ')') break;
    }
    vars_ = saved;
    if (scan_.PeekChar() != ')') {
        fatal_ = true;
        Error(msg::Expected, msg::arg::SemiOrParen);
        scan_.AdvanceLine();
    }
}

void TsourceFile::DeclareFunction() {
    // declaration -> header      (a second function or a global of the name is refused)
    // The line where the header begins: the line of its first word.
    const int line = scan_.WordLine();
    TClassDefInf rec;
    FunctionHeader(rec);
    bool global = false;
    for (const Tvardef& g : target->Globals)
        global = global || g.Name == rec.Name;
    if (target->Funcs.IndexOf(rec.Name) >= 0 || global) {
        if (!stop_) errors.Add(line, FormatMsg(msg::SameNameExists, rec.Name));
        scan_.AdvanceLine();
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
    // implementation-part -> "implementation" { body } [ "initialization" statements ] "end."
    if (scan_.NextWord() != "implementation") {
        Error(msg::Expected, msg::arg::VarOrImplementation);
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
    const Tcodetxt& lineList = scan_.Lines();
    const size_t n = lineList.size();
    size_t i = static_cast<size_t>(std::max(scan_.Pos().lineIndex, 0));
    bool endDotMissing = false;
    for (;;) {
        while (i < n && !IsHeaderLine(lineList[i].text) && !IsEndLine(lineList[i].text))
            ++i;
        if (i >= n) {
            // No "end." line: a source without one is in error even when no
            // body ran into the end.
            if (!endDotMissing && n > 0)
                errors.Add(lineList.back().lineNo, std::string(msg::MissingEndDot));
            break;
        }
        if (IsEndLine(lineList[i].text)) break;
        const Tline header = lineList[i];
        const std::string name = HeaderName(header.text);
        if (name.empty()) {
            errors.Add(header.lineNo, FormatMsg(msg::NotIdentifier, msg::arg::FunctionName));
            ++i;
            continue;
        }
        const int p = target->Funcs.IndexOf(name);
        if (p < 0) {
            errors.Add(header.lineNo, FormatMsg(msg::NotDeclared, msg::arg::Function));
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
        while (j < n && !IsHeaderLine(lineList[j].text) && !IsEndLine(lineList[j].text))
            ++j;
        size_t last = j - 1;
        if (j >= n) {
            errors.Add(lineList.back().lineNo, std::string(msg::MissingEndDot));
            endDotMissing = true;
            last = n - 1;
        }
        Tcodetxt body;
        if (p == kInitializationFunc) {
            body.push_back({header.lineNo, "procedure initialization;"});
            body.push_back({header.lineNo, "begin"});
            body.insert(body.end(), lineList.begin() + static_cast<std::ptrdiff_t>(i + 1),
                        lineList.begin() + static_cast<std::ptrdiff_t>(last + 1));
            body.push_back({0, "end;"});
        } else {
            body.assign(lineList.begin() + static_cast<std::ptrdiff_t>(i),
                        lineList.begin() + static_cast<std::ptrdiff_t>(last + 1));
        }
        f.bodyText = std::move(body);
        f.Loaded = 1;
        pending_.Push(std::to_string(p));
        i = last + 1;
    }
    TClassDefInf& init = target->Funcs.Get(kInitializationFunc);
    if (!init.Loaded) {
        init.bodyText = {{0, "procedure initialization;"}, {0, "begin"}, {0, "end;"}};
        init.Loaded = 1;
        pending_.Push(std::to_string(kInitializationFunc));
    }
    StartPart({});
}

void TsourceFile::CompileBodies() {
    while (pending_.Count() > 0) {
        const int p = std::stoi(pending_.Pop());
        TClassDefInf& f = target->Funcs.Get(p);
        Tcodetxt body = std::move(f.bodyText);
        f.bodyText = {};
        StartPart(std::move(body));
        scan_.AdvanceLine();
        stop_ = false;
        depth_ = 0;
        CompileBody(p);
        lastBodyLine_ = scan_.Lines().empty() ? 0 : scan_.Lines().back().lineNo;
        StartPart({});
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
    code_.SetFunction(target, &d.varDefs);
    consts_.consts = &d.consts;
    funcIndex_ = p;

    std::vector<std::string> labels;
    for (;;) {
        const TScanPos before = scan_.Pos();
        const std::string w = scan_.PeekWord();
        if (stop_) break;
        if (w == "var") {
            scan_.NextWord();
            VarSection();
        } else if (w == "const") {
            scan_.NextWord();
            ConstSection();
        } else if (w == "label") {
            scan_.NextWord();
            LabelSection(labels);
        } else {
            break;
        }
        if (stop_) break;
        if (scan_.Stuck(before)) {
            RanOut();
            break;
        }
    }
    if (stop_) return;  // ran out of input in a section: nothing to compile
    if (scan_.PeekWord() != "begin") {
        if (!stop_) Error(msg::Expected, "begin");
        if (!scan_.SkipToNextBody()) fatal_ = true;
        return;
    }
    code_.StartBody();
    scan_.NextWord();
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
    if (code.empty() || code.back().OpCode != opHalt)
        code_.Emit(Instruction(opHalt), code, scan_.LineNo());

    code_.StoreCode(code, d);
    d.Loaded = 1;
}

void TsourceFile::CompileBodyStatements(TsubList& code) {
    // body-statements -> statement-list "end" ";"      (after "begin"; nothing may follow)
    CompileStatementList(code, "end", nullptr, false);
    if (stop_) return;
    if (scan_.NextWord() != "end") Error(msg::Expected, "end");
    if (stop_) return;
    if (scan_.NextChar() != ';') Error(msg::Expected, ";");
    if (scan_.PeekChar() != TScanner::kEndOfText) Error(std::string(msg::CodeAfterEnd));
}

}  // namespace corvane

#include "script/runtime/qv_build.h"

#include "platform/Text.h"
#include "script/compiler/u_compile.h"

namespace corvane {

namespace {

// Link nests once per function met for the first time along a call chain
// (and once per used unit's initialization). A chain longer than this is
// refused so that no source can exhaust the stack of the thread building it.
constexpr int kMaxLinkNesting = 500;

std::string Fmt(std::string_view text, std::string_view arg) {
    return FormatMsg(text, arg);
}

// "第%d个函数在“%s”中没有找到。" with both of its arguments.
std::string FmtFuncNotFound(long long position, std::string_view unit) {
    std::string text = kMsgFuncNotFoundIn;
    text.replace(text.find("%d"), 2, std::to_string(position));
    text.replace(text.find("%s"), 2, unit);
    return text;
}

}  // namespace

// ---------------------------------------------------------------------------
// TProgramPlus

int TProgramPlus::AddFunc(const TClassDefInf& f) {
    auto copy = std::make_unique<TClassDefInf>();
    copy->Loaded = 1;
    copy->Name = f.Name;
    copy->ResultType = f.ResultType;
    copy->AssignedType = f.AssignedType;
    copy->HeadCount = f.HeadCount;
    copy->IsExternal = f.IsExternal;
    copy->varDefs = f.varDefs;
    copy->code = f.code;
    return image_.Funcs.Append(std::move(copy));
}

int TProgramPlus::AddGlobal(const Tvardef& def) {
    image_.Globals.push_back(def);
    return static_cast<int>(image_.Globals.size()) - 1;
}

void TProgramPlus::Finish(int main) {
    image_.Main = main;
    image_.Loaded = true;
}

// ---------------------------------------------------------------------------
// TFile_Mng

std::string_view TFile_Mng::Strip(std::string_view name) {
    if (name.size() >= 4 && SameTextAscii(name.substr(name.size() - 4), ".vmc"))
        name.remove_suffix(4);
    return name;
}

int TFile_Mng::Find(std::string_view name) const {
    if (!adapter_) return -1;
    int at = adapter_->IndexOf(Strip(name));
    if (at < 0 || static_cast<size_t>(at) >= images_.size() || !images_[static_cast<size_t>(at)])
        return -1;
    return images_[static_cast<size_t>(at)]->Registered ? at : -1;
}

int TFile_Mng::Register(std::string_view name, std::unique_ptr<TVMC_OBJ> image,
                        const TMemoryStream* stream) {
    if (!adapter_) return -1;
    name = Strip(name);
    int found = Find(name);
    if (found >= 0) return found;
    int at = adapter_->IndexOf(name);
    bool cached = at >= 0;
    if (!cached) at = adapter_->Count();
    if (images_.size() <= static_cast<size_t>(at)) images_.resize(static_cast<size_t>(at) + 1);
    image->Registered = true;
    images_[static_cast<size_t>(at)] = std::move(image);
    if (!cached && stream) adapter_->SetFile(name, *stream);
    return at;
}

TFile_Mng::Unit TFile_Mng::Entry(int position) const {
    Unit u;
    if (position < 0 || static_cast<size_t>(position) >= images_.size()) return u;
    u.image = images_[static_cast<size_t>(position)].get();
    if (adapter_) u.stream = adapter_->StreamAt(position);
    return u;
}

TFile_Mng::Unit TFile_Mng::Get(std::string_view name) {
    if (!adapter_) return {};
    name = Strip(name);
    int found = Find(name);
    if (found >= 0) return Entry(found);
    int at = adapter_->IndexOf(name);
    if (at >= 0 && static_cast<size_t>(at) < images_.size() && images_[static_cast<size_t>(at)]) {
        images_[static_cast<size_t>(at)]->Registered = true;
        return Entry(at);
    }
    TMemoryStream* stream = adapter_->GetFile(name);
    if (!stream) return {};
    auto image = std::make_unique<TVMC_OBJ>(adapter_);
    image->LoadFromStream(*stream);  // a bad image stays unloaded: lookups in it fail
    return Entry(Register(name, std::move(image), stream));
}

// ---------------------------------------------------------------------------
// TBuildObj

TBuildObj::TBuildObj() = default;

TBuildObj::~TBuildObj() {
    if (TCachedFileAdapter* a = files_.Adapter()) a->UnregisterBuilder(this);
}

void TBuildObj::SetFileAdapter(TCachedFileAdapter* adapter) {
    if (adapter == files_.Adapter()) return;
    if (TCachedFileAdapter* old = files_.Adapter()) old->UnregisterBuilder(this);
    files_.Clear();
    files_.SetAdapter(adapter);
    if (adapter) adapter->RegisterBuilder("TBuildObj", this);
}

void TBuildObj::AdapterGone(TFileAdapter* adapter) {
    if (adapter != files_.Adapter()) return;
    files_.Clear();
    files_.SetAdapter(nullptr);
}

std::string TBuildObj::ErrorText() const {
    std::string out;
    for (const std::string& line : errorTexts_)
        out += line + "\n";
    return out;
}

bool TBuildObj::Build(const std::vector<std::string>& lines, std::string mainName) {
    mainName = LowerCaseAscii(mainName);
    program_.Reset();
    funcKeys_.clear();
    funcIndex_.clear();
    globalKeys_.clear();
    globalIndex_.clear();
    buildErrors_.Clear();
    errorTexts_.clear();

    // Appends the build diagnostics to the error texts whatever way Build
    // ends.
    struct Finally {
        TBuildObj* self;
        ~Finally() {
            for (const std::string& line : self->buildErrors_.Render())
                self->errorTexts_.push_back(line);
        }
    } finally{this};

    auto image = std::make_unique<TVMC_OBJ>(files_.Adapter());
    TsourceFile compiler(files_.Adapter());
    compiler.target = image.get();
    compiler.lines = lines;
    try {
        compiler.Compile();
    } catch (const EScriptError& e) {
        // Raised faults (a name twice in one group, a 101st used unit)
        // end the compilation like a diagnostic.
        for (const std::string& line : compiler.errors.Render())
            errorTexts_.push_back(line);
        buildErrors_.Add(0, e.what());
        return false;
    }
    if (!compiler.errors.Empty() || !image->Loaded) {
        for (const std::string& line : compiler.errors.Render())
            errorTexts_.push_back(line);
        return false;
    }

    const std::string unit = kMainUnitName;
    int init = Link(unit, image.get(), nullptr, 0);
    if (init >= 0) program_.AddInit(init);
    int position = image->Funcs.IndexOf(mainName);
    if (position < 0) {
        std::string text = Fmt(msg::NotFound, mainName);
        buildErrors_.Add(0, text);
        throw EScriptError(text);
    }
    int main = Link(unit, image.get(), nullptr, position);
    if (main < 0) {
        std::string text = Fmt(msg::LoadFailed, mainName);
        buildErrors_.Add(0, text);
        throw EScriptError(text);
    }
    program_.Finish(main);
    return true;
}

int TBuildObj::Key(const std::map<std::string, int>& index, const std::string& key) {
    auto it = index.find(key);
    return it == index.end() ? -1 : it->second;
}

TFile_Mng::Unit TBuildObj::LinkUnit(const std::string& unitName) {
    int found = files_.Find(unitName);
    if (found >= 0) return files_.Entry(found);
    TFile_Mng::Unit u = files_.Get(unitName);
    if (!u.image) return u;
    int init = Link(unitName, u.image, u.stream, 0);
    if (init >= 0) program_.AddInit(init);
    return u;
}

int TBuildObj::LinkGlobal(const std::string& unitName, TVMC_OBJ* unit, int i) {
    const std::string key = unitName + "." + std::to_string(i);
    int known = Key(globalIndex_, key);
    if (known >= 0) return known;
    if (!unit || i < 0 || i >= static_cast<int>(unit->Globals.size())) {
        buildErrors_.Add(0, Fmt(msg::LoadVarFailed, key));
        return -1;
    }
    int g = program_.AddGlobal(unit->Globals[static_cast<size_t>(i)]);
    globalIndex_[key] = static_cast<int>(globalKeys_.size());
    globalKeys_.push_back(key);
    return g;
}

int TBuildObj::Link(const std::string& unitName, TVMC_OBJ* image, TMemoryStream* stream,
                    int position) {
    if (unitName.empty()) {
        buildErrors_.Add(0, kMsgFuncNameEmpty);
        return -1;
    }
    const std::string key = unitName + "." + std::to_string(position);
    int known = Key(funcIndex_, key);
    if (known >= 0) return known;
    if (!image) {
        buildErrors_.Add(0, kMsgInvalidVmc);
        return -1;
    }
    if (position < 0 || position >= image->Funcs.Count()) {
        buildErrors_.Add(0, FmtFuncNotFound(position, unitName));
        return -1;
    }
    TClassDefInf& source = image->Funcs.Get(position);
    if (!source.Loaded) {
        if (!stream) {
            buildErrors_.Add(0, kMsgInvalidStream);
            return -1;
        }
        try {
            image->LoadFuncBody(*stream, position);
        } catch (const EScriptError& e) {
            buildErrors_.Add(0, e.what());
            return -1;
        }
    }
    // An empty initialization function (only its opHalt) is not linked.
    if (position == 0 && source.code.size() == 1) return -1;
    if (nesting_ >= kMaxLinkNesting) {
        buildErrors_.Add(0, std::string(msg::NestingTooDeep));
        return -1;
    }

    funcIndex_[key] = static_cast<int>(funcKeys_.size());
    funcKeys_.push_back(key);
    const int n = program_.AddFunc(source);
    if (source.IsExternal) return n;
    ++nesting_;
    struct Leave {
        int& depth;
        ~Leave() { --depth; }
    } leave{nesting_};
    try {
        Rewrite(unitName, image, stream, source, n);
    } catch (const std::exception&) {
        return -1;
    }
    return n;
}

void TBuildObj::Rewrite(const std::string& unitName, TVMC_OBJ* image, TMemoryStream* stream,
                        const TClassDefInf& source, int n) {
    // The copy's record stays where it is while further functions are
    // appended (the list holds records by pointer), and its code is never
    // resized: references into it stay valid across the nested Links.
    TClassDefInf& copy = program_.FuncAt(n);
    for (int32_t at : source.Relocs) {
        if (at < 0 || static_cast<size_t>(at) >= copy.code.size()) continue;
        TQVInstruction& ins = copy.code[static_cast<size_t>(at)];
        if (ins.OpCode == opCallPrep) {
            const int32_t target = static_cast<int32_t>(ins.Imm2);
            int number;
            if (ins.Imm == -1) {
                number = target;  // the negated built-in number
            } else if (ins.Imm == 0) {
                number = Link(unitName, image, stream, target);
            } else {
                const std::string used = image->UsedUnits.Get(ins.Imm);
                number = Key(funcIndex_, used + "." + std::to_string(target));
                if (number < 0) {
                    TFile_Mng::Unit u = LinkUnit(used);
                    number = Link(used, u.image, u.stream, target);
                }
            }
            if (number < 0 && ins.Imm != -1) {
                buildErrors_.Add(0, FmtFuncNotFound(target, unitName));
                return;
            }
            ins.Imm = number;
            ins.Imm2 = 0;
            continue;
        }
        const int count = OperandCount(ins.OpCode);
        for (int k = 0; k < count; ++k) {
            Taddr& a = k == 0 ? ins.Dest : (k == 1 ? ins.Src1 : ins.Src2);
            if (a.Kind != akGlobal) continue;
            int g;
            if (a.Module == 0) {
                g = LinkGlobal(unitName, image, a.Index);
            } else {
                const std::string used = image->UsedUnits.Get(static_cast<int>(a.Module));
                TFile_Mng::Unit u = LinkUnit(used);
                g = LinkGlobal(used, u.image, a.Index);
            }
            if (g < 0) {
                buildErrors_.Add(0, Fmt(kMsgVarNotFound, a.Name));
                return;
            }
            a.Index = g;
            a.Module = 0;
        }
    }
}

}  // namespace corvane

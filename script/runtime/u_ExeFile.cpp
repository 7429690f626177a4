#include "script/runtime/u_ExeFile.h"

#include "script/runtime/u_paramDlg.h"

namespace corvane {

TProgram::TProgram() = default;

TProgram::~TProgram() {
    // The activation points into the function records: free it first.
    cachedEngine_.reset();
}

void TProgram::Reset() {
    cachedEngine_.reset();
    image_.Reset();
    globals_.Clear();
    declared_ = false;
}

bool TProgram::LoadFromStream(TMemoryStream& stream) {
    Reset();
    if (!image_.LoadFromStream(stream)) {
        Reset();
        return false;
    }
    return true;
}

void TProgram::SaveToStream(TMemoryStream& stream) const {
    if (image_.Loaded) image_.SaveToStream(stream);
}

void TProgram::SetMain(int n) {
    if (n == image_.Main) return;
    image_.Main = n;
    cachedEngine_.reset();
}

void TProgram::SetOnGetValue(TOnGet handler) {
    onGetValue_ = std::move(handler);
    globals_.SetGetHandler(onGetValue_);
}

void TProgram::SetOnSetValue(TOnSet handler) {
    onSetValue_ = std::move(handler);
    globals_.SetSetHandler(onSetValue_);
}

void TProgram::InitGlobals() {
    globals_.SetGetHandler(onGetValue_);
    globals_.SetSetHandler(onSetValue_);
    const TvarDeflist& defs = image_.Globals;
    if (!defs.empty()) {
        if (!declared_) {
            declared_ = true;
            for (const Tvardef& def : defs) {
                if (def.Size <= 0)
                    globals_.AddExternal(def.Name, def.DataType);
                else if (def.Size == 1)
                    globals_.AddScalar(def.Name, def.DataType);
                else
                    globals_.AddArray(def.Name, def.Size, def.DataType);
            }
        }
        // Initial texts are applied again at every call; globals without one
        // keep the values of earlier runs.
        for (size_t i = 0; i < defs.size() && static_cast<int>(i) < globals_.Count(); ++i)
            if (defs[i].Size == 1 && !defs[i].InitText.empty())
                globals_.At(static_cast<int>(i)).SetString(defs[i].InitText);
    }
    for (int32_t n : image_.InitList)
        RunInit(n);
}

Variant TProgram::RunInit(int n) {
    TASMCodeEngine engine(n, &globals_, &image_.Funcs);
    engine.SetOnTag(OnTag);
    engine.SetOnExternalFunc(onExternalFunc);
    engine.SetCancelCheck(cancel_);
    engine.Run();
    return engine.Locals().Count() > 0 ? engine.Locals().At(0).AsVariant() : Variant();
}

Variant TProgram::ExecuteMain() {
    return Execute(image_.Main);
}

Variant TProgram::Execute(int n) {
    if (!image_.Loaded) return Variant();
    Variant r(false);
    const std::string* name;
    std::vector<std::string> paramNames;
    std::shared_ptr<TbaseFunctions> registry;
    if (n >= 0) {
        if (n >= image_.Funcs.Count()) return r;
        const TClassDefInf& f = image_.Funcs.Get(n);
        if (AutoInitGVar) InitGlobals();
        name = &f.Name;
        for (int i = 1; i < f.HeadCount && i < static_cast<int>(f.varDefs.size()); ++i)
            paramNames.push_back(f.varDefs[static_cast<size_t>(i)].Name);
    } else {
        registry = TbaseFunctions::Acquire();
        if (n == INT32_MIN || -n >= registry->Count()) return r;
        const TfuncHeadInfo& head = registry->Head(-n);
        InitGlobals();
        name = &head.Name;
        for (size_t i = 1; i < head.Vars.size(); ++i)
            paramNames.push_back(head.Vars[i].Name);
    }
    if (BeforeExecute) BeforeExecute(*name);

    Tparamlist params;
    if (!paramNames.empty()) {
        for (const std::string& p : paramNames)
            params.push_back({p, Variant("0")});
        bool handled = false;
        if (OnParam) OnParam(params, handled);
        if (!handled && !ShowParamDialog(params)) return r;
    }

    std::unique_ptr<TASMCodeEngine> fresh;
    TASMCodeEngine* engine;
    if (n >= 0 && n == image_.Main) {
        if (!cachedEngine_) {
            cachedEngine_ = std::make_unique<TASMCodeEngine>(n, &globals_, &image_.Funcs);
            cachedEngine_->SetOnTag(OnTag);
        }
        engine = cachedEngine_.get();
    } else {
        fresh = std::make_unique<TASMCodeEngine>(n, &globals_, &image_.Funcs);
        fresh->SetOnTag(OnTag);
        engine = fresh.get();
    }
    engine->SetOnExternalFunc(onExternalFunc);
    engine->SetCancelCheck(cancel_);
    engine->ResetIP();
    TVarMngr& locals = engine->Locals();
    for (size_t i = 0; i < params.size() && static_cast<int>(i) + 1 < locals.Count(); ++i)
        locals.At(static_cast<int>(i) + 1).SetVariant(params[i].Value);
    engine->Run();

    if (locals.Count() > 0) {
        locals.At(0).ReadVariant(r);
        LastResultType = locals.At(0).DataType();
    }
    LastResult.Assign(r);
    if (ReportResult) ShowResultReport(r.AsString());
    return r;
}

}  // namespace corvane

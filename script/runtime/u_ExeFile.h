// u_ExeFile: the program executor.
//
// TProgram holds one linked program image (qv_vmc's TProgramImage: the
// functions numbered program-wide, the global variable definitions, the
// main function and the initialization list) together with the program's
// global variable table, and runs its functions: it runs the initialization
// functions of the linked units, gathers values for a function's parameters
// (from the host's OnParam, or else from the user through the parameter
// dialog hook of u_paramDlg), runs the function in an interpreter activation
// (CodeMng) and hands the result back as a Variant.
//
// The main function's activation is kept between runs (the "cached
// engine"): its variables keep their values from one ExecuteMain to the
// next and only the instruction position is reset and the parameters
// rewritten. That is what makes repeated evaluation cheap for the
// expression component (u_expr), which runs the same one-line function once
// per row. Every other function runs in a fresh activation.
//
// Everything a script does outside itself goes through the events:
// onGetValue/OnSetValue (external variables), onExternalFunc, OnTag,
// BeforeExecute and OnParam. A cancellation check (SetCancelCheck) is handed
// to every activation so that a host can stop an endless run.
//
// What it does not do: compile or link (the build driver, qv_build, fills a
// TProgramPlus), interpret instructions (CodeMng), or show anything: the
// parameter dialog and the ReportResult box are host hooks (u_paramDlg).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "script/common/qv_vmc.h"
#include "script/runtime/CodeMng.h"
#include "script/runtime/varMng.h"

namespace corvane {

// Called with the function's name before it runs.
using TExeEvent = std::function<void(const std::string& func_nm)>;
// Supplies parameter values: set handled to true to skip the dialog.
using TOnParam = std::function<void(Tparamlist& paramlist, bool& handled)>;

class TProgram {
  public:
    TProgram();
    virtual ~TProgram();
    TProgram(const TProgram&) = delete;
    TProgram& operator=(const TProgram&) = delete;

    // Forgets the program: definitions, functions, globals, cached engine.
    void Reset();
    // Reset, then read a program image; false (and reset) on any fault.
    bool LoadFromStream(TMemoryStream& stream);
    // Writes the program image when loaded; otherwise nothing.
    void SaveToStream(TMemoryStream& stream) const;

    // Makes n the main function; a change frees the cached activation.
    void SetMain(int n);
    int Main() const { return image_.Main; }
    bool Loaded() const { return image_.Loaded; }

    virtual Variant ExecuteMain();
    // Runs function n (built-in -n when negative). Returns false without
    // running for a number outside the program or the registry, or when the
    // parameter dialog is cancelled; an empty value when nothing is loaded.
    // Errors of the run propagate (after a fresh activation is freed).
    Variant Execute(int n);
    // Declares the global table on first use, applies initial texts, runs
    // the initialization functions.
    void InitGlobals();
    // Runs function n in a fresh activation over the globals.
    Variant RunInit(int n);

    // The program image and the global table.
    const TProgramImage& Image() const { return image_; }
    TVarMngr& Globals() { return globals_; }

    // Accessors for external variables, installed into the globals at once.
    void SetOnGetValue(TOnGet handler);
    void SetOnSetValue(TOnSet handler);
    const TOnGet& OnGetValue() const { return onGetValue_; }
    const TOnSet& OnSetValue() const { return onSetValue_; }
    // Polled while running; see CodeMng.
    void SetCancelCheck(TCancelCheck check) { cancel_ = std::move(check); }

    TExeEvent BeforeExecute;
    TOnParam OnParam;
    // Reaches the cached activation only when it is created.
    TOnCustomTag OnTag;
    TOnExternalFunc onExternalFunc;
    // Show every result through the result-report hook.
    bool ReportResult = false;
    // Run InitGlobals before every run of a script function.
    bool AutoInitGVar = true;

    Variant LastResult;
    TDataType LastResultType = dtNone;

  protected:
    TProgramImage image_;

  private:
    TVarMngr globals_;
    bool declared_ = false;
    std::unique_ptr<TASMCodeEngine> cachedEngine_;
    TOnGet onGetValue_;
    TOnSet onSetValue_;
    TCancelCheck cancel_;
};

}  // namespace corvane

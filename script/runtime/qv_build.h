// qv_build: the build driver, which turns script source into a runnable
// program.
//
// TBuildObj compiles a source text as one unit (u_compile) into a unit image
// and then links, starting from a named main function, every function and
// global variable the program can reach into a TProgramPlus. Linking is lazy
// and demand-driven: only functions that are called and globals that are
// addressed enter the program, in the order in which the linker first meets
// them (depth first), and the instructions of each copied function are
// rewritten from unit-relative to program-wide numbers at the positions of
// the unit's relocation list. A function is identified by a key, unit name
// + "." + position (the compiled source is the unit "file___1"); its program
// number is the position of its key, which is how recursion and repeated
// calls link a function once. Globals are numbered the same way.
//
// Other units are found by name through a TFile_Mng, which keeps the unit
// images it has loaded, over a TCachedFileAdapter (u_fileadapter).
//
// Link faults are recorded in the build error list (named "Build") and
// copied to the error texts at the end of Build; only a missing or
// unlinkable main function makes Build raise. A fault the compiler raises
// (a name twice in one group, a 101st used unit) becomes a Build diagnostic.
//
// What it does not do: compile statements (u_compile), read or write images
// (qv_vmc), run the program (u_ExeFile, CodeMng).
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "script/common/U_err.h"
#include "script/runtime/u_ExeFile.h"
#include "script/runtime/u_fileadapter.h"

namespace corvane {

// Link messages.
inline constexpr const char* kMsgFuncNameEmpty = "函数名为空。";
inline constexpr const char* kMsgInvalidVmc = "无效的VMC。";
inline constexpr const char* kMsgInvalidStream = "无效的Stream。";
inline constexpr const char* kMsgFuncNotFoundIn = "第%d个函数在“%s”中没有找到。";
inline constexpr const char* kMsgVarNotFound = "变量“%s”没有找到。";

// The unit name under which the compiled source is linked.
inline constexpr const char* kMainUnitName = "file___1";

// The program the linker builds: a TProgram with three additions.
class TProgramPlus : public TProgram {
  public:
    TProgramPlus() { ReportResult = true; }
    // Appends a copy of the record (no constants, no relocations, body
    // position and size 0) and returns its number.
    int AddFunc(const TClassDefInf& f);
    void AddInit(int n) { image_.InitList.push_back(n); }
    int AddGlobal(const Tvardef& def);
    TClassDefInf& FuncAt(int n) { return image_.Funcs.Get(n); }
    int FuncCount() const { return image_.Funcs.Count(); }
    // Marks the linked program runnable with its main function.
    void Finish(int main);
};

// The unit images of one build, indexed by the position of the unit's name
// in the adapter's cache.
class TFile_Mng {
  public:
    struct Unit {
        TVMC_OBJ* image = nullptr;
        TMemoryStream* stream = nullptr;
    };

    void SetAdapter(TCachedFileAdapter* adapter) { adapter_ = adapter; }
    TCachedFileAdapter* Adapter() const { return adapter_; }

    // Stores the image under the name (a final ".vmc" is dropped) and marks
    // it registered; a registered name keeps its image. The position.
    int Register(std::string_view name, std::unique_ptr<TVMC_OBJ> image,
                 const TMemoryStream* stream);
    // The position of a registered name; -1.
    int Find(std::string_view name) const;
    // The registered unit, or one loaded through the adapter and registered
    // now; image null when the adapter has no such file.
    Unit Get(std::string_view name);
    Unit Entry(int position) const;
    void Clear() { images_.clear(); }

  private:
    static std::string_view Strip(std::string_view name);
    std::vector<std::unique_ptr<TVMC_OBJ>> images_;
    TCachedFileAdapter* adapter_ = nullptr;
};

class TBuildObj : public TAdapterClient {
  public:
    TBuildObj();
    ~TBuildObj() override;
    TBuildObj(const TBuildObj&) = delete;
    TBuildObj& operator=(const TBuildObj&) = delete;

    // Compiles the source and links it from mainName. False with the
    // diagnostics in ErrorTexts when it does not compile; raises
    // EScriptError (after recording it) when the main function is missing
    // or cannot be linked.
    bool Build(const std::vector<std::string>& lines, std::string mainName);

    int Link(const std::string& unitName, TVMC_OBJ* image, TMemoryStream* stream, int position);
    TFile_Mng::Unit LinkUnit(const std::string& unitName);
    int LinkGlobal(const std::string& unitName, TVMC_OBJ* unit, int i);

    // The adapter through which used units are found (may be null: a program
    // without used units needs none). Not owned.
    void SetFileAdapter(TCachedFileAdapter* adapter);
    TCachedFileAdapter* FileAdapter() const { return files_.Adapter(); }

    TProgramPlus& Program() { return program_; }
    const TErrorList& BuildErrors() const { return buildErrors_; }
    // The rendered diagnostics of the last Build ("Compile: line 3:...",
    // "Build: line 0:...").
    const std::vector<std::string>& ErrorTexts() const { return errorTexts_; }
    std::string ErrorText() const;  // the texts, one per line
    const std::vector<std::string>& FunctionKeys() const { return funcKeys_; }
    const std::vector<std::string>& GlobalKeys() const { return globalKeys_; }

  private:
    void AdapterGone(TFileAdapter* adapter) override;
    static int Key(const std::map<std::string, int>& index, const std::string& key);
    void Rewrite(const std::string& unitName, TVMC_OBJ* image, TMemoryStream* stream,
                 const TClassDefInf& source, int n);

    TFile_Mng files_;
    std::vector<std::string> globalKeys_, funcKeys_;
    std::map<std::string, int> globalIndex_, funcIndex_;
    TProgramPlus program_;
    TErrorList buildErrors_{"Build"};
    std::vector<std::string> errorTexts_;
    int nesting_ = 0;  // Link calls in progress
};

}  // namespace corvane

// u_expr: the expression component through which hosts (the query engine)
// evaluate expressions of the script language.
//
// TXExpression wraps one expression into a small generated program (one
// unit with one function whose body assigns the expression to result),
// builds it with the build driver (qv_build), keeps the linked program in its
// own TProgram (u_ExeFile) and runs it on demand. Compilation happens once;
// every later evaluation only runs the kept program in the same cached
// activation, until an input that shapes the program text changes (Expr,
// Externals, ExternalFuncs: they make it dirty).
//
// Values reach the expression two ways:
//   GVarDefs   global variable declarations; the host writes the program's
//              global table directly between evaluations (GlobalAt). This is
//              the fast path the query engine uses: no name lookups per row.
//   Externals  "name:type" lines; each becomes a private external variable
//              "_E_<k>" read and written through onGetValue/OnSetValue under
//              its listed name.
// ExternalFuncs lines are declared "external", so calls reach onExternalFunc.
//
// The text generation and the renaming of external names are free functions
// (GenerateExpressionProgram, RewriteExternalNames) so that they can be read
// and tested on their own.
//
// This unit does not compile (u_compile), link (qv_build) or interpret
// (CodeMng); it does not know SQL (the engine's TVeskExprPlus binds columns
// to the globals).
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvane {

// The generated function's name; it is the main function of the program.
inline constexpr const char* kExprFuncName = "test_7777987321";

// One entry of the external map: the private name ("_E_<k>") and the name
// the Externals line lists (the bytes before its first ":", untrimmed).
struct TExternalMapEntry {
    std::string PrivateName;
    std::string ListedName;
};
using TExternalMap = std::vector<TExternalMapEntry>;

// Replaces every whole token of expr equal to a listed name (ignoring letter
// case) by its private name, entry after entry. Quoted literals are single
// tokens and are never touched; everything else keeps its letter case.
std::string RewriteExternalNames(std::string_view expr, const TExternalMap& map);

// The generated program's source lines, and the external map built from the
// Externals lines.
std::vector<std::string> GenerateExpressionProgram(std::string_view expr,
                                                   const std::vector<std::string>& externals,
                                                   const std::vector<std::string>& externalFuncs,
                                                   const std::vector<std::string>& gvarDefs,
                                                   TExternalMap& map);

}  // namespace corvane

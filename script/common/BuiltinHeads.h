// BuiltinHeads: the built-in functions as the compiler and images see them.
//
// The script language has functions that no unit defines (the built-in
// library, script/runtime/u_base_funcs). Compiling a call and resolving a
// name across units needs only their heads: number, name, result type and
// typed parameters. Those are this fixed table, one level below the
// compiler, so that the compiler and the image model know every built-in
// without the interpreter's implementations; the built-in library pairs
// each head with its implementation by number.
//
// Compiled images refer to a built-in by its negated number: the order of
// the table is fixed forever (append only).
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "script/common/qv_consts.h"

namespace corvane {

// One variable of a built-in's head: position 0 is "result", then one per
// parameter. Every one is a plain (size 1, by-value) variable without an
// initial text.
struct TBuiltinVar {
    std::string Name;
    TDataType DataType = dtNone;
    // A call may stop before this parameter (and every one after it, which
    // must be optional as well). A left-out parameter arrives empty (a
    // Variant of kind Empty), which is why optional parameters are of type
    // variant: an argument given, even the empty text, is never empty.
    bool Optional = false;
};

// One built-in's head.
struct TBuiltinHead {
    std::string Name;               // call name, lower case
    TDataType ResultType = dtNone;  // dtNone for a procedure
    std::vector<TBuiltinVar> Vars;  // result, then the parameters
    std::string Template;           // descriptive call template (display only)
    // Reads the content of a file: slow on big files, so the planner
    // evaluates conditions that call it after the cheap ones.
    bool ReadsContent = false;
};

// The table. Entry 0 is an empty placeholder; the built-ins are numbers
// 1..Count()-1 in their fixed order: the 31 first ones the classic library,
// 32..34 the regular expression functions, then the file content and
// metadata functions.
class TBuiltinHeads {
  public:
    // The shared table, built on first use and kept for the life of the
    // process. Thread-safe.
    static std::shared_ptr<const TBuiltinHeads> Acquire();

    // Number of the first entry whose name equals name in lower case; -1.
    int Find(std::string_view name) const;
    // The head itself; "范围越界。" outside 0..Count()-1.
    const TBuiltinHead& Head(int number) const;
    int Count() const { return static_cast<int>(items_.size()); }

    TBuiltinHeads();  // use Acquire

  private:
    std::vector<TBuiltinHead> items_;
};

}  // namespace corvane

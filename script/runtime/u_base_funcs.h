// u_base_funcs: the built-in function library of the script language.
//
// Scripts can call functions that no unit defines: string, arithmetic,
// date and conversion functions, a message box, a conditional, two
// formatting functions and, appended after them, three for regular
// expressions (regexp_like, regexp_substr, regexp_replace; RE2 through
// script/common/URegexp), then those that read a file's contents or
// metadata (digests, contains, contains_regexp, linecount, head, owner and
// the like; platform/FileContent). They live in one registry, TbaseFunctions, shared by
// every compiler and interpreter object of the process. Each built-in has a
// head like a script function (result type and typed parameters), so the
// compiler checks and converts arguments at the call site exactly as for a
// script function, and the interpreter runs it through the same activation
// object; compiled images refer to a built-in by its negated number, which
// is why the registration order below is fixed forever.
//
// The formatting functions implement two small languages of their own:
//   format          "%" [index ":"] ["-"] [width] ["." precision] type, the
//                   types d u x e f g n m s (and p, never formatted), "%%"
//                   for a percent sign; one argument only.
//   formatdatetime  the date pattern letters d m y h n s z t c, am/pm, a/p,
//                   ampm, "/" and ":" as the regional separators, quoted
//                   text copied.
// Both take names, separators and formats from FormatSettings.
//
// The heads themselves (names, types, order) are a fixed table below the
// compiler (script/common/BuiltinHeads), which the compiler and the image
// object qv_vmc look built-ins up in; this registry pairs each head with its
// implementation by number. This unit does not create activations (CodeMng
// does). The message box is a host hook (u_paramDlg).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DateTime.h"
#include "platform/FormatSettings.h"
#include "platform/MessageText.h"
#include "script/common/BuiltinHeads.h"
#include "script/runtime/varMng.h"

namespace corvane {

// A pattern RE2 refuses (%s: the pattern; RE2's explanation follows), and a
// replacement text that names a group the pattern lacks.
inline constexpr const char* kMsgRegexpInvalid = "无效的正则表达式“%s”：";
inline constexpr const char* kMsgRewriteInvalid = "无效的替换文字“%s”：";
// A content or metadata function whose file could not be read ("%s" the
// file): the reason the statement gives when it leaves rows out for it.
inline constexpr TMessageText kMsgCannotRead{"无法读取“%s”", "cannot read “%s”"};
// The text of Call's range error.
inline constexpr const char* kMsgBoundExceeded = "Bound is exceeded";
// The text of a format pattern that the argument cannot fill; %s is the
// whole pattern.
inline constexpr const char* kMsgFormatInvalid =
    "Format '%s' invalid or incompatible with argument";

// A built-in's implementation: params[0] is the result slot, params[1..]
// the arguments as Variants already converted to the declared types; rtn
// receives the result (it arrives holding the integer 0).
using TBuiltinImpl = std::function<void(Tparamlist& params, Variant& rtn)>;

// One built-in.
struct TfuncHeadInfo {
    std::string Name;               // call name, lower case
    TDataType ResultType = dtNone;  // dtNone for a procedure
    std::vector<TBuiltinVar> Vars;  // result, then the parameters
    TBuiltinImpl Impl;
    std::string Template;  // descriptive call template (display only)
};

// The registry. Entry 0 is an empty placeholder; the built-ins are numbers
// 1..Count()-1 in their fixed order (the 31 first ones the classic library,
// 32..34 regular expressions, then file contents and metadata).
class TbaseFunctions {
  public:
    // The shared registry, created with every built-in on first use and
    // kept for the life of the process. Thread-safe.
    static std::shared_ptr<TbaseFunctions> Acquire();

    // Lower-cases the name and appends the head.
    void Register(TfuncHeadInfo head);
    // Number of the first entry whose name equals name in lower case; -1.
    int Find(std::string_view name) const;
    // A copy of a head; kMsgRangeExceeded outside 0..Count()-1.
    TfuncHeadInfo GetHead(int number) const;
    // The head itself (no copy); kMsgRangeExceeded outside the registry.
    const TfuncHeadInfo& Head(int number) const;
    // rtn := integer 0, then the implementation; kMsgBoundExceeded outside
    // 1..Count()-1.
    void Call(int number, Tparamlist& params, Variant& rtn) const;
    int Count() const { return static_cast<int>(items_.size()); }

    TbaseFunctions();  // use Acquire

  private:
    std::vector<TfuncHeadInfo> items_;
};

// The formatting languages, usable on their own (the CLI and tests use them).
// FormatOne: the format built-in with its single argument.
std::string FormatOne(std::string_view fmtstr, const Variant& v, const FormatSettings& fs);
// FormatDateTimeText: the formatdatetime built-in; an empty pattern is "c".
std::string FormatDateTimeText(std::string_view pattern, TDateTime dt, const FormatSettings& fs);

}  // namespace corvane

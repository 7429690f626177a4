// U_err: the compiler's diagnostics and the message table shared with the
// runtime.
//
// The compiler never stops at the first fault: it records each diagnostic
// with a source line number in a TErrorList and goes on. A caller renders the
// list one line per diagnostic as
//     <list name>: line <number>:<text>
// e.g. "Compile: line 12:期待“;”出现。". The list merges nothing and limits
// nothing; the order is the order of recording.
//
// Faults that are raised rather than recorded (a list class misused, a
// hostile image, and later every run-time fault of a script) are
// EScriptError exceptions carrying one of the fixed texts below.
//
// This unit knows no grammar: which fault records which text is decided by
// the compiler (u_compile) and the list classes (base_inf).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// A fault of the script machinery with one of the fixed message texts.
class EScriptError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// One diagnostic.
struct Terr_line {
    int32_t lineNo = 0;
    std::string text;
};

class TErrorList {
  public:
    explicit TErrorList(std::string name) : name_(std::move(name)) {}

    void Add(int32_t lineNo, std::string text) { items_.push_back({lineNo, std::move(text)}); }
    void Clear() { items_.clear(); }
    int Count() const { return static_cast<int>(items_.size()); }
    bool Empty() const { return items_.empty(); }
    const Terr_line& Item(int i) const { return items_.at(static_cast<size_t>(i)); }
    const std::vector<Terr_line>& Items() const { return items_; }
    const std::string& Name() const { return name_; }

    // One rendered line per diagnostic, in order.
    std::vector<std::string> Render() const;
    // The rendered lines, each followed by a line feed; empty when none.
    std::string Text() const;

  private:
    std::vector<Terr_line> items_;
    std::string name_;
};

// Fills the first "%s" (or "%d") of a message text with arg.
std::string FormatMsg(std::string_view text, std::string_view arg);
std::string FormatMsg(std::string_view text, long long arg);
// Two arguments into the first two "%s" of text, found before either is
// filled (so an argument holding "%s" is never filled itself).
std::string FormatMsg2(std::string_view text, std::string_view first, std::string_view second);

// The message table: number, then text. Compiler texts first, then the
// runtime's texts of the same table.
namespace msg {
// Compiler and list classes.
inline constexpr std::string_view VarParamNotValue =
    "Var类型的参数不可以是常数、常量或函数。";                                           // 65168
inline constexpr std::string_view ArgsNeedComma = "参数之间应该用“,”隔开。";             // 65169
inline constexpr std::string_view MissingEndDot = "程序缺少“end.”";                      // 65170
inline constexpr std::string_view IffOption = "“iff”的第%d个选项应该是一个表达式。";     // 65171
inline constexpr std::string_view Repeated = "“%s”重复出现。";                           // 65184
inline constexpr std::string_view NotImplemented = "函数“%s”没有实现。";                 // 65185
inline constexpr std::string_view BreakOutside = "“break”所在位置不在循环体中。";        // 65186
inline constexpr std::string_view ContinueOutside = "“continue”所在位置不在循环体中。";  // 65187
inline constexpr std::string_view WrongStatement = "错误的语句。";                       // 65188
inline constexpr std::string_view StatementStartsWithConst =
    "语句不能以常量或者常数开始。";                                                // 65189
inline constexpr std::string_view NotDeclared = "“%s”没有被声明。";                // 65190
inline constexpr std::string_view SameNameExists = "存在同名的函数或者变量“%s”";   // 65191
inline constexpr std::string_view InvalidTarget = "目标无效。";                    // 65192
inline constexpr std::string_view IndexNotOrdinal = "数组下标必须为有序类型。";    // 65193
inline constexpr std::string_view BadExpression = "不正确的表达式。";              // 65194
inline constexpr std::string_view TypeMismatch = "类型不兼容。";                   // 65195
inline constexpr std::string_view LikeNeedsString = "Like需要string类型。";        // 65196
inline constexpr std::string_view MinusNeedsNumber = "负号之后必须是数字。";       // 65197
inline constexpr std::string_view OperandNeeded = "需要操作数。";                  // 65198
inline constexpr std::string_view ProcedureInExpression = "过程出现在表达式中。";  // 65199
inline constexpr std::string_view FileDeclaredTwice = "文件“%s”重复声明。";        // 65200
inline constexpr std::string_view RangeExceeded = "范围越界。";                    // 65201
inline constexpr std::string_view VarDeclaredTwice = "变量“%s”重复声明。";         // 65202
inline constexpr std::string_view ReturnTypeDiffers =
    "函数“%s”的实际返回值类型与函数声明部分不同。";  // 65205
inline constexpr std::string_view ParamsDiffer =
    "函数“%s”的实际参数列表与函数声明不同，或者数组长度不相等。";             // 65206
inline constexpr std::string_view LabelDeclaredTwice = "标签“%s”重复声明。";  // 65207
inline constexpr std::string_view Expected = "期待“%s”出现。";                // 65208
inline constexpr std::string_view CodeAfterEnd =
    "end;之后有多余代码，或者begin和end不配对。";                            // 65209
inline constexpr std::string_view NotIdentifier = "“%s”不是合法的标识符。";  // 65210
inline constexpr std::string_view VarExists = "变量“%s”已经存在。";          // 65211
inline constexpr std::string_view NotInteger = "不是有效的整数。";           // 65212
inline constexpr std::string_view TypeAfter = "“%s”之后应该是数据类型。";    // 65213
inline constexpr std::string_view UnknownType = "“%s”未知的数据类型。";      // 65214
inline constexpr std::string_view NoProperEnd = "程序/函数不能正常结束。";   // 65215
inline constexpr std::string_view NumberOutOfRange = "数值超出范围：%s";     // 65216
inline constexpr std::string_view StackEmpty = "栈为空。";                   // 65230
inline constexpr std::string_view TooManyFiles = "引用文件太多。";           // 65231
// Texts without a number.
inline constexpr std::string_view SeveralBodies = "一个函数不能有多个实现";
inline constexpr std::string_view BoundsExceeded = "Bounds is exceeded!";
// Added by this implementation, in the style of the others: a body with
// more labels than it may hold, and a nesting too deep to compile.
inline constexpr std::string_view TooManyLabels = "标签太多，一个函数最多只能声明%d个标签。";
inline constexpr std::string_view NestingTooDeep = "嵌套层次太深。";
// An array declared with more than kMaxArrayElements (qv_consts) elements.
inline constexpr std::string_view ArrayTooLarge = "数组太大，一个数组最多只能有%d个元素。";

// The texts the compiler puts into the "%s" of the messages above.
namespace arg {
// Alternatives for Expected, joined as the message shows them.
inline constexpr std::string_view SemiOrColon = ";”或者“:";
inline constexpr std::string_view SemiOrParen = ";”或者“)";
inline constexpr std::string_view SemiOrExternal = ";”或者“External";
inline constexpr std::string_view SemiOrEnd = ";”或者“end";
inline constexpr std::string_view SemiOr = ";”或者“";  // followed by the word that ends a list
inline constexpr std::string_view ElseOrSemi = "else”或者“;";
inline constexpr std::string_view ToOrDownto = "to”或者“downto";
inline constexpr std::string_view LabelEnd = ",”，“..”，“:";
inline constexpr std::string_view VarOrImplementation = "var”或者“implementation";
inline constexpr std::string_view BooleanExpression = "布尔表达式";
// For NotIdentifier and NotDeclared about a function body's header line.
inline constexpr std::string_view FunctionName = "函数名称";
inline constexpr std::string_view Function = "函数";
}  // namespace arg

// Runtime texts of the same table (raised by the image reader and the
// runtime units).
inline constexpr std::string_view LoadVarFailed = "载入变量“%s”失败。";  // 65152
inline constexpr std::string_view LoadFailed = "%s：载入失败。";         // 65153
inline constexpr std::string_view NotFound = "%s：没找到。";             // 65154
inline constexpr std::string_view BadParameter = "“%s”的参数不合法。";   // 65155
inline constexpr std::string_view InvalidObjectCode = "目标代码无效。";  // 65172
inline constexpr std::string_view AddressOutOfRange = "地址越界。";      // 65177
inline constexpr std::string_view OnGetNotSet = "“OnGet”没有初始化。";   // 65178
inline constexpr std::string_view InvalidAddress = "无效的地址访问。";   // 65203
}  // namespace msg

}  // namespace corvane

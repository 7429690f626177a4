// SqlMessages: every message text of the SQL side, in one table.
//
// Statement errors are collected, never raised: the statement parser
// (sqlScan_Base), the binder (SqlBinder), operands (UveskBase) and the FROM
// clause (U_from) append these texts to the engine's error list, each with
// its place in the statement. Faults while a statement runs are exceptions
// that carry the execution texts below (QueryCancelledError,
// ResultTooLargeError, VariantError, std::runtime_error).
//
// "%s" and "%d" mark where FormatMsg (script/common/U_err) puts the
// argument; a text that ends in "：" or ":" is followed by what it names.
// The texts are the system's own and must stay byte for byte as they are:
// hosts, case files and users' scripts compare them.
//
// The script compiler's and runtime's texts are a separate table
// (script/common/U_err.h).
//
// Texts added with the statement grammar carry an English text beside the
// Chinese one (TMessageText, platform/MessageText); Msg picks the one of
// the language the front end chose.
#pragma once

#include <string_view>

#include "platform/MessageText.h"
#include "script/runtime/SqlValue.h"

namespace corvane::sqlmsg {

// ---- The statement parser.
inline constexpr std::string_view InvalidSelect = "无效的select语句";
inline constexpr std::string_view WhereExpected = "期待where出现";
inline constexpr std::string_view HavingNeedsGroupBy = "having之前应有group by";
inline constexpr std::string_view UnknownParameter = "不认识的参数:";  // + the name
inline constexpr std::string_view TooManyTables = "FROM中的表太多，最多%d个";
inline constexpr std::string_view SubQueryInFrom = "不支持FROM中的子查询：";  // + the text
inline constexpr std::string_view TopNeedsInteger = "Top 之后应该是一个整数";
inline constexpr std::string_view MissingItem = "缺失输出项";
inline constexpr std::string_view MissingGroupItem = "缺失分组项";
inline constexpr std::string_view LimitNeedsInteger = "Limit 之后应该是一个整数";
inline constexpr std::string_view OffsetNeedsInteger = "Offset 之后应该是一个整数";
// A clause keyword or other text after LIMIT n [OFFSET m].
inline constexpr std::string_view LimitNotLast = "limit应在语句的末尾";
inline constexpr std::string_view TopWithLimit = "top和limit不能同时使用";

// ---- The WHERE parser.
inline constexpr std::string_view WhereIncomplete = "where部分不完整。";
inline constexpr std::string_view WhereTrailing = "where部分有语法错误，似乎有多余字符串";
inline constexpr std::string_view WhereTooDeep = "where部分嵌套太深";
// The same three for the HAVING condition, which the WHERE parser reads.
inline constexpr std::string_view HavingIncomplete = "having部分不完整。";
inline constexpr std::string_view HavingTrailing = "having部分有语法错误，似乎有多余字符串";
inline constexpr std::string_view HavingTooDeep = "having部分嵌套太深";
inline constexpr std::string_view BracketsUnbalanced = "括号不匹配";
// Alone, followed by ":" and the operator run, or directly by the word.
inline constexpr std::string_view UnknownRelation = "不认识的关系运算符";
inline constexpr std::string_view BetweenNeedsAnd = "Between之后，期待关键字and";
inline constexpr std::string_view InvalidNumber = "无效的数字";
inline constexpr std::string_view SquareBracketExpected = "期待\"]\"";
// Where the parser gave up, each followed by the condition and PlaceSuffix:
//   试图获得一个布尔表达式时失败.(size >> 1的6位置)
inline constexpr std::string_view ConditionFailed = "试图获得一个布尔表达式时失败.(";
inline constexpr std::string_view ConditionAfterAndFailed =
    "在and之后，试图获得一个布尔表达式时失败.(";
inline constexpr std::string_view BracketedRelationFailed = "试图获得一个关系式时失败.(";
inline constexpr std::string_view SubTermFailed = "试图获得一个子项时失败.(";
inline constexpr std::string_view RelationFailed = "试图获得一个关系式时，失败了.(";
inline constexpr std::string_view PlaceSuffix = "的%d位置)";

// ---- The statement grammar (tokens, expressions, clauses).
inline constexpr std::string_view QuoteNotClosed = "引号不匹配";
inline constexpr TMessageText CommentNotClosed{"注释没有结束", "the comment is not closed"};
inline constexpr TMessageText UnexpectedCharacter{"不认识的字符“%s”", "unexpected character “%s”"};
inline constexpr TMessageText ExpressionExpected{"此处需要一个表达式",
                                                 "an expression is expected here"};
// "%s": what was expected (")", "then", "by"...).
inline constexpr TMessageText TokenExpected{"期待“%s”", "“%s” expected"};
// "%s": the token found where it cannot stand.
inline constexpr TMessageText UnexpectedToken{"此处不应出现“%s”", "“%s” cannot stand here"};
inline constexpr TMessageText NameExpected{"此处需要一个名称", "a name is expected here"};
inline constexpr TMessageText TableExpected{"from之后应是表", "a table is expected after from"};
inline constexpr TMessageText TooDeep{"表达式嵌套太深，最多%d层",
                                      "the expression nests too deeply (at most %d levels)"};
inline constexpr TMessageText CaseNeedsWhen{"case之后至少需要一个when",
                                            "case needs at least one when"};
inline constexpr TMessageText UnknownType{"不认识的类型“%s”", "unknown type “%s”"};
inline constexpr TMessageText TrailingText{"语句末尾有多余的内容",
                                           "unexpected text after the statement"};
inline constexpr TMessageText FetchSyntax{"应写作fetch first n rows only",
                                          "write fetch first n rows only"};
inline constexpr TMessageText SubQueryUnsupported{"暂不支持子查询",
                                                  "sub-queries are not supported yet"};
inline constexpr TMessageText IntervalInvalid{"无效的时间间隔“%s”", "invalid interval “%s”"};
inline constexpr TMessageText StarMisplaced{"“*”只能作为选择项或count(*)的参数",
                                            "“*” stands only as a select item or in count(*)"};
// ORDER BY n / GROUP BY n beyond the select list; "%d" the number.
inline constexpr TMessageText PositionOutOfRange{"位置%d超出了选择项的范围",
                                                 "position %d is beyond the select list"};
inline constexpr TMessageText TooManyMessages{"……还有%d条消息", "… %d more messages"};
// Where a message points: added by front ends after the text.
inline constexpr TMessageText PlaceAt{"（第%d行第%d列）", " (line %d, column %d)"};
inline constexpr TMessageText NearText{"，附近：%s", ", near: %s"};

// ---- Binding.
inline constexpr std::string_view NotATable = "%s不是有效的表";
inline constexpr std::string_view NoSuchTable = "没有相应的表：";  // + the qualifier
inline constexpr std::string_view UnknownName = "%s is unkonwn.";
inline constexpr std::string_view UnknownText = "不认识的字符串：";  // + the operand
inline constexpr std::string_view Ambiguous = "\"%s\" 有歧义";
// The right side of IN that is not a bracketed list of constants; followed
// by the operand text.
inline constexpr std::string_view InListExpected = "in之后应是括号中的常量列表：";
// An expression operand while no expression component is installed;
// followed by the operand text.
inline constexpr std::string_view ExpressionUnavailable = "暂不支持表达式：";
// A call of an aggregate function where none may stand (WHERE, GROUP BY,
// inside another aggregate). "%s" is the function's name as written.
inline constexpr std::string_view AggregateMisplaced =
    "聚合函数“%s”只能用在选择项、having和order by中。";
// An aggregate call without an argument, or "*" in another than count; the
// call as written follows.
inline constexpr std::string_view AggregateNeedsArgument = "聚合函数缺少参数：";
inline constexpr std::string_view AggregateStar = "只有count可以用“*”：";
// A column of a grouped statement that is neither grouped nor inside an
// aggregate; "%s" is the name as written.
inline constexpr std::string_view NotGrouped = "“%s”既不在group by中，也不在聚合函数里";
// A pattern of regexp that RE2 does not accept: "%s" is the pattern; RE2's
// own explanation follows.
inline constexpr std::string_view RegexpInvalid = "无效的正则表达式“%s”：";
// A replacement text of regexp_replace that names a group the pattern
// lacks; RE2's explanation follows.
inline constexpr std::string_view RewriteInvalid = "无效的替换文字“%s”：";
// How a fault of an expression reads (ExpressionMessage):
//   表达式“size+”末尾：需要操作数。
//   表达式“size;x”第5个字符：只能是一个表达式，不能含有“;”。
inline constexpr std::string_view ExpressionOpen = "表达式“";
inline constexpr std::string_view ExpressionClose = "”";
inline constexpr std::string_view ExpressionAtEnd = "末尾";
inline constexpr std::string_view ExpressionAtChar = "第%d个字符";
inline constexpr std::string_view ExpressionDetail = "：";

inline constexpr TMessageText FunctionArgs{"函数“%s”的参数个数不对",
                                           "wrong number of arguments for “%s”"};
inline constexpr TMessageText UnknownFunction{"不认识的函数“%s”", "unknown function “%s”"};
inline constexpr TMessageText TypesIncompatible{"类型不兼容", "incompatible types"};

// Rows dropped because their condition was unknown for such a reason:
// the count, then the first reason.
inline constexpr TMessageText RowsUnknown{
    "有%s行因条件无法判断而未列出，第一个原因：%s",
    "%s rows were left out because their condition could not be decided; the first reason: %s"};

// ---- Execution (exception texts).
inline constexpr std::string_view QueryCancelled = "查询已取消。";
inline constexpr std::string_view TooManyRows = "查询结果超过%d行，已停止。";
inline constexpr std::string_view TooManyCombinations = "连接的中间结果超过%d个组合，已停止。";
// The limit as written for people ("4 GiB"), then what grew (one of the
// four below).
inline constexpr std::string_view MemoryExceeded = "查询占用的内存超过%s（%s），已停止。";
inline constexpr std::string_view MemoryForRows = "结果行";
inline constexpr std::string_view MemoryForJoin = "连接的中间结果";
inline constexpr std::string_view MemoryForSortKeys = "排序键";
inline constexpr std::string_view MemoryForOutput = "输出缓冲";
inline constexpr std::string_view MemoryForGroups = "分组";
// sum over integers beyond 64 bits; the call as written follows.
inline constexpr std::string_view SumOverflow = "sum的结果超出了64位整数的范围：";
// The text std::bad_alloc becomes when a front end reports it.
inline constexpr std::string_view OutOfMemory = "内存不足，操作已停止。";
// ORDER BY, DISTINCT or BETWEEN over values that do not compare; the two
// type names follow in turn.
inline constexpr std::string_view CannotCompare =
    "Could not compare variant of type (%s) with type (%s)";
// Internal invariants of the where executor: a match-tree node names a row
// its table does not hold; a join condition none of whose tables is bound
// yet (the planner rules it out: each join after a cluster's first shares a
// table with an earlier one).
inline constexpr std::string_view RowMissing = "The row witch the node register to is not exist. ";
inline constexpr std::string_view NoAnchorTable = "缺少前表，无法关联";

}  // namespace corvane::sqlmsg

#include "script/common/qv_consts.h"

#include <limits>

#include "platform/DateTime.h"
#include "platform/FormatSettings.h"
#include "platform/Text.h"
#include "platform/Variant.h"
#include "script/common/u_keywords.h"

namespace corvane {

// ---------------------------------------------------------------------------
// Instruction table.

const std::array<TInstructionInfo, kOpCodeCount> kInstructionTable = {{
    {"mov", 2, TImmUse::None, false},         // 0
    {"add", 3, TImmUse::None, false},         // 1
    {"sub", 3, TImmUse::None, false},         // 2
    {"mul", 3, TImmUse::None, false},         // 3
    {"div", 3, TImmUse::None, false},         // 4
    {"mod", 3, TImmUse::None, false},         // 5
    {"jmp", 0, TImmUse::Target, false},       // 6
    {"jmptrue", 0, TImmUse::Target, false},   // 7
    {"cmp", 3, TImmUse::Compare, false},      // 8
    {"pushflag", 0, TImmUse::None, false},    // 9
    {"popflag", 0, TImmUse::None, false},     // 10
    {"concat", 3, TImmUse::None, false},      // 11
    {"halt", 0, TImmUse::None, false},        // 12
    {"loadtext", 1, TImmUse::None, true},     // 13
    {"convert", 2, TImmUse::None, false},     // 14
    {"and", 3, TImmUse::None, false},         // 15
    {"or", 3, TImmUse::None, false},          // 16
    {"xor", 3, TImmUse::None, false},         // 17
    {"not", 2, TImmUse::None, false},         // 18
    {"test", 1, TImmUse::None, false},        // 19
    {"setflag", 1, TImmUse::None, false},     // 20
    {"tag", 0, TImmUse::None, true},          // 21
    {"callprep", 0, TImmUse::Callee, false},  // 22
    {"call", 0, TImmUse::None, false},        // 23
    {"callend", 0, TImmUse::None, false},     // 24
    {"addimm", 2, TImmUse::Step, false},      // 25
    {"sqlop", 3, TImmUse::SqlOp, false},      // 26
    {"sqlunary", 2, TImmUse::SqlOp, false},   // 27
    {"sqljump", 1, TImmUse::Target, false},   // 28
    {"sqlcall", 2, TImmUse::SqlFunc, false},  // 29
}};

const TInstructionInfo& InstructionInfo(int opcode) {
    static const TInstructionInfo unknown = {"", 3, TImmUse::None, false};
    if (opcode >= 0 && opcode < kOpCodeCount) return kInstructionTable[static_cast<size_t>(opcode)];
    return unknown;
}

int OperandCount(int opcode) {
    // The rule looks at the low 7 bits only: a hostile opcode 128 uses the
    // addresses of opMov, 154 those of opAddImm.
    const int low = opcode & 0x7F;
    return low < kOpCodeCount ? kInstructionTable[static_cast<size_t>(low)].operands : 3;
}

// ---------------------------------------------------------------------------
// Operators and relations.

constexpr std::array<TOperatorEntry, kOperatorCount> kOperators = {{
    {"*", opMul, 6},
    {"/", opDiv, 6},
    {"div", opDiv, 6},
    {"mod", opMod, 6},
    {"+", opAdd, 5},
    {"-", opSub, 5},
    {">", opCmp, 4},
    {"<", opCmp, 4},
    {"=", opCmp, 4},
    {">=", opCmp, 4},
    {"<=", opCmp, 4},
    {"<>", opCmp, 4},
    {"like", opCmp, 4},
    {"and", opAnd, 2},
    {"not", opNot, 3},
    {"or", opOr, 1},
    {"xor", opXor, 1},
    {":=", opMov, 0},
}};

const TOperatorEntry& OperatorEntry(TOperatorKind op) {
    return kOperators[static_cast<size_t>(op - 1)];
}

TOperatorKind OperatorIndex(std::string_view name) {
    for (size_t i = 0; i < kOperators.size(); ++i)
        if (kOperators[i].name == name) return static_cast<TOperatorKind>(i + 1);
    return okNone;
}

TOperatorKind OperatorOfCode(int code) {
    if (code == opConcat) code = opAdd;
    for (size_t i = 0; i < kOperators.size(); ++i)
        if (kOperators[i].code == code) return static_cast<TOperatorKind>(i + 1);
    return okNone;
}

constexpr std::array<tRltn_value, kRelationCount> kRelations = {{
    {">", ckGreater},
    {"<", ckLess},
    {"=", ckEqual},
    {">=", ckGreaterEqual},
    {"<=", ckLessEqual},
    {"<>", ckNotEqual},
    {"like", ckLike},
}};

// The names of TOperatorKind are the table's positions.
static_assert(kOperators[okMul - 1].name == "*" && kOperators[okSlash - 1].name == "/" &&
              kOperators[okDiv - 1].name == "div" && kOperators[okMod - 1].name == "mod" &&
              kOperators[okAdd - 1].name == "+" && kOperators[okSub - 1].name == "-" &&
              kOperators[okGreater - 1].name == ">" && kOperators[okLess - 1].name == "<" &&
              kOperators[okEqual - 1].name == "=" && kOperators[okGreaterEqual - 1].name == ">=" &&
              kOperators[okLessEqual - 1].name == "<=" && kOperators[okNotEqual - 1].name == "<>" &&
              kOperators[okLike - 1].name == "like" && kOperators[okAnd - 1].name == "and" &&
              kOperators[okNot - 1].name == "not" && kOperators[okOr - 1].name == "or" &&
              kOperators[okXor - 1].name == "xor" && kOperators[okAssign - 1].name == ":=");
// The relation operators are the relations, in order.
static_assert([] {
    for (int i = 0; i < kRelationCount; ++i)
        if (kOperators[static_cast<size_t>(okGreater - 1 + i)].name !=
            kRelations[static_cast<size_t>(i)].name)
            return false;
    return true;
}());

bool IsRelation(TOperatorKind op) {
    return op >= okGreater && op <= okLike;
}

TCompareKind CompareKindOf(TOperatorKind op) {
    return kRelations[static_cast<size_t>(op - okGreater)].code;
}

int RelationIndex(std::string_view name) {
    const std::string lower = LowerCaseAscii(name);
    for (size_t i = 0; i < kRelations.size(); ++i)
        if (kRelations[i].name == lower) return static_cast<int>(i) + 1;
    return -1;
}

// ---------------------------------------------------------------------------
// Types.

bool TypeCodeOf(std::string_view name, TDataType& code) {
    static const struct {
        std::string_view name;
        TDataType code;
    } names[] = {
        {"integer", dtInteger}, {"word", dtWord},     {"byte", dtByte},     {"string", dtString},
        {"char", dtChar},       {"float", dtDouble},  {"double", dtDouble}, {"boolean", dtBoolean},
        {"date", dtDate},       {"datetime", dtDate}, {"any", dtVariant},   {"variant", dtVariant},
    };
    for (const auto& n : names) {
        if (n.name == name) {
            code = n.code;
            return true;
        }
    }
    return false;
}

std::string_view TypeNameOf(int code) {
    static const std::string_view names[] = {";",    "integer", "word",    "byte", "string",
                                             "char", "double",  "boolean", "date", "variant"};
    if (code != dtNone && !IsValueType(code)) return {};
    return names[code];
}

int TypeClassOf(int code) {
    switch (code) {
        case dtInteger:
        case dtWord:
        case dtByte:
            return dtInteger;
        case dtString:
            return dtString;
        case dtChar:
            return dtChar;
        case dtDouble:
        case dtDate:
            return dtDouble;
        case dtBoolean:
            return dtBoolean;
        case dtVariant:
            return dtVariant;
        default:
            return dtUnknown;
    }
}

// Rows: left type 1..9; columns: right type 1..9 (integer, word, byte,
// string, char, double, boolean, date, variant).
//   P  valid, the result is the left type (pick-left 1)
//   R  valid, the result is the right type
//   -  invalid
static constexpr std::string_view kTypeRows[dtVariant] = {
    "PPP--R-RP",  // integer
    "RPP--R-RP",  // word
    "RRP--R-RP",  // byte
    "---PP---P",  // string
    "---RP---P",  // char
    "PPP--P-PP",  // double
    "------PRP",  // boolean
    "PPPP-P-PP",  // date
    "PPPPPPPPP",  // variant
};

TTypeCell TypeCell(int left, int right) {
    if (!IsValueType(left) || !IsValueType(right)) return {0, 0};
    const char c = kTypeRows[left - 1][static_cast<size_t>(right - 1)];
    return {static_cast<uint8_t>(c == 'P'), static_cast<uint8_t>(c != '-')};
}

int TypePick(int left, int right) {
    return TypeCell(left, right).pickLeft;
}

int ResultTypeOf(int left, int right) {
    const TTypeCell c = TypeCell(left, right);
    if (!c.valid) return -1;
    return c.pickLeft ? left : right;
}

int OtherTypeOf(int left, int right) {
    const int result = ResultTypeOf(left, right);
    if (result < 0) return -1;
    return result == left ? right : left;
}

// ---------------------------------------------------------------------------
// Recognisers.

bool IsIdentifier(std::string_view s) {
    s = TrimView(s);
    if (s.empty() || IsKeyword(s)) return false;
    if (s.find_first_of("+-*/=><()") != std::string_view::npos) return false;
    return s.find(":=") == std::string_view::npos;
}

bool IsQuotedText(std::string_view s) {
    s = TrimView(s);
    if (s.empty()) return true;
    return (s.front() == '\'' || s.front() == '"') && s.back() == s.front();
}

bool IsBooleanText(std::string_view s) {
    s = TrimView(s);
    return SameTextAscii(s, "true") || SameTextAscii(s, "false");
}

bool IsNumberText(std::string_view s) {
    s = TrimView(s);
    if (!s.empty() && s.front() == '-') s.remove_prefix(1);
    if (s.empty() || s.front() < '0' || s.front() > '9') return false;
    // After the first digit only a second "." disqualifies the text.
    bool dot = false;
    for (size_t i = 1; i < s.size(); ++i) {
        if (s[i] != '.') continue;
        if (dot) return false;
        dot = true;
    }
    return true;
}

bool IsNumberLiteral(std::string_view s) {
    s = TrimView(s);
    if (!s.empty() && s.front() == '-') s.remove_prefix(1);
    size_t i = 0;
    auto digits = [&] {
        const size_t from = i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9')
            ++i;
        return i > from;
    };
    if (!digits()) return false;
    if (i < s.size() && s[i] == '.') {
        ++i;
        digits();  // "2." is a number, as the runtime reads it
    }
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        if (!digits()) return false;
    }
    return i == s.size();
}

bool IsTimeText(std::string_view s) {
    TDateTime t;
    return TryParseTime(s, FormatSettings::Current(), t);
}

bool IsLiteral(std::string_view s) {
    if (IsQuotedText(s) || IsNumberText(s) || IsBooleanText(s)) return true;
    return IsTimeText(s);
}

// First rule that applies:
//  1. quoted: char when the untrimmed text is shorter than 4 characters
//     ('x' and ''), else string;
//  2. true/false: boolean;
//  3. no number: date when it reads as a time of day, else 0;
//  4. a number with "." or a well-formed number with an exponent ("1e-5"):
//     double;
//  5. a number that is no 32-bit integer ("1abc", 99999999999): integer;
//  6. a negative number: integer;
//  7. above 65535: date when it reads as a time of day, else integer;
//  8. 0..65535: word.
int LiteralType(std::string_view s) {
    if (IsQuotedText(s)) return s.size() < 4 ? dtChar : dtString;
    if (IsBooleanText(s)) return dtBoolean;
    if (!IsNumberText(s)) return IsTimeText(s) ? dtDate : dtNone;
    const std::string_view t = TrimView(s);
    if (t.find('.') != std::string_view::npos ||
        (IsNumberLiteral(t) && t.find_first_of("eE") != std::string_view::npos))
        return dtDouble;
    int64_t v = 0;
    if (!TryParseInteger(t, v) || v < std::numeric_limits<int32_t>::min() ||
        v > std::numeric_limits<int32_t>::max())
        return dtInteger;
    if (v < 0) return dtInteger;
    if (v > 65535) return IsTimeText(s) ? dtDate : dtInteger;
    return dtWord;
}

}  // namespace corvane

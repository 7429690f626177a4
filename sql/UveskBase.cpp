#include "sql/UveskBase.h"

#include <algorithm>
#include <utility>

#include "platform/Text.h"
#include "script/common/U_err.h"
#include "sql/QuoteScanner.h"
#include "sql/SqlCompile.h"

namespace corvane {

namespace {

bool IsQuoteChar(char c) {
    return c == '\'' || c == '"';
}

// How many characters (not bytes) of UTF-8 text come before byte position
// pos (1-based), plus one.
int CharacterPosition(std::string_view text, int pos) {
    int chars = 1;
    const size_t end = std::min(text.size(), static_cast<size_t>(std::max(pos - 1, 0)));
    for (size_t i = 0; i < end; ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ++chars;
    return chars;
}

}  // namespace

const TSqlContext& IGVarMng::Context() {
    static const TSqlContext none;
    return none;
}

ResultTooLargeError ResultTooLargeError::Rows(int64_t rows) {
    return ResultTooLargeError(FormatMsg(sqlmsg::TooManyRows, static_cast<long long>(rows)));
}

ResultTooLargeError ResultTooLargeError::Combinations(int64_t combinations) {
    return ResultTooLargeError(
        FormatMsg(sqlmsg::TooManyCombinations, static_cast<long long>(combinations)));
}

ResultTooLargeError ResultTooLargeError::Memory(std::string_view limit, std::string_view what) {
    return ResultTooLargeError(FormatMsg(FormatMsg(sqlmsg::MemoryExceeded, limit), what));
}

std::string ExpressionMessage(std::string_view text, int position, std::string_view detail) {
    std::string out(sqlmsg::ExpressionOpen);
    out += text;
    out += sqlmsg::ExpressionClose;
    if (position > static_cast<int>(text.size()))
        out += sqlmsg::ExpressionAtEnd;
    else if (position > 0)
        out += FormatMsg(sqlmsg::ExpressionAtChar,
                         static_cast<long long>(CharacterPosition(text, position)));
    out += sqlmsg::ExpressionDetail;
    out += detail;
    return out;
}

// ---- Operands ---------------------------------------------------------------

TROperandDef::TROperandDef() = default;
TROperandDef::~TROperandDef() = default;

int TROperandDef::StatementPos(int posInText) const {
    if (textPos <= 0) return 0;
    const int at = std::max(posInText, 1);
    return textPos + std::min(at, static_cast<int>(text.size()) + 1) - 1;
}

const Variant& TROperandDef::Evaluate() {
    switch (kind) {
        case okColumn:
        case okParameter:
            return source->GetValue(ref);
        case okExpression:
            return program->Evaluate(*source);
        case okConstant:
            break;
    }
    return value;
}

std::vector<TOperandRef> TROperandDef::Reads() const {
    if (kind == okColumn) return {ref};
    if (kind == okExpression && program) return program->Inputs();
    return {};
}

int TROperandDef::Cost() const {
    if (!source) return 1;
    int sum = 0;
    for (const TOperandRef& r : Reads())
        sum += source->Cost(r);
    return kind == okColumn ? sum : std::max(sum, 1);
}

void TROperandDef::CopyFrom(const TROperandDef& other) {
    text = other.text;
    textPos = other.textPos;
    kind = other.kind;
    ref = other.ref;
    source = other.source;
    value.Assign(other.value);
    isList = other.isList;
    type = other.type;
    readsContent = other.readsContent;
    program = other.program;
    list.clear();
    for (const auto& item : other.list) {
        auto copy = std::make_unique<TROperandDef>();
        copy->CopyFrom(*item);
        list.push_back(std::move(copy));
    }
}

// ---- Lists ----------------------------------------------------------------

int TParamList::IndexOfName(std::string_view name) const {
    for (size_t i = 0; i < items_.size(); ++i)
        if (SameTextAscii(items_[i].name, name)) return static_cast<int>(i);
    return -1;
}

void TVarDeclareList::Add(const std::string& name, const std::string& typeName) {
    std::string lower = LowerCaseAscii(name);
    if (std::find(lowerNames_.begin(), lowerNames_.end(), lower) != lowerNames_.end()) return;
    lowerNames_.push_back(std::move(lower));
    items_.emplace_back(name, typeName);
}

std::string TVarDeclareList::ToText() const {
    std::string out;
    for (const auto& [name, type] : items_) {
        out += name;
        out += ':';
        out += type;
        out += ";\r\n";
    }
    return out;
}

// ---- Helpers --------------------------------------------------------------

std::string NormalizeName(std::string_view text) {
    std::string out(text);
    TQuoteScanner scan;
    for (char& c : out)
        if (scan.Step(c) != TQuoteScanner::TByte::Quoted) c = LowerAscii(c);
    return out;
}

std::string StripQuotes(std::string_view text) {
    std::string_view s = TrimView(text);
    if (s.size() >= 2 && IsQuoteChar(s.front()) && s.back() == s.front())
        s = s.substr(1, s.size() - 2);
    return std::string(s);
}

void SortIntList(std::vector<int>& list, bool descending) {
    std::stable_sort(list.begin(), list.end());
    if (descending) std::reverse(list.begin(), list.end());
}

}  // namespace corvane

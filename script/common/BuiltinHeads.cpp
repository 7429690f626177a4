#include "script/common/BuiltinHeads.h"

#include "platform/Text.h"
#include "script/common/U_err.h"

namespace corvane {

namespace {

struct HeadRow {
    const char* name;
    TDataType result;
    std::vector<TBuiltinVar> params;
    const char* templ;
    const char* declaration;
};

// Registration order fixes the numbers that compiled images store: never
// reorder, only append (and append the implementation in u_base_funcs in
// the same place).
std::vector<HeadRow> HeadTable() {
    return {
        {"length", dtInteger, {{"s", dtString}}, "Length(s)", "function Length(s:string):integer;"},
        {"pos",
         dtInteger,
         {{"sub", dtString}, {"s", dtString}},
         "Pos(sub,s)",
         "function Pos(sub,s:string):integer;"},
        {"posex",
         dtInteger,
         {{"sub", dtString}, {"s", dtString}, {"bgn", dtInteger}},
         "PosEx(sub,s,bgn)",
         "function PosEx(sub,s:string;bgn:integer):integer;"},
        {"trim", dtString, {{"s", dtString}}, "Trim(s)", "Function Trim(s:string):string;"},
        {"copy",
         dtString,
         {{"s", dtString}, {"indx", dtInteger}, {"count", dtInteger}},
         "Copy(s,bgn,cnt)",
         "function Copy(s:string;bgn,cnt:integer):string;"},
        {"sqr", dtDouble, {{"d", dtDouble}}, "Sqr(f)", "function Sqr(f:double):double;"},
        {"abs", dtDouble, {{"d", dtDouble}}, "Abs(f)", "function abs(f:double):double;"},
        {"roundto",
         dtDouble,
         {{"d", dtDouble}, {"i", dtInteger}},
         "RoundTo(f,i)",
         "function RoundTo(f:double;i:integer):integer;"},
        {"trunc", dtInteger, {{"d", dtDouble}}, "Trunc(f)", "Function Trunc(f:double):double;"},
        {"sqrt", dtDouble, {{"d", dtDouble}}, "Sqrt(f)", "function Sqrt(f:double):double;"},
        {"now", dtDate, {}, "Now", "function Now:TDatetime;"},
        {"date", dtDate, {}, "Date", "function Date:Tdatetime;"},
        {"yearof",
         dtInteger,
         {{"d", dtDate}},
         "YearOf(dt)",
         "Function YearOf(dt:TDatetime):integer;"},
        {"monthof",
         dtInteger,
         {{"d", dtDate}},
         "MonthOf(dt)",
         "function MonthOf(dt:TDatetime):integer;"},
        {"dayof", dtInteger, {{"d", dtDate}}, "DayOf(dt)", "function Dayof(dt:Tdatetime):Integer;"},
        {"dayoftheweek",
         dtInteger,
         {{"d", dtDate}},
         "DayOfTheWeek(dt)",
         "function DayOfTheWeek(dt:Tdatetime):Integer;"},
        {"daysbetweenof",
         dtInteger,
         {{"d1", dtDate}, {"d2", dtDate}},
         "DaysBetween(d1,d2)",
         "function DaysBetween(dt:Tdatetime):Integer;"},
        {"inttostr",
         dtString,
         {{"i", dtInteger}},
         "IntToStr(i)",
         "function IntToStr(f:double):string;"},
        {"floattostr",
         dtString,
         {{"d", dtDouble}},
         "FloatToStr(f)",
         "function FloatToStr(f:double):string;"},
        {"datetimetostr",
         dtString,
         {{"dt", dtDate}},
         "DateTimeToStr(dt)",
         "function DateTimeToStr(dt:Tdatetime):string;"},
        {"strtointdef",
         dtInteger,
         {{"s", dtString}, {"d", dtInteger}},
         "StrToIntDef(s,i)",
         "Function StrToIntDef(s:string;i:integer):integer;"},
        {"strtofloatdef",
         dtDouble,
         {{"s", dtString}, {"d", dtDouble}},
         "StrToFloatDef(s,f)",
         "Function StrToFloatDef(s:string;f:double):double;"},
        {"strtodatetimedef",
         dtDate,
         {{"s", dtString}, {"d", dtDate}},
         "StrToDateTimeDef(s,dt)",
         "function StrToDateTimeDef(s:string;dt:TDatetime):Tdatetime;"},
        {"vartoint",
         dtInteger,
         {{"v", dtVariant}},
         "VarToInt(v)",
         "Function VarToInt(v:any):integer;"},
        {"vartofloat",
         dtDouble,
         {{"v", dtVariant}},
         "VarToFloat(v)",
         "Function VarToFloat(v:any):float;"},
        {"vartoboolean",
         dtBoolean,
         {{"v", dtVariant}},
         "VarToBoolean(v)",
         "Function VarToBoolean(v:any):boolean;"},
        {"vartostr",
         dtString,
         {{"v", dtVariant}},
         "VarToStr(v)",
         "Function VarTostr(v:any):string;"},
        {"showmessage",
         dtNone,
         {{"s", dtString}},
         "ShowMessage(s)",
         "procedure ShowMessage(s:string);"},
        {"iff",
         dtVariant,
         {{"b", dtBoolean}, {"v1", dtVariant}, {"v2", dtVariant}},
         "iff(bln,v1,v2)",
         "function Iff(bln:boolean;v1,v2:variant):variant;"},
        {"format",
         dtString,
         {{"fmtstr", dtString}, {"v", dtVariant}},
         "format(s,v)",
         "function Format(s:string;v:variant):string;"},
        {"formatdatetime",
         dtString,
         {{"fmtstr", dtString}, {"d", dtDate}},
         "formatdatetime(s,d)",
         "function Format(s:string;d:date):string;"},
    };
}

}  // namespace

TBuiltinHeads::TBuiltinHeads() {
    items_.push_back(TBuiltinHead{});  // entry 0: the placeholder
    for (HeadRow& row : HeadTable()) {
        TBuiltinHead& head = items_.emplace_back();
        head.Name = LowerCaseAscii(row.name);
        head.ResultType = row.result;
        head.Vars.push_back({"result", row.result});
        for (TBuiltinVar& v : row.params)
            head.Vars.push_back(std::move(v));
        head.Template = row.templ;
        head.Declaration = row.declaration;
    }
}

std::shared_ptr<const TBuiltinHeads> TBuiltinHeads::Acquire() {
    static const std::shared_ptr<const TBuiltinHeads> table = std::make_shared<TBuiltinHeads>();
    return table;
}

int TBuiltinHeads::Find(std::string_view name) const {
    std::string lower = LowerCaseAscii(name);
    // Entry 0 is the nameless placeholder, never a match.
    for (size_t i = 1; i < items_.size(); ++i)
        if (items_[i].Name == lower) return static_cast<int>(i);
    return -1;
}

const TBuiltinHead& TBuiltinHeads::Head(int number) const {
    if (number < 0 || number >= Count()) throw EScriptError(std::string(msg::RangeExceeded));
    return items_[static_cast<size_t>(number)];
}

}  // namespace corvane

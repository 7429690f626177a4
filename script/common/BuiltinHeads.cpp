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
    bool readsContent = false;
};

// The parameters of a built-in that takes one file: its full name, or a
// directory and a name.
std::vector<TBuiltinVar> FileParams() {
    return {{"f", dtString}, {"name", dtVariant, true}};
}

// Registration order fixes the numbers that compiled images store: never
// reorder, only append (and append the implementation in u_base_funcs in
// the same place).
std::vector<HeadRow> HeadTable() {
    return {
        {"length", dtInteger, {{"s", dtString}}, "Length(s)"},
        {"pos", dtInteger, {{"sub", dtString}, {"s", dtString}}, "Pos(sub,s)"},
        {"posex",
         dtInteger,
         {{"sub", dtString}, {"s", dtString}, {"bgn", dtInteger}},
         "PosEx(sub,s,bgn)"},
        {"trim", dtString, {{"s", dtString}}, "Trim(s)"},
        {"copy",
         dtString,
         {{"s", dtString}, {"indx", dtInteger}, {"count", dtInteger}},
         "Copy(s,bgn,cnt)"},
        {"sqr", dtDouble, {{"d", dtDouble}}, "Sqr(f)"},
        {"abs", dtDouble, {{"d", dtDouble}}, "Abs(f)"},
        {"roundto", dtDouble, {{"d", dtDouble}, {"i", dtInteger}}, "RoundTo(f,i)"},
        {"trunc", dtInteger, {{"d", dtDouble}}, "Trunc(f)"},
        {"sqrt", dtDouble, {{"d", dtDouble}}, "Sqrt(f)"},
        {"now", dtDate, {}, "Now"},
        {"date", dtDate, {}, "Date"},
        {"yearof", dtInteger, {{"d", dtDate}}, "YearOf(dt)"},
        {"monthof", dtInteger, {{"d", dtDate}}, "MonthOf(dt)"},
        {"dayof", dtInteger, {{"d", dtDate}}, "DayOf(dt)"},
        {"dayoftheweek", dtInteger, {{"d", dtDate}}, "DayOfTheWeek(dt)"},
        {"daysbetweenof", dtInteger, {{"d1", dtDate}, {"d2", dtDate}}, "DaysBetween(d1,d2)"},
        {"inttostr", dtString, {{"i", dtInteger}}, "IntToStr(i)"},
        {"floattostr", dtString, {{"d", dtDouble}}, "FloatToStr(f)"},
        {"datetimetostr", dtString, {{"dt", dtDate}}, "DateTimeToStr(dt)"},
        {"strtointdef", dtInteger, {{"s", dtString}, {"d", dtInteger}}, "StrToIntDef(s,i)"},
        {"strtofloatdef", dtDouble, {{"s", dtString}, {"d", dtDouble}}, "StrToFloatDef(s,f)"},
        {"strtodatetimedef", dtDate, {{"s", dtString}, {"d", dtDate}}, "StrToDateTimeDef(s,dt)"},
        {"vartoint", dtInteger, {{"v", dtVariant}}, "VarToInt(v)"},
        {"vartofloat", dtDouble, {{"v", dtVariant}}, "VarToFloat(v)"},
        {"vartoboolean", dtBoolean, {{"v", dtVariant}}, "VarToBoolean(v)"},
        {"vartostr", dtString, {{"v", dtVariant}}, "VarToStr(v)"},
        {"showmessage", dtNone, {{"s", dtString}}, "ShowMessage(s)"},
        {"iff",
         dtVariant,
         {{"b", dtBoolean}, {"v1", dtVariant}, {"v2", dtVariant}},
         "iff(bln,v1,v2)"},
        {"format", dtString, {{"fmtstr", dtString}, {"v", dtVariant}}, "format(s,v)"},
        {"formatdatetime", dtString, {{"fmtstr", dtString}, {"d", dtDate}}, "formatdatetime(s,d)"},
        // Appended later: regular expressions (RE2 syntax).
        {"regexp_like", dtBoolean, {{"s", dtString}, {"p", dtString}}, "regexp_like(s,p)"},
        {"regexp_substr", dtString, {{"s", dtString}, {"p", dtString}}, "regexp_substr(s,p)"},
        {"regexp_replace",
         dtString,
         {{"s", dtString}, {"p", dtString}, {"r", dtString}},
         "regexp_replace(s,p,r)"},
        // File contents and metadata: the file is one text (its full name)
        // or two (directory and name), hence the optional last parameter.
        {"md5", dtString, FileParams(), "md5(file) | md5(dir,name)", true},
        {"sha1", dtString, FileParams(), "sha1(file) | sha1(dir,name)", true},
        {"sha256", dtString, FileParams(), "sha256(file) | sha256(dir,name)", true},
        {"sha512", dtString, FileParams(), "sha512(file) | sha512(dir,name)", true},
        {"xxh128", dtString, FileParams(), "xxh128(file) | xxh128(dir,name)", true},
        {"contains",
         dtVariant,
         {{"f", dtString}, {"s", dtString}, {"t", dtVariant, true}},
         "contains(file,text) | contains(dir,name,text)",
         true},
        {"linecount", dtVariant, FileParams(), "linecount(file) | linecount(dir,name)", true},
        {"head",
         dtString,
         {{"f", dtString}, {"n", dtVariant}, {"m", dtVariant, true}},
         "head(file,n) | head(dir,name,n)",
         true},
        {"owner", dtString, FileParams(), "owner(file) | owner(dir,name)"},
        {"groupname", dtString, FileParams(), "groupname(file) | groupname(dir,name)"},
        {"mode", dtString, FileParams(), "mode(file) | mode(dir,name)"},
        {"inode", dtVariant, FileParams(), "inode(file) | inode(dir,name)"},
        {"linkcount", dtVariant, FileParams(), "linkcount(file) | linkcount(dir,name)"},
        {"linktarget", dtString, FileParams(), "linktarget(file) | linktarget(dir,name)"},
        {"mimetype", dtString, FileParams(), "mimetype(file) | mimetype(dir,name)", true},
        {"fullname", dtString, {{"dir", dtString}, {"name", dtString}}, "fullname(dir,name)"},
        {"contains_regexp",
         dtVariant,
         {{"f", dtString}, {"p", dtString}, {"t", dtVariant, true}},
         "contains_regexp(file,pattern) | contains_regexp(dir,name,pattern)",
         true},
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
        head.ReadsContent = row.readsContent;
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

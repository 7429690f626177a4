// Run-time variables: the read and write conversions of every type, element
// access into arrays and strings, and external variables reached through the
// host accessors.
#include "script/runtime/varMng.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "platform/DateTime.h"
#include "script/runtime/qv_build.h"
#include "support/Expect.h"

namespace corvane {
namespace {

class VarMngTest : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = FormatSettings::Current();
        FormatSettings::SetCurrent(FormatSettings{});
    }
    void TearDown() override { FormatSettings::SetCurrent(saved_); }
    FormatSettings saved_;
};

// A scalar of the given type holding a value written through SetVariant or
// SetString, as the cases below need.
TXVarData Scalar(TDataType t) {
    return TXVarData("v", t);
}

const char* TypeLabel(TDataType t) {
    switch (t) {
        case dtInteger:
            return "integer";
        case dtWord:
            return "word";
        case dtByte:
            return "byte";
        case dtString:
            return "string";
        case dtChar:
            return "char";
        case dtDouble:
            return "double";
        case dtBoolean:
            return "boolean";
        case dtDate:
            return "date";
        case dtVariant:
            return "variant";
        default:
            return "?";
    }
}

// ---------------------------------------------------------------------------
// Reads: one row per stored value, the result of every read.

struct ReadCase {
    TDataType type;
    Variant stored;  // written with SetVariant
    int64_t asInteger;
    double asFloat;
    const char* asString;
    uint8_t asOrdinal;
    bool asBoolean;
    uint8_t asChar;
};

TEST_F(VarMngTest, ReadsOfEveryType) {
    const ReadCase cases[] = {
        {dtInteger, Variant(int64_t{-5}), -5, -5, "-5", 0xFB, true, 0},
        {dtInteger, Variant(int64_t{5368709120}), 5368709120, 5368709120.0, "5368709120", 0, true,
         0},
        {dtWord, Variant(int64_t{300}), 300, 300, "300", 44, true, 0},
        {dtByte, Variant(int64_t{0}), 0, 0, "0", 0, false, 0},
        {dtString, Variant("12"), 0, 0, "12", 0, true, 0},
        {dtString, Variant(" 0 "), 0, 0, " 0 ", 0, false, 0},
        {dtString, Variant("  "), 0, 0, "  ", 0, false, 0},
        {dtChar, Variant("x"), 0, 0, "x", 'x', true, 'x'},
        {dtChar, Variant("0"), 0, 0, "0", '0', false, '0'},
        {dtDouble, Variant(-2.7), -2, -2.7, "-2.7", 0xFE, true, 0},
        {dtDouble, Variant(1.0 / 3), 0, 1.0 / 3, "0.333333333333333", 0, true, 0},
        {dtBoolean, Variant(true), 1, 0, "T", 1, true, 0},
        {dtBoolean, Variant(false), 0, 0, "F", 0, false, 0},
        {dtDate, Variant(45000.75), 45000, 45000.75, "2023-03-15", 0, false, 0},
        {dtVariant, Variant(2.5), 2, 2.5, "2.5", 0, false, 0},
        {dtVariant, Variant(3.5), 4, 3.5, "3.5", 0, false, 0},
        {dtVariant, Variant("abc"), 0, 0, "abc", 0, false, 0},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(std::string(TypeLabel(c.type)) + " holding " + c.stored.AsString());
        TXVarData v = Scalar(c.type);
        v.SetVariant(c.stored);
        if (!(c.type == dtVariant && c.stored.type() == VarType::String)) {
            EXPECT_EQ(v.AsInteger(), c.asInteger);
            EXPECT_DOUBLE_EQ(v.AsFloat(), c.asFloat);
        }
        EXPECT_EQ(v.AsString(), c.asString);
        EXPECT_EQ(v.AsOrdinal(), c.asOrdinal);
        EXPECT_EQ(v.AsBoolean(), c.asBoolean);
        EXPECT_EQ(v.AsChar(), c.asChar);
    }
}

TEST_F(VarMngTest, AsVariantKindsByType) {
    struct Case {
        TDataType type;
        Variant stored;
        VarType kind;
        const char* text;
    } cases[] = {
        {dtInteger, Variant(int64_t{7}), VarType::Integer, "7"},
        {dtWord, Variant(int64_t{7}), VarType::Integer, "7"},
        {dtString, Variant("ab"), VarType::String, "ab"},
        {dtChar, Variant("q"), VarType::String, "q"},
        {dtDouble, Variant(1.5), VarType::Double, "1.5"},
        {dtBoolean, Variant(true), VarType::Boolean, "True"},
        // A date reads as its day count.
        {dtDate, Variant(45000.75), VarType::Double, "45000.75"},
        {dtVariant, Variant::FromDate(45000.0), VarType::Date, "2023-03-15"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(TypeLabel(c.type));
        TXVarData v = Scalar(c.type);
        v.SetVariant(c.stored);
        Variant r = v.AsVariant();
        EXPECT_EQ(r.type(), c.kind);
        EXPECT_EQ(r.AsString(), c.text);
    }
}

TEST_F(VarMngTest, EmptyCharReadsAsEmptyTextButAsVariantKeepsTheByte) {
    TXVarData c = Scalar(dtChar);
    EXPECT_EQ(c.AsString(), "");  // a fresh char holds no character
    c.SetString("");
    EXPECT_EQ(c.AsChar(), EmptyChar);
    EXPECT_EQ(c.AsString(), "");
    Variant v = c.AsVariant();
    ASSERT_EQ(v.RawString().size(), 1u);
    EXPECT_EQ(static_cast<uint8_t>(v.RawString()[0]), EmptyChar);
}

TEST_F(VarMngTest, AsDateTimeByType) {
    TXVarData i = Scalar(dtInteger);
    i.SetInteger(45000);
    EXPECT_EQ(i.AsDateTime(), 45000);
    TXVarData s = Scalar(dtString);
    s.SetString("2024-03-01 12:00");
    TDateTime expected;
    ASSERT_TRUE(TryParseDateTime("2024-03-01 12:00", FormatSettings{}, expected));
    EXPECT_DOUBLE_EQ(s.AsDateTime(), expected);
    s.SetString("not a date");
    EXPECT_THROW(s.AsDateTime(), VariantError);
    // Types without a date reading give the current date and time.
    TXVarData b = Scalar(dtBoolean);
    double before = Now();
    EXPECT_GE(b.AsDateTime(), before - 1.0 / 86400);
}

TEST_F(VarMngTest, DoubleTruncationOutsideTheIntegerRangeIsAnError) {
    TXVarData d = Scalar(dtDouble);
    d.SetFloat(1e300);
    EXPECT_THROW_WITH_MESSAGE(d.AsInteger(), EScriptError, "Invalid floating point operation");
    TXVarData i = Scalar(dtInteger);
    EXPECT_THROW(i.SetFloat(std::nan("")), EScriptError);
    i.SetFloat(-9.0e18);
    EXPECT_EQ(i.AsInteger(), -9000000000000000000);
}

// ---------------------------------------------------------------------------
// Writes: one row per write, the text each target type reads back after it.

struct WriteCase {
    const char* label;
    void (*write)(TXVarData&);
    // Expected AsString per target, in the order integer, word, byte,
    // string, char, double, boolean, date, variant. "=" means unchanged from
    // the seeded value.
    const char* expect[9];
};

const TDataType kTargets[9] = {dtInteger, dtWord,    dtByte, dtString, dtChar,
                               dtDouble,  dtBoolean, dtDate, dtVariant};

// Every target starts from a recognisable value so that "no effect" shows.
void Seed(TXVarData& v) {
    switch (v.DataType()) {
        case dtString:
            v.SetString("seed");
            break;
        case dtChar:
            v.SetChar('s');
            break;
        case dtBoolean:
            v.SetBoolean(true);
            break;
        case dtVariant:
            v.SetVariant(Variant("seed"));
            break;
        default:
            v.SetInteger(9);
            break;
    }
}

TEST_F(VarMngTest, WritesIntoEveryType) {
    const WriteCase cases[] = {
        {"SetInteger(70000)",
         [](TXVarData& v) { v.SetInteger(70000); },
         {"70000", "4464", "112", "70000", "=", "70000", "T", "2091-08-25", "70000"}},
        {"SetInteger(-1)",
         [](TXVarData& v) { v.SetInteger(-1); },
         {"-1", "65535", "255", "-1", "=", "-1", "T", "1899-12-29", "-1"}},
        {"SetInteger(0)",
         [](TXVarData& v) { v.SetInteger(0); },
         {"0", "0", "0", "0", "=", "0", "F", "1899-12-30", "0"}},
        {"SetWord(300)",
         [](TXVarData& v) { v.SetWord(300); },
         {"300", "300", "44", "300", "=", "300", "T", "1900-10-26", "300"}},
        {"SetByte(255)",
         [](TXVarData& v) { v.SetByte(255); },
         {"255", "255", "255", "255", "=", "255", "T", "1900-09-11", "255"}},
        {"SetFloat(-2.7)",
         [](TXVarData& v) { v.SetFloat(-2.7); },
         {"-2", "65534", "254", "-2.7", "=", "-2.7", "T", "1899-12-28", "-2.7"}},
        {"SetString(\"42\")",
         [](TXVarData& v) { v.SetString("42"); },
         {"42", "42", "42", "42", "4", "42", "F", "=", "42"}},
        {"SetString(\"\")",
         [](TXVarData& v) { v.SetString(""); },
         {"=", "=", "=", "", "", "=", "F", "=", ""}},
        {"SetString(\"t\")",
         [](TXVarData& v) { v.SetString("t"); },
         {"=", "=", "=", "t", "t", "=", "F", "=", "t"}},
        {"SetString(\"T\")",
         [](TXVarData& v) { v.SetString("T"); },
         {"=", "=", "=", "T", "T", "=", "T", "=", "T"}},
        {"SetString(\"TRUE\")",
         [](TXVarData& v) { v.SetString("TRUE"); },
         {"=", "=", "=", "TRUE", "T", "=", "T", "=", "TRUE"}},
        {"SetString(\"2.5\")",
         [](TXVarData& v) { v.SetString("2.5"); },
         {"=", "=", "=", "2.5", "2", "2.5", "F", "=", "2.5"}},
        {"SetString(\"2024-03-01\")",
         [](TXVarData& v) { v.SetString("2024-03-01"); },
         {"=", "=", "=", "2024-03-01", "2", "=", "F", "2024-03-01", "2024-03-01"}},
        {"SetString(\"2024-03-01 10:00\")",
         [](TXVarData& v) { v.SetString("2024-03-01 10:00"); },
         {"=", "=", "=", "2024-03-01 10:00", "2", "=", "F", "=", "2024-03-01 10:00"}},
        {"SetBoolean(true)",
         [](TXVarData& v) { v.SetBoolean(true); },
         {"1", "1", "1", "T", "T", "1", "T", "1899-12-31", "True"}},
        {"SetBoolean(false)",
         [](TXVarData& v) { v.SetBoolean(false); },
         {"0", "0", "0", "F", "F", "0", "F", "1899-12-30", "False"}},
        {"SetChar('z')",
         [](TXVarData& v) { v.SetChar('z'); },
         {"=", "=", "=", "z", "z", "=", "=", "=", "z"}},
        {"SetVariant(2.5)",
         [](TXVarData& v) { v.SetVariant(Variant(2.5)); },
         {"2", "2", "2", "2.5", "2", "2.5", "T", "1900-01-01", "2.5"}},
        {"SetVariant(3.5)",
         [](TXVarData& v) { v.SetVariant(Variant(3.5)); },
         {"4", "4", "4", "3.5", "3", "3.5", "T", "1900-01-02", "3.5"}},
        {"SetVariant(\"70000\")",
         [](TXVarData& v) { v.SetVariant(Variant("70000")); },
         {"70000", "4464", "112", "70000", "7", "70000", "T", "2091-08-25", "70000"}},
        {"SetVariant(true)",
         [](TXVarData& v) { v.SetVariant(Variant(true)); },
         {"1", "1", "1", "True", "T", "1", "T", "1899-12-31", "True"}},
        {"SetVariant(empty)",
         [](TXVarData& v) { v.SetVariant(Variant()); },
         {"0", "0", "0", "", "", "0", "F", "1899-12-30", ""}},
    };
    for (const WriteCase& c : cases) {
        for (int k = 0; k < 9; ++k) {
            SCOPED_TRACE(std::string(c.label) + " into " + TypeLabel(kTargets[k]));
            TXVarData v = Scalar(kTargets[k]);
            Seed(v);
            std::string before = v.AsString();
            c.write(v);
            std::string expected = c.expect[k];
            EXPECT_EQ(v.AsString(), expected == "=" ? before : expected);
        }
    }
}

TEST_F(VarMngTest, DateTargetKeepsTheTimeOfAVariantButNotOfText) {
    TXVarData d = Scalar(dtDate);
    d.SetVariant(Variant("2024-03-01 12:00"));
    TDateTime expected;
    ASSERT_TRUE(TryParseDateTime("2024-03-01 12:00", FormatSettings{}, expected));
    EXPECT_DOUBLE_EQ(d.AsFloat(), expected);
    d.SetString("2024-03-01 12:00");  // a date without time only
    EXPECT_DOUBLE_EQ(d.AsFloat(), expected);
}

TEST_F(VarMngTest, FailedVariantConversionRaises) {
    TXVarData i = Scalar(dtInteger);
    i.SetInteger(3);
    EXPECT_THROW(i.SetVariant(Variant("abc")), VariantError);
    EXPECT_EQ(i.AsInteger(), 3);
    TXVarData b = Scalar(dtBoolean);
    EXPECT_THROW(b.SetVariant(Variant("abc")), VariantError);
    b.SetVariant(Variant::Null());
    EXPECT_FALSE(b.AsBoolean());
}

// ---------------------------------------------------------------------------
// Tables, arrays and shells

TEST_F(VarMngTest, StringElementsAreShellsIntoTheText) {
    TVarMngr t;
    int p = t.AddScalar("s", dtString);
    t.At(p).SetString("abc");
    TXVarData* first = t.ElementAt(p, 1);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->DataType(), dtChar);
    EXPECT_EQ(first->AsString(), "a");
    first->SetChar('x');
    EXPECT_EQ(t.At(p).AsString(), "xbc");
    t.ElementAt(p, 3)->SetString("Zed");  // the first byte of a text
    EXPECT_EQ(t.At(p).AsString(), "xbZ");
    for (int64_t bad : {0, 4, -1}) {
        EXPECT_THROW_WITH_MESSAGE(t.ElementAt(p, bad), EScriptError, "地址越界。") << bad;
    }
}

TEST_F(VarMngTest, ThreeShellsOfOneTableCoexist) {
    TVarMngr t;
    int p = t.AddScalar("s", dtString);
    t.At(p).SetString("abcd");
    TXVarData* a = t.ElementAt(p, 1);
    TXVarData* b = t.ElementAt(p, 2);
    TXVarData* c = t.ElementAt(p, 3);
    EXPECT_EQ(a->AsString() + b->AsString() + c->AsString(), "abc");
    TXVarData* d = t.ElementAt(p, 4);
    TXVarData* e = t.ElementAt(p, 1);  // the fifth reuses the first of the cycle
    EXPECT_EQ(d->AsString(), "d");
    EXPECT_EQ(e, a);
    EXPECT_EQ(e->AsString(), "a");
}

TEST_F(VarMngTest, ArrayElementsFromZero) {
    TVarMngr t;
    int p = t.AddArray("a", 3, dtInteger);
    EXPECT_EQ(t.At(p).DataType(), dtNone);
    t.ElementAt(p, 0)->SetInteger(10);
    t.ElementAt(p, 2)->SetInteger(30);
    EXPECT_EQ(t.ElementAt(p, 0)->AsInteger(), 10);
    EXPECT_EQ(t.ElementAt(p, 1)->AsInteger(), 0);
    EXPECT_EQ(t.ElementAt(p, 2)->AsInteger(), 30);
    EXPECT_THROW(t.ElementAt(p, 3), EScriptError);
    EXPECT_THROW(t.ElementAt(p, -1), EScriptError);
    EXPECT_THROW(t.ElementAt(5, 0), EScriptError);  // no such position
    // An array reads as nothing.
    EXPECT_EQ(t.At(p).AsString(), "");
    EXPECT_EQ(t.At(p).AsInteger(), 0);
}

TEST_F(VarMngTest, ElementOfAScalarIsNone) {
    TVarMngr t;
    int p = t.AddScalar("i", dtInteger);
    EXPECT_EQ(t.ElementAt(p, 0), nullptr);
}

TEST_F(VarMngTest, HugeArrayIsRefused) {
    TVarMngr t;
    EXPECT_THROW_WITH_MESSAGE(t.AddArray("big", int64_t{2000000000}, dtInteger), EScriptError,
                              "数组“big”太大。");
    EXPECT_EQ(t.Count(), 0);
}

TEST_F(VarMngTest, LiveArrayElementsHaveABudget) {
    TVarMngr t;
    const int64_t fit = kMaxLiveArrayElements / kMaxArrayElements;
    for (int64_t i = 0; i < fit; ++i)
        t.AddArray("a" + std::to_string(i), kMaxArrayElements, dtByte);
    EXPECT_THROW_WITH_MESSAGE(t.AddArray("more", 1, dtByte), EScriptError, "数组“more”太大。");
    t.Clear();  // freed arrays give their elements back
    EXPECT_EQ(t.AddArray("again", kMaxArrayElements, dtByte), 0);
}

// A small script budget for one test.
class ScriptBudget {
  public:
    explicit ScriptBudget(int64_t bytes) : saved_(ScriptMemoryLimit()) {
        SetScriptMemoryLimit(bytes);
    }
    ~ScriptBudget() { SetScriptMemoryLimit(saved_); }

  private:
    int64_t saved_;
};

TEST_F(VarMngTest, TextsAndArraysShareOneByteBudget) {
    ScriptBudget budget(8 << 20);
    const int64_t before = ScriptMemoryInUse();
    const std::string threeMiB(3 << 20, 'x');
    {
        TVarMngr t;
        t.AddScalar("s", dtString);
        t.AddScalar("v", dtVariant);
        t.AddScalar("w", dtString);
        t.At(0).SetString(threeMiB);
        t.At(1).SetVariant(Variant(threeMiB));
        EXPECT_GT(ScriptMemoryInUse() - before, 6 << 20);
        // The third text would pass the budget: refused, and emptied.
        EXPECT_THROW_WITH_MESSAGE(t.At(2).SetString(threeMiB), EScriptError,
                                  "程序占用的内存太多，最多允许8 MiB。");
        EXPECT_EQ(t.At(2).AsString(), "");
        // Elements count too: 65536 elements of about 200 bytes.
        EXPECT_THROW_WITH_MESSAGE(t.AddArray("a", 65536, dtString), EScriptError, "数组“a”太大。");
        // A text that shrinks gives its memory back only when freed: the
        // block stays with the variable.
        t.At(0).SetString("short");
        EXPECT_GT(ScriptMemoryInUse() - before, 6 << 20);
        // Moved variables take their charge along.
        TXVarData moved(std::move(t.At(1)));
        TXVarData assigned;
        assigned = std::move(moved);
        EXPECT_EQ(assigned.AsString(), threeMiB);
    }
    EXPECT_EQ(ScriptMemoryInUse(), before);
}

// Builds a program from source and runs its function main.
void RunMain(const std::string& source) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= source.size()) {
        size_t end = source.find('\n', start);
        if (end == std::string::npos) end = source.size();
        lines.push_back(source.substr(start, end - start));
        start = end + 1;
    }
    TBuildObj builder;
    ASSERT_TRUE(builder.Build(lines, "main")) << builder.ErrorText();
    builder.Program().ReportResult = false;
    builder.Program().ExecuteMain();
}

TEST_F(VarMngTest, ProgramsStopAtTheScriptBudget) {
    // Each case makes a 64 KiB text and then keeps many copies alive.
    const std::string head = R"(interface
function main: integer;
function rec(n: integer; s: string): integer;
implementation
function rec(n: integer; s: string): integer;
begin
  if n = 0 then result := length(s) else result := rec(n - 1, s + 'z');
end;
function main: integer;
var a: array[1000] of string; s: string; i: integer;
begin
  s := 'x';
  for i := 1 to 16 do s := s + s;
)";
    struct Case {
        const char* name;
        const char* body;
    } cases[] = {
        {"an array of long texts", "  for i := 0 to 999 do a[i] := s + 'y';\n  result := 1;\n"},
        {"a recursion carrying a long text", "  result := rec(500, s);\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string source = head + c.body + "end;\nend.";
        {
            ScriptBudget budget(8 << 20);
            const int64_t before = ScriptMemoryInUse();
            try {
                RunMain(source);
                ADD_FAILURE() << "no error";
            } catch (const EScriptError& e) {
                EXPECT_STREQ(e.what(), "程序占用的内存太多，最多允许8 MiB。");
            }
            EXPECT_EQ(ScriptMemoryInUse(), before);
        }
        // With room, the same program runs.
        ScriptBudget roomy(256 << 20);
        EXPECT_NO_THROW(RunMain(source));
    }
}

TEST_F(VarMngTest, AddExternalRefusesAPresentName) {
    TVarMngr t;
    EXPECT_EQ(t.AddScalar("x", dtInteger), 0);
    EXPECT_EQ(t.AddExternal("x", dtInteger), -1);
    EXPECT_EQ(t.Count(), 1);
    EXPECT_EQ(t.AddExternal("X", dtInteger), 1);  // names compare exactly
    EXPECT_EQ(t.IndexOf("X"), 1);
    EXPECT_EQ(t.IndexOf("y"), -1);
    t.Clear();
    EXPECT_EQ(t.Count(), 0);
}

TEST_F(VarMngTest, ExternalsReadAndWriteThroughTheAccessors) {
    TVarMngr t;
    std::map<std::string, Variant> host{{"n", Variant(int64_t{41})}, {"d", Variant("2024-03-01")}};
    std::vector<std::string> writes;
    int early = t.AddExternal("n", dtInteger);
    t.SetGetHandler([&](const std::string& name, Variant& v) {
        auto it = host.find(name);
        if (it != host.end()) v = it->second;
    });
    t.SetSetHandler([&](const std::string& name, const Variant& v) {
        host[name] = v;
        writes.push_back(name + "=" + v.AsString() + ":" + v.TypeName());
    });
    int date = t.AddExternal("d", dtDate);
    int missing = t.AddExternal("m", dtInteger);

    // The handler installed later reaches the external added before it.
    EXPECT_EQ(t.At(early).AsInteger(), 41);
    EXPECT_EQ(t.At(early).AsString(), "41");
    t.At(early).SetInteger(42);
    t.At(early).SetFloat(2.5);
    t.At(early).SetBoolean(true);
    t.At(early).SetChar('c');
    EXPECT_EQ(writes, (std::vector<std::string>{"n=42:Integer", "n=2.5:Double", "n=True:Boolean",
                                                "n=c:String"}));
    // A date external turns a text value into a date variant.
    Variant dv = t.At(date).AsVariant();
    EXPECT_EQ(dv.type(), VarType::Date);
    writes.clear();
    t.At(date).SetVariant(Variant("2024-03-02"));
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(host["d"].type(), VarType::Date);
    // Nothing stored: an empty value reads as 0 and as empty text; Null as 0.
    EXPECT_EQ(t.At(missing).AsInteger(), 0);
    EXPECT_EQ(t.At(missing).AsString(), "");
    host["m"] = Variant::Null();
    EXPECT_EQ(t.At(missing).AsInteger(), 0);
    EXPECT_FALSE(t.At(missing).AsBoolean());
    EXPECT_DOUBLE_EQ(t.At(missing).AsFloat(), 0);
}

TEST_F(VarMngTest, ExternalWithoutAccessorRaises) {
    TVarMngr t;
    int p = t.AddExternal("x", dtInteger);
    EXPECT_THROW_WITH_MESSAGE(t.At(p).AsInteger(), EScriptError, "“OnGet”没有初始化。");
    EXPECT_THROW_WITH_MESSAGE(t.At(p).SetInteger(1), EScriptError, "“OnGet”没有初始化。");
    // An external has no characters to hand out.
    TVarMngr s;
    int q = s.AddExternal("s", dtString);
    EXPECT_EQ(s.ElementAt(q, 1), nullptr);
}

TEST_F(VarMngTest, ShareHandlersFromCopiesTheAccessors) {
    TVarMngr globals;
    globals.SetGetHandler([](const std::string& name, Variant& v) { v = Variant(name + "!"); });
    TVarMngr locals;
    locals.ShareHandlersFrom(globals);
    int p = locals.AddExternal("x", dtString);
    EXPECT_EQ(locals.At(p).AsString(), "x!");
}

}  // namespace
}  // namespace corvane

// The built-in function library: the registry, every built-in with its edge
// cases, and the format and formatdatetime pattern languages.
#include "script/runtime/u_base_funcs.h"

#include <gtest/gtest.h>

#include <cmath>

#include "script/runtime/u_paramDlg.h"
#include "support/Expect.h"

namespace corvane {
namespace {

class BaseFuncsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = FormatSettings::Current();
        FormatSettings::SetCurrent(FormatSettings{});
        registry_ = TbaseFunctions::Acquire();
    }
    void TearDown() override { FormatSettings::SetCurrent(saved_); }

    // Calls a built-in by name with the arguments as Variants.
    Variant Call(const char* name, std::vector<Variant> args = {}) {
        int number = registry_->Find(name);
        EXPECT_GT(number, 0) << name;
        Tparamlist params(1);
        for (Variant& a : args)
            params.push_back({"", std::move(a)});
        Variant rtn;
        registry_->Call(number, params, rtn);
        return rtn;
    }
    std::string Text(const char* name, std::vector<Variant> args = {}) {
        return Call(name, std::move(args)).AsString();
    }
    // The message of the error a call raises ("" when it raises none).
    std::string Error(const char* name, std::vector<Variant> args) {
        try {
            Call(name, std::move(args));
        } catch (const std::exception& e) {
            return e.what();
        }
        return "";
    }

    static double Date(int y, int m, int d, int h = 0, int n = 0, int s = 0, int ms = 0) {
        TDateTime date, time;
        EXPECT_TRUE(TryEncodeDate(y, m, d, date));
        EXPECT_TRUE(TryEncodeTime(h, n, s, ms, time));
        return date + time;
    }

    FormatSettings saved_;
    std::shared_ptr<TbaseFunctions> registry_;
};

TEST_F(BaseFuncsTest, RegistrationOrderFixesTheNumbers) {
    const char* names[] = {"length", "pos", "posex", "trim", "copy", "sqr", "abs", "roundto",
                           "trunc", "sqrt", "now", "date", "yearof", "monthof", "dayof",
                           "dayoftheweek", "daysbetweenof", "inttostr", "floattostr",
                           "datetimetostr", "strtointdef", "strtofloatdef", "strtodatetimedef",
                           "vartoint", "vartofloat", "vartoboolean", "vartostr", "showmessage",
                           "iff", "format", "formatdatetime",
                           // appended later: compiled images keep the numbers above
                           "regexp_like", "regexp_substr", "regexp_replace",
                           // file contents and metadata
                           "md5", "sha1", "sha256", "sha512", "xxh128", "contains", "linecount",
                           "head", "owner", "groupname", "mode", "inode", "linkcount", "linktarget",
                           "mimetype", "fullname", "contains_regexp"};
    ASSERT_EQ(registry_->Count(), 52);
    for (int k = 0; k < 51; ++k)
        EXPECT_EQ(registry_->Find(names[k]), k + 1) << names[k];
    EXPECT_EQ(registry_->Find("LENGTH"), 1);
    EXPECT_EQ(registry_->Find("nosuch"), -1);
    EXPECT_EQ(registry_->Find(""), -1);  // the placeholder is never found
}

TEST_F(BaseFuncsTest, HeadsCarryResultThenParameters) {
    TfuncHeadInfo copy = registry_->GetHead(registry_->Find("copy"));
    ASSERT_EQ(copy.Vars.size(), 4u);
    EXPECT_EQ(copy.Vars[0].Name, "result");
    EXPECT_EQ(copy.Vars[0].DataType, dtString);
    EXPECT_EQ(copy.Vars[2].Name, "indx");
    EXPECT_EQ(copy.Vars[2].DataType, dtInteger);
    EXPECT_EQ(copy.Template, "Copy(s,bgn,cnt)");
    TfuncHeadInfo show = registry_->GetHead(registry_->Find("showmessage"));
    EXPECT_EQ(show.ResultType, dtNone);
    TfuncHeadInfo placeholder = registry_->GetHead(0);
    EXPECT_TRUE(placeholder.Name.empty());
    EXPECT_TRUE(placeholder.Vars.empty());
}

TEST_F(BaseFuncsTest, OutOfRangeNumbers) {
    const int past = registry_->Count();  // one past the last built-in
    EXPECT_THROW_WITH_MESSAGE(registry_->GetHead(past), EScriptError, "范围越界。");
    EXPECT_THROW(registry_->GetHead(-1), EScriptError);
    for (int bad : {0, past, -3}) {
        Tparamlist params(1);
        Variant rtn;
        EXPECT_THROW_WITH_MESSAGE(registry_->Call(bad, params, rtn), EScriptError,
                                  "Bound is exceeded")
            << bad;
    }
}

TEST_F(BaseFuncsTest, RegistryIsSharedWhileHeld) {
    std::shared_ptr<TbaseFunctions> other = TbaseFunctions::Acquire();
    EXPECT_EQ(other.get(), registry_.get());
}

TEST_F(BaseFuncsTest, CallStartsTheReturnValueAtZero) {
    Tparamlist params(2);
    params[1].Value = Variant("shown");
    Variant rtn("old");
    registry_->Call(registry_->Find("showmessage"), params, rtn);
    EXPECT_EQ(rtn.type(), VarType::Integer);
    EXPECT_EQ(rtn.AsInteger(), 0);
}

TEST_F(BaseFuncsTest, MissingArgumentsReadAsEmpty) {
    EXPECT_EQ(Call("length").AsInteger(), 0);
    EXPECT_EQ(Text("copy", {Variant("abc")}), "");
}

// ---------------------------------------------------------------------------
// Strings

TEST_F(BaseFuncsTest, StringFunctions) {
    struct Case {
        const char* name;
        std::vector<Variant> args;
        const char* expected;
    } cases[] = {
        {"length", {Variant("abc")}, "3"},
        {"length", {Variant("")}, "0"},
        {"length", {Variant("汉字")}, "6"},  // bytes, not characters
        {"pos", {Variant("b"), Variant("abcb")}, "2"},
        {"pos", {Variant(""), Variant("abc")}, "0"},
        {"pos", {Variant("x"), Variant("abc")}, "0"},
        {"posex", {Variant("b"), Variant("abcb"), Variant(int64_t{3})}, "4"},
        {"posex", {Variant("b"), Variant("abcb"), Variant(int64_t{0})}, "0"},
        {"posex", {Variant("b"), Variant("abcb"), Variant(int64_t{5})}, "0"},
        {"posex", {Variant("b"), Variant("abcb"), Variant(int64_t{2})}, "2"},
        {"trim", {Variant(" \t a b \r\n")}, "a b"},
        {"copy", {Variant("abcdef"), Variant(int64_t{0}), Variant(int64_t{3})}, "abc"},
        {"copy", {Variant("abc"), Variant(int64_t{2}), Variant(int64_t{100})}, "bc"},
        {"copy", {Variant("abc"), Variant(int64_t{4}), Variant(int64_t{1})}, ""},
        {"copy", {Variant("abc"), Variant(int64_t{1}), Variant(int64_t{-1})}, ""},
        {"copy", {Variant("abc"), Variant(int64_t{-5}), Variant(int64_t{2})}, "ab"},
        {"copy", {Variant("abc"), Variant(INT64_MAX), Variant(INT64_MAX)}, ""},
        {"copy", {Variant("abc"), Variant(int64_t{3}), Variant(INT64_MAX)}, "c"},
    };
    for (auto& c : cases)
        EXPECT_EQ(Text(c.name, c.args), c.expected) << c.name;
}

// ---------------------------------------------------------------------------
// Arithmetic

TEST_F(BaseFuncsTest, ArithmeticFunctions) {
    EXPECT_DOUBLE_EQ(Call("sqr", {Variant(-1.5)}).AsDouble(), 2.25);
    EXPECT_DOUBLE_EQ(Call("abs", {Variant(-1.5)}).AsDouble(), 1.5);
    EXPECT_DOUBLE_EQ(Call("sqrt", {Variant(6.25)}).AsDouble(), 2.5);
    EXPECT_EQ(Call("roundto", {Variant(1234.5678), Variant(int64_t{-2})}).AsDouble(), 1234.57);
    EXPECT_EQ(Call("roundto", {Variant(2.5), Variant(int64_t{0})}).AsDouble(), 2);
    EXPECT_EQ(Call("roundto", {Variant(3.5), Variant(int64_t{0})}).AsDouble(), 4);
    EXPECT_EQ(Call("roundto", {Variant(1250.0), Variant(int64_t{2})}).AsDouble(), 1200);
    EXPECT_EQ(Call("roundto", {Variant(1350.0), Variant(int64_t{2})}).AsDouble(), 1400);
    Variant t = Call("trunc", {Variant(-2.7)});
    EXPECT_EQ(t.type(), VarType::Integer);
    EXPECT_EQ(t.AsInteger(), -2);
    // Integers are 64 bits wide: 3e10 is an ordinary integer.
    EXPECT_EQ(Call("trunc", {Variant(3e10)}).AsInteger(), 30000000000);
}

TEST_F(BaseFuncsTest, ArithmeticErrors) {
    EXPECT_EQ(Error("sqrt", {Variant(-1.0)}), "Invalid floating point operation");
    EXPECT_EQ(Error("trunc", {Variant(1e19)}), "Invalid floating point operation");
    EXPECT_EQ(Error("roundto", {Variant(1.0), Variant(int64_t{38})}), "范围越界。");
    EXPECT_EQ(Error("sqr", {Variant("x")}),
              "Could not convert variant of type (String) into type (Double)");
}

// ---------------------------------------------------------------------------
// Dates

TEST_F(BaseFuncsTest, DateParts) {
    double d = Date(2024, 3, 3, 13, 45, 10);  // a Sunday
    EXPECT_EQ(Call("yearof", {Variant(d)}).AsInteger(), 2024);
    EXPECT_EQ(Call("monthof", {Variant(d)}).AsInteger(), 3);
    EXPECT_EQ(Call("dayof", {Variant(d)}).AsInteger(), 3);
    EXPECT_EQ(Call("dayoftheweek", {Variant(d)}).AsInteger(), 7);
    EXPECT_EQ(Call("dayoftheweek", {Variant(d + 1)}).AsInteger(), 1);
    EXPECT_EQ(Call("daysbetweenof", {Variant(Date(2024, 3, 1, 12)), Variant(Date(2024, 3, 3, 11))})
                  .AsInteger(),
              1);
    EXPECT_EQ(
        Call("daysbetweenof", {Variant(Date(2024, 3, 3)), Variant(Date(2024, 3, 1))}).AsInteger(),
        2);
    // Before 1899-12-30 the fraction still counts forward from midnight.
    EXPECT_EQ(Call("daysbetweenof", {Variant(-1.25), Variant(0.5)}).AsInteger(), 1);
    EXPECT_EQ(Error("yearof", {Variant(1e12)}), "Invalid floating point operation");
}

TEST_F(BaseFuncsTest, NowAndDate) {
    double before = Now();
    double now = Call("now").AsDouble();
    double today = Call("date").AsDouble();
    EXPECT_GE(now, before);
    EXPECT_EQ(today, std::floor(now));
}

TEST_F(BaseFuncsTest, ConversionsToText) {
    EXPECT_EQ(Text("inttostr", {Variant(int64_t{-5368709120})}), "-5368709120");
    EXPECT_EQ(Text("floattostr", {Variant(1.0 / 3)}), "0.333333333333333");
    EXPECT_EQ(Text("floattostr", {Variant(1e20)}), "1E20");
    EXPECT_EQ(Text("datetimetostr", {Variant(Date(2024, 3, 1, 9, 5, 7))}), "2024-03-01 09:05:07");
    EXPECT_EQ(Text("datetimetostr", {Variant(Date(2024, 3, 1))}), "2024-03-01");
}

TEST_F(BaseFuncsTest, ConversionsFromTextWithDefaults) {
    EXPECT_EQ(Call("strtointdef", {Variant("42"), Variant(int64_t{7})}).AsInteger(), 42);
    EXPECT_EQ(Call("strtointdef", {Variant("4x"), Variant(int64_t{7})}).AsInteger(), 7);
    EXPECT_EQ(Call("strtointdef", {Variant("5368709120"), Variant(int64_t{7})}).AsInteger(),
              5368709120);
    EXPECT_DOUBLE_EQ(Call("strtofloatdef", {Variant("2.5"), Variant(1.0)}).AsDouble(), 2.5);
    EXPECT_DOUBLE_EQ(Call("strtofloatdef", {Variant("x"), Variant(1.0)}).AsDouble(), 1.0);
    double d = Date(2020, 1, 1);
    EXPECT_DOUBLE_EQ(Call("strtodatetimedef", {Variant("x"), Variant(d)}).AsDouble(), d);
    EXPECT_DOUBLE_EQ(Call("strtodatetimedef", {Variant("45000.5"), Variant(d)}).AsDouble(),
                     45000.5);
    EXPECT_DOUBLE_EQ(Call("strtodatetimedef", {Variant("2024-03-01"), Variant(d)}).AsDouble(), d);
}

TEST_F(BaseFuncsTest, FloatTextUsesTheRegionalDecimalSeparator) {
    FormatSettings fs;
    fs.decimalSeparator = ',';
    FormatSettings::SetCurrent(fs);
    EXPECT_DOUBLE_EQ(Call("strtofloatdef", {Variant("2,5"), Variant(1.0)}).AsDouble(), 2.5);
    EXPECT_DOUBLE_EQ(Call("strtofloatdef", {Variant("2.5"), Variant(1.0)}).AsDouble(), 1.0);
    EXPECT_EQ(Text("floattostr", {Variant(2.5)}), "2,5");
}

TEST_F(BaseFuncsTest, VariantConversions) {
    EXPECT_EQ(Call("vartoint", {Variant(2.5)}).AsInteger(), 2);
    EXPECT_EQ(Call("vartoint", {Variant("12")}).AsInteger(), 12);
    EXPECT_EQ(Error("vartoint", {Variant("abc")}),
              "Could not convert variant of type (String) into type (Integer)");
    EXPECT_DOUBLE_EQ(Call("vartofloat", {Variant("1.5")}).AsDouble(), 1.5);
    EXPECT_TRUE(Call("vartoboolean", {Variant(int64_t{3})}).AsBoolean());
    EXPECT_FALSE(Call("vartoboolean", {Variant("false")}).AsBoolean());
    EXPECT_EQ(Text("vartostr", {Variant::Null()}), "");
    EXPECT_EQ(Text("vartostr", {Variant(true)}), "True");
}

TEST_F(BaseFuncsTest, IffPicksACopyOfOneBranch) {
    EXPECT_EQ(Text("iff", {Variant(true), Variant("a"), Variant(int64_t{2})}), "a");
    Variant r = Call("iff", {Variant(false), Variant("a"), Variant(int64_t{2})});
    EXPECT_EQ(r.type(), VarType::Integer);
    // A condition that is no boolean counts by its trimmed text.
    EXPECT_EQ(Text("iff", {Variant(" yes "), Variant("a"), Variant("b")}), "a");
    EXPECT_EQ(Text("iff", {Variant(" 0 "), Variant("a"), Variant("b")}), "b");
    EXPECT_EQ(Text("iff", {Variant(""), Variant("a"), Variant("b")}), "b");
}

TEST_F(BaseFuncsTest, ShowMessageGoesToTheHookOrNowhere) {
    std::vector<std::string> shown;
    SetMessageHook([&](const std::string& t) { shown.push_back(t); });
    Call("showmessage", {Variant("hello")});
    SetMessageHook(nullptr);
    Call("showmessage", {Variant("dropped")});
    EXPECT_EQ(shown, std::vector<std::string>{"hello"});
}

// ---------------------------------------------------------------------------
// format

TEST_F(BaseFuncsTest, FormatFillsItsOnePlaceholder) {
    struct Case {
        const char* pattern;
        Variant v;
        const char* expected;
    } cases[] = {
        {"%5.2f", Variant(3.14159), " 3.14"},
        {"abc", Variant(int64_t{1}), "abc"},
        {"%d%%", Variant(int64_t{50}), "50%"},
        {"%d", Variant(2.5), "2"},  // the argument is read as integer
        {"%.3d", Variant(int64_t{-5}), "-005"},
        {"%-4d|", Variant(int64_t{7}), "7   |"},
        {"%4d|", Variant(int64_t{7}), "   7|"},
        {"%x", Variant(int64_t{255}), "FF"},
        {"%.4x", Variant(int64_t{255}), "00FF"},
        {"%x", Variant(int64_t{-1}), "FFFFFFFFFFFFFFFF"},
        {"%f", Variant(2.0), "2.00"},
        {"%.0f", Variant(2.5), "2"},
        {"%f", Variant(-0.001), "0.00"},
        {"%e", Variant(1234.5), "1.23450000000000E+003"},
        {"%.3e", Variant(-0.00012345), "-1.23E-004"},
        {"%g", Variant(1234.5), "1234.5"},
        {"%.3g", Variant(1234.5), "1.23E3"},
        {"%n", Variant(1234567.891), "1,234,567.89"},
        {"%.0n", Variant(-999.5), "-1,000"},
        {"%m", Variant(1234.5), "$1,234.50"},
        {"%m", Variant(-1234.5), "-$1,234.50"},
        {"%s!", Variant(int64_t{12}), "12!"},
        {"[%.2s]", Variant("abcdef"), "[ab]"},
        {"[%6s]", Variant("ab"), "[    ab]"},
        {"%0:s-%0:s", Variant("x"), "x-x"},
        {"%P", Variant(int64_t{1}), "%P"},      // pointers are never formatted
        {"100%", Variant(int64_t{1}), "100%"},  // no type letter follows
        {"%S", Variant("up"), "up"},            // type letters in either case
        {"%5.1f MB", Variant(int64_t{3}), "  3.0 MB"},
    };
    for (auto& c : cases)
        EXPECT_EQ(FormatOne(c.pattern, c.v, FormatSettings{}), c.expected) << c.pattern;
}

TEST_F(BaseFuncsTest, FormatErrors) {
    const char* bad[] = {"%d-%d", "%1:d", "%*d", "%d %s", "100% sure", "%k then %d", "%99999999d"};
    for (const char* pattern : bad) {
        std::string expected =
            std::string("Format '") + pattern + "' invalid or incompatible with argument";
        EXPECT_EQ(Error("format", {Variant(pattern), Variant(int64_t{1})}), expected) << pattern;
    }
    // The argument converts by the first type letter; a text is no integer.
    EXPECT_EQ(Error("format", {Variant("%d"), Variant("x")}),
              "Could not convert variant of type (String) into type (Integer)");
}

TEST_F(BaseFuncsTest, FormatCurrencyForms) {
    FormatSettings fs;
    fs.currencyString = "€";
    fs.currencyFormat = 3;
    fs.negCurrFormat = 8;
    fs.thousandSeparator = '.';
    fs.decimalSeparator = ',';
    EXPECT_EQ(FormatOne("%m", Variant(1234.5), fs), "1.234,50 €");
    EXPECT_EQ(FormatOne("%m", Variant(-1234.5), fs), "-1.234,50 €");
    EXPECT_EQ(FormatOne("%.1f", Variant(2.25), fs), "2,2");
}

// ---------------------------------------------------------------------------
// formatdatetime

TEST_F(BaseFuncsTest, FormatDateTimePatterns) {
    double d = Date(2024, 3, 3, 14, 5, 9, 7);  // a Sunday afternoon
    struct Case {
        const char* pattern;
        const char* expected;
    } cases[] = {
        {"yyyy-mm-dd hh:nn:ss", "2024-03-03 14:05:09"},
        {"yy/m/d", "24-3-3"},  // "/" is the regional date separator
        {"d mmm yyyy, ddd", "3 Mar 2024, Sun"},
        {"dddd, mmmm d", "Sunday, March 3"},
        {"ddddd", "2024-03-03"},
        {"dddddd", "Sunday, March 3, 2024"},
        {"hh:mm", "14:05"},  // m after an hour means minutes
        {"h:mm am/pm", "2:05 pm"},
        {"h:mm AM/PM", "2:05 PM"},
        {"h a/p", "2 p"},
        {"hh ampm", "02 PM"},
        {"s.z", "9.7"},
        {"ss.zzz", "09.007"},
        {"t", "14:05"},
        {"tt", "14:05:09"},
        {"c", "2024-03-03 14:05:09"},
        {"", "2024-03-03 14:05:09"},
        {"'yyyy' \"mm\" yyyy", "yyyy mm 2024"},
        {"'unclosed", "unclosed"},
        {"[x] #", "[x] #"},
        {"年yyyy", "年2024"},
    };
    for (auto& c : cases)
        EXPECT_EQ(Text("formatdatetime", {Variant(c.pattern), Variant(d)}), c.expected)
            << c.pattern;
    EXPECT_EQ(Text("formatdatetime", {Variant("c"), Variant(Date(2024, 3, 3))}), "2024-03-03");
    EXPECT_EQ(Text("formatdatetime", {Variant("h am/pm"), Variant(Date(2024, 3, 3, 0))}), "12 am");
}

// regexp_like, regexp_substr, regexp_replace: RE2 patterns, matched
// anywhere unless anchored; a bad pattern or replacement raises RE2's reason.
TEST_F(BaseFuncsTest, RegularExpressions) {
    struct Case {
        const char* name;
        std::vector<Variant> args;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"regexp_like", {Variant("report.txt"), Variant("\\.txt$")}, "True"},
        {"regexp_like", {Variant("report.TXT"), Variant("\\.txt$")}, "False"},
        {"regexp_like", {Variant("report.TXT"), Variant("(?i)\\.txt$")}, "True"},
        {"regexp_like", {Variant(""), Variant("^$")}, "True"},
        {"regexp_like", {Variant("名字.txt"), Variant("^\\p{Han}+\\.")}, "True"},
        {"regexp_like", {Variant("名字.txt"), Variant("^..\\.txt$")}, "True"},
        {"regexp_like", {Variant(int64_t{2024}), Variant("^20")}, "True"},
        {"regexp_substr", {Variant("img_0042.jpg"), Variant("[0-9]+")}, "0042"},
        {"regexp_substr", {Variant("img.jpg"), Variant("[0-9]+")}, ""},
        {"regexp_substr", {Variant("a1b22"), Variant("[0-9]*$")}, "22"},
        {"regexp_replace", {Variant("a-b-c"), Variant("-"), Variant("+")}, "a+b+c"},
        {"regexp_replace",
         {Variant("2024-03-09"), Variant("(\\d+)-(\\d+)-(\\d+)"), Variant("\\3.\\2.\\1")},
         "09.03.2024"},
        {"regexp_replace", {Variant("abc"), Variant("x*"), Variant("-")}, "-a-b-c-"},
        {"regexp_replace", {Variant("abc"), Variant("b"), Variant("[\\0]")}, "a[b]c"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Text(c.name, c.args), c.expected) << c.name << " " << c.args[1].AsString();
    EXPECT_EQ(Call("regexp_like", {Variant("a"), Variant("a")}).type(), VarType::Boolean);
    // A pattern built to make backtracking matchers explode is answered at once.
    const std::string as(5000, 'a');
    EXPECT_EQ(Text("regexp_like", {Variant(as + "!"), Variant("^(a|aa)+$")}), "False");
    EXPECT_EQ(Text("regexp_like", {Variant(as), Variant("^(a*)*$")}), "True");

    EXPECT_EQ(Error("regexp_like", {Variant("x"), Variant("(")}),
              "无效的正则表达式“(”：missing ): (");
    EXPECT_EQ(Error("regexp_substr", {Variant("x"), Variant("a**")}),
              "无效的正则表达式“a**”：bad repetition operator: **");
    EXPECT_EQ(Error("regexp_replace", {Variant("x"), Variant("(x)"), Variant("\\2")}),
              "无效的替换文字“\\2”：Rewrite schema requests 2 matches, but the regexp only has "
              "1 parenthesized subexpressions.");
    // The refusal is remembered, and so is the answer.
    EXPECT_NE(Error("regexp_like", {Variant("x"), Variant("(")}), "");
}

TEST_F(BaseFuncsTest, FormatDateTimeFormatsThatNameThemselvesStop) {
    FormatSettings fs;
    fs.shortDateFormat = "ddddd";  // would recurse forever
    EXPECT_EQ(FormatDateTimeText("c", 45000, fs), "");
}

}  // namespace
}  // namespace corvane

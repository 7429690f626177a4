// The script language end to end: sources compiled, linked and run, their
// values checked against values worked out independently. Integer
// arithmetic is checked against C++ __int128 arithmetic, which cannot wrap
// for the values used here; number literals, the bounds of for loops and
// loops with empty bodies are checked against values worked out by hand.
//
// The units' own tests show instruction listings (u_compile) and single
// opcodes (CodeMng); these show what a script computes.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "script/runtime/CodeMng.h"
#include "script/runtime/qv_build.h"
#include "support/Expect.h"

namespace corvane {
namespace {

std::vector<std::string> Lines(std::string_view text) {
    return testing::SplitLines(text);
}

// What running a source's main function gave: its value, or the message of
// the run-time error, or the compile diagnostics.
struct Outcome {
    Variant value;
    std::string error;
    std::string diagnostics;
};

Outcome RunMain(const std::string& source) {
    Outcome out;
    TBuildObj builder;
    try {
        if (!builder.Build(Lines(source), "main")) {
            out.diagnostics = builder.ErrorText();
            return out;
        }
        builder.Program().ReportResult = false;
        // A loop that never ends (the fault some cases guard against) stops
        // after some millions of instructions instead of hanging the test.
        builder.Program().SetCancelCheck([polls = 0]() mutable { return ++polls > 2000; });
        out.value = builder.Program().ExecuteMain();
    } catch (const std::exception& e) {
        out.error = e.what();
    }
    return out;
}

// A main function of the given result type whose body is `body`, with the
// locals every case may use.
std::string Program(std::string_view resultType, std::string_view body) {
    return "interface\n"
           "var calls: integer;\n"
           "function main: " +
           std::string(resultType) +
           ";\n"
           "function step: boolean;\n"
           "implementation\n"
           "function step: boolean;\n"
           "begin calls := calls + 1; result := calls < 5; end;\n"
           "function main: " +
           std::string(resultType) +
           ";\n"
           "var i, k, n: integer; w, v: word; b: byte; d: double; s: string;\n"
           "  ws: array[3] of word; bs: array[3] of byte;\n"
           "begin\n" +
           std::string(body) + "\nend;\nend.\n";
}

// ---------------------------------------------------------------------------
// Integer arithmetic against __int128

using I128 = __int128;

constexpr I128 kMax = std::numeric_limits<int64_t>::max();
constexpr I128 kMin = std::numeric_limits<int64_t>::min();

// An integer as the script must compute it: every step exact (in 128 bits,
// which these cases never leave), and a step whose result does not fit in
// 64 bits makes the whole expression an overflow.
struct Int {
    Int(I128 x) : v(x), overflow(x < kMin || x > kMax) {}
    I128 v;
    bool overflow;
};
Int Step(I128 r, Int a, Int b) {
    Int out(r);
    out.overflow = out.overflow || a.overflow || b.overflow;
    return out;
}
Int operator+(Int a, Int b) {
    return Step(a.v + b.v, a, b);
}
Int operator-(Int a, Int b) {
    return Step(a.v - b.v, a, b);
}
Int operator*(Int a, Int b) {
    return Step(a.v * b.v, a, b);
}
// The remainder takes the sign of the dividend, in C++ as in the script.
Int operator%(Int a, Int b) {
    return Step(a.v % b.v, a, b);
}

std::string Text(I128 x) {
    if (x == 0) return "0";
    const bool negative = x < 0;
    std::string digits;
    for (; x != 0; x /= 10)
        digits.insert(digits.begin(), static_cast<char>('0' + (negative ? -(x % 10) : x % 10)));
    return negative ? "-" + digits : digits;
}

TEST(ScriptArithmetic, IntegerExpressionsAgreeWithWideArithmetic) {
    // The variables of the cases, with the values the script gives them.
    // (A byte accepts no word literal: 255 reaches it through byte().)
    const std::string setUp = "i := 3000000000; k := -7; w := 65535; v := 1000; b := byte(255);";
    const Int I = 3000000000, K = -7, W = 65535, V = 1000, B = 255;
    // Each expression with the same expression in C++ over Int, which
    // groups it as the script does (* and mod before + and -, equal ones
    // from the left). No step may be cut to 16 or 32 bits; a step beyond 64
    // bits must be the overflow error, never a wrapped value.
    struct Case {
        const char* expr;
        Int value;
    } cases[] = {
        // literals alone: each is a word, their products are not
        {"1024*1024*1024", Int(1024) * 1024 * 1024},
        {"24*60*60*1000", Int(24) * 60 * 60 * 1000},
        {"60000+10000", Int(60000) + 10000},
        {"65535*65535*65535", Int(65535) * 65535 * 65535},
        {"65535*65535*65535*65535", Int(65535) * 65535 * 65535 * 65535},
        {"1024*1024*1024*1024*1024*1024*7", Int(1024) * 1024 * 1024 * 1024 * 1024 * 1024 * 7},
        {"1024*1024*1024*1024*1024*1024*8", Int(1024) * 1024 * 1024 * 1024 * 1024 * 1024 * 8},
        {"0-60000-60000", Int(0) - 60000 - 60000},
        {"-5*65535", Int(-5) * 65535},
        {"9223372036854775807-1+1", Int(kMax) - 1 + 1},
        {"9223372036854775807+1-1", Int(kMax) + 1 - 1},
        {"-9223372036854775808+0", Int(kMin) + 0},
        {"-9223372036854775808-1", Int(kMin) - 1},
        {"0-9223372036854775807-1", Int(0) - kMax - 1},
        {"-9223372036854775808*-1", Int(kMin) * -1},
        {"0-(-9223372036854775808)", Int(0) - kMin},
        {"0-(0-9223372036854775807)", Int(0) - (Int(0) - kMax)},
        {"-9223372036854775808 mod -1", Int(kMin) % -1},
        {"70000 mod 65536", Int(70000) % 65536},
        // word and byte variables: promoted, never cut inside the expression
        {"w+1", W + 1},
        {"w*w", W * W},
        {"w*w*w", W * W * W},
        {"w*w*w*w", W * W * W * W},
        {"(w+1)*(b+1)", (W + 1) * (B + 1)},
        {"b+1", B + 1},
        {"b*b*b*b", B * B * B * B},
        {"b*b*b*b*b*b*b*b", B * B * B * B * B * B * B * B},
        {"v*v*v*v*v*v", V * V * V * V * V * V},
        {"v*v*v*v*v*v*v", V * V * V * V * V * V * V},
        {"0-w-w-b", Int(0) - W - W - B},
        {"w*2+b-3*k", W * 2 + B - 3 * K},
        {"w mod b", W % B},
        {"k*w mod 1000", K * W % 1000},
        {"k mod 3", K % 3},
        {"w*w mod 65536", W * W % 65536},
        {"60000+w-70000", Int(60000) + W - 70000},
        // integer variables beyond 32 bits, mixed with words and bytes
        {"i*i", I * I},
        {"i*i*2", I * I * 2},
        {"i*w", I * W},
        {"i*w*b", I * W * B},
        {"i*w*w", I * W * W},
        {"i*w*w*w", I * W * W * W},
        {"0-i*3", Int(0) - I * 3},
        {"i-3000000000-1", I - 3000000000 - 1},
        {"i*k*i", I * K * I},
        {"i*i-i*i+w", I * I - I * I + W},
        {"9223372036854775807-i+i", Int(kMax) - I + I},
        {"9223372036854775807+i-i", Int(kMax) + I - I},
        {"k-9223372036854775807", K - kMax},
        {"k-9223372036854775807+k", K - kMax + K},
        // a conversion cuts its own value, not what is computed from it
        {"word(70000)+65535+1", Int(70000 % 65536) + 65535 + 1},
        {"byte(w)*b", Int(65535 % 256) * B},
        {"word(w+1)", Int(65536 % 65536)},
    };
    for (const Case& c : cases) {
        const Outcome r = RunMain(Program("integer", setUp + " result := " + c.expr + ";"));
        SCOPED_TRACE(c.expr);
        ASSERT_EQ(r.diagnostics, "");
        if (c.value.overflow) {
            EXPECT_EQ(r.error, kMsgIntegerOverflow);
        } else {
            EXPECT_EQ(r.error, "");
            EXPECT_EQ(r.value.AsString(), Text(c.value.v));
        }
    }
}

TEST(ScriptArithmetic, ValuesAreCutOnlyWhenStoredIntoAWordOrByte) {
    struct Case {
        const char* body;
        const char* value;
    } cases[] = {
        {"w := 60000 + 10000; result := w;", "4464"},  // 70000 - 65536
        {"w := 65535; w := w + 1; result := w;", "0"},
        {"b := byte(200); b := b + b; result := b;", "144"},  // 400 - 256
        {"b := byte(200); result := b + b;", "400"},
        {"ws[1] := 65535 + 2; result := ws[1];", "1"},
        {"b := byte(255); bs[2] := b * b; result := bs[2];", "1"},  // 65025 - 254 * 256
        {"b := byte(300); result := b;", "44"},
        {"result := word(70000);", "4464"},
        {"w := 65535; result := byte(w) + 1;", "256"},
        {"w := 60000 + 10000; result := w + 70000;", "74464"},
        {"i := 60000 + 10000; result := i;", "70000"},
        {"result := 60000 + 10000;", "70000"},
    };
    for (const Case& c : cases) {
        const Outcome r = RunMain(Program("integer", c.body));
        SCOPED_TRACE(c.body);
        ASSERT_EQ(r.diagnostics, "");
        EXPECT_EQ(r.error, "");
        EXPECT_EQ(r.value.AsString(), c.value);
    }
    // The type rules still hold: a word refuses an integer expression.
    EXPECT_NE(
        RunMain(Program("integer", "w := i + 1; result := w;")).diagnostics.find("类型不兼容。"),
        std::string::npos);
}

TEST(ScriptArithmetic, ComputedIntegersReachAVariantWhole) {
    // A variant result takes the exact 64-bit value, an integer.
    const Outcome r = RunMain(Program("variant", "result := 1024*1024*1024*1024*1024*1024*7;"));
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.value.type(), VarType::Integer);
    EXPECT_EQ(r.value.AsInteger(), int64_t{7} << 60);
    EXPECT_EQ(RunMain(Program("variant", "result := 1024*1024*1024*1024*1024*1024*8;")).error,
              kMsgIntegerOverflow);
}

// ---------------------------------------------------------------------------
// Number literals

TEST(ScriptLiterals, NumbersWithAnExponentAreOneDouble) {
    struct Case {
        const char* literal;
        double value;
    } cases[] = {
        {"1e-5", 1e-5},        {"1.5E+5", 1.5e5}, {"2e3", 2e3},         {"-1e-5", -1e-5},
        {"- 2.5e-3", -2.5e-3}, {"1E5", 1e5},      {"1.5e308", 1.5e308}, {"1e-400", 0},
        {"0.5", 0.5},          {"2.", 2},         {"12", 12},
    };
    for (const Case& c : cases) {
        const Outcome r = RunMain(Program("double", std::string("result := ") + c.literal + ";"));
        SCOPED_TRACE(c.literal);
        ASSERT_EQ(r.diagnostics, "");
        EXPECT_EQ(r.error, "");
        EXPECT_DOUBLE_EQ(r.value.AsDouble(), c.value);
    }
    // The sign of the exponent is no operator; a sign after it is.
    struct Expr {
        const char* expr;
        double value;
    } exprs[] = {
        {"1e-5*100000", 1}, {"2e3-1e3", 1000},     {"2e3+1", 2001},
        {"3-2e-1", 2.8},    {"1e+2 - -1e+2", 200},
    };
    for (const Expr& e : exprs) {
        const Outcome r = RunMain(Program("double", std::string("result := ") + e.expr + ";"));
        SCOPED_TRACE(e.expr);
        ASSERT_EQ(r.diagnostics, "");
        EXPECT_DOUBLE_EQ(r.value.AsDouble(), e.value);
    }
    // Constants spell the same literals.
    const Outcome c = RunMain(
        "interface\nconst tiny = 1e-5;\nfunction main: double;\nimplementation\n"
        "function main: double;\nbegin result := tiny * 2; end;\nend.\n");
    ASSERT_EQ(c.diagnostics, "");
    EXPECT_DOUBLE_EQ(c.value.AsDouble(), 2e-5);
}

TEST(ScriptLiterals, IntegersUseAll64Bits) {
    struct Case {
        const char* literal;
        const char* value;
    } cases[] = {
        {"9223372036854775807", "9223372036854775807"},
        {"-9223372036854775808", "-9223372036854775808"},
        {"4294967296", "4294967296"},
        {"65536", "65536"},
        {"0x10", "16"},  // read as hexadecimal, as always
    };
    for (const Case& c : cases) {
        const Outcome r = RunMain(Program("integer", std::string("result := ") + c.literal + ";"));
        SCOPED_TRACE(c.literal);
        ASSERT_EQ(r.diagnostics, "");
        EXPECT_EQ(r.value.AsString(), c.value);
    }
}

TEST(ScriptLiterals, NumbersBeyondTheRangeAreDiagnostics) {
    // Never a silent 0: each is a compile diagnostic naming the literal.
    struct Case {
        const char* type;
        const char* literal;
    } cases[] = {
        {"double", "1e400"},
        {"double", "-1e400"},
        {"double", "1.5e309"},
        {"integer", "9223372036854775808"},
        {"integer", "-9223372036854775809"},
        {"integer", "99999999999999999999"},
    };
    for (const Case& c : cases) {
        const Outcome r = RunMain(Program(c.type, std::string("result := ") + c.literal + ";"));
        SCOPED_TRACE(c.literal);
        EXPECT_EQ(r.diagnostics, "Compile: line 12:数值超出范围：" + std::string(c.literal) + "\n");
    }
}

// ---------------------------------------------------------------------------
// for loops at the bounds of their counter's type

TEST(ScriptLoops, ForLoopsStopAtTheBoundsOfTheirCountersType) {
    // passes, then the counter after the loop. After a normal end the
    // counter stands one step past the end bound, unless that would leave
    // its type.
    struct Case {
        const char* loop;  // "for <counter> := ... do"
        const char* counter;
        const char* value;  // "passes counter"
    } cases[] = {
        {"for i := 9223372036854775806 to 9223372036854775807 do", "i", "2 9223372036854775807"},
        {"for i := 9223372036854775807 to 9223372036854775807 do", "i", "1 9223372036854775807"},
        {"for i := -9223372036854775807 downto -9223372036854775808 do", "i",
         "2 -9223372036854775808"},
        {"for w := 65534 to 65535 do", "w", "2 65535"},
        {"for w := 65530 to 70000 do", "w", "6 65535"},
        {"for w := 1 downto 0 do", "w", "2 0"},
        {"for w := 2 downto -5 do", "w", "3 0"},
        {"for b := 254 to 255 do", "b", "2 255"},
        {"for b := 250 to 1000 do", "b", "6 255"},
        {"for b := 1 downto 0 do", "b", "2 0"},
        // ordinary loops keep their meaning
        {"for i := 1 to 3 do", "i", "3 4"},
        {"for i := 3 downto 1 do", "i", "3 0"},
        {"for i := 5 to 4 do", "i", "0 5"},
        {"for w := 0 to 0 do", "w", "1 1"},
        {"for i := -2 to 2 do", "i", "5 3"},
    };
    for (const Case& c : cases) {
        const std::string body = std::string("n := 0; ") + c.loop +
                                 " n := n + 1; result := inttostr(n) + ' ' + inttostr(" +
                                 c.counter + ");";
        const Outcome r = RunMain(Program("string", body));
        SCOPED_TRACE(c.loop);
        ASSERT_EQ(r.diagnostics, "");
        EXPECT_EQ(r.error, "");
        EXPECT_EQ(r.value.AsString(), c.value);
    }
}

TEST(ScriptLoops, BreakAndContinueInForLoops) {
    struct Case {
        const char* body;
        const char* value;
    } cases[] = {
        {"n := 0; for i := 1 to 10 do begin if i = 4 then break; n := n + i; end;"
         " result := inttostr(n) + ' ' + inttostr(i);",
         "6 4"},
        {"n := 0; for i := 1 to 5 do begin if i mod 2 = 0 then continue; n := n + i; end;"
         " result := inttostr(n) + ' ' + inttostr(i);",
         "9 6"},
        {"n := 0; for w := 65533 to 65535 do begin if w = 65534 then continue; n := n + 1; end;"
         " result := inttostr(n) + ' ' + inttostr(w);",
         "2 65535"},
        // a body that moves the counter to the end of its type still ends
        {"n := 0; for i := 1 to 10 do begin n := n + 1; i := 9223372036854775807; end;"
         " result := inttostr(n) + ' ' + inttostr(i);",
         "1 9223372036854775807"},
    };
    for (const Case& c : cases) {
        const Outcome r = RunMain(Program("string", c.body));
        SCOPED_TRACE(c.body);
        ASSERT_EQ(r.diagnostics, "");
        EXPECT_EQ(r.error, "");
        EXPECT_EQ(r.value.AsString(), c.value);
    }
}

// ---------------------------------------------------------------------------
// Loops whose body leaves no code

TEST(ScriptLoops, AnEmptyBodyKeepsItsLoop) {
    // step counts its calls in the global "calls" and gives true for the
    // first four; every loop must call it until it gives false (or true).
    struct Case {
        const char* body;
        const char* value;
    } cases[] = {
        {"while step do ; result := calls;", "5"},
        {"while step do begin end; result := calls;", "5"},
        {"repeat until not step; result := calls;", "5"},
        {"repeat ; until not step; result := calls;", "5"},
        {"n := 0; repeat n := n; until not step; result := calls;", "5"},
        {"n := 0; while step do n := n; result := calls;", "5"},
        {"if step then ; result := calls;", "1"},
        {"case step of end; result := calls;", "1"},
        {"for i := 1 to 3 do ; result := i;", "4"},
    };
    for (const Case& c : cases) {
        const Outcome r = RunMain(Program("integer", c.body));
        SCOPED_TRACE(c.body);
        ASSERT_EQ(r.diagnostics, "");
        EXPECT_EQ(r.error, "");
        EXPECT_EQ(r.value.AsString(), c.value);
    }
}

}  // namespace
}  // namespace corvane

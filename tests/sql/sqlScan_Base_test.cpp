// The statement parser: the shape of what it reads, precedence, and every
// grammar rule's faults with the place they point at. What statements mean
// is pinned by the SQL case files (tests/evaluation/sql).
#include "sql/sqlScan_Base.h"

#include <gtest/gtest.h>

#include "engine/UVeskEngine.h"
#include "sql/UveskBase.h"
#include "tests/engine/FakeSource.h"

namespace corvane {
namespace {

TParsedStatement ParseText(const std::string& sql, TParamList* params = nullptr) {
    TParamList none;
    int id = 0;
    TASQLSource parser(params ? *params : none, [&] { return ++id; });
    parser.SetText(sql);
    parser.Parse();
    return parser.TakeStatement();
}

// The expression as a bracketed prefix form: (+ a (* b c)).
std::string Shape(const TSqlExpr& e) {
    auto args = [&] {
        std::string s;
        for (const TSqlExprPtr& a : e.args)
            s += " " + Shape(*a);
        return s;
    };
    switch (e.kind) {
        case TExprKind::Literal:
            return e.value.IsNull() ? "null" : e.value.AsString();
        case TExprKind::Param:
            return ":" + e.name;
        case TExprKind::Column:
            return (e.qualifier.empty() ? "" : e.qualifier + ".") + e.name;
        case TExprKind::Star:
            return "*";
        case TExprKind::Unary:
        case TExprKind::Binary:
        case TExprKind::IsTest:
            return std::string("(") + (e.negated ? "not " : "") + SqlOpText(e.op) + args() + ")";
        case TExprKind::And:
            return "(and" + args() + ")";
        case TExprKind::Or:
            return "(or" + args() + ")";
        case TExprKind::Between:
            return std::string("(") + (e.negated ? "not " : "") + "between" + args() + ")";
        case TExprKind::In:
            return std::string("(") + (e.negated ? "not " : "") + "in" + args() + ")";
        case TExprKind::Case:
            return std::string("(case") + (e.hasOperand ? "/x" : "") + (e.hasElse ? "/e" : "") +
                   args() + ")";
        case TExprKind::Cast:
            return "(cast " + std::string(SqlTypeName(e.castType)) + args() + ")";
        case TExprKind::Call:
            return "(" + e.name + (e.star ? " *" : "") + (e.distinct ? " distinct" : "") + args() +
                   ")";
        case TExprKind::Interval:
            return "(interval " + e.value.AsString() + ")";
    }
    return "?";
}

std::string WhereShape(const std::string& condition) {
    const TParsedStatement s = ParseText("select x from t where " + condition);
    EXPECT_EQ(s.messages.Text(), "") << condition;
    return s.where ? Shape(*s.where) : std::string();
}

TEST(TASQLSource, PrecedenceFollowsTheTable) {
    struct Case {
        const char* condition;
        const char* shape;
    } cases[] = {
        {"a or b and c", "(or a (and b c))"},
        {"not a = 1 and b", "(and (not (= a 1)) b)"},
        {"a = 1 or b = 2 or c = 3", "(or (= a 1) (= b 2) (= c 3))"},
        {"a + b * c > d - e", "(> (+ a (* b c)) (- d e))"},
        {"a || b * c = d", "(= (* (|| a b) c) d)"},
        {"-a * b", "(* (- a) b)"},
        {"a < b = c < d", "(= (< a b) (< c d))"},
        {"a between 1 and 2 and b", "(and (between a 1 2) b)"},
        {"a not between 1 + 1 and 2", "(not between a (+ 1 1) 2)"},
        {"a not in (1, b)", "(not in a 1 b)"},
        {"a in ['x']", "(in a x)"},
        {"a not like 'x%' or b ilike 'y'", "(or (not like a x%) (ilike b y))"},
        {"a regexp '^x' xor b", "(xor (regexp a ^x) b)"},
        {"a is null and b is not null", "(and (is null a) (is not null b))"},
        {"a is not true", "(is not true a)"},
        {"a is distinct from b", "(is distinct from a b)"},
        {"a div 2 mod 3 % 4", "(% (% (/ a 2) 3) 4)"},
        {"-5 = -a", "(= -5 (- a))"},
        {"((a))", "a"},
        {"f(a, b) and count(*) and count(distinct x)",
         "(and (f a b) (count *) (count distinct x))"},
        {"case when a then 1 when b then 2 else 3 end = 1", "(= (case/e a 1 b 2 3) 1)"},
        {"case a when 1 then 'x' end", "(case/x a 1 x)"},
        {"cast(a as varchar(20)) = '1'", "(= (cast string a) 1)"},
        {"m > now() - interval '7 days'", "(> m (- (now) (interval 7 days)))"},
        {"t.size = \"u\".size", "(= t.size u.size)"},
        {"isdir", "isdir"},
        {"when > '2024-01-01'", "(> when 2024-01-01)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(WhereShape(c.condition), c.shape) << c.condition;
}

TEST(TASQLSource, ClausesItemsAndNames) {
    const TParsedStatement s = ParseText(
        "-- a leading comment\n"
        "SELECT DISTINCT TOP 5 filename F, size * 2 AS \"Double Size\", t.*, *, "
        "count(*) from 'a' a,'b' b,'c' c, FileSystem.t where x group by 1, y having count(*) > 1 "
        "order by 2 desc, filename descen, size des;");
    ASSERT_EQ(s.messages.Text(), "");
    EXPECT_TRUE(s.distinct);
    EXPECT_TRUE(s.topSeen);
    EXPECT_EQ(s.topCount, 5);
    ASSERT_EQ(s.items.size(), 5u);
    EXPECT_EQ(s.items[0].outputName, "F");
    EXPECT_EQ(s.items[1].text, "size * 2");
    EXPECT_EQ(s.items[1].outputName, "Double Size");
    EXPECT_EQ(s.items[2].starKind, skTableStar);
    EXPECT_EQ(s.items[2].text, "t.*");
    EXPECT_EQ(s.items[3].starKind, skStar);
    ASSERT_EQ(s.from.size(), 4u);
    EXPECT_EQ(s.from[1].tableText, "'b'");
    EXPECT_EQ(s.from[1].alias, "b");
    EXPECT_EQ(s.from[2].alias, "c");
    EXPECT_EQ(s.from[3].tableText, "FileSystem.t");
    EXPECT_EQ(s.from[3].alias, "FileSystem.t");
    EXPECT_EQ(s.groupBy.size(), 2u);
    ASSERT_TRUE(s.having);
    ASSERT_EQ(s.orderBy.size(), 3u);
    EXPECT_TRUE(s.orderBy[0].descending);
    EXPECT_TRUE(s.orderBy[1].descending);
    EXPECT_FALSE(s.orderBy[2].descending);
    // A doubled quote inside a table text is one quote of the name.
    EXPECT_EQ(ParseText("select * from '/d/it''s'").from[0].tableText, "'/d/it's'");
}

TEST(TASQLSource, LimitForms) {
    struct Case {
        const char* tail;
        int64_t limit, offset;
    } cases[] = {
        {"limit 3", 3, 0},
        {"limit 3 offset 2", 3, 2},
        {"limit 2, 3", 3, 2},
        {"fetch first 3 rows only", 3, 0},
        {"fetch next row only", 1, 0},
        {"offset 4 rows fetch first 2 rows only", 2, 4},
        {"offset 4", -1, 4},
        {"limit 0", 0, 0},
    };
    for (const Case& c : cases) {
        const TParsedStatement s = ParseText(std::string("select x from t ") + c.tail);
        ASSERT_EQ(s.messages.Text(), "") << c.tail;
        EXPECT_EQ(s.limit, c.limit) << c.tail;
        EXPECT_EQ(s.offset, c.offset) << c.tail;
    }
}

TEST(TASQLSource, ParametersAndTheirNames) {
    TParamList params;
    params.Add({"who", "", Variant("x"), "string"});
    const TParsedStatement s = ParseText("select x from t where a = :who", &params);
    EXPECT_EQ(s.messages.Text(), "");
    EXPECT_EQ(params.Item(0).internalName, "pm000000001");
    EXPECT_EQ(ParseText("select x from t where a = :nobody").messages.Text(),
              "不认识的参数:nobody\r\n");
}

// Each fault is one message, at the place it is about.
TEST(TASQLSource, FaultsPointAtTheirPlace) {
    struct Case {
        const char* sql;
        const char* message;
        const char* at;  // the text at the message's place ("" for the end)
    } cases[] = {
        {"update t set x = 1", "无效的select语句", "update"},
        {"", "无效的select语句", ""},
        {"select from t", "缺失输出项", "from t"},
        {"select a,, b from t", "缺失输出项", ", b"},
        {"select a from t where size >", "此处需要一个表达式", ""},
        {"select a from t where", "where部分不完整。", ""},
        {"select a from t where size > 1 xyz", "where部分有语法错误，似乎有多余字符串", "xyz"},
        {"select a from t where size > 1 and", "此处需要一个表达式", ""},
        {"select case when end from t", "此处需要一个表达式", "end from"},
        {"select case x end from t", "case之后至少需要一个when", "end"},
        {"select case when a 1 end from t", "期待“then”", "1 end"},
        {"select case when a then 1 from t", "期待“end”", "from"},
        {"select (a from t", "括号不匹配", "(a"},
        {"select f(a from t", "括号不匹配", "(a from"},
        {"select f(a b) from t", "此处不应出现“b”", "b)"},
        {"select f(a, from t", "此处需要一个表达式", "from"},
        {"select a from t where (size > 1", "括号不匹配", "(size"},
        {"select a from t where size > 1)", "括号不匹配", ")"},
        {"select 'abc from t", "引号不匹配", "'abc"},
        {"select a /* open", "注释没有结束", "/*"},
        {"select a from t where size >> 1", "不认识的关系运算符:>>", ">>"},
        {"select a from t where size ! 1", "不认识的关系运算符", "! 1"},
        {"select a from t where size is 1", "不认识的关系运算符is", "is 1"},
        {"select a from t where size between 1 or 5", "Between之后，期待关键字and", "or 5"},
        {"select a from t where size in 3", "in之后应是括号中的常量列表：3", "3"},
        {"select a from t where size in ['a', 'b'", "期待\"]\"", ""},
        {"select a from t where size in ('a', 'b' order by 1", "括号不匹配", "('a'"},
        {"select a from t order by a where b", "期待where出现", "where"},
        {"select a from t having a", "having之前应有group by", "having"},
        {"select top x a from t", "Top 之后应该是一个整数", "x a"},
        {"select top -1 a from t", "Top 之后应该是一个整数", "-1"},
        {"select top 1 a from t limit 2", "top和limit不能同时使用", "limit"},
        {"select a from t limit x", "Limit 之后应该是一个整数", "x"},
        {"select a from t limit 1 offset y", "Offset 之后应该是一个整数", "y"},
        {"select a from t limit 1 where b", "limit应在语句的末尾", "where"},
        {"select a from t fetch first 2 only", "应写作fetch first n rows only", "only"},
        {"select a from", "from之后应是表", ""},
        {"select a from t a b", "此处不应出现“b”", "b"},
        {"select a from (select * from t) s", "不支持FROM中的子查询：(select * from t)", "(select"},
        {"select a from '/data' :x", "不认识的参数:x", ":x"},
        {"select a from c:\\data", "不认识的参数:\\data", ":\\data"},
        {"select cast(a as blob) from t", "不认识的类型“blob”", "blob"},
        {"select a from t; select b", "语句末尾有多余的内容", "select b"},
        {"select a from t where a in (select b from t)", "暂不支持子查询", "select b"},
        {"select * * from t", "此处不应出现“*”", "* from"},
    };
    for (const Case& c : cases) {
        const TParsedStatement s = ParseText(c.sql);
        ASSERT_EQ(s.messages.Count(), 1) << c.sql << "\n" << s.messages.Text();
        EXPECT_EQ(s.messages.Item(0), c.message) << c.sql;
        const std::string sql = c.sql;
        const int pos = s.messages.Position(0);
        const std::string at =
            pos >= 1 && static_cast<size_t>(pos) <= sql.size() ? sql.substr(pos - 1) : "";
        EXPECT_EQ(at.substr(0, std::string(c.at).size()), c.at) << c.sql;
        if (!*c.at) {
            EXPECT_TRUE(at.empty()) << c.sql << " at " << pos;
        }
    }
}

// Nesting is bounded by a fixed depth: a million brackets are one message,
// quickly, without deep recursion; long flat lists are no nesting at all.
TEST(TASQLSource, NestingIsBounded) {
    auto repeat = [](const std::string& s, int n) {
        std::string out;
        for (int i = 0; i < n; ++i)
            out += s;
        return out;
    };
    const std::string tooDeep = "表达式嵌套太深，最多200层";
    const std::string tooHigh = "表达式嵌套太深，最多1000层";
    struct Case {
        std::string sql;
        std::string message;  // "" parses
    } cases[] = {
        {"select " + repeat("(", 1000000) + "1" + repeat(")", 1000000), tooDeep},
        {"select 1 from t where " + repeat("not ", 5000) + "a", tooDeep},
        {"select " + repeat("- ", 5000) + "1", tooDeep},  // "--" would be a comment
        {"select " + repeat("f(", 5000) + "1", tooDeep},
        {"select " + repeat("case when a then ", 5000) + "1", tooDeep},
        {"select a" + repeat("+a", 5000), tooHigh},
        {"select a" + repeat(" || a", 999), ""},
        {"select a from t where a = 1" + repeat(" and a = 1", 20000), ""},
        {"select a from t where a in (0" + repeat(", 1", 50000) + ")", ""},
    };
    for (const Case& c : cases) {
        const TParsedStatement s = ParseText(c.sql);
        if (c.message.empty()) {
            EXPECT_EQ(s.messages.Text(), "") << c.sql.substr(0, 40);
        } else {
            ASSERT_EQ(s.messages.Count(), 1) << c.sql.substr(0, 40);
            EXPECT_EQ(s.messages.Item(0), c.message) << c.sql.substr(0, 40);
        }
    }
}

// At most 255 tables, however the list is written.
TEST(TASQLSource, TheFromListHoldsAtMost255Tables) {
    for (const char* sep : {", ", ",", " ,"}) {
        std::string ok = "select a from t0", over;
        for (int i = 1; i < 255; ++i)
            ok += std::string(sep) + "'t" + std::to_string(i) + "'";
        over = ok + sep + "t255";
        EXPECT_EQ(ParseText(ok).from.size(), 255u) << sep;
        const TParsedStatement s = ParseText(over);
        ASSERT_EQ(s.messages.Count(), 1) << sep;
        EXPECT_EQ(s.messages.Item(0), "FROM中的表太多，最多255个") << sep;
    }
}

// Statements made of random pieces never raise, and what parses also runs.
TEST(TASQLSource, RandomStatementsNeverRaise) {
    const char* const pieces[] = {
        "select",
        "from",
        "where",
        "order by",
        "group by",
        "having",
        "top",
        "distinct",
        "and",
        "or",
        "not",
        "between",
        "in",
        "like",
        "t",
        "t a",
        "'/x y'",
        "filename",
        "size",
        "isdir",
        "a.size",
        "t.*",
        "*",
        ",",
        "(",
        ")",
        "[",
        "]",
        "'",
        "\"",
        "=",
        "<>",
        ">=",
        "<",
        "+",
        "-",
        "/",
        "div",
        "1",
        "-2",
        "3.5",
        "'txt'",
        "('a','b')",
        "true",
        "false",
        "null",
        ":p",
        "as",
        "desc",
        ";",
        "%",
        "1abc",
        "''",
        "x.y.z",
        "\t",
        "\n",
        "limit",
        "offset",
        "count(*)",
        "sum(",
        "max(size)",
        "regexp",
        "'^a.*$'",
        "case",
        "when",
        "then",
        "else",
        "end",
        "cast(",
        "as integer",
        "is",
        "is not null",
        "||",
        "--",
        "/*",
        "*/",
        "10K",
        "2024-01-31",
        "interval '1 day'",
        "coalesce(",
        "lower(",
        "fetch first",
        "rows only",
        "ilike",
    };
    const size_t count = sizeof pieces / sizeof pieces[0];
    uint64_t seed = 12345;
    auto next = [&] {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<size_t>(seed >> 33);
    };
    auto src = std::make_shared<testing::FakeSource>();
    src->AddTable("t", testing::Files({{"a.txt", 1, false}, {"b", 2, true}}));
    int ran = 0, refused = 0;
    for (int i = 0; i < 3000; ++i) {
        std::string sql =
            i % 3 == 0 ? "select " : (i % 3 == 1 ? "select filename from t where " : "");
        const size_t n = 1 + next() % 14;
        for (size_t k = 0; k < n; ++k) {
            sql += pieces[next() % count];
            sql += ' ';
        }
        TVeskEngineCustomer e;
        e.AddDataBase(src);
        e.SetSQL(sql);
        EXPECT_NO_THROW(e.Parse()) << sql;
        if (!e.GetErrorText().empty()) {
            ++refused;
            continue;
        }
        ++ran;
        try {
            e.Execute();
        } catch (const std::exception&) {
            // A run-time fault (an overflow, a division by zero) is thrown
            // with its message, as designed.
        }
    }
    EXPECT_GT(ran, 10);
    EXPECT_GT(refused, 1000);
}

}  // namespace
}  // namespace corvane

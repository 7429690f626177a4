// The statement and WHERE parsers: clause cutting, FROM pieces and aliases,
// select items, ORDER BY items, the shape of the WHERE tree, and hostile
// input that must end in messages, never in a crash or a hang.
#include "sql/sqlScan_Base.h"

#include <gtest/gtest.h>

#include "engine/UVeskEngine.h"
#include "tests/engine/FakeSource.h"

namespace corvane {
namespace {

using testing::FakeSource;
using testing::Files;

std::shared_ptr<FakeSource> Source() {
    auto src = std::make_shared<FakeSource>();
    src->AddTable("t", Files({{"a", 1, false}}));
    src->AddTable("'c:\\data'", Files({{"a", 1, false}}));
    src->AddTable("'/srv/a.b'", Files({{"a", 1, false}}));
    return src;
}

TEST(TASQLSource, CutsClausesOutsideQuotesAndBrackets) {
    struct Case {
        const char* sql;
        const char* select;
        const char* from;
        const char* where;
        const char* order;
        const char* group;
        const char* having;
    } cases[] = {
        {"select a from t where x = 1 group by a having b order by c", "select a", "from t",
         "where x = 1", "order by c", "group by a", "having b"},
        {"SELECT a FROM t ORDER BY c", "SELECT a", "FROM t", "", "ORDER BY c", "", ""},
        {"select 'from' f from 'c:\\from' where s = 'order by'", "select 'from' f",
         "from 'c:\\from'", "where s = 'order by'", "", "", ""},
        {"select fromage from t where (x where) = 1", "select fromage", "from t",
         "where (x where) = 1", "", "", ""},
        {"select a from t order x, order by b", "select a", "from t order x,", "", "order by b", "",
         ""},
        {"select a, b from t group by a", "select a, b", "from t", "", "", "group by a", ""},
    };
    for (const Case& c : cases) {
        TVeskEngineCustomer e;
        TASQLSource src(e.Params(), [&e] { return e.NextId(); });
        src.SetText(c.sql);
        src.Parse();
        EXPECT_EQ(src.SelectPart(), c.select) << c.sql;
        EXPECT_EQ(src.FromPart(), c.from) << c.sql;
        EXPECT_EQ(src.WherePart(), c.where) << c.sql;
        EXPECT_EQ(src.OrderPart(), c.order) << c.sql;
        EXPECT_EQ(src.GroupPart(), c.group) << c.sql;
        EXPECT_EQ(src.HavingPart(), c.having) << c.sql;
    }
}

TEST(TASQLSource, FromPiecesAndAliases) {
    struct Case {
        const char* from;
        std::vector<std::string> texts;
        std::vector<std::string> aliases;
    } cases[] = {
        {"t", {"t"}, {"t"}},
        {"t a", {"t"}, {"a"}},
        {"t as a", {"t"}, {"a"}},
        {"t AS Abc", {"t"}, {"Abc"}},
        {"'c:\\data'", {"'c:\\data'"}, {"'c:\\data'"}},
        {"'c:\\data' x, t y", {"'c:\\data'", "t"}, {"x", "y"}},
        {"'/srv/a.b', t", {"'/srv/a.b'", "t"}, {"'/srv/a.b'", "t"}},
    };
    for (const Case& c : cases) {
        TVeskEngineCustomer e;
        e.AddDataBase(Source());
        e.SetSQL(std::string("select * from ") + c.from);
        e.Parse();
        EXPECT_EQ(e.GetErrorText(), "") << c.from;
        TFromClause& from = e.FromClause();
        ASSERT_EQ(from.Count(), static_cast<int>(c.texts.size())) << c.from;
        for (int i = 0; i < from.Count(); ++i) {
            EXPECT_EQ(from.Table(i).tableText, c.texts[static_cast<size_t>(i)]) << c.from;
            EXPECT_EQ(from.Table(i).alias, c.aliases[static_cast<size_t>(i)]) << c.from;
        }
    }
}

TEST(TASQLSource, SelectItemsNamesTopAndDistinct) {
    TVeskEngineCustomer e;
    e.AddDataBase(Source());
    e.SetSQL(
        "select top 7 distinct filename f, size as s, t.isdir, '/srv/a.b'.size from t, '/srv/a.b'");
    e.Parse();
    ASSERT_EQ(e.GetErrorText(), "");
    TSelectClause& c = e.SelectEnv().Clause();
    EXPECT_EQ(c.topCount, 7);
    EXPECT_TRUE(c.distinct);
    ASSERT_EQ(c.Count(), 4);
    EXPECT_EQ(c.Item(0).outputName, "f");
    EXPECT_EQ(c.Item(1).outputName, "s");
    EXPECT_EQ(c.Item(2).outputName, "t.isdir");
    // A quoted table text holding a dot still qualifies its columns.
    EXPECT_EQ(c.Item(3).kind, okColumn);
    EXPECT_EQ(c.Item(3).ref.tableIndex, 1);
}

TEST(TASQLSource, ParameterReferencesAreReplacedByInternalNames) {
    TVeskEngineCustomer e;
    e.AddDataBase(Source());
    e.SetSQL("select filename from t where size > :limit and filename <> ':x'");
    e.Params().Add(TSimpleParam{"limit", "", Variant(int64_t{0}), "integer"});
    e.Parse();
    EXPECT_EQ(e.Params().Item(0).internalName, "pm000000001");
    // Resolution looks parameters up by name, so the substituted internal
    // name is not found (the engine leaves that to a host that wants
    // parameters).
    EXPECT_EQ(e.GetErrorText(), "pm000000001 is unkonwn.\r\n不认识的字符串：pm000000001\r\n");
}

// The parser needs no engine: a parameter list and an id source are all it
// takes, and what it gives is plain data with the places of the texts.
TEST(TASQLSource, ParsesIntoAPlainStatement) {
    TParamList params;
    params.Add(TSimpleParam{"lim", "", Variant(int64_t{5}), "integer"});
    int ids = 0;
    TASQLSource parser(params, [&ids] { return ++ids; });
    const std::string sql =
        "select top 3 distinct filename f, d.*, size as s, * from '/d /s' as d, u "
        "where size > :lim and (filename like 'a%' or not isdir = true) "
        "group by f having s > 1 order by f desc, size, F";
    parser.SetText("  " + sql);
    parser.Parse();
    const TParsedStatement& st = parser.Statement();
    EXPECT_EQ(st.messages.Count(), 0) << st.messages.Text();
    EXPECT_EQ(params.Item(0).internalName, "pm000000001");
    EXPECT_EQ(st.topCount, 3);
    EXPECT_TRUE(st.distinct);
    EXPECT_EQ(st.groupPart, "group by f");
    EXPECT_EQ(st.havingPart, "having s > 1");
    auto at = [&](const char* anchor) { return static_cast<int>(sql.find(anchor)) + 3; };
    ASSERT_EQ(st.groupBy.size(), 1u);
    EXPECT_EQ(st.groupBy[0].text, "f");
    EXPECT_EQ(st.groupBy[0].textPos, at("f having"));
    ASSERT_TRUE(st.having && st.having->group);
    ASSERT_EQ(st.having->group->size(), 1u);
    const TParsedRelation& having = *st.having->group->front()->relation;
    EXPECT_EQ(having.op, roGreater);
    EXPECT_EQ(having.left.text, "s");
    EXPECT_EQ(having.left.textPos, at("s > 1"));
    EXPECT_EQ(st.limit, -1);
    EXPECT_EQ(st.offset, 0);

    ASSERT_EQ(st.from.size(), 2u);
    EXPECT_EQ(st.from[0].tableText, "'/d /s'");
    EXPECT_EQ(st.from[0].alias, "d");
    EXPECT_EQ(st.from[0].textPos, at("'/d /s'"));
    EXPECT_EQ(st.from[1].tableText, "u");
    EXPECT_EQ(st.from[1].alias, "u");

    struct Item {
        const char* text;
        const char* outputName;
        TStarKind star;
        const char* anchor;  // where the item stands
        int offset;
    } items[] = {{"filename", "f", skPlain, "filename", 0},
                 {"d.*", "", skTableStar, "d.*", 0},
                 {"size", "s", skPlain, "size", 0},
                 {"*", "", skStar, ", * ", 2}};
    ASSERT_EQ(st.items.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(st.items[i].text, items[i].text);
        EXPECT_EQ(st.items[i].outputName, items[i].outputName);
        EXPECT_EQ(st.items[i].starKind, items[i].star);
        EXPECT_EQ(st.items[i].textPos, at(items[i].anchor) + items[i].offset);
    }

    // where: one alternative, a chain of the relation and the bracketed
    // group of two alternatives.
    ASSERT_TRUE(st.where && st.where->group);
    ASSERT_EQ(st.where->group->size(), 1u);
    const TParsedCondition& first = *st.where->group->front();
    ASSERT_TRUE(first.relation);
    EXPECT_EQ(first.relation->op, roGreater);
    EXPECT_EQ(first.relation->left.text, "size");
    EXPECT_EQ(first.relation->right.text, "pm000000001");
    // The internal name stands where the reference stood.
    EXPECT_EQ(first.relation->right.textMap.front(), at(":lim"));
    ASSERT_TRUE(first.next && first.next->group);
    EXPECT_EQ(first.next->group->size(), 2u);
    const TParsedCondition& negated = *first.next->group->back();
    EXPECT_TRUE(negated.negated);
    EXPECT_EQ(negated.relation->text, "isdir = true");

    // Every ORDER BY item as written, repeats included: dropping a repeat
    // is the binder's business.
    ASSERT_EQ(st.orderBy.size(), 3u);
    EXPECT_EQ(st.orderBy[0].name, "f");
    EXPECT_TRUE(st.orderBy[0].descending);
    EXPECT_EQ(st.orderBy[1].name, "size");
    EXPECT_FALSE(st.orderBy[1].descending);
    EXPECT_EQ(st.orderBy[2].name, "F");
    EXPECT_EQ(st.orderBy[2].textPos, at("F"));
}

// The shape of a parsed and normalised WHERE tree, written as text.
std::string Shape(const TBoolNode* chain) {
    std::string out;
    for (const TBoolNode* n = chain; n; n = n->next.get()) {
        if (!out.empty()) out += " & ";
        if (n->negated) out += "!";
        if (n->isLiteral)
            out += n->literal ? "true" : "false";
        else if (n->relation)
            out += n->relation->left->text + "#" + std::to_string(n->relation->op) + "#" +
                   (n->relation->op == roIn ? std::to_string(n->relation->right->listTexts.size())
                                            : n->relation->right->text);
        else if (n->group) {
            out += "(";
            for (int i = 0; i < n->group->Count(); ++i)
                out += (i ? " | " : "") + Shape(n->group->Item(i));
            out += ")";
        }
    }
    return out;
}

std::string RootShape(TVeskEngineCustomer& e) {
    std::string out;
    TOrNodeList& g = *e.WhereRoot().group;
    for (int i = 0; i < g.Count(); ++i)
        out += (i ? " | " : "") + Shape(g.Item(i));
    return out;
}

TEST(TWhereParser, TreeShapes) {
    struct Case {
        const char* where;
        const char* shape;
    } cases[] = {
        {"size > 1000 and not isdir = true or filename = 'txt'",
         "size#2#1000 & !isdir#0#true | filename#0#txt"},
        {"not (size > 10)", "!(size#2#10)"},
        {"(size > 10)", "size#2#10"},
        {"size between 10 and 20", "size#6#10"},
        {"filename in ('exe','dll')", "filename#7#2"},
        {"filename in ['exe', 'dll']", "filename#7#2"},
        {"(size = 1 or size = 2)", "size#0#1 | size#0#2"},
        {"not (size = 1 or size = 2)", "!(size#0#1 | size#0#2)"},
        {"size = 1 and (size = 2 and size = 3)", "size#0#1 & size#0#2 & size#0#3"},
        {"size * 2 >= -5", "size*2#3#-5"},
        {"Copy(FileName, 1, 2) = 'ab'", "copy(FileName, 1, 2)#0#ab"},
        {"length(filename)*2 > 4", "length(filename)*2#2#4"},
        {"true and not false", "true & !false"},
        {"not not size = 1", "!size#0#1"},
        {"filename like 'a%' or", "filename#8#a%"},
    };
    for (const Case& c : cases) {
        TVeskEngineCustomer e;
        e.AddDataBase(Source());
        e.SetSQL(std::string("select filename from t where ") + c.where);
        e.Parse();
        const std::string errors = e.GetErrorText();
        if (errors.find("暂不支持表达式") == std::string::npos) {
            EXPECT_EQ(errors, "") << c.where;
        }
        EXPECT_EQ(RootShape(e), c.shape) << c.where;
    }
}

// Hostile statements end in messages (or run), quickly and without crashing.
TEST(TASQLSource, HostileInputEndsInMessages) {
    std::string deep = "select filename from t where ";
    for (int i = 0; i < 5000; ++i)
        deep += "(";
    deep += "size = 1";
    for (int i = 0; i < 5000; ++i)
        deep += ")";
    std::string nots = "select filename from t where ";
    for (int i = 0; i < 5000; ++i)
        nots += "not ";
    nots += "size = 1";
    std::string longChain = "select filename from t where size = 1";
    for (int i = 0; i < 20000; ++i)
        longChain += " and size = 1";
    std::string bigIn = "select filename from t where filename in ('x'";
    for (int i = 0; i < 50000; ++i)
        bigIn += ",'" + std::to_string(i) + "'";
    bigIn += ",'a')";
    std::string arith = "select filename from t where size = size";
    for (int i = 0; i < 20000; ++i)
        arith += "+1";
    std::string deepHaving = "select filename from t group by filename having ";
    for (int i = 0; i < 5000; ++i)
        deepHaving += "(";
    deepHaving += "count(*) = 1";
    for (int i = 0; i < 5000; ++i)
        deepHaving += ")";
    // Thousands of aggregate calls, shared where they repeat: one row.
    std::string aggregates = "select count(*)";
    for (int i = 0; i < 3000; ++i)
        aggregates += ", sum(size), max(size+" + std::to_string(i % 50) + ")";
    aggregates += " from t";
    const std::string unbalanced[] = {
        "select filename from t where filename = 'abc",
        "select 'abc from t",
        "select filename from 't where x = \"",
        "select filename from t where (((",
        "select filename from t where ))) = 1",
        "select filename from t where filename in ('a",
        "select ,,, from ,,, where ,,, order by ,,,",
        "select filename from t where size between",
        "select * from t where [",
    };
    struct Case {
        std::string sql;
        const char* firstMessage;  // nullptr: runs
    };
    std::vector<Case> cases = {{deep, "where部分嵌套太深"},
                               {nots, "where部分嵌套太深"},
                               {longChain, nullptr},
                               {bigIn, nullptr},
                               {arith, ""},
                               {deepHaving, "having部分嵌套太深"},
                               {aggregates, nullptr}};
    for (const std::string& u : unbalanced)
        cases.push_back({u, ""});
    for (const Case& c : cases) {
        TVeskEngineCustomer e;
        e.AddDataBase(Source());
        e.SetSQL(c.sql);
        e.Parse();
        const std::string errors = e.GetErrorText();
        if (!c.firstMessage) {
            EXPECT_EQ(errors, "") << c.sql.substr(0, 60);
            e.Execute();
            EXPECT_EQ(e.DataSet().GetRecordCount(), 1) << c.sql.substr(0, 60);
        } else if (*c.firstMessage) {
            EXPECT_EQ(errors.rfind(c.firstMessage, 0), 0u) << c.sql.substr(0, 60) << "\n"
                                                           << errors.substr(0, 200);
        }
        if (errors.empty()) e.Execute();  // whatever parses also runs
    }
}

// Every message carries the byte offset (1-based) in the statement text
// given to SetSQL of what it is about: the place in an expression where the
// compiler stumbled, the select item, the WHERE operand, the table, or where
// the WHERE parser stopped. Places are written as an anchor text in the
// statement plus a byte offset from the anchor's start.
TEST(TASQLSource, MessagesCarryTheirPlaceInTheStatement) {
    struct Expected {
        const char* message;
        const char* anchor;
        int offset;
    };
    struct Case {
        std::string sql;
        std::vector<Expected> messages;
        std::string parameter = {};  // a parameter the host supplies, if any
    } cases[] = {
        // The place within an item; the statement starts with blanks.
        {"  select filename, size+ from t",
         {{"表达式“size+”末尾：需要操作数。", "size+", 5},
          {"表达式“size+”末尾：不正确的表达式。", "size+", 5}}},
        // Blanks dropped from a WHERE operand do not shift the place.
        {"select filename from t where size *  nosuch > 1",
         {{"表达式“size*nosuch”第6个字符：“nosuch”没有被声明。", "nosuch", 0},
          {"表达式“size*nosuch”第6个字符：不正确的表达式。", "nosuch", 0}}},
        {"select filename from t\nwhere size\n+\nnosuch > 1",
         {{"表达式“size+nosuch”第6个字符：“nosuch”没有被声明。", "nosuch", 0},
          {"表达式“size+nosuch”第6个字符：不正确的表达式。", "nosuch", 0}}},
        // The message counts characters, the place bytes.
        {"select 'é'+size from t",
         {{"表达式“'é'+size”第5个字符：类型不兼容。", "size", 0},
          {"表达式“'é'+size”第5个字符：类型不兼容。", "size", 0}}},
        {"select size;result:=99 x from t",
         {{"表达式“size;result:=99”第5个字符：只能是一个表达式，不能含有“;”。", ";", 0}}},
        {"select filename from t where f(1;2) = 1",
         {{"表达式“f(1;2)”第4个字符：只能是一个表达式，不能含有“;”。", ";", 0}}},
        // Grouping: a column neither grouped nor aggregated, an aggregate
        // where none may stand or without what it needs, and faults of
        // expressions around and inside aggregate calls, which name the
        // text as written.
        {"select filename, count(*) from t",
         {{"“filename”既不在group by中，也不在聚合函数里", "filename", 0}}},
        {"select filename from t where  max(size) > 1",
         {{"表达式“max(size)”第1个字符：聚合函数“max”只能用在选择项、having和order by中。", "max",
           0}}},
        {"select count(*), SUM(*) from t", {{"只有count可以用“*”：SUM(*)", "SUM", 0}}},
        {"select count( ) from t", {{"聚合函数缺少参数：count( )", "count", 0}}},
        {"select sum(size+nosuch) from t",
         {{"表达式“size+nosuch”第6个字符：“nosuch”没有被声明。", "nosuch", 0},
          {"表达式“size+nosuch”第6个字符：不正确的表达式。", "nosuch", 0}}},
        {"select filename, count(*)+nosuch from t group by filename",
         {{"表达式“count(*)+nosuch”第10个字符：“nosuch”没有被声明。", "nosuch", 0},
          {"表达式“count(*)+nosuch”第10个字符：不正确的表达式。", "nosuch", 0}}},
        {"select filename from t group by filename having  count(*)+nosuch > 1",
         {{"表达式“count(*)+nosuch”第10个字符：“nosuch”没有被声明。", "nosuch", 0},
          {"表达式“count(*)+nosuch”第10个字符：不正确的表达式。", "nosuch", 0}}},
        {"select filename from t group by  filename, ", {{"缺失分组项", ", ", 1}}},
        {"select filename from t group by filename having", {{"having部分不完整。", "having", 0}}},
        {"select filename from t limit  x", {{"Limit 之后应该是一个整数", "x", 0}}},
        {"select filename from t limit 1 offset  y", {{"Offset 之后应该是一个整数", "y", 0}}},
        {"select filename from t limit 1 z", {{"limit应在语句的末尾", "z", 0}}},
        {"select top 1 filename from t limit 1", {{"top和limit不能同时使用", "limit", 0}}},
        // An ORDER BY column added to the select list keeps its place.
        {"select filename from t order by size+nosuch",
         {{"表达式“size+nosuch”第6个字符：“nosuch”没有被声明。", "nosuch", 0},
          {"表达式“size+nosuch”第6个字符：不正确的表达式。", "nosuch", 0}}},
        // A repeated ORDER BY name is dropped; the items after it keep
        // their own places.
        {"select filename from t order by size, Size desc, size+nosuch",
         {{"表达式“size+nosuch”第6个字符：“nosuch”没有被声明。", "nosuch", 0},
          {"表达式“size+nosuch”第6个字符：不正确的表达式。", "nosuch", 0}}},
        // Items, operands and tables as a whole.
        {"select filename, nosuch from t", {{"nosuch is unkonwn.", "nosuch", 0}}},
        {"select 1+Size, a.size*2 from t, t a", {{"\"size\" 有歧义", "Size", 0}}},
        {"select filename from t where  nosuch = 1",
         {{"nosuch is unkonwn.", "nosuch", 0}, {"不认识的字符串：nosuch", "nosuch", 0}}},
        {"select filename from t where size in 3", {{"in之后应是括号中的常量列表：3", "3", 0}}},
        {"select filename from t, nosuch n", {{"nosuch不是有效的表", "nosuch", 0}}},
        {"select z.*, filename from t", {{"没有相应的表：z", "z.*", 0}}},
        {"select filename,  , size from t", {{"缺失输出项", ",  ,", 3}}},
        {"select top x filename from t", {{"Top 之后应该是一个整数", "x", 0}}},
        {"update t set x = 1", {{"无效的select语句", "update", 0}}},
        {"select filename from t :nosuch", {{"不认识的参数:nosuch", ":", 0}}},
        // The WHERE parser's messages stand where it stopped.
        {"select filename from t where size >> 1",
         {{"不认识的关系运算符:>>", ">>", 0},
          {"试图获得一个关系式时，失败了.(size >> 1的6位置)", ">>", 0},
          {"试图获得一个布尔表达式时失败.(size >> 1的6位置)", ">>", 0}}},
        {"select filename from t where", {{"where部分不完整。", "where", 0}}},
        // A parameter's internal name is longer than its reference: places
        // after it stay those of the text the host gave.
        {"select filename, :p, nosuch from t",
         {{"pm000000001 is unkonwn.", ":p", 0}, {"nosuch is unkonwn.", "nosuch", 0}},
         "p"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        TVeskEngineCustomer e;
        e.AddDataBase(Source());
        e.SetSQL(c.sql);
        if (!c.parameter.empty()) e.Params().Add({c.parameter, "", Variant(int64_t{1}), "integer"});
        e.Parse();
        const TmyErrorMng& errors = e.Errors();
        ASSERT_EQ(errors.Count(), static_cast<int>(c.messages.size())) << e.GetErrorText();
        for (size_t i = 0; i < c.messages.size(); ++i) {
            const Expected& m = c.messages[i];
            const size_t at = c.sql.find(m.anchor);
            ASSERT_NE(at, std::string::npos) << m.anchor;
            EXPECT_EQ(errors.Item(static_cast<int>(i)), m.message);
            EXPECT_EQ(errors.Position(static_cast<int>(i)), static_cast<int>(at) + 1 + m.offset)
                << m.message;
        }
    }
}

// GROUP BY items are operands of their own (an expression may hold
// blanks and commas in brackets); LIMIT and OFFSET end the statement and
// also cut the clause before them; "limit" inside quotes or a longer word
// is no clause word; "regexp" and "not regexp" are relations.
TEST(TASQLSource, GroupingLimitAndRegexp) {
    TParamList params;
    TASQLSource parser(params, [] { return 1; });
    parser.SetText(
        "select extension, count(*) from '/d limit' where filename not regexp '^a' "
        "group by extension, copy(path, 1, 3) , trunc(size / 10) "
        "having count(*) > 1 or extension regexp 'x$' order by extension limit 5 offset 2");
    parser.Parse();
    const TParsedStatement& st = parser.Statement();
    EXPECT_EQ(st.messages.Count(), 0) << st.messages.Text();
    EXPECT_EQ(st.from.at(0).tableText, "'/d limit'");
    ASSERT_EQ(st.groupBy.size(), 3u);
    EXPECT_EQ(st.groupBy[0].text, "extension");
    EXPECT_EQ(st.groupBy[1].text, "copy(path, 1, 3)");
    EXPECT_EQ(st.groupBy[2].text, "trunc(size / 10)");
    EXPECT_EQ(st.orderPart, "order by extension");
    EXPECT_EQ(st.limitPart, "limit 5 offset 2");
    EXPECT_EQ(st.limit, 5);
    EXPECT_EQ(st.offset, 2);
    ASSERT_TRUE(st.where && st.where->group);
    EXPECT_EQ(st.where->group->front()->relation->op, roNotRegexp);
    EXPECT_EQ(st.where->group->front()->relation->right.text, "'^a'");
    ASSERT_TRUE(st.having && st.having->group);
    ASSERT_EQ(st.having->group->size(), 2u);
    EXPECT_EQ(st.having->group->at(0)->relation->left.text, "count(*)");
    EXPECT_EQ(st.having->group->at(1)->relation->op, roRegexp);

    parser.SetText("select filename limits from t where size > 1 LIMIT 0");
    parser.Parse();
    EXPECT_EQ(parser.Statement().messages.Count(), 0);
    EXPECT_EQ(parser.Statement().wherePart, "where size > 1");
    EXPECT_EQ(parser.Statement().limit, 0);
}

// Random statements from the dialect's own pieces: every one parses to
// messages or runs; none raises, crashes or hangs.
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
        "*",
        "/",
        "div",
        "1",
        "-2",
        "3.5",
        "'txt'",
        "('a','b')",
        "true",
        "false",
        ":p",
        "as",
        "desc",
        ";",
        "%",
        "1abc",
        "12:30",
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
        "not regexp",
        "'^a.*$'",
        "'(a*)*b'",
        "count(distinct",
        "avg(size)",
    };
    const size_t count = sizeof pieces / sizeof pieces[0];
    uint64_t seed = 12345;
    auto next = [&] {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<size_t>(seed >> 33);
    };
    auto src = Source();
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
        if (!e.GetErrorText().empty()) ++refused;
        if (e.GetErrorText().empty()) {
            ++ran;
            try {
                e.Execute();
            } catch (const VariantError&) {
                // ORDER BY over a value that does not convert: a run-time
                // error with its message, as designed.
            } catch (const std::exception& ex) {
                ADD_FAILURE() << sql << ": " << ex.what();
            }
        }
    }
    // Both outcomes occur, so both paths were exercised.
    EXPECT_GT(ran, 10);
    EXPECT_GT(refused, 1000);
}

}  // namespace
}  // namespace corvane

// Operands as the binder leaves them (constants typed, columns, compiled
// expressions), their evaluation per row, sharing a program between
// copies, and the small helpers.
#include "sql/UveskBase.h"

#include <gtest/gtest.h>

#include "engine/UVeskEngine.h"
#include "script/common/qv_consts.h"
#include "tests/engine/FakeSource.h"

namespace corvane {
namespace {

using testing::FakeSource;
using testing::Files;

// The first select item of statement over a table "t" of two files.
struct Bound {
    TVeskEngineCustomer e;
    explicit Bound(const std::string& sql) {
        auto src = std::make_shared<FakeSource>();
        src->AddTable("t", Files({{"a.txt", 10, false}, {"b", 20, true}}));
        e.AddDataBase(src);
        e.SetSQL(sql);
        e.Parse();
    }
    TSelectField& Item(int i) { return e.SelectEnv().Clause().Item(i); }
};

TEST(TROperandDef, BindingClassifiesByWhatTheExpressionIs) {
    struct Case {
        const char* sql;
        TOperandKind kind;
        const char* type;
    } cases[] = {
        {"select 'txt' from t", okConstant, "string"},
        {"select 1000 from t", okConstant, "integer"},
        {"select 2.5 from t", okConstant, "double"},
        {"select true from t", okConstant, "boolean"},
        {"select 2*5 from t", okConstant, "integer"},  // folded while compiling
        {"select size from t", okColumn, "integer"},
        {"select (size) from t", okColumn, "integer"},
        {"select size*2 from t", okExpression, "integer"},
        {"select size/2 from t", okExpression, "double"},
        {"select filename || 'x' from t", okExpression, "string"},
        {"select size > 1 from t", okExpression, "boolean"},
        {"select copy(filename, 1, 1) from t", okExpression, "string"},
    };
    for (const Case& c : cases) {
        Bound b(c.sql);
        ASSERT_EQ(b.e.GetErrorText(), "") << c.sql;
        EXPECT_EQ(b.Item(0).kind, c.kind) << c.sql;
        EXPECT_EQ(b.Item(0).typeName, c.type) << c.sql;
    }
}

TEST(TROperandDef, ConstantsAreTypedValues) {
    Bound b("select 42, 'it''s', 1e1, 10K, false, null from t");
    ASSERT_EQ(b.e.GetErrorText(), "");
    EXPECT_EQ(b.Item(0).Evaluate().type(), VarType::Integer);
    EXPECT_EQ(b.Item(1).Evaluate().RawString(), "it's");
    EXPECT_EQ(b.Item(2).Evaluate().type(), VarType::Double);
    EXPECT_EQ(b.Item(3).Evaluate().RawInteger(), 10240);
    EXPECT_EQ(b.Item(4).Evaluate().type(), VarType::Boolean);
    EXPECT_TRUE(b.Item(5).Evaluate().IsNull());
}

TEST(TROperandDef, AnExpressionReadsTheCurrentRowAndCopiesShareItsProgram) {
    Bound b("select size*2+1 from t");
    ASSERT_EQ(b.e.GetErrorText(), "");
    TSelectField& item = b.Item(0);
    ASSERT_EQ(item.kind, okExpression);
    TFromClause& from = b.e.FromClause();
    from.Prepare();
    from.Table(0).dataset->Open();
    from.PositionAndLoad(0, 1);
    EXPECT_EQ(item.Evaluate().AsInteger(), 41);
    TROperandDef copy;
    copy.CopyFrom(item);
    EXPECT_EQ(copy.program, item.program);
    from.PositionAndLoad(0, 0);
    EXPECT_EQ(copy.Evaluate().AsInteger(), 21);
    ASSERT_EQ(item.Reads().size(), 1u);
    EXPECT_EQ(item.Reads()[0].fieldIndex, 1);
}

TEST(Helpers, ExpressionMessagesCountCharacters) {
    EXPECT_EQ(ExpressionMessage("size+", 6, "x"), "表达式“size+”末尾：x");
    EXPECT_EQ(ExpressionMessage("size+", 0, "x"), "表达式“size+”：x");
    EXPECT_EQ(ExpressionMessage("'é'+s", 5, "x"), "表达式“'é'+s”第4个字符：x");
}

TEST(Helpers, TextHelpers) {
    EXPECT_EQ(NormalizeName("A.'B c'.D"), "a.'B c'.d");
    EXPECT_EQ(StripQuotes("  'abc'  "), "abc");
    EXPECT_EQ(StripQuotes("'abc\""), "'abc\"");
    EXPECT_EQ(StripQuotes("'"), "'");
    TDataType code = dtUnknown;
    EXPECT_TRUE(TypeCodeOf("datetime", code));
    EXPECT_EQ(code, 8);
    EXPECT_FALSE(TypeCodeOf("Integer", code));
    EXPECT_EQ(code, 8);
    std::vector<int> list{3, 1, 2};
    SortIntList(list, true);
    EXPECT_EQ(list, (std::vector<int>{3, 2, 1}));
}

}  // namespace
}  // namespace corvane

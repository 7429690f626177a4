// Operands: classification by Bind, IN lists, evaluation, the helpers, and
// the expression seam (with a stand-in backend for "name*number").
#include "sql/UveskBase.h"

#include <gtest/gtest.h>

#include "engine/UVeskEngine.h"
#include "script/common/qv_consts.h"
#include "tests/engine/FakeSource.h"

namespace corvane {
namespace {

using testing::FakeSource;
using testing::Files;
using testing::Rows;

// Parses a statement over a table "t" of one file, so that operands have a
// FROM clause to bind against.
void ParseOverOneFile(TVeskEngineCustomer& e) {
    auto src = std::make_shared<FakeSource>();
    src->AddTable("t", Files({{"a", 1, false}}));
    e.AddDataBase(src);
    e.SetSQL("select filename from t");
    e.Parse();
}

TEST(TROperandDef, BindClassifies) {
    TVeskEngineCustomer e;
    ParseOverOneFile(e);
    ASSERT_EQ(e.GetErrorText(), "");
    struct Case {
        const char* text;
        TOperandKind kind;
        const char* message;
        const char* value;  // constants
        std::vector<std::string> list;
    } cases[] = {
        {"'txt'", okConstant, "", "txt", {}},
        {"1000", okConstant, "", "1000", {}},
        {"true", okConstant, "", "true", {}},
        {"-5", okConstant, "", "-5", {}},
        {"('exe', 'dll')", okConstant, "", "", {"exe", "dll"}},
        {"['A','b']", okConstant, "", "", {"A", "b"}},
        {"('a' ,'b')", okConstant, "", "", {"a", "", "b"}},
        {"size", okColumn, "", nullptr, {}},
        {"T.Size", okColumn, "", nullptr, {}},
        {"nosuch", okConstant, "不认识的字符串：nosuch", nullptr, {}},
        {"size*2", okExpression, "", nullptr, {}},
        {"(1,2)", okExpression, nullptr, nullptr, {}},  // the compiler's own messages
    };
    for (const Case& c : cases) {
        TROperandDef op;
        op.text = c.text;
        op.source = &e.FromClause();
        const std::string message = op.Bind();
        if (c.message) {
            EXPECT_EQ(message, c.message) << c.text;
        } else {
            EXPECT_NE(message, "") << c.text;
        }
        EXPECT_EQ(op.kind, c.kind) << c.text;
        if (c.value) {
            EXPECT_EQ(op.Evaluate().AsString(), c.value) << c.text;
        }
        EXPECT_EQ(op.listTexts, c.list) << c.text;
    }
}

// A text that starts like a literal but carries an operator outside its
// quotes is computed; a well-formed number, a date or a single quoted text
// stays a constant.
TEST(TROperandDef, ConstantArithmeticIsAnExpression) {
    TVeskEngineCustomer e;
    ParseOverOneFile(e);
    ASSERT_EQ(e.GetErrorText(), "");
    struct Case {
        const char* text;
        TOperandKind kind;
        const char* value;  // after one evaluation
    } cases[] = {
        {"2*5", okExpression, "10"},
        {"-5*2", okExpression, "-10"},
        {"1+1", okExpression, "2"},
        {"100/4", okExpression, "25"},
        {"2*size", okExpression, "2"},
        {"'a'+'b'", okExpression, "ab"},
        {"\"a\"+'b'", okExpression, "ab"},
        {"-5", okConstant, "-5"},
        {"1.5", okConstant, "1.5"},
        {"1e-5", okConstant, "1e-5"},
        {"-2.5E+3", okConstant, "-2.5E+3"},
        {"'a+b'", okConstant, "a+b"},
        {"'it''s'", okConstant, "it''s"},  // no operator outside the quotes
        {"2024-01-31", okConstant, "2024-01-31"},
        {"1abc", okConstant, "1abc"},
        {"12:30", okConstant, "12:30"},
    };
    for (const Case& c : cases) {
        TROperandDef op;
        op.text = c.text;
        op.source = &e.FromClause();
        EXPECT_EQ(op.Bind(), "") << c.text;
        EXPECT_EQ(op.kind, c.kind) << c.text;
        e.FromClause().Buffer(0).assign(3, Variant(int64_t{1}));
        EXPECT_EQ(op.Evaluate().AsString(), c.value) << c.text;
    }
}

// The right side of IN: a bracketed list of constants. Quoted items are
// texts matched exactly, unquoted ones values compared as "=" does.
TEST(TROperandDef, InListsOfConstants) {
    struct Case {
        const char* text;
        std::vector<std::string> texts;
        std::vector<std::string> values;
        const char* message;
    } cases[] = {
        {"(3)", {}, {"3"}, ""},
        {"(0, 3)", {}, {"0", "3"}, ""},
        {"( 1.5 ,2 )", {}, {"1.5", "2"}, ""},
        {"[-1, 1e2]", {}, {"-1", "1e2"}, ""},
        {"(true)", {}, {"true"}, ""},
        {"('a', 3, 'b,c')", {"a", "b,c"}, {"3"}, ""},
        {"('')", {""}, {}, ""},
        // Only quoted items: read as before, a blank before a comma
        // included.
        {"('a' ,'b')", {"a", "", "b"}, {}, ""},
        {"3", {}, {}, "in之后应是括号中的常量列表：3"},
        {"(size)", {}, {}, "in之后应是括号中的常量列表：(size)"},
        {"(1,)", {}, {}, "in之后应是括号中的常量列表：(1,)"},
        {"(2*5)", {}, {}, "in之后应是括号中的常量列表：(2*5)"},
        {"()", {}, {}, "in之后应是括号中的常量列表：()"},
    };
    for (const Case& c : cases) {
        TROperandDef op;
        op.text = c.text;
        EXPECT_EQ(op.Bind(true), c.message) << c.text;
        EXPECT_TRUE(op.isList) << c.text;
        EXPECT_EQ(op.kind, okConstant) << c.text;
        EXPECT_EQ(op.listTexts, c.texts) << c.text;
        std::vector<std::string> values;
        for (const Variant& v : op.listValues)
            values.push_back(v.AsString());
        EXPECT_EQ(values, c.values) << c.text;
    }
    // Outside IN an unquoted bracket is no list.
    TROperandDef op;
    op.text = "(3)";
    op.Bind();
    EXPECT_FALSE(op.isList);
}

TEST(TROperandDef, ConstantKeepsItsFirstValue) {
    TROperandDef op;
    op.text = "'x'";
    op.Bind();
    EXPECT_EQ(op.Evaluate().AsString(), "x");
    op.text = "changed";
    EXPECT_EQ(op.Evaluate().AsString(), "x");
}

TEST(Helpers, LiteralShapes) {
    for (const char* t : {"0", "-5", "+5", "1.5", "5.", "1e5", "1E-5", "-2.5e+3", " 7 "})
        EXPECT_TRUE(IsWellFormedNumber(t)) << t;
    for (const char* t :
         {"", "-", ".5", "1.2.3", "1e", "1e+", "2*5", "1abc", "1 2", "0x10", "1e5.0"})
        EXPECT_FALSE(IsWellFormedNumber(t)) << t;
    for (const char* t : {"'a'", "\"a'b\"", " '' ", "'a+b'"})
        EXPECT_TRUE(IsSingleQuotedText(t)) << t;
    for (const char* t : {"'a'+'b'", "'a", "'", "'a\"", "a"})
        EXPECT_FALSE(IsSingleQuotedText(t)) << t;
    for (const char* t : {"2*5", "-5*2", "1+1", "'a'+'b'", "1 div 2", "5(1)"})
        EXPECT_TRUE(IsComputedLiteral(t)) << t;
    for (const char* t :
         {"-5", "1e-5", "'a+b'", "2024-01-31", "2024/1/31", "1abc", "size*2", "12:30"})
        EXPECT_FALSE(IsComputedLiteral(t)) << t;
    std::string name;
    EXPECT_EQ(FindAggregateCall("count(*)", name), 1);
    EXPECT_EQ(name, "count");
    EXPECT_EQ(FindAggregateCall("1+Max (size)", name), 3);
    EXPECT_EQ(name, "Max");
    for (const char* t : {"count", "count*2", "'sum(x)'", "recount(x)", "t.avg(x)", "minute(x)"})
        EXPECT_EQ(FindAggregateCall(t, name), 0) << t;
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
    EXPECT_TRUE(HasOperator("a+b"));
    EXPECT_TRUE(HasOperator("f(x)"));
    EXPECT_FALSE(HasOperator("'a+b'"));
    EXPECT_FALSE(HasOperator("a.b"));
    TDataType code = dtUnknown;
    EXPECT_TRUE(TypeCodeOf("datetime", code));
    EXPECT_EQ(code, 8);
    EXPECT_FALSE(TypeCodeOf("Integer", code));
    EXPECT_EQ(code, 8);
    std::vector<int> list{3, 1, 2};
    SortIntList(list, true);
    EXPECT_EQ(list, (std::vector<int>{3, 2, 1}));
}

// A stand-in expression component for texts "name*number".
class TimesBackend : public IExpressionBackend {
  public:
    void SetExpr(const std::string& text) override { text_ = text; }
    void SetGlobalDeclarations(const std::string& d) override { declarations = d; }
    std::string Compile() override {
        const size_t star = text_.find('*');
        if (star == std::string::npos) return "cannot compile " + text_;
        name_ = text_.substr(0, star);
        factor_ = std::stoll(text_.substr(star + 1));
        return {};
    }
    int GlobalCount() override { return 1; }
    std::string GlobalName(int) override { return name_; }
    void SetGlobal(int, const Variant& v) override { value_.Assign(v); }
    bool Evaluate(Variant& out) override {
        out.SetInteger(value_.AsInteger() * factor_);
        return true;
    }
    std::string Errors() override { return {}; }
    static inline std::string declarations;

  private:
    std::string text_, name_;
    int64_t factor_ = 1;
    Variant value_;
};

class ExpressionSeam : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = CurrentExpressionBackendFactory();
        SetExpressionBackendFactory([] { return std::make_unique<TimesBackend>(); });
    }
    void TearDown() override { SetExpressionBackendFactory(saved_); }
    ExpressionBackendFactory saved_;

    std::vector<std::string> Run(const std::string& sql, std::string* errors = nullptr) {
        TVeskEngineCustomer e;
        auto src = std::make_shared<FakeSource>();
        src->AddTable("u", Files({{"a", 1, false}, {"b", 2, false}, {"c", 3, false}}));
        src->AddTable("v", Files({{"x", 2, false}, {"y", 4, false}}));
        e.AddDataBase(src);
        e.SetSQL(sql);
        e.Parse();
        if (errors) *errors = e.GetErrorText();
        if (!e.GetErrorText().empty()) return {};
        e.Execute();
        return Rows(e.DataSet());
    }
};

TEST_F(ExpressionSeam, ExpressionsEvaluatePerRow) {
    EXPECT_EQ(Run("select filename, size*10 from u"),
              (std::vector<std::string>{"a|10", "b|20", "c|30"}));
    EXPECT_EQ(Run("select filename from u where size*2 > 3"), (std::vector<std::string>{"b", "c"}));
    // A join condition through an expression reads both tables.
    EXPECT_EQ(Run("select u.filename, v.filename from u, v where u.size*2 = v.size"),
              (std::vector<std::string>{"a|x", "b|y"}));
    EXPECT_NE(TimesBackend::declarations.find("u.size:integer;\r\n"), std::string::npos);
}

TEST_F(ExpressionSeam, WithoutAComponentAnExpressionIsAStatementError) {
    SetExpressionBackendFactory(nullptr);
    std::string errors;
    Run("select filename from u where size*2 > 3", &errors);
    EXPECT_EQ(errors, "暂不支持表达式：size*2\r\n");
    Run("select size*2 from u", &errors);
    EXPECT_EQ(errors, "暂不支持表达式：size*2\r\n");
}

TEST_F(ExpressionSeam, CompileErrorsAndAmbiguousNamesAreReported) {
    std::string errors;
    Run("select size+1 from u", &errors);
    EXPECT_EQ(errors, "表达式“size+1”：cannot compile size+1\r\n");
    Run("select size*2 from u, v", &errors);
    EXPECT_EQ(errors, "\"size\" 有歧义\r\n");
    Run("select size from u, v", &errors);  // a plain column takes the first table
    EXPECT_EQ(errors, "");
}

}  // namespace
}  // namespace corvane

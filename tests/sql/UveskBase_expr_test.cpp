// Computed expressions in statements: select items and WHERE operands
// compiled for the interpreter, their result columns and types, their
// values per row, their errors, and the ambiguity check.
#include <gtest/gtest.h>

#include "engine/UVeskEngine.h"
#include "platform/DateTime.h"
#include "support/Expect.h"
#include "tests/engine/FakeSource.h"

namespace corvane {
namespace {

using testing::FakeSource;
using testing::FakeTableData;
using testing::Files;
using testing::Header;
using testing::Rows;

double Date(int y, int m, int d, int h = 0, int n = 0) {
    TDateTime date, time;
    TryEncodeDate(y, m, d, date);
    TryEncodeTime(h, n, 0, 0, time);
    return date + time;
}

std::shared_ptr<FakeSource> Source() {
    auto src = std::make_shared<FakeSource>("Fake");
    src->AddTable("t", Files({{"a.txt", 10, false}, {"b.log", 204800, false}, {"sub", 0, true}}));
    src->AddTable("u", Files({{"a.txt", 7, false}, {"z.txt", 1, false}}));
    src->AddTable("x-y", Files({{"q", 5, false}}));
    FakeTableData dated{{"filename", "lastwritetime"}, {"string", "date"}, {}};
    dated.rows.push_back({Variant("old"), Variant::FromDate(Date(1999, 12, 31, 23, 59))});
    dated.rows.push_back({Variant("new"), Variant::FromDate(Date(2024, 3, 1, 8, 5))});
    src->AddTable("d", std::move(dated));
    return src;
}

struct Result {
    std::string errors;
    std::vector<std::string> header, rows;
};

class ExprSql : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = FormatSettings::Current();
        FormatSettings::SetCurrent(FormatSettings{});
    }
    void TearDown() override { FormatSettings::SetCurrent(saved_); }

    static Result Query(const std::string& sql) {
        TVeskEngineCustomer e;
        e.AddDataBase(Source());
        e.SetSQL(sql);
        e.Parse();
        Result r;
        r.errors = e.GetErrorText();
        if (!r.errors.empty()) return r;
        e.Execute();
        r.header = Header(e.DataSet());
        r.rows = Rows(e.DataSet());
        return r;
    }

    FormatSettings saved_;
};

TEST_F(ExprSql, ComputedItemsGetComptNamesTheirTypesAndTheirValues) {
    Result r = Query(
        "select filename, size*2+1, iff(isdir,'dir','file'), copy(filename,1,3), (size div 1024) "
        "from t");
    ASSERT_EQ(r.errors, "");
    // Output names are numbered from the last item to the first.
    // A type the expression is known to have names the column; iff gives
    // whatever its branches hold.
    EXPECT_EQ(r.header,
              (std::vector<std::string>{"filename:string", "compt_4:integer", "compt_3:any",
                                        "compt_2:string", "compt_1:double"}));
    EXPECT_EQ(r.rows, (std::vector<std::string>{"a.txt|21|file|a.t|0.009765625",
                                                "b.log|409601|file|b.l|200", "sub|1|dir|sub|0"}));
}

TEST_F(ExprSql, DateFunctionsOverADateColumn) {
    Result r = Query(
        "select filename, yearof(lastwritetime), formatdatetime('yyyy-mm-dd',lastwritetime) as "
        "day, "
        "dayoftheweek(lastwritetime) from d");
    ASSERT_EQ(r.errors, "");
    EXPECT_EQ(r.header, (std::vector<std::string>{"filename:string", "compt_2:integer",
                                                  "day:string", "compt_1:integer"}));
    EXPECT_EQ(r.rows, (std::vector<std::string>{"old|1999|1999-12-31|5", "new|2024|2024-03-01|5"}));
}

TEST_F(ExprSql, WhereOperandsAreExpressions) {
    struct Case {
        const char* where;
        std::vector<std::string> rows;
    } cases[] = {
        {"size div 1024 > 10", {"b.log"}},
        {"size*2 >= 20", {"a.txt", "b.log"}},
        {"size - 10 = 0", {"a.txt"}},
        // A word directly followed by a bracket is a call; a bracketed call
        // reads the same.
        {"copy(filename,1,1) = 'a'", {"a.txt"}},
        {"(copy(filename,1,1)) = 'a'", {"a.txt"}},
        {"length(filename) = 3 and size mod 2 = 0", {"sub"}},
        {"size between length(filename)*2 and 11", {"a.txt"}},
        {"(length(filename)) = 3 and size mod 2 = 0", {"sub"}},
        {"(iff(isdir, 1, 0)) = 1", {"sub"}},
        {"(upper_bound(size)) > 1", {}},  // does not compile: reported below
    };
    for (auto& c : cases) {
        Result r = Query(std::string("select filename from t where ") + c.where);
        if (c.rows.empty()) {
            EXPECT_EQ(r.errors, "不认识的函数“upper_bound”\r\n");
            continue;
        }
        EXPECT_EQ(r.errors, "") << c.where;
        EXPECT_EQ(r.rows, c.rows) << c.where;
    }
}

TEST_F(ExprSql, AWhereCallNeedsNoBrackets) {
    Result r = Query("select filename from d where yearof(lastwritetime) = 1999");
    EXPECT_EQ(r.errors, "");
    EXPECT_EQ(r.rows, std::vector<std::string>{"old"});
}

// A relation that cannot be computed for a row is unknown for it: with OR
// another true alternative still lets the row through.
TEST_F(ExprSql, AFailingWhereExpressionIsUnknown) {
    Result r = Query("select filename from t where size mod (size-size) = 0 or filename = 'sub'");
    EXPECT_EQ(r.errors, "");
    EXPECT_EQ(r.rows, std::vector<std::string>{"sub"});
}

TEST_F(ExprSql, ARunTimeErrorInASelectItemReachesTheCaller) {
    TVeskEngineCustomer e;
    e.AddDataBase(Source());
    e.SetSQL("select filename, size mod (size - size) as m from t");
    e.Parse();
    ASSERT_EQ(e.GetErrorText(), "");
    EXPECT_THROW_WITH_MESSAGE(e.Execute(), std::exception, "Division by zero");
}

TEST_F(ExprSql, CompileErrorsOfSelectItemsAreReported) {
    // An unknown name is named, once.
    Result r = Query("select filename, sise*2 from t");
    EXPECT_EQ(r.errors, "sise is unkonwn.\r\n");
}

TEST_F(ExprSql, QualifiedNamesAndTheAmbiguityMessage) {
    Result r =
        Query("select t.filename, size*2, u.size*10, size from t, u where t.filename = u.filename");
    EXPECT_EQ(r.errors, "\"size\" 有歧义\r\n");
    Result ok = Query(
        "select t.filename, t.size*2, u.size*10, size from t, u where t.filename = u.filename");
    ASSERT_EQ(ok.errors, "");
    EXPECT_EQ(ok.rows, std::vector<std::string>{"a.txt|20|70|10"});
    // Expressions over both tables see the values of the same combination.
    Result both = Query("select t.size+u.size from t, u where t.size > u.size");
    ASSERT_EQ(both.errors, "");
    EXPECT_EQ(both.rows.size(), 4u);
}

TEST_F(ExprSql, TablesNamedLikeNoScriptWordStillAllowExpressions) {
    Result r = Query("select size*2 from x-y");
    ASSERT_EQ(r.errors, "");
    EXPECT_EQ(r.rows, std::vector<std::string>{"10"});
}

TEST_F(ExprSql, TheExpressionRunsOncePerRowFromOneCompilation) {
    TVeskEngineCustomer e;
    e.AddDataBase(Source());
    e.SetSQL("select size*2+1 from t");
    e.Parse();
    ASSERT_EQ(e.GetErrorText(), "");
    e.Execute();
    e.Execute();  // the parsed statement runs again with the same program
    EXPECT_EQ(Rows(e.DataSet()), (std::vector<std::string>{"21", "409601", "1"}));
}

}  // namespace
}  // namespace corvane

namespace corvane {
namespace {

// An expression whose every evaluation runs longer than the interpreter's
// poll interval ends, when the query is cancelled, as a cancelled query.
TEST_F(ExprSql, ALongExpressionStopsWhenTheQueryIsCancelled) {
    struct Progress : IProgress {
        mutable int polls = 0;
        void Listed(long long) override {}
        bool Cancelled() const override { return ++polls > 5; }
    } progress;
    std::string sum = "a.size";
    for (int i = 0; i < 900; ++i)
        sum += "+b.size";
    TVeskEngineCustomer e;
    e.AddDataBase(Source());
    e.SetSQL("select (" + sum + ") from t a, t b, t c");
    e.Parse();
    ASSERT_EQ(e.GetErrorText(), "");
    e.SetProgress(&progress);
    EXPECT_THROW(e.Execute(), QueryCancelledError);
}

}  // namespace
}  // namespace corvane

// The list of statement messages: places as line and column, long
// statements quoted only around the place, and the bound on their number.
#include "sql/ErrorMng.h"

#include <gtest/gtest.h>

#include "sql/SqlMessages.h"

namespace corvane {
namespace {

TEST(TmyErrorMng, PlacesAreLineAndColumn) {
    TmyErrorMng m;
    const std::string sql = "select a\nfrom t\nwhere x >";
    m.Add("first", 1);
    m.Add("second", 23);
    m.Add("nowhere");
    EXPECT_EQ(m.TextWithPlaces(sql), "first（第1行第1列）\nsecond（第3行第7列）\nnowhere\n");
    EXPECT_EQ(m.Text(), "first\r\nsecond\r\nnowhere\r\n");
    SetMessageLanguage(TMessageLanguage::English);
    EXPECT_EQ(m.TextWithPlaces(sql),
              "first (line 1, column 1)\nsecond (line 3, column 7)\nnowhere\n");
    SetMessageLanguage(TMessageLanguage::Chinese);
}

TEST(TmyErrorMng, ALongStatementIsQuotedAroundThePlaceOnly) {
    std::string sql = "select a from t where ";
    for (int i = 0; i < 100000; ++i)
        sql += "(";
    sql += "是";
    TmyErrorMng m;
    m.Add("too deep", static_cast<int>(sql.size()) - 2);
    const std::string text = m.TextWithPlaces(sql);
    EXPECT_LT(text.size(), 200u);
    EXPECT_NE(text.find("，附近：…((((("), std::string::npos) << text;
    EXPECT_NE(text.find("是\n"), std::string::npos) << text;  // a whole character
}

TEST(TmyErrorMng, TheNumberOfMessagesIsBounded) {
    TmyErrorMng m;
    for (int i = 0; i < 100000; ++i)
        m.Add("x is unkonwn.", i + 1);
    EXPECT_EQ(m.Count(), kMaxMessages);
    EXPECT_EQ(m.More(), 100000 - kMaxMessages);
    const std::string text = m.Text();
    EXPECT_NE(text.find("……还有99900条消息\r\n"), std::string::npos);
    m.Clear();
    EXPECT_EQ(m.Text(), "");
}

}  // namespace
}  // namespace corvane

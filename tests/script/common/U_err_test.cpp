// Rendering of diagnostics: the build driver and the user see exactly these
// lines.
#include "script/common/U_err.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

TEST(TErrorList, RendersNameLineAndText) {
    TErrorList e("Compile");
    EXPECT_TRUE(e.Render().empty());
    EXPECT_EQ(e.Text(), "");
    e.Add(12, FormatMsg(msg::Expected, ";"));
    e.Add(7, std::string(msg::TypeMismatch));
    e.Add(7, std::string(msg::TypeMismatch));  // repeats are kept
    const std::vector<std::string> want = {
        "Compile: line 12:期待“;”出现。",
        "Compile: line 7:类型不兼容。",
        "Compile: line 7:类型不兼容。",
    };
    EXPECT_EQ(e.Render(), want);
    EXPECT_EQ(e.Text(), want[0] + "\n" + want[1] + "\n" + want[2] + "\n");
}

TEST(FormatMsg, FillsTheOnePlaceholder) {
    EXPECT_EQ(FormatMsg(msg::IffOption, 2), "“iff”的第2个选项应该是一个表达式。");
    EXPECT_EQ(FormatMsg(msg::NotDeclared, "函数"), "“函数”没有被声明。");
    EXPECT_EQ("abc" + std::string(msg::NotInteger), "abc不是有效的整数。");
    EXPECT_EQ(FormatMsg(msg::WrongStatement, "x"), "错误的语句。");
}

}  // namespace
}  // namespace corvane

// The compiler's lists: misuse raises the fixed texts and leaves the list
// unchanged; the FIFO keeps push order across growth.
#include "script/common/base_inf.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/Expect.h"

namespace corvane {
namespace {

// The text of the script error f raises, or "(no error)".
template <typename F>
std::string ErrorOf(F f) {
    return testing::ErrorOf<EScriptError>(f);
}

std::unique_ptr<TClassDefInf> Func(const char* name) {
    auto f = std::make_unique<TClassDefInf>();
    f->Name = name;
    return f;
}

TEST(TFuncDefList, AddKeepsTheFirstOfOneName) {
    TFuncDefList l;
    EXPECT_EQ(l.Add(Func("initialization")), 0);
    EXPECT_EQ(l.Add(Func("f")), 1);
    EXPECT_EQ(l.Add(Func("f")), 1);  // the existing position, nothing added
    EXPECT_EQ(l.Count(), 2);
    EXPECT_EQ(l.Append(Func("f")), 2);  // readers keep positions as stored
    EXPECT_EQ(l.IndexOf("f"), 1);
    EXPECT_EQ(l.IndexOf("F"), -1);
    EXPECT_EQ(ErrorOf([&] { l.Get(3); }), "Bounds is exceeded!");
    EXPECT_EQ(ErrorOf([&] { l.Get(-1); }), "Bounds is exceeded!");
    EXPECT_EQ(l.Get(0).AssignedType, dtUnknown);  // a new record: never assigned
    l.Clear();
    EXPECT_EQ(l.Count(), 0);
}

TEST(TstringStack, FifoAcrossGrowth) {
    TstringStack q;
    EXPECT_EQ(ErrorOf([&] { q.Pop(); }), "栈为空。");
    // Move the read position into the ring first, so the growth has to
    // splice between write and read position.
    for (int i = 0; i < 30; ++i)
        q.Push("x");
    for (int i = 0; i < 30; ++i)
        q.Pop();
    for (int i = 0; i < 51; ++i)
        q.Push(std::to_string(i));
    EXPECT_EQ(q.Capacity(), 100);  // grown once
    EXPECT_EQ(q.Count(), 51);
    for (int i = 0; i < 51; ++i)
        EXPECT_EQ(q.Pop(), std::to_string(i));
    EXPECT_EQ(ErrorOf([&] { q.Pop(); }), "栈为空。");
    EXPECT_EQ(q.Count(), 0);
}

TEST(TusedFileList, NumbersFromOneAndAtMostOneHundred) {
    TusedFileList u;
    EXPECT_EQ(u.Add("a"), 1);
    EXPECT_EQ(ErrorOf([&] { u.Add("a"); }), "文件“a”重复声明。");
    for (int i = 2; i <= 100; ++i)
        EXPECT_EQ(u.Add("u" + std::to_string(i)), i);
    EXPECT_EQ(ErrorOf([&] { u.Add("more"); }), "引用文件太多。");
    EXPECT_EQ(u.Count(), 100);
    EXPECT_EQ(u.IndexOf("u100"), 100);
    EXPECT_EQ(u.IndexOf("more"), -1);
    EXPECT_EQ(u.Get(1), "a");
    EXPECT_EQ(ErrorOf([&] { u.Get(0); }), "范围越界。");
    EXPECT_EQ(ErrorOf([&] { u.Get(101); }), "范围越界。");
}

TEST(TvarList, ViewOverDefinitions) {
    TvarDeflist defs;
    compiler::TvarList v(&defs);
    EXPECT_EQ(v.Add({"a", dtInteger, "", 0, 1}), 0);
    EXPECT_EQ(v.Add({"b", dtString, "", 0, 5}), 1);
    EXPECT_EQ(ErrorOf([&] { v.Add({"a", dtWord, "", 0, 1}); }), "变量“a”重复声明。");
    EXPECT_EQ(defs.size(), 2u);
    EXPECT_EQ(v.IndexOf("b"), 1);
    EXPECT_EQ(v.IndexOf("c"), -1);
    EXPECT_EQ(v.Get(1).Size, 5);
    EXPECT_EQ(ErrorOf([&] { v.Get(2); }), "范围越界。");
    EXPECT_EQ(compiler::TvarList().IndexOf("a"), -1);
}

TEST(Tconstclass, AddFindValueAndTheCut) {
    Tconstlist list;
    Tconstclass c(&list);
    EXPECT_EQ(c.IndexOf("x"), -1);  // empty list
    EXPECT_EQ(c.Add("s", "'Ab'"), 0);
    EXPECT_EQ(c.Add("s", "'Cd'"), -1);
    EXPECT_EQ(c.ValueOf(0), "'Ab'");
    EXPECT_EQ(c.ValueOf(-1), "");
    EXPECT_EQ(c.ValueOf(7), "");
    const std::string long300(300, 'v');
    EXPECT_EQ(c.Add("l", long300), 1);
    EXPECT_EQ(c.ValueOf(1), std::string(255, 'v'));
    // A cut never splits a UTF-8 character: 254 ASCII bytes and a
    // three-byte character keep 254 bytes.
    EXPECT_EQ(CutConstText(std::string(254, 'a') + "\xe4\xb8\xad" + "b"), std::string(254, 'a'));
}

}  // namespace
}  // namespace corvane

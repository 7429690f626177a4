// The file built-ins as scripts call them: the one-text and two-text forms
// (an optional last parameter), the empty text for whatever cannot be read,
// and calls that do not fit the heads refused by the compiler.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/FileContent.h"
#include "script/common/U_err.h"
#include "script/runtime/u_base_funcs.h"
#include "script/runtime/u_expr.h"
#include "support/Expect.h"
#include "tests/support/TempTree.h"

namespace corvane {
namespace {

using testing::TempTree;

// The value of expr, with "$" replaced by the fixture's directory.
class ContentBuiltins : public ::testing::Test {
  protected:
    Variant Eval(std::string expr) {
        for (size_t at; (at = expr.find('$')) != std::string::npos;)
            expr.replace(at, 1, tree_.Root());
        TXExpression e;
        e.SetExpr(expr);
        Variant r;
        EXPECT_TRUE(e.Evaluate(r)) << expr << ": " << e.ErrorText();
        return r;
    }
    std::string CompileErrors(const std::string& expr) {
        TXExpression e;
        e.SetExpr(expr);
        return e.Compile();
    }
    TempTree tree_;
};

TEST_F(ContentBuiltins, OneTextAndTwoTextFormsAgree) {
    tree_.File("abc.txt", "abc");
    tree_.File("two", "one\ntwo");
    ASSERT_EQ(::chmod(tree_.Path("two").c_str(), 0640), 0);
    ASSERT_EQ(::symlink("nowhere", tree_.Path("dangling").c_str()), 0);
    struct Case {
        const char* expr;
        const char* text;
    } cases[] = {
        {"md5('$/abc.txt')", "900150983cd24fb0d6963f7d28e17f72"},
        {"md5('$', 'abc.txt')", "900150983cd24fb0d6963f7d28e17f72"},
        {"md5('$/', 'abc.txt')", "900150983cd24fb0d6963f7d28e17f72"},
        {"sha1('$', 'abc.txt')", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {"sha256('$/abc.txt')", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"xxh128('$', 'abc.txt')", "06b05ab6733a618578af5f94892f3950"},
        {"contains('$/two', 'ne')", "True"},
        {"contains('$/two', 'one two')", "False"},
        {"contains('$', 'two', 'two')", "True"},
        {"contains('$', 'two', 'three')", "False"},
        {"contains('$', 'two', '')", "True"},  // the empty text is given: three texts
        {"contains_regexp('$/two', '^tw')", "True"},
        {"contains_regexp('$', 'two', '^one\\z')", "True"},   // no "$": Eval's stand-in
        {"contains_regexp('$', 'two', 'one.two')", "False"},  // line by line
        {"contains_regexp('$/abc.txt', '(?i)^ABC\\z')", "True"},
        {"contains_regexp('$/abc.txt', 'abd')", "False"},
        {"linecount('$/two')", "2"},
        {"linecount('$', 'abc.txt')", "1"},
        {"head('$/two', 3)", "one"},
        {"head('$', 'two', 5)", "one\nt"},
        {"head('$', 'two', 0)", ""},
        {"mode('$', 'two')", "0640"},
        {"mode('$/abc.txt')", "0644"},
        {"linktarget('$', 'dangling')", "nowhere"},
        {"linktarget('$/abc.txt')", ""},
        {"mimetype('$', 'two')", "text/plain"},
        {"fullname('/a/b/', 'c')", "/a/b/c"},
        {"fullname('/a/b', 'c')", "/a/b/c"},
        // Whatever cannot be read is the empty text, never an error.
        {"md5('$/missing')", ""},
        {"sha512('$', 'dangling')", ""},
        {"xxh128('$')", ""},
        {"contains('$/missing', 'x')", ""},
        {"contains_regexp('$/missing', 'x')", ""},
        {"contains_regexp('$', 'dangling', 'x')", ""},
        {"linecount('$', 'missing')", ""},
        {"head('$/missing', 4)", ""},
        {"owner('$/missing')", ""},
        {"groupname('$/missing')", ""},
        {"mode('$/missing')", ""},
        {"inode('$/missing')", ""},
        {"linkcount('$/missing')", ""},
        {"mimetype('$', 'dangling')", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Eval(c.expr).AsString(), c.text) << c.expr;
    struct stat st {};
    ASSERT_EQ(::lstat(tree_.Path("two").c_str(), &st), 0);
    EXPECT_EQ(Eval("inode('$', 'two')").AsInteger(), static_cast<int64_t>(st.st_ino));
    EXPECT_EQ(Eval("linkcount('$/two')").AsInteger(), 1);
    EXPECT_EQ(Eval("owner('$', 'two')").AsString(), UserName(::getuid()));
    EXPECT_EQ(Eval("groupname('$/two')").AsString(), GroupName(::getgid()));
}

// A pattern RE2 refuses is a run-time error as in regexp_like, whether or
// not the file can be read: a wrong pattern must not pass for "no match".
TEST_F(ContentBuiltins, ARefusedPatternIsAnErrorAsInRegexpLike) {
    tree_.File("f", "abc");
    for (const char* expr : {"contains_regexp('$/f', 'a**')", "contains_regexp('$', 'f', 'a**')",
                             "contains_regexp('$/missing', 'a**')"}) {
        std::string e = expr;
        e.replace(e.find('$'), 1, tree_.Root());
        TXExpression x;
        x.SetExpr(e);
        Variant r;
        EXPECT_THROW_WITH_MESSAGE(x.Evaluate(r), EScriptError,
                                  "无效的正则表达式“a**”：bad repetition operator: **");
    }
}

TEST_F(ContentBuiltins, CallsThatDoNotFitTheHeadAreRefused) {
    EXPECT_EQ(CompileErrors("md5('a')"), "");
    EXPECT_EQ(CompileErrors("md5('a', 'b')"), "");
    EXPECT_NE(CompileErrors("md5('a', 'b', 'c')"), "");
    EXPECT_NE(CompileErrors("md5()"), "");
    EXPECT_NE(CompileErrors("contains('a')"), "");  // the text is needed
    EXPECT_NE(CompileErrors("contains_regexp('a')"), "");
    EXPECT_NE(CompileErrors("fullname('a')"), "");  // both texts are needed
    EXPECT_NE(CompileErrors("head('a')"), "");
}

TEST_F(ContentBuiltins, OnlyContentReadersAreMarkedForThePlanner) {
    auto reads = [](const std::string& expr) {
        TXExpression e;
        e.SetExpr(expr);
        EXPECT_EQ(e.Compile(), "") << expr;
        return e.ReadsFileContents();
    };
    EXPECT_TRUE(reads("sha256('a', 'b') = 'x'"));
    EXPECT_TRUE(reads("length(head('a', 3))"));
    EXPECT_TRUE(reads("iff(true, mimetype('a'), '')"));
    EXPECT_TRUE(reads("contains_regexp('a', 'b', 'c') = true"));
    EXPECT_FALSE(reads("owner('a') + mode('a') + fullname('a', 'b')"));
    EXPECT_FALSE(reads("length('abc')"));
}

TEST_F(ContentBuiltins, HeadsAreAppendedAfterTheClassicLibrary) {
    auto registry = TbaseFunctions::Acquire();
    const char* names[] = {"md5",      "sha1",           "sha256",    "sha512",     "xxh128",
                           "contains", "linecount",      "head",      "owner",      "groupname",
                           "mode",     "inode",          "linkcount", "linktarget", "mimetype",
                           "fullname", "contains_regexp"};
    const int first = registry->Find("md5");
    ASSERT_EQ(first, registry->Find("regexp_replace") + 1);
    for (int k = 0; k < 17; ++k)
        EXPECT_EQ(registry->Find(names[k]), first + k) << names[k];
}

}  // namespace
}  // namespace corvane

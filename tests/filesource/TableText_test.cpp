// The table text: parsing, formatting, the round trip, and the directory a
// path names, as a Linux user types it.
#include "filesource/TableText.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/TempTree.h"
#include "tests/filesource/TableTextFixture.h"

namespace corvane {
namespace {

using testing::TempTree;

// ---------------------------------------------------------------------------
// Table text

TEST(ParseDirOption, TooShortFailsAndLeavesTheRecordAlone) {
    for (const char* text : {"", "a", "/"}) {
        TFileDirOption o;
        o.path = "keep";
        o.attrMask = 7;
        EXPECT_FALSE(ParseDirOption(text, o)) << text;
        EXPECT_EQ(o.path, "keep");
        EXPECT_EQ(o.attrMask, 7u);
    }
}

TEST(ParseDirOption, PathFilterAndOptions) {
    struct Case {
        const char* text;
        const char* path;
        const char* mask;
        uint32_t attr;
        bool sub;
    } cases[] = {
        {"'/data'", "/data", "", 58, false},
        {"\"/data/* /s\"", "/data/", "*", 58, true},  // the blank belongs to the separator
        {"'/home/me/docs/*.log /s/ar'", "/home/me/docs/", "*.log", 59, true},
        {"/data/x/y", "/data/x/y", "", 58, false},  // "/" alone separates directories
        {"/data/", "/data/", "", 58, false},
        {"/data/v1.2", "/data/", "v1.2", 58, false},  // "." and no such directory: a filter
        {"/data/a?c", "/data/", "a?c", 58, false},
        {"*.txt", "", "*.txt", 58, false},
        {"\"\"", "", "", 58, false},
        {"'/data\"", "'/data\"", "", 58, false},  // quotes must pair to be removed
        {"'/home/bob/Bob's files/*.txt /s'", "/home/bob/Bob's files/", "*.txt", 58, true},
        {"'/data/my docs/*.txt'", "/data/my docs/", "*.txt", 58, false},
        {"/da\\ta\\x", "/da\\ta\\x", "", 58, false},  // "\" is an ordinary character
        {"/data  /s", "/data ", "", 58, true},        // first blank followed by "/"
        {"/data/x /y/z", "/data/x", "", 58, false},   // y and z select nothing
        {"/data /all", "/data", "", 63, false},
        {"/data /none", "/data", "", 0, false},
        {"/data /none/ad", "/data", "", 16, false},
        {"/data /AR", "/data", "", 59, false},        // options are lower-cased
        {"/data /s /ar /as", "/data", "", 63, true},  // tokens are trimmed
        {"/data /a-d", "/data", "", 42, false},
        {"/data /a-h/a-a", "/data", "", 24, false},
        {"/data /xr", "/data", "", 59, false},  // the first character is dropped, whatever it is
        {"/data /-r", "/data", "", 59, false},
        {"/data /a-", "/data", "", 58, false},
        {"/data /az", "/data", "", 58, false},
        {"/data /x", "/data", "", 58, false},
        {"/data //s/", "/data", "", 58, true},   // empty tokens change nothing
        {"/data /sub", "/data", "", 58, false},  // "u" selects nothing
        {"/data /ss", "/data", "", 62, false},   // "s" of "ss" is the system bit
        {"/data /all/a-r", "/data", "", 62, false},
    };
    for (auto& c : cases) {
        TFileDirOption o;
        ASSERT_TRUE(ParseDirOption(c.text, o)) << c.text;
        EXPECT_EQ(o.path, c.path) << c.text;
        EXPECT_EQ(o.nameMask, c.mask) << c.text;
        EXPECT_EQ(o.attrMask, c.attr) << c.text;
        EXPECT_EQ(o.subDirs, c.sub) << c.text;
    }
}

TFileDirOption Opt(uint32_t attr, bool sub, const char* path, const char* mask) {
    TFileDirOption o;
    o.attrMask = attr;
    o.subDirs = sub;
    o.path = path;
    o.nameMask = mask;
    return o;
}

TEST(FormatDirOption, WritesPathFilterAndOptionsInDoubleQuotes) {
    struct Case {
        TFileDirOption o;
        const char* text;
    } cases[] = {
        {Opt(58, false, "/data", ""), "\"/data /ah/ad\""},
        {Opt(59, true, "/data/", "*.txt"), "\"/data/*.txt /s/ar/ah/ad\""},
        {Opt(63, false, "/data", "*"), "\"/data/* /all\""},
        {Opt(63, true, "/", ""), "\"/ /s/all\""},
        {Opt(62, false, "/data", "*.c"), "\"/data/*.c /ah/ad/as\""},
        {Opt(58, false, "", "*.txt"), "\"*.txt /ah/ad\""},
        {Opt(58, false, "/data/v1.2", ""), "\"/data/v1.2/. /ah/ad\""},  // else read as a filter
        {Opt(56, false, "/data", ""), "\"/data /ad/a-h\""},
        {Opt(42, false, "/data", ""), "\"/data /ah/a-d\""},
        {Opt(16, false, "/data", ""), "\"/data /ad/a-h\""},  // the dialog's "directory" alone
        {Opt(0, false, "/data", ""), "\"/data /a-h/a-d\""},
    };
    for (auto& c : cases)
        EXPECT_EQ(FormatDirOption(c.o), c.text) << c.text;
}

TEST(FormatDirOption, ParsedRecordsSurviveTheRoundTrip) {
    const char* texts[] = {
        "'/data'",
        "'/data/'",
        "\"/data/* /s\"",
        "'/home/me/docs/*.log /s/ar'",
        "'/data/v1.2'",
        "'/data/v1.2/'",
        "'*.txt /s'",
        "\"\"",
        "'/home/bob/Bob''s files/*.txt /s/all'",
        "'/data/中文 目录/*.txt /as'",
        "'/data/trailing  '",
        "'/data/trailing  /s'",
        "'/data/\"quoted\"/x'",
        "'\"/data\"'",
        "'/data /a-h'",
        "'/data /a-d/as/ar'",
        "'/data /all/a-r'",
        "'/da\\ta\\*.t?t /s/ah'",
    };
    for (const char* text : texts) {
        TFileDirOption first, second;
        ASSERT_TRUE(ParseDirOption(text, first)) << text;
        std::string formatted = FormatDirOption(first);
        ASSERT_TRUE(ParseDirOption(formatted, second)) << formatted;
        EXPECT_EQ(first, second) << text << " -> " << formatted;
    }
}

// ---------------------------------------------------------------------------
// Table texts as a Linux user types them: ".", "..", "~", dotted directories

TEST_F(TableTexts, LastComponentIsADirectoryOrAFilter) {
    struct Case {
        std::string location, path, mask;
    } cases[] = {
        {".", ".", ""},
        {"..", "..", ""},
        {"./x", "./x", ""},
        {"../x", "../x", ""},
        {"/etc/.", "/etc/.", ""},
        {"/.", "/.", ""},
        {"x/..", "x/..", ""},
        {"~", "~", ""},  // the record keeps what was typed; loading resolves it
        {"~/x", "~/x", ""},
        {"~/proj.git", "~/proj.git", ""},  // dotted, found below HOME
        {"~/gone.git", "~/", "gone.git"},
        {"proj.git", "proj.git", ""},  // relative: found below the base directory
        {"./proj.git", "./proj.git", ""},
        {"gone.git", "", "gone.git"},
        {R() + "/proj.git", R() + "/proj.git", ""},  // a dotted existing directory
        {R() + "/gone.git", R() + "/", "gone.git"},  // the same name when it does not exist
        {R() + "/a.txt", R() + "/", "a.txt"},        // a file is no directory
        {R() + "/proj.gi?", R() + "/", "proj.gi?"},  // a wildcard is always a filter
        {R() + "/pro*", R() + "/", "pro*"},
        {R() + "/proj.git/*.c", R() + "/proj.git/", "*.c"},
        {R() + "/proj.git/", R() + "/proj.git/", ""},
        {R() + "/proj.git/inner", R() + "/proj.git/inner", ""},
        {R() + "/gone.git/.", R() + "/gone.git", ""},  // the marker, whatever the disk holds
        {R() + "/proj.git/.", R() + "/proj.git", ""},
        {R() + "/plain/.", R() + "/plain/.", ""},  // no marker needed: "." stays
        {R() + "/gone.git/./.", R() + "/gone.git/.", ""},
    };
    const struct {
        const char* text;
        bool sub;
        uint32_t attr;
    } options[] = {{"", false, 58}, {" /s", true, 58}, {" /all", false, 63}};
    for (const Case& c : cases)
        for (const auto& o : options) {
            const std::string text = "'" + c.location + o.text + "'";
            TFileDirOption first;
            ASSERT_TRUE(ParseDirOption(text, first, R())) << text;
            EXPECT_EQ(first.path, c.path) << text;
            EXPECT_EQ(first.nameMask, c.mask) << text;
            EXPECT_EQ(first.subDirs, o.sub) << text;
            EXPECT_EQ(first.attrMask, o.attr) << text;
            // The round trip: the formatted text means the same record.
            const std::string formatted = FormatDirOption(first);
            TFileDirOption second;
            ASSERT_TRUE(ParseDirOption(formatted, second, R())) << formatted;
            EXPECT_EQ(second, first) << text << " -> " << formatted;
        }
}

TEST_F(TableTexts, TrailingBlanksFollowTheLoadingRule) {
    // "proj.git  /s" leaves the path "proj.git " (one blank): loading would
    // find proj.git, so it is that directory.
    TFileDirOption o;
    ASSERT_TRUE(ParseDirOption("'" + R() + "/proj.git  /s'", o));
    EXPECT_EQ(o.path, R() + "/proj.git ");
    EXPECT_EQ(o.nameMask, "");
    // Such a path cannot take the marker (its blank would start the
    // options): it is written as it is and still parses back.
    for (const std::string& text :
         {"'" + R() + "/proj.git  /s'", std::string("'..  '"), "'" + R() + "/plain/..  /all'"}) {
        TFileDirOption first, second;
        ASSERT_TRUE(ParseDirOption(text, first)) << text;
        EXPECT_EQ(first.nameMask, "") << text;
        const std::string formatted = FormatDirOption(first);
        ASSERT_TRUE(ParseDirOption(formatted, second)) << formatted;
        EXPECT_EQ(second, first) << text << " -> " << formatted;
    }
}

TEST(FormatDirOption, DottedDirectoriesRoundTripWhateverTheDiskHolds) {
    struct Case {
        TFileDirOption o;
        const char* text;
    } cases[] = {
        {Opt(58, false, "/nowhere/v1.2", ""), "\"/nowhere/v1.2/. /ah/ad\""},
        {Opt(58, true, "/nowhere/v1.2/.", ""), "\"/nowhere/v1.2/./. /s/ah/ad\""},
        {Opt(63, false, "/nowhere/v1.2/./.", ""), "\"/nowhere/v1.2/././. /all\""},
        {Opt(63, false, ".hidden", ""), "\".hidden/. /all\""},
        {Opt(63, false, "~/.config", ""), "\"~/.config/. /all\""},
        {Opt(63, false, "/data/*", ""), "\"/data/*/. /all\""},  // a directory named "*"
        {Opt(63, false, "/data/a?", ""), "\"/data/a?/. /all\""},
        {Opt(63, false, ".", ""), "\". /all\""},
        {Opt(63, false, "..", ""), "\".. /all\""},
        {Opt(63, false, "/etc/.", ""), "\"/etc/. /all\""},
        {Opt(63, false, "/.", ""), "\"/. /all\""},
        {Opt(63, false, "~", ""), "\"~ /all\""},
        {Opt(63, false, "x/..", ""), "\"x/.. /all\""},
        {Opt(63, false, "/nowhere/v1.2/", "*.txt"), "\"/nowhere/v1.2/*.txt /all\""},
    };
    for (auto& c : cases) {
        const std::string text = FormatDirOption(c.o);
        EXPECT_EQ(text, c.text);
        TFileDirOption back;
        ASSERT_TRUE(ParseDirOption(text, back)) << text;
        EXPECT_EQ(back, c.o) << text;
    }
}

// ---------------------------------------------------------------------------
// Listing controls: named options, apart or together, and the round trip

// The record a case expects: the default one for "/data" with changes.
TFileDirOption Data(const std::function<void(TFileDirOption&)>& change = {}) {
    TFileDirOption o;
    o.path = "/data";
    if (change) change(o);
    return o;
}

TEST(ParseDirOption, NamedOptionsApartOrTogether) {
    using O = TFileDirOption;
    struct Case {
        const char* text;
        TFileDirOption expected;
    } cases[] = {
        {"/data /maxdepth:2", Data([](O& o) { o.maxDepth = 2; })},
        {"/data /MaxDepth:0", Data([](O& o) { o.maxDepth = 0; })},
        {"/data /maxdepth:99999999999", Data([](O& o) { o.maxDepth = UINT32_MAX; })},
        {"/data /mindepth:3", Data([](O& o) { o.minDepth = 3; })},
        {"/data /xdev", Data([](O& o) { o.oneFileSystem = true; })},
        {"/data /gitignore", Data([](O& o) { o.gitIgnore = true; })},
        {"/data /follow", Data([](O& o) { o.followLinks = true; })},
        {"/data /archive", Data([](O& o) { o.archives = true; })},  // not "/ar"
        {"/data /exclude:**/node_modules", Data([](O& o) { o.excludes = {"**/node_modules"}; })},
        // A value keeps its letter case and runs to the next blank, "/" and all.
        {"/data /exclude:Build/ /s", Data([](O& o) {
             o.excludes = {"Build/"};
             o.subDirs = true;
         })},
        {"/data /exclude:a/s/ar", Data([](O& o) { o.excludes = {"a/s/ar"}; })},
        {"/data /exclude:*.o /exclude:.git /exclude:*.o", Data([](O& o) {
             o.excludes = {"*.o", ".git", "*.o"};
         })},
        // Together as before, apart with blanks, or mixed.
        {"/data /s/ar/xdev/follow", Data([](O& o) {
             o.subDirs = true;
             o.attrMask = 59;
             o.oneFileSystem = true;
             o.followLinks = true;
         })},
        {"/data /s /maxdepth:2 /exclude:**/node_modules /gitignore", Data([](O& o) {
             o.subDirs = true;
             o.maxDepth = 2;
             o.excludes = {"**/node_modules"};
             o.gitIgnore = true;
         })},
        {"/data/*.c /all /xdev /mindepth:2/ar", Data([](O& o) {
             o.path = "/data/";
             o.nameMask = "*.c";
             o.attrMask = 63;
             o.oneFileSystem = true;  // "2/ar" is not a number: the depth is dropped
         })},
        {"/data /s\t/xdev", Data([](O& o) {
             o.subDirs = true;
             o.oneFileSystem = true;
         })},
    };
    for (auto& c : cases) {
        TFileDirOption o;
        ASSERT_TRUE(ParseDirOption(c.text, o)) << c.text;
        EXPECT_EQ(o, c.expected) << c.text;
    }
}

TEST(ParseDirOption, RecursionFromDepthLimits) {
    struct Case {
        const char* text;
        bool recursive;
    } cases[] = {
        {"/data", false},
        {"/data /s", true},
        {"/data /maxdepth:1", true},
        {"/data /maxdepth:0", true},
        {"/data /mindepth:1", false},
        {"/data /mindepth:2", true},
        {"/data /xdev/follow", false},
    };
    for (auto& c : cases) {
        TFileDirOption o;
        ASSERT_TRUE(ParseDirOption(c.text, o)) << c.text;
        EXPECT_EQ(o.Recursive(), c.recursive) << c.text;
    }
}

TEST(ParseDirOption, NamesTheTokensItCouldNotTakeAsWritten) {
    using K = TDirOptionIssue::Kind;
    struct Case {
        const char* text;
        uint32_t attr;  // the attribute rule still applies to unknown tokens
        std::vector<TDirOptionIssue> issues;
    } cases[] = {
        {"/data /s/ar/a-h/xd/-r", 57, {}},
        {"/data /maxdept:2", 58, {{K::Unknown, "maxdept:2"}}},  // "a": archive, as always
        {"/data /MaxDept:2", 58, {{K::Unknown, "MaxDept:2"}}},
        {"/data /sub", 58, {{K::Unknown, "sub"}}},
        {"/data /x", 58, {{K::Unknown, "x"}}},
        {"/data /a-", 58, {{K::Unknown, "a-"}}},
        {"/data /az", 58, {{K::Unknown, "az"}}},
        {"/data /ars", 59, {{K::Unknown, "ars"}}},
        {"/data /gitignor", 58, {{K::Unknown, "gitignor"}}},  // "i" selects nothing
        {"/data /hr /xdevs", 59, {{K::Unknown, "xdevs"}}},    // "d": the directory bit
        {"/data /maxdepth", 58, {{K::BadValue, "maxdepth"}}},
        {"/data /maxdepth:", 58, {{K::BadValue, "maxdepth:"}}},
        {"/data /mindepth:-1", 58, {{K::BadValue, "mindepth:-1"}}},
        {"/data /maxdepth:2/s", 58, {{K::BadValue, "maxdepth:2/s"}}},
        {"/data /exclude: /s", 58, {{K::BadValue, "exclude:"}}},
        {"/data /exclude", 58, {{K::BadValue, "exclude"}}},
        {"/data //s/ /", 58, {}},  // empty tokens say nothing
    };
    for (auto& c : cases) {
        TFileDirOption o;
        std::vector<TDirOptionIssue> issues;
        ASSERT_TRUE(ParseDirOption(c.text, o, {}, &issues)) << c.text;
        EXPECT_EQ(o.attrMask, c.attr) << c.text;
        EXPECT_EQ(issues, c.issues) << c.text;
    }
}

TEST(FormatDirOption, WritesTheListingControls) {
    using O = TFileDirOption;
    struct Case {
        TFileDirOption o;
        const char* text;
    } cases[] = {
        {Data([](O& o) { o.maxDepth = 2; }), "\"/data /ah/ad /maxdepth:2\""},
        {Data([](O& o) { o.maxDepth = 0; }), "\"/data /ah/ad /maxdepth:0\""},
        {Data([](O& o) { o.minDepth = 2; }), "\"/data /ah/ad /mindepth:2\""},
        {Data([](O& o) {
             o.subDirs = true;
             o.attrMask = 63;
             o.oneFileSystem = true;
             o.excludes = {"**/node_modules", "*.o"};
             o.gitIgnore = true;
             o.followLinks = true;
             o.archives = true;
         }),
         "\"/data /s/all /xdev /exclude:**/node_modules /exclude:*.o /gitignore /follow "
         "/archive\""},
        // A pattern that would end at a blank cannot be written.
        {Data([](O& o) {
             o.excludes = {"my docs", "", "b"};
         }),
         "\"/data /ah/ad /exclude:b\""},
    };
    for (auto& c : cases)
        EXPECT_EQ(FormatDirOption(c.o), c.text) << c.text;
    EXPECT_TRUE(IsWritableExclude("**/x/"));
    EXPECT_FALSE(IsWritableExclude("a b"));
    EXPECT_FALSE(IsWritableExclude(""));
}

TEST(FormatDirOption, EveryListingControlAndCombinationRoundTrips) {
    // Each control alone, then every combination of the seven (2^7 records
    // over two locations): what is formatted parses back to the same record.
    using Change = std::function<void(TFileDirOption&)>;
    const std::vector<Change> controls = {
        [](TFileDirOption& o) { o.maxDepth = 3; },
        [](TFileDirOption& o) { o.minDepth = 2; },
        [](TFileDirOption& o) { o.oneFileSystem = true; },
        [](TFileDirOption& o) {
            o.excludes = {"**/node_modules", "*.tmp", "build/", "a/b/*.o"};
        },
        [](TFileDirOption& o) { o.gitIgnore = true; },
        [](TFileDirOption& o) { o.followLinks = true; },
        [](TFileDirOption& o) { o.archives = true; },
    };
    for (const char* location : {"/srv/my data/*.log", "/nowhere/v1.2"})
        for (uint32_t set = 0; set < (1u << controls.size()); ++set)
            for (bool sub : {false, true}) {
                TFileDirOption o;
                ASSERT_TRUE(ParseDirOption(location, o));
                o.subDirs = sub;
                o.attrMask = set & 1 ? 63 : 59;
                for (size_t k = 0; k < controls.size(); ++k)
                    if (set & (1u << k)) controls[k](o);
                const std::string text = FormatDirOption(o);
                TFileDirOption back;
                std::vector<TDirOptionIssue> issues;
                ASSERT_TRUE(ParseDirOption(text, back, {}, &issues)) << text;
                EXPECT_EQ(back, o) << text;
                EXPECT_TRUE(issues.empty()) << text;
            }
}

TEST(FormatDirOption, TypedTextsRoundTrip) {
    const char* texts[] = {
        "'/data /s /maxdepth:2 /exclude:**/node_modules'",
        "'/data/*.txt /maxdepth:1/ar'",
        "\"/data /xdev/gitignore/follow/s\"",
        "'~/src /s /gitignore /exclude:build/ /exclude:*.o /mindepth:2'",
        "'/data /archive /a-h'",
        "'/data /maxdept:2'",  // a typo: applied by the attribute rule, kept that way
    };
    for (const char* text : texts) {
        TFileDirOption first, second;
        ASSERT_TRUE(ParseDirOption(text, first)) << text;
        const std::string formatted = FormatDirOption(first);
        ASSERT_TRUE(ParseDirOption(formatted, second)) << formatted;
        EXPECT_EQ(first, second) << text << " -> " << formatted;
    }
}

TEST(ResolveTablePath, HomeAndBaseDirectory) {
    HomeIs home("/home/me");
    struct Case {
        const char* path;
        const char* base;
        const char* resolved;
    } cases[] = {
        {"~", "", "/home/me"},
        {"~/", "", "/home/me/"},
        {"~/src", "", "/home/me/src"},
        {"~/src", "/base", "/home/me/src"},
        {"~user/x", "", "~user/x"},  // other users' homes are not looked up
        {"x~", "", "x~"},
        {"/abs/x", "/base", "/abs/x"},
        {"x", "", "x"},  // the current directory, on the command line
        {".", "", "."},
        {"x", "/base", "/base/x"},  // the project's directory, in the desktop program
        {"x", "/base/", "/base/x"},
        {".", "/base", "/base"},
        {"./x", "/base", "/base/x"},
        {".//./x", "/base", "/base/x"},
        {"./", "/base", "/base"},
        {"..", "/base", "/base/.."},
        {"../x", "/base", "/base/../x"},
        {".hidden", "/base", "/base/.hidden"},
        {"", "/base", ""},
    };
    for (auto& c : cases)
        EXPECT_EQ(ResolveTablePath(c.path, c.base), c.resolved) << c.path << " in " << c.base;
    HomeIs slash("/home/me/");
    EXPECT_EQ(ResolveTablePath("~/src"), "/home/me/src");
}

TEST(ResolveTablePath, WithoutHomeThePasswordDatabaseAnswers) {
    HomeIs none(nullptr);
    const std::string home = HomeDirectory();
    if (home.empty()) GTEST_SKIP() << "no home directory in the password database";
    EXPECT_EQ(ResolveTablePath("~"), home);
    EXPECT_EQ(ResolveTablePath("~/x"), (home.back() == '/' ? home : home + "/") + "x");
}

}  // namespace
}  // namespace corvane

// SQL cases as data files: tests/evaluation/sql/*.test.
//
// Each case is a statement, a line "----", then either the expected result
// (a header line "name:type|name:type..." and one line per row, values by
// their text form joined with "|", then a line "warning: ..." per warning
// of the run) or the line "error:" followed by the expected messages, one
// per line. Cases are separated by "====". Lines
// starting with "#" outside a statement are comments.
//
// Every case runs twice: over tables that apply pushed-down filters while
// they load, and over tables that cannot filter (the executor then tests
// the rows itself); both must give the same answer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/UVeskEngine.h"
#include "platform/DateTime.h"
#include "tests/engine/FakeSource.h"
#include "tests/support/TempTree.h"

namespace corvane {
namespace {

using testing::FakeSource;
using testing::FakeTableData;
using testing::Files;

// Files with known contents for the content built-ins, listed as table
// "ct" with their directory (path, with a final "/" as the file source
// gives it), name and size. a1, a2 and a3 are the same bytes, e1 and e2
// too; b has the size of a1 but other bytes; f is empty like g; the
// others have sizes of their own. The directory is made once for the whole test program.
// The content table's directory, made once for the test program.
const testing::TempTree& ContentTree() {
    static const testing::TempTree tree;
    return tree;
}

FakeTableData ContentTable() {
    const testing::TempTree& tree = ContentTree();
    static const std::vector<std::pair<std::string, std::string>> files = {
        {"a1", "hello\n"},
        {"a2", "hello\n"},
        {"b", "world\n"},
        {"a3", "hello\n"},
        {"c.txt", "one\ntwo"},
        {"d", "xyz"},
        {"f", ""},
        {"g", ""},
        {"h.md", "# title\n\nbody\n"},
        {"e1", "duplicate text\n"},
        {"e2", "duplicate text\n"}};
    static const bool made = [&tree] {
        for (const auto& [name, content] : files)
            tree.File(name, content);
        return true;
    }();
    (void)made;
    FakeTableData d{{"path", "filename", "size"}, {"string", "string", "integer"}, {}};
    for (const auto& [name, content] : files)
        d.rows.push_back({Variant(tree.Root() + "/"), Variant(name),
                          Variant(static_cast<int64_t>(content.size()))});
    return d;
}

std::shared_ptr<FakeSource> CaseSource(bool canFilter) {
    auto src = std::make_shared<FakeSource>("Fake", canFilter);
    auto files = [](std::vector<std::tuple<std::string, int64_t, bool, std::string>> rows) {
        FakeTableData d{{"filename", "size", "isdir", "extension"},
                        {"string", "integer", "boolean", "string"},
                        {}};
        for (auto& [n, s, dir, e] : rows)
            d.rows.push_back({Variant(n), Variant(s), Variant(dir), Variant(e)});
        return d;
    };
    src->AddTable("t", files({{"a.txt", 10, false, "txt"},
                              {"b.log", 200, false, "log"},
                              {"c", 0, true, ""},
                              {"d.txt", 50, false, "txt"},
                              {"E.TXT", 50, false, "TXT"}}));
    src->AddTable(
        "u",
        Files({{"a.txt", 1, false}, {"x", 2, false}, {"d.txt", 3, false}, {"a.txt", 4, false}}));
    src->AddTable("v", Files({{"a.txt", 7, false}, {"d.txt", 8, false}, {"y", 9, false}}));
    src->AddTable("e", Files({}));
    src->AddTable("ct", ContentTable());
    FakeTableData mixed{{"name", "val"}, {"string", "any"}, {}};
    mixed.rows.push_back({Variant("empty"), Variant()});
    mixed.rows.push_back({Variant("int5"), Variant(int64_t{5})});
    mixed.rows.push_back({Variant("text5"), Variant("5")});
    mixed.rows.push_back({Variant("abc"), Variant("abc")});
    mixed.rows.push_back({Variant("dbl5"), Variant(5.0)});
    mixed.rows.push_back({Variant("null"), Variant::Null()});
    mixed.rows.push_back({Variant("true"), Variant(true)});
    src->AddTable("m", std::move(mixed));
    FakeTableData dates{{"name", "when"}, {"string", "date"}, {}};
    TDateTime d1, d2;
    TryEncodeDate(2024, 1, 2, d1);
    TryEncodeDate(2023, 6, 30, d2);
    dates.rows.push_back({Variant("new"), Variant::FromDate(d1)});
    dates.rows.push_back({Variant("old"), Variant::FromDate(d2)});
    src->AddTable("dt", std::move(dates));
    // Files with known sizes and times in three folders, for grouping.
    FakeTableData f{{"filename", "path", "extension", "size", "lastwritetime", "isdir"},
                    {"string", "string", "string", "integer", "date", "boolean"},
                    {}};
    auto file = [&](std::string name, std::string path, std::string ext, int64_t size, int y,
                    int mo, int day, int hour, bool dir) {
        TDateTime when;
        TryEncodeDate(y, mo, day, when);
        when += hour / 24.0;
        f.rows.push_back({Variant(std::move(name)), Variant(std::move(path)),
                          Variant(std::move(ext)), Variant(size), Variant::FromDate(when),
                          Variant(dir)});
    };
    file("a.txt", "/p", "txt", 10, 2024, 1, 5, 6, false);
    file("b.txt", "/p", "txt", 30, 2024, 2, 10, 12, false);
    file("c.log", "/p", "log", 200, 2024, 2, 11, 18, false);
    file("d.log", "/q", "log", 5, 2023, 12, 31, 0, false);
    file("e", "/q", "", 0, 2024, 1, 20, 6, true);
    file("F.TXT", "/q", "TXT", 7, 2024, 2, 1, 12, false);
    file("a.txt", "/q/r", "txt", 30, 2023, 11, 15, 18, false);
    src->AddTable("f", std::move(f));
    // A listing with a field beyond those "*" stands for, as the file
    // source has depth after its fifteen.
    FakeTableData w{{"filename", "size", "depth"}, {"string", "integer", "integer"}, {}};
    w.starFields = 2;
    w.rows.push_back({Variant("top"), Variant(int64_t{1}), Variant(int64_t{1})});
    w.rows.push_back({Variant("sub"), Variant(int64_t{2}), Variant(int64_t{2})});
    w.rows.push_back({Variant("deep"), Variant(int64_t{3}), Variant(int64_t{3})});
    src->AddTable("w", std::move(w));
    return src;
}

std::string RunCase(const std::string& sql, bool canFilter) {
    TVeskEngineCustomer e;
    e.AddDataBase(CaseSource(canFilter));
    e.SetSQL(sql);
    e.Parse();
    std::string out;
    const std::string errors = e.GetErrorText();
    if (!errors.empty()) {
        out = "error:\n";
        for (char c : errors)
            if (c != '\r') out.push_back(c);
        return out;
    }
    try {
        e.Execute();
    } catch (const std::exception& ex) {
        return std::string("exception:\n") + ex.what() + "\n";
    }
    TSimpleDataset& ds = e.DataSet();
    for (int i = 0; i < ds.GetFieldCount(); ++i) {
        if (i) out += '|';
        out += ds.GetFieldName(i) + ":" + ds.GetFieldType(i);
    }
    out += '\n';
    for (const std::string& row : testing::Rows(ds))
        out += row + "\n";
    // What the run warns about (rows left out for an undecided condition)
    // follows the rows.
    // The content table's directory is another one in every test run: the
    // cases name it <ct>.
    for (std::string w : e.Warnings()) {
        const std::string root = ContentTree().Root();
        for (size_t at = w.find(root); at != std::string::npos; at = w.find(root, at))
            w.replace(at, root.size(), "<ct>");
        out += "warning: " + w + "\n";
    }
    return out;
}

struct SqlCase {
    std::string file;
    int line = 0;
    std::string sql;
    std::string expected;
};

std::vector<SqlCase> LoadCases() {
    std::vector<SqlCase> cases;
#ifdef CORVANE_SQL_CASES_DIR
    const std::filesystem::path dir = CORVANE_SQL_CASES_DIR;
#else
    const auto dir = std::filesystem::path(__FILE__).parent_path() / "sql";
#endif
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        if (entry.path().extension() == ".test") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (const auto& path : files) {
        std::ifstream in(path);
        std::string line;
        int lineNo = 0;
        SqlCase current;
        bool inExpected = false;
        auto flush = [&] {
            if (!current.sql.empty()) cases.push_back(current);
            current = SqlCase{};
            inExpected = false;
        };
        while (std::getline(in, line)) {
            ++lineNo;
            if (line == "====") {
                flush();
                continue;
            }
            if (!inExpected) {
                if (line == "----") {
                    inExpected = true;
                    continue;
                }
                if (current.sql.empty() && (line.empty() || line[0] == '#')) continue;
                if (current.sql.empty()) {
                    current.file = path.filename().string();
                    current.line = lineNo;
                } else {
                    current.sql += "\n";
                }
                current.sql += line;
            } else {
                current.expected += line + "\n";
            }
        }
        flush();
    }
    return cases;
}

TEST(SqlCases, FilesAgreeWithTheEngine) {
    const std::vector<SqlCase> cases = LoadCases();
    ASSERT_FALSE(cases.empty());
    if (const char* dump = std::getenv("CORVANE_SQL_CASES_DUMP")) {
        // Writes what the engine answers, in the file format, for review.
        std::ofstream out(dump);
        for (const SqlCase& c : cases)
            out << "# " << c.file << ":" << c.line << "\n"
                << c.sql << "\n----\n"
                << RunCase(c.sql, true) << "====\n";
    }
    for (const SqlCase& c : cases) {
        for (bool canFilter : {true, false}) {
            EXPECT_EQ(RunCase(c.sql, canFilter), c.expected)
                << c.file << ":" << c.line
                << (canFilter ? " (filtering source)" : " (plain source)") << "\n"
                << c.sql;
        }
    }
}

}  // namespace
}  // namespace corvane

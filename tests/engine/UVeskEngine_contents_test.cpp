// File contents in whole statements: the per-run digest cache, the order in
// which the planner tests cheap and content-reading conditions (shown by
// the files the run read), and Cancel stopping a digest of a huge file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "engine/UVeskEngine.h"
#include "support/Expect.h"
#include "tests/engine/FakeSource.h"
#include "tests/support/TempTree.h"

namespace corvane {
namespace {

using testing::FakeSource;
using testing::FakeTableData;
using testing::TempTree;

struct FixtureFile {
    const char* dir;
    const char* name;
    std::string content;
};

// Table "t" over files each in a directory of its own (so a.path < b.path
// holds for every pair in one order): sizes 1..8 once each, plus two pairs
// of size 20 — p1/p2 identical, q1/q2 different.
class ContentStatements : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        std::vector<FixtureFile> files;
        for (int i = 1; i <= 8; ++i)
            files.push_back({"", "", std::string(static_cast<size_t>(i), 'x')});
        files.push_back({"", "p1", std::string(20, 'p')});
        files.push_back({"", "p2", std::string(20, 'p')});
        files.push_back({"", "q1", std::string(20, 'q')});
        files.push_back({"", "q2", std::string(19, 'q') + "Q"});
        FakeTableData d{{"path", "filename", "size"}, {"string", "string", "integer"}, {}};
        for (size_t i = 0; i < files.size(); ++i) {
            const std::string dir = "d" + std::to_string(10 + i);
            const std::string name = *files[i].name ? files[i].name : "u" + std::to_string(i);
            tree_.Dir(dir);
            tree_.File(dir + "/" + name, files[i].content);
            d.rows.push_back({Variant(tree_.Path(dir) + "/"), Variant(name),
                              Variant(static_cast<int64_t>(files[i].content.size()))});
        }
        source_ = std::make_shared<FakeSource>("Fake", GetParam());
        source_->AddTable("t", std::move(d));
    }

    std::vector<std::string> Run(TVeskEngineCustomer& e, const std::string& sql) {
        e.AddDataBase(source_);
        e.SetSQL(sql);
        e.Parse();
        EXPECT_EQ(e.GetErrorText(), "") << sql;
        e.Execute();
        return testing::Rows(e.DataSet());
    }

    TempTree tree_;
    std::shared_ptr<FakeSource> source_;
};

TEST_P(ContentStatements, OnlySizeEqualPairsAreHashed) {
    const char* orders[] = {
        "a.size = b.size and a.path < b.path and "
        "sha256(a.path, a.filename) = sha256(b.path, b.filename)",
        "sha256(a.path, a.filename) = sha256(b.path, b.filename) and "
        "a.path < b.path and a.size = b.size",
        "a.path < b.path and sha256(a.path, a.filename) = sha256(b.path, b.filename) and "
        "a.size = b.size",
    };
    for (const char* where : orders) {
        TVeskEngineCustomer e;
        const auto rows =
            Run(e, std::string("select a.filename, b.filename from t a, t b where ") + where);
        EXPECT_EQ(rows, (std::vector<std::string>{"p1|p2"})) << where;
        const ContentSession* s = e.LastContentSession();
        ASSERT_NE(s, nullptr);
        // p1, p2, q1 and q2, each read once; the eight files of a size of
        // their own never.
        EXPECT_EQ(s->FilesRead(), 4u) << where;
        EXPECT_EQ(s->BytesRead(), 80u) << where;
    }
}

TEST_P(ContentStatements, CheapFiltersOfOneTableComeFirst) {
    TVeskEngineCustomer e;
    const auto rows =
        Run(e, "select filename from t where md5(path, filename) <> '' and size > 19");
    EXPECT_EQ(rows, (std::vector<std::string>{"p1", "p2", "q1", "q2"}));
    EXPECT_EQ(e.LastContentSession()->FilesRead(), 4u);
}

TEST_P(ContentStatements, ASelfJoinReadsEachFileOncePerRun) {
    TVeskEngineCustomer e;
    const auto rows = Run(e,
                          "select a.filename from t a, t b where a.size = 20 and b.size = 20 and "
                          "xxh128(a.path, a.filename) = xxh128(b.path, b.filename) and "
                          "a.filename <> b.filename");
    EXPECT_EQ(rows, (std::vector<std::string>{"p1", "p2"}));
    const ContentSession* s = e.LastContentSession();
    EXPECT_EQ(s->FilesRead(), 4u);
    EXPECT_GT(s->CacheHits(), 0u);
    // The next run starts with an empty cache.
    e.Execute();
    EXPECT_EQ(e.LastContentSession()->FilesRead(), 4u);
}

// The digest as group key and as select item, written as the alias or
// again in full: every file is read once.
TEST_P(ContentStatements, AGroupedReportReadsEachFileOnce) {
    const char* statements[] = {
        "select xxh128(path, filename) h, count(*) n, sum(size) bytes from t where size > 0 "
        "group by h having n > 1 order by bytes desc",
        "select xxh128(path, filename), count(*) n, sum(size) from t "
        "group by xxh128(path, filename) having count(*) > 1",
    };
    for (const char* sql : statements) {
        TVeskEngineCustomer e;
        const auto rows = Run(e, sql);
        ASSERT_EQ(rows.size(), 1u) << sql;
        EXPECT_NE(rows[0].find("|2|40"), std::string::npos) << sql << ": " << rows[0];
        EXPECT_EQ(e.LastContentSession()->FilesRead(), 12u) << sql;
    }
}

// Answers "cancelled" from poll number `at` on.
struct CancelAtPoll : IProgress {
    explicit CancelAtPoll(int at) : at(at) {}
    void Listed(long long) override {}
    bool Cancelled() const override { return ++polls >= at; }
    int at;
    mutable int polls = 0;
};

TEST_P(ContentStatements, CancelStopsTheDigestOfAHugeFile) {
    tree_.File("big");
    ASSERT_EQ(::truncate(tree_.Path("big").c_str(), 5LL << 30), 0);  // 5 GiB, sparse
    FakeTableData d{{"path", "filename", "size"}, {"string", "string", "integer"}, {}};
    d.rows.push_back({Variant(tree_.Root()), Variant("big"), Variant(int64_t{5} << 30)});
    source_->AddTable("huge", std::move(d));
    TVeskEngineCustomer e;
    // A few polls for the listing and the executor, then the digest's own.
    CancelAtPoll progress(40);
    e.SetProgress(&progress);
    e.AddDataBase(source_);
    e.SetSQL("select sha256(path, filename) from huge");
    e.Parse();
    ASSERT_EQ(e.GetErrorText(), "");
    EXPECT_THROW(e.Execute(), QueryCancelledError);
    EXPECT_LT(e.LastContentSession()->BytesRead(), 64u * kContentBlock);
}

INSTANTIATE_TEST_SUITE_P(Pushdown, ContentStatements, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Filtering" : "Plain"; });

}  // namespace
}  // namespace corvane

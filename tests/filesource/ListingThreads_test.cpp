// Listing with reader threads gives the same records, with the same
// values, in the same order as listing with one thread: on wide and deep
// trees, with hidden entries, links, FIFOs, unreadable and unenterable
// directories, with and without a pushed-down filter, and when the walk
// gives up (cancelled) while readers are busy.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filesource/U_CorvaneAdptr.h"
#include "platform/FileSystem.h"
#include "support/TempTree.h"

namespace corvane {
namespace {

using testing::TempTree;

// Every column of every record, in order, as one text per record.
std::vector<std::string> Records(IXSimpleDataset& ds) {
    std::vector<std::string> out;
    if (ds.GetRecordCount() == 0) return out;
    Variant v;
    for (ds.First(); !ds.Eof(); ds.Next()) {
        std::string line;
        for (int i = 0; i < fcColumnCount; ++i) {
            if (i == fcVersion) continue;  // opens files; the same in every mode
            ds.GetFieldValue(i, v);
            if (i) line += '|';
            v.AppendString(line);
        }
        out.push_back(line);
    }
    return out;
}

struct Listed {
    std::vector<std::string> records;
    std::vector<std::string> warnings;
    uint64_t stats = 0;
    bool active = false;
};

// A filter that keeps what is not named "*.skip" and decides early on the
// name, as the where executor's does.
class NameFilter : public IFilterObject {
  public:
    void SetValue(int i, const Variant& v) override {
        if (i == fcFilename) name_ = v.RawString();
        if (i == fcSize) size_ = v.RawInteger();
    }
    Variant Evaluate() override { return Variant(!Skipped() && size_ >= 0); }
    bool Reads(int i) override { return i == fcFilename || i == fcSize; }
    bool RejectsKnowing(uint64_t known) override {
        return ((known >> fcFilename) & 1) != 0 && Skipped();
    }

  private:
    bool Skipped() const {
        return name_.size() >= 5 && name_.compare(name_.size() - 5, 5, ".skip") == 0;
    }
    std::string name_;
    int64_t size_ = 0;
};

Listed List(const std::string& text, int threads, IFilterObject* filter = nullptr) {
    TVeskDBAdapterForFile db;
    db.SetListingThreads(threads);
    DataSetRef ds = db.GetDataset(text);
    ds->SetFilter(filter);
    ds->Open();
    ds->SetFilter(nullptr);
    Listed l;
    l.active = ds->Active();
    l.records = Records(*ds);
    l.warnings = ds->Warnings();
    l.stats = static_cast<TVeskDSAdapterForFile&>(*ds).StatCalls();
    return l;
}

// Wide: 3 levels of 6 directories, each with files (some "*.skip", one
// hidden) and a hidden directory; plus links, a FIFO, an unreadable and an
// unenterable directory, and a deep chain beyond the descriptors kept open.
void MakeTree(const TempTree& t) {
    std::vector<std::string> level = {""};
    for (int depth = 0; depth < 3; ++depth) {
        std::vector<std::string> next;
        for (const std::string& d : level)
            for (int i = 0; i < 6; ++i) {
                const std::string sub = d + "d" + std::to_string(i);
                t.Dir(sub);
                for (int f = 0; f < 4; ++f)
                    t.File(sub + "/f" + std::to_string(f) + (f == 3 ? ".skip" : ".txt"),
                           std::string(static_cast<size_t>(f * 10), 'x'));
                t.File(sub + "/.hidden");
                t.Dir(sub + "/.hdir");
                t.File(sub + "/.hdir/in.txt");
                next.push_back(sub + "/");
            }
        level = std::move(next);
    }
    ASSERT_EQ(::symlink("d0", t.Path("link").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", t.Path("d1/dangling").c_str()), 0);
    ASSERT_EQ(::mkfifo(t.Path("d2/fifo").c_str(), 0644), 0);
    t.Dir("d3/locked");
    t.File("d3/locked/x.txt");
    ::chmod(t.Path("d3/locked").c_str(), 0300);  // not readable
    t.Dir("d4/shut");
    t.File("d4/shut/y.txt");
    ::chmod(t.Path("d4/shut").c_str(), 0600);  // not enterable
    std::string chain = "d5/d0";
    for (int i = 0; i < 80; ++i) {
        chain += "/c";
        t.Dir(chain);
        t.File(chain + "/z.txt");
    }
}

TEST(ListingThreads, SameRecordsInTheSameOrderWhateverTheThreads) {
    TempTree t;
    MakeTree(t);
    NameFilter filter;
    for (const char* options : {" /s", " /s/all", " /s/a-d", "/d1 /s", ""}) {
        const std::string text = "'" + t.Root() + options + "'";
        for (IFilterObject* f :
             {static_cast<IFilterObject*>(nullptr), static_cast<IFilterObject*>(&filter)}) {
            List(text, 1, f);  // the first read of a directory may change its access time
            const Listed one = List(text, 1, f);
            EXPECT_TRUE(one.active) << text;
            EXPECT_FALSE(one.records.empty()) << text;
            for (int threads : {2, 8}) {
                const Listed many = List(text, threads, f);
                EXPECT_TRUE(many.active) << text << " " << threads;
                EXPECT_EQ(many.records, one.records) << text << " " << threads;
                EXPECT_EQ(many.warnings, one.warnings) << text << " " << threads;
                EXPECT_EQ(many.stats, one.stats) << text << " " << threads;
            }
        }
    }
}

class CancelAfter : public IProgress {
  public:
    explicit CancelAfter(int reports) : reports_(reports) {}
    void Listed(long long n) override {
        ++calls;
        last = n;
    }
    bool Cancelled() const override { return calls >= reports_; }
    int calls = 0;
    long long last = 0;

  private:
    int reports_;
};

TEST(ListingThreads, CancelledWhileReadersAreBusyStopsAndKeepsAPrefix) {
    TempTree t;
    for (int d = 0; d < 40; ++d) {
        const std::string dir = "d" + std::to_string(d);
        t.Dir(dir);
        for (int f = 0; f < 400; ++f)
            t.File(dir + "/f" + std::to_string(f));
    }
    const std::string text = "'" + t.Root() + " /s'";
    List(text, 1);  // the first read of a directory may change its access time
    const Listed all = List(text, 1);
    for (int threads : {1, 2, 8}) {
        TVeskDBAdapterForFile db;
        db.SetListingThreads(threads);
        DataSetRef ds = db.GetDataset(text);
        CancelAfter cancel(1);
        ds->SetProgress(&cancel);
        ds->Open();
        ds->SetProgress(nullptr);
        EXPECT_FALSE(ds->Active()) << threads;
        const std::vector<std::string> got = Records(*ds);
        ASSERT_LT(got.size(), all.records.size()) << threads;
        // What was kept is the start of the full listing.
        EXPECT_TRUE(std::equal(got.begin(), got.end(), all.records.begin())) << threads;
        EXPECT_EQ(cancel.calls, 2) << threads;  // the report that cancels, and the final one
    }
}

}  // namespace
}  // namespace corvane

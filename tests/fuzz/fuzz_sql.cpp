// The SQL front end on arbitrary statement text: SetSQL, Parse and
// GetErrorText must end and never touch memory they do not own, whatever the
// text. When the text parses, Execute runs it over a small fixture tree.
//
// Every table text is kept inside the fixture: its directory is replaced by
// the fixture root (or one of its two sub-directories when the text names
// it), so the fuzzer never lists the real file system, whatever path it
// invents. Filter and options stay as written.
//
// Executions are bounded by design, not by the runner's timeout: the
// progress object answers "cancelled" after a fixed number of polls, and the
// row sink after a fixed number of rows. The executor polls in all its
// loops and the interpreter every few thousand instructions, so an exploding
// join or an endless script loop ends as a cancelled query. A loop that
// forgets to poll shows up here as a timeout.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>

#include "engine/UVeskEngine.h"
#include "filesource/U_CorvaneAdptr.h"

using namespace corvane;

namespace {

// The fixture: a few files of different kinds, a hidden one, a non-ASCII
// name and two levels of sub-directories. Made once per process, removed at
// exit.
class Fixture {
  public:
    Fixture() {
        char tmpl[] = "/tmp/corvane-fuzz-sql-XXXXXX";
        if (!::mkdtemp(tmpl)) std::abort();
        root_ = tmpl;
        Dir("sub");
        Dir("sub/deep");
        File("a.txt", "alpha\n");
        File("b.cpp", "int main() { return 0; }\n");
        File("c.log", std::string(3000, 'x'));
        File(".hidden", "");
        File("名字.txt", "名字");
        File("sub/a.txt", "alpha again\n");
        File("sub/d.pas", "function main: integer; begin result := 1; end;\n");
        File("sub/deep/e.txt", "e");
        File("sub/deep/a.txt", "alpha deep\n");
    }
    ~Fixture() {
        const std::string cmd = "rm -rf '" + root_ + "'";
        if (std::system(cmd.c_str()) != 0) std::perror("rm");
    }
    const std::string& Root() const { return root_; }

  private:
    void Dir(const std::string& rel) { ::mkdir((root_ + "/" + rel).c_str(), 0755); }
    void File(const std::string& rel, const std::string& content) {
        std::ofstream(root_ + "/" + rel, std::ios::binary) << content;
    }
    std::string root_;
};

const Fixture& TheFixture() {
    static Fixture fixture;
    return fixture;
}

// Directory tables, all inside the fixture.
class FixtureSource : public IXSimpleDataBase {
  public:
    std::string GetName() override { return "FileSystem"; }
    std::shared_ptr<IXSimpleDataset> GetDataset(const std::string& name) override {
        TFileDirOption option;
        // A text that does not parse stays as it is: its table lists nothing.
        if (!ParseDirOption(name, option)) return std::make_shared<TVeskDSAdapterForFile>(name);
        std::string dir = option.path;
        while (!dir.empty() && dir.back() == '/')
            dir.pop_back();
        const std::string last = dir.substr(dir.find_last_of('/') + 1);
        option.path = TheFixture().Root() + "/";
        if (last == "sub")
            option.path += "sub/";
        else if (last == "deep")
            option.path += "sub/deep/";
        // A filter with a "/" could name a path of its own.
        if (option.nameMask.find('/') != std::string::npos) option.nameMask.clear();
        return std::make_shared<TVeskDSAdapterForFile>(FormatDirOption(option));
    }
};

// Cancels after a fixed number of polls.
class PollBudget : public IProgress {
  public:
    void Listed(long long) override {}
    bool Cancelled() const override { return ++polls_ > kPolls || rowsFull_; }
    void RowsFull() { rowsFull_ = true; }

  private:
    static constexpr int kPolls = 100;
    mutable int polls_ = 0;
    bool rowsFull_ = false;
};

// Counts result rows; past the cap it asks the progress to cancel.
class CappedSink : public IRowSink {
  public:
    explicit CappedSink(PollBudget& budget) : budget_(budget) {}
    void Row(std::span<const Variant* const> values) override {
        for (const Variant* v : values)
            if (!v) __builtin_trap();  // every result cell has a value
        if (++rows_ >= kRows) budget_.RowsFull();
    }

  private:
    static constexpr int kRows = 1000;
    PollBudget& budget_;
    int rows_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    const std::string sql(reinterpret_cast<const char*>(data), size);
    TheFixture();

    TVeskEngineCustomer engine;
    engine.AddDataBase(std::make_shared<FixtureSource>());
    engine.SetSQL(sql);
    engine.Parse();
    if (!engine.GetErrorText().empty()) return 0;

    for (int run = 0; run < 2; ++run) {  // a parsed statement may run twice
        PollBudget budget;
        CappedSink sink(budget);
        engine.SetProgress(&budget);
        engine.SetRowSink(run == 0 ? &sink : nullptr);
        try {
            engine.Execute();
        } catch (const QueryCancelledError&) {
        } catch (const std::runtime_error&) {
            // A run-time fault with its message (a script error, a value
            // that does not convert): a normal end of a query.
        }
        engine.SetProgress(nullptr);
        engine.SetRowSink(nullptr);
    }
    return 0;
}

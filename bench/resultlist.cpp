// corvane-bench-resultlist: what the desktop program's result list costs.
//
//   corvane-bench-resultlist SQL [ROWS]
//
// Runs SQL with the real engine exactly as the window's query runner does
// (on its worker thread, the result rows taken out of the engine and handed
// to the result model), then reports
//
//   rows          how many rows the model holds
//   bytes/row     heap bytes in use (mallinfo2) after the model took the
//                 rows and the engine is gone, minus those before the run,
//                 per row; also the resident set growth (/proc/self/statm)
//   sort <col>    the time of a header click on each column (the proxy's
//                 sort, as the view calls it), ascending; then one
//                 descending click and the return to the listing order
//
// With ROWS the model's rows are repeated until there are at least ROWS of
// them (to see how sorting grows), the copies sharing nothing with the
// originals. This is a measuring tool, not a test: it checks nothing.
#include <malloc.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSignalSpy>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>

#include "ui/U_engineAdapter.h"
#include "ui/U_queryRunner.h"
#include "ui/U_resultModel.h"

using namespace corvane;

Q_DECLARE_METATYPE(std::shared_ptr<corvane::TQueryOutcome>)

namespace {

size_t HeapInUse() {
    struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

size_t ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

// Wall and CPU time of this thread since a start point (the machine may be
// shared, so the CPU figure is the steadier one).
struct TClock {
    std::chrono::steady_clock::time_point wall = std::chrono::steady_clock::now();
    double cpu = ThreadCpu();

    static double ThreadCpu() {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
    }
    std::string Text() const {
        const double w =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
        char text[64];
        std::snprintf(text, sizeof text, "%.3f s wall, %.3f s CPU", w, ThreadCpu() - cpu);
        return text;
    }
};

std::string ShortName(const std::string& field) {
    const size_t dot = field.rfind('.');
    return dot == std::string::npos ? field : field.substr(dot + 1);
}

// What the view asks after a click: the row count and the top row (a proxy
// that maps lazily does its work here).
void ShowFirstRow(const QSortFilterProxyModel& proxy) {
    if (proxy.rowCount() > 0)
        for (int c = 0; c < proxy.columnCount(); ++c)
            (void)proxy.index(0, c).data();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: corvane-bench-resultlist SQL [ROWS]\n");
        return 2;
    }
    QCoreApplication app(argc, argv);
    qRegisterMetaType<std::shared_ptr<TQueryOutcome>>();
    const std::string sql = argv[1];
    const size_t wanted = argc > 2 ? std::stoull(argv[2]) : 0;

    malloc_trim(0);
    const size_t heapBefore = HeapInUse(), rssBefore = ResidentBytes();
    TResultModel model{QIcon(), QIcon()};
    {
        TQueryRunner runner(FileSystemEngineFactory());
        QSignalSpy finished(&runner, &TQueryRunner::Finished);
        const TClock start;
        if (!runner.Start(sql) || !finished.wait(3600 * 1000)) {
            std::fprintf(stderr, "the query did not finish\n");
            return 1;
        }
        auto outcome = finished.first().first().value<std::shared_ptr<TQueryOutcome>>();
        finished.clear();
        if (!outcome->parseErrors.empty() || !outcome->runError.empty()) {
            std::fprintf(stderr, "%s%s\n", outcome->parseErrors.c_str(), outcome->runError.c_str());
            return 1;
        }
        std::printf("query         %s\n", start.Text().c_str());
        if (wanted > 0) {
            TQueryResult& result = outcome->result;
            const size_t original = result.rows.size();
            while (original > 0 && result.rows.size() < wanted)
                for (size_t i = 0; i < original && result.rows.size() < wanted; ++i)
                    result.rows.Append(result.rows.Row(i));
            result.rows.Finish();
        }
        const TClock fill;
        model.SetResult(std::move(outcome->result), TColumnMaps{});
        std::printf("fill model    %s\n", fill.Text().c_str());
    }
    malloc_trim(0);
    const size_t rows = static_cast<size_t>(model.rowCount());
    const size_t heap = HeapInUse() - heapBefore, rss = ResidentBytes() - rssBefore;
    std::printf("rows          %zu\n", rows);
    if (rows > 0)
        std::printf("bytes/row     %.1f heap, %.1f resident\n", double(heap) / double(rows),
                    double(rss) / double(rows));

    TResultSortProxy proxy;
    proxy.setSourceModel(&model);
    proxy.setDynamicSortFilter(false);
    for (int c = 0; c < model.columnCount(); ++c) {
        const TClock start;
        proxy.sort(c, Qt::AscendingOrder);
        ShowFirstRow(proxy);
        std::printf("sort %-14s %s\n",
                    ShortName(model.FieldNames()[static_cast<size_t>(c)]).c_str(),
                    start.Text().c_str());
    }
    if (model.columnCount() > 0) {
        const TClock descending;
        proxy.sort(0, Qt::DescendingOrder);
        ShowFirstRow(proxy);
        std::printf("sort %-14s %s (descending)\n", ShortName(model.FieldNames()[0]).c_str(),
                    descending.Text().c_str());
        const TClock unsorted;
        proxy.sort(-1, Qt::AscendingOrder);
        ShowFirstRow(proxy);
        std::printf("unsorted            %s\n", unsorted.Text().c_str());
    }
    malloc_trim(0);
    std::printf("bytes/row     %.1f heap after sorting\n",
                rows ? double(HeapInUse() - heapBefore) / double(rows) : 0.0);
    return 0;
}

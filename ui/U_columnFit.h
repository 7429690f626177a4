// U_columnFit: how wide the result list's columns are after a run.
//
// A column is as wide as its caption and the widest of a sample of its
// cells (as shown), plus room for the cell margins, the sort arrow and, in
// the first column, the icon; never narrower than a minimum nor wider
// than a maximum (a long path is then elided in the middle by the view).
// The sample is the first rows and rows spread evenly over the rest, so a
// result of any size is measured in the same short time.
//
// A width the user has set by dragging a header border wins over the
// fitted one: the main window asks TConfig for it by the column's name.
// This unit only measures; it uses fonts, not widgets.
#pragma once

#include <QFontMetrics>
#include <vector>

class QAbstractItemModel;

namespace corvane {

struct TColumnFitRules {
    int minWidth = 48;
    int maxWidth = 420;
    int cellPadding = 16;    // left and right cell margins together
    int headerPadding = 30;  // margins and the sort arrow
    int iconWidth = 22;      // the icon of the first column with its gap
    int sampleRows = 200;    // rows measured at most
};

// The rows measured in a result of rowCount rows: the first half of the
// sample in order, the rest spread evenly over the remaining rows.
std::vector<int> SampleRows(int rowCount, int sampleRows);

// Fitted widths of every column of model (display texts, header captions).
std::vector<int> FitColumnWidths(const QAbstractItemModel& model, const QFontMetrics& cells,
                                 const QFontMetrics& header, const TColumnFitRules& rules = {});

}  // namespace corvane

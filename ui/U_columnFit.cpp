// U_columnFit: see U_columnFit.h.
#include "ui/U_columnFit.h"

#include <QAbstractItemModel>
#include <algorithm>

namespace corvane {

std::vector<int> SampleRows(int rowCount, int sampleRows) {
    std::vector<int> rows;
    if (rowCount <= 0 || sampleRows <= 0) return rows;
    if (rowCount <= sampleRows) {
        for (int r = 0; r < rowCount; ++r)
            rows.push_back(r);
        return rows;
    }
    const int head = sampleRows / 2;
    for (int r = 0; r < head; ++r)
        rows.push_back(r);
    const int spread = sampleRows - head;
    const long long rest = rowCount - head;
    for (int i = 0; i < spread; ++i)
        rows.push_back(head + static_cast<int>(rest * i / spread));
    return rows;
}

std::vector<int> FitColumnWidths(const QAbstractItemModel& model, const QFontMetrics& cells,
                                 const QFontMetrics& header, const TColumnFitRules& rules) {
    const std::vector<int> rows = SampleRows(model.rowCount(), rules.sampleRows);
    std::vector<int> widths;
    for (int c = 0; c < model.columnCount(); ++c) {
        int width = header.horizontalAdvance(model.headerData(c, Qt::Horizontal).toString()) +
                    rules.headerPadding;
        int widest = 0;
        for (int r : rows)
            widest = std::max(widest, cells.horizontalAdvance(model.index(r, c).data().toString()));
        width = std::max(width, widest + rules.cellPadding + (c == 0 ? rules.iconWidth : 0));
        widths.push_back(std::clamp(width, rules.minWidth, rules.maxWidth));
    }
    return widths;
}

}  // namespace corvane

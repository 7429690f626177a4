// U_resultModel: the result list's model.
//
// A finished query hands its rows over as a TQueryResult (field names and
// the rows taken out of the engine's result dataset into a compact
// TResultStore, on the query runner's worker thread). TResultModel presents
// them to a view: one column per field, captioned through the caption map
// ("a.path" shows as "目录"; when the fields come from more than one table
// the caption keeps its table: "a.文件名"), cell texts made on demand from
// the stored values (so a result of any size is shown at once and only the
// visible rows are ever converted), and a folder or file icon in the first
// column. Cells show readable texts (U_cellText:
// grouped digits, sizes optionally in KiB/MiB/GiB, full date-times, 是/否)
// while RawTextRole and the copy texts keep the raw values. It also
// answers the questions the row actions need: whether the list has them at
// all (both "filename" and "path" present), and a row's directory, file
// name and full name.
//
// Sorting by a clicked column header compares the values themselves
// (numbers as numbers, dates as dates), not their texts. The model sorts
// itself: its rows are a list of store row numbers in the shown order, and
// a click reorders that list stably with a precomputed key per row
// (TResultStore::SortRows), so a million rows sort in a blink on the
// window's thread. Like a proxy's sort, each click starts from the current
// order, so rows equal in the clicked column keep the order of the click
// before. Row numbers throughout this class are rows in the shown order.
//
// TResultSortProxy hands header clicks to the model and narrows the shown
// rows to those containing the filter box's text in any column (shown or
// raw text, ASCII letters in either case) without running the query again.
//
// Nothing here knows of widgets; the main window attaches the view, the
// context menu and the status bar.
#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QSortFilterProxyModel>
#include <memory>
#include <string>
#include <vector>

#include "datasource/U_simpleDS.h"
#include "ui/U_cellText.h"
#include "ui/U_columns.h"
#include "ui/U_resultStore.h"

namespace corvane {

struct TQueryResult {
    std::vector<std::string> fieldNames;
    std::vector<std::string> fieldTypes;  // type names ("string", "integer", ...); may be empty
    TResultStore rows;
};

// Moves the rows out of a result dataset (which is left without rows) into
// a store, freeing each engine row as soon as it is copied, and ranks the
// texts.
TQueryResult TakeResult(TSimpleDataset& dataset);

class TResultModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    // The raw text of a cell (what copy and export keep).
    static constexpr int RawTextRole = Qt::UserRole + 1;

    TResultModel(QIcon folderIcon, QIcon fileIcon, QObject* parent = nullptr);

    // Replaces the shown result.
    void SetResult(TQueryResult result, const TColumnMaps& columns);
    void Clear();
    // How cells are shown; every cell changes.
    void SetDisplayOptions(TDisplayOptions options);
    const TDisplayOptions& DisplayOptions() const { return options_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Column captions as rendered.
    const std::vector<std::string>& Captions() const { return captions_; }
    const std::vector<std::string>& FieldNames() const { return result_.fieldNames; }
    // Their type names ("string", "integer", ...); may be empty.
    const std::vector<std::string>& FieldTypes() const { return result_.fieldTypes; }
    // The name under which a column's width is remembered: the lower-case
    // field name without its table ("size" for a.size); empty for names
    // made up per statement (compt_N) and names an INI key cannot hold.
    std::string WidthKey(int column) const;
    // The values of a row, one per column (empty where the row has none);
    // false for a row out of range.
    bool RowValues(int row, TSimpleRow& out) const;

    // Both "filename" and "path" are among the fields: the list offers the
    // row actions (open, open folder, locate, delete).
    bool HasRowActions() const { return filenameField_ >= 0 && pathField_ >= 0; }
    // "个数：" and the number of rows.
    std::string CountText() const;

    // The raw text of a cell and the text the list shows.
    std::string CellText(int row, int column) const;
    QString DisplayCell(int row, int column) const;
    // Whether any cell of the row contains needle (UTF-8, ASCII letters in
    // lower case) in its shown or its raw text, ignoring ASCII letter case.
    bool RowContains(int row, const std::string& needle) const;

    // Rows (in the given order) as tab-separated raw texts, headed by the
    // field names; a field holding a tab, a line break or a double quote
    // is quoted as in CSV. Ends with a line break.
    std::string CopyText(const std::vector<int>& rows) const;
    // The full names of the rows, one per line, skipping rows without one.
    std::string CopyFullNames(const std::vector<int>& rows) const;
    // 0 = folder, 1 = file, -1 = no icon.
    int IconIndex(int row) const;
    // The cells under the captions "目录" and "文件名" (first such column),
    // and the two joined with "/" unless the directory already ends in one.
    std::string Directory(int row) const;
    std::string FileName(int row) const;
    std::string FullName(int row) const;

    // Removes the given rows (any order, duplicates allowed).
    void RemoveRowsAt(std::vector<int> rows);

    // Ordering of two rows by one column (CompareValues; a missing value
    // first).
    bool LessThan(int rowA, int rowB, int column) const;
    // Reorders the rows by a column, stably from the current order; a
    // negative column restores the order of the result (reversed when
    // descending). Selections and other persistent indexes follow their
    // rows.
    void SortBy(int column, Qt::SortOrder order);

  private:
    // The value of a cell; false when there is none.
    bool Cell(int row, int column, Variant& out) const;

    QIcon folderIcon_, fileIcon_;
    TQueryResult result_;
    std::vector<uint32_t> order_;  // the shown rows: store row numbers, in the shown order
    TDisplayOptions options_{DisplayLocale(), false};
    std::vector<std::string> captions_;
    std::vector<char> sizeColumn_;  // per column: the "size" column
    int isdirField_ = -1, attriField_ = -1, filenameField_ = -1, pathField_ = -1;
    int dirCaptionColumn_ = -1, fileCaptionColumn_ = -1;
};

class TResultSortProxy : public QSortFilterProxyModel {
    Q_OBJECT
  public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    // Shows only the rows containing text (ASCII letters in any case); an empty
    // text shows every row.
    void SetFilterText(const QString& text);
    const std::string& FilterText() const { return needle_; }

    // A header click: the model sorts itself (TResultModel::SortBy); with
    // another source model the proxy sorts as usual.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

  protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

  private:
    std::string needle_;  // UTF-8, ASCII letters in lower case
};

// Whether text contains lowerNeedle, ASCII letters compared in either case
// (other bytes exactly: letters of other scripts keep their case).
bool ContainsIgnoringAsciiCase(std::string_view text, std::string_view lowerNeedle);

// The order of two values: empty and null first, then numbers, dates and
// booleans by value, then texts byte by byte.
int CompareValues(const Variant& a, const Variant& b);

}  // namespace corvane

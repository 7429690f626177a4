// U_resultModel: the result list's model.
//
// A finished query hands its rows over as a TQueryResult (field names and
// the rows moved out of the engine's result dataset, so nothing is copied).
// TResultModel presents them to a view: one column per field, captioned
// through the caption map ("a.path" shows as "目录"), cell texts made on
// demand from the Variants (so a result of any size is shown at once and
// only the visible rows are ever converted), and a folder or file icon in
// the first column. It also answers the questions the row actions need:
// whether the list has them at all (both "filename" and "path" present),
// and a row's directory, file name and full name.
//
// TResultSortProxy sorts by a clicked column header, comparing the values
// themselves (numbers as numbers, dates as dates), not their texts.
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

#include "engine/U_simpleDS.h"
#include "ui/U_columns.h"

namespace corvane {

struct TQueryResult {
    std::vector<std::string> fieldNames;
    std::vector<std::unique_ptr<TSimpleRow>> rows;
};

// Moves the rows out of a result dataset (which is left without rows).
TQueryResult TakeResult(TSimpleDataset& dataset);

class TResultModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    TResultModel(QIcon folderIcon, QIcon fileIcon, QObject* parent = nullptr);

    // Replaces the shown result.
    void SetResult(TQueryResult result, const TColumnMaps& columns);
    void Clear();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Column captions and widths as rendered.
    const std::vector<std::string>& Captions() const { return captions_; }
    int ColumnWidth(int column) const { return widths_.at(static_cast<size_t>(column)); }

    // Both "filename" and "path" are among the fields: the list offers the
    // row actions (open, open folder, locate, delete).
    bool HasRowActions() const { return filenameField_ >= 0 && pathField_ >= 0; }
    // "个数：" and the number of rows.
    std::string CountText() const;

    std::string CellText(int row, int column) const;
    // 0 = folder, 1 = file, -1 = no icon.
    int IconIndex(int row) const;
    // The cells under the captions "目录" and "文件名" (first such column),
    // and the two joined with "/" unless the directory already ends in one.
    std::string Directory(int row) const;
    std::string FileName(int row) const;
    std::string FullName(int row) const;

    // Removes the given rows (any order, duplicates allowed).
    void RemoveRowsAt(std::vector<int> rows);

    // Ordering of two rows by one column, for sorting.
    bool LessThan(int rowA, int rowB, int column) const;

  private:
    const Variant* Cell(int row, int column) const;

    QIcon folderIcon_, fileIcon_;
    TQueryResult result_;
    std::vector<std::string> captions_;
    std::vector<int> widths_;
    int isdirField_ = -1, attriField_ = -1, filenameField_ = -1, pathField_ = -1;
    int dirCaptionColumn_ = -1, fileCaptionColumn_ = -1;
};

class TResultSortProxy : public QSortFilterProxyModel {
    Q_OBJECT
  public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

  protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;
};

// The order of two values: empty and null first, then numbers, dates and
// booleans by value, then texts byte by byte.
int CompareValues(const Variant& a, const Variant& b);

}  // namespace corvane

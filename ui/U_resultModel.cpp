// U_resultModel: see U_resultModel.h.
#include "ui/U_resultModel.h"

#include <algorithm>

#include "platform/Text.h"

namespace corvane {

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

bool IsNumberLike(VarType t) {
    return t == VarType::Integer || t == VarType::Double || t == VarType::Date ||
           t == VarType::Boolean;
}

double NumberOf(const Variant& v) {
    switch (v.type()) {
        case VarType::Integer:
            return static_cast<double>(v.RawInteger());
        case VarType::Boolean:
            return v.RawBoolean() ? 1.0 : 0.0;
        default:
            return v.RawDouble();
    }
}

}  // namespace

TQueryResult TakeResult(TSimpleDataset& dataset) {
    TQueryResult result;
    for (int i = 0; i < dataset.GetFieldCount(); ++i)
        result.fieldNames.push_back(dataset.GetFieldName(i));
    const int count = dataset.GetRecordCount();
    result.rows.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        result.rows.push_back(dataset.TakeRow(i));
    dataset.ClearRows();
    return result;
}

int CompareValues(const Variant& a, const Variant& b) {
    const bool aNone = a.IsEmpty() || a.IsNull(), bNone = b.IsEmpty() || b.IsNull();
    if (aNone || bNone) return aNone == bNone ? 0 : (aNone ? -1 : 1);
    if (a.type() == VarType::Integer && b.type() == VarType::Integer)
        return a.RawInteger() < b.RawInteger() ? -1 : (a.RawInteger() > b.RawInteger() ? 1 : 0);
    const bool aNum = IsNumberLike(a.type()), bNum = IsNumberLike(b.type());
    if (aNum && bNum) {
        double x = NumberOf(a), y = NumberOf(b);
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    if (aNum != bNum) return aNum ? -1 : 1;
    return a.RawString().compare(b.RawString()) < 0 ? -1 : (a.RawString() == b.RawString() ? 0 : 1);
}

TResultModel::TResultModel(QIcon folderIcon, QIcon fileIcon, QObject* parent)
    : QAbstractTableModel(parent),
      folderIcon_(std::move(folderIcon)),
      fileIcon_(std::move(fileIcon)) {}

void TResultModel::SetResult(TQueryResult result, const TColumnMaps& columns) {
    beginResetModel();
    result_ = std::move(result);
    captions_.clear();
    widths_.clear();
    isdirField_ = attriField_ = filenameField_ = pathField_ = -1;
    dirCaptionColumn_ = fileCaptionColumn_ = -1;
    for (size_t i = 0; i < result_.fieldNames.size(); ++i) {
        const int column = static_cast<int>(i);
        const std::string name = DisplayName(result_.fieldNames[i]);
        std::string caption = columns.Caption(name);
        if (caption.empty()) caption = name;
        captions_.push_back(caption);
        widths_.push_back(columns.Width(name));
        const std::string lower = LowerCaseAscii(name);
        if (lower == "isdir" && isdirField_ < 0) isdirField_ = column;
        if (lower == "attri" && attriField_ < 0) attriField_ = column;
        if (lower == "filename" && filenameField_ < 0) filenameField_ = column;
        if (lower == "path" && pathField_ < 0) pathField_ = column;
        if (caption == "目录" && dirCaptionColumn_ < 0) dirCaptionColumn_ = column;
        if (caption == "文件名" && fileCaptionColumn_ < 0) fileCaptionColumn_ = column;
    }
    endResetModel();
}

void TResultModel::Clear() {
    SetResult(TQueryResult{}, TColumnMaps{});
}

int TResultModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(result_.rows.size());
}

int TResultModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(captions_.size());
}

const Variant* TResultModel::Cell(int row, int column) const {
    if (row < 0 || row >= static_cast<int>(result_.rows.size()) || column < 0) return nullptr;
    const TSimpleRow& values = *result_.rows[static_cast<size_t>(row)];
    if (column >= static_cast<int>(values.size())) return nullptr;
    return &values[static_cast<size_t>(column)];
}

std::string TResultModel::CellText(int row, int column) const {
    const Variant* value = Cell(row, column);
    std::string text;
    if (value) value->AppendString(text);
    return text;
}

int TResultModel::IconIndex(int row) const {
    if (isdirField_ >= 0) {
        const Variant* value = Cell(row, isdirField_);
        bool isDir = false;
        return value && value->TryAsBoolean(isDir) && isDir ? 0 : 1;
    }
    if (attriField_ >= 0) {
        // Without an isdir field the directory bit of the attribute word
        // decides.
        const Variant* value = Cell(row, attriField_);
        int64_t attri = 0;
        return value && value->TryAsInteger(attri) && (attri & 16) ? 0 : 1;
    }
    return -1;
}

QVariant TResultModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    if (role == Qt::DisplayRole) return Q(CellText(index.row(), index.column()));
    if (role == Qt::DecorationRole && index.column() == 0) {
        switch (IconIndex(index.row())) {
            case 0:
                return folderIcon_;
            case 1:
                return fileIcon_;
            default:
                return {};
        }
    }
    return {};
}

QVariant TResultModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount()) return {};
    if (role == Qt::DisplayRole) return Q(captions_[static_cast<size_t>(section)]);
    if (role == Qt::ToolTipRole) return Q(result_.fieldNames[static_cast<size_t>(section)]);
    return {};
}

std::string TResultModel::CountText() const {
    return "个数：" + std::to_string(rowCount());
}

std::string TResultModel::Directory(int row) const {
    return dirCaptionColumn_ < 0 ? std::string() : CellText(row, dirCaptionColumn_);
}

std::string TResultModel::FileName(int row) const {
    return fileCaptionColumn_ < 0 ? std::string() : CellText(row, fileCaptionColumn_);
}

std::string TResultModel::FullName(int row) const {
    std::string dir = Directory(row), file = FileName(row);
    if (dir.empty() || file.empty()) return {};
    return dir.back() == '/' ? dir + file : dir + "/" + file;
}

void TResultModel::RemoveRowsAt(std::vector<int> rows) {
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    // From the bottom up, one contiguous range at a time.
    int i = static_cast<int>(rows.size()) - 1;
    while (i >= 0) {
        int last = rows[static_cast<size_t>(i)];
        if (last < 0 || last >= rowCount()) {
            --i;
            continue;
        }
        int first = last;
        while (i > 0 && rows[static_cast<size_t>(i - 1)] == first - 1) {
            --first;
            --i;
        }
        --i;
        beginRemoveRows(QModelIndex(), first, last);
        result_.rows.erase(result_.rows.begin() + first, result_.rows.begin() + last + 1);
        endRemoveRows();
    }
}

bool TResultModel::LessThan(int rowA, int rowB, int column) const {
    const Variant* a = Cell(rowA, column);
    const Variant* b = Cell(rowB, column);
    if (!a || !b) return a == nullptr && b != nullptr;
    return CompareValues(*a, *b) < 0;
}

bool TResultSortProxy::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    auto* model = qobject_cast<const TResultModel*>(sourceModel());
    if (!model) return QSortFilterProxyModel::lessThan(left, right);
    return model->LessThan(left.row(), right.row(), left.column());
}

}  // namespace corvane

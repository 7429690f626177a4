// U_resultModel: see U_resultModel.h.
#include "ui/U_resultModel.h"

#include <algorithm>
#include <numeric>
#include <set>

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

bool ContainsIgnoringAsciiCase(std::string_view text, std::string_view lowerNeedle) {
    if (lowerNeedle.empty()) return true;
    if (text.size() < lowerNeedle.size()) return false;
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    const size_t last = text.size() - lowerNeedle.size();
    for (size_t i = 0; i <= last; ++i) {
        if (lower(text[i]) != lowerNeedle[0]) continue;
        size_t k = 1;
        while (k < lowerNeedle.size() && lower(text[i + k]) == lowerNeedle[k])
            ++k;
        if (k == lowerNeedle.size()) return true;
    }
    return false;
}

TQueryResult TakeResult(TSimpleDataset& dataset) {
    TQueryResult result;
    for (int i = 0; i < dataset.GetFieldCount(); ++i) {
        result.fieldNames.push_back(dataset.GetFieldName(i));
        result.fieldTypes.push_back(dataset.GetFieldType(i));
    }
    const int count = dataset.GetRecordCount();
    result.rows.Reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        // A run stopped half-way through sorting may have left a row slot
        // empty; what is there is shown. Each engine row goes as soon as it
        // is copied, so the two forms are never held whole side by side.
        if (std::unique_ptr<TSimpleRow> row = dataset.TakeRow(i)) result.rows.Append(*row);
    dataset.ClearRows();
    result.rows.Finish();
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
    order_.resize(result_.rows.size());
    std::iota(order_.begin(), order_.end(), uint32_t(0));
    captions_.clear();
    sizeColumn_.clear();
    isdirField_ = attriField_ = filenameField_ = pathField_ = -1;
    dirCaptionColumn_ = fileCaptionColumn_ = -1;
    // Fields of more than one table: every caption keeps its table.
    std::set<std::string> tables;
    for (const std::string& field : result_.fieldNames)
        if (size_t dot = field.find('.'); dot != std::string::npos)
            tables.insert(LowerCaseAscii(field.substr(0, dot)));
    const bool qualify = tables.size() > 1;
    for (size_t i = 0; i < result_.fieldNames.size(); ++i) {
        const int column = static_cast<int>(i);
        const std::string& field = result_.fieldNames[i];
        const std::string name = DisplayName(field);
        std::string caption = columns.Caption(name);
        if (caption.empty()) caption = name;
        const std::string lower = LowerCaseAscii(name);
        if (lower == "isdir" && isdirField_ < 0) isdirField_ = column;
        if (lower == "attri" && attriField_ < 0) attriField_ = column;
        if (lower == "filename" && filenameField_ < 0) filenameField_ = column;
        if (lower == "path" && pathField_ < 0) pathField_ = column;
        if (caption == "目录" && dirCaptionColumn_ < 0) dirCaptionColumn_ = column;
        if (caption == "文件名" && fileCaptionColumn_ < 0) fileCaptionColumn_ = column;
        sizeColumn_.push_back(lower == "size");
        const size_t dot = field.find('.');
        if (qualify && dot != std::string::npos) caption = field.substr(0, dot + 1) + caption;
        captions_.push_back(std::move(caption));
    }
    endResetModel();
}

void TResultModel::SetDisplayOptions(TDisplayOptions options) {
    options_ = std::move(options);
    if (rowCount() > 0 && columnCount() > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

std::string TResultModel::WidthKey(int column) const {
    if (column < 0 || column >= columnCount()) return {};
    const std::string key =
        LowerCaseAscii(DisplayName(result_.fieldNames[static_cast<size_t>(column)]));
    if (key.empty() || key.rfind("compt_", 0) == 0) return {};
    if (key.find_first_of("=[];#\r\n") != std::string::npos || key != Trim(key)) return {};
    return key;
}

void TResultModel::Clear() {
    SetResult(TQueryResult{}, TColumnMaps{});
}

int TResultModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(order_.size());
}

int TResultModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(captions_.size());
}

bool TResultModel::Cell(int row, int column, Variant& out) const {
    if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount()) {
        out.Clear();
        return false;
    }
    return result_.rows.Get(order_[static_cast<size_t>(row)], static_cast<size_t>(column), out);
}

bool TResultModel::RowValues(int row, TSimpleRow& out) const {
    out.resize(static_cast<size_t>(columnCount()));
    if (row < 0 || row >= rowCount()) return false;
    for (int c = 0; c < columnCount(); ++c)
        Cell(row, c, out[static_cast<size_t>(c)]);
    return true;
}

std::string TResultModel::CellText(int row, int column) const {
    Variant value;
    std::string text;
    if (Cell(row, column, value)) value.AppendString(text);
    return text;
}

int TResultModel::IconIndex(int row) const {
    Variant value;
    if (isdirField_ >= 0) {
        bool isDir = false;
        return Cell(row, isdirField_, value) && value.TryAsBoolean(isDir) && isDir ? 0 : 1;
    }
    if (attriField_ >= 0) {
        // Without an isdir field the directory bit of the attribute word
        // decides.
        int64_t attri = 0;
        return Cell(row, attriField_, value) && value.TryAsInteger(attri) && (attri & 16) ? 0 : 1;
    }
    return -1;
}

QString TResultModel::DisplayCell(int row, int column) const {
    Variant value;
    if (!Cell(row, column, value)) return {};
    return DisplayText(value, sizeColumn_[static_cast<size_t>(column)] != 0, options_);
}

QVariant TResultModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    Variant cell;
    const Variant* value = Cell(index.row(), index.column(), cell) ? &cell : nullptr;
    switch (role) {
        case Qt::DisplayRole:
            return value
                       ? DisplayText(*value, sizeColumn_[static_cast<size_t>(index.column())] != 0,
                                     options_)
                       : QString();
        case RawTextRole:
            return value ? RawText(*value) : QString();
        case Qt::TextAlignmentRole:
            if (value && IsNumber(*value))
                return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
            return {};
        case Qt::ToolTipRole: {
            // The exact byte count behind a readable size; otherwise the
            // whole text of a cell the column may show elided.
            if (!value) return {};
            if (sizeColumn_[static_cast<size_t>(index.column())] && options_.humanSizes &&
                IsNumber(*value))
                return DisplayText(*value, false, options_) + QStringLiteral(" 字节");
            QString text = DisplayCell(index.row(), index.column());
            return text.isEmpty() ? QVariant() : QVariant(text);
        }
        case Qt::DecorationRole:
            if (index.column() != 0) return {};
            switch (IconIndex(index.row())) {
                case 0:
                    return folderIcon_;
                case 1:
                    return fileIcon_;
                default:
                    return {};
            }
        default:
            return {};
    }
}

bool TResultModel::RowContains(int row, const std::string& needle) const {
    if (needle.empty()) return true;
    if (row < 0 || row >= rowCount()) return false;
    const size_t stored = order_[static_cast<size_t>(row)];
    std::string raw;
    Variant value;
    for (int c = 0; c < columnCount(); ++c) {
        VarType kind;
        if (!result_.rows.Kind(stored, static_cast<size_t>(c), kind)) continue;
        if (kind == VarType::String) {
            // Texts show as they are: one search in their bytes.
            if (ContainsIgnoringAsciiCase(result_.rows.Text(stored, static_cast<size_t>(c)),
                                          needle))
                return true;
            continue;
        }
        result_.rows.Get(stored, static_cast<size_t>(c), value);
        raw.clear();
        value.AppendString(raw);
        if (ContainsIgnoringAsciiCase(raw, needle)) return true;
        const std::string shown = DisplayCell(row, c).toStdString();
        if (ContainsIgnoringAsciiCase(shown, needle)) return true;
    }
    return false;
}

namespace {

// A field of tab-separated text: quoted (as in CSV) only when it would
// otherwise break the line or the columns.
void AppendTsvField(std::string& out, const std::string& text) {
    if (text.find_first_of("\t\r\n\"") == std::string::npos) {
        out += text;
        return;
    }
    out += '"';
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

}  // namespace

std::string TResultModel::CopyText(const std::vector<int>& rows) const {
    std::string out;
    for (int c = 0; c < columnCount(); ++c) {
        if (c > 0) out += '\t';
        AppendTsvField(out, result_.fieldNames[static_cast<size_t>(c)]);
    }
    out += '\n';
    for (int row : rows) {
        if (row < 0 || row >= rowCount()) continue;
        for (int c = 0; c < columnCount(); ++c) {
            if (c > 0) out += '\t';
            AppendTsvField(out, CellText(row, c));
        }
        out += '\n';
    }
    return out;
}

std::string TResultModel::CopyFullNames(const std::vector<int>& rows) const {
    std::string out;
    for (int row : rows) {
        if (row < 0 || row >= rowCount()) continue;
        std::string full = FullName(row);
        if (full.empty()) continue;
        out += full;
        out += '\n';
    }
    return out;
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
        // Only the shown list loses them; the store keeps their values
        // until the next result replaces it.
        beginRemoveRows(QModelIndex(), first, last);
        order_.erase(order_.begin() + first, order_.begin() + last + 1);
        endRemoveRows();
    }
}

bool TResultModel::LessThan(int rowA, int rowB, int column) const {
    Variant a, b;
    const bool hasA = Cell(rowA, column, a), hasB = Cell(rowB, column, b);
    if (!hasA || !hasB) return !hasA && hasB;
    return CompareValues(a, b) < 0;
}

void TResultModel::SortBy(int column, Qt::SortOrder order) {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    // Persistent indexes (the selection, the current row) follow their
    // stored rows.
    const QModelIndexList persistent = persistentIndexList();
    std::vector<uint32_t> stored;
    stored.reserve(static_cast<size_t>(persistent.size()));
    for (const QModelIndex& index : persistent)
        stored.push_back(order_[static_cast<size_t>(index.row())]);
    const bool descending = order == Qt::DescendingOrder;
    if (column < 0) {
        std::sort(order_.begin(), order_.end());
        if (descending) std::reverse(order_.begin(), order_.end());
    } else if (column < columnCount()) {
        result_.rows.SortRows(order_, static_cast<size_t>(column), descending);
    }
    if (!persistent.isEmpty()) {
        std::vector<int> shownAt(result_.rows.size(), -1);
        for (size_t i = 0; i < order_.size(); ++i)
            shownAt[order_[i]] = static_cast<int>(i);
        QModelIndexList moved;
        moved.reserve(persistent.size());
        for (qsizetype i = 0; i < persistent.size(); ++i)
            moved.push_back(index(shownAt[stored[static_cast<size_t>(i)]], persistent[i].column()));
        changePersistentIndexList(persistent, moved);
    }
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void TResultSortProxy::SetFilterText(const QString& text) {
    const std::string needle = LowerCaseAscii(text.trimmed().toStdString());
    if (needle == needle_) return;
    needle_ = needle;
    invalidateFilter();
}

bool TResultSortProxy::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const {
    if (needle_.empty() || sourceParent.isValid()) return true;
    auto* model = qobject_cast<const TResultModel*>(sourceModel());
    return !model || model->RowContains(sourceRow, needle_);
}

void TResultSortProxy::sort(int column, Qt::SortOrder order) {
    if (auto* model = qobject_cast<TResultModel*>(sourceModel()))
        model->SortBy(column, order);
    else
        QSortFilterProxyModel::sort(column, order);
}

bool TResultSortProxy::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    auto* model = qobject_cast<const TResultModel*>(sourceModel());
    if (!model) return QSortFilterProxyModel::lessThan(left, right);
    return model->LessThan(left.row(), right.row(), left.column());
}

}  // namespace corvane

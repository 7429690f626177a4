// U_dirTree: see U_dirTree.h.
#include "ui/U_dirTree.h"

namespace corvane {

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

}  // namespace

TDirTreeModel::TDirTreeModel(const TColumnMaps& columns, QIcon folderIcon, QIcon fileIcon,
                             QObject* parent)
    : QStandardItemModel(parent),
      columns_(columns),
      folderIcon_(std::move(folderIcon)),
      fileIcon_(std::move(fileIcon)) {
    auto* root = new QStandardItem(QStringLiteral("root"));  // owned by the model
    root->setData(nkRoot, KindRole);
    root->setEditable(false);
    root->setDragEnabled(false);
    root->setDropEnabled(false);
    appendRow(root);
}

QStandardItem* TDirTreeModel::RootItem() const {
    return item(0);
}

QModelIndex TDirTreeModel::RootIndex() const {
    return index(0, 0);
}

TDirTreeModel::NodeKind TDirTreeModel::KindOf(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != this) return nkNone;
    return static_cast<NodeKind>(index.data(KindRole).toInt());
}

int TDirTreeModel::TableRowOf(const QModelIndex& index) const {
    switch (KindOf(index)) {
        case nkTable:
            return index.row();
        case nkColumn:
            return index.parent().row();
        default:
            return -1;
    }
}

QModelIndex TDirTreeModel::TableIndex(int row) const {
    return index(row, 0, RootIndex());
}

int TDirTreeModel::TableCount() const {
    return RootItem()->rowCount();
}

TTreeTable TDirTreeModel::Table(int row) const {
    QStandardItem* node = RootItem()->child(row);
    if (!node) return {};
    return {node->text().toStdString(), node->data(OptionRole).value<TFileDirOption>()};
}

std::vector<TTreeTable> TDirTreeModel::Tables() const {
    std::vector<TTreeTable> tables;
    for (int row = 0; row < TableCount(); ++row)
        tables.push_back(Table(row));
    return tables;
}

std::string TDirTreeModel::NextAlias() const {
    for (char c = 'a'; c <= 'z'; ++c) {
        const QString lower(QChar::fromLatin1(c));
        const QString upper = lower.toUpper();
        bool used = false;
        for (int row = 0; row < TableCount() && !used; ++row) {
            const QString text = RootItem()->child(row)->text();
            used = text == lower || text == upper;
        }
        if (!used) return std::string(1, c);
    }
    return "z";
}

QModelIndex TDirTreeModel::AddTable(const TFileDirOption& option, std::string alias) {
    if (alias.empty()) alias = NextAlias();
    auto* node = new QStandardItem(folderIcon_, Q(alias));  // owned by the model
    node->setData(nkTable, KindRole);
    node->setData(QVariant::fromValue(option), OptionRole);
    node->setToolTip(Q(option.path));
    node->setEditable(false);
    node->setDropEnabled(false);
    for (const auto& [name, caption] : columns_.CaptionEntries()) {
        auto* column = new QStandardItem(fileIcon_, Q(caption + "(" + name + ")"));
        column->setData(nkColumn, KindRole);
        column->setEditable(false);
        column->setDropEnabled(false);
        node->appendRow(column);
    }
    RootItem()->appendRow(node);
    return node->index();
}

void TDirTreeModel::SetOption(int row, const TFileDirOption& option) {
    QStandardItem* node = RootItem()->child(row);
    if (!node) return;
    node->setData(QVariant::fromValue(option), OptionRole);
    node->setToolTip(Q(option.path));
}

void TDirTreeModel::RemoveTable(int row) {
    if (row >= 0 && row < TableCount()) RootItem()->removeRow(row);
}

void TDirTreeModel::ClearTables() {
    if (TableCount() > 0) RootItem()->removeRows(0, TableCount());
}

std::string TDirTreeModel::ScriptFor(const QModelIndex& index) const {
    switch (KindOf(index)) {
        case nkRoot:
            return ScriptForRoot(Tables());
        case nkTable:
            return ScriptForTable(Table(index.row()));
        case nkColumn:
            return ScriptForColumn(Table(index.parent().row()),
                                   ColumnOfNodeText(index.data().toString().toStdString()));
        default:
            return {};
    }
}

std::string TDirTreeModel::DuplicateScriptFor(const QModelIndex& index) const {
    if (KindOf(index) != nkTable) return {};
    return DuplicateScriptForTable(Table(index.row()));
}

std::string TDirTreeModel::DragTextFor(const QModelIndex& index, bool expanded) const {
    switch (KindOf(index)) {
        case nkTable: {
            if (!expanded) return DragTextForTable(Table(index.row()).alias);
            std::vector<std::string> names;
            for (int r = 0; r < rowCount(index); ++r)
                names.push_back(
                    ColumnOfNodeText(this->index(r, 0, index).data().toString().toStdString()));
            return DragTextForExpandedTable(names);
        }
        case nkColumn:
            return DragTextForColumn(Table(index.parent().row()).alias,
                                     ColumnOfNodeText(index.data().toString().toStdString()));
        default:
            return {};
    }
}

}  // namespace corvane

// U_dirTree: the directory tree's model.
//
// Three levels: the root node "root"; under it one node per directory table
// (text = alias, data = its TFileDirOption, folder icon, hint = its path);
// under each of those one node per column ("目录(path)", file icon). The
// model owns the records: they live in the nodes and go with them.
//
// The model decides aliases, builds the nodes, and answers what "generate
// script" and a drag produce for a node (through U_scriptGen). The view, its
// context menu and the drag gesture are the main window's.
#pragma once

#include <QIcon>
#include <QStandardItemModel>
#include <string>
#include <vector>

#include "ui/U_columns.h"
#include "ui/U_dirText.h"
#include "ui/U_scriptGen.h"

namespace corvane {

class TDirTreeModel : public QStandardItemModel {
    Q_OBJECT
  public:
    enum NodeKind { nkNone, nkRoot, nkTable, nkColumn };
    // Item data roles.
    static constexpr int KindRole = Qt::UserRole + 1;
    static constexpr int OptionRole = Qt::UserRole + 2;
    // The mime type of a drag that starts in the tree.
    static constexpr const char* kDragMimeType = "application/x-corvane-tree-text";

    TDirTreeModel(const TColumnMaps& columns, QIcon folderIcon, QIcon fileIcon,
                  QObject* parent = nullptr);

    QModelIndex RootIndex() const;
    NodeKind KindOf(const QModelIndex& index) const;
    // The table row (0-based, in tree order) of a directory or column node;
    // -1 for anything else.
    int TableRowOf(const QModelIndex& index) const;
    QModelIndex TableIndex(int row) const;

    int TableCount() const;
    TTreeTable Table(int row) const;
    std::vector<TTreeTable> Tables() const;

    // The first letter a..z that neither in lower nor in upper case is the
    // text of a directory node; "z" when all are taken.
    std::string NextAlias() const;
    // Adds a directory node (an empty alias gets NextAlias) with its column
    // nodes and returns its index.
    QModelIndex AddTable(const TFileDirOption& option, std::string alias = {});
    void SetOption(int row, const TFileDirOption& option);
    void RemoveTable(int row);
    void ClearTables();

    // The statement "generate script" makes for a node; empty when the
    // node is not one of the three kinds.
    std::string ScriptFor(const QModelIndex& index) const;
    // The duplicate report of a directory node; empty for any other node.
    std::string DuplicateScriptFor(const QModelIndex& index) const;
    // The text a drag of the node inserts; expanded tells whether a
    // directory node is shown open. Empty for the root.
    std::string DragTextFor(const QModelIndex& index, bool expanded) const;

  private:
    QStandardItem* RootItem() const;

    const TColumnMaps& columns_;
    QIcon folderIcon_;
    QIcon fileIcon_;
};

}  // namespace corvane

Q_DECLARE_METATYPE(corvane::TFileDirOption)

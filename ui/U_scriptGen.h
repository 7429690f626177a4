// U_scriptGen: SQL text made from the directory tree.
//
// "Generate script" writes a whole statement for the selected tree node,
// "find duplicate files" the duplicate report for a directory node;
// dragging a node into the editor inserts a fragment (column names, an
// alias, or alias.column). Both only need the aliases, the table texts and
// the column names, so they are plain functions over those; the tree model
// (U_dirTree) supplies them and the main window puts the text in the editor.
//
// Line breaks are "\n", the editor's line end on this platform; the project
// file writes them as CR LF.
#pragma once

#include <string>
#include <vector>

#include "ui/U_dirText.h"

namespace corvane {

struct TTreeTable {
    std::string alias;
    TFileDirOption option;
};

// Root node: select a.*,b.* / from <table a> a,<table b> b.
std::string ScriptForRoot(const std::vector<TTreeTable>& tables);
// Directory node: select * / from <table> alias.
std::string ScriptForTable(const TTreeTable& table);
// Column node: select column / from <table> alias.
std::string ScriptForColumn(const TTreeTable& table, const std::string& column);
// "Find duplicate files" on a directory node: one row per set of files with
// the same content (xxh128 digest), how many and their bytes, the most
// bytes first.
std::string DuplicateScriptForTable(const TTreeTable& table);

// The column name of a column node's text "caption(name)": the text between
// the first "(" and the final character.
std::string ColumnOfNodeText(const std::string& nodeText);

// Drag texts, each surrounded by single spaces.
// An expanded directory node: its column names joined by ",".
std::string DragTextForExpandedTable(const std::vector<std::string>& columns);
// A collapsed directory node: its alias.
std::string DragTextForTable(const std::string& alias);
// A column node: alias.column.
std::string DragTextForColumn(const std::string& alias, const std::string& column);

}  // namespace corvane

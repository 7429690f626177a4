// U_scriptGen: see U_scriptGen.h.
#include "ui/U_scriptGen.h"

namespace corvane {

namespace {

std::string Reference(const TTreeTable& table) {
    return FormatDirOption(table.option) + " " + table.alias;
}

}  // namespace

std::string ScriptForRoot(const std::vector<TTreeTable>& tables) {
    std::string select, from;
    for (const TTreeTable& table : tables) {
        if (!select.empty()) select += ",";
        select += table.alias + ".*";
        if (!from.empty()) from += ",";
        from += Reference(table);
    }
    return "select " + select + "\nfrom " + from;
}

std::string ScriptForTable(const TTreeTable& table) {
    return "select * \nfrom " + Reference(table);
}

std::string ScriptForColumn(const TTreeTable& table, const std::string& column) {
    return "select " + column + "\nfrom " + Reference(table);
}

std::string DuplicateScriptForTable(const TTreeTable& table) {
    return "select xxh128(path, filename) h, count(*) n, sum(size) bytes\nfrom " +
           Reference(table) + "\nwhere size > 0\ngroup by h having n > 1\norder by bytes desc";
}

std::string ColumnOfNodeText(const std::string& nodeText) {
    size_t open = nodeText.find('(');
    if (open == std::string::npos || nodeText.size() < open + 2) return {};
    return nodeText.substr(open + 1, nodeText.size() - open - 2);
}

std::string DragTextForExpandedTable(const std::vector<std::string>& columns) {
    std::string text;
    for (const std::string& column : columns) {
        if (!text.empty()) text += ",";
        text += column;
    }
    return " " + text + " ";
}

std::string DragTextForTable(const std::string& alias) {
    return " " + alias + " ";
}

std::string DragTextForColumn(const std::string& alias, const std::string& column) {
    return " " + alias + "." + column + " ";
}

}  // namespace corvane

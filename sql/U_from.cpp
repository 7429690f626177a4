#include "sql/U_from.h"

#include <algorithm>

#include "platform/Text.h"
#include "script/common/U_err.h"
#include "script/common/qv_consts.h"
#include "script/common/u_functions_consts.h"
#include "sql/UVeskEngineBase.h"

namespace corvane {

int TFromClause::IndexOfTable(std::string_view name) const {
    for (size_t i = 0; i < tables_.size(); ++i)
        if (SameTextAscii(tables_[i].tableText, name) || SameTextAscii(tables_[i].alias, name))
            return static_cast<int>(i);
    return -1;
}

bool TFromClause::FindColumn(std::string_view name, int& table, int& field) const {
    table = field = -1;
    // The first dot outside quotes, so that a quoted table text holding a
    // dot (a directory such as '/srv/a.b') still qualifies its columns.
    const int dot = PosOutsideQuotes(".", name, 1);
    if (dot == 0) {
        const std::string key(name);
        for (size_t i = 0; i < tables_.size(); ++i) {
            if (!tables_[i].dataset) continue;
            int f = tables_[i].dataset->FieldIndex(key);
            if (f >= 0) {
                table = static_cast<int>(i);
                field = f;
                return true;
            }
        }
        return false;
    }
    int t = IndexOfTable(name.substr(0, static_cast<size_t>(dot - 1)));
    if (t < 0 || !tables_[static_cast<size_t>(t)].dataset) return false;
    int f = tables_[static_cast<size_t>(t)].dataset->FieldIndex(
        std::string(name.substr(static_cast<size_t>(dot))));
    if (f < 0) return false;
    table = t;
    field = f;
    return true;
}

namespace {

// The column a name of other tools stands for; empty when none.
std::string_view SynonymOf(std::string_view name) {
    static const struct {
        std::string_view synonym, column;
    } kSynonyms[] = {
        {"name", "filename"},       {"ext", "extension"},        {"modified", "lastwritetime"},
        {"mtime", "lastwritetime"}, {"created", "creationtime"}, {"accessed", "lastaccesstime"},
        {"is_dir", "isdir"}};
    for (const auto& s : kSynonyms)
        if (SameTextAscii(s.synonym, name)) return s.column;
    return {};
}

}  // namespace

bool TFromClause::FindColumnParts(std::string_view qualifier, std::string_view name, int& table,
                                  int& field) const {
    table = field = -1;
    auto findIn = [&](size_t t, std::string_view n) {
        if (!tables_[t].dataset) return false;
        const int f = tables_[t].dataset->FieldIndex(std::string(n));
        if (f < 0) return false;
        table = static_cast<int>(t);
        field = f;
        return true;
    };
    auto find = [&](std::string_view n) {
        if (!qualifier.empty()) {
            const int t = IndexOfTable(qualifier);
            return t >= 0 && findIn(static_cast<size_t>(t), n);
        }
        for (size_t t = 0; t < tables_.size(); ++t)
            if (findIn(t, n)) return true;
        return false;
    };
    if (find(name)) return true;
    const std::string_view column = SynonymOf(name);
    return !column.empty() && find(column);
}

int TFromClause::CountTablesWithField(std::string_view name) const {
    const std::string key(name);
    int count = 0;
    for (const TFromTable& t : tables_)
        if (t.dataset && t.dataset->FieldIndex(key) >= 0) ++count;
    return count;
}

void TFromClause::Prepare() {
    buffers_.resize(tables_.size());
    used_.resize(tables_.size());
    for (size_t i = 0; i < tables_.size(); ++i) {
        TFromTable& t = tables_[i];
        t.fieldCount = t.dataset ? t.dataset->GetFieldCount() : 0;
        if (t.fieldCount < 0) t.fieldCount = 0;
        buffers_[i].resize(static_cast<size_t>(t.fieldCount));
    }
}

void TFromClause::MarkUsed(int table, int field) {
    if (table < 0 || field < 0) return;
    if (used_.size() < tables_.size()) used_.resize(tables_.size());
    std::vector<int>& u = used_[static_cast<size_t>(table)];
    auto it = std::lower_bound(u.begin(), u.end(), field);
    if (it == u.end() || *it != field) u.insert(it, field);
}

void TFromClause::LoadRow(int table) {
    IXSimpleDataset& ds = *tables_[static_cast<size_t>(table)].dataset;
    TARecord& buffer = buffers_[static_cast<size_t>(table)];
    for (int f : used_[static_cast<size_t>(table)])
        if (static_cast<size_t>(f) < buffer.size())
            ds.GetFieldValue(f, buffer[static_cast<size_t>(f)]);
}

void TFromClause::PositionAndLoad(int table, int recNo) {
    tables_[static_cast<size_t>(table)].dataset->SetRecNo(recNo);
    LoadRow(table);
}

void TFromClause::ReportError(const std::string& message) {
    engine_.Errors().Add(message);
}

std::string TFromClause::GetDeclarations() {
    TVarDeclareList list;
    TParamList& params = engine_.Params();
    for (int i = 0; i < params.Count(); ++i)
        list.Add(params.Item(i).internalName, params.Item(i).typeName);
    for (const TFromTable& t : tables_) {
        if (!t.dataset) continue;
        const std::string dsName = t.dataset->GetName();
        const bool dsNameUsable = IsIdentifier(dsName);
        const int count = t.dataset->GetFieldCount();
        for (int f = 0; f < count; ++f) {
            const std::string field = t.dataset->GetFieldName(f);
            const std::string type = t.dataset->GetFieldType(f);
            list.Add(field, type);
            if (dsNameUsable) list.Add(dsName + "." + field, type);
            if (!t.alias.empty()) list.Add(t.alias + "." + field, type);
        }
    }
    return list.ToText();
}

const TSqlContext& TFromClause::Context() {
    return engine_.SqlContext();
}

bool TFromClause::Cancelled() {
    IProgress* progress = engine_.Progress();
    return progress && progress->Cancelled();
}

bool TFromClause::Resolve(const std::string& name, int tag, TOperandRef& ref) {
    TOperandRef r;
    r.tag = tag;
    int index = engine_.Params().IndexOfName(name);
    if (index >= 0) {
        r.paramIndex = index;
        ref = r;
        return true;
    }
    int table, field;
    if (FindColumn(name, table, field)) {
        r.tableIndex = table;
        r.fieldIndex = field;
        MarkUsed(table, field);
        ref = r;
        return true;
    }
    ReportError(FormatMsg(sqlmsg::UnknownName, name));
    return false;
}

const Variant& TFromClause::GetValue(const TOperandRef& ref) {
    if (ref.tableIndex >= 0) {
        if (static_cast<size_t>(ref.tableIndex) < buffers_.size()) {
            const TARecord& b = buffers_[static_cast<size_t>(ref.tableIndex)];
            if (ref.fieldIndex >= 0 && static_cast<size_t>(ref.fieldIndex) < b.size())
                return b[static_cast<size_t>(ref.fieldIndex)];
        }
        return empty_;
    }
    if (ref.paramIndex >= 0 && ref.paramIndex < engine_.Params().Count())
        return engine_.Params().Item(ref.paramIndex).value;
    return empty_;
}

}  // namespace corvane

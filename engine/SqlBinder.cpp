#include "engine/SqlBinder.h"

#include <algorithm>
#include <string>
#include <vector>

#include "engine/UVeskEngine.h"
#include "platform/Text.h"
#include "script/common/U_err.h"
#include "script/common/qv_consts.h"
#include "script/common/u_functions_consts.h"
#include "sql/SqlMessages.h"
#include "sql/SqlStatement.h"

namespace corvane {

namespace {

// The 1-based position of the first whole-word occurrence of name outside
// quotes in text, letter case ignored; 1 when there is none.
int WordPosition(std::string_view text, std::string_view name) {
    const std::string lower = LowerCaseAscii(text);
    const std::string key = LowerCaseAscii(name);
    const int len = static_cast<int>(key.size());
    for (int p = PosOutsideQuotes(key, lower, 1); p > 0 && len > 0;
         p = PosOutsideQuotes(key, lower, p + 1))
        if (IsWholeWord(lower, p, p + len - 1)) return p;
    return 1;
}

void CopyOperand(const TParsedOperand& from, TROperandDef& to) {
    to.text = from.text;
    to.textPos = from.textPos;
    to.textMap = from.textMap;
}

}  // namespace

void BuildConditionTree(const TParsedCondition& parsed, TBoolNode& node) {
    const TParsedCondition* from = &parsed;
    TBoolNode* to = &node;
    while (true) {
        if (from->relation) {
            const TParsedRelation& p = *from->relation;
            to->relation = std::make_unique<TRelaSimpleExpr>();
            TRelaSimpleExpr& r = *to->relation;
            r.op = p.op;
            r.text = p.text;
            CopyOperand(p.left, *r.left);
            CopyOperand(p.right, *r.right);
            if (p.upper) {
                r.upper = std::make_unique<TROperandDef>();
                CopyOperand(*p.upper, *r.upper);
            }
        }
        if (from->group) {
            to->group = std::make_unique<TOrNodeList>();
            for (const std::unique_ptr<TParsedCondition>& entry : *from->group) {
                auto head = std::make_unique<TBoolNode>();
                BuildConditionTree(*entry, *head);
                to->group->Add(std::move(head));
            }
        }
        to->negated = from->negated;
        to->isLiteral = from->isLiteral;
        to->literal = from->literal;
        if (!from->next) return;
        to->next = std::make_unique<TBoolNode>();
        to = to->next.get();
        from = from->next.get();
    }
}

void TStatementBinder::Bind() {
    BuildClauses();
    if (BindTables()) {
        BindWhere();
        BindSelectList();
    }
}

void TStatementBinder::BuildClauses() {
    TFromClause& from = engine_.FromClause();
    for (const TParsedTable& p : statement_.from) {
        TFromTable& table = from.AddTable();
        table.itemText = p.itemText;
        table.tableText = p.tableText;
        table.alias = p.alias;
        table.bracketed = p.bracketed;
        table.textPos = p.textPos;
    }
    TSelectClause& clause = engine_.SelectEnv().Clause();
    clause.topCount = statement_.topCount;
    clause.distinct = statement_.distinct;
    for (const TParsedSelectItem& p : statement_.items) {
        TSelectField& item = clause.Insert(std::string(), -1);
        item.text = p.text;
        item.outputName = p.outputName;
        item.starKind = p.starKind;
        item.textPos = p.textPos;
    }
    TBoolNode& root = engine_.WhereRoot();
    if (statement_.where) BuildConditionTree(*statement_.where, root);
    TOrderClause& order = engine_.OrderClause();
    orderPos_.clear();
    for (const TParsedOrderItem& p : statement_.orderBy)
        if (order.Add(p.name, p.descending)) orderPos_.push_back(p.textPos);
}

bool TStatementBinder::BindTables() {
    TFromClause& from = engine_.FromClause();
    bool ok = true;
    for (int i = 0; i < from.Count(); ++i) {
        TFromTable& t = from.Table(i);
        if (t.bracketed) continue;
        t.dataset = t.tableText.empty() ? nullptr : engine_.DataBases().FindDataset(t.tableText);
        if (!t.dataset) {
            engine_.Errors().Add(FormatMsg(sqlmsg::NotATable, t.tableText), t.textPos);
            ok = false;
        }
    }
    if (ok) from.Prepare();
    return ok;
}

void TStatementBinder::BindWhere() {
    TFromClause& from = engine_.FromClause();
    TBoolNode& root = engine_.WhereRoot();
    if (root.group) {
        // Every relation of the tree, without recursion over chains.
        std::vector<TOrNodeList*> groups{root.group.get()};
        while (!groups.empty()) {
            TOrNodeList* g = groups.back();
            groups.pop_back();
            for (int i = 0; i < g->Count(); ++i)
                for (TBoolNode* n = g->Item(i); n; n = n->next.get()) {
                    if (n->group) groups.push_back(n->group.get());
                    if (!n->relation) continue;
                    TRelaSimpleExpr& r = *n->relation;
                    for (TROperandDef* op : {r.left.get(), r.right.get(), r.upper.get()}) {
                        if (!op) continue;
                        op->source = &from;
                        BindOperand(*op, op == r.right.get() && r.op == roIn, true);
                    }
                    r.CollectTables();
                }
        }
        Normalize(*root.group);
        engine_.WhereObj().Build(*root.group, from.Count());
    } else {
        engine_.WhereObj().Build(TOrNodeList(), from.Count());
    }
}

// Binds one operand and reports its messages where it stands: all of them
// (reportAll) or only an expression's own (select items: a name that does
// not resolve reports itself through the FROM clause).
void TStatementBinder::BindOperand(TROperandDef& op, bool inList, bool reportAll) {
    TmyErrorMng& errors = engine_.Errors();
    const int before = errors.Count();
    op.Bind(inList);
    // The value source reports a name it cannot resolve without knowing
    // where the name stood.
    for (int i = before; i < errors.Count(); ++i)
        if (errors.Position(i) == 0) errors.SetPosition(i, op.StatementPos(1));
    if (!reportAll && op.kind != okExpression) return;
    for (const TTextMessage& m : op.messages)
        errors.Add(m.text, op.StatementPos(m.position));
}

void TStatementBinder::BindSelectList() {
    TFromClause& from = engine_.FromClause();
    TSelectClause& clause = engine_.SelectEnv().Clause();
    auto fieldsOf = [&](int t) {
        std::vector<std::string> texts;
        const TFromTable& table = from.Table(t);
        if (!table.dataset) return texts;
        const int count = table.dataset->GetFieldCount();
        for (int f = 0; f < count; ++f)
            texts.push_back(table.alias + "." + table.dataset->GetFieldName(f));
        return texts;
    };
    // 1. table stars
    for (int i = clause.Count() - 1; i >= 0; --i) {
        if (clause.Item(i).starKind != skTableStar) continue;
        const std::string text = clause.Item(i).text;
        const int dot = PosOutsideQuotes(".", text, 1);
        const std::string name = text.substr(0, static_cast<size_t>(std::max(0, dot - 1)));
        const int t = from.IndexOfTable(name);
        if (t < 0) {
            engine_.Errors().Add(std::string(sqlmsg::NoSuchTable) + name, clause.Item(i).textPos);
            return;
        }
        clause.Remove(i);
        const std::vector<std::string> texts = fieldsOf(t);
        for (size_t k = 0; k < texts.size(); ++k)
            clause.Insert(texts[k], i + static_cast<int>(k));
    }
    // 2. stars: every table inserted at the item's place in turn, so the
    // last FROM table's fields come first.
    for (int i = clause.Count() - 1; i >= 0; --i) {
        if (clause.Item(i).starKind != skStar) continue;
        clause.Remove(i);
        for (int t = 0; t < from.Count(); ++t) {
            const std::vector<std::string> texts = fieldsOf(t);
            for (size_t k = 0; k < texts.size(); ++k)
                clause.Insert(texts[k], i + static_cast<int>(k));
        }
    }
    // 3. ORDER BY columns refer to a select item, appended when missing.
    // A bare column name also finds the one item that selects it under a
    // table's alias ("order by size" after "select *" is a.size), so the
    // column is not added a second time.
    auto QualifiedItemFor = [&](const std::string& name) {
        if (name.find('.') != std::string::npos) return -1;
        const std::string key = NormalizeName(name);
        int found = -1;
        std::string foundText;
        for (int i = 0; i < clause.Count(); ++i) {
            const std::string text = NormalizeName(clause.Item(i).text);
            for (int t = 0; t < from.Count(); ++t) {
                if (text != NormalizeName(from.Table(t).alias) + "." + key) continue;
                if (found < 0) {
                    found = i;
                    foundText = text;
                } else if (text != foundText) {
                    return -1;  // selected from more than one table: ambiguous
                }
            }
        }
        return found;
    };
    TOrderClause& order = engine_.OrderClause();
    for (int k = 0; k < order.Count(); ++k) {
        TOrderItem& item = order.Item(k);
        int index = clause.IndexOfName(item.name);
        if (index < 0) index = QualifiedItemFor(item.name);
        if (index < 0) {
            TSelectField& added = clause.Insert(std::string(), -1);
            added.text = item.name;
            if (static_cast<size_t>(k) < orderPos_.size())
                added.textPos = orderPos_[static_cast<size_t>(k)];
            index = clause.Count() - 1;
        }
        item.column = index;
    }
    // 4. bind every item. Only an expression's own failure is reported
    // here: unknown names report themselves through the FROM clause.
    for (int i = 0; i < clause.Count(); ++i) {
        TSelectField& item = clause.Item(i);
        item.source = &from;
        BindOperand(item, false, false);
    }
    // 5. ambiguous names in expressions. The check reports one message per
    // ambiguous name, items from the last to the first; the same walk here
    // tells where each name stands.
    const int before = engine_.Errors().Count();
    engine_.SelectEnv().CheckAmbiguity();
    int next = before;
    for (int i = clause.Count() - 1; i >= 0 && next < engine_.Errors().Count(); --i) {
        TSelectField& item = clause.Item(i);
        if (item.kind != okExpression || !item.expr) continue;
        const auto& refs = item.expr->VarRefs();
        const auto& names = item.expr->VarNames();
        for (size_t k = 0; k < refs.size() && k < names.size(); ++k) {
            if (refs[k].tableIndex < 0 || from.CountTablesWithField(names[k]) <= 1) continue;
            if (next >= engine_.Errors().Count()) break;
            engine_.Errors().SetPosition(next++,
                                         item.StatementPos(WordPosition(item.text, names[k])));
        }
    }
    // 6. output names
    for (int i = clause.Count() - 1; i >= 0; --i) {
        TSelectField& item = clause.Item(i);
        if (!item.outputName.empty()) continue;
        if (item.kind == okConstant || item.kind == okExpression)
            item.outputName = "compt_" + std::to_string(engine_.NextId());
        else
            item.outputName = item.text;
    }
    // 7. type names
    for (int i = clause.Count() - 1; i >= 0; --i) {
        TSelectField& item = clause.Item(i);
        switch (item.kind) {
            case okConstant:
                item.typeName = std::string(TypeNameOf(item.literalType));
                break;
            case okParameter:
                item.typeName =
                    item.ref.paramIndex >= 0 && item.ref.paramIndex < engine_.Params().Count()
                        ? engine_.Params().Item(item.ref.paramIndex).typeName
                        : std::string();
                break;
            case okColumn:
                item.typeName =
                    from.Table(item.ref.tableIndex).dataset->GetFieldType(item.ref.fieldIndex);
                break;
            case okExpression:
                item.typeName = "any";
                break;
        }
    }
}

}  // namespace corvane

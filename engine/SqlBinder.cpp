#include "engine/SqlBinder.h"

#include <algorithm>
#include <string>
#include <vector>

#include "engine/UVeskEngine.h"
#include "platform/Text.h"
#include "script/common/U_err.h"
#include "script/common/qv_consts.h"
#include "script/common/u_functions_consts.h"
#include "sql/QuoteScanner.h"
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

// Trims op's text as Bind does, keeping its place in the statement in step.
void TrimOperand(TROperandDef& op) {
    const std::string_view trimmed = TrimView(op.text);
    if (trimmed.size() == op.text.size()) return;
    const size_t lead = trimmed.empty() ? 0 : static_cast<size_t>(trimmed.data() - op.text.data());
    if (!op.textMap.empty())
        op.textMap.erase(
            op.textMap.begin(),
            op.textMap.begin() + static_cast<std::ptrdiff_t>(std::min(lead, op.textMap.size())));
    else if (op.textPos > 0)
        op.textPos += static_cast<int>(lead);
    op.text = std::string(trimmed);
    if (op.textMap.size() > op.text.size()) op.textMap.resize(op.text.size());
}

// A part of op's text as an operand of its own, with its place.
void SubOperand(const TROperandDef& op, size_t start, size_t length, TROperandDef& part) {
    part.text = op.text.substr(start, length);
    part.textMap.clear();
    part.textPos = 0;
    if (!op.textMap.empty()) {
        for (size_t i = start; i < start + length && i < op.textMap.size(); ++i)
            part.textMap.push_back(op.textMap[i]);
        if (!part.textMap.empty()) part.textPos = part.textMap.front();
    } else if (op.textPos > 0) {
        part.textPos = op.StatementPos(static_cast<int>(start) + 1);
    }
}

bool IsWordChar(char c) {
    return !IsSeparator(c);
}

// text with letters outside quotes in lower case and blanks outside quotes
// dropped, except one between two words ("Size  DIV 1024" and "size div
// 1024" read alike, so do "max( x )" and "max(x)"). map, when given,
// receives the index in text of every byte of the result.
std::string CanonicalText(std::string_view text, std::vector<size_t>* map) {
    std::string out;
    if (map) map->clear();
    TQuoteScanner scan;
    bool pendingBlank = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool quoted = scan.Step(c) == TQuoteScanner::TByte::Quoted;
        if (!quoted && IsStatementBlank(c)) {
            pendingBlank = true;
            continue;
        }
        if (pendingBlank && !out.empty() && IsWordChar(out.back()) && IsWordChar(c) && !quoted) {
            out.push_back(' ');
            if (map) map->push_back(i);
        }
        pendingBlank = false;
        out.push_back(quoted ? c : LowerAscii(c));
        if (map) map->push_back(i);
    }
    return out;
}

std::string SumTypeOf(const std::string& type) {
    if (type == "integer" || type == "word" || type == "byte") return "integer";
    if (type == "any" || type == "variant" || type.empty()) return "any";
    return "double";
}

// Calls visit on every relation of a condition tree, in the order their
// messages are reported: each OR list's alternatives in turn, each chain
// from its head, a nested group after the list that holds it (no recursion
// over long chains).
template <typename Visit>
void ForEachRelation(TOrNodeList* top, Visit visit) {
    std::vector<TOrNodeList*> groups;
    if (top) groups.push_back(top);
    while (!groups.empty()) {
        TOrNodeList* g = groups.back();
        groups.pop_back();
        for (int i = 0; i < g->Count(); ++i)
            for (TBoolNode* n = g->Item(i); n; n = n->next.get()) {
                if (n->group) groups.push_back(n->group.get());
                if (n->relation) visit(*n->relation);
            }
    }
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
        grouped_ = IsGrouped();
        if (grouped_) BindGroupBy();
        BindSelectList();
        if (grouped_ && statement_.having) BindHaving();
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
    clause.limit = statement_.limit;
    clause.offset = statement_.offset;
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
        ForEachRelation(root.group.get(), [&](TRelaSimpleExpr& r) {
            for (TROperandDef* op : {r.left.get(), r.right.get(), r.upper.get()}) {
                if (!op) continue;
                op->source = &from;
                BindOperand(*op, op == r.right.get() && r.op == roIn, true);
            }
            r.CollectTables();
            PrepareRegexp(r);
        });
        Normalize(*root.group);
        engine_.WhereObj().Build(*root.group, from.Count());
    } else {
        engine_.WhereObj().Build(TOrNodeList(), from.Count());
    }
}

// A regexp relation's constant pattern is compiled here, once; one that
// does not compile is a statement error with RE2's explanation.
void TStatementBinder::PrepareRegexp(TRelaSimpleExpr& r) {
    std::string error;
    if (!r.PrepareRegexp(error))
        engine_.Errors().Add(FormatMsg(sqlmsg::RegexpInvalid, r.right->text) + error,
                             r.right->StatementPos(1));
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
        const int count = table.dataset->GetStarFieldCount();
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
    // here: unknown names report themselves through the FROM clause (or the
    // group clause).
    for (int i = 0; i < clause.Count(); ++i) {
        TSelectField& item = clause.Item(i);
        if (grouped_) {
            TGroupClause& group = *engine_.SelectEnv().Group();
            group.SetSubject(Trim(item.text));
            BindGroupOperand(item, false);
            group.SetSubject(std::string());
        } else {
            item.source = &from;
            BindOperand(item, false, false);
        }
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
                item.typeName = grouped_ ? engine_.SelectEnv().Group()->TypeNameOf(item.ref)
                                         : from.Table(item.ref.tableIndex)
                                               .dataset->GetFieldType(item.ref.fieldIndex);
                break;
            case okExpression:
                item.typeName = "any";
                break;
        }
    }
}

// ---- Grouping ----------------------------------------------------------------

bool TStatementBinder::IsGrouped() const {
    if (!statement_.groupBy.empty() || statement_.having) return true;
    std::string name;
    for (const TParsedSelectItem& item : statement_.items)
        if (FindAggregateCall(item.text, name)) return true;
    for (const TParsedOrderItem& item : statement_.orderBy)
        if (FindAggregateCall(item.name, name)) return true;
    return false;
}

// group -> column | output-name | expression
void TStatementBinder::BindGroupBy() {
    TFromClause& from = engine_.FromClause();
    TSelectClause& clause = engine_.SelectEnv().Clause();
    TGroupClause& group = engine_.SelectEnv().MakeGroup();
    keyExpressions_.clear();
    for (const TParsedOperand& parsed : statement_.groupBy) {
        auto key = std::make_unique<TROperandDef>();
        CopyOperand(parsed, *key);
        TrimOperand(*key);
        key->source = &from;
        // A name that no table has but a select item carries as its output
        // name groups by that item.
        int table = -1, field = -1;
        if (!from.FindColumn(key->text, table, field)) {
            const std::string name = LowerCaseAscii(key->text);
            for (int i = 0; i < clause.Count(); ++i) {
                TSelectField& item = clause.Item(i);
                if (item.starKind != skPlain || item.outputName != name) continue;
                key->text = item.text;
                key->textMap.clear();
                key->textPos = item.textPos;
                TrimOperand(*key);
                break;
            }
        }
        BindOperand(*key, false, true);
        std::string typeName = "any";
        if (key->kind == okColumn)
            typeName = from.Table(key->ref.tableIndex).dataset->GetFieldType(key->ref.fieldIndex);
        else if (key->kind == okConstant)
            typeName = std::string(TypeNameOf(key->literalType));
        const bool expression = key->kind == okExpression;
        const std::string canonical = CanonicalText(key->text, nullptr);
        const int k = group.AddKey(std::move(key), std::move(typeName));
        if (expression) keyExpressions_.emplace_back(canonical, k);
    }
}

// aggregate -> ("count" | "sum" | "min" | "max" | "avg") "(" ["distinct"] operand ")"
//            | "count" "(" "*" ")"
bool TStatementBinder::CutAggregates(const TROperandDef& op, std::string& text) {
    TFromClause& from = engine_.FromClause();
    TGroupClause& group = *engine_.SelectEnv().Group();
    bool ok = true;
    TQuoteScanner scan;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (scan.Step(c) == TQuoteScanner::TByte::Quoted) continue;
        if (!IsWordChar(c) || (i > 0 && IsWordChar(text[i - 1]))) continue;
        size_t end = i;
        while (end < text.size() && IsWordChar(text[end]))
            ++end;
        TAggregateKind kind;
        size_t open = end;
        while (open < text.size() && IsStatementBlank(text[open]))
            ++open;
        if (open >= text.size() || text[open] != '(' ||
            !AggregateKindOf(std::string_view(text).substr(i, end - i), kind)) {
            i = end - 1;
            continue;
        }
        // The bracket that closes the call; without one the compiler says so.
        TQuoteScanner inner(false, 1);
        size_t close = open + 1;
        while (close < text.size() &&
               !(inner.Step(text[close]) == TQuoteScanner::TByte::Close && inner.Depth() == 0))
            ++close;
        if (close >= text.size()) break;
        const std::string written = text.substr(i, close - i + 1);
        const int place = op.StatementPos(static_cast<int>(i) + 1);
        // The argument: "*", or ["distinct"] an operand.
        size_t argStart = open + 1, argEnd = close;
        auto skipBlanks = [&] {
            while (argStart < argEnd && IsStatementBlank(text[argStart]))
                ++argStart;
            while (argEnd > argStart && IsStatementBlank(text[argEnd - 1]))
                --argEnd;
        };
        skipBlanks();
        auto aggregate = std::make_unique<TAggregate>();
        aggregate->kind = kind;
        aggregate->written = written;
        const std::string lowerArg = LowerCaseAscii(text.substr(argStart, argEnd - argStart));
        if (lowerArg.starts_with("distinct") &&
            (lowerArg.size() == 8 || !IsWordChar(lowerArg[8]))) {
            aggregate->distinct = true;
            argStart += 8;
            skipBlanks();
        }
        const std::string_view argument =
            std::string_view(text).substr(argStart, argEnd - argStart);
        if (argument == "*" && kind == agCount && !aggregate->distinct) {
            aggregate->star = true;
        } else if (argument == "*") {
            engine_.Errors().Add(std::string(sqlmsg::AggregateStar) + written, place);
            ok = false;
        } else if (argument.empty()) {
            engine_.Errors().Add(std::string(sqlmsg::AggregateNeedsArgument) + written, place);
            ok = false;
        }
        if (ok) {
            aggregate->key =
                std::to_string(kind) + (aggregate->distinct ? "d" : "") + ":" +
                (aggregate->star ? std::string("*") : CanonicalText(argument, nullptr));
            int a = group.FindAggregate(aggregate->key);
            if (a < 0) {
                if (!aggregate->star) {
                    aggregate->argument = std::make_unique<TROperandDef>();
                    TROperandDef& arg = *aggregate->argument;
                    SubOperand(op, argStart, argEnd - argStart, arg);
                    arg.source = &from;
                    BindOperand(arg, false, true);
                    std::string argType = "any";
                    if (arg.kind == okColumn)
                        argType = from.Table(arg.ref.tableIndex)
                                      .dataset->GetFieldType(arg.ref.fieldIndex);
                    else if (arg.kind == okConstant)
                        argType = std::string(TypeNameOf(arg.literalType));
                    if (arg.kind == okConstant && !arg.isList) {
                        aggregate->isConstant = true;
                        int64_t i = 0;
                        double d = 0;
                        if (TryParseInteger(arg.text, i)) {
                            aggregate->constant.SetInteger(i);
                            argType = "integer";
                        } else if (IsWellFormedNumber(arg.text) &&
                                   TryParseDouble(arg.text, '.', d)) {
                            aggregate->constant.SetDouble(d);
                            argType = "double";
                        } else {
                            aggregate->constant.SetString(arg.text);
                        }
                    }
                    switch (kind) {
                        case agCount:
                            aggregate->typeName = "integer";
                            break;
                        case agAvg:
                            aggregate->typeName = "double";
                            break;
                        case agSum:
                            aggregate->typeName = SumTypeOf(argType);
                            break;
                        case agMin:
                        case agMax:
                            aggregate->typeName = argType;
                            break;
                    }
                } else {
                    aggregate->typeName = "integer";
                }
                a = group.AddAggregate(std::move(aggregate));
            }
            const std::string slot = group.AggregateSlotName(a, written.size());
            text.replace(i, written.size(), slot);
            i += slot.size() - 1;
        } else {
            i = close;
        }
    }
    return ok;
}

void TStatementBinder::CutKeyExpressions(std::string& text) {
    TGroupClause& group = *engine_.SelectEnv().Group();
    for (const auto& [key, k] : keyExpressions_) {
        if (key.empty()) continue;
        std::vector<size_t> map;
        std::string canonical = CanonicalText(text, &map);
        size_t from = 0;
        while (true) {
            const size_t at = canonical.find(key, from);
            if (at == std::string::npos) break;
            const size_t last = at + key.size() - 1;
            const bool wordStart = IsWordChar(key.front()), wordEnd = IsWordChar(key.back());
            // Whole words only, and not inside quotes (a quoted section is
            // copied as it stands, so a match there starts or ends at a quote
            // or is enclosed by one: the scanner below tells).
            bool whole =
                (at == 0 || !wordStart || !IsWordChar(canonical[at - 1])) &&
                (last + 1 >= canonical.size() || !wordEnd || !IsWordChar(canonical[last + 1]));
            if (whole) {
                TQuoteScanner scan;
                for (size_t j = 0; j < map[at]; ++j)
                    scan.Step(text[j]);
                whole = !scan.InQuote();
            }
            if (!whole) {
                from = at + 1;
                continue;
            }
            const size_t begin = map[at], stop = map[last] + 1;
            const std::string slot = group.KeySlotName(k, stop - begin);
            text.replace(begin, stop - begin, slot);
            // Go on behind the slot name.
            canonical = CanonicalText(text, &map);
            from = canonical.size();
            for (size_t j = 0; j < map.size(); ++j)
                if (map[j] >= begin + slot.size()) {
                    from = j;
                    break;
                }
        }
    }
}

void TStatementBinder::BindGroupOperand(TROperandDef& op, bool reportAll) {
    TrimOperand(op);
    op.source = engine_.SelectEnv().Group();
    const std::string original = op.text;
    std::string text = original;
    if (!CutAggregates(op, text)) return;
    CutKeyExpressions(text);
    if (text == original) {
        BindOperand(op, false, reportAll);
        return;
    }
    // Bound as rewritten; what it says names the text as written.
    op.text = text;
    TmyErrorMng& errors = engine_.Errors();
    const int before = errors.Count();
    op.Bind(false);
    for (int i = before; i < errors.Count(); ++i)
        if (errors.Position(i) == 0) errors.SetPosition(i, op.StatementPos(1));
    op.text = original;
    if (!reportAll && op.kind != okExpression) return;
    for (TTextMessage& m : op.messages) {
        for (size_t at = m.text.find(text); at != std::string::npos;
             at = m.text.find(text, at + original.size()))
            m.text.replace(at, text.size(), original);
        errors.Add(m.text, op.StatementPos(m.position));
    }
}

void TStatementBinder::BindHaving() {
    TSelectClause& clause = engine_.SelectEnv().Clause();
    TGroupClause* group = engine_.SelectEnv().Group();
    if (!group) return;
    std::vector<TGroupOutput> outputs;
    for (int i = 0; i < clause.Count(); ++i) {
        TSelectField& item = clause.Item(i);
        outputs.push_back({LowerCaseAscii(item.outputName), item.typeName, &item});
    }
    group->SetOutputs(std::move(outputs));
    group->ShowOutputs(true);
    TBoolNode& root = group->HavingRoot();
    BuildConditionTree(*statement_.having, root);
    ForEachRelation(root.group.get(), [&](TRelaSimpleExpr& r) {
        for (TROperandDef* op : {r.left.get(), r.right.get(), r.upper.get()}) {
            if (!op) continue;
            if (op == r.right.get() && r.op == roIn) {
                op->source = group;
                BindOperand(*op, true, true);
            } else {
                BindGroupOperand(*op, true);
            }
        }
        PrepareRegexp(r);
    });
    group->ShowOutputs(false);
}

}  // namespace corvane

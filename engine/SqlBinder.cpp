#include "engine/SqlBinder.h"

#include <algorithm>
#include <string>
#include <vector>

#include "engine/UVeskEngine.h"
#include "platform/Text.h"
#include "script/common/U_err.h"
#include "sql/SqlMessages.h"
#include "sql/SqlStatement.h"

namespace corvane {

namespace {

std::string SumTypeOf(const std::string& type) {
    if (type == "integer" || type == "word" || type == "byte") return "integer";
    if (type == "any" || type == "variant" || type.empty()) return "any";
    return "double";
}

bool ContainsAggregate(const TSqlExpr& e) {
    if (!AggregateNameOf(e).empty()) return true;
    for (const TSqlExprPtr& a : e.args)
        if (ContainsAggregate(*a)) return true;
    return false;
}

TRelOp RelOpOf(int32_t op) {
    switch (op) {
        case soEq:
            return roEqual;
        case soNe:
            return roNotEqual;
        case soLt:
            return roLess;
        case soLe:
            return roLessEqual;
        case soGt:
            return roGreater;
        case soGe:
            return roGreaterEqual;
        case soLike:
            return roLike;
        case soILike:
            return roILike;
        case soRegexp:
            return roRegexp;
        case soIs:
            return roIs;
        case soIsNot:
            return roIsNot;
        default:
            return roNone;
    }
}

// The type name of a compiled operand, as result fields carry them.
std::string TypeNameOfOperand(TVeskEngineCustomer& engine, const TROperandDef& op, bool grouped) {
    switch (op.kind) {
        case okConstant:
            return std::string(SqlTypeName(SqlTypeOf(op.value)));
        case okParameter:
            return engine.Params().Item(op.ref.paramIndex).typeName;
        case okColumn:
            if (grouped && engine.SelectEnv().Group())
                return engine.SelectEnv().Group()->TypeNameOf(op.ref);
            return engine.FromClause()
                .Table(op.ref.tableIndex)
                .dataset->GetFieldType(op.ref.fieldIndex);
        case okExpression:
            return std::string(SqlTypeName(op.type));
    }
    return "any";
}

}  // namespace

TStatementBinder::TStatementBinder(TVeskEngineCustomer& engine, const TParsedStatement& statement)
    : engine_(engine),
      statement_(statement),
      compiler_(statement, engine.Errors(), [this](const TSqlExpr& e, TLeafValue& out) {
          if (level_ == TLevel::Rows) return RowLeaf(e, out);
          return GroupLeaf(e, out, level_ == TLevel::Having);
      }) {}

TStatementBinder::~TStatementBinder() = default;

void TStatementBinder::Bind() {
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
    clause.distinct = statement_.distinct;
    clause.topCount = 0;
    clause.limit = statement_.limit;
    clause.offset = statement_.offset;
    // TOP n is LIMIT n (the parser refuses both together); TOP 0 asks for
    // no row, as LIMIT 0 does.
    if (statement_.topSeen) clause.limit = statement_.topCount;
    if (!BindTables()) return;
    BindWhere();
    grouped_ = IsGrouped();
    // The items, stars expanded: needed before GROUP BY, which may name
    // them by position.
    std::vector<std::unique_ptr<TSqlExpr>> starColumns;
    for (const TParsedSelectItem& p : statement_.items) {
        if (p.starKind == skPlain) {
            itemNodes_.push_back(p.expr.get());
            continue;
        }
        std::vector<int> tables;
        if (p.starKind == skTableStar) {
            const std::string name = p.text.substr(0, p.text.size() - 2);
            const int t = from.IndexOfTable(name);
            if (t < 0) {
                engine_.Errors().Add(std::string(sqlmsg::NoSuchTable) + name, p.textPos);
                return;
            }
            tables.push_back(t);
        } else {
            // "*": the last FROM table's columns come first.
            for (int t = from.Count() - 1; t >= 0; --t)
                tables.push_back(t);
        }
        for (int t : tables) {
            const TFromTable& table = from.Table(t);
            if (!table.dataset) continue;
            for (int f = 0; f < table.dataset->GetStarFieldCount(); ++f) {
                auto column = std::make_unique<TSqlExpr>();
                column->kind = TExprKind::Column;
                column->qualifier = table.alias;
                column->name = table.dataset->GetFieldName(f);
                itemNodes_.push_back(column.get());
                starColumns.push_back(std::move(column));
            }
        }
    }
    if (grouped_) BindGroupBy();
    BindSelectList();
    if (grouped_ && statement_.having) BindHaving();
    // The star columns were needed while binding only.
    (void)starColumns;
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

// ---- Operands --------------------------------------------------------------------

bool TStatementBinder::BindOperand(const TSqlExpr& e, TROperandDef& op, TLevel level) {
    const TLevel savedLevel = level_;
    const TSqlExpr* savedSubject = subject_;
    level_ = level;
    subject_ = &e;
    compiler_.SetSubject(&e);
    TCompiledExpr c;
    const bool ok = compiler_.Compile(e, c);
    level_ = savedLevel;
    subject_ = savedSubject;
    compiler_.SetSubject(savedSubject);
    if (!ok) return false;
    op.text = statement_.TextOf(e);
    op.textPos = e.pos;
    op.source = level == TLevel::Rows ? static_cast<IGVarMng*>(&engine_.FromClause())
                                      : static_cast<IGVarMng*>(engine_.SelectEnv().Group());
    op.type = c.type;
    op.readsContent = c.readsContent;
    switch (c.kind) {
        case TCompiledExpr::Kind::Constant:
            op.kind = okConstant;
            op.value = std::move(c.value);
            break;
        case TCompiledExpr::Kind::Input:
            op.kind = c.ref.paramIndex >= 0 ? okParameter : okColumn;
            op.ref = c.ref;
            break;
        case TCompiledExpr::Kind::Program:
            op.kind = okExpression;
            op.program = std::move(c.program);
            break;
    }
    return true;
}

TLeafAnswer TStatementBinder::RowLeaf(const TSqlExpr& e, TLeafValue& out) {
    if (e.kind == TExprKind::Param) {
        const int index = engine_.Params().IndexOfName(e.name);
        if (index < 0) return TLeafAnswer::NotMine;
        out.ref = TOperandRef{};
        out.ref.paramIndex = index;
        out.type = SqlTypeOfName(engine_.Params().Item(index).typeName);
        return TLeafAnswer::Value;
    }
    if (e.kind != TExprKind::Column) return TLeafAnswer::NotMine;
    TFromClause& from = engine_.FromClause();
    int table = -1, field = -1;
    if (!from.FindColumnParts(e.qualifier, e.name, table, field)) return TLeafAnswer::NotMine;
    // Inside a computed select item an unqualified name that two tables
    // have is ambiguous; a plain column item takes the first table's.
    if (selectItem_ && &e != subject_ && e.qualifier.empty() &&
        from.CountTablesWithField(e.name) > 1) {
        engine_.Errors().Add(FormatMsg(sqlmsg::Ambiguous, e.name), e.pos);
        return TLeafAnswer::Failed;
    }
    from.MarkUsed(table, field);
    out.ref = TOperandRef{};
    out.ref.tableIndex = table;
    out.ref.fieldIndex = field;
    out.type = SqlTypeOfName(from.Table(table).dataset->GetFieldType(field));
    return TLeafAnswer::Value;
}

// aggregate -> ("count" | "sum" | "min" | "max" | "avg") "(" ["distinct"] expr ")"
//            | "count" "(" "*" ")"
TLeafAnswer TStatementBinder::GroupLeaf(const TSqlExpr& e, TLeafValue& out, bool having) {
    TGroupClause& group = *engine_.SelectEnv().Group();
    TFromClause& from = engine_.FromClause();
    const std::string aggregate = AggregateNameOf(e);
    if (!aggregate.empty()) {
        for (size_t a = 0; a < aggregateNodes_.size(); ++a)
            if (SameExpression(e, *aggregateNodes_[a])) {
                out.ref = TGroupClause::AggregateRef(static_cast<int>(a));
                out.type = SqlTypeOfName(group.Aggregate(static_cast<int>(a)).typeName);
                return TLeafAnswer::Value;
            }
        auto agg = std::make_unique<TAggregate>();
        AggregateKindOf(aggregate, agg->kind);
        agg->distinct = e.distinct;
        agg->star = e.star;
        agg->written = statement_.TextOf(e);
        if (e.star && (agg->kind != agCount || e.distinct)) {
            engine_.Errors().Add(std::string(sqlmsg::AggregateStar) + agg->written, e.pos);
            return TLeafAnswer::Failed;
        }
        if (!e.star && e.args.empty()) {
            engine_.Errors().Add(std::string(sqlmsg::AggregateNeedsArgument) + agg->written, e.pos);
            return TLeafAnswer::Failed;
        }
        if (e.args.size() > 1) {
            engine_.Errors().Add(FormatMsg(std::string(Msg(sqlmsg::FunctionArgs)), e.name), e.pos);
            return TLeafAnswer::Failed;
        }
        agg->typeName = "integer";
        if (!e.star) {
            agg->argument = std::make_unique<TROperandDef>();
            TROperandDef& arg = *agg->argument;
            const bool item = selectItem_;
            selectItem_ = false;
            const bool ok = BindOperand(*e.args[0], arg, TLevel::Rows);
            selectItem_ = item;
            if (!ok) return TLeafAnswer::Failed;
            const std::string argType = TypeNameOfOperand(engine_, arg, false);
            if (arg.kind == okConstant) {
                agg->isConstant = true;
                agg->constant.Assign(arg.value);
            }
            switch (agg->kind) {
                case agCount:
                    agg->typeName = "integer";
                    break;
                case agAvg:
                    agg->typeName = "double";
                    break;
                case agSum:
                    agg->typeName = SumTypeOf(argType);
                    break;
                case agMin:
                case agMax:
                    agg->typeName = argType;
                    break;
            }
        }
        const TSqlType type = SqlTypeOfName(agg->typeName);
        const int a = group.AddAggregate(std::move(agg));
        aggregateNodes_.push_back(&e);
        out.ref = TGroupClause::AggregateRef(a);
        out.type = type;
        return TLeafAnswer::Value;
    }
    // A GROUP BY expression written again.
    for (size_t k = 0; k < keyNodes_.size(); ++k)
        if (keyNodes_[k] && e.kind != TExprKind::Literal && SameExpression(e, *keyNodes_[k])) {
            out.ref = TGroupClause::KeyRef(static_cast<int>(k));
            out.type = SqlTypeOfName(group.TypeNameOf(out.ref));
            return TLeafAnswer::Value;
        }
    if (e.kind == TExprKind::Param) return RowLeaf(e, out);
    if (e.kind != TExprKind::Column) return TLeafAnswer::NotMine;
    int table = -1, field = -1;
    const bool column = from.FindColumnParts(e.qualifier, e.name, table, field);
    if (column)
        for (int k = 0; k < group.KeyCount(); ++k) {
            const TROperandDef& key = group.Key(k);
            if (key.kind == okColumn && key.ref.tableIndex == table &&
                key.ref.fieldIndex == field) {
                out.ref = TGroupClause::KeyRef(k);
                out.type = SqlTypeOfName(group.TypeNameOf(out.ref));
                return TLeafAnswer::Value;
            }
        }
    if (having && e.qualifier.empty()) {
        const TSelectClause& clause = engine_.SelectEnv().Clause();
        for (int i = 0; i < clause.Count(); ++i)
            if (SameTextAscii(const_cast<TSelectClause&>(clause).Item(i).outputName, e.name)) {
                out.ref = TGroupClause::OutputRef(i);
                out.type = SqlTypeOfName(const_cast<TSelectClause&>(clause).Item(i).typeName);
                return TLeafAnswer::Value;
            }
    }
    if (!column) return TLeafAnswer::NotMine;
    // Neither grouped nor aggregated: named once per select item (as
    // written), or by itself in HAVING.
    if (having || !subject_) {
        engine_.Errors().Add(FormatMsg(sqlmsg::NotGrouped, statement_.TextOf(e)), e.pos);
    } else if (!notGroupedReported_) {
        engine_.Errors().Add(FormatMsg(sqlmsg::NotGrouped, statement_.TextOf(*subject_)),
                             subject_->pos);
    }
    notGroupedReported_ = true;
    return TLeafAnswer::Failed;
}

// ---- WHERE and HAVING --------------------------------------------------------------

bool TStatementBinder::BuildOr(const TSqlExpr& e, TOrNodeList& group, TLevel level) {
    if (e.kind != TExprKind::Or) {
        auto head = std::make_unique<TBoolNode>();
        const bool ok = BuildChain(e, *head, level);
        group.Add(std::move(head));
        return ok;
    }
    bool ok = true;
    for (const TSqlExprPtr& arg : e.args) {
        auto head = std::make_unique<TBoolNode>();
        ok = BuildChain(*arg, *head, level) && ok;
        group.Add(std::move(head));
    }
    return ok;
}

bool TStatementBinder::BuildChain(const TSqlExpr& e, TBoolNode& head, TLevel level) {
    if (e.kind != TExprKind::And) return BuildTerm(e, head, false, level);
    bool ok = true;
    TBoolNode* node = &head;
    for (size_t i = 0; i < e.args.size(); ++i) {
        if (i > 0) {
            node->next = std::make_unique<TBoolNode>();
            node = node->next.get();
        }
        ok = BuildTerm(*e.args[i], *node, false, level) && ok;
    }
    return ok;
}

// term -> "not" term | "(" condition ")" | relation | truth-value
bool TStatementBinder::BuildTerm(const TSqlExpr& e, TBoolNode& node, bool negated, TLevel level) {
    if (e.kind == TExprKind::Unary && e.op == soNot)
        return BuildTerm(*e.args[0], node, !negated, level);
    node.negated = negated;
    if (e.kind == TExprKind::Or || e.kind == TExprKind::And) {
        node.group = std::make_unique<TOrNodeList>();
        if (e.kind == TExprKind::Or) return BuildOr(e, *node.group, level);
        auto head = std::make_unique<TBoolNode>();
        const bool ok = BuildChain(e, *head, level);
        node.group->Add(std::move(head));
        return ok;
    }
    if (e.kind == TExprKind::Literal && e.value.type() == VarType::Boolean) {
        node.isLiteral = true;
        node.literal = e.value.RawBoolean();
        return true;
    }
    node.relation = std::make_unique<TRelaSimpleExpr>();
    TRelaSimpleExpr& r = *node.relation;
    r.text = statement_.TextOf(e);
    bool ok = true;
    const TRelOp op = e.kind == TExprKind::Binary ? RelOpOf(e.op) : roNone;
    if (op != roNone) {
        r.op = op;
        if (e.negated) node.negated = !node.negated;
        ok = BindOperand(*e.args[0], *r.left, level) && BindOperand(*e.args[1], *r.right, level);
    } else if (e.kind == TExprKind::IsTest && (e.op == soIsNull || e.op == soIsNotNull)) {
        r.op = roIsNull;
        if (e.op == soIsNotNull) node.negated = !node.negated;
        ok = BindOperand(*e.args[0], *r.left, level);
    } else if (e.kind == TExprKind::Between) {
        r.op = roBetween;
        if (e.negated) node.negated = !node.negated;
        r.upper = std::make_unique<TROperandDef>();
        ok = BindOperand(*e.args[0], *r.left, level) && BindOperand(*e.args[1], *r.right, level) &&
             BindOperand(*e.args[2], *r.upper, level);
    } else if (e.kind == TExprKind::In) {
        r.op = roIn;
        if (e.negated) node.negated = !node.negated;
        ok = BindOperand(*e.args[0], *r.left, level);
        r.right->isList = true;
        r.right->text = r.text;
        r.right->source = r.left->source;
        for (size_t i = 1; i < e.args.size() && ok; ++i) {
            auto item = std::make_unique<TROperandDef>();
            ok = BindOperand(*e.args[i], *item, level);
            r.right->list.push_back(std::move(item));
        }
    } else {
        // A bare term: true when its value is.
        r.op = roTruth;
        ok = BindOperand(e, *r.left, level);
        r.right->source = r.left->source;
    }
    if (!ok) return false;
    // A constant text against a date-time must read as a date.
    for (TROperandDef* text : {r.left.get(), r.right.get(), r.upper.get()}) {
        if (!text || text->kind != okConstant || text->value.type() != VarType::String) continue;
        const TROperandDef* other = text == r.left.get() ? r.right.get() : r.left.get();
        if (!other || other->type != TSqlType::Date || op == roLike || op == roILike ||
            op == roRegexp)
            continue;
        TDateTime d;
        if (!SqlToDate(text->value, engine_.SqlContext(), d)) {
            engine_.Errors().Add(
                FormatMsg(std::string(Msg(sqlmsg::NotADate)), text->value.RawString()),
                text->textPos);
            return false;
        }
    }
    r.CollectTables();
    std::string error;
    if (!r.PrepareRegexp(error)) {
        engine_.Errors().Add(FormatMsg(sqlmsg::RegexpInvalid, SqlText(r.right->value)) + error,
                             e.args.size() > 1 ? e.args[1]->pos : e.pos);
        return false;
    }
    return true;
}

void TStatementBinder::BindWhere() {
    TFromClause& from = engine_.FromClause();
    TBoolNode& root = engine_.WhereRoot();
    if (!statement_.where) {
        engine_.WhereObj().Build(TOrNodeList(), from.Count());
        return;
    }
    root.group = std::make_unique<TOrNodeList>();
    if (!BuildOr(*statement_.where, *root.group, TLevel::Rows)) return;
    Normalize(*root.group);
    engine_.WhereObj().Build(*root.group, from.Count());
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
    TBoolNode& root = group->HavingRoot();
    root.group = std::make_unique<TOrNodeList>();
    BuildOr(*statement_.having, *root.group, TLevel::Having);
}

// ---- Grouping -------------------------------------------------------------------

bool TStatementBinder::IsGrouped() const {
    if (!statement_.groupBy.empty() || statement_.having) return true;
    for (const TParsedSelectItem& item : statement_.items)
        if (item.expr && ContainsAggregate(*item.expr)) return true;
    for (const TParsedOrderItem& item : statement_.orderBy)
        if (ContainsAggregate(*item.expr)) return true;
    return false;
}

int TStatementBinder::NamedItem(const TSqlExpr& e) const {
    if (e.kind == TExprKind::Literal && e.value.type() == VarType::Integer) {
        const int64_t n = e.value.RawInteger();
        return n >= 1 && n <= static_cast<int64_t>(itemNodes_.size()) ? static_cast<int>(n - 1)
                                                                      : -2;
    }
    if (e.kind != TExprKind::Column || !e.qualifier.empty()) return -1;
    for (size_t i = 0; i < statement_.items.size() && i < itemNodes_.size(); ++i) {
        const TParsedSelectItem& item = statement_.items[i];
        if (!item.outputName.empty() && SameTextAscii(item.outputName, e.name))
            return static_cast<int>(i);
    }
    return -1;
}

// group -> expr | position | output-name
void TStatementBinder::BindGroupBy() {
    TFromClause& from = engine_.FromClause();
    TGroupClause& group = engine_.SelectEnv().MakeGroup();
    for (const TSqlExprPtr& parsed : statement_.groupBy) {
        const TSqlExpr* node = parsed.get();
        int item = NamedItem(*node);
        // An output name groups by its item only when no column has it.
        int table = -1, field = -1;
        if (item >= 0 && node->kind == TExprKind::Column &&
            from.FindColumnParts(node->qualifier, node->name, table, field))
            item = -1;
        if (item == -2) {
            engine_.Errors().Add(FormatMsg(std::string(Msg(sqlmsg::PositionOutOfRange)),
                                           static_cast<long long>(node->value.RawInteger())),
                                 node->pos);
            continue;
        }
        if (item >= 0) node = itemNodes_[static_cast<size_t>(item)];
        if (ContainsAggregate(*node)) {
            compiler_.SetSubject(node);
            const std::string name =
                AggregateNameOf(*node).empty() ? std::string("count") : AggregateNameOf(*node);
            engine_.Errors().Add(
                ExpressionMessage(statement_.TextOf(*node), 1,
                                  FormatMsg(std::string(sqlmsg::AggregateMisplaced), name)),
                node->pos);
            continue;
        }
        auto key = std::make_unique<TROperandDef>();
        if (!BindOperand(*node, *key, TLevel::Rows)) continue;
        std::string typeName = TypeNameOfOperand(engine_, *key, false);
        group.AddKey(std::move(key), std::move(typeName));
        keyNodes_.push_back(node);
    }
}

// ---- The select list ------------------------------------------------------------

void TStatementBinder::BindSelectList() {
    TSelectClause& clause = engine_.SelectEnv().Clause();
    const TLevel level = grouped_ ? TLevel::Groups : TLevel::Rows;
    // Items: as written, or one per column a star stands for.
    size_t next = 0;
    for (const TParsedSelectItem& p : statement_.items) {
        if (p.starKind == skPlain) {
            TSelectField& item = clause.Insert(std::string(), -1);
            item.outputName = p.outputName;
            item.starKind = skPlain;
            notGroupedReported_ = false;
            selectItem_ = true;
            BindOperand(*itemNodes_[next], item, level);
            selectItem_ = false;
            item.text = p.text;
            item.textPos = p.textPos;
            // A double-quoted column is named by its name, without the quotes.
            const TSqlExpr& node = *itemNodes_[next];
            if (item.outputName.empty() && node.kind == TExprKind::Column && node.quoted &&
                item.kind == okColumn)
                item.outputName =
                    node.qualifier.empty() ? node.name : node.qualifier + "." + node.name;
            ++next;
            continue;
        }
        // The columns of the star, each named table alias + "." + field.
        const size_t count = p.starKind == skTableStar
                                 ? static_cast<size_t>(engine_.FromClause()
                                                           .Table(engine_.FromClause().IndexOfTable(
                                                               p.text.substr(0, p.text.size() - 2)))
                                                           .dataset->GetStarFieldCount())
                                 : 0;
        size_t stop = next + count;
        if (p.starKind == skStar) {
            stop = next;
            for (int t = 0; t < engine_.FromClause().Count(); ++t)
                if (engine_.FromClause().Table(t).dataset)
                    stop +=
                        static_cast<size_t>(engine_.FromClause().Table(t).dataset->GetStarFieldCount());
        }
        for (; next < stop && next < itemNodes_.size(); ++next) {
            const TSqlExpr& column = *itemNodes_[next];
            TSelectField& item = clause.Insert(std::string(), -1);
            notGroupedReported_ = false;
            BindOperand(column, item, level);
            item.text = column.qualifier + "." + column.name;
            item.textPos = 0;
        }
    }
    BindOrderBy();
    // Output names, from the last item to the first: a constant or an
    // expression is named compt_ and a number, a column by its text.
    for (int i = clause.Count() - 1; i >= 0; --i) {
        TSelectField& item = clause.Item(i);
        if (!item.outputName.empty()) continue;
        if (item.kind == okConstant || item.kind == okExpression)
            item.outputName = "compt_" + std::to_string(engine_.NextId());
        else
            item.outputName = item.text;
    }
    for (int i = clause.Count() - 1; i >= 0; --i) {
        TSelectField& item = clause.Item(i);
        item.typeName = TypeNameOfOperand(engine_, item, grouped_);
    }
}

// order -> position | output-name | expr
void TStatementBinder::BindOrderBy() {
    TFromClause& from = engine_.FromClause();
    TSelectClause& clause = engine_.SelectEnv().Clause();
    TOrderClause& order = engine_.OrderClause();
    // A bare column name also finds the one item that selects it under a
    // table's alias ("order by size" after "select *" is a.size), so the
    // column is not added a second time.
    auto qualifiedItemFor = [&](const std::string& name) {
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
    const TLevel level = grouped_ ? TLevel::Groups : TLevel::Rows;
    for (const TParsedOrderItem& p : statement_.orderBy) {
        const TSqlExpr& e = *p.expr;
        int index = -1;
        if (e.kind == TExprKind::Literal && e.value.type() == VarType::Integer) {
            const int64_t n = e.value.RawInteger();
            if (n < 1 || n > clause.Count()) {
                engine_.Errors().Add(FormatMsg(std::string(Msg(sqlmsg::PositionOutOfRange)),
                                               static_cast<long long>(n)),
                                     e.pos);
                continue;
            }
            index = static_cast<int>(n - 1);
        }
        if (index < 0) index = clause.IndexOfName(p.text);
        if (index < 0) index = qualifiedItemFor(p.text);
        if (!order.Add(p.text, p.descending)) continue;
        if (index < 0) {
            TSelectField& added = clause.Insert(std::string(), -1);
            notGroupedReported_ = false;
            selectItem_ = true;
            BindOperand(e, added, level);
            selectItem_ = false;
            added.text = p.text;
            added.textPos = p.textPos;
            index = clause.Count() - 1;
        }
        order.Item(order.Count() - 1).column = index;
    }
}

}  // namespace corvane

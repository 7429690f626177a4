// sqlScan_Base: the SQL statement parser.
//
// TASQLSource turns the text of one SELECT statement into a parsed
// statement (SqlStatement): the FROM entries, the select items, the
// conditions, GROUP BY and ORDER BY, TOP and LIMIT, each expression a tree
// of nodes that knows where it stands. It reads tokens (SqlLexer), never
// characters, by recursive descent: one function per grammar rule, the rule
// written above it. Blanks and comments therefore never end anything: an
// item ends at a comma or a clause keyword, an output name follows AS or
// stands alone after a complete expression.
//
// Expressions, loosest binding first:
//   OR, XOR, AND, NOT, then the predicates (= == != <> IS [NOT] ... IN LIKE
//   ILIKE REGEXP BETWEEN, each with NOT), < <= > >=, + -, * / % DIV MOD,
//   ||, unary - +, and the primaries (literals, parameters, columns, calls,
//   CASE, CAST, INTERVAL, brackets).
// AND and OR lists stay flat (one node with every operand), so a long
// condition is no deep tree. Everything else that nests is bounded: at most
// kMaxExprDepth levels of brackets, prefixes and calls, and trees at most
// kMaxExprHeight nodes high; past either the statement gets one message
// and parsing stops, so hostile input can exhaust neither the stack nor
// memory.
//
// The first fault ends the parse with one message at its place (a
// statement that does not parse has nothing later steps could trust).
// Nothing here raises for bad statement text. This unit knows no engine,
// data source or value of a row: what the names mean (tables, "*",
// columns, functions, output names and types) is decided afterwards by the
// binder (SqlBinder), and only when the parser found nothing wrong.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <string_view>

#include "sql/ErrorMng.h"
#include "sql/SqlLexer.h"
#include "sql/SqlMessages.h"
#include "sql/SqlStatement.h"

namespace corvane {

class TParamList;

// How deeply brackets, NOT, signs, CASE and calls may nest.
inline constexpr int kMaxExprDepth = 200;
// How many nodes high an expression tree may grow (a chain of + or ||).
inline constexpr int kMaxExprHeight = 1000;
// How many tables a FROM list may name.
inline constexpr int kMaxFromTables = 255;

class TASQLSource {
  public:
    // params: the host's named parameters; the parser gives each without
    // one its internal name ("pm" + nextId()).
    TASQLSource(TParamList& params, std::function<int()> nextId);
    void SetText(const std::string& text);
    // Parses the text into Statement(), messages included.
    void Parse();
    const TParsedStatement& Statement() const { return statement_; }
    TParsedStatement TakeStatement() { return std::move(statement_); }
    // prefix + the next id, at least 9 digits ("pm000000001").
    std::string MakeName(const std::string& prefix);

  private:
    class DepthGuard;

    // Tokens.
    const TSqlToken& Cur() const { return cur_; }
    const TSqlToken& Peek(size_t ahead = 1);
    void Advance();
    bool AcceptOp(std::string_view op);
    bool AcceptWord(std::string_view word);
    bool IsClauseWord(const TSqlToken& t) const;
    bool IsStatementEnd(const TSqlToken& t) const;

    // Faults: the first one is kept, with its place; false always.
    bool Fail(std::string_view message, int pos);
    bool FailHere(std::string_view message) { return Fail(message, cur_.pos); }
    bool FailToken();  // the current token cannot stand here
    // The bracket opened at offset open closes here; false after a message.
    bool CloseBracket(int open, std::string_view close);

    // Clauses.
    bool ParseStatement();
    bool ParseSelectHead();
    bool ParseItems();
    bool ParseItem();
    bool ParseFrom();
    bool ParseTable();
    bool ParseWhere();
    bool ParseGroupBy();
    bool ParseHaving();
    bool ParseOrderBy();
    bool ParseLimit();
    bool ReadCount(int64_t& out, std::string_view message);

    // Expressions; null after a fault.
    TSqlExprPtr ParseExpr();
    TSqlExprPtr ParseOr();
    TSqlExprPtr ParseXor();
    TSqlExprPtr ParseAnd();
    TSqlExprPtr ParseNot();
    TSqlExprPtr ParsePredicate();
    TSqlExprPtr ParseRelational();
    TSqlExprPtr ParseAdditive();
    TSqlExprPtr ParseMultiplicative();
    TSqlExprPtr ParseConcat();
    TSqlExprPtr ParseUnary();
    TSqlExprPtr ParsePrimary();
    TSqlExprPtr ParseCall(TSqlExprPtr node);
    TSqlExprPtr ParseCase();
    TSqlExprPtr ParseCast();
    TSqlExprPtr ParseInList(TSqlExprPtr left, bool negated);
    TSqlExprPtr ParseColumn();
    // A node of kind spanning [pos, end) with args, its height checked.
    TSqlExprPtr Node(TExprKind kind, int32_t op, int pos, std::vector<TSqlExprPtr> args);
    TSqlExprPtr Binary(TExprKind kind, int32_t op, TSqlExprPtr a, TSqlExprPtr b);
    // An operator that follows a comparison operator directly (">>", "=<"
    // as written) is no operator of the grammar.
    bool RefuseGluedOperator(const TSqlToken& op);

    TParamList& params_;
    std::function<int()> nextId_;
    TParsedStatement statement_;
    std::string source_;
    std::unique_ptr<TSqlLexer> lexer_;
    TSqlToken cur_;
    std::deque<TSqlToken> ahead_;
    int lastEnd_ = 0;  // offset after the last token consumed
    int depth_ = 0;
    bool failed_ = false;
};

}  // namespace corvane

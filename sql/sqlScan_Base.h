// sqlScan_Base: the SQL statement parser and the WHERE condition parser.
//
// TASQLSource turns the text of one SELECT statement into a parsed
// statement (SqlStatement): the clause texts, the FROM entries, the select
// items, the WHERE condition as a tree and the ORDER BY items, with the
// place in the statement of each. It does not tokenise the whole statement:
// it locates the clause keywords (outside quotes and brackets, as whole
// words), cuts the text into clause parts and works on each part with the
// quote-aware helpers of u_functions_consts and the QuoteScanner.
//
// TWhereParser turns the WHERE part, and the HAVING part, which has the same
// grammar, into a parsed condition tree by recursive descent over character
// positions (1-based, as in the helpers).
// Nesting is bounded (kMaxWhereDepth) so that hostile input cannot exhaust
// the stack; every other loop advances by at least one character.
//
// Every problem becomes one message in the parsed statement's message list;
// nothing here raises for bad statement text. This unit knows no engine,
// data source or value: what the names mean (tables, "*", columns,
// expressions, output names and types) is decided afterwards by the binder
// (SqlBinder), and only when the parser found nothing wrong.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "sql/ErrorMng.h"
#include "sql/SqlMessages.h"
#include "sql/SqlStatement.h"

namespace corvane {

class TParamList;

// How deeply brackets and NOTs may nest in a WHERE condition.
inline constexpr int kMaxWhereDepth = 200;
// How many tables a FROM list may name.
inline constexpr int kMaxFromTables = 255;

// order -> name ["asc" | "desc" | "descending"]
// The name is the text up to the first blank outside quotes and brackets;
// "desc", "descending" and every prefix of "descending" of at least 4
// letters sort descending, any other word ascending.
void ReadOrderItem(std::string_view itemText, std::string& name, bool& descending);

class TWhereParser {
  public:
    // Messages go to messages, in the order found.
    explicit TWhereParser(TmyErrorMng& messages) : messages_(messages) {}
    // Where the WHERE part stands in the statement: maps a 1-based position
    // in the WHERE part to the statement offset (1-based bytes of the text
    // given to SetSQL). Without it, operands and messages carry no place.
    void SetOrigin(std::function<int(int)> origin) { origin_ = std::move(origin); }
    // The clause keyword the part starts with: "where" (the default) or
    // "having"; it also chooses the messages that name the part.
    void SetKeyword(std::string_view keyword);
    // where-part  -> "where" condition
    // having-part -> "having" condition
    // root's group receives the top-level alternatives.
    void ParseWhere(const std::string& wherePart, TParsedCondition& root);

  private:
    bool ParseOrGroup(TParsedCondition& node);
    bool ParseTerm(int level, TParsedCondition& node);
    bool ParseRelation(TParsedCondition& node);
    int RegexpOperator(TRelOp& op) const;
    // The operand text, and in map the position (in the condition text) of
    // every byte of it, since blanks inside an operand are dropped.
    bool ReadOperand(int start, std::string& text, std::vector<int>& map, int& end,
                     std::string& message);
    // The statement offset of a position in the condition text.
    int StatementPos(int pos) const;
    void StoreOperand(TParsedOperand& op, std::string text, const std::vector<int>& map);
    bool IsBracketedOperand(int pos, bool& isOperand, std::string& message);
    int MatchBracket(int pos) const;
    void SkipBlanksHere();
    char At(int pos) const;
    // prefix + the condition + where the parser stands.
    std::string Where(std::string_view prefix) const;
    void Report(std::string_view message);

    TmyErrorMng& messages_;
    std::function<int(int)> origin_;
    int keywordLength_ = 5;  // "where"
    std::string_view incomplete_ = sqlmsg::WhereIncomplete;
    std::string_view trailing_ = sqlmsg::WhereTrailing;
    std::string_view tooDeep_ = sqlmsg::WhereTooDeep;
    int partOffset_ = 0;  // position in the WHERE part of the condition's first byte, minus 1
    std::string text_;    // the condition, without "where"
    int length_ = 0;
    int pos_ = 1;
    int depth_ = 0;
};

class TASQLSource {
  public:
    // params: the host's named parameters; the parser gives each its
    // internal name ("pm" + nextId()) and replaces references by it.
    TASQLSource(TParamList& params, std::function<int()> nextId);
    void SetText(const std::string& text);
    // statement -> "select" [top] [distinct] items ["from" tables]
    //              ["where" condition] ["group" "by" groups]
    //              ["having" condition] ["order" "by" orders] [limit]
    // Parses the text into Statement(), messages included.
    void Parse();
    const TParsedStatement& Statement() const { return statement_; }
    TParsedStatement TakeStatement() { return std::move(statement_); }
    // prefix + the next id, at least 9 digits ("pm000000001").
    std::string MakeName(const std::string& prefix);
    // The first whole-word occurrence of keyword at bracket depth 0 outside
    // quotes, at or after start, in the lower-case text; 0 when none.
    int FindKeyword(std::string_view keyword, int start) const;

    // The clause parts, as cut (for tests).
    const std::string& SelectPart() const { return statement_.selectPart; }
    const std::string& FromPart() const { return statement_.fromPart; }
    const std::string& WherePart() const { return statement_.wherePart; }
    const std::string& OrderPart() const { return statement_.orderPart; }
    const std::string& GroupPart() const { return statement_.groupPart; }
    const std::string& HavingPart() const { return statement_.havingPart; }
    const std::string& LimitPart() const { return statement_.limitPart; }

  private:
    void SubstituteParameters();
    void LocateClauses();
    void CutClauses();
    void ParseFromList();
    void ParseSelectList();
    void ParseOrderList();
    void ParseGroupList();
    void ParseLimit();
    // position: a 1-based position in text_ (0 when not known).
    void Report(std::string_view message, int position = 0);
    bool HasErrors() const;
    // The statement offset of a 1-based position in text_; 0 when not known.
    int Origin(int pos) const;

    TParamList& params_;
    std::function<int()> nextId_;
    TParsedStatement statement_;
    bool topSeen_ = false;  // the select part wrote TOP
    std::string text_;
    std::string lower_;
    std::string source_;
    // The statement offset of every byte of text_: text_ is the trimmed
    // statement with parameter references replaced.
    std::vector<int> origin_;
    int fromPos_ = 0, wherePos_ = 0, orderPos_ = 0, groupPos_ = 0, havingPos_ = 0, limitPos_ = 0;
    // Where each (trimmed) part starts in text_, 1-based.
    int selectStart_ = 0, fromStart_ = 0, whereStart_ = 0, orderStart_ = 0, groupStart_ = 0,
        havingStart_ = 0, limitStart_ = 0;
};

}  // namespace corvane

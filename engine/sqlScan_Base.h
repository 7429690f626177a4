// sqlScan_Base: the SQL statement parser and the WHERE condition parser.
//
// TASQLSource turns the text of one SELECT statement into the clause
// objects of its engine: the FROM tables, the select list, the WHERE tree
// and the ORDER BY items. It does not tokenise the whole statement: it
// locates the clause keywords (outside quotes and brackets, as whole
// words), cuts the text into clause parts and works on each part with the
// quote-aware helpers of u_functions_consts. Then it binds: tables through
// the engine's data sources, "*" and "t.*" expanded, ORDER BY columns added
// to the select list when missing, every operand tied to the FROM clause,
// and the result columns named and typed.
//
// TWhereParser turns the WHERE part into the logic tree of URelx_Logic by
// recursive descent over character positions (1-based, as in the helpers).
// Nesting is bounded (kMaxWhereDepth) so that hostile input cannot exhaust
// the stack; every other loop advances by at least one character.
//
// Every problem becomes one message in the engine's error list; nothing
// here raises for bad statement text. Evaluation is not done here
// (evaluation/), and neither is operand classification (UveskBase).
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

class TVeskEngineCustomer;
class TBoolNode;
class TROperandDef;

// How deeply brackets and NOTs may nest in a WHERE condition.
inline constexpr int kMaxWhereDepth = 200;
// How many tables a FROM list may name.
inline constexpr int kMaxFromTables = 255;

class TWhereParser {
  public:
    explicit TWhereParser(TVeskEngineCustomer& engine) : engine_(engine) {}
    // Where the WHERE part stands in the statement: maps a 1-based position
    // in the WHERE part to the statement offset (1-based bytes of the text
    // given to SetSQL). Without it, operands and messages carry no place.
    void SetOrigin(std::function<int(int)> origin) { origin_ = std::move(origin); }
    // where-part -> "where" condition
    void ParseWhere(const std::string& wherePart);

  private:
    bool ParseOrGroup(TBoolNode& node);
    bool ParseTerm(int level, TBoolNode& node);
    bool ParseRelation(TBoolNode& node);
    // The operand text, and in map the position (in the condition text) of
    // every byte of it, since blanks inside an operand are dropped.
    bool ReadOperand(int start, std::string& text, std::vector<int>& map, int& end,
                     std::string& message);
    // The statement offset of a position in the condition text.
    int StatementPos(int pos) const;
    void StoreOperand(TROperandDef& op, std::string text, const std::vector<int>& map);
    bool IsBracketedOperand(int pos, bool& isOperand, std::string& message);
    int MatchBracket(int pos) const;
    void SkipBlanksHere();
    char At(int pos) const;
    std::string Where(const char* prefix) const;
    void Report(const std::string& message);

    TVeskEngineCustomer& engine_;
    std::function<int(int)> origin_;
    int partOffset_ = 0;  // position in the WHERE part of the condition's first byte, minus 1
    std::string text_;    // the condition, without "where"
    int length_ = 0;
    int pos_ = 1;
    int depth_ = 0;
};

class TASQLSource {
  public:
    explicit TASQLSource(TVeskEngineCustomer& engine) : engine_(engine) {}
    void SetText(const std::string& text);
    void Parse();
    // prefix + the engine's next id, at least 9 digits ("pm000000001").
    std::string MakeName(const std::string& prefix);
    // The first whole-word occurrence of keyword at bracket depth 0 outside
    // quotes, at or after start, in the lower-case text; 0 when none.
    int FindKeyword(std::string_view keyword, int start) const;

    // The clause parts, as cut (for tests).
    const std::string& SelectPart() const { return selectPart_; }
    const std::string& FromPart() const { return fromPart_; }
    const std::string& WherePart() const { return wherePart_; }
    const std::string& OrderPart() const { return orderPart_; }
    const std::string& GroupPart() const { return groupPart_; }
    const std::string& HavingPart() const { return havingPart_; }

  private:
    void SubstituteParameters();
    void LocateClauses();
    void CutClauses();
    void ParseFromList();
    void ParseSelectList();
    void ParseOrderList();
    bool BindTables();
    void BindWhere();
    void BindSelectList();
    void BindOperand(TROperandDef& op, bool inList, bool reportAll);
    // position: a 1-based position in text_ (0 when not known).
    void Report(const std::string& message, int position = 0);
    bool HasErrors() const;
    // The statement offset of a 1-based position in text_; 0 when not known.
    int Origin(int pos) const;

    TVeskEngineCustomer& engine_;
    std::string text_;
    std::string lower_;
    std::string source_;
    // The statement offset of every byte of text_: text_ is the trimmed
    // statement with parameter references replaced.
    std::vector<int> origin_;
    std::string selectPart_, fromPart_, wherePart_, orderPart_, groupPart_, havingPart_;
    int fromPos_ = 0, wherePos_ = 0, orderPos_ = 0, groupPos_ = 0, havingPos_ = 0;
    // Where each (trimmed) part starts in text_, 1-based.
    int selectStart_ = 0, fromStart_ = 0, whereStart_ = 0, orderStart_ = 0;
    std::vector<int> orderItemPos_;  // per ORDER BY item, its position in text_
};

}  // namespace corvane

// UVeskEngine: the engine object a host drives.
//
// A host creates one TVeskEngineCustomer per command, registers its data
// sources (AddDataBase), hands over the statement (SetSQL), asks it to parse
// and reads the error text; only when that text is empty does it execute and
// read the result dataset. Statement errors are collected in the error list,
// never raised.
//
// The engine owns every object of one query: the statement text, the
// registered sources (shared references), the clause objects the parser
// fills, the error list and the result dataset. Parsing, binding and
// execution live in their own units; this one ties them together.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/ErrorMng.h"
#include "engine/U_simpleDS.h"
#include "engine/UveskInterface.h"

namespace corvane {

// The registered data sources, in registration order.
class TDataBaseList {
public:
    // A null source is ignored.
    void Add(DataBaseRef source);
    int Count() const { return static_cast<int>(items_.size()); }
    // The source at index, or null when index is out of range.
    DataBaseRef Items(int index) const;
    // Index of the first source whose name equals name ignoring case, or -1.
    int IndexOfName(const std::string& name) const;
    // Resolves a table name, plain or qualified as "source.table" (the first
    // dot outside quotes splits it). Null when nothing provides the table.
    DataSetRef FindDataset(const std::string& name) const;

private:
    std::vector<DataBaseRef> items_;
};

// Statement text, result dataset, error list and the name counter.
class TVeskEngineBase {
public:
    TVeskEngineBase();
    virtual ~TVeskEngineBase();
    TVeskEngineBase(const TVeskEngineBase&) = delete;
    TVeskEngineBase& operator=(const TVeskEngineBase&) = delete;

    virtual void SetSQL(const std::string& text) { sql_ = text; }
    const std::string& SQL() const { return sql_; }

    // 1, 2, 3, ...; after 2147483641 the counter starts again at 0.
    int NextId();

    TSimpleDataset& DataSet() { return *dataSet_; }
    TmyErrorMng& Errors() { return errors_; }
    std::string GetErrorText() const { return errors_.Text(); }

    // Name under which this engine would serve as a named sub-query.
    std::string EngineName;

protected:
    std::string sql_;
    int idCounter_ = 0;
    std::unique_ptr<TSimpleDataset> dataSet_;
    TmyErrorMng errors_;
};

class TVeskEngineCustomer : public TVeskEngineBase {
public:
    TVeskEngineCustomer();
    ~TVeskEngineCustomer() override;

    // A null source is ignored; the engine keeps the reference until it is
    // destroyed.
    void AddDataBase(DataBaseRef source) { dataBases_.Add(std::move(source)); }
    TDataBaseList& DataBases() { return dataBases_; }

    // Stores a changed text and resets every clause object; an identical
    // text changes nothing.
    void SetSQL(const std::string& text) override;

    // Empties the result rows and renews every clause object.
    void Reset();

private:
    TDataBaseList dataBases_;
};

}  // namespace corvane

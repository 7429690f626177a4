// UveskInterface: the contract between the engine and its data sources.
//
// The engine knows nothing of files. It reaches every kind of data through
// three small interfaces:
//   IXSimpleDataBase  a data source that hands out tables by name;
//   IXSimpleDataset   one table: a field catalogue and a cursor over the
//                     loaded records (the engine's own result dataset offers
//                     the same view, so a front end reads a result exactly as
//                     the engine reads a directory);
//   IFilterObject     a row test that a source may apply while it loads, so
//                     that rejected rows are never stored.
//
// Ownership: sources and their tables are shared (std::shared_ptr) and live
// as long as their last holder. A filter belongs to whoever created it (the
// where executor); a table only borrows it between two SetFilter calls.
// A filter is not thread-safe: a source that lists with several threads
// calls it from one thread at a time.
// Warnings (what a load could not read) belong to the table that loaded;
// Warnings() hands out a copy, so the caller owns what it collects.
//
// Values travel as Variant; field types as lower-case type names ("string",
// "integer", "date", "boolean", ...). Records are numbered from 0.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Variant.h"

namespace corvane {

class IFilterObject {
  public:
    virtual ~IFilterObject() = default;
    // Sets one field of the candidate record, by the table's field index.
    virtual void SetValue(int fieldIndex, const Variant& value) = 0;
    // The verdict on the candidate record: a boolean Variant.
    virtual Variant Evaluate() = 0;
    // Whether the verdict may depend on the field; true when unsure. A
    // source may leave out work for a field no filter reads.
    virtual bool Reads(int fieldIndex) {
        (void)fieldIndex;
        return true;
    }
    // Asked after SetValue of only some fields of the candidate (bit i of
    // knownFields stands for field i; fields from 64 on are never known):
    // true when the verdict is false whatever the other fields turn out to
    // hold, so the source may drop the candidate without finding out the
    // rest (a file's metadata, say). Never true when unsure; a source that
    // does not ask loses nothing.
    virtual bool RejectsKnowing(uint64_t knownFields) {
        (void)knownFields;
        return false;
    }
};

// Cooperative cancellation and progress for long loads. A table that lists
// something large calls Listed() now and then; when Cancelled() turns true it
// stops loading as soon as it can. The front ends install one per query.
class IProgress {
  public:
    virtual ~IProgress() = default;
    // Called with the number of entries examined so far (not only kept).
    virtual void Listed(long long entriesSoFar) = 0;
    // Called while a join combines its tables, with the number of
    // combinations tried so far; a host that shows no join progress need
    // not listen.
    virtual void Joining(long long /*combinationsSoFar*/) {}
    virtual bool Cancelled() const = 0;
};

class IXSimpleDataset {
  public:
    virtual ~IXSimpleDataset() = default;
    virtual std::string GetName() = 0;
    virtual int GetFieldCount() = 0;
    // The fields "*" stands for: the first this many (a source may offer
    // fields beyond them that a statement uses by name only).
    virtual int GetStarFieldCount() { return GetFieldCount(); }
    virtual std::string GetFieldType(int index) = 0;
    virtual std::string GetFieldName(int index) = 0;
    // Copies the field of the current record into value; leaves value
    // unchanged when there is no such field or no current record.
    virtual void GetFieldValue(int index, Variant& value) = 0;
    // Index of the first field whose name equals name ignoring letter case;
    // -1 when none does.
    virtual int FieldIndex(const std::string& name) = 0;
    virtual int GetRecordCount() = 0;
    virtual bool Eof() = 0;
    virtual void SetRecNo(int index) = 0;
    virtual void First() = 0;
    virtual void Next() = 0;
    virtual void Close() = 0;
    virtual void Open() = 0;
    virtual bool Active() = 0;
    virtual int GetRecNo() = 0;
    // True when Open honours a filter installed by SetFilter.
    virtual bool CanFilter() = 0;
    // The filter the next Open applies (borrowed); null removes it.
    virtual void SetFilter(IFilterObject* filter) = 0;
    // Progress and cancellation for the next Open (borrowed); null removes
    // it. Sources that load instantly may ignore it.
    virtual void SetProgress(IProgress* progress) { (void)progress; }
    // The fields the statement reads at all, for the next Open; empty: all
    // of them. A source may put off the work for the others, as long as
    // reading one later still gives its value.
    virtual void SetUsedFields(const std::vector<int>& fields) { (void)fields; }
    // What the last Open could not read although the load went on (a table
    // whose directory is missing lists nothing, yet the user should learn
    // why): one finished message per element, for the user, without line
    // ends. Kept until the next Open (Close keeps them, so they can be read
    // after a walk that closes its tables); empty for sources that never
    // skip anything.
    virtual std::vector<std::string> Warnings() { return {}; }
};

class IXSimpleDataBase {
  public:
    virtual ~IXSimpleDataBase() = default;
    // A new table object for the name; null when the source has no such
    // table.
    virtual std::shared_ptr<IXSimpleDataset> GetDataset(const std::string& name) = 0;
    // The source's name, used to qualify table names ("source.table").
    virtual std::string GetName() = 0;
};

using DataSetRef = std::shared_ptr<IXSimpleDataset>;
using DataBaseRef = std::shared_ptr<IXSimpleDataBase>;

}  // namespace corvane

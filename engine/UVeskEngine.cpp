#include "engine/UVeskEngine.h"

#include "platform/Text.h"
#include "script/compiler/u_functions_consts.h"

namespace corvane {

// ---- TDataBaseList -------------------------------------------------------

void TDataBaseList::Add(DataBaseRef source) {
    if (source) items_.push_back(std::move(source));
}

DataBaseRef TDataBaseList::Items(int index) const {
    if (index < 0 || index >= Count()) return nullptr;
    return items_[static_cast<size_t>(index)];
}

int TDataBaseList::IndexOfName(const std::string& name) const {
    for (size_t i = 0; i < items_.size(); ++i)
        if (SameTextAscii(items_[i]->GetName(), name)) return static_cast<int>(i);
    return -1;
}

DataSetRef TDataBaseList::FindDataset(const std::string& name) const {
    int dot = PosOutsideQuotes(".", name, 1);
    if (dot > 0) {
        std::string source = name.substr(0, static_cast<size_t>(dot - 1));
        std::string table = name.substr(static_cast<size_t>(dot));
        int index = IndexOfName(source);
        if (index < 0) return nullptr;
        return items_[static_cast<size_t>(index)]->GetDataset(table);
    }
    for (const DataBaseRef& source : items_)
        if (DataSetRef ds = source->GetDataset(name)) return ds;
    return nullptr;
}

// ---- TVeskEngineBase -----------------------------------------------------

TVeskEngineBase::TVeskEngineBase() : dataSet_(std::make_unique<TSimpleDataset>()) {}

TVeskEngineBase::~TVeskEngineBase() = default;

int TVeskEngineBase::NextId() {
    ++idCounter_;
    if (idCounter_ > 2147483641) idCounter_ = 0;
    return idCounter_;
}

// ---- TVeskEngineCustomer -------------------------------------------------

TVeskEngineCustomer::TVeskEngineCustomer() { Reset(); }

TVeskEngineCustomer::~TVeskEngineCustomer() = default;

void TVeskEngineCustomer::SetSQL(const std::string& text) {
    if (text == sql_) return;
    sql_ = text;
    Reset();
}

void TVeskEngineCustomer::Reset() {
    dataSet_->ClearRows();
}

}  // namespace corvane

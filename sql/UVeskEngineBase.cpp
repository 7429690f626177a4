#include "sql/UVeskEngineBase.h"

#include <ctime>

#include "platform/DateTime.h"

namespace corvane {

// ---- TVeskEngineBase -----------------------------------------------------

TVeskEngineBase::TVeskEngineBase() : dataSet_(std::make_unique<TSimpleDataset>()) {}

TVeskEngineBase::~TVeskEngineBase() = default;

int TVeskEngineBase::NextId() {
    ++idCounter_;
    if (idCounter_ > 2147483641) idCounter_ = 0;
    return idCounter_;
}

void TVeskEngineBase::BeginRun() {
    faults_.Clear();
    // Whole seconds, as every time column is.
    sqlContext_.now = DateTimeFromUnixLocal(static_cast<int64_t>(std::time(nullptr)));
}

}  // namespace corvane

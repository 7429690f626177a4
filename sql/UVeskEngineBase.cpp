#include "sql/UVeskEngineBase.h"

namespace corvane {

// ---- TVeskEngineBase -----------------------------------------------------

TVeskEngineBase::TVeskEngineBase() : dataSet_(std::make_unique<TSimpleDataset>()) {}

TVeskEngineBase::~TVeskEngineBase() = default;

int TVeskEngineBase::NextId() {
    ++idCounter_;
    if (idCounter_ > 2147483641) idCounter_ = 0;
    return idCounter_;
}

}  // namespace corvane

#include "script/common/qv_vmc.h"

namespace corvane {

// ---------------------------------------------------------------------------
// TVMC_OBJ

TVMC_OBJ::TVMC_OBJ(TFileAdapter* adapter, std::shared_ptr<const TBuiltinHeads> builtins)
    : Adapter(adapter), Builtins(std::move(builtins)) {}

void TVMC_OBJ::Reset() {
    Loaded = false;
    SourceName.clear();
    UsedUnits.Clear();
    Globals.clear();
    Funcs.Clear();
    Consts.clear();
    unitImages_.clear();
    varCounts_.clear();
}

bool TVMC_OBJ::HasUnitImage(int n) const {
    return n >= 1 && static_cast<size_t>(n) <= unitImages_.size() &&
           unitImages_[static_cast<size_t>(n - 1)] != nullptr;
}

void TVMC_OBJ::SetUnitImage(int n, std::unique_ptr<TVMC_OBJ> image) {
    if (n < 1 || n > UsedUnits.Count()) throw EScriptError(std::string(msg::RangeExceeded));
    if (unitImages_.size() < static_cast<size_t>(n)) unitImages_.resize(static_cast<size_t>(n));
    unitImages_[static_cast<size_t>(n - 1)] = std::move(image);
}

TVMC_OBJ& TVMC_OBJ::UnitImage(int n) {
    if (n < 1 || n > UsedUnits.Count()) throw EScriptError(std::string(msg::RangeExceeded));
    if (!HasUnitImage(n)) {
        auto image = std::make_unique<TVMC_OBJ>(Adapter, Builtins);
        image->LoadFromAdapter(UsedUnits.Get(n));
        SetUnitImage(n, std::move(image));
    }
    return *unitImages_[static_cast<size_t>(n - 1)];
}

// ---------------------------------------------------------------------------
// TProgramImage

void TProgramImage::Reset() {
    Main = -1;
    Globals.clear();
    Funcs.Clear();
    InitList.clear();
    Loaded = false;
}

}  // namespace corvane

#include "script/common/base_inf.h"

namespace corvane {

// ---------------------------------------------------------------------------
// TFuncDefList

int TFuncDefList::Add(std::unique_ptr<TClassDefInf> rec) {
    const int existing = IndexOf(rec->Name);
    if (existing >= 0) return existing;
    items_.push_back(std::move(rec));
    return Count() - 1;
}

int TFuncDefList::Append(std::unique_ptr<TClassDefInf> rec) {
    items_.push_back(std::move(rec));
    return Count() - 1;
}

int TFuncDefList::IndexOf(std::string_view name) const {
    for (size_t i = 0; i < items_.size(); ++i)
        if (items_[i]->Name == name) return static_cast<int>(i);
    return -1;
}

TClassDefInf& TFuncDefList::Get(int i) {
    if (i < 0 || i >= Count()) throw EScriptError(std::string(msg::BoundsExceeded));
    return *items_[static_cast<size_t>(i)];
}

const TClassDefInf& TFuncDefList::Get(int i) const {
    return const_cast<TFuncDefList*>(this)->Get(i);
}

// ---------------------------------------------------------------------------
// TstringStack

static constexpr size_t kRingStep = 50;

TstringStack::TstringStack() : ring_(kRingStep) {}

void TstringStack::Push(std::string s) {
    if (IsFull()) {
        // Splice fresh slots in after the write position: the texts from
        // the read position on move up, so their order is kept.
        ring_.insert(ring_.begin() + static_cast<std::ptrdiff_t>(writePos_ + 1), kRingStep,
                     std::string());
        if (readPos_ > writePos_) readPos_ += kRingStep;
    }
    ring_[writePos_] = std::move(s);
    writePos_ = Next(writePos_);
    ++count_;
}

std::string TstringStack::Pop() {
    if (readPos_ == writePos_) throw EScriptError(std::string(msg::StackEmpty));
    std::string s = std::move(ring_[readPos_]);
    ring_[readPos_].clear();
    readPos_ = Next(readPos_);
    --count_;
    return s;
}

// ---------------------------------------------------------------------------
// TusedFileList

int TusedFileList::Add(std::string name) {
    if (IndexOf(name) > 0) throw EScriptError(FormatMsg(msg::FileDeclaredTwice, name));
    if (Count() >= kMax) throw EScriptError(std::string(msg::TooManyFiles));
    names_.push_back(std::move(name));
    return Count();
}

int TusedFileList::IndexOf(std::string_view name) const {
    for (size_t i = 0; i < names_.size(); ++i)
        if (names_[i] == name) return static_cast<int>(i) + 1;
    return -1;
}

const std::string& TusedFileList::Get(int i) const {
    if (i < 1 || i > Count()) throw EScriptError(std::string(msg::RangeExceeded));
    return names_[static_cast<size_t>(i - 1)];
}

// ---------------------------------------------------------------------------
// TvarList

namespace compiler {

int TvarList::Add(const Tvardef& def) {
    if (IndexOf(def.Name) >= 0) throw EScriptError(FormatMsg(msg::VarDeclaredTwice, def.Name));
    defs->push_back(def);
    return Count() - 1;
}

int TvarList::IndexOf(std::string_view name) const {
    if (!defs) return -1;
    for (size_t i = 0; i < defs->size(); ++i)
        if ((*defs)[i].Name == name) return static_cast<int>(i);
    return -1;
}

Tvardef TvarList::Get(int i) const {
    if (i < 0 || i >= Count()) throw EScriptError(std::string(msg::RangeExceeded));
    return (*defs)[static_cast<size_t>(i)];
}

}  // namespace compiler

// ---------------------------------------------------------------------------
// Tconstclass

std::string CutConstText(std::string_view s) {
    if (s.size() <= kConstTextMax) return std::string(s);
    size_t n = kConstTextMax;
    // Back off over continuation bytes so that no character is split.
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80)
        --n;
    return std::string(s.substr(0, n));
}

int Tconstclass::Add(std::string_view name, std::string_view value) {
    if (IndexOf(name) >= 0) return -1;
    consts->push_back({CutConstText(name), CutConstText(value)});
    return Count() - 1;
}

int Tconstclass::IndexOf(std::string_view name) const {
    if (!consts) return -1;
    for (size_t i = 0; i < consts->size(); ++i)
        if ((*consts)[i].Name == name) return static_cast<int>(i);
    return -1;
}

std::string Tconstclass::ValueOf(int i) const {
    if (i < 0 || i >= Count()) return {};
    return (*consts)[static_cast<size_t>(i)].Value;
}

}  // namespace corvane

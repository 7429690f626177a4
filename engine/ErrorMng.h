// ErrorMng: the engine's list of statement errors.
//
// Statement errors are collected, never raised: every unit that finds a
// problem with a statement appends one message and goes on, and the host
// decides by the emptiness of the text whether to execute. The list keeps
// insertion order and duplicates.
#pragma once

#include <string>
#include <vector>

namespace corvane {

class TmyErrorMng {
public:
    void Add(std::string message) { items_.push_back(std::move(message)); }
    void Clear() { items_.clear(); }
    int Count() const { return static_cast<int>(items_.size()); }
    const std::string& Item(int index) const { return items_.at(static_cast<size_t>(index)); }
    // Every message followed by CR LF, in insertion order; empty when none.
    std::string Text() const;

private:
    std::vector<std::string> items_;
};

}  // namespace corvane

// ErrorMng: the engine's list of statement errors.
//
// Statement errors are collected, never raised: every unit that finds a
// problem with a statement appends one message and goes on, and the host
// decides by the emptiness of the text whether to execute. The list keeps
// insertion order and duplicates.
//
// Each message may carry the place in the statement it is about: a 1-based
// byte offset into the text the host gave to SetSQL (0 when the place is not
// known). An editor uses it to mark the spot; Text() does not show it,
// TextWithPlaces writes it as line and column.
//
// A hostile statement can make a message per name it holds: the list keeps
// the first kMaxMessages and counts the rest, and both texts end with one
// line saying how many more there were.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvane {

inline constexpr int kMaxMessages = 100;

class TmyErrorMng {
  public:
    void Add(std::string message, int position = 0) {
        if (static_cast<int>(items_.size()) >= kMaxMessages) {
            ++more_;
            return;
        }
        items_.push_back({std::move(message), position > 0 ? position : 0});
    }
    void Clear() {
        items_.clear();
        more_ = 0;
    }
    int Count() const { return static_cast<int>(items_.size()); }
    const std::string& Item(int index) const { return items_.at(static_cast<size_t>(index)).text; }
    // The statement offset of message index (1-based bytes), 0 = unknown.
    int Position(int index) const { return items_.at(static_cast<size_t>(index)).position; }
    // Gives a message that was added without a place the place its caller
    // knows (a name resolver reports without knowing where the name stood).
    void SetPosition(int index, int position) {
        items_.at(static_cast<size_t>(index)).position = position > 0 ? position : 0;
    }
    // Every message followed by CR LF, in insertion order; empty when none.
    std::string Text() const;
    // Every message with its place as line and column of statement (the
    // text given to SetSQL) after it, followed by LF; for a statement
    // longer than about 200 bytes also about 80 bytes of it around the
    // place, so that a huge statement is not echoed with every message.
    std::string TextWithPlaces(std::string_view statement) const;
    // Messages not kept beyond kMaxMessages.
    int More() const { return more_; }

  private:
    struct Entry {
        std::string text;
        int position;
    };
    std::vector<Entry> items_;
    int more_ = 0;
};

}  // namespace corvane

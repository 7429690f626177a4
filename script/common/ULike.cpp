#include "script/common/ULike.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace corvane {

namespace {

// What a node matches after its gap.
enum TMatchKind : uint8_t { mkLiteral, mkSet, mkNegatedSet, mkEnd, mkRemoved };

// One compiled node: skip exactly gap bytes (at least gap when open), then
// match the element. text is a view into the pattern: the literal bytes, or
// the members of a set.
struct TMatchNode {
    size_t gap = 0;
    bool open = false;
    TMatchKind kind = mkLiteral;
    std::string_view text;
};

// A node array that lives on the stack for ordinary patterns.
class NodeList {
  public:
    void Push(const TMatchNode& node) {
        if (heap_.empty() && size_ < kInline) {
            inline_[size_++] = node;
            return;
        }
        if (heap_.empty()) heap_.assign(inline_, inline_ + size_);
        heap_.push_back(node);
        ++size_;
    }
    TMatchNode* Data() { return heap_.empty() ? inline_ : heap_.data(); }
    size_t Size() const { return size_; }
    TMatchNode& operator[](size_t i) { return Data()[i]; }
    TMatchNode& Back() { return Data()[size_ - 1]; }
    // Drops the nodes marked mkRemoved, keeping the order of the rest.
    void Compact() {
        TMatchNode* d = Data();
        size_t out = 0;
        for (size_t i = 0; i < size_; ++i)
            if (d[i].kind != mkRemoved) d[out++] = d[i];
        size_ = out;
        if (!heap_.empty()) heap_.resize(out);
    }

  private:
    static constexpr size_t kInline = 32;
    TMatchNode inline_[kInline];
    std::vector<TMatchNode> heap_;
    size_t size_ = 0;
};

// pattern = { literal-byte | wildcard-run | set }
// wildcard-run = ("%" | "_") { "%" | "_" }     gap = number of "_",
//                                              open when a "%" is in it
// set = "[" ["^"] { byte but "]" } "]"         no ranges
// An unclosed "[" is a literal byte. "]" outside a set is a literal byte.
void Compile(std::string_view p, NodeList& nodes) {
    TMatchNode cur;
    cur.text = p.substr(0, 0);
    size_t i = 0;
    while (i < p.size()) {
        char c = p[i];
        if (c == '%' || c == '_') {
            nodes.Push(cur);
            cur = TMatchNode();
            while (i < p.size() && (p[i] == '%' || p[i] == '_')) {
                if (p[i] == '_')
                    ++cur.gap;
                else
                    cur.open = true;
                ++i;
            }
            cur.text = p.substr(i, 0);
            continue;
        }
        if (c == '[') {
            size_t first = i + 1;
            bool negated = first < p.size() && p[first] == '^';
            if (negated) ++first;
            size_t close = p.find(']', first);
            if (close != std::string_view::npos) {
                nodes.Push(cur);
                TMatchNode set;
                set.kind = negated ? mkNegatedSet : mkSet;
                set.text = p.substr(first, close - first);
                nodes.Push(set);
                i = close + 1;
                cur = TMatchNode();
                cur.text = p.substr(i, 0);
                continue;
            }
            // Unclosed: the "[" is an ordinary byte (see the header).
        }
        // Literal bytes of one node are contiguous in the pattern.
        cur.text = std::string_view(cur.text.data(), cur.text.size() + 1);
        ++i;
    }
    nodes.Push(cur);
}

void Tidy(NodeList& nodes) {
    // 1. Nodes that match nothing and skip nothing go: the empty literal
    //    before a leading wildcard or after a set, and empty sets.
    for (size_t i = 0; i < nodes.Size(); ++i)
        if (nodes[i].gap == 0 && !nodes[i].open && nodes[i].text.empty()) nodes[i].kind = mkRemoved;
    nodes.Compact();
    // 2. A wildcard run with no text of its own takes over the element that
    //    follows it directly ("%[ab]" is one open set node).
    for (bool changed = true; changed;) {
        changed = false;
        for (size_t k = nodes.Size(); k-- > 1;) {
            TMatchNode& node = nodes[k];
            TMatchNode& before = nodes[k - 1];
            if (node.kind == mkRemoved || node.gap != 0 || node.open || !before.text.empty())
                continue;
            before.kind = node.kind;
            before.text = node.text;
            node.kind = mkRemoved;
            changed = true;
        }
        nodes.Compact();
    }
    // 3. The end of the text: a node of its own after a text, or the final
    //    wildcard run itself ("a%" ends in an open end node). A pattern made
    //    only of empty sets has no node left and describes the empty text.
    if (nodes.Size() == 0 || !nodes.Back().text.empty()) {
        TMatchNode end;
        end.kind = mkEnd;
        nodes.Push(end);
    } else {
        nodes.Back().kind = mkEnd;
    }
}

// Positions 0..n of the text, as a byte-per-position set.
class PositionSet {
  public:
    explicit PositionSet(size_t n) : n_(n) {
        if (n + 1 > sizeof small_) heap_.resize(n + 1);
        Clear();
    }
    void Clear() {
        std::memset(Data(), 0, n_ + 1);
        min_ = kNone;
    }
    void Add(size_t q) {
        Data()[q] = 1;
        if (q < min_) min_ = q;
    }
    bool Has(size_t q) const { return ConstData()[q] != 0; }
    bool Empty() const { return min_ == kNone; }
    size_t Min() const { return min_; }
    void Swap(PositionSet& other) {
        // Sizes are equal; swapping contents is cheaper than moving arrays
        // only when they live on the heap, so copy for the small case.
        if (!heap_.empty()) {
            heap_.swap(other.heap_);
        } else {
            unsigned char tmp[sizeof small_];
            std::memcpy(tmp, small_, n_ + 1);
            std::memcpy(small_, other.small_, n_ + 1);
            std::memcpy(other.small_, tmp, n_ + 1);
        }
        std::swap(min_, other.min_);
    }

  private:
    static constexpr size_t kNone = static_cast<size_t>(-1);
    unsigned char* Data() { return heap_.empty() ? small_ : heap_.data(); }
    const unsigned char* ConstData() const { return heap_.empty() ? small_ : heap_.data(); }
    size_t n_;
    size_t min_ = kNone;
    unsigned char small_[256];
    std::vector<unsigned char> heap_;
};

}  // namespace

bool LikeMatch(std::string_view text, std::string_view pattern) {
    if (text == pattern) return true;
    if (text.empty() || pattern.empty()) return false;

    NodeList nodes;
    Compile(pattern, nodes);
    Tidy(nodes);

    // reach holds every position at which the current node can start; the
    // set of positions is what a backtracking matcher would try, without
    // trying any (node, position) pair twice.
    const size_t n = text.size();
    PositionSet reach(n), next(n);
    reach.Add(0);
    for (size_t i = 0; i + 1 < nodes.Size(); ++i) {
        const TMatchNode& node = nodes[i];
        next.Clear();
        if (node.kind == mkLiteral) {
            const size_t len = node.text.size();
            if (node.open) {
                // Every occurrence at or after the earliest start qualifies.
                size_t from = reach.Min() + node.gap;
                for (size_t q = text.find(node.text, from); q != std::string_view::npos;
                     q = text.find(node.text, q + 1))
                    next.Add(q + len);
            } else {
                for (size_t p = reach.Min(); p <= n; ++p) {
                    if (!reach.Has(p)) continue;
                    size_t q = p + node.gap;
                    if (q <= n && len <= n - q && text.compare(q, len, node.text) == 0)
                        next.Add(q + len);
                }
            }
        } else {  // a set or a negated set
            bool member[256] = {};
            for (char m : node.text)
                member[static_cast<unsigned char>(m)] = true;
            const bool want = node.kind == mkSet;
            auto fits = [&](size_t q) {
                return q < n && member[static_cast<unsigned char>(text[q])] == want;
            };
            if (node.open) {
                for (size_t q = reach.Min() + node.gap; q < n; ++q)
                    if (fits(q)) next.Add(q + 1);
            } else {
                for (size_t p = reach.Min(); p <= n; ++p)
                    if (reach.Has(p) && fits(p + node.gap)) next.Add(p + node.gap + 1);
            }
        }
        if (next.Empty()) return false;
        reach.Swap(next);
    }
    // The end node: exactly gap bytes left, or at least gap when open.
    const TMatchNode& end = nodes.Back();
    if (end.open) return reach.Min() + end.gap <= n;
    return end.gap <= n && reach.Has(n - end.gap);
}

}  // namespace corvane

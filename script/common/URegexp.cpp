#include "script/common/URegexp.h"

#include <re2/re2.h>

#include "platform/Text.h"

#include <list>
#include <utility>

namespace corvane {

namespace {

// What a compiled pattern may take: RE2's default (8 MiB) would let one
// pattern hold that much per statement; 2 MiB is far beyond any pattern a
// person writes and refuses "(((a{100}){100}){100})" with RE2's message.
constexpr int64_t kMaxProgramBytes = int64_t{2} << 20;

// How many compiled patterns CachedRegexp keeps per thread.
constexpr size_t kCacheSize = 16;

RE2::Options Options(RE2::Options::Encoding encoding) {
    RE2::Options options;
    options.set_encoding(encoding);
    options.set_log_errors(false);
    options.set_max_mem(kMaxProgramBytes);
    return options;
}

bool IsUtf8(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
            continue;
        }
        const size_t n = Utf8SequenceLength(text, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

}  // namespace

TRegexp::TRegexp() = default;
TRegexp::~TRegexp() = default;

const RE2& TRegexp::For(std::string_view text) const {
    if (IsUtf8(text)) return *re_;
    std::call_once(bytesOnce_, [this] {
        bytes_ = std::make_unique<RE2>(re2::StringPiece(pattern_.data(), pattern_.size()),
                                       Options(RE2::Options::EncodingLatin1));
    });
    return bytes_->ok() ? *bytes_ : *re_;
}

std::shared_ptr<const TRegexp> TRegexp::Compile(std::string_view pattern, std::string& error) {
    std::shared_ptr<TRegexp> out(new TRegexp());
    out->pattern_ = std::string(pattern);
    out->re_ = std::make_unique<RE2>(re2::StringPiece(pattern.data(), pattern.size()),
                                     Options(RE2::Options::EncodingUTF8));
    if (!out->re_->ok()) {
        error = out->re_->error();
        if (error.empty()) error = "pattern too large";
        return nullptr;
    }
    error.clear();
    return out;
}

bool TRegexp::Search(std::string_view text) const {
    return RE2::PartialMatch(re2::StringPiece(text.data(), text.size()), For(text));
}

bool TRegexp::FirstMatch(std::string_view text, std::string& out) const {
    re2::StringPiece whole;
    const re2::StringPiece input(text.data(), text.size());
    if (!For(text).Match(input, 0, input.size(), RE2::UNANCHORED, &whole, 1)) {
        out.clear();
        return false;
    }
    out.assign(whole.data(), whole.size());
    return true;
}

bool TRegexp::ReplaceAll(std::string_view text, std::string_view rewrite, std::string& out,
                         std::string& error) const {
    const re2::StringPiece rw(rewrite.data(), rewrite.size());
    if (!re_->CheckRewriteString(rw, &error)) return false;
    out.assign(text.data(), text.size());
    RE2::GlobalReplace(&out, For(text), rw);
    error.clear();
    return true;
}

std::shared_ptr<const TRegexp> CachedRegexp(std::string_view pattern, std::string& error) {
    // Most recently used first; each entry the pattern and its compiled form
    // (null with the explanation when it was refused: a refused pattern is
    // not compiled again either).
    struct Entry {
        std::string pattern;
        std::shared_ptr<const TRegexp> re;
        std::string error;
    };
    thread_local std::list<Entry> cache;
    for (auto it = cache.begin(); it != cache.end(); ++it)
        if (it->pattern == pattern) {
            cache.splice(cache.begin(), cache, it);
            error = cache.front().error;
            return cache.front().re;
        }
    Entry e;
    e.pattern = std::string(pattern);
    e.re = TRegexp::Compile(pattern, e.error);
    error = e.error;
    cache.push_front(std::move(e));
    if (cache.size() > kCacheSize) cache.pop_back();
    return cache.front().re;
}

}  // namespace corvane

#include "script/runtime/u_fileadapter.h"

#include "platform/FileIO.h"
#include "platform/Text.h"

namespace corvane {

TCachedFileAdapter::~TCachedFileAdapter() {
    // Builders that still use this adapter forget it.
    auto builders = std::move(builders_);
    for (auto& [name, builder] : builders)
        if (builder) builder->AdapterGone(this);
}

bool TCachedFileAdapter::IsSafeName(std::string_view name) {
    return !name.empty() && name.find('/') == std::string_view::npos &&
           name.find("..") == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

std::string TCachedFileAdapter::PathOf(std::string_view name) const {
    std::string path = Dir;
    if (!path.empty() && path.back() != '/') path.push_back('/');
    path.append(name);
    return path;
}

int TCachedFileAdapter::IndexOf(std::string_view name) const {
    for (size_t i = 0; i < cache_.size(); ++i)
        if (SameTextAscii(cache_[i].first, name)) return static_cast<int>(i);
    return -1;
}

TMemoryStream* TCachedFileAdapter::StreamAt(int i) const {
    if (i < 0 || i >= Count()) return nullptr;
    return cache_[static_cast<size_t>(i)].second.get();
}

int TCachedFileAdapter::CachePut(std::string_view name, std::unique_ptr<TMemoryStream> stream) {
    if (!stream) return -1;
    int at = IndexOf(name);
    if (at >= 0) return at;
    cache_.emplace_back(std::string(name), std::move(stream));
    return Count() - 1;
}

TMemoryStream* TCachedFileAdapter::GetFile(std::string_view name) {
    int at = IndexOf(name);
    if (at >= 0) return StreamAt(at);
    if (LocalFile) {
        if (!IsSafeName(name)) return nullptr;
        std::vector<uint8_t> bytes;
        if (!ReadWholeFile(PathOf(name), bytes)) return nullptr;
        return StreamAt(CachePut(name, std::make_unique<TMemoryStream>(std::move(bytes))));
    }
    if (!OnGetFile) return nullptr;
    auto stream = std::make_unique<TMemoryStream>();
    bool handled = false;
    OnGetFile(std::string(name), *stream, handled);
    if (!handled) return nullptr;
    stream->Seek(0);
    return StreamAt(CachePut(name, std::move(stream)));
}

bool TCachedFileAdapter::SetFile(std::string_view name, const TMemoryStream& stream) {
    auto copy = std::make_unique<TMemoryStream>(stream.Bytes());
    bool stored;
    if (LocalFile) {
        if (!IsSafeName(name)) return false;
        std::string error;
        const std::vector<uint8_t>& bytes = copy->Bytes();
        if (!WriteWholeFile(PathOf(name), bytes.data(), bytes.size(), error))
            throw EScriptError(error);
        stored = true;
    } else {
        stored = false;
        if (OnSetFile) OnSetFile(std::string(name), *copy, stored);
    }
    copy->Seek(0);
    CachePut(name, std::move(copy));
    return stored;
}

void TCachedFileAdapter::RegisterBuilder(std::string name, TAdapterClient* builder) {
    builders_.emplace_back(std::move(name), builder);
}

void TCachedFileAdapter::UnregisterBuilder(TAdapterClient* builder) {
    for (auto& entry : builders_)
        if (entry.second == builder) entry.second = nullptr;
}

}  // namespace corvane

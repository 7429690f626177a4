#include "script/runtime/u_fileadapter.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

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

namespace {

// What is at a path a unit image is about to be stored under.
enum class TTarget : uint8_t { tgAbsent, tgImage, tgOther };

TTarget Inspect(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT ? TTarget::tgAbsent : TTarget::tgOther;
    // A link, a directory, a device: never ours. A file we cannot read
    // cannot be shown to be an image either.
    if (!S_ISREG(st.st_mode)) return TTarget::tgOther;
    std::vector<uint8_t> start;
    if (!ReadFileStart(path, kUnitImageStartBytes, start)) return TTarget::tgOther;
    const std::string_view bytes(reinterpret_cast<const char*>(start.data()), start.size());
    return IsUnitImageStart(bytes) ? TTarget::tgImage : TTarget::tgOther;
}

}  // namespace

bool TCachedFileAdapter::StoreLocal(std::string_view name, const std::vector<uint8_t>& bytes) {
    const std::string path = PathOf(name);
    // A file that appears between the look and the write (another program
    // storing the same unit) is looked at again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const TTarget target = Inspect(path);
        if (target == TTarget::tgOther) {
            warnings_.push_back(FormatMsg(kMsgNotAnImage, path));
            return false;
        }
        std::string error;
        bool exists = false;
        const TWriteMode mode =
            target == TTarget::tgImage ? TWriteMode::wmReplace : TWriteMode::wmCreateOnly;
        if (WriteWholeFile(path, bytes.data(), bytes.size(), error, mode, &exists)) return true;
        if (!exists) {
            warnings_.push_back(FormatMsg(kMsgImageNotSaved, error));
            return false;
        }
    }
    warnings_.push_back(FormatMsg(kMsgImageNotSaved, path + ": " + std::strerror(EEXIST)));
    return false;
}

bool TCachedFileAdapter::SetFile(std::string_view name, const TMemoryStream& stream) {
    auto copy = std::make_unique<TMemoryStream>(stream.Bytes());
    bool stored = false;
    if (LocalFile) {
        if (!IsSafeName(name)) return false;
        stored = StoreLocal(name, copy->Bytes());
    } else if (OnSetFile) {
        OnSetFile(std::string(name), *copy, stored);
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

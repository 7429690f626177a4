// u_fileadapter: where the build driver finds and stores unit files.
//
// A unit that uses other units reaches them by name: compiled unit images
// (".vmc" content stored under the unit's name) and, for a used unit written
// with an extension, its source text. TCachedFileAdapter supplies those
// named files either from a directory (LocalFile, the default: Dir joined
// with the name by "/") or from the host (OnGetFile / OnSetFile), and keeps
// every file it has read or stored in a cache of memory streams, so that a
// unit is read at most once per adapter.
//
// Names come from script text, so local access is confined to Dir: a name
// that is empty, holds "/" or "..", or a NUL byte is refused (read as absent,
// never written). Cached names compare ignoring letter case.
//
// A unit image is stored under the unit's bare name ("uses util.pas" saves
// the image as "util"), a name a user's own file may well have. So a local
// store replaces only what is absent or already a unit image (by its first
// bytes), never anything else, and writes through a temporary file of a
// unique name that is renamed into place: two programs compiling the same
// unit at once each write a whole image, and a reader sees one whole image
// or the other. A store that does not happen (a user's file in the way, a
// directory that is not writable) is no error for the program being built,
// which keeps the image in the cache and runs from it; the adapter records a
// warning that the host reads from Warnings() and shows as it likes.
//
// What it does not do: compile or link (qv_build), read images (qv_vmc). The
// interface it implements, TFileAdapter, lives with the images so that the
// image reader needs no file access of its own.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "script/common/qv_vmc.h"

namespace corvane {

// Warnings of a local store that did not happen. %s: the path and why;
// the path of the file that was left as it is.
inline constexpr std::string_view kMsgImageNotSaved = "单元映像没有保存：%s";
inline constexpr std::string_view kMsgNotAnImage =
    "单元映像没有保存：“%s”不是单元映像，保留原文件。";

// Host supplier (OnGetFile: fill the stream) or receiver (OnSetFile: the
// stream to store) of a named file; set handled to true when done.
using TOnGetFile =
    std::function<void(const std::string& f_nm, TMemoryStream& stream, bool& handled)>;

// A user of an adapter (the build driver) that must learn when the adapter
// goes away.
class TAdapterClient {
  public:
    virtual ~TAdapterClient() = default;
    virtual void AdapterGone(TFileAdapter* adapter) = 0;
};

class TCachedFileAdapter : public TFileAdapter {
  public:
    TCachedFileAdapter() = default;
    ~TCachedFileAdapter() override;
    TCachedFileAdapter(const TCachedFileAdapter&) = delete;
    TCachedFileAdapter& operator=(const TCachedFileAdapter&) = delete;

    // A cached file, else (LocalFile) the file Dir/name, else the host's
    // OnGetFile; null when none of them has it.
    TMemoryStream* GetFile(std::string_view name) override;
    // Stores a copy: into Dir/name (LocalFile; only over nothing or over a
    // unit image, else false with a warning; a failure to write is false
    // with a warning too), else through OnSetFile (false when not handled).
    // The copy then enters the cache unless the name is cached already, in
    // which case the cache keeps its earlier content.
    bool SetFile(std::string_view name, const TMemoryStream& stream) override;

    // What stores did not happen, one message each, oldest first (texts
    // kMsgImageNotSaved / kMsgNotAnImage).
    const std::vector<std::string>& Warnings() const { return warnings_; }
    void ClearWarnings() { warnings_.clear(); }

    // Appends to the cache; a name already cached keeps its stream and the
    // new one is dropped. The position of the entry; -1 for no stream.
    int CachePut(std::string_view name, std::unique_ptr<TMemoryStream> stream);
    int IndexOf(std::string_view name) const;
    int Count() const { return static_cast<int>(cache_.size()); }
    TMemoryStream* StreamAt(int i) const;
    const std::string& NameAt(int i) const { return cache_[static_cast<size_t>(i)].first; }
    void ClearCache() { cache_.clear(); }

    void RegisterBuilder(std::string name, TAdapterClient* builder);
    void UnregisterBuilder(TAdapterClient* builder);

    // Whether a name may address a file inside Dir.
    static bool IsSafeName(std::string_view name);
    // Dir joined with the name by "/".
    std::string PathOf(std::string_view name) const;

    TOnGetFile OnGetFile;
    TOnGetFile OnSetFile;
    bool LocalFile = true;
    std::string Dir;

  private:
    // Writes Dir/name unless something other than a unit image is there.
    bool StoreLocal(std::string_view name, const std::vector<uint8_t>& bytes);

    std::vector<std::pair<std::string, std::unique_ptr<TMemoryStream>>> cache_;
    std::vector<std::pair<std::string, TAdapterClient*>> builders_;
    std::vector<std::string> warnings_;
};

}  // namespace corvane

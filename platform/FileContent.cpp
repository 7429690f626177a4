#include "platform/FileContent.h"

#include <fcntl.h>
#include <grp.h>
#include <magic.h>
#include <openssl/evp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>
#if defined(__x86_64__) || defined(__i386__)
// XXH3 through the library's dispatcher: it uses the widest vector unit the
// processor has (AVX2, AVX-512), as xxhsum does, instead of the SSE2 path.
#include <xxh_x86dispatch.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/FileSystem.h"

namespace corvane {

namespace {

thread_local ContentSession* g_current = nullptr;

// The block buffer of this thread, made on first use and reused by every
// read after it.
char* BlockBuffer() {
    thread_local std::unique_ptr<char[]> buffer;
    if (!buffer) buffer = std::make_unique<char[]>(kContentBlock);
    return buffer.get();
}

// An open regular file with its fstat.
struct OpenContent {
    FileHandle fd;
    struct stat st {};
};

bool OpenForContent(const std::string& path, OpenContent& out) {
    out.fd = OpenRegularFile(path, true, out.st);
    return out.fd.Valid();
}

// Reads the open file from its start, block by block, into sink (which
// answers false to stop early). The poll is asked before every block.
ContentStatus ReadBlocks(int fd, const std::function<bool(std::string_view)>& sink) {
    ContentSession* session = ContentSession::Current();
    if (session) session->CountFile();
    char* buf = BlockBuffer();
    for (;;) {
        if (session && !session->KeepGoing()) return ContentStatus::Cancelled;
        ssize_t got = ::read(fd, buf, kContentBlock);
        if (got < 0) {
            if (errno == EINTR) continue;
            return ContentStatus::Unreadable;
        }
        if (got == 0) return ContentStatus::Ok;
        if (session) session->CountBytes(static_cast<uint64_t>(got));
        if (!sink(std::string_view(buf, static_cast<size_t>(got)))) return ContentStatus::Ok;
    }
}

void AppendHex(std::string& out, const unsigned char* bytes, size_t n) {
    static const char kHex[] = "0123456789abcdef";
    for (size_t i = 0; i < n; ++i) {
        out.push_back(kHex[bytes[i] >> 4]);
        out.push_back(kHex[bytes[i] & 15]);
    }
}

const EVP_MD* EvpOf(DigestKind kind) {
    switch (kind) {
        case DigestKind::Md5:
            return EVP_md5();
        case DigestKind::Sha1:
            return EVP_sha1();
        case DigestKind::Sha256:
            return EVP_sha256();
        case DigestKind::Sha512:
            return EVP_sha512();
        case DigestKind::Xxh128:
            break;
    }
    return nullptr;
}

struct EvpCtxFree {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
struct XxhFree {
    void operator()(XXH3_state_t* s) const { XXH3_freeState(s); }
};

ContentStatus DigestOpen(int fd, DigestKind kind, std::string& hex) {
    if (kind == DigestKind::Xxh128) {
        std::unique_ptr<XXH3_state_t, XxhFree> state(XXH3_createState());
        if (!state || XXH3_128bits_reset(state.get()) != XXH_OK) return ContentStatus::Unreadable;
        ContentStatus st = ReadBlocks(fd, [&](std::string_view b) {
            XXH3_128bits_update(state.get(), b.data(), b.size());
            return true;
        });
        if (st != ContentStatus::Ok) return st;
        XXH128_canonical_t canon;
        XXH128_canonicalFromHash(&canon, XXH3_128bits_digest(state.get()));
        hex.clear();
        AppendHex(hex, canon.digest, sizeof canon.digest);
        return ContentStatus::Ok;
    }
    std::unique_ptr<EVP_MD_CTX, EvpCtxFree> ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EvpOf(kind), nullptr) != 1)
        return ContentStatus::Unreadable;
    bool failed = false;
    ContentStatus st = ReadBlocks(fd, [&](std::string_view b) {
        failed = EVP_DigestUpdate(ctx.get(), b.data(), b.size()) != 1;
        return !failed;
    });
    if (st != ContentStatus::Ok) return st;
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (failed || EVP_DigestFinal_ex(ctx.get(), md, &len) != 1) return ContentStatus::Unreadable;
    hex.clear();
    AppendHex(hex, md, len);
    return ContentStatus::Ok;
}

// libmagic's handle for this thread, loaded once. Compressed data is not
// unpacked (the bytes are untrusted; the outer type is what is asked).
class MagicHandle {
  public:
    MagicHandle() {
        cookie_ = ::magic_open(MAGIC_MIME_TYPE | MAGIC_NO_CHECK_COMPRESS | MAGIC_ERROR);
        if (cookie_ && ::magic_load(cookie_, nullptr) != 0) {
            ::magic_close(cookie_);
            cookie_ = nullptr;
        }
    }
    ~MagicHandle() {
        if (cookie_) ::magic_close(cookie_);
    }
    MagicHandle(const MagicHandle&) = delete;
    MagicHandle& operator=(const MagicHandle&) = delete;
    magic_t Get() const { return cookie_; }

  private:
    magic_t cookie_ = nullptr;
};

}  // namespace

// ---------------------------------------------------------------------------

ContentSession* ContentSession::Current() {
    return g_current;
}

ContentSession::Scope::Scope(ContentSession& session) : previous_(g_current) {
    g_current = &session;
}

ContentSession::Scope::~Scope() {
    g_current = previous_;
}

const std::string* ContentSession::Find(const ContentKey& key) const {
    auto it = digests_.find(key);
    return it == digests_.end() ? nullptr : &it->second;
}

void ContentSession::Store(const ContentKey& key, std::string hex) {
    // A map node with its key and text, roughly.
    const size_t cost = sizeof(ContentKey) + sizeof(std::string) + hex.capacity() + 64;
    if (cacheBytes_ + cost > kDigestCacheBytes || digests_.count(key)) return;
    cacheBytes_ += cost;
    digests_.emplace(key, std::move(hex));
}

std::string JoinFileName(std::string_view directory, std::string_view name) {
    std::string out(directory);
    if (name.empty()) return out;
    if (!out.empty() && out.back() != '/') out.push_back('/');
    out += name;
    return out;
}

ContentStatus FileDigest(const std::string& path, DigestKind kind, std::string& hex) {
    hex.clear();
    OpenContent f;
    if (!OpenForContent(path, f)) return ContentStatus::Unreadable;
    ContentSession* session = ContentSession::Current();
    ContentKey key;
    key.dev = f.st.st_dev;
    key.ino = f.st.st_ino;
    key.size = static_cast<uint64_t>(f.st.st_size);
    key.mtimeSec = f.st.st_mtim.tv_sec;
    key.mtimeNsec = f.st.st_mtim.tv_nsec;
    key.kind = kind;
    if (session) {
        if (const std::string* known = session->Find(key)) {
            session->CountHit();
            hex = *known;
            return ContentStatus::Ok;
        }
    }
    ContentStatus st = DigestOpen(f.fd.Get(), kind, hex);
    if (st != ContentStatus::Ok) {
        hex.clear();
        return st;
    }
    if (session) session->Store(key, hex);
    return ContentStatus::Ok;
}

ContentStatus FileContains(const std::string& path, std::string_view needle, bool& found) {
    found = false;
    OpenContent f;
    if (!OpenForContent(path, f)) return ContentStatus::Unreadable;
    if (needle.empty()) {
        found = true;
        return ContentStatus::Ok;
    }
    // The window is the last needle.size()-1 bytes of what came before plus
    // the new block, so a match across two blocks is seen.
    std::string window;
    ContentStatus st = ReadBlocks(f.fd.Get(), [&](std::string_view b) {
        window.append(b);
        if (window.find(needle) != std::string::npos) {
            found = true;
            return false;
        }
        const size_t keep = std::min(window.size(), needle.size() - 1);
        window.erase(0, window.size() - keep);
        return true;
    });
    if (st != ContentStatus::Ok) found = false;
    return st;
}

ContentStatus FileAnyLine(const std::string& path,
                          const std::function<bool(std::string_view)>& match, bool& found) {
    found = false;
    OpenContent f;
    if (!OpenForContent(path, f)) return ContentStatus::Unreadable;
    std::string line;  // the part of a line that began in an earlier block
    bool any = false;  // some byte read at all
    // A piece of a long line ended with the last block: a break that opens
    // this block ends that line, it is no empty line of its own.
    bool pieceEnded = false;
    ContentStatus st = ReadBlocks(f.fd.Get(), [&](std::string_view b) {
        any = true;
        if (pieceEnded && b.front() == '\n') b.remove_prefix(1);
        pieceEnded = false;
        while (!b.empty()) {
            const size_t nl = b.find('\n');
            const std::string_view part = b.substr(0, nl);
            std::string_view whole = part;
            if (!line.empty() || nl == std::string_view::npos) {
                const size_t take = std::min(kRegexpLineLimit - line.size(), part.size());
                line.append(part.substr(0, take));
                if (line.size() >= kRegexpLineLimit) {
                    // A line this long is matched in pieces.
                    if (match(line)) return found = true, false;
                    line.clear();
                    const bool ended = take == part.size() && nl != std::string_view::npos;
                    b.remove_prefix(ended ? nl + 1 : take);
                    pieceEnded = !ended && b.empty();
                    continue;
                }
                if (nl == std::string_view::npos) return true;
                whole = line;
            }
            if (match(whole)) return found = true, false;
            line.clear();
            b.remove_prefix(nl + 1);
        }
        return true;
    });
    if (st != ContentStatus::Ok) {
        found = false;
        return st;
    }
    // The last line without a break (an empty file has one empty line to
    // match, as a pattern that matches the empty text expects).
    if (!found && (!line.empty() || !any)) found = match(line);
    return st;
}

ContentStatus FileLineCount(const std::string& path, int64_t& lines) {
    lines = 0;
    OpenContent f;
    if (!OpenForContent(path, f)) return ContentStatus::Unreadable;
    char last = '\n';
    ContentStatus st = ReadBlocks(f.fd.Get(), [&](std::string_view b) {
        lines += std::count(b.begin(), b.end(), '\n');
        last = b.back();
        return true;
    });
    if (st != ContentStatus::Ok) {
        lines = 0;
        return st;
    }
    if (last != '\n') ++lines;
    return st;
}

ContentStatus FileHead(const std::string& path, int64_t n, std::string& bytes) {
    bytes.clear();
    OpenContent f;
    if (!OpenForContent(path, f)) return ContentStatus::Unreadable;
    const size_t want = static_cast<size_t>(std::clamp<int64_t>(n, 0, kHeadLimit));
    if (want == 0) return ContentStatus::Ok;
    ContentStatus st = ReadBlocks(f.fd.Get(), [&](std::string_view b) {
        bytes.append(b.substr(0, want - bytes.size()));
        return bytes.size() < want;
    });
    if (st != ContentStatus::Ok) bytes.clear();
    return st;
}

ContentStatus FileMimeType(const std::string& path, std::string& type) {
    type.clear();
    OpenContent f;
    if (!OpenForContent(path, f)) return ContentStatus::Unreadable;
    std::string bytes;
    ContentStatus st = ReadBlocks(f.fd.Get(), [&](std::string_view b) {
        bytes.append(b.substr(0, kMagicBytes - bytes.size()));
        return bytes.size() < kMagicBytes;
    });
    if (st != ContentStatus::Ok) return st;
    thread_local MagicHandle magic;
    if (!magic.Get()) return ContentStatus::Unreadable;
    const char* name = ::magic_buffer(magic.Get(), bytes.data(), bytes.size());
    if (!name) return ContentStatus::Unreadable;
    type = name;
    return ContentStatus::Ok;
}

bool LinkStatus(const std::string& path, EntryOwnership& out) {
    std::string name;
    FileHandle dir = OpenContainingDirectory(path, name);
    struct stat st {};
    if (!dir.Valid() || ::fstatat(dir.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    out.uid = st.st_uid;
    out.gid = st.st_gid;
    out.mode = st.st_mode;
    out.ino = st.st_ino;
    out.links = st.st_nlink;
    return true;
}

std::string UserName(uint32_t uid) {
    std::vector<char> buf(1024);
    for (int tries = 0; tries < 8; ++tries) {
        struct passwd pw {};
        struct passwd* found = nullptr;
        int rc = ::getpwuid_r(uid, &pw, buf.data(), buf.size(), &found);
        if (rc == ERANGE) {
            buf.resize(buf.size() * 4);
            continue;
        }
        if (rc == 0 && found && found->pw_name) return found->pw_name;
        break;
    }
    return std::to_string(uid);
}

std::string GroupName(uint32_t gid) {
    std::vector<char> buf(1024);
    for (int tries = 0; tries < 8; ++tries) {
        struct group gr {};
        struct group* found = nullptr;
        int rc = ::getgrgid_r(gid, &gr, buf.data(), buf.size(), &found);
        if (rc == ERANGE) {
            buf.resize(buf.size() * 4);
            continue;
        }
        if (rc == 0 && found && found->gr_name) return found->gr_name;
        break;
    }
    return std::to_string(gid);
}

bool LinkTarget(const std::string& path, std::string& target) {
    target.clear();
    std::string name;
    FileHandle dir = OpenContainingDirectory(path, name);
    struct stat st {};
    if (!dir.Valid() || ::fstatat(dir.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISLNK(st.st_mode))
        return false;
    // The size lstat gives may be 0 (some file systems) or stale: grow until
    // the text fits, within a bound far above any real target.
    std::vector<char> buf(static_cast<size_t>(std::clamp<off_t>(st.st_size, 0, 65536)) + 256);
    while (buf.size() <= (1u << 20)) {
        ssize_t got = ::readlinkat(dir.Get(), name.c_str(), buf.data(), buf.size());
        if (got < 0) return false;
        if (static_cast<size_t>(got) < buf.size()) {
            target.assign(buf.data(), static_cast<size_t>(got));
            return true;
        }
        buf.resize(buf.size() * 4);
    }
    return false;
}

}  // namespace corvane

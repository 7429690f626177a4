// FileContent: what a statement may learn from inside a file and from its
// own metadata — digests, byte search, line counts, the first bytes, the
// content type, owner, group, permission bits, inode, link count and link
// target.
//
// Every outside file is untrusted, so the rules are the same for all of it:
//   - Content is read only from a regular file (OpenRegularFile: looked at
//     without following a link, opened O_RDONLY|O_NOFOLLOW|O_NONBLOCK|
//     O_CLOEXEC with O_NOATIME where the kernel allows it, fstat checked).
//     A FIFO, device, socket, directory or link is never read, so no call
//     can block.
//   - Reading goes in fixed blocks (kContentBlock) through one buffer per
//     thread, so memory is bounded whatever the file size; a file that grows
//     or shrinks while it is read is taken as read.
//   - Between two blocks the session's poll is asked whether to go on: a
//     hash of a huge file stops promptly when the query is cancelled, and
//     the caller learns that it stopped (ContentStatus::Cancelled) rather
//     than getting a half result.
//   - Metadata comes from lstat: links are never followed.
//   - The content type comes from libmagic looking at bytes read here
//     (magic_buffer); libmagic never opens the path itself.
//
// A ContentSession is the per-statement state: the poll, a digest cache
// keyed by (device, inode, size, modification time, algorithm) so that a
// self-join or a grouping plus a select item reads a file once, and the
// counts of what was read. The cache holds at most kDigestCacheBytes (some
// 400 000 files); past that, new digests are not kept, the ones kept stay. The engine installs one
// for each run (ContentSession::Scope); outside one the functions work without a cache and without
// a poll.
//
// What it does not do: know about statements, built-in numbers or Variant
// results. The script runtime's built-ins (u_base_funcs) turn these results
// into values, with the empty text for whatever could not be read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <tuple>

namespace corvane {

// Bytes read from a file in one step.
inline constexpr size_t kContentBlock = 64 * 1024;
// The most bytes head() returns, whatever it asks for.
inline constexpr int64_t kHeadLimit = 1024 * 1024;
// What one statement's digest cache may hold.
inline constexpr size_t kDigestCacheBytes = 64 * 1024 * 1024;
// Bytes libmagic is shown to name a content type.
inline constexpr size_t kMagicBytes = 64 * 1024;
// contains_regexp looks at a file line by line; a longer line is matched
// in pieces of this many bytes.
inline constexpr size_t kRegexpLineLimit = 1024 * 1024;

enum class ContentStatus {
    Ok,
    Unreadable,  // missing, not a regular file, no permission, read error
    Cancelled,   // the session's poll asked to stop
};

enum class DigestKind { Md5, Sha1, Sha256, Sha512, Xxh128 };

// What identifies one version of a file's content for the digest cache.
struct ContentKey {
    uint64_t dev = 0, ino = 0, size = 0;
    int64_t mtimeSec = 0, mtimeNsec = 0;
    DigestKind kind = DigestKind::Md5;
    auto Tie() const { return std::tie(dev, ino, size, mtimeSec, mtimeNsec, kind); }
    bool operator<(const ContentKey& o) const { return Tie() < o.Tie(); }
};

// The per-statement state (see the unit's essay). Not thread-safe: one
// statement runs on one thread.
class ContentSession {
  public:
    // Answers false when reading must stop (cancelled query).
    using Poll = std::function<bool()>;

    explicit ContentSession(Poll poll = {}) : poll_(std::move(poll)) {}

    // The session of this thread's running statement, or null.
    static ContentSession* Current();

    // Installs a session as the thread's current one for its lifetime and
    // puts back the one before.
    class Scope {
      public:
        explicit Scope(ContentSession& session);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

      private:
        ContentSession* previous_;
    };

    // True to go on reading.
    bool KeepGoing() const { return !poll_ || poll_(); }

    // The cache; Find gives null when the key is not there.
    const std::string* Find(const ContentKey& key) const;
    // Keeps a digest while the cache has room for it.
    void Store(const ContentKey& key, std::string hex);

    // Counts for tests and benchmarks: files whose content was read (a
    // digest from the cache reads nothing), bytes read, digests served
    // from the cache.
    uint64_t FilesRead() const { return filesRead_; }
    uint64_t BytesRead() const { return bytesRead_; }
    uint64_t CacheHits() const { return cacheHits_; }
    void CountFile() { ++filesRead_; }
    void CountBytes(uint64_t n) { bytesRead_ += n; }
    void CountHit() { ++cacheHits_; }

  private:
    Poll poll_;
    std::map<ContentKey, std::string> digests_;
    size_t cacheBytes_ = 0;
    uint64_t filesRead_ = 0, bytesRead_ = 0, cacheHits_ = 0;
};

// Joins a directory and a name as the path column and the filename column
// give them: one "/" between them whether or not the directory ends in one;
// an empty directory gives the name, an empty name the directory.
std::string JoinFileName(std::string_view directory, std::string_view name);

// Lower-case hex digest of the file's whole content (xxh128 as xxhsum
// prints it). Uses and fills the current session's cache.
ContentStatus FileDigest(const std::string& path, DigestKind kind, std::string& hex);
// Whether the content holds needle (bytes, case-sensitive); an empty needle
// is found in every readable file.
ContentStatus FileContains(const std::string& path, std::string_view needle, bool& found);
// Whether some line of the content (split at "\n", the break left out; a
// line longer than kRegexpLineLimit in pieces) satisfies match.
ContentStatus FileAnyLine(const std::string& path,
                          const std::function<bool(std::string_view)>& match, bool& found);
// Number of lines: line breaks, plus one for a last line without a break.
ContentStatus FileLineCount(const std::string& path, int64_t& lines);
// The first n bytes (n clamped to 0..kHeadLimit).
ContentStatus FileHead(const std::string& path, int64_t n, std::string& bytes);
// The MIME type libmagic names for the first kMagicBytes bytes.
ContentStatus FileMimeType(const std::string& path, std::string& type);

// lstat metadata; false when the entry cannot be examined.
struct EntryOwnership {
    uint32_t uid = 0, gid = 0, mode = 0;
    uint64_t ino = 0, links = 0;
};
bool LinkStatus(const std::string& path, EntryOwnership& out);
// The account name of uid, or its number as text when it has none.
std::string UserName(uint32_t uid);
std::string GroupName(uint32_t gid);
// The target text of a symbolic link; false when path is no link.
bool LinkTarget(const std::string& path, std::string& target);

}  // namespace corvane

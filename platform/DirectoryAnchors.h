// DirectoryAnchors: directories a listing reached through a followed link,
// so that what is read below them later goes through the directory the
// listing opened and never through the link again.
//
// A listing that follows links ("follow") shows the entries below a link
// under the link's own path (/t/link/sub/f). Reading such a file later by
// that path would resolve the link a second time: a link swapped in
// between would make a content function or the version reader read a file
// outside what was listed. So the listing registers each directory it
// entered through a link as an anchor: the path text it shows, and the
// directory it opened there. Every open of a path below an anchor
// (OpenContainingDirectory, and through it OpenRegularFile, the content
// functions and the version reader; OpenDirectoryAnchored) starts from the
// anchor's directory and walks the rest of the path one component at a
// time without following any link; the longest anchor wins, so a link
// followed below another has its own. A path no anchor covers is resolved
// as before.
//
// An anchor keeps an O_PATH descriptor of the directory while fewer than
// kMaxAnchorDescriptors are held in the process; past that it keeps the
// directory's path as the kernel names it and its identity, and an open
// walks that path from "/" without following links and checks that it
// arrives at the same directory (else the open fails).
//
// What it does not do: decide which links to follow or detect loops (the
// walker does), or resolve ".." below an anchor: a path with a ".."
// component after the anchor is refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/FileSystem.h"

namespace corvane {

// Descriptors all anchors of the process hold at most.
inline constexpr size_t kMaxAnchorDescriptors = 256;

// One registered anchor; unregistered when destroyed. Thread-safe: lookups
// may run on any thread while anchors come and go.
class DirectoryAnchor {
  public:
    // pathText: the path the listing shows for the directory (no final
    // "/"); dirFd: the directory it opened there (not taken over).
    DirectoryAnchor(std::string pathText, int dirFd);
    ~DirectoryAnchor();
    DirectoryAnchor(const DirectoryAnchor&) = delete;
    DirectoryAnchor& operator=(const DirectoryAnchor&) = delete;

  private:
    uint64_t id_ = 0;
};

// The directory path names when an anchor covers it (path is the anchor's
// text or below it): opened with flags (O_PATH or O_RDONLY, O_DIRECTORY is
// added) from the anchor, no link followed. covered tells whether an
// anchor covered path; when it did not, the result is invalid and the
// caller resolves path itself.
FileHandle OpenBelowAnchor(std::string_view path, int flags, bool& covered);

// The directory path names, through an anchor when one covers it, else
// as OpenDirectoryPath opens it.
FileHandle OpenDirectoryAnchored(const std::string& path);

// Anchors registered now (for tests).
size_t AnchorCount();

}  // namespace corvane

// When a directory may be written into or read from: the one place that
// decides it for the trace writers, the client log and the local seal store.
// A directory is always opened without following a link, and then judged
// by what it is, not by its name.
#pragma once

#include <sys/stat.h>

#include <string>

namespace varo {

enum class DirectoryTrust {
  // The caller's own: it belongs to the caller (effective uid) or to root,
  // and neither its group nor other users may write to it. Trace files go
  // only there: in a directory others may write to, they would see the
  // names, sizes and timing of the caller's traces.
  Private,
  // Shared by local users: not writable by every user unless it is sticky
  // (then only a file's owner may remove or replace it).
  Shared,
};

// Opens path as a directory, never through a symbolic link (retrying an
// interrupted open); the descriptor, or -1 with errno set.
int openDirectoryNoFollow(const char* path);

// Why the directory described by st may not be trusted under rule, as the
// end of a sentence about it ("is writable by every user and not sticky");
// empty when it may.
std::string distrust(const struct stat& st, DirectoryTrust rule);

// The directory at path opened for use under rule: its descriptor, or -1
// when it is missing, is a link or no directory, cannot be examined or may
// not be trusted.
int openTrustedDirectory(const char* path, DirectoryTrust rule);

}  // namespace varo

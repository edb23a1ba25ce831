// Trace files: checkpoint markers and data dumps under /tmp/varolog.
//
// The directory is never created; without it nothing is written, and nothing
// either when it is not the caller's own: it must belong to the calling user
// (effective uid) or root, and neither its group nor other users may write
// to it (DirectoryTrust::Private), so that nobody else sees which traces are
// written, how large and when. The writers never follow a symbolic link
// (neither the directory nor the file), only write regular files with a
// single link that belong to the calling user, create files with mode 0600,
// and never fail their caller. The same holds for every directory a dump
// names.
#pragma once

#include <cstddef>

namespace varo::trace {

// The trace directory, without trailing slash.
inline constexpr const char* kDirectory = "/tmp/varolog";

// True when traces are written now: the trace directory exists and is the
// caller's own.
bool active();

// Writes the checkpoint file kDirectory/<name> holding 10 zero bytes.
// A name with a "/" or a path over 199 characters is not written.
void marker(const char* name);

// The markers of one call into a library: the trace directory is looked up
// once, when the scope starts, and held until it ends. A call made without
// the directory then pays one failed lookup for all its markers instead of
// one per marker; a directory that appears or goes while the call runs
// counts from the next call on. Written files are those of marker().
class MarkerScope {
 public:
  MarkerScope();
  ~MarkerScope();
  MarkerScope(const MarkerScope&) = delete;
  MarkerScope& operator=(const MarkerScope&) = delete;

  void marker(const char* name) const;

 private:
  int dir_;
};

// Creates or truncates the file at path and writes n bytes of data, or ten
// zero bytes when n is 0 (a placeholder that shows the point was reached).
void dump(const char* path, const void* data, size_t n);

// Creates or truncates the file at path and writes exactly n bytes of data
// (an empty file when n is 0).
void dumpExact(const char* path, const void* data, size_t n);

}  // namespace varo::trace

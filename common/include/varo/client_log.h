// The client log of the seal-list plug-ins: the text file "clientlog.txt" in
// the directory "varolog" under the system temporary directory
// (QDir::tempPath()). Each message is appended as one line,
// "yyyy.MM.dd hh:mm:ss<TAB>message<LF>" in local time, the file being opened
// for that one line and closed again.
//
// Nothing is written when the directory does not exist; it is never created.
// Like the trace writers, the log writes only into a directory that is the
// caller's own (DirectoryTrust::Private), never follows a symbolic link
// (neither the directory nor the file), appends only to a regular file with
// a single link that belongs to the calling user, creates the file with mode
// 0600 and never fails its caller.
#pragma once

#include <QString>

namespace varo {

inline constexpr const char* kClientLogDirectory = "varolog";
inline constexpr const char* kClientLogFile = "clientlog.txt";

// Appends one line holding message (as UTF-8).
void writeClientLog(const QString& message);

}  // namespace varo

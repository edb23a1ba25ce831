#include "varo/client_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>

#include "varo/directory_trust.h"
#include "varo/fd_io.h"
#include "varo/unique_fd.h"

namespace varo {

void writeClientLog(const QString& message) {
  const QByteArray dir = QFile::encodeName(QDir::tempPath() + "/" + kClientLogDirectory);
  UniqueFd dirFd(openTrustedDirectory(dir.constData(), DirectoryTrust::Private));
  if (dirFd.get() < 0) return;
  // O_NONBLOCK: a FIFO planted under the name must not block the caller.
  UniqueFd fd(::openat(
      dirFd.get(), kClientLogFile,
      O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0600));
  if (fd.get() < 0) return;
  struct stat st;
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 ||
      st.st_uid != ::geteuid())
    return;
  const QByteArray line = QDateTime::currentDateTime().toString("yyyy.MM.dd hh:mm:ss").toUtf8() +
                          '\t' + message.toUtf8() + '\n';
  // One write: lines of concurrent writers do not interleave.
  writeAll(fd.get(), line.constData(), size_t(line.size()));
}

}  // namespace varo

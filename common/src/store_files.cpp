#include "varo/store_files.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "varo/directory_trust.h"
#include "varo/fd_io.h"
#include "varo/install_root.h"
#include "varo/unique_fd.h"

namespace varo {

namespace {

// The longest name the store takes, in UTF-8 bytes; with the temporary
// file's prefix and suffix it stays well below the file systems' 255.
constexpr int kMaxNameBytes = 200;
// No store file comes near this; a larger read limit is taken as this one,
// which a QByteArray can always hold.
constexpr qint64 kMaxReadBytes = qint64(1) << 30;
// Temporary names tried before giving up on finding a free one.
constexpr int kTemporaryNameAttempts = 16;

QString errorText(int error) {
  return QString::fromLocal8Bit(std::strerror(error));
}

QString joined(const QString& dir, const QString& name) {
  return dir.endsWith(QLatin1Char('/')) ? dir + name : dir + QLatin1Char('/') + name;
}

// A name as it can stand in a message: control characters shown as '?' so
// that a hostile name cannot forge log lines, and long names cut.
QString shown(const QString& name) {
  QString text = name.left(100);
  for (QChar& c : text)
    if (c.unicode() < 0x20 || c.unicode() == 0x7F) c = QLatin1Char('?');
  return QLatin1Char('"') + text + (name.size() > 100 ? "...\"" : "\"");
}

QString kindOf(mode_t mode) {
  if (S_ISLNK(mode)) return QStringLiteral("a symbolic link");
  if (S_ISDIR(mode)) return QStringLiteral("a directory");
  if (S_ISFIFO(mode)) return QStringLiteral("a FIFO");
  if (S_ISSOCK(mode)) return QStringLiteral("a socket");
  if (S_ISCHR(mode) || S_ISBLK(mode)) return QStringLiteral("a device");
  return QStringLiteral("not a regular file");
}

QString isKind(const QString& path, mode_t mode) {
  return path + " is " + kindOf(mode);
}

// The store directory dir opened for use: its descriptor, or -1 with
// *status (Absent when it does not exist, Untrusted, Failed) and *why.
int openStoreDirectory(const QString& dir, StoreRead* status, QString* why) {
  const QByteArray path = QFile::encodeName(dir);
  if (path.isEmpty()) {
    *status = StoreRead::Failed;
    *why = QStringLiteral("no store directory given");
    return -1;
  }
  const int fd = openDirectoryNoFollow(path.constData());
  if (fd < 0) {
    const int error = errno;
    struct stat st;
    if (error == ENOENT) {
      *status = StoreRead::Absent;
    } else if ((error == ELOOP || error == ENOTDIR) && ::lstat(path.constData(), &st) == 0 &&
               !S_ISDIR(st.st_mode)) {
      // The entry itself is a link or no directory (not a component above).
      *status = StoreRead::Untrusted;
      *why = isKind(dir, st.st_mode);
      return -1;
    } else {
      *status = StoreRead::Failed;
    }
    *why = dir + ": " + errorText(error);
    return -1;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    const int error = errno;
    ::close(fd);
    *status = StoreRead::Failed;
    *why = "cannot examine " + dir + ": " + errorText(error);
    return -1;
  }
  const std::string distrusted = distrust(st, DirectoryTrust::Shared);
  if (!distrusted.empty()) {
    ::close(fd);
    *status = StoreRead::Untrusted;
    *why = dir + " " + QString::fromStdString(distrusted);
    return -1;
  }
  return fd;
}

// The temporary file of a replacement inside the store directory: closed,
// and removed unless it has been renamed into place, when it goes out of
// scope.
struct TemporaryFile {
  explicit TemporaryFile(int directory) : dirFd(directory) {}
  ~TemporaryFile() {
    if (fd >= 0) ::close(fd);
    if (!name.isEmpty() && !renamed) ::unlinkat(dirFd, name.constData(), 0);
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  const int dirFd;
  int fd = -1;
  QByteArray name;  // set once the file exists
  bool renamed = false;
};

bool fsyncRetrying(int fd) {
  while (::fsync(fd) != 0)
    if (errno != EINTR) return false;
  return true;
}

QString digestOf(const QByteArray& bytes) {
  return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

}  // namespace

QString sealStoreDirectory() {
  QString dir = QString::fromUtf8(kInstallRoot) + QString::fromUtf8(kSealStoreDirectory);
  while (dir.size() > 1 && dir.endsWith(QLatin1Char('/'))) dir.chop(1);
  return dir;
}

bool isSafeStoreName(const QString& name) {
  if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) return false;
  for (QChar c : name)
    if (c == QLatin1Char('/') || c.unicode() < 0x20 || c.unicode() == 0x7F) return false;
  return name.toUtf8().size() <= kMaxNameBytes;
}

bool isTrustedStoreDirectory(const QString& dir, QString* why) {
  StoreRead status;
  QString reason;
  const int fd = openStoreDirectory(dir, &status, &reason);
  if (fd < 0) {
    if (why) *why = reason;
    return false;
  }
  ::close(fd);
  return true;
}

StoreFile readStoreFile(const QString& dir, const QString& name, qint64 max) {
  StoreFile result;
  auto refuse = [&result](StoreRead status, const QString& why) {
    result.status = status;
    result.why = why;
    return result;
  };
  const QString path = joined(dir, name);
  if (!isSafeStoreName(name))
    return refuse(StoreRead::Untrusted, shown(name) + " cannot name a file in " + dir);
  if (max <= 0) return refuse(StoreRead::Failed, "no byte of " + path + " may be read");

  StoreRead dirStatus = StoreRead::Failed;
  QString why;
  const int dirFd = openStoreDirectory(dir, &dirStatus, &why);
  if (dirFd < 0) return refuse(dirStatus, why);
  const UniqueFd directory(dirFd);
  const QByteArray file = QFile::encodeName(name);

  // Looked at first without opening, so that no FIFO or device is opened.
  struct stat st;
  if (::fstatat(dirFd, file.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    const int error = errno;
    if (error == ENOENT) return refuse(StoreRead::Absent, path + ": " + errorText(error));
    return refuse(StoreRead::Failed, "cannot examine " + path + ": " + errorText(error));
  }
  if (!S_ISREG(st.st_mode)) return refuse(StoreRead::Untrusted, isKind(path, st.st_mode));

  int fd;
  do {
    fd = ::openat(dirFd, file.constData(),
                  O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    const int error = errno;
    // The entry changed since it was looked at.
    if (error == ENOENT) return refuse(StoreRead::Absent, path + ": " + errorText(error));
    if (error == ELOOP) return refuse(StoreRead::Untrusted, path + " is a symbolic link");
    if (error == ENXIO) return refuse(StoreRead::Untrusted, path + " is not a regular file");
    return refuse(StoreRead::Failed, "cannot open " + path + ": " + errorText(error));
  }
  const UniqueFd opened(fd);
  if (::fstat(fd, &st) != 0) {
    const int error = errno;
    return refuse(StoreRead::Failed, "cannot examine " + path + ": " + errorText(error));
  }
  if (!S_ISREG(st.st_mode)) return refuse(StoreRead::Untrusted, isKind(path, st.st_mode));
  if (st.st_nlink != 1)
    return refuse(StoreRead::Untrusted,
                  path + " has " + QString::number(qulonglong(st.st_nlink)) + " hard links");
  const uid_t self = ::geteuid();
  if (st.st_uid != self && st.st_uid != 0)
    return refuse(StoreRead::Untrusted, path + " belongs to uid " + QString::number(st.st_uid) +
                                            ", neither to uid " + QString::number(self) +
                                            " nor to root");

  const qint64 limit = std::min(max, kMaxReadBytes);
  QByteArray bytes;
  char chunk[65536];
  while (bytes.size() < limit) {
    const size_t want = size_t(std::min<qint64>(qint64(sizeof chunk), limit - bytes.size()));
    const ssize_t got = ::read(fd, chunk, want);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int error = errno;
      return refuse(StoreRead::Failed, "cannot read " + path + ": " + errorText(error));
    }
    if (got == 0) break;
    bytes.append(chunk, int(got));
  }
  if (bytes.isEmpty()) return refuse(StoreRead::Absent, path + " is empty");
  result.status = StoreRead::Ok;
  result.bytes = bytes;
  return result;
}

bool replaceStoreFile(const QString& dir, const QString& name, const QByteArray& bytes,
                      QString* why) {
  auto refuse = [why](const QString& reason) {
    if (why) *why = reason;
    return false;
  };
  const QString path = joined(dir, name);
  if (!isSafeStoreName(name)) return refuse(shown(name) + " cannot name a file in " + dir);
  if (bytes.isEmpty()) return refuse("refusing to write an empty " + path);

  StoreRead dirStatus = StoreRead::Failed;
  QString reason;
  const int dirFd = openStoreDirectory(dir, &dirStatus, &reason);
  if (dirFd < 0) return refuse("cannot write " + path + ": " + reason);
  const UniqueFd directory(dirFd);

  TemporaryFile temporary(dirFd);
  QString temporaryPath;
  for (int attempt = 0; temporary.fd < 0; ++attempt) {
    if (attempt == kTemporaryNameAttempts)
      return refuse("cannot create a temporary file in " + dir + ": " + errorText(EEXIST));
    const QString candidate = QLatin1Char('.') + name + QStringLiteral(".tmp.") +
                              QString::number(QRandomGenerator::system()->generate64(), 16);
    const QByteArray encoded = QFile::encodeName(candidate);
    int fd;
    do {
      fd = ::openat(dirFd, encoded.constData(),
                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    const int error = fd < 0 ? errno : 0;
    temporaryPath = joined(dir, candidate);
    if (fd < 0 && error != EEXIST) {
      return refuse("cannot create " + temporaryPath + ": " + errorText(error));
    }
    if (fd >= 0) {
      temporary.fd = fd;
      temporary.name = encoded;
    }
  }

  errno = 0;
  if (!writeAll(temporary.fd, bytes.constData(), size_t(bytes.size()))) {
    // A write that takes no byte without an error counts as an I/O error.
    const int error = errno ? errno : EIO;
    return refuse("cannot write " + temporaryPath + ": " + errorText(error));
  }
  if (!fsyncRetrying(temporary.fd)) {
    const int error = errno;
    return refuse("cannot write " + temporaryPath + ": " + errorText(error));
  }
  struct stat st;
  if (::fstat(temporary.fd, &st) != 0) {
    const int error = errno;
    return refuse("cannot examine " + temporaryPath + ": " + errorText(error));
  }
  if (st.st_size != qint64(bytes.size()))
    return refuse("cannot write " + temporaryPath + ": it holds " + QString::number(st.st_size) +
                  " of " + QString::number(bytes.size()) + " bytes");
  const int closed = ::close(temporary.fd);
  const int closeError = errno;
  temporary.fd = -1;  // closed, even when close reports an error
  if (closed != 0 && closeError != EINTR)
    return refuse("cannot write " + temporaryPath + ": " + errorText(closeError));

  const QByteArray target = QFile::encodeName(name);
  if (::renameat(dirFd, temporary.name.constData(), dirFd, target.constData()) != 0) {
    const int error = errno;
    return refuse("cannot rename " + temporaryPath + " to " + path + ": " + errorText(error));
  }
  temporary.renamed = true;
  // EINVAL: the file system keeps no directory to sync; the rename is all
  // there is.
  if (!fsyncRetrying(dirFd) && errno != EINVAL) {
    const int error = errno;
    return refuse(path + " is replaced, but the directory " + dir +
                  " cannot be synced: " + errorText(error));
  }
  return true;
}

QByteArray copyOwnerRecord(const CopyOwner& owner, const QByteArray& copy) {
  QJsonObject record;
  record.insert(QStringLiteral("DEVICEURL"), owner.deviceUrl);
  record.insert(QStringLiteral("SERIAL"), owner.serial);
  record.insert(QStringLiteral("SHA256"), digestOf(copy));
  return QJsonDocument(record).toJson(QJsonDocument::Compact);
}

std::optional<CopyOwner> readCopyOwner(const QString& dir, const QString& identifier,
                                       const QByteArray& copy) {
  if (copy.isEmpty()) return std::nullopt;
  const StoreFile file = readStoreFile(dir, identifier + QStringLiteral(".key"), 4096);
  if (file.status != StoreRead::Ok) return std::nullopt;
  const QJsonDocument document = QJsonDocument::fromJson(file.bytes);
  const QJsonObject record = document.object();
  const QJsonValue url = record.value(QStringLiteral("DEVICEURL"));
  const QJsonValue serial = record.value(QStringLiteral("SERIAL"));
  const QJsonValue digest = record.value(QStringLiteral("SHA256"));
  if (!document.isObject() || !url.isString() || !serial.isString() || !digest.isString() ||
      digest.toString() != digestOf(copy))
    return std::nullopt;
  return CopyOwner{url.toString(), serial.toString()};
}

}  // namespace varo

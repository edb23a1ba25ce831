// The files of the local seal store, a directory that several local users
// share: each key's substitute seal index <serial>.list, the seal copies
// <identifier>.dat and their owner records <identifier>.key. Files are read
// only when nobody else can have planted them (no link, no FIFO or device,
// no second hard link, owned by the caller or root, in a directory that
// others cannot write to or that is sticky) and replaced whole and durably:
// a crash or a full disk leaves the old file, never an empty or short one.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace varo {

// InstallRoot + "/sealData" (no trailing slash).
QString sealStoreDirectory();

// True when name can be a file name directly inside the store: not empty,
// not "." or "..", no '/', no character below 0x20, no 0x7F, at most 200
// bytes as UTF-8.
bool isSafeStoreName(const QString& name);

// True when dir opens as a directory without following a link and is not
// writable by every user unless it is sticky (DirectoryTrust::Shared). Otherwise false, with the
// reason and the path in *why (may be null), e.g.
// "<path> is writable by every user and not sticky" or
// "<path>: No such file or directory".
bool isTrustedStoreDirectory(const QString& dir, QString* why);

enum class StoreRead {
  Ok,         // bytes holds the file's first bytes (never none)
  Absent,     // no such file or directory, or an empty file
  Untrusted,  // unsafe name, untrusted directory, or a file that may be planted
  Failed,     // the file could not be read
};

struct StoreFile {
  StoreRead status = StoreRead::Absent;
  QByteArray bytes;  // Ok only
  QString why;       // the reason, with the path, for every status but Ok
};

// The first (at most) max bytes of dir/name. The file counts only when the
// directory is trusted, name is safe, and the file, opened without following
// a link and without blocking, is a regular file with exactly one link,
// owned by the caller (effective uid) or root. A missing file (or store
// directory) is Absent, and so is an empty file; a link, FIFO, device,
// directory, second hard link, other owner, unsafe name or untrusted
// directory is Untrusted; an error while opening or reading is Failed.
StoreFile readStoreFile(const QString& dir, const QString& name, qint64 max);

// Replaces dir/name with bytes, whole and durably: the bytes go to a new
// temporary file "." + name + ".tmp." + random suffix in dir (mode 0644
// before the umask), which is synced, checked for its size and renamed over
// dir/name, and then the directory is synced. Refuses empty bytes, an unsafe
// name and an untrusted directory. On any failure the temporary file is
// removed, dir/name keeps its old contents, and *why (may be null) gets the
// reason with the path and the system's error text. Only the directory sync
// comes after the rename: when it fails, dir/name already holds the new
// bytes, and false says that this may not survive a crash (a file system
// that cannot sync directories, EINVAL, counts as synced). True on success.
bool replaceStoreFile(const QString& dir, const QString& name, const QByteArray& bytes,
                      QString* why);

// Which key wrote a seal copy. Its owner record is the file <identifier>.key
// beside <identifier>.dat, the compact JSON object
// {"DEVICEURL":"...","SERIAL":"...","SHA256":"<lower-case hex SHA-256 of the copy>"}.
// A record whose digest does not match the copy says nothing about it.
struct CopyOwner {
  QString deviceUrl;
  QString serial;
};

// The owner record of the copy bytes `copy`.
QByteArray copyOwnerRecord(const CopyOwner& owner, const QByteArray& copy);

// The owner of the copy bytes `copy` of seal `identifier` in dir: the
// record <identifier>.key read like any store file, when it is a JSON object
// whose DEVICEURL and SERIAL are texts and whose SHA256 is the digest of
// copy; nullopt otherwise (and for an empty copy).
std::optional<CopyOwner> readCopyOwner(const QString& dir, const QString& identifier,
                                       const QByteArray& copy);

}  // namespace varo

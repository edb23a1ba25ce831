// The local store "sealData" under the installation directory: the local
// list of a key without an index (serial + ".list") and the seal copies
// (identifier + ".dat"). Names come from the key, which is not trusted: a
// name that could leave the directory is never used as a file name.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace gm3000 {

// True when name can be a file name inside sealData: not empty, not "." or
// "..", and free of "/", zero bytes and control characters.
bool isSafeStoreName(const QString& name);

// InstallRoot + "/sealData/" + name + suffix, or nullopt for an unsafe name.
std::optional<QString> storePath(const QString& name, const char* suffix);

// Writes the bytes through a new file in the same directory that is then
// renamed into place, so that a reader sees the old or the new whole file.
// False, with the old file untouched, when anything fails (the directory
// is never created).
bool replaceFile(const QString& path, const QByteArray& bytes);

// The first max bytes of a regular file; nullopt when it cannot be opened.
std::optional<QByteArray> readFilePrefix(const QString& path, qint64 max);

}  // namespace gm3000

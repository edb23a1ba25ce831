#include "local_store.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "varo/install_root.h"

namespace gm3000 {

bool isSafeStoreName(const QString& name) {
  if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) return false;
  for (QChar c : name)
    if (c == QLatin1Char('/') || c.unicode() < 0x20 || c.unicode() == 0x7F) return false;
  return true;
}

std::optional<QString> storePath(const QString& name, const char* suffix) {
  if (!isSafeStoreName(name)) return std::nullopt;
  return QString::fromUtf8(varo::kInstallRoot) + QString::fromLatin1(varo::kSealStoreDirectory) +
         name + QString::fromLatin1(suffix);
}

bool replaceFile(const QString& path, const QByteArray& bytes) {
  QSaveFile file(path);
  file.setDirectWriteFallback(false);
  if (!file.open(QIODevice::WriteOnly)) return false;
  if (file.write(bytes) != bytes.size()) {
    file.cancelWriting();
    return false;
  }
  return file.commit();
}

std::optional<QByteArray> readFilePrefix(const QString& path, qint64 max) {
  QFile file(path);
  if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) return std::nullopt;
  return file.read(max);
}

}  // namespace gm3000

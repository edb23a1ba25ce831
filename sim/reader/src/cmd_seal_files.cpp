#include <QFile>

#include "seal_files.h"

namespace reader {

bool readWholeFile(Output& out, const std::string& path, Bytes* bytes) {
  QFile file(QString::fromLocal8Bit(path.c_str()));
  if (!file.open(QIODevice::ReadOnly)) {
    out.error(QString("cannot read %1: %2").arg(file.fileName(), file.errorString()));
    return false;
  }
  QByteArray data = file.readAll();
  if (data.size() != file.size()) {
    out.error(QString("cannot read all of %1").arg(file.fileName()));
    return false;
  }
  bytes->assign(data.begin(), data.end());
  return true;
}

bool writeWholeFile(Output& out, const std::string& path, const Bytes& bytes) {
  QFile file(QString::fromLocal8Bit(path.c_str()));
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
      file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size())) !=
          qint64(bytes.size())) {
    out.error(QString("cannot write %1: %2").arg(file.fileName(), file.errorString()));
    return false;
  }
  return true;
}

}  // namespace reader

#include "local_store.h"

#include "driver_report.h"

namespace gm3000 {

namespace {

QString listName(const QString& serial) {
  return serial + QStringLiteral(".list");
}

bool sameKey(const varo::CopyOwner& a, const varo::CopyOwner& b) {
  if (!a.serial.isEmpty() || !b.serial.isEmpty()) return a.serial == b.serial;
  return a.deviceUrl == b.deviceUrl;
}

bool replace(const QString& name, const QByteArray& bytes) {
  QString why;
  if (varo::replaceStoreFile(varo::sealStoreDirectory(), name, bytes, &why)) return true;
  reportProblem(QStringLiteral("local store not written: ") + why);
  return false;
}

}  // namespace

std::optional<std::vector<IndexEntry>> readLocalList(const QString& serial, QString* why) {
  if (!varo::isSafeStoreName(serial) || !varo::isSafeStoreName(listName(serial))) {
    *why = QStringLiteral("its serial number cannot name a local list");
    return std::nullopt;
  }
  const varo::StoreFile file =
      varo::readStoreFile(varo::sealStoreDirectory(), listName(serial), kLocalListSize);
  if (file.status != varo::StoreRead::Ok) {
    *why = file.why;
    return std::nullopt;
  }
  auto entries = parseIndex(QString::fromUtf8(file.bytes));
  if (!entries || entries->empty()) {
    *why = QStringLiteral("the local list ") + listName(serial) + " lists no seal";
    return std::nullopt;
  }
  return entries;
}

IndexEntry localListEntry(const QString& id, const QString& name) {
  IndexEntry entry;
  entry.pairs = {{QStringLiteral("ID"), id, true},
                 {QStringLiteral("NAME"), name, true},
                 {QStringLiteral("VER"), QStringLiteral("1"), true},
                 {QStringLiteral("TYPE"), QStringLiteral("1"), true},
                 {QStringLiteral("FILENAME"), name, true}};
  entry.raw = entryText(entry);
  return entry;
}

bool writeLocalList(const QString& serial, const std::vector<IndexEntry>& entries) {
  if (!varo::isSafeStoreName(serial) || !varo::isSafeStoreName(listName(serial))) return false;
  return replace(listName(serial), indexText(entries).toUtf8());
}

CopyWrite writeSealCopy(const QString& id, const QByteArray& bytes, const varo::CopyOwner& owner) {
  const QString dat = id + QStringLiteral(".dat"), key = id + QStringLiteral(".key");
  if (bytes.isEmpty() || !varo::isSafeStoreName(id) || !varo::isSafeStoreName(dat) ||
      !varo::isSafeStoreName(key))
    return CopyWrite::Failed;
  const QString dir = varo::sealStoreDirectory();
  const varo::StoreFile current = varo::readStoreFile(dir, dat, kSealCopySize + 1);
  if (current.status == varo::StoreRead::Ok) {
    if (const auto writer = varo::readCopyOwner(dir, id, current.bytes)) {
      if (!sameKey(*writer, owner)) {
        reportProblem(QStringLiteral("seal copy ") + dat + " belongs to key " + writer->deviceUrl +
                      " (serial " + writer->serial + "); not replaced by the seal of key " +
                      owner.deviceUrl);
        return CopyWrite::OtherKeys;
      }
      if (current.bytes == bytes) return CopyWrite::Unchanged;
    }
  }
  // The copy first: an owner record that does not match its copy says
  // nothing, so a crash between the two leaves a copy of unknown owner.
  if (!replace(dat, bytes)) return CopyWrite::Failed;
  return replace(key, varo::copyOwnerRecord(owner, bytes)) ? CopyWrite::Written : CopyWrite::Failed;
}

}  // namespace gm3000

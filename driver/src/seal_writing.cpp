// Writing a seal to the key. Nothing that the key's index lists is ever
// destroyed before its replacement is safe: the new chunks are written under
// a base name no file or entry of the key uses, then the index is rewritten
// whole (the one write that commits), and only then are the chunks of a
// replaced seal removed. A failure at any step leaves the old index and
// every seal it lists readable; the clean-up removes only what this call
// created.
#include <QStringList>
#include <QTime>

#include <algorithm>
#include <cstring>
#include <set>

#include "VaroDeviceBase_LM_GM3000.h"
#include "key_access.h"
#include "seal_index.h"
#include "seal_naming.h"

using namespace gm3000;

namespace {

constexpr skf::ULONG kChunkPayload = 51200;
// Created with the payload, its 8-byte length and two spare bytes.
constexpr skf::ULONG kChunkOverhead = 10;
constexpr skf::ULONG kIndexSize = 1024;
constexpr skf::ULONG kAnyone = 0xFF;
// The buffer in which the current seal list is read.
constexpr int kSealListCapacity = 64 * 1024;

// Values that would break the index text, which is written without escaping
// and split at "},{".
bool isIndexValue(const QString& value) {
  if (value.contains(QLatin1Char('"')) || value.contains(QStringLiteral("},{"))) return false;
  for (QChar c : value)
    if (c.unicode() < 0x20 || c.unicode() == 0x7F) return false;
  return true;
}

// The chunk files this call created, removed again unless the write commits.
class NewChunks {
 public:
  NewChunks(const skf::Api& api, const OpenKey& key) : api_(api), key_(key) {}
  ~NewChunks() {
    if (committed_) return;
    for (QByteArray& name : created_) api_.SKF_DeleteFile(key_.application(), name.data());
  }
  void created(const QByteArray& name) { created_.push_back(name); }
  void commit() { committed_ = true; }

 private:
  const skf::Api& api_;
  const OpenKey& key_;
  std::vector<QByteArray> created_;
  bool committed_ = false;
};

}  // namespace

QString VaroDeviceBase_LM_GM3000::CreateSealFileName() {
  return QTime::currentTime().toString(QStringLiteral("hhmmsszzz"));
}

int VaroDeviceBase_LM_GM3000::DeleteSeal(char*) {
  return 2;
}

int VaroDeviceBase_LM_GM3000::WriteSeal(char* sealId, char* sealName, int version, int type,
                                        unsigned char* data, int dataLength) {
  writeLog(QStringLiteral("IN VaroDeviceBase_LM_GM3000:WriteSeal"));
  VendorLibrary vendor;
  if (int rc = vendor.require({Fn::SKF_EnumDev, Fn::SKF_ConnectDev, Fn::SKF_DisConnectDev,
                               Fn::SKF_EnumApplication, Fn::SKF_OpenApplication,
                               Fn::SKF_CloseApplication, Fn::SKF_EnumFiles, Fn::SKF_CreateFile,
                               Fn::SKF_WriteFile, Fn::SKF_DeleteFile}))
    return rc;
  const skf::Api& api = vendor.api();

  const QString id = QString::fromUtf8(sealId ? sealId : "");
  const QString name = QString::fromUtf8(sealName ? sealName : "");
  if (!isIndexValue(id) || !isIndexValue(name) || dataLength < 0 || (!data && dataLength > 0))
    return int(skf::SAR_INVALIDPARAMERR);

  // The current list, and the list with the new entry.
  std::vector<unsigned char> buffer(kSealListCapacity, 0);
  int length = kSealListCapacity;
  const int listed = ReadSealList(buffer.data(), &length);
  QString list = QStringLiteral("[");
  QString oldBase;
  bool createIndex = false;
  if (listed == kNoApplication || listed == kNoSealData) {
    writeLog(QString::fromUtf8("UK中缺少索引文件，需要创建"));
    createIndex = true;
  } else if (listed == kEmptyIndex) {
    writeLog(QString::fromUtf8("印章索引文件内容为空"));
  } else if (listed == kOk) {
    writeLog(QString::fromUtf8("读取印章索引成功"));
    list = QString::fromUtf8(reinterpret_cast<const char*>(buffer.data()),
                             int(strnlen(reinterpret_cast<const char*>(buffer.data()),
                                         size_t(std::min(length, kSealListCapacity)))));
    oldBase = GetSealFileName(id, list);
    if (!oldBase.isEmpty()) list = DeleteFromJson(id, list);
  } else {
    writeLog(QStringLiteral("IN VaroDeviceBase_LM_GM3000:WriteSeal  ") + QString::number(listed));
    return listed;
  }
  // Base names still in use by the entries that stay.
  std::set<QString> listedBases;
  for (const QString& entry : indexEntries(list))
    listedBases.insert(GetJsonValue(entry, QStringLiteral("FILENAME"), false));
  if (list != QLatin1String("[")) {
    list.chop(1);
    if (list != QLatin1String("[")) list += QLatin1Char(',');
  }

  // The key.
  const DeviceList devices = enumerateDevices(api);
  if (!devices.ok()) {
    if (devices.failedCall == 1) writeLog(QString::fromUtf8("枚举设备失败"));
    return int(devices.vendorCode);
  }
  if (devices.names.empty()) return kNoDevice;
  if (devices.names.size() > 1) return kSeveralDevices;
  OpenKey key(api);
  if (skf::ULONG rc = key.connect(devices.names.front())) return int(rc);
  writeLog(QString::fromUtf8("连接设备成功"));
  skf::ULONG rc = skf::SAR_OK;
  switch (key.openFirstApplication(&rc)) {
    case OpenKey::AppStep::EnumerationFailed:
      return kNoApplication;
    case OpenKey::AppStep::OpeningFailed:
      return int(rc);
    case OpenKey::AppStep::Opened:
      break;
  }
  writeLog(QString::fromUtf8("枚举APP成功"));
  writeLog(QString::fromUtf8("打开APP成功"));

  // A base name whose chunk names meet no file on the key and no entry.
  std::vector<std::string> existing;
  if (!key.fileNames(&existing, &rc)) return int(rc);
  const std::set<std::string> files(existing.begin(), existing.end());
  const skf::ULONG total = skf::ULONG(dataLength);
  const int chunks = int(total / kChunkPayload + (total % kChunkPayload ? 1 : 0));
  std::set<QString> taken = listedBases;
  if (!oldBase.isEmpty()) taken.insert(oldBase);
  const QString base = freeBaseName(CreateSealFileName(), files, taken, chunks);
  if (base.isEmpty()) return int(skf::SAR_FILE_ALREADY_EXIST);

  // The new index text must fit its record with a terminating zero.
  list += QStringLiteral("{\"ID\":\"") + id + QStringLiteral("\",\"NAME\":\"") + name +
          QStringLiteral("\",\"VER\":\"") + QString::number(version) +
          QStringLiteral("\",\"FILENAME\":\"") + base + QStringLiteral("\",\"TYPE\":\"") +
          QString::number(type) + QStringLiteral("\"}]");
  const QByteArray indexText = list.toUtf8();
  if (indexText.size() >= int(kIndexSize)) return int(skf::SAR_NO_ROOM);

  // The chunks.
  NewChunks created(api, key);
  for (int k = 0; k < chunks; ++k) {
    const bool full = total - skf::ULONG(k) * kChunkPayload >= kChunkPayload;
    const skf::ULONG n = full ? kChunkPayload : total % kChunkPayload;
    QByteArray chunk = (base + QString::number(k)).toUtf8();
    rc = api.SKF_CreateFile(key.application(), chunk.data(), n + kChunkOverhead, kAnyone, kAnyone);
    if (rc == skf::SAR_OK) {
      created.created(chunk);
      writeLog(full ? QString::fromUtf8("创建印章文件成功1") : QString::fromUtf8("创建印章文件2"));
      unsigned char header[8] = {};
      for (int i = 0; i < 4; ++i) header[i] = static_cast<unsigned char>(n >> (8 * i));
      rc = api.SKF_WriteFile(key.application(), chunk.data(), 0, header, sizeof header);
      if (rc == skf::SAR_OK && full) writeLog(QString::fromUtf8("写印章文件成功1"));
      if (rc == skf::SAR_OK)
        rc = api.SKF_WriteFile(key.application(), chunk.data(), 8,
                               data + size_t(k) * kChunkPayload, n);
      if (rc == skf::SAR_OK && full) writeLog(QString::fromUtf8("写印章文件成功2"));
    }
    if (rc != skf::SAR_OK) {
      if (full) writeLog(QStringLiteral("fasle"));
      writeLog(full ? QString::fromUtf8("发生错误，删除本次写入的文件1")
                    : QString::fromUtf8("发生错误，删除本次写入的文件2"));
      return int(rc);
    }
  }

  // The index: created when the key had none, then written whole.
  char indexName[] = "SEALINDEX";
  if (createIndex) {
    writeLog(QString::fromUtf8("创建索引文件"));
    rc = api.SKF_CreateFile(key.application(), indexName, kIndexSize, kAnyone, kAnyone);
    if (rc != skf::SAR_OK) return int(rc);
  }
  unsigned char record[kIndexSize] = {};
  std::memcpy(record, indexText.constData(), size_t(indexText.size()));
  rc = api.SKF_WriteFile(key.application(), indexName, 0, record, kIndexSize);
  if (rc != skf::SAR_OK) {
    // An index this call created holds nothing yet; without it the key
    // reads as it did before.
    if (createIndex) api.SKF_DeleteFile(key.application(), indexName);
    return int(rc);
  }
  created.commit();
  writeLog(QString::fromUtf8("写入印章列表成功"));

  // Committed: the replaced seal's chunks go, unless an entry that stays
  // still names them.
  if (!oldBase.isEmpty() && !listedBases.count(oldBase)) {
    for (int k = 0; k < kReplacedChunks; ++k) {
      QByteArray old = (oldBase + QString::number(k)).toUtf8();
      api.SKF_DeleteFile(key.application(), old.data());
    }
  }
  return kOk;
}

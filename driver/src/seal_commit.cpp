#include "seal_commit.h"

#include <QTime>

#include <cstring>
#include <set>

#include "VaroDeviceBase_LM_GM3000.h"
#include "seal_naming.h"

namespace gm3000 {

namespace {

constexpr skf::ULONG kChunkPayload = 51200;
// Created with the payload, its 8-byte length and two spare bytes.
constexpr skf::ULONG kChunkOverhead = 10;
constexpr skf::ULONG kAnyone = 0xFF;
constexpr QLatin1String kFileName("FILENAME", 8);

// The files this call created, removed again unless the write commits.
class Created {
 public:
  Created(const skf::Api& api, const OpenKey& key) : api_(api), key_(key) {}
  ~Created() {
    if (committed_) return;
    for (QByteArray& name : names_) api_.SKF_DeleteFile(key_.application(), name.data());
  }
  void add(const QByteArray& name) { names_.push_back(name); }
  void commit() { committed_ = true; }

 private:
  const skf::Api& api_;
  const OpenKey& key_;
  std::vector<QByteArray> names_;
  bool committed_ = false;
};

int chunkCount(size_t size) {
  return int(size / kChunkPayload + (size % kChunkPayload ? 1 : 0));
}

skf::ULONG writeChunks(const skf::Api& api, OpenKey& key, const QString& base,
                       const SealToWrite& seal, Created& created) {
  const int chunks = chunkCount(seal.size);
  for (int k = 0; k < chunks; ++k) {
    const bool full = seal.size - size_t(k) * kChunkPayload >= kChunkPayload;
    const skf::ULONG n = full ? kChunkPayload : skf::ULONG(seal.size % kChunkPayload);
    QByteArray chunk = (base + QString::number(k)).toUtf8();
    skf::ULONG rc =
        api.SKF_CreateFile(key.application(), chunk.data(), n + kChunkOverhead, kAnyone, kAnyone);
    if (rc == skf::SAR_OK) {
      created.add(chunk);
      writeLog(full ? QString::fromUtf8("创建印章文件成功1") : QString::fromUtf8("创建印章文件2"));
      unsigned char header[8] = {};
      for (int i = 0; i < 4; ++i) header[i] = static_cast<unsigned char>(n >> (8 * i));
      rc = api.SKF_WriteFile(key.application(), chunk.data(), 0, header, sizeof header);
      if (rc == skf::SAR_OK && full) writeLog(QString::fromUtf8("写印章文件成功1"));
      if (rc == skf::SAR_OK)
        rc =
            api.SKF_WriteFile(key.application(), chunk.data(), 8,
                              const_cast<unsigned char*>(seal.data) + size_t(k) * kChunkPayload, n);
      if (rc == skf::SAR_OK && full) writeLog(QString::fromUtf8("写印章文件成功2"));
    }
    if (rc != skf::SAR_OK) {
      if (full) writeLog(QStringLiteral("fasle"));
      writeLog(full ? QString::fromUtf8("发生错误，删除本次写入的文件1")
                    : QString::fromUtf8("发生错误，删除本次写入的文件2"));
      return rc;
    }
  }
  return skf::SAR_OK;
}

void deleteFiles(const skf::Api& api, OpenKey& key, const std::vector<QByteArray>& names) {
  for (QByteArray name : names) api.SKF_DeleteFile(key.application(), name.data());
}

}  // namespace

skf::ULONG commitSeals(const skf::Api& api, OpenKey& key, const KeyIndex& index,
                       const std::vector<SealToWrite>& seals, bool removeOldForm) {
  // The entries that stay, and the base names of the ones replaced.
  std::set<QString> written;
  for (const SealToWrite& seal : seals) written.insert(seal.id);
  std::vector<IndexEntry> entries;
  std::set<QString> replacedBases, keptBases, replacedIds;
  for (const IndexEntry& entry : index.entries) {
    const QString id = entry.value(QStringLiteral("ID"));
    if (written.count(id)) {
      // Every entry of the identifier goes; the chunks of its first one go
      // with it (a later duplicate's chunks are left as they are).
      if (replacedIds.insert(id).second) replacedBases.insert(entry.value(kFileName));
    } else {
      entries.push_back(entry);
      keptBases.insert(entry.value(kFileName));
    }
  }

  // Base names whose chunk names meet no file on the key and no entry.
  std::vector<std::string> existing;
  skf::ULONG rc = skf::SAR_OK;
  if (!key.fileNames(&existing, &rc)) return rc;
  const std::set<std::string> files(existing.begin(), existing.end());
  std::set<QString> taken = keptBases;
  taken.insert(replacedBases.begin(), replacedBases.end());
  std::vector<QString> bases;
  QString start = QTime::currentTime().toString(QStringLiteral("hhmmsszzz"));
  for (const SealToWrite& seal : seals) {
    const QString base = freeBaseName(start, files, taken, chunkCount(seal.size));
    if (base.isEmpty()) return skf::SAR_FILE_ALREADY_EXIST;
    taken.insert(base);
    bases.push_back(base);
    entries.push_back(newEntry(seal.id, seal.name, seal.version, base, seal.type));
    start = nextBaseName(base);
  }

  // The new index must fit its record with a terminating zero.
  const QByteArray text = indexText(entries).toUtf8();
  if (text.size() >= int(kIndexSize)) return skf::SAR_NO_ROOM;

  Created created(api, key);
  for (size_t i = 0; i < seals.size(); ++i)
    if ((rc = writeChunks(api, key, bases[i], seals[i], created))) return rc;

  char indexName[] = "SEALINDEX";
  if (index.state == IndexState::Missing) {
    writeLog(QString::fromUtf8("创建索引文件"));
    rc = api.SKF_CreateFile(key.application(), indexName, kIndexSize, kAnyone, kAnyone);
    if (rc != skf::SAR_OK) return rc;
    created.add(QByteArray(indexName));
  }
  unsigned char record[kIndexSize] = {};
  std::memcpy(record, text.constData(), size_t(text.size()));
  rc = api.SKF_WriteFile(key.application(), indexName, 0, record, kIndexSize);
  if (rc != skf::SAR_OK) return rc;
  created.commit();
  writeLog(QString::fromUtf8("写入印章列表成功"));

  // Committed: what the new index no longer names goes.
  std::vector<QByteArray> stale;
  for (const QString& base : replacedBases) {
    if (base.isEmpty() || keptBases.count(base)) continue;
    for (int k = 0; k < kReplacedChunks; ++k) stale.push_back((base + QString::number(k)).toUtf8());
  }
  if (removeOldForm)
    for (const char* name : {"PIC1", "PIC2", "PIC3"}) stale.emplace_back(name);
  deleteFiles(api, key, stale);
  return skf::SAR_OK;
}

}  // namespace gm3000

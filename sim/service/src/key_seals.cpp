#include "key_seals.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstring>
#include <fstream>

#include "VaroDeviceBase.h"
#include "varo/install_root.h"
#include "varo/loaded_library.h"
#include "varo/tool_library.h"

namespace signd {
namespace {

constexpr const char* kPluginPath = "/VaroSupport/plugins/libVaroGetSealListOfficeLine.so";
constexpr const char* kDriverFile = "libVaroDeviceBase_LM_GM3000.so";
// The key under which the driver encrypts its seal records.
constexpr const char* kRecordKey = "q8vtkz2#@#lmpwre73xc&bns";
// The plug-in writes its list without a bound; this holds thousands of seals.
constexpr size_t kAnswerCapacity = 1 << 20;
// The driver reads a seal into 307200 bytes; no record is longer.
constexpr int kMaxRecordSize = 307200;

std::string installed(const std::string& relativePath) {
  return std::string(varo::kInstallRoot) + relativePath;
}

std::string textOf(const QJsonObject& object, const char* key) {
  return object.value(key).toString().toStdString();
}

// The record of the seal as the driver reads it from the first attached
// key: a measuring call, then a copying call; empty when there is none. The
// copying call gets room for the longest record the driver can read, so a
// record that grew between the calls still fits.
std::string recordFromKey(const std::string& identifier, std::string* why) {
  const std::string path = installed(varo::kDriverDirectory) + kDriverFile;
  varo::LoadedLibrary library(path);
  varo::PluginObject<VaroDeviceBase> driver(library);
  if (!driver) {
    *why = "the driver " + path + " cannot be used";
    return {};
  }
  std::string id = identifier;  // the driver takes a modifiable text
  int length = 0;
  int rc = driver->ReadSeal(id.data(), nullptr, &length);
  if (rc != 0 || length <= 0 || length > kMaxRecordSize) {
    *why = "the key gives no record (ReadSeal " + std::to_string(rc) + ", length " +
           std::to_string(length) + ")";
    return {};
  }
  std::string record(size_t(kMaxRecordSize), '\0');
  int copied = kMaxRecordSize;  // the buffer's capacity
  rc = driver->ReadSeal(id.data(), reinterpret_cast<unsigned char*>(record.data()), &copied);
  if (rc != 0 || copied <= 0 || copied > kMaxRecordSize) {
    *why = "the key's record cannot be copied (ReadSeal " + std::to_string(rc) + ")";
    return {};
  }
  record.resize(size_t(copied));
  return record;
}

// The driver's local copy of the seal's record in the seal store.
std::string recordFromLocalCopy(const std::string& identifier, std::string* why) {
  const std::string path = installed(varo::kSealStoreDirectory) + identifier + ".dat";
  std::ifstream in(path, std::ios::binary);
  std::string record(size_t(kMaxRecordSize) + 1, '\0');
  if (in) in.read(record.data(), std::streamsize(record.size()));
  record.resize(in ? record.size() : size_t(in.gcount()));
  if (record.empty() || record.size() > size_t(kMaxRecordSize)) {
    *why = "no usable local seal copy " + path;
    return {};
  }
  return record;
}

// The record decrypted with the tool library; empty when it does not decrypt.
std::string decryptRecord(const std::string& record) {
  varo::LoadedLibrary library(varo::toolLibraryPath());
  varo::PluginObject<ToolObject> tool(library);
  if (!tool) return {};
  std::vector<unsigned char> in(record.begin(), record.end()), out(record.size(), 0);
  int outLength = int(out.size());
  std::string key = kRecordKey;
  tool->DecryptData(in.data(), int(in.size()), out.data(), &outLength, key.data());
  if (outLength <= 0 || size_t(outLength) > out.size()) return {};
  return std::string(reinterpret_cast<const char*>(out.data()), size_t(outLength));
}

}  // namespace

std::optional<std::vector<SealEntry>> listKeySeals(const ServiceLog& log, std::string* why) {
  const std::string path = installed(kPluginPath);
  varo::LoadedLibrary plugin(path);
  auto doIt = plugin.resolve<void (*)(const char*, char*)>("DoIt");
  if (!doIt) {
    *why = "the offline seal-list plug-in " + path + " cannot be used";
    return std::nullopt;
  }
  std::vector<char> answer(kAnswerCapacity, 0);
  doIt("", answer.data());
  const QByteArray text(answer.data(), int(strnlen(answer.data(), answer.size())));
  const QJsonDocument list = QJsonDocument::fromJson(text);
  if (!list.isArray()) {
    *why = "the offline seal-list plug-in answered " + text.left(200).toStdString();
    return std::nullopt;
  }

  std::vector<SealEntry> seals;
  int number = 0;
  for (const QJsonValue& value : list.array()) {
    ++number;
    const QJsonObject object = value.toObject();
    SealEntry e;
    e.identifier = textOf(object, "SEALID");
    e.name = textOf(object, "SEALNAME");
    e.standard = textOf(object, "STANDARD");
    e.dllName = textOf(object, "DLLNAME");
    e.deviceUrl = textOf(object, "DEVICEURL");
    e.sealId = e.identifier + "@" + e.deviceUrl + "@" + e.dllName;
    // The provider takes the identifier up to the first "@" of the seal id
    // and the signing module after the second one.
    const bool fieldsSeparate =
        e.identifier.find('@') == std::string::npos && e.deviceUrl.find('@') == std::string::npos;
    if (!safeIdentifier(e.identifier) || !fieldsSeparate || !jsonSafe(e.sealId) ||
        !jsonSafe(e.name) || !jsonSafe(e.standard)) {
      log.write("seal " + std::to_string(number) +
                " of the keys skipped: its identifier cannot name a file, or a value holds "
                "\"@\", a quote, a backslash or a control character");
      continue;
    }
    seals.push_back(std::move(e));
  }
  return seals;
}

std::optional<std::string> readKeySeal(const std::string& identifier, std::string* why) {
  std::string keyWhy, copyWhy;
  for (int source = 0; source < 2; ++source) {
    const std::string record = source == 0 ? recordFromKey(identifier, &keyWhy)
                                           : recordFromLocalCopy(identifier, &copyWhy);
    if (record.empty()) continue;
    if (auto der = sealFromRecordText(decryptRecord(record))) return der;
    (source == 0 ? keyWhy : copyWhy) = "the record does not decrypt to a seal";
  }
  *why = "key: " + keyWhy + "; local copy: " + copyWhy;
  return std::nullopt;
}

std::optional<std::string> sealFromRecordText(const std::string& recordText) {
  const QJsonDocument record =
      QJsonDocument::fromJson(QByteArray(recordText.data(), int(recordText.size())));
  const QJsonValue asn1 = record.object().value("ASN1");
  if (!asn1.isString()) return std::nullopt;
  const auto der = QByteArray::fromBase64Encoding(asn1.toString().toLatin1(),
                                                  QByteArray::AbortOnBase64DecodingErrors);
  if (!der || der.decoded.isEmpty() || size_t(der.decoded.size()) > kMaxSealSize)
    return std::nullopt;
  return std::string(der.decoded.constData(), size_t(der.decoded.size()));
}

}  // namespace signd

#include "key_seals.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstring>
#include <map>
#include <memory>

#include "VaroDeviceBase.h"
#include "varo/install_root.h"
#include "varo/loaded_library.h"
#include "varo/store_files.h"
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

// The driver's seal read by list: it reads the seal of the one list entry
// from the key that the entry's DEVICEURL names.
constexpr const char* kListReadSymbol = "_ZN24VaroDeviceBase_LM_GM30008ReadSealEPhiPcS0_Pi";
// Room for the driver's seal list of every attached key.
constexpr int kDriverListCapacity = 64 * 1024;

std::string driverPath() {
  return installed(varo::kDriverDirectory) + kDriverFile;
}

}  // namespace

// The driver, loaded once for the seals of one request, and its seal list,
// read once: a listing refreshes the driver's local copies from one read of
// every seal, and each seal is then read from its own key in one call.
KeySealReader::KeySealReader() : library_(std::make_unique<varo::LoadedLibrary>(driverPath())) {
  readListed_ = library_->resolve<ListReadFn>(kListReadSymbol);
  driver_ = std::make_unique<varo::PluginObject<VaroDeviceBase>>(*library_);
  if (!*driver_ || !readListed_) {
    listWhy_ = "the driver " + driverPath() + " cannot be used";
    return;
  }
  std::vector<unsigned char> list(size_t(kDriverListCapacity), 0);
  int length = kDriverListCapacity;  // the buffer's capacity
  const int rc = (*driver_)->ReadSealList(list.data(), &length);
  if (rc != 0 || length <= 0 || length > kDriverListCapacity) {
    listWhy_ = "the driver lists no seals (ReadSealList " + std::to_string(rc) + ", length " +
               std::to_string(length) + ")";
    return;
  }
  listed_ = QJsonDocument::fromJson(QByteArray(reinterpret_cast<const char*>(list.data()), length))
                .array();
}

KeySealReader::~KeySealReader() = default;

// The record of the seal as the driver reads it from the seal's own key,
// given its entry of the driver's list alone; empty when there is none. The
// read gets room for the longest record the driver can read.
std::string KeySealReader::recordFromKey(const SealEntry& seal, std::string* why) const {
  if (!listWhy_.empty()) {
    *why = listWhy_;
    return {};
  }
  const QString id = QString::fromStdString(seal.identifier);
  const QString locator = QString::fromStdString(seal.deviceUrl);
  QByteArray entry;
  for (const QJsonValue& value : listed_) {
    const QJsonObject object = value.toObject();
    if (object.value("ID").toString() == id && object.value("DEVICEURL").toString() == locator) {
      entry = QJsonDocument(QJsonArray{object}).toJson(QJsonDocument::Compact);
      break;
    }
  }
  if (entry.isEmpty()) {
    *why =
        "the driver's seal list holds no seal \"" + seal.identifier + "\" of key " + seal.deviceUrl;
    return {};
  }
  std::string identifier = seal.identifier;  // the driver takes a modifiable text
  std::string record(size_t(kMaxRecordSize), '\0');
  int copied = kMaxRecordSize;  // the buffer's capacity
  const int rc =
      readListed_(driver_->get(), reinterpret_cast<unsigned char*>(entry.data()), entry.size(),
                  identifier.data(), reinterpret_cast<unsigned char*>(record.data()), &copied);
  if (rc != 0 || copied <= 0 || copied > kMaxRecordSize) {
    *why = "the key gives no record (ReadSeal " + std::to_string(rc) + ", length " +
           std::to_string(copied) + ")";
    return {};
  }
  record.resize(size_t(copied));
  return record;
}

namespace {

// The driver's local copy of the seal's record in the seal store, when the
// store file counts and its owner record says the seal's key wrote it.
std::string recordFromLocalCopy(const SealEntry& seal, std::string* why) {
  const QString dir = varo::sealStoreDirectory();
  const QString identifier = QString::fromStdString(seal.identifier);
  const varo::StoreFile copy = varo::readStoreFile(dir, identifier + ".dat", kMaxRecordSize);
  if (copy.status != varo::StoreRead::Ok) {
    *why = copy.why.toStdString();
    return {};
  }
  const auto owner = varo::readCopyOwner(dir, identifier, copy.bytes);
  if (!owner || owner->deviceUrl.toStdString() != seal.deviceUrl) {
    *why = "the local copy " + (dir + "/" + identifier + ".dat").toStdString() +
           " is not known to belong to key " + seal.deviceUrl;
    return {};
  }
  return copy.bytes.toStdString();
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
  std::map<std::string, std::string> firstKeyOf;  // identifier -> locator of its first seal
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
    const auto first = firstKeyOf.emplace(e.identifier, e.deviceUrl);
    if (!first.second) {
      log.write("seal \"" + e.identifier + "\" of key " + e.deviceUrl + " skipped: key " +
                first.first->second +
                " holds a seal with the same identifier, and seal files are named by "
                "identifier alone");
      continue;
    }
    seals.push_back(std::move(e));
  }
  return seals;
}

std::optional<std::string> KeySealReader::read(const SealEntry& seal, std::string* why) const {
  std::string keyWhy, copyWhy;
  for (int source = 0; source < 2; ++source) {
    const std::string record =
        source == 0 ? recordFromKey(seal, &keyWhy) : recordFromLocalCopy(seal, &copyWhy);
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

// The reading side of the seal store: the seal list of every attached key
// and the bytes of one seal.
//
// Readers take no lock. A writer changes a key's index in one write, after
// the new chunks are in place and before the replaced ones go, so a reader
// that reads the index, then the chunks, then the index again, and finds it
// unchanged, has read one whole state; otherwise it reads again.
#include <cstring>

#include "VaroDeviceBase_LM_GM3000.h"
#include "driver_report.h"
#include "key_access.h"
#include "key_index.h"
#include "local_conversion.h"
#include "local_store.h"
#include "seal_chunks.h"
#include "seal_conversion.h"

using namespace gm3000;

namespace {

// The list form of ReadSeal takes at most this much of a list.
constexpr int kListFormCapacity = 4096;
// The buffer in which ReadSeal by identifier receives the seal list.
constexpr int kSealListCapacity = 64 * 1024;
// Reads of one key that may meet a write in progress before it gives up.
constexpr int kReadAttempts = 5;

constexpr QLatin1String kId("ID", 2);
constexpr QLatin1String kFileName("FILENAME", 8);

// Text up to the first zero byte within n bytes.
QString textOf(const unsigned char* bytes, size_t n) {
  const void* zero = std::memchr(bytes, 0, n);
  const size_t used = zero ? size_t(static_cast<const unsigned char*>(zero) - bytes) : n;
  return QString::fromUtf8(reinterpret_cast<const char*>(bytes), int(used));
}

QString keyTypeOf(VaroDeviceBase_LM_GM3000& driver) {
  char type[20] = {};
  driver.GetUKType(type);
  return QString::fromLatin1(type, int(strnlen(type, sizeof type)));
}

// One key's part of the seal list.
struct KeyListing {
  QString locator;
  QString serial;
  std::vector<IndexEntry> entries;
  bool fromIndex = false;         // entries of the key's own index
  std::vector<QByteArray> seals;  // their bytes (fromIndex, with a buffer); empty when unread
  int failure = kOk;
};

void skipKey(KeyListing& listing, const std::string& device, int code, const QString& why) {
  listing.failure = code;
  listing.entries.clear();
  reportProblem(QStringLiteral("key ") + shownDeviceName(device) +
                " left out of the seal list: " + why);
}

KeyListing listKey(const skf::Api& api, const std::string& device, const QString& type,
                   bool readSeals) {
  KeyListing listing;
  const auto locator = keyLocator(type, device);
  if (!locator) {
    skipKey(listing, device, kOpenDeviceFailed,
            QStringLiteral("its device name is not UTF-8 text"));
    return listing;
  }
  listing.locator = *locator;
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    KeyIndex index;
    bool oldForm = false;
    {
      OpenKey key(api);
      if (key.connect(device) != skf::SAR_OK) {
        writeLog(QStringLiteral("OPENDEVICE FAIL"));
        skipKey(listing, device, kOpenDeviceFailed, QStringLiteral("it cannot be opened"));
        return listing;
      }
      listing.serial = serialOf(api, key.device());
      const OpenKey::AppStep app = key.openFirstApplication();
      if (app != OpenKey::AppStep::Opened) {
        writeLog(app == OpenKey::AppStep::EnumerationFailed ? QStringLiteral("ENUMAPP FAIL")
                                                            : QStringLiteral("OPENAPP FAIL"));
        skipKey(listing, device, kNoApplication, QStringLiteral("it has no seal application"));
        return listing;
      }
      index = readKeyIndex(api, key.application());
      writeLog(QStringLiteral("ReadSealList: ") + index.text);
      if (index.state == IndexState::Listed) {
        listing.entries = index.entries;
        listing.seals.clear();
        if (readSeals) {
          for (const IndexEntry& entry : index.entries) {
            SealBytes seal;
            const bool read = readSealChunks(api, key.application(), entry.value(kFileName), &seal);
            listing.seals.push_back(
                read ? QByteArray(reinterpret_cast<const char*>(seal.bytes.data()),
                                  int(seal.bytes.size()))
                     : QByteArray());
          }
          // A write committed meanwhile: the chunks may belong to either state.
          if (readKeyIndex(api, key.application()).record != index.record) continue;
        }
        listing.fromIndex = true;
        return listing;
      }
      if (indexAllowsOldForm(index.state)) oldForm = holdsOldFormSeal(api, key.application());
    }  // the key is closed before a conversion opens it under its lock
    switch (index.state) {
      case IndexState::Listed:
        break;
      case IndexState::Unreadable:
        skipKey(listing, device, kSealReadFailed, describe(index));
        return listing;
      case IndexState::Unparsable:
        skipKey(listing, device, kEmptyIndex, describe(index));
        return listing;
      case IndexState::Empty:
        if (!oldForm) {
          skipKey(listing, device, kEmptyIndex, describe(index));
          return listing;
        }
        [[fallthrough]];  // an empty index beside the old files: a conversion cut short
      case IndexState::Missing: {
        QString why;
        if (auto local = readLocalList(listing.serial, &why)) {
          listing.entries = std::move(*local);
          return listing;
        }
        const LocalConversion conversion = convertLocally(device, listing.locator);
        if (conversion.outcome == LocalConversion::Outcome::IndexFound) continue;
        if (conversion.outcome == LocalConversion::Outcome::Converted) {
          listing.entries = {conversion.entry};
          return listing;
        }
        skipKey(listing, device, kNoSealData, describe(index) + "; " + why + "; " + conversion.why);
        return listing;
      }
    }
  }
  skipKey(listing, device, kSealReadFailed,
          QStringLiteral("its seal index kept changing while it was read"));
  return listing;
}

// The start of both forms of ReadSeal: the vendor library with what a seal
// read calls.
int loadForSealRead(VendorLibrary& vendor) {
  writeLog(QStringLiteral("IN VaroDeviceBase_LM_GM3000::ReadSeal"));
  if (int rc = vendor.require({Fn::SKF_EnumDev, Fn::SKF_ConnectDev, Fn::SKF_DisConnectDev,
                               Fn::SKF_EnumApplication, Fn::SKF_OpenApplication,
                               Fn::SKF_CloseApplication, Fn::SKF_ReadFile}))
    return rc;
  writeLog(QStringLiteral("IN VaroDeviceBase_LM_GM3000 Load UK Library OK"));
  return kOk;
}

// The seal's length, and its bytes when the caller gave a buffer. A caller
// that gives its buffer's size is never written past it (kSealReadFailed).
int handOut(const std::vector<unsigned char>& bytes, unsigned char* out, int* outLength) {
  const int size = int(bytes.size());
  if (out && outLength && *outLength > 0 && size > *outLength) return kSealReadFailed;
  if (outLength) *outLength = size;
  if (out && size > 0) std::memcpy(out, bytes.data(), bytes.size());
  return kOk;
}

enum class Found { Yes, No, Error };

// The seal id on the open key: on a key that keeps its seal in the old
// three-file form (no usable index, "PIC1" there), its record made from
// those files; otherwise its chunks under the base name the key's own index
// gives it (else the listed one). The index is read before and after: a
// change means a write met the read (Error with *retry set).
Found readOnKey(const skf::Api& api, OpenKey& key, const QString& id, const QString& listedBase,
                std::vector<unsigned char>* bytes, bool* retry, int* code) {
  *retry = false;
  const KeyIndex before = readKeyIndex(api, key.application());
  SealBytes seal;
  bool read = false;
  if (indexAllowsOldForm(before.state) && holdsOldFormSeal(api, key.application())) {
    SealIdentity identity;
    QByteArray record;
    const OldFormResult result =
        convertOldFormSeal(api, key.application(), false, &identity, &record);
    read = result != OldFormResult::Unreadable;
    if (result == OldFormResult::Converted && QString::fromUtf8(identity.id) == id) {
      seal.bytes.assign(record.begin(), record.end());
      seal.chunks = 1;
    }
  } else {
    QString base = listedBase;
    if (const IndexEntry* own = findEntry(before.entries, id)) base = own->value(kFileName);
    read = base.isEmpty() || readSealChunks(api, key.application(), base, &seal);
  }
  if (readKeyIndex(api, key.application()).record != before.record) {
    *retry = true;
    return Found::Error;
  }
  if (!read) {
    *code = kSealReadFailed;
    return Found::Error;
  }
  if (seal.chunks == 0) return Found::No;
  *bytes = std::move(seal.bytes);
  return Found::Yes;
}

// Reads the listed seal entry. An entry that names its key (DEVICEURL) is
// read from that key alone; otherwise from the first key (walk false) or
// from each key in turn until one holds it. Not found: kOk with no bytes
// when not walking, kSealReadFailed when walking or when the named key is
// not attached.
int readListedSeal(const skf::Api& api, const QString& type, const IndexEntry& entry,
                   const QString& id, bool walk, std::vector<unsigned char>* bytes) {
  const DeviceList devices = enumerateDevices(api);
  if (!devices.ok() || devices.names.empty()) return kNoDevice;
  const QString named = entry.value(kDeviceUrlKey);
  std::vector<std::string> targets;
  for (const std::string& device : devices.names)
    if (named.isEmpty() || keyLocator(type, device) == named) targets.push_back(device);
  if (targets.empty()) return kSealReadFailed;  // the seal's key is not attached
  if (named.isEmpty() && !walk) targets.resize(1);
  for (size_t i = 0; i < targets.size(); ++i) {
    const std::string& device = targets[i];
    if (walk)
      writeLog2(i == 0 ? "/tmp/varolog/ukname1.txt" : "/tmp/varolog/ukname2.txt",
                reinterpret_cast<unsigned char*>(const_cast<char*>(device.data())),
                int(device.size()));
    for (int attempt = 0;; ++attempt) {
      OpenKey key(api);
      if (key.connect(device) != skf::SAR_OK) return kOpenDeviceFailed;
      if (key.openFirstApplication() != OpenKey::AppStep::Opened) return kNoApplication;
      bool retry = false;
      int code = kSealReadFailed;
      const Found found = readOnKey(api, key, id, entry.value(kFileName), bytes, &retry, &code);
      if (found == Found::Yes) return kOk;
      if (found == Found::No) break;
      if (!retry || attempt + 1 >= kReadAttempts) return code;
    }
  }
  // By identifier, a seal whose key lacks its chunks reads as no bytes.
  bytes->clear();
  return walk ? kSealReadFailed : kOk;
}

// A seal that a listing hands back besides the list: the bytes of the first
// listed entry with the identifier, when they were read from its key's index.
struct SealCapture {
  QString id;
  bool decided = false;
  bool found = false;
  std::vector<unsigned char> bytes;

  void consider(const KeyListing& key) {
    for (size_t i = 0; !decided && i < key.entries.size(); ++i) {
      if (key.entries[i].value(kId) != id) continue;
      decided = true;
      if (!key.fromIndex || i >= key.seals.size() || key.seals[i].isEmpty()) return;
      bytes.assign(key.seals[i].begin(), key.seals[i].end());
      found = true;
    }
  }
};

// The seal list of every attached key, the seal copies refreshed from the
// one read of each listed seal, and that read handed to capture.
int listSeals(VaroDeviceBase_LM_GM3000& driver, unsigned char* out, int* outLength,
              SealCapture* capture) {
  VendorLibrary vendor;
  const auto calls = {Fn::SKF_EnumDev,         Fn::SKF_ConnectDev,       Fn::SKF_DisConnectDev,
                      Fn::SKF_GetDevInfo,      Fn::SKF_EnumApplication,  Fn::SKF_OpenApplication,
                      Fn::SKF_CloseApplication, Fn::SKF_ReadFile};
  if (int rc = vendor.require(calls)) {
    gm3000::reportProblem("no seal listed: " + vendor.problem(calls));
    return rc;
  }
  // The seal-list read leaves the vendor library loaded in the process.
  vendor.keepResident();
  const skf::Api& api = vendor.api();

  const DeviceList devices = enumerateDevices(api);
  if (!devices.ok() || devices.names.empty()) {
    writeLog(devices.failedCall == 1   ? QStringLiteral("NO DEVICE1")
             : devices.failedCall == 2 ? QStringLiteral("NO DEVICE2")
                                       : QStringLiteral("NO DEVICE3"));
    return kNoDevice;
  }

  // Each key on its own: one that cannot be read drops out, with its reason
  // reported, and the others are listed.
  const QString type = keyTypeOf(driver);
  std::vector<KeyListing> keys;
  QStringList parts;
  int failure = kOk;
  for (const std::string& device : devices.names) {
    keys.push_back(listKey(api, device, type, out != nullptr));
    if (keys.back().entries.empty()) {
      if (failure == kOk) failure = keys.back().failure ? keys.back().failure : kEmptyIndex;
      continue;
    }
    parts << listedEntries(keys.back().entries, keys.back().locator);
  }
  if (parts.isEmpty()) return failure;
  const QByteArray list =
      (QLatin1Char('[') + parts.join(QLatin1Char(',')) + QLatin1Char(']')).toUtf8();

  // A caller that gives its buffer's size is never written past it.
  if (out && outLength && *outLength > 0 && list.size() > *outLength) return kSealReadFailed;
  if (out) std::memcpy(out, list.constData(), size_t(list.size()));
  if (outLength) *outLength = list.size();

  if (list.contains("NAME")) {
    writeLog2("/tmp/varolog/list.txt", out, out ? list.size() : 0);
    // The copies of the seals on the keys' own indexes; an old-form seal's
    // copy is written by its conversion.
    for (const KeyListing& key : keys) {
      if (capture) capture->consider(key);
      if (!key.fromIndex) continue;
      for (size_t i = 0; i < key.seals.size() && i < key.entries.size(); ++i)
        if (!key.seals[i].isEmpty())
          writeSealCopy(key.entries[i].value(kId), key.seals[i], {key.locator, key.serial});
    }
  }
  return kOk;
}

}  // namespace

int VaroDeviceBase_LM_GM3000::ReadSealList(unsigned char* out, int* outLength) {
  return listSeals(*this, out, outLength, nullptr);
}

int VaroDeviceBase_LM_GM3000::ReadSeal(char* sealId, unsigned char* out, int* outLength) {
  VendorLibrary vendor;
  if (int rc = loadForSealRead(vendor)) return rc;
  std::vector<unsigned char> list(kSealListCapacity, 0);
  int listLength = kSealListCapacity;
  // The whole list, as every read by identifier starts; the seal itself
  // comes from the listing's read of it when that read is the one wanted.
  const QString id = QString::fromUtf8(sealId ? sealId : "");
  SealCapture capture;
  capture.id = id;
  if (int rc = listSeals(*this, list.data(), &listLength, &capture)) return rc;
  writeLog(QStringLiteral("IN VaroDeviceBase_LM_GM3000 ReadSealList OK"));
  const auto entries = parseIndex(textOf(list.data(), size_t(listLength)));
  const IndexEntry* entry = entries ? findEntry(*entries, id) : nullptr;
  if (!entry || entry->value(kFileName).isEmpty()) return kSealNotIndexed;
  writeLog(QStringLiteral("IN VaroDeviceBase_LM_GM3000 Get SealFileName OK"));

  std::vector<unsigned char> bytes = std::move(capture.bytes);
  if (!capture.found)
    if (int rc = readListedSeal(vendor.api(), keyTypeOf(*this), *entry, id, false, &bytes))
      return rc;
  if (int rc = handOut(bytes, out, outLength)) return rc;
  writeLog(QStringLiteral("IN VaroDeviceBase_LM_GM3000::ReadSeal OK"));
  return kOk;
}

int VaroDeviceBase_LM_GM3000::ReadSeal(unsigned char* list, int listLength, char* sealId,
                                       unsigned char* out, int* outLength) {
  VendorLibrary vendor;
  if (int rc = loadForSealRead(vendor)) return rc;
  // A list longer than the working buffer is refused, never cut.
  if (listLength > kListFormCapacity) return kSealReadFailed;
  unsigned char text[kListFormCapacity] = {};
  if (list && listLength > 0) std::memcpy(text, list, size_t(listLength));
  writeLog(QStringLiteral("IN VaroDeviceBase_LM_GM3000 ReadSealList OK"));
  const QString id = QString::fromUtf8(sealId ? sealId : "");
  const auto entries = parseIndex(textOf(text, sizeof text));
  const IndexEntry* entry = entries ? findEntry(*entries, id) : nullptr;
  if (!entry || entry->value(kFileName).isEmpty()) return kSealNotIndexed;
  writeLog(QStringLiteral("IN VaroDeviceBase_LM_GM3000 Get SealFileName OK"));

  std::vector<unsigned char> bytes;
  if (int rc = readListedSeal(vendor.api(), keyTypeOf(*this), *entry, id, true, &bytes)) return rc;
  return handOut(bytes, out, outLength);
}

// The reading side of the seal store: the seal list of every attached key
// and the bytes of one seal.
#include <cstring>

#include "VaroDeviceBase_LM_GM3000.h"
#include "key_access.h"
#include "local_store.h"
#include "seal_chunks.h"
#include "seal_index.h"

using namespace gm3000;

namespace {

// The index record on the key, and the part of a local list that is read.
constexpr skf::ULONG kIndexSize = 1024;
// The list form of ReadSeal takes at most this much of a list.
constexpr int kListFormCapacity = 4096;
// The buffer in which ReadSeal by identifier receives the seal list. The
// list carries a locator per entry on top of the index, so it is given more
// room than the index record itself.
constexpr int kSealListCapacity = 64 * 1024;

QString serialOf(const skf::DEVINFO& info) {
  return QString::fromLatin1(info.SerialNumber, int(strnlen(info.SerialNumber, sizeof info.SerialNumber)));
}

// Text up to the first zero byte within n bytes.
QString textOf(const unsigned char* bytes, size_t n) {
  const void* zero = std::memchr(bytes, 0, n);
  const size_t used = zero ? size_t(static_cast<const unsigned char*>(zero) - bytes) : n;
  return QString::fromUtf8(reinterpret_cast<const char*>(bytes), int(used));
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
int handOut(const SealBytes& seal, unsigned char* out, int* outLength) {
  const int size = int(seal.bytes.size());
  if (out && outLength && *outLength > 0 && size > *outLength) return kSealReadFailed;
  if (outLength) *outLength = size;
  if (out && size > 0) std::memcpy(out, seal.bytes.data(), seal.bytes.size());
  return kOk;
}

}  // namespace

namespace {

// Writes the copy sealData/<identifier>.dat of every listed seal, read
// afresh from the keys through the list form of ReadSeal.
void refreshSealCopies(VaroDeviceBase_LM_GM3000& driver, const QByteArray& list) {
  for (const QString& id : listedIdentifiers(QString::fromUtf8(list))) {
    const auto path = storePath(id, ".dat");
    if (!path) continue;
    QByteArray idText = id.toLatin1();
    QByteArray listCopy = list;
    int length = 0;
    if (driver.ReadSeal(reinterpret_cast<unsigned char*>(listCopy.data()), listCopy.size(),
                        idText.data(), nullptr, &length) != kOk ||
        length < 0)
      continue;
    QByteArray seal(length, 0);
    if (driver.ReadSeal(reinterpret_cast<unsigned char*>(listCopy.data()), listCopy.size(),
                        idText.data(), reinterpret_cast<unsigned char*>(seal.data()),
                        &length) != kOk ||
        length != seal.size())
      continue;
    replaceFile(*path, seal);
  }
}

}  // namespace

int VaroDeviceBase_LM_GM3000::ReadSealList(unsigned char* out, int* outLength) {
  VendorLibrary vendor;
  if (int rc = vendor.require({Fn::SKF_EnumDev, Fn::SKF_ConnectDev, Fn::SKF_DisConnectDev,
                               Fn::SKF_GetDevInfo, Fn::SKF_EnumApplication,
                               Fn::SKF_OpenApplication, Fn::SKF_CloseApplication,
                               Fn::SKF_ReadFile}))
    return rc;
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

  char type[20] = {};
  GetUKType(type);
  QString result;
  for (const std::string& device : devices.names) {
    unsigned char index[kIndexSize] = {};
    skf::ULONG rc = skf::SAR_OK;
    QString serial;
    {
      OpenKey key(api);
      if (key.connect(device) != skf::SAR_OK) {
        writeLog(QStringLiteral("OPENDEVICE FAIL"));
        return kOpenDeviceFailed;
      }
      skf::DEVINFO info;
      std::memset(&info, 0, sizeof info);
      api.SKF_GetDevInfo(key.device(), &info);
      serial = serialOf(info);
      switch (key.openFirstApplication()) {
        case OpenKey::AppStep::Opened:
          break;
        case OpenKey::AppStep::EnumerationFailed:
          writeLog(QStringLiteral("ENUMAPP FAIL"));
          return kNoApplication;
        case OpenKey::AppStep::OpeningFailed:
          writeLog(QStringLiteral("OPENAPP FAIL"));
          return kNoApplication;
      }
      char name[] = "SEALINDEX";
      skf::ULONG got = kIndexSize;
      rc = api.SKF_ReadFile(key.application(), name, 0, kIndexSize, index, &got);
      // application and device are closed here, whatever the read gave
    }
    if (rc == skf::SAR_FILE_NOT_EXIST) {
      // No index on the key: its local list stands in, made from the key's
      // old seal files when there is none yet. A serial that cannot be a
      // file name has no local list; that key contributes nothing.
      const auto listPath = storePath(serial, ".list");
      if (!listPath) continue;
      if (!readFilePrefix(*listPath, 0)) {
        std::string name = device;
        ConvertSealFormat2(name.data());
      }
      const auto local = readFilePrefix(*listPath, kIndexSize);
      if (!local) return kNoSealData;
      std::memset(index, 0, sizeof index);
      std::memcpy(index, local->constData(), size_t(local->size()));
    } else if (rc != skf::SAR_OK) {
      // An index that could not be read is not an empty one: a writer that
      // took it for empty would drop every seal it lists.
      writeLog(QStringLiteral("ReadSealList: ") + QString::number(rc));
      return kSealReadFailed;
    }
    const QString text = textOf(index, sizeof index);
    writeLog(QStringLiteral("ReadSealList: ") + text);
    // The empty list, or too short to hold an entry. A "[]" inside a value
    // does not empty the list.
    if (text.startsWith(QStringLiteral("[]")) || text.size() < 10) return kEmptyIndex;
    const QString locator = QString::fromLatin1(type, int(strnlen(type, sizeof type))) +
                            QLatin1Char('&') + QString::fromStdString(device);
    result += entriesWithLocator(text.mid(1, text.size() - 2), locator);
  }
  result.chop(1);
  const QByteArray list = ("[" + result + "]").toUtf8();

  // A caller that gives its buffer's size is never written past it.
  if (out && outLength && *outLength > 0 && list.size() > *outLength) return kSealReadFailed;
  if (out) std::memcpy(out, list.constData(), size_t(list.size()));
  if (outLength) *outLength = list.size();

  if (list.contains("NAME")) {
    writeLog2("/tmp/varolog/list.txt", out, out ? list.size() : 0);
    if (out) refreshSealCopies(*this, list);
  }
  return kOk;
}

int VaroDeviceBase_LM_GM3000::ReadSeal(char* sealId, unsigned char* out, int* outLength) {
  VendorLibrary vendor;
  if (int rc = loadForSealRead(vendor)) return rc;
  std::vector<unsigned char> list(kSealListCapacity, 0);
  int listLength = kSealListCapacity;
  if (int rc = ReadSealList(list.data(), &listLength)) return rc;
  writeLog(QStringLiteral("IN VaroDeviceBase_LM_GM3000 ReadSealList OK"));
  const QString base = GetSealFileName(QString::fromUtf8(sealId ? sealId : ""),
                                       textOf(list.data(), size_t(listLength)));
  if (base.isEmpty()) return kSealNotIndexed;
  writeLog(QStringLiteral("IN VaroDeviceBase_LM_GM3000 Get SealFileName OK"));

  const skf::Api& api = vendor.api();
  const DeviceList devices = enumerateDevices(api);
  if (!devices.ok() || devices.names.empty()) return kNoDevice;
  OpenKey key(api);
  if (key.connect(devices.names.front()) != skf::SAR_OK) return kOpenDeviceFailed;
  if (key.openFirstApplication() != OpenKey::AppStep::Opened) return kNoApplication;
  SealBytes seal;
  if (!readSealChunks(api, key.application(), base, &seal)) return kSealReadFailed;
  key.closeAll();
  if (int rc = handOut(seal, out, outLength)) return rc;
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
  const QString base =
      GetSealFileName(QString::fromUtf8(sealId ? sealId : ""), textOf(text, sizeof text));
  if (base.isEmpty()) return kSealNotIndexed;
  writeLog(QStringLiteral("IN VaroDeviceBase_LM_GM3000 Get SealFileName OK"));

  const skf::Api& api = vendor.api();
  const DeviceList devices = enumerateDevices(api);
  if (!devices.ok() || devices.names.empty()) return kNoDevice;
  for (size_t i = 0; i < devices.names.size(); ++i) {
    const std::string& device = devices.names[i];
    writeLog2(i == 0 ? "/tmp/varolog/ukname1.txt" : "/tmp/varolog/ukname2.txt",
              reinterpret_cast<unsigned char*>(const_cast<char*>(device.data())),
              int(device.size()));
    OpenKey key(api);
    if (key.connect(device) != skf::SAR_OK) return kOpenDeviceFailed;
    if (key.openFirstApplication() != OpenKey::AppStep::Opened) return kNoApplication;
    SealBytes seal;
    if (!readSealChunks(api, key.application(), base, &seal)) return kSealReadFailed;
    if (seal.chunks == 0) continue;
    return handOut(seal, out, outLength);
  }
  return kSealReadFailed;
}

// The conversion of a key's old three-file seal into the local store: a
// local list that stands in for the key's missing index, and the seal
// record as the local seal copy. The key is not changed.
#include <cstring>

#include "VaroDeviceBase_LM_GM3000.h"
#include "local_store.h"
#include "seal_conversion.h"

using namespace gm3000;

namespace {

// Reads the seal DER and the key's serial number; the key is closed and the
// vendor library released again before this returns.
bool readOldSeal(const char* device, QByteArray* der, QString* serial) {
  VendorLibrary vendor;
  if (!device ||
      vendor.require({Fn::SKF_ConnectDev, Fn::SKF_DisConnectDev, Fn::SKF_GetDevInfo,
                      Fn::SKF_EnumApplication, Fn::SKF_OpenApplication,
                      Fn::SKF_CloseApplication, Fn::SKF_ReadFile}) != kOk)
    return false;
  const skf::Api& api = vendor.api();
  OpenKey key(api);
  if (key.connect(device) != skf::SAR_OK) return false;
  skf::DEVINFO info;
  std::memset(&info, 0, sizeof info);
  api.SKF_GetDevInfo(key.device(), &info);
  *serial = QString::fromLatin1(info.SerialNumber,
                                int(strnlen(info.SerialNumber, sizeof info.SerialNumber)));
  if (key.openFirstApplication() != OpenKey::AppStep::Opened) return false;
  return readThreeFileSeal(api, key.application(), der);
}

}  // namespace

int VaroDeviceBase_LM_GM3000::ConvertSealFormat2(char* deviceName) {
  writeLog(QStringLiteral("IN ConvertSealFormat"));
  QByteArray der;
  QString serial;
  if (!readOldSeal(deviceName, &der, &serial)) return 0;
  TemporarySealCopy copy(der);

  SealIdentity identity;
  QByteArray record;
  if (!sealRecordWithReports(der, true, &identity, &record)) return 0;

  // The seal copy first, the list last: the list marks the key as
  // converted, so it never names a seal whose copy was not written, and a
  // failed conversion is tried again next time.
  const auto recordPath = storePath(QString::fromUtf8(identity.id), ".dat");
  if (!recordPath || !replaceFile(*recordPath, record)) return 0;
  // The local list names the seal twice: "FILENAME" carries its name.
  const QByteArray list = "[{\"ID\":\"" + identity.id + "\",\"NAME\":\"" + identity.name +
                          "\",\"VER\":\"1\",\"TYPE\":\"1\",\"FILENAME\":\"" + identity.name +
                          "\"}]";
  if (const auto listPath = storePath(serial, ".list")) replaceFile(*listPath, list);
  return 1;
}

// The conversion of a key's old three-file seal into the local store: a
// local list that stands in for the key's missing index, and the seal
// record as the local seal copy with its owner record. The key is not
// changed; it is read under its lock, so that a conversion on the key by
// another process never removes the old files in the middle of the read.
#include "VaroDeviceBase_LM_GM3000.h"
#include "driver_codes.h"
#include "key_index.h"
#include "local_conversion.h"
#include "local_store.h"
#include "seal_conversion.h"
#include "write_session.h"

using namespace gm3000;

namespace gm3000 {

LocalConversion convertLocally(const std::string& device, const QString& locator) {
  writeLog(QStringLiteral("IN ConvertSealFormat"));
  LocalConversion out;
  out.code = kNoSealData;
  VendorLibrary vendor;
  if (vendor.require({Fn::SKF_ConnectDev, Fn::SKF_DisConnectDev, Fn::SKF_GetDevInfo,
                      Fn::SKF_EnumApplication, Fn::SKF_OpenApplication, Fn::SKF_CloseApplication,
                      Fn::SKF_ReadFile}) != kOk) {
    out.code = kLibraryFailed;
    out.why = QStringLiteral("the vendor key library cannot be used");
    return out;
  }
  const skf::Api& api = vendor.api();
  WriteSession session(api);
  WriteSession::Step failed;
  if (skf::ULONG rc = session.open(device, &failed)) {
    out.why = failed == WriteSession::Step::Lock
                  ? QStringLiteral("another process is writing to it")
                  : QStringLiteral("it cannot be opened for the conversion (0x%1)").arg(rc, 0, 16);
    return out;
  }
  const KeyIndex index = readKeyIndex(api, session.application());
  if (index.state == IndexState::Listed) {
    out.outcome = LocalConversion::Outcome::IndexFound;
    return out;
  }
  if (!indexAllowsOldForm(index.state) || !holdsOldFormSeal(api, session.application())) {
    out.why = QStringLiteral("it has no seal index and no seal in the old form");
    return out;
  }
  SealIdentity identity;
  QByteArray record;
  const OldFormResult result =
      convertOldFormSeal(api, session.application(), true, &identity, &record);
  if (result != OldFormResult::Converted) {
    out.why = describe(result);
    return out;
  }
  out.outcome = LocalConversion::Outcome::Converted;
  out.code = kOk;
  out.entry = localListEntry(QString::fromUtf8(identity.id), QString::fromUtf8(identity.name));

  // The seal copy first, the list last: the list marks the key as
  // converted, so it never names a seal whose copy was not written.
  const varo::CopyOwner owner{locator, session.serial()};
  const CopyWrite copy = writeSealCopy(QString::fromUtf8(identity.id), record, owner);
  out.copyWritten = copy == CopyWrite::Written || copy == CopyWrite::Unchanged;
  if (out.copyWritten) writeLocalList(session.serial(), {out.entry});
  return out;
}

}  // namespace gm3000

int VaroDeviceBase_LM_GM3000::ConvertSealFormat2(char* deviceName) {
  if (!deviceName) return 0;
  char type[20] = {};
  GetUKType(type);
  const auto locator = keyLocator(QString::fromLatin1(type), deviceName);
  return locator && convertLocally(deviceName, *locator).copyWritten ? 1 : 0;
}

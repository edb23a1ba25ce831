// The conversion of a key's old three-file seal into the indexed store on
// the key itself, on the key named by the caller whatever else is attached.
// The whole conversion holds the key's lock. The seal is read, decoded and
// encrypted before anything on the key changes; it is then written with the
// index in one commit, and "PIC1" to "PIC3" go only after that (see
// seal_commit.h). An empty index found beside the old files is a conversion
// cut short and is completed; an index that lists seals leaves the key as it
// is. When the conversion does not happen, LastError says why.
#include "VaroDeviceBase_LM_GM3000.h"
#include "driver_report.h"
#include "seal_commit.h"
#include "seal_conversion.h"
#include "write_session.h"

using namespace gm3000;

namespace {

int64_t sessionFailure(WriteSession::Step step, skf::ULONG rc) {
  switch (step) {
    case WriteSession::Step::Connect:
      return kOpenDeviceFailed;
    case WriteSession::Step::Lock:
      return rc;
    case WriteSession::Step::EnumerateApplication:
    case WriteSession::Step::OpenApplication:
      return kNoApplication;
  }
  return rc;
}

int64_t conversionFailure(OldFormResult result) {
  switch (result) {
    case OldFormResult::Unreadable:
      return kSealReadFailed;
    case OldFormResult::NotASeal:
    case OldFormResult::NotStorable:
      return skf::SAR_INDATAERR;
    case OldFormResult::LibraryMissing:
      return kLibraryFailed;
    case OldFormResult::Converted:
      break;
  }
  return 0;
}

}  // namespace

int VaroDeviceBase_LM_GM3000::ConvertSealFormat(char* deviceName) {
  writeLog(QStringLiteral("IN ConvertSealFormat"));
  LastError = 0;
  VendorLibrary vendor;
  if (vendor.require({Fn::SKF_ConnectDev, Fn::SKF_DisConnectDev, Fn::SKF_EnumApplication,
                      Fn::SKF_OpenApplication, Fn::SKF_CloseApplication, Fn::SKF_EnumFiles,
                      Fn::SKF_ReadFile, Fn::SKF_CreateFile, Fn::SKF_WriteFile,
                      Fn::SKF_DeleteFile}) != kOk) {
    LastError = kLibraryFailed;
    return 0;
  }
  if (!deviceName) {
    LastError = kOpenDeviceFailed;
    return 0;
  }
  const skf::Api& api = vendor.api();
  const std::string device = deviceName;
  auto fail = [&](int64_t why, const QString& text) {
    LastError = why;
    reportProblem(QStringLiteral("key ") + shownDeviceName(device) + " not converted: " + text);
    return 0;
  };

  WriteSession session(api);
  WriteSession::Step failed;
  if (skf::ULONG rc = session.open(device, &failed))
    return fail(sessionFailure(failed, rc),
                failed == WriteSession::Step::Lock
                    ? QStringLiteral("another process is writing to it")
                    : QStringLiteral("it cannot be opened (0x%1)").arg(rc, 0, 16));

  const KeyIndex index = readKeyIndex(api, session.application());
  if (index.state == IndexState::Listed)
    return fail(skf::SAR_FILE_ALREADY_EXIST, QStringLiteral("it has a seal index already"));
  if (!indexAllowsOldForm(index.state)) return fail(kSealReadFailed, describe(index));
  if (!holdsOldFormSeal(api, session.application()))
    return fail(kNoSealData, QStringLiteral("it holds no seal in the old form (no PIC1)"));

  SealIdentity identity;
  QByteArray record;
  const OldFormResult result =
      convertOldFormSeal(api, session.application(), false, &identity, &record);
  if (result != OldFormResult::Converted) return fail(conversionFailure(result), describe(result));

  writeLog(QString::fromUtf8("准备写入UK"));
  const SealToWrite seal{QString::fromUtf8(identity.id),
                         QString::fromUtf8(identity.name),
                         1,
                         1,
                         reinterpret_cast<const unsigned char*>(record.constData()),
                         size_t(record.size())};
  if (skf::ULONG rc = commitSeals(api, session.key(), index, {seal}, true)) {
    writeLog(QString::fromUtf8("写入UK失败"));
    return fail(rc, QStringLiteral("writing the seal failed (0x%1)").arg(rc, 0, 16));
  }
  writeLog(QString::fromUtf8("写入UK成功"));
  return 1;
}

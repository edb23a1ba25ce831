// Writing a seal to the only attached key. The whole write holds the key's
// lock and works on one connection: the index is read as the key holds it,
// a seal the key still keeps in the old three-file form is carried into the
// index in the same commit, and the new seal replaces every entry of its
// identifier (seal_commit.h says how nothing is lost on the way).
#include <QTime>

#include "VaroDeviceBase_LM_GM3000.h"
#include "driver_report.h"
#include "seal_commit.h"
#include "seal_conversion.h"
#include "write_session.h"

using namespace gm3000;

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
                               Fn::SKF_CloseApplication, Fn::SKF_EnumFiles, Fn::SKF_ReadFile,
                               Fn::SKF_CreateFile, Fn::SKF_WriteFile, Fn::SKF_DeleteFile}))
    return rc;
  const skf::Api& api = vendor.api();

  // What the index cannot store and read back exactly is refused before
  // anything is written.
  const QString id = QString::fromUtf8(sealId ? sealId : "");
  const QString name = QString::fromUtf8(sealName ? sealName : "");
  if (!isStorableValue(id) || !isStorableValue(name) || dataLength < 0 || (!data && dataLength > 0))
    return int(skf::SAR_INVALIDPARAMERR);

  const DeviceList devices = enumerateDevices(api);
  if (!devices.ok()) {
    if (devices.failedCall == 1) writeLog(QString::fromUtf8("枚举设备失败"));
    return int(devices.vendorCode);
  }
  if (devices.names.empty()) return kNoDevice;
  if (devices.names.size() > 1) return kSeveralDevices;
  const std::string& device = devices.names.front();

  WriteSession session(api);
  WriteSession::Step failed;
  if (skf::ULONG rc = session.open(device, &failed)) {
    if (failed == WriteSession::Step::Lock)
      reportProblem(QStringLiteral("key ") + shownDeviceName(device) +
                    " is being written by another process; the seal was not written");
    return failed == WriteSession::Step::EnumerateApplication ? kNoApplication : int(rc);
  }
  writeLog(QString::fromUtf8("连接设备成功"));
  writeLog(QString::fromUtf8("枚举APP成功"));
  writeLog(QString::fromUtf8("打开APP成功"));

  const KeyIndex index = readKeyIndex(api, session.application());
  switch (index.state) {
    case IndexState::Missing:
      writeLog(QString::fromUtf8("UK中缺少索引文件，需要创建"));
      break;
    case IndexState::Empty:
      writeLog(QString::fromUtf8("印章索引文件内容为空"));
      break;
    case IndexState::Listed:
      writeLog(QString::fromUtf8("读取印章索引成功"));
      break;
    case IndexState::Unreadable:
    case IndexState::Unparsable:
      // Rewriting an index that cannot be read would drop every seal it lists.
      reportProblem(QStringLiteral("key ") + shownDeviceName(device) + ": " + describe(index) +
                    "; the seal was not written");
      return kSealReadFailed;
  }

  std::vector<SealToWrite> seals;
  SealIdentity old;
  QByteArray oldRecord;
  bool convert = false;
  if (indexAllowsOldForm(index.state) && holdsOldFormSeal(api, session.application())) {
    // The key still holds its seal in the old form (never converted, or a
    // conversion cut short): it goes into the index with the new seal, or
    // the new index would hide it.
    const OldFormResult result =
        convertOldFormSeal(api, session.application(), false, &old, &oldRecord);
    if (result == OldFormResult::Converted) {
      convert = true;
      seals.push_back(SealToWrite{QString::fromUtf8(old.id), QString::fromUtf8(old.name), 1, 1,
                                  reinterpret_cast<const unsigned char*>(oldRecord.constData()),
                                  size_t(oldRecord.size())});
    } else if (result != OldFormResult::NotASeal) {
      reportProblem(QStringLiteral("key ") + shownDeviceName(device) + ": " + describe(result) +
                    "; the seal was not written, so that the old one stays visible");
      return kSealReadFailed;
    }
  }
  seals.push_back(SealToWrite{id, name, version, type, data, size_t(dataLength)});
  // A new seal with the old one's identifier replaces it.
  if (convert && seals.front().id == id) seals.erase(seals.begin());

  const skf::ULONG rc = commitSeals(api, session.key(), index, seals, convert);
  if (rc == skf::SAR_NO_ROOM)
    reportProblem(QStringLiteral("key ") + shownDeviceName(device) +
                  ": the seal index would exceed its 1024 bytes; the seal was not written");
  return int(rc);
}

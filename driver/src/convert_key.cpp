// The conversion of a key's old three-file seal into the indexed store on
// the key itself. The old files are the only copy of the seal until the
// seal is written, so they go last: the seal is decoded and encrypted before
// the key is changed, then the empty index that marks the key as converted
// is created, the seal is written through WriteSeal, and only then are
// "PIC1" to "PIC3" removed. When a step fails the old files stay and an
// index this call created is removed again, so a later call can try again.
#include <cstring>

#include "VaroDeviceBase_LM_GM3000.h"
#include "seal_conversion.h"

using namespace gm3000;

namespace {

constexpr skf::ULONG kIndexSize = 1024;
constexpr skf::ULONG kAnyone = 0xFF;
char kIndexName[] = "SEALINDEX";

// The key by name with its application open; false when either fails.
bool openByName(OpenKey& key, const char* device) {
  return key.connect(device) == skf::SAR_OK &&
         key.openFirstApplication() == OpenKey::AppStep::Opened;
}

bool readOldSeal(const char* device, QByteArray* der) {
  VendorLibrary vendor;
  if (vendor.require({Fn::SKF_ConnectDev, Fn::SKF_DisConnectDev, Fn::SKF_EnumApplication,
                      Fn::SKF_OpenApplication, Fn::SKF_CloseApplication, Fn::SKF_ReadFile}) != kOk)
    return false;
  OpenKey key(vendor.api());
  return openByName(key, device) &&
         readThreeFileSeal(vendor.api(), key.application(), der);
}

// Runs step(api, application) on the named key; false when the key cannot
// be opened or the step fails.
template <class Step>
bool onKey(const char* device, Step step) {
  VendorLibrary vendor;
  if (vendor.require({Fn::SKF_ConnectDev, Fn::SKF_DisConnectDev, Fn::SKF_EnumApplication,
                      Fn::SKF_OpenApplication, Fn::SKF_CloseApplication, Fn::SKF_ReadFile,
                      Fn::SKF_CreateFile, Fn::SKF_WriteFile, Fn::SKF_DeleteFile}) != kOk)
    return false;
  OpenKey key(vendor.api());
  return openByName(key, device) && step(vendor.api(), key.application());
}

// True when the key's index exists and lists nothing ("[]", or still zero
// bytes): what a conversion that was cut short after creating it leaves.
bool indexIsEmpty(const skf::Api& api, skf::HANDLE app) {
  char text[kIndexSize + 1] = {};
  skf::ULONG got = kIndexSize;
  return api.SKF_ReadFile(app, kIndexName, 0, kIndexSize,
                          reinterpret_cast<unsigned char*>(text), &got) == skf::SAR_OK &&
         (text[0] == 0 || std::strcmp(text, "[]") == 0);
}

// Creates the empty index. An empty index that is there already is taken
// over: the old files are still on the key, so an earlier conversion of it
// was cut short. Any other index leaves the key as it is (false).
bool createEmptyIndex(const skf::Api& api, skf::HANDLE app) {
  const skf::ULONG rc = api.SKF_CreateFile(app, kIndexName, kIndexSize, kAnyone, kAnyone);
  if (rc == skf::SAR_FILE_ALREADY_EXIST) return indexIsEmpty(api, app);
  if (rc != skf::SAR_OK) return false;
  writeLog(QStringLiteral("CREATE INDEXFILE"));
  unsigned char record[kIndexSize] = {'[', ']'};
  if (api.SKF_WriteFile(app, kIndexName, 0, record, kIndexSize) == skf::SAR_OK) return true;
  api.SKF_DeleteFile(app, kIndexName);
  return false;
}

bool removeIndex(const skf::Api& api, skf::HANDLE app) {
  return api.SKF_DeleteFile(app, kIndexName) == skf::SAR_OK;
}

bool removeOldFiles(const skf::Api& api, skf::HANDLE app) {
  for (const char* name : {"PIC1", "PIC2", "PIC3"}) {
    QByteArray file(name);
    api.SKF_DeleteFile(app, file.data());
  }
  return true;
}

}  // namespace

int VaroDeviceBase_LM_GM3000::ConvertSealFormat(char* deviceName) {
  writeLog(QStringLiteral("IN ConvertSealFormat"));
  QByteArray der;
  if (!deviceName || !readOldSeal(deviceName, &der)) return 0;
  TemporarySealCopy copy(der);

  SealIdentity identity;
  QByteArray record;
  if (!sealRecordWithReports(der, false, &identity, &record)) return 0;

  // A key that has an index already is left as it is.
  if (!onKey(deviceName, createEmptyIndex)) return 0;
  writeLog(QString::fromUtf8("准备写入UK"));
  if (WriteSeal(identity.id.data(), identity.name.data(), 1, 1,
                reinterpret_cast<unsigned char*>(record.data()), record.size()) != kOk) {
    writeLog(QString::fromUtf8("写入UK失败"));
    onKey(deviceName, removeIndex);
    return 0;
  }
  writeLog(QString::fromUtf8("写入UK成功"));
  onKey(deviceName, removeOldFiles);
  return 1;
}

// Who the key is, which certificates it holds, and its user PIN. Each of
// these needs exactly one attached key and works on its first application.
#include <cstring>

#include "VaroDeviceBase_LM_GM3000.h"
#include "key_access.h"

using namespace gm3000;

namespace {

// Certificates are exported into buffers of this size.
constexpr skf::ULONG kCertificateBufferSize = 4096;
constexpr size_t kSerialLength = sizeof(skf::DEVINFO::SerialNumber);
// The tries left that ChangePin reports when it never reached the PIN.
constexpr skf::ULONG kRetriesUnknown = 99;

// The signing certificate of the open container into buffer; its length, or
// 0 when the export fails.
skf::ULONG exportSigningCertificate(const skf::Api& api, const OpenKey& key,
                                    unsigned char (&buffer)[kCertificateBufferSize]) {
  skf::ULONG length = kCertificateBufferSize;
  if (api.SKF_ExportCertificate(key.container(), 1, buffer, &length) != skf::SAR_OK) return 0;
  return length <= kCertificateBufferSize ? length : 0;
}

// The vendor library and the only attached key, connected.
class SingleKey {
 public:
  // Loads the library with the functions the operation calls and connects;
  // kOk or the code of the failing step.
  int open(std::initializer_list<Fn> calls) {
    if (int rc = vendor_.require(calls)) return rc;
    return connectSingleDevice(vendor_.api(), key_);
  }
  const skf::Api& api() const { return vendor_.api(); }
  OpenKey& key() { return key_; }

 private:
  VendorLibrary vendor_;  // declared first: unloaded after the key is closed
  OpenKey key_{vendor_.api()};
};

// Opens the key's application and lists its containers; on failure the
// detail goes to lastError and the caller goes on with no container.
bool containersOf(OpenKey& key, std::vector<std::string>* names, int64_t* lastError) {
  if (key.openFirstApplication() != OpenKey::AppStep::Opened) {
    *lastError = kNoApplication;
    return false;
  }
  if (!key.containerNames(names)) {
    *lastError = kNoContainer;
    return false;
  }
  return true;
}

}  // namespace

int VaroDeviceBase_LM_GM3000::GetUKID(char* out) {
  SingleKey session;
  if (int rc = session.open(
          {Fn::SKF_EnumDev, Fn::SKF_ConnectDev, Fn::SKF_GetDevInfo, Fn::SKF_DisConnectDev})) {
    if (rc == kLibraryFailed) writeLog(QString::fromUtf8("加载设备库libk5.1.0.so失败"));
    return rc;
  }
  const skf::Api& api = session.api();
  OpenKey& key = session.key();
  skf::DEVINFO info;
  std::memset(&info, 0, sizeof info);
  const skf::ULONG rc = api.SKF_GetDevInfo(key.device(), &info);
  key.disconnect();
  if (rc == skf::SAR_OK && out) {
    // A serial that fills its field carries no terminator: cut at 32.
    const size_t n = strnlen(info.SerialNumber, kSerialLength);
    std::memcpy(out, info.SerialNumber, n);
    out[n] = 0;
  }
  return static_cast<int>(rc);
}

int VaroDeviceBase_LM_GM3000::ReadCert(int kind, unsigned char* out, int* outLength) {
  SingleKey session;
  if (int rc = session.open({Fn::SKF_EnumDev, Fn::SKF_ConnectDev, Fn::SKF_EnumApplication,
                             Fn::SKF_OpenApplication, Fn::SKF_EnumContainer,
                             Fn::SKF_OpenContainer, Fn::SKF_GetContainerType,
                             Fn::SKF_ExportCertificate, Fn::SKF_CloseContainer,
                             Fn::SKF_CloseApplication}))
    return rc;
  const skf::Api& api = session.api();
  OpenKey& key = session.key();
  key.leaveDeviceConnected();

  int matches = 0;
  std::vector<std::string> containers;
  if (containersOf(key, &containers, &LastError)) {
    // Every container is examined; with several matches the last one
    // exported is what the caller gets.
    for (const std::string& name : containers) {
      if (!key.openContainer(name)) continue;
      skf::ULONG type = 0;
      if (api.SKF_GetContainerType(key.container(), &type) != skf::SAR_OK ||
          type != static_cast<skf::ULONG>(kind))
        continue;
      unsigned char cert[kCertificateBufferSize];
      const skf::ULONG length = exportSigningCertificate(api, key, cert);
      if (length == 0) continue;
      ++matches;
      if (out) std::memcpy(out, cert, length);
      if (outLength) *outLength = static_cast<int>(length);
    }
  }
  if (matches == 1) return kOk;
  return matches > 1 ? kSeveralCertificates : kNoCertificate;
}

int VaroDeviceBase_LM_GM3000::CertExists(unsigned char* cert, int certLength) {
  // Only a certificate that fits the export buffer can be found on the key.
  if (!cert || certLength <= 0 || certLength > static_cast<int>(kCertificateBufferSize))
    return kCertificateNotFound;
  SingleKey session;
  if (int rc = session.open({Fn::SKF_EnumDev, Fn::SKF_ConnectDev, Fn::SKF_EnumApplication,
                             Fn::SKF_OpenApplication, Fn::SKF_EnumContainer,
                             Fn::SKF_OpenContainer, Fn::SKF_ExportCertificate,
                             Fn::SKF_CloseContainer, Fn::SKF_CloseApplication}))
    return rc;
  const skf::Api& api = session.api();
  OpenKey& key = session.key();
  key.leaveDeviceConnected();

  std::vector<std::string> containers;
  if (!containersOf(key, &containers, &LastError)) return kCertificateNotFound;
  const size_t wanted = static_cast<size_t>(certLength);
  for (const std::string& name : containers) {
    if (!key.openContainer(name)) continue;
    // The key's certificate must begin with the given bytes: it is at
    // least as long as they are, and only its own bytes are compared.
    unsigned char exported[kCertificateBufferSize];
    const skf::ULONG length = exportSigningCertificate(api, key, exported);
    if (length >= wanted && std::memcmp(exported, cert, wanted) == 0) return kOk;
  }
  return kCertificateNotFound;
}

int VaroDeviceBase_LM_GM3000::ChangePin(char* oldPin, char* newPin) {
  SingleKey session;
  if (int rc = session.open({Fn::SKF_EnumDev, Fn::SKF_ConnectDev, Fn::SKF_EnumApplication,
                             Fn::SKF_OpenApplication, Fn::SKF_ChangePIN,
                             Fn::SKF_CloseApplication}))
    return rc;
  const skf::Api& api = session.api();
  OpenKey& key = session.key();
  key.leaveDeviceConnected();

  skf::ULONG retries = kRetriesUnknown;
  skf::ULONG rc = skf::SAR_FAIL;
  if (key.openFirstApplication() != OpenKey::AppStep::Opened) {
    LastError = kNoApplication;
  } else {
    // A missing PIN is offered as the empty text, which the library refuses.
    char empty[1] = {0};
    rc = api.SKF_ChangePIN(key.application(), skf::USER_TYPE, oldPin ? oldPin : empty,
                           newPin ? newPin : empty, &retries);
  }
  if (rc == skf::SAR_OK) return kOk;
  return retries != 0 ? static_cast<int>(retries) : -1;
}

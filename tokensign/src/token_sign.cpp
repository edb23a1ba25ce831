// SignData, the module's entry point, and the module's class.
#include <cstring>
#include <string>

#include "TokenSign_LM.h"
#include "varo/install_root.h"

namespace {

constexpr unsigned kWorkingSignatureCapacity = 2000;

std::string vendorLibraryPath() {
  return std::string(varo::kInstallRoot) + varo::kVendorKeyLibraryPath;
}

}  // namespace

TokenSign_LM::TokenSign_LM() {}

int SignData(char* deviceName, char* pin, unsigned char* digest, int digestLength,
             unsigned char* cert, int certLength, unsigned char* signature,
             unsigned int* signatureLength) {
  if (!signature) return kTokenSignNoBuffer;
  std::string libraryPath = vendorLibraryPath();

  char device[kDeviceNameCapacity] = {};
  if (deviceName) {
    // A name that does not fit the device name buffer cannot name a key.
    if (strnlen(deviceName, kDeviceNameCapacity) >= size_t(kDeviceNameCapacity))
      return kTokenSignConnectFailed;
    std::strcpy(device, deviceName);
  } else if (GetDevNameByCert(libraryPath.data(), cert, certLength, device) != kDevNameFound) {
    return kTokenSignCertNotFound;
  }

  unsigned char value[kWorkingSignatureCapacity] = {};
  unsigned int valueLength = kWorkingSignatureCapacity;
  int rc = SignData_SM2_UK_SKF_IN(libraryPath.data(), device, pin, cert, certLength, digest,
                                  digestLength, value, &valueLength);
  if (rc != kTokenSignOk) return rc;
  std::memcpy(signature, value, kSignatureValueLength);
  if (signatureLength) *signatureLength = kSignatureValueLength;
  return kTokenSignOk;
}

// SignData_SM2_UK_SKF_IN: verify the user PIN on the named key and sign the
// digest with the container whose signature certificate is the given one.
#include <cstring>

#include "TokenSign_LM.h"
#include "vendor_key.h"

namespace tokensign {
namespace {

constexpr unsigned kMinSignatureCapacity = 1000;
constexpr size_t kDeviceNameBuffer = 256;
constexpr size_t kCoordinateLength = 32;

// The container's signature certificate is exactly cert.
bool isCertContainer(const skf::Api& api, skf::HANDLE con, varo::ByteSpan cert) {
  unsigned char exported[kCertificateBufferSize] = {};
  skf::ULONG length = kCertificateBufferSize;
  if (api.SKF_ExportCertificate(con, 1, exported, &length) != skf::SAR_OK) return false;
  if (length == 0 || length > kCertificateBufferSize) return false;
  return cert.equals(varo::ByteSpan(exported, length));
}

// r then s, each the last 32 bytes of the blob's right-aligned 64-byte
// arrays, so leading zero bytes of either value are kept.
void writeSignatureValue(const skf::ECCSIGNATUREBLOB& blob, unsigned char* out) {
  constexpr size_t skip = skf::kEccMaxCoordinateLen - kCoordinateLength;
  std::memcpy(out, blob.r + skip, kCoordinateLength);
  std::memcpy(out + kCoordinateLength, blob.s + skip, kCoordinateLength);
}

struct SignRequest {
  char* pin;
  varo::ByteSpan cert;
  unsigned char* digest;
  int digestLength;
  unsigned char* signature;
  unsigned int* signatureLength;
};

enum class AppOutcome { NoMatch, Done };

// Tries one application: verifies the PIN, then looks for the certificate's
// container and signs with it. Done means *code holds the final result.
AppOutcome signInApplication(const skf::Api& api, skf::HANDLE dev, std::string& appName,
                             const SignRequest& req, int* code) {
  SkfHandle app(api.SKF_CloseApplication);
  if (api.SKF_OpenApplication(dev, skfName(appName), app.slot()) != skf::SAR_OK)
    return AppOutcome::NoMatch;
  skf::ULONG retries = 0;
  if (!req.pin || api.SKF_VerifyPIN(app.get(), skf::USER_TYPE, req.pin, &retries) != skf::SAR_OK) {
    *code = kTokenSignPinFailed;
    return AppOutcome::Done;
  }
  std::vector<std::string> containers;
  auto enumCons = [&](char* b, skf::ULONG* n) { return api.SKF_EnumContainer(app.get(), b, n); };
  if (!enumerateNames(enumCons, &containers) || containers.empty()) return AppOutcome::NoMatch;

  for (std::string& name : containers) {
    SkfHandle con(api.SKF_CloseContainer);
    if (api.SKF_OpenContainer(app.get(), skfName(name), con.slot()) != skf::SAR_OK) continue;
    if (!isCertContainer(api, con.get(), req.cert)) continue;

    skf::ECCSIGNATUREBLOB blob{};
    if (!req.digest || req.digestLength < 0 ||
        api.SKF_ECCSignData(con.get(), req.digest, skf::ULONG(req.digestLength), &blob) !=
            skf::SAR_OK) {
      *code = kTokenSignSignFailed;
      return AppOutcome::Done;
    }
    writeSignatureValue(blob, req.signature);
    *req.signatureLength = kSignatureValueLength;
    *code = kTokenSignOk;
    return AppOutcome::Done;
  }
  return AppOutcome::NoMatch;
}

}  // namespace
}  // namespace tokensign

using namespace tokensign;

int SignData_SM2_UK_SKF_IN(char* libraryPath, char* deviceName, char* pin, unsigned char* cert,
                           int certLength, unsigned char* digest, int digestLength,
                           unsigned char* signature, unsigned int* signatureLength) {
  if (!signatureLength || *signatureLength < kMinSignatureCapacity) return kTokenSignBufferTooSmall;
  if (!signature) return kTokenSignNoBuffer;

  VendorLibrary vendor(libraryPath);
  if (!vendor.usable()) return kTokenSignNoLibrary;
  if (!deviceName) return kTokenSignNoDeviceName;
  const skf::Api& api = vendor.api();

  // A name longer than the working buffer is refused rather than cut: a cut
  // name could open another key.
  char name[kDeviceNameBuffer] = {};
  if (!copyName(deviceName, name, sizeof name)) return kTokenSignConnectFailed;
  SkfHandle dev(api.SKF_DisConnectDev);
  if (api.SKF_ConnectDev(name, dev.slot()) != skf::SAR_OK) return kTokenSignConnectFailed;

  std::vector<std::string> apps;
  auto enumApps = [&](char* b, skf::ULONG* n) { return api.SKF_EnumApplication(dev.get(), b, n); };
  if (!enumerateNames(enumApps, &apps)) return kTokenSignEnumAppsFailed;

  const SignRequest req{pin,       varo::ByteSpan::fromInt(cert, certLength),
                        digest,    digestLength,
                        signature, signatureLength};
  for (std::string& app : apps) {
    int code = kTokenSignNoMatch;
    if (signInApplication(api, dev.get(), app, req, &code) == AppOutcome::Done) return code;
  }
  return kTokenSignNoMatch;
}

// OES_Sign: the reader calls it twice. Without a signature buffer it asks
// the local service for the user's PIN and keeps it in the hand-over; with a
// buffer it builds the seal signature over the reader's inputs and has the
// key sign it through the signing module named by the seal id.
#include <openssl/crypto.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "BasicSealInfo.h"
#include "codec_session.h"
#include "dovel_x509.h"
#include "mySM3.h"
#include "oes_api.h"
#include "pin_handover.h"
#include "service_client.h"
#include "service_files.h"
#include "sign_flow.h"
#include "varo/install_root.h"
#include "varo/loaded_library.h"
#include "varo/trace.h"

using namespace varo;
using namespace varo::provider::signing;
using varo::provider::CodecSession;
using varo::trace::marker;
namespace pin = varo::provider::pin;

namespace {

using Bytes = std::vector<unsigned char>;
using SignDataFn = int (*)(char*, char*, unsigned char*, int, unsigned char*, int, unsigned char*,
                           unsigned int*);

constexpr size_t kPinReplyCapacity = 1024;
constexpr size_t kCertificateCapacity = 4096;
constexpr int kDigestLength = 32;
constexpr unsigned kSignatureValueCapacity = 300;

// The four reader inputs of the content to be signed, in the codec's order:
// document property, document digest, signing method, signing time.
struct SignInputs {
  unsigned char* values[4];
  int lengths[4];
  bool valid() const {
    for (int i = 0; i < 4; ++i)
      if (lengths[i] < 0 || (lengths[i] > 0 && !values[i])) return false;
    return true;
  }
};

int pinStep(int* signatureLength) {
  if (!signatureLength) return kBadArgument;
  char reply[kPinReplyCapacity] = {};
  // The transport result is not examined: an unreachable service leaves the
  // reply empty, which is refused below.
  service::exchange("InputPINDlg", reply, sizeof reply);
  SecretText pinText;
  int rc = pinFromReply(reply, &pinText);
  OPENSSL_cleanse(reply, sizeof reply);
  if (rc == kOk && !pin::put(pinText.view())) rc = kBadPin;
  if (rc != kOk) {
    // A dialog that gave no PIN this time must not leave an earlier one to
    // sign with.
    pin::clear();
    return rc;
  }
  marker("INOES_Sign2");
  *signatureLength = kSignatureBufferSize;
  return kOk;
}

// The seal's DER through OES_GetSeal: a measuring call, then a copy.
int fetchSeal(unsigned char* sealId, int sealIdLength, Bytes* seal) {
  int length = 0;
  if (int rc = OES_GetSeal(sealId, sealIdLength, nullptr, &length)) return rc;
  seal->assign(length > 0 ? size_t(length) : 1, 0);
  length = int(seal->size());
  int rc = OES_GetSeal(sealId, sealIdLength, seal->data(), &length);
  marker("INOES_Sign7");
  if (rc) return rc;
  seal->resize(length > 0 && size_t(length) <= seal->size() ? size_t(length) : 0);
  return kOk;
}

// The signer's certificate and the content to be signed, both from the codec.
int buildContent(const std::string& homeDir, Bytes& seal, bool localCheck, SignInputs& in,
                 Bytes* cert, Bytes* tbs) {
  CodecSession codec(homeDir);
  if (!codec.isLoaded()) return kLibraryMissing;
  marker("INOES_Sign8");
  // The codec writes the certificate without a bound: a field of the seal is
  // never longer than the seal.
  cert->assign(seal.size() + kCertificateCapacity, 0);
  int certLength = 0;
  bool decoded =
      codec->DecodeSeal(seal.data(), int(seal.size()), nullptr, nullptr, cert->data(), &certLength,
                        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  marker("INOES_Sign9");
  if (!decoded || certLength <= 0 || size_t(certLength) > cert->size()) return kBadSealData;
  cert->resize(size_t(certLength));
  if (localCheck && !dovel_x509::verifyCertOffLine(cert->data(), cert->size())) {
    return kSignerNotTrusted;
  }
  marker("INOES_Sign10");

  int* lengths[4] = {&in.lengths[0], &in.lengths[1], &in.lengths[2], &in.lengths[3]};
  int tbsLength = 0;
  if (!codec->GetTbsSignData(seal.data(), int(seal.size()), in.values, lengths, 4, nullptr,
                             &tbsLength) ||
      tbsLength <= 0)
    return kInternalError;
  marker("INOES_Sign11");
  tbs->assign(size_t(tbsLength), 0);
  int written = tbsLength;
  if (!codec->GetTbsSignData(seal.data(), int(seal.size()), in.values, lengths, 4, tbs->data(),
                             &written) ||
      written != tbsLength)
    return kInternalError;
  marker("INOES_Sign12");
  return kOk;
}

// Loads the signing module named by the seal id and lets it sign e.
int signOnKey(const std::string& homeDir, const SealIdFields& fields, unsigned char* e, Bytes& cert,
              Bytes* value) {
  std::optional<std::string> path = signingModulePath(homeDir, fields.module);
  if (!path) {
    marker("INOES_Sign21");
    return kSignFailed;
  }
  marker("INOES_Sign14");
  std::string file;
  int rc = locateSigningModule(*path, kInstallRoot, &file);
  if (rc == kSignFailed) {
    marker("INOES_Sign21");
    return rc;
  }
  LoadedLibrary module(rc == kOk ? file : std::string());
  auto signData = module.resolve<SignDataFn>("SignData");
  if (!signData) {
    marker("INOES_Sign15");
    return kLibraryMissing;
  }

  pin::PinCopy pinText;
  std::string device = fields.deviceName.value_or(std::string());
  unsigned char signature[kSignatureValueCapacity] = {};
  unsigned int length = kSignatureValueCapacity;
  int result = signData(fields.deviceName ? device.data() : nullptr, pinText.text(), e,
                        kDigestLength, cert.data(), int(cert.size()), signature, &length);
  marker("INOES_Sign16");
  SignDataOutcome outcome = mapSignDataResult(result);
  if (outcome.result != kOk) {
    marker(outcome.marker);
    return outcome.result;
  }
  if (length == 0 || length > kSignatureValueCapacity) {
    marker("INOES_Sign20");
    return kSignFailed;
  }
  value->assign(signature, signature + length);
  module.unload();
  marker("INOES_Sign22");
  return kOk;
}

// The signature structure from the content and the signature value.
int wrapSignature(const std::string& homeDir, Bytes& tbs, Bytes& value, Bytes* out) {
  CodecSession codec(homeDir);
  if (!codec.isLoaded()) return kLibraryMissing;
  unsigned char* values[1] = {value.data()};
  int valueLength = int(value.size());
  int* lengths[1] = {&valueLength};
  int length = 0;
  bool ok =
      codec->GetSignatureData(tbs.data(), int(tbs.size()), values, lengths, nullptr, &length) &&
      length > 0;
  if (ok) {
    out->assign(size_t(length), 0);
    int written = length;
    ok = codec->GetSignatureData(tbs.data(), int(tbs.size()), values, lengths, out->data(),
                                 &written) &&
         written == length;
  }
  marker("INOES_Sign23");
  if (!ok) {
    marker("INOES_Sign24");
    return kBadSignatureData;
  }
  return kOk;
}

// The reader's buffer takes the structure when it fits: its stated length,
// or the size the first call reported when it states none.
int handOut(const Bytes& der, unsigned char* signature, int* signatureLength) {
  const size_t room = signatureLength && *signatureLength > 0 ? size_t(*signatureLength)
                                                              : size_t(kSignatureBufferSize);
  if (der.size() > room) return kBadArgument;
  std::memcpy(signature, der.data(), der.size());
  if (signatureLength) *signatureLength = int(der.size());
  marker("INOES_Sign25");
  return kOk;
}

int signingStep(unsigned char* sealId, int sealIdLength, SignInputs& in, unsigned char* signature,
                int* signatureLength) {
  if (!pin::held()) return kPinOrDevice;
  marker("INOES_Sign2");
  std::optional<SealIdFields> fields = parseSealId(ByteSpan::fromInt(sealId, sealIdLength));
  if (!fields || !in.valid()) return kBadArgument;
  marker("INOES_Sign3");

  int state = VerifySealById(fields->sealIdentifier.data());
  marker("INOES_Sign4");
  if (state != kOk && state != kNeedLocalCheck) return state;
  const bool localCheck = state == kNeedLocalCheck;
  marker("INOES_Sign5");

  std::optional<std::string> home = provider::installDirFromToolLibrary();
  if (!home) return kLibraryMissing;
  marker("INOES_Sign6");

  Bytes seal, cert, tbs, value, der;
  if (int rc = fetchSeal(sealId, sealIdLength, &seal)) return rc;
  if (int rc = buildContent(*home, seal, localCheck, in, &cert, &tbs)) return rc;

  unsigned char e[kDigestLength] = {};
  int eLength = 0;
  if (!mySM3::getsm3Digest(tbs.data(), tbs.size(), cert.data(), cert.size(), e, &eLength) ||
      eLength != kDigestLength)
    return kInternalError;
  marker("INOES_Sign13");

  if (int rc = signOnKey(*home, *fields, e, cert, &value)) return rc;
  if (int rc = wrapSignature(*home, tbs, value, &der)) return rc;
  if (int rc = handOut(der, signature, signatureLength)) return rc;

  std::string report = service::buildCommand(4, " ", fields->sealIdentifier.c_str(), nullptr);
  service::exchange(report, static_cast<char*>(nullptr), 0);
  marker("INOES_Sign26");
  return kOk;
}

}  // namespace

int OES_Sign(unsigned char* sealId, int sealIdLength, unsigned char* docProperty,
             int docPropertyLength, unsigned char* digest, int digestLength,
             unsigned char* signMethod, int signMethodLength, unsigned char* signTime,
             int signTimeLength, unsigned char* signature, int* signatureLength) {
  // The next seal-list request starts afresh.
  ::unlink(service::kListFile);
  marker("INOES_Sign1");
  if (!signature) return pinStep(signatureLength);
  SignInputs in{{docProperty, digest, signMethod, signTime},
                {docPropertyLength, digestLength, signMethodLength, signTimeLength}};
  return signingStep(sealId, sealIdLength, in, signature, signatureLength);
}

// OES_Verify: whether a stored seal signature holds for a seal and a
// document digest, offline (embedded seal, digest, SM2 signature over the
// rebuilt signed content) and then, when the local service answers, online.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "codec_session.h"
#include "dovel_x509.h"
#include "mySM2.h"
#include "mySM3.h"
#include "oes_api.h"
#include "oes_codes.h"
#include "oes_helpers.h"
#include "service_client.h"
#include "varo/byte_span.h"
#include "varo/trace.h"

using namespace varo::oes;

namespace {

// The largest fields a signature may carry; beyond them it is refused.
constexpr size_t kMaxEmbeddedSeal = 307200;
constexpr size_t kMaxDigest = 300;
constexpr size_t kMaxProperty = 4096;
constexpr size_t kMaxCert = 4096;
constexpr size_t kMaxSignatureValue = 300;
constexpr size_t kMaxTimeText = 49;
constexpr size_t kOnlineReplyCapacity = 1024;
constexpr const char* kSignMethod = "1.2.156.10197.1.501";

using Bytes = std::vector<unsigned char>;

// The fields of a decoded signature, each buffer sized from the signature:
// nothing copied out of the DER is longer than the DER.
struct StoredSignature {
  Bytes seal, digest, property, cert, value;
  std::string time;
};

int bounded(int n, size_t room) {
  return n < 0 ? 0 : (size_t(n) > room ? int(room) : n);
}

// Decodes the signature; 0 or the failure code.
int decodeSignature(BasicSealInfo* codec, varo::ByteSpan der, StoredSignature* out) {
  if (der.empty()) return kBadSignatureData;
  const int derLength = int(der.size());
  auto* in = const_cast<unsigned char*>(der.data());
  // The embedded seal is re-encoded by the codec, so its length is asked for
  // first and its buffer made to measure.
  int sealLength = 0;
  if (!codec->DecodeSignature(in, derLength, nullptr, nullptr, &sealLength, nullptr, nullptr,
                              nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                              nullptr, nullptr, nullptr, nullptr, nullptr))
    return kBadSignatureData;
  if (sealLength <= 0 || size_t(sealLength) > kMaxEmbeddedSeal) return kBadSignatureData;
  const size_t room = der.size() + 1;
  Bytes seal(size_t(sealLength), 0), digest(room, 0), property(room, 0), cert(room, 0),
      value(room, 0);
  std::vector<char> time(room, 0);
  int sealOut = sealLength, digestLength = int(kMaxDigest), propertyLength = int(kMaxProperty),
      certLength = int(kMaxCert), valueLength = int(kMaxSignatureValue);
  if (!codec->DecodeSignature(in, derLength, nullptr, seal.data(), &sealOut, time.data(),
                              digest.data(), &digestLength, property.data(), &propertyLength,
                              cert.data(), &certLength, nullptr, value.data(), &valueLength,
                              nullptr, nullptr, nullptr, nullptr))
    return kBadSignatureData;
  if (sealOut != sealLength || size_t(digestLength) > kMaxDigest ||
      size_t(propertyLength) > kMaxProperty || size_t(certLength) > kMaxCert ||
      size_t(valueLength) > kMaxSignatureValue || std::strlen(time.data()) > kMaxTimeText)
    return kBadSignatureData;
  seal.resize(size_t(sealLength));
  digest.resize(size_t(bounded(digestLength, room)));
  property.resize(size_t(bounded(propertyLength, room)));
  cert.resize(size_t(bounded(certLength, room)));
  value.resize(size_t(bounded(valueLength, room)));
  *out = StoredSignature{std::move(seal), std::move(digest), std::move(property),
                         std::move(cert), std::move(value),  std::string(time.data())};
  return 0;
}

// The seal identifier of the given seal; empty when it does not decode.
std::string sealIdentifier(BasicSealInfo* codec, varo::ByteSpan seal) {
  std::vector<char> id(seal.size() + 1, 0);
  codec->DecodeSeal(seal.data(), int(seal.size()), id.data(), nullptr, nullptr, nullptr, nullptr,
                    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                    nullptr, nullptr, nullptr, nullptr);
  return std::string(id.data());
}

// Rebuilds the signed content; false when the codec cannot.
bool rebuildSignedContent(BasicSealInfo* codec, varo::ByteSpan seal, StoredSignature& stored,
                          varo::ByteSpan digest, Bytes* content) {
  std::string time = stored.time;
  std::string method = kSignMethod;
  unsigned char* values[4] = {stored.property.data(), const_cast<unsigned char*>(digest.data()),
                              reinterpret_cast<unsigned char*>(method.data()),
                              reinterpret_cast<unsigned char*>(time.data())};
  int lengths[4] = {int(stored.property.size()), int(digest.size()), int(method.size()),
                    int(time.size())};
  int* lengthPointers[4] = {&lengths[0], &lengths[1], &lengths[2], &lengths[3]};
  auto* sealBytes = const_cast<unsigned char*>(seal.data());
  // Measured first, then built into a buffer of that size.
  int size = 0;
  if (!codec->GetTbsSignData(sealBytes, int(seal.size()), values, lengthPointers, 4, nullptr,
                             &size) ||
      size <= 0)
    return false;
  content->assign(size_t(size), 0);
  int built = size;
  if (!codec->GetTbsSignData(sealBytes, int(seal.size()), values, lengthPointers, 4,
                             content->data(), &built) ||
      built != size)
    return false;
  return true;
}

// The signer check that stands in when the service has no answer.
int offlineCheck(const StoredSignature& stored, const char* passMarker, const char* failMarker) {
  if (dovel_x509::verifyCertOffLine(stored.cert.data(), stored.cert.size())) {
    if (passMarker) varo::trace::marker(passMarker);
    return 0;
  }
  if (failMarker) varo::trace::marker(failMarker);
  return kSignerNotTrusted;
}

std::string certificateBase64(const Bytes& cert) {
  std::unique_ptr<char, decltype(&std::free)> text(
      openssl_base64_encode(cert.data(), int(cert.size())), &std::free);
  return text ? std::string(text.get()) : std::string();
}

int onlineCheck(const std::string& sealId, const StoredSignature& stored) {
  using namespace varo::service;
  varo::trace::marker("INOES_Verify9");
  std::string reply;
  exchange("{\"COM\":\"0\"}", &reply, kOnlineReplyCapacity);
  if (reply.empty()) {
    varo::trace::marker("INOES_Verify13");
    return offlineCheck(stored, "INOES_Verify14", "INOES_Verify15");
  }
  varo::trace::marker("INOES_Verify10");
  std::string request = "{\"COM\":\"3\",\"SEALID\":\"" + sealId + "\",\"TIME\":\"" + stored.time +
                        "\",\"CERT\":\"" + certificateBase64(stored.cert) + "\"}";
  reply.clear();
  varo::trace::marker("INOES_Verify11");
  exchange(request, &reply, kOnlineReplyCapacity);
  varo::trace::marker("INOES_Verify12");
  if (reply.empty()) {
    varo::trace::marker("INOES_Verify17");
    return offlineCheck(stored, nullptr, nullptr);
  }
  varo::trace::marker("INOES_Verify16");
  struct Answer {
    const char* name;
    int result;
  };
  static constexpr Answer kAnswers[] = {{"ERR_NOERR", 0},
                                        {"ERR_ISSUER_USER", kSignerNotTrusted},
                                        {"ERR_ISSUER_MAKER", kMakerNotTrusted},
                                        {"ERR_OUTTIME", kOutsideValidity}};
  for (const Answer& a : kAnswers)
    if (reply.find(a.name) != std::string::npos) return a.result;
  varo::trace::marker("INOES_Verify17");
  return offlineCheck(stored, nullptr, nullptr);
}

}  // namespace

int OES_Verify(unsigned char* seal, int sealLength, unsigned char* docProperty,
               int docPropertyLength, unsigned char* digest, int digestLength,
               unsigned char* signMethod, int signMethodLength, unsigned char* signTime,
               int signTimeLength, unsigned char* signature, int signatureLength) {
  // The stored property, method and time are used, never the reader's.
  (void)docProperty, (void)docPropertyLength, (void)signMethod, (void)signMethodLength;
  (void)signTime, (void)signTimeLength;
  using varo::ByteSpan;
  const ByteSpan givenSeal = ByteSpan::fromInt(seal, sealLength);
  const ByteSpan givenDigest = ByteSpan::fromInt(digest, digestLength);

  varo::trace::marker("INOES_Verify1");
  std::optional<std::string> home = varo::provider::installDirFromToolLibrary();
  if (!home) return varo::provider::kLibraryMissing;
  varo::trace::marker("INOES_Verify2");
  varo::provider::CodecSession codec(*home);
  if (!codec.isLoaded()) return varo::provider::kLibraryMissing;

  StoredSignature stored;
  int rc = decodeSignature(codec.get(), ByteSpan::fromInt(signature, signatureLength), &stored);
  varo::trace::marker("INOES_Verify3");
  if (rc != 0) return rc;
  if (stored.seal.size() != givenSeal.size()) return kBadSealData;
  if (!ByteSpan(stored.seal.data(), stored.seal.size()).equals(givenSeal)) return kSignatureInvalid;

  const std::string sealId = sealIdentifier(codec.get(), givenSeal);
  varo::trace::marker("INOES_Verify4");
  if (stored.digest.size() != givenDigest.size()) return kSignatureInvalid;
  varo::trace::marker("INOES_Verify5");
  if (!ByteSpan(stored.digest.data(), stored.digest.size()).equals(givenDigest))
    return kSignatureInvalid;

  Bytes content;
  const bool rebuilt = rebuildSignedContent(codec.get(), givenSeal, stored, givenDigest, &content);
  varo::trace::marker("INOES_Verify6");
  if (!rebuilt) return kBadSealData;

  bool valid = false;
  unsigned char e[32] = {};
  int eLength = 0;
  if (!mySM3::getsm3Digest(content.data(), content.size(), stored.cert.data(), stored.cert.size(),
                           e, &eLength)) {
    varo::trace::marker("INOES_Verify7");
  } else {
    valid = mySM2::verifySM2Signature(e, sizeof e, stored.cert.data(), stored.cert.size(),
                                      stored.value.data(), stored.value.size());
    varo::trace::marker("INOES_Verify8");
  }
  codec.close();
  if (!valid) return kSignatureInvalid;
  return onlineCheck(sealId, stored);
}

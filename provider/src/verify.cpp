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
constexpr char kSignMethod[] = "1.2.156.10197.1.501";
constexpr int kSignMethodLength = sizeof kSignMethod - 1;

using Markers = varo::trace::MarkerScope;

// Bytes owned without being zero-filled first: the codec writes what is read.
struct Buffer {
  std::unique_ptr<unsigned char[]> bytes;
  size_t size = 0;
  explicit Buffer(size_t capacity = 0)
      : bytes(capacity ? new unsigned char[capacity] : nullptr), size(capacity) {}
  unsigned char* data() const { return bytes.get(); }
};

// The fields of a decoded signature: views into one buffer sized from the
// signature, since nothing copied out of the DER is longer than the DER.
struct StoredSignature {
  Buffer storage;
  varo::ByteSpan seal, digest, property, cert, value;
  std::string time;
};

int bounded(int n, size_t room) {
  return n < 0 ? 0 : (size_t(n) > room ? int(room) : n);
}

// Decodes the signature in one pass; 0 or the failure code. The codec
// promises that no decoded field is longer than the DER it came from (the
// embedded seal included, which its decoder re-encodes to exactly the bytes
// it read), so each field gets the signature's length as its room.
int decodeSignature(BasicSealInfo* codec, varo::ByteSpan der, StoredSignature* out) {
  if (der.empty()) return kBadSignatureData;
  const size_t room = der.size() + 1;
  Buffer storage(6 * room);
  unsigned char* seal = storage.data();
  unsigned char* digest = seal + room;
  unsigned char* property = digest + room;
  unsigned char* cert = property + room;
  unsigned char* value = cert + room;
  char* time = reinterpret_cast<char*>(value + room);
  std::memset(time, 0, room);  // the codec writes the text without its terminator
  int sealLength = int(kMaxEmbeddedSeal), digestLength = int(kMaxDigest),
      propertyLength = int(kMaxProperty), certLength = int(kMaxCert),
      valueLength = int(kMaxSignatureValue);
  if (!codec->DecodeSignature(der.data(), int(der.size()), nullptr, seal, &sealLength, time, digest,
                              &digestLength, property, &propertyLength, cert, &certLength, nullptr,
                              value, &valueLength, nullptr, nullptr, nullptr, nullptr))
    return kBadSignatureData;
  if (sealLength <= 0 || size_t(sealLength) > kMaxEmbeddedSeal ||
      size_t(digestLength) > kMaxDigest || size_t(propertyLength) > kMaxProperty ||
      size_t(certLength) > kMaxCert || size_t(valueLength) > kMaxSignatureValue ||
      std::strlen(time) > kMaxTimeText)
    return kBadSignatureData;
  auto field = [&](const unsigned char* at, int length) {
    return varo::ByteSpan(at, size_t(bounded(length, room)));
  };
  out->seal = field(seal, sealLength);
  out->digest = field(digest, digestLength);
  out->property = field(property, propertyLength);
  out->cert = field(cert, certLength);
  out->value = field(value, valueLength);
  out->time = time;
  out->storage = std::move(storage);
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

// The most bytes GetTbsSignData can write for these inputs. The content is
// MYTBS_Sign: a sequence of seven fields, each header at most 6 octets. Its
// seal field is the given seal re-encoded, which is the given seal's own
// length since the given seal equals the codec's encoding of the embedded
// one (checked before this is used); the signer's certificate is a field of
// that seal; the two bit strings add an unused-bits octet each; the version
// and the algorithm identifier are small fixed fields.
size_t contentCapacity(size_t seal, size_t property, size_t digest, size_t time) {
  constexpr size_t kHeaders = 8 * 6;
  constexpr size_t kFixedFields = 2 * 1 + 8 + 16;  // unused-bits octets, version, algorithm
  return 2 * seal + property + digest + time + kHeaders + kFixedFields;
}

// Rebuilds the signed content in one call of the codec; false when the
// codec cannot.
bool rebuildSignedContent(BasicSealInfo* codec, varo::ByteSpan seal, StoredSignature& stored,
                          varo::ByteSpan digest, Buffer* content) {
  // The codec reads its inputs only.
  unsigned char* values[4] = {const_cast<unsigned char*>(stored.property.data()),
                              const_cast<unsigned char*>(digest.data()),
                              reinterpret_cast<unsigned char*>(const_cast<char*>(kSignMethod)),
                              reinterpret_cast<unsigned char*>(stored.time.data())};
  int lengths[4] = {int(stored.property.size()), int(digest.size()), kSignMethodLength,
                    int(stored.time.size())};
  int* lengthPointers[4] = {&lengths[0], &lengths[1], &lengths[2], &lengths[3]};
  const size_t capacity =
      contentCapacity(seal.size(), stored.property.size(), digest.size(), stored.time.size());
  Buffer built(capacity);
  int length = int(capacity);
  if (!codec->GetTbsSignData(const_cast<unsigned char*>(seal.data()), int(seal.size()), values,
                             lengthPointers, 4, built.data(), &length) ||
      length <= 0 || size_t(length) > capacity)
    return false;
  built.size = size_t(length);
  *content = std::move(built);
  return true;
}

// The signer check that stands in when the service has no answer.
int offlineCheck(const Markers& markers, const StoredSignature& stored, const char* passMarker,
                 const char* failMarker) {
  if (dovel_x509::verifyCertOffLine(stored.cert.data(), stored.cert.size())) {
    if (passMarker) markers.marker(passMarker);
    return 0;
  }
  if (failMarker) markers.marker(failMarker);
  return kSignerNotTrusted;
}

std::string certificateBase64(varo::ByteSpan cert) {
  std::unique_ptr<char, decltype(&std::free)> text(
      openssl_base64_encode(cert.data(), int(cert.size())), &std::free);
  return text ? std::string(text.get()) : std::string();
}

int onlineCheck(const Markers& markers, const std::string& sealId, const StoredSignature& stored) {
  using namespace varo::service;
  markers.marker("INOES_Verify9");
  std::string reply;
  exchange("{\"COM\":\"0\"}", &reply, kOnlineReplyCapacity);
  if (reply.empty()) {
    markers.marker("INOES_Verify13");
    return offlineCheck(markers, stored, "INOES_Verify14", "INOES_Verify15");
  }
  markers.marker("INOES_Verify10");
  std::string request = "{\"COM\":\"3\",\"SEALID\":\"" + sealId + "\",\"TIME\":\"" + stored.time +
                        "\",\"CERT\":\"" + certificateBase64(stored.cert) + "\"}";
  reply.clear();
  markers.marker("INOES_Verify11");
  exchange(request, &reply, kOnlineReplyCapacity);
  markers.marker("INOES_Verify12");
  if (reply.empty()) {
    markers.marker("INOES_Verify17");
    return offlineCheck(markers, stored, nullptr, nullptr);
  }
  markers.marker("INOES_Verify16");
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
  markers.marker("INOES_Verify17");
  return offlineCheck(markers, stored, nullptr, nullptr);
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

  const Markers markers;
  markers.marker("INOES_Verify1");
  std::optional<std::string> home = varo::provider::installDirFromToolLibrary();
  if (!home) return varo::provider::kLibraryMissing;
  markers.marker("INOES_Verify2");
  varo::provider::CodecSession codec(*home);
  if (!codec.isLoaded()) return varo::provider::kLibraryMissing;

  StoredSignature stored;
  int rc = decodeSignature(codec.get(), ByteSpan::fromInt(signature, signatureLength), &stored);
  markers.marker("INOES_Verify3");
  if (rc != 0) return rc;
  if (stored.seal.size() != givenSeal.size()) return kBadSealData;
  if (!stored.seal.equals(givenSeal)) return kSignatureInvalid;

  const std::string sealId = sealIdentifier(codec.get(), givenSeal);
  markers.marker("INOES_Verify4");
  if (stored.digest.size() != givenDigest.size()) return kSignatureInvalid;
  markers.marker("INOES_Verify5");
  if (!stored.digest.equals(givenDigest)) return kSignatureInvalid;

  Buffer content;
  const bool rebuilt = rebuildSignedContent(codec.get(), givenSeal, stored, givenDigest, &content);
  markers.marker("INOES_Verify6");
  if (!rebuilt) return kBadSealData;

  // The signer's key is read from the certificate once, for e and for the
  // verification.
  bool valid = false;
  Struct_ECCPUBLICKEYBLOB key;
  if (!dovel_x509::getPublicStructFromCert(stored.cert.data(), stored.cert.size(), &key)) {
    markers.marker("INOES_Verify7");
  } else {
    unsigned char e[32];
    varo::sm3::messageRepresentative(content.data(), content.size, key, e);
    valid = varo::sm2::verifyWithKey(e, sizeof e, key, stored.value.data(), stored.value.size());
    markers.marker("INOES_Verify8");
  }
  codec.close();
  if (!valid) return kSignatureInvalid;
  return onlineCheck(markers, sealId, stored);
}

// OES_GetSealInfo: a seal's descriptive fields, decoded by the codec.
#include <cstring>
#include <string>
#include <vector>

#include "codec_session.h"
#include "dovel_x509.h"
#include "oes_api.h"
#include "oes_codes.h"
#include "varo/caller_buffer.h"
#include "varo/trace.h"

using namespace varo::oes;

namespace {

// Room for the texts the codec derives itself (times, numbers, the seal type
// text, an object identifier), terminator included.
constexpr size_t kDerivedTextRoom = 128;

// A zero-filled working buffer for one decoded field. The codec writes
// without a bound, so each buffer is sized from the seal: a field copied out
// of the DER cannot be longer than the DER.
struct Field {
  explicit Field(size_t size) : bytes(size, 0) {}
  std::vector<char> bytes;
  char* text() { return bytes.data(); }
  unsigned char* data() { return reinterpret_cast<unsigned char*>(bytes.data()); }
  std::string_view view() const {
    return std::string_view(bytes.data(), std::strlen(bytes.data()));
  }
};

struct Output {
  unsigned char* buffer;
  int* length;
  varo::ByteSpan data;
  // A buffer whose caller gave a positive length below the data is refused.
  bool fits() const { return !buffer || !length || *length <= 0 || size_t(*length) >= data.size(); }
};

}  // namespace

int OES_GetSealInfo(unsigned char* seal, int sealLength, unsigned char* sealId, int* sealIdLength,
                    unsigned char* version, int* versionLength, unsigned char* vendorId,
                    int* vendorIdLength, unsigned char* sealType, int* sealTypeLength,
                    unsigned char* sealName, int* sealNameLength, unsigned char* cert,
                    int* certLength, unsigned char* validStart, int* validStartLength,
                    unsigned char* validEnd, int* validEndLength, unsigned char* createDate,
                    int* createDateLength, unsigned char* signerName, int* signerNameLength,
                    unsigned char* signMethod, int* signMethodLength) {
  using varo::provider::CodecSession;
  varo::trace::marker("inGetSealInfo1");
  std::optional<std::string> home = varo::provider::installDirFromToolLibrary();
  if (!home) return varo::provider::kLibraryMissing;
  varo::trace::marker("inGetSealInfo2");
  CodecSession codec(*home);
  if (!codec.isLoaded()) return varo::provider::kLibraryMissing;
  if (!seal || sealLength <= 0) return kBadArgument;

  const size_t textSize = size_t(sealLength) + kDerivedTextRoom;
  Field esId(textSize), name(textSize), firstCert(size_t(sealLength) + 1),
      makerCert(size_t(sealLength) + 1), pictureType(textSize), createTime(textSize),
      start(textSize), end(textSize), vid(textSize), versionText(textSize), typeText(textSize),
      algorithm(textSize);
  int firstCertLength = 0, makerCertLength = 0, pictureLength = 0, width = 0, height = 0;
  varo::trace::marker("inGetSealInfo3");
  const bool decoded = codec->DecodeSeal(
      seal, sealLength, esId.text(), name.text(), firstCert.data(), &firstCertLength,
      makerCert.data(), &makerCertLength, nullptr, &pictureLength, pictureType.text(), &width,
      &height, createTime.text(), start.text(), end.text(), vid.text(), versionText.text(),
      typeText.text(), algorithm.text());
  codec.close();
  varo::trace::marker("inGetSealInfo4");
  if (!decoded) return kBadSealData;

  // The codec's lengths are bounded by its buffers before any use.
  auto certSpan = [](Field& f, int n) {
    return varo::ByteSpan(f.data(), n > 0 ? size_t(n) : 0).prefix(f.bytes.size());
  };
  char signer[dovel_x509::kUserInfoSize + 1] = {};
  varo::ByteSpan maker = certSpan(makerCert, makerCertLength);
  if (maker.empty() || !dovel_x509::getCertUserInfo(maker.data(), maker.size(), signer))
    signer[0] = 0;
  signer[dovel_x509::kUserInfoSize] = 0;

  const Output outputs[] = {
      {sealId, sealIdLength, varo::ByteSpan(esId.view())},
      {version, versionLength, varo::ByteSpan(versionText.view())},
      {vendorId, vendorIdLength, varo::ByteSpan(vid.view())},
      {sealType, sealTypeLength, varo::ByteSpan(typeText.view())},
      {sealName, sealNameLength, varo::ByteSpan(name.view())},
      {cert, certLength, certSpan(firstCert, firstCertLength)},
      {validStart, validStartLength, varo::ByteSpan(start.view())},
      {validEnd, validEndLength, varo::ByteSpan(end.view())},
      {createDate, createDateLength, varo::ByteSpan(createTime.view())},
      {signerName, signerNameLength, varo::ByteSpan(std::string_view(signer))},
      {signMethod, signMethodLength, varo::ByteSpan(algorithm.view())},
  };
  // All or nothing: a buffer that is too small is found before any output
  // is written. An output without a length pointer is not wanted.
  for (const Output& o : outputs)
    if (!o.fits()) return kBadArgument;
  for (const Output& o : outputs) varo::CallerBuffer(o.buffer, o.length).putSized(o.data);
  varo::trace::marker("inGetSealInfo5");
  return 0;
}

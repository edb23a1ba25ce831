// Inspection of an existing seal signature and the time text of a new one:
// OES_GetSignDateTime, OES_GetSignInfo and OES_GetSignImage.
//
// The codec writes decoded fields without a bound, so it always writes into
// working buffers sized from the signature; the reader's buffers are filled
// from those through CallerBuffer, which never writes past a buffer whose
// length the reader gave.
#include <cstring>
#include <string>
#include <vector>

#include "codec_session.h"
#include "oes_api.h"
#include "oes_codes.h"
#include "signature_fields.h"
#include "varo/caller_buffer.h"
#include "varo/trace.h"

using namespace varo::oes;

namespace varo::provider {

namespace {

using Bytes = std::vector<unsigned char>;

// One binary output of the codec and the reader's pair it goes to.
struct Field {
  Bytes data;
  int length = 0;
  CallerBuffer out;

  Field(size_t capacity, unsigned char* buffer, int* len) : data(capacity), out(buffer, len) {}
  ByteSpan span() const {
    return ByteSpan(data.data(), length > 0 && size_t(length) <= data.size() ? size_t(length) : 0);
  }
  // The reader gave a buffer whose stated length is below the data.
  bool refused() const {
    return out.hasBuffer() && out.hasLength() && out.incoming() > 0 &&
           size_t(out.incoming()) < span().size();
  }
};

// A zero-terminated text the codec writes into a zero-filled buffer.
struct TextField {
  std::vector<char> data;
  CallerBuffer out;

  TextField(size_t capacity, unsigned char* buffer, int* len)
      : data(capacity + 1, '\0'), out(buffer, len) {}
  // Only the first capacity bytes are handed to the codec; the last one
  // stays zero, so the text always ends inside the buffer.
  char* codecBuffer() { return data.data(); }
  ByteSpan span() const { return ByteSpan(data.data(), std::strlen(data.data())); }
  bool refused() const {
    return out.hasBuffer() && out.hasLength() && out.incoming() > 0 &&
           size_t(out.incoming()) < span().size();
  }
};

}  // namespace

bool formatSignTime(std::time_t t, char* out) {
  std::tm utc{};
  if (!gmtime_r(&t, &utc)) return false;
  if (utc.tm_year + 1900 < 0 || utc.tm_year + 1900 > 9999) return false;
  char text[32] = {};
  // Four-digit year, then everything after the century digits.
  if (std::strftime(text, sizeof text, "%Y%m%d%H%M%SZ", &utc) != 15) return false;
  std::memcpy(out, text + 2, kSignTimeLength);
  return true;
}

}  // namespace varo::provider

using namespace varo;
using namespace varo::provider;

int OES_GetSignDateTime(unsigned char* time, int* timeLength) {
  trace::marker("inGetSignDateTime1");
  if (!timeLength) return kBadArgument;
  CallerBuffer out(time, timeLength);
  if (!time) {
    out.setLength(kSignTimeLength);
    return kOk;
  }
  char text[kSignTimeLength];
  if (!formatSignTime(std::time(nullptr), text)) return kBadArgument;
  if (out.putSized(ByteSpan(text, sizeof text)) != CallerBuffer::Result::Copied)
    return kBadArgument;
  trace::marker("inGetSignDateTime2");
  return kOk;
}

int OES_GetSignInfo(unsigned char* signature, int signatureLength, unsigned char* version,
                    int* versionLength, unsigned char* seal, int* sealLength,
                    unsigned char* signTime, int* signTimeLength, unsigned char* digest,
                    int* digestLength, unsigned char* docProperty, int* docPropertyLength,
                    unsigned char* cert, int* certLength, unsigned char* signMethod,
                    int* signMethodLength, unsigned char* signValue, int* signValueLength) {
  trace::marker("OES_GetSignInfo1");
  auto home = installDirFromToolLibrary();
  if (!home) return kLibraryMissing;
  trace::marker("OES_GetSignInfo1");
  CodecSession codec(*home);
  if (!codec.isLoaded()) return kLibraryMissing;
  trace::marker("OES_GetSignInfo2");

  const ByteSpan input = ByteSpan::fromInt(signature, signatureLength);
  const size_t room = decodedFieldCapacity(input.size());
  Field sealField(room, seal, sealLength), digestField(room, digest, digestLength);
  Field propertyField(room, docProperty, docPropertyLength), certField(room, cert, certLength);
  Field valueField(room, signValue, signValueLength);
  TextField versionText(64, version, versionLength), timeText(room, signTime, signTimeLength);
  TextField methodText(256, signMethod, signMethodLength);

  bool decoded =
      !input.empty() &&
      codec->DecodeSignature(
          input.data(), int(input.size()), versionText.codecBuffer(), sealField.data.data(),
          &sealField.length, timeText.codecBuffer(), digestField.data.data(), &digestField.length,
          propertyField.data.data(), &propertyField.length, certField.data.data(),
          &certField.length, methodText.codecBuffer(), valueField.data.data(), &valueField.length,
          nullptr, nullptr, nullptr, nullptr);
  codec.close();
  trace::marker("OES_GetSignInfo3");
  if (!decoded) return kBadSignatureData;

  // Every output is checked before the first is written: a buffer the
  // reader says is too small leaves all outputs as they were.
  Field* fields[] = {&sealField, &digestField, &propertyField, &certField, &valueField};
  TextField* texts[] = {&versionText, &timeText, &methodText};
  for (Field* f : fields)
    if (f->refused()) return kBadArgument;
  for (TextField* t : texts)
    if (t->refused()) return kBadArgument;
  for (TextField* t : texts) t->out.putSized(t->span());
  for (Field* f : fields) f->out.putSized(f->span());
  return kOk;
}

int OES_GetSignImage(unsigned char* signature, int signatureLength, int /*renderFlag*/,
                     unsigned char* picture, int* pictureLength, int* width, int* height) {
  trace::marker("OES_GetSignImage1");
  auto home = installDirFromToolLibrary();
  if (!home) return kLibraryMissing;
  trace::marker("OES_GetSignImage2");
  CodecSession codec(*home);
  if (!codec.isLoaded()) return kLibraryMissing;
  trace::marker("OES_GetSignImage3");

  const ByteSpan input = ByteSpan::fromInt(signature, signatureLength);
  Field pictureField(decodedFieldCapacity(input.size()), picture, pictureLength);
  int w = 0, h = 0;
  bool decoded =
      !input.empty() &&
      codec->DecodeSignature(input.data(), int(input.size()), nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, pictureField.data.data(), &pictureField.length, &w, &h);
  codec.close();
  trace::marker("OES_GetSignImage4");
  if (!decoded) {
    trace::marker("OES_GetSignImage6");
    return kBadSignatureData;
  }
  if (pictureField.refused()) {
    trace::marker("OES_GetSignImage6");
    return kBadArgument;
  }
  pictureField.out.putSized(pictureField.span());
  if (width) *width = w;
  if (height) *height = h;
  trace::marker("OES_GetSignImage5");
  return kOk;
}

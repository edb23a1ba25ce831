// makeSeal: the seal's DER written element by element, and the maker's
// signature over SEQUENCE { esealInfo, cert, signatureAlgorithm }.
#include <ctime>
#include <string>

#include "varo/der.h"
#include "varo/pki.h"
#include "varo/sealmaker.h"

namespace varo::sealmaker {

namespace {

constexpr const char* kSm2WithSm3 = "1.2.156.10197.1.501";

ByteSpan span(const Bytes& b) {
  return ByteSpan(b.data(), b.size());
}

bool digits(const std::string& s, size_t at, int low, int high) {
  if (s[at] < '0' || s[at] > '9' || s[at + 1] < '0' || s[at + 1] > '9') return false;
  int v = (s[at] - '0') * 10 + (s[at + 1] - '0');
  return v >= low && v <= high;
}

// "YYMMDDhhmmssZ" with plausible field values.
bool validUtcTime(const std::string& t) {
  return t.size() == 13 && t[12] == 'Z' && digits(t, 0, 0, 99) && digits(t, 2, 1, 12) &&
         digits(t, 4, 1, 31) && digits(t, 6, 0, 23) && digits(t, 8, 0, 59) && digits(t, 10, 0, 59);
}

bool fail(std::string* error, const std::string& why) {
  if (error) *error = why;
  return false;
}

// The seal's top-level parts: esealInfo and signInfo, and the children of
// signInfo (cert, signatureAlgorithm, signData).
bool sealParts(const Bytes& seal, der::Element* info, std::vector<der::Element>* signInfo) {
  ByteSpan in = span(seal);
  der::Element top;
  std::vector<der::Element> parts;
  if (!der::read(&in, &top) || top.tag != der::kSequence || !der::children(top.content, &parts) ||
      parts.size() != 2 || !der::children(parts[1].content, signInfo) || signInfo->size() != 3)
    return false;
  *info = parts[0];
  return true;
}

}  // namespace

std::string utcTimeText(int yearsFromNow) {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  tm.tm_year += yearsFromNow;
  // Normalise (29 February of a year that has none becomes 1 March).
  std::time_t later = timegm(&tm);
  gmtime_r(&later, &tm);
  char text[16] = {};
  std::strftime(text, sizeof text, "%y%m%d%H%M%SZ", &tm);
  return text;
}

Bytes makeSeal(const SealSpec& spec, std::string* error) {
  const std::string created = spec.createTime.empty() ? utcTimeText() : spec.createTime;
  const std::string start = spec.validStart.empty() ? utcTimeText() : spec.validStart;
  const std::string end = spec.validEnd.empty() ? utcTimeText(10) : spec.validEnd;
  for (const std::string* t : {&created, &start, &end})
    if (!validUtcTime(*t)) return fail(error, "not a UTC time YYMMDDhhmmssZ: " + *t), Bytes();
  if (!spec.makerKey) return fail(error, "no maker key"), Bytes();
  if (spec.makerCert.empty()) return fail(error, "no maker certificate"), Bytes();

  Bytes picture = spec.picture.empty() ? drawSealPicture(spec.name) : spec.picture;
  int width = spec.width, height = spec.height;
  if (spec.picture.empty()) {
    if (width == 0) width = kDefaultPictureSize;
    if (height == 0) height = kDefaultPictureSize;
  }

  std::vector<Bytes> certs;
  for (const Bytes& c : spec.signerCerts) certs.push_back(der::octets(span(c)));

  const Bytes sealInfo = der::sequence({
      der::sequence({der::text(der::kIa5String, spec.iid), der::integer(spec.version),
                     der::text(der::kIa5String, spec.vid)}),
      der::text(der::kIa5String, spec.esID),
      der::sequence({der::integer(spec.type), der::text(der::kUtf8String, spec.name),
                     der::sequenceOf(certs), der::text(der::kUtcTime, created),
                     der::text(der::kUtcTime, start), der::text(der::kUtcTime, end)}),
      der::sequence({der::text(der::kIa5String, spec.pictureType), der::octets(span(picture)),
                     der::integer(width), der::integer(height)}),
  });
  const Bytes makerCert = der::octets(span(spec.makerCert));
  const Bytes algorithm = der::objectId(kSm2WithSm3);

  const Bytes signedContent = der::sequence({sealInfo, makerCert, algorithm});
  const Bytes signature = pki::signMessage(spec.makerKey, span(signedContent));
  if (signature.empty()) return fail(error, "the maker's signature failed"), Bytes();

  return der::sequence(
      {sealInfo, der::sequence({makerCert, algorithm, der::bitString(span(signature))})});
}

Bytes makerSignedContent(const Bytes& seal) {
  der::Element info;
  std::vector<der::Element> signInfo;
  if (!sealParts(seal, &info, &signInfo)) return {};
  auto bytes = [](const der::Element& e) {
    return Bytes(e.whole.data(), e.whole.data() + e.whole.size());
  };
  return der::sequence({bytes(info), bytes(signInfo[0]), bytes(signInfo[1])});
}

Bytes firstHolderCert(const Bytes& seal) {
  der::Element info;
  std::vector<der::Element> signInfo, parts, property, list;
  if (!sealParts(seal, &info, &signInfo) || !der::children(info.content, &parts) ||
      parts.size() != 4 || !der::children(parts[2].content, &property) || property.size() != 6 ||
      !der::children(property[2].content, &list) || list.empty())
    return {};
  return Bytes(list[0].content.data(), list[0].content.data() + list[0].content.size());
}

Bytes makerSignature(const Bytes& seal) {
  der::Element info;
  std::vector<der::Element> signInfo;
  if (!sealParts(seal, &info, &signInfo) || signInfo[2].tag != der::kBitString ||
      signInfo[2].content.empty())
    return {};
  ByteSpan value = signInfo[2].content.from(1);
  return Bytes(value.data(), value.data() + value.size());
}

}  // namespace varo::sealmaker

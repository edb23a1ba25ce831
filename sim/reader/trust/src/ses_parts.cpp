#include "ses_parts.h"

#include <initializer_list>

#include "varo/der.h"

namespace varo::trust {

namespace {

using der::Element;

// The first element of the bytes (what follows it is the encoding check's).
bool first(ByteSpan in, Element* out) {
  bool minimal = false;
  return der::readAnyLength(&in, out, &minimal);
}

// The children of a SEQUENCE, which must carry exactly these tags in order.
bool shaped(const Element& seq, std::initializer_list<uint8_t> tags, std::vector<Element>* out) {
  if (seq.tag != der::kSequence) return false;
  out->clear();
  ByteSpan in = seq.content;
  for (uint8_t tag : tags) {
    Element e;
    bool minimal = false;
    if (!der::readAnyLength(&in, &e, &minimal) || e.tag != tag) return false;
    out->push_back(e);
  }
  return in.empty();
}

bool fail(std::string* why, const char* text) {
  *why = text;
  return false;
}

}  // namespace

bool readSeal(ByteSpan bytes, SealParts* out, std::string* why) {
  using namespace der;
  Element top;
  std::vector<Element> seal, info, property, signInfo;
  if (!first(bytes, &top) || !shaped(top, {kSequence, kSequence}, &seal) ||
      !shaped(seal[0], {kSequence, kIa5String, kSequence, kSequence}, &info) ||
      !shaped(info[2], {kInteger, kUtf8String, kSequence, kUtcTime, kUtcTime, kUtcTime},
              &property) ||
      !shaped(seal[1], {kOctetString, kObjectId, kBitString}, &signInfo))
    return fail(why, "the seal does not have the layout of a seal");
  out->holders.clear();
  ByteSpan list = property[2].content;
  while (!list.empty()) {
    Element entry;
    bool minimal = false;
    if (!der::readAnyLength(&list, &entry, &minimal) || entry.tag != kOctetString)
      return fail(why, "the seal's certificate list is not a list of octet strings");
    out->holders.push_back(entry.content);
  }
  out->sealInfo = seal[0].whole;
  out->makerCertElement = signInfo[0].whole;
  out->algorithmElement = signInfo[1].whole;
  out->makerCert = signInfo[0].content;
  out->algorithm = signInfo[1].content;
  out->signData = signInfo[2].content;
  out->validStart = property[4].content;
  out->validEnd = property[5].content;
  return true;
}

bool readSignature(ByteSpan bytes, SignatureParts* out, std::string* why) {
  using namespace der;
  Element top;
  std::vector<Element> signature, content;
  if (!first(bytes, &top) || !shaped(top, {kSequence, kBitString}, &signature) ||
      !shaped(signature[0],
              {kInteger, kSequence, kBitString, kBitString, kIa5String, kOctetString, kObjectId},
              &content) ||
      content[2].content.empty())
    return fail(why, "the signature does not have the layout of a seal signature");
  out->seal = content[1].whole;
  out->time = content[2].content.from(1);  // after the unused-bits octet
  out->signerCert = content[5].content;
  return true;
}

namespace {

// The first fault of the elements in `in`, found at `offset` of the whole.
std::string walk(ByteSpan in, size_t offset, int depth) {
  while (!in.empty()) {
    const size_t at = offset;
    Element e;
    bool minimal = false;
    if (!der::readAnyLength(&in, &e, &minimal))
      return "no complete DER element at offset " + std::to_string(at);
    if (!minimal) return "a length in more octets than needed at offset " + std::to_string(at);
    offset += e.whole.size();
    if (e.tag & 0x20) {
      if (depth >= 32) return "elements nested too deep at offset " + std::to_string(at);
      const size_t head = e.whole.size() - e.content.size();
      std::string fault = walk(e.content, at + head, depth + 1);
      if (!fault.empty()) return fault;
    }
  }
  return {};
}

}  // namespace

std::string encodingFault(ByteSpan bytes) {
  Element top;
  ByteSpan rest = bytes;
  bool minimal = false;
  if (!der::readAnyLength(&rest, &top, &minimal)) return "not a complete DER element";
  if (!rest.empty())
    return std::to_string(rest.size()) + " bytes follow the DER value" +
           (first(rest, &top) && top.tag != 0 ? " (another element)" : "");
  return walk(bytes, 0, 0);
}

}  // namespace varo::trust

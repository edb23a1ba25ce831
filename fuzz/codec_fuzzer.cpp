// The seal codec on arbitrary bytes: seals and seal signatures decoded with
// every output requested into buffers of exactly the size the callers give,
// the to-be-signed content and the final signature built from fuzzed parts,
// and the certificate and time helpers.
#include <cstdint>
#include <string>
#include <vector>

#include "SesSealStru.h"
#include "fuzz_input.h"

using varo::fuzz::ExactBuffer;

namespace {

// Sizes of the derived texts, terminator included, as the callers size them.
constexpr size_t kNumberText = 10, kObjectText = 100, kTimeText = 20, kSealTypeText = 16;
constexpr size_t kCertUserText = 500;

void decodeSeal(SesSealStru& codec, const uint8_t* data, size_t size, bool lengthsOnly) {
  // A decoded field is never longer than the DER it came from.
  ExactBuffer id(size), name(size), cert(size), maker(size), picture(size), type(size), vid(size);
  ExactBuffer created(kTimeText), start(kTimeText), end(kTimeText);
  ExactBuffer version(kNumberText), sealType(kSealTypeText), algorithm(kObjectText);
  int certLength = -1, makerLength = -1, pictureLength = -1, width = -1, height = -1;
  if (lengthsOnly) {
    codec.DecodeSeal(data, int(size), nullptr, nullptr, nullptr, &certLength, nullptr, &makerLength,
                     nullptr, &pictureLength, nullptr, &width, &height, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr, nullptr);
    return;
  }
  codec.DecodeSeal(data, int(size), id.text(), name.text(), cert.data(), &certLength, maker.data(),
                   &makerLength, picture.data(), &pictureLength, type.text(), &width, &height,
                   created.text(), start.text(), end.text(), vid.text(), version.text(),
                   sealType.text(), algorithm.text());
}

void decodeSignature(SesSealStru& codec, const uint8_t* data, size_t size) {
  // The seal is encoded again from its decoded form; DER gives it back at
  // most as long as it came.
  ExactBuffer seal(size), time(size), digest(size), property(size), cert(size), value(size),
      picture(size);
  ExactBuffer version(kNumberText), algorithm(kObjectText);
  int sealLength = -1, digestLength = -1, propertyLength = -1, certLength = -1, valueLength = -1,
      pictureLength = -1, width = -1, height = -1;
  codec.DecodeSignature(data, int(size), version.text(), seal.data(), &sealLength, time.text(),
                        digest.data(), &digestLength, property.data(), &propertyLength,
                        cert.data(), &certLength, algorithm.text(), value.data(), &valueLength,
                        picture.data(), &pictureLength, &width, &height);
}

// Asks for the length, then builds into a buffer of exactly that length.
template <typename Build>
void measureThenBuild(Build build) {
  int length = 0;
  if (!build(nullptr, &length) || length < 0 || length > (1 << 24)) return;
  ExactBuffer out(static_cast<size_t>(length));
  build(out.data(), &length);
}

// Parts: seal, document property, document digest, signing method, signing time.
void tbsSignData(SesSealStru& codec, const uint8_t* data, size_t size) {
  std::vector<std::string> parts = varo::fuzz::splitParts(data, size, 5);
  ExactBuffer seal(reinterpret_cast<const uint8_t*>(parts[0].data()), parts[0].size());
  std::vector<ExactBuffer> values;
  for (size_t i = 1; i < parts.size(); ++i)
    values.emplace_back(reinterpret_cast<const uint8_t*>(parts[i].data()), parts[i].size());
  int lengths[4];
  unsigned char* valuePointers[4];
  int* lengthPointers[4];
  for (int i = 0; i < 4; ++i) {
    lengths[i] = values[i].length();
    valuePointers[i] = values[i].data();
    lengthPointers[i] = &lengths[i];
  }
  measureThenBuild([&](unsigned char* out, int* outLength) {
    return codec.GetTbsSignData(seal.data(), seal.length(), valuePointers, lengthPointers, 4, out,
                                outLength);
  });
}

void signatureData(SesSealStru& codec, const uint8_t* data, size_t size) {
  std::vector<std::string> parts = varo::fuzz::splitParts(data, size, 2);
  ExactBuffer tbs(reinterpret_cast<const uint8_t*>(parts[0].data()), parts[0].size());
  ExactBuffer value(reinterpret_cast<const uint8_t*>(parts[1].data()), parts[1].size());
  int valueLength = value.length();
  unsigned char* values[1] = {value.data()};
  int* lengths[1] = {&valueLength};
  measureThenBuild([&](unsigned char* out, int* outLength) {
    return codec.GetSignatureData(tbs.data(), tbs.length(), values, lengths, out, outLength);
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static SesSealStru codec;
  const varo::fuzz::Choice choice = varo::fuzz::choose(data, size, 7);
  ExactBuffer input(choice.data, choice.size);
  switch (choice.which) {
    case 0: decodeSeal(codec, input.data(), input.size(), false); break;
    case 1: decodeSeal(codec, input.data(), input.size(), true); break;
    case 2: decodeSignature(codec, input.data(), input.size()); break;
    case 3: tbsSignData(codec, input.data(), input.size()); break;
    case 4: signatureData(codec, input.data(), input.size()); break;
    case 5: {
      ExactBuffer user(kCertUserText);
      codec.getCertUserInfo(input.data(), input.length(), user.text());
      break;
    }
    default: {
      ExactBuffer text(kTimeText);
      int length = 0;
      codec.utcstringFormat(input.data(), input.length(), text.text(), &length);
      break;
    }
  }
  return 0;
}

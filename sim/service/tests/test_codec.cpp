// A codec whose seals are "SEAL" + width + height (4 bytes little-endian
// each) + picture bytes; anything else does not decode.
#include <cstdint>
#include <cstring>
#include <new>

#include "BasicSealInfo.h"

namespace {

int32_t readLE(const unsigned char* p) {
  return static_cast<int32_t>(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                              uint32_t(p[3]) << 24);
}

class TestCodec final : public BasicSealInfo {
 public:
  bool DecodeSeal(const unsigned char* seal, int sealLength, char*, char*, unsigned char*, int*,
                  unsigned char*, int*, unsigned char* picture, int* pictureLength, char*,
                  int* width, int* height, char*, char*, char*, char*, char*, char*,
                  char*) override {
    if (!seal || sealLength < 12 || std::memcmp(seal, "SEAL", 4) != 0) return false;
    const int n = sealLength - 12;
    if (picture) std::memcpy(picture, seal + 12, static_cast<size_t>(n));
    if (pictureLength) *pictureLength = n;
    if (width) *width = readLE(seal + 4);
    if (height) *height = readLE(seal + 8);
    return true;
  }
};

}  // namespace

extern "C" {
__attribute__((visibility("default"))) BasicSealInfo* getObj() {
  return new (std::nothrow) TestCodec();
}
__attribute__((visibility("default"))) void freeObj(BasicSealInfo* obj) {
  delete static_cast<TestCodec*>(obj);
}
}

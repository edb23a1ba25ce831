// A key device driver for the tests: its seal list is the text of the
// environment variable VARO_FAKE_LIST_<tag> (none when unset), its reported
// length that of VARO_FAKE_LENGTH_<tag> when set, and its key type a fixed
// text. Like the real driver it takes a positive incoming length as the
// buffer's capacity and refuses a list that does not fit.
#include <cstdlib>
#include <cstring>

#include "VaroDeviceBase.h"

namespace {

class FakeDriver final : public VaroDeviceBase {
 public:
  int ReadSealList(unsigned char* out, int* outLength) override {
    const char* list = std::getenv("VARO_FAKE_LIST_" FAKE_TAG);
    if (!list) return 0x1001;
    const int size = int(std::strlen(list));
    if (out) {
      if (*outLength > 0 && *outLength < size) return 0x104;
      std::memcpy(out, list, size_t(size));
    }
    const char* reported = std::getenv("VARO_FAKE_LENGTH_" FAKE_TAG);
    *outLength = reported ? std::atoi(reported) : size;
    return 0;
  }
  void GetUKType(char* out) override { std::strcpy(out, FAKE_KEY_TYPE); }
};

}  // namespace

extern "C" __attribute__((visibility("default"))) VaroDeviceBase* getObj() {
  return new FakeDriver;
}
extern "C" __attribute__((visibility("default"))) void freeObj(void* object) {
  delete static_cast<FakeDriver*>(object);
}

#include "pin_handover.h"

#include <openssl/crypto.h>

#include <cstring>

namespace varo::provider::pin {
namespace {

// The one place the PIN lives between calls. Its destructor runs when the
// library is unloaded and wipes the bytes before the memory is given back.
class PinStore {
 public:
  ~PinStore() { clear(); }

  bool put(std::string_view pin) {
    clear();
    if (pin.size() > kMaxPinLength || pin.find('\0') != std::string_view::npos) return false;
    std::memcpy(text_, pin.data(), pin.size());
    length_ = pin.size();
    held_ = true;
    return true;
  }
  bool held() const { return held_; }
  // Copies the PIN with its terminator into out (kPinBufferSize bytes).
  bool copyTo(char* out) const {
    if (!held_) return false;
    std::memcpy(out, text_, length_);
    out[length_] = '\0';
    return true;
  }
  void clear() {
    OPENSSL_cleanse(text_, sizeof text_);
    length_ = 0;
    held_ = false;
  }

 private:
  char text_[kPinBufferSize] = {};
  size_t length_ = 0;
  bool held_ = false;
};

PinStore store;

}  // namespace

bool put(std::string_view pin) {
  return store.put(pin);
}
bool held() {
  return store.held();
}
void clear() {
  store.clear();
}

PinCopy::PinCopy() : valid_(store.copyTo(text_)) {}
PinCopy::~PinCopy() {
  OPENSSL_cleanse(text_, sizeof text_);
}

}  // namespace varo::provider::pin

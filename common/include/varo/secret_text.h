// Text that must not outlive its use, such as a PIN or a reply that carries
// one: every byte it ever held is wiped when it is replaced or destroyed. It
// cannot be copied, and it never lets its storage be reallocated behind its
// back, so no unwiped copy is left in a freed buffer or in a temporary.
#pragma once

#include <openssl/crypto.h>

#include <string>
#include <string_view>

namespace varo {

class SecretText {
 public:
  // Room for capacity bytes without a reallocation.
  explicit SecretText(size_t capacity = 64) { text_.reserve(capacity); }
  ~SecretText() { wipe(); }
  SecretText(const SecretText&) = delete;
  SecretText& operator=(const SecretText&) = delete;

  // Replaces the text; the old bytes are wiped first, and a larger text
  // gets new storage only after the old one is wiped.
  void assign(std::string_view text) {
    wipe();
    if (text.size() > text_.capacity()) {
      std::string larger;
      larger.reserve(text.size());
      text_.swap(larger);  // the wiped storage goes with `larger`
    }
    text_.assign(text.data(), text.size());
  }
  void wipe() {
    OPENSSL_cleanse(&text_[0], text_.capacity());
    text_.clear();
  }

  std::string_view view() const { return text_; }
  const char* c_str() const { return text_.c_str(); }
  size_t size() const { return text_.size(); }
  bool empty() const { return text_.empty(); }

 private:
  std::string text_;
};

}  // namespace varo

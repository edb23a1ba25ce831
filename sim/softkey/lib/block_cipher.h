// SM4 for the key's symmetric services: the session keys of SKF_SetSymmKey
// (ECB or CBC, with or without PKCS#5 padding, in one call or in pieces) and
// the device authentication, which encrypts a challenge under SM4-ECB.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "varo/skf_types.h"

namespace varo::softkey {

inline constexpr size_t kSm4KeyLen = 16;
inline constexpr size_t kSm4BlockLen = 16;

using Sm4Key = std::array<uint8_t, kSm4KeyLen>;
using Sm4Block = std::array<uint8_t, kSm4BlockLen>;

// SM4-ECB of one block; false when OpenSSL fails.
bool sm4EncryptBlock(const Sm4Key& key, const Sm4Block& in, Sm4Block* out);

// One operation of a session key, from its Init to its last piece. It is a
// value: a caller works on a copy and keeps the copy only once the output
// was delivered, so a size query or a short buffer changes nothing.
class CipherStream {
 public:
  enum class Direction { None, Encrypt, Decrypt };

  CipherStream(const Sm4Key& key, bool cbc) : key_(key), cbc_(cbc) {}
  ~CipherStream();
  CipherStream(const CipherStream&) = default;
  CipherStream& operator=(const CipherStream&) = default;

  // Starts an operation (an earlier one is abandoned). SAR_INVALIDPARAMERR
  // for an unknown padding type or, in CBC mode, an IV that is not one block.
  skf::ULONG start(Direction direction, const skf::BLOCKCIPHERPARAM& param);
  Direction direction() const { return direction_; }

  // The output of the next piece; the bytes of an unfinished block are held
  // back (and, when decrypting with padding, the last whole block).
  skf::ULONG update(const uint8_t* in, size_t len, std::vector<uint8_t>* out);
  // The output that ends the operation: the padded last block, or the last
  // block without its padding. SAR_INDATALENERR when data without padding
  // did not fill whole blocks, SAR_DECRYPTPADERR for bad padding.
  skf::ULONG finish(std::vector<uint8_t>* out);

 private:
  // Runs whole blocks through SM4 and advances the CBC chaining value.
  bool crypt(const uint8_t* in, size_t len, std::vector<uint8_t>* out);

  Sm4Key key_;
  bool cbc_;
  Sm4Block iv_{};
  Direction direction_ = Direction::None;
  bool padding_ = false;
  std::vector<uint8_t> pending_;
};

// A session key handle's state, shared by the copies of its handle entry.
struct SessionKey {
  SessionKey(const Sm4Key& key, bool cbc) : stream(key, cbc) {}
  std::mutex mutex;
  CipherStream stream;
};

}  // namespace varo::softkey

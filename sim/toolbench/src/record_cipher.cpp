#include "record_cipher.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <climits>
#include <cstring>
#include <vector>

#include "varo/openssl_ptr.h"

namespace toolbench {
namespace {

using CipherCtxPtr = varo::OpenSslPtr<EVP_CIPHER_CTX, EVP_CIPHER_CTX_free>;

constexpr size_t kKeySize = 16;

struct RecordKeys {
  uint8_t cipher[kKeySize];
  uint8_t mac[kKeySize];
  ~RecordKeys() { OPENSSL_cleanse(this, sizeof(*this)); }
};

bool deriveKeys(const char* keyText, RecordKeys* keys) {
  if (!keyText) return false;
  uint8_t digest[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  if (!EVP_Digest(keyText, std::strlen(keyText), digest, &n, EVP_sm3(), nullptr) ||
      n != 2 * kKeySize)
    return false;
  std::memcpy(keys->cipher, digest, kKeySize);
  std::memcpy(keys->mac, digest + kKeySize, kKeySize);
  OPENSSL_cleanse(digest, sizeof(digest));
  return true;
}

// SM4-CTR is its own inverse: the same call encrypts and decrypts.
bool applyCtr(const RecordKeys& keys, const uint8_t* nonce, varo::ByteSpan in, uint8_t* out) {
  if (in.size() > static_cast<size_t>(INT_MAX)) return false;
  uint8_t counter[16] = {0};
  std::memcpy(counter, nonce, kNonceSize);
  CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
  int n = 0, tail = 0;
  return ctx && EVP_EncryptInit_ex(ctx.get(), EVP_sm4_ctr(), nullptr, keys.cipher, counter) &&
         EVP_EncryptUpdate(ctx.get(), out, &n, in.data(), static_cast<int>(in.size())) &&
         EVP_EncryptFinal_ex(ctx.get(), out + n, &tail) &&
         static_cast<size_t>(n + tail) == in.size();
}

// The 16-byte tag over nonce || ciphertext.
bool computeTag(const RecordKeys& keys, varo::ByteSpan nonceAndCipher, uint8_t* tag) {
  uint8_t full[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  if (!HMAC(EVP_sm3(), keys.mac, kKeySize, nonceAndCipher.data(), nonceAndCipher.size(), full,
            &n) ||
      n < kTagSize)
    return false;
  std::memcpy(tag, full, kTagSize);
  return true;
}

}  // namespace

size_t sealRecord(varo::ByteSpan plain, const char* keyText, uint8_t* out, size_t capacity) {
  if (!out || plain.size() > SIZE_MAX - kRecordOverhead) return 0;
  const size_t total = plain.size() + kRecordOverhead;
  RecordKeys keys;
  if (capacity < total || !deriveKeys(keyText, &keys)) return 0;
  std::vector<uint8_t> record(total);
  if (RAND_bytes(record.data(), kNonceSize) != 1) return 0;
  if (!applyCtr(keys, record.data(), plain, record.data() + kNonceSize)) return 0;
  const size_t tagged = kNonceSize + plain.size();
  if (!computeTag(keys, varo::ByteSpan(record.data(), tagged), record.data() + tagged)) return 0;
  std::memcpy(out, record.data(), total);
  return total;
}

size_t openRecord(varo::ByteSpan record, const char* keyText, uint8_t* out, size_t capacity) {
  if (!out || record.size() < kRecordOverhead) return 0;
  const size_t plainSize = record.size() - kRecordOverhead;
  RecordKeys keys;
  if (capacity < plainSize || !deriveKeys(keyText, &keys)) return 0;
  const size_t tagged = kNonceSize + plainSize;
  uint8_t tag[kTagSize];
  if (!computeTag(keys, record.prefix(tagged), tag) ||
      CRYPTO_memcmp(tag, record.data() + tagged, kTagSize) != 0)
    return 0;
  std::vector<uint8_t> plain(plainSize);
  if (!applyCtr(keys, record.data(), record.from(kNonceSize).prefix(plainSize), plain.data()))
    return 0;
  if (plainSize) std::memcpy(out, plain.data(), plainSize);
  OPENSSL_cleanse(plain.data(), plain.size());
  return plainSize;
}

}  // namespace toolbench

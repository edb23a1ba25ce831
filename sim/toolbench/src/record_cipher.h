// Authenticated encryption of small records (the seal records of the key
// driver) under a key text.
//
// Record layout: 8-byte random nonce || SM4-CTR ciphertext || 16-byte tag.
// The key text is hashed with SM3; the first 16 bytes of the digest are the
// SM4 key, the last 16 the HMAC-SM3 key. The counter block is the nonce
// followed by eight zero bytes. The tag is HMAC-SM3 over nonce and
// ciphertext, cut to 16 bytes (encrypt-then-MAC).
#pragma once

#include <cstddef>
#include <cstdint>

#include "varo/byte_span.h"

namespace toolbench {

inline constexpr size_t kNonceSize = 8;
inline constexpr size_t kTagSize = 16;
inline constexpr size_t kRecordOverhead = kNonceSize + kTagSize;

// Encrypts plain into out (capacity bytes). Returns the record length, or 0
// when the capacity is below plain + kRecordOverhead or the cipher fails;
// out is written only on success.
size_t sealRecord(varo::ByteSpan plain, const char* keyText, uint8_t* out, size_t capacity);

// Checks the tag of record and decrypts it into out (capacity bytes).
// Returns the plain length, or 0 when the record is shorter than the
// overhead, the tag does not match, the capacity is too small or the cipher
// fails; out is written only on success. An empty plain text also gives 0,
// so callers that need to tell it apart look at the record length.
size_t openRecord(varo::ByteSpan record, const char* keyText, uint8_t* out, size_t capacity);

}  // namespace toolbench

// Owning pointers for the seal records and small helpers over the ASN.1
// string types they hold.
#pragma once

#include <cstdint>
#include <vector>

#include "ses_asn1.h"
#include "varo/byte_span.h"
#include "varo/openssl_ptr.h"

namespace ses {

using SealPtr = varo::OpenSslPtr<MYSESeal, MYSESeal_free>;
using TbsSignPtr = varo::OpenSslPtr<MYTBS_Sign, MYTBS_Sign_free>;
using SignaturePtr = varo::OpenSslPtr<MYSES_Signature, MYSES_Signature_free>;

// The content octets of a string value (empty for null).
inline varo::ByteSpan bytesOf(const ASN1_STRING* s) {
  if (!s) return varo::ByteSpan();
  return varo::ByteSpan::fromInt(ASN1_STRING_get0_data(s), ASN1_STRING_length(s));
}

// The DER of a record through its i2d function; empty when it cannot be
// encoded.
template <class T>
std::vector<uint8_t> encode(const T* value, int (*i2d)(const T*, unsigned char**)) {
  int n = i2d(value, nullptr);
  if (n <= 0) return {};
  std::vector<uint8_t> der(static_cast<size_t>(n));
  unsigned char* p = der.data();
  if (i2d(value, &p) != n) return {};
  return der;
}

// Sets s to exactly the given octets, marked as whole octets (unused-bits
// octet 0) so that the encoder keeps trailing zero octets and never derives
// a count of unused bits from the last octet.
bool setWholeOctets(ASN1_BIT_STRING* s, varo::ByteSpan octets);

}  // namespace ses

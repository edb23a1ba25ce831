// Helpers the trust checks share: certificates with the SM2 identifier set,
// their names, and their times.
#pragma once

#include <openssl/x509.h>

#include <cstdint>
#include <optional>
#include <string>

#include "varo/byte_span.h"
#include "varo/openssl_ptr.h"

namespace varo::trust {

// A DER certificate (exactly one, nothing after it), with the default SM2
// user identifier set: OpenSSL checks an SM2 certificate's signature with
// the identifier set on the certificate. Null when it does not parse.
X509Ptr sm2Certificate(ByteSpan der);

// The subject in RFC 2253 form.
std::string subjectText(X509* cert);

std::optional<int64_t> timeOf(const ASN1_TIME* t);

}  // namespace varo::trust

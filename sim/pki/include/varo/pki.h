// SM2 keys, X.509 certificates and SM2 signatures made with OpenSSL, for the
// stand-ins (software key, seal maker) and the tests. Everything here is
// OpenSSL's own SM2, so it also serves as the independent reference that our
// own verification is checked against.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "varo/byte_span.h"
#include "varo/openssl_ptr.h"

namespace varo::pki {

using Bytes = std::vector<uint8_t>;

// The default SM2 user identifier.
inline constexpr const char* kDefaultSm2Id = "1234567812345678";

// A fresh key pair on the SM2 curve; null on failure.
EvpPkeyPtr generateSm2Key();

// An X.509 v3 certificate for subjectKey, signed with SM2-with-SM3 (default
// identifier) by issuerKey, or self-signed when issuerKey is null. subjectDn
// is "CN=Alice,O=Example,C=CN" style. keyUsage is digitalSignature and
// nonRepudiation (plus keyCertSign and cRLSign, with basicConstraints
// CA:TRUE, when ca is true). Null on failure.
X509Ptr issueCertificate(EVP_PKEY* subjectKey, const std::string& subjectDn,
                         EVP_PKEY* issuerKey = nullptr, X509* issuerCert = nullptr, int days = 3650,
                         long serial = 1, bool ca = false);

// What issueCertificate varies, for certificates that tests and the seal
// maker need beyond the usual: validity from notBefore to notAfter seconds
// from now, and the keyUsage extension's text (empty: the usual one above).
struct CertificateProfile {
  long notBefore = -3600;
  long notAfter = 3650L * 24 * 3600;
  long serial = 1;
  bool ca = false;
  std::string keyUsage;
};
X509Ptr issueCertificate(EVP_PKEY* subjectKey, const std::string& subjectDn, EVP_PKEY* issuerKey,
                         X509* issuerCert, const CertificateProfile& profile);

Bytes toDer(X509* cert);
X509Ptr certificateFromDer(ByteSpan der);

// PKCS#8 DER of the private key, and back.
Bytes privateKeyToDer(EVP_PKEY* key);
EvpPkeyPtr privateKeyFromDer(ByteSpan der);

// The public point as 64 bytes: x then y, each 32 bytes big-endian.
Bytes publicKeyXY(EVP_PKEY* key);

// SM2 signature over a given digest e (no further hashing), as 64 bytes
// r then s, each 32 bytes big-endian. Empty on failure.
Bytes signDigest(EVP_PKEY* key, ByteSpan e);

// SM2 signature of a message with SM3 and the default identifier
// (e = SM3(Z || M)), as 64 bytes r then s. Empty on failure.
Bytes signMessage(EVP_PKEY* key, ByteSpan message);

// The SM3 digest of the bytes (32 bytes); empty on failure.
Bytes sm3(ByteSpan data);

// OpenSSL's SM2 verification of a 64-byte r||s signature.
bool verifyMessage(EVP_PKEY* publicKey, ByteSpan message, ByteSpan rs);
bool verifyMessage(X509* cert, ByteSpan message, ByteSpan rs);
bool verifyDigest(EVP_PKEY* publicKey, ByteSpan e, ByteSpan rs);

// 64-byte r||s from a DER ECDSA-Sig-Value and back; empty on failure.
Bytes rsFromDer(ByteSpan der);
Bytes rsToDer(ByteSpan rs);

}  // namespace varo::pki

#include "varo/pki.h"

#include <openssl/ec.h>
#include <openssl/x509v3.h>

#include <cstring>

namespace varo::pki {

namespace {

using EcdsaSigPtr = OpenSslPtr<ECDSA_SIG, ECDSA_SIG_free>;
using X509NamePtr = OpenSslPtr<X509_NAME, X509_NAME_free>;
using X509ExtensionPtr = OpenSslPtr<X509_EXTENSION, X509_EXTENSION_free>;

// A digest-sign or digest-verify context for SM2 with SM3 and the default id.
EvpMdCtxPtr sm2MdContext(EVP_PKEY* key, bool sign) {
  EvpMdCtxPtr md(EVP_MD_CTX_new());
  if (!md) return nullptr;
  // The key context is made by the init call and owned by the digest
  // context; the identifier is set on it before any data is digested.
  EVP_PKEY_CTX* pctx = nullptr;
  int ok = sign ? EVP_DigestSignInit(md.get(), &pctx, EVP_sm3(), nullptr, key)
                : EVP_DigestVerifyInit(md.get(), &pctx, EVP_sm3(), nullptr, key);
  if (ok != 1 || !pctx ||
      EVP_PKEY_CTX_set1_id(pctx, kDefaultSm2Id, std::strlen(kDefaultSm2Id)) != 1)
    return nullptr;
  return md;
}

X509NamePtr parseName(const std::string& dn) {
  X509NamePtr name(X509_NAME_new());
  if (!name) return nullptr;
  size_t start = 0;
  while (start < dn.size()) {
    size_t comma = dn.find(',', start);
    std::string part =
        dn.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    start = comma == std::string::npos ? dn.size() : comma + 1;
    size_t eq = part.find('=');
    if (eq == std::string::npos || eq == 0) return nullptr;
    std::string key = part.substr(0, eq);
    while (!key.empty() && key.front() == ' ') key.erase(0, 1);
    std::string value = part.substr(eq + 1);
    if (X509_NAME_add_entry_by_txt(name.get(), key.c_str(), MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(value.c_str()), -1, -1,
                                   0) != 1)
      return nullptr;
  }
  return name;
}

bool addExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  X509ExtensionPtr ext(X509V3_EXT_conf_nid(nullptr, &ctx, nid, value));
  return ext && X509_add_ext(cert, ext.get(), -1) == 1;
}

// DER encoding through an i2d function of OpenSSL: length query, then write.
template <class T>
Bytes encodeDer(int (*i2d)(const T*, unsigned char**), const T* object) {
  if (!object) return {};
  int n = i2d(object, nullptr);
  if (n <= 0) return {};
  Bytes out(static_cast<size_t>(n));
  unsigned char* p = out.data();
  if (i2d(object, &p) != n) return {};
  return out;
}

}  // namespace

EvpPkeyPtr generateSm2Key() {
  EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_id(EVP_PKEY_SM2, nullptr));
  EVP_PKEY* key = nullptr;
  if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 || EVP_PKEY_keygen(ctx.get(), &key) != 1)
    return nullptr;
  return EvpPkeyPtr(key);
}

X509Ptr issueCertificate(EVP_PKEY* subjectKey, const std::string& subjectDn, EVP_PKEY* issuerKey,
                         X509* issuerCert, int days, long serial, bool ca) {
  CertificateProfile profile;
  profile.notAfter = long(days) * 24 * 3600;
  profile.serial = serial;
  profile.ca = ca;
  return issueCertificate(subjectKey, subjectDn, issuerKey, issuerCert, profile);
}

X509Ptr issueCertificate(EVP_PKEY* subjectKey, const std::string& subjectDn, EVP_PKEY* issuerKey,
                         X509* issuerCert, const CertificateProfile& profile) {
  if (!subjectKey || (issuerKey && !issuerCert) || (!issuerKey && issuerCert)) return nullptr;
  X509Ptr cert(X509_new());
  X509NamePtr subject = parseName(subjectDn);
  if (!cert || !subject) return nullptr;
  const bool selfSigned = issuerKey == nullptr;
  const bool ca = profile.ca;
  X509* issuer = selfSigned ? cert.get() : issuerCert;
  const std::string keyUsage = !profile.keyUsage.empty() ? profile.keyUsage
                               : ca ? "critical,digitalSignature,nonRepudiation,keyCertSign,cRLSign"
                                    : "critical,digitalSignature,nonRepudiation";
  if (X509_set_version(cert.get(), 2) != 1 ||
      ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), profile.serial) != 1 ||
      X509_set_subject_name(cert.get(), subject.get()) != 1 ||
      X509_set_issuer_name(cert.get(),
                           selfSigned ? subject.get() : X509_get_subject_name(issuerCert)) != 1 ||
      !X509_gmtime_adj(X509_getm_notBefore(cert.get()), profile.notBefore) ||
      !X509_gmtime_adj(X509_getm_notAfter(cert.get()), profile.notAfter) ||
      X509_set_pubkey(cert.get(), subjectKey) != 1)
    return nullptr;
  if (!addExtension(cert.get(), issuer, NID_basic_constraints,
                    ca ? "critical,CA:TRUE" : "CA:FALSE") ||
      !addExtension(cert.get(), issuer, NID_key_usage, keyUsage.c_str()) ||
      !addExtension(cert.get(), issuer, NID_subject_key_identifier, "hash"))
    return nullptr;
  if (!selfSigned && !addExtension(cert.get(), issuer, NID_authority_key_identifier, "keyid"))
    return nullptr;
  EvpMdCtxPtr md = sm2MdContext(selfSigned ? subjectKey : issuerKey, true);
  if (!md || X509_sign_ctx(cert.get(), md.get()) <= 0) return nullptr;
  return cert;
}

Bytes toDer(X509* cert) {
  return encodeDer(i2d_X509, cert);
}

X509Ptr certificateFromDer(ByteSpan der) {
  const unsigned char* p = der.data();
  X509Ptr cert(d2i_X509(nullptr, &p, long(der.size())));
  return cert;
}

Bytes privateKeyToDer(EVP_PKEY* key) {
  return encodeDer(i2d_PrivateKey, key);
}

EvpPkeyPtr privateKeyFromDer(ByteSpan der) {
  const unsigned char* p = der.data();
  EvpPkeyPtr key(d2i_AutoPrivateKey(nullptr, &p, long(der.size())));
  return key;
}

Bytes publicKeyXY(EVP_PKEY* key) {
  if (!key) return {};
  unsigned char point[65];
  size_t n = 0;
  if (EVP_PKEY_get_octet_string_param(key, "encoded-pub-key", point, sizeof point, &n) != 1 ||
      n != 65 || point[0] != 0x04)
    return {};
  return Bytes(point + 1, point + 65);
}

Bytes rsFromDer(ByteSpan der) {
  const unsigned char* p = der.data();
  EcdsaSigPtr sig(d2i_ECDSA_SIG(nullptr, &p, long(der.size())));
  if (!sig) return {};
  const BIGNUM* r = nullptr;
  const BIGNUM* s = nullptr;
  ECDSA_SIG_get0(sig.get(), &r, &s);
  Bytes out(64);
  if (BN_bn2binpad(r, out.data(), 32) != 32 || BN_bn2binpad(s, out.data() + 32, 32) != 32)
    return {};
  return out;
}

Bytes rsToDer(ByteSpan rs) {
  if (rs.size() != 64) return {};
  EcdsaSigPtr sig(ECDSA_SIG_new());
  BIGNUM* r = BN_bin2bn(rs.data(), 32, nullptr);
  BIGNUM* s = BN_bin2bn(rs.data() + 32, 32, nullptr);
  if (!sig || !r || !s || ECDSA_SIG_set0(sig.get(), r, s) != 1) {
    BN_free(r);
    BN_free(s);
    return {};
  }
  return encodeDer(i2d_ECDSA_SIG, sig.get());
}

Bytes signDigest(EVP_PKEY* key, ByteSpan e) {
  EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new(key, nullptr));
  size_t n = 0;
  if (!ctx || EVP_PKEY_sign_init(ctx.get()) != 1 ||
      EVP_PKEY_sign(ctx.get(), nullptr, &n, e.data(), e.size()) != 1)
    return {};
  Bytes der(n);
  if (EVP_PKEY_sign(ctx.get(), der.data(), &n, e.data(), e.size()) != 1) return {};
  der.resize(n);
  return rsFromDer(ByteSpan(der.data(), der.size()));
}

Bytes signMessage(EVP_PKEY* key, ByteSpan message) {
  EvpMdCtxPtr md = sm2MdContext(key, true);
  size_t n = 0;
  if (!md || EVP_DigestSign(md.get(), nullptr, &n, message.data(), message.size()) != 1) return {};
  Bytes der(n);
  if (EVP_DigestSign(md.get(), der.data(), &n, message.data(), message.size()) != 1) return {};
  der.resize(n);
  return rsFromDer(ByteSpan(der.data(), der.size()));
}

Bytes sm3(ByteSpan data) {
  Bytes out(32);
  unsigned int n = 0;
  if (EVP_Digest(data.data(), data.size(), out.data(), &n, EVP_sm3(), nullptr) != 1 || n != 32)
    return {};
  return out;
}

bool verifyMessage(EVP_PKEY* publicKey, ByteSpan message, ByteSpan rs) {
  Bytes der = rsToDer(rs);
  EvpMdCtxPtr md = publicKey ? sm2MdContext(publicKey, false) : nullptr;
  return md && !der.empty() &&
         EVP_DigestVerify(md.get(), der.data(), der.size(), message.data(), message.size()) == 1;
}

bool verifyMessage(X509* cert, ByteSpan message, ByteSpan rs) {
  return cert && verifyMessage(X509_get0_pubkey(cert), message, rs);
}

bool verifyDigest(EVP_PKEY* publicKey, ByteSpan e, ByteSpan rs) {
  Bytes der = rsToDer(rs);
  EvpPkeyCtxPtr ctx(publicKey ? EVP_PKEY_CTX_new(publicKey, nullptr) : nullptr);
  return ctx && !der.empty() && EVP_PKEY_verify_init(ctx.get()) == 1 &&
         EVP_PKEY_verify(ctx.get(), der.data(), der.size(), e.data(), e.size()) == 1;
}

}  // namespace varo::pki

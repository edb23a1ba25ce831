// Cryptographic services: SM2 signing of a digest and random numbers (the
// last random of a device handle is its device authentication challenge).
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstring>

#include "skf_common.h"
#include "varo/openssl_ptr.h"

using namespace varo::softkey;
using skf::HCONTAINER;

namespace {

using EcdsaSigPtr = varo::OpenSslPtr<ECDSA_SIG, ECDSA_SIG_free>;

constexpr ULONG kDigestLen = 32;

// SM2 signature of e (the 32 bytes as given: no identity value or hash is
// applied here), r and s right-aligned in the blob's 64-byte fields.
ULONG signDigest(const std::string& keyDer, const BYTE* e, skf::ECCSIGNATUREBLOB* out) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(keyDer.data());
  varo::EvpPkeyPtr pkey(d2i_AutoPrivateKey(nullptr, &p, long(keyDer.size())));
  if (!pkey) return skf::SAR_KEYNOTFOUNTERR;
  varo::EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new(pkey.get(), nullptr));
  size_t sigLen = 0;
  if (!ctx || EVP_PKEY_sign_init(ctx.get()) != 1 ||
      EVP_PKEY_sign(ctx.get(), nullptr, &sigLen, e, kDigestLen) != 1)
    return skf::SAR_FAIL;
  std::string der(sigLen, '\0');
  unsigned char* sigBytes = reinterpret_cast<unsigned char*>(&der[0]);
  if (EVP_PKEY_sign(ctx.get(), sigBytes, &sigLen, e, kDigestLen) != 1) return skf::SAR_FAIL;
  const unsigned char* q = sigBytes;
  EcdsaSigPtr sig(d2i_ECDSA_SIG(nullptr, &q, long(sigLen)));
  if (!sig) return skf::SAR_FAIL;
  const BIGNUM* r = nullptr;
  const BIGNUM* s = nullptr;
  ECDSA_SIG_get0(sig.get(), &r, &s);
  skf::ECCSIGNATUREBLOB blob;
  std::memset(&blob, 0, sizeof blob);
  if (BN_bn2binpad(r, blob.r + 32, 32) != 32 || BN_bn2binpad(s, blob.s + 32, 32) != 32)
    return skf::SAR_FAIL;
  std::memcpy(out, &blob, sizeof blob);
  return skf::SAR_OK;
}

}  // namespace

SKF_EXPORT ULONG SKF_ECCSignData(HCONTAINER hContainer, BYTE* pbData, ULONG ulDataLen,
                                 skf::ECCSIGNATUREBLOB* pSignature) {
  HandleEntry e;
  if (!lookupHandle(hContainer, HandleKind::Container, &e)) return skf::SAR_INVALIDHANDLEERR;
  if (ULONG f = injectedFault(e.store, "SKF_ECCSignData", {e.device, e.app, e.container})) return f;
  if (!pbData || !pSignature) return skf::SAR_INVALIDPARAMERR;
  if (ulDataLen != kDigestLen) return skf::SAR_INDATALENERR;
  auto login = HandleTable::instance().login(hContainer);
  if (!login || !login->user) return skf::SAR_USER_NOT_LOGGED_IN;
  AppScope scope(e, false);
  if (scope.code() != skf::SAR_OK) return scope.code();
  const ContainerEntry* c = scope.app().findContainer(e.container);
  if (!c) return skf::SAR_FAIL;
  if (c->type == skf::CONTAINER_RSA) return skf::SAR_KEYINFOTYPEERR;
  if (c->type != skf::CONTAINER_ECC || c->signKey.empty()) return skf::SAR_KEYNOTFOUNTERR;
  return signDigest(c->signKey, pbData, pSignature);
}

SKF_EXPORT ULONG SKF_GenRandom(skf::DEVHANDLE hDev, BYTE* pbRandom, ULONG ulRandomLen) {
  HandleEntry e;
  if (!lookupHandle(hDev, HandleKind::Device, &e)) return skf::SAR_INVALIDHANDLEERR;
  if (ULONG f = injectedFault(e.store, "SKF_GenRandom", {e.device})) return f;
  if (!pbRandom && ulRandomLen > 0) return skf::SAR_INVALIDPARAMERR;
  if (ulRandomLen > (1u << 20)) return skf::SAR_INDATALENERR;
  if (ulRandomLen == 0) return skf::SAR_OK;
  if (RAND_bytes(pbRandom, int(ulRandomLen)) != 1) return skf::SAR_GENRANDERR;
  // The device authentication answers the random handed out last.
  e.security->remember(pbRandom, ulRandomLen);
  return skf::SAR_OK;
}

// Device authentication: the client encrypts the random it last took from
// SKF_GenRandom (its first 16 bytes, zero-filled to one block when shorter)
// with the device authentication key under SM4-ECB and hands the cipher
// block to SKF_DevAuth. The authentication belongs to the device handle;
// SKF_ChangeDevAuthKey needs it.
#include <openssl/crypto.h>

#include <cstring>

#include "block_cipher.h"
#include "skf_common.h"

using namespace varo::softkey;

SKF_EXPORT ULONG SKF_DevAuth(skf::DEVHANDLE hDev, BYTE* pbAuthData, ULONG ulLen) {
  HandleEntry e;
  if (!lookupHandle(hDev, HandleKind::Device, &e)) return skf::SAR_INVALIDHANDLEERR;
  if (ULONG f = injectedFault(e.store, "SKF_DevAuth", {e.device})) return f;
  if (!pbAuthData) return skf::SAR_INVALIDPARAMERR;
  DeviceSecurity& security = *e.security;
  std::lock_guard<std::mutex> guard(security.mutex);
  // Every attempt uses the challenge up and drops an earlier authentication.
  const bool open = security.challengeOpen;
  security.challengeOpen = false;
  security.authenticated = false;
  if (ulLen != kSm4BlockLen) return skf::SAR_INDATALENERR;
  if (!open) return skf::SAR_NOTINITIALIZEERR;
  KeySession key(keyDirectory(e.store, e.device), false);
  if (!key.ok()) return keyStatusCode(key.status());
  const std::string& stored = key.data().device.authKey;
  if (stored.size() != kSm4KeyLen) return skf::SAR_FILEERR;
  Sm4Key authKey;
  std::memcpy(authKey.data(), stored.data(), authKey.size());
  Sm4Block expected;
  const bool made = sm4EncryptBlock(authKey, security.challenge, &expected);
  OPENSSL_cleanse(authKey.data(), authKey.size());
  if (!made) return skf::SAR_FAIL;
  if (CRYPTO_memcmp(expected.data(), pbAuthData, kSm4BlockLen) != 0) return skf::SAR_FAIL;
  security.authenticated = true;
  return skf::SAR_OK;
}

SKF_EXPORT ULONG SKF_ChangeDevAuthKey(skf::DEVHANDLE hDev, BYTE* pbKeyValue, ULONG ulKeyLen) {
  HandleEntry e;
  if (!lookupHandle(hDev, HandleKind::Device, &e)) return skf::SAR_INVALIDHANDLEERR;
  if (ULONG f = injectedFault(e.store, "SKF_ChangeDevAuthKey", {e.device})) return f;
  if (!pbKeyValue) return skf::SAR_INVALIDPARAMERR;
  if (ulKeyLen != kSm4KeyLen) return skf::SAR_INDATALENERR;
  {
    std::lock_guard<std::mutex> guard(e.security->mutex);
    if (!e.security->authenticated) return skf::SAR_USER_NOT_LOGGED_IN;
  }
  KeySession key(keyDirectory(e.store, e.device), true);
  if (!key.ok()) return keyStatusCode(key.status());
  key.data().device.authKey.assign(reinterpret_cast<const char*>(pbKeyValue), ulKeyLen);
  return key.save() ? skf::SAR_OK : skf::SAR_WRITEFILEERR;
}

// Session keys: an SM4 key set in plain by the caller (SKF_SetSymmKey), then
// encryption and decryption with it in one call or in pieces, and
// SKF_CloseHandle. A session key belongs to its device handle and ends with it.
#include <openssl/crypto.h>

#include <cstring>

#include "block_cipher.h"
#include "meter.h"
#include "skf_common.h"

using namespace varo::softkey;
using skf::BLOCKCIPHERPARAM;
using skf::HANDLE;
using Direction = CipherStream::Direction;

namespace {

// Data given to one call at most; more is refused, not allocated.
constexpr ULONG kMaxPieceLen = 64u << 20;

enum class Piece { Whole, Update, Final };

ULONG initOperation(HANDLE hKey, const char* function, Direction direction,
                    const BLOCKCIPHERPARAM& param) {
  HandleEntry e;
  if (!lookupHandle(hKey, HandleKind::SessionKey, &e)) return skf::SAR_INVALIDHANDLEERR;
  if (ULONG f = injectedFault(e.store, function, {e.device})) return f;
  if (ULONG rc = attachedCode(e)) return rc;
  std::lock_guard<std::mutex> guard(e.key->mutex);
  return e.key->stream.start(direction, param);
}

// One call of an operation. The piece is computed on a copy of the stream,
// which replaces the stream only when the output reached the caller: a size
// query, a short buffer or a failure leaves the operation as it was. A
// whole-data call and a final piece end the operation.
ULONG runPiece(HANDLE hKey, const char* function, Direction direction, Piece piece, const BYTE* in,
               ULONG inLen, BYTE* out, ULONG* outLen) {
  HandleEntry e;
  if (!lookupHandle(hKey, HandleKind::SessionKey, &e)) return skf::SAR_INVALIDHANDLEERR;
  if (ULONG f = injectedFault(e.store, function, {e.device})) return f;
  if (!outLen || (!in && inLen > 0)) return skf::SAR_INVALIDPARAMERR;
  if (inLen > kMaxPieceLen) return skf::SAR_INDATALENERR;
  if (ULONG rc = attachedCode(e)) return rc;
  std::lock_guard<std::mutex> guard(e.key->mutex);
  if (e.key->stream.direction() != direction) return skf::SAR_NOTINITIALIZEERR;
  CipherStream next = e.key->stream;
  std::vector<uint8_t> result;
  ULONG rc = piece == Piece::Final ? skf::SAR_OK : next.update(in, inLen, &result);
  if (rc == skf::SAR_OK && piece != Piece::Update) rc = next.finish(&result);
  if (rc == skf::SAR_OK) {
    rc = putBytes({reinterpret_cast<const char*>(result.data()), result.size()}, out, outLen);
    if (rc == skf::SAR_OK && out) {
      e.key->stream = next;
      meterBytes(e.store, result.size(), inLen);
    }
  }
  if (!result.empty()) OPENSSL_cleanse(result.data(), result.size());
  return rc;
}

}  // namespace

SKF_EXPORT ULONG SKF_SetSymmKey(skf::DEVHANDLE hDev, BYTE* pbKey, ULONG ulAlgID, HANDLE* phKey) {
  HandleEntry e;
  if (!lookupHandle(hDev, HandleKind::Device, &e)) return skf::SAR_INVALIDHANDLEERR;
  if (ULONG f = injectedFault(e.store, "SKF_SetSymmKey", {e.device})) return f;
  if (!pbKey || !phKey) return skf::SAR_INVALIDPARAMERR;
  if (ulAlgID != skf::SGD_SM4_ECB && ulAlgID != skf::SGD_SM4_CBC) return skf::SAR_NOTSUPPORTYETERR;
  if (ULONG rc = attachedCode(e)) return rc;
  Sm4Key key;
  std::memcpy(key.data(), pbKey, key.size());
  HandleEntry k{HandleKind::SessionKey,
                e.store,
                e.device,
                {},
                {},
                reinterpret_cast<uintptr_t>(hDev),
                nullptr,
                nullptr,
                std::make_shared<SessionKey>(key, ulAlgID == skf::SGD_SM4_CBC)};
  OPENSSL_cleanse(key.data(), key.size());
  *phKey = HandleTable::instance().add(std::move(k));
  return skf::SAR_OK;
}

SKF_EXPORT ULONG SKF_EncryptInit(HANDLE hKey, BLOCKCIPHERPARAM EncryptParam) {
  return initOperation(hKey, "SKF_EncryptInit", Direction::Encrypt, EncryptParam);
}

SKF_EXPORT ULONG SKF_Encrypt(HANDLE hKey, BYTE* pbData, ULONG ulDataLen, BYTE* pbEncryptedData,
                             ULONG* pulEncryptedLen) {
  return runPiece(hKey, "SKF_Encrypt", Direction::Encrypt, Piece::Whole, pbData, ulDataLen,
                  pbEncryptedData, pulEncryptedLen);
}

SKF_EXPORT ULONG SKF_EncryptUpdate(HANDLE hKey, BYTE* pbData, ULONG ulDataLen,
                                   BYTE* pbEncryptedData, ULONG* pulEncryptedLen) {
  return runPiece(hKey, "SKF_EncryptUpdate", Direction::Encrypt, Piece::Update, pbData, ulDataLen,
                  pbEncryptedData, pulEncryptedLen);
}

SKF_EXPORT ULONG SKF_EncryptFinal(HANDLE hKey, BYTE* pbEncryptedData, ULONG* pulEncryptedDataLen) {
  return runPiece(hKey, "SKF_EncryptFinal", Direction::Encrypt, Piece::Final, nullptr, 0,
                  pbEncryptedData, pulEncryptedDataLen);
}

SKF_EXPORT ULONG SKF_DecryptInit(HANDLE hKey, BLOCKCIPHERPARAM DecryptParam) {
  return initOperation(hKey, "SKF_DecryptInit", Direction::Decrypt, DecryptParam);
}

SKF_EXPORT ULONG SKF_Decrypt(HANDLE hKey, BYTE* pbEncryptedData, ULONG ulEncryptedLen, BYTE* pbData,
                             ULONG* pulDataLen) {
  return runPiece(hKey, "SKF_Decrypt", Direction::Decrypt, Piece::Whole, pbEncryptedData,
                  ulEncryptedLen, pbData, pulDataLen);
}

SKF_EXPORT ULONG SKF_DecryptUpdate(HANDLE hKey, BYTE* pbEncryptedData, ULONG ulEncryptedLen,
                                   BYTE* pbData, ULONG* pulDataLen) {
  return runPiece(hKey, "SKF_DecryptUpdate", Direction::Decrypt, Piece::Update, pbEncryptedData,
                  ulEncryptedLen, pbData, pulDataLen);
}

SKF_EXPORT ULONG SKF_DecryptFinal(HANDLE hKey, BYTE* pbDecryptedData, ULONG* pulDecryptedDataLen) {
  return runPiece(hKey, "SKF_DecryptFinal", Direction::Decrypt, Piece::Final, nullptr, 0,
                  pbDecryptedData, pulDecryptedDataLen);
}

SKF_EXPORT ULONG SKF_CloseHandle(HANDLE hHandle) {
  HandleEntry e;
  if (!lookupHandle(hHandle, HandleKind::SessionKey, &e)) return skf::SAR_INVALIDHANDLEERR;
  if (ULONG f = injectedFault(e.store, "SKF_CloseHandle", {e.device})) return f;
  HandleTable::instance().remove(hHandle, HandleKind::SessionKey);
  return skf::SAR_OK;
}

#include "block_cipher.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <cstring>

#include "varo/openssl_ptr.h"

namespace varo::softkey {

namespace {

using CipherCtxPtr = varo::OpenSslPtr<EVP_CIPHER_CTX, EVP_CIPHER_CTX_free>;

// SM4 over whole blocks, padding left to the caller.
bool sm4(bool cbc, bool encrypt, const Sm4Key& key, const Sm4Block& iv, const uint8_t* in,
         size_t len, uint8_t* out) {
  if (len == 0) return true;
  if (len % kSm4BlockLen != 0 || len > size_t(INT32_MAX)) return false;
  CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
  int written = 0;
  return ctx &&
         EVP_CipherInit_ex(ctx.get(), cbc ? EVP_sm4_cbc() : EVP_sm4_ecb(), nullptr, key.data(),
                           cbc ? iv.data() : nullptr, encrypt ? 1 : 0) == 1 &&
         EVP_CIPHER_CTX_set_padding(ctx.get(), 0) == 1 &&
         EVP_CipherUpdate(ctx.get(), out, &written, in, int(len)) == 1 && size_t(written) == len;
}

}  // namespace

bool sm4EncryptBlock(const Sm4Key& key, const Sm4Block& in, Sm4Block* out) {
  return sm4(false, true, key, Sm4Block{}, in.data(), in.size(), out->data());
}

CipherStream::~CipherStream() {
  OPENSSL_cleanse(key_.data(), key_.size());
  if (!pending_.empty()) OPENSSL_cleanse(pending_.data(), pending_.size());
}

skf::ULONG CipherStream::start(Direction direction, const skf::BLOCKCIPHERPARAM& param) {
  if (param.PaddingType != skf::NO_PADDING && param.PaddingType != skf::PKCS5_PADDING)
    return skf::SAR_INVALIDPARAMERR;
  if (cbc_ && param.IVLen != kSm4BlockLen) return skf::SAR_INVALIDPARAMERR;
  iv_ = Sm4Block{};
  if (cbc_) std::memcpy(iv_.data(), param.IV, kSm4BlockLen);
  padding_ = param.PaddingType == skf::PKCS5_PADDING;
  pending_.clear();
  direction_ = direction;
  return skf::SAR_OK;
}

bool CipherStream::crypt(const uint8_t* in, size_t len, std::vector<uint8_t>* out) {
  const bool encrypt = direction_ == Direction::Encrypt;
  const size_t at = out->size();
  out->resize(at + len);
  if (!sm4(cbc_, encrypt, key_, iv_, in, len, out->data() + at)) return false;
  // The next piece chains on the last cipher block.
  if (cbc_ && len > 0)
    std::memcpy(iv_.data(), (encrypt ? out->data() + at : in) + len - kSm4BlockLen, kSm4BlockLen);
  return true;
}

skf::ULONG CipherStream::update(const uint8_t* in, size_t len, std::vector<uint8_t>* out) {
  if (direction_ == Direction::None) return skf::SAR_NOTINITIALIZEERR;
  std::vector<uint8_t> data(pending_);
  if (len) data.insert(data.end(), in, in + len);
  size_t keep = data.size() % kSm4BlockLen;
  // Decrypting with padding: the last block may hold the padding, so it
  // waits for finish().
  if (padding_ && direction_ == Direction::Decrypt && keep == 0 && !data.empty())
    keep = kSm4BlockLen;
  const size_t whole = data.size() - keep;
  if (!crypt(data.data(), whole, out)) return skf::SAR_FAIL;
  pending_.assign(data.begin() + long(whole), data.end());
  OPENSSL_cleanse(data.data(), data.size());
  return skf::SAR_OK;
}

skf::ULONG CipherStream::finish(std::vector<uint8_t>* out) {
  if (direction_ == Direction::None) return skf::SAR_NOTINITIALIZEERR;
  if (!padding_) {
    if (!pending_.empty()) return skf::SAR_INDATALENERR;
  } else if (direction_ == Direction::Encrypt) {
    const uint8_t pad = uint8_t(kSm4BlockLen - pending_.size());
    pending_.resize(kSm4BlockLen, pad);
    if (!crypt(pending_.data(), kSm4BlockLen, out)) return skf::SAR_FAIL;
  } else {
    if (pending_.size() != kSm4BlockLen) return skf::SAR_INDATALENERR;
    std::vector<uint8_t> last;
    if (!crypt(pending_.data(), kSm4BlockLen, &last)) return skf::SAR_FAIL;
    const uint8_t pad = last.back();
    bool good = pad >= 1 && pad <= kSm4BlockLen;
    for (size_t i = kSm4BlockLen - (good ? pad : 0); i < kSm4BlockLen; ++i)
      good = good && last[i] == pad;
    if (!good) return skf::SAR_DECRYPTPADERR;
    out->insert(out->end(), last.begin(), last.end() - pad);
    OPENSSL_cleanse(last.data(), last.size());
  }
  pending_.clear();
  direction_ = Direction::None;
  return skf::SAR_OK;
}

}  // namespace varo::softkey

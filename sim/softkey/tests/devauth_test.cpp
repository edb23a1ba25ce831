// Device authentication and SM4 session keys, used the way an independent
// SKF client uses them before it signs.
#include <openssl/evp.h>

#include <algorithm>
#include <cstring>

#include <QFile>

#include "softkey_fixture.h"

namespace softkey_test {
namespace {

using Bytes = std::vector<unsigned char>;
using skf::SAR_OK;

Bytes bytesOf(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

skf::BLOCKCIPHERPARAM params(ULONG padding, size_t ivLen = 16) {
  skf::BLOCKCIPHERPARAM p{};
  std::memset(p.IV, 0x5A, ivLen);
  p.IVLen = ULONG(ivLen);
  p.PaddingType = padding;
  return p;
}

// OpenSSL's SM4 with its own PKCS#7 padding and chaining: the reference.
Bytes reference(bool cbc, bool padding, const Bytes& key, const Bytes& in) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  Bytes out(in.size() + 16), iv(16, 0x5A);
  int n = 0, m = 0;
  EVP_EncryptInit_ex(ctx, cbc ? EVP_sm4_cbc() : EVP_sm4_ecb(), nullptr, key.data(), iv.data());
  EVP_CIPHER_CTX_set_padding(ctx, padding);
  EVP_EncryptUpdate(ctx, out.data(), &n, in.data(), int(in.size()));
  EVP_EncryptFinal_ex(ctx, out.data() + n, &m);
  EVP_CIPHER_CTX_free(ctx);
  out.resize(size_t(n + m));
  return out;
}

class SessionKeyTest : public SoftKeyTest {
 protected:
  skf::HANDLE setKey(skf::DEVHANDLE dev, Bytes key, ULONG alg = skf::SGD_SM4_ECB) {
    skf::HANDLE h = nullptr;
    EXPECT_EQ(ext_.SetSymmKey(dev, key.data(), alg, &h), SAR_OK);
    return h;
  }
  // One operation: in one call (piece 0), or in pieces and a final call.
  ULONG run(skf::HANDLE h, bool enc, ULONG padding, Bytes in, size_t piece, Bytes* out) {
    if (ULONG rc = (enc ? ext_.EncryptInit : ext_.DecryptInit)(h, params(padding))) return rc;
    out->assign(in.size() + 32, 0);
    ULONG at = 0, room = ULONG(out->size()), rc = SAR_OK;
    if (piece == 0)
      rc = (enc ? ext_.Encrypt : ext_.Decrypt)(h, in.data(), ULONG(in.size()), out->data(), &room);
    for (size_t i = 0; piece && i < in.size() && rc == SAR_OK; i += piece, at += room) {
      room = ULONG(out->size() - at);
      rc = (enc ? ext_.EncryptUpdate : ext_.DecryptUpdate)(
          h, in.data() + i, ULONG(std::min(piece, in.size() - i)), out->data() + at, &room);
    }
    if (piece && rc == SAR_OK) {
      room = ULONG(out->size() - at);
      rc = (enc ? ext_.EncryptFinal : ext_.DecryptFinal)(h, out->data() + at, &room);
    }
    out->resize(at + room);
    return rc;
  }
  // The client's answer to a fresh challenge: 8 random bytes, zero-filled to
  // one block, encrypted with the authentication key under SM4-ECB.
  Bytes authAnswer(skf::DEVHANDLE dev, const std::string& authKey) {
    Bytes block(16, 0), answer;
    EXPECT_EQ(ext_.GenRandom(dev, block.data(), 8), SAR_OK);
    skf::HANDLE h = setKey(dev, bytesOf(authKey));
    EXPECT_EQ(run(h, true, skf::NO_PADDING, block, 0, &answer), SAR_OK);
    EXPECT_EQ(ext_.CloseHandle(h), SAR_OK);
    return answer;
  }
};

TEST_F(SessionKeyTest, SessionKeysEncryptAsSm4AndRefuseBadCalls) {
  makeKey("K1", false);
  skf::DEVHANDLE dev = connect("K1");
  Bytes out, data(70), plain, key = bytesOf("0123456789ABCDEF"), block(16, 0);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7);
  const struct {
    ULONG alg, padding;
    size_t length, piece;
  } cases[] = {{0x401, 0, 64, 0}, {0x401, 1, 70, 0},  {0x402, 0, 64, 0},  {0x402, 1, 70, 0},
               {0x402, 1, 70, 5}, {0x402, 1, 64, 16}, {0x402, 0, 64, 17}, {0x401, 1, 0, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.alg << " pad " << c.padding << " len " << c.length << " piece " << c.piece);
    const Bytes in(data.begin(), data.begin() + long(c.length));
    skf::HANDLE h = setKey(dev, key, c.alg);
    ASSERT_EQ(run(h, true, c.padding, in, c.piece, &out), SAR_OK);
    EXPECT_EQ(out, reference(c.alg == skf::SGD_SM4_CBC, c.padding, key, in));
    ASSERT_EQ(run(h, false, c.padding, out, c.piece, &plain), SAR_OK);
    EXPECT_EQ(plain, in);
  }

  // Bad calls are refused and leave the operation usable.
  out.assign(64, 0);
  skf::HANDLE h = setKey(dev, key), cbc = setKey(dev, key, skf::SGD_SM4_CBC), sm1 = nullptr;
  ULONG len = 64;
  EXPECT_EQ(ext_.SetSymmKey(dev, key.data(), 0x101, &sm1), skf::SAR_NOTSUPPORTYETERR);
  EXPECT_EQ(ext_.Encrypt(h, block.data(), 16, out.data(), &len), skf::SAR_NOTINITIALIZEERR);
  EXPECT_EQ(ext_.EncryptInit(h, params(2)), skf::SAR_INVALIDPARAMERR);
  EXPECT_EQ(ext_.EncryptInit(cbc, params(0, 8)), skf::SAR_INVALIDPARAMERR);
  ASSERT_EQ(ext_.EncryptInit(h, params(skf::NO_PADDING)), SAR_OK);
  EXPECT_EQ(ext_.Encrypt(h, block.data(), 15, out.data(), &len), skf::SAR_INDATALENERR);
  EXPECT_EQ(ext_.Encrypt(h, block.data(), 16, nullptr, &len), SAR_OK);
  EXPECT_EQ(len, 16u);
  EXPECT_EQ(ext_.Encrypt(h, block.data(), 16, out.data(), &(len = 15)), skf::SAR_BUFFER_TOO_SMALL);
  // Neither the size query nor the short buffer ended the operation; this does.
  EXPECT_EQ(ext_.Encrypt(h, block.data(), 16, out.data(), &(len = 64)), SAR_OK);
  EXPECT_EQ(ext_.EncryptUpdate(h, block.data(), 16, out.data(), &len), skf::SAR_NOTINITIALIZEERR);
  ASSERT_EQ(ext_.DecryptInit(h, params(skf::PKCS5_PADDING)), SAR_OK);
  EXPECT_EQ(ext_.Decrypt(h, out.data(), 16, out.data(), &len), skf::SAR_DECRYPTPADERR);
  EXPECT_EQ(ext_.CloseHandle(cbc), SAR_OK);
  EXPECT_EQ(ext_.EncryptInit(cbc, params(0)), skf::SAR_INVALIDHANDLEERR);
  EXPECT_EQ(api_.SKF_DisConnectDev(dev), SAR_OK);  // ends the device's session keys
  EXPECT_EQ(ext_.EncryptInit(h, params(0)), skf::SAR_INVALIDHANDLEERR);
}

TEST_F(SessionKeyTest, ClientAuthenticatesTheDeviceWithItsStoredKey) {
  makeKey("K1", false);
  // A manifest written before keys had an authentication key has the default.
  QFile manifest(QString::fromStdString(store_ + "/K1/key.json"));
  ASSERT_TRUE(manifest.open(QIODevice::ReadWrite));
  QByteArray json = manifest.readAll().replace("\"authKey\"", "\"oldField\"");
  ASSERT_TRUE(manifest.resize(0) && manifest.write(json) == json.size());
  manifest.close();
  skf::DEVHANDLE dev = connect("K1");
  Bytes newKey = bytesOf("abcdefghABCDEFGH");
  EXPECT_EQ(ext_.ChangeDevAuthKey(dev, newKey.data(), 16), skf::SAR_USER_NOT_LOGGED_IN);
  EXPECT_EQ(ext_.DevAuth(dev, authAnswer(dev, "8765432187654321").data(), 16), skf::SAR_FAIL);
  Bytes answer = authAnswer(dev, "1234567812345678");
  EXPECT_EQ(ext_.DevAuth(dev, answer.data(), 16), SAR_OK);
  EXPECT_EQ(ext_.DevAuth(dev, answer.data(), 16), skf::SAR_NOTINITIALIZEERR);  // used up
  ASSERT_EQ(ext_.DevAuth(dev, authAnswer(dev, "1234567812345678").data(), 16), SAR_OK);

  // A changed key is the one the store keeps and the command shows and sets.
  ASSERT_EQ(ext_.ChangeDevAuthKey(dev, newKey.data(), 16), SAR_OK);
  QByteArray shown;
  ASSERT_EQ(runCli(store_, {"auth-key", "K1"}, &shown), 0);
  EXPECT_EQ(shown.toStdString(), "61626364656667684142434445464748 (text \"abcdefghABCDEFGH\")\n");
  skf::DEVHANDLE later = connect("K1");
  EXPECT_EQ(ext_.DevAuth(later, authAnswer(later, "1234567812345678").data(), 16), skf::SAR_FAIL);
  EXPECT_EQ(ext_.DevAuth(later, authAnswer(later, "abcdefghABCDEFGH").data(), 16), SAR_OK);
  ASSERT_EQ(runCli(store_, {"set-auth-key", "K1", "000102030405060708090a0b0c0d0e0f"}), 0);
  const std::string hexKey("\0\1\2\3\4\5\6\7\10\11\12\13\14\15\16\17", 16);
  EXPECT_EQ(ext_.DevAuth(later, authAnswer(later, hexKey).data(), 16), SAR_OK);
}

}  // namespace
}  // namespace softkey_test

// Device authentication and SM4 session keys, used the way an independent
// SKF client uses them before it signs.
#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "softkey_fixture.h"

namespace softkey_test {
namespace {

using Bytes = std::vector<unsigned char>;
using skf::SAR_OK;

Bytes bytesOf(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

skf::BLOCKCIPHERPARAM params(ULONG padding, const Bytes& iv = Bytes(16, 0x5A)) {
  skf::BLOCKCIPHERPARAM p{};
  std::memcpy(p.IV, iv.data(), iv.size());
  p.IVLen = ULONG(iv.size());
  p.PaddingType = padding;
  return p;
}

// OpenSSL's own SM4 with its PKCS#7 padding: the reference for the key's.
Bytes reference(bool cbc, bool padding, const Bytes& key, const Bytes& iv, const Bytes& in) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  Bytes out(in.size() + 16);
  int n = 0, m = 0;
  EVP_EncryptInit_ex(ctx, cbc ? EVP_sm4_cbc() : EVP_sm4_ecb(), nullptr, key.data(), iv.data());
  EVP_CIPHER_CTX_set_padding(ctx, padding ? 1 : 0);
  EVP_EncryptUpdate(ctx, out.data(), &n, in.data(), int(in.size()));
  EVP_EncryptFinal_ex(ctx, out.data() + n, &m);
  EVP_CIPHER_CTX_free(ctx);
  out.resize(size_t(n + m));
  return out;
}

class SessionKeyTest : public SoftKeyTest {
 protected:
  skf::HANDLE setKey(skf::DEVHANDLE dev, const Bytes& key, ULONG alg = skf::SGD_SM4_ECB) {
    skf::HANDLE h = nullptr;
    EXPECT_EQ(ext_.SetSymmKey(dev, const_cast<unsigned char*>(key.data()), alg, &h), SAR_OK);
    return h;
  }
  // One operation: in one call, or in pieces of `piece` bytes and a final call.
  ULONG run(skf::HANDLE h, bool encrypt, const skf::BLOCKCIPHERPARAM& p, Bytes in, size_t piece,
            Bytes* out) {
    ULONG rc = (encrypt ? ext_.EncryptInit : ext_.DecryptInit)(h, p);
    if (rc != SAR_OK) return rc;
    out->assign(in.size() + 32, 0);
    ULONG len = ULONG(out->size());
    if (piece == 0) {
      rc = (encrypt ? ext_.Encrypt : ext_.Decrypt)(h, in.data(), ULONG(in.size()), out->data(),
                                                   &len);
      out->resize(len);
      return rc;
    }
    size_t at = 0;
    for (size_t i = 0; i < in.size(); i += piece) {
      ULONG n = ULONG(std::min(piece, in.size() - i)), room = ULONG(out->size() - at);
      rc = (encrypt ? ext_.EncryptUpdate : ext_.DecryptUpdate)(h, in.data() + i, n,
                                                               out->data() + at, &room);
      if (rc != SAR_OK) return rc;
      at += room;
    }
    ULONG room = ULONG(out->size() - at);
    rc = (encrypt ? ext_.EncryptFinal : ext_.DecryptFinal)(h, out->data() + at, &room);
    out->resize(at + room);
    return rc;
  }
  // The client's answer to a fresh challenge: 8 random bytes, zero-filled to
  // one block, encrypted with the authentication key under SM4-ECB.
  Bytes authAnswer(skf::DEVHANDLE dev, const std::string& authKey) {
    Bytes block(16, 0), answer;
    EXPECT_EQ(ext_.GenRandom(dev, block.data(), 8), SAR_OK);
    skf::HANDLE h = setKey(dev, bytesOf(authKey));
    EXPECT_EQ(run(h, true, params(skf::NO_PADDING), block, 0, &answer), SAR_OK);
    EXPECT_EQ(ext_.CloseHandle(h), SAR_OK);
    return answer;
  }
};

TEST_F(SessionKeyTest, SessionKeysEncryptAsSm4InOneCallOrInPieces) {
  makeKey("K1", false);
  skf::DEVHANDLE dev = connect("K1");
  // The standard's example: key and plain text 0123456789abcdeffedcba9876543210.
  const Bytes vector = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
                        0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10};
  const Bytes expected = {0x68, 0x1e, 0xdf, 0x34, 0xd2, 0x06, 0x96, 0x5e,
                          0x86, 0xb3, 0xe9, 0x4f, 0x53, 0x6e, 0x42, 0x46};
  Bytes out;
  EXPECT_EQ(run(setKey(dev, vector), true, params(skf::NO_PADDING), vector, 0, &out), SAR_OK);
  EXPECT_EQ(out, expected);

  Bytes data(70);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7);
  const Bytes key = bytesOf("0123456789ABCDEF"), iv(16, 0x5A);
  const struct {
    ULONG alg;
    ULONG padding;
    size_t length, piece;
  } cases[] = {
      {skf::SGD_SM4_ECB, skf::NO_PADDING, 64, 0},    {skf::SGD_SM4_ECB, skf::PKCS5_PADDING, 70, 0},
      {skf::SGD_SM4_CBC, skf::NO_PADDING, 64, 0},    {skf::SGD_SM4_CBC, skf::PKCS5_PADDING, 70, 0},
      {skf::SGD_SM4_CBC, skf::PKCS5_PADDING, 70, 5}, {skf::SGD_SM4_CBC, skf::PKCS5_PADDING, 64, 16},
      {skf::SGD_SM4_CBC, skf::NO_PADDING, 64, 17},   {skf::SGD_SM4_ECB, skf::PKCS5_PADDING, 0, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.alg << " padding " << c.padding << " length " << c.length
                                    << " piece " << c.piece);
    const Bytes in(data.begin(), data.begin() + long(c.length));
    skf::HANDLE h = setKey(dev, key, c.alg);
    Bytes cipher, plain;
    ASSERT_EQ(run(h, true, params(c.padding, iv), in, c.piece, &cipher), SAR_OK);
    EXPECT_EQ(cipher, reference(c.alg == skf::SGD_SM4_CBC, c.padding != 0, key, iv, in));
    ASSERT_EQ(run(h, false, params(c.padding, iv), cipher, c.piece, &plain), SAR_OK);
    EXPECT_EQ(plain, in);
    EXPECT_EQ(ext_.CloseHandle(h), SAR_OK);
  }
}

TEST_F(SessionKeyTest, BadCallsAreRefusedAndLeaveTheOperationUsable) {
  makeKey("K1", false);
  skf::DEVHANDLE dev = connect("K1");
  Bytes key = bytesOf("0123456789ABCDEF"), block(16, 0), out(64);
  skf::HANDLE h = setKey(dev, key), gone = setKey(dev, key),
              cbc = setKey(dev, key, skf::SGD_SM4_CBC);
  ULONG len = 0;
  const struct {
    const char* what;
    std::function<ULONG()> call;
    ULONG expected;
  } steps[] = {
      {"SM1 is not offered", [&] { return ext_.SetSymmKey(dev, key.data(), 0x101, &gone); },
       skf::SAR_NOTSUPPORTYETERR},
      {"no operation started", [&] { return ext_.Encrypt(h, block.data(), 16, out.data(), &len); },
       skf::SAR_NOTINITIALIZEERR},
      {"unknown padding", [&] { return ext_.EncryptInit(h, params(2)); }, skf::SAR_INVALIDPARAMERR},
      {"CBC with a short IV", [&] { return ext_.EncryptInit(cbc, params(0, Bytes(8))); },
       skf::SAR_INVALIDPARAMERR},
      {"start", [&] { return ext_.EncryptInit(h, params(skf::NO_PADDING)); }, SAR_OK},
      {"part of a block without padding",
       [&] { return len = 64, ext_.Encrypt(h, block.data(), 15, out.data(), &len); },
       skf::SAR_INDATALENERR},
      {"size query",
       [&] {
         ULONG rc = ext_.Encrypt(h, block.data(), 16, nullptr, &len);
         EXPECT_EQ(len, 16u);
         return rc;
       },
       SAR_OK},
      {"short buffer",
       [&] { return len = 15, ext_.Encrypt(h, block.data(), 16, out.data(), &len); },
       skf::SAR_BUFFER_TOO_SMALL},
      {"the operation is still open",
       [&] { return len = 64, ext_.Encrypt(h, block.data(), 16, out.data(), &len); }, SAR_OK},
      {"a whole-data call ended it",
       [&] { return ext_.EncryptUpdate(h, block.data(), 16, out.data(), &len); },
       skf::SAR_NOTINITIALIZEERR},
      {"a block that is not padded",
       [&] {
         EXPECT_EQ(ext_.DecryptInit(h, params(skf::PKCS5_PADDING)), SAR_OK);
         return len = 64, ext_.Decrypt(h, out.data(), 16, out.data(), &len);
       },
       skf::SAR_DECRYPTPADERR},
      {"closed key", [&] { return ext_.CloseHandle(gone), ext_.EncryptInit(gone, params(0)); },
       skf::SAR_INVALIDHANDLEERR},
      {"a device handle is no session key", [&] { return ext_.CloseHandle(dev); },
       skf::SAR_INVALIDHANDLEERR},
      {"disconnecting ends the device's keys",
       [&] { return api_.SKF_DisConnectDev(dev), ext_.EncryptInit(h, params(0)); },
       skf::SAR_INVALIDHANDLEERR},
  };
  for (const auto& s : steps) EXPECT_EQ(s.call(), s.expected) << s.what;
}

TEST_F(SessionKeyTest, ClientAuthenticatesTheDeviceThenSigns) {
  makeKey("K1");
  skf::DEVHANDLE dev = connect("K1");
  skf::DEVINFO info{};
  ASSERT_EQ(api_.SKF_GetDevInfo(dev, &info), SAR_OK);
  EXPECT_EQ(info.AlgAsymCap & (skf::SGD_SM2_1 | skf::SGD_SM2_3), skf::SGD_SM2_1 | skf::SGD_SM2_3);
  EXPECT_EQ(info.DevAuthAlgId, skf::SGD_SM4_ECB);

  Bytes newKey = bytesOf("abcdefghABCDEFGH"), replayed;
  EXPECT_EQ(ext_.ChangeDevAuthKey(dev, newKey.data(), 16), skf::SAR_USER_NOT_LOGGED_IN);
  const struct {
    const char* what;
    std::function<Bytes()> answer;
    ULONG expected;
  } attempts[] = {
      {"wrong key", [&] { return authAnswer(dev, "8765432187654321"); }, skf::SAR_FAIL},
      {"default key", [&] { return replayed = authAnswer(dev, "1234567812345678"); }, SAR_OK},
      {"an answer used before", [&] { return replayed; }, skf::SAR_NOTINITIALIZEERR},
      {"default key again", [&] { return authAnswer(dev, "1234567812345678"); }, SAR_OK},
  };
  for (const auto& a : attempts) {
    Bytes answer = a.answer();
    EXPECT_EQ(ext_.DevAuth(dev, answer.data(), ULONG(answer.size())), a.expected) << a.what;
  }
  skf::HAPPLICATION app = openApp(dev);
  skf::HCONTAINER con = openContainer(app);
  ASSERT_EQ(verifyUserPin(app, varo::softkey::kDefaultUserPin), SAR_OK);
  unsigned char digest[32] = {1, 2, 3};
  skf::ECCSIGNATUREBLOB sig{};
  EXPECT_EQ(api_.SKF_ECCSignData(con, digest, sizeof digest, &sig), SAR_OK);

  // A changed key is the one the store keeps and the command shows.
  ASSERT_EQ(ext_.ChangeDevAuthKey(dev, newKey.data(), 16), SAR_OK);
  QByteArray shown;
  ASSERT_EQ(runCli(store_, {"auth-key", "K1"}, &shown), 0);
  EXPECT_EQ(shown.toStdString(), "61626364656667684142434445464748 (text \"abcdefghABCDEFGH\")\n");
  skf::DEVHANDLE later = connect("K1");
  Bytes answer = authAnswer(later, "1234567812345678");
  EXPECT_EQ(ext_.DevAuth(later, answer.data(), 16), skf::SAR_FAIL);
  answer = authAnswer(later, "abcdefghABCDEFGH");
  EXPECT_EQ(ext_.DevAuth(later, answer.data(), 16), SAR_OK);
  ASSERT_EQ(runCli(store_, {"set-auth-key", "K1", "000102030405060708090a0b0c0d0e0f"}), 0);
  answer = authAnswer(later, std::string("\0\1\2\3\4\5\6\7\10\11\12\13\14\15\16\17", 16));
  EXPECT_EQ(ext_.DevAuth(later, answer.data(), 16), SAR_OK);
  EXPECT_EQ(runCli(store_, {"set-auth-key", "K1", "too short"}), 2);
}

}  // namespace
}  // namespace softkey_test

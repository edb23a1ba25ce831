#include "varo/pki.h"

#include <gtest/gtest.h>
#include <openssl/x509v3.h>

namespace {

using namespace varo;

ByteSpan span(const pki::Bytes& b) {
  return ByteSpan(b.data(), b.size());
}

TEST(Pki, CertificatesAreSm2SignedV3WithTheExpectedUsage) {
  EvpPkeyPtr caKey = pki::generateSm2Key();
  ASSERT_TRUE(caKey);
  X509Ptr ca =
      pki::issueCertificate(caKey.get(), "CN=Test CA,O=Example", nullptr, nullptr, 365, 1, true);
  ASSERT_TRUE(ca);
  EvpPkeyPtr userKey = pki::generateSm2Key();
  X509Ptr user = pki::issueCertificate(userKey.get(), "CN=Alice,O=Example,C=CN", caKey.get(),
                                       ca.get(), 365, 7);
  ASSERT_TRUE(user);

  EXPECT_EQ(X509_get_version(user.get()), 2);
  EXPECT_EQ(OBJ_obj2nid(X509_get0_tbs_sigalg(user.get())->algorithm), NID_SM2_with_SM3);
  EXPECT_EQ(X509_get_key_usage(user.get()), unsigned(KU_DIGITAL_SIGNATURE | KU_NON_REPUDIATION));
  // OpenSSL's own check accepts what we issue, with the default identifier
  // that SM2 certificate verifiers use.
  for (X509* cert : {user.get(), ca.get()}) {
    ASN1_OCTET_STRING* id = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(id, reinterpret_cast<const unsigned char*>(pki::kDefaultSm2Id), 16);
    X509_set0_distinguishing_id(cert, id);
    EXPECT_EQ(X509_verify(cert, caKey.get()), 1);
  }

  pki::Bytes der = pki::toDer(user.get());
  X509Ptr back = pki::certificateFromDer(span(der));
  ASSERT_TRUE(back);
  EXPECT_EQ(X509_cmp(back.get(), user.get()), 0);
}

TEST(Pki, SignaturesVerifyAndKeysRoundTrip) {
  EvpPkeyPtr key = pki::generateSm2Key();
  ASSERT_TRUE(key);
  const std::string message = "message to sign";
  pki::Bytes rs = pki::signMessage(key.get(), ByteSpan(message));
  ASSERT_EQ(rs.size(), 64u);
  EXPECT_TRUE(pki::verifyMessage(key.get(), ByteSpan(message), span(rs)));
  rs[5] ^= 1;
  EXPECT_FALSE(pki::verifyMessage(key.get(), ByteSpan(message), span(rs)));

  pki::Bytes e(32, 0x5A);
  pki::Bytes rsDigest = pki::signDigest(key.get(), span(e));
  ASSERT_EQ(rsDigest.size(), 64u);
  EXPECT_TRUE(pki::verifyDigest(key.get(), span(e), span(rsDigest)));

  pki::Bytes keyDer = pki::privateKeyToDer(key.get());
  EvpPkeyPtr back = pki::privateKeyFromDer(span(keyDer));
  ASSERT_TRUE(back);
  EXPECT_EQ(pki::publicKeyXY(back.get()), pki::publicKeyXY(key.get()));
  EXPECT_EQ(pki::publicKeyXY(key.get()).size(), 64u);
  EXPECT_TRUE(pki::verifyDigest(back.get(), span(e), span(rsDigest)));
}

}  // namespace

#include "sign_fixture.h"

#include <stdlib.h>

#include "varo/install_root.h"

namespace signe2e {

std::string sealIdWith(const std::string& locator, const std::string& module) {
  return std::string(kSealIdentifier) + "@" + locator + "@" + module;
}

std::string pinReply(const std::string& pin) {
  return "{\"PIN\":\"" + pin + "\"}";
}

void SignFixture::SetUp() {
  ASSERT_TRUE(store_.ok());
  ASSERT_TRUE(store_->createKey("KEY01").ok());
  varo::softkey::CertificateRequest request;
  request.subjectDn = "CN=Key Signer,O=Varo Test";
  ASSERT_TRUE(store_->generateContainer("KEY01", "Seal", request, &keyCert_).ok());

  auto spec = varo::testing::sealSpec(pki_, kSealIdentifier, "Signing Seal");
  spec.signerCerts = {keyCert_};
  picture_ = Bytes{0x89, 'P', 'N', 'G', 1, 2, 3, 0, 4, 5};
  spec.picture = picture_;
  spec.width = kPictureWidth;
  spec.height = kPictureHeight;
  seal_ = varo::testing::makeTestSeal(spec);
  ASSERT_FALSE(seal_.empty());
  ASSERT_TRUE(files_.write(std::string("/tmp/") + kSealIdentifier + ".seal",
                           varo::ByteSpan(seal_.data(), seal_.size())));
  files_.track("/tmp/varo.list");

  digest_.resize(32);
  for (size_t i = 0; i < digest_.size(); ++i) digest_[i] = uint8_t(0xA0 + i);

  service_.on("InputPINDlg", pinReply(kKeyPin));
  service_.on("\"COM\":\"3\"", "{\"ERROR\":\"ERR_NOERR\"}");
  service_.on("\"COM\":\"0\"", "{\"STATE\":\"1\"}");
  service_.on("\"COM\":\"12\"", "{}");
  ASSERT_TRUE(service_.start());
  loadProvider();
}

void SignFixture::TearDown() {
  provider_.reset();
  service_.stop();
}

void SignFixture::loadProvider() {
  provider_.reset();  // unloading wipes the PIN the provider held
  provider_ =
      std::make_unique<varo::LoadedLibrary>(std::string(varo::kInstallRoot) + "/liboesprovider.so");
  ASSERT_TRUE(provider_->isLoaded()) << provider_->errorString();
  sign_ = provider_->resolve<SignFn>("OES_Sign");
  ASSERT_NE(sign_, nullptr);
}

int SignFixture::pinStep(int* length) {
  int n = 0;
  int rc = sign_(nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, &n);
  if (length) *length = n;
  return rc;
}

int SignFixture::signStep(const std::string& sealId, Bytes* signature, int capacity) {
  std::string id = sealId, property = kProperty, method = kMethod, time = kTime;
  Bytes digest = digest_;
  signature->assign(size_t(capacity), 0);
  int length = capacity;
  int rc = sign_(reinterpret_cast<unsigned char*>(id.data()), int(id.size()),
                 reinterpret_cast<unsigned char*>(property.data()), int(property.size()),
                 digest.data(), int(digest.size()), reinterpret_cast<unsigned char*>(method.data()),
                 int(method.size()), reinterpret_cast<unsigned char*>(time.data()),
                 int(time.size()), signature->data(), &length);
  if (rc == 0) signature->resize(size_t(length));
  return rc;
}

int SignFixture::signWithPin(const std::string& sealId, Bytes* signature) {
  int length = 0;
  int rc = pinStep(&length);
  if (rc != 0) return rc;
  return signStep(sealId, signature, length);
}

int SignFixture::verify(const Bytes& seal, const Bytes& digest, Bytes& signature) {
  auto fn = provider_->resolve<VerifyFn>("OES_Verify");
  Bytes s = seal, d = digest;
  return fn(s.data(), int(s.size()), nullptr, 0, d.data(), int(d.size()), nullptr, 0, nullptr, 0,
            signature.data(), int(signature.size()));
}

}  // namespace signe2e

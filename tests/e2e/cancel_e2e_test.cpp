// OES_CancelSeal end to end: a signature made on a software key may be
// removed exactly when an installed driver finds its signer's certificate on
// an attached key. Cases change the installed driver directory; it is put back
// whatever happens.
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <filesystem>
#include <fstream>
#include <optional>

#include "sign_fixture.h"
#include "varo/install_root.h"

namespace signe2e {
namespace {

namespace fs = std::filesystem;
using CancelFn = int (*)(unsigned char*, int);

constexpr const char* kDriverFile = "libVaroDeviceBase_LM_GM3000.so";
constexpr const char* kJunkFile = "old_VaroDeviceBase_x.so";

// The installed driver directory replaced by an empty one (or by none) for
// the scope; the original is moved aside and moved back at the end.
class DriverDirScope {
 public:
  DriverDirScope() {
    if (fs::exists(saved_)) restore();  // left behind by an interrupted run
    std::error_code ec;
    fs::rename(dir_, saved_, ec);
    moved_ = !ec;
  }
  ~DriverDirScope() {
    if (moved_) restore();
  }
  DriverDirScope(const DriverDirScope&) = delete;
  DriverDirScope& operator=(const DriverDirScope&) = delete;

  bool ok() const { return moved_; }
  bool create() { return fs::create_directory(dir_); }
  bool copyDriver() { return fs::copy_file(saved_ / kDriverFile, dir_ / kDriverFile); }
  bool writeJunk() { return bool(std::ofstream(dir_ / kJunkFile) << "not a library\n"); }

 private:
  void restore() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
    fs::rename(saved_, dir_, ec);
  }
  const fs::path dir_ = fs::path(varo::kInstallRoot) / "VaroSupport/uklibrary";
  const fs::path saved_ = fs::path(varo::kInstallRoot) / "VaroSupport/uklibrary.moved-by-test";
  bool moved_ = false;
};

// A signature whose signer certificate is cut to its first bytes: they
// begin the key's certificate, but name no signer.
Bytes signatureWithCutCertificate(const varo::testing::TestPki& pki, const Bytes& cert) {
  varo::LoadedLibrary lib(std::string(varo::kInstallRoot) + "/sealstruct/libSesSealStru.so");
  varo::PluginObject<BasicSealInfo> codec(lib);
  if (!codec) return Bytes();
  auto recipe = varo::testing::sealSpec(pki, "cutCertSeal");
  recipe.signerCerts = {Bytes(cert.begin(), cert.begin() + 16)};
  varo::testing::SignatureInput in;
  in.seal = varo::testing::makeTestSeal(recipe);
  in.digest.assign(32, 7);
  return varo::testing::makeSignature(codec.get(), in, pki.signer.key.get());
}

enum class Keys { Signer, Other, None };
enum class Dir { Installed, Empty, Missing, JunkBesideDriver, JunkOnly };
enum class Input { Signature, CutCertificate, NotSignature, Null, NegativeLength };

class CancelE2E : public SignFixture {
 protected:
  void SetUp() override {
    SignFixture::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(fs::exists(fs::path(varo::kInstallRoot) / "VaroSupport/uklibrary" / kDriverFile));
    ASSERT_EQ(signWithPin(sealIdWith("LM_GM3000&KEY01"), &signature_), 0);
    varo::softkey::CertificateRequest request;
    request.subjectDn = "CN=Someone Else,O=Varo Test";
    ASSERT_TRUE(store_->createKey("KEY02").ok());
    ASSERT_TRUE(store_->generateContainer("KEY02", "Seal", request, nullptr).ok());
    ASSERT_TRUE(store_->detachKey("KEY02").ok());
    cancel_ = provider_->resolve<CancelFn>("OES_CancelSeal");
    ASSERT_NE(cancel_, nullptr);
  }

  // Exactly one key attached (the signer's or another), or none.
  void useKeys(Keys keys) {
    plug("KEY01", keys == Keys::Signer);
    plug("KEY02", keys == Keys::Other);
  }
  void plug(const std::string& device, bool attach) {
    bool& attached = device == "KEY01" ? signerAttached_ : otherAttached_;
    if (attached == attach) return;
    ASSERT_TRUE((attach ? store_->attachKey(device) : store_->detachKey(device)).ok());
    attached = attach;
  }

  Bytes signature_;
  CancelFn cancel_ = nullptr;
  bool signerAttached_ = true, otherAttached_ = false;
};

TEST_F(CancelE2E, TheSignersKeyDecides) {
  struct Case {
    const char* what;
    Keys keys;
    Dir dir;
    Input input;
    int expected;
  } cases[] = {
      {"signer's key attached", Keys::Signer, Dir::Installed, Input::Signature, 0},
      {"another key attached", Keys::Other, Dir::Installed, Input::Signature, 4405},
      {"no key attached", Keys::None, Dir::Installed, Input::Signature, 4405},
      {"empty driver directory", Keys::Signer, Dir::Empty, Input::Signature, 4405},
      {"no driver directory", Keys::Signer, Dir::Missing, Input::Signature, 4402},
      {"non-library beside the driver", Keys::Signer, Dir::JunkBesideDriver, Input::Signature, 0},
      {"non-library alone", Keys::Signer, Dir::JunkOnly, Input::Signature, 4405},
      {"signer certificate cut short", Keys::Signer, Dir::Installed, Input::CutCertificate, 4370},
      {"bytes that are no signature", Keys::Signer, Dir::Installed, Input::NotSignature, 4370},
      {"no signature", Keys::Signer, Dir::Installed, Input::Null, 4370},
      {"negative length", Keys::Signer, Dir::Installed, Input::NegativeLength, 4370},
  };
  const Bytes cutCertificate = signatureWithCutCertificate(pki_, keyCert_);
  ASSERT_FALSE(cutCertificate.empty());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    useKeys(c.keys);
    std::optional<DriverDirScope> scope;
    if (c.dir != Dir::Installed) {
      scope.emplace();
      const bool junk = c.dir == Dir::JunkBesideDriver || c.dir == Dir::JunkOnly;
      ASSERT_TRUE(scope->ok() && (c.dir == Dir::Missing || scope->create()) &&
                  (c.dir != Dir::JunkBesideDriver || scope->copyDriver()) &&
                  (!junk || scope->writeJunk()));
    }
    Bytes input = c.input == Input::CutCertificate ? cutCertificate
                  : c.input == Input::NotSignature ? Bytes{0x30, 0x03, 0x02, 0x01, 0x05}
                                                   : signature_;
    unsigned char* data = c.input == Input::Null ? nullptr : input.data();
    int length = c.input == Input::Null ? 0 : int(input.size());
    if (c.input == Input::NegativeLength) length = -int(input.size());
    EXPECT_EQ(cancel_(data, length), c.expected);
  }
}

TEST_F(CancelE2E, ReaderCommandSaysYesForTheSignersKey) {
  varo::testing::TempDir dir("cancel-e2e");
  ASSERT_TRUE(dir.ok());
  const std::string path = dir.file("signature.der");
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(signature_.data()), std::streamsize(signature_.size()));
  QProcess reader;
  reader.start(QString(varo::kInstallRoot) + "/bin/oes-reader",
               {"--json", "cancel", QString::fromStdString(path)});
  ASSERT_TRUE(reader.waitForFinished(30000));
  EXPECT_EQ(reader.exitCode(), 0);
  const QJsonObject o = QJsonDocument::fromJson(reader.readAllStandardOutput()).object();
  EXPECT_EQ(o["result"].toInt(-1), 0);
  EXPECT_EQ(o["cancellable"].toString(), "yes");
}

}  // namespace
}  // namespace signe2e

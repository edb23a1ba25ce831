// The reader's whole road against the real varo-signd process: listing and
// fetching seals, signing on the software key with the PIN from the
// service's PIN file, verifying online against the service's policy and
// offline once the service is gone. Everything is loaded from the installed
// tree, as the reader and the service load it.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "varo/daemon_process.h"
#include "varo/install_root.h"
#include "varo/loaded_library.h"
#include "varo/port_check.h"
#include "varo/temp_key_store.h"
#include "varo/test_seals.h"
#include "varo/tmp_files.h"

namespace {

using Bytes = std::vector<uint8_t>;
using varo::testing::fileExists;
using varo::testing::readFile;

constexpr const char* kDevice = "LIVEKEY";
constexpr const char* kPin = "12345678";
constexpr const char* kCompany = "liveCompanySeal";
constexpr const char* kPersonal = "livePersonalSeal";

std::string fullSealId(const std::string& identifier) {
  return identifier + "@LM_GM3000&" + kDevice + "@/VaroSupport/TokenSign_LM";
}

unsigned char* bytes(std::string& s) {
  return reinterpret_cast<unsigned char*>(s.data());
}

void writeText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

void writeBytes(const std::string& path, const Bytes& data) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

// How often text occurs in the service log.
size_t countInLog(const std::string& log, const std::string& text) {
  size_t n = 0;
  for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
  return n;
}

using varo::testing::MovedAside;

class LiveService : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok() && store_.ok());
    ASSERT_EQ(::mkdir(dir_.file("seals").c_str(), 0700), 0);
    ASSERT_TRUE(store_->createKey(kDevice).ok());
    varo::softkey::CertificateRequest request;
    request.subjectDn = "CN=Live Signer,O=Varo Test";
    ASSERT_TRUE(store_->generateContainer(kDevice, "Seal", request, &keyCert_).ok());

    for (const char* identifier : {kCompany, kPersonal}) {
      auto spec = varo::testing::sealSpec(pki_, identifier, std::string(identifier) + " name");
      spec.signerCerts = {keyCert_};
      Bytes seal = varo::testing::makeTestSeal(spec);
      ASSERT_FALSE(seal.empty());
      writeBytes(dir_.file("seals/") + identifier + ".der", seal);
      index_ += std::string(identifier) + ".der\t" + fullSealId(identifier) + "\n";
      files_.track("/tmp/" + std::string(identifier) + ".seal");
      files_.track("/tmp/" +
                   varo::testing::pictureDigestText(varo::ByteSpan(seal.data(), seal.size())) +
                   ".pic");
      seals_.push_back(seal);
    }
    writeText(dir_.file("seals/index.txt"), index_);
    files_.track("/tmp/varo.list");
    writeText(pinFile(), std::string(kPin) + "\n");
    writeText(policyFile(), "");
    startService();
    provider_ = std::make_unique<varo::LoadedLibrary>(std::string(varo::kInstallRoot) +
                                                      "/liboesprovider.so");
    ASSERT_TRUE(provider_->isLoaded()) << provider_->errorString();
  }

  void TearDown() override {
    provider_.reset();
    service_.reset();
  }

  void startService() {
    ASSERT_TRUE(varo::testing::servicePortFree());
    service_ = std::make_unique<varo::testing::DaemonProcess>(
        std::string(varo::kInstallRoot) + "/bin/varo-signd",
        std::vector<std::string>{"--seal-dir", dir_.file("seals"), "--port", "9990", "--pin-file",
                                 pinFile(), "--policy", policyFile(), "--log", logFile()});
    ASSERT_TRUE(service_->started()) << "varo-signd did not start on port 9990";
  }

  std::string pinFile() const { return dir_.file("pin.txt"); }
  std::string policyFile() const { return dir_.file("policy.txt"); }
  std::string logFile() const { return dir_.file("signd.log"); }
  // The service log once every earlier request was handled: the service
  // serves one connection at a time, so a reply to a later request means the
  // reports sent before it (which get no reply) are in the log.
  std::string serviceLog() const {
    EXPECT_TRUE(varo::testing::ask(service_->port(), "{\"COM\":\"0\"}").has_value());
    return readFile(logFile());
  }
  const Bytes& company() const { return seals_[0]; }

  template <class Fn>
  Fn fn(const char* name) {
    Fn f = provider_->resolve<Fn>(name);
    EXPECT_NE(f, nullptr) << name;
    return f;
  }

  // OES_GetSealList, measured then copied; the code of the failing call.
  int sealList(std::string* list) {
    auto getList = fn<int (*)(unsigned char*, int*)>("OES_GetSealList");
    int length = 0;
    if (int rc = getList(nullptr, &length)) return rc;
    list->assign(size_t(length), '\0');
    int rc = getList(bytes(*list), &length);
    list->resize(size_t(std::max(length, 0)));
    return rc;
  }

  int getSeal(const std::string& sealId, Bytes* seal) {
    auto getSeal = fn<int (*)(unsigned char*, int, unsigned char*, int*)>("OES_GetSeal");
    std::string id = sealId;
    int length = 0;
    if (int rc = getSeal(bytes(id), int(id.size()), nullptr, &length)) return rc;
    seal->assign(size_t(length), 0);
    return getSeal(bytes(id), int(id.size()), seal->data(), &length);
  }

  // OES_GetSealInfo into roomy buffers: the seal identifier, the seal name
  // and the signer's certificate.
  int sealInfo(const Bytes& seal, std::string* id, std::string* name, Bytes* cert) {
    using InfoFn = int (*)(unsigned char*, int, unsigned char*, int*, unsigned char*, int*,
                           unsigned char*, int*, unsigned char*, int*, unsigned char*, int*,
                           unsigned char*, int*, unsigned char*, int*, unsigned char*, int*,
                           unsigned char*, int*, unsigned char*, int*, unsigned char*, int*);
    constexpr int kRoom = 8192;
    std::vector<Bytes> out(11, Bytes(kRoom, 0));
    std::vector<int> length(11, kRoom);
    Bytes s = seal;
    int rc = fn<InfoFn>("OES_GetSealInfo")(
        s.data(), int(s.size()), out[0].data(), &length[0], out[1].data(), &length[1],
        out[2].data(), &length[2], out[3].data(), &length[3], out[4].data(), &length[4],
        out[5].data(), &length[5], out[6].data(), &length[6], out[7].data(), &length[7],
        out[8].data(), &length[8], out[9].data(), &length[9], out[10].data(), &length[10]);
    if (rc != 0) return rc;
    auto text = [&](int i) { return std::string(out[i].begin(), out[i].begin() + length[i]); };
    *id = text(0);
    *name = text(4);
    *cert = Bytes(out[5].begin(), out[5].begin() + length[5]);
    return 0;
  }

  // Both OES_Sign calls as a reader makes them.
  int sign(const std::string& sealId, Bytes* signature) {
    using SignFn = int (*)(unsigned char*, int, unsigned char*, int, unsigned char*, int,
                           unsigned char*, int, unsigned char*, int, unsigned char*, int*);
    auto signFn = fn<SignFn>("OES_Sign");
    int length = 0;
    if (int rc =
            signFn(nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, &length))
      return rc;
    std::string id = sealId, property = "contract.ofd", method = "1.2.156.10197.1.501",
                time = "261208120000Z";
    Bytes digest = digest_;
    signature->assign(size_t(length), 0);
    int rc = signFn(bytes(id), int(id.size()), bytes(property), int(property.size()), digest.data(),
                    int(digest.size()), bytes(method), int(method.size()), bytes(time),
                    int(time.size()), signature->data(), &length);
    if (rc == 0) signature->resize(size_t(length));
    return rc;
  }

  int verify(const Bytes& seal, const Bytes& digest, const Bytes& signature) {
    using VerifyFn = int (*)(unsigned char*, int, unsigned char*, int, unsigned char*, int,
                             unsigned char*, int, unsigned char*, int, unsigned char*, int);
    Bytes s = seal, d = digest, sig = signature;
    return fn<VerifyFn>("OES_Verify")(s.data(), int(s.size()), nullptr, 0, d.data(), int(d.size()),
                                      nullptr, 0, nullptr, 0, sig.data(), int(sig.size()));
  }

  varo::testing::TempDir dir_{"live-service"};
  varo::testing::TempKeyStore store_{"live-service-keys"};
  std::string index_;
  varo::testing::TestPki pki_;
  std::vector<Bytes> seals_;
  Bytes digest_ = Bytes(32, 0x5A);
  Bytes keyCert_;
  varo::testing::TmpFiles files_;
  std::unique_ptr<varo::testing::DaemonProcess> service_;
  std::unique_ptr<varo::LoadedLibrary> provider_;
};

TEST_F(LiveService, ListsFetchesAndDescribesTheServedSeals) {
  std::string list;
  ASSERT_EQ(sealList(&list), 0);
  EXPECT_NE(list.find(fullSealId(kCompany)), std::string::npos) << list;
  EXPECT_NE(list.find(fullSealId(kPersonal)), std::string::npos) << list;

  // The seal file the service writes is the seal it serves, byte for byte.
  Bytes seal;
  ASSERT_EQ(getSeal(fullSealId(kCompany), &seal), 0);
  EXPECT_EQ(seal, company());
  EXPECT_TRUE(fileExists(std::string("/tmp/") + kCompany + ".seal"));
  std::string id, name;
  Bytes cert;
  ASSERT_EQ(sealInfo(seal, &id, &name, &cert), 0);
  EXPECT_EQ(id, kCompany);
  EXPECT_EQ(name, std::string(kCompany) + " name");
  EXPECT_EQ(cert, keyCert_);

  // The picture file the service wrote through the installed codec carries
  // what the seal maker put into the seal.
  using ImageFn = int (*)(unsigned char*, int, int, unsigned char*, int*, int*, int*);
  auto image = fn<ImageFn>("OES_GetSealImage");
  int length = 0, width = 0, height = 0;
  ASSERT_EQ(image(seal.data(), int(seal.size()), 0, nullptr, &length, &width, &height), 0);
  Bytes picture(size_t(length), 0);
  ASSERT_EQ(image(seal.data(), int(seal.size()), 0, picture.data(), &length, &width, &height), 0);
  EXPECT_EQ(picture, varo::sealmaker::drawSealPicture(std::string(kCompany) + " name"));
  EXPECT_EQ(width, varo::sealmaker::kDefaultPictureSize);
  EXPECT_EQ(height, varo::sealmaker::kDefaultPictureSize);

  // Ids the service does not serve, or that cannot name a file.
  const std::pair<std::string, int> misses[] = {
      {fullSealId("liveUnknownSeal"), 4400},
      {"../etc@x@y", 4371},
  };
  for (const auto& [id, rc] : misses) {
    Bytes none;
    EXPECT_EQ(getSeal(id, &none), rc) << id;
  }
}

TEST_F(LiveService, SignsOnTheKeyReportsOnceAndVerifiesAgainstThePolicy) {
  Bytes signature;
  ASSERT_EQ(sign(fullSealId(kCompany), &signature), 0);
  const std::string log = serviceLog();
  EXPECT_EQ(countInLog(log, "\"COM\":\"4\""), 1u);
  EXPECT_EQ(log.find(kPin), std::string::npos) << "the PIN reached the service log";

  Bytes otherDigest = digest_;
  otherDigest[31] ^= 1;
  EXPECT_EQ(verify(company(), otherDigest, signature), 4386);

  // The seal's standing as the service's policy file tells it.
  struct Case {
    std::string policy;
    int rc;
  };
  const Case cases[] = {
      {"", 0},
      {std::string(kCompany) + "\tERR_OUTTIME\n", 4384},
      {std::string(kCompany) + "\tERR_ISSUER_USER\n", 4387},
      {std::string(kCompany) + "\tERR_ISSUER_MAKER\n", 4419},
      {std::string(kPersonal) + "\tERR_OUTTIME\n", 0},
      {"*\tERR_SOMETHING_NEW\n", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.policy);
    writeText(policyFile(), c.policy);
    EXPECT_EQ(verify(company(), digest_, signature), c.rc);
  }

  // Once the service is gone the check is made offline.
  ASSERT_EQ(service_->stop(SIGTERM), std::optional<int>(0));
  varo::testing::TraceDir trace;
  trace.clear();
  EXPECT_EQ(verify(company(), digest_, signature), 0);
  EXPECT_TRUE(trace.has("INOES_Verify14"));
  std::string list;
  EXPECT_EQ(sealList(&list), 4410);
}

TEST_F(LiveService, PinDialogOutcomesReachTheReader) {
  struct Case {
    const char* what;
    const char* pinFileText;  // null: no PIN file
    int rc;
  };
  const Case cases[] = {
      {"empty line cancels", "\n", 16},
      {"no PIN file cancels", nullptr, 16},
      {"wrong PIN", "87654321\n", 4396},
      {"right PIN after a wrong one", "12345678\n", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.pinFileText)
      writeText(pinFile(), c.pinFileText);
    else
      std::remove(pinFile().c_str());
    Bytes signature;
    EXPECT_EQ(sign(fullSealId(kCompany), &signature), c.rc);
  }
  EXPECT_EQ(countInLog(serviceLog(), "\"COM\":\"4\""), 1u);
}

// The key's vendor library is found at its fixed place in the tree; without
// it signing stops with "a vital file is missing".
TEST_F(LiveService, AMissingKeyLibraryIsReportedAsMissingFile) {
  MovedAside library(varo::kVendorKeyLibraryPath);
  ASSERT_TRUE(library.moved());
  varo::testing::TraceDir trace;
  trace.clear();
  Bytes signature;
  EXPECT_EQ(sign(fullSealId(kCompany), &signature), 4402);
  EXPECT_TRUE(trace.has("INOES_Sign18"));
  EXPECT_EQ(countInLog(serviceLog(), "\"COM\":\"4\""), 0u);
}

// Without the tool library or the codec, describing a seal and verifying
// stop with "a vital file is missing", at the checkpoint of the library
// that failed.
TEST_F(LiveService, AMissingToolLibraryOrCodecIsReportedAsMissingFile) {
  Bytes signature;
  ASSERT_EQ(sign(fullSealId(kCompany), &signature), 0);
  struct Case {
    std::string library;
    std::vector<std::string> written, notWritten;
  };
  const Case cases[] = {
      {varo::kToolLibraryPath,
       {"inGetSealInfo1", "INOES_Verify1"},
       {"inGetSealInfo2", "INOES_Verify2"}},
      {"/sealstruct/libSesSealStru.so",
       {"inGetSealInfo1", "inGetSealInfo2", "INOES_Verify1", "INOES_Verify2"},
       {"inGetSealInfo3", "INOES_Verify3"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.library);
    MovedAside library(c.library);
    ASSERT_TRUE(library.moved());
    varo::testing::TraceDir trace;
    trace.clear();
    std::string id, name;
    Bytes cert;
    EXPECT_EQ(sealInfo(company(), &id, &name, &cert), 4402);
    EXPECT_EQ(verify(company(), digest_, signature), 4402);
    for (const auto& marker : c.written) EXPECT_TRUE(trace.has(marker)) << marker;
    for (const auto& marker : c.notWritten) EXPECT_FALSE(trace.has(marker)) << marker;
  }
  EXPECT_EQ(verify(company(), digest_, signature), 0);  // everything back in place
}

}  // namespace

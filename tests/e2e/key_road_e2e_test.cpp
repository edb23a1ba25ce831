// The road of a signing through real processes: seals on a software key,
// listed and served by varo-signd in its default mode, signed with and
// verified through the installed provider by oes-reader, and every way that
// road can end for the reader.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <QJsonValue>

#include <map>
#include <optional>
#include <string>

#include "key_road_fixture.h"
#include "varo/install_root.h"
#include "varo/loaded_library.h"

namespace {

using namespace keyroad;
using varo::testing::fileExists;

class SigningRoad : public KeyRoad {
 protected:
  void SetUp() override {
    KeyRoad::SetUp();
    if (HasFatalFailure()) return;
    // The key's index holds a seal converted on the key from the old
    // three-file form and a seal written through the driver.
    converted_ = unique("roadOld");
    storeSeal(makeSeal(converted_, "Old Form Seal"), "convert");
    indexed_ = unique("roadSeal");
    storeSeal(makeSeal(indexed_, "Road Seal"), "--store");
    writeFile("contract.txt", "A contract signed on the key.\n");
    writeFile("tampered.txt", "A contract signed on the key!\n");
  }

  ToolRun sign(const std::string& sealId, const std::string& out) const {
    return reader({"--json", "sign", qs(sealId), qs(path("contract.txt")), qs(path(out))});
  }
  ToolRun verify(const std::string& identifier, const std::string& signature,
                 const std::string& document = "contract.txt") const {
    return reader({"--json", "verify", qs(path(identifier + ".der")), qs(path(document)),
                   qs(path(signature))});
  }
  QString listed() const { return reader({"--json", "seals"}).json().value("list").toString(); }
  // fn run as a process whose software key finds no store: without
  // VARO_SOFTKEY_DIR, the store beside the installed library, with no key
  // of this test.
  template <class Fn>
  auto withoutStore(Fn fn) const {
    unsetenv("VARO_SOFTKEY_DIR");
    EXPECT_FALSE(fileExists(varo::softkey::SoftKeyStore::defaultDirectory() + "/" + kDevice));
    auto result = fn();
    setenv("VARO_SOFTKEY_DIR", keys_.directory().c_str(), 1);
    return result;
  }

  std::string converted_, indexed_;
};

TEST_F(SigningRoad, EachOutcomeOfASigningReachesTheReader) {
  enum class Key { Attached, DetachedAfterFetch, DetachedBeforeFetch };
  struct Case {
    const char* what;
    std::string identifier;
    std::string pinLine;
    std::string standing;  // the service's answer about the seal; empty: ERR_NOERR
    Key key;
    int rc;
    uint32_t triesSpent;
  };
  const std::string pin = std::string(kPin) + "\n";
  const Case cases[] = {
      {"seal written through the driver", indexed_, pin, "", Key::Attached, 0, 0},
      {"seal converted from the old form", converted_, pin, "", Key::Attached, 0, 0},
      {"PIN dialog cancelled", indexed_, "\n", "", Key::Attached, 16, 0},
      {"wrong PIN", indexed_, "87654321\n", "", Key::Attached, 4396, 1},
      {"seal outside its time", indexed_, pin, "ERR_OUTTIME", Key::Attached, 4407, 0},
      {"service's server failed", indexed_, pin, "ERR_SERVERERROR", Key::Attached, 4408, 0},
      {"seal not registered", indexed_, pin, "ERR_NOREGIST", Key::Attached, 4411, 0},
      // The reader showed the seal, then the key was pulled: the signing
      // module cannot open the key.
      {"key detached after the seal was fetched", indexed_, pin, "", Key::DetachedAfterFetch, 4396,
       0},
      // Nothing on the attached keys serves the seal any more.
      {"key detached before the seal was fetched", indexed_, pin, "", Key::DetachedBeforeFetch,
       4400, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    writeFile("pin", c.pinLine);
    writeFile("policy", c.standing.empty() ? "" : c.identifier + "\t" + c.standing + "\n");
    ::unlink(("/tmp/" + c.identifier + ".seal").c_str());  // each case fetches the seal afresh
    const std::string id = sealId(c.identifier);
    ASSERT_TRUE(listed().contains(qs(id))) << log();
    const uint32_t tries = triesLeft();
    const size_t reported = reports();
    if (c.key == Key::DetachedAfterFetch) {
      ASSERT_EQ(reader({"seal", qs(id), qs(path("fetched.der"))}).status, 0);
    }
    if (c.key != Key::Attached) {
      ASSERT_TRUE(keys_->detachKey(kDevice).ok());
    }

    const ToolRun signature = sign(id, "contract.sig");
    EXPECT_EQ(signature.status, c.rc == 0 ? 0 : 1) << signature.err.toStdString();
    EXPECT_EQ(signature.result(), c.rc) << signature.out.toStdString() << log();

    if (c.key != Key::Attached) {
      ASSERT_TRUE(keys_->attachKey(kDevice).ok());
    }
    EXPECT_EQ(triesLeft(), tries - c.triesSpent);
    EXPECT_EQ(reports(), reported + (c.rc == 0 ? 1 : 0));
    if (c.rc == 0) {
      EXPECT_EQ(verify(c.identifier, "contract.sig").result(), 0);
      EXPECT_EQ(verify(c.identifier, "contract.sig", "tampered.txt").result(), 4386);
    }
    ASSERT_TRUE(keys_->setPin(kDevice, kPin).ok());  // a full tries counter again
  }
}

// A reader whose software key finds no store meets no key: the signing
// module cannot connect the key named in the seal id (6, not the PIN failure
// 9) and no try is spent; the provider reports it as 4396.
TEST_F(SigningRoad, AReaderWithoutTheKeyStoreFindsNoKeyNotAWrongPin) {
  using SignDataFn = int (*)(char*, char*, unsigned char*, int, unsigned char*, int, unsigned char*,
                             unsigned int*);
  varo::LoadedLibrary module(std::string(varo::kInstallRoot) + "/VaroSupport/libTokenSign_LM.so");
  const auto signData = module.resolve<SignDataFn>("SignData");
  ASSERT_NE(signData, nullptr) << module.errorString();
  std::string cert = varo::testing::readFile(path(std::string(kDevice) + ".cert.der"));
  std::string device = kDevice, pin = kPin;
  unsigned char digest[32] = {7}, value[64] = {};
  unsigned int length = sizeof value;
  const uint32_t tries = triesLeft();
  EXPECT_EQ(withoutStore([&] {
              return signData(device.data(), pin.data(), digest, sizeof digest,
                              reinterpret_cast<unsigned char*>(cert.data()), int(cert.size()),
                              value, &length);
            }),
            6);
  const ToolRun run = withoutStore([&] { return sign(sealId(indexed_), "contract.sig"); });
  EXPECT_EQ(run.result(), 4396);
  EXPECT_TRUE(run.json()["cause"].toString().contains("not a wrong PIN")) << run.out.toStdString();
  EXPECT_EQ(triesLeft(), tries);
}

TEST_F(SigningRoad, WithoutTheServiceListingFailsAndVerifyingIsOffline) {
  ASSERT_EQ(sign(sealId(indexed_), "contract.sig").result(), 0);
  stopService();
  varo::testing::TraceDir trace;
  trace.clear();
  const struct {
    QStringList args;
    int rc;
  } cases[] = {
      {{"--json", "seals"}, 4410},
      {{"--json", "verify", qs(path(indexed_ + ".der")), qs(path("contract.txt")),
        qs(path("contract.sig"))},
       0},
      {{"--json", "sign", qs(sealId(indexed_)), qs(path("contract.txt")), qs(path("again.sig"))},
       4383},  // the PIN dialog cannot be shown
  };
  for (const auto& c : cases) {
    const ToolRun run = reader(c.args);
    EXPECT_EQ(run.result(), c.rc) << c.args.join(' ').toStdString() << run.out.toStdString();
  }
  EXPECT_TRUE(trace.has("INOES_Verify14"));  // the signer's certificate checked offline
}

// A seal list left under /tmp by someone else names a signing module outside
// the installation; a reader that takes a seal id from it gets a refusal,
// and the module is never loaded.
TEST_F(SigningRoad, APlantedSealListLoadsNoModuleOutsideTheInstallation) {
  const std::string canary = VARO_CANARY_MODULE;
  const std::string canaryDir = canary.substr(0, canary.rfind('/'));
  const std::string loaded = path("canary-loaded");
  setenv("VARO_CANARY_FILE", loaded.c_str(), 1);
  const std::string link = std::string(varo::kInstallRoot) + "/VaroSupport/TokenSign_Planted.so";
  files_.track(link);
  ASSERT_EQ(::symlink(canary.c_str(), link.c_str()), 0);

  struct Case {
    const char* what;
    std::string module;
  };
  std::string climb;
  for (int i = 0; i < 16; ++i) climb += "/..";
  const Case cases[] = {
      {"a path that climbs out of the installation", climb + canaryDir + "/TokenSign_Canary"},
      {"a link in the installation to a file outside it", "/VaroSupport/TokenSign_Planted"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string planted = indexed_ + "@LM_GM3000&" + kDevice + "@" + c.module;
    ASSERT_TRUE(files_.write("/tmp/varo.list",
                             "[{\"SEALID\":\"" + planted + "\",\"SEALNAME\":\"Road Seal\"}]"));
    const ToolRun signature = sign(planted, "planted.sig");
    EXPECT_EQ(signature.result(), 4379) << signature.out.toStdString() << log();
    EXPECT_FALSE(fileExists(loaded));
    EXPECT_EQ(reports(), 0u);
    // Listing asks the service, which replaces the planted list.
    const QString list = listed();
    EXPECT_FALSE(list.contains(qs(c.module))) << list.toStdString();
    EXPECT_TRUE(list.contains(qs(sealId(indexed_)))) << list.toStdString();
  }
  // The canary does tell a load.
  EXPECT_TRUE(varo::LoadedLibrary(canary).isLoaded());
  EXPECT_TRUE(fileExists(loaded));
  unsetenv("VARO_CANARY_FILE");
}

// Where a result code alone does not tell the cause, the reader names it: a
// service that does not answer, a key library that does not load, no key
// attached; and it gives the key driver's and GM/T 0016's texts.
using ReaderDiagnostics = KeyRoad;

TEST_F(ReaderDiagnostics, TheReaderNamesWhatTheCodeDoesNotTell) {
  const std::string identifier = unique("diagSeal");
  storeSeal(makeSeal(identifier, "Diagnosed Seal"), "--store");
  writeFile("contract.txt", "A contract.\n");
  ASSERT_EQ(reader({"make-ofd", qs(path("contract.ofd"))}).status, 0);
  enum class Setup { None, ServiceDown, KeyLibraryMissing, KeyDetached };
  struct Case {
    const char* what;
    Setup setup;
    const char* command;  // ID: the seal id; DOC, OFD, SIG, OUT: files
    int status;
    const char* key;       // the answer's field that tells
    const char* contains;  // null: the answer has no such field
  } cases[] = {
      {"signing without the service", Setup::ServiceDown, "sign ID DOC SIG", 1, "cause",
       "the signing service on 127.0.0.1:9990 did not answer"},
      {"sealing an OFD document without the service", Setup::ServiceDown, "sign-ofd OFD ID OUT", 1,
       "cause", "did not answer"},
      {"seals without the key library", Setup::KeyLibraryMissing, "seals", 3, "cause",
       "libk5.1.0.so is missing"},
      {"key seals without the key library", Setup::KeyLibraryMissing, "key-seals", 3, "cause",
       "libk5.1.0.so is missing"},
      {"seals without a key", Setup::KeyDetached, "seals", 0, "cause", "no key is attached"},
      {"key seals without a key", Setup::KeyDetached, "key-seals", 0, "cause",
       "no key is attached"},
      {"seals of the key", Setup::None, "seals", 0, "cause", nullptr},
      {"a driver text", Setup::None, "error --driver 0x1006", 0, "message",
       "请确保只有一个设备与电脑连接"},
      {"a driver code without text", Setup::None, "error --driver 0x1013", 1, "error",
       "no text for 0x1013"},
      {"an SKF code", Setup::None, "error --skf 0x0A000024", 0, "name", "SAR_PIN_INCORRECT"},
      {"no SKF code", Setup::None, "error --skf 0x0A0000FF", 1, "error",
       "0x0A0000FF is no GM/T 0016 result code"},
  };
  const std::map<QString, QString> standIns = {{"ID", qs(sealId(identifier))},
                                               {"DOC", qs(path("contract.txt"))},
                                               {"OFD", qs(path("contract.ofd"))},
                                               {"SIG", qs(path("contract.sig"))},
                                               {"OUT", qs(path("sealed.ofd"))}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // The service keeps the key library loaded once it has listed: it is
    // started afresh without it.
    if (c.setup == Setup::ServiceDown || c.setup == Setup::KeyLibraryMissing) stopService();
    std::optional<varo::testing::MovedAside> library;
    if (c.setup == Setup::KeyLibraryMissing) {
      library.emplace(varo::kVendorKeyLibraryPath);
      ASSERT_TRUE(library->moved());
      startService();
    }
    if (c.setup == Setup::KeyDetached) {
      ASSERT_TRUE(keys_->detachKey(kDevice).ok());
    }

    QStringList args{"--json"};
    for (const QString& word : QString(c.command).split(' '))
      args << (standIns.count(word) ? standIns.at(word) : word);
    const ToolRun run = reader(args);
    EXPECT_EQ(run.status, c.status) << run.out.toStdString() << run.err.toStdString();
    const QJsonValue told = run.json().value(c.key);
    const bool tells =
        c.contains ? told.toString().contains(QString::fromUtf8(c.contains)) : told.isUndefined();
    EXPECT_TRUE(tells) << run.out.toStdString();
    // The provider's code stays as the flow gives it.
    if (c.setup == Setup::ServiceDown) {
      EXPECT_EQ(run.result(), args[1] == "sign" ? 4383 : 3);
    }
    if (c.setup == Setup::KeyDetached) {
      ASSERT_TRUE(keys_->attachKey(kDevice).ok());
    }
    if (c.setup == Setup::KeyLibraryMissing) stopService();
    library.reset();
    if (c.setup == Setup::ServiceDown || c.setup == Setup::KeyLibraryMissing) startService();
  }
  ASSERT_TRUE(keys_->detachKey(kDevice).ok());
  EXPECT_TRUE(reader({"key-seals"}).err.contains("oes-reader: cause: "));
}

}  // namespace

// The seals on a key reach the reader: a seal stored on a software key by
// sealmaker (in the old three-file form, through the driver's WriteSeal, or
// in the old form and then converted on the key by softkey convert) is
// listed by varo-signd in its default mode (offline seal-list plug-in, key
// driver), fetched, signed with and verified through the installed provider
// with oes-reader, as an integrator runs them.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <algorithm>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "varo/daemon_process.h"
#include "varo/install_root.h"
#include "varo/temp_key_store.h"
#include "varo/tmp_files.h"

namespace {

using varo::testing::readFile;

const std::string kBin = std::string(varo::kInstallRoot) + "/bin/";
constexpr const char* kDevice = "KEYSEALS01";

struct ToolRun {
  int status;
  QByteArray out, err;
};

ToolRun run(const std::string& program, const QStringList& args) {
  QProcess p;
  p.start(QString::fromStdString(kBin + program), args);
  EXPECT_TRUE(p.waitForFinished(60000)) << program;
  return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
          p.readAllStandardError()};
}

ToolRun reader(const QStringList& args) {
  return run("oes-reader", args);
}

class KeySeals : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok() && keys_.ok());
    // The system temporary directory of the programs (the plug-ins' client
    // log, the driver's temporary seal copies): the test's own.
    if (const char* old = getenv("TMPDIR")) oldTmpdir_ = old;
    setenv("TMPDIR", dir_.path().c_str(), 1);
    const std::string tag = std::to_string(::getpid());
    identifier_ = "keySeal" + tag;
    sealId_ = identifier_ + "@LM_GM3000&" + kDevice + "@/VaroSupport/TokenSign_LM";
    varo::softkey::KeySetup setup;
    setup.serial = "KEYSEALS" + tag;
    ASSERT_TRUE(keys_->createKey(kDevice, setup).ok());
    varo::softkey::Bytes cert;
    varo::softkey::CertificateRequest request;
    request.subjectDn = "CN=Key Seal Signer,O=Varo Test";
    ASSERT_TRUE(keys_->generateContainer(kDevice, "Seal", request, &cert).ok());
    std::ofstream(path("signer.der"), std::ios::binary)
        .write(reinterpret_cast<const char*>(cert.data()), std::streamsize(cert.size()));

    // What reading the key leaves behind: the service's files under /tmp and
    // the driver's local list and seal copy in the installed seal store.
    const std::string store = std::string(varo::kInstallRoot) + varo::kSealStoreDirectory;
    for (const std::string& file : {std::string("/tmp/varo.list"), "/tmp/" + identifier_ + ".seal",
                                    store + setup.serial + ".list", store + identifier_ + ".dat"})
      files_.track(file);

    const QString maker = QString::fromStdString(path("maker"));
    ASSERT_EQ(run("sealmaker", {"--new-maker", maker}).status, 0);
    const ToolRun made =
        run("sealmaker", {"--name", "Key Seal", "--id", qs(identifier_), "--type", "1", "--vid",
                          "TEST", "--signer-cert", qs(path("signer.der")), "--maker-cert",
                          maker + "/maker.cert.der", "--maker-key", maker + "/maker.key.der", "-o",
                          qs(path("seal.der"))});
    ASSERT_EQ(made.status, 0) << made.err.toStdString();
    storeSeal(GetParam());
    seal_ = readFile(path("seal.der"));
    files_.track("/tmp/" + varo::testing::pictureDigestText(varo::ByteSpan(seal_)) + ".pic");
    std::ofstream(path("pin")) << "12345678\n";

    service_ = std::make_unique<varo::testing::DaemonProcess>(
        kBin + "varo-signd", std::vector<std::string>{"--port", "9990", "--pin-file", path("pin"),
                                                      "--log", path("signd.log")});
    ASSERT_TRUE(service_->started()) << "varo-signd did not start on port 9990";
  }

  void TearDown() override {
    service_.reset();
    oldTmpdir_ ? setenv("TMPDIR", oldTmpdir_->c_str(), 1) : unsetenv("TMPDIR");
  }

  // Puts seal.der on the key: "--store-old", "--store", or "convert" (the
  // old form, then converted on the key by the driver).
  void storeSeal(const std::string& how) {
    const QString option = how == "--store" ? "--store" : "--store-old";
    const ToolRun stored = run("sealmaker", {"--seal", qs(path("seal.der")), option, kDevice,
                                             "--key-store", qs(keys_.directory())});
    ASSERT_EQ(stored.status, 0) << stored.err.toStdString();
    if (how != "convert") return;
    const ToolRun converted = run("softkey", {"--store", qs(keys_.directory()), "convert", kDevice});
    ASSERT_EQ(converted.status, 0) << converted.err.toStdString();
    std::vector<std::string> files;
    ASSERT_TRUE(keys_->listFiles(kDevice, &files).ok());
    EXPECT_EQ(std::count(files.begin(), files.end(), "PIC1"), 0);
    EXPECT_EQ(std::count(files.begin(), files.end(), "SEALINDEX"), 1);
  }

  static QString qs(const std::string& s) { return QString::fromStdString(s); }
  std::string path(const std::string& name) const { return dir_.file(name); }
  std::string log() const { return readFile(path("signd.log")); }

  varo::testing::TempDir dir_{"key-seals"};
  varo::testing::TempKeyStore keys_{"key-seals-keys"};
  varo::testing::TmpFiles files_;
  std::string identifier_, sealId_, seal_;
  std::optional<std::string> oldTmpdir_;
  std::unique_ptr<varo::testing::DaemonProcess> service_;
};

TEST_P(KeySeals, TheKeysSealIsListedFetchedSignedWithAndVerified) {
  const ToolRun listed = reader({"seals"});
  ASSERT_EQ(listed.status, 0) << listed.err.toStdString() << log();
  EXPECT_TRUE(listed.out.contains(("seal 1: " + sealId_ + " (Key Seal)\n").c_str()))
      << listed.out.toStdString();
  EXPECT_TRUE(listed.out.contains("seals: 1\n")) << listed.out.toStdString();

  const ToolRun fetched = reader({"seal", qs(sealId_), qs(path("fetched.der"))});
  ASSERT_EQ(fetched.status, 0) << fetched.err.toStdString() << log();
  EXPECT_EQ(readFile(path("fetched.der")), seal_);

  std::ofstream(path("contract.txt")) << "A contract signed with the seal on the key.\n";
  const ToolRun signed_ =
      reader({"sign", qs(sealId_), qs(path("contract.txt")), qs(path("contract.sig"))});
  ASSERT_EQ(signed_.status, 0) << signed_.err.toStdString() << log();
  const ToolRun verified = reader(
      {"verify", qs(path("fetched.der")), qs(path("contract.txt")), qs(path("contract.sig"))});
  EXPECT_EQ(verified.status, 0) << verified.err.toStdString();

  // The plug-in's own list, without the provider and the service.
  const ToolRun plugin = reader({"--json", "--provider", "/nonexistent.so", "key-seals"});
  ASSERT_EQ(plugin.status, 0) << plugin.err.toStdString();
  const QJsonObject answer = QJsonDocument::fromJson(plugin.out).object();
  EXPECT_EQ(answer["count"].toInt(), 1);
  const QJsonObject expected{{"SEALID", qs(identifier_)},
                             {"SEALNAME", "Key Seal"},
                             {"STANDARD", "1"},
                             {"DLLNAME", "/VaroSupport/TokenSign_LM"},
                             {"DEVICEURL", QString("LM_GM3000&") + kDevice}};
  EXPECT_EQ(answer["seals"].toArray(), QJsonArray{expected}) << plugin.out.toStdString();
}

using KeySealsOldForm = KeySeals;

TEST_P(KeySealsOldForm, AnUnreadableSealIsNotServedAndADetachedKeyListsNothing) {
  ASSERT_EQ(reader({"seals"}).status, 0);  // the driver keeps its copy of the seal now
  const std::string copy =
      std::string(varo::kInstallRoot) + varo::kSealStoreDirectory + identifier_ + ".dat";
  std::string record = readFile(copy);
  ASSERT_FALSE(record.empty());
  record[record.size() / 2] ^= 1;
  std::ofstream(copy, std::ios::binary | std::ios::trunc) << record;
  const ToolRun fetched = reader({"--json", "seal", qs(sealId_), qs(path("fetched.der"))});
  EXPECT_EQ(fetched.status, 1);
  EXPECT_EQ(QJsonDocument::fromJson(fetched.out).object()["result"].toInt(), 4400);
  EXPECT_NE(log().find("cannot be read"), std::string::npos) << log();

  ASSERT_TRUE(keys_->detachKey(kDevice).ok());
  const ToolRun listed = reader({"seals"});
  EXPECT_EQ(listed.status, 0) << listed.err.toStdString() << log();
  EXPECT_TRUE(listed.out.contains("seals: 0\n")) << listed.out.toStdString();
  EXPECT_EQ(readFile("/tmp/varo.list"), "[]");
  EXPECT_TRUE(varo::testing::ask(service_->port(), "{\"COM\":\"0\"}").has_value());
}

INSTANTIATE_TEST_SUITE_P(StoredEachWay, KeySeals,
                         ::testing::Values("--store-old", "--store", "convert"));
INSTANTIATE_TEST_SUITE_P(OldForm, KeySealsOldForm, ::testing::Values("--store-old"));

}  // namespace

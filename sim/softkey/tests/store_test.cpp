// The key's state on disk: seen by other processes and later loads, kept
// whole under concurrent writers, and provisioned through the softkey command.
#include <sys/wait.h>
#include <unistd.h>

#include <QProcess>
#include <QStringList>

#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <fstream>
#include <iterator>

#include "softkey_fixture.h"
#include "varo/openssl_ptr.h"
#include "varo/pki.h"

namespace softkey_test {
namespace {

using skf::SAR_OK;

X509* d2i_X509_bytes(const varo::softkey::Bytes& der) {
  const unsigned char* p = der.data();
  return d2i_X509(nullptr, &p, long(der.size()));
}

int waitChild(pid_t pid) {
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST_F(SoftKeyTest, PinTriesAndFilesAreSharedWithOtherProcessesAndLaterLoads) {
  makeKey("K1", false);
  skf::DEVHANDLE dev = connect("K1");
  skf::HAPPLICATION app = openApp(dev);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Another process with its own handles: two wrong PINs and a new file.
    skf::DEVHANDLE d = nullptr;
    skf::HAPPLICATION a = nullptr;
    bool ok =
        api_.SKF_ConnectDev(const_cast<char*>("K1"), &d) == SAR_OK &&
        api_.SKF_OpenApplication(d, const_cast<char*>("SealApp"), &a) == SAR_OK &&
        verifyUserPin(a, "bad") == skf::SAR_PIN_INCORRECT &&
        verifyUserPin(a, "bad") == skf::SAR_PIN_INCORRECT &&
        api_.SKF_CreateFile(a, const_cast<char*>("FromChild"), 3, 0xFF, 0xFF) == SAR_OK &&
        api_.SKF_WriteFile(a, const_cast<char*>("FromChild"), 0,
                           reinterpret_cast<unsigned char*>(const_cast<char*>("abc")), 3) == SAR_OK;
    ::_exit(ok ? 0 : 1);
  }
  ASSERT_EQ(waitChild(child), 0);
  ULONG max = 0, left = 0;
  skf::BOOL isDefault = 0;
  ASSERT_EQ(ext_.GetPINInfo(app, skf::USER_TYPE, &max, &left, &isDefault), SAR_OK);
  EXPECT_EQ(left, max - 2);
  api_.SKF_DisConnectDev(dev);

  // A fresh load of the library sees the same key.
  lib_.reset();
  lib_ = std::make_unique<varo::LoadedLibrary>(SOFTKEY_LIBRARY);
  ASSERT_TRUE(lib_->isLoaded());
  api_.resolveFrom(*lib_);
  dev = connect("K1");
  app = openApp(dev);
  ULONG retry = 0;
  EXPECT_EQ(verifyUserPin(app, "bad", &retry), skf::SAR_PIN_INCORRECT);
  EXPECT_EQ(retry, max - 3);
  unsigned char buf[8];
  ULONG len = sizeof buf;
  ASSERT_EQ(api_.SKF_ReadFile(app, const_cast<char*>("FromChild"), 0, 8, buf, &len), SAR_OK);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), len), "abc");
  api_.SKF_DisConnectDev(dev);
}

TEST_F(SoftKeyTest, ConcurrentWritersLoseNothing) {
  makeKey("K1", false);
  constexpr int kWriters = 3, kFiles = 15;
  // Besides files of their own, all writers fill their slots of one shared file.
  ASSERT_TRUE(admin().putFile("K1", "SHARED", varo::softkey::Bytes(kWriters * kFiles, '.')));
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      skf::DEVHANDLE d = nullptr;
      skf::HAPPLICATION a = nullptr;
      bool ok = api_.SKF_ConnectDev(const_cast<char*>("K1"), &d) == SAR_OK &&
                api_.SKF_OpenApplication(d, const_cast<char*>("SealApp"), &a) == SAR_OK;
      for (int i = 0; ok && i < kFiles; ++i) {
        std::string name = "W" + std::to_string(w) + "F" + std::to_string(i);
        ok = api_.SKF_CreateFile(a, &name[0], ULONG(name.size()), 0xFF, 0xFF) == SAR_OK &&
             api_.SKF_WriteFile(a, &name[0], 0, reinterpret_cast<unsigned char*>(&name[0]),
                                ULONG(name.size())) == SAR_OK;
        unsigned char mark = static_cast<unsigned char>('A' + w);
        ok = ok && api_.SKF_WriteFile(a, const_cast<char*>("SHARED"), ULONG(w * kFiles + i), &mark,
                                      1) == SAR_OK;
      }
      ::_exit(ok ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) EXPECT_EQ(waitChild(pid), 0);
  std::vector<std::string> names;
  ASSERT_TRUE(admin().listFiles("K1", &names));
  EXPECT_EQ(names.size(), size_t(kWriters * kFiles + 1));
  std::string shared;
  for (int w = 0; w < kWriters; ++w) shared += std::string(kFiles, char('A' + w));
  for (const auto& name : names) {
    if (name == "SHARED") {
      varo::softkey::Bytes data;
      ASSERT_TRUE(admin().getFile("K1", name, &data));
      EXPECT_EQ(std::string(data.begin(), data.end()), shared);
      continue;
    }
    varo::softkey::Bytes data;
    ASSERT_TRUE(admin().getFile("K1", name, &data));
    EXPECT_EQ(std::string(data.begin(), data.end()), name);
  }
}

TEST_F(SoftKeyTest, DamagedManifestIsReportedNotTrusted) {
  makeKey("K1", false);
  skf::DEVHANDLE dev = connect("K1");
  { std::ofstream(store_ + "/K1/key.json") << "{ not json"; }
  skf::DEVINFO info;
  EXPECT_EQ(api_.SKF_GetDevInfo(dev, &info), skf::SAR_FILEERR);
  skf::DEVHANDLE other = nullptr;
  EXPECT_EQ(api_.SKF_ConnectDev(const_cast<char*>("K1"), &other), skf::SAR_FILEERR);
  api_.SKF_DisConnectDev(dev);
}

TEST_F(SoftKeyTest, CommandProvisionsAKeyTheLibraryCanSignWith) {
  const std::string ca = store_ + "/ca";
  const QString caKey = QString::fromStdString(ca + ".key"),
                caCert = QString::fromStdString(ca + ".cer");
  ASSERT_EQ(runCli(store_, {"make-ca", "--key-out", caKey, "--cert-out", caCert}), 0);
  ASSERT_EQ(runCli(store_, {"create", "K1", "--serial", "SN42", "--pin", "246810"}), 0);
  const QString certOut = QString::fromStdString(store_ + "/issued.cer");
  ASSERT_EQ(runCli(store_, {"add-container", "K1", "Sign", "--subject", "CN=Li Lei,O=Varo",
                            "--ca-key", caKey, "--ca-cert", caCert, "--cert-out", certOut}),
            0);
  { std::ofstream(store_ + "/payload.bin") << "payload"; }
  ASSERT_EQ(runCli(store_, {"put", "K1", "DATA", QString::fromStdString(store_ + "/payload.bin")}),
            0);

  struct Usage {
    QStringList args;
    int status;
  } usages[] = {
      {{"create", "K1"}, 1},            // exists
      {{"create", "../x"}, 1},          // not a device name
      {{"get", "K1", "NOPE", "-"}, 1},  // missing file
      {{"bogus"}, 2},
      {{"create"}, 2},
      {{"fault", "add", "SKF_ReadFile", "0"}, 2},
      {{"--help"}, 0},
      {{"set-tries", "K1", "4"}, 0},  // listed below
      {{"set-tries", "K1", "5", "--admin"}, 0},
  };
  for (const auto& u : usages)
    EXPECT_EQ(runCli(store_, u.args), u.status) << u.args.join(" ").toStdString();

  QByteArray listing;
  ASSERT_EQ(runCli(store_, {"list"}, &listing), 0);
  EXPECT_EQ(listing.toStdString(),
            "K1\tSN42\tattached\tSealApp: user PIN 4 of 6 tries left, admin PIN 5 of 6 tries "
            "left\n");

  // The issued certificate chains to the CA and is the one the key exports.
  std::ifstream certIn(certOut.toStdString(), std::ios::binary),
      caIn(caCert.toStdString(), std::ios::binary);
  varo::softkey::Bytes leaf((std::istreambuf_iterator<char>(certIn)), {});
  varo::softkey::Bytes root((std::istreambuf_iterator<char>(caIn)), {});
  varo::X509Ptr leafCert(d2i_X509_bytes(leaf)), rootCert(d2i_X509_bytes(root));
  ASSERT_TRUE(leafCert && rootCert);
  EXPECT_EQ(X509_check_issued(rootCert.get(), leafCert.get()), X509_V_OK);
  // As an independent verifier checks it: a chain to the CA as trust anchor,
  // with the standard SM2 signer identity "1234567812345678".
  ASN1_OCTET_STRING* id = ASN1_OCTET_STRING_new();
  ASSERT_TRUE(id &&
              ASN1_OCTET_STRING_set(
                  id, reinterpret_cast<const unsigned char*>(varo::pki::kDefaultSm2Id), 16) == 1);
  X509_set0_distinguishing_id(leafCert.get(), id);
  X509_STORE* trust = X509_STORE_new();
  X509_STORE_CTX* ctx = X509_STORE_CTX_new();
  ASSERT_TRUE(trust && ctx && X509_STORE_add_cert(trust, rootCert.get()) == 1);
  ASSERT_EQ(X509_STORE_CTX_init(ctx, trust, leafCert.get(), nullptr), 1);
  EXPECT_EQ(X509_verify_cert(ctx), 1)
      << X509_verify_cert_error_string(X509_STORE_CTX_get_error(ctx));
  X509_STORE_CTX_free(ctx);
  X509_STORE_free(trust);

  skf::DEVHANDLE dev = connect("K1");
  skf::HAPPLICATION app = openApp(dev);
  skf::HCONTAINER con = openContainer(app);
  unsigned char der[4096];
  ULONG len = sizeof der;
  ASSERT_EQ(api_.SKF_ExportCertificate(con, 1, der, &len), SAR_OK);
  EXPECT_EQ(varo::softkey::Bytes(der, der + len), leaf);
  EXPECT_EQ(verifyUserPin(app, "246810"), SAR_OK);
  unsigned char e[32] = {9, 8, 7};
  skf::ECCSIGNATUREBLOB sig;
  EXPECT_EQ(api_.SKF_ECCSignData(con, e, 32, &sig), SAR_OK);
  unsigned char data[16];
  len = sizeof data;
  ASSERT_EQ(api_.SKF_ReadFile(app, const_cast<char*>("DATA"), 0, 16, data, &len), SAR_OK);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), len), "payload");

  // A rule added by the command fails the next call in this process.
  ASSERT_EQ(runCli(store_, {"fault", "add", "SKF_ReadFile", "0x0A000007", "--count", "1"}), 0);
  len = sizeof data;
  EXPECT_EQ(api_.SKF_ReadFile(app, const_cast<char*>("DATA"), 0, 16, data, &len),
            skf::SAR_READFILEERR);
  api_.SKF_DisConnectDev(dev);
}

TEST_F(SoftKeyTest, FileCommandsWorkUnderTheirIntegratorAndOlderNames) {
  makeKey("K1", false);
  const QString source = QString::fromStdString(store_ + "/source.bin"),
                copy = QString::fromStdString(store_ + "/copy.bin");
  const QStringList names[] = {{"put-file", "get-file", "list-files"}, {"put", "get", "files"}};
  for (const QStringList& name : names) {
    SCOPED_TRACE(name.join(" ").toStdString());
    { std::ofstream(source.toStdString(), std::ios::trunc) << name[0].toStdString(); }
    ASSERT_EQ(runCli(store_, {name[0], "K1", "F" + name[0], source}), 0);
    ASSERT_EQ(runCli(store_, {name[1], "K1", "F" + name[0], copy}), 0);
    std::ifstream in(copy.toStdString());
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), name[0].toStdString());
    QByteArray listing;
    ASSERT_EQ(runCli(store_, {name[2], "K1"}, &listing), 0);
    EXPECT_TRUE(listing.contains("F" + name[0].toUtf8() + "\n")) << listing.toStdString();
  }
}

}  // namespace
}  // namespace softkey_test

// oes-reader from the installed tree, loading the installed provider.
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "varo/install_root.h"
#include "varo/pki.h"
#include "varo/sealmaker.h"
#include "varo/temp_key_store.h"

namespace {

struct ReaderRun {
  int status;
  QByteArray out, err;
  QJsonObject json() const { return QJsonDocument::fromJson(out).object(); }
};

ReaderRun reader(const QStringList& args) {
  QProcess p;
  p.start(QString(varo::kInstallRoot) + "/bin/oes-reader", args);
  EXPECT_TRUE(p.waitForFinished(30000));
  return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
          p.readAllStandardError()};
}

QString writeFile(const QTemporaryDir& dir, const char* name, const QByteArray& content) {
  QString path = dir.filePath(name);
  QFile f(path);
  EXPECT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(content);
  return path;
}

TEST(OesReader, InfoInBothForms) {
  ReaderRun readable = reader({"info"});
  EXPECT_EQ(readable.status, 0) << readable.err.toStdString();
  EXPECT_TRUE(readable.out.contains("name: DOVEL_SM\n"));
  EXPECT_TRUE(readable.out.contains("extend: DOVEL.2018.12.1\n"));

  ReaderRun json = reader({"--json", "info"});
  ASSERT_EQ(json.status, 0);
  QJsonObject o = json.json();
  EXPECT_EQ(o["command"].toString(), "info");
  EXPECT_EQ(o["result"].toInt(-1), 0);
  EXPECT_EQ(o["name"].toString(), "DOVEL_SM");
  EXPECT_EQ(o["company"].toString(), "DOVELSEALCO");
  EXPECT_EQ(o["version"].toString(), "V 1.0");
  EXPECT_EQ(o["extend"].toString(), "DOVEL.2018.12.1");
}

TEST(OesReader, DigestOfFiles) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  struct Case {
    const char* name;
    QByteArray content;
    const char* digest;
  } cases[] = {
      {"abc.txt", "abc", "66c7f0f462eeedd9d1f2d46bdc10e4e24167c4875cf2f7a2297da02b8f4ba8e0"},
      {"empty.txt", "", "1ab21d8355cfa17f8e61194831e81a8f22bec8c728fefb747ed035eb5082aa2b"},
  };
  for (const auto& c : cases) {
    ReaderRun run = reader({"--json", "digest", writeFile(dir, c.name, c.content)});
    ASSERT_EQ(run.status, 0) << c.name << run.out.toStdString();
    QJsonObject o = run.json();
    EXPECT_EQ(o["digest"].toString(), c.digest) << c.name;
    EXPECT_EQ(o["method"].toString(), "1.2.156.10197.1.401");
    EXPECT_EQ(o["bytes"].toInt(-1), c.content.size());
  }
}

TEST(OesReader, ErrorTexts) {
  struct Case {
    const char* code;
    const char* message;
  } cases[] = {{"4371", "错误的参数"},
               {"0x1113", "错误的参数"},
               {"16", "操作取消"},
               {"99999", "未知的错误类型"},
               {"18446744073709551615", "未知的错误类型"}};
  for (const auto& c : cases) {
    ReaderRun run = reader({"--json", "error", c.code});
    ASSERT_EQ(run.status, 0) << c.code;
    EXPECT_EQ(run.json()["message"].toString(), QString::fromUtf8(c.message)) << c.code;
  }
  ReaderRun readable = reader({"error", "4371"});
  EXPECT_TRUE(readable.out.contains(QByteArray("message: ") + "错误的参数"));
}

TEST(OesReader, FailuresExitNonZeroWithAReason) {
  struct Case {
    QStringList args;
    int status;
  } cases[] = {
      {{}, 2},
      {{"bogus"}, 2},
      {{"--frobnicate", "info"}, 2},
      {{"info", "extra"}, 2},
      {{"digest"}, 2},
      {{"digest", "/nonexistent/file"}, 2},
      {{"error"}, 2},
      {{"error", "abc"}, 2},
      {{"error", "-1"}, 2},
      {{"error", "12x"}, 2},
      {{"--provider", "/nonexistent/liboesprovider.so", "info"}, 3},
  };
  for (const auto& c : cases) {
    ReaderRun run = reader(c.args);
    EXPECT_EQ(run.status, c.status) << c.args.join(' ').toStdString();
    EXPECT_FALSE(run.err.isEmpty()) << c.args.join(' ').toStdString();
  }
  ReaderRun json = reader({"--json", "--provider", "/nonexistent/liboesprovider.so", "info"});
  EXPECT_EQ(json.status, 3);
  EXPECT_TRUE(json.json()["error"].toString().contains("cannot load"));
}

// key-info needs no provider: the installed plug-in reads the software key
// of a temporary store.
TEST(OesReader, KeyInfoShowsTheKeysSerialAndSubject) {
  varo::testing::TempKeyStore store("reader-keys");
  ASSERT_TRUE(store.ok());
  varo::softkey::KeySetup setup;
  setup.serial = "READER0001";
  ASSERT_TRUE(store->createKey("KEY01", setup).ok());
  varo::softkey::CertificateRequest request;
  request.subjectDn = "CN=Reader Key,O=Varo";
  ASSERT_TRUE(store->generateContainer("KEY01", "SM2", request).ok());

  ReaderRun run = reader({"--provider", "/nonexistent/liboesprovider.so", "key-info"});
  EXPECT_EQ(run.status, 0) << run.err.toStdString();
  EXPECT_TRUE(run.out.contains("key id: READER0001\n")) << run.out.toStdString();
  EXPECT_TRUE(run.out.contains("CN=Reader Key")) << run.out.toStdString();

  ReaderRun refused = reader({"--json", "key-info", "LM_GM3000", "3"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.json()["error"].toString(), QString::fromUtf8("ERROR:错误的印章标准"));
}

// verify --strict through the installed provider: OES_Verify accepts a
// signature by someone outside the seal's holders, the holder check does not.
TEST(OesReader, StrictVerifyReportsEveryCheck) {
  namespace pki = varo::pki;
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  pki::CertificateProfile ca;
  ca.ca = true;
  varo::EvpPkeyPtr caKey = pki::generateSm2Key(), holderKey = pki::generateSm2Key(),
                   outsiderKey = pki::generateSm2Key();
  varo::X509Ptr caCert = pki::issueCertificate(caKey.get(), "CN=Reader CA", nullptr, nullptr, ca);
  auto issued = [&](EVP_PKEY* key, const char* dn) {
    return pki::toDer(
        pki::issueCertificate(key, dn, caKey.get(), caCert.get(), pki::CertificateProfile{}).get());
  };
  varo::sealmaker::SealSpec spec;
  spec.name = spec.esID = spec.vid = "strict";
  spec.signerCerts = {issued(holderKey.get(), "CN=Holder")};
  spec.makerCert = issued(caKey.get(), "CN=Maker");  // the CA's key makes seals too
  spec.makerKey = caKey.get();
  const pki::Bytes seal = varo::sealmaker::makeSeal(spec), document = {'d', 'o', 'c'};
  // The outsider's value signs the content as OES_Verify rebuilds it (with
  // the holder's certificate), so OES_Verify accepts it.
  auto signature = [&](EVP_PKEY* key, const pki::Bytes& cert) {
    return varo::sealmaker::makeSignature({seal, pki::sm3(varo::ByteSpan(document.data(), 3)),
                                           "property", "", cert, key, spec.signerCerts[0]});
  };
  auto file = [&](const char* name, const pki::Bytes& b) {
    return writeFile(dir, name, QByteArray(reinterpret_cast<const char*>(b.data()), int(b.size())));
  };
  const QString sealFile = file("seal.der", seal), docFile = file("doc.txt", document),
                caFile = file("ca.der", pki::toDer(caCert.get()));
  const QString good = file("good.sig", signature(holderKey.get(), spec.signerCerts[0])),
                outsider =
                    file("outsider.sig",
                         signature(outsiderKey.get(), issued(outsiderKey.get(), "CN=Outsider")));
  struct Case {
    QStringList args;
    int status;
    const char* check;  // the check that does not hold, with its verdict
    const char* verdict;
  } cases[] = {
      {{good, "--strict", "--trust", caFile}, 0, "", ""},
      {{good, "--strict", "--trust", dir.path(), "--at", "2030-01-01T00:00:00Z"}, 0, "", ""},
      {{outsider, "--strict", "--trust", caFile}, 4, "holder", "failed"},
      {{good, "--strict"}, 4, "chain", "undecided"},
      {{good, "--trust", caFile}, 2, "", ""},
      {{good, "--strict", "--at", "tomorrow"}, 2, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.join(' ').toStdString());
    ReaderRun run = reader(QStringList{"--json", "verify", sealFile, docFile} + c.args);
    EXPECT_EQ(run.status, c.status) << run.out.toStdString() << run.err.toStdString();
    if (c.status == 2) continue;
    EXPECT_EQ(run.json()["result"].toInt(-1), 0);  // OES_Verify accepts them all
    const QJsonObject checks = run.json()["checks"].toObject();
    EXPECT_EQ(checks.size(), 6);
    for (const QString& name : checks.keys())
      EXPECT_EQ(checks[name].toObject()["verdict"].toString(), name == c.check ? c.verdict : "held")
          << name.toStdString() << ": "
          << checks[name].toObject()["reason"].toString().toStdString();
  }
}

}  // namespace

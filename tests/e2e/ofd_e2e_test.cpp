// OFD documents sealed and checked through real processes: seals on a
// software key served by varo-signd, oes-reader's sign-ofd and verify-ofd
// through the installed provider; a document sealed twice, every way of
// tampering with it named, and a document laid out by another writer.
#include <QJsonArray>

#include "key_road_fixture.h"
#include "varo/ofd_document.h"

namespace {

using namespace keyroad;
namespace ofd = varo::ofd;

class OfdRoad : public KeyRoad {
 protected:
  void SetUp() override {
    KeyRoad::SetUp();
    if (HasFatalFailure()) return;
    company_ = unique("ofdCompany");
    personal_ = unique("ofdPersonal");
    storeSeal(makeSeal(company_, "Company Seal"), "--store");
    storeSeal(makeSeal(personal_, "Personal Seal"), "--store");
  }

  ToolRun signOfd(const std::string& in, const std::string& identifier, const std::string& out,
                  QStringList options = {}) const {
    return reader(
        QStringList{"--json", "sign-ofd", qs(path(in)), qs(sealId(identifier)), qs(path(out))} +
        options);
  }
  ToolRun verifyOfd(const std::string& file) const {
    return reader({"--json", "verify-ofd", qs(path(file))});
  }
  // Every problem verify-ofd names, one per line.
  static std::string problems(const ToolRun& run) {
    std::string all;
    for (const QJsonValue& s : run.json().value("signatures").toArray())
      for (const QJsonValue& p : s.toObject().value("problems").toArray())
        all += p.toString().toStdString() + "\n";
    return all + run.json().value("error").toString().toStdString();
  }
  // A copy of the package with these entries changed (an empty value
  // removes nothing; every entry stays).
  void copyWith(const std::string& in, const std::string& out,
                const std::map<std::string, QByteArray>& changes) const {
    std::string why;
    auto package = ofd::Package::open(path(in), &why);
    ASSERT_TRUE(package && package->writeWith(path(out), changes, &why)) << why;
  }
  // The exit status of the independent check (Python's zipfile and
  // ElementTree, hashlib's SM3, openssl's SM2), with its report.
  int independentCheck(const std::string& file, std::string* report) const {
    QProcess check;
    check.start(
        QStringLiteral("python3"),
        {QStringLiteral(VARO_TEST_SOURCE_DIR "/sim/ofd/check/ofd_check.py"), qs(path(file))});
    if (!check.waitForFinished(kToolTimeoutMs)) return -1;
    *report = (check.readAllStandardOutput() + check.readAllStandardError()).toStdString();
    return check.exitStatus() == QProcess::NormalExit ? check.exitCode() : -1;
  }
  QByteArray entry(const std::string& file, const std::string& name) const {
    std::string why;
    return ofd::Package::open(path(file), &why)->read(name, &why).value_or(QByteArray());
  }

  std::string company_, personal_;
};

TEST_F(OfdRoad, TwoSealsOnAThirtyPageDocumentAndEveryTamperingNamed) {
  ASSERT_EQ(reader({"make-ofd", qs(path("doc.ofd")), "--pages", "30"}).status, 0);
  const ToolRun first = signOfd("doc.ofd", company_, "one.ofd");
  ASSERT_EQ(first.status, 0) << first.out.toStdString() << log();
  EXPECT_EQ(verifyOfd("one.ofd").status, 0) << problems(verifyOfd("one.ofd"));
  ASSERT_EQ(signOfd("one.ofd", personal_, "two.ofd", {"--page", "30"}).status, 0) << log();
  const ToolRun whole = verifyOfd("two.ofd");
  ASSERT_EQ(whole.status, 0) << problems(whole);
  EXPECT_EQ(whole.json().value("signatures").toArray().size(), 2);
  EXPECT_TRUE(whole.json().value("unprotected").toArray().isEmpty());
  // The trust checks for each signature: the key's certificate and the
  // maker's are each their own CA here.
  const QStringList trust = {"--strict", "--trust", qs(path(std::string(kDevice) + ".cert.der")),
                             "--trust", qs(path("maker"))};
  const ToolRun strict = reader(QStringList{"--json", "verify-ofd", qs(path("two.ofd"))} + trust);
  EXPECT_EQ(strict.status, 0) << strict.out.toStdString();
  for (const QJsonValue& s : strict.json().value("signatures").toArray()) {
    const QJsonObject checks = s.toObject().value("checks").toObject();
    EXPECT_EQ(checks.size(), 6);
    for (const QJsonValue& check : checks)
      EXPECT_EQ(check.toObject().value("verdict").toString(), "held") << strict.out.toStdString();
  }
  EXPECT_EQ(reader({"verify-ofd", qs(path("two.ofd")), "--strict"}).status, 4);
  std::string report;
  EXPECT_EQ(independentCheck("two.ofd", &report), 0) << report;

  const std::string sign0 = "Doc_0/Signs/Sign_0/", sign1 = "Doc_0/Signs/Sign_1/";
  QByteArray value = entry("two.ofd", sign1 + "SignedValue.dat");
  value[value.size() - 3] = char(value[value.size() - 3] ^ 1);
  QByteArray oneReferenceLess = entry("two.ofd", sign1 + "Signature.xml");
  const int at = oneReferenceLess.indexOf("<ofd:Reference FileRef=\"/Doc_0/PublicRes.xml\"");
  oneReferenceLess.remove(at, oneReferenceLess.indexOf("</ofd:Reference>", at) + 16 - at);
  QByteArray list = entry("two.ofd", "Doc_0/Signs/Signatures.xml");
  list.replace("Sign_1/Signature.xml", "Sign_9/Signature.xml");
  // A signature that protects the list leaves no room for another.
  QByteArray coversList = entry("two.ofd", sign1 + "Signature.xml");
  coversList.replace("FileRef=\"/OFD.xml\"", "FileRef=\"/Doc_0/Signs/Signatures.xml\"");
  copyWith("two.ofd", "closed.ofd", {{sign1 + "Signature.xml", coversList}});
  const ToolRun refused = signOfd("closed.ofd", company_, "three.ofd");
  EXPECT_EQ(refused.status, 2);
  EXPECT_TRUE(refused.json().value("error").toString().contains("protects the signature list"))
      << refused.out.toStdString();
  const struct {
    const char* what;
    std::map<std::string, QByteArray> changes;
    const char* named;
  } cases[] = {
      {"a changed page",
       {{"Doc_0/Pages/Page_7/Content.xml", "<ofd:Page/>"}},
       "reference /Doc_0/Pages/Page_7/Content.xml changed"},
      {"a changed OFD.xml",
       {{"OFD.xml", entry("two.ofd", "OFD.xml") + " "}},
       "reference /OFD.xml changed"},
      {"a changed Signature.xml",
       {{sign0 + "Signature.xml", entry("two.ofd", sign0 + "Signature.xml") + " "}},
       "does not sign this Signature.xml"},
      {"a changed Seal.esl",
       {{sign0 + "Seal.esl", entry("two.ofd", sign1 + "Seal.esl")}},
       "Seal.esl is not the signature's seal"},
      {"a changed SignedValue.dat", {{sign1 + "SignedValue.dat", value}}, "OES_Verify gave"},
      {"an added file",
       {{"Doc_0/Attachs/late.txt", "added later"}},
       "added after this signature: /Doc_0/Attachs/late.txt"},
      {"a removed reference",
       {{sign1 + "Signature.xml", oneReferenceLess}},
       "does not sign this Signature.xml"},
      {"a list pointing at a missing file",
       {{"Doc_0/Signs/Signatures.xml", list}},
       "no file \"Doc_0/Signs/Sign_9/Signature.xml\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    copyWith("two.ofd", "tampered.ofd", c.changes);
    const ToolRun run = verifyOfd("tampered.ofd");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(problems(run).find(c.named), std::string::npos) << problems(run);
    if (c.changes.count("Doc_0/Pages/Page_7/Content.xml")) {
      EXPECT_EQ(independentCheck("tampered.ofd", &report), 1) << report;
    }
  }
}

TEST_F(OfdRoad, ADocumentOfAnotherWriterKeepsWhatItHolds) {
  // A default namespace, the document elsewhere, a page given relative to
  // it, and an attachment the signing must keep as it is.
  const QByteArray attachment("\x01\x02 an attachment, kept byte for byte \xff", 38);
  std::string why;
  ASSERT_TRUE(ofd::writePackage(
      path("other.ofd"),
      {{"OFD.xml",
        "<?xml version=\"1.0\"?><OFD xmlns=\"http://www.ofdspec.org/2016\" Version=\"1.0\">"
        "<DocBody><DocInfo><DocID>x</DocID></DocInfo><DocRoot>/Docs/main/Doc.xml</DocRoot>"
        "</DocBody></OFD>"},
       {"Docs/main/Doc.xml",
        "<Document xmlns=\"http://www.ofdspec.org/2016\"><CommonData><MaxUnitID>9</MaxUnitID>"
        "<PageArea><PhysicalBox>0 0 100 100</PhysicalBox></PageArea></CommonData>"
        "<Pages><Page ID=\"7\" BaseLoc=\"p/one.xml\"/></Pages>"
        "<Attachments>Attachs/Attachments.xml</Attachments></Document>"},
       {"Docs/main/p/one.xml", "<Page xmlns=\"http://www.ofdspec.org/2016\"><Content/></Page>"},
       {"Docs/main/Attachs/note.bin", attachment}},
      &why))
      << why;
  const ToolRun signedRun = signOfd("other.ofd", company_, "other-signed.ofd");
  ASSERT_EQ(signedRun.status, 0) << signedRun.out.toStdString() << log();
  EXPECT_EQ(signedRun.json().value("page").toString(), QStringLiteral("7"));
  const ToolRun run = verifyOfd("other-signed.ofd");
  EXPECT_EQ(run.status, 0) << problems(run);
  std::string report;
  EXPECT_EQ(independentCheck("other-signed.ofd", &report), 0) << report;
  EXPECT_EQ(entry("other-signed.ofd", "Docs/main/Attachs/note.bin"), attachment);
  EXPECT_TRUE(entry("other-signed.ofd", "Docs/main/Signs/Sign_0/Seal.esl").size() > 0);
  EXPECT_FALSE(entry("other.ofd", "OFD.xml").contains("Signatures"));  // the input as it was
}

}  // namespace

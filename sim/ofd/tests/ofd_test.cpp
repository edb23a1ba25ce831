// OFD packages: a document read back as written, entries kept as stored
// through a rewrite, and hostile packages refused with their reason.
#include <gtest/gtest.h>
#include <zip.h>

#include <QTemporaryDir>

#include <QDir>

#include <filesystem>
#include <fstream>
#include <functional>

#include "varo/ofd_document.h"

namespace {

using varo::ofd::Package;

class OfdPackage : public ::testing::Test {
 protected:
  std::string path(const std::string& name) {
    return dir_.filePath(QString::fromStdString(name)).toStdString();
  }

  // A package made entry by entry, without the library's checks.
  std::string rawZip(const std::vector<std::pair<std::string, QByteArray>>& entries) {
    const std::string out = path("raw" + std::to_string(++made_) + ".ofd");
    int error = 0;
    zip_t* z = zip_open(out.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    for (const auto& [name, bytes] : entries) {
      if (name.back() == '/') {
        zip_dir_add(z, name.c_str(), ZIP_FL_ENC_RAW);
        continue;
      }
      keep_.push_back(bytes);
      zip_source_t* s = zip_source_buffer(z, keep_.back().constData(), keep_.back().size(), 0);
      zip_file_add(z, name.c_str(), s, ZIP_FL_ENC_RAW);
    }
    zip_close(z);
    return out;
  }

  QTemporaryDir dir_;
  std::vector<QByteArray> keep_;
  int made_ = 0;
};

TEST_F(OfdPackage, DocumentReadsBackAndRewritesKeepOtherEntries) {
  std::string why;
  const auto files = varo::ofd::minimalDocument(30, QStringLiteral("Contract"));
  ASSERT_TRUE(varo::ofd::writePackage(path("in.ofd"), files, &why)) << why;
  auto in = Package::open(path("in.ofd"), &why);
  ASSERT_TRUE(in) << why;
  const auto layout = varo::ofd::readLayout(*in, &why);
  ASSERT_TRUE(layout) << why;
  EXPECT_EQ(layout->documentXml, "Doc_0/Document.xml");
  EXPECT_FALSE(layout->signatures);
  ASSERT_EQ(layout->pages.size(), 30u);
  EXPECT_EQ(layout->pages[29].id, QStringLiteral("89"));
  EXPECT_EQ(layout->pages[29].content, "Doc_0/Pages/Page_29/Content.xml");

  const QByteArray added("seal"), ofd("<changed/>");
  ASSERT_TRUE(
      in->writeWith(path("out.ofd"), {{"OFD.xml", ofd}, {"Doc_0/Signs/Seal.esl", added}}, &why))
      << why;
  auto out = Package::open(path("out.ofd"), &why);
  ASSERT_TRUE(out) << why;
  ASSERT_EQ(out->entries().size(), in->entries().size() + 1);
  for (size_t i = 0; i < in->entries().size(); ++i) {
    const std::string& name = in->entries()[i].name;
    EXPECT_EQ(out->entries()[i].name, name);
    if (name == "OFD.xml") continue;
    EXPECT_EQ(out->entries()[i].compressedSize, in->entries()[i].compressedSize) << name;
    EXPECT_EQ(*out->read(name, &why), files.at(name)) << name;
  }
  EXPECT_EQ(*out->read("OFD.xml", &why), ofd);
  EXPECT_EQ(*out->read("Doc_0/Signs/Seal.esl", &why), added);
  // The input is as it was, and no temporary file is left.
  EXPECT_EQ(*Package::open(path("in.ofd"), &why)->read("OFD.xml", &why), files.at("OFD.xml"));
  EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files).size(), 2);
}

TEST_F(OfdPackage, HostilePackagesAreRefused) {
  const QByteArray ofd = varo::ofd::minimalDocument(1, QStringLiteral("x"))["OFD.xml"];
  const QByteArray bomb(4 << 20, '\0');
  const std::string truncated = rawZip({{"OFD.xml", ofd}, {"Doc_0/a.xml", QByteArray(5000, 'a')}});
  std::filesystem::resize_file(truncated, std::filesystem::file_size(truncated) / 2);
  const struct {
    const char* what;
    std::string file;
    const char* reason;  // in the message of Package::open, or else of readLayout
  } cases[] = {
      {"zip slip", rawZip({{"OFD.xml", ofd}, {"../../etc/evil", "x"}}), "outside the package"},
      {"absolute name", rawZip({{"/etc/evil", "x"}}), "outside the package"},
      {"backslash name", rawZip({{"Doc_0\\..\\evil", "x"}}), "outside the package"},
      {"directory named like a file", rawZip({{"Doc_0/", ""}, {"Doc_0", "x"}}), "twice"},
      {"file where a directory is needed", rawZip({{"Doc_0", "x"}, {"Doc_0/Document.xml", "y"}}),
       "needs a directory"},
      {"zip bomb", rawZip({{"OFD.xml", ofd}, {"big", bomb}}), "limits"},
      {"truncated zip", truncated, "not a ZIP package"},
      {"entity bomb",
       rawZip({{"OFD.xml",
                "<!DOCTYPE a [<!ENTITY a \"aaaa\"><!ENTITY b \"&a;&a;&a;\">]>"
                "<ofd:OFD xmlns:ofd=\"http://www.ofdspec.org/2016\">&b;</ofd:OFD>"}}),
       "document type"},
      {"no OFD.xml", rawZip({{"Doc_0/Document.xml", "<a/>"}}), "no file \"OFD.xml\""},
      {"unparsable OFD.xml", rawZip({{"OFD.xml", "<ofd:OFD"}}), "not well-formed"},
      {"DocRoot leaving the package",
       rawZip({{"OFD.xml",
                "<OFD xmlns=\"http://www.ofdspec.org/2016\"><DocBody><DocRoot>"
                "../x.xml</DocRoot></DocBody></OFD>"}}),
       "names no document"},
  };
  varo::ofd::PackageLimits limits;
  limits.maxRatio = 200;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string why;
    auto package = Package::open(c.file, &why, limits);
    if (package) {
      EXPECT_FALSE(varo::ofd::readLayout(*package, &why));
    }
    EXPECT_NE(why.find(c.reason), std::string::npos) << why;
  }
}

}  // namespace

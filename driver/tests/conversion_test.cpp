// A key whose seal is in the old three-file form: the local list and the
// seal record it gets, through ConvertSealFormat2 and through the seal list.
#include <gtest/gtest.h>

#include <QDir>

#include "seal_store_fixture.h"
#include "varo/tmp_files.h"
#include "varo/tool_library.h"

namespace {

using varo::softkey::Bytes;
using varo::testing::SealStoreGuard;

using varo::testing::decryptSealRecord;

std::set<std::string> temporaryCopies() {
  std::set<std::string> names;
  for (const QString& n : QDir(QDir::tempPath()).entryList({"Varo_*"}, QDir::Files))
    names.insert(n.toStdString());
  return names;
}

class Conversion : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(keys_.ok());
    varo::softkey::KeySetup setup;
    setup.serial = "OLDKEY-1";
    ASSERT_TRUE(keys_->createKey("OLD", setup).ok());
    seal_ = varo::testing::makeTestSeal(varo::testing::sealSpec(pki_, "ES-OLD-1", "Old Seal"));
    ASSERT_FALSE(seal_.empty());
  }
  int convert() {
    char device[] = "OLD";
    return converter_.ConvertSealFormat2(device);
  }

  varo::testing::TempKeyStore keys_;
  SealStoreGuard sealData_;
  varo::testing::TestPki pki_;
  Bytes seal_;
  VaroDeviceBase_LM_GM3000 converter_;
};

TEST_F(Conversion, OldSealBecomesLocalListAndRecord) {
  const std::set<std::string> before = temporaryCopies();
  // All of the seal in PIC1, nothing in PIC2 and PIC3.
  ASSERT_TRUE(keys_->writeThreeFileForm("OLD", seal_, "", long(seal_.size()), 0).ok());
  ASSERT_EQ(convert(), 1);
  EXPECT_EQ(varo::testing::readFile(SealStoreGuard::path("OLDKEY-1.list")),
            "[{\"ID\":\"ES-OLD-1\",\"NAME\":\"Old Seal\",\"VER\":\"1\",\"TYPE\":\"1\","
            "\"FILENAME\":\"Old Seal\"}]");
  const QByteArray der(reinterpret_cast<const char*>(seal_.data()), int(seal_.size()));
  EXPECT_EQ(decryptSealRecord(varo::testing::readFile(SealStoreGuard::path("ES-OLD-1.dat"))),
            "{\"COM\":\"5\",\"ASN1\":\"" + der.toBase64().toStdString() + "\",\"STANDARD\":\"1\"}");
  // The temporary copy of the seal is gone again, and the key is unchanged.
  EXPECT_EQ(temporaryCopies(), before);
  std::vector<std::string> files;
  ASSERT_TRUE(keys_->listFiles("OLD", &files).ok());
  EXPECT_EQ(files, (std::vector<std::string>{"PIC1", "PIC2", "PIC3"}));
}

TEST_F(Conversion, NothingIsWrittenWithoutASeal) {
  const std::set<std::string> before = temporaryCopies();
  EXPECT_EQ(convert(), 0);  // no PIC1
  ASSERT_TRUE(keys_->writeThreeFileForm("OLD", varo::testing::patternBytes(90, 1)).ok());
  EXPECT_EQ(convert(), 0);  // not a seal
  EXPECT_TRUE(sealData_.added().empty());
  EXPECT_EQ(temporaryCopies(), before);
  // A seal whose identifier would not fit the conversion's buffers.
  auto spec = varo::testing::sealSpec(pki_, std::string(100, 'I'), "Long");
  ASSERT_TRUE(keys_->writeThreeFileForm("OLD", varo::testing::makeTestSeal(spec)).ok());
  EXPECT_EQ(convert(), 0);
  EXPECT_TRUE(sealData_.added().empty());
}

TEST_F(Conversion, SealListFallsBackToTheConvertedLocalList) {
  varo::testing::InstalledDriver driver;
  ASSERT_TRUE(driver.ok());
  Bytes buffer(2048, 0);
  int length = 0;
  // Neither index, nor local list, nor an old seal.
  EXPECT_EQ(driver->ReadSealList(buffer.data(), &length), 0x1007);
  ASSERT_TRUE(keys_->writeThreeFileForm("OLD", seal_).ok());
  ASSERT_EQ(driver->ReadSealList(buffer.data(), &length), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer.data()), size_t(length)),
            "[{\"ID\":\"ES-OLD-1\",\"NAME\":\"Old Seal\",\"VER\":\"1\",\"TYPE\":\"1\","
            "\"FILENAME\":\"Old Seal\",\"DEVICEURL\":\"LM_GM3000&OLD\"}]");
  EXPECT_EQ(sealData_.added(),
            (std::set<std::string>{"ES-OLD-1.dat", "ES-OLD-1.key", "OLDKEY-1.list"}));
}

TEST_F(Conversion, OldFormSealIsReadFromTheKeyItself) {
  // A name longer than a key's file names (as chunk base names go) too.
  for (const std::string name : {"Old Seal",
                                 "\u5F88\u957F\u7684\u7535\u5B50\u5370\u7AE0\u540D"
                                 "\u79F0\u5F88\u957F\u7684\u7535\u5B50\u5370"}) {
    SCOPED_TRACE(name);
    const Bytes seal = varo::testing::makeTestSeal(varo::testing::sealSpec(pki_, "ES-OLD-2", name));
    ASSERT_TRUE(keys_->writeThreeFileForm("OLD", seal).ok());
    varo::testing::InstalledDriver driver;
    char id[] = "ES-OLD-2";
    Bytes record(8192);
    int length = int(record.size());
    ASSERT_EQ(driver->ReadSeal(id, record.data(), &length), 0);
    // Whatever the local store holds: the record comes from "PIC1" to "PIC3".
    const QByteArray der(reinterpret_cast<const char*>(seal.data()), int(seal.size()));
    EXPECT_EQ(
        decryptSealRecord(std::string(reinterpret_cast<char*>(record.data()), size_t(length))),
        "{\"COM\":\"5\",\"ASN1\":\"" + der.toBase64().toStdString() + "\",\"STANDARD\":\"1\"}");
    for (const std::string& file : sealData_.added())
      QFile::remove(QString::fromStdString(SealStoreGuard::path(file)));
  }
}

}  // namespace

namespace {

TEST_F(Conversion, KeyConversionKeepsTheOldFilesUntilTheSealIsWritten) {
  ASSERT_TRUE(keys_->writeThreeFileForm("OLD", seal_).ok());
  std::vector<std::string> files;
  for (const char* lib :
       {"/sealstruct/libSesSealStru.so", "/VaroSupport/VaroCommon/ToolBench.so"}) {
    varo::testing::MovedAside aside(lib);
    ASSERT_TRUE(aside.moved());
    char device[] = "OLD";
    EXPECT_EQ(converter_.ConvertSealFormat(device), 0) << lib;
    ASSERT_TRUE(keys_->listFiles("OLD", &files).ok());
    EXPECT_EQ(files, (std::vector<std::string>{"PIC1", "PIC2", "PIC3"})) << lib;
  }
  char device[] = "OLD";
  ASSERT_EQ(converter_.ConvertSealFormat(device), 1);
  varo::testing::InstalledDriver driver;
  Bytes list(4096, 0);
  int length = 0;
  ASSERT_EQ(driver->ReadSealList(list.data(), &length), 0);
  const std::string text(reinterpret_cast<char*>(list.data()), size_t(length));
  EXPECT_NE(text.find("\"ID\":\"ES-OLD-1\",\"NAME\":\"Old Seal\",\"VER\":\"1\""),
            std::string::npos);
  EXPECT_NE(text.find("\"TYPE\":\"1\""), std::string::npos);
  char id[] = "ES-OLD-1";
  Bytes record(8192);
  length = 0;
  ASSERT_EQ(driver->ReadSeal(id, record.data(), &length), 0);
  const QByteArray der(reinterpret_cast<const char*>(seal_.data()), int(seal_.size()));
  EXPECT_EQ(decryptSealRecord(std::string(reinterpret_cast<char*>(record.data()), size_t(length))),
            "{\"COM\":\"5\",\"ASN1\":\"" + der.toBase64().toStdString() + "\",\"STANDARD\":\"1\"}");
  ASSERT_TRUE(keys_->listFiles("OLD", &files).ok());
  EXPECT_EQ(std::count(files.begin(), files.end(), "PIC1"), 0);
  // Converted once: a second call changes nothing.
  const std::string before = text;
  EXPECT_EQ(converter_.ConvertSealFormat(device), 0);
  ASSERT_EQ(driver->ReadSealList(list.data(), &length), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(list.data()), size_t(length)), before);
}

}  // namespace

namespace {

TEST_F(Conversion, ConversionCutShortIsTakenOver) {
  ASSERT_TRUE(keys_->writeThreeFileForm("OLD", seal_).ok());
  char device[] = "OLD";
  for (const char* index : {"", "[]"}) {
    ASSERT_TRUE(keys_->putFile("OLD", "SEALINDEX", varo::testing::indexRecord(index)).ok());
    ASSERT_EQ(converter_.ConvertSealFormat(device), 1) << index;
    ASSERT_TRUE(keys_->deleteFile("OLD", "SEALINDEX").ok());
    ASSERT_TRUE(keys_->writeThreeFileForm("OLD", seal_).ok());
  }
  // An index that lists a seal is not touched.
  const std::string listed = "[" + varo::testing::indexEntry("X", "Other", "1") + "]";
  ASSERT_TRUE(keys_->putFile("OLD", "SEALINDEX", varo::testing::indexRecord(listed)).ok());
  EXPECT_EQ(converter_.ConvertSealFormat(device), 0);
  Bytes index;
  ASSERT_TRUE(keys_->getFile("OLD", "SEALINDEX", &index).ok());
  EXPECT_EQ(index, varo::testing::indexRecord(listed));
}

}  // namespace

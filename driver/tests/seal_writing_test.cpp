// Writing seals to a software key through the installed driver: chunk
// layout, the index entry, replacement, refusals, and the pieces of the
// index text and base names that the writing relies on.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <map>

#include "seal_index.h"
#include "seal_naming.h"
#include "seal_store_fixture.h"

namespace {

using varo::softkey::Bytes;
using varo::testing::indexEntry;
using varo::testing::indexRecord;
using varo::testing::InstalledDriver;
using varo::testing::patternBytes;
using varo::testing::SealStoreGuard;

class SealWriting : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(keys_.ok());
    varo::softkey::KeySetup setup;
    setup.serial = "WRITEKEY";
    ASSERT_TRUE(keys_->createKey("K", setup).ok());
    ASSERT_TRUE(driver_.ok());
  }
  int write(const std::string& id, const Bytes& bytes, const std::string& name = "Seal") {
    std::string i = id, n = name;
    Bytes b = bytes;
    return driver_->WriteSeal(i.data(), n.data(), 1, 1, b.empty() ? nullptr : b.data(),
                              int(b.size()));
  }
  std::string indexText() {
    Bytes record;
    EXPECT_TRUE(keys_->getFile("K", "SEALINDEX", &record).ok());
    return std::string(reinterpret_cast<char*>(record.data()));
  }
  Bytes read(const std::string& id) {
    std::string i = id;
    int length = 0;
    if (driver_->ReadSeal(i.data(), nullptr, &length) != 0) return Bytes(1, 0xEE);
    Bytes out(static_cast<size_t>(length));
    driver_->ReadSeal(i.data(), out.data(), &length);
    return out;
  }
  std::vector<std::string> files() {
    std::vector<std::string> names;
    EXPECT_TRUE(keys_->listFiles("K", &names).ok());
    return names;
  }
  // The FILENAME of an identifier in the key's index.
  std::string baseOf(const std::string& id) {
    VaroDeviceBase_LM_GM3000 local;
    return local.GetSealFileName(QString::fromStdString(id), QString::fromStdString(indexText()))
        .toStdString();
  }

  varo::testing::TempKeyStore keys_;
  SealStoreGuard sealData_;
  InstalledDriver driver_;
};

TEST_F(SealWriting, ChunksOfFullAndPartialSize) {
  const struct {
    size_t size;
    std::vector<uint32_t> chunkFiles;  // sizes the chunk files were created with
    size_t readable;
  } cases[] = {
      {0, {}, 0},
      {51200, {51210}, 51200},
      {51201, {51210, 11}, 51201},
      {204801, {51210, 51210, 51210, 51210, 11}, 204800},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string id = "S" + std::to_string(n++);
    const Bytes seal = patternBytes(c.size, n);
    ASSERT_EQ(write(id, seal), 0) << c.size;
    const std::string base = baseOf(id);
    ASSERT_EQ(base.size(), 9u) << c.size;
    for (size_t k = 0; k <= c.chunkFiles.size(); ++k) {
      Bytes chunk;
      const bool exists = keys_->getFile("K", base + std::to_string(k), &chunk).ok();
      ASSERT_EQ(exists, k < c.chunkFiles.size()) << c.size << " chunk " << k;
      if (!exists) continue;
      EXPECT_EQ(chunk.size(), c.chunkFiles[k]);
      EXPECT_EQ(chunk[0] | chunk[1] << 8 | chunk[2] << 16, int(c.chunkFiles[k] - 10));
    }
    EXPECT_EQ(read(id), Bytes(seal.begin(), seal.begin() + long(c.readable))) << c.size;
  }
}

TEST_F(SealWriting, FirstWriteMakesTheIndexAndReplacementMovesTheEntryLast) {
  // No index, no local list, no old seal: the index is created.
  ASSERT_EQ(write("A", patternBytes(10, 1), "First"), 0);
  const std::string baseA = baseOf("A");
  EXPECT_EQ(indexText(), "[" + indexEntry("A", "First", baseA) + "]");
  ASSERT_EQ(write("B", patternBytes(20, 2)), 0);
  ASSERT_EQ(write("C", patternBytes(30, 3)), 0);
  const std::string oldB = baseOf("B");
  ASSERT_EQ(write("B", patternBytes(40, 4), "New"), 0);
  const std::string text = indexText();
  // A and C keep their order; no listing's locator is stored.
  EXPECT_LT(text.find("\"ID\":\"A\""), text.find("\"ID\":\"C\""));
  EXPECT_LT(text.find("\"ID\":\"C\""), text.find("\"ID\":\"B\""));
  EXPECT_EQ(text.substr(text.rfind('{')), indexEntry("B", "New", baseOf("B")) + "]");
  EXPECT_EQ(text.find("DEVICEURL"), std::string::npos);
  EXPECT_EQ(read("B"), patternBytes(40, 4));
  EXPECT_EQ(read("A"), patternBytes(10, 1));
  EXPECT_EQ(read("C"), patternBytes(30, 3));
  for (const std::string& f : files()) EXPECT_NE(f, oldB + "0");

  // An empty index gets the entry alone.
  ASSERT_TRUE(keys_->putFile("K", "SEALINDEX", indexRecord("[]")).ok());
  ASSERT_EQ(write("D", patternBytes(5, 5)), 0);
  EXPECT_EQ(indexText(), "[" + indexEntry("D", "Seal", baseOf("D")) + "]");
}

TEST_F(SealWriting, IdentifierListedTwiceLeavesOneEntry) {
  varo::testing::putChunks(keys_.store(), "K", "111111111", patternBytes(5, 1));
  varo::testing::putChunks(keys_.store(), "K", "222222222", patternBytes(5, 2));
  ASSERT_TRUE(keys_->putFile("K", "SEALINDEX",
                             indexRecord("[" + indexEntry("D", "x", "111111111") + "," +
                                         indexEntry("D", "y", "222222222") + "]"))
                  .ok());
  ASSERT_EQ(write("D", patternBytes(7, 7)), 0);
  EXPECT_EQ(indexText(), "[" + indexEntry("D", "Seal", baseOf("D")) + "]");
  const std::vector<std::string> names = files();
  EXPECT_EQ(std::count(names.begin(), names.end(), "1111111110"), 0);  // the first entry's chunks
  EXPECT_EQ(std::count(names.begin(), names.end(), "2222222220"), 1);
}

TEST_F(SealWriting, RefusedBeforeAnythingIsWritten) {
  ASSERT_EQ(write("A", patternBytes(10, 1)), 0);
  const std::vector<std::string> before = files();
  const std::string index = indexText();
  const struct {
    std::string id, name;
    int result;
  } cases[] = {
      {"quote\"d", "n", 0x0A000006},
      {"ok", "back\\", 0x0A000006},
      {"a},{b", "n", 0x0A000006},
      {"tab\tid", "n", 0x0A000006},
      {"ok", "line\nbreak", 0x0A000006},
      {"long", std::string(1000, 'N'), 0x0A000030},  // the index would not fit
  };
  for (const auto& c : cases) EXPECT_EQ(write(c.id, patternBytes(60000, 2), c.name), c.result);
  EXPECT_EQ(files(), before);
  EXPECT_EQ(indexText(), index);
  Bytes seal(4);
  EXPECT_EQ(driver_->WriteSeal(nullptr, nullptr, 1, 1, seal.data(), -1), 0x0A000006);
  char id[] = "X";
  EXPECT_EQ(driver_->DeleteSeal(id), 2);
  EXPECT_EQ(driver_->DeleteSeal(nullptr), 2);
  EXPECT_EQ(files(), before);
}

TEST_F(SealWriting, KeysThatCannotTakeTheSeal) {
  ASSERT_TRUE(keys_->createKey("K2").ok());
  EXPECT_EQ(write("N", patternBytes(100, 1)), 0x1006);
  ASSERT_TRUE(keys_->detachKey("K").ok());
  ASSERT_TRUE(keys_->detachKey("K2").ok());
  EXPECT_EQ(write("N", patternBytes(100, 1)), 0x1001);
}

TEST_F(SealWriting, IndexSizeDependsOnlyOnTheSealsItHolds) {
  const std::string ids[] = {"A", "B", "C"};
  for (const std::string& id : ids) ASSERT_EQ(write(id, patternBytes(100, 0)), 0);
  const size_t size = indexText().size();
  for (int i = 0; i < 47; ++i) {
    ASSERT_EQ(write(ids[i % 3], patternBytes(100 + size_t(i), i)), 0) << i;
    ASSERT_EQ(indexText().size(), size) << i << ": " << indexText();
  }
  const int last[] = {45, 46, 44};  // the last write of A, B and C
  for (int k = 0; k < 3; ++k) EXPECT_EQ(read(ids[k]), patternBytes(100 + size_t(last[k]), last[k]));
}

TEST_F(SealWriting, HostileNamesReadBackExactlyOrAreRefused) {
  const struct {
    std::string device, id, name;
    bool stored;
  } cases[] = {
      {"K ID", "ID", "FILENAME", true},   {"KFILENAME", "x", "has FILENAME and ID", true},
      {"K\"quote", "q", "n", true},      {"K\\back", "b", "n", true},
      {"K},{x", "c", "},", true},         {"K", "FILENAME", "\"ID\":\"7", false},
      {"K", "x", "back\\", false},      {"K", "x", "a},{b", false},
      {"K", "x", "new\nline", false},     {"K", "tab\t", "n", false},
  };
  const Bytes base = patternBytes(60000, 1), seal = patternBytes(500, 2);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.device + " / " + c.id + " / " + c.name);
    for (const auto& k : keys_->listKeys()) ASSERT_TRUE(keys_->removeKey(k.name).ok());
    ASSERT_TRUE(keys_->createKey(c.device).ok());
    ASSERT_EQ(write("base", base), 0);
    Bytes before;
    ASSERT_TRUE(keys_->getFile(c.device, "SEALINDEX", &before).ok());
    std::vector<std::string> filesBefore;
    ASSERT_TRUE(keys_->listFiles(c.device, &filesBefore).ok());
    EXPECT_EQ(write(c.id, seal, c.name), c.stored ? 0 : 0x0A000006);
    Bytes list(8192, 0);
    int length = 0;
    ASSERT_EQ(driver_->ReadSealList(list.data(), &length), 0);
    const QJsonArray seals =
        QJsonDocument::fromJson(QByteArray(reinterpret_cast<char*>(list.data()), length)).array();
    ASSERT_EQ(seals.size(), c.stored ? 2 : 1) << list.data();
    for (const QJsonValue& v : seals)
      EXPECT_EQ(v.toObject()["DEVICEURL"].toString().toStdString(), "LM_GM3000&" + c.device);
    EXPECT_EQ(read("base"), base);
    if (c.stored) {
      EXPECT_EQ(seals[1].toObject()["NAME"].toString().toStdString(), c.name);
      EXPECT_EQ(read(c.id), seal);
    } else {
      Bytes after;
      std::vector<std::string> filesAfter;
      ASSERT_TRUE(keys_->getFile(c.device, "SEALINDEX", &after).ok());
      ASSERT_TRUE(keys_->listFiles(c.device, &filesAfter).ok());
      EXPECT_EQ(after, before);
      EXPECT_EQ(filesAfter, filesBefore);
    }
  }
}

TEST(SealIndexEdits, DeleteFromJsonKeepsOtherEntriesInOrder) {
  VaroDeviceBase_LM_GM3000 driver;
  const QString a = "{\"ID\":\"a\",\"F\":\"1\"}", b = "{\"ID\":\"b\",\"F\":\"2\"}",
                c = "{\"ID\":\"c\",\"F\":\"3\"}", none = "{\"F\":\"4\"}";
  const struct {
    QString id, list, result;
  } cases[] = {
      {"a", "[" + a + "]", "[]"},
      {"b", "[" + a + "," + b + "," + c + "]", "[" + a + "," + c + "]"},
      {"b", "[" + b + "," + a + "," + b + "]", "[" + a + "]"},
      {"a", "[" + a + "," + none + "]", "[]"},
      {"A", "[" + a + "]", "[" + a + "]"},
      {"a", "[]", ""},
      {"a", a, ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(driver.DeleteFromJson(c.id, c.list), c.result) << c.list.toStdString();
}

TEST(SealIndexEdits, BaseNamesAvoidEveryFileAndEntry) {
  using gm3000::freeBaseName;
  EXPECT_EQ(gm3000::nextBaseName("235959999"), "000000000");
  EXPECT_EQ(gm3000::nextBaseName("093015250"), "093015251");
  EXPECT_EQ(freeBaseName("093015250", {}, {}, 2), "093015250");
  // A leftover chunk of any number up to the replaced five, or of the new
  // seal's own count, moves the name on; so does an entry's base name.
  EXPECT_EQ(freeBaseName("093015250", {"0930152504"}, {}, 2), "093015251");
  EXPECT_EQ(freeBaseName("093015250", {"0930152506"}, {}, 7), "093015251");
  EXPECT_EQ(freeBaseName("093015250", {"0930152506"}, {}, 2), "093015250");
  EXPECT_EQ(freeBaseName("093015250", {"0930152510"}, {"093015250"}, 1), "093015252");
}

}  // namespace

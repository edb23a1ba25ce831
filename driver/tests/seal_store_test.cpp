// Reading the seal store through the installed driver: the seal list of
// every key with its locators, the seal copies, the local list fall-back,
// and the bytes of one seal from its chunks.
#include <gtest/gtest.h>

#include <QByteArray>

#include <functional>

#include "meter.h"
#include "seal_index.h"
#include "seal_store_fixture.h"
#include "varo/tmp_files.h"

namespace {

using varo::softkey::Bytes;
using varo::testing::indexEntry;
using varo::testing::indexRecord;
using varo::testing::InstalledDriver;
using varo::testing::patternBytes;
using varo::testing::putChunks;
using varo::testing::SealStoreGuard;

class SealStore : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(keys_.ok());
    ASSERT_TRUE(driver_.ok());
  }
  void key(const std::string& device, const std::string& serial) {
    varo::softkey::KeySetup setup;
    setup.serial = serial;
    ASSERT_TRUE(keys_->createKey(device, setup).ok());
  }
  void index(const std::string& device, const std::string& text) {
    ASSERT_TRUE(keys_->putFile(device, "SEALINDEX", indexRecord(text)).ok());
  }
  // ReadSealList into a buffer of capacity bytes; *list receives its text.
  int readList(std::string* list, int capacity = 4096, int incoming = 0) {
    Bytes buffer(size_t(capacity), 0);
    int length = incoming;
    int rc = driver_->ReadSealList(buffer.data(), &length);
    list->assign(reinterpret_cast<char*>(buffer.data()), rc == 0 ? size_t(length) : 0);
    return rc;
  }
  int readSeal(const std::string& id, Bytes* seal) {
    std::string s = id;
    int length = -1;
    int rc = driver_->ReadSeal(s.data(), nullptr, &length);
    if (rc != 0) return rc;
    seal->assign(size_t(length), 0);
    return driver_->ReadSeal(s.data(), seal->data(), &length);
  }
  void fault(const std::string& function, uint32_t code, const std::string& name) {
    varo::softkey::FaultSpec rule;
    rule.function = function;
    rule.code = code;
    rule.name = name;
    ASSERT_TRUE(keys_->addFault(rule).ok());
  }

  varo::testing::TempKeyStore keys_;
  SealStoreGuard sealData_;
  InstalledDriver driver_;
};

TEST_F(SealStore, ListCarriesEachKeysLocatorAndRefreshesTheCopies) {
  key("A", "SERIAL-A");
  key("B", "SERIAL-B");
  const Bytes s1 = patternBytes(300, 1), s2 = patternBytes(51201, 2), s3 = patternBytes(10, 3);
  index("A", "[" + indexEntry("1", "One", "090000001") + "]");
  putChunks(keys_.store(), "A", "090000001", s1);
  index("B", "[" + indexEntry("2", "Two", "090000002") + "," +
                 indexEntry("3", "Three", "090000003") + "," +
                 indexEntry("4", "Four", "090000004") + "]");
  putChunks(keys_.store(), "B", "090000002", s2);
  putChunks(keys_.store(), "B", "090000003", s3);
  std::string list;
  ASSERT_EQ(readList(&list), 0);
  const std::string a = "\"DEVICEURL\":\"LM_GM3000&A\"", b = "\"DEVICEURL\":\"LM_GM3000&B\"";
  auto last = [](std::string entry, const std::string& pair) {
    return entry.insert(entry.size() - 1, "," + pair);
  };
  EXPECT_EQ(list, "[" + last(indexEntry("1", "One", "090000001"), a) + "," +
                      last(indexEntry("2", "Two", "090000002"), b) + ",{" + b + "," +
                      indexEntry("3", "Three", "090000003").substr(1) + ",{" + b + "," +
                      indexEntry("4", "Four", "090000004").substr(1) + "]");
  // Every seal that reads back has its copy; seal 4 has no chunks.
  EXPECT_EQ(varo::testing::readFile(SealStoreGuard::path("1.dat")),
            std::string(s1.begin(), s1.end()));
  EXPECT_EQ(varo::testing::readFile(SealStoreGuard::path("2.dat")),
            std::string(s2.begin(), s2.end()));
  EXPECT_EQ(varo::testing::readFile(SealStoreGuard::path("3.dat")),
            std::string(s3.begin(), s3.end()));
  EXPECT_EQ(sealData_.added(),
            (std::set<std::string>{"1.dat", "1.key", "2.dat", "2.key", "3.dat", "3.key"}));
}

// A listing reads the index (before and after the chunks) and each chunk's
// header and payload once, and the header after the last chunk; a read by
// identifier costs no key call beyond the listing it starts with.
TEST_F(SealStore, EachSealIsReadOncePerCall) {
  key("A", "SA");
  std::string why;
  ASSERT_TRUE(varo::softkey::clearCounts(keys_.directory(), &why)) << why;
  auto counted = [&](const std::function<int()>& call, uint64_t* readFiles) {
    EXPECT_TRUE(varo::softkey::clearCounts(keys_.directory(), &why));
    EXPECT_EQ(call(), 0);
    const auto counts = varo::softkey::readCounts(keys_.directory());
    *readFiles = counts ? counts->callsOf("SKF_ReadFile") : 0;
    return counts ? counts->calls : 0;
  };
  std::string entries;
  for (uint64_t n = 1; n <= 12; ++n) {
    const std::string id = std::to_string(n), base = "b" + id;
    entries += (n > 1 ? "," : "") + indexEntry(id, "S", base);
    putChunks(keys_.store(), "A", base, patternBytes(n == 2 ? 51201 : 100, int(n)));
    if (n != 1 && n != 4 && n != 12) continue;
    SCOPED_TRACE(n);
    index("A", "[" + entries + "]");
    std::string list;
    uint64_t listReads = 0, byIdReads = 0;
    const uint64_t listCalls = counted([&] { return readList(&list); }, &listReads);
    EXPECT_EQ(listReads, 2 + 3 * n + (n >= 2 ? 2 : 0));  // seal 2 has two chunks
    Bytes seal(300000);
    int length = int(seal.size());
    char wanted[] = "1";
    EXPECT_EQ(counted([&] { return driver_->ReadSeal(wanted, seal.data(), &length); }, &byIdReads),
              listCalls);
    EXPECT_EQ(byIdReads, listReads);
    EXPECT_EQ(Bytes(seal.begin(), seal.begin() + length), patternBytes(100, 1));
  }
}

TEST_F(SealStore, EachKeyStandsOnItsOwn) {
  key("A", "SA");
  key("B", "SB");
  index("B", "[" + indexEntry("2", "Two", "1") + "]");
  putChunks(keys_.store(), "B", "1", patternBytes(5, 0));
  // What key A holds, and the code a list of A alone ends with.
  const struct {
    const char* what;
    std::function<void()> setUp;
    int alone;
  } cases[] = {
      {"an empty index", [&] { index("A", "[]"); }, 0x104},
      {"an index of garbage", [&] { index("A", std::string(200, 'x')); }, 0x104},
      {"an index that is no list", [&] { index("A", "[{\"ID\":\"1\",\"NAME\":\"A\\\",\"X\"}]"); },
       0x104},
      {"an unreadable index", [&] { fault("SKF_ReadFile", 0x0A000007, "A"); }, 0x1010},
      {"neither index nor old seal", [] {}, 0x1007},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    keys_->deleteFile("A", "SEALINDEX");  // absent in the first case
    c.setUp();
    std::string list;
    ASSERT_EQ(readList(&list), 0);
    EXPECT_NE(list.find("\"DEVICEURL\":\"LM_GM3000&B\""), std::string::npos) << list;
    EXPECT_EQ(list.find("LM_GM3000&A"), std::string::npos) << list;
    ASSERT_TRUE(keys_->detachKey("B").ok());
    Bytes buffer(100, 0xEE);
    int length = 7;
    EXPECT_EQ(driver_->ReadSealList(buffer.data(), &length), c.alone);
    EXPECT_EQ(buffer, Bytes(100, 0xEE));
    EXPECT_EQ(length, 7);
    ASSERT_TRUE(keys_->attachKey("B").ok());
    ASSERT_TRUE(keys_->clearFaults().ok());
  }
  // "[]" inside a value is not the empty list.
  index("A", "[" + indexEntry("1", "Box []", "2") + "]");
  std::string list;
  EXPECT_EQ(readList(&list), 0);
  EXPECT_NE(list.find("Box []"), std::string::npos);
}

TEST_F(SealStore, MeasuringCallDumpsTheMarkerAndWritesNoCopy) {
  varo::testing::TraceDir trace;
  key("A", "SA");
  index("A", "[" + indexEntry("1", "One", "5") + "]");
  putChunks(keys_.store(), "A", "5", patternBytes(5, 0));
  int length = 0;
  ASSERT_EQ(driver_->ReadSealList(nullptr, &length), 0);
  EXPECT_GT(length, 40);
  EXPECT_EQ(varo::testing::readFile("/tmp/varolog/list.txt"),
            std::string("1\0\0\0\0\0\0\0\0\0", 10));
  EXPECT_TRUE(sealData_.added().empty());
  // A buffer whose given size is too small is refused, not overrun.
  std::string list;
  EXPECT_EQ(readList(&list, 64, 20), 0x1010);
}

TEST_F(SealStore, NamesFromTheKeyStayInsideTheStore) {
  key("A", "../../escape");
  index("A", "[" + indexEntry("../x", "Bad", "7") + "," + indexEntry("ok", "Good", "8") + "]");
  putChunks(keys_.store(), "A", "7", patternBytes(9, 0));
  putChunks(keys_.store(), "A", "8", patternBytes(9, 1));
  std::string list;
  ASSERT_EQ(readList(&list), 0);
  EXPECT_EQ(sealData_.added(), (std::set<std::string>{"ok.dat", "ok.key"}));
  EXPECT_FALSE(varo::testing::fileExists(std::string(varo::kInstallRoot) + "/x.dat"));
  // A key without index whose serial cannot be a file name contributes
  // nothing; the list of the other keys still works.
  key("B", "../b");
  ASSERT_TRUE(keys_->writeThreeFileForm("B", patternBytes(30, 0)).ok());
  ASSERT_EQ(readList(&list), 0);
  EXPECT_EQ(list.find("LM_GM3000&B"), std::string::npos);
}

TEST_F(SealStore, ChunksReadBackWithinTheirLimits) {
  key("A", "SA");
  const Bytes big = patternBytes(51201, 4), five = patternBytes(5 * 1000, 5);
  index("A", "[" + indexEntry("big", "B", "100") + "," + indexEntry("five", "F", "200") + "," +
                 indexEntry("bad", "X", "300") + "," + indexEntry("huge", "H", "400") + "]");
  putChunks(keys_.store(), "A", "100", big);
  putChunks(keys_.store(), "A", "200", five, 1000);
  putChunks(keys_.store(), "A", "300", patternBytes(10, 0));
  Bytes huge(18, 0);
  huge[0] = huge[1] = huge[2] = huge[3] = 0xFF;  // the header announces 4 GiB
  ASSERT_TRUE(keys_->putFile("A", "4000", huge).ok());
  fault("SKF_ReadFile", 0x0A000007, "3000");

  Bytes seal;
  EXPECT_EQ(readSeal("big", &seal), 0);
  EXPECT_EQ(seal, big);
  EXPECT_EQ(readSeal("five", &seal), 0);
  EXPECT_EQ(seal, Bytes(five.begin(), five.begin() + 4000));
  EXPECT_EQ(readSeal("bad", &seal), 0x1010);
  EXPECT_EQ(readSeal("huge", &seal), 0x1010);
  EXPECT_EQ(readSeal("bi", &seal), 0x1009);
  // A buffer whose given size is too small is refused, not overrun.
  char id[] = "big";
  Bytes small(100, 0xEE);
  int length = 100;
  EXPECT_EQ(driver_->ReadSeal(id, small.data(), &length), 0x1010);
  EXPECT_EQ(small, Bytes(100, 0xEE));
  EXPECT_EQ(driver_->ReadSeal(nullptr, nullptr, nullptr), 0x1009);
}

TEST(SealIndexText, LookupsFindWholeValuesOnly) {
  VaroDeviceBase_LM_GM3000 driver;
  const QString index = "[{\"ID\":\"12\",\"FILENAME\":\"a\"},{\"ID\":\"1\",\"FILENAME\":\"b\"}]";
  const struct {
    QString id, text, base;
  } cases[] = {
      {"1", index, "b"},
      {"12", index, "a"},
      {"2", index, ""},
      {"1", index.mid(1), ""},
      {"1", index.left(index.size() - 1), ""},
      {"1", "[]", ""},
      {"", "[{\"ID\":\"\",\"FILENAME\":\"z\"}]", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(driver.GetSealFileName(c.id, c.text), c.base)
        << c.id.toStdString() << " in " << c.text.toStdString();
  const QString object = "{\"SEALID\":\"7\",\"ID\":\"5\",\"NAME\":\"X\"}";
  EXPECT_EQ(GetJsonValue(object, "NAME", false), "X");
  EXPECT_EQ(GetJsonValue(object, "ID", false), "7");  // the first occurrence, inside a key
  EXPECT_EQ(GetJsonValue("{\"ID\":\"5", "ID", false), "");
  EXPECT_EQ(GetJsonValue(QByteArray("{\"A\":\"b\"}").toBase64(), "A", true), "b");
}

}  // namespace

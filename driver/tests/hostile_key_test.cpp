// What a key can hold that no writer of ours would put there: an index that
// fills its record without a terminator, chunk headers that announce more
// than any buffer, names with "/" and "..", a serial that fills its field,
// and more attached keys than the device-list buffer holds. The driver
// answers with a code, writes nothing past a caller's buffer, nothing
// outside the local store, and changes nothing on the key.
#include <gtest/gtest.h>

#include <QDir>

#include <cstring>
#include <functional>
#include <map>
#include <optional>

#include "seal_store_fixture.h"
#include "varo/tmp_files.h"

namespace {

using varo::softkey::Bytes;
using varo::testing::indexEntry;
using varo::testing::indexRecord;
using varo::testing::patternBytes;
using varo::testing::putChunks;
using varo::testing::SealStoreGuard;

constexpr unsigned char kFill = 0xEE;
constexpr size_t kGuard = 16;

// A chunk file whose header announces `announced` bytes and which holds
// `payload` bytes.
Bytes chunk(uint64_t announced, size_t payload) {
  Bytes b(8 + payload + 2, 0);
  for (int i = 0; i < 8; ++i) b[size_t(i)] = uint8_t(announced >> (8 * i));
  for (size_t i = 0; i < payload; ++i) b[8 + i] = uint8_t(i * 13);
  return b;
}

class HostileKey : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(keys_.ok());
    ASSERT_TRUE(driver_.ok());
  }
  void key(const std::string& device, const std::string& serial = "HOSTILE-1") {
    varo::softkey::KeySetup setup;
    setup.serial = serial;
    ASSERT_TRUE(keys_->createKey(device, setup).ok());
  }
  void put(const std::string& device, const std::string& file, const Bytes& bytes) {
    ASSERT_TRUE(keys_->putFile(device, file, bytes).ok());
  }
  // Every file of every key, by "device/file".
  std::map<std::string, Bytes> keyFiles() {
    std::map<std::string, Bytes> all;
    for (const auto& k : keys_->listKeys()) {
      std::vector<std::string> names;
      EXPECT_TRUE(keys_->listFiles(k.name, &names).ok());
      for (const std::string& n : names)
        EXPECT_TRUE(keys_->getFile(k.name, n, &all[k.name + "/" + n]).ok());
    }
    return all;
  }
  static QStringList rootEntries() {
    return QDir(QString::fromUtf8(varo::kInstallRoot)).entryList(QDir::AllEntries | QDir::Hidden);
  }

  varo::testing::TempKeyStore keys_;
  SealStoreGuard sealData_;
  varo::testing::InstalledDriver driver_;
};

TEST_F(HostileKey, ReadsAnswerWithACodeAndLeaveCallerKeyAndTreeAlone) {
  varo::testing::TestPki pki;
  const Bytes oldSeal = varo::testing::makeTestSeal(varo::testing::sealSpec(pki, "ES-HOSTILE"));
  ASSERT_FALSE(oldSeal.empty());
  const Bytes small = patternBytes(300, 7);
  // An index that fills all of its 1024 bytes: one entry with a long name.
  const std::string bare = "[" + indexEntry("full", "", "500") + "]";
  const std::string fullIndex =
      "[" + indexEntry("full", std::string(1024 - bare.size(), 'N'), "500") + "]";
  ASSERT_EQ(fullIndex.size(), 1024u);
  const std::string longName(64, 'L');

  struct Case {
    const char* name;
    std::function<void()> setup;
    std::optional<int> list;          // nullopt: any code
    std::vector<std::string> listed;  // texts the list holds
    std::string sealId;
    int sealRc;
    Bytes seal;
    int idRc;
    std::string id;
    std::set<std::string> stored;  // files the read may add to the local store
  };
  const Case cases[] = {
      {"index of 1024 bytes without a zero byte",
       [&] {
         key("K");
         put("K", "SEALINDEX", Bytes(fullIndex.begin(), fullIndex.end()));
         putChunks(keys_.store(), "K", "500", small);
       },
       0,
       {fullIndex.substr(1, fullIndex.size() - 3), "\"DEVICEURL\":\"LM_GM3000&K\""},
       "full",
       0,
       small,
       0,
       "HOSTILE-1",
       {"full.dat"}},
      {"index of 1024 bytes of garbage",
       [&] {
         key("K");
         put("K", "SEALINDEX", Bytes(1024, 'A'));
       },
       std::nullopt,
       {},
       "A",
       0x104,  // the only key's index is no list
       {},
       0,
       "HOSTILE-1",
       {}},
      {"chunk headers announcing 2^31, 4 GiB and just over the buffer",
       [&] {
         key("K");
         put("K", "SEALINDEX",
             indexRecord("[" + indexEntry("two31", "A", "600") + "," +
                         indexEntry("four", "B", "700") + "," + indexEntry("over", "C", "800") +
                         "," + indexEntry("sum", "D", "900") + "," +
                         indexEntry("high", "E", "950") + "]"));
         put("K", "6000", chunk(uint64_t(1) << 31, 16));
         put("K", "7000", chunk(0xFFFFFFFFull, 16));
         put("K", "8000", chunk(307201, 16));
         put("K", "9000", chunk(300000, 300000));  // fits, and the next chunk would not
         put("K", "9001", chunk(7201, 7201));
         put("K", "9500", chunk(0x500000000ull | 5, 5));  // the high half is not read
       },
       0,
       {"\"ID\":\"two31\"", "\"ID\":\"high\""},
       "over",
       0x1010,
       {},
       0,
       "HOSTILE-1",
       {"high.dat"}},
      {"chunk shorter than its header announces",
       [&] {
         key("K");
         put("K", "SEALINDEX", indexRecord("[" + indexEntry("cut", "F", "610") + "]"));
         put("K", "6100", chunk(500, 300));
       },
       0,
       {"\"ID\":\"cut\""},
       "cut",
       0x1010,
       {},
       0,
       "HOSTILE-1",
       {}},
      {"names with \"/\" and \"..\"",
       [&] {
         key("K", "../serial");
         put("K", "SEALINDEX",
             indexRecord("[" + indexEntry("a/b", "A", "../x") + "," + indexEntry("..", "B", "/") +
                         "," + indexEntry("ok", "C", "..") + "]"));
         putChunks(keys_.store(), "K", "../x", small);
         putChunks(keys_.store(), "K", "/", small);
         putChunks(keys_.store(), "K", "..", small);
       },
       0,
       {"\"ID\":\"a/b\"", "\"ID\":\"..\""},
       "a/b",
       0,
       small,
       0,
       "../serial",
       {"ok.dat"}},
      {"serial that fills its field, seal in the old form",
       [&] {
         key("K", std::string(32, 'S'));
         ASSERT_TRUE(keys_->writeThreeFileForm("K", oldSeal).ok());
       },
       0,
       {"\"ID\":\"ES-HOSTILE\""},
       "",
       0,
       {},
       0,
       std::string(32, 'S'),
       {std::string(32, 'S') + ".list", "ES-HOSTILE.dat"}},
      {"device list over 200 bytes",
       [&] {
         for (char c : std::string("ABCD")) {
           const std::string device = std::string(1, c) + longName.substr(1);
           key(device);
           put(device, "SEALINDEX",
               indexRecord("[" + indexEntry(std::string(1, c), "N", std::string(1, c)) + "]"));
           putChunks(keys_.store(), device, std::string(1, c), patternBytes(40, c));
         }
       },
       0,
       {"\"DEVICEURL\":\"LM_GM3000&A" + longName.substr(1) + "\"",
        "\"DEVICEURL\":\"LM_GM3000&D" + longName.substr(1) + "\""},
       "A",
       0,
       patternBytes(40, 'A'),
       0x1006,
       "",
       {"A.dat", "B.dat", "C.dat", "D.dat"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& k : keys_->listKeys()) ASSERT_TRUE(keys_->removeKey(k.name).ok());
    c.setup();
    const std::map<std::string, Bytes> before = keyFiles();
    const QStringList root = rootEntries();
    const std::set<std::string> stored = sealData_.added();

    int length = -1;
    const int listRc = driver_->ReadSealList(nullptr, &length);
    if (c.list) {
      EXPECT_EQ(listRc, *c.list);
    }
    if (listRc == 0) {
      Bytes list(size_t(length) + kGuard, kFill);
      int copied = length;
      EXPECT_EQ(driver_->ReadSealList(list.data(), &copied), 0);
      EXPECT_EQ(copied, length);
      EXPECT_EQ(Bytes(list.begin() + length, list.end()), Bytes(kGuard, kFill));
      const std::string text(list.begin(), list.begin() + length);
      for (const std::string& part : c.listed)
        EXPECT_NE(text.find(part), std::string::npos) << part;
    }

    if (!c.sealId.empty()) {
      std::string id = c.sealId;
      length = -1;
      EXPECT_EQ(driver_->ReadSeal(id.data(), nullptr, &length), c.sealRc);
      if (c.sealRc == 0) {
        ASSERT_GE(length, 0);
        Bytes seal(size_t(length) + kGuard, kFill);
        int copied = length;
        EXPECT_EQ(driver_->ReadSeal(id.data(), seal.data(), &copied), 0);
        EXPECT_EQ(Bytes(seal.begin(), seal.begin() + copied), c.seal);
        EXPECT_EQ(Bytes(seal.begin() + length, seal.end()), Bytes(kGuard, kFill));
      } else {
        Bytes seal(64, kFill);
        int copied = 64;
        EXPECT_EQ(driver_->ReadSeal(id.data(), seal.data(), &copied), c.sealRc);
        EXPECT_EQ(seal, Bytes(64, kFill));
      }
    }

    char id[50];
    std::memset(id, 0x7F, sizeof id);
    EXPECT_EQ(driver_->GetUKID(id), c.idRc);
    if (c.idRc == 0) {
      EXPECT_EQ(std::string(id, strnlen(id, 33)), c.id);
      for (size_t i = c.id.size() + 1; i < sizeof id; ++i) EXPECT_EQ(id[i], 0x7F) << i;
    }

    EXPECT_EQ(keyFiles(), before);
    EXPECT_EQ(rootEntries(), root);
    std::set<std::string> added = sealData_.added(), expected = stored;
    // Each seal copy comes with the record of the key that wrote it.
    for (const std::string& file : c.stored) {
      expected.insert(file);
      if (file.size() > 4 && file.compare(file.size() - 4, 4, ".dat") == 0)
        expected.insert(file.substr(0, file.size() - 4) + ".key");
    }
    EXPECT_EQ(added, expected);
  }
}

}  // namespace

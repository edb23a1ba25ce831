// The seal store with several processes on one key, and with two keys that
// hold the same seal identifier, through the installed programs: every seal
// a writer reports stored is listed and reads back byte for byte.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>

#include <functional>
#include <map>
#include <set>

#include "key_road_fixture.h"
#include "varo/test_seals.h"

namespace {

using namespace keyroad;
using varo::testing::readFile;

// The seal DER inside a seal record.
std::string sealOfRecord(const std::string& record) {
  const QJsonObject text =
      QJsonDocument::fromJson(QByteArray::fromStdString(varo::testing::decryptSealRecord(record)))
          .object();
  return QByteArray::fromBase64(text["ASN1"].toString().toLatin1()).toStdString();
}

// The identifiers of the driver's list, each as often as it is listed.
std::multiset<std::string> listed(const std::string& list) {
  std::multiset<std::string> ids;
  for (const QJsonValue& v : QJsonDocument::fromJson(QByteArray::fromStdString(list)).array())
    ids.insert(v.toObject()["ID"].toString().toStdString());
  return ids;
}

class SealStoreRoad : public KeyRoad {
 protected:
  struct Run {
    std::string program;
    QStringList args;
    bool mayDecline = false;  // softkey convert finding the key converted already
  };
  Run store(const std::string& file, const char* how = "--store") const {
    return {"sealmaker", {"--seal", qs(file), how, kDevice, "--key-store", qs(keys_.directory())}};
  }
  Run convert() const {
    return {"softkey", {"--store", qs(keys_.directory()), "convert", kDevice}, true};
  }
  void clearKey() {
    std::vector<std::string> files;
    ASSERT_TRUE(keys_->listFiles(kDevice, &files).ok());
    for (const std::string& f : files) ASSERT_TRUE(keys_->deleteFile(kDevice, f).ok());
  }
  void runNow(const Run& run) {
    const ToolRun done = runTool(run.program, run.args);
    ASSERT_EQ(done.status, 0) << done.err.toStdString();
  }
};

TEST_F(SealStoreRoad, ProcessesWritingAtOnceLoseNoSeal) {
  const std::string a = makeSeal(unique("cA"), "Seal A"), c = makeSeal(unique("cC"), "Seal C");
  // A second version of B: the same identifier, another seal.
  writeFile("b2.der", readFile(makeSeal(unique("cB"), "Seal B two")));
  const std::string bFile = makeSeal(unique("cB"), "Seal B"), b2 = path("b2.der");
  struct Scenario {
    const char* what;
    std::vector<Run> before, together;
    std::map<std::string, std::string> after;  // identifier -> DER file
    bool listWhileWriting;
    bool withoutDeviceLock = false;  // the key library answers SKF_LockDev "not supported"
  };
  const Scenario scenarios[] = {
      {"two writers",
       {},
       {store(a), store(bFile)},
       {{unique("cA"), a}, {unique("cB"), bFile}},
       false},
      {"a writer and a replacer",
       {store(bFile)},
       {store(a), store(b2)},
       {{unique("cA"), a}, {unique("cB"), b2}},
       false},
      {"a conversion and a writer",
       {store(c, "--store-old")},
       {convert(), store(a)},
       {{unique("cA"), a}, {unique("cC"), c}},
       false},
      {"a writer and a lister",
       {store(bFile)},
       {store(a)},
       {{unique("cA"), a}, {unique("cB"), bFile}},
       true},
      {"a writer and a replacer, locking the local lock file",
       {store(bFile)},
       {store(a), store(b2)},
       {{unique("cA"), a}, {unique("cB"), b2}},
       false,
       true},
  };
  constexpr int kRounds = 20;
  for (const Scenario& s : scenarios) {
    for (int round = 0; round < kRounds; ++round) {
      SCOPED_TRACE(std::string(s.what) + ", round " + std::to_string(round));
      clearKey();
      ASSERT_TRUE(keys_->clearFaults().ok());
      if (s.withoutDeviceLock) {
        varo::softkey::FaultSpec unsupported;
        unsupported.function = "SKF_LockDev";
        unsupported.code = 0x0A000003;
        ASSERT_TRUE(keys_->addFault(unsupported).ok());
      }
      for (const Run& r : s.before) runNow(r);
      std::string before;
      ASSERT_EQ(driverSealList(&before), s.before.empty() ? 0x1007 : 0);  // 0x1007: no index
      std::vector<std::unique_ptr<QProcess>> running;
      for (const Run& r : s.together) running.push_back(startTool(r.program, r.args));
      if (s.listWhileWriting) {
        std::multiset<std::string> after;
        for (const auto& [id, file] : s.after) after.insert(id);
        while (running.front()->state() != QProcess::NotRunning) {
          std::string list;
          ASSERT_EQ(driverSealList(&list), 0);
          EXPECT_TRUE(listed(list) == listed(before) || listed(list) == after) << list;
          running.front()->waitForFinished(1);
        }
      }
      for (size_t i = 0; i < running.size(); ++i) {
        const ToolRun done = finishTool(*running[i]);
        // The writer may have converted the old seal first (no PIC1 left).
        const bool declined =
            s.together[i].mayDecline && done.status == 1 &&
            (done.err.contains("index already") || done.err.contains("no seal in the old form"));
        EXPECT_TRUE(done.status == 0 || declined) << done.err.toStdString();
      }
      std::string list;
      ASSERT_EQ(driverSealList(&list), 0);
      std::multiset<std::string> expected;
      for (const auto& [id, file] : s.after) expected.insert(id);
      EXPECT_EQ(listed(list), expected) << list;
      for (const auto& [id, file] : s.after) {
        std::string record;
        ASSERT_EQ(driverSeal(id, &record), 0) << id;
        EXPECT_EQ(sealOfRecord(record), readFile(file)) << id;
      }
      if (HasFailure()) return;
    }
  }
}

TEST_F(SealStoreRoad, TwoKeysWithOneIdentifierEachServeTheirOwnSeal) {
  const std::string other = "ROADKEY2", id = unique("twin");
  addKey(other);
  ASSERT_TRUE(keys_->detachKey(other).ok());
  writeFile("twin-a.der", readFile(makeSeal(id, "Twin A")));
  const std::string mine = path("twin-a.der");
  storeSeal(mine, "--store");
  ASSERT_TRUE(keys_->attachKey(other).ok());
  writeFile("twin-b.der", readFile(makeSeal(id, "Twin B", other)));
  storeSeal(path("twin-b.der"), "--store-old", other);
  writeFile("contract.txt", "Signed by the twin of another key.\n");

  // Listed with both keys attached (the copies are refreshed), then each
  // key alone signs with its own seal.
  std::string list;
  ASSERT_EQ(driverSealList(&list), 0);
  EXPECT_EQ(listed(list).count(id), 2u) << list;
  const std::pair<std::string, std::string> keys[] = {{kDevice, mine}, {other, path("twin-b.der")}};
  for (const auto& [device, file] : keys) {
    SCOPED_TRACE(device);
    for (const auto& [d, f] : keys) {
      if (d != device) {
        ASSERT_TRUE(keys_->detachKey(d).ok());
      }
    }
    // A reader lists the seals before it signs (its seal dialog).
    ASSERT_EQ(reader({"seals"}).status, 0);
    const ToolRun signedIt = reader(
        {"--json", "sign", qs(sealId(id, device)), qs(path("contract.txt")), qs(path("sig"))});
    EXPECT_EQ(signedIt.result(), 0) << signedIt.out.toStdString() << log();
    const ToolRun verified =
        reader({"--json", "verify", qs(file), qs(path("contract.txt")), qs(path("sig"))});
    EXPECT_EQ(verified.result(), 0) << verified.out.toStdString();
    for (const auto& [d, f] : keys) {
      if (d != device) {
        ASSERT_TRUE(keys_->attachKey(d).ok());
      }
    }
  }
}

}  // namespace

// Several processes on the keys at once: two readers signing together with
// one key, and the seal list read in a loop while seals are written,
// replaced and converted by other processes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "key_road_fixture.h"

namespace {

using namespace keyroad;
using varo::testing::readFile;

using KeyConcurrency = KeyRoad;

// The codes the signing flow ends with, each with its message.
const std::set<int> kSigningCodes = {16,   4370, 4371, 4373, 4376, 4379, 4383, 4387,
                                     4396, 4399, 4400, 4402, 4405, 4407, 4408, 4411};

TEST_F(KeyConcurrency, TwoReadersSigningTogetherGetSignaturesThatVerify) {
  const std::string identifier = unique("busySeal");
  const std::string sealFile = makeSeal(identifier, "Busy Seal");
  storeSeal(sealFile, "--store");
  std::string record, list;
  ASSERT_EQ(driverSeal(identifier, &record), 0);
  ASSERT_EQ(driverSealList(&list), 0);
  writeFile("contract.txt", "A contract signed twice at once.\n");

  constexpr int kRounds = 20;
  constexpr int kReaders = 2;
  int signatures = 0;
  for (int round = 0; round < kRounds; ++round) {
    // Both readers also fetch the seal through the service at the same time.
    ::unlink(("/tmp/" + identifier + ".seal").c_str());
    std::unique_ptr<QProcess> readers[kReaders];
    std::string out[kReaders];
    for (int r = 0; r < kReaders; ++r) {
      out[r] = path("sig-" + std::to_string(round) + "-" + std::to_string(r));
      readers[r] = startTool("oes-reader", {"--json", "sign", qs(sealId(identifier)),
                                            qs(path("contract.txt")), qs(out[r])});
    }
    for (int r = 0; r < kReaders; ++r) {
      const ToolRun run = finishTool(*readers[r]);
      SCOPED_TRACE("round " + std::to_string(round) + ", reader " + std::to_string(r) + ": " +
                   run.out.toStdString());
      if (run.status == 0) {
        ++signatures;
        const ToolRun verified =
            reader({"--json", "verify", qs(sealFile), qs(path("contract.txt")), qs(out[r])});
        EXPECT_EQ(verified.result(), 0) << verified.out.toStdString();
      } else {
        EXPECT_EQ(run.status, 1) << run.err.toStdString();
        EXPECT_EQ(kSigningCodes.count(run.result()), 1u);
      }
    }
  }
  EXPECT_GE(signatures, kRounds) << "most rounds should sign";
  EXPECT_EQ(reports(), size_t(signatures));

  // The key is as it was: the seal and the list read back unchanged, the
  // PIN keeps its full tries.
  std::string recordAfter, listAfter;
  EXPECT_EQ(driverSeal(identifier, &recordAfter), 0);
  EXPECT_EQ(recordAfter, record);
  EXPECT_EQ(driverSealList(&listAfter), 0);
  EXPECT_EQ(listAfter, list);
  EXPECT_EQ(triesLeft(), 6u);
}

// The seals of the driver's list as "ID|NAME|DEVICEURL" texts.
std::set<std::string> sealsOf(const std::string& list) {
  std::set<std::string> seals;
  for (const QJsonValue& v : QJsonDocument::fromJson(QByteArray::fromStdString(list)).array()) {
    const QJsonObject o = v.toObject();
    seals.insert((o["ID"].toString() + "|" + o["NAME"].toString() + "|" + o["DEVICEURL"].toString())
                     .toStdString());
  }
  return seals;
}

bool isDriverCode(int rc) {
  return rc == 0x104 || (rc >= 0x1001 && rc <= 0x1013);
}

TEST_F(KeyConcurrency, AListerSeesTheOldOrTheNewSealsWhileTheyAreWritten) {
  const std::string other = "ROADKEY2";
  const std::string a = unique("listA"), b = unique("listB"), c = unique("listC");
  auto seal = [](const std::string& id, const std::string& name, const std::string& device) {
    return id + "|" + name + "|LM_GM3000&" + device;
  };
  storeSeal(makeSeal(a, "Seal A"), "--store");
  // A second key with a seal in the old form. The driver writes (also when
  // it converts) to the only attached key, so one key is plugged in at a
  // time.
  addKey(other);
  storeSeal(makeSeal(c, "Seal C", other), "--store-old", other);
  ASSERT_TRUE(keys_->detachKey(other).ok());

  const QString store = qs(keys_.directory());
  const std::string sA = seal(a, "Seal A", kDevice), sC = seal(c, "Seal C", other);
  struct Step {
    std::string what;
    std::function<void()> prepare;
    std::string program;
    QStringList args;
    std::set<std::string> before, after;
    bool driverCodes;  // whether a listing may end with one of the driver's codes
  };
  auto write = [&](int version) {
    const std::string name = "Seal B " + std::to_string(version);
    Step step{"write " + name,
              [this, b, name] { makeSeal(b, name); },
              "sealmaker",
              {"--seal", qs(path(b + ".der")), "--store", kDevice, "--key-store", store},
              {sA},
              {sA, seal(b, name, kDevice)},
              false};
    if (version > 0) step.before.insert(seal(b, "Seal B " + std::to_string(version - 1), kDevice));
    return step;
  };
  std::vector<Step> steps;
  for (int version = 0; version < 10; ++version) steps.push_back(write(version));  // then replaced
  steps.push_back(Step{"convert the second key",
                       [&] {
                         ASSERT_TRUE(keys_->detachKey(kDevice).ok());
                         ASSERT_TRUE(keys_->attachKey(other).ok());
                       },
                       "softkey",
                       {"--store", store, "convert", qs(other)},
                       {sC},
                       {sC},
                       true});

  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    step.prepare();
    std::string list;
    ASSERT_EQ(driverSealList(&list), 0);
    ASSERT_EQ(sealsOf(list), step.before) << list;
    auto writer = startTool(step.program, step.args);
    do {
      const int rc = driverSealList(&list);
      if (rc == 0) {
        const std::set<std::string> seen = sealsOf(list);
        EXPECT_TRUE(seen == step.before || seen == step.after) << list;
      } else {
        EXPECT_TRUE(step.driverCodes && isDriverCode(rc)) << std::hex << rc;
      }
    } while (!writer->waitForFinished(1) && writer->state() != QProcess::NotRunning);
    const ToolRun done = finishTool(*writer);
    ASSERT_EQ(done.status, 0) << done.err.toStdString();
    ASSERT_EQ(driverSealList(&list), 0);
    EXPECT_EQ(sealsOf(list), step.after) << list;
  }

  // Every seal reads back whole through the service.
  ASSERT_TRUE(keys_->attachKey(kDevice).ok());
  const std::pair<std::string, std::string> stored[] = {{a, kDevice}, {b, kDevice}, {c, other}};
  for (const auto& [identifier, device] : stored) {
    const ToolRun fetched = reader({"seal", qs(sealId(identifier, device)), qs(path("back.der"))});
    EXPECT_EQ(fetched.status, 0) << identifier << fetched.err.toStdString() << log();
    EXPECT_EQ(readFile(path("back.der")), readFile(path(identifier + ".der"))) << identifier;
  }
}

}  // namespace

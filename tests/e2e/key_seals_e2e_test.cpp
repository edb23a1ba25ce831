// The seals on a key reach the reader: a seal stored on a software key by
// sealmaker (in the old three-file form, through the driver's WriteSeal, or
// in the old form and then converted on the key by softkey convert) is
// listed by varo-signd in its default mode (offline seal-list plug-in, key
// driver), fetched, signed with and verified through the installed provider
// with oes-reader, as an integrator runs them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <fstream>
#include <string>

#include "key_road_fixture.h"
#include "varo/install_root.h"

namespace {

using namespace keyroad;
using varo::testing::readFile;

class KeySeals : public KeyRoad, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    KeyRoad::SetUp();
    if (HasFatalFailure()) return;
    identifier_ = unique("keySeal");
    sealId_ = sealId(identifier_);
    const std::string file = makeSeal(identifier_, "Key Seal");
    storeSeal(file, GetParam());
    seal_ = readFile(file);
  }

  std::string identifier_, sealId_, seal_;
};

TEST_P(KeySeals, TheKeysSealIsListedFetchedSignedWithAndVerified) {
  const ToolRun listed = reader({"seals"});
  ASSERT_EQ(listed.status, 0) << listed.err.toStdString() << log();
  EXPECT_TRUE(listed.out.contains(("seal 1: " + sealId_ + " (Key Seal)\n").c_str()))
      << listed.out.toStdString();
  EXPECT_TRUE(listed.out.contains("seals: 1\n")) << listed.out.toStdString();

  const ToolRun fetched = reader({"seal", qs(sealId_), qs(path("fetched.der"))});
  ASSERT_EQ(fetched.status, 0) << fetched.err.toStdString() << log();
  EXPECT_EQ(readFile(path("fetched.der")), seal_);

  std::ofstream(path("contract.txt")) << "A contract signed with the seal on the key.\n";
  const ToolRun signed_ =
      reader({"sign", qs(sealId_), qs(path("contract.txt")), qs(path("contract.sig"))});
  ASSERT_EQ(signed_.status, 0) << signed_.err.toStdString() << log();
  const ToolRun verified = reader(
      {"verify", qs(path("fetched.der")), qs(path("contract.txt")), qs(path("contract.sig"))});
  EXPECT_EQ(verified.status, 0) << verified.err.toStdString();

  // The plug-in's own list, without the provider and the service.
  const ToolRun plugin = reader({"--json", "--provider", "/nonexistent.so", "key-seals"});
  ASSERT_EQ(plugin.status, 0) << plugin.err.toStdString();
  const QJsonObject answer = QJsonDocument::fromJson(plugin.out).object();
  EXPECT_EQ(answer["count"].toInt(), 1);
  const QJsonObject expected{{"SEALID", qs(identifier_)},
                             {"SEALNAME", "Key Seal"},
                             {"STANDARD", "1"},
                             {"DLLNAME", "/VaroSupport/TokenSign_LM"},
                             {"DEVICEURL", QString("LM_GM3000&") + kDevice}};
  EXPECT_EQ(answer["seals"].toArray(), QJsonArray{expected}) << plugin.out.toStdString();
}

using KeySealsOldForm = KeySeals;

TEST_P(KeySealsOldForm, AnUnreadableSealIsNotServedAndADetachedKeyListsNothing) {
  ASSERT_EQ(reader({"seals"}).status, 0);  // the driver keeps its copy of the seal now
  const std::string copy =
      std::string(varo::kInstallRoot) + varo::kSealStoreDirectory + identifier_ + ".dat";
  std::string record = readFile(copy);
  ASSERT_FALSE(record.empty());
  record[record.size() / 2] ^= 1;
  std::ofstream(copy, std::ios::binary | std::ios::trunc) << record;
  // The key itself serves its old-form seal: a damaged copy does not matter.
  ToolRun fetched = reader({"--json", "seal", qs(sealId_), qs(path("fetched.der"))});
  EXPECT_EQ(fetched.status, 0) << fetched.out.toStdString() << log();
  EXPECT_EQ(readFile(path("fetched.der")), seal_);
  // With the key's old files unreadable too, the seal is not served.
  varo::softkey::FaultSpec unreadable;
  unreadable.function = "SKF_ReadFile";
  unreadable.code = 0x0A000007;
  unreadable.name = "PIC1";
  ASSERT_TRUE(keys_->addFault(unreadable).ok());
  ::unlink(("/tmp/" + identifier_ + ".seal").c_str());  // the file of the fetch before
  fetched = reader({"--json", "seal", qs(sealId_), qs(path("fetched.der"))});
  EXPECT_EQ(fetched.status, 1);
  EXPECT_EQ(QJsonDocument::fromJson(fetched.out).object()["result"].toInt(), 4400);
  EXPECT_NE(log().find("cannot be read"), std::string::npos) << log();
  ASSERT_TRUE(keys_->clearFaults().ok());

  ASSERT_TRUE(keys_->detachKey(kDevice).ok());
  const ToolRun listed = reader({"seals"});
  EXPECT_EQ(listed.status, 0) << listed.err.toStdString() << log();
  EXPECT_TRUE(listed.out.contains("seals: 0\n")) << listed.out.toStdString();
  EXPECT_EQ(readFile("/tmp/varo.list"), "[]");
  EXPECT_TRUE(varo::testing::ask(service_->port(), "{\"COM\":\"0\"}").has_value());
}

INSTANTIATE_TEST_SUITE_P(StoredEachWay, KeySeals,
                         ::testing::Values("--store-old", "--store", "convert"));
INSTANTIATE_TEST_SUITE_P(OldForm, KeySealsOldForm, ::testing::Values("--store-old"));

}  // namespace

// Seal list, seal and picture retrieval through the files the service leaves
// under /tmp, with a scripted service on the real port.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "oes_api.h"
#include "varo/fake_service.h"
#include "varo/tmp_files.h"

namespace {

using varo::testing::FakeReply;
using varo::testing::FakeService;
using varo::testing::TmpFiles;

constexpr const char* kList = "/tmp/varo.list";
const std::string kListBytes = "[{\"SEALID\":\"H5A@LM_GM3000&K1@/VaroSupport/TokenSign_LM\"}]";

class SealFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    files.track(kList);
    ASSERT_TRUE(service.start());
  }
  FakeService service;
  TmpFiles files;
  varo::testing::TraceDir trace;
};

TEST_F(SealFiles, ListResultsFollowTheServiceAndTheListFile) {
  struct Case {
    const char* name;
    FakeReply reply;
    bool listBefore;     // the list file exists before the call
    bool serviceWrites;  // the service (re)writes the list
    std::string written;
    int expected;
    int length;
  };
  const Case cases[] = {
      {"list gathered", FakeReply::of("{\"SEALLIST\":\"OK\"}"), false, true, kListBytes, 0,
       int(kListBytes.size())},
      {"reply without the marker, list present", FakeReply::of("{\"ERR\":\"x\"}"), true, false, "",
       4398, -7},
      {"reply without brace", FakeReply::of("SEALLIST"), true, false, "", 4410, -7},
      {"no list file", FakeReply::of("{\"SEALLIST\":1}"), false, false, "", 4400, -7},
      {"empty list file", FakeReply::of("{\"SEALLIST\":1}"), false, true, "", 4400, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove(kList);
    if (c.listBefore) files.write(kList, kListBytes);
    FakeReply reply = c.reply;
    if (c.serviceWrites) reply.files = {{kList, c.written}};
    service.setDefault(reply);
    service.clearRequests();
    int length = -7;
    EXPECT_EQ(OES_GetSealList(nullptr, &length), c.expected);
    EXPECT_EQ(length, c.length);
    ASSERT_EQ(service.requestCount(), 1u);
    EXPECT_NE(service.requests()[0].find("{\"COM\":\"1\",\"DOCTYPE\":\"VAROOFD\",\"RANDOM\":\""),
              std::string::npos);
  }
  service.stop();
  int length = 0;
  EXPECT_EQ(OES_GetSealList(nullptr, &length), 4410);
  EXPECT_EQ(OES_GetSealList(nullptr, nullptr), 4371);
}

TEST_F(SealFiles, ListCopyReadsTheFileWithoutAskingTheService) {
  files.write(kList, kListBytes);
  std::vector<unsigned char> buffer(kListBytes.size() + 8, 0xEE);
  int length = int(kListBytes.size());
  EXPECT_EQ(OES_GetSealList(buffer.data(), &length), 0);
  EXPECT_EQ(length, int(kListBytes.size()));
  EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + length), kListBytes);
  EXPECT_EQ(buffer[kListBytes.size()], 0xEE);
  EXPECT_EQ(service.requestCount(), 0u);

  // A buffer the caller says is smaller is refused and left alone.
  std::vector<unsigned char> small(8, 0xEE);
  length = 8;
  EXPECT_EQ(OES_GetSealList(small.data(), &length), 4371);
  EXPECT_EQ(small, std::vector<unsigned char>(8, 0xEE));

  std::remove(kList);
  EXPECT_EQ(OES_GetSealList(buffer.data(), &length), 4400);
  files.write(kList, "");
  EXPECT_EQ(OES_GetSealList(buffer.data(), &length), 4400);
}

TEST_F(SealFiles, SealIdIsCutAtTheAtSignAndByLengthAndNeverLeavesTmp) {
  files.write("/tmp/H5ABC.seal", "abc-seal");
  files.write("/tmp/H5.seal", "h5");
  struct Case {
    std::string id;
    int length;
    int expected;
    int sealLength;
  };
  const Case cases[] = {
      {"H5ABC@DEF", 9, 0, 8},
      {"H5ABC@DEF", 2, 0, 2},          // only "H5"
      {"H5ABC", 100, 0, 8},            // a length past the text ends at its zero byte
      {"H5ABC@DEF", 0, 4371, -1},      // empty id
      {"@H5ABC", 6, 4371, -1},         // empty id
      {"../tmp/H5ABC", 12, 4371, -1},  // "/" in the id
      {"..", 2, 4371, -1},
      {".", 1, 4371, -1},
      {std::string(100, 'x') + "@A", 102, 4371, -1},
  };
  service.setDefault(FakeReply::of("{}"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id + " / " + std::to_string(c.length));
    int length = -1;
    std::string id = c.id;
    EXPECT_EQ(OES_GetSeal(reinterpret_cast<unsigned char*>(id.data()), c.length, nullptr, &length),
              c.expected);
    EXPECT_EQ(length, c.sealLength);
  }
  EXPECT_EQ(service.requestCount(), 0u);  // cached files, or refused before any request
  EXPECT_TRUE(trace.has("getseal1"));
}

TEST_F(SealFiles, MissingSealFileIsAskedForOnceAndThenCopied) {
  const std::string path = "/tmp/H5NEW.seal";
  files.track(path);
  unsigned char id[] = "H5NEW@LM_GM3000&K1@/VaroSupport/TokenSign_LM";
  const int idLength = int(sizeof id - 1);

  // Service down: the transport code comes back as it is.
  service.stop();
  int length = -1;
  EXPECT_EQ(OES_GetSeal(id, idLength, nullptr, &length), 3);
  EXPECT_TRUE(trace.has("getseal3"));

  // The service answers but writes nothing.
  ASSERT_TRUE(service.start());
  service.setDefault(FakeReply::of("{\"COM\":\"12\"}"));
  EXPECT_EQ(OES_GetSeal(id, idLength, nullptr, &length), 4400);
  EXPECT_TRUE(trace.has("getseal4"));
  EXPECT_EQ(trace.read("getseal_id.txt"), path);

  // The service writes the file.
  FakeReply writes = FakeReply::of("{}");
  writes.files = {{path, "the-seal-der"}};
  service.setDefault(writes);
  service.clearRequests();
  EXPECT_EQ(OES_GetSeal(id, idLength, nullptr, &length), 0);
  EXPECT_EQ(length, 12);
  ASSERT_EQ(service.requests(), std::vector<std::string>{"{\"COM\":\"12\"}"});

  std::vector<unsigned char> buffer(length + 4, 0xEE);
  EXPECT_EQ(OES_GetSeal(id, idLength, buffer.data(), &length), 0);
  EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 12), "the-seal-der");
  EXPECT_EQ(buffer[12], 0xEE);
  EXPECT_TRUE(trace.has("getseal2"));
  length = 5;
  EXPECT_EQ(OES_GetSeal(id, idLength, buffer.data(), &length), 4371);
  EXPECT_EQ(service.requestCount(), 1u);  // the later calls used the file
  EXPECT_EQ(OES_GetSeal(id, idLength, nullptr, nullptr), 4371);
}

TEST_F(SealFiles, PictureRecordGivesSizeAndBytesAfterItsHeader) {
  const std::string seal = "a seal for the picture test";
  auto* sealBytes = reinterpret_cast<unsigned char*>(const_cast<char*>(seal.data()));
  const std::string path =
      "/tmp/" + varo::testing::pictureDigestText(varo::ByteSpan(seal)) + ".pic";
  files.track(path);
  struct Case {
    const char* name;
    std::string record;
    int expected;
    int pictureLength, width, height;
  };
  std::string negative = varo::testing::pictureRecord(-2, 7, "P");
  negative[4] = '\x55';  // high half of the width is ignored
  const Case cases[] = {
      {"picture", varo::testing::pictureRecord(120, 80, "PNGDATA"), 0, 7, 120, 80},
      {"header only", varo::testing::pictureRecord(3, 4, ""), 0, 0, 3, 4},
      {"high half ignored", negative, 0, 1, -2, 7},
      {"shorter than the header", std::string(10, '\1'), 4400, -1, -1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    files.write(path, c.record);
    int length = -1, width = -1, height = -1;
    EXPECT_EQ(OES_GetSealImage(sealBytes, int(seal.size()), 0, nullptr, &length, &width, &height),
              c.expected);
    EXPECT_EQ(length, c.pictureLength);
    EXPECT_EQ(width, c.width);
    EXPECT_EQ(height, c.height);
    if (c.expected != 0) continue;
    std::vector<unsigned char> buffer(size_t(length) + 4, 0xEE);
    EXPECT_EQ(
        OES_GetSealImage(sealBytes, int(seal.size()), 1, buffer.data(), &length, &width, &height),
        0);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + length), c.record.substr(16));
    EXPECT_EQ(buffer[size_t(length)], 0xEE);
  }
  EXPECT_EQ(service.requestCount(), 0u);
  EXPECT_EQ(trace.read("picpath.txt"), path);
  EXPECT_EQ(trace.read("asnhash1.dat").size(), 32u);
}

TEST_F(SealFiles, MissingPictureIsAskedForWithItsTransportResult) {
  const std::string seal = "another seal";
  auto* sealBytes = reinterpret_cast<unsigned char*>(const_cast<char*>(seal.data()));
  const std::string path =
      "/tmp/" + varo::testing::pictureDigestText(varo::ByteSpan(seal)) + ".pic";
  files.track(path);
  int length = -1, width = 0, height = 0;
  service.setDefault(FakeReply::of("{}"));
  EXPECT_EQ(OES_GetSealImage(sealBytes, int(seal.size()), 0, nullptr, &length, &width, &height),
            4400);
  FakeReply writes = FakeReply::of("{}");
  writes.files = {{path, varo::testing::pictureRecord(9, 8, "xyz")}};
  service.setDefault(writes);
  EXPECT_EQ(OES_GetSealImage(sealBytes, int(seal.size()), 0, nullptr, &length, &width, &height), 0);
  EXPECT_EQ(length, 3);
  EXPECT_EQ(service.countRequests("{\"COM\":\"13\"}"), 2u);
  std::remove(path.c_str());
  service.setDefault(FakeReply::of("nothing"));
  EXPECT_EQ(OES_GetSealImage(sealBytes, int(seal.size()), 0, nullptr, &length, &width, &height),
            4399);
  service.stop();
  EXPECT_EQ(OES_GetSealImage(sealBytes, int(seal.size()), 0, nullptr, &length, &width, &height), 3);
  EXPECT_EQ(OES_GetSealImage(nullptr, 0, 0, nullptr, &length, &width, &height), 4371);
  EXPECT_EQ(OES_GetSealImage(sealBytes, int(seal.size()), 0, nullptr, &length, nullptr, &height),
            4371);
}

// What another local user can plant under a seal file's name before the
// reader asks for it is never taken for the service's file: the service is
// asked, and the planted bytes never reach the reader.
TEST_F(SealFiles, PlantedSealFilesAreNotTheServices) {
  const std::string path = "/tmp/H5PLANT.seal", victim = "/tmp/H5PLANT-victim";
  files.track(path);
  files.track(victim);
  unsigned char id[] = "H5PLANT@LM_GM3000&K1@/VaroSupport/TokenSign_LM";
  const int idLength = int(sizeof id - 1);
  service.setDefault(FakeReply::of("{\"COM\":\"12\"}"));  // writes nothing
  const struct {
    const char* name;
    std::function<bool()> plant;
  } cases[] = {
      {"a link to a private file",
       [&] {
         std::ofstream(victim) << "private bytes";
         return ::symlink(victim.c_str(), path.c_str()) == 0;
       }},
      {"a second link of a file",
       [&] {
         std::ofstream(victim) << "planted bytes";
         return ::link(victim.c_str(), path.c_str()) == 0;
       }},
      {"another user's file",
       [&] {
         std::ofstream(path) << "planted bytes";
         return ::geteuid() == 0 && ::chown(path.c_str(), 65534, 65534) == 0;
       }},
      {"a FIFO", [&] { return ::mkfifo(path.c_str(), 0600) == 0; }},
  };
  for (const auto& c : cases) {
    ::unlink(path.c_str());
    ::unlink(victim.c_str());
    if (!c.plant()) continue;  // another user's file needs root
    service.clearRequests();
    int length = -1;
    EXPECT_EQ(OES_GetSeal(id, idLength, nullptr, &length), 4400) << c.name;
    EXPECT_EQ(service.requestCount(), 1u) << c.name;
    std::vector<unsigned char> buffer(64, 0xEE);
    length = 64;
    EXPECT_EQ(OES_GetSeal(id, idLength, buffer.data(), &length), 4400) << c.name;
    EXPECT_EQ(buffer, std::vector<unsigned char>(64, 0xEE)) << c.name;
  }
  ::unlink(path.c_str());
}

}  // namespace

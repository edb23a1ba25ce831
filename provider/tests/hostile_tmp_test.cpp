// What another local user can leave under /tmp: a trace directory of their
// own full of links, FIFOs and files of theirs under the trace files' names,
// and links, FIFOs or files of theirs under the names of the list and
// picture files. Nothing is written through them, nothing planted reaches
// the reader, and no call waits on a FIFO.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "oes_api.h"
#include "pin_handover.h"
#include "service_client.h"
#include "varo/client_log.h"
#include "varo/fake_service.h"
#include "varo/tmp_files.h"
#include "varo/trace.h"

namespace {

using varo::testing::FakeReply;
using varo::testing::FakeService;
using varo::testing::TmpFiles;

constexpr uid_t kOtherUser = 65534;  // nobody

// How a name is planted: a link to the victim, a second hard link of it, a
// FIFO, or a file that belongs to another user; or not at all.
enum class Plant { SymbolicLink, HardLink, Fifo, OtherUsersFile, Nothing };

struct Planted {
  Plant kind;
  const char* name;
};

const Planted kPlants[] = {{Plant::SymbolicLink, "a link to a private file"},
                           {Plant::HardLink, "a second link of a file"},
                           {Plant::Fifo, "a FIFO"},
                           {Plant::OtherUsersFile, "another user's file"},
                           {Plant::Nothing, "nothing"}};

const std::string kVictimText = "private bytes";

void writeText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}
const std::string kTheirText = "their bytes";

// Plants path as kind, with victim as the target of the links. False when
// it cannot be done here (another user's file needs root).
bool plant(Plant kind, const std::string& path, const std::string& victim) {
  ::unlink(path.c_str());
  switch (kind) {
    case Plant::SymbolicLink:
      return ::symlink(victim.c_str(), path.c_str()) == 0;
    case Plant::HardLink:
      return ::link(victim.c_str(), path.c_str()) == 0;
    case Plant::Fifo:
      return ::mkfifo(path.c_str(), 0666) == 0;
    case Plant::OtherUsersFile: {
      writeText(path, kTheirText);
      return ::geteuid() == 0 && ::chown(path.c_str(), kOtherUser, kOtherUser) == 0;
    }
    case Plant::Nothing:
      return true;
  }
  return false;
}

// The planted name is still what was planted (a name left free is still
// free), and the victim unchanged.
void expectIntact(Plant kind, const std::string& path, const std::string& victim) {
  struct stat st {};
  if (kind == Plant::Nothing) {
    EXPECT_NE(::lstat(path.c_str(), &st), 0) << path << " was written";
    return;
  }
  ASSERT_EQ(::lstat(path.c_str(), &st), 0) << path << " was removed";
  switch (kind) {
    case Plant::SymbolicLink:
      EXPECT_TRUE(S_ISLNK(st.st_mode)) << path;
      break;
    case Plant::HardLink:
      EXPECT_GE(st.st_nlink, 2u) << path;
      break;
    case Plant::Fifo:
      EXPECT_TRUE(S_ISFIFO(st.st_mode)) << path;
      break;
    case Plant::OtherUsersFile:
      EXPECT_EQ(st.st_uid, kOtherUser) << path;
      EXPECT_EQ(varo::testing::readFile(path), kTheirText) << path;
      break;
    case Plant::Nothing:
      break;
  }
  EXPECT_EQ(varo::testing::readFile(victim), kVictimText) << path;
}

// /tmp/varolog as another user made it (world-writable, theirs) for the
// scope; one that was there is moved aside and put back.
class ForeignTraceDirectory {
 public:
  ForeignTraceDirectory() {
    struct stat st {};
    saved_ = ::lstat(kDir.c_str(), &st) == 0 && ::rename(kDir.c_str(), kSaved.c_str()) == 0;
    created_ = ::mkdir(kDir.c_str(), 0777) == 0;
    ok_ = created_ && ::chmod(kDir.c_str(), 0777) == 0 &&
          (::geteuid() != 0 || ::chown(kDir.c_str(), kOtherUser, kOtherUser) == 0);
  }
  ~ForeignTraceDirectory() {
    // Only what this scope made is removed; it is renamed first, so that
    // nothing written meanwhile keeps the old directory from coming back.
    const std::string gone = kDir + ".removed-by-hostile-test";
    if (created_ && ::rename(kDir.c_str(), gone.c_str()) == 0)
      std::system(("rm -rf " + gone).c_str());
    if (saved_) ::rename(kSaved.c_str(), kDir.c_str());
  }
  bool ok() const { return ok_; }
  std::string file(const std::string& name) const { return kDir + "/" + name; }

 private:
  const std::string kDir = varo::trace::kDirectory;
  const std::string kSaved = kDir + ".saved-by-hostile-test";
  bool saved_ = false, created_ = false, ok_ = false;
};

TEST(HostileTmp, TraceFilesInAnotherUsersDirectoryAreNeverWrittenThrough) {
  varo::testing::TempDir scratch("hostile-trace");
  ASSERT_TRUE(scratch.ok());
  const std::string victim = scratch.file("victim");
  FakeService service;
  ASSERT_TRUE(service.start());
  service.setDefault(FakeReply::of("{\"ERR\":\"ERR_NOERR\"}"));
  TmpFiles files;
  files.track("/tmp/H5TRACE.seal");
  const std::string seal = "a seal for the trace test";
  files.track("/tmp/" + varo::testing::pictureDigestText(varo::ByteSpan(seal)) + ".pic");

  // Flows of the provider, the driver's and the plug-ins' log writers, and
  // the trace files each writes.
  const std::vector<std::string> names = {"getseal3",           "getseal4",    "getseal_id.txt",
                                          "asnhash1.dat",       "picpath.txt", "recv.txt",
                                          "list.txt",           "ukname1.txt", "inGetSignDateTime1",
                                          "inGetSignDateTime2", "INOES_Sign1", "clientlog.txt"};
  const std::function<void()> flows[] = {
      [] {
        unsigned char id[] = "H5TRACE@T&K@/VaroSupport/TokenSign_LM";
        int length = 0;
        EXPECT_EQ(OES_GetSeal(id, int(sizeof id - 1), nullptr, &length), 4400);
      },
      [&] {
        int length = 0, width = 0, height = 0;
        auto* bytes = reinterpret_cast<unsigned char*>(const_cast<char*>(seal.data()));
        EXPECT_EQ(OES_GetSealImage(bytes, int(seal.size()), 0, nullptr, &length, &width, &height),
                  4400);
      },
      [] {
        char id[] = "H5TRACE";
        EXPECT_EQ(VerifySealById(id), 0);
      },
      [] {
        unsigned char text[16] = {};
        int length = 16;
        EXPECT_EQ(OES_GetSignDateTime(text, &length), 0);
      },
      [] {
        int length = 0;
        varo::provider::pin::clear();
        OES_Sign(nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, &length);
      },
      [] {
        unsigned char list[] = "[{\"ID\":\"1\",\"NAME\":\"x\"}]";
        varo::trace::dumpExact("/tmp/varolog/list.txt", list, sizeof list - 1);
        varo::trace::dumpExact("/tmp/varolog/ukname1.txt", "K1", 2);
        varo::writeClientLog("a message");
      },
  };
  for (const Planted& p : kPlants) {
    SCOPED_TRACE(p.name);
    ForeignTraceDirectory dir;
    ASSERT_TRUE(dir.ok());
    writeText(victim, kVictimText);
    bool planted = true;
    for (const std::string& name : names)
      planted = plant(p.kind, dir.file(name), victim) && planted;
    if (!planted) continue;  // another user's file needs root
    const auto start = std::chrono::steady_clock::now();
    for (const auto& flow : flows) flow();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    for (const std::string& name : names) expectIntact(p.kind, dir.file(name), victim);
  }
}

TEST(HostileTmp, PlantedListAndPictureFilesAreNotTheServices) {
  varo::testing::TempDir scratch("hostile-planted");
  ASSERT_TRUE(scratch.ok());
  const std::string victim = scratch.file("victim");
  const std::string seal = "a seal whose picture is planted";
  auto* sealBytes = reinterpret_cast<unsigned char*>(const_cast<char*>(seal.data()));
  const std::string picture =
      "/tmp/" + varo::testing::pictureDigestText(varo::ByteSpan(seal)) + ".pic";
  TmpFiles files;
  files.track("/tmp/varo.list");
  files.track(picture);
  FakeService service;
  ASSERT_TRUE(service.start());
  // The service answers, but leaves no file of its own.
  service.on("\"COM\":\"1\"", FakeReply::of("{\"SEALLIST\":\"OK\"}"));
  service.setDefault(FakeReply::of("{}"));

  struct File {
    std::string path;
    std::function<int(unsigned char* buffer, int* length)> read;
  };
  const File planted[] = {
      {"/tmp/varo.list", [](unsigned char* b, int* l) { return OES_GetSealList(b, l); }},
      {picture,
       [&](unsigned char* b, int* l) {
         int width = -3, height = -3;
         int rc = OES_GetSealImage(sealBytes, int(seal.size()), 0, b, l, &width, &height);
         return rc == 0 || (width == -3 && height == -3) ? rc : -1;
       }},
  };
  for (const File& f : planted) {
    for (const Planted& p : kPlants) {
      SCOPED_TRACE(f.path + ": " + p.name);
      // Content that would pass for the service's, were it taken.
      writeText(victim, kVictimText);
      if (!plant(p.kind, f.path, victim)) continue;
      service.clearRequests();
      const auto start = std::chrono::steady_clock::now();
      int length = -1;
      EXPECT_EQ(f.read(nullptr, &length), 4400);
      EXPECT_EQ(length, -1);
      EXPECT_EQ(service.requestCount(), 1u);
      std::vector<unsigned char> buffer(64, 0xEE);
      length = 64;
      EXPECT_EQ(f.read(buffer.data(), &length), 4400);
      EXPECT_EQ(buffer, std::vector<unsigned char>(64, 0xEE));
      EXPECT_EQ(length, 64);
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
      expectIntact(p.kind, f.path, victim);
      ::unlink(f.path.c_str());
    }
  }
}

// A seal id from a planted list whose identifier climbs out of /tmp: the
// signing refuses it before any seal file is asked for or read.
TEST(HostileTmp, SealIdsThatClimbOutOfTmpAreNeverRead) {
  varo::testing::TempDir outside("hostile-climb");
  ASSERT_TRUE(outside.ok());
  writeText(outside.file("H5CLIMB.seal"), "outside bytes");
  FakeService service;
  ASSERT_TRUE(service.start());
  service.setDefault(FakeReply::of("{\"ERR\":\"ERR_NOERR\"}"));
  const std::string below = outside.path().substr(5) + "/H5CLIMB";  // below /tmp
  const std::string climbs[] = {below, "../tmp/" + below,
                                "../../../.." + outside.path() + "/H5CLIMB", "..", "."};
  for (const std::string& identifier : climbs) {
    SCOPED_TRACE(identifier);
    std::string id = identifier + "@LM_GM3000&K1@/VaroSupport/TokenSign_LM";
    ASSERT_TRUE(varo::provider::pin::put("12345678"));
    service.clearRequests();
    unsigned char digest[32] = {};
    std::vector<unsigned char> signature(1024, 0xEE);
    int length = int(signature.size());
    EXPECT_EQ(OES_Sign(reinterpret_cast<unsigned char*>(id.data()), int(id.size()), nullptr, 0,
                       digest, 32, nullptr, 0, nullptr, 0, signature.data(), &length),
              4371);
    EXPECT_EQ(service.countRequests("\"COM\":\"12\""), 0u);
    EXPECT_EQ(signature, std::vector<unsigned char>(1024, 0xEE));
  }
  varo::provider::pin::clear();
}

}  // namespace

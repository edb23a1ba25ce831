#include "varo/trace.h"
#include "varo/client_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs the body with /tmp/varolog in a given state and restores it after.
class TraceDirectory : public ::testing::Test {
 protected:
  void SetUp() override {
    struct stat st;
    existed_ = ::lstat(dir_.c_str(), &st) == 0;
    if (existed_) {
      ASSERT_EQ(::rename(dir_.c_str(), saved_.c_str()), 0);
    }
  }
  void TearDown() override {
    std::system(("rm -rf " + dir_ + " /tmp/varolog-target").c_str());
    if (existed_) ::rename(saved_.c_str(), dir_.c_str());
  }
  const std::string dir_ = varo::trace::kDirectory;
  const std::string saved_ = dir_ + ".saved-by-test";
  bool existed_ = false;
};

TEST_F(TraceDirectory, WithoutTheDirectoryNothingIsWrittenOrCreated) {
  varo::trace::marker("checkpoint1");
  struct stat st;
  EXPECT_NE(::lstat(dir_.c_str(), &st), 0);
}

TEST_F(TraceDirectory, MarkersAndDumpsArePrivateRegularFiles) {
  ASSERT_EQ(::mkdir(dir_.c_str(), 0755), 0);
  varo::trace::marker("checkpoint1");
  EXPECT_EQ(readFile(dir_ + "/checkpoint1"), std::string(10, '\0'));
  struct stat st;
  ASSERT_EQ(::stat((dir_ + "/checkpoint1").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  varo::trace::dump((dir_ + "/recv.txt").c_str(), "hello world", 11);
  varo::trace::dump((dir_ + "/recv.txt").c_str(), "bye", 3);  // truncates
  EXPECT_EQ(readFile(dir_ + "/recv.txt"), "bye");
  varo::trace::dump((dir_ + "/empty.txt").c_str(), "", 0);
  EXPECT_EQ(readFile(dir_ + "/empty.txt"), std::string(10, '\0'));
  varo::trace::marker("../escape");
  EXPECT_NE(::lstat("/tmp/escape", &st), 0);
}

TEST_F(TraceDirectory, SymbolicLinksAreNeverFollowed) {
  ASSERT_EQ(::mkdir("/tmp/varolog-target", 0755), 0);
  // The directory itself is a link: nothing is written through it.
  ASSERT_EQ(::symlink("/tmp/varolog-target", dir_.c_str()), 0);
  varo::trace::marker("checkpoint1");
  struct stat st;
  EXPECT_NE(::lstat("/tmp/varolog-target/checkpoint1", &st), 0);
  ASSERT_EQ(::unlink(dir_.c_str()), 0);

  // A file in the directory is a link: its target stays as it was.
  ASSERT_EQ(::mkdir(dir_.c_str(), 0755), 0);
  { std::ofstream("/tmp/varolog-target/victim") << "keep"; }
  ASSERT_EQ(::symlink("/tmp/varolog-target/victim", (dir_ + "/recv.txt").c_str()), 0);
  varo::trace::dump((dir_ + "/recv.txt").c_str(), "overwrite", 9);
  EXPECT_EQ(readFile("/tmp/varolog-target/victim"), "keep");
  // A hard link to another file is not truncated either.
  ASSERT_EQ(::link("/tmp/varolog-target/victim", (dir_ + "/hard").c_str()), 0);
  varo::trace::marker("hard");
  EXPECT_EQ(readFile("/tmp/varolog-target/victim"), "keep");
}

// Traces and the client log go only into a directory that is the caller's
// own: theirs or root's, writable by nobody else, and no link.
TEST_F(TraceDirectory, OnlyTheCallersOwnDirectoryReceivesTraces) {
  constexpr uid_t kNobody = 65534;
  const bool root = ::geteuid() == 0;
  ::setenv("TMPDIR", "/tmp", 1);  // the client log's directory is the trace directory
  const struct {
    const char* what;
    mode_t mode;
    bool othersOwn;  // made another user's (needs root)
    bool link;       // the name is a link to such a directory
    bool written;
  } cases[] = {
      {"the caller's, 0700", 0700, false, false, true},
      {"the caller's, 0755", 0755, false, false, true},
      {"the caller's, group-writable", 0770, false, false, false},
      {"the caller's, writable by all", 0777, false, false, false},
      {"the caller's, writable by all and sticky", 01777, false, false, false},
      {"another user's, 0700", 0700, true, false, false},
      {"another user's, writable by all", 0777, true, false, false},
      {"a link to the caller's 0700", 0700, false, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.othersOwn && !root) continue;
    const std::string made = c.link ? "/tmp/varolog-target" : dir_;
    ASSERT_EQ(::mkdir(made.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(made.c_str(), c.mode), 0);
    if (c.othersOwn) {
      ASSERT_EQ(::chown(made.c_str(), kNobody, kNobody), 0);
    }
    if (c.link) {
      ASSERT_EQ(::symlink(made.c_str(), dir_.c_str()), 0);
    }
    EXPECT_EQ(varo::trace::active(), c.written);
    varo::trace::marker("checkpoint1");
    varo::trace::MarkerScope().marker("checkpoint2");
    varo::trace::dump((dir_ + "/recv.txt").c_str(), "reply", 5);
    varo::writeClientLog("a message");
    for (const char* name : {"checkpoint1", "checkpoint2", "recv.txt", "clientlog.txt"}) {
      struct stat st;
      EXPECT_EQ(::lstat((made + "/" + name).c_str(), &st) == 0, c.written) << name;
    }
    std::system(("rm -rf " + dir_ + " /tmp/varolog-target").c_str());
  }
}

}  // namespace

// DoIt of the offline seal-list plug-in against the installed tool library,
// with fake drivers staged in the installed driver directory; the real
// directory is moved aside for each test and put back whatever happens.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "VaroGetSealListOfficeLine.h"
#include "varo/tmp_files.h"
#include "varo/install_root.h"

namespace {

namespace fs = std::filesystem;

const fs::path kDriverDir = fs::path(varo::kInstallRoot) / "VaroSupport/uklibrary";
const fs::path kSavedDir = fs::path(varo::kInstallRoot) / "VaroSupport/uklibrary.offline-test";
const std::string kModule = "/VaroSupport/TokenSign_LM";  // the tool library's for LM_GM3000

// The installed driver directory replaced by an empty one for the scope.
class DriverDir {
 public:
  DriverDir() {
    if (fs::exists(kSavedDir)) restore();  // left behind by an interrupted run
    std::error_code ec;
    fs::rename(kDriverDir, kSavedDir, ec);
    moved_ = !ec && fs::create_directory(kDriverDir);
  }
  ~DriverDir() {
    if (moved_) restore();
  }
  DriverDir(const DriverDir&) = delete;
  DriverDir& operator=(const DriverDir&) = delete;
  bool ok() const { return moved_; }
  void add(const std::string& name, const char* library) {
    fs::copy_file(library, kDriverDir / name, fs::copy_options::overwrite_existing);
  }
  void addText(const std::string& name, const std::string& text) {
    std::ofstream(kDriverDir / name) << text;
  }
  void remove() { fs::remove_all(kDriverDir); }

 private:
  static void restore() {
    std::error_code ec;
    fs::remove_all(kDriverDir, ec);
    fs::rename(kSavedDir, kDriverDir, ec);
  }
  bool moved_ = false;
};

using Text = std::optional<std::string>;

// An environment variable set (or, without a value, unset) for the scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const Text& value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    value ? setenv(name, value->c_str(), 1) : unsetenv(name);
  }
  ~ScopedEnv() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

std::string doIt() {
  std::vector<char> out(1 << 20, 0);
  DoIt("", out.data());
  return std::string(out.data(), strnlen(out.data(), out.size()));
}

std::string seal(const std::string& id, const std::string& name, const std::string& standard,
                 const std::string& module, const std::string& url) {
  return "{\"SEALID\":\"" + id + "\",\"SEALNAME\":\"" + name + "\",\"STANDARD\":\"" + standard +
         "\",\"DLLNAME\":\"" + module + "\",\"DEVICEURL\":\"" + url + "\"}";
}

// A driver list entry as the GM3000 driver reports it.
std::string entry(const std::string& id, const std::string& name, const std::string& url) {
  return "{\"ID\":\"" + id + "\",\"NAME\":\"" + name +
         "\",\"VER\":\"1\",\"FILENAME\":\"093015250\",\"TYPE\":\"1\",\"DEVICEURL\":\"" + url +
         "\"}";
}

class OfflineList : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(drivers_.ok() && temp_.isValid()); }
  DriverDir drivers_;
  // The system temporary directory of the plug-in's client log: the test's own.
  QTemporaryDir temp_;
  const std::string tempDir_ = temp_.path().toStdString();
  ScopedEnv tmpdir_{"TMPDIR", tempDir_};
};

TEST_F(OfflineList, MergesTheListsOfEveryDriverInNameOrderIgnoringCase) {
  // Byte order would visit B before a; the other entries are no drivers.
  drivers_.add("libVaroDeviceBase_B.so", FAKE_DRIVER_B);
  drivers_.add("libVaroDeviceBase_a.so", FAKE_DRIVER_A);
  drivers_.add("libOther.so", FAKE_DRIVER_A);
  drivers_.add(".libVaroDeviceBase_hidden.so", FAKE_DRIVER_A);
  fs::create_directory(kDriverDir / "libVaroDeviceBase_dir.so");

  std::string longList = "[", longSeals;
  for (int i = 0; i < 40; ++i) {
    const std::string id = std::to_string(i), name(100, char('a' + i % 26));
    longList += (i ? "," : "") + entry(id, name, "LM_GM3000&K");
    longSeals += (i ? "," : "") + seal(id, name, "1", kModule, "LM_GM3000&K");
  }
  longList += "]";
  const std::string tooLong = "[" + entry("x", std::string(70000, 'x'), "u") + "]";

  struct Case {
    const char* what;
    Text listA, listB, lengthA, lengthB;
    std::string expected;
  };
  const Case cases[] = {
      {"no key", {}, {}, {}, {}, "[]"},
      {"seals of both, equal types, no DEVICEURL, numbers",
       "[" + entry("1", "甲", "LM_GM3000&K1") + "," + entry("2", "B", "LM_GM3000&K1") + "]",
       "[{\"ID\":7,\"NAME\":\"C\",\"TYPE\":2}]",
       {},
       {},
       "[" + seal("1", "甲", "1", kModule, "LM_GM3000&K1") + "," +
           seal("2", "B", "1", kModule, "LM_GM3000&K1") + "," + seal("7", "C", "2", "", "") + "]"},
      {"not JSON, not an array", "[{\"ID\":", "{\"ID\":\"1\"}", {}, {}, "[]"},
      {"an element that is no object, a quote in a value",
       "[]",
       "[1,{\"ID\":\"q\\\"t\",\"NAME\":\"b\\\\s\"}]",
       {},
       {},
       "[" + seal("", "", "", "", "") + "," + seal("q\\\"t", "b\\\\s", "", "", "") + "]"},
      {"a list beyond 1000 bytes; one beyond the buffer",
       longList,
       tooLong,
       {},
       {},
       "[" + longSeals + "]"},
      {"negative and too large lengths", longList, longList, "-1", "1048576", "[]"},
      {"the reported length cuts the text",
       "[{\"ID\":\"1\"}]garbage",
       {},
       "12",
       {},
       "[" + seal("1", "", "", kModule, "") + "]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScopedEnv listA("VARO_FAKE_LIST_A", c.listA), listB("VARO_FAKE_LIST_B", c.listB),
        lengthA("VARO_FAKE_LENGTH_A", c.lengthA), lengthB("VARO_FAKE_LENGTH_B", c.lengthB);
    EXPECT_EQ(doIt(), c.expected);
  }
}

TEST_F(OfflineList, LeavesOutTheSealsThatWouldOverrunTheCallersBuffer) {
  // Two lists of 64 KiB of bare numbers: every element is a seal of about a
  // hundred bytes, three megabytes each in all.
  std::string numbers = "[0";
  while (numbers.size() < 64 * 1024 - 3) numbers += ",0";
  numbers += "]";
  ScopedEnv listA("VARO_FAKE_LIST_A", numbers), listB("VARO_FAKE_LIST_B", numbers);
  drivers_.add("libVaroDeviceBase_a.so", FAKE_DRIVER_A);
  drivers_.add("libVaroDeviceBase_b.so", FAKE_DRIVER_B);

  // The first seals, in driver order, as many as fit 1 MiB with the terminator.
  const std::string one = seal("", "", "", kModule, "");
  std::string expected = "[" + one;
  for (size_t n = 1; n < ((1 << 20) - 2) / (one.size() + 1); ++n) expected += "," + one;
  EXPECT_EQ(doIt(), expected + "]");
}

TEST_F(OfflineList, AnswersAnErrorWithoutDriverDirectoryOrToolLibrary) {
  drivers_.remove();
  EXPECT_EQ(doIt(), "ERROR:加载设备库失败");
  fs::create_directory(kDriverDir);

  const std::string tool = std::string(varo::kInstallRoot) + varo::kToolLibraryPath;
  {
    varo::testing::MovedAside aside(varo::kToolLibraryPath);
    ASSERT_TRUE(aside.moved());
    EXPECT_EQ(doIt(), "ERROR:加载工具库失败");
  }

  DoIt(nullptr, nullptr);  // nothing to write to: nothing happens
  EXPECT_EQ(doIt(), "[]");
}

TEST_F(OfflineList, LogsEveryStepToTheClientLogWhenItsDirectoryExists) {
  const std::string logDir = tempDir_ + "/varolog", logFile = logDir + "/clientlog.txt";
  const std::string list = "[" + entry("1", "A", "LM_GM3000&K") + "]";
  ScopedEnv listA("VARO_FAKE_LIST_A", list);
  drivers_.add("libVaroDeviceBase_a.so", FAKE_DRIVER_A);
  drivers_.addText("libVaroDeviceBase_a.so.bak", "not a library\n");

  EXPECT_EQ(doIt(), "[" + seal("1", "A", "1", kModule, "LM_GM3000&K") + "]");
  EXPECT_FALSE(fs::exists(logDir));  // never created

  ASSERT_TRUE(fs::create_directory(logDir));
  const std::string tag = "VaroGetSealListOffLine: ", path = kDriverDir.string() + "/";
  const std::vector<std::string> run = {
      "in VaroGetSealListOffLine",
      tag + "加载工具库成功",
      tag + "加载设备库" + path + "libVaroDeviceBase_a.so成功",
      tag + "SealList  " + list,
      tag + "UKTYPE  LM_GM3000",
      tag + "卸载设备库",
      tag + "加载设备库" + path + "libVaroDeviceBase_a.so.bak失败",
      tag + "返回可用列表\t[" + seal("1", "A", "1", kModule, "LM_GM3000&K") + "]",
  };
  doIt();
  doIt();  // appended
  std::vector<std::string> twice = run;
  twice.insert(twice.end(), run.begin(), run.end());
  EXPECT_EQ(varo::testing::clientLogMessages(logFile), twice);
  EXPECT_EQ(fs::status(logFile).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);

  // A planted link is not followed.
  fs::remove(logFile);
  std::ofstream(tempDir_ + "/other") << "kept";
  fs::create_symlink(tempDir_ + "/other", logFile);
  doIt();
  std::ifstream other(tempDir_ + "/other");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(other), {}), "kept");
}

}  // namespace

// Which files of the local seal store count, how they are replaced, and
// when an owner record speaks for a seal copy.
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>

#include "varo/store_files.h"

namespace {

using varo::StoreRead;

void put(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string contents(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

TEST(StoreFiles, NamesThatStayInsideTheStore) {
  const QString e2 = QString::fromUtf8("\xC3\xA9");  // two UTF-8 bytes
  const struct {
    QString name;
    bool safe;
  } cases[] = {
      {"S1.dat", true},
      {QString(200, 'x'), true},
      {e2.repeated(100), true},
      {QString(201, 'x'), false},
      {e2.repeated(100) + "x", false},
      {"", false},
      {".", false},
      {"..", false},
      {"a/b", false},
      {"a\nb", false},
      {"a\x7f", false},
  };
  for (const auto& c : cases) EXPECT_EQ(varo::isSafeStoreName(c.name), c.safe) << c.name.size();
}

TEST(StoreFiles, OnlyOwnPlainFilesInATrustedDirectoryCount) {
  // A read that opened the FIFO without O_NONBLOCK would wait here for good.
  alarm(60);
  const struct Case {
    const char* what;
    std::function<bool(const std::string& store)> setUp;  // false: not possible here
    const char* name;
    StoreRead status;
    bool trustedStore = true;
    const char* bytes = "";  // when Ok: the first 5 bytes
  } cases[] = {
      {"own file", [](auto& s) { return put(s + "/a", "abcdefg"), true; }, "a", StoreRead::Ok, true,
       "abcde"},
      {"empty file", [](auto& s) { return put(s + "/a", ""), true; }, "a", StoreRead::Absent},
      {"missing file", [](auto&) { return true; }, "a", StoreRead::Absent},
      {"missing store", [](auto& s) { return rmdir(s.c_str()) == 0; }, "a", StoreRead::Absent,
       false},
      {"symlink", [](auto& s) { return put(s + "/g", "x"), symlink("g", (s + "/a").c_str()) == 0; },
       "a", StoreRead::Untrusted},
      {"second hard link",
       [](auto& s) {
         return put(s + "/a", "x"), link((s + "/a").c_str(), (s + "/b").c_str()) == 0;
       },
       "a", StoreRead::Untrusted},
      {"FIFO", [](auto& s) { return mkfifo((s + "/a").c_str(), 0600) == 0; }, "a",
       StoreRead::Untrusted},
      {"other owner",
       [](auto& s) {
         return geteuid() == 0 && (put(s + "/a", "x"), chown((s + "/a").c_str(), 4242, 4242) == 0);
       },
       "a", StoreRead::Untrusted},
      {"name leaving the store", [](auto& s) { return put(s + "/../a", "x"), true; }, "../a",
       StoreRead::Untrusted},
      {"store writable by all",
       [](auto& s) { return put(s + "/a", "x"), chmod(s.c_str(), 0777) == 0; }, "a",
       StoreRead::Untrusted, false},
      {"sticky store writable by all",
       [](auto& s) { return put(s + "/a", "x"), chmod(s.c_str(), 01777) == 0; }, "a", StoreRead::Ok,
       true, "x"},
      {"store is a link",
       [](auto& s) {
         return put(s + "/a", "x"), rename(s.c_str(), (s + ".real").c_str()) == 0 &&
                                        symlink("store.real", s.c_str()) == 0;
       },
       "a", StoreRead::Untrusted, false},
  };
  for (const Case& c : cases) {
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const std::string store = tmp.path().toStdString() + "/store";
    ASSERT_EQ(mkdir(store.c_str(), 0755), 0);
    if (!c.setUp(store)) {
      std::cout << "[ SKIPPED  ] " << c.what << ": not possible for this user\n";
      continue;
    }
    const QString dir = QString::fromStdString(store);
    const varo::StoreFile got = varo::readStoreFile(dir, c.name, 5);
    EXPECT_EQ(got.status, c.status) << c.what << ": " << got.why.toStdString();
    if (c.status == StoreRead::Ok) {
      EXPECT_EQ(got.bytes.toStdString(), c.bytes) << c.what;
    } else {
      EXPECT_TRUE(got.why.contains(dir) && got.bytes.isEmpty())
          << c.what << ": " << got.why.toStdString();
    }
    QString why;
    EXPECT_EQ(varo::isTrustedStoreDirectory(dir, &why), c.trustedStore) << c.what;
    EXPECT_EQ(why.isEmpty(), c.trustedStore) << c.what << ": " << why.toStdString();
  }
  alarm(0);
}

TEST(StoreFiles, ReplacementIsWholeOrNothing) {
  QTemporaryDir tmp;
  ASSERT_TRUE(tmp.isValid());
  const std::string root = tmp.path().toStdString(), store = root + "/store";
  ASSERT_EQ(mkdir(store.c_str(), 0755), 0);
  put(store + "/a.dat", "old, longer contents");
  put(root + "/outside", "outside");
  ASSERT_EQ(symlink("../outside", (store + "/link.dat").c_str()), 0);
  const struct {
    mode_t mode;
    const char* name;
    QByteArray bytes;
    bool replaced;
    std::string after;  // contents of the store file afterwards
  } cases[] = {
      {0755, "a.dat", "new", true, "new"},
      {0755, "a.dat", "", false, "new"},
      {0777, "a.dat", "refused", false, "new"},
      {0755, "../outside", "x", false, "outside"},
      {0755, "link.dat", "the link itself", true, "the link itself"},
  };
  const QString dir = QString::fromStdString(store);
  for (const auto& c : cases) {
    ASSERT_EQ(chmod(store.c_str(), c.mode), 0);
    QString why;
    EXPECT_EQ(varo::replaceStoreFile(dir, c.name, c.bytes, &why), c.replaced) << c.name;
    EXPECT_EQ(why.isEmpty(), c.replaced) << why.toStdString();
    EXPECT_EQ(contents(store + "/" + c.name), c.after) << c.name;
  }
  EXPECT_EQ(contents(root + "/outside"), "outside");  // written around, not through, the link
  EXPECT_EQ(varo::readStoreFile(dir, "link.dat", 100).status, StoreRead::Ok);
  EXPECT_EQ(QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList({"a.dat", "link.dat"}));
}

TEST(StoreFiles, OwnerRecordSpeaksOnlyForItsCopy) {
  QTemporaryDir tmp;
  ASSERT_TRUE(tmp.isValid());
  const QString dir = tmp.path();
  ASSERT_TRUE(varo::replaceStoreFile(
      dir, "S1.key", varo::copyOwnerRecord({"LM_GM3000&K1", "K1"}, "copy"), nullptr));
  const struct {
    const char* identifier;
    QByteArray copy;
    bool known;
  } cases[] = {
      {"S1", "copy", true}, {"S1", "copy!", false}, {"S2", "copy", false}, {"S1", "", false}};
  for (const auto& c : cases) {
    const auto owner = varo::readCopyOwner(dir, c.identifier, c.copy);
    ASSERT_EQ(owner.has_value(), c.known) << c.identifier << " " << c.copy.toStdString();
    if (owner) {
      EXPECT_TRUE(owner->deviceUrl == "LM_GM3000&K1" && owner->serial == "K1");
    }
  }
}

}  // namespace

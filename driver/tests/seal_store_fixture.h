// Seals stored on software keys the way the driver stores them (index,
// chunk files, three-file form), and the local store under the installed
// tree, which a test leaves as it found it.
#pragma once

#include <QDir>

#include <set>
#include <string>

#include "driver_fixture.h"
#include "varo/test_seals.h"

namespace varo::testing {

inline std::string sealStoreDirectory() {
  return std::string(kInstallRoot) + "/sealData";
}

// Removes, at the end of the scope, every file of sealData that was not
// there at its start.
class SealStoreGuard {
 public:
  SealStoreGuard() : before_(names()) {}
  ~SealStoreGuard() {
    for (const std::string& name : added()) QFile::remove(QString::fromStdString(path(name)));
  }
  std::set<std::string> added() const {
    std::set<std::string> now = names(), out;
    for (const auto& n : now)
      if (!before_.count(n)) out.insert(n);
    return out;
  }
  static std::string path(const std::string& name) { return sealStoreDirectory() + "/" + name; }

 private:
  static std::set<std::string> names() {
    std::set<std::string> out;
    for (const QString& n : QDir(QString::fromStdString(sealStoreDirectory()))
                                .entryList(QDir::Files | QDir::Hidden | QDir::System))
      out.insert(n.toStdString());
    return out;
  }
  std::set<std::string> before_;
};

// The index record: the text and zero bytes up to 1024.
inline softkey::Bytes indexRecord(const std::string& text) {
  softkey::Bytes record(text.begin(), text.end());
  record.resize(1024, 0);
  return record;
}

// The chunk files base0, base1, ... of bytes, 51200 payload bytes each.
inline void putChunks(softkey::SoftKeyStore& store, const std::string& device,
                      const std::string& base, const softkey::Bytes& bytes,
                      size_t chunkSize = 51200) {
  size_t k = 0;
  for (size_t at = 0; at < bytes.size() || (at == 0 && k == 0); at += chunkSize, ++k) {
    const size_t n = std::min(chunkSize, bytes.size() - at);
    softkey::Bytes chunk(8 + n + 2, 0);
    for (int i = 0; i < 8; ++i) chunk[i] = uint8_t(uint64_t(n) >> (8 * i));
    std::copy(bytes.begin() + long(at), bytes.begin() + long(at + n), chunk.begin() + 8);
    EXPECT_TRUE(store.putFile(device, base + std::to_string(k), chunk).ok());
    if (bytes.empty()) break;
  }
}

inline std::string indexEntry(const std::string& id, const std::string& name,
                              const std::string& base) {
  return "{\"ID\":\"" + id + "\",\"NAME\":\"" + name + "\",\"VER\":\"1\",\"FILENAME\":\"" + base +
         "\",\"TYPE\":\"1\"}";
}

inline softkey::Bytes patternBytes(size_t n, int seed) {
  softkey::Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = uint8_t(i * 7 + seed + (i >> 9));
  return b;
}

}  // namespace varo::testing

// The driver's reading side over a software key whose files are the fuzz
// input: the seal index, the chunk files, the old three-file form and the
// key's serial number, and the local list of a key without an index. The
// seal list is read (measured, then copied into a buffer of exactly that
// size; and into the 1000 bytes of the plug-ins' original callers), and a
// seal is read by identifier and with a list, measured and copied alike.
// After each input the only lasting effects allowed are flat files in the
// store directory named identifier + ".dat" or serial + ".list"; nothing
// may appear anywhere a name from the key could lead a path.
//
// Input: the operation byte, then parts cut at the separator: index,
// serial, local list, identifier, caller's list, and up to eight further
// key files, each "NAME\nCONTENT".
#include <stdio.h>
#include <stdlib.h>

#include <QString>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "VaroDeviceBase_LM_GM3000.h"
#include "driver_codes.h"
#include "fuzz_input.h"
#include "fuzz_resident.h"
#include "fuzz_temp_dir.h"
#include "key_store.h"
#include "local_store.h"
#include "seal_index.h"
#include "varo/install_root.h"
#include "varo/softkey_admin.h"
#include "varo/store_files.h"

namespace fs = std::filesystem;
using varo::fuzz::ExactBuffer;

namespace {

using varo::fuzz::expect;

enum Part { kIndex, kSerial, kLocalList, kSealId, kCallerList, kFiles, kPartCount = kFiles + 8 };

constexpr const char* kFirstKey = "FUZZKEY1";
constexpr const char* kSecondKey = "FUZZKEY2";
constexpr const char* kDefaultSerial = "FUZZSERIAL000001";
// What the seal list's callers give: the plug-ins' original 1000 bytes, and
// the 64 KiB of the plug-in, ReadSeal by identifier and WriteSeal.
constexpr int kOriginalListBuffer = 1000;
constexpr int kListBuffer = 64 * 1024;
// The list form of ReadSeal takes at most this much of a list; a seal is
// at most 307200 bytes.
constexpr size_t kListFormCapacity = 4096;
constexpr int kSealCapacity = 307200;

std::string storeDirectory() {
  return std::string(varo::kInstallRoot) + "/sealData";
}

std::set<std::string> entries(const std::string& dir) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) names.insert(entry.path().filename());
  return names;
}

struct Fixture {
  varo::fuzz::TempDir work{"varo-fuzz-driver-store"};
  std::string keys, detached, temp;
  std::set<std::string> storeBefore, rootBefore, keysBefore;
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

// The key's files replace whatever it held: blobs and manifest written
// directly in the store's format, under the key's lock.
void writeKey(const std::string& dir, const std::string& serial,
              const std::vector<std::pair<std::string, std::string>>& files) {
  varo::softkey::KeySession session(dir, true);
  expect(session.ok(), "the fuzz key opens");
  varo::softkey::KeyData& key = session.data();
  varo::softkey::Application& app = key.apps.front();
  for (const auto& file : app.files) session.removeBlob(file.blob);
  app.files.clear();
  key.device.serial = serial;
  for (const auto& [name, content] : files) {
    varo::softkey::FileEntry* entry = app.findFile(name);
    if (!entry) {
      app.files.push_back({});
      entry = &app.files.back();
      entry->name = name;
    } else {
      session.removeBlob(entry->blob);
    }
    entry->size = uint32_t(content.size());
    entry->blob = key.nextBlob++;
    expect(session.writeBlob(entry->blob, content), "a key file is written");
  }
  expect(session.save(), "the key's manifest is written");
}

void attachSecondKey(bool attached) {
  Fixture& f = fixture();
  const std::string here = f.keys + "/" + kSecondKey, away = f.detached + "/" + kSecondKey;
  std::error_code ec;
  if (attached && fs::exists(away)) fs::rename(away, here, ec);
  if (!attached && fs::exists(here)) fs::rename(here, away, ec);
}

// The non-empty identifiers of an index or list text (read as the driver
// reads it, up to its first zero byte), in order; none when it is no index.
std::vector<std::string> identifiers(const std::string& text) {
  std::vector<std::string> ids;
  if (const auto listed = gm3000::parseIndex(QString::fromUtf8(text.c_str())))
    for (const gm3000::IndexEntry& entry : *listed) {
      const QString id = entry.value(QStringLiteral("ID"));
      if (!id.isEmpty()) ids.push_back(id.toStdString());
    }
  return ids;
}

// The path the driver would use for a name from the key if it did not
// refuse names that leave the store.
std::string pathFor(const std::string& name, const char* suffix) {
  return std::string(varo::kInstallRoot) + varo::kSealStoreDirectory + name + suffix;
}

// After an input: only flat identifier.dat and serial.list files were added
// to the store (removed again here), nothing was left in the temporary
// directory, the tree and the key store have no new entries, and no file
// exists where an unsafe name would have led.
void checkEffects(const std::vector<std::string>& names) {
  Fixture& f = fixture();
  const std::string store = storeDirectory();
  for (const std::string& name : entries(store)) {
    if (f.storeBefore.count(name)) continue;
    const fs::path path = store + "/" + name;
    auto endsWith = [&](const char* suffix) {
      const size_t n = std::strlen(suffix);
      return name.size() > n && name.compare(name.size() - n, n, suffix) == 0;
    };
    const bool dat = endsWith(".dat"), key = endsWith(".key"), list = endsWith(".list");
    std::error_code ec;
    expect(fs::is_regular_file(fs::symlink_status(path, ec)), "the store gets regular files only");
    expect(dat || key || list || endsWith(".lock"),
           "the store gets seal copies, their owner records, local lists and lock files only");
    expect(varo::isSafeStoreName(QString::fromStdString(name)), "a stored file's name is a safe name");
    fs::remove(path, ec);
  }
  expect(entries(f.temp).empty(), "the temporary copies are removed");
  expect(entries(varo::kInstallRoot) == f.rootBefore, "nothing new in the installation tree");
  for (const std::string& name : entries(f.keys))
    expect(f.keysBefore.count(name) || name == kSecondKey, "nothing new in the key store");
  for (const std::string& full : names) {
    // The driver takes names as zero-terminated texts.
    const std::string name = full.substr(0, strnlen(full.c_str(), full.size()));
    if (name.empty() || varo::isSafeStoreName(QString::fromStdString(name))) continue;
    std::error_code ec;
    for (const char* suffix : {".dat", ".list"})
      expect(!fs::exists(fs::symlink_status(pathFor(name, suffix), ec)),
             "an unsafe name never becomes a file");
  }
}

// Measures, then copies into a buffer of exactly the measured size.
template <typename Read>
void measureThenCopy(Read read, int capacityLimit) {
  int length = 0;
  if (read(nullptr, &length) != gm3000::kOk) return;
  expect(length >= 0 && length <= capacityLimit, "a measured length is within the caller's room");
  ExactBuffer out(static_cast<size_t>(length));
  int copied = length;
  const int rc = read(out.data(), &copied);
  if (rc == gm3000::kOk) expect(copied >= 0 && copied <= length, "a copy stays within its buffer");
}

void readList(VaroDeviceBase_LM_GM3000& driver, bool original) {
  if (original) {
    ExactBuffer out(kOriginalListBuffer);
    int length = out.length();
    if (driver.ReadSealList(out.data(), &length) == gm3000::kOk)
      expect(length <= out.length(), "the list fits the offered buffer");
    return;
  }
  measureThenCopy([&](unsigned char* out, int* length) { return driver.ReadSealList(out, length); },
                  kListBuffer);
}

void readSeal(VaroDeviceBase_LM_GM3000& driver, const std::string& id, const std::string& list,
              bool withList) {
  ExactBuffer idText(id.size() + 1);
  std::memcpy(idText.data(), id.c_str(), id.size() + 1);
  if (!withList) {
    measureThenCopy([&](unsigned char* out,
                        int* length) { return driver.ReadSeal(idText.text(), out, length); },
                    kSealCapacity);
    return;
  }
  ExactBuffer listBytes(reinterpret_cast<const uint8_t*>(list.data()),
                        std::min(list.size(), kListFormCapacity + 1));
  measureThenCopy(
      [&](unsigned char* out, int* length) {
        return driver.ReadSeal(listBytes.data(), listBytes.length(), idText.text(), out, length);
      },
      kSealCapacity);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Fixture& f = fixture();
  expect(f.work.ok(), "a private directory");
  f.keys = f.work.file("keys");
  f.detached = f.keys + "/" + varo::softkey::kDetachedDir;
  f.temp = f.work.file("tmp");
  fs::create_directories(f.detached);
  fs::create_directories(f.temp);
  // The key library finds the keys here; the conversion's temporary seal
  // copy goes here.
  ::setenv("VARO_SOFTKEY_DIR", f.keys.c_str(), 1);
  ::setenv("TMPDIR", f.temp.c_str(), 1);
  varo::softkey::SoftKeyStore store(f.keys);
  for (const char* name : {kFirstKey, kSecondKey}) {
    varo::softkey::KeySetup setup;
    setup.serial = kDefaultSerial;
    expect(store.createKey(name, setup).ok(), "the fuzz keys are made");
    expect(store.generateContainer(name, "Sign", {}).ok(), "the fuzz keys get a container");
  }
  attachSecondKey(false);
  varo::fuzz::keepResident(
      {varo::kToolLibraryPath, "/sealstruct/libSesSealStru.so", varo::kVendorKeyLibraryPath});
  f.storeBefore = entries(storeDirectory());
  f.rootBefore = entries(varo::kInstallRoot);
  f.keysBefore = entries(f.keys);
  expect(fs::is_directory(storeDirectory()), "the installed tree has its store directory");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static VaroDeviceBase_LM_GM3000 driver;
  Fixture& f = fixture();
  const varo::fuzz::Choice choice = varo::fuzz::choose(data, size, 10);
  const std::vector<std::string> parts =
      varo::fuzz::splitParts(choice.data, choice.size, kPartCount);

  std::vector<std::pair<std::string, std::string>> files;
  if (!parts[kIndex].empty()) files.emplace_back("SEALINDEX", parts[kIndex]);
  for (int i = kFiles; i < kPartCount; ++i) {
    const size_t newline = parts[i].find('\n');
    if (newline == std::string::npos || newline == 0 || newline > 32) continue;
    const std::string name = parts[i].substr(0, newline);
    if (name.find('\0') != std::string::npos) continue;
    files.emplace_back(name, parts[i].substr(newline + 1));
  }
  const std::string serial = parts[kSerial].empty() ? kDefaultSerial : parts[kSerial];
  const bool twoKeys = choice.which >= 5;
  writeKey(f.keys + "/" + kFirstKey, serial, files);
  attachSecondKey(twoKeys);
  if (twoKeys) writeKey(f.keys + "/" + kSecondKey, serial, files);
  // The local list of a key without an index, where the serial can name one.
  const std::string serialText = serial.substr(0, strnlen(serial.c_str(), 32));
  const QString serialName = QString::fromLatin1(serialText.c_str());
  if (!parts[kLocalList].empty() && varo::isSafeStoreName(serialName))
    varo::replaceStoreFile(varo::sealStoreDirectory(), serialName + ".list",
                           QByteArray::fromStdString(parts[kLocalList]), nullptr);

  switch (choice.which % 5) {
    case 0:
      readList(driver, false);
      break;
    case 1:
      readList(driver, true);
      break;
    case 2:
      readSeal(driver, parts[kSealId], {}, false);
      break;
    case 3:
      readSeal(driver, parts[kSealId], parts[kCallerList], true);
      break;
    default: {
      // The list the driver hands out, then each of its seals through it.
      std::vector<unsigned char> list(kListBuffer, 0);
      int length = kListBuffer;
      if (driver.ReadSealList(list.data(), &length) != gm3000::kOk) break;
      const std::string text(reinterpret_cast<const char*>(list.data()), size_t(length));
      for (const std::string& id : identifiers(text)) readSeal(driver, id, text, true);
      break;
    }
  }

  // Every name the key or the local list offers, for the escape check.
  std::vector<std::string> names = {serialText, parts[kSealId]};
  for (const std::string* text : {&parts[kIndex], &parts[kLocalList]})
    for (const std::string& id : identifiers(*text)) names.push_back(id);
  checkEffects(names);
  return 0;
}

#include "key_store.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdio>

namespace varo::softkey {

namespace {

std::string hex(const unsigned char* p, size_t n) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    out += digits[p[i] >> 4];
    out += digits[p[i] & 15];
  }
  return out;
}

std::string sm3Hex(std::string_view salt, std::string_view pin) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  bool ok = ctx && EVP_DigestInit_ex(ctx, EVP_sm3(), nullptr) == 1 &&
            EVP_DigestUpdate(ctx, salt.data(), salt.size()) == 1 &&
            EVP_DigestUpdate(ctx, pin.data(), pin.size()) == 1 &&
            EVP_DigestFinal_ex(ctx, md, &len) == 1;
  EVP_MD_CTX_free(ctx);
  return ok ? hex(md, len) : std::string();
}

std::string blobPath(const std::string& dir, uint64_t id) {
  char name[40];
  std::snprintf(name, sizeof name, "/blob-%llu", static_cast<unsigned long long>(id));
  return dir + name;
}

}  // namespace

bool isValidDeviceName(std::string_view name) {
  if (name.empty() || name.size() > kMaxDeviceNameLen || name[0] == '.') return false;
  for (unsigned char c : name)
    if (c == '/' || c < 0x20 || c == 0x7F) return false;
  return true;
}

std::string keyDirectory(const std::string& store, const std::string& device) {
  return store + "/" + device;
}

std::string detachedDirectory(const std::string& store) {
  return store + "/" + kDetachedDir;
}

std::vector<std::string> listKeyNames(const std::string& dir) {
  std::vector<std::string> names;
  QDir d(QString::fromLocal8Bit(dir.c_str()));
  const QStringList entries =
      d.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Unsorted);
  for (const QString& e : entries) {
    std::string name = e.toLocal8Bit().toStdString();
    if (!isValidDeviceName(name)) continue;
    if (!fileExists(dir + "/" + name + "/" + kManifestName)) continue;
    names.push_back(name);
  }
  // Byte order, the same whatever the locale.
  std::sort(names.begin(), names.end());
  return names;
}

KeySession::KeySession(const std::string& keyDir, bool exclusive) : dir_(keyDir) {
  if (!isDirectory(dir_)) return;
  lock_ = std::make_unique<FileLock>(dir_ + "/.lock", exclusive);
  if (!lock_->held()) return;
  std::string manifest;
  if (!readWholeFile(dir_ + "/" + kManifestName, &manifest)) return;
  QJsonDocument doc = QJsonDocument::fromJson(QByteArray(manifest.data(), int(manifest.size())));
  status_ = doc.isObject() && fromJson(doc.object(), &data_) ? KeyStatus::Ok : KeyStatus::Corrupt;
}

bool KeySession::save() {
  QByteArray json = QJsonDocument(toJson(data_)).toJson(QJsonDocument::Indented);
  return writeFileAtomic(dir_ + "/" + kManifestName, std::string_view(json.data(), json.size()));
}

std::string KeySession::readBlob(uint64_t id) const {
  std::string out;
  if (!readWholeFile(blobPath(dir_, id), &out)) out.clear();
  return out;
}

bool KeySession::writeBlob(uint64_t id, std::string_view bytes) {
  return writeFileAtomic(blobPath(dir_, id), bytes);
}

void KeySession::removeBlob(uint64_t id) {
  ::unlink(blobPath(dir_, id).c_str());
}

bool createKeyDirectory(const std::string& store, const std::string& device, const KeyData& key) {
  if (!isValidDeviceName(device)) return false;
  std::string dir = keyDirectory(store, device);
  if (::mkdir(dir.c_str(), 0700) != 0) return false;
  QByteArray json = QJsonDocument(toJson(key)).toJson(QJsonDocument::Indented);
  if (!writeFileAtomic(dir + "/" + kManifestName, std::string_view(json.data(), json.size()))) {
    ::rmdir(dir.c_str());
    return false;
  }
  return true;
}

PinState makePin(std::string_view pin, uint32_t maxRetries) {
  unsigned char salt[16];
  if (RAND_bytes(salt, sizeof salt) != 1) return PinState{};
  PinState p;
  p.salt = hex(salt, sizeof salt);
  p.hash = sm3Hex(p.salt, pin);
  p.maxRetries = maxRetries;
  p.retries = maxRetries;
  p.isDefault = true;
  return p;
}

bool pinMatches(const PinState& state, std::string_view pin) {
  if (state.hash.empty()) return false;
  std::string h = sm3Hex(state.salt, pin);
  return h.size() == state.hash.size() && CRYPTO_memcmp(h.data(), state.hash.data(), h.size()) == 0;
}

}  // namespace varo::softkey

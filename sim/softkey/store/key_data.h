// The content of one software key as it is kept on disk: device information,
// applications with their PIN states, files and containers. File contents are
// kept apart from this manifest, one blob file per key file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class QJsonObject;

namespace varo::softkey {

struct PinState {
  std::string salt;  // hex
  std::string hash;  // hex of SM3(salt || PIN)
  uint32_t maxRetries = 6;
  uint32_t retries = 6;
  bool isDefault = true;  // never changed by its owner since it was set up
  bool locked() const { return retries == 0; }
};

struct FileEntry {
  std::string name;
  uint32_t size = 0;
  uint32_t readRights = 0xFF;
  uint32_t writeRights = 0xFF;
  uint64_t blob = 0;  // number of the blob file holding the content
};

struct ContainerEntry {
  std::string name;
  uint32_t type = 0;     // 0 empty, 1 RSA, 2 ECC
  std::string signCert;  // DER, may be empty
  std::string signKey;   // PKCS#8 DER of the SM2 signing key, may be empty
  std::string encCert;   // DER of the encryption certificate, may be empty
};

struct Application {
  std::string name;
  PinState userPin;
  PinState adminPin;
  uint32_t createFileRights = 0xFF;
  std::vector<FileEntry> files;
  std::vector<ContainerEntry> containers;

  FileEntry* findFile(const std::string& n);
  ContainerEntry* findContainer(const std::string& n);
};

// The device authentication key of a new key: the ASCII text
// "1234567812345678", the default that SKF clients commonly assume.
inline constexpr const char* kDefaultDevAuthKey = "1234567812345678";
inline constexpr size_t kDevAuthKeyLen = 16;  // an SM4 key

struct DeviceInfo {
  std::string label;
  std::string serial;
  std::string manufacturer = "Varo";
  std::string issuer = "Varo software key";
  uint8_t hwMajor = 1, hwMinor = 0, fwMajor = 1, fwMinor = 0;
  uint32_t totalSpace = 8u << 20;  // bytes available to files
  // The SM4 key of SKF_DevAuth, kDevAuthKeyLen bytes; empty when the manifest
  // holds no valid key (device authentication then always fails).
  std::string authKey = kDefaultDevAuthKey;
};

struct KeyData {
  DeviceInfo device;
  std::vector<Application> apps;
  uint64_t nextBlob = 1;

  Application* findApp(const std::string& n);
  uint64_t usedSpace() const;
};

// Limits of names (bytes, terminator not counted).
inline constexpr size_t kMaxFileNameLen = 32;
inline constexpr size_t kMaxAppNameLen = 32;
inline constexpr size_t kMaxContainerNameLen = 64;
inline constexpr size_t kMaxDeviceNameLen = 64;
inline constexpr size_t kMaxLabelLen = 32;
inline constexpr size_t kMaxSerialLen = 32;

QJsonObject toJson(const KeyData& key);
// False when the object is not a key manifest of a known format.
bool fromJson(const QJsonObject& obj, KeyData* key);

}  // namespace varo::softkey

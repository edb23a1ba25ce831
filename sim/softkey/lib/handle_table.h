// Opaque handles of the key library. A handle is a number issued by this
// table, never a pointer, so a stale, closed or foreign value is recognised
// and refused instead of being dereferenced.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

namespace varo::softkey {

enum class HandleKind : uint8_t { Device = 1, Application = 2, Container = 3, SessionKey = 4 };

struct SessionKey;  // block_cipher.h

// The device authentication of one device handle: the last random handed out
// by SKF_GenRandom (the challenge SKF_DevAuth answers; each is used once) and
// whether the handle authenticated.
struct DeviceSecurity {
  std::mutex mutex;
  std::array<uint8_t, 16> challenge{};
  bool challengeOpen = false;
  bool authenticated = false;

  // A random handed out becomes the open challenge.
  void remember(const uint8_t* random, size_t length) {
    std::lock_guard<std::mutex> guard(mutex);
    challenge.fill(0);
    std::memcpy(challenge.data(), random, std::min(length, challenge.size()));
    challengeOpen = true;
  }
};

// The login state of one opened application, shared with the containers
// opened through it so that a container handle keeps working after its
// application handle was closed.
struct Session {
  bool user = false;
  bool admin = false;
};

struct HandleEntry {
  HandleKind kind;
  std::string store;  // the store directory the device was found in
  std::string device;
  std::string app;        // applications and containers
  std::string container;  // containers
  uintptr_t deviceHandle = 0;
  std::shared_ptr<Session> session;          // applications and containers
  std::shared_ptr<DeviceSecurity> security;  // devices
  std::shared_ptr<SessionKey> key;           // session keys
};

class HandleTable {
 public:
  static HandleTable& instance();

  void* add(HandleEntry entry);
  // A copy of the entry when h is open and of the given kind.
  std::optional<HandleEntry> find(void* h, HandleKind kind) const;
  bool remove(void* h, HandleKind kind);
  // Removes a device handle and every application, container and session key
  // opened below it.
  bool removeDevice(void* h);

  // Login state of an application or container handle.
  std::optional<Session> login(void* h) const;
  bool setLogin(void* h, bool user, bool admin);
  bool clearLogin(void* h);

 private:
  mutable std::mutex mutex_;
  std::unordered_map<uintptr_t, HandleEntry> entries_;
  uintptr_t next_ = 1;
};

}  // namespace varo::softkey

#include "varo/softkey_admin.h"

#include <openssl/rand.h>
#include <sys/stat.h>

#include <QDir>

#include <cstdio>
#include <cstring>

#include "faults.h"
#include "key_store.h"
#include "varo/install_root.h"
#include "varo/pki.h"

namespace varo::softkey {

namespace {

AdminResult fail(std::string message) {
  return AdminResult{std::move(message)};
}
const AdminResult kOk{};

std::string asString(const Bytes& b) {
  return std::string(b.begin(), b.end());
}
Bytes asBytes(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

std::string randomHex(size_t bytes) {
  std::vector<unsigned char> raw(bytes);
  if (RAND_bytes(raw.data(), int(bytes)) != 1) return {};
  std::string out;
  char two[3];
  for (unsigned char c : raw) {
    std::snprintf(two, sizeof two, "%02X", c);
    out += two;
  }
  return out;
}

bool makeDirectories(const std::string& dir) {
  return QDir().mkpath(QString::fromLocal8Bit(dir.c_str()));
}

AdminResult checkDevice(const std::string& device) {
  if (!isValidDeviceName(device))
    return fail("invalid device name \"" + device +
                "\" (1 to 64 bytes, no \"/\", not starting with \".\")");
  return kOk;
}

AdminResult checkName(const std::string& name, size_t maxLen, const char* what) {
  if (name.empty() || name.size() > maxLen || name.find('\0') != std::string::npos)
    return fail(std::string("invalid ") + what + " name \"" + name + "\" (1 to " +
                std::to_string(maxLen) + " bytes)");
  return kOk;
}

AdminResult openStatus(const KeySession& s, const std::string& device) {
  switch (s.status()) {
    case KeyStatus::Ok:
      return kOk;
    case KeyStatus::NoKey:
      return fail("no attached key \"" + device + "\"");
    case KeyStatus::Corrupt:
      return fail("the key \"" + device + "\" has an unreadable manifest");
  }
  return fail("key error");
}

Application* findApp(KeyData& key, const std::string& app) {
  if (app.empty()) return key.apps.empty() ? nullptr : &key.apps.front();
  return key.findApp(app);
}

// Runs fn on the key under its lock (exclusive when it changes the key) and,
// for a change, saves the manifest when fn succeeds.
template <class Fn>
AdminResult withKey(const std::string& store, const std::string& device, bool change, Fn fn) {
  if (AdminResult r = checkDevice(device); !r) return r;
  KeySession s(keyDirectory(store, device), change);
  if (AdminResult r = openStatus(s, device); !r) return r;
  AdminResult r = fn(s);
  if (change && r && !s.save()) return fail("cannot write the key \"" + device + "\"");
  return r;
}

// withKey on one application of the key.
template <class Fn>
AdminResult withApp(const std::string& store, const std::string& device, const std::string& app,
                    bool change, Fn fn) {
  return withKey(store, device, change, [&](KeySession& s) {
    Application* a = findApp(s.data(), app);
    if (!a) return fail("no application \"" + app + "\" on the key \"" + device + "\"");
    return fn(s, *a);
  });
}

template <class Fn>
AdminResult editApp(const std::string& store, const std::string& device, const std::string& app,
                    Fn fn) {
  return withApp(store, device, app, true, fn);
}

template <class Fn>
AdminResult readApp(const std::string& store, const std::string& device, const std::string& app,
                    Fn fn) {
  return withApp(store, device, app, false, fn);
}

AdminResult moveKey(const std::string& fromDir, const std::string& toDir, const std::string& device,
                    const char* what) {
  if (AdminResult r = checkDevice(device); !r) return r;
  std::string from = keyDirectory(fromDir, device), to = keyDirectory(toDir, device);
  if (!isDirectory(from)) return fail("no " + std::string(what) + " key \"" + device + "\"");
  if (fileExists(to)) return fail("a key \"" + device + "\" is there already");
  if (!makeDirectories(toDir)) return fail("cannot create " + toDir);
  // The key's lock keeps the move from cutting through a change in progress.
  FileLock lock(from + "/.lock", true);
  if (::rename(from.c_str(), to.c_str()) != 0)
    return fail("cannot move the key \"" + device + "\"");
  return kOk;
}

}  // namespace

SoftKeyStore::SoftKeyStore(std::string directory) : dir_(std::move(directory)) {
  while (dir_.size() > 1 && dir_.back() == '/') dir_.pop_back();
}

std::string SoftKeyStore::defaultDirectory() {
  const char* env = std::getenv("VARO_SOFTKEY_DIR");
  if (env && *env) return env;
  std::string lib = std::string(kInstallRoot) + kVendorKeyLibraryPath;
  return lib.substr(0, lib.rfind('/')) + "/softkeys";
}

AdminResult SoftKeyStore::createKey(const std::string& device, const KeySetup& setup) {
  if (AdminResult r = checkDevice(device); !r) return r;
  if (AdminResult r = checkName(setup.application, kMaxAppNameLen, "application"); !r) return r;
  if (setup.serial.size() > kMaxSerialLen) return fail("a serial number has at most 32 bytes");
  if (setup.label.size() > kMaxLabelLen) return fail("a label has at most 32 bytes");
  if (setup.maxRetries < 1 || setup.maxRetries > 15) return fail("retries must be 1 to 15");
  if (!makeDirectories(dir_)) return fail("cannot create the store " + dir_);
  if (fileExists(keyDirectory(dir_, device)) ||
      fileExists(keyDirectory(detachedDirectory(dir_), device)))
    return fail("a key \"" + device + "\" exists already");
  KeyData key;
  key.device.serial = setup.serial.empty() ? randomHex(8) : setup.serial;
  key.device.label = setup.label.empty() ? device.substr(0, kMaxLabelLen) : setup.label;
  if (!setup.devAuthKey.empty()) {
    if (setup.devAuthKey.size() != kDevAuthKeyLen)
      return fail("a device authentication key has 16 bytes");
    key.device.authKey = asString(setup.devAuthKey);
  }
  Application app;
  app.name = setup.application;
  app.userPin = makePin(setup.userPin, setup.maxRetries);
  app.adminPin = makePin(setup.adminPin, setup.maxRetries);
  key.apps.push_back(app);
  if (!createKeyDirectory(dir_, device, key))
    return fail("cannot create the key \"" + device + "\"");
  return kOk;
}

AdminResult SoftKeyStore::removeKey(const std::string& device) {
  if (AdminResult r = checkDevice(device); !r) return r;
  std::string dir = keyDirectory(dir_, device);
  if (!isDirectory(dir)) dir = keyDirectory(detachedDirectory(dir_), device);
  if (!isDirectory(dir)) return fail("no key \"" + device + "\"");
  if (!QDir(QString::fromLocal8Bit(dir.c_str())).removeRecursively())
    return fail("cannot remove the key \"" + device + "\"");
  return kOk;
}

std::vector<KeySummary> SoftKeyStore::listKeys() const {
  std::vector<KeySummary> keys;
  for (bool attached : {true, false}) {
    std::string base = attached ? dir_ : detachedDirectory(dir_);
    for (const auto& name : listKeyNames(base)) {
      KeySession s(keyDirectory(base, name), false);
      KeySummary key{name, s.ok() ? s.data().device.serial : std::string(), attached, {}};
      if (s.ok())
        for (const Application& a : s.data().apps)
          key.pins.push_back({a.name, a.userPin.retries, a.userPin.maxRetries, a.adminPin.retries,
                              a.adminPin.maxRetries});
      keys.push_back(std::move(key));
    }
  }
  return keys;
}

AdminResult SoftKeyStore::detachKey(const std::string& device) {
  return moveKey(dir_, detachedDirectory(dir_), device, "attached");
}

AdminResult SoftKeyStore::attachKey(const std::string& device) {
  return moveKey(detachedDirectory(dir_), dir_, device, "detached");
}

AdminResult SoftKeyStore::setSerial(const std::string& device, const std::string& serial) {
  if (serial.size() > kMaxSerialLen) return fail("a serial number has at most 32 bytes");
  return editApp(dir_, device, "", [&](KeySession& s, Application&) {
    s.data().device.serial = serial;
    return kOk;
  });
}

AdminResult SoftKeyStore::setDevAuthKey(const std::string& device, const Bytes& key) {
  if (key.size() != kDevAuthKeyLen) return fail("a device authentication key has 16 bytes");
  return withKey(dir_, device, true, [&](KeySession& s) {
    s.data().device.authKey = asString(key);
    return kOk;
  });
}

AdminResult SoftKeyStore::devAuthKey(const std::string& device, Bytes* out) const {
  return withKey(dir_, device, false, [&](KeySession& s) {
    if (s.data().device.authKey.size() != kDevAuthKeyLen)
      return fail("the key \"" + device + "\" holds no valid device authentication key");
    *out = asBytes(s.data().device.authKey);
    return kOk;
  });
}

AdminResult SoftKeyStore::serial(const std::string& device, std::string* out) const {
  return readApp(dir_, device, "", [&](KeySession& s, Application&) {
    *out = s.data().device.serial;
    return kOk;
  });
}

AdminResult SoftKeyStore::addApplication(const std::string& device, const std::string& app,
                                         const std::string& userPin, const std::string& adminPin) {
  if (AdminResult r = checkName(app, kMaxAppNameLen, "application"); !r) return r;
  return editApp(dir_, device, "", [&](KeySession& s, Application& first) {
    if (s.data().findApp(app)) return fail("the application \"" + app + "\" exists already");
    Application a;
    a.name = app;
    a.userPin = makePin(userPin, first.userPin.maxRetries);
    a.adminPin = makePin(adminPin, first.adminPin.maxRetries);
    s.data().apps.push_back(a);
    return kOk;
  });
}

AdminResult SoftKeyStore::setPin(const std::string& device, const std::string& pin, PinKind kind,
                                 uint32_t maxRetries, const std::string& app) {
  if (pin.empty() || pin.size() > 64) return fail("a PIN has 1 to 64 characters");
  if (maxRetries > 15) return fail("retries must be 1 to 15");
  return editApp(dir_, device, app, [&](KeySession&, Application& a) {
    PinState& state = kind == PinKind::User ? a.userPin : a.adminPin;
    state = makePin(pin, maxRetries ? maxRetries : (state.maxRetries ? state.maxRetries : 6));
    return kOk;
  });
}

AdminResult SoftKeyStore::setRetriesLeft(const std::string& device, uint32_t left, PinKind kind,
                                         const std::string& app) {
  return editApp(dir_, device, app, [&](KeySession&, Application& a) {
    PinState& state = kind == PinKind::User ? a.userPin : a.adminPin;
    if (left > state.maxRetries) return fail("more tries than the limit of the PIN");
    state.retries = left;
    return kOk;
  });
}

AdminResult SoftKeyStore::addContainer(const std::string& device, const std::string& container,
                                       const ContainerMaterial& m, const std::string& app) {
  if (AdminResult r = checkName(container, kMaxContainerNameLen, "container"); !r) return r;
  if (m.type > 2) return fail("a container type is 0, 1 (RSA) or 2 (ECC)");
  return editApp(dir_, device, app, [&](KeySession&, Application& a) {
    if (a.findContainer(container))
      return fail("the container \"" + container + "\" exists already");
    a.containers.push_back(
        {container, m.type, asString(m.signCert), asString(m.signKey), asString(m.encCert)});
    return kOk;
  });
}

AdminResult SoftKeyStore::generateContainer(const std::string& device, const std::string& container,
                                            const CertificateRequest& request, Bytes* certDer,
                                            Bytes* keyDer, const std::string& app) {
  EvpPkeyPtr key = pki::generateSm2Key();
  if (!key) return fail("cannot generate an SM2 key");
  EvpPkeyPtr caKey;
  X509Ptr caCert;
  if (!request.caKey.empty() || !request.caCert.empty()) {
    caKey = pki::privateKeyFromDer(ByteSpan(request.caKey.data(), request.caKey.size()));
    caCert = pki::certificateFromDer(ByteSpan(request.caCert.data(), request.caCert.size()));
    if (!caKey || !caCert) return fail("the CA key or certificate cannot be read");
  }
  long serial = request.serial;
  if (serial <= 0) {
    unsigned char r[4];
    RAND_bytes(r, sizeof r);
    serial = 1 + long((uint32_t(r[0]) << 23 | uint32_t(r[1]) << 15 | uint32_t(r[2]) << 7 | r[3]) &
                      0x7FFFFFFF);
  }
  X509Ptr cert = pki::issueCertificate(key.get(), request.subjectDn, caKey.get(), caCert.get(),
                                       request.days, serial);
  if (!cert) return fail("cannot issue a certificate for \"" + request.subjectDn + "\"");
  ContainerMaterial m;
  m.type = 2;
  m.signCert = pki::toDer(cert.get());
  m.signKey = pki::privateKeyToDer(key.get());
  if (m.signCert.empty() || m.signKey.empty()) return fail("cannot encode the key or certificate");
  AdminResult r = addContainer(device, container, m, app);
  if (r && certDer) *certDer = m.signCert;
  if (r && keyDer) *keyDer = m.signKey;
  return r;
}

AdminResult SoftKeyStore::containerCertificate(const std::string& device,
                                               const std::string& container, Bytes* certDer,
                                               const std::string& app) const {
  return readApp(dir_, device, app, [&](KeySession&, Application& a) {
    const ContainerEntry* c = a.findContainer(container);
    if (!c) return fail("no container \"" + container + "\"");
    if (c->signCert.empty()) return fail("the container \"" + container + "\" has no certificate");
    *certDer = asBytes(c->signCert);
    return kOk;
  });
}

AdminResult SoftKeyStore::removeContainer(const std::string& device, const std::string& container,
                                          const std::string& app) {
  return editApp(dir_, device, app, [&](KeySession&, Application& a) {
    for (auto it = a.containers.begin(); it != a.containers.end(); ++it) {
      if (it->name != container) continue;
      a.containers.erase(it);
      return kOk;
    }
    return fail("no container \"" + container + "\"");
  });
}

AdminResult SoftKeyStore::putFile(const std::string& device, const std::string& file,
                                  const Bytes& data, const std::string& app, uint32_t readRights,
                                  uint32_t writeRights) {
  if (AdminResult r = checkName(file, kMaxFileNameLen, "file"); !r) return r;
  if (data.size() > 0xFFFFFFFFu) return fail("the file is too large");
  uint64_t oldBlob = 0;
  AdminResult r = editApp(dir_, device, app, [&](KeySession& s, Application& a) {
    KeyData& key = s.data();
    FileEntry* existing = a.findFile(file);
    uint64_t used = key.usedSpace() - (existing ? existing->size : 0);
    if (used + data.size() > key.device.totalSpace) return fail("no room on the key");
    uint64_t blob = key.nextBlob++;
    if (!s.writeBlob(blob, asString(data))) return fail("cannot write the file's content");
    FileEntry entry{file, uint32_t(data.size()), readRights, writeRights, blob};
    if (existing) {
      oldBlob = existing->blob;
      *existing = entry;
    } else {
      a.files.push_back(entry);
    }
    return kOk;
  });
  if (r && oldBlob) {
    KeySession s(keyDirectory(dir_, device), true);
    if (s.ok()) s.removeBlob(oldBlob);
  }
  return r;
}

AdminResult SoftKeyStore::getFile(const std::string& device, const std::string& file, Bytes* data,
                                  const std::string& app) const {
  return readApp(dir_, device, app, [&](KeySession& s, Application& a) {
    const FileEntry* f = a.findFile(file);
    if (!f) return fail("no file \"" + file + "\"");
    std::string content = s.readBlob(f->blob);
    content.resize(f->size, '\0');
    *data = asBytes(content);
    return kOk;
  });
}

AdminResult SoftKeyStore::listFiles(const std::string& device, std::vector<std::string>* names,
                                    const std::string& app) const {
  return readApp(dir_, device, app, [&](KeySession&, Application& a) {
    names->clear();
    for (const auto& f : a.files) names->push_back(f.name);
    return kOk;
  });
}

AdminResult SoftKeyStore::deleteFile(const std::string& device, const std::string& file,
                                     const std::string& app) {
  uint64_t blob = 0;
  AdminResult r = editApp(dir_, device, app, [&](KeySession&, Application& a) {
    for (auto it = a.files.begin(); it != a.files.end(); ++it) {
      if (it->name != file) continue;
      blob = it->blob;
      a.files.erase(it);
      return kOk;
    }
    return fail("no file \"" + file + "\"");
  });
  if (r) {
    KeySession s(keyDirectory(dir_, device), true);
    if (s.ok()) s.removeBlob(blob);
  }
  return r;
}

AdminResult SoftKeyStore::writeThreeFileForm(const std::string& device, const Bytes& seal,
                                             const std::string& app, long firstPart,
                                             long secondPart) {
  size_t n = seal.size();
  size_t first = firstPart < 0 ? (n + 2) / 3 : size_t(firstPart);
  if (first > n) return fail("the first part is longer than the seal");
  size_t second = secondPart < 0 ? (n - first + 1) / 2 : size_t(secondPart);
  if (second > n - first) return fail("the parts are longer than the seal");
  const size_t parts[3] = {first, second, n - first - second};
  size_t at = 0;
  for (int i = 0; i < 3; ++i) {
    Bytes file(8, 0);
    uint64_t len = parts[i];
    for (int b = 0; b < 8; ++b) file[b] = uint8_t(len >> (8 * b));
    file.insert(file.end(), seal.begin() + long(at), seal.begin() + long(at + parts[i]));
    at += parts[i];
    std::string name = "PIC" + std::to_string(i + 1);
    if (AdminResult r = putFile(device, name, file, app); !r) return r;
  }
  return kOk;
}

AdminResult SoftKeyStore::addFault(const FaultSpec& fault) {
  FaultRule rule{fault.function, fault.code, fault.name, fault.count, fault.skip,
                 fault.exitProcess};
  if (rule.function.empty() || rule.function.find_first_of(" \t\r\n") != std::string::npos)
    return fail("a fault rule needs a function name without spaces");
  if (rule.code == 0) return fail("a fault rule needs a non-zero result code");
  if (rule.name.find_first_of(" \t\r\n") != std::string::npos)
    return fail("a fault rule's name cannot contain spaces");
  FaultRule check;
  if (!parseFaultRule(formatFaultRule(rule), &check)) return fail("invalid fault rule");
  if (!makeDirectories(dir_)) return fail("cannot create the store " + dir_);
  if (!appendFaultRule(dir_, rule)) return fail("cannot write the fault rules");
  return kOk;
}

AdminResult SoftKeyStore::clearFaults() {
  return clearFaultRules(dir_) ? kOk : fail("cannot remove the fault rules");
}

std::vector<std::string> SoftKeyStore::listFaults() const {
  std::vector<std::string> out;
  for (const auto& r : readFaultRules(dir_)) out.push_back(formatFaultRule(r));
  return out;
}

AdminResult makeCertificateAuthority(const std::string& subjectDn, Bytes* keyDer, Bytes* certDer,
                                     int days) {
  EvpPkeyPtr key = pki::generateSm2Key();
  if (!key) return fail("cannot generate an SM2 key");
  X509Ptr cert = pki::issueCertificate(key.get(), subjectDn, nullptr, nullptr, days, 1, true);
  if (!cert) return fail("cannot issue a CA certificate for \"" + subjectDn + "\"");
  *keyDer = pki::privateKeyToDer(key.get());
  *certDer = pki::toDer(cert.get());
  return kOk;
}

}  // namespace varo::softkey

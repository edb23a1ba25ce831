#include "skf_common.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>

#include "faults.h"
#include "meter.h"

namespace varo::softkey {

namespace {

std::string ownDirectory() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&ownDirectory), &info) == 0 || !info.dli_fname) return ".";
  std::string path = info.dli_fname;
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

}  // namespace

std::string storeDirectory() {
  const char* env = std::getenv("VARO_SOFTKEY_DIR");
  if (env && *env) return env;
  static const std::string beside = ownDirectory() + "/softkeys";
  return beside;
}

ULONG injectedFault(const std::string& store, const char* function,
                    std::initializer_list<std::string_view> names) {
  meterCall(store, function);
  return takeFault(store, function, names);
}

bool lookupHandle(void* h, HandleKind kind, HandleEntry* out) {
  auto found = HandleTable::instance().find(h, kind);
  if (!found) return false;
  *out = std::move(*found);
  return true;
}

ULONG keyStatusCode(KeyStatus status) {
  switch (status) {
    case KeyStatus::Ok:
      return skf::SAR_OK;
    case KeyStatus::NoKey:
      return skf::SAR_DEVICE_REMOVED;
    case KeyStatus::Corrupt:
      return skf::SAR_FILEERR;
  }
  return skf::SAR_FAIL;
}

ULONG attachedCode(const HandleEntry& entry) {
  return fileExists(keyDirectory(entry.store, entry.device) + "/" + kManifestName)
             ? skf::SAR_OK
             : skf::SAR_DEVICE_REMOVED;
}

ULONG putNameList(const std::vector<std::string>& names, char* buffer, ULONG* size) {
  if (!size) return skf::SAR_INVALIDPARAMERR;
  std::string list;
  for (const auto& n : names) {
    list += n;
    list += '\0';
  }
  list += '\0';
  if (list.size() > 0xFFFFFFFFu) return skf::SAR_FAIL;
  ULONG needed = ULONG(list.size());
  if (!buffer) {
    *size = needed;
    return skf::SAR_OK;
  }
  if (*size < needed) {
    *size = needed;
    return skf::SAR_BUFFER_TOO_SMALL;
  }
  std::memcpy(buffer, list.data(), needed);
  *size = needed;
  return skf::SAR_OK;
}

ULONG putBytes(std::string_view data, BYTE* buffer, ULONG* length) {
  if (!length) return skf::SAR_INVALIDPARAMERR;
  ULONG needed = ULONG(data.size());
  if (!buffer) {
    *length = needed;
    return skf::SAR_OK;
  }
  if (*length < needed) {
    *length = needed;
    return skf::SAR_BUFFER_TOO_SMALL;
  }
  if (needed) std::memcpy(buffer, data.data(), needed);
  *length = needed;
  return skf::SAR_OK;
}

ULONG putMeteredBytes(const std::string& store, std::string_view data, BYTE* buffer,
                      ULONG* length) {
  const ULONG rc = putBytes(data, buffer, length);
  if (rc == skf::SAR_OK && buffer) meterBytes(store, data.size(), 0);
  return rc;
}

bool readName(const char* arg, size_t maxLen, std::string* out) {
  if (!arg) return false;
  // Never read past maxLen + 1 bytes of the caller's text.
  size_t n = ::strnlen(arg, maxLen + 1);
  if (n == 0 || n > maxLen) return false;
  out->assign(arg, n);
  return true;
}

AppScope::AppScope(const HandleEntry& entry, bool exclusive)
    : session_(keyDirectory(entry.store, entry.device), exclusive) {
  if (!session_.ok()) {
    code_ = keyStatusCode(session_.status());
    return;
  }
  app_ = session_.data().findApp(entry.app);
  if (!app_) code_ = skf::SAR_APPLICATION_NOT_EXISTS;
}

ULONG checkRights(ULONG rights, const Session& login) {
  if (rights == skf::SECURE_ANYONE_ACCOUNT) return skf::SAR_OK;
  if ((rights & skf::SECURE_USER_ACCOUNT) && login.user) return skf::SAR_OK;
  if ((rights & skf::SECURE_ADM_ACCOUNT) && login.admin) return skf::SAR_OK;
  if (rights & (skf::SECURE_USER_ACCOUNT | skf::SECURE_ADM_ACCOUNT))
    return skf::SAR_USER_NOT_LOGGED_IN;
  return skf::SAR_FAIL;  // SECURE_NEVER_ACCOUNT: nobody
}

}  // namespace varo::softkey

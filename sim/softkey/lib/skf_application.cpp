// Applications and access control: listing, opening, closing, PINs.
#include <cstring>

#include "skf_common.h"

using namespace varo::softkey;
using skf::DEVHANDLE;
using skf::HAPPLICATION;

namespace {

constexpr size_t kMaxPinLen = 64;

bool readPin(const char* arg, std::string* out) {
  return readName(arg, kMaxPinLen, out);
}

PinState& pinOf(Application& app, ULONG type) {
  return type == skf::ADMIN_TYPE ? app.adminPin : app.userPin;
}

// Checks pin against the stored state and updates the retry counter on disk.
// *retry (when given) receives the tries left.
ULONG verifyAgainst(AppScope& scope, ULONG type, const std::string& pin, ULONG* retry) {
  PinState& state = pinOf(scope.app(), type);
  if (state.hash.empty()) return skf::SAR_USER_PIN_NOT_INITIALIZED;
  if (state.locked()) {
    if (retry) *retry = 0;
    return skf::SAR_PIN_LOCKED;
  }
  bool match = pinMatches(state, pin);
  uint32_t before = state.retries;
  state.retries = match ? state.maxRetries : state.retries - 1;
  if (state.retries != before && !scope.key().save()) return skf::SAR_WRITEFILEERR;
  if (retry) *retry = state.retries;
  if (match) return skf::SAR_OK;
  return state.retries == 0 ? skf::SAR_PIN_LOCKED : skf::SAR_PIN_INCORRECT;
}

}  // namespace

SKF_EXPORT ULONG SKF_EnumApplication(DEVHANDLE hDev, skf::LPSTR szAppName, ULONG* pulSize) {
  HandleEntry e;
  if (!lookupHandle(hDev, HandleKind::Device, &e)) return skf::SAR_INVALIDHANDLEERR;
  if (ULONG f = injectedFault(e.store, "SKF_EnumApplication", {e.device})) return f;
  if (!pulSize) return skf::SAR_INVALIDPARAMERR;
  KeySession key(keyDirectory(e.store, e.device), false);
  if (!key.ok()) return keyStatusCode(key.status());
  std::vector<std::string> names;
  for (const auto& a : key.data().apps) names.push_back(a.name);
  return putNameList(names, szAppName, pulSize);
}

SKF_EXPORT ULONG SKF_OpenApplication(DEVHANDLE hDev, skf::LPSTR szAppName, HAPPLICATION* phApp) {
  HandleEntry e;
  if (!lookupHandle(hDev, HandleKind::Device, &e)) return skf::SAR_INVALIDHANDLEERR;
  std::string name;
  bool named = readName(szAppName, kMaxAppNameLen, &name);
  if (ULONG f = injectedFault(e.store, "SKF_OpenApplication", {e.device, name})) return f;
  if (!szAppName || !phApp) return skf::SAR_INVALIDPARAMERR;
  if (!named) return skf::SAR_APPLICATION_NAME_INVALID;
  KeySession key(keyDirectory(e.store, e.device), false);
  if (!key.ok()) return keyStatusCode(key.status());
  if (!key.data().findApp(name)) return skf::SAR_APPLICATION_NOT_EXISTS;
  HandleEntry app{
      HandleKind::Application,     e.store, e.device, name, {}, reinterpret_cast<uintptr_t>(hDev),
      std::make_shared<Session>(), nullptr, nullptr};
  *phApp = HandleTable::instance().add(std::move(app));
  return skf::SAR_OK;
}

SKF_EXPORT ULONG SKF_CloseApplication(HAPPLICATION hApp) {
  HandleEntry e;
  if (!lookupHandle(hApp, HandleKind::Application, &e)) return skf::SAR_INVALIDHANDLEERR;
  if (ULONG f = injectedFault(e.store, "SKF_CloseApplication", {e.device, e.app})) return f;
  HandleTable::instance().remove(hApp, HandleKind::Application);
  return skf::SAR_OK;
}

SKF_EXPORT ULONG SKF_VerifyPIN(HAPPLICATION hApp, ULONG ulPINType, skf::LPSTR szPIN,
                               ULONG* pulRetryCount) {
  HandleEntry e;
  if (!lookupHandle(hApp, HandleKind::Application, &e)) return skf::SAR_INVALIDHANDLEERR;
  if (ULONG f = injectedFault(e.store, "SKF_VerifyPIN", {e.device, e.app})) return f;
  if (ulPINType != skf::ADMIN_TYPE && ulPINType != skf::USER_TYPE)
    return skf::SAR_USER_TYPE_INVALID;
  if (!szPIN) return skf::SAR_INVALIDPARAMERR;
  std::string pin;
  if (!readPin(szPIN, &pin)) return skf::SAR_PIN_LEN_RANGE;
  AppScope scope(e, true);
  if (scope.code() != skf::SAR_OK) return scope.code();
  ULONG rc = verifyAgainst(scope, ulPINType, pin, pulRetryCount);
  if (rc == skf::SAR_OK)
    HandleTable::instance().setLogin(hApp, ulPINType == skf::USER_TYPE,
                                     ulPINType == skf::ADMIN_TYPE);
  return rc;
}

SKF_EXPORT ULONG SKF_ChangePIN(HAPPLICATION hApp, ULONG ulPINType, skf::LPSTR szOldPin,
                               skf::LPSTR szNewPin, ULONG* pulRetryCount) {
  HandleEntry e;
  if (!lookupHandle(hApp, HandleKind::Application, &e)) return skf::SAR_INVALIDHANDLEERR;
  if (ULONG f = injectedFault(e.store, "SKF_ChangePIN", {e.device, e.app})) return f;
  if (ulPINType != skf::ADMIN_TYPE && ulPINType != skf::USER_TYPE)
    return skf::SAR_USER_TYPE_INVALID;
  if (!szOldPin || !szNewPin) return skf::SAR_INVALIDPARAMERR;
  std::string oldPin, newPin;
  // A new PIN out of range is refused before the old one is tried, so that it
  // costs no try.
  if (!readPin(szOldPin, &oldPin) || !readPin(szNewPin, &newPin)) return skf::SAR_PIN_LEN_RANGE;
  AppScope scope(e, true);
  if (scope.code() != skf::SAR_OK) return scope.code();
  ULONG rc = verifyAgainst(scope, ulPINType, oldPin, pulRetryCount);
  if (rc != skf::SAR_OK) return rc;
  PinState& state = pinOf(scope.app(), ulPINType);
  PinState fresh = makePin(newPin, state.maxRetries);
  if (fresh.hash.empty()) return skf::SAR_FAIL;
  fresh.isDefault = false;
  state = fresh;
  return scope.key().save() ? skf::SAR_OK : skf::SAR_WRITEFILEERR;
}

SKF_EXPORT ULONG SKF_GetPINInfo(HAPPLICATION hApp, ULONG ulPINType, ULONG* pulMaxRetryCount,
                                ULONG* pulRemainRetryCount, skf::BOOL* pbDefaultPin) {
  HandleEntry e;
  if (!lookupHandle(hApp, HandleKind::Application, &e)) return skf::SAR_INVALIDHANDLEERR;
  if (ULONG f = injectedFault(e.store, "SKF_GetPINInfo", {e.device, e.app})) return f;
  if (ulPINType != skf::ADMIN_TYPE && ulPINType != skf::USER_TYPE)
    return skf::SAR_USER_TYPE_INVALID;
  if (!pulMaxRetryCount || !pulRemainRetryCount || !pbDefaultPin) return skf::SAR_INVALIDPARAMERR;
  AppScope scope(e, false);
  if (scope.code() != skf::SAR_OK) return scope.code();
  const PinState& state = pinOf(scope.app(), ulPINType);
  *pulMaxRetryCount = state.maxRetries;
  *pulRemainRetryCount = state.retries;
  *pbDefaultPin = state.isDefault ? 1 : 0;
  return skf::SAR_OK;
}

SKF_EXPORT ULONG SKF_UnblockPIN(HAPPLICATION hApp, skf::LPSTR szAdminPIN, skf::LPSTR szNewUserPIN,
                                ULONG* pulRetryCount) {
  HandleEntry e;
  if (!lookupHandle(hApp, HandleKind::Application, &e)) return skf::SAR_INVALIDHANDLEERR;
  if (ULONG f = injectedFault(e.store, "SKF_UnblockPIN", {e.device, e.app})) return f;
  if (!szAdminPIN || !szNewUserPIN) return skf::SAR_INVALIDPARAMERR;
  std::string adminPin, newPin;
  if (!readPin(szAdminPIN, &adminPin) || !readPin(szNewUserPIN, &newPin))
    return skf::SAR_PIN_LEN_RANGE;
  AppScope scope(e, true);
  if (scope.code() != skf::SAR_OK) return scope.code();
  ULONG rc = verifyAgainst(scope, skf::ADMIN_TYPE, adminPin, pulRetryCount);
  if (rc != skf::SAR_OK) return rc;
  PinState& user = scope.app().userPin;
  PinState fresh = makePin(newPin, user.maxRetries ? user.maxRetries : 6);
  if (fresh.hash.empty()) return skf::SAR_FAIL;
  fresh.isDefault = false;
  user = fresh;
  return scope.key().save() ? skf::SAR_OK : skf::SAR_WRITEFILEERR;
}

SKF_EXPORT ULONG SKF_ClearSecureState(HAPPLICATION hApp) {
  HandleEntry e;
  if (!lookupHandle(hApp, HandleKind::Application, &e)) return skf::SAR_INVALIDHANDLEERR;
  if (ULONG f = injectedFault(e.store, "SKF_ClearSecureState", {e.device, e.app})) return f;
  HandleTable::instance().clearLogin(hApp);
  return skf::SAR_OK;
}

// What the exported functions of the key library share: the store location,
// handle look-up, fault rules, and the GM/T 0016 output conventions (a null
// buffer asks for the size; a short buffer gets SAR_BUFFER_TOO_SMALL and the
// size needed).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "handle_table.h"
#include "key_store.h"
#include "varo/skf_types.h"

#define SKF_EXPORT extern "C" __attribute__((visibility("default")))

namespace varo::softkey {

using skf::BYTE;
using skf::ULONG;

// The store: $VARO_SOFTKEY_DIR when set, else "softkeys" beside this library.
std::string storeDirectory();

// Every implemented function calls this first, once its handle argument is
// valid: the call is counted and slowed down by the store's meter, then the
// code of a fault rule for it, or 0, is returned.
ULONG injectedFault(const std::string& store, const char* function,
                    std::initializer_list<std::string_view> names);

// Looks up an open handle of the given kind; false for a stale, closed,
// foreign or null handle.
bool lookupHandle(void* h, HandleKind kind, HandleEntry* out);

// The result code for a key that could not be opened.
ULONG keyStatusCode(KeyStatus status);

// SAR_OK while the handle's key is attached, else SAR_DEVICE_REMOVED; for the
// calls that need nothing of the key's manifest.
ULONG attachedCode(const HandleEntry& entry);

// Name list: every name followed by a zero byte, then one more zero byte.
ULONG putNameList(const std::vector<std::string>& names, char* buffer, ULONG* size);

// Bytes with a size query: null buffer -> size only; short -> too small.
ULONG putBytes(std::string_view data, BYTE* buffer, ULONG* length);

// putBytes of data that the key hands out (a certificate, a public key),
// counted by the store's meter when it was handed out.
ULONG putMeteredBytes(const std::string& store, std::string_view data, BYTE* buffer,
                      ULONG* length);

// A zero-terminated name argument within a length limit; false for null,
// empty or too long.
bool readName(const char* arg, size_t maxLen, std::string* out);

// A key session opened for a handle, with the application of that handle.
// code() is SAR_OK when both were found.
class AppScope {
 public:
  AppScope(const HandleEntry& entry, bool exclusive);
  ULONG code() const { return code_; }
  KeySession& key() { return session_; }
  Application& app() { return *app_; }

 private:
  KeySession session_;
  Application* app_ = nullptr;
  ULONG code_ = skf::SAR_OK;
};

// Whether the rights value (SECURE_*) admits the login state; SAR_OK or the
// code to return.
ULONG checkRights(ULONG rights, const Session& login);

}  // namespace varo::softkey

// The one way every driver operation reaches the key: the vendor library
// loaded by its absolute path for the operation, the device list in the two
// enumeration styles, and an open key (device, application, container) whose
// handles close themselves in reverse order. An operation is a short
// function over these pieces; where it leaves something open, it says so.
#pragma once

#include <QString>

#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "driver_codes.h"
#include "varo/loaded_library.h"
#include "varo/skf_api.h"
#include "varo/skf_handle.h"

namespace gm3000 {

using skf::Fn;

// A device name as text, or nullopt when its bytes are not UTF-8 (it could
// not be named in a text that another program reads back).
std::optional<QString> deviceNameText(const std::string& device);

// The key locator: the key type text, "&", the device name; nullopt for a
// name that is not UTF-8.
std::optional<QString> keyLocator(const QString& type, const std::string& device);

// The key's serial number from its device information, cut at its first
// zero byte within the 32-byte field; empty when the query fails.
QString serialOf(const skf::Api& api, skf::HANDLE device);

// Absolute path of the vendor library.
std::string vendorLibraryPath();

// The vendor library, loaded for the lifetime of the object (unloaded last,
// after the handles of the operation are closed).
class VendorLibrary {
 public:
  VendorLibrary();
  // kOk when the library is loaded and exports every function the
  // operation calls; kLibraryFailed otherwise (a library that lacks one of
  // them is never called at all).
  int require(std::initializer_list<Fn> calls) const;
  // Why require(calls) fails: the loader's reason, or the first function
  // the library lacks; empty when it does not fail.
  QString problem(std::initializer_list<Fn> calls) const;
  const skf::Api& api() const { return api_; }
  // The library stays loaded in the process after this object is gone.
  void keepResident() { lib_.keepResident(); }

 private:
  varo::LoadedLibrary lib_;
  skf::Api api_;
};

// Size of the zero-filled buffers offered for application, container and
// one-call device lists.
inline constexpr skf::ULONG kNameListSize = 256;
// Size of the device-list buffer of the two-call enumeration; a larger
// reported list gets a buffer of its own size.
inline constexpr skf::ULONG kDeviceListSize = 200;
// A reported device-list size beyond this is not believed.
inline constexpr skf::ULONG kMaxDeviceListSize = 64 * 1024;

// One-call enumeration of the present devices into a 256-byte list: the
// only listed device, or the empty name when none is listed (which the
// connection then refuses). kNoDevice when the call fails, kSeveralDevices
// for more than one name; a list that does not fit the buffer is read
// whole with the two-call enumeration and counted.
int enumerateSingleDevice(const skf::Api& api, std::string* device);

// Two-call enumeration: a size query, then the list into a buffer that
// holds the reported size. vendorCode is the result of the failing call
// (SAR_OK when both succeeded); failedCall is 1 or 2 for that call.
struct DeviceList {
  skf::ULONG vendorCode = skf::SAR_OK;
  int failedCall = 0;
  std::vector<std::string> names;
  bool ok() const { return vendorCode == skf::SAR_OK; }
};
DeviceList enumerateDevices(const skf::Api& api);

// The names of a list filled by an SKF enumeration function of the form
// fn(buffer, &size) offering kNameListSize zero-filled bytes; false when the
// call fails.
template <class Enumerate>
bool enumerateNames(Enumerate&& call, std::vector<std::string>* names) {
  char buffer[kNameListSize] = {};
  skf::ULONG size = kNameListSize;
  if (call(buffer, &size) != skf::SAR_OK) return false;
  *names = varo::parseSkfNameList(varo::ByteSpan(buffer, size < kNameListSize ? size : kNameListSize));
  return true;
}

// An open key: the device, its first application and at most one container.
// Whatever is open when the scope ends is closed in reverse order, except a
// device the operation explicitly leaves connected.
class OpenKey {
 public:
  explicit OpenKey(const skf::Api& api)
      : api_(api),
        device_(api.SKF_DisConnectDev),
        application_(api.SKF_CloseApplication),
        container_(api.SKF_CloseContainer) {}
  ~OpenKey() {
    closeContainer();
    closeApplication();
    if (keepDevice_) device_.leaveOpen();
    disconnect();
  }
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;

  skf::ULONG connect(std::string device);

  // Enumerates the applications into a 256-byte list and opens the first.
  enum class AppStep { Opened, EnumerationFailed, OpeningFailed };
  AppStep openFirstApplication(skf::ULONG* vendorCode = nullptr);

  // The container names of the open application; false when the
  // enumeration fails.
  bool containerNames(std::vector<std::string>* names);
  // The names of the files of the open application (a size query, then the
  // list); false when either call fails.
  bool fileNames(std::vector<std::string>* names, skf::ULONG* vendorCode);
  // Opens a container; the one held before is closed first, so that one
  // container handle at most is open.
  bool openContainer(std::string name);

  skf::HANDLE device() const { return device_.get(); }
  skf::HANDLE application() const { return application_.get(); }
  skf::HANDLE container() const { return container_.get(); }

  void closeContainer() { container_.close(); }
  void closeApplication() { application_.close(); }
  void disconnect() { device_.close(); }
  void closeAll() {
    closeContainer();
    closeApplication();
    disconnect();
  }
  // The device stays connected when the scope ends: the operations that
  // work on the key's certificates and PIN leave it so.
  void leaveDeviceConnected() { keepDevice_ = true; }

 private:
  const skf::Api& api_;
  varo::SkfHandle device_;
  varo::SkfHandle application_;
  varo::SkfHandle container_;
  bool keepDevice_ = false;
};

// The common start of the operations that need exactly one key: one-call
// enumeration and the connection to the listed device (kOk, kNoDevice,
// kSeveralDevices or kOpenDeviceFailed).
int connectSingleDevice(const skf::Api& api, OpenKey& key);

}  // namespace gm3000

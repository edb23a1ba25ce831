#include "key_access.h"

#include <algorithm>
#include <cstring>

#include "varo/install_root.h"

namespace gm3000 {

std::optional<QString> deviceNameText(const std::string& device) {
  const QByteArray bytes = QByteArray::fromStdString(device);
  const QString name = QString::fromUtf8(bytes);
  if (name.toUtf8() != bytes) return std::nullopt;
  return name;
}

std::optional<QString> keyLocator(const QString& type, const std::string& device) {
  const auto name = deviceNameText(device);
  if (!name) return std::nullopt;
  return type + QLatin1Char('&') + *name;
}

QString serialOf(const skf::Api& api, skf::HANDLE device) {
  if (!api.SKF_GetDevInfo) return QString();
  skf::DEVINFO info;
  std::memset(&info, 0, sizeof info);
  if (api.SKF_GetDevInfo(device, &info) != skf::SAR_OK) return QString();
  return QString::fromLatin1(info.SerialNumber,
                             int(strnlen(info.SerialNumber, sizeof info.SerialNumber)));
}

std::string vendorLibraryPath() {
  return std::string(varo::kInstallRoot) + varo::kVendorKeyLibraryPath;
}

VendorLibrary::VendorLibrary() : lib_(vendorLibraryPath()) {
  if (lib_.isLoaded()) api_.resolveFrom(lib_);
}

int VendorLibrary::require(std::initializer_list<Fn> calls) const {
  if (!lib_.isLoaded()) return kLibraryFailed;
  for (Fn fn : calls)
    if (!api_.has(fn)) return kLibraryFailed;
  return kOk;
}

QString VendorLibrary::problem(std::initializer_list<Fn> calls) const {
  const QString path = QString::fromStdString(vendorLibraryPath());
  if (!lib_.isLoaded())
    return "the key library " + path + " does not load: " + QString::fromStdString(lib_.errorString());
  for (Fn fn : calls)
    if (!api_.has(fn)) return "the key library " + path + " lacks " + skf::functionName(fn);
  return QString();
}

int enumerateSingleDevice(const skf::Api& api, std::string* device) {
  std::vector<std::string> names;
  skf::ULONG code = skf::SAR_OK;
  auto call = [&](char* buffer, skf::ULONG* size) {
    return code = api.SKF_EnumDev(1, buffer, size);
  };
  if (!enumerateNames(call, &names)) {
    // A list longer than the buffer is not "no key": it is read whole, so
    // that several keys with long names are told as several keys.
    if (code != skf::SAR_BUFFER_TOO_SMALL) return kNoDevice;
    DeviceList all = enumerateDevices(api);
    if (!all.ok()) return kNoDevice;
    names = std::move(all.names);
  }
  if (names.size() > 1) return kSeveralDevices;
  *device = names.empty() ? std::string() : names.front();
  return kOk;
}

DeviceList enumerateDevices(const skf::Api& api) {
  DeviceList list;
  skf::ULONG size = 0;
  list.vendorCode = api.SKF_EnumDev(1, nullptr, &size);
  if (list.vendorCode != skf::SAR_OK) {
    list.failedCall = 1;
    return list;
  }
  if (size > kMaxDeviceListSize) {
    list.vendorCode = skf::SAR_BUFFER_TOO_SMALL;
    list.failedCall = 2;
    return list;
  }
  // The library is offered the size it reported, in a buffer that really
  // holds that many bytes.
  std::vector<char> buffer(std::max<skf::ULONG>(size, kDeviceListSize), 0);
  skf::ULONG filled = size;
  list.vendorCode = api.SKF_EnumDev(1, buffer.data(), &filled);
  if (list.vendorCode != skf::SAR_OK) {
    list.failedCall = 2;
    return list;
  }
  list.names =
      varo::parseSkfNameList(varo::ByteSpan(buffer.data(), std::min<size_t>(filled, buffer.size())));
  return list;
}

namespace {

// The result of an SKF open call into handle; a failed call leaves no
// handle behind, whatever the library wrote into the slot.
skf::ULONG opened(skf::ULONG code, varo::SkfHandle& handle) {
  if (code != skf::SAR_OK) handle.leaveOpen();
  return code;
}

}  // namespace

skf::ULONG OpenKey::connect(std::string device) {
  return opened(api_.SKF_ConnectDev(varo::skfName(device), device_.slot()), device_);
}

OpenKey::AppStep OpenKey::openFirstApplication(skf::ULONG* vendorCode) {
  std::vector<std::string> apps;
  skf::ULONG code = skf::SAR_OK;
  auto call = [&](char* buffer, skf::ULONG* size) {
    return code = api_.SKF_EnumApplication(device_.get(), buffer, size);
  };
  if (!enumerateNames(call, &apps)) {
    if (vendorCode) *vendorCode = code;
    return AppStep::EnumerationFailed;
  }
  // The first application of the key is its seal application. An empty
  // list is offered to the library as the empty name, which it refuses.
  std::string first = apps.empty() ? std::string() : apps.front();
  code = opened(api_.SKF_OpenApplication(device_.get(), varo::skfName(first), application_.slot()),
                application_);
  if (vendorCode) *vendorCode = code;
  return code == skf::SAR_OK ? AppStep::Opened : AppStep::OpeningFailed;
}

bool OpenKey::containerNames(std::vector<std::string>* names) {
  auto call = [&](char* buffer, skf::ULONG* size) {
    return api_.SKF_EnumContainer(application_.get(), buffer, size);
  };
  return enumerateNames(call, names);
}

bool OpenKey::fileNames(std::vector<std::string>* names, skf::ULONG* vendorCode) {
  skf::ULONG size = 0;
  *vendorCode = api_.SKF_EnumFiles(application_.get(), nullptr, &size);
  if (*vendorCode != skf::SAR_OK) return false;
  if (size > kMaxDeviceListSize) {
    *vendorCode = skf::SAR_BUFFER_TOO_SMALL;
    return false;
  }
  std::vector<char> buffer(size_t(size) + 1, 0);
  skf::ULONG filled = size;
  *vendorCode = api_.SKF_EnumFiles(application_.get(), buffer.data(), &filled);
  if (*vendorCode != skf::SAR_OK) return false;
  *names = varo::parseSkfNameList(varo::ByteSpan(buffer.data(), std::min<size_t>(filled, size)));
  return true;
}

bool OpenKey::openContainer(std::string name) {
  return opened(api_.SKF_OpenContainer(application_.get(), varo::skfName(name), container_.slot()),
                container_) == skf::SAR_OK;
}

int connectSingleDevice(const skf::Api& api, OpenKey& key) {
  std::string device;
  if (int rc = enumerateSingleDevice(api, &device)) return rc;
  return key.connect(device) == skf::SAR_OK ? kOk : kOpenDeviceFailed;
}

}  // namespace gm3000

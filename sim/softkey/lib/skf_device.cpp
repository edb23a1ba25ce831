// Device management: listing, connecting, device information, device lock.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "skf_common.h"

using namespace varo::softkey;
using skf::DEVHANDLE;
using skf::DEVINFO;

namespace {

// Device locks taken with SKF_LockDev: one flock descriptor per device handle.
std::mutex lockMutex;
std::unordered_map<void*, int> deviceLocks;

void releaseDeviceLock(void* h) {
  std::lock_guard<std::mutex> guard(lockMutex);
  auto it = deviceLocks.find(h);
  if (it == deviceLocks.end()) return;
  ::close(it->second);
  deviceLocks.erase(it);
}

void copyField(char* field, size_t fieldSize, const std::string& text) {
  std::memset(field, 0, fieldSize);
  std::memcpy(field, text.data(), std::min(fieldSize, text.size()));
}

}  // namespace

SKF_EXPORT ULONG SKF_EnumDev(skf::BOOL bPresent, skf::LPSTR szNameList, ULONG* pulSize) {
  std::string store = storeDirectory();
  if (ULONG f = injectedFault(store, "SKF_EnumDev", {})) return f;
  std::vector<std::string> names = listKeyNames(store);
  if (!bPresent) {
    for (auto& n : listKeyNames(detachedDirectory(store))) names.push_back(n);
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
  }
  return putNameList(names, szNameList, pulSize);
}

SKF_EXPORT ULONG SKF_ConnectDev(skf::LPSTR szName, DEVHANDLE* phDev) {
  std::string store = storeDirectory();
  std::string name;
  bool named = readName(szName, kMaxDeviceNameLen, &name);
  if (ULONG f = injectedFault(store, "SKF_ConnectDev", {name})) return f;
  if (!phDev || !named) return skf::SAR_INVALIDPARAMERR;
  if (!isValidDeviceName(name)) return skf::SAR_INVALIDPARAMERR;
  KeySession key(keyDirectory(store, name), false);
  if (!key.ok()) return keyStatusCode(key.status());
  HandleEntry e{HandleKind::Device,
                store,
                name,
                {},
                {},
                0,
                nullptr,
                std::make_shared<DeviceSecurity>(),
                nullptr};
  *phDev = HandleTable::instance().add(std::move(e));
  return skf::SAR_OK;
}

SKF_EXPORT ULONG SKF_DisConnectDev(DEVHANDLE hDev) {
  HandleEntry e;
  if (!lookupHandle(hDev, HandleKind::Device, &e)) return skf::SAR_INVALIDHANDLEERR;
  if (ULONG f = injectedFault(e.store, "SKF_DisConnectDev", {e.device})) return f;
  releaseDeviceLock(hDev);
  HandleTable::instance().removeDevice(hDev);
  return skf::SAR_OK;
}

SKF_EXPORT ULONG SKF_GetDevState(skf::LPSTR szDevName, ULONG* pulDevState) {
  std::string store = storeDirectory();
  std::string name;
  bool named = readName(szDevName, kMaxDeviceNameLen, &name);
  if (ULONG f = injectedFault(store, "SKF_GetDevState", {name})) return f;
  if (!pulDevState || !named) return skf::SAR_INVALIDPARAMERR;
  bool present =
      isValidDeviceName(name) && fileExists(keyDirectory(store, name) + "/" + kManifestName);
  *pulDevState = present ? skf::DEV_PRESENT_STATE : skf::DEV_ABSENT_STATE;
  return skf::SAR_OK;
}

SKF_EXPORT ULONG SKF_GetDevInfo(DEVHANDLE hDev, DEVINFO* pDevInfo) {
  HandleEntry e;
  if (!lookupHandle(hDev, HandleKind::Device, &e)) return skf::SAR_INVALIDHANDLEERR;
  if (ULONG f = injectedFault(e.store, "SKF_GetDevInfo", {e.device})) return f;
  if (!pDevInfo) return skf::SAR_INVALIDPARAMERR;
  KeySession key(keyDirectory(e.store, e.device), false);
  if (!key.ok()) return keyStatusCode(key.status());
  const DeviceInfo& d = key.data().device;
  DEVINFO info;
  std::memset(&info, 0, sizeof info);
  info.Version = {1, 0};
  copyField(info.Manufacturer, sizeof info.Manufacturer, d.manufacturer);
  copyField(info.Issuer, sizeof info.Issuer, d.issuer);
  copyField(info.Label, sizeof info.Label, d.label);
  copyField(info.SerialNumber, sizeof info.SerialNumber, d.serial);
  info.HWVersion = {d.hwMajor, d.hwMinor};
  info.FirmwareVersion = {d.fwMajor, d.fwMinor};
  info.AlgSymCap = skf::SGD_SM4_ECB | skf::SGD_SM4_CBC;
  // The SM2 family, its signature and its encryption scheme.
  info.AlgAsymCap = skf::SGD_SM2 | skf::SGD_SM2_1 | skf::SGD_SM2_3;
  info.AlgHashCap = skf::SGD_SM3;
  info.DevAuthAlgId = skf::SGD_SM4_ECB;
  info.TotalSpace = d.totalSpace;
  uint64_t used = key.data().usedSpace();
  info.FreeSpace = used >= d.totalSpace ? 0 : ULONG(d.totalSpace - used);
  info.MaxECCBufferSize = 1024;
  info.MaxBufferSize = 4096;
  std::memcpy(pDevInfo, &info, sizeof info);
  return skf::SAR_OK;
}

SKF_EXPORT ULONG SKF_SetLabel(DEVHANDLE hDev, skf::LPSTR szLabel) {
  HandleEntry e;
  if (!lookupHandle(hDev, HandleKind::Device, &e)) return skf::SAR_INVALIDHANDLEERR;
  if (ULONG f = injectedFault(e.store, "SKF_SetLabel", {e.device})) return f;
  std::string label;
  if (!szLabel) return skf::SAR_INVALIDPARAMERR;
  if (!readName(szLabel, kMaxLabelLen, &label)) return skf::SAR_NAMELENERR;
  KeySession key(keyDirectory(e.store, e.device), true);
  if (!key.ok()) return keyStatusCode(key.status());
  key.data().device.label = label;
  return key.save() ? skf::SAR_OK : skf::SAR_WRITEFILEERR;
}

SKF_EXPORT ULONG SKF_LockDev(DEVHANDLE hDev, ULONG ulTimeOut) {
  HandleEntry e;
  if (!lookupHandle(hDev, HandleKind::Device, &e)) return skf::SAR_INVALIDHANDLEERR;
  if (ULONG f = injectedFault(e.store, "SKF_LockDev", {e.device})) return f;
  {
    std::lock_guard<std::mutex> guard(lockMutex);
    if (deviceLocks.count(hDev)) return skf::SAR_OK;
  }
  std::string path = keyDirectory(e.store, e.device) + "/.devlock";
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return skf::SAR_DEVICE_REMOVED;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ulTimeOut);
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) break;
    if (errno != EWOULDBLOCK && errno != EINTR) {
      ::close(fd);
      return skf::SAR_FAIL;
    }
    if (ulTimeOut != 0xFFFFFFFFu && std::chrono::steady_clock::now() >= deadline) {
      ::close(fd);
      return skf::SAR_TIMEOUTERR;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::lock_guard<std::mutex> guard(lockMutex);
  deviceLocks[hDev] = fd;
  return skf::SAR_OK;
}

SKF_EXPORT ULONG SKF_UnlockDev(DEVHANDLE hDev) {
  HandleEntry e;
  if (!lookupHandle(hDev, HandleKind::Device, &e)) return skf::SAR_INVALIDHANDLEERR;
  if (ULONG f = injectedFault(e.store, "SKF_UnlockDev", {e.device})) return f;
  releaseDeviceLock(hDev);
  return skf::SAR_OK;
}

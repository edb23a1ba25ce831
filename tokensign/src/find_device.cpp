// GetDevNameByCert: the attached key whose first application holds a given
// certificate as the signature certificate of one of its containers.
#include <cstring>

#include "TokenSign_LM.h"
#include "vendor_key.h"

namespace tokensign {
namespace {

// A size reported for a certificate export beyond this is not believed.
constexpr skf::ULONG kMaxExportedCertificate = 64 * 1024;

// The container's signature certificate equals cert over the exported
// certificate's length. The given certificate must be at least as long: the
// comparison never reads beyond it.
bool containerHoldsCert(const skf::Api& api, skf::HANDLE app, std::string& container,
                        varo::ByteSpan cert) {
  SkfHandle con(api.SKF_CloseContainer);
  if (api.SKF_OpenContainer(app, skfName(container), con.slot()) != skf::SAR_OK) return false;
  skf::ULONG size = 0;
  if (api.SKF_ExportCertificate(con.get(), 1, nullptr, &size) != skf::SAR_OK) return false;
  if (size == 0 || size > kMaxExportedCertificate) return false;
  std::vector<unsigned char> exported(size);
  skf::ULONG got = size;
  if (api.SKF_ExportCertificate(con.get(), 1, exported.data(), &got) != skf::SAR_OK) return false;
  if (got == 0 || got > size) return false;
  return cert.size() >= got && std::memcmp(cert.data(), exported.data(), got) == 0;
}

// A device list size beyond this is not believed.
constexpr skf::ULONG kMaxDeviceList = 64 * 1024;

// The present devices: the list in one 256-byte call, or, when the list does
// not fit there (several keys with long names), read whole after a size
// query, so that a key is not missed for the length of its neighbours' names.
bool presentDevices(const skf::Api& api, std::vector<std::string>* devices) {
  skf::ULONG code = skf::SAR_OK;
  auto enumDevs = [&](char* b, skf::ULONG* n) { return code = api.SKF_EnumDev(1, b, n); };
  if (enumerateNames(enumDevs, devices)) return true;
  if (code != skf::SAR_BUFFER_TOO_SMALL) return false;
  skf::ULONG size = 0;
  if (api.SKF_EnumDev(1, nullptr, &size) != skf::SAR_OK || size == 0 || size > kMaxDeviceList)
    return false;
  std::vector<char> list(size_t(size) + 2, 0);
  skf::ULONG got = size;
  if (api.SKF_EnumDev(1, list.data(), &got) != skf::SAR_OK) return false;
  *devices = parseSkfNameList(varo::ByteSpan(list.data(), got < size ? got : size));
  return true;
}

enum class DeviceOutcome { NoMatch, Match, Stop };

// Looks at one device; on a failure that ends the search, *code is set.
DeviceOutcome searchDevice(const skf::Api& api, std::string& device, varo::ByteSpan cert,
                           int* code) {
  SkfHandle dev(api.SKF_DisConnectDev);
  if (api.SKF_ConnectDev(skfName(device), dev.slot()) != skf::SAR_OK) {
    *code = kDevNameConnectFailed;
    return DeviceOutcome::Stop;
  }
  std::vector<std::string> apps;
  auto enumApps = [&](char* b, skf::ULONG* n) { return api.SKF_EnumApplication(dev.get(), b, n); };
  if (!enumerateNames(enumApps, &apps) || apps.empty()) {
    *code = kDevNameEnumAppsFailed;
    return DeviceOutcome::Stop;
  }
  // Only the first application is searched.
  SkfHandle app(api.SKF_CloseApplication);
  if (api.SKF_OpenApplication(dev.get(), skfName(apps[0]), app.slot()) != skf::SAR_OK) {
    *code = kDevNameAppFailed;
    return DeviceOutcome::Stop;
  }
  std::vector<std::string> containers;
  auto enumCons = [&](char* b, skf::ULONG* n) { return api.SKF_EnumContainer(app.get(), b, n); };
  if (!enumerateNames(enumCons, &containers) || containers.empty()) {
    *code = kDevNameAppFailed;
    return DeviceOutcome::Stop;
  }
  for (std::string& container : containers) {
    if (containerHoldsCert(api, app.get(), container, cert)) return DeviceOutcome::Match;
  }
  return DeviceOutcome::NoMatch;
}

}  // namespace
}  // namespace tokensign

using namespace tokensign;

int GetDevNameByCert(char* libraryPath, unsigned char* cert, int certLength, char* deviceName) {
  VendorLibrary vendor(libraryPath);
  if (!vendor.usable()) return kDevNameNoLibrary;
  const skf::Api& api = vendor.api();

  std::vector<std::string> devices;
  if (!presentDevices(api, &devices) || devices.empty()) return kDevNameNoDevice;

  // The length is only used to keep the comparison inside the given bytes.
  const varo::ByteSpan given = varo::ByteSpan::fromInt(cert, certLength);
  for (std::string& device : devices) {
    int code = kDevNameNotFound;
    switch (searchDevice(api, device, given, &code)) {
      case DeviceOutcome::Stop:
        return code;
      case DeviceOutcome::Match:
        // A name that does not fit the caller's 100-byte buffer cannot be
        // handed on; the search goes on as if this key did not match.
        if (!deviceName) return kDevNameFound;
        if (copyName(device, deviceName, kDeviceNameCapacity)) return kDevNameFound;
        break;
      case DeviceOutcome::NoMatch:
        break;
    }
  }
  return kDevNameNotFound;
}

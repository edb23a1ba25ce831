// Access to the vendor's SKF library for one call: the library loaded by its
// path with the functions this module needs, handles that close themselves,
// and bounded reading of SKF name lists and certificates.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "varo/byte_span.h"
#include "varo/loaded_library.h"
#include "varo/skf_api.h"
#include "varo/skf_handle.h"

namespace tokensign {

// The vendor library, loaded for the lifetime of the object.
class VendorLibrary {
 public:
  explicit VendorLibrary(const char* path);
  // Loaded, and every function this module calls was resolved. A library
  // that lacks one of them counts as one that cannot be loaded.
  bool usable() const { return usable_; }
  const skf::Api& api() const { return api_; }

 private:
  varo::LoadedLibrary lib_;
  skf::Api api_;
  bool usable_ = false;
};

using varo::parseSkfNameList;
using varo::SkfHandle;
using varo::skfName;

// Size of the buffers offered for SKF name lists.
inline constexpr skf::ULONG kNameListSize = 256;
// Size of the buffer offered for a certificate export.
inline constexpr skf::ULONG kCertificateBufferSize = 4096;

// Fills a list buffer through an SKF enumeration function of the form
// fn(handle-or-flag, buffer, &size) offering kNameListSize bytes.
template <class Enumerate>
bool enumerateNames(Enumerate&& call, std::vector<std::string>* names) {
  char buffer[kNameListSize + 2] = {};
  skf::ULONG size = kNameListSize;
  if (call(buffer, &size) != skf::SAR_OK) return false;
  size_t used = size < kNameListSize ? size : kNameListSize;
  *names = parseSkfNameList(varo::ByteSpan(buffer, used));
  return true;
}

// Copies name into a buffer of capacity bytes with its terminator; false,
// with nothing written, when it does not fit.
bool copyName(const std::string& name, char* out, size_t capacity);

}  // namespace tokensign

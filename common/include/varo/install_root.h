// The installation root (InstallRoot) fixed at build time.
#pragma once

#ifndef VARO_INSTALL_ROOT
#error "VARO_INSTALL_ROOT must be defined by the build"
#endif

namespace varo {

// Absolute path without a trailing "/".
inline constexpr const char* kInstallRoot = VARO_INSTALL_ROOT;

// Paths below the root, each starting with "/".
inline constexpr const char* kToolLibraryPath = "/VaroSupport/VaroCommon/ToolBench.so";
inline constexpr const char* kCodecLibraryPath = "/sealstruct/SesSealStru.so";
inline constexpr const char* kVendorKeyLibraryPath =
    "/VaroSupport/VaroCardSupport/LMKJ/GM3000_QX/libk5.1.0.so";
inline constexpr const char* kDriverDirectory = "/VaroSupport/uklibrary/";
inline constexpr const char* kSealStoreDirectory = "/sealData/";

}  // namespace varo

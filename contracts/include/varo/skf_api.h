// One table of the SKF functions the system calls, resolved by name from the
// vendor library. The driver and the signing module share it.
#pragma once

#include "varo/loaded_library.h"
#include "varo/skf_types.h"

namespace skf {

// X(name, return type, parameter list) for every function the system uses.
#define VARO_SKF_FUNCTIONS(X)                                                                  \
  X(SKF_EnumDev, ULONG, (BOOL bPresent, LPSTR szNameList, ULONG * pulSize))                    \
  X(SKF_ConnectDev, ULONG, (LPSTR szName, DEVHANDLE * phDev))                                  \
  X(SKF_DisConnectDev, ULONG, (DEVHANDLE hDev))                                                \
  X(SKF_LockDev, ULONG, (DEVHANDLE hDev, ULONG ulTimeOut))                                     \
  X(SKF_UnlockDev, ULONG, (DEVHANDLE hDev))                                                    \
  X(SKF_GetDevInfo, ULONG, (DEVHANDLE hDev, DEVINFO * pDevInfo))                               \
  X(SKF_EnumApplication, ULONG, (DEVHANDLE hDev, LPSTR szAppName, ULONG * pulSize))            \
  X(SKF_OpenApplication, ULONG, (DEVHANDLE hDev, LPSTR szAppName, HAPPLICATION * phApp))       \
  X(SKF_CloseApplication, ULONG, (HAPPLICATION hApp))                                          \
  X(SKF_VerifyPIN, ULONG, (HAPPLICATION hApp, ULONG ulPINType, LPSTR szPIN, ULONG * pulRetry)) \
  X(SKF_ChangePIN, ULONG,                                                                      \
    (HAPPLICATION hApp, ULONG ulPINType, LPSTR szOldPin, LPSTR szNewPin, ULONG * pulRetry))    \
  X(SKF_EnumContainer, ULONG, (HAPPLICATION hApp, LPSTR szContainerName, ULONG * pulSize))     \
  X(SKF_OpenContainer, ULONG, (HAPPLICATION hApp, LPSTR szContainerName, HCONTAINER * phCon))  \
  X(SKF_CloseContainer, ULONG, (HCONTAINER hContainer))                                        \
  X(SKF_GetContainerType, ULONG, (HCONTAINER hContainer, ULONG * pulContainerType))            \
  X(SKF_ExportCertificate, ULONG,                                                              \
    (HCONTAINER hContainer, BOOL bSignFlag, BYTE * pbCert, ULONG * pulCertLen))                \
  X(SKF_ECCSignData, ULONG,                                                                    \
    (HCONTAINER hContainer, BYTE * pbData, ULONG ulDataLen, ECCSIGNATUREBLOB * pSignature))    \
  X(SKF_EnumFiles, ULONG, (HAPPLICATION hApp, LPSTR szFileList, ULONG * pulSize))              \
  X(SKF_ReadFile, ULONG,                                                                       \
    (HAPPLICATION hApp, LPSTR szFileName, ULONG ulOffset, ULONG ulSize, BYTE * pbOutData,      \
     ULONG * pulOutLen))                                                                       \
  X(SKF_CreateFile, ULONG,                                                                     \
    (HAPPLICATION hApp, LPSTR szFileName, ULONG ulFileSize, ULONG ulReadRights,                \
     ULONG ulWriteRights))                                                                     \
  X(SKF_WriteFile, ULONG,                                                                      \
    (HAPPLICATION hApp, LPSTR szFileName, ULONG ulOffset, BYTE * pbData, ULONG ulSize))        \
  X(SKF_DeleteFile, ULONG, (HAPPLICATION hApp, LPSTR szFileName))

extern "C" {
#define VARO_SKF_TYPEDEF(name, ret, params) using name##_Fn = ret(*) params;
VARO_SKF_FUNCTIONS(VARO_SKF_TYPEDEF)
#undef VARO_SKF_TYPEDEF
}

// One identifier per function of the table, so that an operation can name
// the functions it calls as data.
enum class Fn {
#define VARO_SKF_ID(name, ret, params) name,
  VARO_SKF_FUNCTIONS(VARO_SKF_ID)
#undef VARO_SKF_ID
};

// The exported name of a function of the table.
inline const char* functionName(Fn fn) {
  switch (fn) {
#define VARO_SKF_NAME(name, ret, params) \
  case Fn::name:                         \
    return #name;
    VARO_SKF_FUNCTIONS(VARO_SKF_NAME)
#undef VARO_SKF_NAME
  }
  return "?";
}

// The resolved functions; a function the library lacks stays null.
struct Api {
#define VARO_SKF_MEMBER(name, ret, params) name##_Fn name = nullptr;
  VARO_SKF_FUNCTIONS(VARO_SKF_MEMBER)
#undef VARO_SKF_MEMBER

  // Resolves every function of the table by its undecorated name.
  void resolveFrom(const varo::LoadedLibrary& lib) {
#define VARO_SKF_RESOLVE(name, ret, params) name = lib.resolve<name##_Fn>(#name);
    VARO_SKF_FUNCTIONS(VARO_SKF_RESOLVE)
#undef VARO_SKF_RESOLVE
  }

  // True when the library exports the function.
  bool has(Fn fn) const {
    switch (fn) {
#define VARO_SKF_HAS(name, ret, params) \
  case Fn::name:                        \
    return name != nullptr;
      VARO_SKF_FUNCTIONS(VARO_SKF_HAS)
#undef VARO_SKF_HAS
    }
    return false;
  }
};

}  // namespace skf

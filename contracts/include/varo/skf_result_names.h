// The GM/T 0016 result codes with their SAR_* names and meanings, as data:
// SAR_OK, then SAR_FAIL to SAR_REACH_MAX_CONTAINER_COUNT in code order.
#pragma once

#include "varo/skf_types.h"

namespace skf {

struct ResultName {
  ULONG code;
  const char* name;
  const char* meaning;
};

inline constexpr ResultName kResultNames[] = {
    {SAR_OK, "SAR_OK", "success"},
    {SAR_FAIL, "SAR_FAIL", "failure"},
    {SAR_UNKNOWNERR, "SAR_UNKNOWNERR", "unknown error"},
    {SAR_NOTSUPPORTYETERR, "SAR_NOTSUPPORTYETERR", "service not supported"},
    {SAR_FILEERR, "SAR_FILEERR", "file operation error"},
    {SAR_INVALIDHANDLEERR, "SAR_INVALIDHANDLEERR", "invalid handle"},
    {SAR_INVALIDPARAMERR, "SAR_INVALIDPARAMERR", "invalid parameter"},
    {SAR_READFILEERR, "SAR_READFILEERR", "file read error"},
    {SAR_WRITEFILEERR, "SAR_WRITEFILEERR", "file write error"},
    {SAR_NAMELENERR, "SAR_NAMELENERR", "wrong name length"},
    {SAR_KEYUSAGEERR, "SAR_KEYUSAGEERR", "wrong key usage"},
    {SAR_MODULUSLENERR, "SAR_MODULUSLENERR", "wrong modulus length"},
    {SAR_NOTINITIALIZEERR, "SAR_NOTINITIALIZEERR", "not initialized"},
    {SAR_OBJERR, "SAR_OBJERR", "object error"},
    {SAR_MEMORYERR, "SAR_MEMORYERR", "memory error"},
    {SAR_TIMEOUTERR, "SAR_TIMEOUTERR", "timeout"},
    {SAR_INDATALENERR, "SAR_INDATALENERR", "wrong input data length"},
    {SAR_INDATAERR, "SAR_INDATAERR", "wrong input data"},
    {SAR_GENRANDERR, "SAR_GENRANDERR", "random number generation failed"},
    {SAR_HASHOBJERR, "SAR_HASHOBJERR", "hash object error"},
    {SAR_HASHERR, "SAR_HASHERR", "hash operation failed"},
    {SAR_GENRSAKEYERR, "SAR_GENRSAKEYERR", "RSA key generation failed"},
    {SAR_RSAMODULUSLENERR, "SAR_RSAMODULUSLENERR", "wrong RSA modulus length"},
    {SAR_CSPIMPRTPUBKEYERR, "SAR_CSPIMPRTPUBKEYERR", "the CSP could not import the public key"},
    {SAR_RSAENCERR, "SAR_RSAENCERR", "RSA encryption failed"},
    {SAR_RSADECERR, "SAR_RSADECERR", "RSA decryption failed"},
    {SAR_HASHNOTEQUALERR, "SAR_HASHNOTEQUALERR", "the hash values differ"},
    {SAR_KEYNOTFOUNTERR, "SAR_KEYNOTFOUNTERR", "key not found"},
    {SAR_CERTNOTFOUNTERR, "SAR_CERTNOTFOUNTERR", "certificate not found"},
    {SAR_NOTEXPORTERR, "SAR_NOTEXPORTERR", "the object is not exported"},
    {SAR_DECRYPTPADERR, "SAR_DECRYPTPADERR", "wrong padding in decryption"},
    {SAR_MACLENERR, "SAR_MACLENERR", "wrong MAC length"},
    {SAR_BUFFER_TOO_SMALL, "SAR_BUFFER_TOO_SMALL", "buffer too small"},
    {SAR_KEYINFOTYPEERR, "SAR_KEYINFOTYPEERR", "wrong key type"},
    {SAR_NOT_EVENTERR, "SAR_NOT_EVENTERR", "no event"},
    {SAR_DEVICE_REMOVED, "SAR_DEVICE_REMOVED", "the device was removed"},
    {SAR_PIN_INCORRECT, "SAR_PIN_INCORRECT", "wrong PIN"},
    {SAR_PIN_LOCKED, "SAR_PIN_LOCKED", "the PIN is locked"},
    {SAR_PIN_INVALID, "SAR_PIN_INVALID", "invalid PIN"},
    {SAR_PIN_LEN_RANGE, "SAR_PIN_LEN_RANGE", "PIN length out of range"},
    {SAR_USER_ALREADY_LOGGED_IN, "SAR_USER_ALREADY_LOGGED_IN", "the user is already logged in"},
    {SAR_USER_PIN_NOT_INITIALIZED, "SAR_USER_PIN_NOT_INITIALIZED", "the user PIN is not set"},
    {SAR_USER_TYPE_INVALID, "SAR_USER_TYPE_INVALID", "invalid PIN type"},
    {SAR_APPLICATION_NAME_INVALID, "SAR_APPLICATION_NAME_INVALID", "invalid application name"},
    {SAR_APPLICATION_EXISTS, "SAR_APPLICATION_EXISTS", "the application exists already"},
    {SAR_USER_NOT_LOGGED_IN, "SAR_USER_NOT_LOGGED_IN", "the user is not logged in"},
    {SAR_APPLICATION_NOT_EXISTS, "SAR_APPLICATION_NOT_EXISTS", "no such application"},
    {SAR_FILE_ALREADY_EXIST, "SAR_FILE_ALREADY_EXIST", "the file exists already"},
    {SAR_NO_ROOM, "SAR_NO_ROOM", "no room left"},
    {SAR_FILE_NOT_EXIST, "SAR_FILE_NOT_EXIST", "no such file"},
    {SAR_REACH_MAX_CONTAINER_COUNT, "SAR_REACH_MAX_CONTAINER_COUNT",
     "the maximum number of containers is reached"},
};

// The row of code, or null when the standard defines no such code.
inline const ResultName* findResultName(unsigned long code) {
  for (const ResultName& row : kResultNames)
    if (row.code == code) return &row;
  return nullptr;
}

}  // namespace skf

// The key signing module: signs a digest with SM2 on the USB key whose
// container holds the signer's certificate, through the vendor's SKF library.
#pragma once

#define TOKENSIGN_EXPORT __attribute__((visibility("default")))

// Result codes of SignData and SignData_SM2_UK_SKF_IN.
enum TokenSignResult : int {
  kTokenSignOk = 0,
  kTokenSignCertNotFound = 1,    // no device given and no key holds the certificate
  kTokenSignBufferTooSmall = 2,  // signature capacity below 1000
  kTokenSignNoBuffer = 3,        // no signature buffer
  kTokenSignNoLibrary = 4,       // the vendor library cannot be loaded
  kTokenSignNoDeviceName = 5,    // no device name
  kTokenSignConnectFailed = 6,   // the device cannot be connected
  kTokenSignEnumAppsFailed = 7,  // the applications cannot be enumerated
  kTokenSignNoMatch = 8,         // no application holds a container with the certificate
  kTokenSignPinFailed = 9,       // PIN verification failed
  kTokenSignSignFailed = 10,     // the key failed to sign
};

// Result codes of GetDevNameByCert.
enum DevNameResult : int {
  kDevNameFound = 0,
  kDevNameNoLibrary = 3,
  kDevNameNoDevice = 4,
  kDevNameConnectFailed = 5,
  kDevNameEnumAppsFailed = 6,
  kDevNameAppFailed = 7,
  kDevNameNotFound = 8,
};

// Signature value: r then s, 32 bytes each, big-endian.
inline constexpr unsigned kSignatureValueLength = 64;
// Capacity of a device name buffer, terminator included.
inline constexpr int kDeviceNameCapacity = 100;

class TOKENSIGN_EXPORT TokenSign_LM {
 public:
  TokenSign_LM();
};

// Signs digest on the key named deviceName (or, when it is null, on the key
// that holds cert), verifying pin first. Writes 64 bytes to signature and
// stores 64 through signatureLength.
extern "C" TOKENSIGN_EXPORT int SignData(char* deviceName, char* pin, unsigned char* digest,
                                         int digestLength, unsigned char* cert, int certLength,
                                         unsigned char* signature, unsigned int* signatureLength);

// The signing routine proper, with the vendor library path given;
// *signatureLength is the capacity on entry and 64 on success.
TOKENSIGN_EXPORT int SignData_SM2_UK_SKF_IN(char* libraryPath, char* deviceName, char* pin,
                                            unsigned char* cert, int certLength,
                                            unsigned char* digest, int digestLength,
                                            unsigned char* signature,
                                            unsigned int* signatureLength);

// Finds the attached key whose first application holds cert as a container's
// signature certificate and writes its name (at most 99 characters and a
// terminator) to deviceName.
TOKENSIGN_EXPORT int GetDevNameByCert(char* libraryPath, unsigned char* cert, int certLength,
                                      char* deviceName);

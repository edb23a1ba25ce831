// The key device driver interface, shared by the drivers, the provider and
// the plug-ins. A driver library exports getObj (a new object, as a
// VaroDeviceBase*) and freeObj (releases it); callers reach the operations
// only through the dispatch table, so the order of the twelve virtual
// operations below is part of the plug-in contract. There is no virtual
// destructor and no data member.
//
// The bare base class is usable: every int operation returns 0 except
// ChangePin (-1), and no output is touched.
#pragma once

#include <QString>

#include "varo/install_root.h"

class VaroDeviceBase {
 public:
  // Slot 0: the signing certificate of the key's only container of the
  // given kind (1 RSA, 2 ECC).
  virtual int ReadCert(int kind, unsigned char* out, int* outLength) {
    (void)kind, (void)out, (void)outLength;
    return 0;
  }
  // Slot 1: the seals of every attached key as one JSON array.
  virtual int ReadSealList(unsigned char* out, int* outLength) {
    (void)out, (void)outLength;
    return 0;
  }
  // Slot 2: the bytes of one seal of the first attached key.
  virtual int ReadSeal(char* sealId, unsigned char* out, int* outLength) {
    (void)sealId, (void)out, (void)outLength;
    return 0;
  }
  // Slot 3: stores a seal on the key.
  virtual int WriteSeal(char* sealId, char* sealName, int version, int type, unsigned char* data,
                        int dataLength) {
    (void)sealId, (void)sealName, (void)version, (void)type, (void)data, (void)dataLength;
    return 0;
  }
  // Slots 4 and 5: not implemented by any driver of the system.
  virtual int GenKeyPair(int kind, unsigned char* out, int* outLength) {
    (void)kind, (void)out, (void)outLength;
    return 0;
  }
  virtual int WriteCert(int kind, unsigned char* cert, int certLength) {
    (void)kind, (void)cert, (void)certLength;
    return 0;
  }
  // Slot 6: the message for a result code, zero-terminated UTF-8 (at most
  // 42 bytes and the terminator).
  virtual void GetErrorMsg(int code, char* out) { (void)code, (void)out; }
  // Slot 7: the key's identifier (serial number), at most 32 characters and
  // the terminator.
  virtual int GetUKID(char* out) {
    (void)out;
    return 0;
  }
  // Slot 8: the driver's key type text with its terminator.
  virtual void GetUKType(char* out) { (void)out; }
  // Slot 9: 0 when a container of the key holds a signing certificate that
  // begins with the given bytes.
  virtual int CertExists(unsigned char* cert, int certLength) {
    (void)cert, (void)certLength;
    return 0;
  }
  // Slot 10: removes a seal from the key.
  virtual int DeleteSeal(char* sealId) {
    (void)sealId;
    return 0;
  }
  // Slot 11: changes the user PIN; 0, the tries left, or -1 when locked.
  virtual int ChangePin(char* oldPin, char* newPin) {
    (void)oldPin, (void)newPin;
    return -1;
  }

  // Ordinary members every driver carries.
  // The installation directory InstallRoot fixed at build time.
  QString GetVaroHome() { return QString::fromUtf8(varo::kInstallRoot); }
  int Is64BitSystem() { return 1; }
  int Is64Release() { return 64; }
};

extern "C" {
using DriverGetObjFn = VaroDeviceBase* (*)();
using DriverFreeObjFn = void (*)(void*);
}

namespace varo {
template <class Interface>
struct FreeObjParameter;
// A driver's freeObj takes the object as void*; callers that hold it in a
// PluginObject call it through that type.
template <>
struct FreeObjParameter<VaroDeviceBase> {
  using type = void*;
};
}  // namespace varo

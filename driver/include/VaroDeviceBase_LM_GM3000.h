// The driver of the GM3000 USB key: the seal store, certificates, identity
// and PIN of the key, over the vendor's SKF library.
#pragma once

#include <QString>

#include <cstdint>

// The interface is compiled with default visibility here, so that the
// exported driver class may derive from it.
#pragma GCC visibility push(default)
#include "VaroDeviceBase.h"
#pragma GCC visibility pop

#define VARO_DRIVER_EXPORT __attribute__((visibility("default")))

class VARO_DRIVER_EXPORT VaroDeviceBase_LM_GM3000 final : public VaroDeviceBase {
 public:
  VaroDeviceBase_LM_GM3000();

  int ReadCert(int kind, unsigned char* out, int* outLength) override;
  int ReadSealList(unsigned char* out, int* outLength) override;
  int ReadSeal(char* sealId, unsigned char* out, int* outLength) override;
  int WriteSeal(char* sealId, char* sealName, int version, int type, unsigned char* data,
                int dataLength) override;
  int GenKeyPair(int kind, unsigned char* out, int* outLength) override;
  int WriteCert(int kind, unsigned char* cert, int certLength) override;
  void GetErrorMsg(int code, char* out) override;
  int GetUKID(char* out) override;
  void GetUKType(char* out) override;
  int CertExists(unsigned char* cert, int certLength) override;
  int DeleteSeal(char* sealId) override;
  int ChangePin(char* oldPin, char* newPin) override;

  // The message of a GM/T 0016 result code, or the empty text.
  QString GetSkfError(unsigned long code);

  // The seal with that identifier from the first key that holds it, looked
  // up in the given seal list (at most 4096 bytes).
  int ReadSeal(unsigned char* list, int listLength, char* sealId, unsigned char* out,
               int* outLength);
  // The chunk base name ("FILENAME") of the entry whose "ID" is sealId in
  // an index or seal list text; empty when there is none.
  QString GetSealFileName(QString sealId, QString indexText);
  // Makes the local list and the local seal copy of a key that holds its
  // seal in the old three-file form; the key is not changed. 1 when the
  // seal copy was written, 0 otherwise.
  int ConvertSealFormat2(char* deviceName);
  // Turns a key that holds its seal in the old three-file form into a key
  // with a seal index holding that seal. 1 when the seal was written to the
  // key, 0 otherwise (the old files then stay).
  int ConvertSealFormat(char* deviceName);
  // The base name of a new seal's chunk files: the time of day "hhmmsszzz".
  QString CreateSealFileName();
  // The index text without the entries of sealId; empty when the text is
  // not a list.
  QString DeleteFromJson(QString sealId, QString indexText);

  // Detail of the last failure to reach the key's application (0x1003) or
  // its containers (0x1004). Only the driver writes it.
  int64_t LastError = 0;
};

// The driver's progress log; its messages are for diagnosis and discarded.
VARO_DRIVER_EXPORT void writeLog(QString message);
// Dumps length bytes of data to the file at path (or, for null data, the
// character "1" and nine zero bytes). Never creates a directory and never
// follows a link; without the directory nothing is written.
VARO_DRIVER_EXPORT void writeLog2(const char* path, unsigned char* data, int length);

extern "C" {
VARO_DRIVER_EXPORT VaroDeviceBase* getObj();
VARO_DRIVER_EXPORT void freeObj(void* object);
}

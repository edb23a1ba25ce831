// The object of the common tool library ToolBench.so, as its callers use it.
//
// The library exports getObj (a new ToolObject) and freeObj (takes it back).
// Operations are dispatched by slot, counted from 0, in the order declared
// here; the callers use slots 1, 6, 8, 10 and 11 (slot 9 is used by our
// signing-service stand-in). There is no virtual destructor: it would take
// slots of its own. All texts are zero-terminated 8-bit strings.
#pragma once

class ToolObject {
 public:
  virtual int Reserved0() = 0;  // slot 0
  // Slot 1: writes InstallRoot, without trailing "/", as zero-terminated text
  // into out (the caller's zero-filled buffer of 300 or 1000 bytes).
  virtual int GetHomeDir(char* out) = 0;
  virtual int Reserved2() = 0;  // slot 2
  virtual int Reserved3() = 0;  // slot 3
  virtual int Reserved4() = 0;  // slot 4
  virtual int Reserved5() = 0;  // slot 5
  // Slot 6: sends request to the seal server at address:port and writes its
  // zero-terminated reply into reply (10240 bytes, zero-filled); an empty
  // text when there is none.
  virtual int SendToServer(char* tokenId, char* address, char* port, char* request, char* reply,
                           char* tokenField4) = 0;
  virtual int Reserved7() = 0;  // slot 7
  // Slot 8: authenticated encryption of inCount bytes. *outLength is the
  // buffer size on entry (inCount + 24 suffices) and the number of bytes
  // produced on return; 0 means failure.
  virtual int EncryptData(unsigned char* in, int inCount, unsigned char* out, int* outLength,
                          char* key) = 0;
  // Slot 9: the inverse of EncryptData; *outLength 0 means failure
  // (including a record that was altered).
  virtual int DecryptData(unsigned char* in, int inCount, unsigned char* out, int* outLength,
                          char* key) = 0;
  // Slot 10: true when the token is valid; then address (32 bytes), port (16),
  // tokenId (64) and tokenField4 (32) hold zero-terminated texts. reserved is
  // passed as a null pointer.
  virtual bool ParseToken(char* token, char* address, char* port, char* reserved, char* tokenId,
                          char* tokenField4) = 0;
  // Slot 11: the signing module's name for a key type and seal standard
  // into out (300 bytes, zero-filled); it contains "TokenSign".
  virtual int GetSignModuleName(char* keyType, char* standard, char* out) = 0;
};

extern "C" {
using ToolGetObjFn = ToolObject* (*)();
using ToolFreeObjFn = void (*)(ToolObject*);
}

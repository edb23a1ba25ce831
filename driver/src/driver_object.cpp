// The driver object, its factory and the operations that need no key.
#include <cstring>
#include <new>

#include "VaroDeviceBase_LM_GM3000.h"

namespace {
// The key type text: the vendor code and the model joined by "_".
constexpr char kKeyType[] = "LM_GM3000";
}  // namespace

VaroDeviceBase_LM_GM3000::VaroDeviceBase_LM_GM3000() = default;

void VaroDeviceBase_LM_GM3000::GetUKType(char* out) {
  if (out) std::memcpy(out, kKeyType, sizeof kKeyType);
}

// Key pairs and certificates are not written by this driver.
int VaroDeviceBase_LM_GM3000::GenKeyPair(int, unsigned char*, int*) {
  return 0;
}

int VaroDeviceBase_LM_GM3000::WriteCert(int, unsigned char*, int) {
  return 0;
}

VaroDeviceBase* getObj() {
  return new (std::nothrow) VaroDeviceBase_LM_GM3000();
}

void freeObj(void* object) {
  delete static_cast<VaroDeviceBase_LM_GM3000*>(object);
}

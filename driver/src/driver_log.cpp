// The driver's two log hooks.
#include "VaroDeviceBase_LM_GM3000.h"
#include "varo/trace.h"

void writeLog(QString message) {
  (void)message;
}

void writeLog2(const char* path, unsigned char* data, int length) {
  if (!data) {
    static const char kPlaceholder[10] = {'1'};
    varo::trace::dumpExact(path, kPlaceholder, sizeof kPlaceholder);
    return;
  }
  varo::trace::dumpExact(path, data, length > 0 ? static_cast<size_t>(length) : 0);
}

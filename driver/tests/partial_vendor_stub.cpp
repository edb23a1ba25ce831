// A vendor key library that lacks most SKF functions. Those it has must
// never be called by a driver that checks what it needs before it starts:
// each ends the process.
#include <cstdlib>

extern "C" {
#define STUB(name) \
  __attribute__((visibility("default"))) unsigned name() { std::abort(); }
STUB(SKF_EnumDev)
STUB(SKF_ConnectDev)
STUB(SKF_DisConnectDev)
STUB(SKF_EnumApplication)
STUB(SKF_OpenApplication)
STUB(SKF_CloseApplication)
STUB(SKF_EnumContainer)
STUB(SKF_OpenContainer)
STUB(SKF_CloseContainer)
#undef STUB
}

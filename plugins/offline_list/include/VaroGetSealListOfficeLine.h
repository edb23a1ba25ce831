// The offline seal-list plug-in: the seals stored on the USB keys attached
// now, gathered from every installed key device driver into one JSON array.
// Its one entry is DoIt, resolved by name by a caller outside the system.
#pragma once

#define VAROGETSEALLISTOFFICELINE_EXPORT __attribute__((visibility("default")))

class VAROGETSEALLISTOFFICELINE_EXPORT VaroGetSealListOfficeLine {
 public:
  VaroGetSealListOfficeLine();
};

// input: not read. output, zero-terminated UTF-8: the seal list
// [{"SEALID":"..","SEALNAME":"..","STANDARD":"..","DLLNAME":"..","DEVICEURL":".."},...]
// ("[]" without seals), or "ERROR:加载工具库失败" / "ERROR:加载设备库失败". The
// output is written without a bound: the caller's buffer must hold the whole
// list. A null output: nothing is done.
extern "C" VAROGETSEALLISTOFFICELINE_EXPORT void DoIt(const char* input, char* output);

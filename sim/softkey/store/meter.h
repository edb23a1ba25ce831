// The key's meter: a latency model that makes the key as slow as a USB
// token, and counters of the calls and of the bytes they moved. Both live in
// the file "meter" of the store, a fixed page that every process maps
// shared, so that the counts of a service and of a reader add up and a
// changed setting reaches processes that are already running.
//
// Without the file the key is as fast as the machine and nothing is
// counted. The file is changed in place, never replaced; a process notices
// a removed or recreated file at its next call.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace varo::softkey {

inline constexpr const char* kMeterFileName = "meter";

// The key functions that are counted one by one (every implemented one).
// The order is the layout of the meter file: new names go at the end.
inline constexpr std::array<std::string_view, 42> kMeteredFunctions = {
    "SKF_EnumDev",         "SKF_ConnectDev",       "SKF_DisConnectDev",     "SKF_GetDevState",
    "SKF_GetDevInfo",      "SKF_SetLabel",         "SKF_LockDev",           "SKF_UnlockDev",
    "SKF_EnumApplication", "SKF_OpenApplication",  "SKF_CloseApplication",  "SKF_VerifyPIN",
    "SKF_ChangePIN",       "SKF_UnblockPIN",       "SKF_GetPINInfo",        "SKF_ClearSecureState",
    "SKF_EnumFiles",       "SKF_CreateFile",       "SKF_DeleteFile",        "SKF_GetFileInfo",
    "SKF_ReadFile",        "SKF_WriteFile",        "SKF_EnumContainer",     "SKF_OpenContainer",
    "SKF_CloseContainer",  "SKF_GetContainerType", "SKF_ExportCertificate", "SKF_ExportPublicKey",
    "SKF_ECCSignData",     "SKF_GenRandom",        "SKF_DevAuth",           "SKF_ChangeDevAuthKey",
    "SKF_SetSymmKey",      "SKF_EncryptInit",      "SKF_Encrypt",           "SKF_EncryptUpdate",
    "SKF_EncryptFinal",    "SKF_DecryptInit",      "SKF_Decrypt",           "SKF_DecryptUpdate",
    "SKF_DecryptFinal",    "SKF_CloseHandle"};

// Milliseconds slept per call and per KiB that a call moves.
struct LatencyModel {
  double perCallMs = 0;
  double perKibMs = 0;
  bool operator==(const LatencyModel& o) const {
    return perCallMs == o.perCallMs && perKibMs == o.perKibMs;
  }
};

// A CCID token on USB: a few milliseconds per command round trip, and a few
// tens of KiB per second for file data (short APDUs of up to 255 data bytes,
// each a round trip of several milliseconds). The README gives the reasoning.
inline constexpr LatencyModel kTypicalTokenLatency{3.0, 25.0};

struct MeterCounts {
  uint64_t calls = 0;
  uint64_t bytesRead = 0;     // file data, certificates and public keys the key gave
  uint64_t bytesWritten = 0;  // file data given to the key
  uint64_t sleptMicros = 0;   // time the latency model added
  std::vector<std::pair<std::string_view, uint64_t>> perFunction;  // non-zero ones

  uint64_t callsOf(std::string_view function) const;
};

// The library's side: a call of a key function (counted, then the per-call
// time slept), and the bytes it moved (counted, then the per-KiB time slept).
void meterCall(const std::string& store, std::string_view function);
void meterBytes(const std::string& store, uint64_t read, uint64_t written);

// The provisioning side. Setting the latency or clearing the counters makes
// the meter file when it is missing; false with *why when that fails.
bool setLatency(const std::string& store, LatencyModel model, std::string* why);
bool clearCounts(const std::string& store, std::string* why);
// The setting and counts of a store; nullopt without a meter file.
std::optional<LatencyModel> readLatency(const std::string& store);
std::optional<MeterCounts> readCounts(const std::string& store);

}  // namespace varo::softkey

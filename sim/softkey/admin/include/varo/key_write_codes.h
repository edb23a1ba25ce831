// What the key driver's answers to a seal write (WriteSeal) and the reasons
// it leaves in LastError after a conversion (ConvertSealFormat) mean, in
// English, for the provisioning tools: sealmaker --store and softkey convert.
// The driver's GetErrorMsg gives its Chinese text beside this.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace varo::softkey {

struct KeyWriteCode {
  int64_t code;
  const char* explanation;
};

inline constexpr KeyWriteCode kKeyWriteCodes[] = {
    {0x1002, "the key cannot be connected"},
    {0x1003, "the key has no application"},
    {0x1006, "more than one key is attached; the driver writes to the only one"},
    {0x1007, "the key holds no seal in the old form (no PIC1)"},
    {0x1010, "the key's seal index or its old-form seal cannot be read"},
    {0x1013, "the vendor key library, the seal codec or the tool library cannot be loaded"},
    {0x0A000006,
     "the seal's identifier or name holds a double quote, a backslash, \"},{\" or a control "
     "character, which the key's index cannot store"},
    {0x0A00000F, "another process is writing to the key; try again"},
    {0x0A000011,
     "the old seal files hold no seal the codec decodes, or its identifier or name cannot be "
     "stored"},
    {0x0A00002F, "the key's seal index already lists seals"},
    {0x0A000030, "the key's seal index is full"},
};

// The explanation of code: from the table, else for any other GM/T 0016
// code the vendor key library's failing call, else nullptr.
constexpr const char* explainKeyWriteCode(int64_t code) {
  for (const KeyWriteCode& entry : kKeyWriteCodes)
    if (entry.code == code) return entry.explanation;
  if (code > 0x0A000000 && code <= 0x0A0000FF)
    return "a call of the vendor key library failed while writing to the key";
  return nullptr;
}

// The code as the guide writes it: "0x" and upper-case hexadecimal digits,
// eight of them for GM/T 0016 codes (0x0A00000F, 0x1010); negative codes in
// decimal.
inline std::string keyWriteCodeText(int64_t code) {
  char text[32];
  if (code < 0)
    std::snprintf(text, sizeof text, "%lld", static_cast<long long>(code));
  else
    std::snprintf(text, sizeof text, code > 0xFFFF ? "0x%08llX" : "0x%llX",
                  static_cast<unsigned long long>(code));
  return text;
}

// "CODE TEXT: EXPLANATION", leaving out what is empty or unknown; text is
// the driver's GetErrorMsg text.
inline std::string describeKeyWriteCode(int64_t code, const std::string& text) {
  std::string out = keyWriteCodeText(code);
  if (!text.empty()) out += " " + text;
  if (const char* why = explainKeyWriteCode(code)) out += std::string(": ") + why;
  return out;
}

}  // namespace varo::softkey

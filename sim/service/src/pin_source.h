// The PIN for a signing: the first line of the PIN file (read again for
// every request) or, without a file, typed on the controlling terminal with
// echo off. An empty line, the end of input, a missing terminal, an
// unreadable file or 60 seconds without an answer count as cancelled.
#pragma once

#include <optional>
#include <string>

namespace signd {

// The provider carries PINs of up to this many characters.
inline constexpr size_t kMaxPinLength = 49;

enum class PinOutcome { Answered, Cancelled, Refused };

struct PinAnswer {
  PinOutcome outcome = PinOutcome::Cancelled;
  std::string pin;  // set when answered
  std::string why;  // for the log when not answered (never the PIN itself)
};

// pinFile empty: ask on /dev/tty.
PinAnswer askPin(const std::string& pinFile);

// The reply text to "InputPINDlg": {"PIN":"<pin>"} when answered,
// "USERCANCELED" when cancelled, "{}" when the PIN cannot be carried.
std::string pinReply(const PinAnswer& answer);

// Overwrites the characters of a string that held a PIN.
void wipe(std::string& s);

}  // namespace signd

// Reading the request texts of the provider. Values are inserted there
// without escaping (a certificate even carries raw line feeds), so a request
// is not parsed as strict JSON: a value is the text between "KEY":" and the
// next double quote.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace signd {

// The bare PIN dialog request.
inline constexpr std::string_view kPinDialogRequest = "InputPINDlg";

// The value of "key":"value" in a request text, or nullopt when absent.
std::optional<std::string> fieldValue(std::string_view text, std::string_view key);

// True when text holds a whole request: the bare PIN request, a JSON object
// whose braces (outside strings) balance, or anything that can be neither.
bool requestComplete(std::string_view text);

// The seal identifier of a full seal id: the part before the first "@".
std::string sealIdentifier(std::string_view sealId);

}  // namespace signd

// Tokens for the seal server: the text the tool library's token parser
// takes apart, base64 of "address|port|tokenId|field4".
#pragma once

#include <optional>
#include <string>

namespace sealserver {

// The token of the fields, or nullopt when the tool library would refuse it
// (see sim/toolbench/README.md for the rules of each field).
std::optional<std::string> makeToken(const std::string& address, const std::string& port,
                                     const std::string& tokenId, const std::string& field4);

}  // namespace sealserver

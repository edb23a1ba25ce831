#include "make_token.h"

#include <QByteArray>

#include "token.h"

namespace sealserver {

std::optional<std::string> makeToken(const std::string& address, const std::string& port,
                                     const std::string& tokenId, const std::string& field4) {
  const std::string plain = address + "|" + port + "|" + tokenId + "|" + field4;
  const std::string token = QByteArray(plain.data(), int(plain.size())).toBase64().toStdString();
  // The tool library's own parser decides: it must give the same fields back.
  const auto parsed = toolbench::parseToken(token.c_str());
  if (!parsed || parsed->address != address || parsed->port != port || parsed->tokenId != tokenId ||
      parsed->field4 != field4)
    return std::nullopt;
  return token;
}

}  // namespace sealserver

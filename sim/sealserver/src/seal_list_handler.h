// The seal server's answers: the seal-list request (COM 6) of a known token
// gets the seal list of the seal directory, Base64-encoded in DATA.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "request_handler.h"
#include "service_log.h"

namespace sealserver {

struct HandlerConfig {
  std::string sealDir;                // read per request (index.txt and the seal files)
  std::vector<std::string> tokenIds;  // the token ids given on the command line
  std::string tokenFile;              // more token ids, one a line, read per request
};

// The longest reply the tool library's sender hands on whole.
inline constexpr size_t kMaxReplySize = 10239;
// The reply to a token the server does not know.
inline constexpr const char* kUnknownTokenReply = "{\"COM\":\"6\",\"DATA\":\"\"}";

class SealListHandler final : public signd::RequestHandler {
 public:
  SealListHandler(HandlerConfig config, const signd::ServiceLog& log)
      : config_(std::move(config)), log_(log) {}

  std::optional<std::string> handle(const std::string& request) const override;

 private:
  bool knownToken(const std::string& tokenId) const;
  std::string sealList(const std::string& tokenId) const;

  HandlerConfig config_;
  const signd::ServiceLog& log_;
};

}  // namespace sealserver

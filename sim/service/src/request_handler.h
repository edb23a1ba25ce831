// What a server answers: one request text in, the reply text out, or none
// when the request wants no reply.
#pragma once

#include <optional>
#include <string>

namespace signd {

class RequestHandler {
 public:
  virtual std::optional<std::string> handle(const std::string& request) const = 0;

 protected:
  ~RequestHandler() = default;
};

}  // namespace signd

// One request/reply exchange over plain TCP: connect, send the request,
// read until the peer closes, close.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "varo/byte_span.h"

namespace toolbench {

struct ExchangeLimits {
  int connectTimeoutMs = 3000;
  // Deadline for sending the request and receiving the whole reply.
  int exchangeTimeoutMs = 10000;
  // Reading stops once this many reply bytes have arrived.
  size_t maxReply = 10239;
};

// The reply (possibly empty, at most limits.maxReply bytes), or nullopt when
// the address or port does not convert, the connection or the sending fails,
// a receive fails or the deadline passes before the peer closes.
std::optional<std::string> exchange(const std::string& address, int port, varo::ByteSpan request,
                                    const ExchangeLimits& limits = ExchangeLimits());

}  // namespace toolbench

// Client of the local signing service on 127.0.0.1 port 9990.
//
// One TCP connection per request: connect, send the request text (no length
// prefix, no line end), read until the service closes, close; all of it
// within kExchangeDeadlineSeconds. The part of
// the reply the provider uses starts at the first "ERROR:" or, without one,
// at the first "{".
//
// The flows use the bounded form varo::service::exchange, which is told the
// capacity of the reply buffer. The exported SendAndRecv keeps its two
// argument form for the library's other parts.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "OesProvider.h"
#include "oes_codes.h"

namespace varo::service {

inline constexpr const char* kAddress = "127.0.0.1";
inline constexpr unsigned short kPort = 9990;
// Seconds one receive may wait before what has arrived so far is used. (A
// test build may shorten it.)
#ifndef VARO_RECEIVE_TIMEOUT_SECONDS
#define VARO_RECEIVE_TIMEOUT_SECONDS 60
#endif
inline constexpr int kReceiveTimeoutSeconds = VARO_RECEIVE_TIMEOUT_SECONDS;
// A whole exchange, connecting included, ends after two such periods however
// slowly the listener accepts or the reply trickles in: a connection not
// made by then is kNoConnection, a reply not complete by then counts as
// nothing received.
inline constexpr int kExchangeDeadlineSeconds = 2 * kReceiveTimeoutSeconds;
// The working buffer of a reply, terminator included: at most 511999 bytes
// of a reply are read.
inline constexpr size_t kWorkingBufferSize = 512000;
inline constexpr size_t kReceiveChunk = 1024;
// Capacity the exported SendAndRecv assumes for its reply buffer: the
// smallest buffer any caller passes.
inline constexpr size_t kDefaultReplyCapacity = 1024;
// Capacity of GetCommand's working buffer, terminator included.
inline constexpr size_t kCommandCapacity = 1000;

// Transport results.
enum Transport : int {
  kOk = 0,
  kNoSocket = 1,
  kBadAddress = 2,
  kNoConnection = 3,
  kSendFailed = 4,
  kNoData = oes::kNoReply,  // nothing received, or neither "ERROR:" nor "{" in the reply
};

// Sends request and, when reply is not null, waits for the reply and writes
// the used part of it into reply as zero-terminated text, cut to
// replyCapacity - 1 characters. On kNoData the reply buffer is untouched.
// With a null reply (or capacity 0) the request is sent and the connection
// closed at once (fire and forget); the result is then kOk once sent.
int exchange(std::string_view request, char* reply, size_t replyCapacity);

// The same with the reply as a string holding at most replyCapacity - 1
// characters; *reply is left empty unless the result is kOk.
int exchange(std::string_view request, std::string* reply, size_t replyCapacity);

// The part of the bytes a reply brought that a caller with replyCapacity
// bytes of room (terminator included) is given: the text up to its first
// zero byte, from its first "ERROR:" or, without one, its first "{", cut to
// replyCapacity - 1 characters. nullopt when the text has neither.
std::optional<std::string_view> usedReplyPart(std::string_view received, size_t replyCapacity);

// The request text of a command of the vocabulary, values inserted as they
// are (a null value reads as empty). Empty for a command number outside the
// vocabulary or when the text would not fit kCommandCapacity.
std::string buildCommand(int command, const char* value1, const char* value2, const char* value3);

// The COM 3 request about one seal identifier.
std::string sealStateRequest(std::string_view sealId);

// The decision on a COM 3 reply about a seal as the signing flow needs it:
// 0, 4409 (check the signer's certificate locally), 4408, 4407, 4411, 4376.
int sealStateFromReply(std::string_view reply);

}  // namespace varo::service

// Exported helpers with their fixed C++ signatures.

// Sends request and writes the used part of the reply, zero-terminated and
// cut to varo::service::kDefaultReplyCapacity bytes, into reply (may be
// null: fire and forget). Returns the transport result.
OES_EXPORT int SendAndRecv(char* request, char* reply);

// Writes the zero-terminated request text of command into output; values by
// command: 4 error text, seal id; 6 seal id, device url; 9 seal id;
// 10 device url, module path, seal id; 1 and 11 none. Any other number, a
// null output or a text over 999 characters leaves output untouched.
OES_EXPORT void GetCommand(int command, char* value1, char* value2, char* value3, char* unused,
                           char* output);

// Asks the service about a seal identifier (COM 3) and returns the decision
// of sealStateFromReply; an unreachable service counts as an empty reply
// (0). The reply is dumped to /tmp/varolog/recv.txt. A null identifier or
// one over 88 characters is refused with 4371 and nothing is sent.
OES_EXPORT int VerifySealById(char* sealId);

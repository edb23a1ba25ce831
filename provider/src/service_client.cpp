#include "service_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/crypto.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>

#include "varo/byte_span.h"
#include "varo/secret_text.h"
#include "varo/socket_deadline.h"
#include "varo/unique_fd.h"

namespace varo::service {

namespace {

using Clock = SteadyClock;

// Replies may carry the user's PIN (the answer to the PIN dialog), so every
// copy the client makes of a reply is a SecretText or is wiped before its
// memory is released.
// Reads until the peer closes, a receive waits a whole quiet period, a
// receive fails, or the working buffer is full. The exchange ends by its
// deadline: a peer that keeps sending a byte now and then cannot hold the
// caller longer, and what it sent by then counts as nothing received.
void receiveAll(int fd, Clock::time_point deadline, SecretText* text) {
  const auto quiet = std::chrono::seconds(kReceiveTimeoutSeconds);
  std::unique_ptr<char[]> work(new char[kWorkingBufferSize]);
  ByteWriter writer(work.get(), kWorkingBufferSize - 1);  // one byte kept for the terminator
  char chunk[kReceiveChunk];
  bool late = false;
  while (writer.remaining() > 0) {
    const auto now = Clock::now();
    if (now >= deadline) {
      late = true;
      break;
    }
    if (!waitReady(fd, POLLIN, std::min<Clock::time_point>(now + quiet, deadline))) {
      late = Clock::now() >= deadline;
      break;  // a quiet period: what arrived is the reply
    }
    size_t want = writer.remaining() < sizeof chunk ? writer.remaining() : sizeof chunk;
    ssize_t n = ::recv(fd, chunk, want, MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    if (n <= 0) break;
    writer.put(ByteSpan(chunk, size_t(n)));
  }
  OPENSSL_cleanse(chunk, sizeof chunk);
  text->assign(std::string_view(work.get(), late ? 0 : writer.size()));
  OPENSSL_cleanse(work.get(), writer.size());
}

// The used part of a reply: from the first "ERROR:", else from the first
// "{"; npos when there is neither.
size_t usedPartStart(std::string_view text) {
  size_t at = text.find("ERROR:");
  if (at != std::string_view::npos) return at;
  return text.find('{');
}

int transact(std::string_view request, size_t replyCapacity, SecretText* used) {
  // One deadline for the whole exchange, connecting included: a listener
  // whose backlog is full (it never accepts) leaves the connect waiting on
  // the kernel's retries for minutes otherwise.
  const auto deadline = Clock::now() + std::chrono::seconds(kExchangeDeadlineSeconds);
  const bool wantReply = replyCapacity > 0;
  UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (socket.get() < 0) return kNoSocket;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(kPort);
  if (::inet_pton(AF_INET, kAddress, &address.sin_addr) != 1) return kBadAddress;
  if (!connectBefore(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address, deadline))
    return kNoConnection;
  if (!sendAllBefore(socket.get(), request.data(), request.size(), deadline)) return kSendFailed;
  if (!wantReply) return kOk;
  SecretText text(kReceiveChunk);
  receiveAll(socket.get(), deadline, &text);
  std::optional<std::string_view> part = usedReplyPart(text.view(), replyCapacity);
  if (!part) return kNoData;
  used->assign(*part);
  return kOk;
}

}  // namespace

std::optional<std::string_view> usedReplyPart(std::string_view received, size_t replyCapacity) {
  // The text ends at its first zero byte, as a C text would.
  const size_t zero = received.find('\0');
  if (zero != std::string_view::npos) received = received.substr(0, zero);
  const size_t start = usedPartStart(received);
  if (start == std::string_view::npos) return std::nullopt;
  if (replyCapacity == 0) return std::string_view();
  return received.substr(start, replyCapacity - 1);
}

int exchange(std::string_view request, std::string* reply, size_t replyCapacity) {
  SecretText used(kReceiveChunk);
  const size_t capacity = reply ? replyCapacity : 0;
  int rc = transact(request, capacity, &used);
  if (capacity > 0) {
    reply->clear();
    if (rc == kOk) reply->assign(used.view());
  }
  return rc;
}

int exchange(std::string_view request, char* reply, size_t replyCapacity) {
  const size_t capacity = reply ? replyCapacity : 0;
  SecretText used(kReceiveChunk);
  int rc = transact(request, capacity, &used);
  if (capacity > 0 && rc == kOk) ByteWriter(reply, capacity).putText(used.view());
  return rc;
}

}  // namespace varo::service

int SendAndRecv(char* request, char* reply) {
  // Without a request there is nothing to send; waiting for a reply to
  // nothing would only run into the receive timeout.
  if (request == nullptr) return varo::service::kSendFailed;
  return varo::service::exchange(request, reply, reply ? varo::service::kDefaultReplyCapacity : 0);
}

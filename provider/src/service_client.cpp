#include "service_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <openssl/crypto.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>

#include "varo/byte_span.h"
#include "varo/fd_io.h"
#include "varo/secret_text.h"
#include "varo/unique_fd.h"

namespace varo::service {

namespace {

// Replies may carry the user's PIN (the answer to the PIN dialog), so every
// copy the client makes of a reply is a SecretText or is wiped before its
// memory is released.
// Reads until the peer closes, a receive waits a whole quiet period, a
// receive fails, or the working buffer is full. The whole exchange has a deadline of two
// quiet periods: a peer that keeps sending a byte now and then cannot hold
// the caller longer, and what it sent by then counts as nothing received.
void receiveAll(int fd, SecretText* text) {
  using Clock = std::chrono::steady_clock;
  const auto quiet = std::chrono::seconds(kReceiveTimeoutSeconds);
  const auto deadline = Clock::now() + 2 * quiet;
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
    const auto wait = std::min<Clock::duration>(quiet, deadline - now);
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(
        &p, 1, int(std::chrono::duration_cast<std::chrono::milliseconds>(wait).count()) + 1);
    if (ready < 0 && errno == EINTR) continue;  // within the deadline
    if (ready <= 0) {
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

// The outcome of a connect that a signal interrupted: 0 once connected.
int connectOutcome(int fd) {
  pollfd p{fd, POLLOUT, 0};
  int ready;
  do {
    ready = ::poll(&p, 1, kReceiveTimeoutSeconds * 1000);
  } while (ready < 0 && errno == EINTR);
  if (ready <= 0) return -1;
  int error = 0;
  socklen_t size = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) return -1;
  return 0;
}

// The used part of a reply: from the first "ERROR:", else from the first
// "{"; npos when there is neither.
size_t usedPartStart(std::string_view text) {
  size_t at = text.find("ERROR:");
  if (at != std::string_view::npos) return at;
  return text.find('{');
}

int transact(std::string_view request, size_t replyCapacity, SecretText* used) {
  const bool wantReply = replyCapacity > 0;
  UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (socket.get() < 0) return kNoSocket;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(kPort);
  if (::inet_pton(AF_INET, kAddress, &address.sin_addr) != 1) return kBadAddress;
  int rc = ::connect(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
  // An interrupted connect goes on in the background: wait for its outcome
  // instead of starting it again.
  if (rc != 0 && errno == EINTR) rc = connectOutcome(socket.get());
  if (rc != 0) return kNoConnection;
  if (!sendAll(socket.get(), request.data(), request.size())) return kSendFailed;
  if (!wantReply) return kOk;
  SecretText text(kReceiveChunk);
  receiveAll(socket.get(), &text);
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

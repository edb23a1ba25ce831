// The request texts of the service's command vocabulary and the decision on
// a seal-state reply.
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "service_client.h"
#include "varo/byte_span.h"
#include "varo/trace.h"

namespace varo::service {

namespace {

std::string_view orEmpty(const char* value) {
  return value ? std::string_view(value) : std::string_view();
}

// The RANDOM value: a digit text from 0 to 10, drawn from a generator seeded
// with the current time in seconds. A generator of our own keeps the
// reader's process-wide one untouched.
std::string randomValue() {
  unsigned seed = static_cast<unsigned>(std::time(nullptr));
  return std::to_string(rand_r(&seed) % 11);
}

struct Reply {
  const char* name;
  int result;
};

// First matching name wins.
constexpr Reply kSealStateReplies[] = {
    {"ERR_NOERR", oes::kOk},
    {"ERR_NEEDLOCALVERIFY", oes::kNeedLocalCheck},
    {"ERR_NOCONFIG", oes::kOk},
    {"ERR_ERRCONFIG", oes::kOk},
    {"ERR_SERVERERROR", oes::kServerError},
    {"ERR_OUTTIME", oes::kSealStateAbnormal},
    {"ERR_NOREGIST", oes::kNotRegistered},
};
constexpr size_t kMaxSealIdLength = 88;
constexpr const char* kReplyDump = "/tmp/varolog/recv.txt";

}  // namespace

std::string buildCommand(int command, const char* value1, const char* value2, const char* value3) {
  const std::string_view v1 = orEmpty(value1), v2 = orEmpty(value2), v3 = orEmpty(value3);
  std::string text;
  switch (command) {
    case 1:
      text = "{\"COM\":\"1\",\"DOCTYPE\":\"VAROOFD\",\"RANDOM\":\"" + randomValue();
      break;
    case 4:
      text = "{\"COM\":\"4\",\"DOCTYPE\":\"VAROOFD\",\"SIGNRESULT\":\"";
      text += v1.size() <= 3 ? "1" : "0";
      text.append("\",\"ERROR\":\"").append(v1).append("\",\"SEALID\":\"").append(v2);
      break;
    case 6:
      text = "{\"COM\":\"6\",\"RANDOM\":\"" + randomValue() + "\",\"SEALID\":\"";
      text.append(v1).append("\",\"DOCTYPE\":\"VAROOFD\",\"DEVICEURL\":\"").append(v2);
      break;
    case 9:
      text = "{\"COM\":\"9\",\"RANDOM\":\"" + randomValue() + "\",\"SEALID\":\"";
      text.append(v1);
      break;
    case 10:
      text = "{\"COM\":\"10\",\"STANDARD\":\"1\",\"PRODUCT\":\"VAROOFD\",\"DEVURL\":\"";
      text.append(v1).append("\",\"DLLPATH\":\"").append(v2).append("\",\"SEALID\":\"").append(v3);
      break;
    case 11:
      return "{\"COM\":\"11\"}";
    default:
      return std::string();
  }
  text += "\"}";
  if (text.size() + 1 > kCommandCapacity) return std::string();
  return text;
}

std::string sealStateRequest(std::string_view sealId) {
  std::string text = "{\"COM\":\"3\",\"SEALID\":\"";
  text.append(sealId).append("\"}");
  return text;
}

int sealStateFromReply(std::string_view reply) {
  if (reply.empty()) return 0;
  for (const Reply& r : kSealStateReplies)
    if (reply.find(r.name) != std::string_view::npos) return r.result;
  return oes::kInternalError;
}

}  // namespace varo::service

void GetCommand(int command, char* value1, char* value2, char* value3, char* unused, char* output) {
  (void)unused;
  if (output == nullptr) return;
  std::string text = varo::service::buildCommand(command, value1, value2, value3);
  if (text.empty()) return;
  std::memcpy(output, text.c_str(), text.size() + 1);
}

int VerifySealById(char* sealId) {
  using namespace varo::service;
  if (sealId == nullptr || std::strlen(sealId) > kMaxSealIdLength) return varo::oes::kBadArgument;
  std::string reply;
  exchange(sealStateRequest(sealId), &reply, kDefaultReplyCapacity);
  varo::trace::dump(kReplyDump, reply.data(), reply.size());
  return sealStateFromReply(reply);
}

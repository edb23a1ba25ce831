// The provider's handling of what the local signing service sends and
// leaves behind, without a socket: the part of a received reply that a
// caller's buffer gets, the seal-state decision and the PIN taken from it;
// the seal ids of the service's list (their fields, the seal file they
// name, the signing module path); a picture record handed to a reader's
// buffers; and a service file read back through the file checks.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "fuzz_input.h"
#include "fuzz_temp_dir.h"
#include "pin_handover.h"
#include "service_client.h"
#include "service_files.h"
#include "sign_flow.h"
#include "varo/byte_span.h"
#include "varo/caller_buffer.h"
#include "varo/secret_text.h"

using varo::fuzz::ExactBuffer;
namespace service = varo::service;
namespace signing = varo::provider::signing;
namespace pin = varo::provider::pin;

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

bool contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

// The capacities the flows give their replies: the seal list's, and every
// other one's (seal state, PIN dialog, verification, fetches).
constexpr size_t kReplyCapacities[] = {10240, 1024};

void reply(const uint8_t* data, size_t size) {
  const std::string_view received(reinterpret_cast<const char*>(data), size);
  for (size_t capacity : kReplyCapacities) {
    std::optional<std::string_view> used = service::usedReplyPart(received, capacity);
    if (!used) {
      const std::string_view text = received.substr(0, received.find('\0'));
      check(!contains(text, "ERROR:") && !contains(text, "{"));
      continue;
    }
    check(used->size() < capacity && !contains(*used, std::string_view("\0", 1)));
    check(used->substr(0, 6) == "ERROR:" || used->substr(0, 1) == "{");
    // The caller's buffer, exactly as large as the flows make it.
    ExactBuffer buffer(capacity);
    check(varo::ByteWriter(buffer.data(), buffer.size()).putText(*used));
    const std::string_view text(buffer.text());
    check(text == *used);

    const int state = service::sealStateFromReply(text);
    check(state == 0 || state == 4376 || state == 4407 || state == 4408 || state == 4409 ||
          state == 4411);

    pin::clear();
    varo::SecretText pinText;
    const int rc = signing::pinFromReply(text, &pinText);
    check(rc == signing::kOk || rc == signing::kCancelled || rc == signing::kBadPin);
    if (rc == signing::kOk) {
      check(pinText.size() <= pin::kMaxPinLength && contains(text, pinText.view()));
      check(pin::put(pinText.view()) == !contains(pinText.view(), std::string_view("\0", 1)));
      pin::PinCopy copy;
      check(copy.valid() && pinText.view() == copy.text());
    }
    pin::clear();
  }
}

void sealId(const uint8_t* data, size_t size) {
  ExactBuffer id(data, size);
  // The seal file an id names never lies outside /tmp.
  std::optional<std::string> file = service::sealFileId(id.data(), id.length());
  if (file) {
    check(!file->empty() && file->size() <= service::kMaxSealFileIdLength);
    check(!contains(*file, "/") && *file != "." && *file != ".." &&
          !contains(*file, std::string_view("\0", 1)) && !contains(*file, "@"));
    const std::string path = service::sealFilePath(*file);
    check(path.rfind("/tmp/", 0) == 0 && path.find('/', 5) == std::string::npos);
  }

  std::optional<signing::SealIdFields> fields =
      signing::parseSealId(varo::ByteSpan(id.data(), id.size()));
  if (!fields) return;
  check(!fields->sealIdentifier.empty() && !fields->keyLocator.empty() && !fields->module.empty());
  check(fields->keyLocator.size() <= signing::kMaxKeyLocatorLength);
  if (fields->deviceName)
    check(!fields->deviceName->empty() && !contains(*fields->deviceName, "&"));
  std::optional<std::string> module = signing::signingModulePath("/opt/varo", fields->module);
  if (module) check(module->size() <= signing::kMaxModulePathLength + 3);
}

void pictureRecord(const uint8_t* data, size_t size) {
  const varo::ByteSpan record(data, size);
  int width = -1, height = -1;
  int length = 0;
  varo::CallerBuffer measure(static_cast<unsigned char*>(nullptr), &length);
  const int rc = service::putPictureRecord(record, measure, &width, &height);
  if (rc != 0) {
    check(rc == 4400 && size < 16 && width == -1 && height == -1);
    return;
  }
  check(length >= 0 && size_t(length) == size - 16);
  // The reader's copying call with a buffer of the measured size, and one
  // with a buffer a byte short that says so.
  for (int shortBy = 0; shortBy < 2; ++shortBy) {
    if (shortBy && length < 2) break;
    ExactBuffer picture(size_t(length - shortBy));
    int given = picture.length();
    varo::CallerBuffer out(picture.data(), &given);
    width = height = -1;
    const int copied = service::putPictureRecord(record, out, &width, &height);
    if (shortBy) {
      check(copied == 4371 && given == picture.length() && width == -1);
      continue;
    }
    check(copied == 0 && given == length);
    check(picture.size() == 0 || std::memcmp(picture.data(), data + 16, picture.size()) == 0);
  }
}

void serviceFile(const uint8_t* data, size_t size) {
  static varo::fuzz::TempDir dir("fuzz-service-reply");
  if (!dir.ok()) return;
  const std::string path = dir.file("service-file");
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
  }
  check(service::serviceFileExists(path));
  // The seal list's limit, and a small one that cuts most inputs.
  for (size_t limit : {service::kListReadLimit, size_t(64)}) {
    std::optional<std::string> content = service::readServiceFile(path, limit);
    check(content && content->size() == (size < limit ? size : limit));
    check(content->empty() || std::memcmp(content->data(), data, content->size()) == 0);
  }
  std::remove(path.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const varo::fuzz::Choice choice = varo::fuzz::choose(data, size, 4);
  ExactBuffer input(choice.data, choice.size);
  switch (choice.which) {
    case 0:
      reply(input.data(), input.size());
      break;
    case 1:
      sealId(input.data(), input.size());
      break;
    case 2:
      pictureRecord(input.data(), input.size());
      break;
    default:
      serviceFile(input.data(), input.size());
      break;
  }
  return 0;
}

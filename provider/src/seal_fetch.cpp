// OES_GetSeal and OES_GetSealImage: a seal's DER and its picture from the
// files the local service writes under /tmp. Each file is a cache: the
// service is asked only when it is missing.
#include <cstring>

#include "oes_api.h"
#include "oes_codes.h"
#include "service_client.h"
#include "service_files.h"
#include "varo/caller_buffer.h"
#include "varo/trace.h"

using namespace varo::oes;

namespace {

constexpr size_t kPictureHeaderSize = 16;
constexpr size_t kFetchReplyCapacity = 1024;

// Asks the service to write its files; the reply text is not examined.
int askService(const char* request) {
  std::string reply;
  return varo::service::exchange(request, &reply, kFetchReplyCapacity);
}

// The low four bytes of an 8-byte little-endian field as a signed value.
int32_t readDimension(varo::ByteSpan* header) {
  uint32_t low = 0;
  header->readU32LE(&low);
  header->skip(4);
  return static_cast<int32_t>(low);
}

int copyOut(varo::CallerBuffer& out, varo::ByteSpan data) {
  return out.putSized(data) == varo::CallerBuffer::Result::TooSmall ? kBadArgument : 0;
}

}  // namespace

int varo::service::putPictureRecord(varo::ByteSpan record, varo::CallerBuffer& out, int* width,
                                    int* height) {
  // A record shorter than its header holds no picture.
  if (record.size() < kPictureHeaderSize) return kNoSeal;
  const int32_t w = readDimension(&record);
  const int32_t h = readDimension(&record);
  if (int rc = copyOut(out, record)) return rc;
  *width = w;
  *height = h;
  return 0;
}

int OES_GetSeal(unsigned char* sealId, int sealIdLength, unsigned char* seal, int* sealLength) {
  using namespace varo::service;
  varo::CallerBuffer out(seal, sealLength);
  if (!out.hasLength()) return kBadArgument;
  std::optional<std::string> id = sealFileId(sealId, sealIdLength);
  if (!id) return kBadArgument;
  const std::string path = sealFilePath(*id);

  if (out.hasBuffer()) {
    std::optional<std::string> der = readServiceFile(path, kSealReadLimit);
    if (!der || der->empty()) return kNoSeal;
    if (int rc = copyOut(out, varo::ByteSpan(*der))) return rc;
    varo::trace::marker("getseal2");
    return 0;
  }

  if (!serviceFileExists(path)) {
    int rc = askService("{\"COM\":\"12\"}");
    if (rc != varo::service::kOk) {
      varo::trace::marker("getseal3");
      return rc;
    }
  }
  std::optional<std::string> der = readServiceFile(path, kSealReadLimit);
  if (!der || der->empty()) {
    varo::trace::dump("/tmp/varolog/getseal_id.txt", path.data(), path.size());
    varo::trace::marker("getseal4");
    return kNoSeal;
  }
  out.setLength(int(der->size()));
  varo::trace::marker("getseal1");
  return 0;
}

int OES_GetSealImage(unsigned char* seal, int sealLength, int renderFlag, unsigned char* picture,
                     int* pictureLength, int* width, int* height) {
  using namespace varo::service;
  (void)renderFlag;
  varo::CallerBuffer out(picture, pictureLength);
  if (!out.hasLength() || !width || !height || !seal || sealLength <= 0) return kBadArgument;

  unsigned char digest[32];
  const std::string path = pictureFilePath(varo::ByteSpan::fromInt(seal, sealLength), digest);
  varo::trace::dump("/tmp/varolog/asnhash1.dat", digest, sizeof digest);
  varo::trace::dump("/tmp/varolog/picpath.txt", path.data(), path.size());

  if (!serviceFileExists(path)) {
    int rc = askService("{\"COM\":\"13\"}");
    if (rc != varo::service::kOk) return rc;
  }
  std::optional<std::string> record = readServiceFile(path, kPictureReadLimit);
  if (!record) return kNoSeal;
  return putPictureRecord(varo::ByteSpan(*record), out, width, height);
}

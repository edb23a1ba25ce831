// The DoIt plug-ins on arbitrary inputs: the offline plug-in's merging of a
// driver's seal list, the online plug-in's request and its answer to a seal
// server's reply, and the key-info plug-in's DoIt on an arbitrary input text
// against the installed tool library and driver, over a software key with a
// certificate. Each answer goes into a buffer of exactly the size the
// system's callers give, and the merged list must stay the JSON array of the
// driver's seals whatever their values hold.
#include <stdlib.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "VaroGetUKInfo.h"
#include "fuzz_input.h"
#include "fuzz_resident.h"
#include "fuzz_temp_dir.h"
#include "seal_list.h"
#include "seal_list_exchange.h"
#include "varo/softkey_admin.h"

using varo::fuzz::ExactBuffer;

namespace {

using varo::fuzz::expect;

// The answer buffers of the plug-ins' callers (oes-reader, varo-signd).
constexpr size_t kSealListAnswer = 1 << 20;
constexpr size_t kKeyInfoAnswer = 16384;
// The offline plug-in reads at most this much of a driver's list, the online
// plug-in's reply buffer this much (with its terminator), and the token
// identifier buffer this much.
constexpr size_t kDriverListCapacity = 64 * 1024;
constexpr size_t kReplyCapacity = 10240;
constexpr size_t kTokenIdCapacity = 64;
// A key-info input longer than this names a key type whose echo in the
// error answer would not fit the caller's buffer; callers do not send such.
constexpr size_t kKeyInfoInput = kKeyInfoAnswer / 2;

// Text up to the first zero byte, as the plug-ins cut what they receive.
QByteArray cut(const std::string& bytes, size_t capacity) {
  return QByteArray(bytes.data(), int(strnlen(bytes.data(), std::min(bytes.size(), capacity))));
}

QString field(const QJsonObject& object, const char* key) {
  return object.value(key).toVariant().toString();
}

// What survives a value's trip through UTF-8 (lone surrogates do not; zero
// characters do).
QString throughUtf8(const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  return QString::fromUtf8(utf8.constData(), utf8.size());
}

void offlineList(const std::string& input) {
  const QByteArray driverList = cut(input, kDriverListCapacity);
  if (driverList.isEmpty()) return;
  const std::vector<QByteArray> objects =
      offline_list::sealObjects(driverList, [](const QString& standard) {
        // The tool library names the key type's module whatever the standard.
        return standard.isEmpty() ? QString() : QStringLiteral("/VaroSupport/TokenSign_LM");
      });
  size_t omitted = 0;
  const QByteArray list = offline_list::joinSealList(objects, kSealListAnswer, &omitted);
  ExactBuffer answer(kSealListAnswer);
  expect(size_t(list.size()) < answer.size(), "the list fits the caller's buffer");
  std::memcpy(answer.data(), list.constData(), size_t(list.size()) + 1);

  // The answer is a JSON array with one object per seal of the driver,
  // each value as the driver gave it.
  const QJsonDocument in = QJsonDocument::fromJson(driverList);
  const QJsonDocument out = QJsonDocument::fromJson(list);
  expect(out.isArray(), "the merged list is a JSON array");
  if (!in.isArray()) {
    expect(out.array().isEmpty(), "a list that is no array adds no seal");
    return;
  }
  // Seals beyond the caller's buffer are left out, the others kept in order.
  expect(size_t(out.array().size()) + omitted == size_t(in.array().size()), "one object per seal");
  if (omitted)
    expect(size_t(list.size()) + objects[objects.size() - omitted].size() + 2 > kSealListAnswer,
           "only what does not fit is left out");
  for (int i = 0; i < out.array().size(); ++i) {
    const QJsonObject seal = in.array().at(i).toObject(), merged = out.array().at(i).toObject();
    expect(field(merged, "SEALID") == throughUtf8(field(seal, "ID")), "SEALID is the ID");
    expect(field(merged, "SEALNAME") == throughUtf8(field(seal, "NAME")), "SEALNAME is the NAME");
    expect(field(merged, "STANDARD") == throughUtf8(field(seal, "TYPE")), "STANDARD is the TYPE");
    expect(field(merged, "DEVICEURL") == throughUtf8(field(seal, "DEVICEURL")),
           "DEVICEURL is kept");
  }
}

void onlineReply(const std::string& input) {
  const QByteArray reply = cut(input, kReplyCapacity - 1);
  const QByteArray answer = online_list::answerToReply(reply);
  expect(!answer.isEmpty() && !answer.contains('\0'), "an answer is a non-empty text");
  ExactBuffer out(kSealListAnswer);
  expect(size_t(answer.size()) < out.size(), "the answer fits the caller's buffer");
  std::memcpy(out.data(), answer.constData(), size_t(answer.size()) + 1);
}

void onlineRequest(const std::vector<std::string>& parts) {
  const QByteArray request =
      online_list::sealListRequest(cut(parts[0], kTokenIdCapacity - 1),
                                   cut(parts[1], parts[1].size()), cut(parts[2], parts[2].size()));
  expect(request.startsWith("{\"COM\":\"6\",\"TOKENID\":\"") && request.endsWith('}'),
         "the request is the seal-list command");
}

void keyInfo(const std::string& input) {
  if (input.size() > kKeyInfoInput) return;
  ExactBuffer text(input.size() + 1);
  std::memcpy(text.data(), input.data(), input.size());
  text.data()[input.size()] = 0;
  ExactBuffer answer(kKeyInfoAnswer);
  DoIt(text.text(), answer.text());
  expect(std::memchr(answer.data(), 0, answer.size()) != nullptr, "the answer is terminated");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // One software key with a signing certificate, in a store of the target's
  // own; the key-info plug-in reaches it through the installed driver.
  static varo::fuzz::TempDir keys("varo-fuzz-plugin-keys");
  if (!keys.ok()) std::abort();
  ::setenv("VARO_SOFTKEY_DIR", keys.path().c_str(), 1);
  varo::softkey::SoftKeyStore store(keys.path());
  varo::softkey::KeySetup setup;
  setup.serial = "FUZZSERIAL000001";
  if (!store.createKey("FUZZKEY", setup) || !store.generateContainer("FUZZKEY", "Sign", {}))
    std::abort();
  varo::fuzz::keepResident({varo::kToolLibraryPath,
                            "/VaroSupport/uklibrary/libVaroDeviceBase_LM_GM3000.so",
                            varo::kVendorKeyLibraryPath});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const varo::fuzz::Choice choice = varo::fuzz::choose(data, size, 4);
  const std::string input(reinterpret_cast<const char*>(choice.data), choice.size);
  switch (choice.which) {
    case 0:
      offlineList(input);
      break;
    case 1:
      onlineReply(input);
      break;
    case 2:
      onlineRequest(varo::fuzz::splitParts(choice.data, choice.size, 3));
      break;
    default:
      keyInfo(input);
      break;
  }
  return 0;
}

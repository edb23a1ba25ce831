// The frame every oes-reader command runs in: the loaded provider, the
// command's arguments and the output (readable lines or one JSON object).
#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <string>
#include <vector>

#include "varo/loaded_library.h"

namespace reader {

// Exit statuses of oes-reader.
enum Exit : int {
  kSuccess = 0,
  kProviderError = 1,  // an OES_* call returned a non-zero code
  kUsage = 2,          // wrong command line or unreadable input
  kNoProvider = 3,     // the provider, or another library the command needs, does not load
  kCheckFailed = 4,    // --strict: a trust check failed or was not decided
};

// What a command prints. Readable mode prints "key: value" lines as they
// come; JSON mode collects them into one object printed by finish().
class Output {
 public:
  explicit Output(bool json) : json_(json) {}
  bool json() const { return json_; }
  void field(const QString& key, const QString& value);
  void field(const QString& key, qint64 value);
  // A list: one compact JSON line (readable) or a JSON array (JSON).
  void field(const QString& key, const QJsonArray& items);
  // An object: one compact JSON line (readable) or a JSON object (JSON).
  void field(const QString& key, const QJsonObject& object);
  // A failure: the message goes to stderr (readable) or "error" (JSON).
  void error(const QString& message);
  // Why a failure or an empty result came about, as far as the reader can
  // tell: "cause" (JSON), or a line "cause: ..." on stderr (readable).
  void cause(const QString& text);
  // The result code of the provider call that decided the outcome.
  void result(int code) { object_["result"] = code; }
  void finish(const QString& command);

 private:
  bool json_;
  QJsonObject object_;
};

struct Context {
  varo::LoadedLibrary& provider;
  std::vector<std::string> args;  // after the command name
  Output& out;

  // The provider's function, or null after reporting it missing.
  template <class Fn>
  Fn function(const char* name) {
    Fn fn = provider.resolve<Fn>(name);
    if (!fn) out.error(QString("the provider has no %1").arg(name));
    return fn;
  }
  // Reports a non-zero provider code with the provider's own message text;
  // after a call that needs the local signing service, a service that does
  // not take connections is named as the cause.
  int providerFailure(const char* call, int code);
};

using Bytes = std::vector<unsigned char>;

// The reader's way to fetch an output pair: a measuring call with a null
// buffer, then a copying call into a buffer of exactly the measured size.
// call(buffer, length) returns the provider's code; *code receives it.
template <class Call>
bool measureAndCopy(Call call, Bytes* out, int* code) {
  int length = 0;
  *code = call(nullptr, &length);
  if (*code != 0) return false;
  if (length < 0) length = 0;
  out->assign(static_cast<size_t>(length), 0);
  *code = call(out->empty() ? nullptr : out->data(), &length);
  if (*code != 0) return false;
  if (length >= 0 && static_cast<size_t>(length) < out->size()) out->resize(size_t(length));
  return true;
}

QString hexText(const Bytes& bytes);
// A result code as the guide writes it: "0x" and upper-case digits, eight
// of them above 0xFFFF (0x1013, 0x0A000024).
QString codeText(unsigned long code);
inline QString utf8Text(const Bytes& bytes) {
  return QString::fromUtf8(reinterpret_cast<const char*>(bytes.data()), int(bytes.size()));
}

}  // namespace reader

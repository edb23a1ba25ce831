#include <QJsonDocument>

#include <cstdio>
#include <cstring>

#include "key_drivers.h"
#include "reader.h"
#include "service_probe.h"

namespace reader {

namespace {
void printLine(FILE* to, const QString& text) {
  const QByteArray bytes = text.toUtf8();
  std::fprintf(to, "%s\n", bytes.constData());
}

// The provider calls that ask the local signing service.
constexpr const char* kServiceCalls[] = {"OES_GetSealList", "OES_GetSeal", "OES_GetSealImage",
                                         "OES_Sign"};

bool needsService(const char* call) {
  for (const char* name : kServiceCalls)
    if (std::strcmp(call, name) == 0) return true;
  return false;
}
// OES_Sign's code for a wrong PIN, and for a key that cannot be used.
constexpr int kWrongPinOrKey = 4396;

// The provider reports a key that cannot be reached like a wrong PIN. When
// the drivers see no key at all (a software key without its store, a key
// library that does not load), that is named, as no PIN try was spent.
void nameMissingKey(Output& out) {
  const EmptyListCause keys = emptyListCause();
  if (keys.kind != EmptyList::NoKey && keys.kind != EmptyList::LibraryFailed) return;
  out.cause("the key was not found, not a wrong PIN: " + keys.text +
            " (the software key finds its store through VARO_SOFTKEY_DIR)");
}
}  // namespace

void Output::field(const QString& key, const QString& value) {
  if (json_)
    object_[key] = value;
  else
    printLine(stdout, key + ": " + value);
}

void Output::field(const QString& key, qint64 value) {
  if (json_)
    object_[key] = value;
  else
    printLine(stdout, key + ": " + QString::number(value));
}

void Output::field(const QString& key, const QJsonArray& items) {
  if (json_)
    object_[key] = items;
  else
    printLine(stdout,
              key + ": " + QString::fromUtf8(QJsonDocument(items).toJson(QJsonDocument::Compact)));
}

void Output::field(const QString& key, const QJsonObject& object) {
  if (json_)
    object_[key] = object;
  else
    printLine(stdout,
              key + ": " + QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)));
}

void Output::error(const QString& message) {
  if (json_)
    object_["error"] = message;
  else
    printLine(stderr, "oes-reader: " + message);
}

void Output::cause(const QString& text) {
  if (json_)
    object_["cause"] = text;
  else
    printLine(stderr, "oes-reader: cause: " + text);
}

void Output::finish(const QString& command) {
  if (!json_) return;
  object_["command"] = command;
  printLine(stdout, QString::fromUtf8(QJsonDocument(object_).toJson(QJsonDocument::Compact)));
}

QString hexText(const Bytes& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  QString text;
  text.reserve(int(bytes.size()) * 2);
  for (unsigned char b : bytes) {
    text += QChar(kDigits[b >> 4]);
    text += QChar(kDigits[b & 15]);
  }
  return text;
}

QString codeText(unsigned long code) {
  return "0x" +
         QString("%1").arg(qulonglong(code), code > 0xFFFF ? 8 : 0, 16, QChar('0')).toUpper();
}

int Context::providerFailure(const char* call, int code) {
  out.result(code);
  QString message = QString("%1 returned %2").arg(call).arg(code);
  using ErrMessageFn = int (*)(unsigned long, unsigned char*, int*);
  if (auto errMessage = provider.resolve<ErrMessageFn>("OES_GetErrMessage")) {
    Bytes text;
    int rc = 0;
    if (measureAndCopy([&](unsigned char* b, int* n) { return errMessage(code, b, n); }, &text,
                       &rc))
      message += ": " + utf8Text(text);
  }
  out.error(message);
  if (needsService(call))
    if (const auto silence = serviceSilence())
      out.cause(QString("the signing service on %1:%2 did not answer: %3")
                    .arg(kServiceAddress)
                    .arg(kServicePort)
                    .arg(*silence));
  if (std::strcmp(call, "OES_Sign") == 0 && code == kWrongPinOrKey) nameMissingKey(out);
  return kProviderError;
}

}  // namespace reader

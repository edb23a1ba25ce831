#include <QJsonDocument>

#include <cstdio>

#include "reader.h"

namespace reader {

namespace {
void printLine(FILE* to, const QString& text) {
  const QByteArray bytes = text.toUtf8();
  std::fprintf(to, "%s\n", bytes.constData());
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
  return kProviderError;
}

}  // namespace reader

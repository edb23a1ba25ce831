#include "seal_naming.h"

#include <QTime>

#include <algorithm>

namespace gm3000 {

namespace {
constexpr int kTries = 1000;
constexpr int kMillisecondsPerDay = 24 * 60 * 60 * 1000;
const QString kFormat = QStringLiteral("hhmmsszzz");
}  // namespace

QString nextBaseName(const QString& base) {
  const QTime t = QTime::fromString(base, kFormat);
  const int ms = t.isValid() ? t.msecsSinceStartOfDay() : 0;
  return QTime::fromMSecsSinceStartOfDay((ms + 1) % kMillisecondsPerDay).toString(kFormat);
}

QString freeBaseName(const QString& start, const std::set<std::string>& files,
                     const std::set<QString>& taken, int chunks) {
  // Readers take chunk names as base name + number, so every name this
  // seal's readers or a later replacement could touch must be unused.
  auto isFree = [&](const QString& base) {
    if (taken.count(base)) return false;
    for (int k = 0; k < std::max(chunks, kReplacedChunks); ++k)
      if (files.count((base + QString::number(k)).toStdString())) return false;
    return true;
  };
  QString base = start;
  for (int i = 0; i < kTries; ++i, base = nextBaseName(base))
    if (isFree(base)) return base;
  return QString();
}

}  // namespace gm3000

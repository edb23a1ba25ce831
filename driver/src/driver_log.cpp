// The driver's two log hooks, and its reports of problems.
#include "VaroDeviceBase_LM_GM3000.h"
#include "driver_report.h"
#include "key_access.h"
#include "varo/client_log.h"
#include "varo/trace.h"

void writeLog(QString message) {
  (void)message;
}

void writeLog2(const char* path, unsigned char* data, int length) {
  if (!data) {
    static const char kPlaceholder[10] = {'1'};
    varo::trace::dumpExact(path, kPlaceholder, sizeof kPlaceholder);
    return;
  }
  varo::trace::dumpExact(path, data, length > 0 ? static_cast<size_t>(length) : 0);
}

namespace gm3000 {

void reportProblem(const QString& text) {
  varo::writeClientLog(QStringLiteral("VaroDeviceBase_LM_GM3000: ") + text);
}

QString shownDeviceName(const std::string& device) {
  if (const auto text = deviceNameText(device)) return QLatin1Char('"') + *text + QLatin1Char('"');
  return QStringLiteral("0x") + QString::fromLatin1(QByteArray::fromStdString(device).toHex());
}

}  // namespace gm3000

// Problems an integrator needs to see: a key left out of the seal list and
// why, a local file that could not be written, a seal copy left alone. Each
// is one line of the client log, "VaroDeviceBase_LM_GM3000: " and the text,
// written only when the log's directory exists. Progress texts still go to
// writeLog, which discards them.
#pragma once

#include <QString>

#include <string>

namespace gm3000 {

void reportProblem(const QString& text);

// A device name as it can be shown in a report: the text, or its bytes in
// hexadecimal when they are not UTF-8.
QString shownDeviceName(const std::string& device);

}  // namespace gm3000

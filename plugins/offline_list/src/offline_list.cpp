// DoIt: asks every installed key device driver for the seals on its keys and
// merges the answers into one seal list, logging each step to the client log.
#include <limits.h>

#include <QByteArray>
#include <QString>

#include <cstring>
#include <string>
#include <vector>

#include "VaroDeviceBase.h"
#include "VaroGetSealListOfficeLine.h"
#include "seal_list.h"
#include "varo/client_log.h"
#include "varo/driver_plugins.h"
#include "varo/loaded_library.h"
#include "varo/tool_library.h"

namespace {

// Zero-filled buffers handed to the tool library and the drivers.
constexpr size_t kHomeDirCapacity = 300;
constexpr size_t kSignModuleCapacity = 300;
// A driver takes a positive incoming length as its buffer's capacity and
// refuses a list that does not fit; this one holds far more seals than a
// key's index can list.
constexpr int kSealListCapacity = 64 * 1024;
// Key type texts are short ("LM_GM3000"); the room beyond keeps a driver that
// writes a longer text inside the buffer.
constexpr size_t kKeyTypeCapacity = 256;

constexpr const char* kDriverDirectory = "/VaroSupport/uklibrary";
constexpr const char* kNoToolLibrary = "ERROR:加载工具库失败";
constexpr const char* kNoDriverDirectory = "ERROR:加载设备库失败";

// A step of the plug-in in the client log.
void log(const QString& message) {
  varo::writeClientLog("VaroGetSealListOffLine: " + message);
}

// The text in a buffer that the callee may have filled to its end.
QByteArray textIn(const void* buffer, size_t capacity) {
  const char* text = static_cast<const char*>(buffer);
  return QByteArray(text, int(strnlen(text, capacity)));
}

void answer(char* output, const QByteArray& text) {
  std::memcpy(output, text.constData(), size_t(text.size()) + 1);  // with the terminator
}

// The seal-list objects of the keys one driver library serves.
std::vector<QByteArray> driverSeals(const std::string& path, ToolObject& tool) {
  const QString shownPath = QString::fromLocal8Bit(path.c_str());
  varo::LoadedLibrary library(path);
  if (!library.isLoaded()) {
    log("加载设备库" + shownPath + "失败");
    return {};
  }
  log("加载设备库" + shownPath + "成功");

  std::vector<unsigned char> list(kSealListCapacity, 0);
  int listLength = kSealListCapacity;
  std::vector<char> keyType(kKeyTypeCapacity, 0);
  {
    varo::PluginObject<VaroDeviceBase> driver(library);
    if (driver) {
      // The result is not examined: a driver without a key reports no list.
      driver->ReadSealList(list.data(), &listLength);
      log("SealList  " + QString::fromUtf8(textIn(list.data(), list.size())));
      driver->GetUKType(keyType.data());
      log("UKTYPE  " + QString::fromUtf8(textIn(keyType.data(), keyType.size())));
    } else {
      listLength = 0;  // no driver factory: nothing to read
    }
  }
  library.unload();
  log("卸载设备库");

  // A length below zero or beyond the buffer reads nothing.
  if (listLength <= 0 || listLength > kSealListCapacity) return {};
  const QByteArray text = textIn(list.data(), size_t(listLength));
  if (text.isEmpty()) return {};
  const QByteArray type = textIn(keyType.data(), keyType.size());
  return offline_list::sealObjects(text, [&](const QString& standard) {
    std::vector<char> name(kSignModuleCapacity, 0);
    QByteArray typeArgument = type, standardArgument = standard.toLatin1();
    tool.GetSignModuleName(typeArgument.data(), standardArgument.data(), name.data());
    return QString::fromUtf8(textIn(name.data(), name.size()));
  });
}

}  // namespace

VaroGetSealListOfficeLine::VaroGetSealListOfficeLine() {}

void DoIt(const char* input, char* output) {
  (void)input;  // not read
  if (!output) return;
  varo::writeClientLog("in VaroGetSealListOffLine");

  // One tool object serves the whole call.
  varo::LoadedLibrary toolLibrary(varo::toolLibraryPath());
  varo::PluginObject<ToolObject> tool(toolLibrary);
  if (!tool) {  // not loaded, or without its factory
    log("加载工具库失败");
    answer(output, kNoToolLibrary);
    return;
  }
  log("加载工具库成功");
  std::vector<char> home(kHomeDirCapacity, 0);
  tool->GetHomeDir(home.data());
  const std::string directory = textIn(home.data(), home.size()).toStdString() + kDriverDirectory;

  varo::DriverListing listing;
  listing.order = varo::DriverOrder::NameIgnoringCase;
  listing.includeHidden = false;
  listing.maxPathLength = PATH_MAX;
  const auto drivers = varo::listDriverPlugins(directory, listing);
  if (!drivers) {
    tool.release();
    toolLibrary.unload();
    answer(output, kNoDriverDirectory);
    log("uklibrary 文件夹不存在");
    return;
  }

  std::vector<QByteArray> seals;
  for (const std::string& path : *drivers) {
    std::vector<QByteArray> more = driverSeals(path, *tool.get());
    seals.insert(seals.end(), more.begin(), more.end());
  }
  size_t omitted = 0;
  const QByteArray list =
      offline_list::joinSealList(seals, offline_list::kAnswerCapacity, &omitted);
  tool.release();
  toolLibrary.unload();
  if (omitted) log("印章列表超出应答缓冲区，略去" + QString::number(omitted) + "个印章");
  log("返回可用列表\t" + QString::fromUtf8(list));
  answer(output, list);
}

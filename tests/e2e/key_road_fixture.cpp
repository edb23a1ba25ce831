#include "key_road_fixture.h"

#include <stdlib.h>
#include <unistd.h>

#include <QJsonDocument>
#include <QProcess>

#include <algorithm>
#include <fstream>
#include <vector>

#include "VaroDeviceBase.h"
#include "varo/install_root.h"
#include "varo/loaded_library.h"
#include "varo/port_check.h"
#include "varo/skf_api.h"

namespace keyroad {

namespace {

const std::string kBin = std::string(varo::kInstallRoot) + "/bin/";
const std::string kDriver =
    std::string(varo::kInstallRoot) + varo::kDriverDirectory + "libVaroDeviceBase_LM_GM3000.so";
const std::string kSealStore = std::string(varo::kInstallRoot) + varo::kSealStoreDirectory;

unsigned char* bytes(std::string& s) {
  return reinterpret_cast<unsigned char*>(s.data());
}

}  // namespace

QJsonObject ToolRun::json() const {
  return QJsonDocument::fromJson(out).object();
}

int ToolRun::result() const {
  return json().value("result").toInt(-1);
}

std::unique_ptr<QProcess> startTool(const std::string& program, const QStringList& args) {
  auto p = std::make_unique<QProcess>();
  p->start(QString::fromStdString(kBin + program), args);
  return p;
}

ToolRun finishTool(QProcess& p) {
  const std::string what = p.program().toStdString() + " " + p.arguments().join(' ').toStdString();
  EXPECT_NE(p.error(), QProcess::FailedToStart) << what << " did not start";
  const bool ended = p.state() == QProcess::NotRunning || p.waitForFinished(kToolTimeoutMs);
  EXPECT_TRUE(ended) << what << " did not end";
  if (!ended) {
    p.kill();
    p.waitForFinished();
  }
  const bool normal =
      ended && p.error() != QProcess::FailedToStart && p.exitStatus() == QProcess::NormalExit;
  return {normal ? p.exitCode() : -1, p.readAllStandardOutput(), p.readAllStandardError()};
}

QString qs(const std::string& s) {
  return QString::fromStdString(s);
}

int driverSealList(std::string* list) {
  varo::LoadedLibrary lib(kDriver);
  varo::PluginObject<VaroDeviceBase> driver(lib);
  if (!driver) return -1;
  std::string buffer(64 * 1024, '\0');
  int length = int(buffer.size());
  const int rc = driver->ReadSealList(bytes(buffer), &length);
  list->assign(buffer, 0, rc == 0 ? size_t(std::clamp(length, 0, int(buffer.size()))) : 0);
  return rc;
}

int driverSeal(const std::string& identifier, std::string* seal) {
  varo::LoadedLibrary lib(kDriver);
  varo::PluginObject<VaroDeviceBase> driver(lib);
  if (!driver) return -1;
  std::string id = identifier;
  int length = 0;
  if (int rc = driver->ReadSeal(id.data(), nullptr, &length)) return rc;
  seal->assign(size_t(std::max(length, 0)), '\0');
  return driver->ReadSeal(id.data(), bytes(*seal), &length);
}

void KeyRoad::SetUp() {
  ASSERT_TRUE(dir_.ok() && keys_.ok());
  tag_ = std::to_string(::getpid());
  // The system temporary directory of the programs (the plug-ins' client
  // log, the driver's temporary seal copies): the test's own.
  if (const char* old = getenv("TMPDIR")) oldTmpdir_ = old;
  setenv("TMPDIR", dir_.path().c_str(), 1);
  files_.track("/tmp/varo.list");
  const ToolRun maker = runTool("sealmaker", {"--new-maker", qs(path("maker"))});
  ASSERT_EQ(maker.status, 0) << maker.err.toStdString();
  writeFile("pin", std::string(kPin) + "\n");
  writeFile("policy", "");
  addKey(kDevice);
  startService();
}

void KeyRoad::TearDown() {
  service_.reset();
  oldTmpdir_ ? setenv("TMPDIR", oldTmpdir_->c_str(), 1) : unsetenv("TMPDIR");
}

void KeyRoad::addKey(const std::string& device) {
  varo::softkey::KeySetup setup;
  setup.serial = unique(device);
  ASSERT_TRUE(keys_->createKey(device, setup).ok());
  varo::softkey::CertificateRequest request;
  request.subjectDn = "CN=" + device + " Signer,O=Varo Test";
  varo::softkey::Bytes cert;
  ASSERT_TRUE(keys_->generateContainer(device, "Seal", request, &cert).ok());
  std::ofstream(path(device + ".cert.der"), std::ios::binary)
      .write(reinterpret_cast<const char*>(cert.data()), std::streamsize(cert.size()));
  // The driver's local list of a key without a seal index.
  files_.track(kSealStore + setup.serial + ".list");
  files_.track(kSealStore + setup.serial + ".lock");
}

std::string KeyRoad::makeSeal(const std::string& identifier, const std::string& name,
                              const std::string& device) {
  const std::string file = path(identifier + ".der");
  const QString maker = qs(path("maker"));
  const ToolRun made =
      runTool("sealmaker",
              {"--name", qs(name), "--id", qs(identifier), "--type", "1", "--vid", "TEST",
               "--signer-cert", qs(path(device + ".cert.der")), "--maker-cert",
               maker + "/maker.cert.der", "--maker-key", maker + "/maker.key.der", "-o", qs(file)});
  EXPECT_EQ(made.status, 0) << made.err.toStdString();
  // What serving and reading the seal leaves behind: the service's seal and
  // picture files, the driver's seal copy.
  const std::string der = varo::testing::readFile(file);
  files_.track("/tmp/" + identifier + ".seal");
  files_.track("/tmp/" + varo::testing::pictureDigestText(varo::ByteSpan(der)) + ".pic");
  files_.track(kSealStore + identifier + ".dat");
  files_.track(kSealStore + identifier + ".key");
  return file;
}

void KeyRoad::storeSeal(const std::string& sealFile, const std::string& how,
                        const std::string& device) {
  const QString option = how == "--store" ? "--store" : "--store-old";
  const ToolRun stored = runTool("sealmaker", {"--seal", qs(sealFile), option, qs(device),
                                               "--key-store", qs(keys_.directory())});
  ASSERT_EQ(stored.status, 0) << stored.err.toStdString();
  if (how != "convert") return;
  const ToolRun converted =
      runTool("softkey", {"--store", qs(keys_.directory()), "convert", qs(device)});
  ASSERT_EQ(converted.status, 0) << converted.err.toStdString();
  std::vector<std::string> files;
  ASSERT_TRUE(keys_->listFiles(device, &files).ok());
  EXPECT_EQ(std::count(files.begin(), files.end(), "PIC1"), 0);
  EXPECT_EQ(std::count(files.begin(), files.end(), "SEALINDEX"), 1);
}

void KeyRoad::startService() {
  ASSERT_TRUE(varo::testing::servicePortFree());
  service_ = std::make_unique<varo::testing::DaemonProcess>(
      kBin + "varo-signd",
      std::vector<std::string>{"--port", "9990", "--pin-file", path("pin"), "--policy",
                               path("policy"), "--log", path("signd.log")});
  ASSERT_TRUE(service_->started()) << "varo-signd did not start on port 9990";
}

void KeyRoad::stopService() {
  ASSERT_EQ(service_->stop(SIGTERM), std::optional<int>(0));
}

std::string KeyRoad::sealId(const std::string& identifier, const std::string& device) const {
  return identifier + "@LM_GM3000&" + device + "@" + kModule;
}

void KeyRoad::writeFile(const std::string& name, const std::string& text) const {
  std::ofstream(path(name), std::ios::binary | std::ios::trunc) << text;
}

std::string KeyRoad::log() const {
  return varo::testing::readFile(path("signd.log"));
}

size_t KeyRoad::reports() const {
  // The service serves one connection at a time: once it answered this,
  // every report sent before (which gets no reply) is in the log.
  EXPECT_TRUE(varo::testing::ask(service_->port(), "{\"COM\":\"0\"}").has_value());
  const std::string text = log();
  size_t n = 0;
  for (size_t at = text.find("\"COM\":\"4\""); at != std::string::npos;
       at = text.find("\"COM\":\"4\"", at + 1))
    ++n;
  return n;
}

uint32_t KeyRoad::triesLeft(const std::string& device) const {
  varo::LoadedLibrary lib(std::string(varo::kInstallRoot) + varo::kVendorKeyLibraryPath);
  skf::Api api;
  api.resolveFrom(lib);
  using PinInfoFn =
      skf::ULONG (*)(skf::HAPPLICATION, skf::ULONG, skf::ULONG*, skf::ULONG*, skf::BOOL*);
  auto pinInfo = lib.resolve<PinInfoFn>("SKF_GetPINInfo");
  if (!api.SKF_ConnectDev || !api.SKF_OpenApplication || !pinInfo) {
    ADD_FAILURE() << "the key library does not load: " << lib.errorString();
    return 0;
  }
  std::string name = device, app = varo::softkey::kDefaultApplication;
  skf::DEVHANDLE dev = nullptr;
  skf::HAPPLICATION application = nullptr;
  skf::ULONG max = 0, left = 0;
  skf::BOOL isDefault = 0;
  EXPECT_EQ(api.SKF_ConnectDev(name.data(), &dev), 0u) << device;
  EXPECT_EQ(api.SKF_OpenApplication(dev, app.data(), &application), 0u);
  EXPECT_EQ(pinInfo(application, skf::USER_TYPE, &max, &left, &isDefault), 0u);
  api.SKF_CloseApplication(application);
  api.SKF_DisConnectDev(dev);
  return left;
}

}  // namespace keyroad

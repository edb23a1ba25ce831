// The road of a signing as an installation runs it: software keys in a store
// of the test's own, seals made by sealmaker and put on a key, varo-signd in
// its default mode (the seals of the attached keys through the installed
// offline seal-list plug-in and driver) with a PIN file and a policy file, and
// the installed programs run as processes.
#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "varo/daemon_process.h"
#include "varo/temp_key_store.h"
#include "varo/tmp_files.h"

namespace keyroad {

inline constexpr const char* kDevice = "ROADKEY";
inline constexpr const char* kPin = "12345678";
inline constexpr const char* kModule = "/VaroSupport/TokenSign_LM";
// Far below the provider's 60-second receive timeout: a program that runs
// this long is taken to hang.
inline constexpr int kToolTimeoutMs = 20000;

struct ToolRun {
  int status;  // exit status; -1 when the program crashed or did not end in time
  QByteArray out, err;
  // The answer of a program run with --json.
  QJsonObject json() const;
  // Its "result" (the deciding provider code), -1 without one.
  int result() const;
};

// The installed program bin/<program>: started, waited for (at most
// kToolTimeoutMs, then killed), or both.
std::unique_ptr<QProcess> startTool(const std::string& program, const QStringList& args);
ToolRun finishTool(QProcess& process);
inline ToolRun runTool(const std::string& program, const QStringList& args) {
  return finishTool(*startTool(program, args));
}
QString qs(const std::string& s);

// The installed driver, loaded by path for one call as its callers load it:
// the seal list of every attached key, and one seal by identifier. Each
// returns the driver's result code.
int driverSealList(std::string* list);
int driverSeal(const std::string& identifier, std::string* seal);

class KeyRoad : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // An attached key with an SM2 signing container; its certificate is the
  // signer certificate of the seals made for that key.
  void addKey(const std::string& device);
  // A seal made by sealmaker for the key's signer, written to
  // path(identifier + ".der"); that path is returned.
  std::string makeSeal(const std::string& identifier, const std::string& name,
                       const std::string& device = kDevice);
  // Puts a seal file on a key: "--store" (a seal record through the driver),
  // "--store-old" (the old three-file form), or "convert" (the old form, then
  // converted on the key by softkey convert).
  void storeSeal(const std::string& sealFile, const std::string& how,
                 const std::string& device = kDevice);

  void startService();
  void stopService();

  // A name unique to this process (keys, seal identifiers), so that the
  // local seal store of the installed tree never mixes two runs.
  std::string unique(const std::string& base) const { return base + tag_; }
  std::string sealId(const std::string& identifier, const std::string& device = kDevice) const;
  std::string path(const std::string& name) const { return dir_.file(name); }
  void writeFile(const std::string& name, const std::string& text) const;
  std::string log() const;
  ToolRun reader(const QStringList& args) const { return runTool("oes-reader", args); }
  // The COM 4 reports the service has logged, once it handled every earlier
  // request.
  size_t reports() const;
  // The user PIN tries left on the key, as the key library reports them.
  uint32_t triesLeft(const std::string& device = kDevice) const;

  varo::testing::TempDir dir_{"key-road"};
  varo::testing::TempKeyStore keys_{"key-road-keys"};
  varo::testing::TmpFiles files_;
  std::unique_ptr<varo::testing::DaemonProcess> service_;

 private:
  std::string tag_;
  std::optional<std::string> oldTmpdir_;
};

}  // namespace keyroad

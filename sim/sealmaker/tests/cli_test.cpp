// The sealmaker command: exit status and the files it writes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "varo/der.h"
#include "varo/pki.h"
#include "varo/sealmaker.h"
#include "varo/softkey_admin.h"

namespace {

namespace fs = std::filesystem;

int run(const std::string& args) {
  std::string cmd = std::string(SEALMAKER_PATH) + " " + args + " >/dev/null 2>&1";
  int status = std::system(cmd.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<uint8_t> readAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

class SealmakerCli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(VARO_TEST_BINARY_DIR) / ("sealmaker_cli_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    ASSERT_EQ(run("--new-maker " + (dir_ / "maker").string()), 0);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string common() const {
    const std::string m = (dir_ / "maker").string();
    return "--name Seal --id 42 --vid V --valid-from 250101000000Z --valid-to 351231235959Z"
           " --signer-cert " +
           m + "/maker.cert.der --maker-cert " + m + "/maker.cert.der --maker-key " + m +
           "/maker.key.der";
  }
  fs::path dir_;
};

TEST_F(SealmakerCli, NewMakerWritesAPrivateKeyAndItsCertificate) {
  const fs::path key = dir_ / "maker" / "maker.key.der";
  EXPECT_EQ(fs::status(key).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  auto keyDer = readAll(key);
  auto certDer = readAll(dir_ / "maker" / "maker.cert.der");
  EXPECT_TRUE(varo::pki::privateKeyFromDer(varo::ByteSpan(keyDer.data(), keyDer.size())));
  EXPECT_TRUE(varo::pki::certificateFromDer(varo::ByteSpan(certDer.data(), certDer.size())));
}

TEST_F(SealmakerCli, WritesASignedSealAndReportsBadUse) {
  const std::string out = (dir_ / "seal.der").string();
  struct Case {
    std::string args;
    int status;
  } cases[] = {
      {"--help", 0},
      {common() + " -o " + out, 0},
      {common() + " --type 2 --iid XX --version 4 -o " + out, 0},
      {common() + " --type 3 -o " + out, 2},
      {common() + " --width wide -o " + out, 2},
      {common() + " --picture " + (dir_ / "missing.png").string() + " -o " + out, 2},
      {common() + " --picture " + SEALMAKER_PATH + " --width 7 --height 9 -o " + out, 0},
      {common(), 2},                 // no output
      {"--name Seal -o " + out, 2},  // no certificates
      {common() + " --bogus 1 -o " + out, 2},
      {common() + " --valid-to 35123123595 -o " + out, 1},  // not a UTC time
      {common() + " -o " + (dir_ / "no" / "such" / "dir.der").string(), 1},
  };
  for (const Case& c : cases) EXPECT_EQ(run(c.args), c.status) << c.args;

  // The last good run: a type 2 seal whose maker signature verifies.
  auto seal = readAll(out);
  auto certDer = readAll(dir_ / "maker" / "maker.cert.der");
  auto cert = varo::pki::certificateFromDer(varo::ByteSpan(certDer.data(), certDer.size()));
  auto content = varo::sealmaker::makerSignedContent(seal);
  auto signature = varo::sealmaker::makerSignature(seal);
  EXPECT_TRUE(varo::pki::verifyMessage(cert.get(), varo::ByteSpan(content.data(), content.size()),
                                       varo::ByteSpan(signature.data(), signature.size())));
  EXPECT_NE(std::string(seal.begin(), seal.end()).find("XX"), std::string::npos);
}

// The seal's bytes as a reader of the old three-file form joins them: the
// payloads of PIC1, PIC2 and PIC3, each after its 8-byte length header.
std::vector<uint8_t> threeFileSeal(varo::softkey::SoftKeyStore& store, const std::string& key) {
  std::vector<uint8_t> seal;
  for (const char* name : {"PIC1", "PIC2", "PIC3"}) {
    varo::softkey::Bytes file;
    if (!store.getFile(key, name, &file).ok() || file.size() < 8) return {};
    const size_t n = file[0] | file[1] << 8 | file[2] << 16 | size_t(file[3]) << 24;
    if (n > file.size() - 8) return {};
    seal.insert(seal.end(), file.begin() + 8, file.begin() + 8 + long(n));
  }
  return seal;
}

TEST_F(SealmakerCli, StoresTheMadeOrAGivenSealOnASoftwareKeyInTheOldForm) {
  const std::string keys = (dir_ / "keys").string(), out = (dir_ / "seal.der").string(),
                    at = " --key-store " + keys;
  varo::softkey::SoftKeyStore store(keys);
  ASSERT_TRUE(store.createKey("K1").ok() && store.createKey("K2").ok());
  struct Case {
    std::string args;
    int status;
  } cases[] = {
      {common() + " -o " + out + " --store-old K1" + at, 0},
      {"--seal " + out + " --store-old K2" + at, 0},
      {common() + " --store-old NOKEY" + at, 1},
      {"--seal " + out + " --store-old NOKEY" + at, 1},
      {"--seal " + (dir_ / "missing.der").string() + " --store-old K2" + at, 2},
      {"--seal " + out, 2},  // stored nowhere
      {common() + at, 2},    // a key store, but no key and no output
  };
  for (const Case& c : cases) EXPECT_EQ(run(c.args), c.status) << c.args;
  const auto seal = readAll(out);
  ASSERT_FALSE(seal.empty());
  EXPECT_EQ(threeFileSeal(store, "K1"), seal);
  EXPECT_EQ(threeFileSeal(store, "K2"), seal);
}

}  // namespace

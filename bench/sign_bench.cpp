// OES_Sign as a reader meets it: the second call (the one that signs), with
// the PIN from the first, on a software key, with the installed varo-signd
// on port 9990 serving the seal. Reported: its time next to OES_Verify of
// the signature it returns (online, since the service answers), and where
// the signing's time goes, each piece measured on its own in the same rounds:
// the service round trips, reading the seal file, loading the libraries,
// the codec's work, the key's SignData and e = SM3(Z || M).
#include <sys/stat.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "BasicSealInfo.h"
#include "codec_session.h"
#include "mySM3.h"
#include "oes_api.h"
#include "pin_handover.h"
#include "service_client.h"
#include "sign_flow.h"
#include "varo/bench_machine.h"
#include "varo/bench_pairs.h"
#include "varo/daemon_process.h"
#include "varo/install_root.h"
#include "varo/loaded_library.h"
#include "varo/temp_key_store.h"
#include "varo/test_seals.h"
#include "varo/tmp_files.h"
#include "varo/trace.h"

namespace {

using Bytes = std::vector<uint8_t>;
using varo::bench::Clocks;
using varo::bench::timed;
using SignDataFn = int (*)(char*, char*, unsigned char*, int, unsigned char*, int, unsigned char*,
                           unsigned int*);

constexpr const char* kDevice = "BENCHKEY";
constexpr const char* kIdentifier = "benchSignSeal";
constexpr const char* kModule = "/VaroSupport/TokenSign_LM";

unsigned char* bytes(std::string& s) {
  return reinterpret_cast<unsigned char*>(s.data());
}

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// A software key with the signer's container, the seal for its certificate
// served by varo-signd from a seal directory, and the PIN handed over by a
// first OES_Sign call.
class SigningSetup {
 public:
  bool start(std::string* why) {
    if (!keys_.ok() || !dir_.ok()) return fail(why, "no temporary directory");
    if (!keys_->createKey(kDevice).ok()) return fail(why, "cannot create the software key");
    varo::softkey::CertificateRequest request;
    request.subjectDn = "CN=Bench Signer,O=Varo Bench";
    if (!keys_->generateContainer(kDevice, "Seal", request, &cert_).ok())
      return fail(why, "cannot create the key's container");
    auto spec = varo::testing::sealSpec(pki_, kIdentifier, "Bench Signing Seal");
    spec.signerCerts = {cert_};
    seal_ = varo::testing::makeTestSeal(spec);
    if (seal_.empty()) return fail(why, "cannot make the seal");
    const std::string seals = dir_.file("seals");
    if (::mkdir(seals.c_str(), 0700) != 0) return fail(why, "cannot make " + seals);
    std::ofstream(seals + "/seal.der", std::ios::binary)
        .write(reinterpret_cast<const char*>(seal_.data()), std::streamsize(seal_.size()));
    writeFile(seals + "/index.txt", "seal.der\t" + sealId() + "\n");
    writeFile(dir_.file("pin.txt"), std::string(varo::softkey::kDefaultUserPin) + "\n");
    writeFile(dir_.file("policy.txt"), "");
    files_.track("/tmp/" + std::string(kIdentifier) + ".seal");
    files_.track("/tmp/varo.list");

    if (!varo::bench::waitForFreePort(9990, 120)) return fail(why, "port 9990 stays busy");
    service_ = std::make_unique<varo::testing::DaemonProcess>(
        std::string(varo::kInstallRoot) + "/bin/varo-signd",
        std::vector<std::string>{"--seal-dir", seals, "--port", "9990", "--pin-file",
                                 dir_.file("pin.txt"), "--policy", dir_.file("policy.txt"), "--log",
                                 dir_.file("signd.log")});
    if (!service_->started()) return fail(why, "varo-signd did not start on port 9990");
    int length = 0;
    const int rc =
        OES_Sign(nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, &length);
    if (rc != 0) return fail(why, "the PIN step gave " + std::to_string(rc));
    return true;
  }

  std::string sealId() const {
    return std::string(kIdentifier) + "@LM_GM3000&" + kDevice + "@" + kModule;
  }
  const Bytes& seal() const { return seal_; }
  const Bytes& cert() const { return cert_; }

 private:
  static bool fail(std::string* why, const std::string& text) {
    *why = text;
    return false;
  }

  varo::testing::TempKeyStore keys_{"bench-sign-keys"};
  varo::testing::TempDir dir_{"bench-sign"};
  varo::testing::TmpFiles files_;
  varo::testing::TestPki pki_;
  Bytes cert_, seal_;
  std::unique_ptr<varo::testing::DaemonProcess> service_;
};

// The reader's inputs of one signing.
struct Document {
  std::string property = "contract.ofd", method = "1.2.156.10197.1.501", time = "260102030405Z";
  Bytes digest = Bytes(32, 0xA5);
};

// *signature holds the reader's buffer (its size is offered) and keeps the
// signature.
int signOnce(Document& d, std::string& id, Bytes* signature) {
  int length = int(signature->size());
  const int rc =
      OES_Sign(bytes(id), int(id.size()), bytes(d.property), int(d.property.size()),
               d.digest.data(), int(d.digest.size()), bytes(d.method), int(d.method.size()),
               bytes(d.time), int(d.time.size()), signature->data(), &length);
  if (rc == 0) signature->resize(size_t(length));
  return rc;
}

int verifyOnce(Bytes& seal, Document& d, Bytes& signature) {
  return OES_Verify(seal.data(), int(seal.size()), nullptr, 0, d.digest.data(),
                    int(d.digest.size()), nullptr, 0, nullptr, 0, signature.data(),
                    int(signature.size()));
}

// The pieces of one signing, each on its own: what the flow does between
// its library loads, with the libraries kept loaded while a piece runs, and
// the loads themselves.
class Pieces {
 public:
  explicit Pieces(SigningSetup& s) : setup_(s) {
    home_ = varo::provider::installDirFromToolLibrary().value_or(std::string());
    auto fields = varo::provider::signing::parseSealId(
        varo::ByteSpan(setup_.sealId().data(), setup_.sealId().size()));
    if (fields && fields->deviceName) device_ = *fields->deviceName;
    auto path = varo::provider::signing::signingModulePath(home_, kModule);
    if (path) varo::provider::signing::locateSigningModule(*path, varo::kInstallRoot, &module_);
  }

  bool ok() const { return !home_.empty() && !module_.empty(); }

  // COM 3 about the seal and the COM 4 report, as the signing sends them.
  Clocks service() {
    std::string id = kIdentifier;
    return timed([&] {
      VerifySealById(id.data());
      varo::service::exchange(varo::service::buildCommand(4, " ", id.c_str(), nullptr),
                              static_cast<char*>(nullptr), 0);
    });
  }

  // OES_GetSeal twice (the size, then the bytes), from the service's file.
  Clocks sealFile() {
    std::string id = setup_.sealId();
    return timed([&] {
      int length = 0;
      OES_GetSeal(bytes(id), int(id.size()), nullptr, &length);
      Bytes seal(size_t(length > 0 ? length : 1));
      OES_GetSeal(bytes(id), int(id.size()), seal.data(), &length);
    });
  }

  // The tool library, the codec twice and the signing module, loaded and
  // unloaded as the flow does.
  Clocks libraries() {
    return timed([&] {
      varo::provider::installDirFromToolLibrary();
      { varo::provider::CodecSession codec(home_); }
      { varo::provider::CodecSession codec(home_); }
      varo::LoadedLibrary module(module_);
      module.resolve<SignDataFn>("SignData");
    });
  }

  // Decoding the seal, building the content (size, then bytes) and the
  // signature structure (size, then bytes), on a codec already loaded.
  Clocks codec(Document& d) {
    varo::provider::CodecSession codec(home_);
    Bytes seal = setup_.seal();
    return timed([&] {
      Bytes cert(seal.size() + 4096);
      int certLength = 0;
      codec->DecodeSeal(seal.data(), int(seal.size()), nullptr, nullptr, cert.data(), &certLength,
                        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
      unsigned char* values[4] = {bytes(d.property), d.digest.data(), bytes(d.method),
                                  bytes(d.time)};
      int lengths[4] = {int(d.property.size()), int(d.digest.size()), int(d.method.size()),
                        int(d.time.size())};
      int* lengthPointers[4] = {&lengths[0], &lengths[1], &lengths[2], &lengths[3]};
      int tbsLength = 0;
      codec->GetTbsSignData(seal.data(), int(seal.size()), values, lengthPointers, 4, nullptr,
                            &tbsLength);
      tbs_.assign(size_t(tbsLength > 0 ? tbsLength : 1), 0);
      codec->GetTbsSignData(seal.data(), int(seal.size()), values, lengthPointers, 4, tbs_.data(),
                            &tbsLength);
      Bytes value(64, 1);
      unsigned char* sig[1] = {value.data()};
      int valueLength = 64;
      int* sigLength[1] = {&valueLength};
      int length = 0;
      codec->GetSignatureData(tbs_.data(), int(tbs_.size()), sig, sigLength, nullptr, &length);
      Bytes out(size_t(length > 0 ? length : 1));
      codec->GetSignatureData(tbs_.data(), int(tbs_.size()), sig, sigLength, out.data(), &length);
    });
  }

  // The flow's trace markers (22 in a signing, each a file operation even
  // without the trace directory), the removal of the old seal list and the
  // real-path check of the signing module.
  Clocks checks() {
    auto path = varo::provider::signing::signingModulePath(home_, kModule);
    return timed([&] {
      for (int i = 0; i < 22; ++i) varo::trace::marker("INOES_Sign1");
      ::unlink("/tmp/varo.list");
      std::string file;
      if (path) varo::provider::signing::locateSigningModule(*path, varo::kInstallRoot, &file);
    });
  }

  // e = SM3(Z || content) with the signer's certificate.
  Clocks digest() {
    Bytes cert = setup_.cert();
    return timed([&] {
      unsigned char e[32];
      int n = 0;
      mySM3::getsm3Digest(tbs_.data(), tbs_.size(), cert.data(), cert.size(), e, &n);
    });
  }

  // SignData on the loaded signing module: it loads the key's vendor
  // library, opens the device, checks the PIN and signs.
  Clocks key() {
    varo::LoadedLibrary module(module_);
    auto signData = module.resolve<SignDataFn>("SignData");
    Bytes cert = setup_.cert();
    varo::provider::pin::PinCopy pin;
    return timed([&] {
      unsigned char e[32] = {1};
      unsigned char value[300];
      unsigned int length = sizeof value;
      if (!signData || signData(device_.data(), pin.text(), e, 32, cert.data(), int(cert.size()),
                                value, &length) != 0)
        std::fprintf(stderr, "sign_bench: SignData failed\n");
    });
  }

 private:
  SigningSetup& setup_;
  std::string home_, module_, device_;
  Bytes tbs_;
};

struct Split {
  std::vector<Clocks> service, sealFile, libraries, codec, digest, key, checks;
};

SigningSetup* setup = nullptr;
Split split;

void SignSecondCall(benchmark::State& state) {
  varo::bench::Row& row = varo::bench::row(varo::bench::RowSpec{
      "OES_Sign second call (software key, varo-signd on 9990) vs OES_Verify of the result",
      varo::bench::Ratio::Time, 0, 0, "OES_Verify (online)"});
  Pieces pieces(*setup);
  if (!pieces.ok()) {
    state.SkipWithError("the installed tool library or signing module is missing");
    return;
  }
  Document doc;
  for (auto _ : state) {
    Bytes signature(204800, 0), seal = setup->seal();
    std::string id = setup->sealId();
    int signRc = 0, verifyRc = 0;
    const Clocks sign = timed([&] { signRc = signOnce(doc, id, &signature); });
    const Clocks verify = timed([&] { verifyRc = verifyOnce(seal, doc, signature); });
    if (signRc != 0 || verifyRc != 0) {
      state.SkipWithError(("OES_Sign gave " + std::to_string(signRc) + ", OES_Verify gave " +
                           std::to_string(verifyRc))
                              .c_str());
      return;
    }
    row.add(sign, verify);
    split.service.push_back(pieces.service());
    split.sealFile.push_back(pieces.sealFile());
    split.libraries.push_back(pieces.libraries());
    split.codec.push_back(pieces.codec(doc));
    split.digest.push_back(pieces.digest());
    split.key.push_back(pieces.key());
    split.checks.push_back(pieces.checks());
  }
  state.counters["ratio"] = row.endRepetition();
}

BENCHMARK(SignSecondCall)->Iterations(20)->Repetitions(3)->Unit(benchmark::kMillisecond);

void reportSplit() {
  using varo::bench::formatSeconds;
  using varo::bench::spreadOf;
  varo::bench::Row* row = varo::bench::findRow(
      "OES_Sign second call (software key, varo-signd on 9990) vs OES_Verify of the result");
  if (!row || row->pairs() == 0) return;
  const double total = row->ours().median, totalWall = row->oursWall().median;
  const std::string section =
      "OES_Sign second call: where the time goes (medians; each piece measured on its own in "
      "the same rounds; CPU time of this process, wall clock in brackets)";
  double known = 0, knownWall = 0;
  auto line = [&](const char* what, const std::vector<Clocks>& v) {
    std::vector<double> cpu, wall;
    for (const Clocks& c : v) cpu.push_back(c.cpu), wall.push_back(c.wall);
    const double m = spreadOf(cpu).median, w = spreadOf(wall).median;
    known += m;
    knownWall += w;
    varo::bench::report(section, std::string(what) + ": " + formatSeconds(m) + " (" +
                                     formatSeconds(w) + "), " +
                                     varo::bench::fixed(100 * m / total, 0) + " %");
  };
  varo::bench::report(
      section, "whole call: " + formatSeconds(total) + " (" + formatSeconds(totalWall) + ")");
  line("service round trips (COM 3 seal standing, COM 4 report)", split.service);
  line("seal file left by the service (OES_GetSeal: size, then bytes)", split.sealFile);
  line("library loading (tool library, codec twice, signing module)", split.libraries);
  line("codec (seal decoding, content, signature structure)", split.codec);
  line("key (SignData: vendor library, device, PIN check, SM2 signature)", split.key);
  line("e = SM3(Z || content)", split.digest);
  line("trace markers, old seal list removal, signing module path check", split.checks);
  varo::bench::report(section,
                      "rest, not measured apart (the flow's own copies and checks, "
                      "the pieces running cold one after the other in one call): " +
                          formatSeconds(total > known ? total - known : 0) + " (" +
                          formatSeconds(totalWall > knownWall ? totalWall - knownWall : 0) + ")");
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::printf("machine: %s\n", varo::bench::machineLine().c_str());
  SigningSetup s;
  std::string why;
  if (!s.start(&why)) {
    std::fprintf(stderr, "sign_bench: %s\n", why.c_str());
    return 1;
  }
  setup = &s;
  benchmark::RunSpecifiedBenchmarks();
  reportSplit();
  varo::bench::printSummary("signing: OES_Sign on the software key with varo-signd");
  benchmark::Shutdown();
  return 0;
}

// Throughput of our SM3 and time of our SM2 verification, each next to the
// cryptographic library's own in the same run; a summary prints the ratios.
#include <openssl/evp.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "mySM2.h"
#include "mySM3.h"
#include "varo/pki.h"

namespace {

using varo::pki::Bytes;

Bytes input(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>(i * 131 + 7);
  return b;
}

void Sm3Ours(benchmark::State& state) {
  const Bytes in = input(size_t(state.range(0)));
  unsigned char out[32];
  for (auto _ : state) {
    mySM3::sm3(in.data(), int(in.size()), out);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

void Sm3Library(benchmark::State& state) {
  const Bytes in = input(size_t(state.range(0)));
  const EVP_MD* md = EVP_sm3();
  unsigned char out[32];
  unsigned int n = 0;
  for (auto _ : state) {
    EVP_Digest(in.data(), in.size(), out, &n, md, nullptr);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

BENCHMARK(Sm3Ours)->Arg(16 << 10)->Arg(16 << 20)->Repetitions(5);
BENCHMARK(Sm3Library)->Arg(16 << 10)->Arg(16 << 20)->Repetitions(5);

struct Sm2Fixture {
  varo::EvpPkeyPtr key = varo::pki::generateSm2Key();
  Bytes cert, message, e, sig;
  Sm2Fixture() {
    auto x509 = varo::pki::issueCertificate(key.get(), "CN=Bench,O=Example");
    cert = varo::pki::toDer(x509.get());
    message = input(1000);
    e.resize(32);
    int n = 0;
    mySM3::getsm3Digest(message.data(), message.size(), cert.data(), cert.size(), e.data(), &n);
    sig = varo::pki::signMessage(key.get(), varo::ByteSpan(message.data(), message.size()));
  }
};

const Sm2Fixture& sm2() {
  static const Sm2Fixture f;
  return f;
}

void Sm2VerifyOurs(benchmark::State& state) {
  const Sm2Fixture& f = sm2();
  for (auto _ : state) {
    bool ok = mySM2::verifySM2Signature(f.e.data(), f.e.size(), f.cert.data(), f.cert.size(),
                                        f.sig.data(), f.sig.size());
    if (!ok) state.SkipWithError("our verification failed");
  }
}

void Sm2VerifyLibrary(benchmark::State& state) {
  const Sm2Fixture& f = sm2();
  for (auto _ : state) {
    bool ok = varo::pki::verifyDigest(f.key.get(), varo::ByteSpan(f.e.data(), f.e.size()),
                                      varo::ByteSpan(f.sig.data(), f.sig.size()));
    if (!ok) state.SkipWithError("library verification failed");
  }
}

BENCHMARK(Sm2VerifyOurs)->Repetitions(5);
BENCHMARK(Sm2VerifyLibrary)->Repetitions(5);

// Console output as usual, plus the best CPU time of every benchmark over
// its repetitions for the summary (CPU time and the best run, so that other
// load on the machine skews the ratios as little as possible).
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred || run.run_type == Run::RT_Aggregate) continue;
      std::string name = run.run_name.function_name;
      if (!run.run_name.args.empty()) name += "/" + run.run_name.args;
      const double t = run.GetAdjustedCPUTime();
      auto it = times.find(name);
      if (it == times.end() || t < it->second) times[name] = t;
    }
  }
  std::map<std::string, double> times;
};

void printRatio(const SummaryReporter& r, const char* what, const std::string& ours,
                const std::string& library, bool speed) {
  auto a = r.times.find(ours), b = r.times.find(library);
  if (a == r.times.end() || b == r.times.end()) return;
  if (speed)
    std::printf("%-28s speed ours / library = %.2f\n", what, b->second / a->second);
  else
    std::printf("%-28s time ours / library  = %.2f\n", what, a->second / b->second);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nsummary (SM3 target >= 1.00, SM2 verification target <= 1.50)\n");
  printRatio(reporter, "SM3 16 KiB", "Sm3Ours/16384", "Sm3Library/16384", true);
  printRatio(reporter, "SM3 16 MiB", "Sm3Ours/16777216", "Sm3Library/16777216", true);
  printRatio(reporter, "SM2 verification", "Sm2VerifyOurs", "Sm2VerifyLibrary", false);
  benchmark::Shutdown();
  return 0;
}

// The reader's hot paths against OpenSSL, in pairs (bench_pairs.h):
//   OES_Digest on 16 KiB, 1 MiB and 256 MiB against SM3 through EVP on the
//     same bytes, with the peak memory of the largest digest;
//   OES_Verify on its offline path (nothing on port 9990; the tool library
//     and the codec loaded and unloaded in every call) against OpenSSL's SM2
//     verification of the same signature over the same content plus one
//     decoding of the signature, for one signature and for 50 different
//     signatures in a row, 20 times, with the resident memory after 10 and
//     after 1000 calls;
//   the opening and closing of each library that OES_Verify's offline path
//     loads on every call (the tool library, then the codec), alone: with
//     dlopen/dlclose, and through the loader helper the flows use;
//   SM3's cycles per byte, ours and OpenSSL's, beside the floor that the
//     compression function's dependency chain sets.
#include <dlfcn.h>
#include <openssl/evp.h>
#include <x86intrin.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "BasicSealInfo.h"
#include "oes_api.h"
#include "ses_asn1.h"
#include "varo/bench_machine.h"
#include "varo/bench_pairs.h"
#include "varo/install_root.h"
#include "varo/loaded_library.h"
#include "varo/pki.h"
#include "varo/test_seals.h"

namespace {

using varo::bench::Ratio;
using varo::bench::RowSpec;
using Bytes = std::vector<uint8_t>;

constexpr int kServicePort = 9990;
constexpr size_t kLargest = size_t(256) << 20;
constexpr size_t kLargestRepetitions = 4;
unsigned char kDigestMethod[] = "1.2.156.10197.1.401";

Bytes input(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>(i * 131 + 7);
  return b;
}

std::string sizeName(size_t n) {
  return n >= (1u << 20) ? std::to_string(n >> 20) + " MiB" : std::to_string(n >> 10) + " KiB";
}

// From 1 MiB on the rounds alone decide: at the floor below, against
// OpenSSL's 8.2 cycles a byte, no scalar SM3 gets much beyond 1.2.
RowSpec digestRow(size_t n) {
  const bool large = n >= (size_t(1) << 20);
  return RowSpec{"OES_Digest " + sizeName(n) + " vs SM3 through EVP", Ratio::Speed,
                 large ? 1.1 : 1.2, large ? 1.2 : 1.4, "EVP SM3"};
}

// The lower bound of any scalar SM3, in cycles per byte: from one round's
// E to the next, seven dependent single-cycle steps in rounds 16 to 63 (P0's
// rotations and two exclusive ors, the addition and rotation of SS1, the
// two additions of TT2) and six before, (16 * 6 + 48 * 7) / 64 per byte.
constexpr double kSm3FloorCyclesPerByte = 6.75;

// Time stamp counter ticks of every single digest, ours and OpenSSL's, by
// input size.
struct DigestTicks {
  std::vector<double> ours, library;
};
std::map<size_t, DigestTicks>& digestTicks() {
  static std::map<size_t, DigestTicks> ticks;
  return ticks;
}

template <class Fn>
double ticksOf(Fn&& fn) {
  const unsigned long long start = __rdtsc();
  fn();
  return double(__rdtsc() - start);
}

void oursDigest(const Bytes& in) {
  unsigned char out[32];
  int length = sizeof out;
  if (OES_Digest(const_cast<unsigned char*>(in.data()), int(in.size()), kDigestMethod,
                 int(sizeof kDigestMethod - 1), out, &length) != 0)
    std::abort();
  benchmark::DoNotOptimize(out);
}

void libraryDigest(const Bytes& in) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(in.data(), in.size(), out, &length, EVP_sm3(), nullptr) != 1) std::abort();
  benchmark::DoNotOptimize(out);
}

// The peak resident memory that one OES_Digest adds to the process with
// its input already resident.
void notePeakGrowth(const Bytes& in, varo::bench::Row& row) {
  if (!varo::bench::resetPeak()) {
    row.note("peak memory: not measurable here (no /proc/self/clear_refs)");
    return;
  }
  const size_t before = varo::bench::residentBytes();
  oursDigest(in);
  const size_t peak = varo::bench::peakResidentBytes();
  const double growthKiB = peak > before ? double(peak - before) / 1024 : 0;
  row.note("peak memory during one OES_Digest: input " + sizeName(in.size()) + " resident, " +
           varo::bench::fixed(growthKiB, 0) +
           " KiB more at the peak (limit 1024 KiB): " + (growthKiB <= 1024 ? "met" : "MISSED"));
}

void Digest(benchmark::State& state) {
  const size_t n = size_t(state.range(0));
  static Bytes in;
  if (in.size() != n) in = input(n);
  varo::bench::Row& row = varo::bench::row(digestRow(n));
  // Halves of about a millisecond or more, so that the clocks' own cost
  // stays out of the ratio.
  const int batch = n < (1u << 20) ? 32 : 1;
  DigestTicks& ticks = digestTicks()[n];
  varo::bench::runPairs(
      state, row, [&] { ticks.ours.push_back(ticksOf([&] { oursDigest(in); })); },
      [&] { ticks.library.push_back(ticksOf([&] { libraryDigest(in); })); }, batch);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(n) * 2 * batch);
  if (n < kLargest) return;
  if (row.repetitionMedians().size() == 1) notePeakGrowth(in, row);
  // The largest input goes once its row is done, so that the later rows'
  // resident memory reads as theirs.
  if (row.repetitionMedians().size() == kLargestRepetitions) Bytes().swap(in);
}

BENCHMARK(Digest)->Arg(16 << 10)->Iterations(60)->Repetitions(11);
BENCHMARK(Digest)->Arg(1 << 20)->Iterations(40)->Repetitions(9);
BENCHMARK(Digest)
    ->Arg(kLargest)
    ->Iterations(2)
    ->Repetitions(kLargestRepetitions)
    ->Unit(benchmark::kMillisecond);

// Signatures the way a document carries them: seals of several signers, each
// signature over another document digest and property.
struct SignedDocument {
  Bytes seal, digest, signature, content;
  EVP_PKEY* signerKey = nullptr;
};

class VerifyFixture {
 public:
  static constexpr int kSigners = 5;
  static constexpr int kSignatures = 50;

  VerifyFixture() {
    varo::LoadedLibrary lib(std::string(varo::kInstallRoot) + "/sealstruct/libSesSealStru.so");
    varo::PluginObject<BasicSealInfo> codec(lib);
    if (!codec) {
      std::fprintf(stderr, "provider_bench: no installed codec under %s (run cmake --install)\n",
                   varo::kInstallRoot);
      std::exit(1);
    }
    for (int s = 0; s < kSigners; ++s) {
      pki_.push_back(std::make_unique<varo::testing::TestPki>());
      auto spec = varo::testing::sealSpec(*pki_.back(), "benchSeal" + std::to_string(s),
                                          "Bench Seal " + std::to_string(s));
      seals_.push_back(varo::testing::makeTestSeal(spec));
    }
    for (int i = 0; i < kSignatures; ++i) {
      const int s = i % kSigners;
      varo::testing::SignatureInput in;
      in.seal = seals_[size_t(s)];
      in.property = "document " + std::to_string(i) + ".ofd";
      in.digest.resize(32);
      for (size_t k = 0; k < 32; ++k) in.digest[k] = uint8_t(i * 37 + k);
      SignedDocument doc;
      doc.seal = in.seal;
      doc.digest = in.digest;
      doc.content = varo::testing::signedContent(codec.get(), in);
      doc.signature =
          varo::testing::makeSignature(codec.get(), in, pki_[size_t(s)]->signer.key.get());
      doc.signerKey = pki_[size_t(s)]->signer.key.get();
      if (doc.signature.empty() || doc.content.empty()) {
        std::fprintf(stderr, "provider_bench: cannot make the signatures\n");
        std::exit(1);
      }
      docs_.push_back(std::move(doc));
    }
  }

  const SignedDocument& doc(size_t i) const { return docs_[i % docs_.size()]; }

 private:
  std::vector<std::unique_ptr<varo::testing::TestPki>> pki_;
  std::vector<Bytes> seals_;
  std::vector<SignedDocument> docs_;
};

const VerifyFixture& fixture() {
  static const VerifyFixture f;
  return f;
}

void oursVerify(const SignedDocument& d) {
  const int rc =
      OES_Verify(const_cast<uint8_t*>(d.seal.data()), int(d.seal.size()), nullptr, 0,
                 const_cast<uint8_t*>(d.digest.data()), int(d.digest.size()), nullptr, 0, nullptr,
                 0, const_cast<uint8_t*>(d.signature.data()), int(d.signature.size()));
  if (rc != 0) {
    std::fprintf(stderr, "provider_bench: OES_Verify gave %d\n", rc);
    std::abort();
  }
}

// One decoding of the signature and OpenSSL's SM2 verification of its value
// over the signed content, with the default identifier.
void libraryVerify(const SignedDocument& d) {
  const unsigned char* p = d.signature.data();
  auto* decoded = reinterpret_cast<MYSES_Signature*>(
      ASN1_item_d2i(nullptr, &p, long(d.signature.size()), MYSES_Signature_it()));
  if (!decoded) std::abort();
  const varo::ByteSpan value(ASN1_STRING_get0_data(decoded->signature),
                             size_t(ASN1_STRING_length(decoded->signature)));
  const bool ok = varo::pki::verifyMessage(
      d.signerKey, varo::ByteSpan(d.content.data(), d.content.size()), value);
  ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(decoded), MYSES_Signature_it());
  if (!ok) std::abort();
}

const RowSpec kVerifyOne{"OES_Verify offline, one signature vs OpenSSL SM2 verification + d2i",
                         Ratio::Time, 1.5, 1.3, "OpenSSL"};
const RowSpec kVerifyMany{"OES_Verify offline, 50 signatures in a row x 20 vs the same",
                          Ratio::Time, 1.5, 1.3, "OpenSSL"};

// The offline path needs port 9990 free; another program on the machine may
// hold it for a while.
bool offlinePath(varo::bench::Row& row) {
  if (varo::bench::waitForFreePort(kServicePort, 120)) return true;
  row.note("port 9990 stayed busy: these figures include the online check");
  return false;
}

void VerifyOne(benchmark::State& state) {
  const VerifyFixture& f = fixture();
  varo::bench::Row& row = varo::bench::row(kVerifyOne);
  if (row.repetitionMedians().empty())
    row.note("seal " + std::to_string(f.doc(0).seal.size()) + " bytes, signature " +
             std::to_string(f.doc(0).signature.size()) + " bytes, signed content " +
             std::to_string(f.doc(0).content.size()) + " bytes");
  offlinePath(row);
  varo::bench::runPairs(
      state, row, [&] { oursVerify(f.doc(0)); }, [&] { libraryVerify(f.doc(0)); });
}

BENCHMARK(VerifyOne)->Iterations(200)->Repetitions(7)->Unit(benchmark::kMicrosecond);

// 20 rounds over the 50 signatures, pairs per signature. Per-call cost by
// round and the resident memory after 10 and after 1000 calls.
void VerifyMany(benchmark::State& state) {
  const VerifyFixture& f = fixture();
  varo::bench::Row& row = varo::bench::row(kVerifyMany);
  offlinePath(row);
  const bool firstRepetition = row.repetitionMedians().empty();
  size_t calls = 0, residentAt10 = 0, residentAt1000 = 0;
  // Our CPU time per call and the pair ratio, by round.
  std::vector<std::vector<double>> rounds, roundRatios;
  for (auto _ : state) {
    rounds.emplace_back();
    roundRatios.emplace_back();
    for (int i = 0; i < VerifyFixture::kSignatures; ++i) {
      const SignedDocument& d = f.doc(size_t(i));
      varo::bench::Clocks a, b;
      if (i % 2 == 0) {
        a = varo::bench::timed([&] { oursVerify(d); });
        b = varo::bench::timed([&] { libraryVerify(d); });
      } else {
        b = varo::bench::timed([&] { libraryVerify(d); });
        a = varo::bench::timed([&] { oursVerify(d); });
      }
      row.add(a, b);
      rounds.back().push_back(a.cpu);
      roundRatios.back().push_back(a.cpu / b.cpu);
      if (++calls == 10) residentAt10 = varo::bench::residentBytes();
      if (calls == 1000) residentAt1000 = varo::bench::residentBytes();
    }
  }
  state.counters["ratio"] = row.endRepetition();
  if (!firstRepetition || rounds.size() < 20) return;
  auto medianOf = [](const std::vector<std::vector<double>>& by, size_t from, size_t to) {
    std::vector<double> v;
    for (size_t r = from; r < to; ++r) v.insert(v.end(), by[r].begin(), by[r].end());
    return varo::bench::spreadOf(v).median;
  };
  const double first = medianOf(rounds, 0, 2), last = medianOf(rounds, 18, 20);
  const double firstRatio = medianOf(roundRatios, 0, 2), lastRatio = medianOf(roundRatios, 18, 20);
  // The pair ratio tells growth apart from the machine changing speed.
  row.note("per call, ours: " + varo::bench::formatSeconds(first) + " in rounds 1-2, " +
           varo::bench::formatSeconds(last) + " in rounds 19-20; pair ratio " +
           varo::bench::fixed(firstRatio) + " then " + varo::bench::fixed(lastRatio) + " (x" +
           varo::bench::fixed(lastRatio / firstRatio) +
           ", limit 1.10): " + (lastRatio / firstRatio <= 1.10 ? "met" : "MISSED"));
  const double grownKiB =
      (double(residentAt1000) - double(residentAt10)) / 1024;  // may be negative
  row.note("resident memory: " + varo::bench::fixed(double(residentAt10) / 1048576, 1) +
           " MiB after 10 calls, " + varo::bench::fixed(double(residentAt1000) / 1048576, 1) +
           " MiB after 1000 (" + varo::bench::fixed(grownKiB, 0) +
           " KiB more, limit 1024 KiB): " + (grownKiB <= 1024 ? "met" : "MISSED"));
}

BENCHMARK(VerifyMany)->Iterations(20)->Repetitions(3)->Unit(benchmark::kMillisecond);

// The libraries that OES_Verify's offline path opens and closes on every
// call, in that order; nothing else is loaded there (LD_DEBUG=files shows
// these two). `flowPath` is the name the flow opens, `file` the file the
// loader finds for it.
struct VerifyLibrary {
  const char* name;
  const char* flowPath;
  const char* file;
};
const VerifyLibrary kVerifyLibraries[] = {
    {"tool library ToolBench", varo::kToolLibraryPath, varo::kToolLibraryPath},
    {"codec libSesSealStru", varo::kCodecLibraryPath, "/sealstruct/libSesSealStru.so"},
};

struct LoadTimes {
  std::vector<double> dl, dlWall, flow, flowWall;
};
std::vector<LoadTimes>& loadTimes() {
  static std::vector<LoadTimes> times(std::size(kVerifyLibraries));
  return times;
}

// dlopen with the flags the flows' loader passes by default, then dlclose;
// the library is loaded nowhere else at that moment, so both run in full.
void openAndClose(const std::string& file) {
  void* handle = dlopen(file.c_str(), RTLD_LAZY | RTLD_LOCAL);
  if (!handle) {
    std::fprintf(stderr, "provider_bench: %s\n", dlerror());
    std::exit(1);
  }
  dlclose(handle);
}

// The same as the flows do it: their loader's name attempts included.
void loadAndUnload(const std::string& path) {
  varo::LoadedLibrary lib(path);
  if (!lib.isLoaded()) {
    std::fprintf(stderr, "provider_bench: %s\n", lib.errorString().c_str());
    std::exit(1);
  }
}

void LoadUnload(benchmark::State& state) {
  const VerifyLibrary& library = kVerifyLibraries[size_t(state.range(0))];
  const std::string root = varo::kInstallRoot;
  const std::string file = root + library.file, flowPath = root + library.flowPath;
  LoadTimes& times = loadTimes()[size_t(state.range(0))];
  bool dlFirst = true;
  for (auto _ : state) {
    varo::bench::Clocks dl, flow;
    if (dlFirst) {
      dl = varo::bench::timed([&] { openAndClose(file); });
      flow = varo::bench::timed([&] { loadAndUnload(flowPath); });
    } else {
      flow = varo::bench::timed([&] { loadAndUnload(flowPath); });
      dl = varo::bench::timed([&] { openAndClose(file); });
    }
    dlFirst = !dlFirst;
    times.dl.push_back(dl.cpu);
    times.dlWall.push_back(dl.wall);
    times.flow.push_back(flow.cpu);
    times.flowWall.push_back(flow.wall);
  }
}

BENCHMARK(LoadUnload)
    ->DenseRange(0, int(std::size(kVerifyLibraries)) - 1)
    ->Iterations(500)
    ->Repetitions(5)
    ->Unit(benchmark::kMicrosecond);

std::string micros(double seconds) {
  return varo::bench::fixed(seconds * 1e6, 1) + " us";
}

// The per-library load cost and its share of OES_Verify.
void reportLoading() {
  const std::string section =
      "Library loading on OES_Verify's offline path (median per open and close, CPU time; wall "
      "clock in brackets)";
  double flowTotal = 0;
  for (size_t i = 0; i < std::size(kVerifyLibraries); ++i) {
    const LoadTimes& t = loadTimes()[i];
    if (t.dl.empty()) return;
    const double flow = varo::bench::spreadOf(t.flow).median;
    flowTotal += flow;
    varo::bench::report(section, std::string(kVerifyLibraries[i].name) + ": dlopen + dlclose " +
                                     micros(varo::bench::spreadOf(t.dl).median) + " (" +
                                     micros(varo::bench::spreadOf(t.dlWall).median) +
                                     "); as the flow loads it " + micros(flow) + " (" +
                                     micros(varo::bench::spreadOf(t.flowWall).median) + "), " +
                                     std::to_string(t.dl.size()) + " times each");
  }
  std::string line = "both, as the flow loads them: " + micros(flowTotal);
  if (const varo::bench::Row* verify = varo::bench::findRow(kVerifyOne.name);
      verify && verify->pairs()) {
    line += ", " + varo::bench::fixed(flowTotal / verify->ours().median) + " of OES_Verify (" +
            micros(verify->ours().median) + "), " +
            varo::bench::fixed(flowTotal / verify->reference().median) + " of the reference (" +
            micros(verify->reference().median) + ")";
  }
  varo::bench::report(section, line);
}

// "cpu MHz" of the first CPU in /proc/cpuinfo; 0 when absent.
double cpuinfoMegahertz() {
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("cpu MHz", 0) == 0 && line.find(':') != std::string::npos)
      return std::atof(line.c_str() + line.find(':') + 1);
  return 0;
}

// The time stamp counter's rate against the monotonic clock, in MHz.
double tscMegahertz() {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  const unsigned long long ticks = __rdtsc();
  while (Clock::now() - start < std::chrono::milliseconds(50)) {
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return double(__rdtsc() - ticks) / seconds / 1e6;
}

// Cycles per byte of the digests from 1 MiB on, as notes of their rows.
void noteCyclesPerByte() {
  const double tsc = tscMegahertz(), cpuinfo = cpuinfoMegahertz();
  for (const auto& [n, ticks] : digestTicks()) {
    varo::bench::Row* row = varo::bench::findRow(digestRow(n).name);
    if (n < (size_t(1) << 20) || !row || ticks.ours.empty() || ticks.library.empty()) continue;
    const double ours = varo::bench::spreadOf(ticks.ours).median / double(n);
    const double library = varo::bench::spreadOf(ticks.library).median / double(n);
    row->note("cycles per byte (time stamp counter, medians): ours " + varo::bench::fixed(ours) +
              ", OpenSSL " + varo::bench::fixed(library) +
              "; floor of the rounds' dependency chain " +
              varo::bench::fixed(kSm3FloorCyclesPerByte) + " (ours " +
              varo::bench::fixed(ours / kSm3FloorCyclesPerByte) + "x the floor)");
  }
  if (!digestTicks().empty())
    varo::bench::report(
        "SM3 cycles per byte",
        "read from the time stamp counter (__rdtsc), which runs at " + varo::bench::fixed(tsc, 0) +
            " MHz here against " + varo::bench::fixed(cpuinfo, 0) +
            " MHz in /proc/cpuinfo; a core that runs faster than the counter (boost) spends "
            "that many more cycles per byte");
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::printf("machine: %s\n", varo::bench::machineLine().c_str());
  if (varo::bench::traceDirectoryPresent())
    std::printf("note: /tmp/varolog exists, so every call also writes its trace markers\n");
  benchmark::RunSpecifiedBenchmarks();
  noteCyclesPerByte();
  reportLoading();
  varo::bench::printSummary("provider: ratios against OpenSSL (CPU time, pairs alternating)");
  benchmark::Shutdown();
  return 0;
}

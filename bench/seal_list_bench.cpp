// ReadSealList of the installed key driver on a software key holding 1, 4
// and 16 seals in the indexed form, the driver loaded and unloaded for each
// call as its callers do. Reported: the time per call and how it grows with
// the seal count. Besides reading the index, the driver reads every listed
// seal twice (its size, then its bytes) to refresh its local copy in
// sealData, so the growth is expected to be linear in the count.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "VaroDeviceBase.h"
#include "varo/bench_machine.h"
#include "varo/bench_pairs.h"
#include "varo/install_root.h"
#include "varo/loaded_library.h"
#include "varo/temp_key_store.h"
#include "varo/test_seals.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr const char* kDevice = "BENCHLISTKEY";
constexpr int kCounts[] = {1, 4, 16};

// Short names: sixteen entries must fit the index's 1023 characters.
std::string twoDigits(int i) {
  return std::string(1, char('0' + i / 10)) + char('0' + i % 10);
}
std::string identifier(int i) {
  return "L" + twoDigits(i);
}
std::string baseName(int i) {
  return "c" + twoDigits(i);
}

// A chunk file: the payload length as 8 bytes little-endian, the payload,
// two spare bytes.
Bytes chunk(const Bytes& payload) {
  Bytes out(8 + payload.size() + 2, 0);
  uint64_t n = payload.size();
  for (int i = 0; i < 8; ++i) out[size_t(i)] = uint8_t(n >> (8 * i));
  std::copy(payload.begin(), payload.end(), out.begin() + 8);
  return out;
}

// The key and its seals: the index "SEALINDEX" (1024 bytes, the JSON array
// and zero bytes) and one chunk file per seal, written as the driver's
// writer lays them out.
class ListSetup {
 public:
  bool start() {
    if (!keys_.ok() || !keys_->createKey(kDevice).ok()) return false;
    varo::testing::TestPki pki;
    seal_ = varo::testing::makeTestSeal(varo::testing::sealSpec(pki, "benchListSeal"));
    return !seal_.empty();
  }

  // Puts `count` seals on the key.
  bool stock(int count) {
    std::string index = "[";
    for (int i = 0; i < count; ++i) {
      if (i) index += ",";
      index += "{\"ID\":\"" + identifier(i) + "\",\"NAME\":\"N" +
               "\",\"VER\":\"1\",\"FILENAME\":\"" + baseName(i) + "\",\"TYPE\":\"1\"}";
      if (!put(baseName(i) + "0", chunk(seal_))) return false;
    }
    index += "]";
    Bytes file(1024, 0);
    if (index.size() >= file.size()) {
      std::fprintf(stderr, "seal_list_bench: an index of %zu characters\n", index.size());
      return false;
    }
    std::copy(index.begin(), index.end(), file.begin());
    return put("SEALINDEX", file);
  }

  bool put(const std::string& name, const Bytes& data) {
    varo::softkey::AdminResult r = keys_->putFile(kDevice, name, data);
    if (!r.ok()) std::fprintf(stderr, "seal_list_bench: %s: %s\n", name.c_str(), r.error.c_str());
    return r.ok();
  }

  size_t sealSize() const { return seal_.size(); }

  ~ListSetup() {
    // The seal copies the driver refreshed in sealData, and their owner records.
    std::error_code ignored;
    for (int i = 0; i < 16; ++i)
      for (const char* suffix : {".dat", ".key"})
        std::filesystem::remove(
            std::string(varo::kInstallRoot) + varo::kSealStoreDirectory + identifier(i) + suffix,
            ignored);
  }

 private:
  varo::testing::TempKeyStore keys_{"bench-list-keys"};
  Bytes seal_;
};

ListSetup* setup = nullptr;
std::map<int, std::vector<double>> times;

// One call as a caller makes it: load the driver, make the object, list,
// give the object back, unload.
int readSealList(std::vector<unsigned char>& out) {
  varo::LoadedLibrary lib(std::string(varo::kInstallRoot) + varo::kDriverDirectory +
                          "libVaroDeviceBase_LM_GM3000.so");
  varo::PluginObject<VaroDeviceBase> driver(lib);
  if (!driver) return -1;
  std::fill(out.begin(), out.end(), 0);
  int length = int(out.size());
  return driver->ReadSealList(out.data(), &length);
}

void ReadSealList(benchmark::State& state) {
  const int count = int(state.range(0));
  if (!setup->stock(count)) {
    state.SkipWithError("cannot put the seals on the software key");
    return;
  }
  std::vector<unsigned char> out(64 << 10);
  for (auto _ : state) {
    int rc = 0;
    const varo::bench::Clocks t = varo::bench::timed([&] { rc = readSealList(out); });
    if (rc != 0) {
      state.SkipWithError(("ReadSealList gave " + std::to_string(rc)).c_str());
      return;
    }
    times[count].push_back(t.cpu);
  }
}

BENCHMARK(ReadSealList)
    ->Arg(1)
    ->Arg(4)
    ->Arg(16)
    ->Iterations(20)
    ->Repetitions(3)
    ->Unit(benchmark::kMillisecond);

void reportGrowth() {
  using varo::bench::formatSeconds;
  using varo::bench::spreadOf;
  const std::string section =
      "ReadSealList on the software key (driver loaded per call; CPU time, medians)";
  for (int count : kCounts) {
    if (times[count].empty()) return;
    const auto s = spreadOf(times[count]);
    varo::bench::report(section, std::to_string(count) + " seal" + (count > 1 ? "s" : "") + ": " +
                                     formatSeconds(s.median) + " (quartiles " +
                                     formatSeconds(s.low) + ".." + formatSeconds(s.high) + ")");
  }
  const double one = spreadOf(times[1]).median, four = spreadOf(times[4]).median,
               sixteen = spreadOf(times[16]).median;
  const double early = (four - one) / 3, late = (sixteen - four) / 12;
  varo::bench::report(section, "growth: x" + varo::bench::fixed(four / one) + " for 4 seals, x" +
                                   varo::bench::fixed(sixteen / one) + " for 16; per further " +
                                   "seal " + formatSeconds(early) + " from 1 to 4 and " +
                                   formatSeconds(late) + " from 4 to 16, on top of about " +
                                   formatSeconds(one - early) + " for the key itself");
  varo::bench::report(section,
                      "linear in the count: every listed seal is read twice (its size, then "
                      "its bytes) to refresh its copy in sealData, the key opened afresh for "
                      "each read; a longer list costs a little more per seal, since each of "
                      "those reads looks the seal up in the whole list again");
  varo::bench::report(section,
                      "seal size " + std::to_string(setup->sealSize()) + " bytes, one chunk each");
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::printf("machine: %s\n", varo::bench::machineLine().c_str());
  ListSetup s;
  if (!s.start()) {
    std::fprintf(stderr, "seal_list_bench: cannot set up the software key\n");
    return 1;
  }
  setup = &s;
  benchmark::RunSpecifiedBenchmarks();
  reportGrowth();
  varo::bench::printSummary("seal list: ReadSealList of the key driver");
  benchmark::Shutdown();
  return 0;
}

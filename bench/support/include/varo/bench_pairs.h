// Paired comparisons for the benchmarks. A row compares our code with a
// reference in pairs: one run of each, right after each other, the order
// alternating from pair to pair, so that whatever else the machine does
// at that moment weighs on both halves alike. Every pair gives one ratio;
// a row reports the median of its pair ratios and their spread.
#pragma once

#include <benchmark/benchmark.h>

#include <string>
#include <utility>
#include <vector>

namespace varo::bench {

// Seconds on the calling thread's CPU clock and on the monotonic clock.
struct Clocks {
  double cpu = 0;
  double wall = 0;
};
Clocks now();
inline Clocks operator-(Clocks a, Clocks b) {
  return Clocks{a.cpu - b.cpu, a.wall - b.wall};
}
inline Clocks operator/(Clocks a, double n) {
  return Clocks{a.cpu / n, a.wall / n};
}

template <class Fn>
Clocks timed(Fn&& fn) {
  const Clocks start = now();
  fn();
  return now() - start;
}

// How a row reads its ratio: a speed ratio (the reference's time over ours,
// higher is better) or a time ratio (our time over the reference's, lower
// is better).
enum class Ratio { Speed, Time };

struct RowSpec {
  std::string name;
  Ratio ratio = Ratio::Time;
  double target = 0;   // the ratio the row must reach
  double stretch = 0;  // the ratio it aims at
  std::string reference;
};

// The median and quartiles of a sample (sorted copy).
struct Spread {
  double median = 0, low = 0, high = 0;  // low/high: 25th and 75th percentile
};
Spread spreadOf(std::vector<double> values);

// All pairs of one row, over all its repetitions.
class Row {
 public:
  explicit Row(RowSpec spec) : spec_(std::move(spec)) {}

  const RowSpec& spec() const { return spec_; }
  // Records one pair; the ratio is taken on the CPU clock.
  void add(Clocks ours, Clocks reference);
  // Closes a repetition: its median pair ratio joins the repetition list.
  // Returns that median.
  double endRepetition();
  void note(const std::string& text) { notes_.push_back(text); }

  size_t pairs() const { return ratios_.size(); }
  Spread ratio() const { return spreadOf(ratios_); }
  Spread wallRatio() const { return spreadOf(wallRatios_); }
  Spread ours() const { return spreadOf(ours_); }
  Spread oursWall() const { return spreadOf(oursWall_); }
  Spread reference() const { return spreadOf(reference_); }
  const std::vector<double>& repetitionMedians() const { return repetitions_; }
  const std::vector<std::string>& notes() const { return notes_; }

 private:
  RowSpec spec_;
  std::vector<double> ratios_, wallRatios_, ours_, oursWall_, reference_, repetitions_;
  size_t repetitionStart_ = 0;
  std::vector<std::string> notes_;
};

// The row of that name, made on first use (rows print in that order).
Row& row(const RowSpec& spec);
Row* findRow(const std::string& name);

// One pair per benchmark iteration: ours and the reference, ours first on
// even iterations. Each half runs its function `batch` times (the times are
// recorded per call). Ends the repetition and puts its median ratio into
// the counters.
template <class Ours, class Reference>
void runPairs(benchmark::State& state, Row& r, Ours&& ours, Reference&& reference, int batch = 1) {
  bool oursFirst = true;
  auto runOurs = [&] {
    return timed([&] {
      for (int i = 0; i < batch; ++i) ours();
    });
  };
  auto runReference = [&] {
    return timed([&] {
      for (int i = 0; i < batch; ++i) reference();
    });
  };
  for (auto _ : state) {
    Clocks a, b;
    if (oursFirst) {
      a = runOurs();
      b = runReference();
    } else {
      b = runReference();
      a = runOurs();
    }
    oursFirst = !oursFirst;
    r.add(a / batch, b / batch);
  }
  state.counters["ratio"] = r.endRepetition();
}

// Free-form lines of the summary that belong to no comparison row (the
// reported rows: signing split, seal-list growth).
void report(const std::string& section, const std::string& line);

// Prints every row (median ratio, quartiles of the pair ratios, range of
// the repetition medians, the wall-clock ratio, the times, target and
// verdict) and every report, after the benchmark output.
void printSummary(const std::string& title);

// "12.3 us" / "4.56 ms" / "1.23 s".
std::string formatSeconds(double seconds);
// "%.2f" of the value.
std::string fixed(double value, int decimals = 2);

}  // namespace varo::bench

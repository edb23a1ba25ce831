#include "varo/bench_pairs.h"

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>

namespace varo::bench {

namespace {

double seconds(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Rows in the order they were first used; the map owns them.
struct Registry {
  std::vector<std::string> order;
  std::map<std::string, std::unique_ptr<Row>> rows;
  std::vector<std::pair<std::string, std::string>> reports;
};

Registry& registry() {
  static Registry r;
  return r;
}

double median(std::vector<double> v) {
  return spreadOf(std::move(v)).median;
}

// Whether the median meets the value, read the row's way.
bool meets(const RowSpec& spec, double ratio, double value) {
  return spec.ratio == Ratio::Speed ? ratio >= value : ratio <= value;
}

std::string verdict(const RowSpec& spec, double ratio) {
  if (spec.target <= 0) return "reported";
  if (spec.stretch > 0 && meets(spec, ratio, spec.stretch)) return "met, stretch met";
  if (meets(spec, ratio, spec.target)) return "met";
  // How far off, as a share of the target.
  const double off = spec.ratio == Ratio::Speed ? (spec.target - ratio) / spec.target
                                                : (ratio - spec.target) / spec.target;
  return "MISSED by " + fixed(100 * off, 1) + " %";
}

}  // namespace

Clocks now() {
  return Clocks{seconds(CLOCK_THREAD_CPUTIME_ID), seconds(CLOCK_MONOTONIC)};
}

Spread spreadOf(std::vector<double> v) {
  Spread s;
  if (v.empty()) return s;
  std::sort(v.begin(), v.end());
  auto at = [&](double q) {
    const double pos = q * double(v.size() - 1);
    const size_t i = size_t(pos);
    const double frac = pos - double(i);
    return i + 1 < v.size() ? v[i] * (1 - frac) + v[i + 1] * frac : v[i];
  };
  s.median = at(0.5);
  s.low = at(0.25);
  s.high = at(0.75);
  return s;
}

void Row::add(Clocks ours, Clocks reference) {
  auto ratioOf = [&](double o, double r) {
    if (o <= 0 || r <= 0) return 0.0;
    return spec_.ratio == Ratio::Speed ? r / o : o / r;
  };
  ratios_.push_back(ratioOf(ours.cpu, reference.cpu));
  wallRatios_.push_back(ratioOf(ours.wall, reference.wall));
  ours_.push_back(ours.cpu);
  oursWall_.push_back(ours.wall);
  reference_.push_back(reference.cpu);
}

double Row::endRepetition() {
  std::vector<double> these(ratios_.begin() + long(repetitionStart_), ratios_.end());
  repetitionStart_ = ratios_.size();
  if (these.empty()) return 0;
  repetitions_.push_back(median(these));
  return repetitions_.back();
}

Row& row(const RowSpec& spec) {
  Registry& r = registry();
  auto it = r.rows.find(spec.name);
  if (it != r.rows.end()) return *it->second;
  r.order.push_back(spec.name);
  return *(r.rows[spec.name] = std::make_unique<Row>(spec));
}

Row* findRow(const std::string& name) {
  auto it = registry().rows.find(name);
  return it == registry().rows.end() ? nullptr : it->second.get();
}

void report(const std::string& section, const std::string& line) {
  registry().reports.emplace_back(section, line);
}

std::string formatSeconds(double s) {
  char text[32];
  if (s < 1e-3)
    std::snprintf(text, sizeof text, "%.1f us", s * 1e6);
  else if (s < 1)
    std::snprintf(text, sizeof text, "%.2f ms", s * 1e3);
  else
    std::snprintf(text, sizeof text, "%.2f s", s);
  return text;
}

std::string fixed(double value, int decimals) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

void printSummary(const std::string& title) {
  Registry& r = registry();
  std::printf("\n==== %s ====\n", title.c_str());
  for (const std::string& name : r.order) {
    const Row& row = *r.rows[name];
    const RowSpec& spec = row.spec();
    const Spread ratio = row.ratio(), wall = row.wallRatio();
    const auto& reps = row.repetitionMedians();
    const auto [repLow, repHigh] =
        reps.empty() ? std::pair<double, double>(0, 0)
                     : std::pair<double, double>(*std::min_element(reps.begin(), reps.end()),
                                                 *std::max_element(reps.begin(), reps.end()));
    std::printf("\n%s\n", name.c_str());
    std::printf(
        "  %s ratio (%s), median of %zu pairs: %s   quartiles %s..%s   "
        "repetition medians %s..%s (%zu)   wall clock %s\n",
        spec.ratio == Ratio::Speed ? "speed" : "time",
        spec.ratio == Ratio::Speed ? "reference time / ours" : "ours / reference time", row.pairs(),
        fixed(ratio.median).c_str(), fixed(ratio.low).c_str(), fixed(ratio.high).c_str(),
        fixed(repLow).c_str(), fixed(repHigh).c_str(), reps.size(), fixed(wall.median).c_str());
    std::printf("  ours %s, %s %s (medians, CPU time per call)\n",
                formatSeconds(row.ours().median).c_str(), spec.reference.c_str(),
                formatSeconds(row.reference().median).c_str());
    if (spec.target > 0)
      std::printf("  target %s %s%s: %s\n",
                  spec.ratio == Ratio::Speed ? ">=" : "<=", fixed(spec.target).c_str(),
                  spec.stretch > 0 ? (", stretch " + fixed(spec.stretch)).c_str() : "",
                  verdict(spec, ratio.median).c_str());
    for (const std::string& note : row.notes()) std::printf("  %s\n", note.c_str());
  }
  std::string section;
  for (const auto& [s, line] : r.reports) {
    if (s != section) std::printf("\n%s\n", (section = s).c_str());
    std::printf("  %s\n", line.c_str());
  }
  std::fflush(stdout);
}

}  // namespace varo::bench

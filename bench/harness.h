// The side-by-side harness every benchmark program uses.
//
// The machines these run on drift by up to 30% over minutes, so a lone
// absolute time says little. A comparison therefore runs ours and the peer
// alternately in one process, round after round, and reports the median of
// each and the median and spread of the per-round ratios: a drift that slows
// both sides of a round cancels out of its ratio.
//
// Touching fresh memory is slow here (about 10 us per new 4 KiB page), so
// before its first round each side runs once untimed, and glibc is told to
// keep freed memory instead of handing it back; the table says "warm" for
// such pairs and "cold" for pairs measured without (`--cold`, or
// `Options::warm_up = false`).
//
// Usage, in bench/<subsystem>_bench.cpp:
//
//   #include "harness.h"
//
//   namespace {
//   void OursAdd(benchmark::State& state) {
//     auto d = quorvel::Dictionary::Create();  // setup: not timed
//     int32_t i = 0;
//     for (auto _ : state) {
//       d->Add(quorvel::ToText(i), quorvel::Value(i));
//       ++i;
//     }
//   }
//   void MapAdd(benchmark::State& state) {
//     std::unordered_map<std::u16string, int32_t> m;
//     int32_t i = 0;
//     for (auto _ : state) {
//       m.emplace(quorvel::ToText(i), i);
//       ++i;
//     }
//   }
//   const quorvel::bench::Registration kRegistered([] {
//     using quorvel::bench::Compare;
//     Compare("dictionary/add", OursAdd, MapAdd, "std::unordered_map");
//   #ifdef QUORVEL_HAVE_RAPIDJSON
//     Compare("json/parse", OursParse, RapidJsonParse, "RapidJSON");
//   #else
//     quorvel::bench::Skip("json/parse", "RapidJSON", "rapidjson-dev missing");
//   #endif
//   });
//   }  // namespace
//
//   QUORVEL_BENCH_MAIN()
//
// Flags, besides Google Benchmark's own (--benchmark_filter=REGEX,
// --benchmark_min_time=SECONDS, ...):
//   --rounds=N   timed runs of each side (default 7; env QUORVEL_BENCH_ROUNDS)
//   --cold       no warm-up runs, glibc's heap left as it is
//                (env QUORVEL_BENCH_COLD=1)
//   --verbose    also print Google Benchmark's line for every run
#ifndef QUORVEL_BENCH_HARNESS_H_
#define QUORVEL_BENCH_HARNESS_H_

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace quorvel::bench {

// A benchmark body: setup before the `for (auto _ : state)` loop is not
// timed, as in any Google Benchmark function.
using Fn = std::function<void(benchmark::State&)>;

struct Options {
  // Runs each side once, untimed, before the first round.
  bool warm_up = true;
  // Seconds each timed run lasts at least; 0 keeps Google Benchmark's default
  // (--benchmark_min_time).
  double min_time = 0;
};

namespace internal {

enum class EntryKind { kCompare, kSingle, kSkip };

struct Entry {
  EntryKind kind = EntryKind::kSkip;
  std::string name;
  Fn ours;
  Fn peer;
  std::string peer_name;
  std::string note;  // why a Skip entry is skipped
  Options options;
  // Seconds per iteration, by side (0 ours, 1 peer) and round.
  std::vector<std::vector<double>> times[2];
  int runs_reported = 0;  // none: a filter left the entry out
  std::string error;
};

inline std::vector<Entry>& Entries() {
  static std::vector<Entry> entries;
  return entries;
}

}  // namespace internal

// Registers a comparison of `ours` against `peer` (named `peer_name` in the
// report). Call before Main runs: from a Registration, or from main itself.
inline void Compare(std::string name, Fn ours, Fn peer, std::string peer_name,
                    Options options = {}) {
  internal::Entry& e = internal::Entries().emplace_back();
  e.kind = internal::EntryKind::kCompare;
  e.name = std::move(name);
  e.ours = std::move(ours);
  e.peer = std::move(peer);
  e.peer_name = std::move(peer_name);
  e.options = options;
}

// Registers a figure without a peer; it runs the same rounds and reports its
// median and the spread of its round times.
inline void Single(std::string name, Fn fn, Options options = {}) {
  internal::Entry& e = internal::Entries().emplace_back();
  e.kind = internal::EntryKind::kSingle;
  e.name = std::move(name);
  e.ours = std::move(fn);
  e.options = options;
}

// Lists a comparison that cannot run here, typically because the peer is
// not installed, so the report says so instead of silently dropping it.
inline void Skip(std::string name, std::string peer_name, std::string why) {
  internal::Entry& e = internal::Entries().emplace_back();
  e.kind = internal::EntryKind::kSkip;
  e.name = std::move(name);
  e.peer_name = std::move(peer_name);
  e.note = std::move(why);
}

// Runs `register_all` during static initialisation, so a program can list its
// benchmarks beside their definitions and use QUORVEL_BENCH_MAIN().
struct Registration {
  explicit Registration(void (*register_all)()) { register_all(); }
};

namespace internal {

struct Slot {
  size_t entry;
  int side;   // 0 ours, 1 peer
  int round;  // -1 for the warm-up run
};

inline double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

inline std::string FormatTime(double seconds) {
  if (seconds <= 0) return "-";
  const char* unit = "s";
  double v = seconds;
  if (seconds < 1e-6) {
    unit = "ns";
    v = seconds * 1e9;
  } else if (seconds < 1e-3) {
    unit = "us";
    v = seconds * 1e6;
  } else if (seconds < 1) {
    unit = "ms";
    v = seconds * 1e3;
  }
  // Four significant digits, so a column of times lines up.
  int decimals = v < 10 ? 3 : v < 100 ? 2 : v < 1000 ? 1 : 0;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.*f %s", decimals, v, unit);
  return buf;
}

inline std::string FormatRatio(double r) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f", r);
  return buf;
}

template <class Run>
bool RunFailed(const Run& run, std::string* message) {
  // Google Benchmark renamed the error flag and message after 1.7.
  if constexpr (requires { run.error_occurred; }) {
    if (!run.error_occurred) return false;
    *message = run.error_message;
  } else {
    if (!run.skipped) return false;
    *message = run.skip_message;
  }
  return true;
}

// Collects every run's real time per iteration. Unless verbose, it prints a
// progress line per finished entry (to stderr) instead of a line per run.
class Collector : public benchmark::ConsoleReporter {
 public:
  Collector(std::map<std::string, Slot> slots, bool verbose)
      : ConsoleReporter(OO_Tabular),
        slots_(std::move(slots)),
        verbose_(verbose) {
    for (const auto& [name, slot] : slots_) ++pending_[slot.entry];
  }

  void ReportRuns(const std::vector<Run>& runs) override {
    if (verbose_) ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration) continue;
      auto it = slots_.find(run.run_name.function_name);
      if (it == slots_.end()) continue;
      const Slot& slot = it->second;
      Entry& entry = Entries()[slot.entry];
      ++entry.runs_reported;
      std::string message;
      if (RunFailed(run, &message)) {
        if (entry.error.empty()) entry.error = message;
      } else if (slot.round >= 0 && run.iterations > 0) {
        std::vector<std::vector<double>>& rounds = entry.times[slot.side];
        if (rounds.size() <= static_cast<size_t>(slot.round)) {
          rounds.resize(slot.round + 1);
        }
        rounds[slot.round].push_back(run.real_accumulated_time /
                                     static_cast<double>(run.iterations));
      }
      if (--pending_[slot.entry] == 0 && !verbose_) {
        std::fprintf(stderr, "  measured %s\n", entry.name.c_str());
      }
    }
  }

 private:
  std::map<std::string, Slot> slots_;
  std::map<size_t, int> pending_;  // runs still to come, by entry
  bool verbose_;
};

// Returns the times that were measured (a round can be missing when a
// filter or an error left it out).
inline std::vector<double> Measured(const std::vector<double>& per_round) {
  std::vector<double> v;
  for (double t : per_round) {
    if (t > 0) v.push_back(t);
  }
  return v;
}

inline bool ParseRounds(const char* text, int* rounds) {
  char* end = nullptr;
  long n = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || n < 1 || n > 1000) return false;
  *rounds = static_cast<int>(n);
  return true;
}

struct Row {
  std::string cells[7];
};

inline void PrintTable(const std::vector<Row>& rows) {
  size_t width[7] = {};
  for (const Row& r : rows) {
    for (int i = 0; i < 7; ++i)
      width[i] = std::max(width[i], r.cells[i].size());
  }
  for (const Row& r : rows) {
    std::string line;
    for (int i = 0; i < 7; ++i) {
      std::string cell = r.cells[i];
      // Numbers are right-aligned, names left-aligned.
      bool right = i == 1 || i == 2 || i == 4;
      size_t pad = width[i] - cell.size();
      if (right) line.append(pad, ' ');
      line += cell;
      if (!right && i != 6) line.append(pad, ' ');
      if (i != 6) line += "  ";
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    std::printf("%s\n", line.c_str());
  }
}

}  // namespace internal

// Parses the harness's flags and Google Benchmark's, runs every registered
// entry and prints the table. Returns the process exit code.
inline int Main(int argc, char** argv) {
  using internal::Entries;
  using internal::EntryKind;
  int rounds = 7;
  bool cold = false;
  bool verbose = false;
  if (const char* env = std::getenv("QUORVEL_BENCH_ROUNDS");
      env != nullptr && *env != '\0' && !internal::ParseRounds(env, &rounds)) {
    std::fprintf(stderr, "QUORVEL_BENCH_ROUNDS must be 1 to 1000, not %s\n",
                 env);
    return 2;
  }
  if (const char* env = std::getenv("QUORVEL_BENCH_COLD")) {
    cold = std::strcmp(env, "") != 0 && std::strcmp(env, "0") != 0;
  }
  // Our flags are taken out before Google Benchmark sees the rest.
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg.starts_with("--rounds=")) {
      if (!internal::ParseRounds(argv[i] + 9, &rounds)) {
        std::fprintf(stderr, "--rounds must be 1 to 1000, not %s\n",
                     argv[i] + 9);
        return 2;
      }
    } else if (arg == "--cold") {
      cold = true;
    } else if (arg == "--verbose") {
      verbose = true;
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  argv[argc] = nullptr;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;

#if defined(__GLIBC__)
  if (!cold) {
    // Keeps freed memory in the process, so a later run reuses warm pages
    // instead of faulting in fresh ones; both sides get the same treatment.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
  }
#endif

  // Registration order is run order: per entry the warm-ups, then rounds of
  // ours and peer alternately.
  std::map<std::string, internal::Slot> slots;
  std::vector<internal::Entry>& entries = Entries();
  for (size_t i = 0; i < entries.size(); ++i) {
    internal::Entry& e = entries[i];
    if (e.kind == EntryKind::kSkip) continue;
    int sides = e.kind == EntryKind::kCompare ? 2 : 1;
    const char* side_name[2] = {"ours", "peer"};
    if (e.kind == EntryKind::kSingle) side_name[0] = "run";
    auto add = [&](int side, int round) {
      std::string name = e.name + "/" + side_name[side];
      name += round < 0 ? std::string("/warm-up")
                        : "/round:" + std::to_string(round + 1);
      slots[name] = internal::Slot{i, side, round};
      Fn fn = side == 0 ? e.ours : e.peer;
      benchmark::internal::Benchmark* b = benchmark::RegisterBenchmark(
          name.c_str(), [fn](benchmark::State& state) { fn(state); });
      b->UseRealTime();
      if (round < 0) {
        b->MinTime(0.05);
      } else if (e.options.min_time > 0) {
        b->MinTime(e.options.min_time);
      }
    };
    if (e.options.warm_up && !cold) {
      for (int side = 0; side < sides; ++side) add(side, -1);
    }
    for (int r = 0; r < rounds; ++r) {
      for (int side = 0; side < sides; ++side) add(side, r);
    }
  }

  internal::Collector collector(std::move(slots), verbose);
  benchmark::RunSpecifiedBenchmarks(&collector);
  benchmark::Shutdown();

  std::printf(
      "\n%d %s, ours and peer alternating; times are real time per "
      "iteration, the median of the rounds.\nratio: ours/peer in each round, "
      "median over the rounds (below 1: ours is faster); spread: the "
      "smallest..largest round.\n\n",
      rounds, rounds == 1 ? "round" : "rounds");
  std::vector<internal::Row> rows;
  rows.push_back(
      {{"benchmark", "ours", "peer", "peer name", "ratio", "spread", "heap"}});
  bool failed = false;
  for (const internal::Entry& e : entries) {
    internal::Row row;
    row.cells[0] = e.name;
    if (e.kind == EntryKind::kSkip) {
      row.cells[3] = e.peer_name;
      row.cells[6] = "skipped: " + e.note;
      rows.push_back(row);
      continue;
    }
    if (e.runs_reported == 0) continue;
    const bool warm = e.options.warm_up && !cold;
    row.cells[6] = warm ? "warm" : "cold";
    if (!e.error.empty()) {
      failed = true;
      row.cells[6] = "error: " + e.error;
      rows.push_back(row);
      continue;
    }
    // One time per side per round (the median, should Google Benchmark
    // repeat a run).
    std::vector<double> per_round[2];
    for (int side = 0; side < 2; ++side) {
      for (const std::vector<double>& t : e.times[side]) {
        per_round[side].push_back(t.empty() ? 0 : internal::Median(t));
      }
    }
    row.cells[1] = internal::FormatTime(
        internal::Median(internal::Measured(per_round[0])));
    if (e.kind == EntryKind::kSingle) {
      row.cells[2] = "-";
      row.cells[3] = "-";
      row.cells[4] = "-";
      std::vector<double> v = internal::Measured(per_round[0]);
      if (!v.empty()) {
        auto [lo, hi] = std::minmax_element(v.begin(), v.end());
        row.cells[5] =
            internal::FormatTime(*lo) + ".." + internal::FormatTime(*hi);
      }
      rows.push_back(row);
      continue;
    }
    std::vector<double> ratios;
    for (size_t r = 0; r < per_round[1].size(); ++r) {
      if (r < per_round[0].size() && per_round[0][r] > 0 &&
          per_round[1][r] > 0) {
        ratios.push_back(per_round[0][r] / per_round[1][r]);
      }
    }
    row.cells[2] = internal::FormatTime(
        internal::Median(internal::Measured(per_round[1])));
    row.cells[3] = e.peer_name;
    if (ratios.empty()) {
      row.cells[4] = "-";
      row.cells[5] = "-";
    } else {
      auto [lo, hi] = std::minmax_element(ratios.begin(), ratios.end());
      row.cells[4] = internal::FormatRatio(internal::Median(ratios));
      row.cells[5] =
          internal::FormatRatio(*lo) + ".." + internal::FormatRatio(*hi);
    }
    rows.push_back(row);
  }
  internal::PrintTable(rows);
  std::fflush(stdout);
  return failed ? 1 : 0;
}

}  // namespace quorvel::bench

// Defines main() for a program whose benchmarks are listed by Registrations.
#define QUORVEL_BENCH_MAIN() \
  int main(int argc, char** argv) { return ::quorvel::bench::Main(argc, argv); }

#endif  // QUORVEL_BENCH_HARNESS_H_

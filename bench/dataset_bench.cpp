// CDataset's CSV reader and writer, its sort, and CQueue, side by side with
// Python's csv module, std::sort and std::deque.
//
// Memory is counted by wrapping glibc's allocator for the whole program, so
// the peak of a load is measured exactly rather than read off the RSS.
#include <malloc.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "harness.h"
#include "quorvel/cdataset.h"
#include "quorvel/compare.h"
#include "quorvel/cqueue.h"
#include "quorvel/string.h"
#include "quorvel/value.h"

// ---- counting allocator ----------------------------------------------------

extern "C" {
void* __libc_malloc(size_t);
void __libc_free(void*);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
}

namespace {

std::atomic<int64_t> g_live{0};
std::atomic<int64_t> g_peak{0};
std::atomic<int64_t> g_allocations{0};

void Counted(void* p) {
  if (p == nullptr) return;
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  const int64_t now =
      g_live.fetch_add(static_cast<int64_t>(malloc_usable_size(p)),
                       std::memory_order_relaxed) +
      static_cast<int64_t>(malloc_usable_size(p));
  int64_t peak = g_peak.load(std::memory_order_relaxed);
  while (now > peak &&
         !g_peak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
  }
}

void Uncounted(void* p) {
  if (p != nullptr)
    g_live.fetch_sub(static_cast<int64_t>(malloc_usable_size(p)),
                     std::memory_order_relaxed);
}

}  // namespace

extern "C" {
void* malloc(size_t n) {
  void* p = __libc_malloc(n);
  Counted(p);
  return p;
}
void free(void* p) {
  Uncounted(p);
  __libc_free(p);
}
void* calloc(size_t n, size_t size) {
  void* p = __libc_calloc(n, size);
  Counted(p);
  return p;
}
void* realloc(void* p, size_t n) {
  const int64_t before = p ? static_cast<int64_t>(malloc_usable_size(p)) : 0;
  void* q = __libc_realloc(p, n);
  if (q != nullptr || n == 0) {
    g_live.fetch_sub(before, std::memory_order_relaxed);
    if (q != nullptr) {
      g_allocations.fetch_sub(1, std::memory_order_relaxed);
      Counted(q);
    }
  }
  return q;
}
void* memalign(size_t align, size_t n) {
  void* p = __libc_memalign(align, n);
  Counted(p);
  return p;
}
void* aligned_alloc(size_t align, size_t n) { return memalign(align, n); }
int posix_memalign(void** out, size_t align, size_t n) {
  void* p = memalign(align, n);
  if (p == nullptr) return 12;  // ENOMEM
  *out = p;
  return 0;
}
}

// ---- inputs ----------------------------------------------------------------

namespace {

using quorvel::CDataset;
using quorvel::Ref;
using quorvel::String;
using quorvel::Value;

constexpr size_t kCsvBytes = 50u << 20;
constexpr int32_t kSortRows = 1000000;

// A 10-column CSV of about 50 MB: numbers, names, dates, an occasional
// quoted field holding the separator or a doubled quote.
const std::string& CsvBytes() {
  static const std::string text = [] {
    std::mt19937 rng(42);
    std::string out = "id,name,city,amount,qty,date,flag,code,note,score\r\n";
    out.reserve(kCsvBytes + 4096);
    const char* cities[] = {"Oslo",  "Lima",  "Quito", "Accra",
                            "Hanoi", "Perth", "Tunis", "Porto"};
    auto word = [&](int len) {
      std::string w;
      for (int k = 0; k < len; ++k) w += static_cast<char>('a' + rng() % 26);
      w[0] = static_cast<char>(w[0] - 32);
      return w;
    };
    for (int64_t id = 1; out.size() < kCsvBytes; ++id) {
      out += std::to_string(id) + ',' + word(4 + rng() % 6) + ',' +
             cities[rng() % 8] + ',' + std::to_string(rng() % 100000) + '.' +
             std::to_string(rng() % 100) + ',' + std::to_string(rng() % 500) +
             ",2024-" + std::to_string(1 + rng() % 12) + '-' +
             std::to_string(1 + rng() % 28) + ',' +
             (rng() % 2 ? "True" : "False") + ',' + word(3) +
             std::to_string(rng() % 1000) + ',';
      switch (rng() % 8) {
        case 0:
          out += "\"" + word(5) + ", " + word(6) + "\"";
          break;
        case 1:
          out += "\"said \"\"" + word(4) + "\"\"\"";
          break;
        default:
          out += word(6 + rng() % 8);
      }
      out += ',' + std::to_string(rng() % 1000) + "\r\n";
    }
    return out;
  }();
  return text;
}

double MegaBytes() { return CsvBytes().size() / 1048576.0; }

std::filesystem::path CsvFile() {
  static const std::filesystem::path path = [] {
    auto p = std::filesystem::temp_directory_path() /
             ("quorvel_dataset_bench_" + std::to_string(getpid()) + ".csv");
    std::ofstream(p, std::ios::binary) << CsvBytes();
    return p;
  }();
  return path;
}

bool HavePython() {
  static const bool have = std::system("python3 -c pass >/dev/null 2>&1") == 0;
  return have;
}

std::string PythonCommand(const char* body) {
  return std::string("python3 -c \"") + body + "\" " + CsvFile().string();
}

// Loads the CSV bytes through UTF-16 into a dataset, as `quorvel csv` does.
Ref<CDataset> LoadCsv() {
  Ref<CDataset> ds = CDataset::Create();
  ds->FromCSV(String(quorvel::FromUtf8(CsvBytes())));
  return ds;
}

void OursFromCsv(benchmark::State& state) {
  for (auto _ : state) {
    Ref<CDataset> ds = LoadCsv();
    benchmark::DoNotOptimize(ds->RowCount());
  }
}

constexpr const char* kPythonRead =
    "import csv,sys\n"
    "with open(sys.argv[1], newline='', encoding='utf-8') as f:\n"
    "    rows = list(csv.reader(f))\n";

void PythonFromCsv(benchmark::State& state) {
  const std::string command = PythonCommand(kPythonRead);
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("python3 failed");
      return;
    }
  }
}

void OursToCsv(benchmark::State& state) {
  Ref<CDataset> ds = LoadCsv();
  for (auto _ : state) {
    String text = ds->ToCSV();
    benchmark::DoNotOptimize(text.size());
  }
}

// 1,000,000 rows: a random Long key, a random mixed-case String key, and a
// random Long that puts the rows back in a random order between runs.
Ref<CDataset> SortTable() {
  static Ref<CDataset> ds = [] {
    Ref<CDataset> t = CDataset::Create();
    for (const char16_t* c : {u"n", u"s", u"shuffle"}) t->AddColumn(c);
    std::mt19937 rng(9);
    std::vector<Value> row(3);
    for (int32_t i = 0; i < kSortRows; ++i) {
      row[0] = Value(static_cast<int32_t>(rng() % 2000000000));
      std::u16string s;
      for (int k = 0; k < 8; ++k)
        s += static_cast<char16_t>((rng() % 2 ? u'a' : u'A') + rng() % 26);
      row[1] = Value(s);
      row[2] = Value(static_cast<int32_t>(rng()));
      t->AddRow(row);
    }
    return t;
  }();
  return ds;
}

void OursSort(benchmark::State& state, const char16_t* column) {
  Ref<CDataset> ds = SortTable();
  for (auto _ : state) {
    state.PauseTiming();
    ds->Sort(Value(u"shuffle"));
    state.ResumeTiming();
    ds->Sort(Value(column));
  }
}

void PeerSortLong(benchmark::State& state) {
  Ref<CDataset> ds = SortTable();
  std::vector<std::pair<int32_t, uint32_t>> pristine;
  ds->Sort(Value(u"shuffle"));
  for (int32_t r = 1; r <= ds->RowCount(); ++r)
    pristine.emplace_back(ds->Cell(r, 1).long_value(), r);
  std::vector<std::pair<int32_t, uint32_t>> keys;
  for (auto _ : state) {
    state.PauseTiming();
    keys = pristine;
    state.ResumeTiming();
    std::sort(keys.begin(), keys.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
  }
}

void PeerSortText(benchmark::State& state) {
  Ref<CDataset> ds = SortTable();
  std::vector<std::pair<String, uint32_t>> pristine;
  ds->Sort(Value(u"shuffle"));
  for (int32_t r = 1; r <= ds->RowCount(); ++r)
    pristine.emplace_back(ds->Cell(r, 2).string(), r);
  std::vector<std::pair<String, uint32_t>> keys;
  for (auto _ : state) {
    state.PauseTiming();
    keys = pristine;
    state.ResumeTiming();
    std::sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) {
      return quorvel::CompareText(a.first, b.first,
                                  quorvel::CompareMode::Text) < 0;
    });
  }
}

template <int64_t N>
void OursQueue(benchmark::State& state) {
  for (auto _ : state) {
    Ref<quorvel::CQueue> q = quorvel::CQueue::Create();
    for (int64_t i = 0; i < N; ++i) q->Push(Value(static_cast<int32_t>(i)));
    int64_t sum = 0;
    for (int64_t i = 0; i < N; ++i) sum += q->Pop().long_value();
    benchmark::DoNotOptimize(sum);
  }
}

template <int64_t N>
void DequeQueue(benchmark::State& state) {
  for (auto _ : state) {
    std::deque<Value> q;
    for (int64_t i = 0; i < N; ++i) q.push_back(Value(static_cast<int32_t>(i)));
    int64_t sum = 0;
    for (int64_t i = 0; i < N; ++i) {
      sum += q.front().long_value();
      q.pop_front();
    }
    benchmark::DoNotOptimize(sum);
  }
}

const quorvel::bench::Registration kRegistered([] {
  using quorvel::bench::Compare;
  // One run of a large input is long enough to time on its own.
  quorvel::bench::Options once;
  once.min_time = 0.01;
  if (HavePython()) {
    Compare("csv/FromCSV 50MB", OursFromCsv, PythonFromCsv, "python3 csv",
            once);
  } else {
    quorvel::bench::Skip("csv/FromCSV 50MB", "python3 csv",
                         "python3 not found");
  }
  quorvel::bench::Single("csv/ToCSV 50MB", OursToCsv, once);
  Compare(
      "sort/1M rows by Long", [](benchmark::State& s) { OursSort(s, u"n"); },
      PeerSortLong, "std::sort (key,row)", once);
  Compare(
      "sort/1M rows by String", [](benchmark::State& s) { OursSort(s, u"s"); },
      PeerSortText, "std::sort (key,row)", once);
  Compare("queue/push+pop 1M", OursQueue<1000000>, DequeQueue<1000000>,
          "std::deque<Value>", once);
  Compare("queue/push+pop 10M", OursQueue<10000000>, DequeQueue<10000000>,
          "std::deque<Value>", once);
});

double MedianOf(const std::string& name, int side) {
  for (const auto& e : quorvel::bench::internal::Entries()) {
    if (e.name != name) continue;
    std::vector<double> rounds;
    for (const auto& t : e.times[side]) {
      if (!t.empty()) rounds.push_back(quorvel::bench::internal::Median(t));
    }
    return quorvel::bench::internal::Median(rounds);
  }
  return 0;
}

// Measures what one load holds at its peak and keeps, and what sorting a
// table of 10 String columns allocates.
void ReportMemory() {
  const double mb = 1048576.0;
  {
    const int64_t before = g_live.load();
    g_peak.store(before);
    Ref<CDataset> ds = LoadCsv();
    std::printf(
        "FromCSV of %.1f MB (%d rows x %d columns): peak heap %.0f MB above "
        "the input, %.0f MB held by the dataset\n",
        MegaBytes(), ds->RowCount(), ds->ColumnCount(),
        (g_peak.load() - before) / mb, (g_live.load() - before) / mb);
    const int64_t held = g_live.load();
    g_peak.store(held);
    String text = ds->ToCSV();
    std::printf("ToCSV of the same: peak heap %.0f MB above the dataset\n",
                (g_peak.load() - held) / mb);
  }
  if (HavePython()) {
    const std::string command = PythonCommand(
        "import csv,sys,resource\n"
        "with open(sys.argv[1], newline='', encoding='utf-8') as f:\n"
        "    rows = list(csv.reader(f))\n"
        "print('python3 csv into lists: max RSS %.0f MB' % "
        "(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024))\n");
    std::fflush(stdout);
    if (std::system(command.c_str()) != 0) std::printf("python3 failed\n");
  }
  {
    Ref<CDataset> ds = CDataset::Create();
    for (int c = 0; c < 10; ++c)
      ds->AddColumn(String(std::u16string(u"c") + char16_t(u'0' + c)));
    std::mt19937 rng(5);
    std::vector<Value> row(10);
    for (int r = 0; r < 100000; ++r) {
      for (Value& v : row)
        v = Value(std::u16string(6, char16_t(u'a' + rng() % 26)) + u"x");
      ds->AddRow(row);
    }
    const int64_t allocations = g_allocations.load();
    const int64_t before = g_live.load();
    g_peak.store(before);
    ds->Sort(Value(u"c3"));
    std::printf(
        "Sort of 100,000 rows x 10 String columns: %lld allocations, peak "
        "%.1f MB of working memory (no String is copied)\n",
        static_cast<long long>(g_allocations.load() - allocations),
        (g_peak.load() - before) / mb);
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Python's load of the 50 MB file alone takes seconds per round; five
  // rounds keep the whole program near two minutes. --rounds still rules.
  setenv("QUORVEL_BENCH_ROUNDS", "5", /*overwrite=*/0);
  ReportMemory();
  std::printf("\n");
  const int status = quorvel::bench::Main(argc, argv);
  std::printf("\nthroughput and cost per operation, from the medians above:\n");
  const double from = MedianOf("csv/FromCSV 50MB", 0);
  const double py = MedianOf("csv/FromCSV 50MB", 1);
  const double to = MedianOf("csv/ToCSV 50MB", 0);
  if (from > 0)
    std::printf("  FromCSV  %.1f MB/s (UTF-8 bytes to a dataset)\n",
                MegaBytes() / from);
  if (py > 0)
    std::printf(
        "  python3  %.1f MB/s (csv.reader into lists, interpreter start "
        "included)\n",
        MegaBytes() / py);
  if (to > 0)
    std::printf("  ToCSV    %.1f MB/s (of CSV text)\n", MegaBytes() / to);
  for (auto [name, n] :
       {std::pair<const char*, double>{"queue/push+pop 1M", 1e6},
        {"queue/push+pop 10M", 1e7}}) {
    const double ours = MedianOf(name, 0);
    const double peer = MedianOf(name, 1);
    if (ours > 0)
      std::printf("  %-20s %.2f ns per push+pop (std::deque %.2f ns)\n", name,
                  ours / n * 1e9, peer / n * 1e9);
  }
  std::error_code ec;
  std::filesystem::remove(CsvFile(), ec);
  return status;
}

// CArray against std::vector<Value>: appending, sorting with the same
// element comparison, and reading elements through the typed API.
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "harness.h"
#include "quorvel/carray.h"

namespace {

using quorvel::CArray;
using quorvel::Ref;
using quorvel::Value;

constexpr int32_t kAdds = 10'000'000;
constexpr int32_t kSorted = 1'000'000;

const std::vector<Value>& RandomLongs() {
  static const std::vector<Value> values = [] {
    std::mt19937 rng(42);
    std::vector<Value> v;
    v.reserve(kSorted);
    for (int32_t i = 0; i < kSorted; ++i)
      v.emplace_back(static_cast<int32_t>(rng()));
    return v;
  }();
  return values;
}

const std::vector<Value>& RandomStrings() {
  static const std::vector<Value> values = [] {
    std::mt19937 rng(43);
    std::vector<Value> v;
    v.reserve(kSorted);
    std::u16string s(12, u' ');
    for (int32_t i = 0; i < kSorted; ++i) {
      // Mixed case, so the case-insensitive comparison has work to do.
      for (char16_t& c : s) {
        uint32_t r = rng() % 52;
        c = static_cast<char16_t>(r < 26 ? u'a' + r : u'A' + r - 26);
      }
      v.emplace_back(s);
    }
    return v;
  }();
  return values;
}

void OursAdd(benchmark::State& state) {
  for (auto _ : state) {
    Ref<CArray> a = CArray::Create();
    for (int32_t i = 0; i < kAdds; ++i) {
      Value v(i);
      a->Add(v);
    }
    benchmark::DoNotOptimize(a->Count());
    state.PauseTiming();
    a = nullptr;
    state.ResumeTiming();
  }
}

void VectorAdd(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<Value> a;
    for (int32_t i = 0; i < kAdds; ++i) {
      Value v(i);
      a.push_back(v);
    }
    benchmark::DoNotOptimize(a.size());
    state.PauseTiming();
    a = std::vector<Value>();
    state.ResumeTiming();
  }
}

auto OursSort(const std::vector<Value>& (*source)()) {
  return [source](benchmark::State& state) {
    for (auto _ : state) {
      state.PauseTiming();
      Ref<CArray> a = CArray::Create();
      a->AddMultiple(source());
      state.ResumeTiming();
      a->Sort();
      state.PauseTiming();
      a = nullptr;
      state.ResumeTiming();
    }
  };
}

auto VectorSort(const std::vector<Value>& (*source)()) {
  return [source](benchmark::State& state) {
    for (auto _ : state) {
      state.PauseTiming();
      std::vector<Value> a = source();
      state.ResumeTiming();
      std::sort(a.begin(), a.end(), [](const Value& x, const Value& y) {
        return CArray::CompareValues(x, y) < 0;
      });
      state.PauseTiming();
      a = std::vector<Value>();
      state.ResumeTiming();
    }
  };
}

void OursItem(benchmark::State& state) {
  Ref<CArray> a = CArray::Create();
  a->AddMultiple(RandomStrings());
  for (auto _ : state) {
    size_t total = 0;
    for (int32_t i = 0; i < a->Count(); ++i)
      total += a->Item(i).string_view().size();
    benchmark::DoNotOptimize(total);
  }
}

void VectorItem(benchmark::State& state) {
  const std::vector<Value>& a = RandomStrings();
  for (auto _ : state) {
    size_t total = 0;
    for (size_t i = 0; i < a.size(); ++i) total += a[i].string_view().size();
    benchmark::DoNotOptimize(total);
  }
}

const quorvel::bench::Registration kRegistered([] {
  using quorvel::bench::Compare;
  Compare("carray/add 10M Longs", OursAdd, VectorAdd,
          "std::vector<Value>::push_back");
  Compare("carray/sort 1M random Longs", OursSort(RandomLongs),
          VectorSort(RandomLongs), "std::sort, same comparison");
  Compare("carray/sort 1M random 12-char Strings", OursSort(RandomStrings),
          VectorSort(RandomStrings), "std::sort, same comparison");
  Compare("carray/Item get 1M Strings", OursItem, VectorItem,
          "std::vector<Value>[i]");
});

}  // namespace

QUORVEL_BENCH_MAIN()

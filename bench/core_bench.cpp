// Core costs: the Dictionary against the standard hash map, Value copies,
// and a call by name against the direct call it stands for.
#include <cstdint>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "harness.h"
#include "quorvel/quorvel.h"

namespace {

using quorvel::Value;

constexpr int kKeys = 1'000'000;

// 16-character keys, distinct, in an order unrelated to their hashes.
const std::vector<std::u16string>& KeyTexts() {
  static const std::vector<std::u16string> keys = [] {
    std::vector<std::u16string> out;
    out.reserve(kKeys);
    std::mt19937_64 rng(20261205);
    for (int i = 0; i < kKeys; ++i) {
      std::u16string k(16, u'a');
      uint64_t bits = rng();
      for (int c = 0; c < 10; ++c) k[c] = u'a' + (bits >> (c * 5)) % 26;
      for (int c = 0, n = i; c < 6; ++c, n /= 26) k[10 + c] = u'a' + n % 26;
      out.push_back(std::move(k));
    }
    return out;
  }();
  return keys;
}

const std::vector<quorvel::String>& Keys() {
  static const std::vector<quorvel::String> keys = [] {
    std::vector<quorvel::String> out;
    out.reserve(kKeys);
    for (const std::u16string& k : KeyTexts()) out.emplace_back(k);
    return out;
  }();
  return keys;
}

void OursInsertLookup(benchmark::State& state) {
  const auto& keys = Keys();
  for (auto _ : state) {
    auto d = quorvel::Dictionary::Create();
    for (int i = 0; i < kKeys; ++i) d->Add(keys[i], Value(i));
    int64_t sum = 0;
    for (int i = 0; i < kKeys; ++i) sum += d->Find(keys[i])->long_value();
    benchmark::DoNotOptimize(sum);
  }
}

void MapInsertLookup(benchmark::State& state) {
  const auto& keys = KeyTexts();
  for (auto _ : state) {
    std::unordered_map<std::u16string, Value> m;
    for (int i = 0; i < kKeys; ++i) m.emplace(keys[i], Value(i));
    int64_t sum = 0;
    for (int i = 0; i < kKeys; ++i) sum += m.find(keys[i])->second.long_value();
    benchmark::DoNotOptimize(sum);
  }
}

void OursWalk(benchmark::State& state) {
  auto d = quorvel::Dictionary::Create();
  for (int i = 0; i < kKeys; ++i) d->Add(Keys()[i], Value(i));
  for (auto _ : state) {
    int64_t sum = 0;
    for (const auto& entry : *d) sum += entry.value.long_value();
    benchmark::DoNotOptimize(sum);
  }
}

void MapWalk(benchmark::State& state) {
  std::unordered_map<std::u16string, Value> m;
  for (int i = 0; i < kKeys; ++i) m.emplace(KeyTexts()[i], Value(i));
  for (auto _ : state) {
    int64_t sum = 0;
    for (const auto& [key, value] : m) sum += value.long_value();
    benchmark::DoNotOptimize(sum);
  }
}

// A String Value shares its text: a copy is a count increment.
void OursCopyString(benchmark::State& state) {
  Value v(quorvel::String(u"sixteen chars ok"));
  for (auto _ : state) {
    Value copy = v;
    benchmark::DoNotOptimize(copy);
  }
}

void StdCopyString(benchmark::State& state) {
  std::u16string s = u"sixteen chars ok";
  for (auto _ : state) {
    std::u16string copy = s;
    benchmark::DoNotOptimize(copy);
  }
}

// The same at 1,000 characters: our cost does not grow with the length.
void OursCopyLongString(benchmark::State& state) {
  Value v(quorvel::String(std::u16string(1000, u'x')));
  for (auto _ : state) {
    Value copy = v;
    benchmark::DoNotOptimize(copy);
  }
}

void StdCopyLongString(benchmark::State& state) {
  std::u16string s(1000, u'x');
  for (auto _ : state) {
    std::u16string copy = s;
    benchmark::DoNotOptimize(copy);
  }
}

void OursCopyLong(benchmark::State& state) {
  Value v(int32_t{42});
  for (auto _ : state) {
    Value copy = v;
    benchmark::DoNotOptimize(copy);
  }
}

void CallCountByName(benchmark::State& state) {
  Value d = quorvel::CreateObject(u"Scripting.Dictionary");
  for (auto _ : state) {
    Value n = quorvel::CallByName(d, u"Count", quorvel::CallType::Get);
    benchmark::DoNotOptimize(n);
  }
}

void CallCountDirect(benchmark::State& state) {
  auto d = quorvel::Dictionary::Create();
  quorvel::Dictionary* volatile target = d.get();
  for (auto _ : state) {
    Value n(target->Count());
    benchmark::DoNotOptimize(n);
  }
}

void CallAddByName(benchmark::State& state) {
  Value d = quorvel::CreateObject(u"Scripting.Dictionary");
  Value key(quorvel::String(u"key"));
  for (auto _ : state) {
    quorvel::CallByName(d, u"Exists", quorvel::CallType::Method, {key});
  }
}

const quorvel::bench::Registration kRegistered([] {
  using quorvel::bench::Compare;
  using quorvel::bench::Single;
  Compare("dictionary/insert+lookup 1M keys", OursInsertLookup, MapInsertLookup,
          "std::unordered_map");
  Compare("dictionary/walk 1M keys", OursWalk, MapWalk, "std::unordered_map");
  Compare("value/copy String", OursCopyString, StdCopyString, "std::u16string");
  Compare("value/copy String of 1000", OursCopyLongString, StdCopyLongString,
          "std::u16string");
  Single("value/copy Long", OursCopyLong);
  Compare("dispatch/Count by name", CallCountByName, CallCountDirect,
          "direct call");
  Single("dispatch/Exists(key) by name", CallAddByName);
});

}  // namespace

QUORVEL_BENCH_MAIN()

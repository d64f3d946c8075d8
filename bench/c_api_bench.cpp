// The C interface's cost: a call through quorvel_call_by_name against the
// same call by name in C++, which is all it adds to.
#include <cstdint>
#include <string_view>

#include "harness.h"
#include "quorvel/quorvel.h"
#include "quorvel/quorvel_c.h"

namespace {

using quorvel::Value;

quorvel_object* CreateDictionary() {
  quorvel_object* dict = nullptr;
  quorvel_create_object("Scripting.Dictionary", &dict);
  quorvel_variant args[2];
  quorvel_variant_init(&args[0]);
  quorvel_variant_init(&args[1]);
  args[0].type = QUORVEL_STRING;
  args[0].as.utf8.data = "key";
  args[0].as.utf8.size = 3;
  args[1].type = QUORVEL_LONG;
  args[1].as.long_value = 42;
  quorvel_call_by_name(dict, "Add", QUORVEL_METHOD, args, 2, nullptr);
  return dict;
}

// Calls a member of a dictionary holding "key" over and over, with the key
// as its argument or with none.
void CRead(benchmark::State& state, const char* member, size_t nargs) {
  quorvel_object* dict = CreateDictionary();
  quorvel_variant key;
  quorvel_variant_init(&key);
  key.type = QUORVEL_STRING;
  key.as.utf8.data = "key";
  key.as.utf8.size = 3;
  quorvel_variant result;
  for (auto _ : state) {
    quorvel_call_by_name(dict, member, QUORVEL_GET, &key, nargs, &result);
    benchmark::DoNotOptimize(result);
  }
  quorvel_release(dict);
}

// The same in C++. The key is made on each call, as the C side makes it
// from UTF-8.
void CppRead(benchmark::State& state, std::u16string_view member,
             size_t nargs) {
  Value dict = quorvel::CreateObject(u"Scripting.Dictionary");
  quorvel::CallByName(dict, u"Add", quorvel::CallType::Method,
                      {Value(u"key"), Value(42)});
  for (auto _ : state) {
    Value key = nargs != 0 ? Value(u"key") : Value();
    Value n = quorvel::InvokeByName(dict, member, quorvel::CallType::Get,
                                    {&key, nargs});
    benchmark::DoNotOptimize(n);
  }
}

void CCount(benchmark::State& state) { CRead(state, "Count", 0); }
void CppCount(benchmark::State& state) { CppRead(state, u"Count", 0); }
void CItem(benchmark::State& state) { CRead(state, "Item", 1); }
void CppItem(benchmark::State& state) { CppRead(state, u"Item", 1); }

void CCreateRelease(benchmark::State& state) {
  for (auto _ : state) {
    quorvel_object* list = nullptr;
    quorvel_create_object("CArray", &list);
    quorvel_release(list);
  }
}

void CppCreateRelease(benchmark::State& state) {
  for (auto _ : state) {
    Value list = quorvel::CreateObject(u"CArray");
    benchmark::DoNotOptimize(list);
  }
}

const quorvel::bench::Registration kRegistered([] {
  using quorvel::bench::Compare;
  Compare("c_api/Count by name", CCount, CppCount, "C++ CallByName");
  Compare("c_api/Item(key) by name", CItem, CppItem, "C++ CallByName");
  Compare("c_api/create and release", CCreateRelease, CppCreateRelease,
          "C++ CreateObject");
});

}  // namespace

QUORVEL_BENCH_MAIN()

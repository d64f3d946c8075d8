// The JSON reader and writer against nlohmann-json and RapidJSON on one
// generated document of about 20 MB.
#include <malloc.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <string>

#include "harness.h"
#include "json_document.h"
#include "quorvel/bulk_memory.h"
#include "quorvel/json.h"
#include "quorvel/json_standard.h"
#include "quorvel/quorvel.h"

#ifdef QUORVEL_HAVE_NLOHMANN
#include <nlohmann/json.hpp>
#endif
#ifdef QUORVEL_HAVE_RAPIDJSON
#include <rapidjson/document.h>
#endif

namespace {

using quorvel::Value;

using quorvel::bench::DocumentUtf8;

const std::u16string& DocumentUtf16() {
  static const std::u16string doc = quorvel::FromUtf8(DocumentUtf8());
  return doc;
}

// The heap's figures and the chunks large trees are read into.
size_t HeapInUse() {
  struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd + quorvel::internal::MappedBulkBytes();
}

// Parsing is timed without the release of the tree, which each side does
// at its own pace (RapidJSON frees its pool in one step); the "+ free" pairs
// time both.
void OursParse(benchmark::State& state) {
  const std::u16string& text = DocumentUtf16();
  for (auto _ : state) {
    Value tree = quorvel::JSON::Parse(text);
    benchmark::DoNotOptimize(tree);
    state.PauseTiming();
    tree = Value();
    state.ResumeTiming();
  }
}

void OursParseFree(benchmark::State& state) {
  const std::u16string& text = DocumentUtf16();
  for (auto _ : state) {
    Value tree = quorvel::JSON::Parse(text);
    benchmark::DoNotOptimize(tree);
  }
}

void OursWrite(benchmark::State& state) {
  Value tree = quorvel::JSON::Parse(DocumentUtf16());
  for (auto _ : state) {
    quorvel::String text = quorvel::JSON::WriteJSON(tree);
    benchmark::DoNotOptimize(text);
  }
}

// The standard writer's UTF-8 text, as nlohmann-json's dump writes it.
void OursWriteStandard(benchmark::State& state) {
  Value tree = quorvel::JSON::Parse(DocumentUtf16());
  for (auto _ : state) {
    std::string text = quorvel::JSON::WriteStandard(tree);
    benchmark::DoNotOptimize(text);
  }
}

#ifdef QUORVEL_HAVE_NLOHMANN
void NlohmannParse(benchmark::State& state) {
  const std::string& text = DocumentUtf8();
  for (auto _ : state) {
    nlohmann::json tree = nlohmann::json::parse(text);
    benchmark::DoNotOptimize(tree);
    state.PauseTiming();
    tree = nlohmann::json();
    state.ResumeTiming();
  }
}

void NlohmannParseFree(benchmark::State& state) {
  const std::string& text = DocumentUtf8();
  for (auto _ : state) {
    nlohmann::json tree = nlohmann::json::parse(text);
    benchmark::DoNotOptimize(tree);
  }
}

void NlohmannDump(benchmark::State& state) {
  nlohmann::json tree = nlohmann::json::parse(DocumentUtf8());
  for (auto _ : state) {
    std::string text = tree.dump();
    benchmark::DoNotOptimize(text);
  }
}
#endif

#ifdef QUORVEL_HAVE_RAPIDJSON
void RapidJsonParse(benchmark::State& state) {
  const std::string& text = DocumentUtf8();
  for (auto _ : state) {
    auto tree = std::make_unique<rapidjson::Document>();
    tree->Parse(text.c_str(), text.size());
    benchmark::DoNotOptimize(tree);
    state.PauseTiming();
    tree.reset();
    state.ResumeTiming();
  }
}

void RapidJsonParseFree(benchmark::State& state) {
  const std::string& text = DocumentUtf8();
  for (auto _ : state) {
    rapidjson::Document tree;
    tree.Parse(text.c_str(), text.size());
    benchmark::DoNotOptimize(tree);
  }
}
#endif

// Heap held by each parsed tree, measured once, outside the timed rounds.
void ReportTreeMemory() {
  const std::u16string& utf16 = DocumentUtf16();
  size_t before = HeapInUse();
  {
    Value tree = quorvel::JSON::Parse(utf16);
    size_t ours = HeapInUse() - before;
    std::printf("json/tree memory: ours %.1f MB", ours / 1e6);
#ifdef QUORVEL_HAVE_NLOHMANN
    size_t mid = HeapInUse();
    nlohmann::json peer = nlohmann::json::parse(DocumentUtf8());
    size_t theirs = HeapInUse() - mid;
    std::printf(", nlohmann-json %.1f MB, ratio %.3f", theirs / 1e6,
                static_cast<double>(ours) / static_cast<double>(theirs));
#endif
    std::printf(" (document %.1f MB of UTF-8)\n", DocumentUtf8().size() / 1e6);
  }
}

const quorvel::bench::Registration kRegistered([] {
  using quorvel::bench::Compare;
  using quorvel::bench::Skip;
  ReportTreeMemory();
#ifdef QUORVEL_HAVE_NLOHMANN
  Compare("json/parse 20 MB", OursParse, NlohmannParse, "nlohmann-json");
  Compare("json/parse + free 20 MB", OursParseFree, NlohmannParseFree,
          "nlohmann-json");
  Compare("json/write 20 MB", OursWrite, NlohmannDump, "nlohmann-json");
  Compare("json/write standard 20 MB", OursWriteStandard, NlohmannDump,
          "nlohmann-json");
#else
  Skip("json/parse 20 MB", "nlohmann-json", "nlohmann-json3-dev missing");
  Skip("json/write 20 MB", "nlohmann-json", "nlohmann-json3-dev missing");
  Skip("json/write standard 20 MB", "nlohmann-json",
       "nlohmann-json3-dev missing");
#endif
#ifdef QUORVEL_HAVE_RAPIDJSON
  Compare("json/parse 20 MB (DOM)", OursParse, RapidJsonParse, "RapidJSON DOM");
  Compare("json/parse + free 20 MB (DOM)", OursParseFree, RapidJsonParseFree,
          "RapidJSON DOM");
#else
  Skip("json/parse 20 MB (DOM)", "RapidJSON DOM", "rapidjson-dev missing");
#endif
});

}  // namespace

QUORVEL_BENCH_MAIN()

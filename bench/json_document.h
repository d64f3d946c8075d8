// The generated JSON document that the JSON and MessagePack benchmarks
// share, so their figures describe the same data.
#ifndef QUORVEL_BENCH_JSON_DOCUMENT_H_
#define QUORVEL_BENCH_JSON_DOCUMENT_H_

#include <random>
#include <string>

namespace quorvel::bench {

// Records of nested objects and arrays, ASCII and non-ASCII strings,
// integers and decimals, until the text passes 20 MB of UTF-8.
inline const std::string& DocumentUtf8() {
  static const std::string doc = [] {
    static const char* const kCities[] = {"Z\xC3\xBCrich", "Krak\xC3\xB3w",
                                          "\xE6\x9D\xB1\xE4\xBA\xAC",
                                          "S\xC3\xA3o Paulo", "Oslo"};
    static const char* const kWords[] = {"alpha",   "beta", "gamma", "delta",
                                         "epsilon", "zeta", "eta",   "theta"};
    std::mt19937 rng(42);
    std::string out = "[";
    for (int id = 0; out.size() < 20'000'000; ++id) {
      if (id > 0) out += ',';
      out += "{\"id\":" + std::to_string(id);
      out += ",\"name\":\"user " + std::to_string(rng() % 100000) + " " +
             kWords[rng() % 8] + "\"";
      out += ",\"city\":\"" + std::string(kCities[rng() % 5]) + "\"";
      out += ",\"score\":" + std::to_string(rng() % 100000) + "." +
             std::to_string(rng() % 100);
      out += ",\"balance\":-" + std::to_string(rng() % 1000000);
      out += ",\"active\":";
      out += rng() % 2 ? "true" : "false";
      out += ",\"tags\":[";
      for (int t = 0, n = 1 + rng() % 4; t < n; ++t)
        out += std::string(t ? "," : "") + "\"" + kWords[rng() % 8] + "\"";
      out += "],\"note\":\"line one\\nline \\\"two\\\"\"";
      out += ",\"nested\":{\"a\":[1,2,3],\"b\":{\"c\":null,\"d\":0.25}}}";
    }
    out += "]";
    return out;
  }();
  return doc;
}

}  // namespace quorvel::bench

#endif  // QUORVEL_BENCH_JSON_DOCUMENT_H_

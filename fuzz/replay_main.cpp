// Replays saved fuzz inputs without libFuzzer, so that any compiler builds
// the targets; finding no input fails, so a lost corpus is not taken for a
// clean one.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    std::error_code ec;
    if (!fs::is_directory(argv[i], ec)) inputs.emplace_back(argv[i]);
    for (const fs::directory_entry& e : fs::directory_iterator(argv[i], ec))
      if (e.is_regular_file(ec)) inputs.push_back(e.path());
  }
  std::sort(inputs.begin(), inputs.end());
  for (const fs::path& path : inputs) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    if (!in) {
      std::fprintf(stderr, "cannot read %s\n", path.c_str());
      return 1;
    }
    // Named first, so that a crash report follows its input.
    std::fprintf(stderr, "input %s\n", path.c_str());
    static const uint8_t kNothing = 0;  // data() of nothing may be null
    LLVMFuzzerTestOneInput(bytes.empty() ? &kNothing : bytes.data(),
                           bytes.size());
  }
  std::printf("replayed %zu inputs\n", inputs.size());
  return inputs.empty() ? 1 : 0;
}

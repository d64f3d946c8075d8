// Replays saved fuzz inputs through a target without libFuzzer, so any
// compiler can build the target and the test suite can rerun its corpus.
// Arguments are files or directories (read one level deep, in name order).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> ReadFile(const fs::path& path, bool* ok) {
  std::ifstream in(path, std::ios::binary);
  *ok = static_cast<bool>(in);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                              std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    fs::path arg(argv[i]);
    std::error_code ec;
    if (fs::is_directory(arg, ec)) {
      size_t before = inputs.size();
      for (const fs::directory_entry& e : fs::directory_iterator(arg, ec)) {
        if (e.is_regular_file(ec)) inputs.push_back(e.path());
      }
      if (inputs.size() == before) {
        std::printf("note: %s holds no inputs\n", argv[i]);
      }
    } else if (fs::is_regular_file(arg, ec)) {
      inputs.push_back(arg);
    } else {
      std::printf("note: %s does not exist; nothing to replay from it\n",
                  argv[i]);
    }
  }
  // A fixed order makes a failing run repeatable.
  std::sort(inputs.begin(), inputs.end());

  size_t ran = 0;
  for (const fs::path& path : inputs) {
    bool ok = false;
    std::vector<uint8_t> bytes = ReadFile(path, &ok);
    if (!ok) {
      std::fprintf(stderr, "cannot read %s\n", path.c_str());
      return 1;
    }
    // Named before it runs, so a crash report follows the input that caused it.
    std::fprintf(stderr, "input %s\n", path.c_str());
    // An empty vector's data() may be null; give the target a valid pointer.
    static const uint8_t kNothing = 0;
    LLVMFuzzerTestOneInput(bytes.empty() ? &kNothing : bytes.data(),
                           bytes.size());
    ++ran;
  }
  std::printf("replayed %zu inputs\n", ran);
  return 0;
}

// The stdio helpers the demos use.
#include <cstdio>
#include <string>

#include "cli.h"

namespace quorvel::cli {

void Print(std::u16string_view text) {
  std::string bytes;
  AppendUtf8(text, &bytes);
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

void PrintLine(std::u16string_view text) {
  Print(text);
  std::fputc('\n', stdout);
}

}  // namespace quorvel::cli

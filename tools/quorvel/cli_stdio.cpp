// The stdio helpers the kv, docs and demo verbs use.
#include <cstdio>
#include <string>

#include "cli.h"

namespace quorvel::cli {

void Print(std::u16string_view text) {
  std::string bytes;
  AppendUtf8(text, bytes);
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

void PrintLine(std::u16string_view text) {
  Print(text);
  std::fputc('\n', stdout);
}

bool ReadInput(std::string_view file, std::string* bytes) {
  try {
    Input input(file);
    *bytes = input.ReadAll();
    return true;
  } catch (const Failure& f) {
    Report(f.where(), f.what_happened(), f.number());
    return false;
  }
}

bool ReadTextInput(std::string_view file, std::u16string* text) {
  try {
    Input input(file);
    InputText reader(input);
    *text = reader.ReadAll();
    return true;
  } catch (const Failure& f) {
    Report(f.where(), f.what_happened(), f.number());
    return false;
  }
}

}  // namespace quorvel::cli

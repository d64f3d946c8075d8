// `quorvel base64|lzss|rc4|verhoeff`: the codecs on files and pipes.
//
// Each command reads the file named by its last argument, or standard input
// when there is none, and writes to standard output unchanged bytes, so
// `quorvel lzss compress < a | quorvel lzss decompress` gives `a` back. Text
// outputs (Base64, hex, check digits) end with a newline, and the readers of
// text drop trailing line breaks and blanks.
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "cli.h"
#include "quorvel/base64.h"
#include "quorvel/lzss.h"
#include "quorvel/rc4.h"
#include "quorvel/verhoeff.h"

namespace quorvel::cli {

namespace {

using Bytes = std::vector<uint8_t>;

// Reads all of `path`, or standard input for null.
bool ReadAll(const char* path, Bytes* out) {
  std::string bytes;
  if (!ReadInput(path ? path : "-", &bytes)) return false;
  out->assign(bytes.begin(), bytes.end());
  return true;
}

std::string_view TrimEnd(const Bytes& b) {
  size_t n = b.size();
  while (n > 0 && (b[n - 1] == '\n' || b[n - 1] == '\r' || b[n - 1] == ' ' ||
                   b[n - 1] == '\t'))
    --n;
  return std::string_view(reinterpret_cast<const char*>(b.data()), n);
}

int Write(const void* data, size_t size) {
  if (std::fwrite(data, 1, size, stdout) != size || std::fflush(stdout) != 0) {
    std::fprintf(stderr, "quorvel: cannot write the output\n");
    return 1;
  }
  return 0;
}

int WriteLine(std::string_view text) {
  std::string line(text);
  line += '\n';
  return Write(line.data(), line.size());
}

int Usage(const char* text) {
  std::fprintf(stderr, "usage: %s\n", text);
  return 2;
}

// Splits `args` into the action word, an optional --key value and an
// optional input path. Returns false on anything else.
struct Parsed {
  std::string_view action;
  const char* key = nullptr;
  const char* input = nullptr;
};

bool Parse(std::span<char*> args, bool takes_key, Parsed* p) {
  if (args.empty()) return false;
  p->action = args[0];
  for (size_t i = 1; i < args.size(); ++i) {
    std::string_view a = args[i];
    if (takes_key && a == "--key" && i + 1 < args.size()) {
      p->key = args[++i];
    } else if (takes_key && a.starts_with("--key=")) {
      p->key = args[i] + 6;
    } else if (p->input == nullptr && (a == "-" || !a.starts_with("-"))) {
      p->input = a == "-" ? nullptr : args[i];
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

int RunBase64(std::span<char*> args) {
  constexpr const char* kUsage = "quorvel base64 encode|decode [FILE]";
  Parsed p;
  if (!Parse(args, false, &p)) return Usage(kUsage);
  Bytes in;
  if (p.action == "encode") {
    if (!ReadAll(p.input, &in)) return 1;
    return WriteLine(mBase64::EncodeNarrow(in));
  }
  if (p.action == "decode") {
    if (!ReadAll(p.input, &in)) return 1;
    Bytes out = mBase64::DecodeNarrow(TrimEnd(in));
    return Write(out.data(), out.size());
  }
  return Usage(kUsage);
}

int RunLzss(std::span<char*> args) {
  constexpr const char* kUsage = "quorvel lzss compress|decompress [FILE]";
  Parsed p;
  if (!Parse(args, false, &p)) return Usage(kUsage);
  const bool compress = p.action == "compress";
  if (!compress && p.action != "decompress") return Usage(kUsage);
  Bytes in;
  if (!ReadAll(p.input, &in)) return 1;
  Bytes out = compress ? mLZSS::Compress(in) : mLZSS::Decompress(in);
  return Write(out.data(), out.size());
}

int RunRc4(std::span<char*> args) {
  constexpr const char* kUsage =
      "quorvel rc4 encrypt|decrypt --key KEY [FILE]\n"
      "  the input is 8-bit text (decrypt: hex text); KEY is taken as UTF-8 "
      "and converted to the 8-bit code page";
  Parsed p;
  if (!Parse(args, true, &p) || p.key == nullptr) return Usage(kUsage);
  const bool encrypt = p.action == "encrypt";
  if (!encrypt && p.action != "decrypt") return Usage(kUsage);
  const Bytes key = ToAnsi(FromUtf8(p.key));
  Bytes in;
  if (!ReadAll(p.input, &in)) return 1;
  if (encrypt) return WriteLine(mRC4::EncryptBytes(in, key));
  Bytes out = mRC4::DecryptBytes(TrimEnd(in), key);
  return Write(out.data(), out.size());
}

int RunVerhoeff(std::span<char*> args) {
  constexpr const char* kUsage =
      "quorvel verhoeff generate|validate [NUMBER]\n"
      "  without NUMBER the number is read from standard input";
  if (args.empty() || args.size() > 2) return Usage(kUsage);
  std::string_view action = args[0];
  if (action != "generate" && action != "validate") return Usage(kUsage);
  std::u16string number;
  if (args.size() == 2) {
    number = FromUtf8(args[1]);
  } else {
    Bytes in;
    if (!ReadAll(nullptr, &in)) return 1;
    number = FromUtf8(TrimEnd(in));
  }
  if (action == "generate")
    return WriteLine(std::to_string(mVerhoeff::Generate(number)));
  return WriteLine(mVerhoeff::Validate(number) ? "True" : "False");
}

}  // namespace quorvel::cli

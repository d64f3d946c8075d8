// `quorvel lzss|rc4|verhoeff`: the byte codecs on files and pipes, a piece
// at a time.
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "cli.h"
#include "quorvel/lzss.h"
#include "quorvel/rc4.h"
#include "quorvel/verhoeff.h"

namespace quorvel::cli {

namespace {

constexpr OptionSpec kLzssOptions[] = {
    {"--raw", "",
     "write the bare stream, without the frame (compress); read the input "
     "as a bare stream (decompress)"},
};

constexpr VerbSpec kLzssSpec = {
    "lzss",
    "lzss compress [OPTIONS] [FILE|-]\n"
    "lzss decompress [OPTIONS] [FILE|-]",
    "The library's LZSS compression of the bytes of FILE or standard input,\n"
    "and back: compress < a | quorvel lzss decompress gives a back.\n"
    "  compress    writes a frame: a magic, the stream, then the length and\n"
    "              the CRC-32 of the bytes it restores (--raw: the stream\n"
    "              alone, byte for byte what compressing the whole at once\n"
    "              gives)\n"
    "  decompress  reads a frame, or a bare stream, told apart by the first\n"
    "              byte; a frame that is cut short or changed is an error\n"
    "              naming the offset and the reason, once the end shows it\n"
    "A bare stream has no end and no check of its own: a cut or a changed\n"
    "byte is noticed only where it breaks the stream's structure, so it may\n"
    "restore to other bytes without an error. What was restored before an\n"
    "error has been written (with -o FILE, FILE is left as it was). Empty\n"
    "input gives empty output.\n"
    "\n"
    "Both stream. A reference reaches at most 4,095 bytes back and 18\n"
    "ahead, so compress holds 1 MiB of input and the window before it;\n"
    "decompress holds the last 4,095 bytes it restored.\n",
    kLzssOptions,
};

constexpr OptionSpec kRc4Options[] = {
    {"--key", "KEY",
     "the key, as UTF-8 text; each character becomes its Windows-1252 byte"},
};

constexpr VerbSpec kRc4Spec = {
    "rc4",
    "rc4 encrypt --key KEY [OPTIONS] [FILE|-]\n"
    "rc4 decrypt --key KEY [OPTIONS] [FILE|-]",
    "The library's RC4 variant over the bytes of FILE or standard input.\n"
    "  encrypt  writes upper-case hex text, two digits a byte, and a line end\n"
    "  decrypt  reads hex text (either case; line breaks and blanks are\n"
    "           skipped) and writes the bytes\n"
    "The variant keeps a byte that equals its keystream byte instead of\n"
    "turning it into 0, so a zero byte would decrypt to its keystream byte:\n"
    "encrypt refuses input holding one, naming its offset. A key character\n"
    "without a Windows-1252 byte is an error too. Empty input gives empty\n"
    "output. Both stream, holding 1 MiB of input at a time.\n",
    kRc4Options,
};

constexpr VerbSpec kVerhoeffSpec = {
    "verhoeff",
    "verhoeff generate [OPTIONS] [NUMBER...]\n"
    "verhoeff validate [OPTIONS] [NUMBER...]",
    "Verhoeff check digits of each NUMBER, or of each line of standard\n"
    "input when there is none (empty lines are skipped); one line out per\n"
    "number.\n"
    "  generate  writes the check digit to append; a number must be digits\n"
    "  validate  writes True when the last digit is the number's check\n"
    "            digit, else False (also for text that is not digits)\n",
    {},
};

template <class Stream>
void Compress(Input& input, Output& out) {
  Stream compressor;
  std::vector<uint8_t> bytes;
  std::span<const uint8_t> piece = input.Next();
  if (piece.empty()) return;  // empty input, empty output
  for (; !piece.empty(); piece = input.Next()) {
    compressor.Write(piece, bytes);
    out.Write(bytes.data(), bytes.size());
    bytes.clear();
  }
  compressor.Finish(bytes);
  out.Write(bytes.data(), bytes.size());
}

void Decompress(Input& input, Output& out, bool raw) {
  // A stream byte restores at most nine: pieces of 112 KiB keep the bytes
  // restored at a time within 1 MiB.
  constexpr size_t kPiece = size_t{112} << 10;
  std::span<const uint8_t> piece = input.Next(kPiece);
  if (piece.empty()) return;  // empty input, empty output
  const bool framed = !raw && piece[0] == mLZSS::kFrameMagic[0];
  if (!raw && !framed && (piece[0] & 1) == 0) {
    // A bare stream begins with a literal, so with an odd flag byte.
    char what[128];
    std::snprintf(what, sizeof what,
                  "neither an LZSS frame nor a bare LZSS stream: the first "
                  "byte is 0x%02X",
                  piece[0]);
    throw Failure(input.name(), what, kErrSubscript);
  }
  mLZSS::FrameDecompressor frame;
  mLZSS::Decompressor bare;
  std::vector<uint8_t> bytes;
  try {
    for (; !piece.empty(); piece = input.Next(kPiece)) {
      if (framed) {
        frame.Write(piece, bytes);
      } else {
        bare.Write(piece, bytes);
      }
      out.Write(bytes.data(), bytes.size());
      bytes.clear();
    }
    if (framed) {
      frame.Finish(bytes);
    } else {
      bare.Finish(bytes);
    }
  } catch (const Error& e) {
    if (framed) FailAt(input.name(), e);
    throw Failure(input.name(),
                  "the LZSS stream is damaged in the group at offset " +
                      std::to_string(bare.group_offset()),
                  e.number());
  }
  out.Write(bytes.data(), bytes.size());
}

// The key as Windows-1252 bytes; throws for one that cannot be.
std::vector<uint8_t> KeyBytes(const Args& args) {
  const std::optional<std::string_view> key = args.Get("--key");
  if (!key) args.Fail("--key KEY is required");
  if (key->empty()) args.Fail("the key is empty");
  const std::u16string text = FromUtf8(*key);
  if (ToUtf8(text) != *key)
    throw Failure("--key", "the key is not UTF-8 text", kErrInvalidCall);
  try {
    return ToAnsiExact(text);
  } catch (const Error& e) {
    FailAt("--key", e);
  }
}

void Encrypt(Input& input, Output& out, mRC4::Cipher& cipher) {
  std::vector<char> hex;
  bool any = false;
  for (std::span<const uint8_t> piece; !(piece = input.Next()).empty();) {
    any = true;
    if (const void* zero = std::memchr(piece.data(), 0, piece.size())) {
      const uint64_t at = input.offset() - piece.size() +
                          static_cast<uint64_t>(
                              static_cast<const uint8_t*>(zero) - piece.data());
      throw Failure(input.name(),
                    "byte 0 at offset " + std::to_string(at) +
                        ": this RC4 variant cannot carry a zero byte (it "
                        "would decrypt to its keystream byte)",
                    kErrInvalidCall);
    }
    hex.resize(2 * piece.size());
    cipher.EncryptTo(piece, hex.data());
    out.Write(hex.data(), hex.size());
  }
  if (any) out.Put('\n');
}

int HexValue(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  c |= 0x20;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

void Decrypt(Input& input, Output& out, mRC4::Cipher& cipher) {
  std::vector<uint8_t> bytes;
  int high = -1;  // a first digit waiting for its second
  for (std::span<const uint8_t> piece; !(piece = input.Next()).empty();) {
    const uint64_t base = input.offset() - piece.size();
    bytes.clear();
    for (size_t i = 0; i < piece.size(); ++i) {
      const uint8_t c = piece[i];
      const int v = HexValue(c);
      if (v < 0) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        char what[96];
        std::snprintf(what, sizeof what,
                      c > 0x20 && c < 0x7F
                          ? "'%c' at offset %llu is not a hexadecimal digit"
                          : "byte 0x%02X at offset %llu is not a hexadecimal "
                            "digit",
                      c, static_cast<unsigned long long>(base) + i);
        throw Failure(input.name(), what, kErrTypeMismatch);
      }
      if (high < 0) {
        high = v;
      } else {
        bytes.push_back(static_cast<uint8_t>(high << 4 | v));
        high = -1;
      }
    }
    cipher.Crypt(bytes, bytes.data());
    out.Write(bytes.data(), bytes.size());
  }
  if (high >= 0) {
    throw Failure(input.name(), "the hex text has an odd number of digits",
                  kErrTypeMismatch);
  }
}

// Writes the line for one number.
void CheckDigit(std::string_view action, std::string_view number,
                const std::string& where, Output& out) {
  const bool digits =
      !number.empty() &&
      number.find_first_not_of("0123456789") == std::string_view::npos;
  const std::u16string text = FromUtf8(number);
  try {
    if (action == "validate") {
      out.Write(digits && mVerhoeff::Validate(text) ? "True\n" : "False\n");
      return;
    }
    if (!digits) {
      throw Failure(where, Quote(number) + " is not a string of digits",
                    kErrSubscript);
    }
    out.Write(std::to_string(mVerhoeff::Generate(text)) + "\n");
  } catch (const Error& e) {
    FailAt(where, e);
  }
}

}  // namespace

int RunLzss(std::span<char*> raw) {
  const Args args(kLzssSpec, raw);
  if (args.help()) return kExitOk;
  const std::string_view action = args.Action("compress|decompress");
  return Filter(args, action, [&](Input& input, Output& out) {
    const bool raw = args.Has("--raw");
    if (action == "decompress") {
      Decompress(input, out, raw);
    } else if (raw) {
      Compress<mLZSS::Compressor>(input, out);
    } else {
      Compress<mLZSS::FrameCompressor>(input, out);
    }
  });
}

int RunRc4(std::span<char*> raw) {
  const Args args(kRc4Spec, raw);
  if (args.help()) return kExitOk;
  const std::string_view action = args.Action("encrypt|decrypt");
  mRC4::Cipher cipher(KeyBytes(args));
  return Filter(args, action, [&](Input& input, Output& out) {
    if (action == "encrypt") {
      Encrypt(input, out, cipher);
    } else {
      Decrypt(input, out, cipher);
    }
  });
}

int RunVerhoeff(std::span<char*> raw) {
  const Args args(kVerhoeffSpec, raw);
  if (args.help()) return kExitOk;
  const std::string_view action = args.Action("generate|validate");
  Output out(args.output());
  const std::vector<std::string_view>& numbers = args.positional();
  if (numbers.size() > 1) {
    for (size_t i = 1; i < numbers.size(); ++i)
      CheckDigit(action, numbers[i], "", out);
  } else {
    Input input("-", args.progress(), "verhoeff");
    InputText text(input);
    const std::u16string all = text.ReadAll();
    int64_t line = 0;
    for (size_t at = 0; at < all.size();) {
      size_t end = all.find(u'\n', at);
      if (end == std::u16string::npos) end = all.size();
      std::u16string_view number(all.data() + at, end - at);
      at = end + 1;
      ++line;
      while (!number.empty() &&
             (number.back() == u'\r' || number.back() == u' ' ||
              number.back() == u'\t'))
        number.remove_suffix(1);
      if (number.empty()) continue;
      CheckDigit(action, ToUtf8(number),
                 input.name() + ":" + std::to_string(line), out);
    }
  }
  out.Finish();
  return kExitOk;
}

}  // namespace quorvel::cli

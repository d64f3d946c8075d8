// `quorvel base64 encode|decode [FILE|-]`: Base64 text in lines, as GNU
// base64 writes it, and back, a piece at a time.
#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "cli.h"
#include "quorvel/base64.h"

namespace quorvel::cli {

namespace {

constexpr OptionSpec kOptions[] = {
    {"--wrap", "N",
     "end a line after every N characters (default 76); 0 writes the text "
     "without a line end, as base64 -w 0 does",
     "encode"},
    {"--strict", "",
     "refuse line breaks and blanks inside the text (one line end at its "
     "end is fine) and padding bits that are not zero",
     "decode"},
};

constexpr VerbSpec kSpec = {
    "base64",
    "base64 encode [--wrap N] [OPTIONS] [FILE|-]\n"
    "base64 decode [--strict] [OPTIONS] [FILE|-]",
    "Standard Base64 (RFC 4648: A-Z a-z 0-9 + /, padded with =) of the\n"
    "bytes of FILE or standard input, and back.\n"
    "  encode  writes lines of 76 characters, as GNU base64 does (and\n"
    "          with --wrap N, as base64 -w N does)\n"
    "  decode  skips line breaks, spaces and tabs, as GNU base64 -d skips\n"
    "          line breaks; any other character outside the alphabet, or\n"
    "          padding in the wrong place, stops it with an error naming\n"
    "          its offset. Encodings one after another decode as one.\n"
    "Empty input gives empty output. Both stream: they hold 1 MiB of\n"
    "input at a time, whatever its size.\n",
    kOptions,
};

// Encodes the input piece by piece; a group cut by the end of a piece
// waits for the next one.
void Encode(Input& input, Output& out, size_t wrap) {
  std::vector<char> text;
  uint8_t carry[3];
  size_t carried = 0;
  size_t column = 0;  // characters on the current line
  const auto put = [&](const char* p, size_t n) {
    if (wrap == 0) {
      out.Write(p, n);
      return;
    }
    while (n > 0) {
      const size_t take = std::min(n, wrap - column);
      out.Write(p, take);
      p += take;
      n -= take;
      column += take;
      if (column == wrap) {
        out.Put('\n');
        column = 0;
      }
    }
  };
  const auto encode = [&](std::span<const uint8_t> bytes) {
    text.resize(mBase64::EncodedSize(bytes.size()));
    mBase64::EncodeTo(bytes, text.data());
    put(text.data(), text.size());
  };
  bool any = false;
  for (std::span<const uint8_t> piece; !(piece = input.Next()).empty();) {
    any = true;
    if (carried > 0) {
      while (carried < 3 && !piece.empty()) {
        carry[carried++] = piece[0];
        piece = piece.subspan(1);
      }
      if (carried < 3) continue;
      encode(std::span<const uint8_t>(carry, 3));
      carried = 0;
    }
    const size_t whole = piece.size() / 3 * 3;
    encode(piece.first(whole));
    carried = piece.size() - whole;
    std::memcpy(carry, piece.data() + whole, carried);
  }
  if (carried > 0) encode(std::span<const uint8_t>(carry, carried));
  // Every line ends, the last one too; no input, no line. Without lines
  // (--wrap 0) no line end either, as base64 -w 0 writes it.
  if (any && wrap > 0 && column > 0) out.Put('\n');
}

enum CharClass : uint8_t { kAlphabet, kPad, kBlank, kOther };

constexpr std::array<uint8_t, 256> kClasses = [] {
  std::array<uint8_t, 256> t{};
  for (uint8_t& c : t) c = kOther;
  for (char c : mBase64::kAlphabet) t[static_cast<uint8_t>(c)] = kAlphabet;
  t['='] = kPad;
  for (char c : {' ', '\t', '\r', '\n'}) t[static_cast<uint8_t>(c)] = kBlank;
  return t;
}();

// Decodes the input piece by piece: the characters of each piece are
// checked and gathered without the blanks, the whole groups decoded, and
// the rest of a group waits for the next piece.
class Decoder {
 public:
  Decoder(Input& input, Output& out, bool strict)
      : input_(input), out_(out), strict_(strict) {}

  void Run() {
    for (std::span<const uint8_t> piece; !(piece = input_.Next()).empty();) {
      Gather(piece, input_.offset() - piece.size());
      const size_t whole = clean_.size() / 4 * 4;
      if (whole > 0) {
        bytes_.resize(mBase64::MaxDecodedSize(whole));
        const size_t n = mBase64::DecodeTo(
            std::string_view(clean_.data(), whole), bytes_.data());
        out_.Write(bytes_.data(), n);
        clean_.erase(clean_.begin(), clean_.begin() + whole);
      }
    }
    if (!clean_.empty())
      Fail(input_.offset(), "the text ends",
           " inside a group of four characters");
  }

 private:
  // Fails with "SUBJECT at offset N REST".
  [[noreturn]] void Fail(uint64_t offset, const std::string& subject,
                         const char* rest) {
    throw Failure(input_.name(),
                  subject + " at offset " + std::to_string(offset) + rest,
                  kErrInvalidCall);
  }

  void Gather(std::span<const uint8_t> piece, uint64_t base) {
    size_t used = clean_.size();
    clean_.resize(used + piece.size());
    char* const out = clean_.data();
    const uint8_t* const p = piece.data();
    const size_t n = piece.size();
    for (size_t i = 0; i < n; ++i) {
      // Most characters are the alphabet's, taken in a tight loop.
      if (!pad_open_ && !break_at_) {
        while (i < n && kClasses[p[i]] == kAlphabet) out[used++] = p[i++];
        if (i == n) break;
      }
      const uint8_t c = p[i];
      const size_t place = used % 4;
      switch (kClasses[c]) {
        case kBlank:
          if (strict_) {
            if (c != '\r' && c != '\n')
              Fail(base + i, "a blank", " inside the text (--strict)");
            if (!break_at_) break_at_ = base + i;
          }
          continue;
        case kOther: {
          char what[16];
          std::snprintf(what, sizeof what,
                        c > 0x20 && c < 0x7F ? "'%c'" : "byte 0x%02X", c);
          Fail(base + i, what, " is not a Base64 character");
        }
        case kPad:
          // "xx==" or "xxx=".
          if (place < 2) Fail(base + i, "'='", " is too early in its group");
          if (place == 3 && strict_) CheckPaddingBits(out + used - 3, base + i);
          pad_open_ = place == 2;
          break;
        case kAlphabet:
          if (pad_open_)
            Fail(base + i, "a character", " follows '=' in its group");
          break;
      }
      if (break_at_) {
        Fail(*break_at_, "a line break", " inside the text (--strict)");
      }
      out[used++] = static_cast<char>(c);
    }
    clean_.resize(used);
  }

  // Canonical text leaves the bits a padded group does not use zero.
  // `group` points at the group's first three characters.
  void CheckPaddingBits(const char* group, uint64_t offset) {
    const bool two_pads = group[2] == '=';
    const size_t last = mBase64::kAlphabet.find(group[two_pads ? 1 : 2]);
    if ((two_pads ? last & 15 : last & 3) != 0)
      Fail(offset, "padding", " leaves bits that are not zero (--strict)");
  }

  Input& input_;
  Output& out_;
  const bool strict_;
  std::vector<char> clean_;
  std::vector<uint8_t> bytes_;
  bool pad_open_ = false;  // a group has "xx=" so far
  std::optional<uint64_t> break_at_;
};

}  // namespace

int RunBase64(std::span<char*> raw) {
  const Args args(kSpec, raw);
  if (args.help()) return kExitOk;
  const std::string_view action = args.Action("encode|decode");
  const size_t wrap =
      static_cast<size_t>(args.GetInt("--wrap", 76, 0, 1 << 20));
  return Filter(args, action, [&](Input& input, Output& out) {
    if (action == "encode") {
      Encode(input, out, wrap);
    } else {
      Decoder(input, out, args.Has("--strict")).Run();
    }
  });
}

}  // namespace quorvel::cli

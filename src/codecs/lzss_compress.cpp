// The LZSS encoder: the match finder's choices, written by the emitter.
#include <algorithm>
#include <cstring>
#include <memory>

#include "codecs/lzss_emit.h"
#include "codecs/lzss_match.h"
#include "quorvel/error.h"
#include "quorvel/lzss.h"

namespace quorvel::mLZSS {

namespace {

// The encoder's parse over input that may arrive in pieces: at each
// position, the finder's longest match or a literal, greedily.
class Parser {
 public:
  // Parses from the current position while it is below `parse_end`,
  // writing items to `o` (the flag byte of an unfinished group stays where
  // `Rebase` or an earlier call put it); returns the end of what it wrote.
  // `d` holds `avail` input bytes, every one from kMaxDistance before the
  // position on. A match is searched only where two more bytes follow, and
  // is never longer than the bytes available: so that a piece boundary
  // changes nothing, the stream form parses only up to kMaxMatch - 1 bytes
  // before the end of what it holds, and the whole of it at the end.
  uint8_t* Run(const uint8_t* d, int32_t avail, int32_t parse_end, uint8_t* o) {
    const int32_t link_end = avail - 2;  // p + 2 < avail
    Emitter emit = emit_;
    int32_t p = p_;
    while (p < parse_end) {
      // A block of positions is linked, then parsed through. Once no
      // position is left to link, the rest are literals.
      int32_t linked = finder_.linked();
      if (p >= linked) linked = finder_.LinkNextBlock(d, link_end);
      const int32_t stop = p < linked ? std::min(parse_end, linked) : parse_end;
      while (p < stop) {
        const Match m = p < link_end ? finder_.Find(d, p, avail) : Match{0, 0};
        o = emit.Put(o, d[p], m);
        p += m.length >= kMinMatch ? m.length : 1;
      }
    }
    emit_ = emit;
    p_ = p;
    return o;
  }

  void EndGroup() { emit_.EndGroup(); }
  uint8_t* group_start() const { return emit_.group_start(); }
  void Rebase(uint8_t* flag_at) { emit_.Rebase(flag_at); }

  int32_t position() const { return p_; }
  // Moves every position back by `shift`, a multiple of the finder's ring
  // no larger than the position less kMaxDistance, so that ring slots stay
  // put.
  void Shift(int32_t shift) {
    finder_.Shift(shift);
    p_ -= shift;
  }

 private:
  MatchFinder finder_;
  Emitter emit_;
  int32_t p_ = 0;
};

// The most the parse writes for `count` input bytes: every eight items cost
// one flag byte and a reference is never longer than the bytes it stands
// for, so all-literal output is the largest; a literal also stores a spare
// byte after itself.
size_t MaxParsedSize(size_t count) { return count + count / 8 + 3; }

}  // namespace

std::vector<uint8_t> Compress(std::span<const uint8_t> data) {
  const size_t n = data.size();
  if (n == 0) RaiseStandard(kErrSubscript);
  if (n > static_cast<size_t>(INT32_MAX)) RaiseStandard(kErrOverflow);
  // The stream is built in a scratch buffer of the largest size, left
  // uninitialised, and copied out at its exact length: text shrinks to
  // about a third, so zero-filling the whole bound would cost more than
  // the copy.
  const std::unique_ptr<uint8_t[]> scratch(new uint8_t[MaxParsedSize(n)]);
  const auto parser = std::make_unique<Parser>();
  const int32_t end = static_cast<int32_t>(n);
  uint8_t* o = parser->Run(data.data(), end, end, scratch.get());
  parser->EndGroup();
  return std::vector<uint8_t>(scratch.get(), o);
}

struct Compressor::State {
  Parser parser;
  // Input from kMaxDistance before the parse position on (rounded down to
  // the ring), and what has not been parsed yet.
  std::vector<uint8_t> input;
  // Output not handed out yet: the unfinished group at the front.
  std::vector<uint8_t> output;
  size_t pending = 0;  // bytes of the unfinished group in `output`
  bool wrote = false;
};

Compressor::Compressor() : state_(std::make_unique<State>()) {}
Compressor::~Compressor() = default;
Compressor::Compressor(Compressor&&) noexcept = default;
Compressor& Compressor::operator=(Compressor&&) noexcept = default;

void Compressor::Parse(bool at_end, std::vector<uint8_t>& out) {
  State& s = *state_;
  Parser& parser = s.parser;
  const int32_t avail = static_cast<int32_t>(s.input.size());
  const int32_t parse_end = at_end ? avail : avail - (kMaxMatch - 1);
  const int32_t from = parser.position();
  if (parse_end > from || at_end) {
    s.output.resize(s.pending + MaxParsedSize(std::max(parse_end - from, 0)));
    if (s.pending > 0) parser.Rebase(s.output.data());
    uint8_t* o = parser.Run(s.input.data(), avail, parse_end,
                            s.output.data() + s.pending);
    if (at_end) parser.EndGroup();
    // Everything before the unfinished group is final.
    uint8_t* group = at_end ? nullptr : parser.group_start();
    uint8_t* done = group != nullptr ? group : o;
    out.insert(out.end(), s.output.data(), done);
    s.pending = static_cast<size_t>(o - done);
    std::memmove(s.output.data(), done, s.pending);
  }
  // Input more than kMaxDistance behind the parse is never read again.
  const int32_t shift = (parser.position() - kMaxDistance) /
                        MatchFinder::kRing * MatchFinder::kRing;
  if (shift > 0) {
    parser.Shift(shift);
    s.input.erase(s.input.begin(), s.input.begin() + shift);
  }
}

void Compressor::Write(std::span<const uint8_t> data,
                       std::vector<uint8_t>& out) {
  State& s = *state_;
  // Pieces are parsed a slice at a time so that positions stay small.
  constexpr size_t kSlice = size_t{1} << 20;
  while (!data.empty()) {
    const size_t take = std::min(data.size(), kSlice);
    s.input.insert(s.input.end(), data.begin(), data.begin() + take);
    s.wrote = true;
    data = data.subspan(take);
    Parse(false, out);
  }
}

void Compressor::Finish(std::vector<uint8_t>& out) {
  State& s = *state_;
  if (s.wrote) Parse(true, out);
  state_ = std::make_unique<State>();
}

}  // namespace quorvel::mLZSS

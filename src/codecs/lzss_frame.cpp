// The LZSS frame: the bare stream between a magic and a trailer of its
// length and CRC-32, written and checked a piece at a time.
#include <cstring>
#include <memory>
#include <string>

#include "codecs/crc32.h"
#include "quorvel/error.h"
#include "quorvel/lzss.h"

namespace quorvel::mLZSS {

namespace {

constexpr std::u16string_view kSource = u"LZSS";

std::u16string Number(uint64_t n) {
  const std::string digits = std::to_string(n);
  return std::u16string(digits.begin(), digits.end());
}

std::u16string Hex32(uint32_t n) {
  char16_t text[8];
  for (int k = 7; k >= 0; --k, n >>= 4) text[k] = u"0123456789ABCDEF"[n & 15];
  return std::u16string(text, 8);
}

[[noreturn]] void Damaged(const std::u16string& what) {
  ErrorRaise(kErrSubscript, kSource, u"The LZSS frame " + what);
}

void AppendLittleEndian(uint64_t value, int size, std::vector<uint8_t>& out) {
  for (int k = 0; k < size; ++k)
    out.push_back(static_cast<uint8_t>(value >> 8 * k));
}

uint64_t ReadLittleEndian(const uint8_t* p, int size) {
  uint64_t value = 0;
  for (int k = size - 1; k >= 0; --k) value = value << 8 | p[k];
  return value;
}

}  // namespace

std::vector<uint8_t> CompressFrame(std::span<const uint8_t> data) {
  std::vector<uint8_t> out;
  FrameCompressor frame;
  frame.Write(data, out);
  frame.Finish(out);
  return out;
}

std::vector<uint8_t> DecompressFrame(std::span<const uint8_t> frame) {
  std::vector<uint8_t> out;
  FrameDecompressor reader;
  reader.Write(frame, out);
  reader.Finish(out);
  return out;
}

struct FrameCompressor::State {
  Compressor stream;
  bool started = false;
  uint64_t length = 0;
  uint32_t crc = 0;
};

FrameCompressor::FrameCompressor() : state_(std::make_unique<State>()) {}
FrameCompressor::~FrameCompressor() = default;
FrameCompressor::FrameCompressor(FrameCompressor&&) noexcept = default;
FrameCompressor& FrameCompressor::operator=(FrameCompressor&&) noexcept =
    default;

void FrameCompressor::Write(std::span<const uint8_t> data,
                            std::vector<uint8_t>& out) {
  State& s = *state_;
  if (!s.started) {
    out.insert(out.end(), std::begin(kFrameMagic), std::end(kFrameMagic));
    s.started = true;
  }
  s.crc = codecs_internal::Crc32(data, s.crc);
  s.length += data.size();
  s.stream.Write(data, out);
}

void FrameCompressor::Finish(std::vector<uint8_t>& out) {
  State& s = *state_;
  if (!s.started) Write({}, out);
  s.stream.Finish(out);
  AppendLittleEndian(s.length, 8, out);
  AppendLittleEndian(s.crc, 4, out);
  state_ = std::make_unique<State>();
}

struct FrameDecompressor::State {
  Decompressor stream;
  size_t magic_seen = 0;
  // The last bytes seen, which may be the trailer.
  uint8_t held[kFrameTrailerSize];
  size_t held_size = 0;
  uint64_t taken = 0;  // frame bytes seen
  uint64_t restored = 0;
  uint32_t crc = 0;
};

FrameDecompressor::FrameDecompressor() : state_(std::make_unique<State>()) {}
FrameDecompressor::~FrameDecompressor() = default;
FrameDecompressor::FrameDecompressor(FrameDecompressor&&) noexcept = default;
FrameDecompressor& FrameDecompressor::operator=(FrameDecompressor&&) noexcept =
    default;

void FrameDecompressor::Feed(std::span<const uint8_t> stream, bool at_end,
                             std::vector<uint8_t>& out) {
  State& s = *state_;
  const size_t before = out.size();
  try {
    if (at_end) {
      s.stream.Finish(out);
    } else {
      s.stream.Write(stream, out);
    }
  } catch (const Error& e) {
    if (e.number() != kErrSubscript) throw;
    const uint64_t at = kFrameMagicSize + s.stream.group_offset();
    // At the end a reference too far back and an item cut short raise
    // alike; before it, only the first can.
    Damaged(u"stream is damaged" +
            std::u16string(at_end ? u" or cut short" : u"") +
            u" in the group at offset " + Number(at));
  }
  const std::span<const uint8_t> restored(out.data() + before,
                                          out.size() - before);
  s.crc = codecs_internal::Crc32(restored, s.crc);
  s.restored += restored.size();
}

void FrameDecompressor::Write(std::span<const uint8_t> frame,
                              std::vector<uint8_t>& out) {
  State& s = *state_;
  for (; s.magic_seen < kFrameMagicSize && !frame.empty(); ++s.magic_seen) {
    if (frame[0] != kFrameMagic[s.magic_seen]) {
      ErrorRaise(kErrSubscript, kSource,
                 u"The data is not an LZSS frame: byte " +
                     Number(s.magic_seen) + u" differs from the frame's magic");
    }
    frame = frame.subspan(1);
    ++s.taken;
  }
  if (frame.empty()) return;
  s.taken += frame.size();
  if (frame.size() >= kFrameTrailerSize) {
    Feed({s.held, s.held_size}, false, out);
    Feed(frame.first(frame.size() - kFrameTrailerSize), false, out);
    std::memcpy(s.held, frame.data() + frame.size() - kFrameTrailerSize,
                kFrameTrailerSize);
    s.held_size = kFrameTrailerSize;
    return;
  }
  uint8_t joined[2 * kFrameTrailerSize];
  std::memcpy(joined, s.held, s.held_size);
  std::memcpy(joined + s.held_size, frame.data(), frame.size());
  const size_t n = s.held_size + frame.size();
  const size_t passed = n > kFrameTrailerSize ? n - kFrameTrailerSize : 0;
  Feed({joined, passed}, false, out);
  s.held_size = n - passed;
  std::memcpy(s.held, joined + passed, s.held_size);
}

void FrameDecompressor::Finish(std::vector<uint8_t>& out) {
  State& s = *state_;
  if (s.magic_seen < kFrameMagicSize)
    Damaged(u"ends at offset " + Number(s.taken) + u", inside its magic");
  if (s.held_size < kFrameTrailerSize) {
    Damaged(u"ends at offset " + Number(s.taken) +
            u", before its length and CRC-32");
  }
  const uint64_t trailer_at = s.taken - kFrameTrailerSize;
  // A frame of no bytes has no stream, which Decompressor::Finish allows.
  Feed({}, true, out);
  const uint64_t length = ReadLittleEndian(s.held, 8);
  const uint32_t crc = static_cast<uint32_t>(ReadLittleEndian(s.held + 8, 4));
  if (length != s.restored) {
    Damaged(u"restores " + Number(s.restored) +
            u" bytes where its trailer at offset " + Number(trailer_at) +
            u" says " + Number(length) + u": it is cut short or damaged");
  }
  if (crc != s.crc) {
    Damaged(u"restores bytes whose CRC-32 is " + Hex32(s.crc) +
            u" where its trailer at offset " + Number(trailer_at) + u" says " +
            Hex32(crc) + u": it is damaged");
  }
  state_ = std::make_unique<State>();
}

}  // namespace quorvel::mLZSS

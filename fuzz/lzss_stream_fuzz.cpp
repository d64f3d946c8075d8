// Feeds arbitrary bytes to the LZSS stream classes in pieces (the first
// byte picks their size): the decompressor must restore what Decompress
// restores or fail with error 9 where it does, and the compressor must
// write exactly what Compress writes for the whole. The same goes for the
// frame classes against DecompressFrame and CompressFrame, and the frame of
// the bytes must restore them.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "quorvel/error.h"
#include "quorvel/lzss.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

template <class Stream>
std::vector<uint8_t> InPieces(std::span<const uint8_t> in, size_t piece) {
  Stream stream;
  std::vector<uint8_t> out;
  for (size_t at = 0; at < in.size(); at += piece)
    stream.Write(in.subspan(at, std::min(piece, in.size() - at)), out);
  stream.Finish(out);
  return out;
}

// Restores `in` whole with `whole` and in pieces with `Stream`: both must
// give the same bytes, or both fail with error 9.
template <class Stream, class Whole>
void Agree(std::span<const uint8_t> in, size_t piece, Whole whole) {
  bool whole_ok = true;
  std::vector<uint8_t> restored;
  try {
    restored = whole(in);
  } catch (const quorvel::Error& e) {
    Check(e.number() == quorvel::kErrSubscript);
    whole_ok = false;
  }
  try {
    const std::vector<uint8_t> streamed = InPieces<Stream>(in, piece);
    Check(whole_ok && streamed == restored);
  } catch (const quorvel::Error& e) {
    Check(!whole_ok && e.number() == quorvel::kErrSubscript);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quorvel::mLZSS;
  if (size < 2) return 0;
  const size_t piece = 1 + data[0] * 7 % 61;
  const std::span<const uint8_t> in(data + 1, size - 1);
  Agree<Decompressor>(in, piece, &Decompress);
  Agree<FrameDecompressor>(in, piece, &DecompressFrame);
  Check(InPieces<Compressor>(in, piece) == Compress(in));
  const std::vector<uint8_t> frame = CompressFrame(in);
  Check(InPieces<FrameCompressor>(in, piece) == frame);
  const std::vector<uint8_t> back = DecompressFrame(frame);
  Check(back.size() == in.size() &&
        std::equal(back.begin(), back.end(), in.begin()));
  return 0;
}

// The LZSS stream and frame classes in pieces (byte 0 picks their size) do
// exactly what the whole-buffer functions do.
#include "fuzz_util.h"
#include "quorvel/lzss.h"

using namespace quorvel;
using namespace quorvel::fuzz;

namespace {

template <class Stream>
std::vector<uint8_t> InPieces(std::span<const uint8_t> in, size_t piece) {
  Stream stream;
  std::vector<uint8_t> out;
  for (size_t at = 0; at < in.size(); at += piece)
    stream.Write(in.subspan(at, std::min(piece, in.size() - at)), out);
  stream.Finish(out);
  return out;
}

template <class Stream, class Whole>
void Agree(std::span<const uint8_t> in, size_t piece, Whole whole) {
  std::vector<uint8_t> restored, streamed;
  const int32_t a = ErrorOf([&] { restored = whole(in); }, {kErrSubscript});
  const int32_t b =
      ErrorOf([&] { streamed = InPieces<Stream>(in, piece); }, {kErrSubscript});
  Check(a == b && streamed == restored);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace mLZSS;
  if (size < 2) return 0;
  const size_t piece = 1 + data[0] * 7 % 61;
  const std::span<const uint8_t> in(data + 1, size - 1);
  Agree<Decompressor>(in, piece, &Decompress);
  Agree<FrameDecompressor>(in, piece, &DecompressFrame);
  Check(InPieces<Compressor>(in, piece) == Compress(in));
  const std::vector<uint8_t> frame = CompressFrame(in);
  Check(InPieces<FrameCompressor>(in, piece) == frame);
  const std::vector<uint8_t> back = DecompressFrame(frame);
  Check(std::equal(back.begin(), back.end(), in.begin(), in.end()));
  return 0;
}

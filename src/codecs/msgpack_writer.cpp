#include "codecs/msgpack_writer.h"

#include <algorithm>
#include <utility>

namespace quorvel::mMsgPack {

void Writer::Commit() {
  size_t total = static_cast<size_t>(at_ - chunk_start_);
  for (const Chunk& c : full_) total += c.used;
  const size_t need = out_.size() + total;
  // Appending to a vector that already holds something grows it
  // geometrically, so that repeated appends stay linear.
  if (need > out_.capacity())
    out_.reserve(out_.empty() ? need : std::max(need, 2 * out_.capacity()));
  for (const Chunk& c : full_) out_.insert(out_.end(), c.data, c.data + c.used);
  out_.insert(out_.end(), chunk_start_, at_);
}

void Writer::NextChunk(size_t n) {
  const size_t size = std::max(n, next_size_);
  next_size_ = std::min(next_size_ * 2, kLargestChunk);
  std::unique_ptr<uint8_t[]> block(new uint8_t[size]);
  full_.push_back({chunk_start_, static_cast<size_t>(at_ - chunk_start_)});
  owned_.push_back(std::move(block));
  chunk_start_ = at_ = owned_.back().get();
  end_ = at_ + size;
}

}  // namespace quorvel::mMsgPack

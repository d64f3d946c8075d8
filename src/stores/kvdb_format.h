// The bytes of a key-value database file (docs/file-formats.md has the
// whole layout): a 52-byte header stored twice, then records back to back.
//   header: "KFKV", Version (i32, 1), RecordCount, DeletedCount, PutCount
//           (i32 each, informational), 32 reserved bytes carried over
//   record: signature (u16 2911), key length (i16), value length (i32),
//           flag (u8, 0 live, else deleted), key, value (one byte each per
//           character, Windows-1252)
#ifndef QUORVEL_SRC_STORES_KVDB_FORMAT_H_
#define QUORVEL_SRC_STORES_KVDB_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "stores/store_file.h"

namespace quorvel::internal {

class KvRecordFormat final : public RecordFormat {
 public:
  static constexpr int64_t kHeaderSize = 9;
  static constexpr size_t kMaxKeyLength = 32767;

  WalkStop Parse(ScanWindow& window, int64_t offset, int64_t length,
                 RecordInfo* out) const override;
  int64_t flag_at() const override { return 8; }
  bool chained() const override { return false; }
  std::vector<uint8_t> Filler(int32_t skip) const override;

  // Makes `record` the bytes of a live record (its room is reused). Raises
  // 6 for a key over 32,767 characters.
  static void Encode(std::u16string_view key, std::u16string_view value,
                     std::vector<uint8_t>& record);
};

// The key-value file as the store engine sees it; errors carry the source
// "CKVDB".
const StoreLayout& KvFileLayout();

}  // namespace quorvel::internal

#endif  // QUORVEL_SRC_STORES_KVDB_FORMAT_H_

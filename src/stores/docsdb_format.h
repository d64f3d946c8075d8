// The bytes of a document database file (docs/file-formats.md has the
// whole layout): a 60-byte header stored twice, then records chained from
// the one at offset 120.
//   header: "KDOCSTOR", Version (i32, 1), RecordCount, DeletedCount,
//           PutCount (informational), NextID (the id counter), 32 reserved
//           bytes carried over
//   record: signature (u16 2911), field count (i32, informational), next
//           (i32: the following record's offset + 1, 0 for the last), flag
//           (u8, 0 live, else deleted), identifier length (i32) and text
//           (Windows-1252), body length minus one (i32), body (the
//           MessagePack encoding of the record)
#ifndef QUORVEL_SRC_STORES_DOCSDB_FORMAT_H_
#define QUORVEL_SRC_STORES_DOCSDB_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

// Identifiers are stored as NormalizeDocId gives them; whoever reads the
// layout needs that rule too.
#include "stores/doc_rules.h"
#include "stores/store_file.h"

namespace quorvel::internal {

class DocRecordFormat final : public RecordFormat {
 public:
  static constexpr int64_t kHeaderSize = 11;
  static constexpr int64_t kFieldCountAt = 2;
  static constexpr int64_t kIdAt = kHeaderSize + 4;

  WalkStop Parse(ScanWindow& window, int64_t offset, int64_t length,
                 RecordInfo* out) const override;
  int64_t flag_at() const override { return 10; }
  bool chained() const override { return true; }
  int64_t link_at() const override { return 6; }

  // Returns the bytes of a live, unlinked record whose body
  // `append_body(record)` appends to the bytes before it, so that the body
  // is encoded into the record's own buffer.
  static std::vector<uint8_t> Encode(
      std::u16string_view id, int32_t field_count,
      const std::function<void(std::vector<uint8_t>&)>& append_body);
};

// Where the document file's header keeps the id counter, in one copy.
inline constexpr size_t kDocsNextIdAt = 24;

// The document file as the store engine sees it; errors carry the source
// "KxDocsDB".
const StoreLayout& DocsFileLayout();

}  // namespace quorvel::internal

#endif  // QUORVEL_SRC_STORES_DOCSDB_FORMAT_H_

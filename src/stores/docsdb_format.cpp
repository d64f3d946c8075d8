#include "stores/docsdb_format.h"

#include "quorvel/codepage.h"
#include "quorvel/error.h"

namespace quorvel::internal {

WalkStop DocRecordFormat::Parse(ScanWindow& window, int64_t offset,
                                int64_t length, RecordInfo* out) const {
  uint8_t h[kIdAt];
  if (!window.Copy(offset, h)) return WalkStop::kCutShort;
  if (Get16(h) != kSignature) return WalkStop::kNoSignature;
  const int32_t id_length = Get32(h + kHeaderSize);
  if (id_length < 0) return WalkStop::kBadLength;
  const int64_t body_length_at = offset + kIdAt + id_length;
  uint8_t b[4];
  if (!window.Copy(body_length_at, b)) return WalkStop::kCutShort;
  const int32_t body_last = Get32(b);
  if (body_last < 0) return WalkStop::kBadLength;
  out->offset = offset;
  out->flag = h[flag_at()];
  out->key_at = offset + kIdAt;
  out->key_size = id_length;
  out->body_at = body_length_at + 4;
  out->body_size = static_cast<int64_t>(body_last) + 1;
  out->end = out->body_at + out->body_size;
  // A torn append: the record claims more than the file holds.
  if (out->end > length) return WalkStop::kPastEnd;
  const int32_t link = Get32(h + link_at());
  out->next = link == 0 ? -1 : static_cast<int64_t>(link) - 1;
  out->after = WalkStop::kOk;
  if (link == 0) {
    out->after = WalkStop::kChainEnd;
  } else if (out->next < out->end) {
    // A link back, to itself or into its own bytes would let a damaged
    // chain loop or overlap; records only ever follow one another.
    out->next = -1;
    out->after = WalkStop::kLinkBack;
  }
  return WalkStop::kOk;
}

std::vector<uint8_t> DocRecordFormat::Encode(
    std::u16string_view id, int32_t field_count,
    const std::function<void(std::vector<uint8_t>&)>& append_body) {
  if (id.size() > static_cast<size_t>(kMaxPosition)) {
    RaiseOverflow(u"KxDocsDB",
                  u"a document id holds at most 2,147,483,647 characters");
  }
  std::vector<uint8_t> record(kIdAt);
  // A typical document's body fits, so it is encoded without a move.
  record.reserve(kIdAt + id.size() + 4 + 256);
  Put16(record.data(), kSignature);
  Put32(record.data() + kFieldCountAt, field_count);
  // next stays 0 and flag 0 (live) until a successor or a delete.
  Put32(record.data() + kHeaderSize, static_cast<int32_t>(id.size()));
  AppendAnsi(id, record);
  const size_t body_at = record.size() + 4;
  record.resize(body_at);
  append_body(record);
  const size_t body = record.size() - body_at;
  if (body == 0 || body > static_cast<size_t>(kMaxPosition)) {
    RaiseOverflow(u"KxDocsDB", u"an encoded document holds at most 2 GiB");
  }
  Put32(record.data() + body_at - 4, static_cast<int32_t>(body) - 1);
  return record;
}

const StoreLayout& DocsFileLayout() {
  static constexpr uint8_t kMagic[] = {'K', 'D', 'O', 'C', 'S', 'T', 'O', 'R'};
  static const DocRecordFormat records;
  static const StoreLayout layout = {
      .source = u"KxDocsDB",
      .invalid_file = u"This file is not a valid KxDocsDB file",
      .magic = kMagic,
      .header_size = 60,
      .version_at = 8,
      .record_count_at = 12,
      .deleted_count_at = 16,
      .put_count_at = 20,
      .records = &records,
  };
  return layout;
}

}  // namespace quorvel::internal

#include "stores/kvdb_format.h"

#include <string>

#include "quorvel/codepage.h"
#include "quorvel/error.h"

namespace quorvel::internal {

WalkStop KvRecordFormat::Parse(ScanWindow& window, int64_t offset,
                               int64_t length, RecordInfo* out) const {
  uint8_t h[kHeaderSize];
  if (!window.Copy(offset, h)) return WalkStop::kCutShort;
  if (Get16(h) != kSignature) return WalkStop::kNoSignature;
  const int16_t key_length = static_cast<int16_t>(Get16(h + 2));
  const int32_t value_length = Get32(h + 4);
  if (key_length < 0 || value_length < 0) return WalkStop::kBadLength;
  out->offset = offset;
  out->flag = h[8];
  out->key_at = offset + kHeaderSize;
  out->key_size = key_length;
  out->body_at = out->key_at + key_length;
  out->body_size = value_length;
  out->end = out->body_at + value_length;
  out->next = out->end;
  out->after = WalkStop::kOk;
  // A torn append: the record claims more than the file holds.
  if (out->end > length) return WalkStop::kPastEnd;
  return WalkStop::kOk;
}

std::vector<uint8_t> KvRecordFormat::Filler(int32_t skip) const {
  // Key length 0; the value is the bytes skipped.
  std::vector<uint8_t> h(kHeaderSize, 0);
  Put16(h.data(), kSignature);
  Put32(h.data() + 4, skip);
  h[8] = 1;
  return h;
}

void KvRecordFormat::Encode(std::u16string_view key, std::u16string_view value,
                            std::vector<uint8_t>& record) {
  if (key.size() > kMaxKeyLength) {
    const std::string n = std::to_string(key.size());
    std::u16string limit = u"a key holds at most 32,767 characters (this one ";
    limit.append(n.begin(), n.end());
    RaiseOverflow(u"CKVDB", limit + u")");
  }
  if (value.size() > static_cast<size_t>(kMaxPosition)) {
    RaiseOverflow(u"CKVDB", u"a value holds at most 2,147,483,647 characters");
  }
  record.resize(kHeaderSize + key.size() + value.size());
  uint8_t* at = record.data();
  Put16(at, kSignature);
  Put16(at + 2, static_cast<uint16_t>(key.size()));
  Put32(at + 4, static_cast<int32_t>(value.size()));
  at[8] = 0;  // live
  NarrowToAnsi(key, at + kHeaderSize);
  NarrowToAnsi(value, at + kHeaderSize + key.size());
}

const StoreLayout& KvFileLayout() {
  static constexpr uint8_t kMagic[] = {'K', 'F', 'K', 'V'};
  static const KvRecordFormat records;
  static const StoreLayout layout = {
      .source = u"CKVDB",
      .invalid_file = u"This file is not a valid CKVDB file",
      .magic = kMagic,
      .header_size = 52,
      .version_at = 4,
      .record_count_at = 8,
      .deleted_count_at = 12,
      .put_count_at = 16,
      .records = &records,
  };
  return layout;
}

}  // namespace quorvel::internal

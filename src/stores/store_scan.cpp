#include "quorvel/store_scan.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "quorvel/error.h"
#include "stores/doc_rules.h"
#include "stores/docsdb_format.h"
#include "stores/kvdb_format.h"
#include "stores/store_file.h"

namespace quorvel {

namespace {

using internal::Get32;

const internal::StoreLayout& LayoutOf(StoreKind kind) {
  return kind == StoreKind::kDocuments ? internal::DocsFileLayout()
                                       : internal::KvFileLayout();
}

bool HasMagic(std::span<const uint8_t> bytes, size_t at,
              const internal::StoreLayout& layout) {
  return bytes.size() >= at + layout.magic.size() &&
         std::memcmp(bytes.data() + at, layout.magic.data(),
                     layout.magic.size()) == 0;
}

// The kind whose magic copy A holds, else copy B; the stores choose a copy
// in that order too.
StoreKind Detect(std::span<const uint8_t> start) {
  constexpr StoreKind kKinds[] = {StoreKind::kKeyValue, StoreKind::kDocuments};
  for (const bool copy_b : {false, true}) {
    for (const StoreKind kind : kKinds) {
      const internal::StoreLayout& layout = LayoutOf(kind);
      if (HasMagic(start, copy_b ? layout.header_size : 0, layout)) return kind;
    }
  }
  ErrorRaise(kErrGeneralFailure, u"KxQuorvel",
             u"This file is neither a CKVDB nor a KxDocsDB file");
}

StoreHeaderCopy ReadCopy(const uint8_t* h, StoreKind kind) {
  const internal::StoreLayout& layout = LayoutOf(kind);
  StoreHeaderCopy copy;
  copy.magic.assign(reinterpret_cast<const char*>(h), layout.magic.size());
  copy.magic_ok = HasMagic({h, layout.header_size}, 0, layout);
  copy.version = Get32(h + layout.version_at);
  copy.record_count = Get32(h + layout.record_count_at);
  copy.deleted_count = Get32(h + layout.deleted_count_at);
  copy.put_count = Get32(h + layout.put_count_at);
  size_t reserved_at = layout.put_count_at + 4;
  if (kind == StoreKind::kDocuments) {
    copy.next_id = Get32(h + internal::kDocsNextIdAt);
    reserved_at = internal::kDocsNextIdAt + 4;
  }
  copy.reserved_zero = std::all_of(h + reserved_at, h + layout.header_size,
                                   [](uint8_t b) { return b == 0; });
  return copy;
}

StoreWalkStop Public(internal::WalkStop stop) {
  // A walk that ended while still reading ended at the end.
  return stop == internal::WalkStop::kOk ? StoreWalkStop::kEnd
                                         : static_cast<StoreWalkStop>(stop);
}

}  // namespace

StoreScanner StoreScanner::Open(const std::u16string& path, StoreKind kind,
                                FileSystem& fs) {
  StoreScanner scanner;
  scanner.file_ = fs.Open(path, OpenMode::kReadOnly);
  scanner.length_ = scanner.file_->Length();
  // Room for both copies of the larger header: enough to detect either.
  std::vector<uint8_t> start(2 * internal::DocsFileLayout().header_size);
  start.resize(scanner.file_->ReadSome(0, start));
  if (kind == StoreKind::kDetect) kind = Detect(start);
  scanner.kind_ = kind;
  const internal::StoreLayout& layout = LayoutOf(kind);
  const size_t size = layout.header_size;
  scanner.records_at_ = static_cast<int64_t>(2 * size);
  scanner.has_headers_ = start.size() >= 2 * size;
  if (!scanner.has_headers_) return scanner;
  scanner.a_ = ReadCopy(start.data(), kind);
  scanner.b_ = ReadCopy(start.data() + size, kind);
  // The rule by which a store chooses the copy it reads.
  switch (internal::ChooseHeaderCopy(layout, start.data())) {
    case 0:
      scanner.chosen_ = HeaderChoice::kA;
      break;
    case 1:
      scanner.chosen_ = HeaderChoice::kB;
      break;
    default:
      break;
  }
  return scanner;
}

StoreScanner::~StoreScanner() = default;
StoreScanner::StoreScanner(StoreScanner&&) noexcept = default;
StoreScanner& StoreScanner::operator=(StoreScanner&&) noexcept = default;

StoreWalkEnd StoreScanner::Walk(
    const std::function<void(const StoreRecord&)>& visit) {
  const internal::StoreLayout& layout = LayoutOf(kind_);
  if (!has_headers_)
    ErrorRaise(kErrGeneralFailure, layout.source, layout.invalid_file);
  const internal::RecordFormat& format = *layout.records;
  internal::ScanWindow window(*file_);
  StoreWalkEnd result;
  const internal::WalkEnd end = internal::WalkRecords(
      window, format, records_at_, length_,
      [&](const internal::RecordInfo& rec) {
        // One view of the whole record, so that the header fields, the key
        // and the body all stay valid together.
        const size_t size = static_cast<size_t>(rec.end - rec.offset);
        const uint8_t* p = window.View(rec.offset, size);
        if (p == nullptr) RaiseStandard(kErrInputPastEnd);
        StoreRecord out;
        out.offset = rec.offset;
        out.end = rec.end;
        out.flag = rec.flag;
        out.next = rec.end;
        if (format.chained()) {
          const int32_t link = Get32(p + format.link_at());
          out.next = link == 0 ? -1 : static_cast<int64_t>(link) - 1;
          out.field_count = Get32(p + internal::DocRecordFormat::kFieldCountAt);
        }
        out.key = {p + (rec.key_at - rec.offset),
                   static_cast<size_t>(rec.key_size)};
        out.body = {p + (rec.body_at - rec.offset),
                    static_cast<size_t>(rec.body_size)};
        ++result.records;
        visit(out);
      });
  result.stop_at = end.at;
  result.stop = Public(end.why);
  result.stop_text = internal::WalkStopText(end.why);
  result.records_end = end.covered;
  result.bytes_past = length_ - end.covered;
  return result;
}

String NormalizeDocId(std::u16string_view id) {
  return internal::NormalizeDocId(id);
}

}  // namespace quorvel

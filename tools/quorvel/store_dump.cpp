#include "store_dump.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "cli.h"
#include "quorvel/codepage.h"
#include "stores/db_file.h"

namespace quorvel::cli {

std::string QuoteAnsi(std::string_view bytes) {
  std::string out = "\"";
  for (char ch : bytes) {
    const uint8_t b = static_cast<uint8_t>(ch);
    if (b < 0x20 || b == 0x7F || b == '"' || b == '\\') {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02X", b);
      out += esc;
    } else {
      out += ToUtf8(std::u16string(1, UnitFromAnsi(b)));
    }
  }
  return out + "\"";
}

namespace {

void DumpHeader(const char* name, const uint8_t* h,
                const internal::StoreLayout& layout,
                std::initializer_list<std::pair<const char*, size_t>> extra) {
  size_t reserved_at = layout.put_count_at + 4;
  std::string fields;
  for (const auto& [field, at] : extra) {
    fields += " " + std::string(field) + " " +
              std::to_string(internal::Get32(h + at));
    reserved_at = std::max(reserved_at, at + 4);
  }
  bool reserved_zero = true;
  for (size_t i = reserved_at; i < layout.header_size; ++i)
    reserved_zero &= h[i] == 0;
  std::printf(
      "header %s: magic %s version %d records %d deleted %d puts %d%s "
      "reserved %s\n",
      name,
      QuoteAnsi({reinterpret_cast<const char*>(h), layout.magic.size()})
          .c_str(),
      internal::Get32(h + layout.version_at),
      internal::Get32(h + layout.record_count_at),
      internal::Get32(h + layout.deleted_count_at),
      internal::Get32(h + layout.put_count_at), fields.c_str(),
      reserved_zero ? "zero" : "non-zero");
}

}  // namespace

int DumpStore(std::string_view path, const internal::StoreLayout& layout,
              std::initializer_list<std::pair<const char*, size_t>> extra,
              const RecordText& describe) {
  std::unique_ptr<internal::DbFile> file = internal::FileSystem::Default().Open(
      FromUtf8(path), internal::OpenMode::kReadOnly);
  const int64_t length = file->Length();
  std::printf("file length %" PRId64 "\n", length);
  const size_t size = layout.header_size;
  std::vector<uint8_t> headers(2 * size);
  if (length < static_cast<int64_t>(2 * size) ||
      file->ReadSome(0, headers) != headers.size()) {
    std::printf("shorter than the two header copies (%zu bytes)\n", 2 * size);
    return 1;
  }
  DumpHeader("A", headers.data(), layout, extra);
  DumpHeader("B", headers.data() + size, layout, extra);
  internal::ScanWindow window(*file);
  int64_t records = 0;
  const internal::WalkEnd end = internal::WalkRecords(
      window, *layout.records, static_cast<int64_t>(2 * size), length,
      [&](const internal::RecordInfo& rec) {
        std::printf("@%" PRId64 " %s %s\n", rec.offset,
                    rec.live() ? "live" : "deleted",
                    describe(rec, window).c_str());
        ++records;
      });
  std::printf("@%" PRId64 " %s\n", end.at, internal::WalkStopText(end.why));
  const int64_t past = length - end.covered;
  std::printf("%" PRId64 " record%s, %" PRId64 " byte%s past them\n", records,
              records == 1 ? "" : "s", past, past == 1 ? "" : "s");
  return 0;
}

}  // namespace quorvel::cli

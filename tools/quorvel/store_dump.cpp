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

std::string QuoteAt(internal::ScanWindow& window, int64_t at, int64_t size) {
  const uint8_t* p = window.View(at, static_cast<size_t>(size));
  return p == nullptr ? std::string("?")
                      : QuoteAnsi({reinterpret_cast<const char*>(p),
                                   static_cast<size_t>(size)});
}

namespace {

void DumpHeader(Output& out, const char* name, const uint8_t* h,
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
  const auto field = [&](const char* label, size_t at) {
    return std::string(label) + std::to_string(internal::Get32(h + at));
  };
  out.Write("header " + std::string(name) + ": magic " +
            QuoteAnsi({reinterpret_cast<const char*>(h), layout.magic.size()}) +
            field(" version ", layout.version_at) +
            field(" records ", layout.record_count_at) +
            field(" deleted ", layout.deleted_count_at) +
            field(" puts ", layout.put_count_at) + fields + " reserved " +
            (reserved_zero ? "zero" : "non-zero") + "\n");
}

}  // namespace

void DumpStore(std::string_view path, Output& out,
               const internal::StoreLayout& layout,
               std::initializer_list<std::pair<const char*, size_t>> extra,
               const RecordText& describe) {
  std::unique_ptr<internal::DbFile> file = internal::FileSystem::Default().Open(
      FromUtf8(path), internal::OpenMode::kReadOnly);
  const int64_t length = file->Length();
  out.Write("file length " + std::to_string(length) + "\n");
  const size_t size = layout.header_size;
  std::vector<uint8_t> headers(2 * size);
  if (length < static_cast<int64_t>(2 * size) ||
      file->ReadSome(0, headers) != headers.size()) {
    throw Failure(std::string(path),
                  "shorter than the two header copies (" +
                      std::to_string(2 * size) + " bytes)",
                  kErrInputPastEnd);
  }
  DumpHeader(out, "A", headers.data(), layout, extra);
  DumpHeader(out, "B", headers.data() + size, layout, extra);
  internal::ScanWindow window(*file);
  int64_t records = 0;
  const internal::WalkEnd end = internal::WalkRecords(
      window, *layout.records, static_cast<int64_t>(2 * size), length,
      [&](const internal::RecordInfo& rec) {
        out.Write("@" + std::to_string(rec.offset) +
                  (rec.live() ? " live " : " deleted ") +
                  describe(rec, window) + "\n");
        ++records;
      });
  out.Write("@" + std::to_string(end.at) + " " +
            internal::WalkStopText(end.why) + "\n");
  const int64_t past = length - end.covered;
  out.Write(std::to_string(records) +
            (records == 1 ? " record, " : " records, ") + std::to_string(past) +
            (past == 1 ? " byte" : " bytes") + " past them\n");
}

}  // namespace quorvel::cli

#include "store_dump.h"

#include <cstdio>

#include "cli.h"
#include "quorvel/codepage.h"

namespace quorvel::cli {

std::string QuoteAnsi(std::span<const uint8_t> bytes) {
  std::string out = "\"";
  for (const uint8_t b : bytes) {
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

void DumpHeader(Output& out, const char* name, const StoreHeaderCopy& h) {
  const auto field = [](const char* label, int32_t value) {
    return std::string(label) + std::to_string(value);
  };
  out.Write("header " + std::string(name) + ": magic " +
            QuoteAnsi({reinterpret_cast<const uint8_t*>(h.magic.data()),
                       h.magic.size()}) +
            field(" version ", h.version) + field(" records ", h.record_count) +
            field(" deleted ", h.deleted_count) + field(" puts ", h.put_count) +
            (h.next_id ? field(" next id ", *h.next_id) : "") + " reserved " +
            (h.reserved_zero ? "zero" : "non-zero") + "\n");
}

}  // namespace

void DumpStore(std::string_view path, Output& out, StoreKind kind,
               const RecordText& describe) {
  StoreScanner file = StoreScanner::Open(FromUtf8(path), kind);
  out.Write("file length " + std::to_string(file.length()) + "\n");
  if (!file.has_headers()) {
    throw Failure(std::string(path),
                  "shorter than the two header copies (" +
                      std::to_string(file.records_at()) + " bytes)",
                  kErrInputPastEnd);
  }
  DumpHeader(out, "A", file.header_a());
  DumpHeader(out, "B", file.header_b());
  const StoreWalkEnd end = file.Walk([&](const StoreRecord& rec) {
    out.Write("@" + std::to_string(rec.offset) +
              (rec.live() ? " live " : " deleted ") + describe(rec) + "\n");
  });
  out.Write("@" + std::to_string(end.stop_at) + " " + end.stop_text + "\n");
  out.Write(std::to_string(end.records) +
            (end.records == 1 ? " record, " : " records, ") +
            std::to_string(end.bytes_past) +
            (end.bytes_past == 1 ? " byte" : " bytes") + " past them\n");
}

}  // namespace quorvel::cli

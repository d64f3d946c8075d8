// `quorvel kv FILE ACTION`: a key-value database file from the shell.
//
//   get KEY          print the value (exit 1 when the key is absent)
//   put KEY VALUE    set a value
//   delete KEY       delete a key (absent keys are fine)
//   list             print the live keys, one a line, in index order
//   compact          rewrite the file with only the live pairs
//   dump             print both header copies and every record, raw
//
// Keys and values are taken and printed as UTF-8; the file stores them in
// Windows-1252, so characters outside it come back as '?'.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "cli.h"
#include "quorvel/codepage.h"
#include "quorvel/kxkvdb.h"

namespace quorvel::cli {

namespace {

constexpr const char* kUsage =
    "usage: quorvel kv FILE get KEY | put KEY VALUE | delete KEY | list | "
    "compact | dump\n";

int32_t Le32(const uint8_t* p) {
  return static_cast<int32_t>(
      static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
      static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
}

// Quotes file text for the terminal: control bytes as \xNN.
std::string Quote(std::span<const uint8_t> bytes) {
  std::string out = "\"";
  for (uint8_t b : bytes) {
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

void DumpHeader(const char* name, const uint8_t* h) {
  bool reserved_zero = true;
  for (int i = 20; i < 52; ++i) reserved_zero &= h[i] == 0;
  std::printf(
      "header %s: magic %s version %d records %d deleted %d puts %d "
      "reserved %s\n",
      name, Quote({h, 4}).c_str(), Le32(h + 4), Le32(h + 8), Le32(h + 12),
      Le32(h + 16), reserved_zero ? "zero" : "non-zero");
}

// Walks the file the way the store's scan does, but prints every record,
// deleted ones included, and says why it stopped. Reads the raw bytes, so a
// damaged file can be looked at too.
int Dump(std::string_view path) {
  std::string raw;
  if (!ReadInput(path, &raw)) return 1;
  std::span<const uint8_t> file(reinterpret_cast<const uint8_t*>(raw.data()),
                                raw.size());
  const int64_t length = static_cast<int64_t>(file.size());
  std::printf("file length %" PRId64 "\n", length);
  if (length < 104) {
    std::printf("shorter than the two header copies (104 bytes)\n");
    return 1;
  }
  DumpHeader("A", file.data());
  DumpHeader("B", file.data() + 52);
  int64_t offset = 104;
  int64_t records = 0;
  while (offset + 1 < length) {
    if (offset + 9 > length) {
      std::printf("@%" PRId64 " record header cut short by the end\n", offset);
      return 0;
    }
    const uint8_t* h = file.data() + offset;
    int signature = h[0] | h[1] << 8;
    int16_t key_length = static_cast<int16_t>(h[2] | h[3] << 8);
    int32_t value_length = Le32(h + 4);
    if (signature != 2911) {
      std::printf("@%" PRId64 " no record signature (%d): the scan stops\n",
                  offset, signature);
      return 0;
    }
    if (key_length < 0 || value_length < 0 ||
        offset + 9 + key_length + static_cast<int64_t>(value_length) > length) {
      std::printf("@%" PRId64 " record with lengths %d/%d beyond the end\n",
                  offset, key_length, value_length);
      return 0;
    }
    std::span<const uint8_t> key = file.subspan(offset + 9, key_length);
    std::span<const uint8_t> value =
        file.subspan(offset + 9 + key_length, value_length);
    std::printf("@%" PRId64 " flag %d (%s) key %s value %s\n", offset, h[8],
                h[8] == 0 ? "live" : "deleted", Quote(key).c_str(),
                Quote(value).c_str());
    offset += 9 + key_length + static_cast<int64_t>(value_length);
    ++records;
  }
  std::printf("%" PRId64 " records, end at %" PRId64 "\n", records, offset);
  return 0;
}

}  // namespace

int RunKv(std::span<char*> args) {
  if (args.size() < 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::u16string path = FromUtf8(args[0]);
  const std::string_view action = args[1];
  const size_t extra = args.size() - 2;
  auto arg = [&](size_t i) { return String(FromUtf8(args[2 + i])); };

  if (action == "dump" && extra == 0) return Dump(args[0]);

  Ref<KxKVDB> db = KxKVDB::Create();
  if (action == "get" && extra == 1) {
    db->OpenDB(path);
    String key = arg(0);
    if (!db->HasKey(key)) return 1;
    PrintLine(db->Item(key));
    return 0;
  }
  if (action == "put" && extra == 2) {
    db->OpenDB(path);
    db->PutValue(arg(0), arg(1));
    db->CloseDB();
    return 0;
  }
  if (action == "delete" && extra == 1) {
    db->OpenDB(path);
    db->DeleteKey(arg(0));
    db->CloseDB();
    return 0;
  }
  if (action == "list" && extra == 0) {
    db->OpenDB(path);
    Value keys = db->Keys();
    for (int32_t i = LBound(keys); i <= UBound(keys); ++i)
      PrintLine(ArrayItem(keys, i).string_view());
    return 0;
  }
  if (action == "compact" && extra == 0) {
    db->OpenDB(path);
    db->Compact(true);
    return 0;
  }
  std::fputs(kUsage, stderr);
  return 2;
}

}  // namespace quorvel::cli

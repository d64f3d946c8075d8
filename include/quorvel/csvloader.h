// `CsvLoader`: CSV text as RFC 4180 defines it, loaded into a CDataset a
// piece at a time.
#ifndef QUORVEL_CSVLOADER_H_
#define QUORVEL_CSVLOADER_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "quorvel/cdataset.h"
#include "quorvel/object.h"
#include "quorvel/string.h"
#include "quorvel/value.h"

namespace quorvel {

namespace internal {
class TextInterner;
}  // namespace internal

// What CsvLoader reads beyond the dataset's CsvOptions; the defaults are
// RFC 4180's.
struct CsvDialect {
  // False: a double quote is a character like any other, so that no field
  // holds a separator or spans lines (tab-separated tables that were never
  // meant to be quoted).
  bool quotes = true;
  // A line that begins with this character, where a record would begin,
  // is skipped to its end (0: none). Inside a quoted field it is text.
  char16_t comment = 0;
  // Without a header, records may differ in length: the columns are as many
  // as the longest record has and shorter records get Null in the rest.
  // The records are then held until Finish, which makes the columns. With a
  // header, the header still decides.
  bool uneven = false;
};

// Reads CSV text into a dataset as it arrives, in pieces cut anywhere.
//
// The dialect is RFC 4180's, with the line ends Unix and old Macintosh
// text use: a record ends at LF, CR LF or CR (or the end of the text); a
// field that begins with a double quote runs to the next double quote not
// doubled, and may hold the separator, line breaks and doubled double
// quotes, which stand for one; a double quote anywhere else is a fault, as
// is text between a closing quote and the end of its field. Spaces belong
// to the fields. A U+FEFF at the very start is skipped, and so are records
// that are empty lines.
//
// With a header, its fields name the columns: an empty (or all-space) name
// becomes Col and the column's number, and a name already taken gets _2,
// _3, ... (the first free one). Without one, the first record makes the
// columns Col1 to ColN. A record with fewer fields than columns gets Null
// in the rest; one with more is a fault. Every value is a String.
//
// The loader holds the dataset; thread-compatible.
class CsvLoader {
 public:
  // Clears `target` and prepares to load it. Raises 5 (source "CSV") for a
  // separator that is a double quote, CR or LF, or a comment character that
  // is one of those or the separator.
  CsvLoader(CDataset& target, const CsvOptions& options);
  CsvLoader(CDataset& target, const CsvOptions& options,
            const CsvDialect& dialect);
  ~CsvLoader();
  CsvLoader(const CsvLoader&) = delete;
  CsvLoader& operator=(const CsvLoader&) = delete;

  // Reads the next piece of the text. Raises 9, source "CSV", "Line L,
  // column C: " and the fault at the first fault; the dataset then holds
  // the records before the one at fault.
  void Feed(std::u16string_view text);
  // Ends the text: loads the last record. Raises as Feed, also for a
  // quoted field still open.
  void Finish();

  // The place the load has reached, lines and columns counted from 1,
  // columns in characters (a surrogate pair is one); after a fault, the
  // place of the fault.
  int64_t line() const { return line_; }
  int64_t column() const { return column_; }
  // The fault alone, without its place; empty while there is none.
  std::u16string_view fault() const { return fault_; }

 private:
  enum class State {
    kFieldStart,
    kUnquoted,
    kQuoted,
    kQuoteInQuoted,
    kComment
  };

  [[noreturn]] void Fault(int64_t line, int64_t column,
                          std::u16string_view what);
  void EndField();
  void EndRecord();
  // Counts a line end; `cr` says it was a CR, whose LF ends no more.
  void NewLine(bool cr);
  void MakeColumns(size_t count);

  CDataset& target_;
  const char16_t separator_;
  CsvDialect dialect_;
  bool header_pending_;
  State state_ = State::kFieldStart;
  bool record_started_ = false;  // a character of the record was read
  bool after_cr_ = false;        // an LF here ends nothing more
  bool at_start_ = true;         // a U+FEFF here is skipped

  std::u16string field_;
  std::vector<Value> fields_;
  // Equal short fields share one String.
  std::unique_ptr<internal::TextInterner> interner_;
  // Where each field of the record began (line, column).
  std::vector<std::pair<int64_t, int64_t>> field_places_;
  // Records held for the columns of uneven ones, and the widest's length.
  std::vector<std::vector<Value>> held_;
  size_t widest_ = 0;

  int64_t line_ = 1;
  int64_t column_ = 1;
  int64_t quote_line_ = 1;  // where the open quoted field began
  int64_t quote_column_ = 1;
  std::u16string fault_;
};

}  // namespace quorvel

#endif  // QUORVEL_CSVLOADER_H_

// The module `JSON`'s strict reader: JSON text as RFC 8259 defines it and
// nothing more, reporting the place of the first fault. It reads any value
// at the top level, text that arrives in pieces, and hands what it reads to
// a handler as it goes, so that a caller can pass large documents through
// without holding them; `ParseStrict` builds the containers the lenient
// reader builds.
//
// Numbers become Decimal when a Decimal holds them exactly (at most 28
// decimal places and a magnitude below 2^96 at that scale) and Double
// otherwise; one that not even a Double can hold (beyond about 1.8E+308, or
// a non-zero number below about 4.9E-324) is a fault. Containers may nest
// kMaxDepth deep. Strings may hold any code unit that an escape can write,
// lone surrogates included. `-0` and `-0.0` give a Decimal zero whose sign
// is set: it equals zero and writes as 0 everywhere but in the standard
// writer (json_standard.h), which writes -0.
#ifndef QUORVEL_JSON_STRICT_H_
#define QUORVEL_JSON_STRICT_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "quorvel/carray.h"
#include "quorvel/dictionary.h"
#include "quorvel/json.h"
#include "quorvel/string.h"
#include "quorvel/value.h"

namespace quorvel::JSON {

// What a strict read finds, in the order of the text. Text handed over as a
// view lives until the call returns. A handler may raise to stop the read.
class StrictHandler {
 public:
  virtual ~StrictHandler() = default;
  virtual void BeginObject() = 0;
  // The name of the member whose value comes next.
  virtual void Key(std::u16string_view name) = 0;
  virtual void EndObject() = 0;
  virtual void BeginArray() = 0;
  virtual void EndArray() = 0;
  // A string value.
  virtual void Text(std::u16string_view text) = 0;
  // A number (Decimal or Double), true, false (Boolean) or null (Null).
  virtual void Scalar(const Value& value) = 0;

  // Returns whether string values come in pieces through TextPiece instead
  // of whole through Text, so that neither the reader nor the handler holds
  // more than kMaxTextPiece code units of one. Asked once per read; keys
  // always come whole.
  virtual bool TakesTextInPieces() const { return false; }
  // Takes a piece of a string value: at most kMaxTextPiece code units, never
  // ending between the halves of a surrogate pair. A value's last piece,
  // which may be empty, has `last` set. Only a handler that takes text in
  // pieces is handed one; this default raises 5.
  virtual void TextPiece(std::u16string_view text, bool last);
};

// The most code units one piece of a string value holds (512 KiB).
inline constexpr size_t kMaxTextPiece = size_t{1} << 18;

// Hands a strict reader its text a piece at a time.
class TextSource {
 public:
  virtual ~TextSource() = default;
  // Returns the next piece of the text, or an empty view at its end. A
  // piece stays valid until the next call.
  virtual std::u16string_view Next() = 0;
};

// A text already in memory, handed over in pieces of `piece` code units
// (whole by default).
class TextPieces : public TextSource {
 public:
  explicit TextPieces(std::u16string_view text, size_t piece = SIZE_MAX)
      : text_(text), piece_(piece) {}
  std::u16string_view Next() override {
    const std::u16string_view next = text_.substr(0, piece_);
    text_.remove_prefix(next.size());
    return next;
  }

 private:
  std::u16string_view text_;
  size_t piece_;
};

// Reads one JSON text from a source. Not copyable; thread-compatible.
class StrictReader {
 public:
  explicit StrictReader(TextSource& source);
  ~StrictReader();
  StrictReader(const StrictReader&) = delete;
  StrictReader& operator=(const StrictReader&) = delete;

  // Reads the text, one value with blanks (space, TAB, CR, LF) around it,
  // and reports what it holds to `handler`. Raises 9, source "JSON",
  // "Line L, column C: " and the fault for the first fault; what a handler
  // raises passes through.
  void Read(StrictHandler& handler);

  // The place the read has reached, lines and columns counted from 1,
  // columns in characters (a surrogate pair is one); after a fault, the
  // place of the fault.
  int64_t line() const;
  int64_t column() const;
  // The place where the token last read began (the opening quote of a
  // string, the first character of a number).
  int64_t token_line() const;
  int64_t token_column() const;
  // The fault alone, without its place; empty while there is none.
  std::u16string_view fault() const;

  // For the number being handed to StrictHandler::Scalar, and only during
  // that call: its text as written, and whether the Value is exactly that
  // number. A Decimal always is; a Double is when its shortest round-trip
  // text denotes the same decimal number (same sign, significant digits and
  // power of ten): 1e30 and 1.5e-30 are, 2^96 written in full (whose
  // shortest Double text is 7.922816251426434e+28) and 0.1 followed by 30
  // digits are not.
  bool number_exact() const;
  std::u16string_view number_text() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

// Builds what a strict read finds into the containers of the lenient
// reader: objects as Dictionary, arrays as CArray. A name that repeats in
// one object keeps the place of its first appearance and the value of its
// last, as JavaScript's reader does. Subclasses may look at what passes
// (and raise) before handing it on.
class TreeBuilder : public StrictHandler {
 public:
  void BeginObject() override;
  void Key(std::u16string_view name) override;
  void EndObject() override;
  void BeginArray() override;
  void EndArray() override;
  void Text(std::u16string_view text) override;
  void Scalar(const Value& value) override;

  // Returns what was built (Empty before anything was read) and starts
  // afresh.
  Value Take();

 private:
  struct Open {
    Ref<Dictionary> dict;  // or else
    Ref<CArray> list;
    String key;
  };
  void Put(Value value);

  std::vector<Open> open_;
  Value root_;
};

// Reads `text` strictly and returns its value: a Dictionary, a CArray, a
// String, a number, a Boolean or Null. Raises as StrictReader::Read.
Value ParseStrict(std::u16string_view text);

}  // namespace quorvel::JSON

#endif  // QUORVEL_JSON_STRICT_H_

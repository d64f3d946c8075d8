// Shared pieces of the quorvel command-line tool: how a verb takes its
// arguments, reads its input, writes its output, reports what went wrong
// and shows its progress.
//
// A verb parses its arguments with `Args` against a `VerbSpec` (which also
// gives it --help, -o, --progress and --quiet), reads with `Input` (and
// `InputText` for UTF-8 text), writes with `Output`, and throws `Failure`
// (exit 1) or `UsageError` (exit 2); `main` reports them. Library errors
// that reach `main` are reported against the input being read.
#ifndef QUORVEL_TOOLS_CLI_H_
#define QUORVEL_TOOLS_CLI_H_

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "quorvel/json_standard.h"
#include "quorvel/json_strict.h"
#include "quorvel/quorvel.h"
#include "quorvel/storable.h"
#include "quorvel/utf8.h"

namespace quorvel::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// The most a verb that streams holds of its input at once.
inline constexpr size_t kChunk = size_t{1} << 20;

// A command takes the arguments after its name and returns the exit status.
using Command = int (*)(std::span<char*> args);

int RunDemo(std::span<char*> args);
int RunJson(std::span<char*> args);
int RunCsv(std::span<char*> args);
int RunBase64(std::span<char*> args);
int RunLzss(std::span<char*> args);
int RunRc4(std::span<char*> args);
int RunVerhoeff(std::span<char*> args);
int RunMsgPack(std::span<char*> args);
int RunKv(std::span<char*> args);
int RunDocs(std::span<char*> args);
void DemoDataset();
void DemoCArray();
void DemoJson();
void DemoDocs();

// ------------------------------------------------------------ failures

// A failure the tool reports as "quorvel: WHERE: WHAT (error NUMBER)" and
// exits 1 on. WHERE names the file (or "standard input", "standard
// output"), with ":LINE:COLUMN" for a place in text.
class Failure : public std::exception {
 public:
  Failure(std::string where, std::string what, int32_t number);
  const std::string& where() const { return where_; }
  const std::string& what_happened() const { return what_; }
  int32_t number() const { return number_; }
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  std::string where_;
  std::string what_;
  int32_t number_;
};

// A mistake in the arguments: "quorvel VERB: WHAT", a pointer to --help,
// exit 2.
class UsageError : public std::exception {
 public:
  UsageError(std::string verb, std::string what)
      : verb_(std::move(verb)), what_(std::move(what)) {}
  const std::string& verb() const { return verb_; }
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  std::string verb_;
  std::string what_;
};

// Returns the library's number for a file error (an errno value): 53 file
// not found, 76 path not found, 75 path/file access error, 61 disk full,
// 57 device I/O error for the rest.
int32_t FileErrorNumber(int err);
// Throws the Failure for errno value `err` on `where`.
[[noreturn]] void FailFile(std::string_view where, int err);
// Returns "WHERE:LINE:COLUMN".
std::string Place(std::string_view where, int64_t line, int64_t column);
// Throws a Failure for a library error met at `where`.
[[noreturn]] void FailAt(std::string_view where, const Error& e);

// Prints "quorvel: WHERE: WHAT (error NUMBER)" (without "WHERE: " when it
// is empty) to standard error.
void Report(std::string_view where, std::string_view what, int32_t number);
// Prints "quorvel: error NUMBER (SOURCE): DESCRIPTION" to standard error.
void ReportError(const Error& e);
// Prints "quorvel: WHERE: warning: WHAT" to standard error.
void Warn(std::string_view where, std::string_view what);
// Returns a message line made safe for a terminal: control characters
// (C0, DEL, C1: a terminal's escape sequences start with them) and bytes
// that are not UTF-8 as escapes (\n, \x1B, \u009B, \xFF).
std::string Printable(std::string_view text);
// Returns input echoed in a message: between single quotes, escaped as
// Printable does (a backslash doubled), and past a few dozen characters
// cut short and followed by its length: "'1234…' (2,000,000 characters)".
std::string Quote(std::string_view text);
std::string Quote(std::u16string_view text);
// Checks what went to standard output through stdio: returns `status`, or
// kExitFailure after reporting a failed write.
int FinishStandardOutput(int status);
// The name of the input most recently opened, which library errors that
// reach `main` are reported against.
const std::string& CurrentInput();

// ----------------------------------------------------------- arguments

enum class ProgressMode { kAuto, kOn, kOff };

struct OptionSpec {
  std::string_view name;   // "--indent"
  std::string_view value;  // "N"; empty for an option without a value
  std::string_view help;
  // The actions it goes with ("format", "get|export"); empty for every one.
  std::string_view actions = {};
};

// What a verb accepts and says about itself in --help.
struct VerbSpec {
  std::string_view name;      // "json"
  std::string_view synopsis;  // each line after "usage: quorvel "
  std::string_view about;     // the text after the synopsis
  std::span<const OptionSpec> options;
};

// The parsed arguments of one verb. Options may come anywhere, as
// "--name VALUE" or "--name=VALUE"; "--" ends them; "-" is a positional
// argument (standard input). Every verb also takes -o/--output FILE,
// --progress, --quiet and -h/--help.
class Args {
 public:
  // Throws UsageError for an option the verb does not take or one that
  // lacks its value.
  Args(const VerbSpec& spec, std::span<char*> args);

  // True when --help was given: the help is printed and the verb should
  // return kExitOk at once.
  bool help() const { return help_; }
  bool Has(std::string_view name) const;
  std::optional<std::string_view> Get(std::string_view name) const;
  // The value of a numeric option, `fallback` when absent; throws
  // UsageError outside [min, max].
  int64_t GetInt(std::string_view name, int64_t fallback, int64_t min,
                 int64_t max) const;
  const std::vector<std::string_view>& positional() const {
    return positional_;
  }
  // The output file, "-" for standard output.
  std::string_view output() const { return output_; }
  ProgressMode progress() const { return progress_; }
  std::string_view verb() const { return spec_.name; }

  // The action word, the positional argument at `position` (the first by
  // default), which must be one of `actions` ("encode|decode"). Throws
  // UsageError for another word, and for an option given that does not go
  // with this action.
  std::string_view Action(std::string_view actions, size_t position = 0) const;
  // The input after the action: FILE or "-" (the default). Throws
  // UsageError for more than one.
  std::string_view InputAfter(size_t index) const;

  [[noreturn]] void Fail(std::string what) const;

 private:
  const VerbSpec& spec_;
  std::vector<std::pair<std::string_view, std::string_view>> values_;
  std::vector<std::string_view> positional_;
  std::string_view output_ = "-";
  ProgressMode progress_ = ProgressMode::kAuto;
  bool help_ = false;
};

// Prints the verb's help to standard output.
void PrintHelp(const VerbSpec& spec);

class Input;
class Output;
// The common course of a command that reads an input and writes an
// output: opens the input after the action word (FILE or "-", standard
// input) with the progress the arguments ask for and the output they name,
// hands both to `work` and finishes the output. Returns kExitOk.
int Filter(const Args& args, std::string_view action,
           const std::function<void(Input&, Output&)>& work);

// ------------------------------------------------------------ progress

// A line on standard error for long work: bytes done, the rate, and with a
// known total the share done and the time left. It appears once the work
// has run a second, when standard error is a terminal (kAuto) or always
// (kOn), and is redrawn at most five times a second.
class Progress {
 public:
  Progress(ProgressMode mode, std::string label, std::optional<uint64_t> total);
  ~Progress() { Done(); }
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void Advance(uint64_t bytes) {
    done_ += bytes;
    if (enabled_) Tick();
  }
  // Clears the line (a terminal) or ends it (anything else).
  void Done();

 private:
  void Tick();

  bool enabled_;
  bool on_terminal_;
  bool shown_ = false;
  std::string label_;
  std::optional<uint64_t> total_;
  uint64_t done_ = 0;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point next_;
};

// --------------------------------------------------------------- input

// A file, or standard input for "-", read in pieces. Throws Failure for a
// file that cannot be opened or read.
class Input {
 public:
  Input(std::string_view path, ProgressMode progress = ProgressMode::kOff,
        std::string_view label = "");
  ~Input();
  Input(const Input&) = delete;
  Input& operator=(const Input&) = delete;

  // "standard input" or the path.
  const std::string& name() const { return name_; }
  // Returns the next piece, at most kChunk bytes (or `limit`); empty at the
  // end. The piece lives until the next call.
  std::span<const uint8_t> Next(size_t limit = kChunk);
  // Returns all that is left.
  std::string ReadAll();
  // Returns true when nothing at all is left. Reads the next piece ahead,
  // which the next call of Next returns whatever its limit.
  bool AtEnd();
  // Bytes read so far.
  uint64_t offset() const { return offset_; }

 private:
  std::string name_;
  int fd_;
  uint64_t offset_ = 0;
  std::vector<uint8_t> buffer_;
  std::optional<std::span<const uint8_t>> ahead_;  // read by AtEnd
  std::optional<Progress> progress_;
};

// UTF-8 text from an Input as UTF-16 pieces, every byte checked: a byte
// that is not UTF-8 (an encoded surrogate or an overlong form included) is
// a Failure at its line and column. A leading byte order mark is skipped.
class InputText : public JSON::TextSource {
 public:
  explicit InputText(Input& input) : input_(input) {}
  // Returns the next piece; empty at the end.
  std::u16string_view Next() override;
  // Returns all that is left.
  std::u16string ReadAll();

 private:
  [[noreturn]] void Bad(const uint8_t* at, const uint8_t* piece);

  Input& input_;
  std::u16string text_;
  uint8_t carry_[4];  // a sequence cut by the end of a piece
  size_t carried_ = 0;
  std::vector<uint8_t> joined_;  // the carried bytes and the next piece
  bool started_ = false;         // a piece of text was handed out
  int64_t line_ = 1;
  int64_t column_ = 1;  // of the piece's first byte
};

// -------------------------------------------------------------- output

// Removes a temporary file when SIGINT, SIGTERM or SIGHUP stops the tool,
// from construction until Release or destruction. (A few at once.)
class TemporaryGuard {
 public:
  explicit TemporaryGuard(const std::string& path);
  ~TemporaryGuard();
  TemporaryGuard(const TemporaryGuard&) = delete;
  TemporaryGuard& operator=(const TemporaryGuard&) = delete;
  void Release();

 private:
  int slot_ = -1;
};

// Standard output for "-", else a file written through a temporary file
// beside it ("FILE.quorvel-XXXXXX") that is renamed over FILE by Finish, so
// that a failed or interrupted run never leaves part of a file in its
// place; SIGINT, SIGTERM and SIGHUP remove the temporary file. (A FILE that
// exists and is no regular file, a device or a pipe, is written in place.)
// Writes are buffered; every failed write is a Failure naming the output.
// Standard output that is not finished gets what was written before.
class Output {
 public:
  explicit Output(std::string_view path);
  ~Output();
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  const std::string& name() const { return name_; }
  void Write(const void* data, size_t size);
  void Write(std::string_view text) { Write(text.data(), text.size()); }
  // Writes `text` as UTF-8 and a line feed.
  void Line(std::u16string_view text);
  void Put(char c) {
    if (used_ == buffer_.size()) Flush();
    buffer_[used_++] = c;
  }
  // Returns room for `size` bytes (at most the buffer's size, 256 KiB);
  // `Commit` then says how many were written there.
  char* Room(size_t size);
  void Commit(size_t size) { used_ += size; }
  // Writes what is buffered, makes the file durable and renames it into
  // place.
  void Finish();
  // Bytes written so far, buffered ones included.
  uint64_t written() const { return flushed_ + used_; }

 private:
  void Flush();
  void WriteOut(const char* data, size_t size);

  std::string name_;
  std::string path_;  // the file to replace; empty for standard output
  std::string temp_;
  std::optional<TemporaryGuard> guard_;
  int fd_ = 1;
  std::vector<char> buffer_;
  size_t used_ = 0;
  uint64_t flushed_ = 0;
  bool finished_ = false;
};

// ---------------------------------------------------------------- JSON

// The options of JSON output, for the tables of verbs that write JSON with
// the `actions` that do.
constexpr OptionSpec IndentOption(std::string_view actions) {
  return {"--indent", "N",
          "indent nested values by N spaces (0 to 16); 0, the default, "
          "writes compact text",
          actions};
}
constexpr OptionSpec AsciiOption(std::string_view actions) {
  return {"--ascii", "",
          "write every character past U+007E as a \\uXXXX escape", actions};
}
// The style those options ask for.
JSON::StandardStyle StyleFrom(const Args& args);

// A strict read of an input's JSON text whose fault is a Failure at its
// place.
class JsonSource {
 public:
  explicit JsonSource(Input& input)
      : input_(input), text_(input), reader_(text_) {}
  const JSON::StrictReader& reader() const { return reader_; }
  void Read(JSON::StrictHandler& handler);

 private:
  Input& input_;
  InputText text_;
  JSON::StrictReader reader_;
};

// Reads all of the input with the library's lenient reader, exactly as it
// is (a text that does not begin with an object or an array is a Failure),
// and where a strict reading of the text differs (the strict
// reader faults, or its value is another), a warning on standard error
// names the first such place, "FILE:LINE:COLUMN: warning: ...".
Value ReadLenientJsonWithWarning(Input& input);

// The library's standard JSON writer onto an Output, fed a tree of values
// (Tree) or, as the handler of a strict read, its events (`events()`).
class JsonWriter final : private JSON::ByteSink {
 public:
  JsonWriter(Output& out, JSON::StandardStyle style)
      : out_(out), writer_(style, this) {}
  JSON::StandardWriter& events() { return writer_; }
  void Tree(const Value& value) { writer_.Write(value); }
  // Ends the text with a line feed.
  void EndText() {
    writer_.Flush();
    out_.Put('\n');
  }

 private:
  void Write(std::string_view bytes) override { out_.Write(bytes); }

  Output& out_;
  JSON::StandardWriter writer_;
};

// ------------------------------------------------------------ portable

// Numbers as the library's MessagePack, and so a document database file,
// holds them exactly. Returns `number` itself, the Double -0 for a Decimal
// negative zero, or the Double standing for a Decimal that a Currency
// cannot hold (more than four places, or beyond its range) when that
// Double's shortest text reads back as the same number; nothing for a
// number neither holds.
std::optional<Value> PortableNumber(const Value& number);

// Builds the value of a strict read, refusing what the library's
// MessagePack cannot hold exactly: what the storability check refuses in a
// string or a name, a number PortableNumber refuses, and a number the
// reader could only hold as a Double of another value. The Failure names
// the place in `where` of the token that holds it.
class PortableTreeBuilder : public JSON::TreeBuilder {
 public:
  PortableTreeBuilder(const JSON::StrictReader& reader,
                      const std::string& where)
      : reader_(reader), where_(where) {}
  void Key(std::u16string_view name) override;
  void Text(std::u16string_view text) override;
  void Scalar(const Value& value) override;

 private:
  void Check(const std::optional<StorableFault>& fault);
  [[noreturn]] void Fail(const std::string& what);

  const JSON::StrictReader& reader_;
  const std::string& where_;
};

// The same for a value built some other way (the lenient reader): returns
// it with each number PortableNumber turns into a Double replaced (in the
// containers themselves); the Failure names `where` and the path.
Value MakePortable(const Value& value, const std::string& where);

// A command-line argument, `what` ("the key") for the database `file`, as
// text. Bytes that are not UTF-8 are a Failure naming their offset; with a
// `target`, so is text the storability check refuses for it (a character
// without a Windows-1252 byte, which the database files are made of).
std::u16string ArgumentText(std::string_view arg, std::string_view file,
                            std::u16string_view what,
                            std::optional<StorableTarget> target);

// Reads JSON text given whole (a command-line argument) strictly, through
// a PortableTreeBuilder; `where` names it in Failures ("argument 3").
Value ReadPortableJson(std::u16string_view text, std::string_view where);

// ---------------------------------------------------------------- demo

// Writes UTF-16 text to standard output as UTF-8, through stdio (the
// demos; `main` checks standard output once they are done).
void Print(std::u16string_view text);
void PrintLine(std::u16string_view text = u"");

}  // namespace quorvel::cli

#endif  // QUORVEL_TOOLS_CLI_H_

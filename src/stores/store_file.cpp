#include "stores/store_file.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

#include "quorvel/error.h"

namespace quorvel::internal {

namespace {

constexpr int32_t kVersion = 1;

// Appended to a file just before a compaction renames its successor over
// it. Any other opener that takes the lock afterwards finds the file longer
// than it left it and so asks whether the path still names it. Not a
// record: a walk stops there, as at any torn tail.
constexpr uint8_t kRetiredMark[] = {0xFF};

// A compaction writes the new file in blocks of this size, and reads the
// old one in pieces of at most kCopyPiece, the most a walk's window holds:
// a record larger than either passes through in pieces.
constexpr size_t kCopyBuffer = size_t{1} << 20;
constexpr size_t kCopyPiece = size_t{64} << 10;

// How much of a record's start holds the fields a compaction sets: the
// flag and, in a chained format, the link.
size_t HeadSize(const RecordFormat& format) {
  int64_t head = format.flag_at() + 1;
  if (format.chained()) head = std::max(head, format.link_at() + 4);
  return static_cast<size_t>(head);
}

}  // namespace

const char* WalkStopText(WalkStop stop) {
  switch (stop) {
    case WalkStop::kOk:
      return "record";
    case WalkStop::kEnd:
      return "end of the records";
    case WalkStop::kChainEnd:
      return "end of the chain";
    case WalkStop::kLinkBack:
      return "next link points back: the walk stops";
    case WalkStop::kCutShort:
      return "record header cut short by the end of the file";
    case WalkStop::kNoSignature:
      return "no record signature: the walk stops";
    case WalkStop::kBadLength:
      return "negative length: the walk stops";
    case WalkStop::kPastEnd:
      return "record runs past the end of the file (a torn append)";
  }
  return "?";
}

void StoreFile::RaiseFileTooLarge() const {
  RaiseOverflow(layout_.source,
                u"the file would grow past 2 GiB, the end of its 32-bit "
                u"positions");
}

StoreFile::StoreFile(FileSystem& fs, const StoreLayout& layout, Reader& reader)
    : fs_(fs), layout_(layout), reader_(reader) {}

StoreFile::~StoreFile() = default;

StoreFile::Header StoreFile::NewHeader() const {
  Header h{};
  std::memcpy(h.data(), layout_.magic.data(), layout_.magic.size());
  Put32(h.data() + layout_.version_at, kVersion);
  return h;
}

std::span<const uint8_t> StoreFile::Doubled(const Header& header,
                                            DoubledHeader& both) const {
  const size_t size = layout_.header_size;
  std::memcpy(both.data(), header.data(), size);
  std::memcpy(both.data() + size, header.data(), size);
  return {both.data(), 2 * size};
}

int ChooseHeaderCopy(const StoreLayout& layout, const uint8_t* both) {
  auto has_magic = [&](const uint8_t* copy) {
    return std::memcmp(copy, layout.magic.data(), layout.magic.size()) == 0;
  };
  if (has_magic(both) && Get32(both + layout.version_at) == kVersion) return 0;
  return has_magic(both + layout.header_size) ? 1 : -1;
}

bool StoreFile::ReadHeaderCopies(Header* out) {
  const size_t size = layout_.header_size;
  uint8_t both[2 * sizeof(Header)];
  if (file_->ReadSome(0, {both, 2 * size}) != 2 * size) return false;
  const int chosen = ChooseHeaderCopy(layout_, both);
  if (chosen < 0) return false;
  *out = Header{};
  std::memcpy(out->data(), both + static_cast<size_t>(chosen) * size, size);
  return true;
}

void StoreFile::RaiseInvalidFile() {
  // Closed first, so a bad file does not leave the store looking open.
  file_.reset();
  ErrorRaise(kErrGeneralFailure, layout_.source, layout_.invalid_file);
}

void StoreFile::ReadHeader(int64_t length) {
  if (length < first_record() || !ReadHeaderCopies(&header_))
    RaiseInvalidFile();
  seen_header_ = header_;
}

bool StoreFile::Open(const std::u16string& path, OpenMode mode) {
  Close();
  path_ = path;
  read_only_ = mode == OpenMode::kReadOnly;
  seen_end_ = 0;
  others_deleted_ = false;
  last_ = -1;
  tail_ = first_record();
  if (mode != OpenMode::kReadOnly) {
    try {
      file_ = fs_.Open(path, mode);
    } catch (const Error& denied) {
      // A file this process may read but not write still opens, for
      // reading; anything else keeps the first answer.
      if (denied.number() != kErrPathFileAccess) throw;
      try {
        file_ = fs_.Open(path, OpenMode::kReadOnly);
      } catch (const Error&) {
        throw denied;
      }
      read_only_ = true;
    }
  } else {
    file_ = fs_.Open(path, mode);
  }
  int64_t length = file_->Length();
  if (length == 0 && !read_only_) {
    // Another opener may be writing the first header and records of the
    // same new file: the lock keeps a second fresh header off its work.
    bool fresh = false;
    Lock();
    try {
      if (file_->Length() == 0) {
        header_ = NewHeader();
        WriteHeader();
        fresh = true;
      }
    } catch (...) {
      UnlockQuietly();
      throw;
    }
    UnlockQuietly();
    length = file_->Length();
    if (fresh) {
      seen_end_ = length;
      return false;
    }
  }
  if (length == 0) {
    header_ = NewHeader();
    seen_header_ = header_;
    seen_end_ = 0;
    return false;
  }
  ReadHeader(length);
  seen_end_ = WalkAll(length);
  return true;
}

void StoreFile::Close() {
  pending_.clear();
  pending_link_at_ = -1;
  file_.reset();
}

void StoreFile::Flush() {
  if (file_ == nullptr) return;
  // A batch's buffered records are part of what is synced.
  FlushPending();
  file_->FlushData();
  // A batch holds the lock, which closing would drop: nobody can have
  // replaced the file while it is held, so there is nothing to reopen.
  if (writing_ > 0) return;
  std::unique_ptr<DbFile> reopened =
      fs_.Open(path_, read_only_ ? OpenMode::kReadOnly : OpenMode::kExisting);
  // Asked after the open: while the path still names the old file, the open
  // found that file. Asked before, a compaction in between would leave the
  // new file read through the old file's index.
  const bool moved = !fs_.StillAt(path_, *file_);
  file_ = std::move(reopened);
  if (!moved) return;
  const int64_t length = file_->Length();
  ReadHeader(length);
  seen_end_ = Rescan(length, false);
}

void StoreFile::Bump(size_t at) {
  SetField(at, static_cast<int32_t>(static_cast<uint32_t>(Field(at)) + 1u));
}

int64_t StoreFile::WalkAll(int64_t length) {
  ScanWindow window(*file_);
  const WalkEnd end =
      WalkRecords(window, *layout_.records, first_record(), length,
                  [&](const RecordInfo& rec) { reader_.Record(rec, window); });
  last_ = end.last;
  tail_ = end.at;
  damage_ = FileDamage();
  NoteWalkEnd(end, length);
  return end.covered;
}

void StoreFile::NoteWalkEnd(const WalkEnd& end, int64_t length) {
  int64_t from = end.at;
  switch (end.why) {
    case WalkStop::kNoSignature:
    case WalkStop::kBadLength:
    case WalkStop::kPastEnd:
      ++from;  // the bytes there are no record
      break;
    case WalkStop::kLinkBack:
      break;  // the record is sound; its link is not
    default:
      return;  // the end, or a record header cut short by it
  }
  // What a dying append leaves (a record cut short, zeros) hides nothing.
  // Damage is a stop with a whole record somewhere after it: linking past
  // it or covering it would lose that record.
  const RecordFormat& format = *layout_.records;
  ScanWindow records(*file_);
  uint8_t chunk[16 * 1024];
  for (int64_t at = from; at + 1 < length;) {
    const size_t got = file_->ReadSome(at, chunk);
    if (got < 2) return;
    for (size_t i = 0; i + 1 < got; ++i) {
      if (Get16(chunk + i) != kSignature) continue;
      RecordInfo rec;
      if (format.Parse(records, at + static_cast<int64_t>(i), length, &rec) ==
          WalkStop::kOk) {
        damage_ = FileDamage{end.at, length - end.at};
        return;
      }
    }
    at += static_cast<int64_t>(got) - 1;
  }
}

void StoreFile::WalkOn(int64_t length) {
  if (last_ < 0) {
    WalkAll(length);
    return;
  }
  ScanWindow window(*file_);
  // The last record is read again for its way on: in a chained file its
  // link may have been set by another opener since.
  RecordInfo last;
  if (layout_.records->Parse(window, last_, length, &last) != WalkStop::kOk ||
      last.after != WalkStop::kOk) {
    return;
  }
  const WalkEnd end =
      WalkRecords(window, *layout_.records, last.next, length,
                  [&](const RecordInfo& rec) { reader_.Record(rec, window); });
  if (end.last >= 0) last_ = end.last;
  tail_ = end.at;
  NoteWalkEnd(end, length);
}

int64_t StoreFile::Rescan(int64_t length, bool same_file) {
  others_deleted_ = false;
  reader_.Rescanning();
  const int64_t covered = WalkAll(length);
  reader_.Rescanned(same_file);
  return covered;
}

void StoreFile::RequireWritable() const {
  if (broken_) {
    ErrorRaise(kErrDeviceIo, layout_.source,
               u"Device I/O error: an earlier write of this batch failed");
  }
  if (damage_.any()) RaiseDamaged();
}

void StoreFile::RaiseDamaged() const {
  const std::string at = std::to_string(damage_.offset);
  const std::string n = std::to_string(damage_.bytes);
  std::u16string text = u"The file is damaged: ";
  text.append(n.begin(), n.end());
  text += u" bytes after offset ";
  text.append(at.begin(), at.end());
  text += u" cannot be read; compact it discarding them to write again";
  ErrorRaise(kErrGeneralFailure, layout_.source, text);
}

void StoreFile::Lock() { file_->LockExclusive(); }

void StoreFile::UnlockQuietly() {
  if (file_ == nullptr) return;
  try {
    file_->Unlock();
  } catch (const Error&) {
  }
}

void StoreFile::CatchUp() {
  if (must_rescan_) {
    must_rescan_ = false;
    const int64_t length = file_->Length();
    ReadHeader(length);
    seen_end_ = Rescan(length, true);
  }
  for (;;) {
    // First the end: it tells whether the file still reaches the end this
    // object knows of, before the header is read.
    int64_t end = file_->AppendOffset();
    Header fresh;
    const bool valid = ReadHeaderCopies(&fresh);
    if (end == seen_end_ && (!valid || fresh == seen_header_)) return;
    if (end != seen_end_ && !fs_.StillAt(path_, *file_)) {
      Reopen();
      continue;
    }
    if (valid) {
      // Deletes leave no trace but a counter and flags in place: once
      // others deleted, only a walk from the start shows what.
      const size_t at = layout_.deleted_count_at;
      if (Get32(fresh.data() + at) != Get32(seen_header_.data() + at))
        others_deleted_ = true;
      header_ = fresh;
    }
    seen_header_ = header_;
    if (end < seen_end_) {
      // Something outside the library cut the file short: nothing known
      // of its records can be trusted. Cut into its header copies, it is
      // no store any more; emptied, it is a new one, as OpenDB takes an
      // empty file.
      if (end > 0 && end < first_record()) RaiseInvalidFile();
      if (end == 0) {
        header_ = NewHeader();
        WriteHeader();
        end = file_->Length();
      }
      seen_end_ = end;
      Rescan(end, true);
    } else if (end > seen_end_) {
      seen_end_ = end;
      WalkOn(end);
    }
    return;
  }
}

void StoreFile::Reopen() {
  file_.reset();
  file_ =
      fs_.Open(path_, read_only_ ? OpenMode::kReadOnly : OpenMode::kExisting);
  Lock();
  const int64_t length = file_->Length();
  ReadHeader(length);
  seen_end_ = Rescan(length, false);
}

StoreFile::Writing::Writing(StoreFile& file)
    : file_(file),
      outermost_(file.writing_ == 0),
      exceptions_(std::uncaught_exceptions()) {
  if (!outermost_) {
    ++file.writing_;
    return;
  }
  if (file.read_only_) {
    RaisePathError(kErrPathFileAccess, file.path_, u"opened for reading only");
  }
  file.Lock();
  try {
    file.CatchUp();
  } catch (...) {
    file.UnlockQuietly();
    throw;
  }
  ++file.writing_;
}

void StoreFile::Writing::Done() {
  if (!outermost_) return;
  file_.FlushPending();
  if (file_.header_ != file_.seen_header_) file_.WriteHeader();
}

StoreFile::Writing::~Writing() {
  --file_.writing_;
  if (!outermost_) return;
  // An inner scope's failure is left to the outer one: a change that raised
  // before it wrote leaves nothing to mend, and a write that failed marks
  // the file broken.
  if (std::uncaught_exceptions() > exceptions_ || file_.broken_)
    file_.Recover();
  file_.UnlockQuietly();
}

void StoreFile::Recover() {
  broken_ = false;
  pending_.clear();
  pending_link_at_ = -1;
  header_ = seen_header_;
  if (file_ == nullptr) return;
  // Still under the lock: the walk sees the file as the failure left it.
  try {
    const int64_t length = file_->Length();
    seen_end_ = Rescan(length, true);
  } catch (...) {
    must_rescan_ = true;
  }
}

void StoreFile::FlushPending() {
  if (pending_.empty()) return;
  // The buffer keeps its room for the next change; a failed write leaves
  // it to `Recover`, which the broken mark brings about.
  try {
    file_->WriteAt(pending_at_, pending_);
  } catch (...) {
    broken_ = true;
    throw;
  }
  pending_.clear();
  WritePendingLink();
}

void StoreFile::WritePendingLink() {
  if (pending_link_at_ < 0) return;
  uint8_t link[4];
  Put32(link, static_cast<int32_t>(pending_link_to_ + 1));
  const int64_t link_at = pending_link_at_;
  pending_link_at_ = -1;
  file_->WriteInPlace(link_at, link);
}

int64_t StoreFile::Append(std::span<const uint8_t> record) {
  // Enough to make a batch cost a few writes per megabyte; a larger record
  // goes to the file directly rather than through a copy.
  constexpr size_t kMostPending = 1 << 20;
  RequireWritable();
  const RecordFormat& format = *layout_.records;
  int64_t at = seen_end_;
  if (format.chained()) {
    // With no record to link from, the new one must start the chain, which
    // always begins at the first record's place: whatever lies there is a
    // record no walk could read (a torn first append, say).
    if (last_ < 0) at = first_record();
  } else if (tail_ < seen_end_) {
    // Every walk stops at the torn tail, so a record appended after it
    // would never be seen. A deleted record over the rest of the file lets
    // walks pass; unlike cutting the file back, it keeps the file from
    // shrinking under other openers and keeps every byte but its own.
    FlushPending();
    const std::vector<uint8_t> probe = format.Filler(0);
    const int64_t rest = std::max<int64_t>(
        seen_end_ - tail_ - static_cast<int64_t>(probe.size()), 0);
    if (rest > std::numeric_limits<int32_t>::max()) RaiseFileTooLarge();
    const std::vector<uint8_t> filler =
        format.Filler(static_cast<int32_t>(rest));
    file_->WriteAt(tail_, filler);
    at = tail_ + static_cast<int64_t>(filler.size()) + rest;
    seen_end_ = std::max(seen_end_, at);
    last_ = tail_;
    tail_ = at;
  }
  const int64_t end = at + static_cast<int64_t>(record.size());
  if (end > kMaxPosition) RaiseFileTooLarge();
  if (!pending_.empty() &&
      pending_at_ + static_cast<int64_t>(pending_.size()) != at) {
    FlushPending();
  }
  const bool direct = record.size() >= kMostPending / 4;
  if (direct) FlushPending();
  if (pending_.empty()) pending_at_ = at;
  if (format.chained() && last_ >= 0) {
    const int64_t link_at = last_ + format.link_at();
    if (!direct && last_ >= pending_at_) {
      // The record before is still in the buffer: link it there.
      Put32(pending_.data() + (link_at - pending_at_),
            static_cast<int32_t>(at + 1));
    } else {
      pending_link_at_ = link_at;
      pending_link_to_ = at;
    }
  }
  if (direct) {
    // The record lands before the link that leads to it, so a walk without
    // the lock never follows a link into a record still being written.
    file_->WriteAt(at, record);
    WritePendingLink();
  } else {
    pending_.insert(pending_.end(), record.begin(), record.end());
  }
  seen_end_ = std::max(seen_end_, end);
  last_ = at;
  tail_ = end;
  if (pending_.size() >= kMostPending) FlushPending();
  return at;
}

void StoreFile::SeeDeletes() {
  if (others_deleted_) Rescan(seen_end_, true);
}

void StoreFile::FlagDeleted(int64_t offset) {
  RequireWritable();
  // The record may still be in the buffer; so may the bytes after it.
  FlushPending();
  const uint8_t deleted[] = {1};
  file_->WriteInPlace(offset + layout_.records->flag_at(), deleted);
}

void StoreFile::WriteHeader() {
  DoubledHeader both;
  file_->WriteInPlace(0, Doubled(header_, both));
  seen_header_ = header_;
  seen_end_ = std::max<int64_t>(seen_end_, first_record());
}

StoreFile::Copy::Copy(StoreFile& from, DbFile& to)
    : from_(from),
      to_(to),
      window_(*from.file_),
      header_(from.NewHeader()),
      end_(from.first_record()) {
  buffer_.reserve(kCopyBuffer);
  // The counts are not known yet: Finish writes the header again.
  DoubledHeader both;
  Emit(from_.Doubled(header_, both));
}

void StoreFile::Copy::Begin(std::span<const uint8_t> head, int64_t size) {
  const RecordFormat& format = *from_.layout_.records;
  const int64_t end = end_ + size;
  if (end > kMaxPosition) RaiseStandard(kErrOverflow);
  uint8_t fixed[16];
  std::memcpy(fixed, head.data(), head.size());
  fixed[format.flag_at()] = 0;
  // Records lie back to back, so each links to where it ends; Finish clears
  // the last one's link.
  if (format.chained())
    Put32(fixed + format.link_at(), static_cast<int32_t>(end + 1));
  Emit({fixed, head.size()});
  last_ = end_;
  end_ = end;
  ++count_;
}

void StoreFile::Copy::Append(std::span<const uint8_t> record) {
  FlushRun();
  const size_t head = HeadSize(*from_.layout_.records);
  Begin(record.first(head), static_cast<int64_t>(record.size()));
  Emit(record.subspan(head));
}

bool StoreFile::Copy::CopyRecord(int64_t offset) {
  const RecordFormat& format = *from_.layout_.records;
  // A run is copied while the window still holds it: before a record whose
  // header (and a short key) the window lacks moves it on.
  constexpr int64_t kLookahead = 256;
  if (run_end_ > run_at_ && !window_.Holds(offset, kLookahead)) FlushRun();
  RecordInfo rec;
  if (format.Parse(window_, offset, from_.seen_end_, &rec) != WalkStop::kOk ||
      !rec.live()) {
    return false;
  }
  if (!format.chained()) {
    // The same bytes, counted now and copied with their neighbours.
    const int64_t size = rec.end - rec.offset;
    if (end_ + size > kMaxPosition) RaiseStandard(kErrOverflow);
    if (rec.offset != run_end_ || !window_.Holds(run_at_, rec.end - run_at_)) {
      FlushRun();
      run_at_ = rec.offset;
    }
    run_end_ = rec.end;
    last_ = end_;
    end_ += size;
    ++count_;
    // One record larger than the window goes at once, in pieces.
    if (!window_.Holds(run_at_, run_end_ - run_at_)) FlushRun();
    return true;
  }
  const size_t head = HeadSize(format);
  for (int64_t at = rec.offset; at < rec.end;) {
    const size_t n =
        static_cast<size_t>(std::min<int64_t>(rec.end - at, kCopyPiece));
    const uint8_t* piece = window_.View(at, n);
    // Parse saw these bytes; only a file cut short under the lock lacks them.
    if (piece == nullptr) RaiseStandard(kErrInputPastEnd);
    if (at == rec.offset) {
      Begin({piece, head}, rec.end - rec.offset);
      Emit({piece + head, n - head});
    } else {
      Emit({piece, n});
    }
    at += static_cast<int64_t>(n);
  }
  return true;
}

void StoreFile::Copy::FlushRun() {
  for (int64_t at = run_at_; at < run_end_;) {
    const size_t n =
        static_cast<size_t>(std::min<int64_t>(run_end_ - at, kCopyPiece));
    const uint8_t* piece = window_.View(at, n);
    // The walk saw these bytes; only a file cut short under the lock lacks
    // them.
    if (piece == nullptr) RaiseStandard(kErrInputPastEnd);
    Emit({piece, n});
    at += static_cast<int64_t>(n);
  }
  run_at_ = run_end_ = 0;
}

void StoreFile::Copy::Emit(std::span<const uint8_t> bytes) {
  while (!bytes.empty()) {
    const size_t n = std::min(kCopyBuffer - buffer_.size(), bytes.size());
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.begin() + n);
    bytes = bytes.subspan(n);
    if (buffer_.size() == kCopyBuffer) FlushBuffer();
  }
}

void StoreFile::Copy::Overwrite(int64_t at, std::span<const uint8_t> bytes) {
  const size_t written = static_cast<size_t>(
      std::clamp<int64_t>(buffer_at_ - at, 0, std::ssize(bytes)));
  if (written > 0) to_.WriteAt(at, bytes.first(written));
  if (written < bytes.size()) {
    std::memcpy(
        buffer_.data() + (at + static_cast<int64_t>(written) - buffer_at_),
        bytes.data() + written, bytes.size() - written);
  }
}

void StoreFile::Copy::FlushBuffer() {
  if (buffer_.empty()) return;
  to_.WriteAt(buffer_at_, buffer_);
  buffer_at_ += std::ssize(buffer_);
  buffer_.clear();
}

void StoreFile::Copy::Finish() {
  FlushRun();
  const RecordFormat& format = *from_.layout_.records;
  if (format.chained() && last_ >= 0) {
    const uint8_t chain_end[4] = {};
    Overwrite(last_ + format.link_at(), chain_end);
  }
  Put32(header_.data() + from_.layout_.record_count_at, count_);
  Put32(header_.data() + from_.layout_.put_count_at, count_);
  DoubledHeader both;
  Overwrite(0, from_.Doubled(header_, both));
  FlushBuffer();
}

void StoreFile::Compact(
    const std::function<void(Copy&)>& copy,
    const std::function<void(const std::u16string&)>& temp_file,
    bool discard_damaged) {
  // Nothing is created or deleted before the lock is held: until then the
  // temporary file may be another compaction's, and the file at the path
  // may be about to be replaced by it.
  Writing writing(*this);
  // What others appended is known by now; what they deleted only a walk
  // from the start shows.
  SeeDeletes();
  if (damage_.any() && !discard_damaged) RaiseDamaged();
  // The copy reads the old file: what a batch buffered goes there first.
  FlushPending();
  // Renaming over a link would replace the link and strand the data.
  const std::u16string target = fs_.ResolveLinks(path_);
  const std::u16string tmp_path = target + u".tmp";
  // Deleted whatever it is: even a dangling link there must not steer the
  // new file elsewhere.
  try {
    fs_.Delete(tmp_path);
  } catch (const Error& e) {
    if (e.number() != kErrFileNotFound) throw;
  }
  // Told before the file exists: whoever cleans up after a signal must
  // never find it created but not yet known.
  if (temp_file) temp_file(tmp_path);
  std::unique_ptr<DbFile> tmp;
  try {
    tmp = fs_.Open(tmp_path, OpenMode::kCreate);
    // Before the first byte: a private file's records are never readable
    // under looser permissions, not even in the temporary file.
    fs_.KeepAccess(*file_, *tmp, path_);
    {
      Copy out(*this, *tmp);
      copy(out);
      out.Finish();
    }
    // Only a complete file on the device may take the database's place.
    tmp->FlushData();
    tmp.reset();
    file_->WriteAt(file_->AppendOffset(), kRetiredMark);
    fs_.Rename(tmp_path, target);
  } catch (...) {
    tmp.reset();
    try {
      if (fs_.Exists(tmp_path)) fs_.Delete(tmp_path);
    } catch (const Error&) {
      // The first failure is the one to report; the next compaction
      // deletes what is left.
    }
    if (temp_file) temp_file(u"");
    throw;
  }
  if (temp_file) temp_file(u"");
  fs_.SyncDirectory(target);
}

}  // namespace quorvel::internal

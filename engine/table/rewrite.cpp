// Crash-safe rewriting of a table and its memo file: building the temporaries, the
// journal and the renames that commit them, and the recovery that Use runs first.
#include "table/rewrite.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <vector>

#include "base/errors.h"
#include "base/files.h"
#include "platform/platform.h"
#include "table/commands.h"
#include "table/table_internal.h"

namespace zedra {
namespace {

constexpr char kJournalMagic[] = "ZDRJRNL1";
constexpr size_t kMagicSize = 8;
constexpr size_t kHashSize = 4;
constexpr size_t kMaxJournalSize = 4096;  // two renames of names up to 255 bytes fit
// How long Use waits for another process to complete its commit: a few renames.
constexpr int kCommitWaitSteps = 200;
constexpr uint32_t kCommitWaitMs = 10;
// A bad-memo message lists this many records, then counts the rest.
constexpr size_t kListedBadMemos = 8;

std::string TableTemp(const std::string& path) { return ForceExtension(path, "$$D"); }
std::string MemoTemp(const std::string& path) { return ForceExtension(path, "$$$"); }
std::string JournalName(const std::string& path) { return ForceExtension(path, "$$J"); }

std::string Directory(const std::string& path) {
  size_t last = path.find_last_of(platform::kPathSeparators);
  return last == std::string::npos ? std::string() : path.substr(0, last + 1);
}
std::string BaseName(const std::string& path) { return path.substr(Directory(path).size()); }
std::string Stem(const std::string& name) {
  size_t dot = name.rfind('.');
  return UpperText(dot == std::string::npos ? name : name.substr(0, dot));
}

struct Rename {
  std::string from;  // names in the table's directory
  std::string to;
};

uint32_t Fnv1a(std::span<const uint8_t> bytes) {
  uint32_t h = 2166136261u;
  for (uint8_t b : bytes) h = (h ^ b) * 16777619u;
  return h;
}

std::vector<uint8_t> EncodeJournal(const std::vector<Rename>& renames) {
  std::vector<uint8_t> out(kJournalMagic, kJournalMagic + kMagicSize);
  out.push_back(uint8_t(renames.size()));
  for (const Rename& r : renames) {
    for (const std::string* name : {&r.from, &r.to}) {
      out.push_back(uint8_t(name->size()));
      out.insert(out.end(), name->begin(), name->end());
    }
  }
  uint8_t hash[kHashSize];
  PutLE32(hash, Fnv1a(out));
  out.insert(out.end(), hash, hash + kHashSize);
  return out;
}

// A journal names only the table's own files: plain names with the table's stem.
bool PlausibleName(const std::string& name, const std::string& stem) {
  return !name.empty() && name.find('/') == std::string::npos &&
         name.find('\\') == std::string::npos && name.find('.') != 0 && Stem(name) == stem;
}

// False for a journal that is incomplete (its writer was killed) or not one of ours.
bool DecodeJournal(std::span<const uint8_t> bytes, const std::string& stem,
                   std::vector<Rename>* renames) {
  if (bytes.size() < kMagicSize + 1 + kHashSize) return false;
  if (std::memcmp(bytes.data(), kJournalMagic, kMagicSize) != 0) return false;
  const size_t body = bytes.size() - kHashSize;
  if (GetLE32(bytes.data() + body) != Fnv1a(bytes.first(body))) return false;
  size_t pos = kMagicSize;
  const size_t count = bytes[pos++];
  if (count < 1 || count > 2) return false;
  for (size_t i = 0; i < count; ++i) {
    Rename r;
    for (std::string* name : {&r.from, &r.to}) {
      if (pos >= body) return false;
      size_t length = bytes[pos++];
      if (length > body - pos) return false;
      name->assign(reinterpret_cast<const char*>(bytes.data()) + pos, length);
      pos += length;
      if (!PlausibleName(*name, stem)) return false;
    }
    renames->push_back(r);
  }
  return pos == body;
}

// The renames that commit a rewrite, each replacing its target in one step. Every file
// involved must be closed: Windows does not rename over an open file. A temporary that is
// gone was renamed before, so a commit carried out again only does the rest.
uint32_t ReplaceFiles(const std::string& dir, const std::vector<Rename>& renames) {
  for (const Rename& r : renames) {
    if (!platform::FileExists(dir + r.from)) continue;
    if (uint32_t error = platform::RenameFile(dir + r.from, dir + r.to); error != 0) return error;
  }
  return 0;
}

void RemoveIfPresent(const std::string& path) {
  if (platform::FileExists(path)) platform::RemoveFile(path);
}

struct BadMemo {
  int32_t record;
  int32_t block;
};

std::string BadMemoMessage(const std::string& memo_name, const std::vector<BadMemo>& bad,
                           const std::string& op) {
  std::string text = memo_name;
  for (size_t i = 0; i < bad.size() && i < kListedBadMemos; ++i)
    text += (i ? "; " : " ") + std::string("Memo block # ") + Num(bad[i].block < 0 ? -int64_t(bad[i].block) : bad[i].block) +
            " Record # " + Num(bad[i].record);
  if (bad.size() > kListedBadMemos) text += "; and " + Num(long(bad.size() - kListedBadMemos)) + " more";
  return text + ": " + Num(long(bad.size())) + (bad.size() == 1 ? " memo" : " memos") +
         " cannot be read, nothing was changed" + op;
}

// The new table file being written: the old header, the records kept, a new count.
class TableBuilder {
 public:
  TableBuilder(DbfArea& area, const RewriteOptions& options, MemoRewrite* memo)
      : area_(area), options_(options), memo_(memo) {
    for (const FieldDesc& f : area.fields)
      if (f.type == 'M') memo_fields_.push_back(&f);
  }

  // Copies the records; false with the error recorded. Memos that cannot be read are
  // collected in bad() (without force), and from the first one on nothing more is copied.
  bool Run(const EngineFile& out, const std::string& op) {
    const size_t rl = area_.record_length;
    const int32_t per_chunk = int32_t(std::max<size_t>(1, 65536 / rl));
    std::vector<uint8_t> chunk, pending;
    uint64_t written_to = area_.RecordOffset(1);
    const int32_t count = options_.drop_all ? 0 : area_.record_count;
    for (int32_t first = 1; first <= count; first += per_chunk) {
      int32_t n_chunk = std::min(per_chunk, count - first + 1);
      chunk.resize(size_t(n_chunk) * rl);
      if (uint32_t error = area_.file.ReadAt(area_.RecordOffset(first), chunk); error != 0) {
        SetError(uint16_t(error == kErrHandleEof ? 213 : error), "File:  " + area_.file_name + op);
        return false;
      }
      for (int32_t i = 0; i < n_chunk; ++i) {
        std::vector<uint8_t> image(chunk.begin() + long(size_t(i) * rl),
                                   chunk.begin() + long(size_t(i + 1) * rl));
        if (options_.drop_deleted && image[0] == kRecordDeleted) continue;
        if (!NewReferences(first + i, &image)) return false;
        ++kept_;
        pending.insert(pending.end(), image.begin(), image.end());
      }
      if (!bad_.empty()) continue;  // only checking from here on
      if (uint32_t error = out.WriteAt(written_to, pending); error != 0) {
        SetError(uint16_t(error), "File:  " + out.path() + op);
        return false;
      }
      written_to += pending.size();
      pending.clear();
    }
    return true;
  }

  int32_t kept() const { return kept_; }
  int32_t dropped() const { return dropped_; }
  const std::vector<BadMemo>& bad() const { return bad_; }
  uint16_t bad_code() const { return bad_code_; }
  // The memo fields of the current record as rewritten (readable form), when it was kept.
  const std::vector<uint8_t>& current_image() const { return current_image_; }

 private:
  // Puts the new memo references into a record image (stored form).
  bool NewReferences(int32_t n, std::vector<uint8_t>* image) {
    if (!memo_ || memo_fields_.empty()) return true;
    const bool translate = area_.read_transform || area_.write_transform;
    std::vector<uint8_t> readable = *image;
    if (translate) TranslateRecord(area_, readable, false);
    bool changed = false;
    for (const FieldDesc* f : memo_fields_) {
      char* field = reinterpret_cast<char*>(readable.data()) + f->offset;
      const std::string_view text(field, f->length);
      const int32_t a = MemoBlockOf(text);
      int32_t block = 0;
      if (a == 0) {
        // An empty reference is blank; "0" written by older packs becomes blank too.
        const std::string trimmed = AllTrim(text);
        if (trimmed.empty() || trimmed.find_first_not_of('0') != std::string::npos) continue;
      } else if (uint16_t code = MemoHookTable().CheckMemo(a); code != 0) {
        if (!options_.force) {
          if (bad_.empty()) bad_code_ = code;
          bad_.push_back({n, a});
          continue;
        }
        ++dropped_;
      } else if (bad_.empty()) {
        Errors().ErrorCode = 0;
        block = memo_->Copy(a);
        if (ErrorCode() != 0) return false;
      } else {
        continue;
      }
      std::string value = block == 0 ? std::string() : std::to_string(block);
      value.insert(0, f->length > value.size() ? f->length - value.size() : 0, ' ');
      if (value.size() != f->length || value == text) continue;
      std::memcpy(field, value.data(), value.size());
      changed = true;
    }
    if (n == area_.current_record) current_image_ = readable;
    if (changed) {
      if (translate) TranslateRecord(area_, readable, true);
      *image = std::move(readable);
    }
    return true;
  }

  DbfArea& area_;
  const RewriteOptions& options_;
  MemoRewrite* memo_;
  std::vector<const FieldDesc*> memo_fields_;
  int32_t kept_ = 0;
  int32_t dropped_ = 0;
  std::vector<BadMemo> bad_;
  uint16_t bad_code_ = 0;
  std::vector<uint8_t> current_image_;
};

}  // namespace

bool RewriteTable(DbfArea& area, const RewriteOptions& options, int32_t* dropped) {
  if (!SettlePendingAppend(area)) return false;
  if (dropped) *dropped = 0;
  const std::string op = " [" + options.operation + "]";
  const std::string& path = area.file_name;
  MemoHooks& hooks = MemoHookTable();
  const bool with_memo = area.memo && hooks.StartMemoRewrite && hooks.CheckMemo &&
                         hooks.CloseMemofile && hooks.OpenMemofile &&
                         (options.pack_memos || options.drop_all);
  // Messages name the memo file as the memo layer's do: with the default kind's extension.
  const std::string memo_name = ForceExtension(path, MemoFileExt(Tables().DefaultMemoKind));
  if ((area.file.mode() & 0x7u) == 0) {  // opened for reading only
    SetError(uint16_t(platform::kErrAccessDenied), "File:  " + path + op);
    return false;
  }

  // The new files are never larger than the old ones.
  uint32_t error = 0;
  uint64_t need = area.file.Size(&error);
  if (with_memo) need += area.memo->file.Size();
  if (int64_t(DiskFreeKB(Directory(path))) < int64_t(need / 1024)) {
    if (with_memo)
      SetError(1012, memo_name + op);
    else
      SetError(227, "File:  " + path + op);
    return false;
  }

  const std::string table_temp = TableTemp(path);
  const std::string memo_temp = MemoTemp(path);
  auto discard = [&](EngineFile& out) {
    AutoReportScope quiet(false);
    out.Close();
    RemoveIfPresent(table_temp);
    if (with_memo) RemoveIfPresent(memo_temp);
  };
  EngineFile out;
  if (error = out.Create(table_temp, platform::kModeReadWriteExclusive); error != 0) {
    SetError(uint16_t(error), "Cannot create " + table_temp + op);
    return false;
  }
  std::vector<uint8_t> header(size_t(uint16_t(area.header_length)));
  if (error = area.file.ReadAt(0, header); error == 0) error = out.WriteAt(0, header);
  if (error != 0) {
    SetError(uint16_t(error == kErrHandleEof ? 213 : error), "File:  " + path + op);
    discard(out);
    return false;
  }
  std::shared_ptr<MemoRewrite> memo;
  if (with_memo) {
    Errors().ErrorCode = 0;
    memo = hooks.StartMemoRewrite(memo_temp);
    if (!memo) {
      discard(out);
      return false;
    }
  }
  TableBuilder builder(area, options, options.pack_memos ? memo.get() : nullptr);
  if (!builder.Run(out, op)) {
    discard(out);
    return false;
  }
  if (!builder.bad().empty()) {
    SetError(builder.bad_code(), BadMemoMessage(memo_name, builder.bad(), op));
    discard(out);
    return false;
  }

  // The count, date and end marker through the area's own header code, on the new file.
  DbfArea fresh;
  fresh.file = std::move(out);
  fresh.file_name = table_temp;
  fresh.header = area.header;
  fresh.header_length = area.header_length;
  fresh.record_length = area.record_length;
  fresh.record_count = builder.kept();
  {
    AutoReportScope quiet(false);
    Errors().ErrorCode = 0;
    WriteDbfHeader(fresh);
    error = ErrorCode();
  }
  if (error == 0) error = WriteDbfEofMarker(fresh);
  if (error == 0) error = platform::FlushFile(fresh.file.handle());
  if (error == 0) error = fresh.file.Close();
  if (error != 0) {
    SetError(uint16_t(error), "File:  " + table_temp + op);
    discard(fresh.file);
    return false;
  }
  Errors().ErrorCode = 0;
  if (memo && !memo->Finish()) {
    discard(fresh.file);
    return false;
  }

  // The new table is ours before it takes the name, and the old one stays ours until it
  // has lost it: a program waiting to open the table meets our lock on either file (or
  // finds the name moved on and opens it again), so it never appends to a file the
  // renames replace, nor holds the new one before this area has it again.
  EngineFile next;
  if (error = next.Open(table_temp, area.file.mode()); error != 0) {
    SetError(uint16_t(error), "Unable to open " + table_temp + op);
    discard(fresh.file);
    return false;
  }

  // The journal commits the rewrite: once it is on the disk the new files are the table.
  std::vector<Rename> renames = {{BaseName(table_temp), BaseName(path)}};
  if (with_memo) renames.push_back({BaseName(memo_temp), BaseName(area.memo->file_name)});
  const std::string journal_path = JournalName(path);
  EngineFile journal;
  error = journal.Create(journal_path, platform::kModeReadWriteExclusive);
  if (error == 0) error = journal.WriteAt(0, EncodeJournal(renames));
  if (error == 0) error = platform::FlushFile(journal.handle());
  if (error != 0) {
    SetError(uint16_t(error), "Cannot write " + journal_path + op);
    journal.Close();
    discard(fresh.file);
    AutoReportScope quiet(false);
    RemoveIfPresent(journal_path);
    return false;
  }

  const uint32_t table_mode = area.file.mode();
  if (with_memo) hooks.CloseMemofile();
  error = ReplaceFiles(Directory(path), renames);
  area.file.Close();
  journal.Close();
  if (error == 0) platform::RemoveFile(journal_path);

  // The area goes on with the new files.
  area.header = fresh.header;
  area.record_count = builder.kept();
  area.update_state = UpdateState::Clean;
  if (error == 0) {
    next.Renamed(path);
    area.file = std::move(next);
  } else {
    next.Close();  // the name may already be the new file's
    if (uint32_t open_error = area.file.Open(path, table_mode); open_error != 0) {
      SetError(uint16_t(open_error), "Unable to open " + path + op);
      return false;
    }
  }
  if (with_memo) {
    Errors().ErrorCode = 0;
    hooks.OpenMemofile(path);
    if (ErrorCode() != 0) return false;
  }
  if (error != 0) {
    // The journal stays: the next Use completes the renames.
    SetError(uint16_t(error), "Cannot replace " + path + op);
    return false;
  }
  const std::vector<uint8_t>& current = builder.current_image();
  if (!current.empty() && area.record.size() == current.size()) {
    for (const FieldDesc& f : area.fields)
      if (f.type == 'M')
        std::memcpy(area.record.data() + f.offset, current.data() + f.offset, f.length);
    if (!area.is_virtual && !area.typed_buffer.empty()) FillTypedImage(area);
  }
  if (dropped) *dropped = builder.dropped();
  return true;
}

bool FinishInterruptedRewrite(const std::string& path) {
  const std::string dir = Directory(path);
  const std::string journal_path = JournalName(path);
  const bool have_journal = platform::FileExists(journal_path);
  if (have_journal) {
    EngineFile journal;
    uint32_t error = 0;
    for (int step = 0;; ++step) {
      error = journal.Open(journal_path, platform::kModeReadWriteExclusive);
      if (error != platform::kErrSharingViolation || step == kCommitWaitSteps) break;
      platform::SleepMs(kCommitWaitMs);  // another process is committing
    }
    if (error == platform::kErrFileNotFound) return true;  // that commit is complete
    if (error != 0) {
      SetError(uint16_t(error), "Unable to open " + journal_path + " [Use]");
      return false;
    }
    std::vector<Rename> renames;
    const uint64_t size = journal.Size();
    std::vector<uint8_t> bytes(size_t(std::min<uint64_t>(size, kMaxJournalSize)));
    if (size <= kMaxJournalSize && journal.ReadAt(0, bytes) == 0 &&
        DecodeJournal(bytes, Stem(BaseName(path)), &renames)) {
      if (uint32_t e = ReplaceFiles(dir, renames); e != 0) {
        SetError(uint16_t(e), "Cannot complete the interrupted rewrite of " + path + " [Use]");
        return false;
      }
      journal.Close();
      platform::RemoveFile(journal_path);
      return true;
    }
  }
  // No committed journal: what is there belongs to a rewrite that never committed. The
  // table opened exclusively shows that no process is still writing it.
  const std::string temps[] = {TableTemp(path), MemoTemp(path)};
  if (!have_journal && std::none_of(std::begin(temps), std::end(temps), platform::FileExists))
    return true;
  EngineFile probe;
  if (probe.Open(path, platform::kModeReadWriteExclusive) != 0) return true;
  for (const std::string& t : temps) RemoveIfPresent(t);
  if (have_journal) RemoveIfPresent(journal_path);
  return true;
}

}  // namespace zedra

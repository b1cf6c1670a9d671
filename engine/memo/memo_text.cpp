// Memo text: the memo reader, lines with word wrap, the engine's memo line table
// (GetMemo, EditMemo), the memo text stream bound by AssignMemo, and the engine's
// operations that read and store the memo of a field.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "base/errors.h"
#include "memo/memo.h"
#include "memo/memo_internal.h"
#include "table/commands.h"

namespace zedra {

using namespace memo;

namespace memo {

// ---------------------------------------------------------------------------------------
// MemoReader

bool MemoReader::Start(const EngineFile& file, int32_t block, uint16_t block_size, uint8_t kind,
                       const MemoTransform& read_transform) {
  *this = MemoReader();
  file_ = &file;
  transform_ = read_transform;
  if (block_size == 0) block_size = kDbase3BlockSize;
  chunk_ = transform_ ? 512 : block_size;
  buffer_.assign(chunk_, 0);
  uint64_t offset = uint64_t(AbsBlock(block)) * block_size;
  uint32_t err = 0;
  file_size_ = file.Size(&err);
  if (err != 0) return false;
  if (offset >= file_size_) {
    end_ = true;  // nothing stored there: an empty memo
    return true;
  }
  uint8_t hdr[kGroupHeaderSize] = {};
  size_t got = 0;
  file.ReadAt(offset, hdr, &got);
  if (kind == kKindFpt || (got == kGroupHeaderSize && GroupHeader::IsDbase4Header(hdr))) {
    if (got < kGroupHeaderSize) {
      end_ = true;
      return true;
    }
    GroupHeader h = GroupHeader::Decode(hdr, kind == kKindFpt ? kKindFpt : kKindDbase4);
    counted_ = true;
    remaining_ = h.text_length;
    file_pos_ = offset + kGroupHeaderSize;
    // A stored length that runs past the end of the file is not trusted.
    if (remaining_ > file_size_ - file_pos_) return false;
    return true;
  }
  // Text of the 0x83 kind, ending at its 0x1A (also when fewer than 8 bytes are left).
  file_pos_ = offset;
  return true;
}

bool MemoReader::Fill() {
  size_t want = chunk_;
  if (counted_) {
    // The first fill after a group header reads a chunk less the header's 8 bytes, so
    // that later reads stay block-aligned.
    if (first_fill_ && chunk_ > kGroupHeaderSize) want = chunk_ - kGroupHeaderSize;
    want = size_t(std::min<uint64_t>(want, remaining_));
  }
  if (file_pos_ >= file_size_) return false;
  want = size_t(std::min<uint64_t>(want, file_size_ - file_pos_));
  if (want == 0) return false;
  size_t got = 0;
  file_->ReadAt(file_pos_, std::span<uint8_t>(buffer_.data(), want), &got);
  if (got == 0) return false;
  if (transform_) transform_(buffer_.data(), got);
  ++Memos().Refills;
  first_fill_ = false;
  file_pos_ += got;
  if (counted_) remaining_ -= got;
  filled_ = got;
  pos_ = 0;
  return true;
}

int MemoReader::Next() {
  if (!given_back_.empty()) {
    uint8_t c = uint8_t(given_back_.back());
    given_back_.pop_back();
    ++delivered_;
    return c;
  }
  if (end_) return -1;
  if (pos_ >= filled_ && !Fill()) {
    end_ = true;
    return -1;
  }
  uint8_t c = buffer_[pos_++];
  if ((!counted_ && c == kMemoEnd) || c == kTextEnd) {
    end_ = true;
    return -1;
  }
  ++delivered_;
  return c;
}

void MemoReader::GiveBack(const std::string& chars) {
  given_back_.append(chars.rbegin(), chars.rend());
  delivered_ -= std::min<uint64_t>(delivered_, chars.size());
}

}  // namespace memo

namespace {

constexpr uint8_t kCR = 0x0D;
constexpr uint8_t kSoftCR = 0x8D;
constexpr uint8_t kLF = 0x0A;
constexpr size_t kMaxLine = 253;       // a line without word wrap
constexpr size_t kMaxStoredLine = 254; // the longest line an output stream builds

// Stream error codes (8, no memory for the line table, cannot happen here: the table
// lives in ordinary heap memory).
constexpr int kStreamCannotRead = 100;
constexpr int kStreamCannotStore = 101;
constexpr int kStreamBadMode = 102;
constexpr int kStreamNotLoaded = 104;

// The reader GetMemo started; ReadMemoLine takes its lines from it.
MemoReader reader;
bool reader_active = false;

std::string RecordNumberText() {
  DbfArea* area = CurrentArea();
  return std::to_string(area ? area->current_record : 0);
}

MemoLineTable& Table() { return Memos().lines; }

void EnsureLineTable() {
  MemoLineTable& t = Table();
  uint32_t slots = uint32_t(Memos().LineCapacity) + 1;
  if (!t.exists || t.lines.size() != slots) {
    t.lines.assign(slots, std::string());
    t.exists = true;
  }
  if (!t.breaks_allocated || t.breaks.size() != slots) {
    t.breaks.assign(slots, 0);
    t.breaks_allocated = true;
  }
}

// The number of lines the table can hold now.
uint32_t Capacity() {
  const MemoLineTable& t = Table();
  uint32_t slots = uint32_t(std::min(t.lines.size(), t.breaks.size()));
  return std::min<uint32_t>(Memos().LineCapacity, slots ? slots - 1 : 0);
}

// Stores a line at the line index and advances it.
bool StoreLine(const std::string& text) {
  MemoLineTable& t = Table();
  if (t.index > Capacity()) return false;
  t.lines[t.index] = text;
  ++t.index;
  t.count = std::max(t.count, t.index - 1);
  return true;
}

// Makes the stream's area current for the length of one stream operation.
class StreamAreaScope {
 public:
  explicit StreamAreaScope(const MemoTextStream& s) : saved_(CurrentAreaNumber()) {
    if (s.area >= 1 && s.area <= kWorkAreas) SetCurrentArea(s.area);
  }
  ~StreamAreaScope() { SetCurrentArea(saved_); }

 private:
  uint8_t saved_;
};

struct StreamState {
  bool opened_before = false;
};

StreamState& StateOf(MemoTextStream& s) {
  if (!s.owner_state) s.owner_state = std::make_shared<StreamState>();
  return *static_cast<StreamState*>(s.owner_state.get());
}

int StreamOpen(MemoTextStream& s) {
  StreamAreaScope scope(s);
  StreamState& state = StateOf(s);
  const bool first = !state.opened_before;
  state.opened_before = true;
  if (!s.buffer_allocated) {
    s.buffer.reserve(MemoTextStream::kBufferSize);
    s.buffer_allocated = true;
  }
  MemoLineTable& t = Table();
  int32_t block = s.block_var ? *s.block_var : 0;
  switch (s.mode) {
    case StreamMode::Input:
      // The memo is loaded on the first open, and again when a close released it.
      if (first || !t.loaded) {
        EnsureLineTable();
        if (!GetMemo(block, 0)) return kStreamCannotRead;
      }
      t.index = 1;
      break;
    case StreamMode::Output:
      if (!first) ClearMemoLines(false);
      EnsureLineTable();
      if (s.block_var) *s.block_var = 0;
      t.index = 1;
      t.count = 0;
      t.partial.clear();
      t.loaded = true;
      break;
    case StreamMode::Append:
      s.mode = StreamMode::Output;
      if (first || !t.loaded) {
        EnsureLineTable();
        if (!GetMemo(block, 0)) return kStreamCannotRead;
      }
      if (t.count == 1 && t.lines[1].empty() && t.breaks[1] == 0) {
        // An empty memo: the first line written replaces its one empty line.
        t.index = 1;
        t.count = 0;
      } else {
        t.index = t.count + 1;
      }
      t.partial.clear();
      t.loaded = true;
      break;
    default:
      return kStreamBadMode;
  }
  if (!t.breaks_allocated) EnsureLineTable();
  return 0;
}

int TransferIn(MemoTextStream& s) {
  MemoLineTable& t = Table();
  s.buffer.clear();
  s.buffer_pos = 0;
  // A line that is empty and has no line end of its own would read as the end of the
  // text; it adds nothing to the line it joins, so it is passed over.
  while (t.index <= t.count && t.index < t.lines.size() && t.index < t.breaks.size()) {
    const std::string& line = t.lines[t.index];
    uint8_t flag = t.breaks[t.index];
    ++t.index;
    if (flag == kCR) {
      s.buffer = line.substr(0, kMaxLine);
      s.buffer += "\r\n";
      return 0;
    }
    if (!line.empty()) {
      s.buffer = line;
      return 0;
    }
  }
  return 0;
}

// Takes one piece of output that holds at most one carriage return, at its end.
int TransferOutPiece(const std::string& piece) {
  MemoLineTable& t = Table();
  if (t.index > Capacity()) return kStreamCannotStore;
  // The line's characters without its line-end characters: only they count towards the
  // longest line, and a line cut off here must not take a line end along.
  std::string text;
  bool has_cr = false;
  for (char c : piece) {
    uint8_t u = uint8_t(c);
    if (u == kCR) has_cr = true;
    if (u != kCR && u != kSoftCR && u != kLF) text.push_back(c);
  }
  // Each round stores one line, so that the partial line never grows beyond the longest
  // line (it would otherwise be stored, line end and all, as a line of its own).
  while (t.partial.size() + text.size() > kMaxStoredLine) {
    if (t.index > Capacity()) return kStreamCannotStore;
    if (!t.partial.empty()) {
      t.breaks[t.index] = 0;
      if (!StoreLine(t.partial)) return kStreamCannotStore;
      t.partial.clear();
    } else {
      t.breaks[t.index] = 0;
      if (!StoreLine(text.substr(0, kMaxStoredLine))) return kStreamCannotStore;
      text.erase(0, kMaxStoredLine);
    }
  }
  if (t.index > Capacity()) return kStreamCannotStore;
  if (!piece.empty() && (uint8_t(piece.back()) == kLF || uint8_t(piece.back()) == kCR)) {
    bool soft = piece.size() >= 2 && uint8_t(piece[piece.size() - 2]) == kSoftCR;
    t.breaks[t.index] = soft ? kSoftCR : kCR;
  }
  t.partial += text;
  if (has_cr) {
    if (!StoreLine(t.partial)) return kStreamCannotStore;
    t.partial.clear();
  }
  return 0;
}

int TransferOut(MemoTextStream& s) {
  // The buffer is taken one line at a time (each piece ends after a carriage return and
  // the line feed that follows it), so that several lines written at once stay apart.
  const std::string& text = s.buffer;
  size_t start = 0;
  while (start < text.size()) {
    size_t cr = text.find(char(kCR), start);
    size_t end = cr == std::string::npos ? text.size() : cr + 1;
    if (end < text.size() && uint8_t(text[end]) == kLF) ++end;
    if (int r = TransferOutPiece(text.substr(start, end - start)); r != 0) return r;
    start = end;
  }
  return 0;
}

int StreamTransfer(MemoTextStream& s) {
  StreamAreaScope scope(s);
  if (!Table().loaded || !Table().exists) return kStreamNotLoaded;
  if (s.mode == StreamMode::Input) return TransferIn(s);
  return TransferOut(s);
}

int StreamFlush(MemoTextStream& s) {
  if (s.mode == StreamMode::Input) {
    s.buffer.clear();
    s.buffer_pos = 0;
    return 0;
  }
  return StreamTransfer(s);
}

int StreamCloseOp(MemoTextStream& s) {
  StreamAreaScope scope(s);
  int result = 0;
  MemoLineTable& t = Table();
  if (s.mode == StreamMode::Output) {
    bool no_lines = t.count == 0 && t.partial.empty();
    int32_t block = EditMemo(s.block_var ? *s.block_var : 0);
    if (block != 0 || no_lines) {
      if (s.block_var) *s.block_var = block;
    } else {
      result = kStreamCannotStore;
    }
  }
  ClearMemoLines(true);
  MemoDescriptor* m = CurrentMemo();
  if (m && Tables().WriteThrough) FlushFile(m->file);
  s.buffer.clear();
  s.buffer.shrink_to_fit();
  s.buffer_allocated = false;
  return result;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Lines

void ClearMemoLines(bool release) {
  MemoLineTable& t = Table();
  for (std::string& line : t.lines) line.clear();
  t.count = 1;
  t.index = 1;
  t.partial.clear();
  t.loaded = false;
  reader_active = false;
  if (release) {
    t.lines.clear();
    t.lines.shrink_to_fit();
    t.breaks.clear();
    t.breaks.shrink_to_fit();
    t.breaks_allocated = false;
    t.exists = false;
  }
}

int ReadMemoLine(std::string* line) {
  line->clear();
  if (!reader_active) return 3;
  size_t limit = Memos().WordWrap ? Memos().LineWidth : kMaxLine;
  if (limit == 0) limit = kMaxLine;
  limit = std::min<size_t>(limit, 255);
  for (;;) {
    int c = reader.Next();
    if (c < 0) return line->empty() ? 3 : 0;
    if (c == kCR || c == kSoftCR) {
      int d = reader.Next();
      if (d >= 0 && d != kLF) reader.GiveBack(std::string(1, char(d)));
      return c == kCR ? 1 : 2;
    }
    line->push_back(char(c));
    if (line->size() >= limit) break;
  }
  size_t blank = line->rfind(' ');
  if (blank != std::string::npos && blank + 1 < line->size()) {
    // Break after the last blank; the rest of the word starts the next line.
    reader.GiveBack(line->substr(blank + 1));
    line->resize(blank + 1);
  }
  return 0;
}

bool GetMemo(int32_t block, uint32_t line_limit) {
  EnsureLineTable();
  ClearMemoLines(false);
  Memos().Refills = 0;
  MemoLineTable& t = Table();
  std::fill(t.breaks.begin(), t.breaks.end(), 0);
  if (block == 0) {
    t.loaded = true;  // an empty memo: one empty line, read like any other
    return true;
  }
  MemoDescriptor* m = CurrentMemo();
  if (!m) {
    DbfArea* area = CurrentArea();
    MemoError(kErrNoMemo, (area ? area->file_name : std::string()) + " No Memo Field [GetMemo]");
    return false;
  }
  uint32_t err = 0;
  int64_t size = int64_t(m->file.Size(&err));
  if (err != 0) {
    MemoError(uint16_t(err), MemoMsgName());
    return false;
  }
  int64_t offset = AbsBlock(block) * m->block_size;
  if (offset >= size - 1) {
    MemoError(kErrMemoAddress, MemoMsgName() + "\n Record # " + RecordNumberText() + " [GetMemo]");
    return false;
  }
  t.loaded = true;
  DbfArea* area = CurrentArea();
  if (!reader.Start(m->file, block, m->block_size, m->kind, area->read_transform)) {
    MemoError(kErrReadFault, MemoMsgName());
    return false;
  }
  reader_active = true;
  std::string line;
  uint32_t count = 1;
  for (;;) {
    int rc = ReadMemoLine(&line);
    if (rc == 3) break;
    if (line_limit != 0 && count > line_limit) break;
    if (t.index <= Capacity()) {
      t.lines[t.index] = line;
      t.breaks[t.index] = rc == 1 ? kCR : rc == 2 ? kSoftCR : 0;
      ++t.index;
      ++count;
    }
  }
  reader_active = false;
  t.count = count > 1 ? count - 1 : count;
  return true;
}

int32_t EditMemo(int32_t current_block) {
  MemoDescriptor* m = CurrentMemo();
  DbfArea* area = CurrentArea();
  if (!m || !area) return 0;
  MemoLineTable& t = Table();
  const uint32_t n = t.exists ? std::min<uint32_t>(t.count, uint32_t(t.lines.size()) - 1) : 0;
  // The text: every line with CR LF, then the partial line as it was written.
  uint64_t text_total = t.partial.size();
  for (uint32_t i = 1; i <= n; ++i) text_total += t.lines[i].size() + 2;
  if (text_total < 1) return 0;
  const bool plain = m->kind == kKindDbase3;
  const uint64_t total = text_total + (plain ? kMemoEndCount : 0);
  if (DiskFreeKB(SplitPath(m->file_name).dir) <= int32_t(total / 1024)) {
    MemoError(kErrMemoDiskSpace, MemoMsgName());
    return 0;
  }
  MemoEndSnapshot before;
  int64_t pos = LockPadAndSeekEnd("EditMemo/CloseMemo", &before);
  if (pos == 0) return 0;
  const uint16_t bs = m->block_size;
  const MemoTransform& transform = area->write_transform;
  const size_t unit = (!transform && bs > 512 && !plain) ? bs : 512;

  std::string data;
  data.reserve(size_t(total));
  for (uint32_t i = 1; i <= n; ++i) {
    if (t.breaks_allocated && i < t.breaks.size()) t.breaks[i] = kCR;
    data += t.lines[i];
    data += "\r\n";
  }
  data += t.partial;
  if (plain) data.append(kMemoEndCount, char(kMemoEnd));

  int32_t block = 0;
  uint64_t start = 0;
  uint32_t err = 0;
  bool ok = true;
  const std::string where = MemoMsgName() + "[EditMemo/CloseMemo]";
  if (plain) {
    block = int32_t(pos / bs);
    data.resize((data.size() + unit - 1) / unit * unit, '\0');
    ok = WritePieces(m->file, int64_t(uint64_t(block) * bs),
                     reinterpret_cast<const uint8_t*>(data.data()), data.size(), unit, transform,
                     &err);
  } else {
    if (m->kind == kKindFpt) {
      block = int32_t(pos / bs);
    } else {
      // Blocks needed for the group header and the text.
      const uint32_t need = uint32_t((total + kGroupHeaderSize) / bs + 1);
      bool freed = false;
      uint32_t current = current_block > 0 ? uint32_t(current_block) : 0;
      if (current != 0 && uint64_t(current) * bs + kGroupHeaderSize <= m->file.Size()) {
        int32_t used = int32_t(current);
        uint8_t hdr[kGroupHeaderSize];
        if (!ReadGroupHeader(&used, hdr)) return 0;
        // Only a real group header tells how many blocks the old memo holds.
        if (GroupHeader::IsDbase4Header(hdr) && uint32_t(used) < need &&
            uint64_t(current) + uint32_t(used) <= BlocksIn(m->file.Size(), bs)) {
          FreeBlocks(current, uint32_t(used) * bs);
          if (!AddToCounter(used)) return 0;
          freed = true;
        }
      } else {
        current = 0;
      }
      block = int32_t(AllocateBlocks(need, freed ? 0 : current, "EditMemo/CloseMemo"));
      if (block == 0) return 0;
    }
    start = uint64_t(block) * bs;
    // The first buffer holds 8 bytes less, as the group header precedes it.
    const uint8_t* p = reinterpret_cast<const uint8_t*>(data.data());
    size_t first = std::min<size_t>(data.size(), unit - kGroupHeaderSize);
    err = PutGroupHeader(m->file, start, uint32_t(total), m->kind);
    ok = err == 0 &&
         WritePieces(m->file, int64_t(start + kGroupHeaderSize), p, first, unit, transform, &err);
    if (ok && first < data.size())
      ok = WritePieces(m->file, int64_t(start + kGroupHeaderSize + first), p + first,
                       data.size() - first, unit, transform, &err);
  }
  FlushFile(m->file);
  t.breaks_allocated = false;
  t.breaks.clear();
  if (!ok) {
    // The memo's blocks at the end of the file go again; the file ends where it did.
    before.Restore(m->file);
    MemoError(MemoWriteFault(err), where);
    return 0;
  }
  UpdateMemoHeaderWith(&before);
  return block;
}

int AssignMemo(MemoTextStream& stream, int32_t* block_var) {
  DbfArea* area = CurrentArea();
  if (!area) {
    SetError(kErrNoArea, std::string(" [") + std::string("AssignMemo").substr(0, 80) + "]");
    return kErrNoArea;
  }
  if (!area->memo) {
    MemoError(kErrNoMemo, area->file_name + " No Memo Field [" +
                              std::string("AssignMemo").substr(0, 80) + "]");
    return kErrNoMemo;
  }
  stream.mode = StreamMode::Closed;
  stream.handle = 0xFFFF;
  stream.buffer.clear();
  stream.buffer_pos = 0;
  stream.buffer_allocated = false;
  stream.open = StreamOpen;
  stream.transfer = StreamTransfer;
  stream.flush = StreamFlush;
  stream.close = StreamCloseOp;
  stream.block_var = block_var;
  stream.area = CurrentAreaNumber();
  stream.owner_state = std::make_shared<StreamState>();
  return 0;
}

// ---------------------------------------------------------------------------------------
// The memo of a field

std::string ReadMemoText(int32_t block) {
  if (AreaNotInUse("GetMemoText")) return std::string();
  DbfArea* area = CurrentArea();
  MemoDescriptor* m = area->memo.get();
  if (!m) {
    MemoError(kErrNoMemo, area->file_name + " No Memo Field [GetMemoText]");
    return std::string();
  }
  if (block == 0) return std::string();
  uint32_t err = 0;
  int64_t size = int64_t(m->file.Size(&err));
  int64_t offset = AbsBlock(block) * m->block_size;
  if (err == 0 && offset >= size - 1) {
    MemoError(kErrMemoAddress,
              MemoMsgName() + "\n Record # " + RecordNumberText() + " [GetMemoText]");
    return std::string();
  }
  Memos().Refills = 0;
  MemoReader r;
  if (err != 0 || !r.Start(m->file, block, m->block_size, m->kind, area->read_transform)) {
    MemoError(kErrReadFault, MemoMsgName() + " [GetMemoText]");
    return std::string();
  }
  std::string text;
  for (int c; (c = r.Next()) >= 0;) text.push_back(char(c));
  return text;
}

namespace {

const FieldDesc* MemoField(int k, const std::string& operation) {
  if (AreaNotInUse(operation)) return nullptr;
  DbfArea* area = CurrentArea();
  if (k < 1 || k > area->field_count || area->fields[size_t(k - 1)].type != 'M') {
    SetError(220, "Invalid field number. [" + operation + "(" + std::to_string(k) + ")]");
    return nullptr;
  }
  return &area->fields[size_t(k - 1)];
}

}  // namespace

namespace memo {

int32_t MemoRefOf(std::string_view field) {
  size_t i = 0;
  while (i < field.size() && field[i] == ' ') ++i;
  bool negative = false;
  if (i < field.size() && (field[i] == '-' || field[i] == '+')) negative = field[i++] == '-';
  int64_t value = 0;
  size_t digits = 0;
  for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i, ++digits) {
    value = value * 10 + (field[i] - '0');
    if (value > INT32_MAX) return 0;
  }
  if (digits == 0) return 0;
  return int32_t(negative ? -value : value);
}

}  // namespace memo

std::string GetMemoText(int k) {
  const FieldDesc* f = MemoField(k, "GetMemoText");
  if (!f) return std::string();
  DbfArea* area = CurrentArea();
  if (area->record.size() < size_t(f->offset) + f->length) return std::string();
  std::string_view raw(reinterpret_cast<const char*>(area->record.data()) + f->offset, f->length);
  return ReadMemoText(MemoRefOf(raw));
}

namespace {

// Puts a memo's block number (blanks for 0) into field f of the record buffer.
bool StoreMemoRef(DbfArea& area, const FieldDesc& f, int32_t block) {
  std::string value = block == 0 ? std::string() : std::to_string(block);
  if (value.size() > f.length) return false;
  value.insert(0, f.length - value.size(), ' ');
  if (area.record.size() < size_t(f.offset) + f.length) return false;
  std::memcpy(area.record.data() + f.offset, value.data(), value.size());
  return true;
}

}  // namespace

bool ReplaceMemo(int k, const std::string& text) {
  const FieldDesc* f = MemoField(k, "ReplaceMemo");
  if (!f) return false;
  DbfArea* area = CurrentArea();
  if (!area->memo) {
    MemoError(kErrNoMemo, area->file_name + " No Memo Field [ReplaceMemo]");
    return false;
  }
  uint32_t errors = MemoErrorCount();
  int32_t block = AddMemo(text);
  if (MemoErrorCount() != errors) return false;
  return StoreMemoRef(*area, *f, block);
}

bool AppendRecordWithMemos(const std::vector<MemoValue>& memos) {
  const std::string op = "AppendRecordWithMemos";
  if (AreaNotInUse(op)) return false;
  DbfArea* area = CurrentArea();
  std::vector<const FieldDesc*> fields;
  for (const MemoValue& v : memos) {
    fields.push_back(MemoField(v.field, op));
    if (!fields.back()) return false;
  }
  if (!memos.empty() && !area->memo) {
    MemoError(kErrNoMemo, area->file_name + " No Memo Field [" + op + "]");
    return false;
  }
  // The memos written so far: the file as it was before the first, and where the last
  // ended. Contiguous while no other program's memo came between two of ours.
  MemoEndSnapshot first;
  uint64_t end = 0;
  bool wrote = false, contiguous = true, ok = true;
  HeldError held = HoldErrors([&] {
    for (size_t i = 0; i < memos.size() && ok; ++i) {
      MemoEndSnapshot before;
      uint64_t after = 0;
      const uint32_t errors = MemoErrorCount();
      const int32_t block = AddMemoAtEnd(memos[i].text, &before, &after);
      ok = MemoErrorCount() == errors;
      if (!ok || block == 0) continue;
      if (!wrote) first = std::move(before);
      else if (before.size != end) contiguous = false;
      wrote = true;
      end = after;
      ok = StoreMemoRef(*area, *fields[i], block);
    }
    if (ok) ok = AppendRecord();
  });
  if (ok && held.code == 0) return true;
  if (wrote && CurrentArea() == area && area->memo && LockMemoPad()) {
    if (contiguous && area->memo->file.Size() == end) first.Restore(area->memo->file);
    UnlockMemoPad();
  }
  if (held.code != 0) SetError(held.code, held.message);
  return false;
}

}  // namespace zedra

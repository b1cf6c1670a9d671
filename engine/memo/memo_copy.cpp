// Copying memos between memo files (converting between the three kinds) and packing a
// table's memo file.
#include <algorithm>
#include <cstring>

#include "base/errors.h"
#include "memo/memo.h"
#include "memo/memo_internal.h"
#include "table/commands.h"

namespace zedra {

using namespace memo;

namespace {

const char* const kCopyOp = " [AppendFrom/CopyTo]";

// Collects output into whole 512-byte units that pass through a write transform; used
// when a 0x83 memo is written through a transform, as 0x83 memos are read in such units.
class UnitWriter {
 public:
  UnitWriter(const EngineFile& file, int64_t position, const MemoTransform& transform)
      : file_(file), position_(position), transform_(transform) {}
  bool Put(const uint8_t* data, size_t length) {
    for (size_t i = 0; i < length; ++i) {
      unit_.push_back(data[i]);
      if (unit_.size() == 512 && !Emit()) return false;
    }
    return true;
  }
  bool Finish() { return unit_.empty() || Emit(); }

 private:
  bool Emit() {
    unit_.resize(512, 0);
    transform_(unit_.data(), unit_.size());
    bool ok = file_.WriteAt(uint64_t(position_), unit_) == 0;
    position_ += 512;
    unit_.clear();
    return ok;
  }
  const EngineFile& file_;
  int64_t position_;
  const MemoTransform& transform_;
  std::vector<uint8_t> unit_;
};

}  // namespace

uint16_t GetMemoBlockSize(const EngineFile& file, uint8_t kind) {
  if (kind == kKindDbase3) return kDbase3BlockSize;
  uint8_t hdr[kHdr4Size] = {};
  uint16_t size;
  if (kind == kKindFpt) {
    size = file.ReadAt(0, std::span<uint8_t>(hdr, 8)) == 0 ? GetBE16(hdr + kHdrFptBlockSize) : 64;
  } else {
    bool whole = file.ReadAt(0, std::span<uint8_t>(hdr, kHdr4Size)) == 0;
    size = whole && GetLE16(hdr + kHdr4Version) == kHdr4VersionValue
               ? GetLE16(hdr + kHdr4BlockSize)
               : kDbase3BlockSize;
  }
  // A stored 0 means the default, as when the file is opened.
  return BlockSizeOrDefault(size);
}

int32_t CopyMemoData(const MemoCopyJob& job) {
  if (job.source_block == 0 || !job.source || !job.target) return 0;
  const EngineFile& src = *job.source;
  const EngineFile& dst = *job.target;
  const bool plain_target = job.target_kind == kKindDbase3;
  bool plain_source = job.source_kind == kKindDbase3 && job.source_block >= 0;
  const uint16_t sbs = job.source_block_size ? job.source_block_size : 512;
  const uint16_t tbs = job.target_block_size ? job.target_block_size : 512;

  size_t n = std::max(sbs, tbs);
  if (job.write_transform || job.read_transform || n <= 512 || plain_target) n = 512;

  const int64_t e = AbsBlock(job.source_block);
  const uint64_t src_start = uint64_t(e) * sbs;
  uint8_t hdr[kGroupHeaderSize] = {};
  size_t got = 0;
  if (plain_source) {
    src.ReadAt(src_start, hdr, &got);
    if (got == kGroupHeaderSize && GroupHeader::IsDbase4Header(hdr)) plain_source = false;
  }
  uint64_t total = 0;
  bool group_form = false;  // a text with 0x00 bytes, kept whole in a 0x83 file
  if (!plain_source) {
    if (src.ReadAt(src_start, hdr, &got) != 0) return 0;
    if (job.source_kind == kKindFpt) {
      total = uint64_t(GetBE32(hdr + 4)) + kGroupHeaderSize;
    } else {
      GroupHeader h = GroupHeader::Decode(hdr, kKindDbase4);
      if (!h.valid) return 0;
      total = uint64_t(h.text_length) + kGroupHeaderSize;
    }
    if (plain_target) {
      std::vector<uint8_t> scan(n);
      for (uint64_t off = kGroupHeaderSize; off < total; off += n) {
        size_t want = size_t(std::min<uint64_t>(n, total - off));
        size_t have = 0;
        src.ReadAt(src_start + off, std::span<uint8_t>(scan.data(), want), &have);
        if (job.read_transform) job.read_transform(scan.data(), have);
        if (std::find(scan.begin(), scan.begin() + long(have), 0) != scan.begin() + long(have)) {
          group_form = true;
          break;
        }
        if (have < want) break;  // the file ends inside the memo
      }
    }
  }
  const bool target_group = !plain_target || group_form;
  const std::string where = MemoMsgName() + kCopyOp;

  std::vector<uint8_t> buf(n);
  int64_t tpos = job.target_position;
  uint64_t spos = src_start;
  uint64_t copied = 0;
  bool first = true, wrote_end = false;
  const bool units = job.write_transform && plain_target && !group_form;
  UnitWriter unit_writer(dst, tpos, job.write_transform);
  for (;;) {
    size_t i = 0;
    src.ReadAt(spos, std::span<uint8_t>(buf.data(), n), &i);
    spos += i;
    size_t skip = 0;
    bool end = false;
    if (plain_source) {
      if (job.read_transform) job.read_transform(buf.data(), i);
      for (size_t k = 0; k < i; ++k)
        if (buf[k] == 0) buf[k] = kMemoEnd;
      auto mark = std::find(buf.begin(), buf.begin() + long(i), kMemoEnd);
      if (mark != buf.begin() + long(i)) {
        end = true;
        i = size_t(mark - buf.begin()) + (plain_target ? 1 : 0);
        wrote_end = plain_target;
      }
    } else {
      if (copied + i >= total) {
        end = true;
        i = size_t(total - copied);
      }
      skip = first ? std::min<size_t>(kGroupHeaderSize, i) : 0;
      if (job.read_transform) job.read_transform(buf.data() + skip, i - skip);
    }
    copied += i;
    if (i < 1) break;
    if (first && target_group) {
      uint8_t placeholder[kGroupHeaderSize] = {};
      if (dst.WriteAt(uint64_t(tpos), placeholder) != 0) {
        MemoError(kErrMemoWrite, where);
        return 0;
      }
      tpos += kGroupHeaderSize;
    }
    first = false;
    const uint8_t* piece = buf.data() + skip;
    size_t length = i - skip;
    uint32_t io_error = 0;
    bool ok = units ? unit_writer.Put(piece, length)
                    : WritePieces(dst, tpos, piece, length, length, job.write_transform, &io_error);
    if (!ok) {
      MemoError(kErrMemoWrite, where);
      return 0;
    }
    tpos += int64_t(length);
    if (end) break;
  }
  if (!plain_source) copied = copied >= kGroupHeaderSize ? copied - kGroupHeaderSize : 0;
  if (copied < 1) return 0;
  if (!target_group) {
    // A dBASE III memo ends with two 0x1A. The second is left out only where it would
    // begin a block that is already in the file (a memo copied to its own block number
    // whose text and first 0x1A fill its blocks): it would overwrite another memo.
    const uint8_t marks[kMemoEndCount] = {kMemoEnd, kMemoEnd};
    size_t count = wrote_end ? kMemoEndCount - 1 : kMemoEndCount;
    const uint64_t second = uint64_t(tpos) + count - 1;
    if (second % tbs == 0 && second < dst.Size()) --count;
    bool ok = true;
    uint32_t io_error = 0;
    if (count > 0)
      ok = units ? unit_writer.Put(marks, count)
                 : WritePieces(dst, tpos, marks, count, count, job.write_transform, &io_error);
    if (ok && units) ok = unit_writer.Finish();
    if (!ok) {
      MemoError(kErrMemoWrite, where);
      return 0;
    }
  } else if (!WriteGroupHeaderOf(int64_t(job.target_block) * tbs, uint32_t(copied), dst,
                                 job.target_kind)) {
    SetError(kErrMemoWrite, where);
    return 0;
  }
  return job.target_is_83 && group_form ? -job.target_block : job.target_block;
}

int32_t CopyMemo(uint8_t source_area, int32_t block, bool keep) {
  if (block == 0) return 0;
  DbfArea* target = CurrentArea();
  DbfArea* source = AreaAt(source_area);
  if (!target || !target->memo || !source || !source->memo) return 0;
  int64_t end = LockMemoPadAndSeekEOF("CopyMemo()");
  if (end == 0) return 0;
  MemoCopyJob job;
  job.source = &source->memo->file;
  job.target = &target->memo->file;
  job.source_kind = GetMemoTypeOf(*source);
  job.target_kind = GetMemoTypeOf(*target);
  job.source_block_size = GetMemoBlockSize(*job.source, job.source_kind);
  job.target_block_size = GetMemoBlockSize(*job.target, job.target_kind);
  job.source_block = block;
  const int64_t a = AbsBlock(block);
  if (keep) {
    job.target_block = int32_t(a);
    job.target_position = a * job.target_block_size;
  } else {
    job.target_block = int32_t(end / job.target_block_size);
    job.target_position =
        end == int64_t(kNew83Size) && job.target_kind == kKindDbase3 ? 512 : end;
  }
  job.write_transform = target->write_transform;
  job.read_transform = source->read_transform;
  job.target_is_83 = job.target_kind == kKindDbase3;
  uint32_t errors = MemoErrorCount();
  int32_t result = CopyMemoData(job);
  if (MemoErrorCount() == errors) {
    UpdateMemoHeader();
    FlushFile(target->memo->file);
  }
  return result;
}

namespace {

// Pads the pack's target file to a block boundary: the position of the next memo, or
// -1 after an error.
int64_t PadMemoFile(const MemoCopyJob& state) {
  uint32_t err = 0;
  uint64_t size = state.target->Size(&err);
  if (err != 0) {
    MemoError(uint16_t(err), MemoMsgName());
    return -1;
  }
  if (state.target_kind == kKindDbase3 && size == kNew83Size) size = 512;
  const uint16_t bs = state.target_block_size;
  if (size % bs == 0) return int64_t(size);
  uint64_t padded = (size / bs + 1) * bs;
  std::vector<uint8_t> zeros(512, 0);
  for (uint64_t at = size; at < padded;) {
    size_t n = size_t(std::min<uint64_t>(512, padded - at));
    if (state.target->WriteAt(at, std::span<const uint8_t>(zeros.data(), n)) != 0) {
      MemoError(kErrMemoWrite, MemoMsgName());
      return -1;
    }
    at += n;
  }
  return int64_t(padded);
}

// Copies one memo of the pack; the new block, or 0. *hard is set when the pack must stop
// (an I/O failure); an invalid reference only gives 0.
int32_t PackMemo(int32_t a, int32_t record, MemoCopyJob& state, bool* hard) {
  uint32_t errors = MemoErrorCount();
  int64_t position = PadMemoFile(state);
  if (position < 0) {
    *hard = true;
    return 0;
  }
  state.target_position = position;
  state.target_block = int32_t(position / state.target_block_size);
  state.source_block = a;
  const int64_t abs_a = AbsBlock(a);
  int64_t source_size = int64_t(state.source->Size());
  if (abs_a * state.source_block_size < source_size - 1) {
    int32_t result = CopyMemoData(state);
    if (MemoErrorCount() != errors) *hard = true;
    return result;
  }
  MemoError(kErrMemoAddress, MemoMsgName() + " Memo block # " + std::to_string(abs_a) +
                                 " Record # " + std::to_string(record) + " [PackMemo]");
  return 0;
}

struct RefUpdate {
  int32_t record;
  const FieldDesc* field;
  std::string old_text;
  std::string new_text;
};

// Reads record n as the area's readable form into `out`, without touching the area's
// record buffer, position or flags.
bool ReadRecordPrivately(const DbfArea& area, int32_t n, std::vector<uint8_t>* out) {
  out->assign(area.record_length, ' ');
  if (area.file.ReadAt(area.RecordOffset(n), *out) != 0) return false;
  TranslateRecord(area, *out, false);
  return true;
}

bool WriteRecordPrivately(const DbfArea& area, int32_t n, std::vector<uint8_t> data) {
  TranslateRecord(area, data, true);
  return area.file.WriteAt(area.RecordOffset(n), data) == 0;
}

bool HasTransform(const DbfArea& area) {
  return bool(area.read_transform) || bool(area.write_transform);
}

// Writes one memo reference into the table file.
bool WriteRef(DbfArea& area, const RefUpdate& u, const std::string& text) {
  if (!HasTransform(area)) {
    Poke(text, int(u.field - area.fields.data()) + 1, u.record);
    return ErrorCode() == 0;
  }
  std::vector<uint8_t> rec;
  if (!ReadRecordPrivately(area, u.record, &rec)) return false;
  std::memcpy(rec.data() + u.field->offset, text.data(), text.size());
  return WriteRecordPrivately(area, u.record, std::move(rec));
}

}  // namespace

void PackMemofile() {
  if (AreaNotInUse("PackMemofile")) return;
  DbfArea* area = CurrentArea();
  MemoDescriptor* m = area->memo.get();
  if (!m) return;
  const std::string name = MemoMsgName();
  uint64_t size = m->file.Size();
  // The free space of the volume that holds the memo file (its directory).
  if (DiskFreeKB(SplitPath(m->file_name).dir) < int32_t(size / 1024)) {
    MemoError(kErrPackDiskSpace, name + " [PackMemofile]");
    return;
  }
  const std::string temp = ForceExtension(m->file_name, "$$$");
  if (!CreateMemoFileAs(temp, m->kind, m->block_size, "PackMemofile")) return;
  EngineFile target;
  if (uint32_t err = target.Open(temp, platform::kModeReadWriteExclusive); err != 0) {
    MemoError(uint16_t(err), name + " [PackMemofile]");
    return;
  }
  MemoCopyJob state;
  state.source = &m->file;
  state.target = &target;
  state.source_block_size = state.target_block_size = m->block_size;
  state.source_kind = state.target_kind = m->kind;
  state.write_transform = area->write_transform;
  state.read_transform = area->read_transform;
  state.target_is_83 = m->kind == kKindDbase3;

  // The new references are collected first and written only once the packed file is
  // complete, so that a failure half-way leaves the table and its memo file as they were.
  std::vector<RefUpdate> updates;
  const int32_t count = RecCount();
  bool hard = false;
  std::vector<uint8_t> rec;
  for (int32_t n = 1; n <= count && !hard; ++n) {
    bool have_record = false;
    for (const FieldDesc& f : area->fields) {
      if (f.type != 'M') continue;
      std::string text;
      if (HasTransform(*area)) {
        if (!have_record && !ReadRecordPrivately(*area, n, &rec)) {
          MemoError(kErrReadFault, name + " [PackMemofile]");
          hard = true;
          break;
        }
        have_record = true;
        text.assign(reinterpret_cast<const char*>(rec.data()) + f.offset, f.length);
      } else {
        text = Peek(int(&f - area->fields.data()) + 1, n);
      }
      int32_t a = MemoRefOf(text);
      if (a == 0) continue;
      int32_t block = PackMemo(a, n, state, &hard);
      if (hard) break;
      // The new reference as right-aligned decimal text; a memo that could not be copied
      // reads "0".
      std::string value = std::to_string(block);
      value.insert(0, f.length > value.size() ? f.length - value.size() : 0, ' ');
      if (value != text) updates.push_back({n, &f, text, value});
    }
  }
  if (!hard) {
    uint32_t blocks = BlocksIn(target.Size(), m->block_size);
    if (!MainHeaderWrite(target, blocks, m->kind == kKindFpt)) {
      MemoError(kErrWriteFault, name + " [PackMemo]");
      hard = true;
    }
  }
  uint32_t close_err = target.Close();
  if (!hard && close_err != 0) {
    MemoError(uint16_t(close_err), name + " [PackMemo]");
    hard = true;
  }
  if (hard) return;

  // Every reference must be writable before the first one is written.
  if (!HasTransform(*area)) {
    for (const RefUpdate& u : updates) {
      if (!PokeAllowed(*area, u.record)) {
        Poke(u.new_text, int(u.field - area->fields.data()) + 1, u.record);  // reports 1200
        return;
      }
    }
  }
  uint16_t kept = ErrorCode();  // a 1003 reported on the way stays the last error
  Errors().ErrorCode = 0;
  for (size_t i = 0; i < updates.size(); ++i) {
    if (!WriteRef(*area, updates[i], updates[i].new_text)) {
      // Put back what was written: the old memo file stays, so must the old references.
      if (ErrorCode() == 0) SetError(kErrWriteFault, area->file_name + " [PackMemofile]");
      AutoReportScope quiet(false);
      uint16_t code = ErrorCode();
      for (size_t j = 0; j < i; ++j) WriteRef(*area, updates[j], updates[j].old_text);
      Errors().ErrorCode = code;
      return;
    }
  }
  // The packed file replaces the memo file in one step (rename over it), so that a
  // complete memo file exists under its name at every moment.
  m->file.Close();
  m->pad_locked = false;
  if (uint32_t err = platform::RenameFile(temp, m->file_name); err != 0) {
    {
      AutoReportScope quiet(false);
      for (const RefUpdate& u : updates) WriteRef(*area, u, u.old_text);
    }
    m->file.Open(m->file_name, MemoOpenModeFor(*area));
    MemoError(uint16_t(err), name + " [PackMemofile]");
    return;
  }
  if (uint32_t err = m->file.Open(m->file_name, MemoOpenModeFor(*area)); err != 0) {
    area->memo.reset();
    MemoError(uint16_t(err), "Memo file not found: " + name + " [PackMemofile]");
    return;
  }
  // The record in the buffer shows its new references; the read cache is dropped.
  for (const RefUpdate& u : updates) {
    if (u.record == area->current_record &&
        area->record.size() >= size_t(u.field->offset) + u.field->length)
      std::memcpy(area->record.data() + u.field->offset, u.new_text.data(), u.new_text.size());
  }
  if (!area->is_virtual && !area->typed_image.empty()) FillTypedImage(*area);
  DropPeekCache(*area);
  if (kept != 0) Errors().ErrorCode = kept;
}

}  // namespace zedra

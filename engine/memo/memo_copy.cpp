// Copying memos between memo files (converting between the three kinds) and packing a
// table's memo file.
#include <algorithm>
#include <cstring>

#include "base/errors.h"
#include "memo/memo.h"
#include "memo/memo_internal.h"
#include "table/commands.h"
#include "table/rewrite.h"

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
    if (plain_target && job.keep_form) {
      group_form = true;
    } else if (plain_target) {
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
      if (!job.keep_form)
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

}  // namespace

void PackMemofile() {
  if (AreaNotInUse("PackMemofile")) return;
  DbfArea* area = CurrentArea();
  if (!area->memo) return;
  // The table file is replaced too: no other program may have it open.
  if (!area->exclusive) {
    MemoError(225, area->file_name + " [PackMemofile]");
    return;
  }
  RewriteOptions options;
  options.pack_memos = true;
  options.operation = "PackMemofile";
  RewriteTable(*area, options);
}

uint16_t CheckMemo(int32_t block) {
  MemoDescriptor* m = CurrentMemo();
  if (!m) return kErrNoMemo;
  uint32_t err = 0;
  const uint64_t size = m->file.Size(&err);
  if (err != 0) return uint16_t(err);
  const uint64_t offset = uint64_t(AbsBlock(block)) * m->block_size;
  // As the reader sees it: nothing there, or only the last byte of the file.
  if (offset + 1 >= size) return kErrMemoAddress;
  uint8_t hdr[kGroupHeaderSize] = {};
  size_t got = 0;
  m->file.ReadAt(offset, hdr, &got);
  const bool counted = m->kind == kKindFpt || IsDbase4Kind(m->kind) || block < 0 ||
                       (got == kGroupHeaderSize && GroupHeader::IsDbase4Header(hdr));
  if (!counted) return 0;  // a 0x83 text, read up to its 0x1A
  if (got < kGroupHeaderSize) return kErrReadFault;
  GroupHeader h = GroupHeader::Decode(hdr, m->kind == kKindFpt ? kKindFpt : kKindDbase4);
  if (!h.valid || h.text_length > size - offset - kGroupHeaderSize) return kErrReadFault;
  return 0;
}

std::shared_ptr<MemoRewrite> StartMemoRewrite(const std::string& path) {
  DbfArea* area = CurrentArea();
  MemoDescriptor* m = area ? area->memo.get() : nullptr;
  if (!m) return nullptr;
  if (!CreateMemoFileAs(path, m->kind, m->block_size, "PackMemofile")) return nullptr;
  struct State {
    EngineFile target;
    MemoCopyJob job;
  };
  auto state = std::make_shared<State>();
  if (uint32_t err = state->target.Open(path, platform::kModeReadWriteExclusive); err != 0) {
    MemoError(uint16_t(err), MemoMsgName() + " [PackMemofile]");
    return nullptr;
  }
  MemoCopyJob& job = state->job;
  job.source = &m->file;
  job.target = &state->target;
  job.source_block_size = job.target_block_size = m->block_size;
  job.source_kind = job.target_kind = m->kind;
  job.write_transform = area->write_transform;
  job.read_transform = area->read_transform;
  job.target_is_83 = m->kind == kKindDbase3;
  job.keep_form = true;
  auto rewrite = std::make_shared<MemoRewrite>();
  rewrite->Copy = [state](int32_t block) -> int32_t {
    int64_t position = PadMemoFile(state->job);
    if (position < 0) return 0;
    state->job.target_position = position;
    state->job.target_block = int32_t(position / state->job.target_block_size);
    state->job.source_block = block;
    return CopyMemoData(state->job);
  };
  rewrite->Finish = [state]() {
    const MemoCopyJob& j = state->job;
    const std::string name = MemoMsgName();
    const uint64_t size = state->target.Size();
    // A file without memos keeps the header of a new one.
    uint32_t blocks = j.target_kind == kKindDbase3 && size == kNew83Size
                          ? 1
                          : BlocksIn(size, j.target_block_size);
    if (!MainHeaderWrite(state->target, blocks, j.target_kind == kKindFpt)) {
      MemoError(kErrWriteFault, name + " [PackMemo]");
      return false;
    }
    if (uint32_t err = platform::FlushFile(state->target.handle()); err != 0) {
      MemoError(uint16_t(err), name + " [PackMemo]");
      return false;
    }
    if (uint32_t err = state->target.Close(); err != 0) {
      MemoError(uint16_t(err), name + " [PackMemo]");
      return false;
    }
    return true;
  };
  return rewrite;
}

}  // namespace zedra

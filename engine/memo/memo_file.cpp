// The memo file of a work area: creating, opening and closing it, the header updates,
// group headers, the free-block chain and its allocation, and AddMemo.
#include <algorithm>
#include <cstring>

#include "base/errors.h"
#include "memo/memo.h"
#include "memo/memo_internal.h"
#include "table/commands.h"

namespace zedra {

using namespace memo;

namespace memo {

MemoDescriptor* CurrentMemo() {
  DbfArea* area = CurrentArea();
  return area ? area->memo.get() : nullptr;
}

std::string MemoMsgName() {
  DbfArea* area = CurrentArea();
  if (!area) return std::string();
  return ForceExtension(area->file_name, MemoFileExt(Tables().DefaultMemoKind));
}

namespace {
uint32_t memo_errors = 0;
}  // namespace

uint32_t MemoErrorCount() { return memo_errors; }

void MemoError(uint16_t code, const std::string& message) {
  ++memo_errors;
  UnlockMemoPad();
  SetError(code, message);
}

uint16_t BlockSizeOrDefault(uint16_t stored) {
  if (stored != 0) return stored;
  return Memos().DefaultBlockSize ? Memos().DefaultBlockSize : 512;
}

uint32_t BlocksIn(uint64_t size, uint16_t block_size) {
  if (block_size == 0) block_size = kDbase3BlockSize;
  return uint32_t(size / block_size + (size % block_size ? 1 : 0));
}

uint32_t PutGroupHeader(const EngineFile& file, uint64_t position, uint32_t length,
                        uint8_t kind) {
  return file.WriteAt(position, GroupHeader::Encode(length, kind == kKindFpt ? kKindFpt : kKindDbase4));
}

bool WriteGroupHeaderOf(int64_t position, uint32_t length, const EngineFile& file,
                        uint8_t kind) {
  if (position <= 0) return true;
  if (uint32_t err = PutGroupHeader(file, uint64_t(position), length, kind); err != 0) {
    MemoError(MemoWriteFault(err), MemoMsgName() + " [WriteGroupHeader()]");
    return false;
  }
  return true;
}

bool AddToCounter(int32_t delta, const MemoEndSnapshot* before) {
  MemoDescriptor* m = CurrentMemo();
  if (!m) return false;
  // With blocks smaller than the header's 36 bytes the counter would lie in a memo.
  if (m->block_size < kHdr4Counter + 4) return true;
  uint8_t b[4];
  if (m->file.ReadAt(kHdr4Counter, b) != 0) {
    if (before) before->Restore(m->file);
    MemoError(kErrReadFault, MemoMsgName());
    return false;
  }
  // Added as unsigned: a damaged counter wraps around instead of overflowing.
  PutLE32(b, GetLE32(b) + uint32_t(delta));
  if (uint32_t err = m->file.WriteAt(kHdr4Counter, b); err != 0) {
    if (before) before->Restore(m->file);
    MemoError(MemoWriteFault(err), MemoMsgName());
    return false;
  }
  return true;
}

bool WritePieces(const EngineFile& file, int64_t position, const uint8_t* data, size_t length,
                 size_t unit, const MemoTransform& transform, uint32_t* error) {
  *error = 0;
  if (!transform) {
    if (length == 0) return true;
    *error = file.WriteAt(uint64_t(position), std::span<const uint8_t>(data, length));
    return *error == 0;
  }
  std::vector<uint8_t> piece;
  for (size_t done = 0; done < length; done += unit) {
    size_t n = std::min(unit, length - done);
    piece.assign(data + done, data + done + n);
    transform(piece.data(), piece.size());
    *error = file.WriteAt(uint64_t(position) + done, piece);
    if (*error != 0) return false;
  }
  return true;
}

bool CreateMemoFileAs(const std::string& path, uint8_t kind, uint16_t block_size,
                      const std::string& operation) {
  block_size = BlockSizeOrDefault(block_size);
  EngineFile file;
  if (uint32_t err = file.Create(path, platform::kModeReadWrite); err != 0) {
    MemoError(uint16_t(err), "Cannot create memo file " + path + " [" + operation + "]");
    return false;
  }
  std::vector<uint8_t> bytes;
  if (kind == kKindDbase3) {
    bytes.assign(kNew83Size, 0);
    bytes[0] = 0x01;
    bytes[kNew83Size - 1] = kMemoEnd;
  } else if (kind == kKindFpt) {
    bytes.assign(kHdrFptSize, 0);
    PutBE32(bytes.data() + kHdrNextFree, 511 / block_size + 1);
    PutBE16(bytes.data() + kHdrFptBlockSize, block_size);
  } else {
    bytes.assign(kHdr4Size, 0);
    PutLE32(bytes.data() + kHdrNextFree, 1);
    std::string base = SplitPath(path).name.substr(0, kHdr4NameSize);
    std::memcpy(bytes.data() + kHdr4Name, base.data(), base.size());
    PutLE16(bytes.data() + kHdr4Version, kHdr4VersionValue);
    PutLE16(bytes.data() + kHdr4BlockSize, block_size);
  }
  uint32_t err = file.WriteAt(0, bytes);
  uint32_t close_err = file.Close();
  if (err == 0) err = close_err;
  if (err != 0) {
    // A memo file without its whole header is no memo file: it goes again.
    platform::RemoveFile(path);
    MemoError(uint16_t(err), path + " [" + operation + "]");
    return false;
  }
  return true;
}

}  // namespace memo

uint8_t GetMemoTypeOf(const DbfArea& area) {
  uint8_t version = area.header[0];
  uint8_t b[1];
  if (area.file.IsOpen() && area.file.ReadAt(0, b) == 0) version = b[0];
  return IsMemoKind(version) ? version : Tables().DefaultMemoKind;
}

uint8_t GetMemoType() {
  if (AreaNotInUse("GetMemoType")) return Tables().DefaultMemoKind;
  return GetMemoTypeOf(*CurrentArea());
}

void CreateMemoFile(const std::string& name, uint8_t kind, uint16_t block_size,
                    const std::string& operation) {
  CreateMemoFileAs(ForceExtension(name, MemoFileExt(kind)), kind, block_size, operation);
}

void CreateMemofile(const std::string& name) {
  CreateMemoFile(name, Tables().DefaultMemoKind, Memos().DefaultBlockSize, "CreateMemofile()");
}

void OpenMemofile(const std::string& name) {
  uint8_t kind = GetMemoType();
  DbfArea* area = CurrentArea();
  if (!area) return;
  std::string path = ForceExtension(name, MemoFileExt(kind));
  if (area->memo) {
    MemoError(kErrMemoOpen, path + " [USE]");
    return;
  }
  auto m = std::make_unique<MemoDescriptor>();
  m->kind = Tables().DefaultMemoKind;
  m->block_size = Memos().DefaultBlockSize;
  m->file_name = platform::ResolveCase(path);
  // The pad state is all zero after opening; CreateMemoDescriptor lays it down.
  auto pad = std::make_shared<MemoPadState>();
  pad->position = 0;
  m->pad_state = pad;
  if (uint32_t err = m->file.Open(m->file_name, MemoOpenModeFor(*area)); err != 0) {
    MemoError(uint16_t(err), "Memo file not found: " + path + " [USE]");
    return;
  }
  m->kind = kind;
  uint16_t stored = 0;
  uint8_t hdr[kHdr4Size] = {};
  if (kind == kKindDbase3) {
    stored = kDbase3BlockSize;
  } else if (kind == kKindFpt) {
    if (m->file.ReadAt(0, std::span<uint8_t>(hdr, 8)) == 0) stored = GetBE16(hdr + kHdrFptBlockSize);
  } else if (m->file.ReadAt(0, std::span<uint8_t>(hdr, kHdr4Size)) == 0) {
    stored = GetLE16(hdr + kHdr4BlockSize);
  }
  m->block_size = BlockSizeOrDefault(stored);
  area->memo = std::move(m);
}

void CreateMemoDescriptor(bool allocate) {
  MemoDescriptor* m = CurrentMemo();
  if (!m) return;
  if (!m->pad_state) m->pad_state = std::make_shared<MemoPadState>();
  auto* state = static_cast<MemoPadState*>(m->pad_state.get());
  state->flag1 = 0;
  state->flag2 = 0;
  state->position = -1;
  state->reserved.fill(0);
  state->limit = 0x7FFFFFFF - Memos().WriteUnit;
  state->flag3 = 0;
  if (allocate) {
    if (state->buffer.empty()) state->buffer.assign(512, 0);
  } else {
    state->buffer.clear();
    state->buffer.shrink_to_fit();
  }
}

void CloseMemofile() {
  DbfArea* area = CurrentArea();
  if (!area || !area->memo) return;
  std::string name = MemoMsgName();
  uint32_t err = area->memo->file.Close();
  CreateMemoDescriptor(false);
  area->memo.reset();
  if (err != 0) MemoError(uint16_t(err), name + " [CloseMemofile]");
}

void RecreateMemofile(const std::string& name) {
  DbfArea* area = CurrentArea();
  if (!area) return;
  CloseMemofile();
  // The new file takes the table's own memo kind, so that a table whose memo kind is
  // not the default gets its memo file emptied rather than a second file beside it.
  CreateMemoFile(name, GetMemoTypeOf(*area), Memos().DefaultBlockSize, "CreateMemofile()");
  OpenMemofile(name);
}

namespace memo {

bool MemoEndSnapshot::Take(const EngineFile& file) {
  uint32_t err = 0;
  size = file.Size(&err);
  if (err != 0) return false;
  head.assign(size_t(std::min<uint64_t>(size, kNew83Size)), 0);
  return file.ReadAt(0, head) == 0;
}

bool MemoEndSnapshot::Restore(const EngineFile& file) const {
  // Cutting first: putting the old bytes back then never needs room on the disk.
  return file.Truncate(size) == 0 && file.WriteAt(0, head) == 0;
}

}  // namespace memo

int64_t LockMemoPadAndSeekEOF(const std::string& operation) {
  return LockPadAndSeekEnd(operation, nullptr);
}

int64_t memo::LockPadAndSeekEnd(const std::string& operation, MemoEndSnapshot* before) {
  MemoDescriptor* m = CurrentMemo();
  if (!m) return 0;
  if (!LockMemoPad()) {
    MemoError(kErrPadLock, MemoMsgName() + " [" + operation + "]");
    return 0;
  }
  uint32_t err = 0;
  uint64_t size = m->file.Size(&err);
  if (err != 0 || size == 0) {
    // A memo file without even its header cannot take a memo.
    MemoError(err != 0 ? uint16_t(err) : kErrReadFault, MemoMsgName() + " [" + operation + "]");
    return 0;
  }
  if (before && !before->Take(m->file)) {
    MemoError(kErrReadFault, MemoMsgName() + " [" + operation + "]");
    return 0;
  }
  if (m->kind == kKindDbase3 && size == kNew83Size) return kNew83Size;
  uint16_t bs = m->block_size;
  if (size % bs != 0) {
    uint64_t pad = bs - size % bs;
    std::vector<uint8_t> zeros(pad, 0);
    if (uint32_t w = m->file.WriteAt(size, zeros); w != 0) {
      if (before) before->Restore(m->file);
      MemoError(uint16_t(w), MemoMsgName() + " [LockMemoPadAndSeekEOF]");
      return 0;
    }
    return int64_t(size + pad);
  }
  return int64_t(size);
}

bool MainHeaderWrite(const EngineFile& file, uint32_t value, bool big_endian) {
  uint8_t b[4];
  if (big_endian)
    PutBE32(b, value);
  else
    PutLE32(b, value);
  return file.WriteAt(kHdrNextFree, b) == 0;
}

void UpdateMemoHeader() { UpdateMemoHeaderWith(nullptr); }

namespace memo {

void UpdateMemoHeaderWith(const MemoEndSnapshot* before) {
  MemoDescriptor* m = CurrentMemo();
  if (!m) return;
  uint32_t blocks = BlocksIn(m->file.Size(), m->block_size);
  uint8_t b[4];
  if (m->kind == kKindFpt)
    PutBE32(b, blocks);
  else
    PutLE32(b, blocks);
  if (uint32_t err = m->file.WriteAt(kHdrNextFree, b); err != 0) {
    if (before) before->Restore(m->file);
    MemoError(MemoWriteFault(err), MemoMsgName() + " [UpdateMemoHeader()]");
    return;
  }
  if (IsDbase4Kind(m->kind) && !AddToCounter(int32_t(Memos().Refills), before)) return;
  if (Tables().LockingOn && !UnlockMemoPad()) SetError(kErrPadUnlock, MemoMsgName());
}

}  // namespace memo

bool ReadGroupHeader(int32_t* block, uint8_t header[8]) {
  std::memset(header, 0, kGroupHeaderSize);
  MemoDescriptor* m = CurrentMemo();
  if (!m || *block <= 0) return true;
  if (m->file.ReadAt(uint64_t(*block) * m->block_size,
                     std::span<uint8_t>(header, kGroupHeaderSize)) != 0) {
    MemoError(kErrReadFault, MemoMsgName() + " [ReadGroupHeader()]");
    return false;
  }
  *block = int32_t(GetLE32(header + 4) / m->block_size + 1);
  return true;
}

bool WriteGroupHeader(int64_t position, uint32_t length, const EngineFile& file) {
  MemoDescriptor* m = CurrentMemo();
  uint8_t kind = m && m->kind == kKindFpt ? kKindFpt : kKindDbase4;
  return WriteGroupHeaderOf(position, length, file, kind);
}

void FreeBlocks(uint32_t first, uint32_t length) {
  MemoDescriptor* m = CurrentMemo();
  if (!m || !IsDbase4Kind(m->kind)) return;
  const std::string where = MemoMsgName() + " [EditMemo/CloseMemo]";
  const uint16_t bs = m->block_size;
  uint32_t total = BlocksIn(m->file.Size(), bs);
  uint8_t hdr[kHdr4Size];
  if (m->file.ReadAt(0, hdr) != 0) {
    MemoError(kErrReadFault, where);
    return;
  }
  uint32_t head = GetLE32(hdr + kHdrNextFree);
  uint32_t blocks = length / bs + (length % bs ? 1 : 0);
  // An empty chain records nothing; neither does a run that is not inside the file or
  // is the head already (it would link to itself).
  if (head == std::max<uint32_t>(total, 1) || blocks == 0 || first == 0 || first >= total ||
      head == first)
    return;
  FreeRun run{head, blocks};
  if (head < first) {
    // Find the element after which `first` belongs. The walk is bounded by the number of
    // blocks and stops at any link that does not move forward, so a looping chain ends.
    uint32_t e = head;
    uint8_t rec[8];
    for (uint32_t steps = 0;; ++steps) {
      if (m->file.ReadAt(uint64_t(e) * bs, rec) != 0) {
        MemoError(kErrReadFault, where);
        return;
      }
      uint32_t next = FreeRun::Decode(rec).next;
      if (next == first) return;  // already free
      if (next > first || (next & 0xFFFF) == 0xFFFF || next <= e || steps > total) break;
      e = next;
    }
    run.next = FreeRun::Decode(rec).next;
    uint8_t link[4];
    PutLE32(link, first);
    if (m->file.WriteAt(uint64_t(e) * bs, link) != 0) {
      MemoError(kErrWriteFault, where);
      return;
    }
  } else if (!MainHeaderWrite(m->file, first, false)) {
    MemoError(kErrWriteFault, where);
    return;
  }
  if (m->file.WriteAt(uint64_t(first) * bs, run.Encode()) != 0) MemoError(kErrWriteFault, where);
}

uint32_t AllocateBlocks(uint32_t need, uint32_t current, const std::string& operation) {
  MemoDescriptor* m = CurrentMemo();
  if (!m || !IsDbase4Kind(m->kind)) return 0;
  const std::string where = MemoMsgName() + " [" + operation + "]";
  const uint16_t bs = m->block_size;
  // A partly filled last block counts, so that the end of the file never overlaps a memo.
  uint32_t total = std::max<uint32_t>(BlocksIn(m->file.Size(), bs), 1);
  uint8_t rec[8];
  if (current != 0 && current < total) {
    if (m->file.ReadAt(uint64_t(current) * bs, rec) != 0) {
      MemoError(kErrReadFault, where);
      return 0;
    }
    if (GroupHeader::IsDbase4Header(rec) && GetLE32(rec + 4) >= kGroupHeaderSize) {
      uint32_t have = (GetLE32(rec + 4) - kGroupHeaderSize) / bs + 1;
      if (have >= need) {
        if (have > need) FreeBlocks(current + need, (have - need) * bs);
        return current;
      }
    }
  }
  constexpr int kMaxWalk = 100;
  uint32_t prev = 0, e = 0, last = 0;
  int walked = 0;
  if (need != 0x7FFFFFFF) {
    for (;;) {
      if (m->file.ReadAt(uint64_t(e) * bs, rec) != 0) {
        MemoError(kErrReadFault, where);
        return 0;
      }
      FreeRun run = FreeRun::Decode(rec);
      // Block 0 is the header and never a free run; a run must lie inside the file.
      if (e != 0 && run.blocks >= need && uint64_t(e) + run.blocks <= total) {
        // Unlink the run before it is handed out, so the chain never leads to a memo.
        uint8_t link[4];
        PutLE32(link, run.next);
        if (m->file.WriteAt(uint64_t(prev) * bs, link) != 0) {
          MemoError(kErrWriteFault, where);
          return 0;
        }
        if (run.blocks > need) FreeBlocks(e + need, (run.blocks - need) * bs);
        return e;
      }
      last = e;
      if (++walked >= kMaxWalk) break;
      if (FreeRun::EndsChain(run.next, total) || run.next <= e) break;
      prev = e;
      e = run.next;
    }
  }
  uint8_t link[4];
  PutLE32(link, total + need);
  if (m->file.WriteAt(uint64_t(last) * bs, link) != 0) {
    MemoError(kErrWriteFault, where);
    return 0;
  }
  if (walked >= kMaxWalk && !MainHeaderWrite(m->file, total + need, false)) {
    MemoError(kErrWriteFault, where);
    return 0;
  }
  return total;
}

int32_t AddMemo(const std::string& text) { return AddMemoAtEnd(text, nullptr, nullptr); }

namespace memo {

int32_t AddMemoAtEnd(const std::string& text, MemoEndSnapshot* before, uint64_t* after) {
  if (AreaNotInUse("AddMemo()")) return 0;
  MemoDescriptor* m = CurrentMemo();
  if (!m) {
    MemoError(kErrNoMemo, CurrentArea()->file_name + " No Memo Field [AddMemo()]");
    return 0;
  }
  std::string data = text;
  while (!data.empty() && data.back() == ' ') data.pop_back();
  if (data.empty()) return 0;
  MemoEndSnapshot own;
  MemoEndSnapshot& snapshot = before ? *before : own;
  int64_t pos = LockPadAndSeekEnd("AddMemo()", &snapshot);
  if (pos == 0) return 0;
  const uint16_t bs = m->block_size;
  const int32_t block = int32_t(pos / bs);
  const uint64_t start = uint64_t(block) * bs;
  const MemoTransform& transform = CurrentArea()->write_transform;
  const size_t unit = Memos().WriteUnit ? Memos().WriteUnit : 512;
  uint32_t err = 0;
  bool ok;
  if (m->kind == kKindDbase3) {
    data.append(kMemoEndCount, char(kMemoEnd));
    data.resize((data.size() + unit - 1) / unit * unit, '\0');
    ok = WritePieces(m->file, int64_t(start), reinterpret_cast<const uint8_t*>(data.data()),
                     data.size(), unit, transform, &err);
  } else {
    err = PutGroupHeader(m->file, start, uint32_t(data.size()), m->kind);
    ok = err == 0 && WritePieces(m->file, int64_t(start + kGroupHeaderSize),
                                 reinterpret_cast<const uint8_t*>(data.data()), data.size(), unit,
                                 transform, &err);
  }
  if (!ok) {
    // Nothing of the memo stays behind: the file is cut back to where it ended.
    snapshot.Restore(m->file);
    MemoError(uint16_t(err != 0 ? err : kErrWriteFault), MemoMsgName() + "\n [AddMemo]");
    return 0;
  }
  FlushFile(m->file);
  const uint32_t errors = MemoErrorCount();
  UpdateMemoHeaderWith(&snapshot);
  if (MemoErrorCount() != errors) return 0;
  if (after) *after = m->file.Size();
  return block;
}

}  // namespace memo

}  // namespace zedra

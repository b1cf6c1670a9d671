// Record, file, single-byte and table locks on the table file, the memo pad lock, the
// retry policy and reopening a table in another sharing mode.
#include <algorithm>
#include <limits>

#include "base/errors.h"
#include "platform/platform.h"
#include "table/work_area.h"
#include "table/commands.h"
#include "table/table_internal.h"

namespace zedra {
namespace {

constexpr uint64_t kMemoPadOffset = 10;  // the memo pad lock byte of a memo file
constexpr int kMemoPadAttempts = 11;

// Records a code and message as the last error without reporting it.
void NoteError(uint16_t code, const std::string& message) {
  ErrorState& e = Errors();
  e.ErrorCode = code;
  e.LastError = code;
  e.PendingMessage = message;
}

uint64_t RecordLockOffset(const DbfArea& area, int32_t n) {
  return uint64_t(Tables().LockBase) + area.RecordOffset(n);
}

void RemoveLockNode(DbfArea& area, size_t index) {
  area.lock_list.erase(area.lock_list.begin() + index);
  area.lock_count = int16_t(area.lock_list.size());
  if (area.lock_count == 0) area.lock_state = LockState::None;
}

// Releases lock node `index`; 0 or the platform's code.
uint32_t ReleaseNode(DbfArea& area, size_t index) {
  uint32_t code = 0;
  if (!area.exclusive) {
    code = LockRange(true, area.file, RecordLockOffset(area, area.lock_list[index]),
                     area.record_length);
  }
  RemoveLockNode(area, index);
  return code;
}

}  // namespace

uint32_t LockRange(bool unlock, const EngineFile& file, uint64_t offset, uint64_t length) {
  if (!Tables().LockingOn) return 0;
  return unlock ? platform::UnlockRegion(file.handle(), offset, length)
                : platform::LockRegion(file.handle(), offset, length);
}

void WaitSeconds(uint32_t seconds) {
  const uint32_t start = platform::TickCount();
  const uint64_t total = uint64_t(seconds) * 1000;
  for (;;) {
    uint32_t now = platform::TickCount();
    if (now < start) return;  // the tick count wrapped
    uint64_t passed = now - start;
    if (passed >= total) return;
    if (!CurrentWaitPump()(uint32_t(total - passed))) return;  // application terminating
  }
}

bool RetryBusy(const std::function<bool()>& attempt_once) {
  const TableState& t = Tables();
  int attempt = 0;
  do {
    if (attempt_once()) return true;
    if (attempt < t.RetryCount) WaitSeconds(t.RetryWait);
    ++attempt;
    if (attempt > t.RetryCount && t.RetryExhausted && t.RetryExhausted()) attempt = 0;
  } while (attempt <= t.RetryCount);
  return false;
}

bool LockWithRetry(const EngineFile& file, uint64_t offset, uint64_t length) {
  uint32_t failure = 0;
  // Only a range held by another program is worth waiting for; any other failure is an
  // error of its own and is reported, not passed off as a collision.
  const bool locked = RetryBusy([&] {
    failure = LockRange(false, file, offset, length);
    return failure != platform::kErrLockViolation;
  });
  if (failure != 0 && failure != platform::kErrLockViolation) {
    SetError(uint16_t(failure), "Cannot lock " + file.path() + " [LockWithRetry]");
    return false;
  }
  return locked && failure == 0;
}

HeaderWriteLock::HeaderWriteLock(DbfArea& area) : area_(area) {
  if (!Tables().LockingOn || area.exclusive || area.is_virtual || area.table_lock_held) return;
  held_ = taken_ = LockWithRetry(area.file, Tables().LockBase, 1);
}

HeaderWriteLock::~HeaderWriteLock() {
  if (taken_) LockRange(true, area_.file, Tables().LockBase, 1);
}

uint64_t FileLockSpan() {
  // Record n is locked at lock base + its offset, and no offset reaches kMaxTableBytes.
  return std::max<uint64_t>(Tables().FileLockLength, kMaxTableBytes - 1);
}

bool LockRecordNode(DbfArea& area, int32_t n) {
  if (!LockWithRetry(area.file, RecordLockOffset(area, n), area.record_length)) return false;
  area.lock_list.push_back(n);
  area.lock_count = int16_t(area.lock_list.size());
  area.lock_state = LockState::Records;
  return true;
}

bool LockDbfFile() {
  if (!Tables().LockingOn) return true;
  if (AreaNotInUse("LockDbfFile")) return false;
  DbfArea& area = *CurrentArea();
  if (!LockWithRetry(area.file, Tables().LockBase, 1)) return false;
  area.table_lock_held = true;
  return true;
}

void UnlockDbfFile() {
  if (AreaNotInUse("UnlockDbfFile")) return;
  DbfArea& area = *CurrentArea();
  uint32_t code = LockRange(true, area.file, Tables().LockBase, 1);
  area.table_lock_held = false;
  if (code != 0)
    SetError(uint16_t(code), " Error attempting to UNLOCK file " + area.file_name +
                                 "\r in Workarea " + Num(CurrentAreaNumber()));
}

uint32_t UnlockRecRange(int32_t n) {
  if (AreaNotInUse("UnlockRecRange")) return 215;
  DbfArea& area = *CurrentArea();
  return LockRange(true, area.file, RecordLockOffset(area, n), area.record_length);
}

bool IsLocked(int32_t n) {
  if (AreaNotInUse("IsLocked")) return false;
  DbfArea& area = *CurrentArea();
  if (area.is_virtual) {
    SetError(1100, "[IsLocked]");
    return false;
  }
  if (area.lock_state == LockState::File) return true;
  return std::find(area.lock_list.begin(), area.lock_list.end(), n) != area.lock_list.end();
}

bool UnlockRec(int32_t x) {
  Errors().ErrorCode = 0;
  if (AreaNotInUse("UnlockRec")) return false;
  DbfArea& area = *CurrentArea();
  if (x > 0) {
    auto it = std::find(area.lock_list.begin(), area.lock_list.end(), x);
    if (it == area.lock_list.end()) {
      NoteError(220, "Record not locked. [UnlockRec(" + Num(x) + ")]");
      return false;
    }
    uint32_t code = ReleaseNode(area, size_t(it - area.lock_list.begin()));
    if (code != 0) Errors().ErrorCode = uint16_t(code);
    return code == 0;
  }
  if (x == -1 || x == -2) {
    if (area.lock_list.empty()) return true;
    uint32_t code = ReleaseNode(area, x == -1 ? area.lock_list.size() - 1 : 0);
    if (code != 0) Errors().ErrorCode = uint16_t(code);
    return code == 0;
  }
  if (x == -3) {
    uint32_t last_failure = 0;
    while (!area.lock_list.empty())
      if (uint32_t code = ReleaseNode(area, 0); code != 0) last_failure = code;
    if (last_failure != 0) Errors().ErrorCode = uint16_t(last_failure);
    return last_failure == 0;
  }
  NoteError(220, "[UnlockRec(" + Num(x) + ")]");
  return false;
}

void Unlock() {
  Errors().ErrorCode = 0;
  if (AreaNotInUse("Unlock")) return;
  DbfArea& area = *CurrentArea();
  if (area.is_virtual || area.lock_state == LockState::None) return;
  if (area.lock_state == LockState::Records) {
    UnlockRec(-3);
  } else if (Tables().LockingOn && !area.exclusive) {
    uint64_t length = area.lock_state == LockState::File ? FileLockSpan() : 1;
    Errors().ErrorCode = uint16_t(LockRange(true, area.file, uint64_t(Tables().LockBase) + 1, length));
  }
  area.lock_state = LockState::None;
}

uint32_t ReopenDbf(bool exclusive) {
  if (AreaNotInUse("ReopenDbf")) return 215;
  const uint8_t number = CurrentAreaNumber();
  DbfArea& area = *CurrentArea();
  TableState& t = Tables();
  if (area.exclusive && !t.ExclusiveReopened) return platform::kErrAccessDenied;
  SettlePendingAppend(area);
  const uint32_t old_mode = area.file.mode();
  const uint32_t mode = exclusive ? platform::kModeReadWriteExclusive : t.SharedOpenMode;
  const std::string path = area.file.path();
  area.file.Close();
  // Locks do not survive the close.
  area.lock_list.clear();
  area.lock_count = 0;
  area.lock_state = LockState::None;
  area.table_lock_held = false;
  if (uint32_t error = area.file.Open(path, mode); error != 0) {
    // Keep the area usable in the mode it had.
    area.file.Open(path, old_mode);
    return error;
  }
  if (AreaAt(number) == &area) {
    t.ExclusiveReopened = exclusive;
    area.exclusive = exclusive;
  }
  return 0;
}

bool LockMemoPad() {
  const TableState& t = Tables();
  DbfArea* area = CurrentArea();
  if (!t.LockingOn || (area && area->exclusive)) return true;
  if (!area || !area->memo) return false;
  bool locked = false;
  for (int attempt = 0; attempt < kMemoPadAttempts; ++attempt) {
    if (LockRange(false, area->memo->file, kMemoPadOffset, 1) == 0) {
      locked = true;
      break;
    }
    // Another program holds the pad for a moment: wait a real interval before retrying.
    if (attempt + 1 < kMemoPadAttempts) platform::SleepMs(t.MemoPadRetryMs);
  }
  // Held longer than that: a program that asked to wait for busy locks goes on waiting.
  if (!locked && (t.RetryCount > 0 || t.RetryExhausted))
    locked = LockWithRetry(area->memo->file, kMemoPadOffset, 1);
  area->memo->pad_locked = locked;
  return locked;
}

bool UnlockMemoPad() {
  DbfArea* area = CurrentArea();
  if (!Tables().LockingOn || !area || area->exclusive || !area->memo || !area->memo->pad_locked)
    return true;
  uint32_t code = LockRange(true, area->memo->file, kMemoPadOffset, 1);
  area->memo->pad_locked = false;
  return code == 0;
}

uint32_t MemoOpenModeFor(const DbfArea& area) {
  const TableState& t = Tables();
  uint32_t mode = platform::kModeReadWriteExclusive;
  if (t.LockingOn && !area.exclusive) mode = platform::kModeReadWriteShared;
  if (t.ExclusiveReopened) mode = platform::kModeReadWriteShared;
  if (t.MemoOpenMode != -1) mode = uint32_t(t.MemoOpenMode);
  // A table opened for reading only opens its memo file for reading only as well.
  if (area.file.IsOpen() && (area.file.mode() & 0x7u) == 0) mode &= ~0x7u;
  return mode;
}

// ---------------------------------------------------------------------------------------
// The lock commands

bool RLock(int32_t n) {
  if (AreaNotInUse("RLock")) return false;
  DbfArea& area = *CurrentArea();
  if (!Tables().LockingOn || area.exclusive || area.is_virtual) return true;
  if (area.lock_state == LockState::File) return true;
  if (std::find(area.lock_list.begin(), area.lock_list.end(), n) != area.lock_list.end()) return true;
  if (n < 1 || n > RecCount()) {
    SetError(212, "Invalid record number = " + Num(n) + " (" + area.file_name + ")  [RLock]");
    return false;
  }
  if (area.lock_state == LockState::SingleByte) return false;
  if (area.lock_list.size() >= size_t(std::numeric_limits<int16_t>::max())) return false;
  return LockRecordNode(area, n);
}

namespace {
bool LockWide(LockState state, uint64_t length, const char* op) {
  if (AreaNotInUse(op)) return false;
  DbfArea& area = *CurrentArea();
  if (!Tables().LockingOn || area.exclusive || area.is_virtual) return true;
  if (area.lock_state == state) return true;
  // Record locks inside the range would split it when released later.
  if (area.lock_state != LockState::None) Unlock();
  if (!LockWithRetry(area.file, uint64_t(Tables().LockBase) + 1, length)) return false;
  // What was read ahead before the lock may have changed since.
  DropReadAhead(area);
  area.lock_state = state;
  return true;
}
}  // namespace

bool FLock() { return LockWide(LockState::File, FileLockSpan(), "FLock"); }
bool LockSingleByte() { return LockWide(LockState::SingleByte, 1, "LockSingleByte"); }

}  // namespace zedra

// The semaphore-file protocol: logging in and out of a table's index, the read and write
// brackets, and the lock region of the semaphore file (layout in semaphore.h).
#include "index/semaphore.h"

#include "base/errors.h"
#include "index/index.h"
#include "platform/platform.h"
#include "table/hooks.h"

namespace zedra {
namespace {

SemaphoreState state;

constexpr uint64_t kRegionOffset = 1;
constexpr uint64_t kRegionLength = 4;
// Attempts at the lock region, 10 ms apart: the 10 seconds its timeout message states.
constexpr int kRegionAttempts = 1001;
// LOGIN and LOGOUT give up on the table's lock byte after more failed tries than this.
constexpr int kTableLockTries = 1000;
// The pause between two attempts at a lock, and between two looks at the readers.
constexpr uint32_t kRetryPauseMs = 10;
constexpr uint8_t kMaxReaders = 127;

constexpr uint16_t kErrMemory = 217;
constexpr uint16_t kErrInternal = 254;
constexpr uint16_t kErrTimeout = 1202;

const char* ActionName(int action) {
  static const char* const kNames[] = {"LOGIN",   "LOGOUT",        "INCREAD",
                                       "DECREAD", "LOCKSEMAPHORE", "UNLOCKSEMAPHORE"};
  return action >= 0 && action <= kUnlockSemaphore ? kNames[action] : "";
}

[[noreturn]] void Raise(uint16_t code, const std::string& message) {
  RaiseError(code, message);
  // Reached only when the fatal path returned (an embedding program's sink).
  throw EZedraError(Errors().PendingMessage);
}

std::string Named(const SemaphoreControl& c) { return c.name + " " + ActionName(c.action); }

// Waits about ms milliseconds, serving the window system meanwhile.
void Pause(uint32_t ms) {
  const uint32_t start = platform::TickCount();
  CurrentWaitPump()(ms);
  const uint32_t passed = platform::TickCount() - start;
  if (passed < ms) platform::SleepMs(ms - passed);
}

bool SharedTable(const DbfArea* area) {
  return area && Tables().LockingOn && !area->exclusive && !area->is_virtual;
}

uint32_t ReadRecord(SemaphoreControl& c) { return c.file.ReadAt(0, c.record); }
uint32_t WriteRecord(SemaphoreControl& c) { return c.file.WriteAt(0, c.record); }

// Reads record 0 holding the region; a failure releases the region and raises.
void ReadHeld(SemaphoreControl& c) {
  if (uint32_t error = ReadRecord(c); error != 0) {
    UnlockSemaphoreRegion();
    Raise(uint16_t(error), "Cannot read: " + Named(c));
  }
}

void WriteHeld(SemaphoreControl& c) {
  if (uint32_t error = WriteRecord(c); error != 0) {
    UnlockSemaphoreRegion();
    Raise(uint16_t(error), "Cannot write to: " + Named(c));
  }
}

// The table's lock byte for the length of a LOGIN or LOGOUT, tried every 10 ms. An area
// that holds the byte already (it is appending) keeps it: it is then neither taken nor
// released here.
class TableLockByte {
 public:
  TableLockByte(DbfArea& area, int action) : area_(area) {
    if (area.table_lock_held) return;
    for (int failed = 0;;) {
      if (LockRange(false, area.file, Tables().LockBase, 1) == 0) break;
      if (++failed > kTableLockTries)
        Raise(kErrTimeout, "Cannot lock database for: " + area.file_name +
                               " Action=" + ActionName(action) + " [Database Semaphore]");
      Pause(kRetryPauseMs);
    }
    area.table_lock_held = taken_ = true;
  }
  ~TableLockByte() {
    if (!taken_) return;
    LockRange(true, area_.file, Tables().LockBase, 1);
    area_.table_lock_held = false;
  }
  TableLockByte(const TableLockByte&) = delete;
  TableLockByte& operator=(const TableLockByte&) = delete;

 private:
  DbfArea& area_;
  bool taken_ = false;
};

bool InUseByOthers(uint32_t code) {
  return code == 3 || code == 5 || code == 32 || code == 150 || code == 162 || code == 163;
}

// A semaphore file that cannot be created, or not opened for writing, beside the table
// (a read-only directory or medium): the index is then used without the protocol.
bool CannotWriteHere(uint32_t code) {
  return state.SemaphoreDirectory.empty() &&
         (code == platform::kErrAccessDenied || code == platform::kErrWriteProtect);
}

void Login(DbfArea& area, uint8_t n) {
  std::unique_ptr<SemaphoreControl>& slot = state.controls[n];
  state.notices[n].clear();
  if (!slot) {
    if (LargestFreeBlock() <= int32_t(SemaphoreControl::kAccountedBytes))
      Raise(kErrMemory, "Memory needed=" + std::to_string(SemaphoreControl::kAccountedBytes) +
                            " [Set_Index_To]");
    slot = std::make_unique<SemaphoreControl>();
  }
  SemaphoreControl& c = *slot;
  c.action = kLogin;
  c.name = SemaphoreFileName();
  const auto without_protocol = [&](uint32_t code) {
    state.notices[n] = "the semaphore file " + c.name + " cannot be " +
                       (platform::FileExists(c.name) ? "opened for writing" : "created") +
                       " (" + ErrorText(uint16_t(code)) + "); the index of " + area.file_name +
                       " is used without the semaphore protocol";
    slot.reset();
  };
  try {
    TableLockByte lock(area, kLogin);
    // Nobody else has the file open when it opens exclusively: whatever counts it holds
    // were left by programs that ended without logging out, and it starts afresh.
    uint32_t code;
    {
      // A medium that is gone fails the open with its code; no dialog asks about it.
      platform::QuietCriticalErrors quiet;
      {
        EngineFile probe;
        code = probe.Open(c.name, platform::kModeReadExclusive);
      }
      if (code == 0 || code == platform::kErrFileNotFound)
        code = c.file.Create(c.name, platform::kModeReadWriteExclusive);
    }
    if (code == 0) {
      c.record.fill(0);
      if (uint32_t error = WriteRecord(c); error != 0) {
        c.file.Close();
        Raise(uint16_t(error), "Cannot write to: " + Named(c));
      }
      c.file.Close();
      if (uint32_t error = c.file.Open(c.name, platform::kModeReadWriteShared); error != 0)
        Raise(uint16_t(error), "Cannot open: " + Named(c));
      LockSemaphoreRegion();
    } else if (CannotWriteHere(code)) {
      without_protocol(code);
      return;
    } else if (InUseByOthers(code)) {
      if (uint32_t error = c.file.Open(c.name, platform::kModeReadWriteShared); error != 0) {
        if (CannotWriteHere(error)) {
          without_protocol(error);
          return;
        }
        Raise(uint16_t(error), "Cannot open: " + Named(c));
      }
      LockSemaphoreRegion();
      ReadHeld(c);
    } else {
      Raise(uint16_t(code), "Cannot open/create: " + Named(c));
    }
    ++c.record[0];
    c.users_at_login = c.record[0];
    WriteHeld(c);
    UnlockSemaphoreRegion();
    c.seen_counter = c.Counter();
  } catch (const EZedraError&) {
    // An area whose login failed does not take part.
    slot.reset();
    throw;
  }
}

void Logout(DbfArea& area, uint8_t n) {
  SemaphoreControl& c = *state.controls[n];
  c.action = kLogout;
  {
    TableLockByte lock(area, kLogout);
    LockSemaphoreRegion();
    ReadHeld(c);
    if (c.read_registered && c.record[1] > 0) --c.record[1];
    if (c.lock_nesting > 0) {
      // Logged out inside its own write bracket (the area was closed half-way): what was
      // written is published and the writer's mark taken away, so that nobody waits for it.
      c.record[1] = 0;
      PutLE16(c.record.data() + 2, uint16_t(c.Counter() + 1));
    }
    if (c.record[0] > 0) --c.record[0];
    WriteHeld(c);
    UnlockSemaphoreRegion();
    c.file.Close();
    if (c.record[0] == 0) platform::RemoveFile(c.name);
    state.controls[n].reset();
    state.read_brackets[n] = state.lock_brackets[n] = 0;
    state.resync_pending[n] = false;
  }
}

// INCREAD and DECREAD.
void ReadAction(SemaphoreControl& c, bool enter) {
  if (enter) {
    if (++c.read_nesting > 1) return;
  } else {
    if (--c.read_nesting < 0) {
      c.read_nesting = 0;
      Raise(kErrInternal, "Unbalanced IncRead/DecRead for semaphore file: " + Named(c));
    }
    if (c.read_nesting > 0) return;
  }
  // Inside its own write bracket a program reads what it writes.
  if (c.region_held || c.read_registered == enter) return;
  try {
    LockSemaphoreRegion();
    ReadHeld(c);
  } catch (const EZedraError&) {
    // Not counted in: the next INCREAD tries again.
    if (enter) --c.read_nesting;
    throw;
  }
  if (enter && c.record[1] < kMaxReaders) ++c.record[1];
  if (!enter && c.record[1] > 0) --c.record[1];
  WriteHeld(c);
  c.read_registered = enter;
  UnlockSemaphoreRegion();
}

[[noreturn]] void RaiseTimeout(const SemaphoreControl& c) {
  Raise(kErrTimeout, std::to_string(state.SemaphoreTimeout) + " second timeout, cannot read: " +
                         c.name + "\r\n" +
                         "Possible cause: Other user's program has terminated abnormally." +
                         "\r\n" + "Cure: Log all users of this application off the network," +
                         "\r\n" + "then delete " + c.name);
}

// This program's own count in byte 1: its read bracket, when it writes inside one.
uint8_t OwnReaders(const SemaphoreControl& c) { return c.read_registered ? 1 : 0; }

void LockAction(SemaphoreControl& c) {
  if (++c.lock_nesting > 1 || c.region_held) return;
  const uint32_t start = platform::TickCount();
  const auto timed_out = [&] {
    return state.SemaphoreTimeout != 0 &&
           uint64_t(platform::TickCount() - start) > uint64_t(state.SemaphoreTimeout) * 1000;
  };
  try {
    for (;;) {
      while (ReadRecord(c) != 0) {
        if (timed_out()) RaiseTimeout(c);
        Pause(kRetryPauseMs);
      }
      LockSemaphoreRegion();
      ReadHeld(c);
      if (c.Readers() <= OwnReaders(c)) break;
      UnlockSemaphoreRegion();
      if (timed_out()) RaiseTimeout(c);
      Pause(kRetryPauseMs);
    }
    c.record[1] = 1;
    WriteHeld(c);
  } catch (const EZedraError&) {
    // Not inside the bracket: the next LOCKSEMAPHORE waits again.
    --c.lock_nesting;
    throw;
  }
}

void UnlockAction(SemaphoreControl& c) {
  if (--c.lock_nesting < 0) {
    c.lock_nesting = 0;
    UnlockSemaphoreRegion();
    Raise(kErrInternal, "Unbalanced Lock/Unlock for semaphore file: " + Named(c));
  }
  if (c.lock_nesting > 0 || !c.region_held) return;
  ReadHeld(c);
  const uint16_t counter = uint16_t(c.Counter() + 1);
  PutLE16(c.record.data() + 2, counter);
  c.record[1] = OwnReaders(c);
  WriteHeld(c);
  UnlockSemaphoreRegion();
  // This program's own change does not send it back to its anchors.
  c.seen_counter = counter;
}

void BracketProc(std::array<int, kWorkAreas + 1>& depths, bool enter, int open, int close,
                 const char* name) {
  int& depth = depths[CurrentAreaNumber()];
  if (enter) {
    if (depth == 0) HandleSemafore(open);
    ++depth;
    return;
  }
  if (depth == 0) {
    SetError(kErrInternal, std::string("Non-symmetrical Lock-Unlock [") + name + "]");
    return;
  }
  if (--depth == 0) HandleSemafore(close);
}

}  // namespace

SemaphoreState& Semaphores() { return state; }

void SemaphoreStartup() { state = SemaphoreState{}; }

SemaphoreControl* CurrentSemaphore() {
  const uint8_t n = CurrentAreaNumber();
  return n >= 1 && n <= kWorkAreas ? state.controls[n].get() : nullptr;
}

std::string SemaphoreFileName() {
  const DbfArea* area = CurrentArea();
  if (!area) return {};
  std::string name;
  if (state.SemaphoreDirectory.empty()) {
    name = ForceExtension(area->file_name, "@S@");
  } else {
    std::string dir = state.SemaphoreDirectory;
    if (!platform::IsPathSeparator(dir.back())) dir += platform::kPathSeparator;
    const PathParts parts = SplitPath(area->file_name);
    name = dir + parts.name + ".@S@";
  }
  return platform::ResolveCase(name);
}

bool LockSemaphoreRegion() {
  SemaphoreControl* c = CurrentSemaphore();
  if (!c) return false;
  uint32_t code = 0;
  for (int attempt = 1;; ++attempt) {
    code = LockRange(false, c->file, kRegionOffset, kRegionLength);
    if (code == 0) {
      c->region_held = true;
      return true;
    }
    // Only a region another program holds is worth waiting for.
    if (attempt >= kRegionAttempts || code != platform::kErrLockViolation) break;
    Pause(kRetryPauseMs);
  }
  Raise(kErrTimeout, "10 second timeout: Cannot lock index semaphore file: " + Named(*c) +
                         "\r\nPossible cause: Network lock limit exceeded\r\n" +
                         " Lock result code: " + std::to_string(code));
}

void UnlockSemaphoreRegion() {
  SemaphoreControl* c = CurrentSemaphore();
  if (!c || !c->region_held) return;
  const uint32_t code = LockRange(true, c->file, kRegionOffset, kRegionLength);
  c->region_held = false;
  if (code != 0) Raise(uint16_t(code), "Cannot unlock index semaphore file: " + Named(*c));
}

void HandleSemafore(int action) {
  const uint8_t n = CurrentAreaNumber();
  if (n >= kWorkAreas)
    Raise(kErrInternal, "Work area [" + std::to_string(n) + "] out of range. [HandleSemafore]");
  DbfArea* area = CurrentArea();
  if (!area || action < kLogin || action > kUnlockSemaphore) return;
  SemaphoreControl* c = state.controls[n].get();
  // A login made while the table was shared is undone even after the table was reopened
  // for exclusive use, so that the file does not keep this program counted.
  if (action == kLogout) {
    if (c) Logout(*area, n);
    return;
  }
  if (!SharedTable(area)) return;
  if (action == kLogin) {
    Login(*area, n);
    return;
  }
  if (!c) return;
  c->action = action;
  switch (action) {
    case kIncRead: ReadAction(*c, true); break;
    case kDecRead: ReadAction(*c, false); break;
    case kLockSemaphore: LockAction(*c); break;
    case kUnlockSemaphore: UnlockAction(*c); break;
  }
}

IndexReadBracket::~IndexReadBracket() {
  try {
    SetReadSemaphoreProc(false);
  } catch (const EZedraError&) {
  }
}

void SetReadSemaphoreProc(bool enter) {
  BracketProc(state.read_brackets, enter, kIncRead, kDecRead, "SetReadSemaphoreProc");
}

void SetLockSemaphoreProc(bool enter) {
  const uint8_t n = CurrentAreaNumber();
  const bool outermost = enter && n < kWorkAreas && state.lock_brackets[n] == 0;
  BracketProc(state.lock_brackets, enter, kLockSemaphore, kUnlockSemaphore,
              "SetLockSemaphoreProc");
  // A writer changes the index from the anchors another program left, and finds its own
  // place again at its next step.
  if (outermost && CheckIndexUpdates()) state.resync_pending[n] = true;
}

bool TakePendingResync() {
  const uint8_t n = CurrentAreaNumber();
  if (n >= kWorkAreas || !state.resync_pending[n]) return false;
  state.resync_pending[n] = false;
  return true;
}

bool TakeSemaphoreUpdate() {
  SemaphoreControl* c = CurrentSemaphore();
  if (!c || c->Counter() == c->seen_counter) return false;
  c->seen_counter = c->Counter();
  return true;
}

}  // namespace zedra

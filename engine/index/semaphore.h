// The semaphore file through which programs that share a table coordinate the changes
// of its index files: who is logged in, who is reading, who is writing, and a counter
// that tells every program when another one changed the index.
//
// The file is named after the table with the extension ".@S@" (CUST.DBF gives CUST.@S@
// beside it, or in SemaphoreDirectory when that is set). It is handled as a file of
// 4-byte records of which only record 0 is used:
//
//   OFFSET  SIZE  MEANING
//   0       1     programs logged in to the table's index (unsigned)
//   1       1     readers inside a read bracket (0..127); a writer inside its write
//                 bracket counts as 1 here
//   2       2     update counter (little-endian), +1 modulo 65536 at the end of every
//                 write bracket
//
// Bytes 1 to 4 (offset 1, length 4) are the lock region: a program holds a byte-range
// lock on them while it reads and rewrites the record, and for the whole of its write
// bracket. The table's lock byte serialises LOGIN and LOGOUT.
//
// The protocol runs only for a table open shared with locking on. Failures are raised
// (RaiseError): 217 memory, 254 unbalanced brackets or a bad work area, 1202 a lock or
// wait that timed out, and the platform's codes for files that cannot be opened, read
// or written. The semaphore control of a work area survives every failure but LOGOUT.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "base/files.h"
#include "table/work_area.h"

namespace zedra {

// The actions of HandleSemafore; the names appear in the messages.
enum SemaphoreAction : int {
  kLogin = 0,            // open (or create) the file and count this program in
  kLogout = 1,           // count this program out; the last one out deletes the file
  kIncRead = 2,          // enter a read bracket
  kDecRead = 3,          // leave a read bracket
  kLockSemaphore = 4,    // enter a write bracket: wait for readers and writers to leave
  kUnlockSemaphore = 5,  // leave a write bracket and publish the change
};

// The semaphore state of one work area, from LOGIN to LOGOUT.
struct SemaphoreControl {
  static constexpr size_t kRecordSize = 4;
  // What the engine accounts for one control (the file record, the fields below and the
  // file name buffer); LOGIN refuses when less memory than one more byte is free.
  static constexpr size_t kAccountedBytes = 349;

  EngineFile file;
  std::string name;                         // the semaphore file, as used in messages
  std::array<uint8_t, kRecordSize> record{};  // the last record 0 read or written
  uint8_t users_at_login = 0;               // byte 0 after this program's login
  uint16_t seen_counter = 0;                // the update counter the anchors are in step with
  bool region_held = false;
  bool read_registered = false;             // the outermost read bracket is counted in byte 1
  int read_nesting = 0;
  int lock_nesting = 0;
  int action = kLogin;                      // the action under way, for messages

  uint8_t Users() const { return record[0]; }
  uint8_t Readers() const { return record[1]; }
  uint16_t Counter() const { return GetLE16(record.data() + 2); }
};

// The layer's settings and the per-area controls.
struct SemaphoreState {
  // Where semaphore files go; empty: beside the table.
  std::string SemaphoreDirectory;
  // Seconds a write bracket waits for readers and writers to leave; 0 waits without limit.
  uint32_t SemaphoreTimeout = 100;

  std::array<std::unique_ptr<SemaphoreControl>, kWorkAreas + 1> controls;  // [1..35]
  // The nesting counters of SetReadSemaphoreProc and SetLockSemaphoreProc per area.
  std::array<int, kWorkAreas + 1> read_brackets{};
  std::array<int, kWorkAreas + 1> lock_brackets{};
  // Why an area's index is used without the protocol (its semaphore file could not be
  // opened or created); empty while the area takes part or has no index.
  std::array<std::string, kWorkAreas + 1> notices;
  // Areas whose write bracket found another program's change: their controlling order is
  // found again at their next step.
  std::array<bool, kWorkAreas + 1> resync_pending{};
};

SemaphoreState& Semaphores();
// Settings back to their defaults, no area logged in.
void SemaphoreStartup();

// The semaphore file name of the current area's table (empty without a table).
std::string SemaphoreFileName();
// Performs one action for the current work area (see SemaphoreAction). Nothing happens
// for a table not open shared, for an action other than LOGIN in an area without a
// control, and for action codes above 5.
void HandleSemafore(int action);
// Bracket nesting per work area: the outermost enter performs INCREAD (LOCKSEMAPHORE),
// the matching outermost leave DECREAD (UNLOCKSEMAPHORE). A leave without its enter
// records 254 "Non-symmetrical Lock-Unlock [...]".
void SetReadSemaphoreProc(bool enter);
void SetLockSemaphoreProc(bool enter);
// Takes and releases the lock region of the current area's semaphore file.
bool LockSemaphoreRegion();
void UnlockSemaphoreRegion();

// A read bracket of the index layer's own around the reads of one operation. A failure
// to leave it stays the engine's last error.
class IndexReadBracket {
 public:
  IndexReadBracket() { SetReadSemaphoreProc(true); }
  ~IndexReadBracket();
  IndexReadBracket(const IndexReadBracket&) = delete;
  IndexReadBracket& operator=(const IndexReadBracket&) = delete;
};

// The current area's control, or nullptr when it does not take part in the protocol.
SemaphoreControl* CurrentSemaphore();
// True once for every change another program published since this program last caught
// up: the counter last read differs from the one seen, which then becomes the one seen.
bool TakeSemaphoreUpdate();

// A change found by this area's write bracket, taken once: its next step finds the
// controlling order's place again as after a change reported by CheckIndexUpdates.
bool TakePendingResync();

}  // namespace zedra

// The 35 work areas, the descriptor of an open table (DbfArea) and the record-level
// operations on it; the engine-wide settings of the table layer.
//
// All operations act on the current work area unless they take a DbfArea. Failures are
// recorded through SetError with the codes and messages of the table layer (212 invalid
// record number, 213 short read, 215 no table in the area, 220 invalid field number,
// 224 record moved by the after-move hook, 1100 virtual area, 1200 record not locked).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/files.h"
#include "table/dbf_format.h"
#include "table/hooks.h"

namespace zedra {

inline constexpr int kWorkAreas = 35;
inline constexpr int kOrdinaryAreas = 33;
inline constexpr size_t kMaxAlias = 64;

// An open memo file, owned by its area while open. The table layer uses the file and the
// pad-locked flag (LockMemoPad, UnlockMemoPad); the rest belongs to the memo layer.
struct MemoDescriptor {
  EngineFile file;
  std::string file_name;
  uint8_t kind = 0x8B;
  uint16_t block_size = 512;
  bool pad_locked = false;
  std::shared_ptr<void> pad_state;  // the memo layer's own state (MemoPadState)
};

enum class LockState : uint8_t { None = 0, File = 1, SingleByte = 2, Records = 3 };

// Stored records read in one piece for a walk through a table that no other program can
// write (open exclusively, or under the file lock): records first .. first + count - 1,
// the file's own bytes while its change stamp is `stamp`.
struct RecordReadAhead {
  std::vector<uint8_t> data;
  int32_t first = 0;
  int32_t count = 0;
  uint64_t stamp = 0;
  int32_t last_read = 0;  // the record read before: a walk reads its neighbour next
};

// One open table.
struct DbfArea {
  std::string file_name;                 // as opened; used in every message
  std::array<uint8_t, 32> header{};      // the fixed header part as read
  bool has_memo = false;
  bool HideDeleted = false;
  int16_t header_length = 0;
  uint16_t record_length = 0;
  uint8_t field_count = 0;
  std::vector<FieldDesc> fields;         // field_count entries
  UpdateState update_state = UpdateState::Closed;
  std::vector<uint8_t> record;           // record_length bytes: the current record
  int32_t record_count = 0;
  int32_t current_record = 0;            // record_count + 1 at end of file
  bool at_end = false;
  bool at_start = false;
  bool oem = false;                      // records stored in the OEM code page
  uint16_t code_page = 0;                // from header byte 29 (table/code_pages.h); 0: none
  const platform::OemAnsiPair* oem_pair = nullptr;  // with oem: its pair; null: 850/1252
  const platform::CodePage* ansi_page = nullptr;    // text as read; null: Windows-1252
  std::function<void(uint8_t* data, size_t length)> write_transform;
  std::function<void(uint8_t* data, size_t length)> read_transform;
  EngineFile file;
  bool is_virtual = false;
  uint8_t virtual_op = 0;                // 1 close, 3 read record, 8 write record
  int32_t virtual_record = 0;
  // TypedRecordImage of the current record: made on first use after a move, from the
  // record and date style as they stood at the move (typed_source, typed_dates).
  std::vector<uint8_t> typed_buffer;
  std::vector<uint8_t> typed_source;
  std::pair<uint8_t, bool> typed_dates{};  // DateStyle, CenturyOn
  bool typed_stale = false;
  std::function<bool()> FilterCallback;
  CompiledExpr* FilterExpression = nullptr;
  std::function<void()> AfterMoveHook;
  std::string alias;                     // at most 64 characters
  CompiledExpr* SecondExpression = nullptr;
  std::unique_ptr<MemoDescriptor> memo;
  LockState lock_state = LockState::None;
  int16_t lock_count = 0;
  std::vector<int32_t> lock_list;        // record locks, the first taken first
  std::vector<uint8_t> second_image;
  bool exclusive = false;
  bool table_lock_held = false;          // LockDbfFile holds the table lock byte
  std::shared_ptr<void> index_part;      // the index layer's state for this area
  std::vector<uint8_t> read_buffer;      // scratch of GetDbfRecord, kept between reads
  RecordReadAhead read_ahead;
  int32_t pending_blank = 0;             // a blank record appended but not yet written

  // The typed record image of the current record, brought up to date first.
  const std::vector<uint8_t>& TypedImage();

  // Position of record n (1-based) in the file.
  uint64_t RecordOffset(int32_t n) const {
    return uint64_t(uint16_t(header_length)) + uint64_t(n - 1) * record_length;
  }
};

// The one-alias read cache of Peek.
struct PeekCache {
  std::string alias;
  std::vector<uint8_t> data;
  int32_t first = 0;   // first cached record
  int32_t count = 0;   // records cached
  bool exists = false;
};

// The table layer's state and engine-wide settings.
struct TableState {
  std::array<std::unique_ptr<DbfArea>, kWorkAreas + 1> areas;  // [1..35]; [0] unused
  uint8_t current = 1;

  // Locking and sharing.
  bool LockingOn = true;
  uint32_t LockBase = 0x40000000;
  uint32_t FileLockLength = 0x3FFFFFFF;
  uint8_t RetryCount = 0;
  uint8_t RetryWait = 0;                    // seconds
  std::function<bool()> RetryExhausted;     // true starts the attempts again
  uint8_t SharedOpenMode = 66;              // read-write, deny none
  bool ExclusiveReopened = false;
  int16_t MemoOpenMode = -1;                // -1: none
  // Wait between the attempts of LockMemoPad, in milliseconds.
  uint32_t MemoPadRetryMs = 50;

  // Format and records.
  uint8_t ExtraVersion1 = 0;                // 0 = none
  uint8_t ExtraVersion2 = 0;
  uint8_t DefaultMemoKind = 0x8B;
  bool WriteThrough = false;
  // Walks through a table no other program can write are served from large reads.
  bool ReadAhead = true;
  uint32_t PeekCacheSize = 0;               // 0: Peek reads directly
  uint16_t CodePageOverride = 0;            // tables are opened in this code page, not their mark's
  PeekCache peek_cache;
};

TableState& Tables();

// Layer start-up: shared open mode 66, an empty work-area table with area 1 current,
// every hook table cleared. Shut-down: areas 34 and 35, then all others, closed.
void TableStartup();
void TableShutdown();

// The area in slot n (1..35), or nullptr.
DbfArea* AreaAt(int n);
// The current area, or nullptr when its slot is empty.
DbfArea* CurrentArea();
uint8_t CurrentAreaNumber();
// Makes slot n current without any check (n in 1..35).
void SetCurrentArea(uint8_t n);

// Reports 215 "No database in use [op]  WorkArea = n" and answers true when the current
// slot is empty.
bool AreaNotInUse(const std::string& operation);

// Header and record I/O of one area.
void RefreshRecCount(DbfArea& area);
void WriteDbfHeader(DbfArea& area);
void FlushDbfHeader(DbfArea& area);
// The largest size a table may reach, end-of-file marker included: record offsets stay
// in the signed 32-bit range.
inline constexpr uint64_t kMaxTableBytes = 0x7FFFFFFF;
// Writes the 0x1A end-of-file byte after the last record; 0 or the platform's code.
uint32_t WriteDbfEofMarker(DbfArea& area);
// Turns a record image (deletion flag first) between the area's readable and stored
// forms: the OEM code page and the area's transforms; the deletion flag stays as it is.
void TranslateRecord(const DbfArea& area, std::span<uint8_t> record, bool for_write);
// Takes the current record as the one the typed image is made of; the image itself is
// made when it is next read (DbfArea::TypedImage).
void FillTypedImage(DbfArea& area);
// The size of the typed image for a field table.
size_t TypedImageSize(const std::vector<FieldDesc>& fields);
void GetDbfRecord(DbfArea& area, int32_t n);
// Reads the stored bytes of record n (1..record count) into out (record length bytes):
// from the read-ahead when it holds the record, else from the file, as a large read when
// the area may read ahead and a walk reaches past what is held. 0 or the file's code.
uint32_t ReadStoredRecord(DbfArea& area, int32_t n, std::span<uint8_t> out);
// Keeps the read-ahead in step with the stored bytes just written as record n, when it
// was the file's own before the write (stamp_before); otherwise it is dropped.
void ReadAheadRecordWritten(DbfArea& area, int32_t n, uint64_t stamp_before,
                            std::span<const uint8_t> stored);
void DropReadAhead(DbfArea& area);
// An exclusive area may hold back the blank record of AppendBlank until it is replaced,
// so that the record is written once. Anything else that needs the record in the file
// (a read, another write, the header, a rewrite, an index) writes the blank first; false
// when that write failed (reported; the record is then not counted).
bool SettlePendingAppend(DbfArea& area);
void PutDbfRecord(DbfArea& area, int32_t n);
void CloseDbf(DbfArea& area);

// Current-area operations.
void Dbf4RawGo(int32_t n);
void Dbf4Go(int32_t n);
char FieldType(int n);                 // ' ' when the area is empty or n invalid
uint8_t FieldCount();
void ClearRecord();
bool dEOF();
int32_t RecCount();
int32_t RecNo();
uint16_t RecSize();
std::string AreaAlias();
bool RecordVisible();
// Whether the index layer has an order open in the current area.
bool IndexActive();
std::string Peek(int k, int32_t n);
// Drops Peek's cache when it holds records of this area (after the file was rewritten).
void DropPeekCache(const DbfArea& area);
void Poke(std::string_view text, int k, int32_t n);
// Whether the locks held let Poke write into record n of the area.
bool PokeAllowed(const DbfArea& area, int32_t n);
void CloseArea();
void CloseAllAreas();

// ---------------------------------------------------------------------------------------
// Locking and sharing. Lock ranges on the table file:
//   table lock byte  lock base                                1
//   file lock        lock base + 1                            file lock length
//   single-byte lock lock base + 1                            1
//   record n         lock base + header length + (n-1) * rl   record length
// The memo pad lock is byte 10 of the memo file (not shifted by the lock base).

// 0, or the platform's code; always 0 with locking off.
uint32_t LockRange(bool unlock, const EngineFile& file, uint64_t offset, uint64_t length);
// Waits while the pump processes window messages.
void WaitSeconds(uint32_t seconds);
bool LockWithRetry(const EngineFile& file, uint64_t offset, uint64_t length);
// Runs attempt (true on success) with the retry policy: the retry count, the wait
// between attempts and the retry-exhausted callback.
bool RetryBusy(const std::function<bool()>& attempt);
// Takes the table lock byte of a shared area for one header write, unless locking is off,
// the area is exclusive or it holds the byte already (LockDbfFile); releases it on
// destruction when it took it. held() tells whether writing may go on.
class HeaderWriteLock {
 public:
  explicit HeaderWriteLock(DbfArea& area);
  ~HeaderWriteLock();
  HeaderWriteLock(const HeaderWriteLock&) = delete;
  HeaderWriteLock& operator=(const HeaderWriteLock&) = delete;
  bool held() const { return held_; }

 private:
  DbfArea& area_;
  bool held_ = true;
  bool taken_ = false;
};
// The length of the file lock range: the configured length, or more, so that it covers
// the record locks of a table of the largest size.
uint64_t FileLockSpan();
// Locks record n of the area (with the retry policy) and adds it to the record-lock list.
bool LockRecordNode(DbfArea& area, int32_t n);
bool LockDbfFile();
void UnlockDbfFile();
uint32_t UnlockRecRange(int32_t n);
bool IsLocked(int32_t n);
// x > 0: that record; -1 the last lock taken; -2 the first; -3 all.
bool UnlockRec(int32_t x);
void Unlock();
uint32_t ReopenDbf(bool exclusive);
bool LockMemoPad();
bool UnlockMemoPad();
// The mode for opening the current area's memo file.
uint32_t MemoOpenModeFor(const DbfArea& area);

}  // namespace zedra

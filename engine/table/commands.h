// Table operations named after the dBASE commands: opening (Use) and creating tables,
// selecting a work area, navigation in natural or index order, field access, appending,
// replacing, deleting and recalling records, record and file locks, Pack and Zap, the
// filter and SET DELETED.
//
// All act on the current work area and record failures through SetError; those that
// return bool answer false on failure (with AutoReport on the first failure ends the
// program as usual).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "table/work_area.h"

namespace zedra {

struct UseOptions {
  bool exclusive = false;      // open mode 18 instead of the shared open mode
  std::string alias;           // default: the file's base name, upper case
  std::optional<bool> oem;     // default: set when header byte 29 names a DOS code page
  bool read_only = false;      // open for reading only (mode 64, or 16 exclusive): every
                               // write then fails with the platform's code
  bool production_index = true;  // open the production index the header announces
};

// Opens a table into the current work area (closing what it held). "DBF" is added to a
// name without extension; a name that does not exist as written is looked up
// case-insensitively in its directory. A file that is not a valid table gets 210 "Not a
// dBASE data file" with the file name and the failing check.
// A table whose header (byte 28) announces a production index gets it opened, with its
// first tag controlling; when the index is missing or fails to open the table stays in
// natural order and ProductionIndexWarning() gives the index's error text.
bool Use(const std::string& name, const UseOptions& options = {});
// The error text of the production index the last Use could not open; empty otherwise.
const std::string& ProductionIndexWarning();

// Makes work area n (1..35) current; 220 for any other number.
bool Select(int n);
// The number of the first empty work area among 1..33, or 0.
int FreeArea();

struct FieldSpec {
  std::string name;    // 1-10 characters: letters, digits, "_", starting with a letter
  char type = 'C';     // C, N, F, D, L or M
  int length = 0;      // C 1-254, N and F 1-20, D 8, L 1, M 10 (D, L, M may be 0)
  int decimals = 0;    // N and F: 0..length-2 (0 when the length is below 3)
};

// Creates (or replaces) a table with version byte 0x03, 0x83, 0x8B or 0xF5. The table
// is not opened. A table with M fields needs a memo version byte and the memo layer's
// CreateMemofile hook.
bool CreateDbf(const std::string& name, uint8_t version, const std::vector<FieldSpec>& fields);

// Navigation: follows the controlling index order when one is set, else record order,
// and passes over records that RecordVisible rejects.
void GoTop();
void GoBottom();
void Skip(int32_t n = 1);
bool Bof();
bool Eof();  // dEOF
// Moves to record n by number (Dbf4Go) and lets the index orders follow.
bool Goto(int32_t n);

// Field access on the record buffer. Field numbers run from 1; a name is matched
// without regard to case. Reading answers the neutral value for an invalid field.
int FieldNumber(std::string_view name);          // 0 when there is no such field
const FieldDesc* FieldAt(int k);                 // nullptr when k is not 1..count
std::string FieldRaw(int k);                     // the bytes as stored
std::string FieldText(int k);                    // C: without trailing blanks; else raw, trimmed
double FieldNum(int k);                          // N, F (also M: block number)
std::string FieldDate(int k);                    // D: YYYYMMDD as stored (8 blanks blank)
bool FieldLogical(int k);                        // L: T, t, Y, y
bool Deleted();

// Writing into the record buffer in the stored forms; Replace() writes the record.
// A value that does not fit its field is error 220 and leaves the buffer unchanged.
bool SetFieldText(int k, std::string_view text);     // C (padded); other types: parsed
bool SetFieldNum(int k, double value);               // N, F: right-aligned, decimals
bool SetFieldDate(int k, std::string_view yyyymmdd); // D; empty or blanks: blank date
bool SetFieldLogical(int k, bool value);             // L: T or F
bool SetFieldRaw(int k, std::string_view bytes);     // exact bytes, padded with blanks

// Appends a blank record and makes it current.
bool AppendBlank();
// Appends the record buffer as it stands as a new record and makes it current. Shared:
// under the table lock byte, with the new record locked afterwards.
bool AppendRecord();
// Appends every record of the table open in work area `source` (deleted ones too, unless
// that area hides them). Fields are matched by name and type; memo fields get their memo
// copied into this table's memo file through the CopyMemo hook.
bool AppendFrom(uint8_t source);
// Writes the record buffer back as the current record.
bool Replace();
bool DeleteRec();
bool Recall();

// Locks record n (adds it to the record-lock list); true when already held.
bool RLock(int32_t n);
// Locks the whole file (lock state File).
bool FLock();
// Takes the single-byte lock (lock state SingleByte).
bool LockSingleByte();

// Removes deleted records (the table must be open exclusively: 225 otherwise) and packs
// the memo file. Both files are rewritten beside the old ones and replaced in one
// committed step, so that a process killed at any point leaves the old or the new table.
// A memo that cannot be read stops the pack before anything changes (its error code,
// the records named); with force its reference becomes blank and *dropped_memos counts it.
bool Pack(bool force = false, int32_t* dropped_memos = nullptr);
// Removes all records and empties the memo file (exclusive), committed as Pack is.
bool Zap();

// Compiles text through ExprHooks into the area's filter (empty text clears it). Without
// the expression layer, or for an expression that is not logical, an error.
bool SetFilter(const std::string& text);
// SET DELETED: hides deleted records in the current area.
void SetDeleted(bool on);

}  // namespace zedra

// The memo layer: the memo file attached to a table (three layouts, see memo_format.h),
// storing, reading and rewriting memo texts, copying memos between memo files, packing
// a memo file, memo text as lines and the memo text stream.
//
// Every operation acts on the current work area and its MemoDescriptor (work_area.h)
// unless it takes files or an area. Failures are recorded with SetError after the memo
// pad lock has been released: 29 write fault, 30 read fault, 217 insufficient memory,
// 1003 invalid memo address, 1004/1012 not enough disk space, 1005 memo write error,
// 1007 memo file already open, 1017/1018 memo pad lock, 1019 no memo field, and the
// operating system's I/O codes. Messages name the memo file as the table's name with
// the extension of the default memo kind ("PEOPLE.DBT"), whatever the actual kind.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/files.h"
#include "table/hooks.h"
#include "table/work_area.h"

namespace zedra {

// ---------------------------------------------------------------------------------------
// Settings and state

// The layout of a memo file: 0x83 (dBASE III), 0x8B and 0x8C (dBASE IV), 0xF5 (FPT).
// It is the table's version byte when that names a memo kind, else the default kind.
using MemoKind = uint8_t;

// The engine's memo line table: one memo held as lines, shared by every stream and area.
struct MemoLineTable {
  std::vector<std::string> lines;  // [1..capacity]; [0] unused
  std::vector<uint8_t> breaks;     // per line: 0x0D, 0x8D, or 0 (width break / last line)
  bool breaks_allocated = false;
  uint32_t index = 1;              // next line to store or deliver
  uint32_t count = 0;              // lines held
  bool loaded = false;
  std::string partial;             // output written after the last line end
  bool exists = false;             // the table has been created
};

struct MemoState {
  uint16_t DefaultBlockSize = 512;
  uint16_t WriteUnit = 512;       // size of the engine's memo write buffer
  uint16_t LineCapacity = 1024;   // lines a memo may have in the line table
  bool WordWrap = false;
  uint16_t LineWidth = 78;
  uint32_t Refills = 0;           // buffer refills of the most recent memo read
  MemoLineTable lines;
};
MemoState& Memos();

// Installs the eight MemoHooks (and CreateMemofile) and resets the layer's state.
void MemoStartup();
void MemoShutdown();

// ---------------------------------------------------------------------------------------
// Memo file format and access

// The memo kind of the current area: byte 0 of its table file when it names a memo kind
// (0x83, 0x8B, 0x8C, 0xF5), otherwise the default memo kind (also for an empty area).
MemoKind GetMemoType();
// The memo kind of a table file's version byte, read from the file.
MemoKind GetMemoTypeOf(const DbfArea& area);

// Creates an empty memo file of `kind` for `name` (whose extension is replaced with the
// kind's). Errors: the I/O code with "Cannot create memo file NAME [operation]".
void CreateMemoFile(const std::string& name, MemoKind kind, uint16_t block_size,
                    const std::string& operation);
// CreateMemoFile with the default kind and block size, operation "CreateMemofile()".
void CreateMemofile(const std::string& name);

// Opens the current area's memo file (name: the table's name; the extension is put) and
// attaches its descriptor. 1007 when one is open; "Memo file not found: ..." otherwise.
void OpenMemofile(const std::string& name);
void CloseMemofile();
// CloseMemofile, CreateMemofile, OpenMemofile.
void RecreateMemofile(const std::string& name);
// Resets the memo pad state; allocates (or, flag clear, frees) its 512-byte buffer.
void CreateMemoDescriptor(bool allocate);

// Locks the memo pad and returns the block-aligned end of the memo file (the file is
// padded with zeros up to it), or 0 on failure. The lock is held until UpdateMemoHeader.
int64_t LockMemoPadAndSeekEOF(const std::string& operation);
// Writes the first 4 bytes of a memo file's header.
bool MainHeaderWrite(const EngineFile& file, uint32_t value, bool big_endian);
// Next free block := blocks in the file; the dBASE IV counter; releases the pad lock.
void UpdateMemoHeader();
// Reads the group header of memo `*block`; *block becomes the number of blocks it uses.
bool ReadGroupHeader(int32_t* block, uint8_t header[8]);
// Writes a group header for a text of `length` bytes at `position` (nothing when <= 0).
bool WriteGroupHeader(int64_t position, uint32_t length, const EngineFile& file);
// Adds the run of `length` bytes from block `first` to the free-block chain.
void FreeBlocks(uint32_t first, uint32_t length);
// Finds room for a memo of `need` blocks (0x8B/0x8C only; others give 0).
uint32_t AllocateBlocks(uint32_t need, uint32_t current, const std::string& operation);
// Stores a text (trailing blanks removed) as a new memo: its block, or 0.
int32_t AddMemo(const std::string& text);

// ---------------------------------------------------------------------------------------
// Copying and packing

using MemoTransform = std::function<void(uint8_t* data, size_t length)>;

// The parameters of one memo copy.
struct MemoCopyJob {
  const EngineFile* source = nullptr;
  const EngineFile* target = nullptr;
  uint16_t source_block_size = 512;
  uint16_t target_block_size = 512;
  MemoKind source_kind = 0x8B;
  MemoKind target_kind = 0x8B;
  int32_t source_block = 0;     // negative: group-header memo inside a 0x83 file
  int32_t target_block = 0;
  int64_t target_position = 0;  // byte position the copy is written at
  MemoTransform write_transform;
  MemoTransform read_transform;
  bool target_is_83 = false;    // the target area's memo kind is 0x83
  // Packing copies a memo in the form it is stored in: a 0x83 text keeps its 0x00 bytes
  // (it ends at its 0x1A, as it is read) and a group-header memo stays one.
  bool keep_form = false;
};

// The block size of a memo file for copying, read from its header.
uint16_t GetMemoBlockSize(const EngineFile& file, MemoKind kind);
// Copies one memo; the target block (negated for a group-header memo in a 0x83 file),
// or 0 when nothing was copied.
int32_t CopyMemoData(const MemoCopyJob& job);
// Copies memo `block` of `source_area` into the current area's memo file. With keep set
// the copy gets the source's block number.
int32_t CopyMemo(uint8_t source_area, int32_t block, bool keep);
// Rewrites the current area's memo file with only the memos its records reference, in
// record order; each reference gets its own copy. The table needs exclusive use: the
// table file is rewritten with the new references and both files are replaced in one
// committed step (table/rewrite.h). A memo that cannot be read stops it before anything
// changes.
void PackMemofile();
// The MemoHooks of table rewrites (hooks.h): whether memo `block` of the current area can
// be read whole, and a new memo file at `path` filled by copying memos into it.
uint16_t CheckMemo(int32_t block);
std::shared_ptr<MemoRewrite> StartMemoRewrite(const std::string& path);

// ---------------------------------------------------------------------------------------
// Memo text as lines

// Loads the memo at `block` into the line table (line_limit 0: all lines).
bool GetMemo(int32_t block, uint32_t line_limit);
// The next line of the memo being read, with its return code: 0 broken by the width or
// last line without a line end, 1 ended by 0x0D, 2 ended by 0x8D, 3 no more characters.
int ReadMemoLine(std::string* line);
// Writes the line table as a memo; the new block number, or 0.
int32_t EditMemo(int32_t current_block);
// Empties the line table (and, with release set, frees it).
void ClearMemoLines(bool release);

// Binds a stream to the memo whose block number is in *block_var, in the current area.
// 0 on success; 215 (no table) or 1019 (no memo file) recorded and returned otherwise.
int AssignMemo(MemoTextStream& stream, int32_t* block_var);

// ---------------------------------------------------------------------------------------
// The engine's memo operations on the current record

// The whole text of memo field k of the current record ("" for no memo). A field that is
// not a memo field, or an area without a memo file, is an error.
std::string GetMemoText(int k);
// The text of the memo at `block` of the current area, read raw as stored (up to its
// end mark, length or a byte 3).
std::string ReadMemoText(int32_t block);
// Stores text as a new memo and puts its block number into field k of the record
// buffer (Replace() then writes the record). An empty text clears the field.
bool ReplaceMemo(int k, const std::string& text);

// One memo text for memo field `field` of a record about to be appended.
struct MemoValue {
  int field = 0;
  std::string text;
};
// Appends the record buffer (AppendRecord) with the given memo texts in its memo fields.
// Every field is checked before anything is written, the memos are written next and the
// record last. When a memo or the record cannot be written, the memos already written for
// it are taken back, so that the memo file ends where it did, unless another program has
// added memos behind them meanwhile (they then stay as blocks no record references,
// which a pack drops). The error of the failed step is reported after that.
bool AppendRecordWithMemos(const std::vector<MemoValue>& memos);

}  // namespace zedra

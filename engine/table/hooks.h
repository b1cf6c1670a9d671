// The table layer's hook tables: the only doors from this layer up to the memo, index
// and expression layers, the virtual-file handler, and the pump that runs while the
// engine waits for a lock.
//
// Every slot is empty after TableStartup(); the layer above fills its table in its own
// start-up (expressions, then memos, then indexes). The table layer calls a slot only
// when it is set, so each layer works without the ones above it. All slots act on the
// current work area unless they take an area.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace zedra {

struct DbfArea;
struct CompiledExpr;  // one compiled expression; defined by the expression layer

// ---------------------------------------------------------------------------------------
// Memo text streams
//
// A text stream in the manner of the runtime's text files: a mode, a buffer of at most
// 255 characters and four operations that the owner of the stream installs (the memo
// layer's AssignMemo does). Line input and output below drive the four operations, so
// that layers under the memo layer (the evaluator reading a memo field) can read a memo
// line by line without knowing how memo files are laid out.
enum class StreamMode : uint8_t { Closed = 0, Input = 1, Output = 2, Append = 3 };

struct MemoTextStream {
  static constexpr size_t kBufferSize = 255;

  StreamMode mode = StreamMode::Closed;
  uint16_t handle = 0xFFFF;
  // Input: the characters delivered by the last transfer, read from buffer_pos on.
  // Output: the characters written since the last transfer.
  std::string buffer;
  size_t buffer_pos = 0;
  bool buffer_allocated = false;

  // The four operations; each returns 0 or a stream error code (8, 100, 101, 102).
  // open runs with mode set to what Reset, Rewrite or Append asked for and may change it
  // (an append stream becomes an output stream). transfer fills the buffer for input
  // (an empty buffer is the end of the text) and drains it for output. flush is called
  // after every write; close at the end.
  std::function<int(MemoTextStream&)> open;
  std::function<int(MemoTextStream&)> transfer;
  std::function<int(MemoTextStream&)> flush;
  std::function<int(MemoTextStream&)> close;

  // User data: the caller's 32-bit block-number variable and the work area at the time
  // the stream was bound.
  int32_t* block_var = nullptr;
  uint8_t area = 0;
  // Anything else the stream's owner keeps with it.
  std::shared_ptr<void> owner_state;
};

// Line input and output on a stream. Each returns 0 or the stream error code; a stream
// whose operations are not set fails with 103 ("File not open").
int StreamReset(MemoTextStream& s);    // open for input
int StreamRewrite(MemoTextStream& s);  // open for output (replaces the text)
int StreamAppend(MemoTextStream& s);   // open for output after the existing text
// True when no character is left to read.
bool StreamEof(MemoTextStream& s);
// Reads characters up to the next line end (CR, LF or CR LF, consumed) into *line.
int StreamReadLine(MemoTextStream& s, std::string* line);
int StreamWrite(MemoTextStream& s, std::string_view text);
int StreamWriteLine(MemoTextStream& s, std::string_view text);  // text, then CR LF
int StreamClose(MemoTextStream& s);

// A new memo file that a table rewrite (Pack, Zap, PackMemofile) fills beside the current
// area's memo file. Copy copies the memo at `block` of the current memo file, as stored,
// into the new file and gives its block there (0 when nothing was copied; an I/O failure
// is recorded with SetError). Finish completes the new file's header, writes the file
// through to the disk and closes it; false with the error recorded.
struct MemoRewrite {
  std::function<int32_t(int32_t block)> Copy;
  std::function<bool()> Finish;
};

// ---------------------------------------------------------------------------------------
// MemoHooks: filled by the memo layer's start-up.
struct MemoHooks {
  // Binds a stream to the memo whose block number is in *block_var, in the current area.
  // 0 on success, otherwise non-zero with the error recorded.
  std::function<int(MemoTextStream& stream, int32_t* block_var)> AssignMemo;
  // Opens the memo file of the current area (name: the table's file name; the memo
  // layer puts the extension) and attaches a MemoDescriptor to the area.
  std::function<void(const std::string& name)> OpenMemofile;
  // Closes the current area's memo file and frees its descriptor.
  std::function<void()> CloseMemofile;
  // Rewrites the current area's memo file with only the memos its records reference.
  std::function<void()> PackMemofile;
  // Stores a text as a new memo; its first block, or 0 when nothing was stored.
  std::function<int32_t(const std::string& text)> AddMemo;
  // Copies memo `block` of `source_area` into the current area's memo file; the new
  // block (0 when nothing was copied). The second variant keeps the number.
  std::function<int32_t(uint8_t source_area, int32_t block)> CopyMemo;
  std::function<int32_t(uint8_t source_area, int32_t block)> CopyMemoKeepNumber;
  // Close, create and open the current area's memo file again (an empty memo file).
  std::function<void(const std::string& name)> RecreateMemofile;

  // Beyond the eight: creates an empty memo file of `kind` (0x83, 0x8B, 0x8C, 0xF5) for
  // the table file `table_name`, with the memo layer's default block size. Used by
  // CreateDbf; errors are recorded with SetError.
  std::function<void(const std::string& table_name, uint8_t kind)> CreateMemofile;
  // For table rewrites: whether the memo at `block` of the current area's memo file can
  // be read whole (0), or the error code that reading it gives (1003 beyond the end of the
  // file, 30 a damaged group header).
  std::function<uint16_t(int32_t block)> CheckMemo;
  // Creates an empty memo file at `path` of the current area's memo kind and block size;
  // nullptr with the error recorded when it cannot be created.
  std::function<std::shared_ptr<MemoRewrite>(const std::string& path)> StartMemoRewrite;
};

// ---------------------------------------------------------------------------------------
// IndexHooks: filled by the index layer's start-up. Record numbers returned by the
// navigation entries are 0 when the step failed.
struct IndexHooks {
  std::function<bool()> IndexOpen;         // slot 1 of the current area holds an order
  std::function<void()> SyncToRecord;      // SyncIndex of order 1
  std::function<int32_t()> Next;           // next record in the controlling order
  std::function<int32_t()> Prior;
  std::function<int32_t()> Top;
  std::function<int32_t()> Bottom;
  std::function<bool()> Eof;               // end-of-file answer of the controlling order
  std::function<bool()> Bof;
  std::function<void()> RecordAppended;    // AppendNewKey
  std::function<void()> RefreshKeys;       // RefreshKeys of order 1, no positioning
  std::function<void()> RecordReached;     // after a move to a record by number
  std::function<void()> RecordReplaced;    // CompareKeys
  std::function<void()> RecordToBeReplaced;  // before the rewrite: the keys as they stand
  std::function<void(bool)> SetBof;
  std::function<void(bool)> SetEof;
  bool* FoundFlag = nullptr;               // the layer's found flag
  std::function<void()> Reindex;
  std::function<void()> CloseIndexes;
  std::function<bool()> OpenProductionIndex;
  std::function<std::string(int order)> TagDescription;
  std::function<std::optional<std::string>(int order)> KeyText;
  std::function<std::optional<std::string>()> ControllingKeyText;
  std::function<bool(int order)> Ascending;
  std::function<bool(int order)> PhoneticKey;
  std::function<void(bool enter)> ReadBracket;   // SetReadSemaphoreProc
  std::function<void(bool enter)> WriteBracket;  // SetLockSemaphoreProc
};

// ---------------------------------------------------------------------------------------
// ExprHooks: filled by the expression layer's start-up.
struct ExprHooks {
  bool ExpressionsAvailable = false;
  // AssignExpr: compiles a text; nullptr when it does not compile (error recorded).
  std::function<CompiledExpr*(const std::string& text)> AssignExpr;
  // ReleaseExpr: frees the expression and sets the caller's pointer to nullptr.
  std::function<void(CompiledExpr*& expr)> ReleaseExpr;
  // Evaluate: runs the expression on the current records; a pointer to the result
  // (C and M: the zero-terminated text; N and D: a double; L: a 32-bit integer, 0 false),
  // nullptr for a missing expression and for an evaluation that failed (error recorded;
  // the caller must not use any value then). Valid until the next evaluation or release.
  std::function<const void*(CompiledExpr* expr)> Evaluate;
  // ExprText: the expression's source text.
  std::function<std::string(const CompiledExpr* expr)> ExprText;
  // EvaluateKey: Evaluate of the current key expression.
  std::function<const void*()> EvaluateKey;
  // Beyond the five: the result type letter of a compiled expression ('C', 'N', 'D',
  // 'L' or 'M').
  std::function<char(const CompiledExpr* expr)> ExprType;
};

// ---------------------------------------------------------------------------------------
// The virtual-file handler serves areas marked virtual instead of a file. It reads
// area.virtual_op (1 close, 3 read record, 8 write record) and area.virtual_record.
using VirtualFileHandler = std::function<void(DbfArea& area)>;

// The pump that runs while the engine waits between lock attempts. It processes the
// window system's pending messages for at most max_ms milliseconds and returns false
// when the application is terminating. The default sleeps.
using WaitPump = std::function<bool(uint32_t max_ms)>;

MemoHooks& MemoHookTable();
IndexHooks& IndexHookTable();
ExprHooks& ExprHookTable();
VirtualFileHandler& VirtualHandler();
// Installs a pump; an empty function restores the default.
void SetWaitPump(WaitPump pump);
WaitPump& CurrentWaitPump();

}  // namespace zedra

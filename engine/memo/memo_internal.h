// Helpers shared by the memo layer's source files: the current area's memo file, the
// error path that first releases the memo pad lock, the pad state, and the memo reader.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "memo/memo.h"
#include "memo/memo_format.h"

namespace zedra::memo {

// Error codes of the memo layer.
inline constexpr uint16_t kErrWriteFault = 29;
inline constexpr uint16_t kErrReadFault = 30;
inline constexpr uint16_t kErrNoArea = 215;
inline constexpr uint16_t kErrMemory = 217;
inline constexpr uint16_t kErrMemoAddress = 1003;
inline constexpr uint16_t kErrMemoDiskSpace = 1004;
inline constexpr uint16_t kErrMemoWrite = 1005;
inline constexpr uint16_t kErrMemoOpen = 1007;
inline constexpr uint16_t kErrPackDiskSpace = 1012;
inline constexpr uint16_t kErrPadLock = 1017;
inline constexpr uint16_t kErrPadUnlock = 1018;
inline constexpr uint16_t kErrNoMemo = 1019;

// The memo pad state of a descriptor: laid down by CreateMemoDescriptor; only the
// buffer is used.
struct MemoPadState {
  uint8_t flag1 = 0;
  uint8_t flag2 = 0;
  int32_t position = -1;
  std::array<uint8_t, 20> reserved{};
  std::vector<uint8_t> buffer;  // the write buffer (512 bytes) while allocated
  int32_t limit = 0;            // 0x7FFFFFFF minus the write unit
  uint8_t flag3 = 0;
};

// The current area's memo descriptor, or nullptr.
MemoDescriptor* CurrentMemo();
// The memo file name used in messages: the table's name with the default kind's
// extension.
std::string MemoMsgName();
// Releases the memo pad lock, then records the error.
void MemoError(uint16_t code, const std::string& message);
// How many errors MemoError has recorded; an operation compares it before and after a
// step to learn whether the step failed.
uint32_t MemoErrorCount();
// The block number a memo field holds (leading blanks, signed decimal); 0 for none.
int32_t MemoRefOf(std::string_view field);
// The block a memo reference points at: a 0x83 file marks a memo in the group-header
// form by negating its block number.
inline int64_t AbsBlock(int32_t block) { return block < 0 ? -int64_t(block) : int64_t(block); }
// A block size as stored, or for a stored 0 (which would divide by zero) the configured
// default, itself 512 when none is configured.
uint16_t BlockSizeOrDefault(uint16_t stored);
// The number of blocks a file of `size` bytes spans (a remainder counts as a block).
uint32_t BlocksIn(uint64_t size, uint16_t block_size);
// Creates a memo file under exactly the name given (no extension replaced).
bool CreateMemoFileAs(const std::string& path, uint8_t kind, uint16_t block_size,
                      const std::string& operation);
// Writes the group header of `kind` (0xF5, else the dBASE IV form) at `position`;
// 0 or the I/O code, nothing recorded.
uint32_t PutGroupHeader(const EngineFile& file, uint64_t position, uint32_t length, uint8_t kind);
// Writes the group header of `kind` at `position` (nothing when <= 0).
bool WriteGroupHeaderOf(int64_t position, uint32_t length, const EngineFile& file,
                        uint8_t kind);

// Writes bytes in pieces of `unit` through a transform (when set); false on a short
// write, with *error the I/O code (0 for a plain short write).
bool WritePieces(const EngineFile& file, int64_t position, const uint8_t* data, size_t length,
                 size_t unit, const MemoTransform& transform, uint32_t* error);

// A memo file as it was before memos were added at its end: its size and its first bytes
// (the header block, and the 0x1A of a new dBASE III file that the first memo
// overwrites). Restore cuts the file back and puts those bytes back, so that a failed
// append leaves the file as it was. Taken and restored while the memo pad is locked.
struct MemoEndSnapshot {
  uint64_t size = 0;
  std::vector<uint8_t> head;
  bool Take(const EngineFile& file);
  bool Restore(const EngineFile& file) const;
};
// LockMemoPadAndSeekEOF that first takes a snapshot of the file (when `before` is given).
int64_t LockPadAndSeekEnd(const std::string& operation, MemoEndSnapshot* before);
// AddMemo that reports the snapshot taken before the memo and the file's size after it;
// a failed write restores the snapshot before the error is recorded.
int32_t AddMemoAtEnd(const std::string& text, MemoEndSnapshot* before, uint64_t* after);
// Reads, adds `delta` to and writes back the dBASE IV counter at offset 32; a failure
// first restores `before` (when given).
bool AddToCounter(int32_t delta, const MemoEndSnapshot* before = nullptr);
// UpdateMemoHeader that restores `before` (when given) if its writes fail.
void UpdateMemoHeaderWith(const MemoEndSnapshot* before);
// The engine's code for a failed memo write: 101 for a full disk, else 29.
inline uint16_t MemoWriteFault(uint32_t error) {
  return error == kErrDiskWrite ? kErrDiskWrite : kErrWriteFault;
}

// Reads one memo's characters: a group-header memo up to its length, a 0x83 memo up to
// its 0x1A, either up to a byte 3 or the end of the file. Stored lengths are never
// trusted beyond the file's end.
class MemoReader {
 public:
  // Starts at block `block` (its absolute value). False when the memo cannot be read
  // (its group header lies beyond the file or claims more text than the file has).
  bool Start(const EngineFile& file, int32_t block, uint16_t block_size, uint8_t kind,
             const MemoTransform& read_transform);
  // The next character, or -1 at the end of the memo.
  int Next();
  // Gives characters back; they are delivered again, in order, before any other.
  void GiveBack(const std::string& chars);
  uint64_t delivered() const { return delivered_; }

 private:
  bool Fill();

  const EngineFile* file_ = nullptr;
  MemoTransform transform_;
  std::vector<uint8_t> buffer_;   // two chunks
  size_t chunk_ = 512;
  size_t pos_ = 0;                // next character in buffer_
  size_t filled_ = 0;             // bytes valid in buffer_
  uint64_t file_pos_ = 0;         // next byte to read from the file
  uint64_t file_size_ = 0;
  bool counted_ = false;          // a group-header memo (ends after remaining_)
  uint64_t remaining_ = 0;        // text bytes still to read from the file
  bool end_ = false;
  bool first_fill_ = true;
  std::string given_back_;        // characters to deliver first (last char first out)
  uint64_t delivered_ = 0;
};

}  // namespace zedra::memo

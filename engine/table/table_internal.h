// Small helpers that the table layer's source files share.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "base/errors.h"
#include "base/files.h"
#include "table/hooks.h"
#include "table/work_area.h"

namespace zedra {

inline std::string Num(long long n) { return std::to_string(n); }

inline std::string Hex2(uint8_t v) {
  static const char kDigits[] = "0123456789ABCDEF";
  return std::string("0x") + kDigits[v >> 4] + kDigits[v & 15];
}

// The block number in a memo field: leading blanks, a signed decimal; else 0. A number
// beyond the 32-bit range is damage, not a block, and counts as no memo.
inline int32_t MemoBlockOf(std::string_view text) {
  std::string t = AllTrim(text);
  if (t.empty()) return 0;
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(t.c_str(), &end, 10);
  if (errno != 0 || !end || *end != '\0' || v < INT32_MIN || v > INT32_MAX) return 0;
  return static_cast<int32_t>(v);
}

// Enters or leaves the index layer's write bracket when an index is active; false when
// the bracket could not be entered (its error is then set and it must not be left).
inline bool WriteBracket(bool enter) {
  if (!IndexActive() || !IndexHookTable().WriteBracket) return true;
  const uint16_t before = ErrorCode();
  Errors().ErrorCode = 0;
  IndexHookTable().WriteBracket(enter);
  if (ErrorCode() != 0) return !enter;
  Errors().ErrorCode = before;
  return true;
}

// The index layer's read bracket around one move of the current area while it has an
// index active: entered at construction, left at the end of the scope in the area it was
// entered in (unless that area lost its index meanwhile). An error of the move itself
// wins over one of leaving.
class ReadBracketScope {
 public:
  ReadBracketScope() {
    if (!IndexActive() || !IndexHookTable().ReadBracket) return;
    area_ = CurrentAreaNumber();
    IndexHookTable().ReadBracket(true);
    entered_ = ErrorCode() == 0;
    refused_ = !entered_;
  }
  ~ReadBracketScope() {
    if (!entered_) return;
    const uint8_t now = CurrentAreaNumber();
    SetCurrentArea(area_);
    if (IndexActive()) {
      ErrorState& e = Errors();
      const uint16_t code = e.ErrorCode;
      const std::string message = e.PendingMessage;
      IndexHookTable().ReadBracket(false);
      if (code != 0) {
        e.ErrorCode = code;
        e.PendingMessage = message;
      }
    }
    SetCurrentArea(now);
  }
  ReadBracketScope(const ReadBracketScope&) = delete;
  ReadBracketScope& operator=(const ReadBracketScope&) = delete;
  // False when the bracket could not be entered: the move must not go on.
  bool entered() const { return !refused_; }

 private:
  uint8_t area_ = 0;
  bool entered_ = false;
  bool refused_ = false;
};

// What a record write may change, kept to be put back when the write fails: the file's
// size and the bytes the write covers (on an append the end-of-file marker and whatever
// trails it).
class RecordWriteUndo {
 public:
  RecordWriteUndo(const EngineFile& file, uint64_t offset, size_t length)
      : file_(file), offset_(offset) {
    uint32_t error = 0;
    size_ = file.Size(&error);
    known_ = error == 0;
    if (known_ && offset < size_) {
      old_.resize(size_t(std::min<uint64_t>(size_ - offset, length)));
      known_ = file.ReadAt(offset, old_) == 0;
    }
  }

  // The file's size before the write.
  uint64_t size() const { return size_; }

  void Restore() const {
    if (!known_) return;
    // Cutting first, so that putting the old bytes back never needs room on the disk.
    if (file_.Size() > size_) file_.Truncate(size_);
    if (!old_.empty()) file_.WriteAt(offset_, old_);
  }

 private:
  const EngineFile& file_;
  uint64_t offset_;
  uint64_t size_ = 0;
  bool known_ = false;
  std::vector<uint8_t> old_;
};

// An open index must be kept in step with every change of the records; until the index
// layer installs the entry that does so (`set`), the change is refused rather than
// leaving the index stale.
inline bool IndexKeptInStep(bool set, const char* operation) {
  if (!IndexActive() || set) return true;
  SetError(254, std::string("Records cannot be changed while an index is open: index maintenance "
                            "is not available [") + operation + "]");
  return false;
}

}  // namespace zedra

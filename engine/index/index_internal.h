// Helpers shared by the index layer's source files: its error codes, releasing a tag,
// the tag table search, and the chunked reader of table records that the builder and
// the checker use.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/errors.h"
#include "index/index.h"

namespace zedra {

// Closes every order of the current area and its index file (changed anchors and the
// header are written first).
void CloseIndexes();
// The entry number of the tag of that name (upper-cased, at most 10 characters), or 0.
int FindTagEntry(IndexFile& file, const std::string& name);

// A raised failure that is caught and not passed on stays the engine's last error with
// its message (the exception's text is the code's text, a line break and the message).
inline void KeepCaught(const EZedraError& e) {
  const std::string text = e.what();
  const size_t end = text.find("\r\n");
  ErrorState& errors = Errors();
  errors.LastError = errors.ErrorCode;
  errors.PendingMessage = end == std::string::npos ? text : text.substr(end + 2);
}
// True when the current record satisfies the tag's FOR condition (or it has none).
bool SatisfiesFor(TagControl& tag);
// The check at the start of every step: after a change by another program the current
// record is read again and order 1 put back on it.
void SoftSyncCheck();

namespace index {

inline constexpr uint16_t kErrFileNotFound = 2;
inline constexpr uint16_t kErrMemory = 217;
inline constexpr uint16_t kErrIndexNotOpen = 221;
inline constexpr uint16_t kErrCorrupt = 222;
inline constexpr uint16_t kErrNotExclusive = 225;
inline constexpr uint16_t kErrDiskSpace = 227;
inline constexpr uint16_t kErrInternal = 254;
inline constexpr uint16_t kErrKeyLength = 266;
inline constexpr uint16_t kErrKeyTooLong = 300;
inline constexpr uint16_t kErrShortTableRead = 213;
// A short write without an operating-system code: a full disk.
inline constexpr uint16_t kErrDiskFull = 112;

// Releases the tag's compiled expressions and frees it.
void ReleaseTag(std::unique_ptr<TagControl>& tag);

// Reads the records of a table in chunks of whole records straight from its file and
// makes each in turn the area's current record for the evaluator (the table itself is
// not moved); the area's record buffer and number are restored at the end.
class RecordScan {
 public:
  // chunk_bytes: the space for records; at least one record is read at a time.
  RecordScan(DbfArea& area, size_t chunk_bytes);
  ~RecordScan();
  RecordScan(const RecordScan&) = delete;
  RecordScan& operator=(const RecordScan&) = delete;

  // Makes the next record current; false at the end or after a failed read (then
  // error() is the I/O code, 0 otherwise).
  bool Next();
  int32_t record() const { return next_ - 1; }
  uint32_t error() const { return error_; }

 private:
  DbfArea& area_;
  std::vector<uint8_t> chunk_;
  std::vector<uint8_t> saved_record_;
  int32_t saved_number_ = 0;
  int32_t total_ = 0;
  int32_t next_ = 1;       // the record Next makes current
  int32_t chunk_first_ = 1;
  int32_t chunk_count_ = 0;
  uint32_t error_ = 0;
};

}  // namespace index
}  // namespace zedra

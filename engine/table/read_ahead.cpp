// Reading ahead for walks through a table that no other program can write: a record read
// next to the one read before, and not held already, brings in a block of records with
// one read; records in the block are then copied out of it. Every change of the file made
// through the area (its change stamp) retires the block, except record writes, which the
// block takes in; a shared table without the file lock reads every record from the file.
#include <algorithm>
#include <cstring>

#include "table/work_area.h"

namespace zedra {
namespace {

constexpr size_t kReadAheadBytes = 64 * 1024;

bool MayReadAhead(const DbfArea& area) {
  return Tables().ReadAhead && !area.is_virtual &&
         (area.exclusive || area.lock_state == LockState::File);
}

bool Holds(const DbfArea& area, int32_t n) {
  const RecordReadAhead& ra = area.read_ahead;
  return ra.count > 0 && ra.stamp == area.file.change_stamp() && n >= ra.first &&
         n - ra.first < ra.count;
}

uint8_t* HeldRecord(DbfArea& area, int32_t n) {
  return area.read_ahead.data.data() + size_t(n - area.read_ahead.first) * area.record_length;
}

// Reads the block for a walk that reached record n from `previous`; false when the read
// did not bring n in (the caller then reads the record alone, with its own error).
bool Fill(DbfArea& area, int32_t n, int32_t previous) {
  RecordReadAhead& ra = area.read_ahead;
  const size_t rl = area.record_length;
  const int32_t per_block = int32_t(std::max<size_t>(1, kReadAheadBytes / rl));
  int32_t first = n, last = std::min(area.record_count, n + (per_block - 1));
  if (n < previous) {
    first = std::max(1, n - (per_block - 1));
    last = n;
  }
  ra.count = 0;
  ra.data.resize(size_t(last - first + 1) * rl);
  size_t done = 0;
  uint32_t error = area.file.ReadAt(area.RecordOffset(first), ra.data, &done);
  if (error != 0 && error != kErrHandleEof) return false;
  const int32_t whole = int32_t(std::min<size_t>(done, ra.data.size()) / rl);
  if (n - first >= whole) return false;
  ra.first = first;
  ra.count = whole;
  ra.stamp = area.file.change_stamp();
  return true;
}

}  // namespace

void DropReadAhead(DbfArea& area) { area.read_ahead.count = 0; }

uint32_t ReadStoredRecord(DbfArea& area, int32_t n, std::span<uint8_t> out) {
  RecordReadAhead& ra = area.read_ahead;
  const int32_t previous = ra.last_read;
  ra.last_read = n;
  if (!MayReadAhead(area)) {
    DropReadAhead(area);
  } else if (Holds(area, n) || ((n == previous + 1 || n == previous - 1) && Fill(area, n, previous))) {
    std::memcpy(out.data(), HeldRecord(area, n), out.size());
    return 0;
  }
  return area.file.ReadAt(area.RecordOffset(n), out);
}

void ReadAheadRecordWritten(DbfArea& area, int32_t n, uint64_t stamp_before,
                            std::span<const uint8_t> stored) {
  RecordReadAhead& ra = area.read_ahead;
  if (ra.count == 0 || ra.stamp != stamp_before) {
    DropReadAhead(area);
    return;
  }
  if (n >= ra.first && n - ra.first < ra.count)
    std::memcpy(HeldRecord(area, n), stored.data(), std::min<size_t>(stored.size(), area.record_length));
  ra.stamp = area.file.change_stamp();
}

}  // namespace zedra

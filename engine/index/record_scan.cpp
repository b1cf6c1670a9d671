// The chunked record reader of the builder and the checker.
#include <algorithm>
#include <cstring>

#include "index/index_internal.h"

namespace zedra::index {

RecordScan::RecordScan(DbfArea& area, size_t chunk_bytes) : area_(area) {
  SettlePendingAppend(area);
  const size_t length = std::max<size_t>(area.record_length, 1);
  chunk_.resize(std::max(length, chunk_bytes / length * length));
  saved_record_ = area.record;
  saved_number_ = area.current_record;
  total_ = std::max<int32_t>(area.record_count, 0);
}

RecordScan::~RecordScan() {
  area_.record = std::move(saved_record_);
  area_.current_record = saved_number_;
}

bool RecordScan::Next() {
  if (error_ != 0 || next_ > total_) return false;
  const size_t length = area_.record_length;
  if (next_ >= chunk_first_ + chunk_count_) {
    const int32_t capacity = int32_t(chunk_.size() / std::max<size_t>(length, 1));
    chunk_first_ = next_;
    chunk_count_ = std::min(capacity, total_ - next_ + 1);
    std::span<uint8_t> bytes(chunk_.data(), size_t(chunk_count_) * length);
    if (uint32_t error = area_.file.ReadAt(area_.RecordOffset(next_), bytes); error != 0) {
      error_ = error == kErrHandleEof ? kErrShortTableRead : error;
      chunk_count_ = 0;
      return false;
    }
  }
  area_.record.resize(length);
  std::memcpy(area_.record.data(), chunk_.data() + size_t(next_ - chunk_first_) * length, length);
  TranslateRecord(area_, area_.record, false);
  area_.current_record = next_;
  ++next_;
  return true;
}

}  // namespace zedra::index

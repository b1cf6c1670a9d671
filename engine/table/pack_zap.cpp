// Pack (dropping deleted records) and Zap (emptying a table).
#include "table/commands.h"

#include <algorithm>
#include <span>
#include <vector>

#include "base/errors.h"

#include "table/table_internal.h"

namespace zedra {

namespace {

bool NeedExclusive(DbfArea& area, const char* op) {
  if (area.exclusive) return true;
  SetError(225, area.file_name + " [" + std::string(op) + "]");
  return false;
}

// Cuts the file after `count` records, writes the end marker, the header and flushes.
bool Shorten(DbfArea& area, int32_t count, const char* op) {
  area.record_count = count;
  uint32_t error = area.file.Truncate(area.RecordOffset(count + 1));
  if (error == 0) {
    area.update_state = UpdateState::Appended;  // header and end marker are both due
    AutoReportScope quiet(false);
    FlushDbfHeader(area);
    error = ErrorCode();
  }
  if (error != 0) {
    SetError(uint16_t(error), "File:  " + area.file_name + " [" + std::string(op) + "]");
    return false;
  }
  return true;
}

void AfterRewrite(DbfArea& area) {
  if (area.has_memo && MemoHookTable().PackMemofile && ErrorCode() == 0) MemoHookTable().PackMemofile();
  if (ErrorCode() == 0 && IndexActive() && IndexHookTable().Reindex) IndexHookTable().Reindex();
  if (ErrorCode() == 0) GoTop();
}

}  // namespace

bool Pack() {
  if (AreaNotInUse("Pack")) return false;
  Errors().ErrorCode = 0;
  DbfArea& area = *CurrentArea();
  if (!NeedExclusive(area, "Pack")) return false;
  DropPeekCache(area);
  // Records are moved as stored, in runs, without translation.
  const size_t rl = area.record_length;
  const int32_t per_chunk = int32_t(std::max<size_t>(1, 65536 / rl));
  std::vector<uint8_t> chunk;
  int32_t kept = 0;
  for (int32_t first = 1; first <= area.record_count; first += per_chunk) {
    int32_t count = std::min(per_chunk, area.record_count - first + 1);
    chunk.resize(size_t(count) * rl);
    if (uint32_t error = area.file.ReadAt(area.RecordOffset(first), chunk); error != 0) {
      SetError(uint16_t(error == kErrHandleEof ? 213 : error), "File:  " + area.file_name + " [Pack]");
      return false;
    }
    for (int32_t i = 0; i < count; ++i) {
      const uint8_t* rec = chunk.data() + size_t(i) * rl;
      if (rec[0] == kRecordDeleted) continue;
      ++kept;
      if (kept == first + i) continue;  // nothing deleted before it: already in place
      if (uint32_t error = area.file.WriteAt(area.RecordOffset(kept), std::span<const uint8_t>(rec, rl));
          error != 0) {
        SetError(uint16_t(error), "File:  " + area.file_name + " [Pack]");
        return false;
      }
    }
  }
  if (!Shorten(area, kept, "Pack")) return false;
  AfterRewrite(area);
  return ErrorCode() == 0;
}

bool Zap() {
  if (AreaNotInUse("Zap")) return false;
  Errors().ErrorCode = 0;
  DbfArea& area = *CurrentArea();
  if (!NeedExclusive(area, "Zap")) return false;
  DropPeekCache(area);
  if (!Shorten(area, 0, "Zap")) return false;
  if (area.has_memo && MemoHookTable().RecreateMemofile) MemoHookTable().RecreateMemofile(area.file_name);
  if (ErrorCode() == 0 && IndexActive() && IndexHookTable().Reindex) IndexHookTable().Reindex();
  if (ErrorCode() == 0) GoTop();
  return ErrorCode() == 0;
}
}  // namespace zedra

// Appending, replacing, deleting and recalling records.
#include "table/commands.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "base/errors.h"
#include "platform/platform.h"

#include "table/table_internal.h"

namespace zedra {


namespace {

// Whether AppendBlank may hold its record back until the record is replaced: nobody else
// can read the table, it is open for writing (a refusal comes at once), no index takes
// the record, and each append is not to reach the disk at once.
bool MayHoldBackBlank(const DbfArea& area) {
  return area.exclusive && !area.is_virtual && (area.file.mode() & 0x7u) != 0 &&
         !Tables().WriteThrough && !IndexActive() &&
         area.RecordOffset(area.record_count + 2) + 1 <= kMaxTableBytes;
}

}  // namespace

bool AppendBlank() {
  if (AreaNotInUse("AppendBlank")) return false;
  DbfArea* area = CurrentArea();
  Errors().ErrorCode = 0;
  if (!SettlePendingAppend(*area)) return false;
  std::fill(area->record.begin(), area->record.end(), kRecordActive);
  if (!MayHoldBackBlank(*area)) return AppendRecord();
  area->record_count += 1;
  area->current_record = area->record_count;
  area->pending_blank = area->record_count;
  area->update_state = UpdateState::Appended;
  area->at_end = false;
  area->at_start = false;
  FillTypedImage(*area);
  return true;
}

bool AppendRecord() {
  if (AreaNotInUse("AppendRecord")) return false;
  Errors().ErrorCode = 0;
  if (!IndexKeptInStep(bool(IndexHookTable().RecordAppended), "AppendRecord")) return false;
  DbfArea* area = CurrentArea();
  if (!SettlePendingAppend(*area)) return false;
  const bool shared = Tables().LockingOn && !area->exclusive && !area->is_virtual;
  // Shared: the table lock byte keeps two programs from appending the same record number.
  if (shared && !LockDbfFile()) {
    SetError(platform::kErrLockViolation, "Cannot lock " + area->file_name + " for append [AppendRecord]");
    return false;
  }
  RefreshRecCount(*area);
  // A shared append that cannot write the header afterwards takes its record back.
  const int32_t old_count = area->record_count, old_current = area->current_record;
  const UpdateState old_state = area->update_state;
  std::optional<RecordWriteUndo> undo_header, undo_record;
  if (shared) {
    undo_header.emplace(area->file, 0, kDbfFixedHeaderSize);
    undo_record.emplace(area->file, area->RecordOffset(old_count + 1),
                        size_t(area->record_length) + 1);
  }
  if (!WriteBracket(true)) {
    const uint16_t code = ErrorCode();
    if (shared) UnlockDbfFile();
    Errors().ErrorCode = code;
    return false;
  }
  PutDbfRecord(*area, area->record_count + 1);
  bool ok = ErrorCode() == 0;
  if (ok) {
    area->at_end = false;
    area->at_start = false;
    FillTypedImage(*area);
    if (IndexActive() && IndexHookTable().RecordAppended) IndexHookTable().RecordAppended();
  }
  WriteBracket(false);
  if (shared) {
    if (ok) {
      // Others see the new count at once; the new record is ours until unlocked. The
      // buffers go to the disk only with write-through on (FlushDbfHeader).
      if (Tables().WriteThrough) {
        FlushDbfHeader(*area);
      } else {
        AutoReportScope quiet(false);
        WriteDbfHeader(*area);
        if (ErrorCode() == 0) Errors().ErrorCode = uint16_t(WriteDbfEofMarker(*area));
      }
      ok = ErrorCode() == 0;
      if (!ok) {
        undo_record->Restore();
        undo_header->Restore();
        area->record_count = old_count;
        area->current_record = old_current;
        area->update_state = old_state;
        SetError(ErrorCode(), "File:  " + area->file_name + " [AppendRecord]");
      }
      if (ok && area->lock_state != LockState::File && area->lock_state != LockState::SingleByte) {
        // Records appended stay ours until Unlock or close; the list is bounded by the
        // 16-bit lock count, beyond which new records are appended without a lock.
        if (area->lock_list.size() < size_t(std::numeric_limits<int16_t>::max()))
          LockRecordNode(*area, area->record_count);
        Errors().ErrorCode = 0;
      }
    }
    uint16_t code = ErrorCode();
    UnlockDbfFile();
    if (code != 0) Errors().ErrorCode = code;
  }
  return ok && ErrorCode() == 0;
}

bool Replace() {
  if (AreaNotInUse("Replace")) return false;
  Errors().ErrorCode = 0;
  DbfArea& area = *CurrentArea();
  const int32_t n = area.current_record;
  if (n < 1 || n > area.record_count) {
    SetError(212, "Invalid record number = " + Num(n) + " (" + area.file_name + ")  [Replace]");
    return false;
  }
  if (!area.is_virtual && !PokeAllowed(area, n)) {
    SetError(1200, "Record not locked [Replace(" + Num(n) + ")]");
    return false;
  }
  if (!IndexKeptInStep(bool(IndexHookTable().RecordReplaced), "Replace")) return false;
  if (!WriteBracket(true)) return false;
  if (IndexActive() && IndexHookTable().RecordToBeReplaced) IndexHookTable().RecordToBeReplaced();
  PutDbfRecord(area, n);
  bool ok = ErrorCode() == 0;
  if (ok) {
    FillTypedImage(area);
    if (IndexActive() && IndexHookTable().RecordReplaced) IndexHookTable().RecordReplaced();
  }
  WriteBracket(false);
  return ok && ErrorCode() == 0;
}

bool DeleteRec() {
  if (AreaNotInUse("DeleteRec")) return false;
  DbfArea& area = *CurrentArea();
  const uint8_t old = area.record[0];
  area.record[0] = kRecordDeleted;
  if (!Replace()) {
    if (CurrentArea() == &area) area.record[0] = old;
    return false;
  }
  return true;
}

bool Recall() {
  if (AreaNotInUse("Recall")) return false;
  DbfArea& area = *CurrentArea();
  const uint8_t old = area.record[0];
  area.record[0] = kRecordActive;
  if (!Replace()) {
    if (CurrentArea() == &area) area.record[0] = old;
    return false;
  }
  return true;
}
}  // namespace zedra

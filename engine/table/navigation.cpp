// Moving through a table: GoTop, GoBottom, Skip, Goto, and the BOF and EOF tests.
#include "table/commands.h"

#include <cstdint>

#include "base/errors.h"

#include "table/table_internal.h"

namespace zedra {

namespace {

// Moves from the current position in natural order, step by step in direction dir
// (+1 or -1), to the first visible record; false when none is left.
bool SeekVisibleNatural(DbfArea*& area, int32_t from, int dir) {
  for (int32_t r = from;; r += dir) {
    if (r < 1) return false;
    if (r > area->record_count) {
      RefreshRecCount(*area);  // records another program appended become visible here
      if (r > area->record_count) return false;
    }
    Dbf4Go(r);
    area = CurrentArea();
    if (!area || ErrorCode() != 0) return false;
    if (RecordVisible()) return true;
  }
}

// The same along the controlling index order; `first` is the record the order is on.
bool SeekVisibleIndex(DbfArea*& area, int32_t first, int dir) {
  const IndexHooks& ix = IndexHookTable();
  for (int32_t r = first;;) {
    if (r <= 0) return false;
    Dbf4Go(r);
    area = CurrentArea();
    if (!area || ErrorCode() != 0) return false;
    if (RecordVisible()) return true;
    auto& step = dir > 0 ? ix.Next : ix.Prior;
    if (!step) return false;
    r = step();
  }
}

// Moves the current area past its last record; the area afterwards (an after-move hook
// may have closed it).
DbfArea* GoPastEnd() {
  Dbf4Go(CurrentArea()->record_count + 1);
  DbfArea* area = CurrentArea();
  if (!area) return nullptr;
  area->at_end = true;
  if (IndexActive() && IndexHookTable().SetEof) IndexHookTable().SetEof(true);
  return area;
}

}  // namespace

void GoTop() {
  if (AreaNotInUse("GoTop")) return;
  Errors().ErrorCode = 0;
  ReadBracketScope bracket;
  if (!bracket.entered()) return;
  DbfArea* area = CurrentArea();
  RefreshRecCount(*area);
  bool found;
  if (IndexActive() && IndexHookTable().Top) {
    found = SeekVisibleIndex(area, IndexHookTable().Top(), +1);
  } else {
    found = SeekVisibleNatural(area, 1, +1);
  }
  if (!area || ErrorCode() != 0) return;
  if (!found && (area = GoPastEnd()) != nullptr) area->at_start = true;
}

void GoBottom() {
  if (AreaNotInUse("GoBottom")) return;
  Errors().ErrorCode = 0;
  ReadBracketScope bracket;
  if (!bracket.entered()) return;
  DbfArea* area = CurrentArea();
  RefreshRecCount(*area);
  bool found;
  if (IndexActive() && IndexHookTable().Bottom) {
    found = SeekVisibleIndex(area, IndexHookTable().Bottom(), -1);
  } else {
    found = SeekVisibleNatural(area, area->record_count, -1);
  }
  if (!area || ErrorCode() != 0) return;
  if (!found && (area = GoPastEnd()) != nullptr) area->at_start = true;
}

void Skip(int32_t n) {
  if (AreaNotInUse("Skip")) return;
  Errors().ErrorCode = 0;
  ReadBracketScope bracket;
  if (!bracket.entered()) return;
  DbfArea* area = CurrentArea();
  const bool indexed = IndexActive();
  const IndexHooks& ix = IndexHookTable();
  if (n == 0) {
    if (area->current_record >= 1 && area->current_record <= area->record_count)
      Dbf4Go(area->current_record);
    return;
  }
  const int dir = n > 0 ? +1 : -1;
  for (int32_t left = n > 0 ? n : -int64_t(n) > INT32_MAX ? INT32_MAX : -n; left > 0; --left) {
    const int32_t here = area->current_record;
    if (dir > 0 && here > area->record_count) {
      RefreshRecCount(*area);
      if (here > area->record_count) {
        area->at_end = true;
        return;
      }
    }
    bool found;
    if (indexed && (dir > 0 ? bool(ix.Next) : bool(ix.Prior))) {
      int32_t r = dir > 0 ? ix.Next() : ix.Prior();
      found = SeekVisibleIndex(area, r, dir);
    } else {
      found = SeekVisibleNatural(area, here + dir, dir);
    }
    if (!area || ErrorCode() != 0) return;
    if (!found) {
      if (dir > 0) {
        GoPastEnd();
      } else {
        // Before the first record: stay on the first visible one, with BOF set.
        GoTop();
        area = CurrentArea();
        if (!area) return;
        area->at_start = true;
        if (indexed && ix.SetBof) ix.SetBof(true);
      }
      return;
    }
  }
}

bool Goto(int32_t n) {
  if (AreaNotInUse("Goto")) return false;
  Errors().ErrorCode = 0;
  ReadBracketScope bracket;
  if (!bracket.entered()) return false;
  Dbf4Go(n);
  if (ErrorCode() != 0) return false;
  if (IndexActive() && IndexHookTable().RecordReached) IndexHookTable().RecordReached();
  return ErrorCode() == 0;
}

bool Bof() {
  DbfArea* area = CurrentArea();
  if (!area) return true;
  if (IndexActive() && IndexHookTable().Bof) return IndexHookTable().Bof();
  return area->at_start;
}

bool Eof() { return dEOF(); }
}  // namespace zedra

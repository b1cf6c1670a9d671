// The work-area table and the record-level operations: header writes, record reads and
// writes with their code-page translation, the typed record image, navigation by record
// number, Peek and Poke, closing areas.
#include "table/work_area.h"
#include "table/table_internal.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>
#include <type_traits>

#include "base/dates.h"
#include "base/decimal_text.h"
#include "base/errors.h"
#include "platform/platform.h"
#include "table/code_pages.h"

namespace zedra {
namespace {

TableState table_state;

// Peek's cache never grows beyond this, whatever size is configured.
constexpr uint32_t kMaxPeekCache = 65520;

// Value of a whole trimmed text as the runtime's Val would give it: 0 unless the text is
// a well-formed number.
template <typename T>
T ParseWhole(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  T value{};
  if (text.empty()) return T{};
  if constexpr (std::is_same_v<T, double>) {
    if (PlainDecimal(text, &value)) return value;
  }
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || ptr != text.data() + text.size()) return T{};
  return value;
}

// Writes the date of a DBF date field in the given date style into out (room for 10
// characters): 8 characters, or 10 with the century on; the empty date of the style for
// a blank or malformed field. Returns the length.
size_t StyledDate(std::string_view dtos, uint8_t style, bool century, char* out) {
  bool digits = dtos.size() == 8 &&
                std::all_of(dtos.begin(), dtos.end(), [](char c) { return c >= '0' && c <= '9'; });
  // The empty date is the same layout with blanks for the digits.
  if (!digits) dtos = "        ";
  std::string_view year = century ? dtos.substr(0, 4) : dtos.substr(2, 2);
  std::string_view month = dtos.substr(4, 2), day = dtos.substr(6, 2);
  std::string_view parts[3];
  char sep = '/';
  switch (style) {
    case 1: parts[0] = year, parts[1] = month, parts[2] = day, sep = '.'; break;
    case 2: parts[0] = day, parts[1] = month, parts[2] = year; break;
    case 3: parts[0] = day, parts[1] = month, parts[2] = year, sep = '-'; break;
    case 4: case 5: case 6: case 7: case 8:
      parts[0] = day, parts[1] = month, parts[2] = year, sep = '.'; break;
    default: parts[0] = month, parts[1] = day, parts[2] = year; break;
  }
  size_t n = 0;
  for (int i = 0; i < 3; ++i) {
    if (i > 0) out[n++] = sep;
    std::memcpy(out + n, parts[i].data(), parts[i].size());
    n += parts[i].size();
  }
  return n;
}

// Copies bytes just written at `offset` within record n into Peek's cache when the
// cache holds that record of this area.
void UpdatePeekCache(const DbfArea& area, int32_t n, size_t offset, const uint8_t* bytes,
                     size_t count) {
  PeekCache& cache = table_state.peek_cache;
  if (cache.exists && cache.alias == area.alias && n >= cache.first && n < cache.first + cache.count)
    std::memcpy(cache.data.data() + size_t(n - cache.first) * area.record_length + offset, bytes,
                count);
}

}  // namespace

TableState& Tables() { return table_state; }

void DropPeekCache(const DbfArea& area) {
  if (table_state.peek_cache.exists && table_state.peek_cache.alias == area.alias)
    table_state.peek_cache = PeekCache{};
}

DbfArea* AreaAt(int n) {
  if (n < 1 || n > kWorkAreas) return nullptr;
  return table_state.areas[n].get();
}

DbfArea* CurrentArea() { return AreaAt(table_state.current); }
uint8_t CurrentAreaNumber() { return table_state.current; }
void SetCurrentArea(uint8_t n) {
  if (n >= 1 && n <= kWorkAreas) table_state.current = n;
}

bool AreaNotInUse(const std::string& operation) {
  if (CurrentArea()) return false;
  SetError(215, "No database in use [" + operation + "]  WorkArea = " + Num(table_state.current));
  return true;
}

// ---------------------------------------------------------------------------------------
// Header

void RefreshRecCount(DbfArea& area) {
  if (area.exclusive || area.is_virtual || !area.file.IsOpen()) return;
  uint32_t error = 0;
  uint64_t size = area.file.Size(&error);
  if (error != 0 || area.record_length == 0) return;
  uint64_t header = uint16_t(area.header_length);
  uint64_t count = size > header ? (size - header) / area.record_length : 0;
  const int32_t refreshed = int32_t(std::min<uint64_t>(count, std::numeric_limits<int32_t>::max()));
  if (refreshed != area.record_count) DropReadAhead(area);
  area.record_count = refreshed;
}

void WriteDbfHeader(DbfArea& area) {
  TodayDate today = TodayParts();
  const uint8_t year = DbfYearByte(today.year);
  uint8_t* h = area.header.data();
  uint32_t error = 0;
  size_t length = kDbfFixedHeaderSize;
  if (IsDbase2Kind(h[kHdrVersion])) {
    PutLE16(h + kHdr2RecCount, uint16_t(area.record_count));
    h[kHdr2Month] = uint8_t(today.month);
    h[kHdr2Day] = uint8_t(today.day);
    h[kHdr2Year] = year;
    length = kHdr2UpdateSize;
  } else {
    // What other programs keep in the multi-user area survives our write.
    error = area.file.ReadAt(kHdrMultiUser, std::span<uint8_t>(h + kHdrMultiUser, kHdrMultiUserSize));
    if (error == kErrHandleEof) error = 100;
    h[kHdrYear] = year;
    h[kHdrMonth] = uint8_t(today.month);
    h[kHdrDay] = uint8_t(today.day);
    PutLE32(h + kHdrRecCount, uint32_t(area.record_count));
  }
  if (error == 0) error = area.file.WriteAt(0, std::span<const uint8_t>(h, length));
  if (error != 0) {
    Errors().ErrorCode = uint16_t(error);
    if (Errors().AutoReport) SetError(uint16_t(error), "File:  " + area.file_name + " [WriteDbfHeader]");
  }
}

uint32_t WriteDbfEofMarker(DbfArea& area) {
  const uint8_t marker = kDbfEofMarker;
  return area.file.WriteAt(area.RecordOffset(area.record_count + 1),
                           std::span<const uint8_t>(&marker, 1));
}

namespace {

// Writes the header and, after appends, the end-of-file marker. A shared table takes its
// lock byte and its count afresh from the file first, so that neither write lands on a
// record another program appended since, nor lowers the count it wrote. 0 or the code.
uint32_t WriteHeaderAndMarker(DbfArea& area) {
  SettlePendingAppend(area);
  HeaderWriteLock lock(area);
  if (!lock.held()) return ErrorCode() != 0 ? ErrorCode() : platform::kErrLockViolation;
  RefreshRecCount(area);
  uint32_t error = 0;
  {
    AutoReportScope quiet(false);
    WriteDbfHeader(area);
    error = ErrorCode();
  }
  if (error == 0 && area.update_state == UpdateState::Appended) error = WriteDbfEofMarker(area);
  return error;
}

}  // namespace

void FlushDbfHeader(DbfArea& area) {
  Errors().ErrorCode = 0;
  if (area.update_state != UpdateState::Changed && area.update_state != UpdateState::Appended)
    return;
  if (uint32_t e = WriteHeaderAndMarker(area); e != 0) {
    Errors().ErrorCode = uint16_t(e);
    if (Errors().AutoReport) SetError(uint16_t(e), "File:  " + area.file_name + " [FlushDbfHeader]");
  }
  area.update_state = UpdateState::Clean;
  if (ErrorCode() == 0) FlushFile(area.file);
}

// ---------------------------------------------------------------------------------------
// Records

void TranslateRecord(const DbfArea& area, std::span<uint8_t> record, bool for_write) {
  if (record.size() < 2) return;
  uint8_t* data = record.data() + 1;  // the deletion flag is never translated
  size_t length = record.size() - 1;
  if (for_write) {
    if (area.oem) AreaAnsiToOem(area, std::span(data, length));
    if (area.write_transform) area.write_transform(data, length);
  } else {
    if (area.read_transform) area.read_transform(data, length);
    if (area.oem) AreaOemToAnsi(area, std::span(data, length));
  }
}

size_t TypedImageSize(const std::vector<FieldDesc>& fields) {
  size_t size = 1;
  for (const FieldDesc& f : fields) {
    switch (f.type) {
      case 'C': size += 1 + f.length; break;
      case 'D': size += f.length + 3; break;
      case 'N':
      case 'F': size += f.decimals > 0 ? 8 : 4; break;
      case 'L': size += 1; break;
      case 'M': size += 4; break;
      default: break;
    }
  }
  return size;
}

void FillTypedImage(DbfArea& area) {
  if (area.is_virtual) return;
  area.typed_source.assign(area.record.begin(), area.record.end());
  area.typed_dates = {Dates().DateStyle, Dates().CenturyOn};
  area.typed_stale = true;
}

const std::vector<uint8_t>& DbfArea::TypedImage() {
  if (!typed_stale) return typed_buffer;
  typed_stale = false;
  size_t need = TypedImageSize(fields);
  if (typed_buffer.size() != need) typed_buffer.assign(need, 0);
  uint8_t* out = typed_buffer.data();
  const uint8_t* rec = typed_source.data();
  size_t pos = 0;
  out[pos++] = rec[0] == kRecordDeleted ? 1 : 0;
  for (const FieldDesc& f : fields) {
    std::string_view text(reinterpret_cast<const char*>(rec) + f.offset, f.length);
    switch (f.type) {
      case 'C':
        out[pos] = f.length;
        std::memcpy(out + pos + 1, text.data(), f.length);
        pos += 1 + f.length;
        break;
      case 'D': {
        char date[16];
        size_t length = std::min<size_t>(StyledDate(text, typed_dates.first, typed_dates.second, date),
                                         size_t(f.length) + 2);
        std::memset(out + pos, 0, f.length + 3);
        out[pos] = uint8_t(length);
        std::memcpy(out + pos + 1, date, length);
        pos += f.length + 3;
        break;
      }
      case 'N':
      case 'F':
        if (f.decimals > 0) {
          double v = ParseWhole<double>(text);
          std::memcpy(out + pos, &v, 8);
          pos += 8;
        } else {
          int32_t v = ParseWhole<int32_t>(text);
          std::memcpy(out + pos, &v, 4);
          pos += 4;
        }
        break;
      case 'L': {
        char c = text.empty() ? ' ' : text[0];
        out[pos++] = (c == 'T' || c == 't' || c == 'Y' || c == 'y') ? 1 : 0;
        break;
      }
      case 'M': {
        int32_t v = ParseWhole<int32_t>(text);
        std::memcpy(out + pos, &v, 4);
        pos += 4;
        break;
      }
      default:
        break;
    }
  }
  return typed_buffer;
}

void GetDbfRecord(DbfArea& area, int32_t n) {
  // A held-back blank that cannot be written is no longer counted.
  SettlePendingAppend(area);
  if (n > area.record_count || n <= 0) {
    std::string number = Num(n).substr(0, 6);
    std::string head = ("Invalid record number = " + number + " (").substr(0, 32);
    SetError(212, head + area.file_name + ")  [GetDbfRecord]");
    return;
  }
  area.at_end = false;
  area.at_start = false;
  if (area.is_virtual) {
    area.virtual_op = 3;
    area.virtual_record = n;
    if (VirtualHandler()) VirtualHandler()(area);
    return;
  }
  // Read into a scratch buffer so that a failed read leaves the record buffer alone.
  std::vector<uint8_t>& scratch = area.read_buffer;
  scratch.resize(area.record_length);
  uint32_t error = ReadStoredRecord(area, n, scratch);
  if (error == kErrHandleEof) error = 213;
  if (error != 0) {
    SetError(uint16_t(error), "File:  " + area.file_name + "  [GetDbfRecord]");
    return;
  }
  area.record.swap(scratch);
  area.current_record = n;
  TranslateRecord(area, area.record, false);
}


void PutDbfRecord(DbfArea& area, int32_t n) {
  if (n <= 0) {
    // A record number below 1 would address the header.
    SetError(212, "Invalid record number = " + Num(n) + " (" + area.file_name +
                      ")  [Replace/Append/PutDbfRecord]");
    return;
  }
  if (area.pending_blank != 0) {
    if (n == area.pending_blank) {
      // The held-back blank is appended now, with what the buffer holds.
      area.pending_blank = 0;
      area.record_count = n - 1;
    } else {
      if (!SettlePendingAppend(area)) return;
    }
  }
  const bool appending = n > area.record_count;
  const int32_t m = appending ? area.record_count + 1 : n;
  if (area.is_virtual) {
    area.virtual_op = 8;
    area.virtual_record = m;
    if (VirtualHandler()) VirtualHandler()(area);
    return;
  }
  if (appending && area.RecordOffset(m + 1) + 1 > kMaxTableBytes) {
    SetError(212, "Table " + area.file_name + " cannot grow past " + Num(long(kMaxTableBytes)) +
                      " bytes [Replace/Append/PutDbfRecord]");
    return;
  }
  const int32_t old_count = area.record_count, old_current = area.current_record;
  if (appending) {
    area.record_count = m;
    area.current_record = m;
  }
  // The buffer keeps its readable form: the stored form is made in a copy. An appended
  // record carries the end-of-file marker after it in the same write.
  std::vector<uint8_t> stored = area.record;
  TranslateRecord(area, stored, true);
  const RecordWriteUndo undo(area.file, area.RecordOffset(m), stored.size() + 1);
  // Never over the first byte of data that follows (a record the count does not cover).
  if (appending && area.RecordOffset(m) + stored.size() >= undo.size())
    stored.push_back(kDbfEofMarker);
  const uint64_t stamp = area.file.change_stamp();
  uint32_t error = area.file.WriteAt(area.RecordOffset(m), stored);
  if (error == 0) ReadAheadRecordWritten(area, m, stamp, stored);
  if (error != 0) {
    // The record is not in the file: do not count it, and leave no part of it behind.
    undo.Restore();
    if (appending) {
      area.record_count = old_count;
      area.current_record = old_current;
    }
    SetError(uint16_t(error), "File:  " + area.file_name + " [Replace/Append/PutDbfRecord]");
    return;
  }
  // Keep Peek's cache in step with the file.
  UpdatePeekCache(area, m, 0, stored.data(), area.record_length);
  if (appending) {
    const UpdateState old_state = area.update_state;
    area.update_state = UpdateState::Appended;
    if (table_state.WriteThrough) {
      {
        AutoReportScope quiet(false);
        FlushDbfHeader(area);
        if (ErrorCode() != 0) {
          // The header did not take the new count: the record goes again.
          const uint16_t code = ErrorCode();
          TakeErrorMessage();
          undo.Restore();
          area.record_count = old_count;
          area.current_record = old_current;
          area.update_state = old_state;
          Errors().ErrorCode = code;
        }
      }
      if (ErrorCode() != 0)
        SetError(ErrorCode(), "File:  " + area.file_name + " [Replace/Append/PutDbfRecord]");
    }
  } else {
    if (area.update_state != UpdateState::Appended) area.update_state = UpdateState::Changed;
    if (table_state.WriteThrough) {
      Errors().ErrorCode = 0;
      FlushFile(area.file);
    }
  }
}

bool SettlePendingAppend(DbfArea& area) {
  if (area.pending_blank == 0) return true;
  const int32_t n = area.pending_blank;
  const int32_t current = area.current_record;
  std::vector<uint8_t> buffer(area.record_length, kRecordActive);
  area.record.swap(buffer);
  PutDbfRecord(area, n);
  area.record.swap(buffer);
  area.current_record = current;
  return area.record_count >= n;
}

void CloseDbf(DbfArea& area) {
  Errors().ErrorCode = 0;
  if (area.is_virtual) {
    area.virtual_op = 1;
    if (VirtualHandler()) VirtualHandler()(area);
    return;
  }
  const std::string name = area.file_name;
  uint32_t error = 0;
  if (area.file.IsOpen() &&
      (area.update_state == UpdateState::Changed || area.update_state == UpdateState::Appended)) {
    error = WriteHeaderAndMarker(area);
  }
  uint32_t close_error = area.file.Close();
  if (error == 0) error = close_error;
  area.update_state = UpdateState::Closed;
  area.record.clear();
  area.record.shrink_to_fit();
  area.fields.clear();
  area.field_count = 0;
  if (error != 0) SetError(uint16_t(error), "File:  " + name + " [CloseDbf(" + name + ")]");
}

// ---------------------------------------------------------------------------------------
// Current-area operations

void Dbf4RawGo(int32_t n) {
  Errors().ErrorCode = 0;
  if (AreaNotInUse("Dbf4RawGo")) return;
  DbfArea& area = *CurrentArea();
  if (n > area.record_count) {
    area.current_record = area.record_count + 1;
    area.at_end = true;
    ClearRecord();
    return;
  }
  if (n <= 0) {
    SetError(212, " [Dbf4RawGo]");
    return;
  }
  GetDbfRecord(area, n);
  if (ErrorCode() == 0) FillTypedImage(area);
}

void Dbf4Go(int32_t n) {
  Dbf4RawGo(n);
  DbfArea* area = CurrentArea();
  if (!area || !area->AfterMoveHook) return;
  const uint8_t number = CurrentAreaNumber();
  // Taken out so that a move made by the hook itself does not call it again.
  std::function<void()> hook = std::move(area->AfterMoveHook);
  area->AfterMoveHook = nullptr;
  const int32_t record = area->current_record;
  bool* found = IndexHookTable().FoundFlag;
  const bool saved_found = found ? *found : false;
  // Put back whether the hook returns or raises: an exception must not leave the area
  // without its hook or another area current.
  struct Restore {
    uint8_t number;
    DbfArea* area;
    std::function<void()>* hook;
    bool* found;
    bool saved_found;
    ~Restore() {
      SetCurrentArea(number);
      if (found) *found = saved_found;
      // Unless the hook closed this area.
      if (CurrentArea() == area) area->AfterMoveHook = std::move(*hook);
    }
  };
  {
    Restore restore{number, area, &hook, found, saved_found};
    hook();
  }
  if (CurrentArea() != area) return;  // the hook closed this area
  if (ErrorCode() == 0 && area->current_record != record) Errors().ErrorCode = 224;
  if (ErrorCode() != 0) SetError(ErrorCode(), area->file_name);
}

char FieldType(int n) {
  if (AreaNotInUse("FieldType()")) return ' ';
  DbfArea& area = *CurrentArea();
  if (n < 1 || n > area.field_count) {
    SetError(220, "Invalid field number. [FieldType(" + Num(n) + ")]");
    return ' ';
  }
  return area.fields[n - 1].type;
}

uint8_t FieldCount() {
  if (AreaNotInUse("FieldCount()")) return 0;
  return CurrentArea()->field_count;
}

void ClearRecord() {
  if (AreaNotInUse("ClearRecord")) return;
  DbfArea& area = *CurrentArea();
  if (!area.is_virtual || !area.fields.empty()) {
    std::fill(area.record.begin(), area.record.end(), kRecordActive);
    FillTypedImage(area);
  } else {
    std::fill(area.record.begin(), area.record.end(), 0);
  }
}

bool IndexActive() {
  const IndexHooks& ix = IndexHookTable();
  return ix.IndexOpen && ix.IndexOpen();
}

bool dEOF() {
  if (AreaNotInUse("dEOF")) return true;
  DbfArea& area = *CurrentArea();
  RefreshRecCount(area);
  if (area.record_count < area.current_record) area.at_end = true;
  if (IndexActive() && IndexHookTable().Eof) return IndexHookTable().Eof();
  return area.at_end;
}

int32_t RecCount() {
  if (AreaNotInUse("RecCount")) return 0;
  RefreshRecCount(*CurrentArea());
  return CurrentArea()->record_count;
}

int32_t RecNo() {
  if (AreaNotInUse("RecNo")) return 0;
  return CurrentArea()->current_record;
}

uint16_t RecSize() {
  if (AreaNotInUse("RecSize")) return 0;
  return CurrentArea()->record_length;
}

std::string AreaAlias() {
  DbfArea* area = CurrentArea();
  return area ? area->alias : std::string();
}

bool RecordVisible() {
  DbfArea* area = CurrentArea();
  if (!area) return false;
  if (area->HideDeleted && !area->record.empty()) {
    bool deleted = area->is_virtual ? area->record[0] != 0 : area->record[0] == kRecordDeleted;
    if (deleted) return false;
  }
  const uint8_t number = CurrentAreaNumber();
  bool visible = true;
  if (area->FilterCallback) {
    visible = area->FilterCallback();
  } else if (area->FilterExpression && ExprHookTable().Evaluate) {
    // A filter that cannot be evaluated (the evaluator has reported why) shows nothing:
    // no record is selected on an earlier record's value.
    const void* result = ExprHookTable().Evaluate(area->FilterExpression);
    visible = false;
    if (result) {
      int32_t logical;
      std::memcpy(&logical, result, sizeof logical);
      visible = logical != 0;
    }
  }
  SetCurrentArea(number);
  return visible;
}

// ---------------------------------------------------------------------------------------
// Peek and Poke

std::string Peek(int k, int32_t n) {
  if (AreaNotInUse("Peek")) return {};
  DbfArea& area = *CurrentArea();
  if (area.is_virtual) {
    SetError(1100, "Operation cannot be used on virtual files. [Peek]");
    return {};
  }
  SettlePendingAppend(area);
  PeekCache& cache = table_state.peek_cache;
  if (cache.exists && cache.alias != area.alias) cache = PeekCache{};
  if (k < 0 || k > area.field_count || n <= 0 || n > area.record_count) return {};
  const size_t field_offset = k == 0 ? 0 : area.fields[k - 1].offset;
  const size_t field_length = k == 0 ? 1 : area.fields[k - 1].length;
  auto fail = [&](uint32_t error) {
    SetError(uint16_t(error == 0 || error == kErrHandleEof ? 100 : error),
             "DBF: " + area.file_name + " [Peek(" + Num(k) + "," + Num(n) + ")]");
    return std::string();
  };
  auto direct = [&]() {
    std::string out(field_length, ' ');
    uint32_t error = area.file.ReadAt(
        area.RecordOffset(n) + field_offset,
        std::span<uint8_t>(reinterpret_cast<uint8_t*>(out.data()), out.size()));
    return error == 0 ? out : fail(error);
  };
  if (table_state.PeekCacheSize == 0) return direct();
  auto from_cache = [&]() {
    const uint8_t* p = cache.data.data() + size_t(n - cache.first) * area.record_length + field_offset;
    return std::string(reinterpret_cast<const char*>(p), field_length);
  };
  if (cache.exists && n >= cache.first && n < cache.first + cache.count) return from_cache();
  if (!cache.exists) {
    uint32_t size = std::min<uint32_t>(table_state.PeekCacheSize, kMaxPeekCache);
    size = std::min<uint32_t>(size, uint32_t(LargestFreeBlock() / 2));
    int32_t count = int32_t(std::min<int64_t>(size / area.record_length, area.record_count));
    if (count < 1) return direct();  // a cache smaller than one record holds nothing
    cache.data.assign(size_t(count) * area.record_length, 0);
    cache.exists = true;
    cache.alias = area.alias;
  }
  size_t done = 0;
  uint32_t error = area.file.ReadAt(area.RecordOffset(n), cache.data, &done);
  if (error == kErrHandleEof) error = 0;
  const int32_t whole = int32_t(done / area.record_length);
  if (error != 0 || whole == 0) {
    cache = PeekCache{};
    return fail(error);
  }
  cache.first = n;
  cache.count = whole;  // only what was read; a short read near the end caches less
  return from_cache();
}

bool PokeAllowed(const DbfArea& area, int32_t n) {
  if (!table_state.LockingOn || area.exclusive || area.lock_state == LockState::File) return true;
  return area.lock_state != LockState::SingleByte &&
         std::find(area.lock_list.begin(), area.lock_list.end(), n) != area.lock_list.end();
}

void Poke(std::string_view text, int k, int32_t n) {
  if (AreaNotInUse("Poke")) return;
  DbfArea& area = *CurrentArea();
  std::string tail =
      ("[Poke(" + std::string(text) + "," + Num(k) + "," + Num(n) + ")]").substr(0, 100);
  if (area.is_virtual) {
    SetError(1100, "Operation cannot be used on virtual files." + tail);
    return;
  }
  if (!PokeAllowed(area, n)) {
    SetError(1200, "Record not locked " + tail);
    return;
  }
  SettlePendingAppend(area);
  if (n <= 0 || k < 0 || k > area.field_count || n > area.record_count) return;
  const size_t field_offset = k == 0 ? 0 : area.fields[k - 1].offset;
  const size_t field_length = k == 0 ? 1 : area.fields[k - 1].length;
  const size_t count = std::min(text.size(), field_length);
  std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(text.data()), count);
  if (uint32_t error = area.file.WriteAt(area.RecordOffset(n) + field_offset, bytes); error != 0) {
    SetError(101, tail);
    return;
  }
  UpdatePeekCache(area, n, field_offset, bytes.data(), count);
}

// ---------------------------------------------------------------------------------------
// Closing

void CloseArea() {
  DbfArea* area = CurrentArea();
  if (!area) return;
  const uint8_t number = CurrentAreaNumber();
  if (IndexActive() && IndexHookTable().CloseIndexes) IndexHookTable().CloseIndexes();
  RefreshRecCount(*area);
  Unlock();
  area->second_image.clear();
  if (area->has_memo && MemoHookTable().CloseMemofile) MemoHookTable().CloseMemofile();
  area->memo.reset();
  DropPeekCache(*area);
  if (ExprHookTable().ReleaseExpr) {
    if (area->FilterExpression) ExprHookTable().ReleaseExpr(area->FilterExpression);
    if (area->SecondExpression) ExprHookTable().ReleaseExpr(area->SecondExpression);
  }
  area->FilterExpression = nullptr;
  area->SecondExpression = nullptr;
  CloseDbf(*area);
  area->typed_buffer.clear();
  area->typed_stale = false;
  table_state.areas[number].reset();
}

void CloseAllAreas() {
  for (int n = 1; n <= kOrdinaryAreas; ++n) {
    SetCurrentArea(uint8_t(n));
    CloseArea();
  }
  SetCurrentArea(1);
}

void TableStartup() {
  // Areas left open by an earlier run are dropped without writing (their files close).
  table_state = TableState{};
  MemoHookTable() = MemoHooks{};
  IndexHookTable() = IndexHooks{};
  ExprHookTable() = ExprHooks{};
  VirtualHandler() = nullptr;
}

void TableShutdown() {
  // Areas 34 and 35 first, then the ordinary ones.
  for (int n : {34, 35}) {
    SetCurrentArea(uint8_t(n));
    CloseArea();
  }
  CloseAllAreas();
  for (int n = kOrdinaryAreas + 1; n <= kWorkAreas; ++n) table_state.areas[n].reset();
}

}  // namespace zedra

// Opening a table into the current work area (Use), choosing areas, and creating tables.
#include "table/commands.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>

#include "base/dates.h"
#include "base/errors.h"
#include "platform/platform.h"

#include "table/code_pages.h"
#include "table/rewrite.h"
#include "table/table_internal.h"

namespace zedra {
namespace {

// dBASE II layout: 16-byte descriptors from offset 8, at most 32, then 0x0D; the records
// start after the fixed 521-byte header.
constexpr size_t kDbase2DescriptorStart = 8;
constexpr size_t kDbase2DescriptorSize = 16;
constexpr int kDbase2MaxFields = 32;
constexpr size_t kDbase2HeaderLength = kDbase2DescriptorStart + 32 * kDbase2DescriptorSize + 1;
constexpr size_t kDbase2FldLength = 12;
constexpr size_t kDbase2FldDecimals = 15;

bool Corrupt(const std::string& path, const std::string& reason) {
  SetError(210, path + ": " + reason + " [Use]");
  return false;
}

// Parses the descriptor array into fields; false with the reason on a corrupt header.
// Names are kept in capitals of the area's code page.
bool ParseFields(const std::vector<uint8_t>& header, bool dbase2, const DbfArea& area,
                 std::vector<FieldDesc>* fields, std::string* reason) {
  const size_t start = dbase2 ? kDbase2DescriptorStart : kDbfFixedHeaderSize;
  const size_t size = dbase2 ? kDbase2DescriptorSize : kDbfDescriptorSize;
  const int max_fields = dbase2 ? kDbase2MaxFields : kMaxFields;
  size_t pos = start;
  uint32_t offset = 1;
  for (;;) {
    if (pos >= header.size()) {
      *reason = "field descriptors without their terminator";
      return false;
    }
    if (header[pos] == kDbfTerminator) break;
    if (pos + size > header.size()) {
      *reason = "field descriptors without their terminator";
      return false;
    }
    if (int(fields->size()) == max_fields) {
      *reason = "more than " + Num(max_fields) + " fields";
      return false;
    }
    FieldDesc f;
    for (size_t i = 0; i < kFldNameSize && header[pos + i] != 0; ++i)
      f.name[i] = StoredUpperChar(area, char(header[pos + i]));
    f.type = char(header[pos + kFldType]);
    f.length = header[pos + (dbase2 ? kDbase2FldLength : kFldLength)];
    f.decimals = header[pos + (dbase2 ? kDbase2FldDecimals : kFldDecimals)];
    if (f.name[0] == 0) {
      *reason = "field " + Num(long(fields->size()) + 1) + " without a name";
      return false;
    }
    if (f.length == 0) {
      *reason = "field " + f.Name() + " of length 0";
      return false;
    }
    f.offset = uint16_t(offset);
    offset += f.length;
    if (offset > 65535) {
      *reason = "record longer than 65535 bytes";
      return false;
    }
    fields->push_back(f);
    pos += size;
  }
  if (fields->empty()) {
    *reason = "no fields";
    return false;
  }
  return true;
}

std::string production_index_warning;

// Opens the production index the header announces; a failure leaves the table in natural
// order with the error kept as the warning.
void OpenProductionIndex() {
  const IndexHooks& ix = IndexHookTable();
  if (CurrentArea()->header[kHdrProductionIndex] == 0 || !ix.OpenProductionIndex) return;
  bool opened = false;
  {
    AutoReportScope quiet(false);
    Errors().ErrorCode = 0;
    try {
      opened = ix.OpenProductionIndex();
    } catch (const EZedraError&) {
      opened = false;
    }
  }
  if (opened && ErrorCode() == 0) return;
  production_index_warning = GetErrorText();
  Errors().ErrorCode = 0;
  if (ix.CloseIndexes) ix.CloseIndexes();
  Errors().ErrorCode = 0;
}

}  // namespace

const std::string& ProductionIndexWarning() { return production_index_warning; }

bool Use(const std::string& name, const UseOptions& options) {
  production_index_warning.clear();
  if (CurrentArea()) {
    CloseArea();
    if (ErrorCode() != 0) return false;
  }
  const std::string path = platform::ResolveCase(DefaultExtension(name, "DBF"));
  TableState& t = Tables();
  uint32_t mode = options.exclusive ? platform::kModeReadWriteExclusive : t.SharedOpenMode;
  if (options.read_only) mode &= ~0x7u;  // access bits 0: read only
  // A rewrite that a killed process left half-way is finished or undone first.
  if (!FinishInterruptedRewrite(path)) return false;
  auto area = std::make_unique<DbfArea>();
  // A table that another program holds in a sharing mode that excludes ours is waited
  // for as a busy lock is.
  uint32_t open_error = 0;
  RetryBusy([&] {
    open_error = area->file.Open(path, mode);
    return open_error != platform::kErrSharingViolation;
  });
  if (uint32_t error = open_error; error != 0) {
    // A directory, FIFO or device named like a table is refused without being waited on.
    const bool special = error == platform::kErrAccessDenied && platform::FileExists(path) &&
                         !platform::IsRegularFile(path);
    SetError(uint16_t(error), "Unable to open " + path + (special ? " (not a regular file)" : "") + " [Use]");
    return false;
  }
  uint32_t error = 0;
  const uint64_t size = area->file.Size(&error);
  if (error != 0) {
    SetError(uint16_t(error), "File:  " + path + " [Use]");
    return false;
  }
  if (size < kDbfFixedHeaderSize) return Corrupt(path, "file shorter than a table header");
  if (area->file.ReadAt(0, area->header) != 0) return Corrupt(path, "header unreadable");
  const uint8_t version = area->header[kHdrVersion];
  if (!IsDbfVersion(version)) return Corrupt(path, "unknown version byte " + Hex2(version));

  const bool dbase2 = IsDbase2Kind(version);
  uint64_t header_length, record_length;
  if (dbase2) {
    header_length = kDbase2HeaderLength;
    record_length = GetLE16(&area->header[kHdr2RecordLength]);
  } else {
    header_length = GetLE16(&area->header[kHdrHeaderLength]);
    record_length = GetLE16(&area->header[kHdrRecordLength]);
  }
  if (header_length < kDbfFixedHeaderSize + 1 || header_length > 32767)
    return Corrupt(path, "header length " + Num(long(header_length)) + " out of range");
  if (header_length > size)
    return Corrupt(path, "header length " + Num(long(header_length)) + " beyond the end of the file");
  if (record_length < 1) return Corrupt(path, "record length " + Num(long(record_length)) + " too small");

  std::vector<uint8_t> header(header_length);
  if (area->file.ReadAt(0, header) != 0) return Corrupt(path, "header unreadable");
  std::string reason;
  // The code page from byte 29 (dBASE II has none), unless one is set for every table.
  const uint16_t code_page = t.CodePageOverride != 0 ? t.CodePageOverride
                             : dbase2               ? 0
                                                    : CodePageOfMark(area->header[kHdrCodePage]);
  SetAreaCodePage(*area, code_page, options.oem);
  if (!ParseFields(header, dbase2, *area, &area->fields, &reason)) return Corrupt(path, reason);
  uint32_t sum = 1;
  for (const FieldDesc& f : area->fields) sum += f.length;
  if (sum != record_length)
    return Corrupt(path, "field lengths (" + Num(sum - 1) + " + 1) do not add up to the record length " +
                             Num(long(record_length)));

  area->file_name = path;
  area->header_length = int16_t(header_length);
  area->record_length = uint16_t(record_length);
  area->field_count = uint8_t(area->fields.size());
  area->exclusive = options.exclusive;
  area->has_memo = IsMemoKind(version);
  // The records present count: a count that claims more (a writer stopped half-way) is
  // cut to them, and one that lags behind (a writer killed before its header write) is
  // raised to them, also for an exclusive open, which does not refresh it later.
  const uint64_t present = (size - header_length) / record_length;
  area->record_count = int32_t(std::min<uint64_t>(present, uint64_t(std::numeric_limits<int32_t>::max())));
  area->record.assign(record_length, kRecordActive);
  area->typed_buffer.assign(TypedImageSize(area->fields), 0);
  area->typed_stale = false;
  std::string alias = options.alias.empty() ? SplitPath(path).name : options.alias;
  area->alias = UpperText(alias).substr(0, kMaxAlias);
  area->update_state = UpdateState::Clean;
  area->current_record = 0;

  const uint8_t number = CurrentAreaNumber();
  t.areas[number] = std::move(area);
  if (t.areas[number]->has_memo && MemoHookTable().OpenMemofile) {
    Errors().ErrorCode = 0;
    MemoHookTable().OpenMemofile(path);
    if (ErrorCode() != 0) {
      const uint16_t code = ErrorCode();
      const std::string message = Errors().PendingMessage;
      {
        AutoReportScope quiet(false);
        CloseArea();
      }
      Errors().ErrorCode = code;
      Errors().LastError = code;
      Errors().PendingMessage = message;
      return false;
    }
  }
  if (options.production_index) OpenProductionIndex();
  GoTop();
  return ErrorCode() == 0;
}

bool Select(int n) {
  if (n < 1 || n > kWorkAreas) {
    SetError(220, "Invalid work area " + Num(n) + " [Select(" + Num(n) + ")]");
    return false;
  }
  SetCurrentArea(uint8_t(n));
  return true;
}

int FreeArea() {
  for (int n = 1; n <= kOrdinaryAreas; ++n)
    if (!AreaAt(n)) return n;
  return 0;
}

namespace {

bool ValidFieldName(const std::string& name) {
  if (name.empty() || name.size() > 10) return false;
  if (!std::isalpha(static_cast<unsigned char>(name[0]))) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
  });
}

bool CheckFieldSpec(FieldSpec& f, std::string* reason) {
  for (char& c : f.name) c = char(std::toupper(static_cast<unsigned char>(c)));
  if (!ValidFieldName(f.name)) {
    *reason = "invalid field name \"" + f.name + "\"";
    return false;
  }
  f.type = char(std::toupper(static_cast<unsigned char>(f.type)));
  auto bad = [&](const std::string& why) {
    *reason = "field " + f.name + ": " + why;
    return false;
  };
  switch (f.type) {
    case 'C':
      if (f.length < 1 || f.length > 254) return bad("C length must be 1-254");
      if (f.decimals != 0) return bad("C takes no decimals");
      break;
    case 'N':
    case 'F':
      if (f.length < 1 || f.length > 20) return bad("N and F length must be 1-20");
      if (f.decimals < 0 || (f.decimals > 0 && f.decimals > f.length - 2))
        return bad("decimals must leave room for the point and a digit");
      break;
    case 'D':
      if (f.length == 0) f.length = 8;
      if (f.length != 8 || f.decimals != 0) return bad("D is 8 long");
      break;
    case 'L':
      if (f.length == 0) f.length = 1;
      if (f.length != 1 || f.decimals != 0) return bad("L is 1 long");
      break;
    case 'M':
      if (f.length == 0) f.length = 10;
      if (f.length != 10 || f.decimals != 0) return bad("M is 10 long");
      break;
    default:
      return bad(std::string("unknown type \"") + f.type + "\" (C, N, F, D, L or M)");
  }
  return true;
}

}  // namespace

bool CreateDbf(const std::string& name, uint8_t version, const std::vector<FieldSpec>& specs,
               uint8_t code_page_mark) {
  const std::string path = DefaultExtension(name, "DBF");
  auto refuse = [&](const std::string& reason) {
    SetError(220, path + ": " + reason + " [CreateDbf]");
    return false;
  };
  if (version != kVersionDbase3 && version != kVersionDbase3Memo && version != kVersionDbase4Memo &&
      version != kVersionFptMemo)
    return refuse("version byte " + Hex2(version) + " cannot be created (0x03, 0x83, 0x8B, 0xF5)");
  if (specs.empty()) return refuse("a table needs at least one field");
  if (specs.size() > size_t(kMaxFields)) return refuse("more than 255 fields");
  std::vector<FieldSpec> fields = specs;
  bool has_memo_field = false;
  uint32_t record_length = 1;
  std::string reason;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (!CheckFieldSpec(fields[i], &reason)) return refuse(reason);
    for (size_t j = 0; j < i; ++j)
      if (fields[j].name == fields[i].name) return refuse("field " + fields[i].name + " given twice");
    has_memo_field |= fields[i].type == 'M';
    record_length += uint32_t(fields[i].length);
  }
  if (record_length > 65535) return refuse("record longer than 65535 bytes");
  const bool memo_version = IsMemoKind(version);
  if (has_memo_field && !memo_version)
    return refuse("an M field needs a version byte with a memo file (0x83, 0x8B or 0xF5)");
  if (has_memo_field && !MemoHookTable().CreateMemofile)
    return refuse("memo files are not available, so an M field cannot be created");

  const size_t header_length = kDbfFixedHeaderSize + fields.size() * kDbfDescriptorSize + 1;
  std::vector<uint8_t> image(header_length + 1, 0);
  TodayDate today = TodayParts();
  image[kHdrVersion] = version;
  image[kHdrYear] = DbfYearByte(today.year);
  image[kHdrMonth] = uint8_t(today.month);
  image[kHdrDay] = uint8_t(today.day);
  PutLE32(&image[kHdrRecCount], 0);
  PutLE16(&image[kHdrHeaderLength], uint16_t(header_length));
  PutLE16(&image[kHdrRecordLength], uint16_t(record_length));
  image[kHdrCodePage] = code_page_mark;
  size_t pos = kDbfFixedHeaderSize;
  for (const FieldSpec& f : fields) {
    std::memcpy(&image[pos + kFldName], f.name.data(), f.name.size());
    image[pos + kFldType] = uint8_t(f.type);
    image[pos + kFldLength] = uint8_t(f.length);
    image[pos + kFldDecimals] = uint8_t(f.decimals);
    pos += kDbfDescriptorSize;
  }
  image[pos] = kDbfTerminator;
  image[pos + 1] = kDbfEofMarker;

  EngineFile file;
  if (uint32_t error = file.Create(path, platform::kModeReadWriteExclusive); error != 0) {
    SetError(uint16_t(error), "Cannot create " + path + " [CreateDbf]");
    return false;
  }
  uint32_t error = file.WriteAt(0, image);
  uint32_t close_error = file.Close();
  if (error == 0) error = close_error;
  // A table that could not be made whole is removed, so that nothing half-made blocks
  // the next attempt.
  if (error != 0) {
    platform::RemoveFile(path);
    SetError(uint16_t(error), "File:  " + path + " [CreateDbf]");
    return false;
  }
  if (memo_version && MemoHookTable().CreateMemofile) {
    HeldError held = HoldErrors([&] { MemoHookTable().CreateMemofile(path, version); });
    if (held.code != 0) {
      // The memo layer has removed what it began of the memo file; the table goes too.
      platform::RemoveFile(path);
      SetError(held.code, held.message);
      return false;
    }
  }
  return true;
}
}  // namespace zedra

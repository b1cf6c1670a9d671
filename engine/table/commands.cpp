// The table operations named after the dBASE commands: Use, Select, CreateDbf,
// navigation, field access, AppendBlank, Replace, DeleteRec, Recall, RLock, FLock, Pack,
// Zap, SetFilter and SetDeleted.
#include "table/commands.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "base/dates.h"
#include "base/errors.h"
#include "platform/platform.h"

namespace zedra {
namespace {

std::string Num(long long n) { return std::to_string(n); }

std::string Hex2(uint8_t v) {
  static const char kDigits[] = "0123456789ABCDEF";
  return std::string("0x") + kDigits[v >> 4] + kDigits[v & 15];
}

// Header byte 29 values (language driver marks) that name a DOS code page; tables that
// carry one store their text in the OEM character set.
bool IsDosCodePageMark(uint8_t mark) {
  switch (mark) {
    case 0x01: case 0x02: case 0x08: case 0x09: case 0x0A: case 0x0B: case 0x0D:
    case 0x0E: case 0x0F: case 0x10: case 0x11: case 0x12: case 0x14: case 0x15:
    case 0x16: case 0x17: case 0x18: case 0x19: case 0x1A: case 0x1B: case 0x1C:
    case 0x1D: case 0x1F: case 0x22: case 0x23: case 0x24: case 0x25: case 0x26:
    case 0x37: case 0x40: case 0x64: case 0x65: case 0x66: case 0x67: case 0x68:
    case 0x69: case 0x6A: case 0x6B: case 0x6C: case 0x86: case 0x87: case 0x88:
      return true;
    default:
      return false;
  }
}

// Windows ANSI (code page 1252) mark, written into the tables we create.
constexpr uint8_t kAnsiCodePageMark = 0x03;

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

void Bracket(bool enter) {
  if (IndexActive() && IndexHookTable().WriteBracket) IndexHookTable().WriteBracket(enter);
}

// Parses the descriptor array into fields; false with the reason on a corrupt header.
bool ParseFields(const std::vector<uint8_t>& header, bool dbase2, std::vector<FieldDesc>* fields,
                 std::string* reason) {
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
      f.name[i] = char(platform::AnsiUpper(header[pos + i]));
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

}  // namespace

// ---------------------------------------------------------------------------------------
// Opening and creating

bool Use(const std::string& name, const UseOptions& options) {
  if (CurrentArea()) {
    CloseArea();
    if (ErrorCode() != 0) return false;
  }
  const std::string path = platform::ResolveCase(DefaultExtension(name, "DBF"));
  TableState& t = Tables();
  uint32_t mode = options.exclusive ? platform::kModeReadWriteExclusive : t.SharedOpenMode;
  if (options.read_only) mode &= ~0x7u;  // access bits 0: read only
  auto area = std::make_unique<DbfArea>();
  if (uint32_t error = area->file.Open(path, mode); error != 0) {
    SetError(uint16_t(error), "Unable to open " + path + " [Use]");
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
  uint64_t header_length, record_length, header_count;
  if (dbase2) {
    header_length = kDbase2HeaderLength;
    record_length = GetLE16(&area->header[kHdr2RecordLength]);
    header_count = GetLE16(&area->header[kHdr2RecCount]);
  } else {
    header_length = GetLE16(&area->header[kHdrHeaderLength]);
    record_length = GetLE16(&area->header[kHdrRecordLength]);
    header_count = GetLE32(&area->header[kHdrRecCount]);
  }
  if (header_length < kDbfFixedHeaderSize + 1 || header_length > 32767)
    return Corrupt(path, "header length " + Num(long(header_length)) + " out of range");
  if (header_length > size)
    return Corrupt(path, "header length " + Num(long(header_length)) + " beyond the end of the file");
  if (record_length < 1) return Corrupt(path, "record length " + Num(long(record_length)) + " too small");

  std::vector<uint8_t> header(header_length);
  if (area->file.ReadAt(0, header) != 0) return Corrupt(path, "header unreadable");
  std::string reason;
  if (!ParseFields(header, dbase2, &area->fields, &reason)) return Corrupt(path, reason);
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
  area->oem = options.oem.value_or(!dbase2 && IsDosCodePageMark(area->header[kHdrCodePage]));
  // A count that claims more records than the file holds (a writer stopped half-way)
  // is cut to the records present.
  const uint64_t present = (size - header_length) / record_length;
  area->record_count = int32_t(std::min<uint64_t>({header_count, present,
                                                   uint64_t(std::numeric_limits<int32_t>::max())}));
  area->record.assign(record_length, kRecordActive);
  area->typed_image.assign(TypedImageSize(area->fields), 0);
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

bool CreateDbf(const std::string& name, uint8_t version, const std::vector<FieldSpec>& specs) {
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
  image[kHdrCodePage] = kAnsiCodePageMark;
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
  if (error != 0) {
    SetError(uint16_t(error), "File:  " + path + " [CreateDbf]");
    return false;
  }
  if (memo_version && MemoHookTable().CreateMemofile) {
    Errors().ErrorCode = 0;
    MemoHookTable().CreateMemofile(path, version);
    if (ErrorCode() != 0) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------
// Navigation

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

// ---------------------------------------------------------------------------------------
// Fields

const FieldDesc* FieldAt(int k) {
  DbfArea* area = CurrentArea();
  if (!area || k < 1 || k > area->field_count) return nullptr;
  return &area->fields[k - 1];
}

int FieldNumber(std::string_view name) {
  DbfArea* area = CurrentArea();
  if (!area) return 0;
  for (int k = 1; k <= area->field_count; ++k) {
    std::string n = area->fields[k - 1].Name();
    if (n.size() == name.size() &&
        std::equal(n.begin(), n.end(), name.begin(), [](char a, char b) {
          return platform::AnsiUpper(uint8_t(a)) == platform::AnsiUpper(uint8_t(b));
        }))
      return k;
  }
  return 0;
}

std::string FieldRaw(int k) {
  const FieldDesc* f = FieldAt(k);
  if (!f) return {};
  const DbfArea& area = *CurrentArea();
  return std::string(reinterpret_cast<const char*>(area.record.data()) + f->offset, f->length);
}

std::string FieldText(int k) {
  const FieldDesc* f = FieldAt(k);
  if (!f) return {};
  std::string raw = FieldRaw(k);
  size_t end = raw.find_last_not_of(' ');
  raw.erase(end == std::string::npos ? 0 : end + 1);
  if (f->type != 'C') {
    size_t start = raw.find_first_not_of(' ');
    raw.erase(0, start == std::string::npos ? raw.size() : start);
  }
  return raw;
}

double FieldNum(int k) {
  const FieldDesc* f = FieldAt(k);
  if (!f || (f->type != 'N' && f->type != 'F' && f->type != 'M')) return 0.0;
  std::string text = FieldText(k);
  // The value of the leading well-formed part, 0 when there is none.
  const char* p = text.c_str();
  if (*p == '+') ++p;
  char* end = nullptr;
  double v = std::strtod(p, &end);
  if (end == p || !std::isfinite(v)) return 0.0;
  return v;
}

std::string FieldDate(int k) {
  const FieldDesc* f = FieldAt(k);
  if (!f || f->type != 'D') return {};
  return FieldRaw(k);
}

bool FieldLogical(int k) {
  const FieldDesc* f = FieldAt(k);
  if (!f || f->type != 'L') return false;
  char c = CurrentArea()->record[f->offset];
  return c == 'T' || c == 't' || c == 'Y' || c == 'y';
}

bool Deleted() {
  DbfArea* area = CurrentArea();
  return area && !area->record.empty() && area->record[0] == kRecordDeleted;
}

namespace {

bool FieldError(int k, const std::string& what, const std::string& op) {
  const FieldDesc* f = FieldAt(k);
  std::string field = f ? f->Name() : "#" + Num(k);
  SetError(220, what + " (field " + field + ") [" + op + "]");
  return false;
}

void Store(const FieldDesc& f, std::string_view bytes) {
  DbfArea& area = *CurrentArea();
  uint8_t* p = area.record.data() + f.offset;
  std::memset(p, ' ', f.length);
  std::memcpy(p, bytes.data(), std::min<size_t>(bytes.size(), f.length));
}

// A decimal number text: optional sign, digits, optional point and digits.
bool SplitDecimal(std::string_view text, bool* negative, std::string* whole, std::string* frac) {
  *negative = false;
  whole->clear();
  frac->clear();
  size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) *negative = text[i++] == '-';
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) whole->push_back(text[i++]);
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) frac->push_back(text[i++]);
  }
  return i == text.size() && !(whole->empty() && frac->empty());
}

// The stored form of a decimal number: rounded half away from zero to `decimals`
// digits, right-aligned in `width`; false when it does not fit.
bool FormatDecimal(bool negative, std::string whole, std::string frac, int decimals, int width,
                   std::string* out) {
  whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size()));
  bool round_up = int(frac.size()) > decimals && frac[decimals] >= '5';
  frac.resize(decimals, '0');
  std::string digits = whole + frac;
  if (round_up) {
    int i = int(digits.size()) - 1;
    while (i >= 0 && digits[i] == '9') digits[i--] = '0';
    if (i >= 0) ++digits[i];
    else digits.insert(digits.begin(), '1');
  }
  whole = digits.substr(0, digits.size() - decimals);
  frac = digits.substr(digits.size() - decimals);
  if (whole.empty()) whole = "0";
  bool zero = digits.find_first_not_of('0') == std::string::npos;
  std::string text = (negative && !zero ? "-" : "") + whole + (decimals > 0 ? "." + frac : "");
  if (int(text.size()) > width) return false;
  *out = std::string(width - text.size(), ' ') + text;
  return true;
}

// A calendar date YYYYMMDD: year 1-9999, the day within its month (leap years of the
// Gregorian calendar), so that every reader of the table can take it as a date.
bool ValidDtos(std::string_view s) {
  if (s.size() != 8 || !std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  int year = std::stoi(std::string(s.substr(0, 4)));
  int month = (s[4] - '0') * 10 + (s[5] - '0');
  int day = (s[6] - '0') * 10 + (s[7] - '0');
  if (year < 1 || month < 1 || month > 12 || day < 1) return false;
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

}  // namespace

bool SetFieldRaw(int k, std::string_view bytes) {
  if (AreaNotInUse("SetFieldRaw")) return false;
  const FieldDesc* f = FieldAt(k);
  if (!f) return FieldError(k, "Invalid field number", "SetFieldRaw");
  if (bytes.size() > f->length) return FieldError(k, "Value too long", "SetFieldRaw");
  Store(*f, bytes);
  return true;
}

bool SetFieldText(int k, std::string_view text) {
  if (AreaNotInUse("SetFieldText")) return false;
  const FieldDesc* f = FieldAt(k);
  if (!f) return FieldError(k, "Invalid field number", "SetFieldText");
  std::string trimmed(text);
  if (f->type != 'C') trimmed = AllTrim(text);
  switch (f->type) {
    case 'N':
    case 'F':
    case 'M': {
      if (trimmed.empty()) {
        Store(*f, "");
        return true;
      }
      bool negative;
      std::string whole, frac, out;
      if (!SplitDecimal(trimmed, &negative, &whole, &frac))
        return FieldError(k, "Not a number: \"" + trimmed + "\"", "SetFieldText");
      int decimals = f->type == 'M' ? 0 : f->decimals;
      if (f->type == 'M' && (negative || !frac.empty()))
        return FieldError(k, "Not a memo block number: \"" + trimmed + "\"", "SetFieldText");
      if (!FormatDecimal(negative, whole, frac, decimals, f->length, &out))
        return FieldError(k, "Value too wide: \"" + trimmed + "\"", "SetFieldText");
      Store(*f, out);
      return true;
    }
    case 'D':
      return SetFieldDate(k, trimmed);
    case 'L':
      if (trimmed.empty()) {
        Store(*f, "");
        return true;
      }
      if (trimmed.size() == 1 && std::strchr("TtFfYyNn?", trimmed[0])) {
        // Stored as T or F; "?" is the unknown value and stays.
        char c = char(std::toupper(static_cast<unsigned char>(trimmed[0])));
        Store(*f, std::string(1, c == 'Y' ? 'T' : c == 'N' ? 'F' : c));
        return true;
      }
      return FieldError(k, "Not a logical value: \"" + trimmed + "\"", "SetFieldText");
    default:
      if (trimmed.size() > f->length) {
        // Trailing blanks beyond the width carry nothing.
        std::string_view t = trimmed;
        while (t.size() > f->length && t.back() == ' ') t.remove_suffix(1);
        if (t.size() > f->length)
          return FieldError(k, "Value too long (" + Num(long(t.size())) + " characters)", "SetFieldText");
        trimmed = std::string(t);
      }
      Store(*f, trimmed);
      return true;
  }
}

bool SetFieldNum(int k, double value) {
  if (AreaNotInUse("SetFieldNum")) return false;
  const FieldDesc* f = FieldAt(k);
  if (!f || (f->type != 'N' && f->type != 'F'))
    return FieldError(k, "Not a numeric field", "SetFieldNum");
  if (!std::isfinite(value)) return FieldError(k, "Not a finite number", "SetFieldNum");
  char buffer[400];
  std::snprintf(buffer, sizeof buffer, "%.*f", int(f->decimals), value);
  bool negative;
  std::string whole, frac, out;
  if (!SplitDecimal(buffer, &negative, &whole, &frac) ||
      !FormatDecimal(negative, whole, frac, f->decimals, f->length, &out))
    return FieldError(k, std::string("Value too wide: ") + buffer, "SetFieldNum");
  Store(*f, out);
  return true;
}

bool SetFieldDate(int k, std::string_view yyyymmdd) {
  if (AreaNotInUse("SetFieldDate")) return false;
  const FieldDesc* f = FieldAt(k);
  if (!f || f->type != 'D') return FieldError(k, "Not a date field", "SetFieldDate");
  std::string s = AllTrim(yyyymmdd);
  if (s.empty()) {
    Store(*f, "");
    return true;
  }
  if (!ValidDtos(s)) return FieldError(k, "Not a date YYYYMMDD: \"" + s + "\"", "SetFieldDate");
  Store(*f, s);
  return true;
}

bool SetFieldLogical(int k, bool value) {
  if (AreaNotInUse("SetFieldLogical")) return false;
  const FieldDesc* f = FieldAt(k);
  if (!f || f->type != 'L') return FieldError(k, "Not a logical field", "SetFieldLogical");
  Store(*f, value ? "T" : "F");
  return true;
}

// ---------------------------------------------------------------------------------------
// Appending and changing records

bool AppendBlank() {
  if (AreaNotInUse("AppendBlank")) return false;
  DbfArea* area = CurrentArea();
  std::fill(area->record.begin(), area->record.end(), kRecordActive);
  return AppendRecord();
}

bool AppendRecord() {
  if (AreaNotInUse("AppendRecord")) return false;
  Errors().ErrorCode = 0;
  DbfArea* area = CurrentArea();
  const bool shared = Tables().LockingOn && !area->exclusive && !area->is_virtual;
  // Shared: the table lock byte keeps two programs from appending the same record number.
  if (shared && !LockDbfFile()) {
    SetError(platform::kErrLockViolation, "Cannot lock " + area->file_name + " for append [AppendRecord]");
    return false;
  }
  RefreshRecCount(*area);
  Bracket(true);
  PutDbfRecord(*area, area->record_count + 1);
  bool ok = ErrorCode() == 0;
  if (ok) {
    area->at_end = false;
    area->at_start = false;
    FillTypedImage(*area);
    if (IndexActive() && IndexHookTable().RecordAppended) IndexHookTable().RecordAppended();
  }
  Bracket(false);
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
      if (!ok) SetError(ErrorCode(), "File:  " + area->file_name + " [AppendRecord]");
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
  const bool allowed = !Tables().LockingOn || area.exclusive || area.is_virtual ||
                       area.lock_state == LockState::File ||
                       (area.lock_state == LockState::Records &&
                        std::find(area.lock_list.begin(), area.lock_list.end(), n) != area.lock_list.end());
  if (!allowed) {
    SetError(1200, "Record not locked [Replace(" + Num(n) + ")]");
    return false;
  }
  Bracket(true);
  PutDbfRecord(area, n);
  bool ok = ErrorCode() == 0;
  if (ok) {
    FillTypedImage(area);
    if (IndexActive() && IndexHookTable().RecordReplaced) IndexHookTable().RecordReplaced();
  }
  Bracket(false);
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

// ---------------------------------------------------------------------------------------
// Locks

bool RLock(int32_t n) {
  if (AreaNotInUse("RLock")) return false;
  DbfArea& area = *CurrentArea();
  if (!Tables().LockingOn || area.exclusive || area.is_virtual) return true;
  if (area.lock_state == LockState::File) return true;
  if (std::find(area.lock_list.begin(), area.lock_list.end(), n) != area.lock_list.end()) return true;
  if (n < 1 || n > RecCount()) {
    SetError(212, "Invalid record number = " + Num(n) + " (" + area.file_name + ")  [RLock]");
    return false;
  }
  if (area.lock_state == LockState::SingleByte) return false;
  if (area.lock_list.size() >= size_t(std::numeric_limits<int16_t>::max())) return false;
  return LockRecordNode(area, n);
}

namespace {
bool LockWide(LockState state, uint64_t length, const char* op) {
  if (AreaNotInUse(op)) return false;
  DbfArea& area = *CurrentArea();
  if (!Tables().LockingOn || area.exclusive || area.is_virtual) return true;
  if (area.lock_state == state) return true;
  // Record locks inside the range would split it when released later.
  if (area.lock_state != LockState::None) Unlock();
  if (!LockWithRetry(area.file, uint64_t(Tables().LockBase) + 1, length)) return false;
  area.lock_state = state;
  return true;
}
}  // namespace

bool FLock() { return LockWide(LockState::File, Tables().FileLockLength, "FLock"); }
bool LockSingleByte() { return LockWide(LockState::SingleByte, 1, "LockSingleByte"); }

// ---------------------------------------------------------------------------------------
// Pack and Zap

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

// ---------------------------------------------------------------------------------------
// Filter and SET DELETED

bool SetFilter(const std::string& text) {
  if (AreaNotInUse("SetFilter")) return false;
  DbfArea& area = *CurrentArea();
  ExprHooks& ex = ExprHookTable();
  if (area.FilterExpression && ex.ReleaseExpr) ex.ReleaseExpr(area.FilterExpression);
  area.FilterExpression = nullptr;
  if (AllTrim(text).empty()) return true;
  if (!ex.ExpressionsAvailable || !ex.AssignExpr || !ex.Evaluate) {
    SetError(220, "Expressions are not available, so the filter cannot be set: " + text + " [SetFilter]");
    return false;
  }
  Errors().ErrorCode = 0;
  CompiledExpr* expr = ex.AssignExpr(text);
  if (!expr) {
    if (ErrorCode() == 0) SetError(220, "Filter does not compile: " + text + " [SetFilter]");
    return false;
  }
  if (ex.ExprType && ex.ExprType(expr) != 'L') {
    if (ex.ReleaseExpr) ex.ReleaseExpr(expr);
    SetError(220, "Filter is not a logical expression: " + text + " [SetFilter]");
    return false;
  }
  CurrentArea()->FilterExpression = expr;
  return true;
}

void SetDeleted(bool on) {
  if (AreaNotInUse("SetDeleted")) return;
  CurrentArea()->HideDeleted = on;
}

}  // namespace zedra

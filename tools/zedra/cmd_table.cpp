// zedra info, list, create and append: tables on the command line.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <ostream>
#include <sstream>

#include "base/dates.h"
#include "base/errors.h"
#include "base/files.h"
#include "expr/day_numbers.h"
#include "cli.h"
#include "index/index.h"
#include "memo/memo.h"
#include "table/code_pages.h"
#include "table/commands.h"
#include "table/hooks.h"

namespace zedra::cli {
namespace {

std::string Hex2(uint8_t v) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "0x%02X", v);
  return buffer;
}

std::string VersionName(uint8_t v) {
  switch (v) {
    case 0x02: return "dBASE II";
    case 0x03: return "no memo file";
    case 0x04: return "no memo file";
    case 0x83: return "dBASE III memo file (DBT)";
    case 0x8B: return "dBASE IV memo file (DBT)";
    case 0x8C: return "dBASE IV memo file (DBT)";
    case 0xF5: return "FPT memo file";
    default: return "configured version byte";
  }
}

// The production index that Use could not open is named as a warning; the table is then
// used in natural order.
void WarnOfProductionIndex(const Command& command, std::ostream& err) {
  std::string text = ProductionIndexWarning();
  if (text.empty()) return;
  const size_t cr = text.find("\r\n");
  if (cr != std::string::npos) text.replace(cr, 2, " ");
  err << "zedra " << command.name << ": warning: the production index is not used: " << text << "\n";
}

// --order TAG makes that tag of the production index controlling; without it the records
// come in natural order, also when an index is open.
bool ChooseOrder(const Args& args) {
  if (args.Has("--order")) return SetOrderToTag(args.Value("--order"));
  if (IndexHookTable().IndexOpen && IndexHookTable().IndexOpen()) Set_Order_To(0);
  return ErrorCode() == 0;
}

// Opens the table named by the first argument into area 1; false after printing the
// usage error or the engine's error.
bool OpenTable(const Command& command, const Args& args, std::ostream& err, int* status,
               bool read_only = false) {
  if (args.positional.empty()) {
    *status = UsageError(command, "a table name is needed", err);
    return false;
  }
  UseOptions options = OpenOptions();
  options.read_only = read_only;
  if (!Use(args.positional[0], options)) {
    *status = ReportEngineFailure(err);
    if (*status == 0) *status = 1;
    return false;
  }
  WarnOfProductionIndex(command, err);
  return true;
}

size_t Utf8Length(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

// Field names are stored in the table's code page like its text: they are shown as
// UTF-8, and a name the user gives is matched against them in the table's code page,
// without regard to case.
std::string NameForOutput(const FieldDesc& f) {
  return CurrentArea() ? StoredTextToUtf8(*CurrentArea(), f.Name()) : f.Name();
}

// A name as stored, in capitals of the table's readable code page.
std::string UpperStored(const DbfArea& area, std::string text) {
  if (area.oem) AreaOemToAnsi(area, std::span(reinterpret_cast<uint8_t*>(text.data()), text.size()));
  for (char& c : text) c = AreaUpperChar(&area, c);
  return text;
}

int FieldNumberUtf8(const std::string& name) {
  const DbfArea* area = CurrentArea();
  std::string stored;
  if (!area || !Utf8ToStoredText(*area, name, &stored, nullptr)) return 0;
  const std::string wanted = UpperStored(*area, stored);
  for (int k = 1; k <= FieldCount(); ++k)
    if (UpperStored(*area, FieldAt(k)->Name()) == wanted) return k;
  return 0;
}

std::string IsoDate(std::string_view dtos) {
  if (dtos.size() != 8 || dtos.find_first_not_of(' ') == std::string_view::npos) return "";
  return std::string(dtos.substr(0, 4)) + "-" + std::string(dtos.substr(4, 2)) + "-" +
         std::string(dtos.substr(6, 2));
}

// The one place where a field of the current record becomes text for `list`: C trimmed
// on the right and turned into UTF-8, N and F as stored without leading blanks, D as
// YYYY-MM-DD (empty when blank), L as T or F, M as its block number (empty without memo).
// Memo fields show the first line of their text, cut to --memo-width characters.
size_t list_memo_width = 40;

std::string ListValue(int k) {
  const FieldDesc* f = FieldAt(k);
  if (!f) return "";
  switch (f->type) {
    case 'M':
      return MemoListValue(k, list_memo_width);
    case 'C':
      return TextToUtf8(*CurrentArea(), FieldText(k));
    case 'D':
      return IsoDate(FieldDate(k));
    case 'L':
      return FieldLogical(k) ? "T" : "F";
    default:
      return TextToUtf8(*CurrentArea(), FieldText(k));
  }
}

// A value given to `append` or `replace` (the forms `list --csv` prints) turned into what
// SetFieldText takes: UTF-8 into the table's code page, YYYY-MM-DD into YYYYMMDD. A text
// with characters that the code page does not have (or that is not UTF-8) is refused with
// error 220 rather than stored with substitutes; the message names the command.
std::optional<std::string> AppendValue(const FieldDesc& f, const std::string& value, const Command& command) {
  if (f.type == 'D') {
    std::string v = AllTrim(value);
    if (v.size() == 10 && v[4] == '-' && v[7] == '-') return v.substr(0, 4) + v.substr(5, 2) + v.substr(8, 2);
    return v;
  }
  std::string bytes;
  if (!Utf8ToText(*CurrentArea(), value, &bytes, nullptr)) {
    SetError(220, NotRepresentable(value, "field " + NameForOutput(f)) + " [" + command.name + "]");
    return std::nullopt;
  }
  return bytes;
}

// The table's code page, its mark and how its text is read.
std::string CodePageLine(const DbfArea& area) {
  const uint8_t mark = area.header[kHdrCodePage];
  const std::string read_as = CodePageName(TextCodePage(area).number);
  std::string line = area.code_page == 0 ? "none" : std::to_string(area.code_page);
  line += " (mark " + Hex2(mark);
  if (Tables().CodePageOverride != 0) line += ", overridden by --codepage";
  if (area.code_page == 0) return line + "; read as " + read_as + ")";
  if (area.oem) return line + "; DOS text, read as " + read_as + ")";
  return line + "; " + read_as + ")";
}

std::string CsvQuote(const std::string& s) {
  if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
  std::string out = "\"";
  for (char c : s) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

// Output gathered into large pieces before it goes to the stream.
class BufferedWriter {
 public:
  explicit BufferedWriter(std::ostream& out) : out_(out) { buffer_.reserve(kPiece + 4096); }
  ~BufferedWriter() { Flush(); }
  BufferedWriter(const BufferedWriter&) = delete;
  BufferedWriter& operator=(const BufferedWriter&) = delete;

  void Put(std::string_view text) {
    buffer_ += text;
    if (buffer_.size() >= kPiece) Flush();
  }
  void Put(char c) { buffer_ += c; }
  void Flush() {
    if (!buffer_.empty()) out_.write(buffer_.data(), std::streamsize(buffer_.size()));
    buffer_.clear();
  }

 private:
  static constexpr size_t kPiece = 64 * 1024;
  std::ostream& out_;
  std::string buffer_;
};

void PutCsvRow(BufferedWriter& writer, const std::vector<std::string>& cells) {
  for (size_t i = 0; i < cells.size(); ++i) {
    if (i) writer.Put(',');
    writer.Put(CsvQuote(cells[i]));
  }
  writer.Put("\r\n");
}

// Prints the rows as list does: CSV (RFC 4180, CR LF), or columns sized to their widest
// cell.
void PrintRows(const std::vector<std::string>& header, const std::vector<std::vector<std::string>>& rows,
               bool csv, BufferedWriter& writer) {
  if (csv) {
    PutCsvRow(writer, header);
    for (const auto& row : rows) PutCsvRow(writer, row);
    return;
  }
  std::vector<size_t> width(header.size());
  for (size_t i = 0; i < header.size(); ++i) width[i] = Utf8Length(header[i]);
  for (const auto& row : rows)
    for (size_t i = 0; i < row.size(); ++i) width[i] = std::max(width[i], Utf8Length(row[i]));
  auto emit = [&](const std::vector<std::string>& cells) {
    for (size_t i = 0; i < cells.size(); ++i) {
      writer.Put(cells[i]);
      if (i + 1 < cells.size()) writer.Put(std::string(width[i] - Utf8Length(cells[i]) + 2, ' '));
    }
    writer.Put('\n');
  };
  emit(header);
  for (const auto& row : rows) emit(row);
}

// The header and one row of the current record as list prints them.
struct RowFormat {
  std::vector<int> fields;
  bool csv = false;
  bool show_deleted = false;
  bool show_recno = false;

  std::vector<std::string> Header(const DbfArea& area) const {
    std::vector<std::string> header;
    if (show_recno) header.push_back("_recno");
    if (csv && show_deleted) header.push_back("_deleted");
    if (!csv) header.push_back("Record#");
    for (int k : fields) header.push_back(NameForOutput(area.fields[k - 1]));
    return header;
  }
  std::vector<std::string> Row() const {
    std::vector<std::string> row;
    if (show_recno) row.push_back(std::to_string(RecNo()));
    if (csv && show_deleted) row.push_back(Deleted() ? "T" : "F");
    if (!csv) row.push_back(std::to_string(RecNo()) + (Deleted() ? " *" : ""));
    for (int k : fields) row.push_back(ListValue(k));
    return row;
  }
};

// The fields of --fields (all without it); false after the usage error, with the tables
// closed.
bool ListedFields(const Command& command, const Args& args, std::ostream& err, std::vector<int>* fields,
                  int* status) {
  const DbfArea& area = *CurrentArea();
  if (!args.Has("--fields")) {
    for (int k = 1; k <= area.field_count; ++k) fields->push_back(k);
    return true;
  }
  std::stringstream names(args.Value("--fields"));
  std::string name;
  while (std::getline(names, name, ',')) {
    int k = FieldNumberUtf8(AllTrim(name));
    if (k == 0) {
      // The message is made before the area (and its file name) goes.
      const std::string message = "no field \"" + name + "\" in " + area.file_name;
      CloseAllAreas();
      *status = UsageError(command, message, err);
      return false;
    }
    fields->push_back(k);
  }
  return true;
}

}  // namespace

int CmdInfo(const Args& args, std::ostream& out, std::ostream& err) {
  int status = 0;
  if (!OpenTable(*FindCommand("info"), args, err, &status, true)) return status;
  const DbfArea& area = *CurrentArea();
  const uint8_t* h = area.header.data();
  const uint8_t version = h[0];
  int year, month, day;
  if (IsDbase2Kind(version)) {
    month = h[3], day = h[4], year = 1900 + h[5];
  } else {
    year = 1900 + h[1], month = h[2], day = h[3];
  }
  char date[32];
  std::snprintf(date, sizeof date, "%04d-%02d-%02d", year, month, day);
  out << "Table:         " << area.file_name << "\n"
      << "Version:       " << Hex2(version) << " (" << VersionName(version) << ")\n"
      << "Last update:   " << date << "\n"
      << "Records:       " << RecCount() << "\n"
      << "Header length: " << uint16_t(area.header_length) << "\n"
      << "Record length: " << area.record_length << "\n"
      << "Fields:        " << int(area.field_count) << "\n"
      << "Code page:     " << CodePageLine(area) << "\n";
  if (area.has_memo) out << "Memo file:     " << ForceExtension(area.file_name, MemoFileExt(version)) << "\n";
  if (CurrentAreaIndex().file.file.IsOpen()) {
    const std::vector<std::string> tags = IndexTagNames();
    std::string names;
    for (const std::string& t : tags) names += (names.empty() ? "" : ", ") + t;
    out << "Index file:    " << CurrentAreaIndex().file.name << " (production)\n"
        << "Tags:          " << (names.empty() ? "none" : names) << "\n";
  }
  out << "\n  #  Name        Type  Length  Decimals\n";
  for (int k = 1; k <= area.field_count; ++k) {
    const FieldDesc& f = area.fields[k - 1];
    std::string name = NameForOutput(f);
    name.append(Utf8Length(name) < 10 ? 10 - Utf8Length(name) : 0, ' ');
    char line[96];
    std::snprintf(line, sizeof line, "%3d  %s  %c     %6d  %8d\n", k, name.c_str(), f.type,
                  int(f.length), int(f.decimals));
    out << line;
  }
  CloseAllAreas();
  return ReportEngineFailure(err);
}

int CmdList(const Args& args, std::ostream& out, std::ostream& err) {
  const Command& command = *FindCommand("list");
  long long start = 1, count = -1;
  if (args.Has("--start") && (!ParseInt(args.Value("--start"), &start) || start < 1))
    return UsageError(command, "--start needs a record number from 1", err);
  if (args.Has("--count") && (!ParseInt(args.Value("--count"), &count) || count < 0))
    return UsageError(command, "--count needs a number from 0", err);
  long long memo_width = 40;
  if (args.Has("--memo-width") &&
      (!ParseInt(args.Value("--memo-width"), &memo_width) || memo_width < 0))
    return UsageError(command, "--memo-width needs a number from 0", err);
  list_memo_width = size_t(memo_width);
  int status = 0;
  if (!OpenTable(command, args, err, &status, true)) return status;
  RowFormat format;
  if (!ListedFields(command, args, err, &format.fields, &status)) return status;
  if (args.Has("--deleted-hidden")) SetDeleted(true);
  std::string filter;
  if (args.Has("--filter") && !TableTextOf(command, args.Value("--filter"), "--filter", &filter, err)) {
    CloseAllAreas();
    return 1;
  }
  if (args.Has("--filter") && !SetFilter(filter)) return FailAndClose(err);
  if (!ChooseOrder(args)) return FailAndClose(err);
  format.csv = args.Has("--csv");
  format.show_deleted = args.Has("--deleted");
  format.show_recno = format.csv && args.Has("--recno");
  const bool reverse = args.Has("--reverse");

  const std::vector<std::string> header = format.Header(*CurrentArea());
  std::vector<std::vector<std::string>> rows;

  if (start > 1) {
    Goto(int32_t(std::min<long long>(start, RecCount() + 1)));
    if (ErrorCode() == 0 && !Eof() && !RecordVisible()) Skip(1);
  } else if (reverse) {
    GoBottom();
  } else {
    GoTop();
  }
  const auto at_end = [reverse] { return reverse ? Bof() || Eof() : Eof(); };
  // CSV rows go out as they are read; the plain listing keeps its rows to size columns.
  BufferedWriter writer(out);
  if (format.csv) PutCsvRow(writer, header);
  for (long long listed = 0; ErrorCode() == 0 && !at_end() && (count < 0 || listed < count); ++listed) {
    if (format.csv) {
      PutCsvRow(writer, format.Row());
    } else {
      rows.push_back(format.Row());
    }
    Skip(reverse ? -1 : 1);
  }
  if (ErrorCode() != 0) {
    writer.Flush();
    status = ReportEngineFailure(err);
    CloseAllAreas();
    return status;
  }
  if (!format.csv) PrintRows(header, rows, false, writer);
  writer.Flush();
  CloseAllAreas();
  return ReportEngineFailure(err);
}

int CmdCreate(const Args& args, std::ostream& out, std::ostream& err) {
  const Command& command = *FindCommand("create");
  if (args.positional.size() != 1) return UsageError(command, "one table name is needed", err);
  std::vector<FieldSpec> specs;
  bool memo = false;
  for (const std::string& text : args.All("--field")) {
    std::vector<std::string> parts;
    std::stringstream ss(text);
    std::string part;
    while (std::getline(ss, part, ':')) parts.push_back(part);
    FieldSpec f;
    long long length = 0, decimals = 0;
    if (parts.size() < 2 || parts.size() > 4 || parts[1].size() != 1 ||
        (parts.size() >= 3 && !ParseInt(parts[2], &length)) ||
        (parts.size() == 4 && !ParseInt(parts[3], &decimals)) || length < 0 || length > 255 ||
        decimals < 0 || decimals > 255)
      return UsageError(command, "bad field \"" + text + "\" (NAME:TYPE:LEN[:DEC])", err);
    f.name = parts[0];
    f.type = parts[1][0];
    f.length = int(length);
    f.decimals = int(decimals);
    memo |= f.type == 'M' || f.type == 'm';
    specs.push_back(f);
  }
  if (specs.empty()) return UsageError(command, "at least one --field is needed", err);
  uint8_t version = memo ? 0x83 : 0x03;
  uint8_t mark = kAnsiCodePageMark;
  if (args.Has("--codepage")) {
    uint16_t code_page = 0;
    if (!ParseCodePage(args.Value("--codepage"), &code_page))
      return UsageError(command, CodePageUsage(), err);
    mark = MarkOfCodePage(code_page);
  }
  if (args.Has("--version")) {
    std::string v = args.Value("--version");
    unsigned long value = 0;
    try {
      size_t used = 0;
      value = std::stoul(v, &used, 0);
      if (used != v.size()) value = 0x100;
    } catch (...) {
      value = 0x100;
    }
    if (value != 0x03 && value != 0x83 && value != 0x8B && value != 0xF5)
      return UsageError(command, "--version must be 0x03, 0x83, 0x8B or 0xF5", err);
    version = uint8_t(value);
  }
  // Creating truncates: a table that exists already is never replaced from here.
  const std::string path = DefaultExtension(args.positional[0], "DBF");
  if (FilePresent(path)) {
    err << "zedra create: " << path << " already exists; nothing was changed\n";
    return 1;
  }
  if (!CreateDbf(args.positional[0], version, specs, mark)) return std::max(ReportEngineFailure(err), 1);
  out << "Created " << path << "\n";
  return 0;
}

bool AssignPairs(const Command& command, const Args& args, std::vector<MemoValue>* memos,
                 std::ostream& err, int* status) {
  for (size_t i = 1; i < args.positional.size(); ++i) {
    const std::string& pair = args.positional[i];
    size_t eq = pair.find('=');
    int k = eq == std::string::npos ? 0 : FieldNumberUtf8(pair.substr(0, eq));
    if (k == 0) {
      CloseAllAreas();
      *status = UsageError(command, "\"" + pair + "\" does not name a field of the table (NAME=VALUE)", err);
      return false;
    }
    if (FieldAt(k)->type == 'M') {
      if (!memos) {
        CloseAllAreas();
        *status = UsageError(command, "memo fields are changed with append only (\"" + pair + "\")", err);
        return false;
      }
      // A memo: the text, or "@FILE" for a file's bytes, stored in the memo file.
      std::optional<std::string> text = MemoValueText(pair.substr(eq + 1), k, err);
      if (!text) {
        CloseAllAreas();
        *status = 1;
        return false;
      }
      memos->push_back(MemoValue{k, std::move(*text)});
      continue;
    }
    std::optional<std::string> value = AppendValue(*FieldAt(k), pair.substr(eq + 1), command);
    if (!value || !SetFieldText(k, *value)) {
      *status = std::max(ReportEngineFailure(err), 1);
      CloseAllAreas();
      return false;
    }
  }
  return true;
}

int CmdAppend(const Args& args, std::ostream& out, std::ostream& err) {
  const Command& command = *FindCommand("append");
  if (args.positional.size() < 2) return UsageError(command, "a table and NAME=VALUE pairs are needed", err);
  int status = 0;
  if (!OpenTable(command, args, err, &status)) return status;
  if (!OpenProductionIndexForChange(err)) return 1;
  ClearRecord();
  // Every value is checked first; the memos are written with the record, in one step
  // that takes them back when the record cannot be appended.
  std::vector<MemoValue> memos;
  if (!AssignPairs(command, args, &memos, err, &status)) return status;
  if (!AppendRecordWithMemos(memos)) {
    status = ReportEngineFailure(err);
    CloseAllAreas();
    return std::max(status, 1);
  }
  out << "Appended record " << RecNo() << "\n";
  CloseAllAreas();
  return ReportEngineFailure(err);
}

namespace {

// VALUE read by the key type of the controlling order: text (already in the table's code
// page), a number, or a date as YYYY-MM-DD or YYYYMMDD. False when the value is not of
// that type.
bool SeekValue(const std::string& value, bool* found) {
  const TagControl* tag = OrderAt(1);
  if (!tag) return false;
  switch (tag->KeyType()) {
    case 'C':
      *found = Seek(value);
      return true;
    case 'D': {
      std::string dtos = AllTrim(value);
      if (dtos.size() == 10 && dtos[4] == '-' && dtos[7] == '-') dtos = dtos.substr(0, 4) + dtos.substr(5, 2) + dtos.substr(8, 2);
      const double day = dtos.size() == 8 ? DtosToDay(dtos) : 1.0E100;
      if (day >= 1.0E100) return false;
      *found = Seek(day);
      return true;
    }
    default: {
      const std::string text = AllTrim(value);
      char* end = nullptr;
      const double number = std::strtod(text.c_str(), &end);
      if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(number)) return false;
      *found = Seek(number);
      return true;
    }
  }
}

}  // namespace

int CmdSeek(const Args& args, std::ostream& out, std::ostream& err) {
  const Command& command = *FindCommand("seek");
  if (args.positional.size() != 2) return UsageError(command, "a table name and a value are needed", err);
  if (!args.Has("--order")) return UsageError(command, "--order TAG names the tag to seek in", err);
  long long count = 1;
  if (args.Has("--count") && (!ParseInt(args.Value("--count"), &count) || count < 1))
    return UsageError(command, "--count needs a number from 1", err);
  int status = 0;
  if (!OpenTable(command, args, err, &status, true)) return status;
  SetIndexCache(kToolIndexCacheBytes);
  RowFormat format;
  if (!ListedFields(command, args, err, &format.fields, &status)) return status;
  if (!ChooseOrder(args)) return FailAndClose(err);
  // Text keys are sought in the table's own letters; a value its code page cannot hold
  // is refused rather than sought with substitutes.
  std::string value = args.positional[1];
  if (OrderAt(1) && OrderAt(1)->KeyType() == 'C' && !TableTextOf(command, args.positional[1], "VALUE", &value, err)) {
    CloseAllAreas();
    return 1;
  }
  bool found = false;
  if (!SeekValue(value, &found)) {
    const char type = OrderAt(1)->KeyType();
    CloseAllAreas();
    return UsageError(command, std::string("the tag's keys are ") + (type == 'D' ? "dates" : "numbers") + ": \"" +
                                   args.positional[1] + "\" is not one", err);
  }
  if (ErrorCode() != 0) return FailAndClose(err);
  std::vector<std::vector<std::string>> rows;
  for (; ErrorCode() == 0 && !Eof() && (long long)rows.size() < count; Skip(1)) rows.push_back(format.Row());
  if (ErrorCode() != 0) return FailAndClose(err);
  out << (found ? "Found" : rows.empty() ? "Not found (past the last key)" : "Not found") << "\n";
  if (!rows.empty()) {
    BufferedWriter writer(out);
    PrintRows(format.Header(*CurrentArea()), rows, false, writer);
  }
  CloseAllAreas();
  return found ? 0 : 1;
}

}  // namespace zedra::cli

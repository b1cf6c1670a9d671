// zedra memo and pack, and the memo side of list and append: memo texts on the command
// line.
#include <fstream>
#include <ostream>
#include <sstream>

#include "base/errors.h"
#include "base/files.h"
#include "cli.h"
#include "memo/memo.h"
#include "platform/platform.h"
#include "table/code_pages.h"
#include "table/commands.h"

namespace zedra::cli {
namespace {

uint64_t SizeOf(const std::string& path) {
  std::vector<platform::DirEntry> entries;
  PathParts p = SplitPath(path);
  std::string dir = p.dir.empty() ? std::string(".") : p.dir;
  if (platform::ListDirectory(dir, p.name + p.ext, &entries) != 0 || entries.empty()) return 0;
  return entries.front().size;
}

}  // namespace

std::string MemoListValue(int k, size_t width) {
  std::string text = GetMemoText(k);
  if (ErrorCode() != 0) {
    // A damaged memo shows as no text in a listing; `zedra memo` reports it.
    Errors().ErrorCode = 0;
    return std::string();
  }
  size_t end = text.find_first_of("\r\n");
  if (end != std::string::npos) text.resize(end);
  if (text.size() > width) text.resize(width);
  return StoredTextToUtf8(*CurrentArea(), text);
}

std::optional<std::string> MemoValueText(const std::string& value, int k, std::ostream& err) {
  if (value.empty() || value[0] != '@') {
    // Memo texts are kept in the table's code page as stored.
    std::string bytes;
    if (Utf8ToStoredText(*CurrentArea(), value, &bytes, nullptr)) return bytes;
    err << "zedra append: "
        << NotRepresentable(value, "memo field " + StoredTextToUtf8(*CurrentArea(), FieldAt(k)->Name()))
        << "; nothing was appended\n";
    return std::nullopt;
  }
  std::ifstream in(value.substr(1), std::ios::binary);
  if (!in) {
    err << "zedra append: cannot read " << value.substr(1) << "\n";
    return std::nullopt;
  }
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

int CmdMemo(const Args& args, std::ostream& out, std::ostream& err) {
  const Command& command = *FindCommand("memo");
  long long recno = 0;
  if (args.positional.size() != 3) return UsageError(command, "TABLE FIELD RECNO are needed", err);
  if (!ParseInt(args.positional[2], &recno) || recno < 1)
    return UsageError(command, "RECNO must be a record number from 1", err);
  UseOptions read_only = OpenOptions();
  read_only.read_only = true;  // reading needs no write access to the files
  if (!Use(args.positional[0], read_only)) return FailAndClose(err);
  int k = FieldNumber(args.positional[1]);
  if (k == 0 || FieldAt(k)->type != 'M') {
    CloseAllAreas();
    return UsageError(command, "\"" + args.positional[1] + "\" is not a memo field of the table",
                      err);
  }
  if (const int32_t count = RecCount(); recno > count) {
    CloseAllAreas();
    return UsageError(command, "the table has " + std::to_string(count) + " records", err);
  }
  Dbf4Go(int32_t(recno));
  if (ErrorCode() != 0) return FailAndClose(err);
  std::string text = GetMemoText(k);
  if (ErrorCode() != 0) return FailAndClose(err);
  out << (args.Has("--utf8") ? StoredTextToUtf8(*CurrentArea(), text) : text);
  CloseAllAreas();
  return ReportEngineFailure(err);
}

int CmdPack(const Args& args, std::ostream& out, std::ostream& err) {
  const Command& command = *FindCommand("pack");
  if (args.positional.size() != 1) return UsageError(command, "a table name is needed", err);
  UseOptions options = OpenOptions();
  options.exclusive = true;
  if (!Use(args.positional[0], options)) return FailAndClose(err);
  const std::string memo_name = CurrentArea()->memo ? CurrentArea()->memo->file_name : "";
  const uint64_t memo_before = memo_name.empty() ? 0 : SizeOf(memo_name);
  const int32_t before = RecCount();
  int32_t dropped = 0;
  if (!Pack(args.Has("--force"), &dropped)) return FailAndClose(err);
  out << "Packed " << CurrentArea()->file_name << ": " << RecCount() << " of " << before
      << " records kept\n";
  if (dropped != 0)
    out << dropped << (dropped == 1 ? " memo" : " memos") << " that could not be read dropped\n";
  if (!memo_name.empty())
    out << "Memo file " << memo_name << ": " << memo_before << " -> " << SizeOf(memo_name)
        << " bytes\n";
  CloseAllAreas();
  return ReportEngineFailure(err);
}

}  // namespace zedra::cli

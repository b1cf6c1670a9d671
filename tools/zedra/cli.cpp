// Argument parsing, the command table and the tool's top level.
#include "cli.h"

#include <algorithm>
#include <charconv>
#include <iostream>
#include <ostream>

#include "base/errors.h"
#include "engine.h"
#include "index/semaphore.h"
#include "platform/platform.h"
#include "table/code_pages.h"
#include "table/hooks.h"
#include "table/work_area.h"

namespace zedra::cli {
namespace {

constexpr const char* kVersion = "zedra 1.0";

// How long a command waits for a lock or a table that another program holds.
constexpr long long kDefaultWaitSeconds = 10;
constexpr long long kMaxWaitSeconds = 255 * 255;

// The shortest wait between two attempts at a busy lock or table, in milliseconds.
constexpr long long kWaitSliceMs = 50;

// Waits through the engine's retry policy, about `seconds` in all, in slices of 50 ms
// (longer only where 255 attempts would not fill the time): each retry wait is ended by
// the wait pump after one slice, so that a lock another program holds for a moment costs
// about that moment, not a whole second.
void SetWaitPolicy(long long seconds) {
  const long long total_ms = seconds * 1000;
  const long long attempts = std::min<long long>(255, total_ms / kWaitSliceMs);
  Tables().RetryCount = uint8_t(attempts);
  if (attempts == 0) {
    Tables().RetryWait = 0;
    return;
  }
  const uint32_t slice = uint32_t(total_ms / attempts);
  Tables().RetryWait = uint8_t((slice + 999) / 1000);  // whole seconds, at least a slice
  SetWaitPump([slice](uint32_t max_ms) {
    platform::SleepMs(std::min(max_ms, slice));
    return false;  // this wait is over: the next attempt follows
  });
}

// The code pages --codepage takes.
constexpr const char* kCodePageList =
    "437, 737, 850, 852, 857, 860, 861, 863, 865, 866, 1250, 1251, 1252, 1253, 1254, 1257";

bool open_exclusive = false;

const std::vector<Command> kCommands = {
    {"errors", "errors CODE", "Prints the engine's text of an error code.", {}, CmdErrors},
    {"date", "date TEXT [--style N] [--century]",
     "Prints the canonical form, DOW, CDOW and CMONTH of a date written in a date style\n"
     "(0 MM/DD/YY, 1 YY.MM.DD, 2 DD/MM/YY, 3 DD-MM-YY, 4 French, 5 German, 6 Spanish,\n"
     "7 French, 8 Russian DD.MM.YY; default 0).",
     {{"--style"}, {"--century"}},
     CmdDate},
    {"info", "info TABLE",
     "Prints a table's version byte, date of last update, record count, header and record\n"
     "length, code page, its fields, and its production index with the index's tags.",
     {},
     CmdInfo},
    {"list", "list TABLE [--csv] [--fields A,B] [--deleted] [--start N] [--count N]\n"
     "            [--filter EXPR] [--deleted-hidden] [--memo-width N] [--order TAG]\n"
     "            [--reverse] [--recno]",
     "Lists records in natural order (also when the table has a production index), deleted ones included (marked * unless hidden with\n"
     "--deleted-hidden). --csv writes RFC 4180 CSV with a header line; --deleted adds a\n"
     "first column _deleted (T/F); --filter shows only records for which EXPR is true.\n"
     "Memo fields show the first line of their text, cut to --memo-width characters (40).\n"
     "--order lists in the order of that tag of the production index (a tag whose name\n"
     "begins with TAG); --reverse lists backwards; --recno adds a first CSV column _recno.",
     {{"--fields", "--start", "--count", "--filter", "--memo-width", "--order"},
      {"--csv", "--deleted", "--deleted-hidden", "--reverse", "--recno"}},
     CmdList},
    {"create", "create TABLE [--version 0x03|0x83|0x8B|0xF5] [--codepage CP]\n"
     "            --field NAME:TYPE:LEN[:DEC] ...",
     "Creates an empty table (never over an existing one). Types C, N, F, D, L and M\n"
     "(LEN may be left out for D, L, M). --codepage marks the table's code page (default\n"
     "Windows-1252).",
     {{"--version", "--field"}, {}},
     CmdCreate},
    {"append", "append TABLE NAME=VALUE ...",
     "Appends one record; values as list --csv prints them (dates YYYY-MM-DD or YYYYMMDD,\n"
     "logicals T or F). A value that does not fit its field appends nothing. A memo field\n"
     "takes its text, or NAME=@FILE the bytes of a file.",
     {},
     CmdAppend},
    {"replace", "replace TABLE RECNO NAME=VALUE ...",
     "Changes fields of one record, with the values as append takes them; a value that\n"
     "does not fit its field changes nothing. Memo fields are not changed here. The\n"
     "production index is kept current; in a shared table the record is locked first.",
     {},
     CmdReplace},
    {"delete", "delete TABLE RECNO ...",
     "Marks records deleted (pack removes them); the production index is kept current.",
     {},
     CmdDelete},
    {"recall", "recall TABLE RECNO ...",
     "Takes the deletion mark off records; the production index is kept current.",
     {},
     CmdRecall},
    {"zap", "zap TABLE --yes",
     "Removes every record of a table (opened exclusively) and empties its memo file;\n"
     "the production index is rebuilt empty. Nothing happens without --yes.",
     {{}, {"--yes"}},
     CmdZap},
    {"eval", "eval [--table T] [--record N] [--style N] [--century] EXPR\n"
     "  zedra eval --check [--key] [--table T] EXPR",
     "Compiles and evaluates a dBASE expression (on record N of table T, or the first) and\n"
     "prints its type, width, decimals and value, separated by tabs: N with the expression's\n"
     "decimals, D as YYYYMMDD, L as .T. or .F. --check prints the check code instead (0 for\n"
     "a valid condition, or with --key a valid key; for a text that does not compile also\n"
     "the error, with exit status 1). An expression that begins with \"-\" goes after \"--\".",
     {{"--table", "--record", "--style"}, {"--century", "--check", "--key"}},
     CmdEval},
    {"memo", "memo TABLE FIELD RECNO [--utf8]",
     "Prints the whole text of a memo field of a record, byte for byte as stored (--utf8:\n"
     "converted from the table's code page).",
     {{}, {"--utf8"}},
     CmdMemo},
    {"pack", "pack TABLE [--force]",
     "Removes the deleted records of a table (opened exclusively) and rewrites its memo\n"
     "file with only the memos the records refer to. A memo that cannot be read stops the\n"
     "pack before anything changes; --force drops such memos and says how many.",
     {{}, {"--force"}},
     CmdPack},
    {"index", "index TABLE [--file NAME] --tag NAME --key EXPR [--for EXPR] [--unique]\n"
     "            [--descending] [--tag ...]",
     "Builds tags into an index file (default: the table's production index, which the\n"
     "table's header then marks). Each --tag starts a tag definition; the options after it\n"
     "belong to it. The file's other tags are rebuilt from their own definitions; a tag of\n"
     "the same name is replaced. A progress bar is drawn when standard error is a terminal.",
     {{"--file", "--tag", "--key", "--for"}, {"--unique", "--descending"}},
     CmdIndex},
    {"seek", "seek TABLE --order TAG VALUE [--count N] [--fields A,B]",
     "Seeks VALUE in a tag of the production index and prints Found or Not found and the\n"
     "record the table stands on, with the next N-1 in the tag's order, as list prints\n"
     "them. VALUE is read by the tag's key type: text (a shorter text finds the first key\n"
     "that begins with it), a number, or a date as YYYY-MM-DD or YYYYMMDD. The exit status\n"
     "is 0 when the value was found and 1 otherwise.",
     {{"--order", "--count", "--fields"}, {}},
     CmdSeek},
    {"reindex", "reindex TABLE [--file NAME]",
     "Rebuilds every tag of an index file (default: the production index) from its own\n"
     "definitions, with the table opened exclusively. A progress bar is drawn when\n"
     "standard error is a terminal.",
     {{"--file"}, {}},
     CmdReindex},
    {"tags", "tags TABLE [--file NAME]",
     "Lists the tags of an index file: name, key type, key length, entry length, keys per\n"
     "node, descending, unique, anchor block, root block, key expression, FOR condition.",
     {{"--file"}, {}},
     CmdTags},
    {"check", "check TABLE [--file NAME] [--tag NAME] [--built]",
     "Walks every tag's tree and checks it against the table: node counts, leaf depth, key\n"
     "order, interior keys, pointers, nodes reached twice, and one entry with the right key\n"
     "for every record the tag should hold. --built adds what holds right after a build:\n"
     "equal keys in record order and unique tags holding the first record of each key.\n"
     "Prints one line per tag (OK, or the problems with their node blocks); exit status 1\n"
     "when a problem is found.",
     {{"--file", "--tag"}, {"--built"}},
     CmdCheck},
};

void PrintHelp(std::ostream& out) {
  out << kVersion << ": the Zedra xBase engine on the command line\n\n"
      << "Usage: zedra COMMAND [ARGUMENTS] [OPTIONS]\n"
      << "       zedra --help | --version\n\n"
      << "Commands:\n";
  for (const Command& c : Commands()) {
    out << "  zedra " << c.usage << "\n";
    std::string help = c.help;
    size_t start = 0;
    while (start <= help.size()) {
      size_t end = help.find('\n', start);
      if (end == std::string::npos) end = help.size();
      out << "      " << help.substr(start, end - start) << "\n";
      start = end + 1;
    }
  }
  out << "\n\"--\" ends the options, so that an argument beginning with \"-\" can follow it.\n"
      << "Every command takes --wait SECONDS (default " << kDefaultWaitSeconds
      << "): how long to wait for a lock or\n"
      << "a table that another program holds before failing with the engine's error; it is\n"
      << "also the index semaphore timeout (at least 1 second): how long a change waits for\n"
      << "the other programs to leave the table's index.\n"
      << "Tables are opened shared; --exclusive opens them for this program alone (pack,\n"
      << "reindex and zap always do). --semaphore-dir DIR keeps the index semaphore files\n"
      << "in DIR instead of beside the tables (for tables on read-only media).\n"
      << "Text is shown and taken as UTF-8, converted through each table's code page (header\n"
      << "byte 29); every command takes --codepage CP to read tables in code page CP instead\n"
      << "(" << kCodePageList << ").\n"
      << "Errors are printed on standard error as \"Error # CODE (text)\" with the engine's\n"
      << "message; the exit status is then non-zero (2 for a usage error, 1 otherwise; an\n"
      << "engine code itself is never the exit status, since POSIX keeps only its low 8 bits).\n";
}

}  // namespace

std::string Args::Value(const std::string& name, const std::string& fallback) const {
  auto it = values.find(name);
  return it == values.end() || it->second.empty() ? fallback : it->second.back();
}

const std::vector<std::string>& Args::All(const std::string& name) const {
  static const std::vector<std::string> kNone;
  auto it = values.find(name);
  return it == values.end() ? kNone : it->second;
}

bool ParseArgs(const std::vector<std::string>& argv, const OptionSpec& options, Args* args,
               std::string* error) {
  bool options_done = false;
  for (size_t i = 0; i < argv.size(); ++i) {
    const std::string& a = argv[i];
    if (options_done || a.size() < 2 || a[0] != '-' || a[1] != '-') {
      // A lone "-" or a negative number is an argument, not an option.
      args->positional.push_back(a);
      continue;
    }
    if (a == "--") {
      options_done = true;
      continue;
    }
    std::string name = a, value;
    bool inline_value = false;
    if (size_t eq = a.find('='); eq != std::string::npos) {
      name = a.substr(0, eq);
      value = a.substr(eq + 1);
      inline_value = true;
    }
    if (options.flags.count(name) && !inline_value) {
      args->flags.insert(name);
      args->sequence.emplace_back(name, "");
    } else if (options.with_value.count(name)) {
      if (!inline_value) {
        if (i + 1 >= argv.size()) {
          *error = "option " + name + " needs a value";
          return false;
        }
        value = argv[++i];
      }
      args->values[name].push_back(value);
      args->sequence.emplace_back(name, value);
    } else {
      *error = "unknown option " + name;
      return false;
    }
  }
  return true;
}

const std::vector<Command>& Commands() { return kCommands; }

const Command* FindCommand(const std::string& name) {
  for (const Command& c : Commands())
    if (name == c.name) return &c;
  return nullptr;
}

bool ParseInt(const std::string& text, long long* value) {
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (first != last && *first == '+') ++first;
  auto [ptr, ec] = std::from_chars(first, last, *value);
  return ec == std::errc() && ptr == last && first != last;
}

bool ParseCodePage(const std::string& text, uint16_t* code_page) {
  std::string digits = text;
  for (const char* prefix : {"cp", "CP", "Windows-", "windows-", "WINDOWS-"})
    if (digits.rfind(prefix, 0) == 0) digits = digits.substr(std::string(prefix).size());
  long long value = 0;
  if (!ParseInt(digits, &value) || value < 1 || value > 65535) return false;
  if (!CodePageAvailable(uint16_t(value))) return false;
  *code_page = uint16_t(value);
  return true;
}

std::string CodePageUsage() { return std::string("--codepage takes one of ") + kCodePageList; }

std::string NotRepresentable(const std::string& utf8, const std::string& where) {
  const DbfArea& area = *CurrentArea();
  std::string bytes, missing;
  Utf8ToStoredText(area, utf8, &bytes, &missing);
  return "Not representable in " + CodePageName(StoredCodePage(area).number) + ": \"" + utf8 +
         "\" (character \"" + missing + "\", " + where + ")";
}

bool TableTextOf(const Command& command, const std::string& utf8, const std::string& where,
                 std::string* text, std::ostream& err) {
  std::string converted;
  if (Utf8ToText(*CurrentArea(), utf8, &converted, nullptr)) {
    *text = std::move(converted);
    return true;
  }
  err << "zedra " << command.name << ": " << NotRepresentable(utf8, where) << "\n";
  return false;
}

UseOptions OpenOptions(bool read_only) {
  UseOptions options;
  options.exclusive = open_exclusive;
  options.read_only = read_only;
  return options;
}

int ReportEngineFailure(std::ostream& err) {
  if (ErrorCode() == 0) return 0;
  std::string text = GetErrorText();
  for (char& c : text)
    if (c == '\r') c = ' ';
  // GetErrorText joins code and message with CR LF; on a terminal one line break is right.
  std::string out;
  for (size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == ' ' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
  err << out << "\n";
  Errors().ErrorCode = 0;
  return 1;
}

int FailAndClose(std::ostream& err) {
  int status = ReportEngineFailure(err);
  CloseAllAreas();
  return status ? status : 1;
}

int UsageError(const Command& command, const std::string& message, std::ostream& err) {
  err << "zedra " << command.name << ": " << message << "\nUsage: zedra " << command.usage
      << "\n";
  return 2;
}

int RunTool(const std::vector<std::string>& argv, std::ostream& out, std::ostream& err) {
  if (argv.empty() || argv[0] == "--help" || argv[0] == "-h" || argv[0] == "help") {
    PrintHelp(argv.empty() ? err : out);
    return argv.empty() ? 2 : 0;
  }
  if (argv[0] == "--version") {
    out << kVersion << "\n";
    return 0;
  }
  const Command* command = FindCommand(argv[0]);
  if (!command) {
    err << "zedra: unknown command \"" << argv[0] << "\" (see zedra --help)\n";
    return 2;
  }
  Args args;
  std::string error;
  std::vector<std::string> rest(argv.begin() + 1, argv.end());
  for (const std::string& a : rest) {
    if (a == "--") break;
    if (a == "--help") {
      out << "Usage: zedra " << command->usage << "\n" << command->help << "\n";
      return 0;
    }
  }
  OptionSpec options = command->options;
  options.with_value.insert("--wait");
  options.with_value.insert("--codepage");
  options.with_value.insert("--semaphore-dir");
  options.flags.insert("--exclusive");
  if (!ParseArgs(rest, options, &args, &error)) return UsageError(*command, error, err);
  long long wait = kDefaultWaitSeconds;
  if (args.Has("--wait") && (!ParseInt(args.Value("--wait"), &wait) || wait < 0 || wait > kMaxWaitSeconds))
    return UsageError(*command, "--wait takes a number of seconds from 0 to " +
                                    std::to_string(kMaxWaitSeconds), err);

  uint16_t code_page = 0;
  if (args.Has("--codepage") && !ParseCodePage(args.Value("--codepage"), &code_page))
    return UsageError(*command, CodePageUsage(), err);

  EngineStartup();
  // The tool reports failures itself instead of halting.
  SetAutoReport(false);
  SetWaitPolicy(wait);
  // create writes the code page as the new table's mark; every other command reads the
  // tables it opens in it.
  if (command->run != CmdCreate) Tables().CodePageOverride = code_page;
  Semaphores().SemaphoreTimeout = uint32_t(std::max<long long>(wait, 1));
  Semaphores().SemaphoreDirectory = args.Value("--semaphore-dir");
  open_exclusive = args.Has("--exclusive");
  int status;
  try {
    status = command->run(args, out, err);
  } catch (const EZedraError& e) {
    err << e.what() << "\n";
    status = 1;
  }
  // Tables whose index was used without the semaphore protocol are named once.
  for (const std::string& notice : Semaphores().notices)
    if (!notice.empty()) err << "zedra: note: " << notice << "\n";
  EngineShutdown();
  return status;
}

}  // namespace zedra::cli

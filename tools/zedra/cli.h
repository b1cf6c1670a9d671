// The zedra tool's command table and its small argument parser.
//
// Every command is a function taking its parsed arguments and two streams and returning
// the exit status. Errors go to the error stream as the engine composes them
// ("Error # 222 (Corrupted index file)" and the message) and give a non-zero status.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <map>
#include <set>
#include <optional>
#include <string>
#include <vector>

#include "table/commands.h"

namespace zedra {
struct MemoValue;
}

namespace zedra::cli {

struct Args {
  std::vector<std::string> positional;
  std::map<std::string, std::vector<std::string>> values;  // --name VALUE, repeatable
  std::set<std::string> flags;                             // --name
  // Every option in the order given, with its value (empty for a flag).
  std::vector<std::pair<std::string, std::string>> sequence;

  bool Has(const std::string& name) const { return flags.count(name) || values.count(name); }
  // The last value given for an option, or fallback.
  std::string Value(const std::string& name, const std::string& fallback = "") const;
  const std::vector<std::string>& All(const std::string& name) const;
};

struct OptionSpec {
  std::set<std::string> with_value;  // options that take a value
  std::set<std::string> flags;       // options that take none
};

// Parses argv[first..]. "--" ends the options. An unknown option, or one without its
// value, is an error: the message goes to *error and the result is false.
bool ParseArgs(const std::vector<std::string>& argv, const OptionSpec& options, Args* args,
               std::string* error);

struct Command {
  const char* name;
  const char* usage;  // one line: arguments and options
  const char* help;   // what it does
  OptionSpec options;
  int (*run)(const Args& args, std::ostream& out, std::ostream& err);
};

// Every command of the tool, in the order the help lists them.
const std::vector<Command>& Commands();

// Runs the tool on its arguments (without the program name); the exit status.
int RunTool(const std::vector<std::string>& argv, std::ostream& out, std::ostream& err);

// Prints the engine's last error (code, text and message) and returns 1 when an engine
// operation failed; returns 0 otherwise. Commands run with AutoReport off.
int ReportEngineFailure(std::ostream& err);
// Reports the engine's failure, closes every table and returns the exit status (1 also
// when the operation failed without an engine error).
int FailAndClose(std::ostream& err);
// Prints a usage error for a command and returns 2.
int UsageError(const Command& command, const std::string& message, std::ostream& err);
const Command* FindCommand(const std::string& name);

// The options for opening a table: shared unless --exclusive was given.
UseOptions OpenOptions(bool read_only = false);
// Opens the production index of the current table when its header marks one and the
// file exists, so that changed records keep it current; false after printing the error
// (every table is closed then).
bool OpenProductionIndexForChange(std::ostream& err);

// Puts the NAME=VALUE pairs of the arguments after the table into the record buffer
// (the values as `append` takes them); memo fields go to *memos, or are refused without
// it. False with *status set, the error printed and every table closed.
bool AssignPairs(const Command& command, const Args& args, std::vector<MemoValue>* memos,
                 std::ostream& err, int* status);

// The node cache the commands give an exclusive table's controlling order (bytes).
inline constexpr uint32_t kToolIndexCacheBytes = 4u << 20;

// Parses a decimal integer; false when the text is not one.
bool ParseInt(const std::string& text, long long* value);

// Command functions, one file per group.
int CmdErrors(const Args& args, std::ostream& out, std::ostream& err);
int CmdDate(const Args& args, std::ostream& out, std::ostream& err);
int CmdInfo(const Args& args, std::ostream& out, std::ostream& err);
int CmdList(const Args& args, std::ostream& out, std::ostream& err);
int CmdCreate(const Args& args, std::ostream& out, std::ostream& err);
int CmdAppend(const Args& args, std::ostream& out, std::ostream& err);
int CmdReplace(const Args& args, std::ostream& out, std::ostream& err);
int CmdDelete(const Args& args, std::ostream& out, std::ostream& err);
int CmdRecall(const Args& args, std::ostream& out, std::ostream& err);
int CmdZap(const Args& args, std::ostream& out, std::ostream& err);
int CmdEval(const Args& args, std::ostream& out, std::ostream& err);
int CmdMemo(const Args& args, std::ostream& out, std::ostream& err);
int CmdPack(const Args& args, std::ostream& out, std::ostream& err);
int CmdIndex(const Args& args, std::ostream& out, std::ostream& err);
int CmdSeek(const Args& args, std::ostream& out, std::ostream& err);
int CmdReindex(const Args& args, std::ostream& out, std::ostream& err);
int CmdTags(const Args& args, std::ostream& out, std::ostream& err);
int CmdCheck(const Args& args, std::ostream& out, std::ostream& err);

// Memo fields in list and append: the first line of a memo field's text cut to width
// characters (as UTF-8), and the text a memo value stands for ("@FILE" the file's bytes;
// anything else is UTF-8 text). MemoValueText prints its failure on err.
std::string MemoListValue(int k, size_t width);
std::optional<std::string> MemoValueText(const std::string& value, int k, std::ostream& err);

// Code pages on the command line: "866", "cp866" or "Windows-1251" for a code page the
// engine can read tables in; the usage text that lists them; and the message for a text
// the current table's code page cannot hold ("Not representable in code page 866: ...",
// where names the field).
bool ParseCodePage(const std::string& text, uint16_t* code_page);
std::string CodePageUsage();
std::string NotRepresentable(const std::string& utf8, const std::string& where);
// Text given on the command line (an expression, a value) in the current table's code
// page; false, with the reason printed ("zedra list: Not representable ... --filter)"),
// when the code page cannot hold it.
bool TableTextOf(const Command& command, const std::string& utf8, const std::string& where,
                 std::string* text, std::ostream& err);

}  // namespace zedra::cli

// zedra replace, delete, recall and zap: changing the records of a table in place, with
// its production index kept current.
#include <ostream>

#include "base/errors.h"
#include "cli.h"
#include "table/commands.h"
#include "table/work_area.h"

namespace zedra::cli {
namespace {

// Opens the table for a change with its production index; false with *status set.
bool OpenForChange(const Args& args, bool exclusive, std::ostream& err, int* status) {
  UseOptions options = OpenOptions();
  options.exclusive = options.exclusive || exclusive;
  if (!Use(args.positional[0], options)) {
    *status = std::max(FailAndClose(err), 1);
    return false;
  }
  if (!OpenProductionIndexForChange(err)) {
    *status = 1;
    return false;
  }
  return true;
}

// The record numbers of the arguments from `first` on, each within the table.
bool RecordNumbers(const Command& command, const Args& args, size_t first, size_t last,
                   std::vector<int32_t>* numbers, std::ostream& err, int* status) {
  const int32_t count = RecCount();
  for (size_t i = first; i < last; ++i) {
    long long n = 0;
    if (!ParseInt(args.positional[i], &n) || n < 1 || n > count) {
      CloseAllAreas();
      *status = UsageError(command, "\"" + args.positional[i] + "\" is not a record number of the table (1 to " +
                                        std::to_string(count) + ")", err);
      return false;
    }
    numbers->push_back(int32_t(n));
  }
  return true;
}

// Moves to the record and, in a shared table, locks it (waiting as --wait says).
bool ReachAndLock(int32_t n) {
  if (!Goto(n)) return false;
  const DbfArea& area = *CurrentArea();
  if (!area.exclusive && Tables().LockingOn) return RLock(n);
  return true;
}

// Deletes or recalls each record named.
int ChangeDeletedFlag(const char* name, bool deleted, const Args& args, std::ostream& out, std::ostream& err) {
  const Command& command = *FindCommand(name);
  if (args.positional.size() < 2) return UsageError(command, "a table and record numbers are needed", err);
  int status = 0;
  if (!OpenForChange(args, false, err, &status)) return status;
  std::vector<int32_t> numbers;
  if (!RecordNumbers(command, args, 1, args.positional.size(), &numbers, err, &status)) return status;
  for (int32_t n : numbers) {
    if (!ReachAndLock(n) || !(deleted ? DeleteRec() : Recall())) return std::max(FailAndClose(err), 1);
    UnlockRec(n);
    out << (deleted ? "Deleted record " : "Recalled record ") << n << "\n";
  }
  CloseAllAreas();
  return ReportEngineFailure(err);
}

}  // namespace

int CmdReplace(const Args& args, std::ostream& out, std::ostream& err) {
  const Command& command = *FindCommand("replace");
  if (args.positional.size() < 3) return UsageError(command, "a table, a record number and NAME=VALUE pairs are needed", err);
  int status = 0;
  if (!OpenForChange(args, false, err, &status)) return status;
  std::vector<int32_t> numbers;
  if (!RecordNumbers(command, args, 1, 2, &numbers, err, &status)) return status;
  if (!ReachAndLock(numbers[0])) return std::max(FailAndClose(err), 1);
  // The pairs after the record number; a value that does not fit changes nothing.
  Args pairs = args;
  pairs.positional.erase(pairs.positional.begin() + 1);
  if (!AssignPairs(command, pairs, nullptr, err, &status)) return status;
  if (!Replace()) return std::max(FailAndClose(err), 1);
  out << "Replaced record " << numbers[0] << "\n";
  CloseAllAreas();
  return ReportEngineFailure(err);
}

int CmdDelete(const Args& args, std::ostream& out, std::ostream& err) {
  return ChangeDeletedFlag("delete", true, args, out, err);
}

int CmdRecall(const Args& args, std::ostream& out, std::ostream& err) {
  return ChangeDeletedFlag("recall", false, args, out, err);
}

int CmdZap(const Args& args, std::ostream& out, std::ostream& err) {
  const Command& command = *FindCommand("zap");
  if (args.positional.size() != 1) return UsageError(command, "a table name is needed", err);
  if (!args.Has("--yes")) {
    err << "zedra zap: removes every record of " << args.positional[0]
        << "; give --yes to do so (nothing was changed)\n";
    return 1;
  }
  int status = 0;
  if (!OpenForChange(args, true, err, &status)) return status;
  const int32_t before = RecCount();
  if (!Zap()) return std::max(FailAndClose(err), 1);
  out << "Zapped " << CurrentArea()->file_name << ": " << before << " records removed\n";
  CloseAllAreas();
  return ReportEngineFailure(err);
}

}  // namespace zedra::cli

// Four programs on one shared table with a production index of three tags, for a while:
// two append and replace records under record locks, two walk the table in key order and
// seek. Afterwards `zedra check` passes, every record a writer reported is there with its
// last value, every walk was in order and nobody saw an error other than a lock wait.
// The same again with a memo field rewritten at every replacement.
//
// The programs are separate processes on every system (support/programs.h): each opens
// the table itself. Each run lasts ZEDRA_SHARED_SECONDS seconds (default kDefaultSeconds).
#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "index/semaphore.h"
#include "index_test_util.h"
#include "memo/memo.h"
#include "platform/platform.h"
#include "support/programs.h"

namespace zedra::testing {
namespace {

constexpr int kDefaultSeconds = 20;
constexpr int kSeeds = 40;
constexpr int kWriters = 2;
constexpr int kReaders = 2;

int RunSeconds() {
  const char* text = std::getenv("ZEDRA_SHARED_SECONDS");
  const int seconds = text ? std::atoi(text) : 0;
  return seconds > 0 ? seconds : kDefaultSeconds;
}

std::string SeedName(int i) { return "seed-" + std::to_string(100 + i); }
std::string TableIn(const std::string& dir) { return dir + "/SHARED.DBF"; }

// What a writer last wrote into one of its records.
struct Written {
  std::string name;
  long num = 0;
  std::string memo;
};

// In a program: waits for busy locks in short slices, about two seconds in all.
void WaitForLocks() {
  Tables().RetryCount = 200;
  Tables().RetryWait = 1;
  SetWaitPump([](uint32_t max_ms) {
    platform::SleepMs(std::min<uint32_t>(max_ms, 10));
    return false;
  });
}

// A lock another program held longer than the wait: reported, not a failure.
bool LockWait() {
  const uint16_t code = ErrorCode();
  Errors().ErrorCode = 0;
  return code == 0 || code == platform::kErrLockViolation;
}

// args: directory, writer number, "memo" or "plain", deadline (seconds since 1970).
// Appends and replaces until the deadline and reports its records in "wroteN".
ZEDRA_PROGRAM(shared_writer) {
  ProgramEngine engine;
  const std::string dir = args.at(0);
  const int w = std::stoi(args.at(1));
  const bool memo = args.at(2) == "memo";
  const time_t deadline = time_t(std::stoll(args.at(3)));
  WaitForLocks();
  if (!Use(TableIn(dir)) || !SetIndexTo("")) return Check(false, "writer opens the table");
  std::map<int32_t, Written> mine;
  std::mt19937 random{uint32_t(w)};
  int failed = 0, waits = 0;
  for (int i = 1; time(nullptr) < deadline && failed == 0; ++i) {
    Written v{"w" + std::to_string(w) + "-" + std::to_string(i), long(w) * 1000000 + i,
              memo ? "first text of w" + std::to_string(w) + "-" + std::to_string(i) : ""};
    ClearRecord();
    SetFieldText(1, v.name);
    SetFieldNum(2, double(v.num));
    SetFieldDate(3, "20260" + std::to_string(1 + i % 9) + "1" + std::to_string(i % 10));
    if (memo ? AppendRecordWithMemos({{4, v.memo}}) : AppendRecord()) {
      mine[RecNo()] = v;
      UnlockRec(RecNo());
    } else if (LockWait()) {
      ++waits;
    } else {
      failed += Check(false, "appends " + v.name);
    }
    if (mine.empty()) continue;
    auto it = std::next(mine.begin(), long(random() % mine.size()));
    if (!Goto(it->first) || !RLock(it->first)) {
      if (LockWait()) ++waits;
      else failed += Check(false, "reaches and locks record " + std::to_string(it->first));
      continue;
    }
    Written changed = it->second;
    changed.num = long(random() % 1000000);
    SetFieldNum(2, double(changed.num));
    SetFieldDate(3, "2025" + std::string(changed.num % 2 ? "03" : "11") + "2" + std::to_string(changed.num % 8));
    if (memo) {
      changed.memo = "text " + std::to_string(changed.num) + " of " + changed.name +
                     std::string(size_t(changed.num % 700), '.');
      failed += Check(ReplaceMemo(4, changed.memo), "rewrites the memo");
    }
    if (Replace()) it->second = changed;
    else failed += Check(false, "replaces record " + std::to_string(it->first));
    UnlockRec(it->first);
  }
  std::ofstream report(dir + "/wrote" + std::to_string(w));
  for (const auto& [record, v] : mine) report << record << " " << v.name << " " << v.num << "\n";
  report << "waits " << waits << "\n";
  return failed;
}

// args: directory, reader number, deadline. Walks in key order and seeks until then.
ZEDRA_PROGRAM(shared_reader) {
  ProgramEngine engine;
  const std::string dir = args.at(0);
  const int r = std::stoi(args.at(1));
  const time_t deadline = time_t(std::stoll(args.at(2)));
  WaitForLocks();
  if (!Use(TableIn(dir)) || !SetIndexTo("")) return Check(false, "reader opens the table");
  std::mt19937 random{uint32_t(100 + r)};
  int failed = 0, walks = 0;
  while (time(nullptr) < deadline && failed == 0) {
    std::string last;
    int seeds = 0;
    for (GoTop(); !Eof() && ErrorCode() == 0; Skip(1)) {
      const std::string name = FieldText(1);
      failed += Check(!name.empty() && name >= last, "walks in order: \"" + name + "\" after \"" + last + "\"");
      seeds += name.rfind("seed-", 0) == 0;
      last = name;
      if (failed) break;
    }
    failed += Check(ErrorCode() == 0 && seeds == kSeeds, "walks past every seed record (" +
                                                             std::to_string(seeds) + ")");
    const std::string wanted = SeedName(int(random() % kSeeds));
    failed += Check(Seek(wanted) && FieldText(1) == wanted, "finds " + wanted);
    ++walks;
  }
  return failed + Check(walks > 0, "walked at least once");
}

class SharedIndexTest : public IndexTest {
 protected:
  std::string Table() const { return TableIn(dir_.path()); }

  void MakeTable(bool memo) {
    std::vector<FieldSpec> specs = {{"NAME", 'C', 12, 0}, {"NUM", 'N', 9, 0}, {"DAY", 'D', 8, 0}};
    if (memo) specs.push_back({"NOTES", 'M', 10, 0});
    ASSERT_TRUE(CreateDbf(Table(), memo ? 0x8B : 0x03, specs)) << TakeError();
    ASSERT_TRUE(Use(Table(), Exclusive()));
    for (int i = 0; i < kSeeds; ++i) {
      ClearRecord();
      SetFieldText(1, SeedName(i));
      SetFieldNum(2, i);
      SetFieldDate(3, "20260101");
      ASSERT_TRUE(memo ? AppendRecordWithMemos({{4, "seed memo"}}) : AppendRecord()) << TakeError();
    }
    ASSERT_TRUE(MakeIndex({{"NAME", "NAME", "", 0, 0}, {"NUM", "NUM", "", 0, 0}, {"DAY", "DAY", "", 0, 0}}, ""))
        << TakeError();
    CloseAllAreas();
  }

  void Run(bool memo) {
    MakeTable(memo);
    const std::string deadline = std::to_string(time(nullptr) + RunSeconds());
    std::vector<std::unique_ptr<SeparateProgram>> programs;
    for (int w = 1; w <= kWriters; ++w)
      programs.push_back(std::make_unique<SeparateProgram>(
          "shared_writer", std::vector<std::string>{dir_.path(), std::to_string(w), memo ? "memo" : "plain", deadline}));
    for (int r = 1; r <= kReaders; ++r)
      programs.push_back(std::make_unique<SeparateProgram>(
          "shared_reader", std::vector<std::string>{dir_.path(), std::to_string(r), deadline}));
    for (auto& p : programs) EXPECT_EQ(p->Wait(), 0);

    std::string out;
    EXPECT_EQ(RunCommand(std::string(ZEDRA_TOOL_PATH) + " check " + Table() + " 2>&1", &out), 0) << out;
    EXPECT_FALSE(platform::FileExists(File("SHARED.@S@")));

    ASSERT_TRUE(Use(Table(), Exclusive()));
    int32_t appended = 0;
    for (int w = 1; w <= kWriters; ++w) {
      std::ifstream report(File("wrote" + std::to_string(w)));
      std::string line;
      int32_t records = 0;
      while (std::getline(report, line) && line.rfind("waits", 0) != 0) {
        std::istringstream fields(line);
        int32_t record = 0;
        Written v;
        fields >> record >> v.name >> v.num;
        ASSERT_TRUE(Goto(record));
        EXPECT_EQ(FieldText(1), v.name) << "record " << record;
        EXPECT_EQ(FieldNum(2), double(v.num)) << "record " << record;
        if (memo) {
          const std::string start = v.num > 1000000 ? "first text" : "text " + std::to_string(v.num);
          EXPECT_EQ(GetMemoText(4).rfind(start, 0), 0u) << "record " << record;
        }
        ++records;
      }
      EXPECT_GT(records, 0) << "writer " << w << " wrote nothing";
      appended += records;
    }
    EXPECT_EQ(RecCount(), kSeeds + appended);
  }
};

// In a program: the names of the records in natural order.
std::vector<std::string> Names() {
  std::vector<std::string> names;
  for (int32_t r = 1; r <= RecCount(); ++r) {
    Dbf4RawGo(r);
    names.push_back(FieldText(1));
  }
  return names;
}

// The programs of the crash test; args: directory, then the write the writer dies at.
std::string GateIn(const std::vector<std::string>& args, const std::string& name) {
  return args.at(0) + "/" + name + "-" + args.at(1);
}

// Joins as a reader, and walks once more after the writer died.
ZEDRA_PROGRAM(crash_holder) {
  ProgramEngine engine;
  int failed = Check(Use(TableIn(args.at(0))) && SetIndexTo(""), "reader joins");
  FileGate(GateIn(args, "holder-in")).Post();
  if (!FileGate(GateIn(args, "walk")).Await()) return Check(false, "told to walk");
  GoTop();
  for (int n = 0; !Eof() && ErrorCode() == 0 && n < 1000; ++n) Skip(1);
  failed += Check(ErrorCode() != 1202, "reads on");
  return failed;
}

// Appends one record, then dies at the given write of the next append.
ZEDRA_PROGRAM(crash_writer) {
  ProgramEngine engine;
  const int kill_at = std::stoi(args.at(1));
  WaitForLocks();
  if (!Use(TableIn(args.at(0))) || !SetIndexTo("")) return Check(false, "writer joins");
  ClearRecord();
  SetFieldText(1, "before-" + args.at(1));
  if (!AppendRecord()) return Check(false, "appends before-" + args.at(1));
  int writes = 0;
  platform::SetFaultHook([&](platform::FileChange change, size_t*) {
    if (change == platform::FileChange::Write && ++writes == kill_at) EndAbruptly();
    return 0u;
  });
  FileGate(GateIn(args, "writer-in")).Post();
  ClearRecord();
  SetFieldText(1, "killed");
  AppendRecord();
  return Check(false, "was not killed");
}

// Another writer: times out, since the dead writer still counts in the semaphore file.
ZEDRA_PROGRAM(crash_second) {
  ProgramEngine engine;
  if (!Use(TableIn(args.at(0))) || !SetIndexTo("")) return Check(false, "second writer joins");
  Semaphores().SemaphoreTimeout = 1;
  ClearRecord();
  SetFieldText(1, "second");
  return Check(!AppendRecord() && ErrorCode() == 1202 &&
                   Errors().PendingMessage.find("1 second timeout, cannot read: ") == 0,
               "times out");
}

// Once everybody has stopped: finds the record written before the crash, and writes.
ZEDRA_PROGRAM(crash_next) {
  ProgramEngine engine;
  if (!Use(TableIn(args.at(0))) || !SetIndexTo("")) return Check(false, "next writer joins");
  ClearRecord();
  SetFieldText(1, "after-" + args.at(1));
  const std::vector<std::string> names = Names();
  const std::string before = "before-" + args.at(1);
  return Check(std::count(names.begin(), names.end(), before) == 1, "keeps " + before) +
         Check(AppendRecord(), "appends after the crash");
}

// A writer killed at each write of an append inside its write bracket (the first write
// marks the writer in the semaphore file, the record and the keys of the three tags
// follow): the others time out writing while readers go on, no record written before is
// lost, `zedra check` passes or names the damaged tag, `zedra reindex` repairs it, and
// once everybody has stopped the next program logs in afresh and writes again.
TEST_F(SharedIndexTest, AWriterKilledInsideItsWriteBracketLosesNoRecord) {
  MakeTable(false);
  const std::string zedra = ZEDRA_TOOL_PATH;
  for (int kill_at : {2, 3, 4, 5}) {
    SCOPED_TRACE("killed at write " + std::to_string(kill_at));
    const std::vector<std::string> args = {dir_.path(), std::to_string(kill_at)};
    SeparateProgram holder("crash_holder", args);
    ASSERT_TRUE(FileGate(GateIn(args, "holder-in")).Await());
    SeparateProgram writer("crash_writer", args);
    ASSERT_TRUE(FileGate(GateIn(args, "writer-in")).Await());
    EXPECT_EQ(writer.Wait(), -1);
    SeparateProgram second("crash_second", args);
    EXPECT_EQ(second.Wait(), 0);
    FileGate(GateIn(args, "walk")).Post();
    EXPECT_EQ(holder.Wait(), 0);

    std::string out;
    const int checked = RunCommand(zedra + " check " + Table() + " 2>&1", &out);
    EXPECT_TRUE(checked == 0 || out.find("problem") != std::string::npos) << out;
    EXPECT_EQ(RunCommand(zedra + " reindex " + Table() + " 2>&1", &out), 0) << out;
    EXPECT_EQ(RunCommand(zedra + " check " + Table() + " 2>&1", &out), 0) << out;
    SeparateProgram next("crash_next", args);
    EXPECT_EQ(next.Wait(), 0);
    EXPECT_FALSE(platform::FileExists(File("SHARED.@S@")));
  }
  EXPECT_EQ(RunCommand(zedra + " check " + Table() + " 2>&1", nullptr), 0);
}

TEST_F(SharedIndexTest, WritersAndReadersShareTheProductionIndex) { Run(false); }

TEST_F(SharedIndexTest, WritersRewriteMemosWhileReadersWalk) { Run(true); }

}  // namespace
}  // namespace zedra::testing

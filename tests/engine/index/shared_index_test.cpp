// Four programs on one shared table with a production index of three tags, for a while:
// two append and replace records under record locks, two walk the table in key order and
// seek. Afterwards `zedra check` passes, every record a writer reported is there with its
// last value, every walk was in order and nobody saw an error other than a lock wait.
// The same again with a memo field rewritten at every replacement.
//
// Each run lasts ZEDRA_SHARED_SECONDS seconds (default kDefaultSeconds).
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <algorithm>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "index/semaphore.h"
#include "index_test_util.h"
#include "memo/memo.h"
#include "platform/platform.h"
#include "program_util.h"

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

// What a writer last wrote into one of its records.
struct Written {
  std::string name;
  long num = 0;
  std::string memo;
};

class SharedIndexTest : public IndexTest {
 protected:
  std::string Table() const { return File("SHARED.DBF"); }

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

  // In a program: waits for busy locks in short slices, about two seconds in all.
  static void WaitForLocks() {
    Tables().RetryCount = 200;
    Tables().RetryWait = 1;
    SetWaitPump([](uint32_t max_ms) {
      platform::SleepMs(std::min<uint32_t>(max_ms, 10));
      return false;
    });
  }
  // A lock another program held longer than the wait: reported, not a failure.
  static bool LockWait() {
    const uint16_t code = ErrorCode();
    Errors().ErrorCode = 0;
    return code == 0 || code == platform::kErrLockViolation;
  }

  int Writer(int w, bool memo, time_t deadline) {
    WaitForLocks();
    if (!Use(Table()) || !SetIndexTo("")) return Check(false, "writer opens the table");
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
    std::ofstream report(File("wrote" + std::to_string(w)));
    for (const auto& [record, v] : mine) report << record << " " << v.name << " " << v.num << "\n";
    report << "waits " << waits << "\n";
    return failed;
  }

  int Reader(int r, time_t deadline) {
    WaitForLocks();
    if (!Use(Table()) || !SetIndexTo("")) return Check(false, "reader opens the table");
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

  void Run(bool memo) {
    MakeTable(memo);
    const time_t deadline = time(nullptr) + RunSeconds();
    std::vector<std::unique_ptr<Program>> programs;
    for (int w = 1; w <= kWriters; ++w)
      programs.push_back(std::make_unique<Program>([&, w] { return Writer(w, memo, deadline); }));
    for (int r = 1; r <= kReaders; ++r)
      programs.push_back(std::make_unique<Program>([&, r] { return Reader(r, deadline); }));
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

// A writer killed at each write of an append inside its write bracket (the first write
// marks the writer in the semaphore file, the record and the keys of the three tags
// follow): the others time out
// writing while readers go on, no record written before is lost, `zedra check` passes or
// names the damaged tag, `zedra reindex` repairs it, and once everybody has stopped the
// next program logs in afresh and writes again.
TEST_F(SharedIndexTest, AWriterKilledInsideItsWriteBracketLosesNoRecord) {
  MakeTable(false);
  const std::string zedra = ZEDRA_TOOL_PATH;
  for (int kill_at : {2, 3, 4, 5}) {
    SCOPED_TRACE("killed at write " + std::to_string(kill_at));
    const std::string before = "before-" + std::to_string(kill_at);
    Gate h_in, h_walk, h_walked, w_in;
    Program holder([&] {
      int failed = Check(Use(Table()) && SetIndexTo(""), "reader joins");
      h_in.Post();
      h_walk.Await();
      GoTop();
      for (int n = 0; !Eof() && ErrorCode() == 0 && n < 1000; ++n) Skip(1);
      failed += Check(ErrorCode() != 1202, "reads on");
      h_walked.Post();
      return failed;
    });
    ASSERT_TRUE(h_in.Await());
    Program writer([&] {
      WaitForLocks();
      if (!Use(Table()) || !SetIndexTo("")) return Check(false, "writer joins");
      ClearRecord();
      SetFieldText(1, before);
      if (!AppendRecord()) return Check(false, "appends " + before);
      int writes = 0;
      platform::SetFaultHook([&](platform::FileChange change, size_t*) {
        if (change == platform::FileChange::Write && ++writes == kill_at) raise(SIGKILL);
        return 0u;
      });
      w_in.Post();
      ClearRecord();
      SetFieldText(1, "killed");
      AppendRecord();
      return Check(false, "was not killed");
    });
    ASSERT_TRUE(w_in.Await());
    EXPECT_EQ(writer.Wait(), -1);
    Program second([&] {
      if (!Use(Table()) || !SetIndexTo("")) return Check(false, "second writer joins");
      Semaphores().SemaphoreTimeout = 1;
      ClearRecord();
      SetFieldText(1, "second");
      return Check(!AppendRecord() && ErrorCode() == 1202 &&
                       Errors().PendingMessage.find("1 second timeout, cannot read: ") == 0,
                   "times out");
    });
    EXPECT_EQ(second.Wait(), 0);
    h_walk.Post();
    ASSERT_TRUE(h_walked.Await());
    EXPECT_EQ(holder.Wait(), 0);

    std::string out;
    const int checked = RunCommand(zedra + " check " + Table() + " 2>&1", &out);
    EXPECT_TRUE(checked == 0 || out.find("problem") != std::string::npos) << out;
    EXPECT_EQ(RunCommand(zedra + " reindex " + Table() + " 2>&1", &out), 0) << out;
    EXPECT_EQ(RunCommand(zedra + " check " + Table() + " 2>&1", &out), 0) << out;
    // Everybody has stopped: the next program starts the file afresh and writes.
    Program next([&] {
      if (!Use(Table()) || !SetIndexTo("")) return Check(false, "next writer joins");
      ClearRecord();
      SetFieldText(1, "after-" + std::to_string(kill_at));
      const std::vector<std::string> names = Names();
      return Check(std::count(names.begin(), names.end(), before) == 1, "keeps " + before) +
             Check(AppendRecord(), "appends after the crash");
    });
    EXPECT_EQ(next.Wait(), 0);
    EXPECT_FALSE(platform::FileExists(File("SHARED.@S@")));
  }
  EXPECT_EQ(RunCommand(zedra + " check " + Table() + " 2>&1", nullptr), 0);
}

TEST_F(SharedIndexTest, WritersAndReadersShareTheProductionIndex) { Run(false); }

TEST_F(SharedIndexTest, WritersRewriteMemosWhileReadersWalk) { Run(true); }

}  // namespace
}  // namespace zedra::testing

// Locks and sharing between two real processes: record and file locks, the record count
// of shared and exclusive areas, exclusive opens, the retry policy, the memo pad lock and
// a writer killed half-way.
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>

#include "platform/platform.h"
#include "forked_child.h"
#include "table_test_util.h"

namespace zedra::testing {
namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

class SharingTest : public TableTest {
 protected:
  void SetUp() override {
    TableTest::SetUp();
    path_ = File("S.DBF");
    WriteFileBytes(path_, MakeDbf(0x03, {{"NAME", 'C', 8}}, {" one", " two", " three"}));
  }
  // In the child: opens the table in area 2 (its own open file) and runs body.
  pid_t Child(const std::function<int()>& body, bool exclusive = false) {
    return StartChild([=, this] {
      Select(2);
      if (!Use(path_, exclusive ? Exclusive() : UseOptions{})) return 50 + ErrorCode() % 50;
      return body();
    });
  }
  std::string path_;
};

TEST_F(SharingTest, SharedAreaSeesRecordsAnotherProgramAppended) {
  ASSERT_TRUE(Use(path_));
  EXPECT_EQ(RecCount(), 3);
  std::string out;
  ASSERT_EQ(RunCommand(std::string(ZEDRA_TOOL_PATH) + " append " + path_ + " NAME=four", &out), 0) << out;
  EXPECT_EQ(RecCount(), 4);
  GoBottom();
  EXPECT_EQ(FieldText(1), "four");
  // Our own append goes after it, not over it.
  ASSERT_TRUE(AppendBlank());
  EXPECT_EQ(RecNo(), 5);
}

TEST_F(SharingTest, ExclusiveAreaKeepsItsCount) {
  ASSERT_TRUE(Use(path_, Exclusive()));
  // A writer that ignores the sharing rules adds a record behind our back.
  std::string bytes = ReadFileBytes(path_);
  bytes.pop_back();
  WriteFileBytes(path_, bytes + " four    \x1A");
  EXPECT_EQ(RecCount(), 3);
}

TEST_F(SharingTest, ExclusiveUseFailsWhileAnotherProgramHasTheTable) {
  ASSERT_TRUE(Use(path_));
  pid_t pid = StartChild([=, this] {
    Select(2);
    return Use(path_, Exclusive()) ? 0 : int(ErrorCode());
  });
  EXPECT_EQ(WaitChild(pid), 32) << "sharing violation";
  // And a table open exclusively here keeps the other program out.
  CloseArea();
  ASSERT_TRUE(Use(path_, Exclusive()));
  pid = Child([] { return 0; });
  EXPECT_EQ(WaitChild(pid), 50 + 32 % 50);
}

TEST_F(SharingTest, RecordLocksCollideOnlyOnTheSameRecord) {
  ASSERT_TRUE(Use(path_));
  ASSERT_TRUE(RLock(2));
  EXPECT_TRUE(IsLocked(2));
  EXPECT_FALSE(IsLocked(1));
  pid_t pid = Child([] {
    int result = 0;
    if (RLock(2)) result |= 1;   // must fail: held by the parent
    if (!RLock(1)) result |= 2;  // must succeed
    if (!RLock(3)) result |= 4;
    if (FLock()) result |= 8;    // must fail: record 2 is inside the file range
    return result;
  });
  EXPECT_EQ(WaitChild(pid), 0);
  // Released, the record can be taken by the other program.
  ASSERT_TRUE(UnlockRec(2));
  pid = Child([] { return RLock(2) ? 0 : 1; });
  EXPECT_EQ(WaitChild(pid), 0);
}

TEST_F(SharingTest, FileLockAndUnlockReleaseExactlyTheirRanges) {
  ASSERT_TRUE(Use(path_));
  ASSERT_TRUE(FLock());
  EXPECT_TRUE(IsLocked(3));
  const uint64_t base = Tables().LockBase;
  auto probe = [=, this](uint64_t offset, uint64_t length) {
    pid_t pid = StartChild([=, this] {
      EngineFile f;
      if (f.Open(path_, 66) != 0) return 9;
      return platform::LockRegion(f.handle(), offset, length) == 0 ? 0 : 1;
    });
    return WaitChild(pid);
  };
  EXPECT_EQ(probe(base + 1, 1), 1);
  const uint64_t span = FileLockSpan();
  EXPECT_EQ(probe(base + Tables().FileLockLength + 1, 1), 1) << "past 1 GiB of records";
  EXPECT_EQ(probe(base + span, 1), 1);
  EXPECT_EQ(probe(base + span + 1, 1), 0) << "just past the file lock";
  EXPECT_EQ(probe(base, 1), 0) << "the table lock byte is separate";
  Unlock();
  EXPECT_EQ(CurrentArea()->lock_state, LockState::None);
  EXPECT_EQ(probe(base + 1, span), 0);
  ASSERT_TRUE(LockSingleByte());
  EXPECT_EQ(probe(base + 1, 1), 1);
  EXPECT_EQ(probe(base + 2, 1), 0);
  Unlock();
  EXPECT_EQ(probe(base + 1, 1), 0);
}

TEST_F(SharingTest, UnlockRecSelectorsAndCounts) {
  ASSERT_TRUE(Use(path_));
  EXPECT_TRUE(UnlockRec(-3)) << "nothing to release";
  ASSERT_TRUE(RLock(1));
  ASSERT_TRUE(RLock(2));
  ASSERT_TRUE(RLock(3));
  DbfArea& a = *CurrentArea();
  EXPECT_EQ(a.lock_count, 3);
  EXPECT_EQ(a.lock_state, LockState::Records);
  EXPECT_FALSE(UnlockRec(7));
  EXPECT_EQ(ErrorCode(), 220);
  EXPECT_EQ(Errors().PendingMessage, "Record not locked. [UnlockRec(7)]");
  EXPECT_TRUE(UnlockRec(-1));
  EXPECT_EQ(a.lock_list, (std::vector<int32_t>{1, 2}));
  EXPECT_TRUE(UnlockRec(-2));
  EXPECT_EQ(a.lock_list, (std::vector<int32_t>{2}));
  EXPECT_FALSE(UnlockRec(0));
  EXPECT_EQ(Errors().PendingMessage, "[UnlockRec(0)]");
  EXPECT_FALSE(UnlockRec(-4));
  EXPECT_TRUE(UnlockRec(2));
  EXPECT_EQ(a.lock_count, 0);
  EXPECT_EQ(a.lock_state, LockState::None);
}

TEST_F(SharingTest, LockingOffTouchesNoLock) {
  ASSERT_TRUE(Use(path_));
  Tables().LockingOn = false;
  EXPECT_TRUE(LockDbfFile());
  EXPECT_TRUE(RLock(1));
  EXPECT_EQ(CurrentArea()->lock_state, LockState::None);
  UnlockDbfFile();
  EXPECT_EQ(ErrorCode(), 0);
  // No lock was taken: another program may take every range.
  pid_t pid = StartChild([=, this] {
    EngineFile f;
    if (f.Open(path_, 66) != 0) return 9;
    return platform::LockRegion(f.handle(), 0, 0xFFFFFFFFFFull) == 0 ? 0 : 1;
  });
  EXPECT_EQ(WaitChild(pid), 0);
}

TEST_F(SharingTest, RetryPolicyWaitsBetweenAttempts) {
  ASSERT_TRUE(Use(path_));
  Signal ready, done;
  pid_t pid = Child([&] {
    if (!RLock(1)) return 1;
    ready.Send();
    done.Wait();
    return 0;
  });
  ASSERT_TRUE(ready.Wait());
  int pumped = 0;
  SetWaitPump([&](uint32_t ms) {
    ++pumped;
    platform::SleepMs(std::min<uint32_t>(ms, 50));
    return true;
  });
  Tables().RetryCount = 2;
  Tables().RetryWait = 1;
  auto start = Clock::now();
  EXPECT_FALSE(RLock(1));
  double took = SecondsSince(start);
  EXPECT_GE(took, 1.9) << "3 attempts, a second apart";
  EXPECT_LT(took, 4.0);
  EXPECT_GT(pumped, 2) << "the window system is served while waiting";
  // A callback that asks for more attempts restarts them; one that says no ends them.
  Tables().RetryCount = 0;
  int asked = 0;
  Tables().RetryExhausted = [&] { return ++asked < 3; };
  EXPECT_FALSE(RLock(1));
  EXPECT_EQ(asked, 3);
  SetWaitPump(nullptr);
  done.Send();
  EXPECT_EQ(WaitChild(pid), 0);
}

TEST_F(SharingTest, MemoPadLockWaitsARealIntervalBetweenAttempts) {
  ASSERT_TRUE(Use(path_));
  WriteFileBytes(File("S.DBT"), std::string(512, '\0'));
  auto memo = std::make_unique<MemoDescriptor>();
  ASSERT_EQ(memo->file.Open(File("S.DBT"), 66), 0u);
  CurrentArea()->memo = std::move(memo);
  CurrentArea()->has_memo = true;
  Signal ready, done;
  pid_t pid = StartChild([&] {
    EngineFile f;
    if (f.Open(File("S.DBT"), 66) != 0 || platform::LockRegion(f.handle(), 10, 1) != 0) return 1;
    ready.Send();
    done.Wait();
    return 0;
  });
  ASSERT_TRUE(ready.Wait());
  auto start = Clock::now();
  EXPECT_FALSE(LockMemoPad());
  EXPECT_GE(SecondsSince(start), 0.45) << "10 waits of about 50 ms";
  EXPECT_FALSE(CurrentArea()->memo->pad_locked);
  done.Send();
  EXPECT_EQ(WaitChild(pid), 0);
  EXPECT_TRUE(LockMemoPad());
  EXPECT_TRUE(CurrentArea()->memo->pad_locked);
  EXPECT_TRUE(UnlockMemoPad());
  EXPECT_FALSE(CurrentArea()->memo->pad_locked);
  // With the retry policy asking for more, the wait goes on beyond the quick attempts.
  Signal held;
  pid = StartChild([&] {
    EngineFile f;
    if (f.Open(File("S.DBT"), 66) != 0 || platform::LockRegion(f.handle(), 10, 1) != 0) return 1;
    held.Send();
    platform::SleepMs(1500);
    return 0;
  });
  ASSERT_TRUE(held.Wait());
  Tables().RetryCount = 10;
  Tables().RetryWait = 1;
  EXPECT_TRUE(LockMemoPad());
  EXPECT_TRUE(UnlockMemoPad());
  EXPECT_EQ(WaitChild(pid), 0);
  CurrentArea()->has_memo = false;
  CurrentArea()->memo.reset();
}

TEST_F(SharingTest, SharedAppendLocksTheNewRecords) {
  ASSERT_TRUE(Use(path_));
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(AppendBlank());
  // Appended records stay locked for us (so Replace may write them) until Unlock.
  EXPECT_EQ(CurrentArea()->lock_list, (std::vector<int32_t>{4, 5, 6}));
  ASSERT_TRUE(SetFieldText(1, "six"));
  EXPECT_TRUE(Replace());
  pid_t pid = Child([] { return RLock(5) ? 1 : 0; });
  EXPECT_EQ(WaitChild(pid), 0);
  Unlock();
  Goto(5);
  EXPECT_FALSE(Replace());
  EXPECT_EQ(ErrorCode(), 1200);
}

TEST_F(SharingTest, WriterKilledWhileAppendingLeavesAReadableTable) {
  pid_t pid = Child([] {
    for (int i = 0; i < 3; ++i) {
      if (!AppendBlank() || !SetFieldText(1, "new" + std::to_string(i)) || !Replace()) return 1;
    }
    // Half of a record, then the program dies before anything else is written.
    DbfArea& a = *CurrentArea();
    std::vector<uint8_t> half(a.record_length / 2, 'Z');
    a.file.WriteAt(a.RecordOffset(a.record_count + 1), half);
    kill(getpid(), SIGKILL);
    return 2;
  });
  EXPECT_EQ(WaitChild(pid), -1) << "killed";
  ASSERT_TRUE(Use(path_));
  EXPECT_EQ(RecCount(), 6);
  GoBottom();
  EXPECT_EQ(FieldText(1), "new2");
  ASSERT_TRUE(AppendBlank());
  EXPECT_EQ(RecNo(), 7);
  CloseArea();
  ASSERT_TRUE(Use(path_, Exclusive()));
  EXPECT_EQ(RecCount(), 7);
}

TEST_F(SharingTest, ReopenSwitchesTheSharingMode) {
  ASSERT_TRUE(Use(path_));
  EXPECT_EQ(ReopenDbf(true), 0u);
  EXPECT_TRUE(CurrentArea()->exclusive);
  pid_t pid = Child([] { return 0; });
  EXPECT_EQ(WaitChild(pid), 50 + 32 % 50);
  EXPECT_EQ(ReopenDbf(false), 0u);
  EXPECT_FALSE(CurrentArea()->exclusive);
  pid = Child([] { return 0; });
  EXPECT_EQ(WaitChild(pid), 0);
  // A table opened exclusively is not reopened.
  CloseArea();
  ASSERT_TRUE(Use(path_, Exclusive()));
  EXPECT_EQ(ReopenDbf(false), 5u);
}

uint64_t ReadFileSize(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? uint64_t(st.st_size) : 0;
}

// A sparse table that claims `size` bytes: its records past the written ones read as
// zeros, which is all that locks and the size limit look at.
void MakeSparseTable(const std::string& path, uint64_t size) {
  WriteFileBytes(path, MakeDbf(0x03, {{"NAME", 'C', 8}}, {" one"}, false));
  ASSERT_EQ(truncate(path.c_str(), off_t(size)), 0);
}

TEST_F(SharingTest, FileLockCoversRecordsPastOneGiBAndTablesStopAtTwo) {
  const std::string big = File("BIG.DBF");
  MakeSparseTable(big, 0x60000000);  // 1.5 GiB
  ASSERT_TRUE(Use(big));
  const int32_t last = RecCount();
  ASSERT_GT(CurrentArea()->RecordOffset(last), uint64_t(Tables().FileLockLength));
  ASSERT_TRUE(FLock());
  pid_t pid = StartChild([&] {
    Select(2);
    if (!Use(big)) return 9;
    int result = 0;
    if (RLock(last)) result |= 1;  // must fail: inside the file lock
    if (RLock(2)) result |= 2;
    return result;
  });
  EXPECT_EQ(WaitChild(pid), 0);
  // The other way round: a record lock past 1 GiB keeps the file lock out.
  Unlock();
  ASSERT_TRUE(RLock(last));
  pid = StartChild([&] {
    Select(2);
    if (!Use(big)) return 9;
    return FLock() ? 1 : 0;
  });
  EXPECT_EQ(WaitChild(pid), 0);
  CloseArea();

  // One record short of the limit: that record fits, the next one is refused.
  MakeSparseTable(big, kMaxTableBytes - 9 - 1 - 5);
  ASSERT_TRUE(Use(big));
  ASSERT_TRUE(AppendBlank()) << TakeError();
  const uint64_t size = ReadFileSize(big);
  EXPECT_LE(size, kMaxTableBytes);
  EXPECT_FALSE(AppendBlank());
  EXPECT_EQ(ErrorCode(), 212);
  EXPECT_NE(Errors().PendingMessage.find("cannot grow past 2147483647 bytes"), std::string::npos)
      << Errors().PendingMessage;
  TakeError();
  CloseArea();
  EXPECT_EQ(ReadFileSize(big), size) << "nothing written";
  remove(big.c_str());
}

// Another program appends at the moment this one writes its header at close: the count
// and the end marker must take that record into account, never land on it.
TEST_F(SharingTest, CloseWritesItsHeaderUnderTheTableLockWithAFreshCount) {
  for (bool rewrite : {false, true}) {
    WriteFileBytes(path_, MakeDbf(0x03, {{"NAME", 'C', 8}}, {" one", " two", " three"}));
    Select(2);
    ASSERT_TRUE(Use(path_));  // the other program: its own open file, its own locks
    Select(1);
    ASSERT_TRUE(Use(path_));
    if (rewrite) {
      ASSERT_TRUE(RLock(1));
      ASSERT_TRUE(SetFieldText(1, "uno"));
      ASSERT_TRUE(Replace());
    } else {
      ASSERT_TRUE(AppendBlank());
      ASSERT_TRUE(SetFieldText(1, "four"));
      ASSERT_TRUE(Replace());
    }
    bool inside = false, other_appended = false;
    platform::SetFaultHook([&](platform::FileChange change, size_t*) -> uint32_t {
      if (inside || change != platform::FileChange::Write) return 0;
      inside = true;
      Select(2);
      ClearRecord();
      SetFieldText(1, "other");
      other_appended = AppendRecord();
      Errors().ErrorCode = 0;
      CloseArea();  // the other program is done before this one finishes its close
      Select(1);
      platform::SetFaultHook(nullptr);
      return 0;
    });
    CloseArea();
    platform::SetFaultHook(nullptr);
    ASSERT_TRUE(inside);
    // Refused while the header was written, the other program's append goes through now.
    if (!other_appended) {
      Select(2);
      ASSERT_TRUE(Use(path_));
      ClearRecord();
      ASSERT_TRUE(SetFieldText(1, "other"));
      ASSERT_TRUE(AppendRecord()) << TakeError();
      CloseArea();
      Select(1);
    }

    const std::string bytes = ReadFileBytes(path_);
    const auto* b = reinterpret_cast<const uint8_t*>(bytes.data());
    const uint16_t hl = GetLE16(b + 8), rl = GetLE16(b + 10);
    const uint32_t records = uint32_t((bytes.size() - hl) / rl);
    const uint32_t expected = rewrite ? 4 : 5;
    EXPECT_EQ(records, expected) << "rewrite " << rewrite;
    EXPECT_EQ(GetLE32(b + 4), expected) << "header count, rewrite " << rewrite;
    for (uint32_t r = 0; r < records; ++r) {
      EXPECT_EQ(bytes[hl + r * rl], ' ') << "record " << r + 1 << ", rewrite " << rewrite;
    }
    EXPECT_EQ(bytes.substr(hl + (records - 1) * rl + 1, 5), "other");
    EXPECT_EQ(bytes.back(), '\x1A');
  }
}

// Tables on files this program may only read: every reading command works and locks
// either work or fail with an error of their own.
TEST_F(SharingTest, ReadOnlyTablesReadAndLockThroughEveryCommand) {
  const std::string zedra = ZEDRA_TOOL_PATH;
  const std::string table = File("RO.DBF");
  std::string out;
  ASSERT_EQ(RunCommand(zedra + " create " + table + " --field NAME:C:8 --field NOTES:M", &out), 0) << out;
  ASSERT_EQ(RunCommand(zedra + " append " + table + " NAME=one NOTES=first", &out), 0) << out;
  chmod(table.c_str(), 0444);
  chmod(File("RO.DBT").c_str(), 0444);
  chmod(dir_.path().c_str(), 0755);
  // root may write anything: the commands run as an ordinary user then.
  const std::string as_user = geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
  ASSERT_EQ(RunCommand(as_user + zedra + " append --wait 0 " + table + " NAME=two 2>&1", &out), 1)
      << "the files are read only: " << out;
  EXPECT_EQ(RunCommand(as_user + zedra + " memo " + table + " NOTES 1 2>&1", &out), 0) << out;
  EXPECT_EQ(out, "first");
  EXPECT_EQ(RunCommand(as_user + zedra + " eval --table " + table + " NOTES 2>&1", &out), 0) << out;
  EXPECT_EQ(out.substr(out.rfind('\t') + 1), "first\n") << out;
  EXPECT_EQ(RunCommand(as_user + zedra + " list " + table + " 2>&1", &out), 0) << out;
  EXPECT_NE(out.find("first"), std::string::npos) << out;
  EXPECT_EQ(RunCommand(as_user + zedra + " info " + table + " 2>&1", &out), 0) << out;

  // A read-only open locks as a reader: it keeps writers out of what it holds.
  UseOptions read_only;
  read_only.read_only = true;
  ASSERT_TRUE(Use(table, read_only));
  ASSERT_TRUE(RLock(1)) << TakeError();
  ASSERT_TRUE(LockDbfFile()) << TakeError();
  pid_t pid = StartChild([&] {
    Select(2);
    if (!Use(table)) return 9;
    int result = 0;
    if (RLock(1)) result |= 1;
    if (LockDbfFile()) result |= 2;
    if (ErrorCode() != 0) result |= 4;  // a collision is a plain false
    return result;
  });
  EXPECT_EQ(WaitChild(pid), 0);
  UnlockDbfFile();
  EXPECT_TRUE(UnlockRec(1));
  ASSERT_TRUE(FLock()) << TakeError();
  CloseArea();
  // A lock that fails for any reason but another program's lock says so.
  EngineFile closed;
  EXPECT_FALSE(LockWithRetry(closed, Tables().LockBase, 1));
  EXPECT_EQ(ErrorCode(), platform::kErrInvalidHandle);
}

// While a pack puts its new table in place, a program that opens the table meets the
// pack's hold on the old file and on the new one alike: it neither writes a file that the
// rename replaces nor takes the new table from the pack, which goes on with the new file.
TEST_F(SharingTest, PackHoldsTheTableWhileItReplacesIt) {
  ASSERT_TRUE(Use(path_, Exclusive()));
  Goto(2);
  ASSERT_TRUE(DeleteRec());
  std::vector<platform::FileChange> steps;
  std::vector<uint32_t> opens;
  platform::SetFaultHook([&](platform::FileChange change, size_t*) -> uint32_t {
    // The rename of the table and the removal of the journal that follows it.
    if (change != platform::FileChange::Rename && change != platform::FileChange::Remove) return 0;
    uint32_t error = 0;
    platform::FileHandle fd = platform::OpenFile(path_, platform::kModeReadWriteShared, &error);
    if (fd != platform::kInvalidFile) platform::CloseFile(fd);
    steps.push_back(change);
    opens.push_back(error);
    return 0;
  });
  const bool packed = Pack();
  platform::SetFaultHook(nullptr);
  ASSERT_TRUE(packed) << TakeError();
  ASSERT_EQ(steps, (std::vector<platform::FileChange>{platform::FileChange::Rename,
                                                      platform::FileChange::Remove}));
  for (size_t i = 0; i < opens.size(); ++i)
    EXPECT_EQ(opens[i], platform::kErrSharingViolation) << "step " << i;
  EXPECT_EQ(CurrentArea()->file.path(), path_);
  EXPECT_EQ(RecCount(), 2);
  Goto(2);
  EXPECT_EQ(FieldText(1), "three");
  ClearRecord();
  ASSERT_TRUE(SetFieldText(1, "four"));
  ASSERT_TRUE(AppendRecord()) << TakeError();
  CloseArea();
  ASSERT_TRUE(Use(path_));
  EXPECT_EQ(RecCount(), 3);
  Goto(3);
  EXPECT_EQ(FieldText(1), "four");
}

// The tool waits for a table lock or a table that another program holds, through the
// retry policy, and fails with the engine's message once --wait has run out.
TEST_F(SharingTest, ToolWaitsForBusyLocksAndTables) {
  const std::string append = std::string(ZEDRA_TOOL_PATH) + " append ";
  std::string out;
  for (bool exclusive : {false, true}) {
    ASSERT_TRUE(Use(path_, exclusive ? Exclusive() : UseOptions{}));
    if (!exclusive) {
      ASSERT_TRUE(LockDbfFile());
    }
    EXPECT_EQ(RunCommand(append + "--wait 0 " + path_ + " NAME=lost 2>&1", &out), 1);
    EXPECT_EQ(out.rfind(exclusive ? "Error # 32 (File sharing violation)\n"
                                  : "Error # 33 (File lock violation)\n", 0), 0u) << out;
    // Held throughout: the attempts, a short slice apart, end with the --wait total.
    EXPECT_EQ(RunCommand(append + "--wait 1 " + path_ + " NAME=lost 2>&1", &out), 1);
    EXPECT_EQ(out.rfind(exclusive ? "Error # 32 (File sharing violation)\n"
                                  : "Error # 33 (File lock violation)\n", 0), 0u) << out;
    // Released while the tool waits: its append goes through.
    // Started through exec, so that it shares none of our open files (nor their locks).
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
      const std::string command = append + "--wait 20 " + path_ + " NAME=waited >/dev/null";
      execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    platform::SleepMs(1500);
    if (exclusive) {
      CloseArea();
    } else {
      UnlockDbfFile();
    }
    EXPECT_EQ(WaitChild(pid), 0) << "exclusive " << exclusive;
    CloseArea();
  }
  ASSERT_TRUE(Use(path_));
  EXPECT_EQ(RecCount(), 5);
  for (int32_t n : {4, 5}) {
    Goto(n);
    EXPECT_EQ(FieldText(1), "waited");
  }
  EXPECT_EQ(RunCommand(std::string(ZEDRA_TOOL_PATH) + " pack --wait 0 " + path_ + " 2>&1", &out), 1);
  EXPECT_EQ(out.rfind("Error # 32 (File sharing violation)\n", 0), 0u) << out;
  EXPECT_EQ(RunCommand(append + "--wait x " + path_ + " NAME=x 2>&1", &out), 2);
}

}  // namespace
}  // namespace zedra::testing

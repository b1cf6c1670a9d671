// Reading ahead and held-back appends: walks with and without the read-ahead see the same
// records, writes made during a walk are seen by the next read, another program's
// appends and changes reach a shared table as before, and an append writes its record once.
#include <random>

#include "platform/platform.h"
#include "table_test_util.h"
#ifndef _WIN32
#include "forked_child.h"
#endif

namespace zedra::testing {
namespace {

// What a walk saw: record number, deletion flag and field bytes, one entry per stop.
using Trace = std::vector<std::string>;

std::string Here() {
  if (Eof()) return "eof";
  const DbfArea& a = *CurrentArea();
  return std::to_string(RecNo()) + (Bof() ? "^" : ":") +
         std::string(a.record.begin(), a.record.end());
}

class ReadAheadTest : public TableTest {
 protected:
  // A table of n random records (a third deleted), longer than several read-ahead blocks.
  void MakeRandomTable(const std::string& path, int n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<std::string> records;
    for (int i = 0; i < n; ++i) {
      std::string r(1, rng() % 3 == 0 ? '*' : ' ');
      for (int k = 0; k < 30; ++k) r += char('A' + rng() % 26);
      r += std::to_string(1000000 + rng() % 9000000).substr(0, 7);
      records.push_back(r);
    }
    WriteFileBytes(path, MakeDbf(0x03, {{"NAME", 'C', 30}, {"QTY", 'N', 7}}, records));
  }

  // Forwards, backwards and by random steps, in natural order.
  Trace Walks(uint32_t seed) {
    Trace t;
    for (GoTop(); !Eof(); Skip(1)) t.push_back(Here());
    for (GoBottom(); !Bof(); Skip(-1)) t.push_back(Here());
    t.push_back(Here());
    std::mt19937 rng(seed);
    GoTop();
    for (int i = 0; i < 400 && ErrorCode() == 0; ++i) {
      const int32_t step = int32_t(rng() % 41) - 20;
      Skip(step);
      t.push_back(std::to_string(step) + "=" + Here());
      if (Eof() || Bof()) Goto(int32_t(1 + rng() % std::max(1, RecCount())));
    }
    t.push_back("error " + std::to_string(ErrorCode()));
    return t;
  }
};

TEST_F(ReadAheadTest, WalksSeeTheSameRecordsWithAndWithoutReadAhead) {
  const std::string path = File("R.DBF");
  MakeRandomTable(path, 5000, 7);
  for (bool exclusive : {true, false}) {
    for (bool hide_deleted : {false, true}) {
      for (const char* filter : {"", "QTY > 5000000"}) {
        Trace seen[2];
        for (bool ahead : {false, true}) {
          Tables().ReadAhead = ahead;
          ASSERT_TRUE(Use(path, exclusive ? Exclusive() : UseOptions{}));
          if (!exclusive) {
            ASSERT_TRUE(FLock()) << "the file lock lets a shared table read ahead";
          }
          CurrentArea()->HideDeleted = hide_deleted;
          ASSERT_TRUE(SetFilter(filter));
          seen[ahead] = Walks(11);
          CloseArea();
        }
        EXPECT_EQ(seen[0], seen[1]) << exclusive << hide_deleted << filter;
        EXPECT_GT(seen[1].size(), 1000u);
      }
    }
  }
}

TEST_F(ReadAheadTest, WritesDuringABufferedWalkAreSeenByTheNextRead) {
  const std::string path = File("W.DBF");
  MakeRandomTable(path, 3000, 3);
  ASSERT_TRUE(Use(path, Exclusive()));
  for (GoTop(); RecNo() < 20; Skip(1)) {
  }
  // Replace a record the read-ahead holds, then read it again.
  Goto(25);
  ASSERT_TRUE(SetFieldText(1, "REPLACED"));
  ASSERT_TRUE(Replace());
  Goto(24);
  Skip(1);
  EXPECT_EQ(FieldText(1), "REPLACED");
  // Delete and recall, Poke, append.
  ASSERT_TRUE(DeleteRec());
  Skip(1);
  Skip(-1);
  EXPECT_TRUE(Deleted());
  Poke("POKED", 1, 26);
  Skip(1);
  EXPECT_EQ(FieldRaw(1).substr(0, 5), "POKED");
  ASSERT_TRUE(AppendBlank());
  ASSERT_TRUE(SetFieldText(1, "LAST"));
  ASSERT_TRUE(Replace());
  GoBottom();
  EXPECT_EQ(RecNo(), 3001);
  EXPECT_EQ(FieldText(1), "LAST");
  Skip(-1);
  EXPECT_EQ(RecNo(), 3000);
  // Pack drops the deleted records: the next walk sees the packed table.
  ASSERT_TRUE(Pack());
  int32_t walked = 0;
  bool any_deleted = false;
  for (GoTop(); !Eof(); Skip(1)) ++walked, any_deleted |= Deleted();
  EXPECT_EQ(walked, RecCount());
  EXPECT_FALSE(any_deleted);
  EXPECT_LT(walked, 3001);
  ASSERT_TRUE(Zap());
  GoTop();
  EXPECT_TRUE(Eof());
}

// Forks the other program from inside the test (POSIX only).
#ifndef _WIN32
TEST_F(ReadAheadTest, SharedTableSeesAnotherProgramsChanges) {
  const std::string path = File("S.DBF");
  MakeRandomTable(path, 2000, 5);
  ASSERT_TRUE(Use(path));
  // Without the file lock: records appended and changed by another program during the
  // walk are seen as the walk reaches them.
  Signal go, done;
  pid_t child = StartChild([&] {
    Select(2);
    if (!Use(path)) return 50;
    go.Wait();
    Goto(1500);
    if (!RLock(1500) || !SetFieldText(1, "CHANGED") || !Replace()) return 51;
    for (int i = 0; i < 5; ++i)
      if (!AppendBlank() || !SetFieldText(1, "NEW") || !Replace()) return 52;
    Unlock();
    done.Send();
    return 0;
  });
  GoTop();
  for (int i = 0; i < 1000; ++i) Skip(1);
  go.Send();
  ASSERT_TRUE(done.Wait());
  int32_t last = 0;
  std::string at_1500;
  for (; !Eof(); Skip(1)) {
    last = RecNo();
    if (last == 1500) at_1500 = FieldText(1);
  }
  EXPECT_EQ(WaitChild(child), 0);
  EXPECT_EQ(at_1500, "CHANGED");
  EXPECT_EQ(last, 2005);

  // Under the file lock the table is read ahead; a change made between two locks is seen
  // once the lock is taken again.
  ASSERT_TRUE(FLock());
  Goto(98);
  Skip(1);
  Skip(1);
  EXPECT_EQ(RecNo(), 100);
  EXPECT_NE(FieldText(1), "AGAIN");
  Unlock();
  child = StartChild([&] {
    Select(2);
    if (!Use(path) || !Goto(100) || !RLock(100) || !SetFieldText(1, "AGAIN") || !Replace()) return 53;
    return 0;
  });
  EXPECT_EQ(WaitChild(child), 0);
  ASSERT_TRUE(FLock());
  Goto(100);
  EXPECT_EQ(FieldText(1), "AGAIN");
}
#endif

TEST_F(ReadAheadTest, ExclusiveAppendWritesItsRecordOnce) {
  const std::string path = File("A.DBF");
  MakeRandomTable(path, 2, 1);
  ASSERT_TRUE(Use(path, Exclusive()));
  int writes = 0;
  platform::SetFaultHook([&](platform::FileChange change, size_t*) -> uint32_t {
    writes += change == platform::FileChange::Write;
    return 0;
  });
  ASSERT_TRUE(AppendBlank());
  EXPECT_EQ(RecCount(), 3);
  EXPECT_EQ(RecNo(), 3);
  ASSERT_TRUE(SetFieldText(1, "ONCE"));
  ASSERT_TRUE(SetFieldNum(2, 42));
  ASSERT_TRUE(Replace());
  EXPECT_EQ(writes, 1);
  // A blank that is not replaced stands as a blank once anything reads the table; the
  // fields set in the buffer meanwhile are not part of it.
  ASSERT_TRUE(AppendBlank());
  ASSERT_TRUE(SetFieldText(1, "NOT REPLACED"));
  EXPECT_EQ(Peek(1, 4), std::string(30, ' '));
  ASSERT_TRUE(AppendBlank());
  Goto(3);
  EXPECT_EQ(FieldText(1), "ONCE");
  EXPECT_EQ(FieldRaw(2), "     42");
  platform::SetFaultHook({});
  CloseArea();
  // In the file: five records, the last two blank, and the end-of-file marker.
  std::string bytes = ReadFileBytes(path);
  const size_t header = 32 + 64 + 1, rl = 38;
  ASSERT_EQ(bytes.size(), header + 5 * rl + 1);
  EXPECT_EQ(bytes.substr(header + 3 * rl, 2 * rl), std::string(2 * rl, ' '));
  EXPECT_EQ(bytes.back(), '\x1A');
  EXPECT_EQ(uint8_t(bytes[4]), 5);

  // When the held-back record cannot be written, it is not counted and the error is given.
  ASSERT_TRUE(Use(path, Exclusive()));
  ASSERT_TRUE(AppendBlank());
  platform::SetFaultHook([](platform::FileChange change, size_t*) -> uint32_t {
    return change == platform::FileChange::Write ? platform::kErrDiskFull : 0;
  });
  EXPECT_FALSE(Replace());
  EXPECT_NE(ErrorCode(), 0);
  TakeError();
  platform::SetFaultHook({});
  EXPECT_EQ(RecCount(), 5);
  CloseArea();
  // A table open for reading only refuses the append at once.
  UseOptions read_only = Exclusive();
  read_only.read_only = true;
  ASSERT_TRUE(Use(path, read_only));
  EXPECT_FALSE(AppendBlank());
  TakeError();
  EXPECT_EQ(RecCount(), 5);
}

TEST_F(ReadAheadTest, NumbersAreStoredInTheirExactForms) {
  WriteFileBytes(File("N.DBF"), MakeDbf(0x03, {{"A", 'N', 8, 2}, {"B", 'N', 4}, {"C", 'N', 3, 1}}, {}));
  ASSERT_TRUE(Use(File("N.DBF"), Exclusive()));
  ASSERT_TRUE(AppendBlank());
  struct Case {
    int field;
    double value;
    const char* stored;  // nullptr: too wide
  } cases[] = {{1, 0.125, "    0.12"}, {1, 0.375, "    0.38"}, {1, -0.001, "    0.00"},
               {1, -12345.675, nullptr}, {1, -1234.5, "-1234.50"}, {1, 99999.999, nullptr},
               {2, 9999.4, "9999"},       {2, -999.4, "-999"},     {2, 0.5, "   0"},
               {2, -0.4, "   0"},        {3, 9.95, "9.9"},        {3, 1e300, nullptr}};
  for (const Case& c : cases) {
    ASSERT_TRUE(SetFieldRaw(c.field, "x"));
    const bool stored = SetFieldNum(c.field, c.value);
    EXPECT_EQ(stored, c.stored != nullptr) << c.value;
    if (c.stored) {
      EXPECT_EQ(FieldRaw(c.field), c.stored) << c.value;
    } else {
      EXPECT_EQ(TakeError().substr(0, 20), "220: Value too wide:") << c.value;
    }
  }
}

}  // namespace
}  // namespace zedra::testing

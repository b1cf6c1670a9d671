// Full disks, short writes and files beyond the size limit: every failing write of an
// append (with its memos), a record rewrite, a memo rewrite and a create reports error 101
// and leaves the files byte for byte as they were.
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include "engine/memo/memo_test_util.h"
#ifndef _WIN32
#include "engine/table/forked_child.h"
#endif
#include "platform/platform.h"

namespace zedra::testing {
namespace {

using platform::FileChange;

// Lets the writes before number `step` through and makes that one fail, either at once
// (the disk is full) or after half of its bytes (a short write).
class WriteFault {
 public:
  WriteFault(int step, bool shorten) {
    platform::SetFaultHook([this, step, shorten](FileChange change, size_t* size) -> uint32_t {
      if (change != FileChange::Write && change != FileChange::Create) return 0;
      if (++seen_ != step) return 0;
      hit_ = true;
      if (!shorten || change != FileChange::Write) return platform::kErrDiskFull;
      *size /= 2;
      return 0;
    });
  }
  ~WriteFault() { platform::SetFaultHook({}); }
  bool hit() const { return hit_; }

 private:
  int seen_ = 0;
  bool hit_ = false;
};

class WriteFailureTest : public MemoTest, public ::testing::WithParamInterface<uint8_t> {
 protected:
  // T with two records, each with a memo, closed.
  void MakeFilledTable() {
    ASSERT_TRUE(MakeTable("T", GetParam())) << TakeError();
    AddRecord("first memo");
    AddRecord(std::string(700, 'x'));
    CloseAllAreas();
    memo_ = MemoPath("T", MemoFileExt(GetParam()));
  }
  std::string Dbf() const { return ReadFileBytes(File("T.DBF")); }
  std::string Memo() const { return ReadFileBytes(memo_); }

  std::string memo_;
};

// Each write of the append fails in turn, at once and half-way, until the append gets
// through; every failure is 101 with both files unchanged. Shared, the append also writes
// the header under the table lock.
TEST_P(WriteFailureTest, AFailedAppendWithMemosLeavesBothFilesAsTheyWere) {
  MakeFilledTable();
  for (int round = 0; round < 4; ++round) {
    const bool shorten = round % 2 == 1;
    UseOptions options;
    options.exclusive = round < 2;
    for (int step = 1;; ++step) {
      SCOPED_TRACE(::testing::Message() << "write " << step << (shorten ? " cut short" : " failed")
                                        << (options.exclusive ? "" : ", shared"));
      const std::string dbf = Dbf(), memo = Memo();
      ASSERT_TRUE(Use(File("T"), options)) << TakeError();
      ClearRecord();
      ASSERT_TRUE(SetFieldText(1, "new"));
      bool appended;
      bool hit;
      {
        WriteFault fault(step, shorten);
        appended = AppendRecordWithMemos({{2, "a new memo"}, {2, std::string(600, 'y')}});
        hit = fault.hit();
      }
      if (!hit) {
        EXPECT_TRUE(appended) << TakeError();
        CloseAllAreas();
        ASSERT_TRUE(Use(File("T"), Exclusive()));
        EXPECT_EQ(RecCount(), 3);
        Dbf4Go(3);
        EXPECT_EQ(GetMemoText(2), std::string(600, 'y'));
        CloseAllAreas();
        break;
      }
      EXPECT_FALSE(appended);
      EXPECT_EQ(ErrorCode(), 101) << TakeError();
      TakeError();
      CloseAllAreas();
      EXPECT_EQ(Dbf(), dbf);
      EXPECT_EQ(Memo(), memo);
      ASSERT_LT(step, 20);
    }
    // The next round starts from the two records again.
    platform::RemoveFile(File("T.DBF"));
    platform::RemoveFile(memo_);
    MakeFilledTable();
  }
}

// A rewritten record and a rewritten memo that cannot be written leave the files as
// they were.
TEST_P(WriteFailureTest, AFailedRewriteOfARecordOrAMemoLeavesTheFilesAsTheyWere) {
  MakeFilledTable();
  const std::string dbf = Dbf(), memo = Memo();
  ASSERT_TRUE(Use(File("T"), Exclusive()));
  Dbf4Go(1);
  ASSERT_TRUE(SetFieldText(1, "changed"));
  for (bool shorten : {false, true}) {
    WriteFault fault(1, shorten);
    EXPECT_FALSE(Replace());
    EXPECT_EQ(ErrorCode(), 101) << TakeError();
    TakeError();
  }
  // The memo rewrite through the line table (EditMemo), failing at its first write.
  ASSERT_TRUE(GetMemo(MemoRefOfField(), 0));
  for (bool shorten : {false, true}) {
    WriteFault fault(1, shorten);
    EXPECT_EQ(EditMemo(MemoRefOfField()), 0);
    EXPECT_EQ(ErrorCode(), 101) << TakeError();
    TakeError();
  }
  CloseAllAreas();
  EXPECT_EQ(Dbf(), dbf);
  EXPECT_EQ(Memo(), memo);
}

// A create that fails at any step leaves neither the table nor its memo file, so the
// next create goes through.
TEST_P(WriteFailureTest, AFailedCreateLeavesNothingBehind) {
  const std::string memo = MemoPath("T", MemoFileExt(GetParam()));
  for (int step = 1; step <= 4; ++step) {
    SCOPED_TRACE(step);
    WriteFault fault(step, false);
    EXPECT_FALSE(MakeTable("T", GetParam()));
    EXPECT_EQ(ErrorCode(), 101) << TakeError();
    TakeError();
    EXPECT_FALSE(platform::FileExists(File("T.DBF")));
    EXPECT_FALSE(platform::FileExists(memo));
  }
  EXPECT_TRUE(MakeTable("T", GetParam())) << TakeError();
}

// EFBIG: a memo that would carry the memo file beyond the process's file size limit
// (POSIX only: the limit and the forked program that sets it).
#ifndef _WIN32
TEST_P(WriteFailureTest, AFileBeyondTheSizeLimitIsADiskWriteError) {
  MakeFilledTable();
  const std::string dbf = Dbf(), memo = Memo();
  pid_t child = StartChild([&] {
    platform::FailWritesBeyondSizeLimit();
    struct rlimit limit = {rlim_t(memo.size() + 1000), rlim_t(memo.size() + 1000)};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
    if (!Use(File("T"), Exclusive())) return 3;
    ClearRecord();
    if (AppendRecordWithMemos({{2, std::string(5000, 'z')}})) return 4;
    return ErrorCode() == 101 ? 0 : 5;
  });
  EXPECT_EQ(WaitChild(child), 0);
  EXPECT_EQ(Dbf(), dbf);
  EXPECT_EQ(Memo(), memo);
}
#endif

INSTANTIATE_TEST_SUITE_P(Kinds, WriteFailureTest, ::testing::Values(0x83, 0x8B, 0xF5));

// The checks come first: a value that does not fit refuses the append before its memo
// is written.
TEST_F(MemoTest, AnAppendWithABadMemoFieldWritesNothing) {
  ASSERT_TRUE(MakeTable("T", 0x8B));
  const std::string memo = ReadFileBytes(MemoPath("T", "DBT"));
  ClearRecord();
  EXPECT_FALSE(AppendRecordWithMemos({{2, "kept back"}, {1, "NAME is no memo field"}}));
  EXPECT_EQ(ErrorCode(), 220) << TakeError();
  TakeError();
  EXPECT_EQ(ReadFileBytes(MemoPath("T", "DBT")), memo);
  EXPECT_EQ(RecCount(), 0);
}

}  // namespace
}  // namespace zedra::testing

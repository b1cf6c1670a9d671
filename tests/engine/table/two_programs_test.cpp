// Two programs on one table, on every system: the second is a separate process
// (support/programs.h), so that share modes and byte-range locks meet as between two
// users' programs, on Windows through the system's own services.
#include "platform/platform.h"
#include "support/programs.h"
#include "table_test_util.h"

namespace zedra::testing {
namespace {

// args: table, "exclusive" or "shared". The error code of the open, or 0.
ZEDRA_PROGRAM(open_table) {
  ProgramEngine engine;
  UseOptions options;
  options.exclusive = args.at(1) == "exclusive";
  return Use(args.at(0), options) ? 0 : int(ErrorCode());
}

// args: table. Which of the expected outcomes failed, one bit each, while the starter holds
// record 2: record 2 is refused, 1 and 3 are granted, the file lock is refused.
ZEDRA_PROGRAM(lock_around_record_2) {
  ProgramEngine engine;
  if (!Use(args.at(0))) return 64 + int(ErrorCode() % 64);
  int result = 0;
  if (RLock(2)) result |= 1;
  Errors().ErrorCode = 0;
  if (!RLock(1)) result |= 2;
  if (!RLock(3)) result |= 4;
  if (FLock()) result |= 8;
  return result;
}

// args: table, record. 0 when the record can be locked.
ZEDRA_PROGRAM(lock_record) {
  ProgramEngine engine;
  return Use(args.at(0)) && RLock(std::stoi(args.at(1))) ? 0 : 1;
}

class TwoProgramsTest : public TableTest {
 protected:
  void SetUp() override {
    TableTest::SetUp();
    path_ = File("S.DBF");
    WriteFileBytes(path_, MakeDbf(0x03, {{"NAME", 'C', 8}}, {" one", " two", " three"}));
  }
  int Other(const std::string& name, const std::vector<std::string>& args) {
    SeparateProgram program(name, args);
    EXPECT_TRUE(program.Started());
    return program.Wait();
  }
  std::string path_;
};

TEST_F(TwoProgramsTest, ExclusiveUseAndRecordLocksKeepTheOtherProgramOut) {
  // A shared table admits another sharer and refuses an exclusive opener.
  ASSERT_TRUE(Use(path_));
  EXPECT_EQ(Other("open_table", {path_, "shared"}), 0);
  EXPECT_EQ(Other("open_table", {path_, "exclusive"}), int(platform::kErrSharingViolation));
  // Record locks collide on the same record only; a file lock collides with any.
  ASSERT_TRUE(RLock(2));
  EXPECT_EQ(Other("lock_around_record_2", {path_}), 0);
  EXPECT_NE(Other("lock_record", {path_, "2"}), 0);
  ASSERT_TRUE(UnlockRec(2));
  EXPECT_EQ(Other("lock_record", {path_, "2"}), 0);
  // A table open exclusively here refuses every other opener.
  CloseArea();
  ASSERT_TRUE(Use(path_, Exclusive()));
  EXPECT_EQ(Other("open_table", {path_, "shared"}), int(platform::kErrSharingViolation));
  EXPECT_EQ(Other("open_table", {path_, "exclusive"}), int(platform::kErrSharingViolation));
  // Once it is closed, anybody may open it again.
  CloseArea();
  EXPECT_EQ(Other("open_table", {path_, "exclusive"}), 0);
}

}  // namespace
}  // namespace zedra::testing

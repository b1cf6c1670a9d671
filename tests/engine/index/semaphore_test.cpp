// The semaphore file between separate programs: logging in and out, the brackets and the
// update counter, a writer waiting for readers, and files left behind by killed programs.
#include <sys/stat.h>

#include <fstream>

#include "index/semaphore.h"
#include "index_test_util.h"
#include "platform/platform.h"
#include "program_util.h"

namespace zedra::testing {
namespace {

class SemaphoreTest : public IndexTest {
 protected:
  const std::string fixture_ = std::string(ZEDRA_FIXTURES_DIR) + "/dbase4-people/";

  void SetUp() override {
    IndexTest::SetUp();
    for (const char* f : {"PEOPLE.DBF", "PEOPLE.DBT", "PEOPLE.MDX"})
      WriteFileBytes(File(f), ReadFileBytes(fixture_ + f));
  }
  std::string Semaphore() const { return File("PEOPLE.@S@"); }
  // Record 0 of the semaphore file as "users,readers,counter", or "none".
  std::string Counts() const {
    if (!platform::FileExists(Semaphore())) return "none";
    const std::string b = ReadFileBytes(Semaphore());
    if (b.size() < 4) return "short file";
    return std::to_string(uint8_t(b[0])) + "," + std::to_string(uint8_t(b[1])) + "," +
           std::to_string(LE16(b, 2));
  }
  // In a program: the table shared, with its production index.
  int Join() { return Check(Use(File("PEOPLE")) && SetIndexTo(""), "joins the table"); }
  // In a program: the walk in the NAME order as the fixture lists it.
  int WalkInNameOrder() {
    std::ifstream in(fixture_ + "tag-NAME.txt");
    std::vector<int32_t> expected, seen;
    for (std::string line; std::getline(in, line);)
      if (!line.empty()) expected.push_back(std::stoi(line));
    for (GoTop(); !Eof() && ErrorCode() == 0 && seen.size() < 1000; Skip(1)) seen.push_back(RecNo());
    return Check(ErrorCode() == 0 && !expected.empty() && seen == expected, "walks in key order");
  }
  std::string TimeoutMessage(int seconds) const {
    return std::to_string(seconds) + " second timeout, cannot read: " + Semaphore() +
           "\r\nPossible cause: Other user's program has terminated abnormally.\r\n"
           "Cure: Log all users of this application off the network,\r\nthen delete " +
           Semaphore();
  }
  // In a program: the action raises the code and message.
  static int Raises(const std::function<void()>& action, uint16_t code, const std::string& message) {
    std::string raised = "nothing raised";
    try {
      action();
    } catch (const EZedraError& e) {
      raised = e.what();
      raised = raised.substr(raised.find("\r\n") + 2);
    }
    const int failed = Check(ErrorCode() == code && raised == message,
                             "expected error " + std::to_string(code) + ": " + message + ", got " + raised);
    Errors().ErrorCode = 0;
    return failed;
  }
};

TEST_F(SemaphoreTest, ProgramsAreCountedInAndTheLastOneOutDeletesTheFile) {
  Gate a_in, a_go, b_in, b_go;
  Program a([&] {
    int failed = Join();
    a_in.Post();
    a_go.Await();
    return failed;
  });
  ASSERT_TRUE(a_in.Await());
  EXPECT_EQ(Counts(), "1,0,0");
  Program b([&] {
    int failed = Join();
    failed += Check(CurrentSemaphore() && CurrentSemaphore()->users_at_login == 2, "second in");
    b_in.Post();
    b_go.Await();
    return failed;
  });
  ASSERT_TRUE(b_in.Await());
  EXPECT_EQ(Counts(), "2,0,0");
  b_go.Post();
  EXPECT_EQ(b.Wait(), 0);
  EXPECT_EQ(Counts(), "1,0,0");
  a_go.Post();
  EXPECT_EQ(a.Wait(), 0);
  EXPECT_EQ(Counts(), "none");

  // A table opened exclusively has nobody to share its index with.
  ASSERT_TRUE(Use(File("PEOPLE"), Exclusive()));
  ASSERT_TRUE(SetIndexTo(""));
  EXPECT_EQ(CurrentSemaphore(), nullptr);
  EXPECT_EQ(Counts(), "none");
  CloseAllAreas();
  // Work area 35 never takes part.
  Select(35);
  ASSERT_TRUE(Use(File("PEOPLE")));
  EXPECT_EQ(Raises([] { HandleSemafore(kLogin); }, 254, "Work area [35] out of range. [HandleSemafore]"), 0);
}

TEST_F(SemaphoreTest, ReadsCountOnceWhileNestedAndAWriteIsReportedOnceToTheOthers) {
  Gate b_in, wrote, a_step, a_go;
  Program b([&] {
    int failed = Join();
    b_in.Post();
    wrote.Await();
    SetReadSemaphoreProc(true);
    failed += Check(CheckIndexUpdates(), "sees the other program's change");
    failed += Check(!CheckIndexUpdates(), "sees it once");
    SetReadSemaphoreProc(false);
    return failed;
  });
  ASSERT_TRUE(b_in.Await());
  Program a([&] {
    int failed = Join();
    const auto pause = [&] {
      a_step.Post();
      a_go.Await();
    };
    HandleSemafore(kIncRead);
    HandleSemafore(kIncRead);
    pause();
    HandleSemafore(kDecRead);
    pause();
    HandleSemafore(kDecRead);
    pause();
    SetLockSemaphoreProc(true);
    SetLockSemaphoreProc(true);
    pause();
    SetLockSemaphoreProc(false);
    SetLockSemaphoreProc(false);
    failed += Check(!CheckIndexUpdates(), "its own change is not reported");
    wrote.Post();
    failed += Raises([] { HandleSemafore(kDecRead); }, 254,
                     "Unbalanced IncRead/DecRead for semaphore file: " + Semaphore() + " DECREAD");
    failed += Raises([] { HandleSemafore(kUnlockSemaphore); }, 254,
                     "Unbalanced Lock/Unlock for semaphore file: " + Semaphore() + " UNLOCKSEMAPHORE");
    // A leave without its enter is recorded, not raised.
    for (bool read : {true, false}) {
      read ? SetReadSemaphoreProc(false) : SetLockSemaphoreProc(false);
      failed += Check(ErrorCode() == 254 && Errors().PendingMessage ==
                                              std::string("Non-symmetrical Lock-Unlock [") +
                                                  (read ? "SetReadSemaphoreProc]" : "SetLockSemaphoreProc]"),
                      "an unbalanced leave is recorded");
      Errors().ErrorCode = 0;
    }
    // The brackets still work after the unbalanced calls.
    SetReadSemaphoreProc(true);
    pause();
    SetReadSemaphoreProc(false);
    return failed;
  });
  // The last one comes after the other program has seen the change and left.
  const char* expected[] = {"2,1,0", "2,1,0", "2,0,0", "2,1,0", "1,1,1"};
  for (const char* counts : expected) {
    ASSERT_TRUE(a_step.Await());
    if (counts == expected[4]) {
      EXPECT_EQ(b.Wait(), 0);
    }
    EXPECT_EQ(Counts(), counts);
    a_go.Post();
  }
  EXPECT_EQ(a.Wait(), 0);
  EXPECT_EQ(Counts(), "none");
}

TEST_F(SemaphoreTest, AWriterWaitsForTheReadersOrGivesUpAfterTheTimeout) {
  Gate r_in, r_leave, w_in, held, release;
  Program reader([&] {
    int failed = Join();
    SetReadSemaphoreProc(true);
    r_in.Post();
    r_leave.Await();
    SetReadSemaphoreProc(false);
    return failed;
  });
  ASSERT_TRUE(r_in.Await());
  Program impatient([&] {
    int failed = Join();
    Semaphores().SemaphoreTimeout = 1;
    return failed + Raises([] { SetLockSemaphoreProc(true); }, 1202, TimeoutMessage(1));
  });
  EXPECT_EQ(impatient.Wait(), 0);
  // The lock region held for a moment by another program is waited for, not failed at.
  Program holder([&] {
    uint32_t error = 0;
    const platform::FileHandle fd = platform::OpenFile(Semaphore(), platform::kModeReadWriteShared, &error);
    int failed = Check(fd != platform::kInvalidFile && platform::LockRegion(fd, 1, 4) == 0, "holds the region");
    held.Post();
    release.Await();
    platform::UnlockRegion(fd, 1, 4);
    platform::CloseFile(fd);
    return failed;
  });
  ASSERT_TRUE(held.Await());
  Program patient([&] {
    int failed = Join();
    Semaphores().SemaphoreTimeout = 0;
    SetLockSemaphoreProc(true);
    failed += Check(ErrorCode() == 0, "enters the write bracket");
    w_in.Post();
    SetLockSemaphoreProc(false);
    return failed;
  });
  // Time for a writer that does not wait to get in wrongly.
  platform::SleepMs(300);
  release.Post();
  EXPECT_EQ(holder.Wait(), 0);
  platform::SleepMs(300);
  EXPECT_FALSE(w_in.Posted()) << "the writer got in while a reader was reading";
  r_leave.Post();
  EXPECT_TRUE(w_in.Await());
  EXPECT_EQ(patient.Wait(), 0);
  EXPECT_EQ(reader.Wait(), 0);
  EXPECT_EQ(Counts(), "none");
}

TEST_F(SemaphoreTest, AWriterKilledInItsBracketStopsWritersUntilNobodyHoldsTheFile) {
  Gate h_in, h_walk, h_walked, h_go, w_in;
  Program holder([&] {
    int failed = Join();
    h_in.Post();
    h_walk.Await();
    failed += WalkInNameOrder();
    h_walked.Post();
    h_go.Await();
    return failed;
  });
  ASSERT_TRUE(h_in.Await());
  Program writer([&] {
    Join();
    SetLockSemaphoreProc(true);
    w_in.Post();
    for (;;) pause();
    return 0;
  });
  ASSERT_TRUE(w_in.Await());
  writer.Kill();
  EXPECT_EQ(Counts(), "2,1,0");
  // Another writer logs in to a file somebody holds: the counts stay, and it times out.
  Program second([&] {
    int failed = Join();
    failed += Check(CurrentSemaphore() && CurrentSemaphore()->users_at_login == 3, "counted in");
    Semaphores().SemaphoreTimeout = 1;
    return failed + Raises([] { SetLockSemaphoreProc(true); }, 1202, TimeoutMessage(1));
  });
  EXPECT_EQ(second.Wait(), 0);
  // Readers go on.
  h_walk.Post();
  ASSERT_TRUE(h_walked.Await());
  h_go.Post();
  EXPECT_EQ(holder.Wait(), 0);
  EXPECT_EQ(Counts(), "1,1,0");
  // Nobody holds the file: its counts belong to no one and the next login starts afresh.
  Program next([&] {
    int failed = Join();
    failed += Check(CurrentSemaphore() && CurrentSemaphore()->users_at_login == 1, "first in");
    SetLockSemaphoreProc(true);
    SetLockSemaphoreProc(false);
    return failed + Check(ErrorCode() == 0, "writes");
  });
  EXPECT_EQ(next.Wait(), 0);
  EXPECT_EQ(Counts(), "none");
}

TEST_F(SemaphoreTest, WithoutRoomForTheFileTheIndexIsReadWithoutTheProtocol) {
  // A directory that takes no new file, as a read-only medium: reading goes on.
  platform::SetFaultHook([](platform::FileChange change, size_t*) {
    return change == platform::FileChange::Create ? platform::kErrAccessDenied : 0u;
  });
  ASSERT_TRUE(Use(File("PEOPLE")));
  ASSERT_TRUE(SetIndexTo("")) << TakeError();
  EXPECT_EQ(CurrentSemaphore(), nullptr);
  EXPECT_NE(Semaphores().notices[1].find("cannot be created"), std::string::npos);
  EXPECT_EQ(WalkInNameOrder(), 0);
  CloseAllAreas();
  EXPECT_EQ(Counts(), "none");

  // With a semaphore directory the file goes there, and a failure there is an error.
  const std::string locks = File("locks");
  ASSERT_EQ(mkdir(locks.c_str(), 0755), 0);
  Semaphores().SemaphoreDirectory = locks;
  ASSERT_TRUE(Use(File("PEOPLE")));
  EXPECT_FALSE(SetIndexTo(""));
  EXPECT_EQ(ErrorCode(), 2);
  EXPECT_EQ(Errors().PendingMessage, "Cannot open: " + locks + "/PEOPLE.@S@ LOGIN");
  TakeError();
  platform::SetFaultHook({});
  ASSERT_TRUE(SetIndexTo("")) << TakeError();
  EXPECT_EQ(SemaphoreFileName(), locks + "/PEOPLE.@S@");
  EXPECT_EQ(ReadFileBytes(locks + "/PEOPLE.@S@"), std::string("\1\0\0\0", 4));
  EXPECT_EQ(Counts(), "none");
  CloseAllAreas();
  EXPECT_FALSE(platform::FileExists(locks + "/PEOPLE.@S@"));
}

}  // namespace
}  // namespace zedra::testing

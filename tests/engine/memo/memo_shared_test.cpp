// Two processes appending memos to one shared table at the same time: the memo pad lock
// keeps their memos apart.
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <set>

#include "engine/memo/memo_test_util.h"

namespace zedra::testing {
namespace {

class MemoSharedTest : public MemoTest {};

std::string TextFor(int writer, int i) {
  // Lengths from a few bytes to several blocks, so that memos of both writers interleave.
  std::string text = "writer " + std::to_string(writer) + " memo " + std::to_string(i) + ":";
  text += std::string(size_t((i * 173 + writer * 91) % 1400), char('a' + (i + writer) % 26));
  return text;
}

// Appends `count` records, each with its own memo, to the shared table; the exit status
// is 0 when every append succeeded.
int Writer(const std::string& table, int writer, int count) {
  EngineStartup();
  SetAutoReport(false);
  Tables().MemoPadRetryMs = 20;
  if (!Use(table)) return 10;
  for (int i = 0; i < count; ++i) {
    ClearRecord();
    if (!SetFieldText(1, std::to_string(writer) + ":" + std::to_string(i))) return 11;
    // The pad lock may be busy for longer than its attempts last: try again.
    bool stored = false;
    for (int attempt = 0; attempt < 50 && !stored; ++attempt) {
      Errors().ErrorCode = 0;
      stored = ReplaceMemo(2, TextFor(writer, i));
      if (!stored && ErrorCode() != 1017) return 12;
    }
    if (!stored) return 13;
    // So may the table lock byte that serialises appends.
    bool appended = false;
    for (int attempt = 0; attempt < 200 && !appended; ++attempt) {
      Errors().ErrorCode = 0;
      appended = AppendRecord();
      if (!appended) {
        if (ErrorCode() != platform::kErrLockViolation) return 14;
        platform::SleepMs(5);
      }
    }
    if (!appended) return 15;
  }
  CloseAllAreas();
  EngineShutdown();
  return 0;
}

TEST_F(MemoSharedTest, TwoProcessesAppendingKeepEveryMemoIntact) {
  for (uint8_t kind : {0x83, 0x8B, 0xF5}) {
    SCOPED_TRACE(kind);
    const std::string table = File("S" + std::to_string(kind) + ".DBF");
    ASSERT_TRUE(CreateDbf(table, kind, {{"NAME", 'C', 10, 0}, {"NOTES", 'M', 10, 0}}));
    constexpr int kCount = 60;
    std::vector<pid_t> children;
    for (int writer = 1; writer <= 2; ++writer) {
      pid_t pid = fork();
      ASSERT_GE(pid, 0);
      if (pid == 0) _exit(Writer(table, writer, kCount));
      children.push_back(pid);
    }
    for (pid_t pid : children) {
      int status = 0;
      ASSERT_EQ(waitpid(pid, &status, 0), pid);
      ASSERT_TRUE(WIFEXITED(status));
      EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    ASSERT_TRUE(Use(table)) << TakeError();
    ASSERT_EQ(RecCount(), 2 * kCount);
    std::set<int32_t> blocks;
    std::map<std::string, int> seen;
    for (int32_t n = 1; n <= RecCount(); ++n) {
      Dbf4Go(n);
      std::string name = FieldText(1);
      size_t colon = name.find(':');
      ASSERT_NE(colon, std::string::npos);
      int writer = std::stoi(name.substr(0, colon)), i = std::stoi(name.substr(colon + 1));
      EXPECT_EQ(GetMemoText(2), TextFor(writer, i)) << name;
      EXPECT_TRUE(blocks.insert(MemoRefOfField()).second) << "block used twice: " << name;
      ++seen[name];
    }
    EXPECT_EQ(seen.size(), size_t(2 * kCount));
    CloseAllAreas();
  }
}

}  // namespace
}  // namespace zedra::testing

// Pack, Zap and PackMemofile killed at every change they make to a file: the next Use
// gives the old table or the new one, each record with its own memo, none lost or twice.
// The victim is a separate program (support/programs.h), ended abruptly inside the hook.
#include <algorithm>
#include <functional>

#include "engine/memo/memo_test_util.h"
#include "platform/platform.h"
#include "support/programs.h"

namespace zedra::testing {
namespace {

// args: table, operation ("pack", "zap" or "pack-memo"), n, "torn" or "whole". Runs the
// operation on the table opened exclusively and ends at its n-th file change, or, torn,
// stops that change half-way when it is a write and ends at the next. 0 when the
// operation completed before.
ZEDRA_PROGRAM(killed_operation) {
  ProgramEngine engine;
  const std::string op = args.at(1);
  const int n = std::stoi(args.at(2));
  const bool torn = args.at(3) == "torn";
  int count = 0;
  bool end_next = false;
  platform::SetFaultHook([&](platform::FileChange change, size_t* size) -> uint32_t {
    if (end_next || ++count == n) {
      if (!end_next && torn && change == platform::FileChange::Write && *size > 1) {
        *size /= 2;
        end_next = true;
        return 0;
      }
      EndAbruptly();
    }
    return 0;
  });
  UseOptions o;
  o.exclusive = true;
  if (!Use(args.at(0), o)) return 1;
  if (op == "pack") return Pack() ? 0 : 1;
  if (op == "zap") return Zap() ? 0 : 1;
  PackMemofile();
  return ErrorCode() == 0 ? 0 : 1;
}

struct Row {
  std::string name;
  bool deleted = false;
  bool operator==(const Row&) const = default;
};

class PackCrashTest : public MemoTest {
 protected:
  // Memo i: lines, a 0x00 byte and, from the third on, more than one block.
  static std::string Text(int i) {
    return "memo " + std::to_string(i) + "\r\n" + std::string("zero\0byte", 9) +
           std::string(size_t(300 * i), char('a' + i));
  }
  // T.DBF with six records R0..R5 and their memos, dead memos between them; R1 and R4
  // deleted.
  std::vector<Row> MakeFixture(uint8_t kind) {
    CloseAllAreas();
    EXPECT_TRUE(MakeTable("T.DBF", kind));
    std::vector<Row> rows;
    for (int i = 0; i < 6; ++i) {
      AddMemo(std::string(600, 'x'));
      AddRecord(Text(i));
      EXPECT_TRUE(SetFieldText(1, "R" + std::to_string(i)));
      EXPECT_TRUE(Replace());
      rows.push_back({"R" + std::to_string(i), i == 1 || i == 4});
      if (rows.back().deleted) {
        EXPECT_TRUE(DeleteRec());
      }
    }
    CloseAllAreas();
    return rows;
  }

  // Runs the operation in a program ended at its n-th file change (see killed_operation).
  // True when the operation completed before.
  bool RunKilledAt(int n, bool torn, const std::string& op) {
    SeparateProgram victim("killed_operation",
                           {File("T.DBF"), op, std::to_string(n), torn ? "torn" : "whole"});
    const int status = victim.Wait();
    EXPECT_TRUE(status == 0 || status == -1) << "step " << n << ": the operation failed";
    return status == 0;
  }

  // The table as the next Use sees it.
  std::vector<Row> Check() {
    std::vector<Row> rows;
    UseOptions o;
    o.exclusive = true;
    EXPECT_TRUE(Use(File("T.DBF"), o)) << TakeError();
    if (!CurrentArea()) return rows;
    const std::string dbf = ReadFileBytes(File("T.DBF"));
    EXPECT_EQ(GetLE32(reinterpret_cast<const uint8_t*>(dbf.data()) + 4), uint32_t(RecCount()));
    for (int32_t n = 1; n <= RecCount(); ++n) {
      Dbf4Go(n);
      Row r{AllTrim(FieldRaw(1)), CurrentArea()->record[0] == '*'};
      EXPECT_EQ(GetMemoText(2), Text(r.name[1] - '0')) << r.name;
      EXPECT_EQ(ErrorCode(), 0) << TakeError();
      rows.push_back(r);
    }
    for (const char* ext : {"$$D", "$$$", "$$J"})
      EXPECT_FALSE(FilePresent(File(std::string("T.") + ext))) << ext << " left behind";
    CloseAllAreas();
    return rows;
  }

  // Kills op at every step until it completes; each time the table must be one of the two.
  void KillAtEveryStep(uint8_t kind, bool torn, const std::string& op,
                       const std::function<std::vector<Row>(std::vector<Row>)>& after_of) {
    for (int n = 1; n < 400; ++n) {
      SCOPED_TRACE("step " + std::to_string(n));
      const std::vector<Row> before = MakeFixture(kind);
      const std::vector<Row> after = after_of(before);
      bool completed = RunKilledAt(n, torn, op);
      std::vector<Row> rows = Check();
      if (completed) {
        EXPECT_EQ(rows, after);
        EXPECT_GT(n, 10) << "fewer steps than expected: the hook does not see them";
        return;
      }
      EXPECT_TRUE(rows == before || rows == after);
      if (::testing::Test::HasFailure()) return;
    }
    ADD_FAILURE() << "the operation never completed";
  }
};

std::vector<Row> WithoutDeleted(std::vector<Row> rows) {
  rows.erase(std::remove_if(rows.begin(), rows.end(), [](const Row& r) { return r.deleted; }),
             rows.end());
  return rows;
}

TEST_F(PackCrashTest, PackKilledAtAnyStep) {
  for (uint8_t kind : {0x83, 0x8B, 0xF5}) {
    for (bool torn : {false, true}) {
      SCOPED_TRACE(std::to_string(kind) + (torn ? " torn" : ""));
      KillAtEveryStep(kind, torn, "pack", WithoutDeleted);
    }
  }
}

TEST_F(PackCrashTest, ZapAndMemoRewriteKilledAtAnyStep) {
  for (uint8_t kind : {0x83, 0xF5}) {
    SCOPED_TRACE(kind);
    KillAtEveryStep(kind, false, "zap", [](const std::vector<Row>&) { return std::vector<Row>{}; });
    KillAtEveryStep(kind, true, "pack-memo", [](std::vector<Row> rows) { return rows; });
  }
}

}  // namespace
}  // namespace zedra::testing

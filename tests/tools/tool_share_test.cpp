// The tool as one of several programs on a table: a change that times out at the index,
// a table that another program holds when --exclusive asks for it alone, and a directory
// without room for the semaphore file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "engine.h"
#include "engine/index/program_util.h"
#include "index/index.h"
#include "index/semaphore.h"
#include "platform/platform.h"
#include "support/temp_dir.h"
#include "table/commands.h"
#include "tool_run.h"

namespace zedra::cli {
namespace {

using testing::Gate;
using testing::Program;

TEST(ToolShareTest, TimeoutsSharingAndMissingRoomForTheSemaphoreFileAreReported) {
  testing::TempDir dir;
  const std::string table = dir.File("T.DBF");
  ASSERT_EQ(Tool({"create", table, "--field", "NAME:C:10"}).status, 0);
  ASSERT_EQ(Tool({"append", table, "NAME=ada"}).status, 0);
  ASSERT_EQ(Tool({"index", table, "--tag", "NAME", "--key", "NAME"}).status, 0);

  // Another program reading the index.
  Gate in, go;
  Program writer([&] {
    EngineStartup();
    SetAutoReport(false);
    const int failed = testing::Check(Use(table) && SetIndexTo(""), "joins");
    SetReadSemaphoreProc(true);
    in.Post();
    go.Await();
    SetReadSemaphoreProc(false);
    return failed;
  });
  ASSERT_TRUE(in.Await());
  ToolRun run = Tool({"append", "--wait", "1", table, "NAME=bob"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("Error # 1202 "), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("1 second timeout, cannot read: " + dir.File("T.@S@") + "\n"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("then delete " + dir.File("T.@S@")), std::string::npos) << run.err;
  // Checking is reading: it shares the index with the other reader.
  run = Tool({"check", table});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("NAME: OK (1 key"), std::string::npos) << run.out;
  run = Tool({"list", "--exclusive", "--wait", "0", table});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err.rfind("Error # 32 ", 0), 0u) << run.err;
  go.Post();
  EXPECT_EQ(writer.Wait(), 0);
  run = Tool({"list", table, "--order", "NAME"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out.find("bob"), std::string::npos);
  EXPECT_EQ(run.err, "");

  // No room beside the table: read without the protocol, and said so; the semaphore
  // directory gives it room.
  platform::SetFaultHook([](platform::FileChange change, size_t*) {
    return change == platform::FileChange::Create ? platform::kErrAccessDenied : 0u;
  });
  run = Tool({"list", table, "--order", "NAME"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("ada"), std::string::npos);
  EXPECT_NE(run.err.find("zedra: note: the semaphore file " + dir.File("T.@S@") + " cannot be created"),
            std::string::npos) << run.err;
  EXPECT_NE(run.err.find("used without the semaphore protocol"), std::string::npos) << run.err;
  platform::SetFaultHook({});
  const std::string locks = dir.File("locks");
  ASSERT_EQ(mkdir(locks.c_str(), 0755), 0);
  run = Tool({"append", "--semaphore-dir", locks, table, "NAME=cy"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(Tool({"check", table}).status, 0);
}

}  // namespace
}  // namespace zedra::cli

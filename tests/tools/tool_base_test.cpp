// The zedra tool's frame and its foundation commands, run as a user runs them.
#include <gtest/gtest.h>

#include <sstream>

#include "cli.h"
#include "tool_run.h"
#include "support/temp_dir.h"

namespace zedra::cli {
namespace {

TEST(ToolTest, ErrorsCommand) {
  ToolRun r = Tool({"errors", "222"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Error # 222 (Corrupted index file)\n");
  EXPECT_EQ(Tool({"errors", "0"}).out, "\n");
  EXPECT_EQ(Tool({"errors", "70000"}).status, 2);
  EXPECT_EQ(Tool({"errors", "x"}).status, 2);
}

TEST(ToolTest, DateCommand) {
  ToolRun r = Tool({"date", "25/12/26", "--style", "2"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "canonical\t12/25/26\nDOW\t6\nCDOW\tFriday\nCMONTH\tDecember\n");
  r = Tool({"date", "--century", "--style=5", "24.12.2026"});
  EXPECT_EQ(r.out, "canonical\t12/24/2026\nDOW\t5\nCDOW\tDonnerstag\nCMONTH\tDezember\n");
  r = Tool({"date", "01.02.26", "--style", "4"});
  EXPECT_NE(r.out.find("CMONTH\tFévrier\n"), std::string::npos) << r.out;
  EXPECT_EQ(Tool({"date", "1/1/1", "--style", "9"}).status, 2);
  EXPECT_EQ(Tool({"date"}).status, 2);
}

TEST(ToolTest, OptionsAndHelp) {
  EXPECT_EQ(Tool({"--version"}).out, "zedra 1.0\n");
  ToolRun help = Tool({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("zedra errors CODE"), std::string::npos);
  EXPECT_NE(Tool({}).status, 0);
  ToolRun unknown = Tool({"frobnicate"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.err.find("unknown command"), std::string::npos);
  ToolRun bad = Tool({"date", "1/1/1", "--nope"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("unknown option --nope"), std::string::npos);
  // After "--" an argument that begins with "-" is a value, not an option.
  Args args;
  std::string error;
  ASSERT_TRUE(ParseArgs({"--style", "1", "--", "-2^2", "--x"}, {{"--style"}, {}}, &args, &error));
  EXPECT_EQ(args.positional, (std::vector<std::string>{"-2^2", "--x"}));
  EXPECT_EQ(args.Value("--style"), "1");
}

TEST(ToolTest, TheExecutableRuns) {
  std::string output;
  int status = testing::RunCommand(std::string(ZEDRA_TOOL_PATH) + " errors 210", &output);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(output, "Error # 210 (Not a dBASE data file)\n");
  status = testing::RunCommand(std::string(ZEDRA_TOOL_PATH) + " errors 2>/dev/null", &output);
  EXPECT_EQ(status, 2);
}

}  // namespace
}  // namespace zedra::cli

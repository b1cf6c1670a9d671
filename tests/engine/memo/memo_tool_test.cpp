// The zedra tool with memo fields: list, memo, append NAME=@FILE and pack, on tables
// written by python3-dbf and read back by python3-dbfread.
#include <sys/stat.h>

#include <fstream>

#include "engine/memo/memo_test_util.h"

namespace zedra::testing {
namespace {

const std::string kTool = ZEDRA_TOOL_PATH;
const std::string kScripts = ZEDRA_MEMO_TEST_DIR;

class MemoToolTest : public MemoTest {
 protected:
  std::string Run(const std::string& args, int expected_status = 0) {
    std::string output;
    int status = RunCommand(kTool + " " + args + " 2>&1", &output);
    EXPECT_EQ(status, expected_status) << args << "\n" << output;
    return output;
  }
  // A db3 table with memos written by python3-dbf.
  std::string PeerTable() {
    std::ofstream(File("texts.hex")) << "4669727374206c696e650d0a7365636f6e64\n"  // First line\r\nsecond
                                     << std::string(120, '6') + "\n"  // 60 x 'f'
                                     << "\n";
    std::string table = File("PEER.dbf"), output;
    EXPECT_EQ(RunCommand("/usr/bin/python3 " + kScripts + "/peer_write.py db3 " + table + " " +
                             File("texts.hex") + " 2>&1",
                         &output),
              0)
        << output;
    return table;
  }
};

TEST_F(MemoToolTest, ListAndMemoShowWhatPythonDbfWrote) {
  std::string table = PeerTable();
  std::string list = Run("list " + table);
  EXPECT_NE(list.find("1     First line\n"), std::string::npos) << list;
  EXPECT_NE(list.find("2     " + std::string(40, 'f') + "\n"), std::string::npos) << list;
  list = Run("list " + table + " --csv --memo-width 5");
  EXPECT_EQ(list, "NAME,NOTES\r\n1,First\r\n2,fffff\r\n3,\r\n");
  EXPECT_EQ(Run("memo " + table + " NOTES 1"), "First line\r\nsecond");
  EXPECT_EQ(Run("memo " + table + " notes 3"), "");
  Run("memo " + table + " NOTES 4", 2);
  Run("memo " + table + " NAME 1", 2);
  Run("list " + table + " --memo-width x", 2);
}

TEST_F(MemoToolTest, AppendFromAFileIsReadByPythonDbfread) {
  std::string table = PeerTable();
  WriteFileBytes(File("note.txt"), "from a file\nwith caf\xE9\n");
  EXPECT_EQ(Run("append " + table + " NAME=new NOTES=@" + File("note.txt")), "Appended record 4\n");
  std::string output;
  ASSERT_EQ(RunCommand("/usr/bin/python3 " + kScripts + "/peer_read.py " + table + " NOTES", &output), 0);
  EXPECT_EQ(output.substr(output.rfind('\n', output.size() - 2) + 1),
            "66726f6d20612066696c650a7769746820636166e90a\n");
  Run("append " + table + " NAME=bad NOTES=@" + File("missing.txt"), 1);
  EXPECT_EQ(Run("memo " + table + " NOTES 4"), "from a file\nwith caf\xE9\n");
}

TEST_F(MemoToolTest, PackShrinksTheMemoFileAndKeepsEveryMemo) {
  ASSERT_TRUE(MakeTable("T.DBF", 0x8B));
  for (int i = 1; i <= 5; ++i) {
    AddMemo(std::string(900, 'd'));  // dead
    AddRecord("memo " + std::to_string(i) + "\r\nline two");
  }
  Dbf4Go(3);
  ASSERT_TRUE(DeleteRec());
  CloseAllAreas();
  const size_t before = ReadFileBytes(File("T.DBT")).size();
  std::string out = Run("pack " + File("T.DBF"));
  EXPECT_NE(out.find("4 of 5 records kept"), std::string::npos) << out;
  EXPECT_LT(ReadFileBytes(File("T.DBT")).size(), before / 3);
  int recno = 1;
  for (int i : {1, 2, 4, 5})
    EXPECT_EQ(Run("memo " + File("T.DBF") + " NOTES " + std::to_string(recno++)),
              "memo " + std::to_string(i) + "\r\nline two");
}

TEST_F(MemoToolTest, PackStopsAtAMemoItCannotReadUnlessForced) {
  ASSERT_TRUE(MakeTable("T.DBF", 0xF5));
  AddRecord("first");
  ASSERT_TRUE(AppendBlank());
  ASSERT_TRUE(SetFieldRaw(2, "       400"));
  ASSERT_TRUE(Replace());
  AddRecord("third");
  ASSERT_TRUE(DeleteRec());
  CloseAllAreas();
  const std::string dbf = ReadFileBytes(File("T.DBF"));
  std::string out = Run("pack " + File("T.DBF"), 1);
  EXPECT_NE(out.find("Memo block # 400 Record # 2: 1 memo cannot be read, nothing was changed"),
            std::string::npos)
      << out;
  EXPECT_EQ(ReadFileBytes(File("T.DBF")), dbf);
  out = Run("pack " + File("T.DBF") + " --force");
  EXPECT_NE(out.find("2 of 3 records kept\n1 memo that could not be read dropped\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(Run("memo " + File("T.DBF") + " NOTES 1"), "first");
}

}  // namespace
}  // namespace zedra::testing

namespace zedra::testing {
namespace {

// A refused value refuses the whole append: its memo is not written either.
TEST_F(MemoToolTest, ARefusedAppendLeavesTheMemoFileAsItWas) {
  std::string table = PeerTable();
  const std::string memo = ReadFileBytes(ForceExtension(table, "dbt"));
  const std::string dbf = ReadFileBytes(table);
  Run("append " + table + " NOTES=x NAME=" + std::string(40, 'n'), 1);
  EXPECT_EQ(ReadFileBytes(ForceExtension(table, "dbt")), memo);
  EXPECT_EQ(ReadFileBytes(table), dbf);
}

// Beyond the file size limit the tool reports error 101 and leaves both files as they
// were, where the limit's signal would have ended it half-way.
TEST_F(MemoToolTest, AnAppendBeyondTheFileSizeLimitIsADiskWriteError) {
  std::string table = PeerTable();
  const std::string memo = ReadFileBytes(ForceExtension(table, "dbt"));
  const std::string dbf = ReadFileBytes(table);
  std::string output;
  const int status = RunCommand("ulimit -f 4 && " + kTool + " append " + table + " NAME=big NOTES=" +
                                    std::string(5000, 'b') + " 2>&1",
                                &output);
  EXPECT_EQ(status, 1) << output;
  EXPECT_NE(output.find("Error # 101 (Disk write error (probable cause: Disk Full).)"),
            std::string::npos)
      << output;
  EXPECT_EQ(ReadFileBytes(ForceExtension(table, "dbt")), memo);
  EXPECT_EQ(ReadFileBytes(table), dbf);
}

// A FIFO named like a table is refused at once; waiting for a writer would hang.
TEST_F(MemoToolTest, AFifoNamedLikeATableIsRefusedWithoutWaiting) {
  const std::string fifo = File("PIPE.DBF");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string output;
  // timeout ends a regression with status 124 instead of hanging the suite.
  const int status = RunCommand("timeout 20 " + kTool + " info " + fifo + " 2>&1", &output);
  EXPECT_NE(status, 124) << output;
  EXPECT_NE(status, 0) << output;
  EXPECT_NE(output.find("not a regular file"), std::string::npos) << output;
}

}  // namespace
}  // namespace zedra::testing

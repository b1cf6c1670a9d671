// zedra eval, and zedra list with a filter, run as a separate program.
#include "expr_test_util.h"

namespace zedra::testing {
namespace {

class ToolEvalTest : public ExprTest {
 protected:
  // Runs the tool with the given arguments (already quoted for the shell); standard
  // output and standard error together.
  // On POSIX the tool runs in the C locale; a Windows program's locale is the machine's.
  int Tool(const std::string& arguments, std::string* output) {
#ifdef _WIN32
    const std::string locale;
#else
    const std::string locale = "LC_ALL=C ";
#endif
    return RunCommand(locale + ZEDRA_TOOL_PATH + " " + arguments + " 2>&1", output);
  }
};

TEST_F(ToolEvalTest, PrintsTypeWidthDecimalsAndValue) {
  struct Case {
    const char* arguments;
    const char* output;
  } cases[] = {
      {"eval \"STR(3.14159, 8, 2)\"", "C\t0\t0\t    3.14\n"},
      {"eval \"CTOD('12/31/99') - CTOD('01/01/99')\"", "N\t13\t2\t364.00\n"},
      {"eval -- \"-1\"", "N\t13\t2\t-1.00\n"},
      {"eval \"CTOD('12/31/99')\"", "D\t8\t0\t19991231\n"},
      {"eval \"CTOD('')\"", "D\t8\t0\t        \n"},
      {"eval \"1 < 2\"", "L\t1\t0\t.T.\n"},
      {"eval --style 5 --century \"DTOC(CTOD('31.12.99'))\"", "C\t0\t0\t31.12.1999\n"},
      {"eval --check \"1 + 1\"", "362\n"},
      {"eval --check --key \"1 + 1\"", "0\n"},
      {"eval --check \"  \"", "359\n"},
  };
  for (const Case& c : cases) {
    std::string out;
    EXPECT_EQ(Tool(c.arguments, &out), 0) << c.arguments << "\n" << out;
    EXPECT_EQ(out, c.output) << c.arguments;
  }
}

TEST_F(ToolEvalTest, ErrorsGoToStandardErrorWithTheExcerpt) {
  std::string out;
  EXPECT_NE(Tool("eval \"1+'A'\"", &out), 0);
  EXPECT_EQ(out,
            "Error # 351 (Undefined error)\n"
            "Error in expression : PARSER:Type mismatch in expression \"+\"\n"
            "[1+'A']\n"
            " [AssignExpr]\n");
#ifndef _WIN32  // a POSIX shell's redirections
  EXPECT_NE(Tool("eval \"1/0\" 2>/dev/null >/dev/null; exit $?", &out), 0);
#endif
  EXPECT_NE(Tool("eval", &out), 0);
}

// A text the engine would cut is refused by an evaluation and by a check, with the
// excerpt and a failing exit status, instead of printing the value of its first part.
TEST_F(ToolEvalTest, TextsTooLongToReadWholeAreRefused) {
  // Far beyond 255 characters, within every shell's command line (cmd.exe takes 8191).
  std::string sum = "1";
  for (int i = 1; i < 3000; ++i) sum += "+1";
  std::string excerpt = "1";
  for (int i = 1; i < 26; ++i) excerpt += "+1";
  const std::string error =
      "Error # 351 (Undefined error)\n"
      "Error in expression : Syntax error: expression longer than 255 characters\n"
      "[..." + excerpt + "]\n"
      " [AssignExpr]\n";
  std::string out;
  EXPECT_EQ(Tool("eval \"" + sum + "\"", &out), 1);
  EXPECT_EQ(out, error);
  EXPECT_EQ(Tool("eval --check \"" + sum + "\"", &out), 1);
  EXPECT_EQ(out, "351\n" + error);
  EXPECT_EQ(Tool("eval --check \"1 = 1" + std::string(79, '0') + "\"", &out), 0);
  EXPECT_EQ(out, "0\n");
  EXPECT_EQ(Tool("eval --check \"1 = 1" + std::string(80, '0') + "\"", &out), 1);
  EXPECT_EQ(out.substr(0, 103),
            "351\nError # 351 (Undefined error)\n"
            "Error in expression : Syntax error: number longer than 80 characters\n");
  // Exact powers, printed with the expression's decimals.
  EXPECT_EQ(Tool("eval \"INT(3^2)\"", &out), 0);
  EXPECT_EQ(out, "N\t13\t2\t9.00\n");
}

TEST_F(ToolEvalTest, EvaluatesOnARecordAndFiltersAList) {
  MakeTable("sales",
            {{"NAME", 'C', 8, 0}, {"AMOUNT", 'N', 8, 2}, {"ACTIVE", 'L', 1, 0}},
            {{"Ann", "100", "T"},
             {"Bob", "600", "T"},
             {"*", "Cyd", "700", "T"},
             {"Dan", "501", "F"},
             {"Eve", "500", "T"}});
  CloseAllAreas();
  const std::string table = dir_.File("sales.dbf");
  std::string out;
  ASSERT_EQ(Tool("eval --table " + table + " --record 2 \"UPPER(NAME) + STR(AMOUNT)\"", &out), 0)
      << out;
  EXPECT_EQ(out, "C\t0\t0\tBOB            600\n");
  ASSERT_EQ(Tool("eval --table " + table + " \"AMOUNT\"", &out), 0) << out;
  EXPECT_EQ(out, "N\t8\t2\t100.00\n");
  // A check names the table's fields too.
  ASSERT_EQ(Tool("eval --check --table " + table + " \"AMOUNT > 500\"", &out), 0) << out;
  EXPECT_EQ(out, "0\n");
  ASSERT_EQ(Tool("eval --check --key --table " + table + " \"ACTIVE\"", &out), 0) << out;
  EXPECT_EQ(out, "361\n");
  ASSERT_EQ(Tool("list " + table + " --csv --filter \"AMOUNT > 500 .AND. .NOT. DELETED()\"", &out),
            0)
      << out;
  EXPECT_EQ(out, "NAME,AMOUNT,ACTIVE\r\nBob,600.00,T\r\nDan,501.00,F\r\n");
  ASSERT_EQ(Tool("list " + table + " --csv --deleted-hidden --filter \"AMOUNT > 500 .AND. ACTIVE\"",
                 &out),
            0)
      << out;
  EXPECT_EQ(out, "NAME,AMOUNT,ACTIVE\r\nBob,600.00,T\r\n");
  EXPECT_NE(Tool("list " + table + " --filter \"AMOUNT >\"", &out), 0);
  EXPECT_NE(out.find("Syntax error"), std::string::npos) << out;
}

}  // namespace
}  // namespace zedra::testing

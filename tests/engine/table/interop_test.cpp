// Tables shared with other programs: python3-dbf writes, the engine reads; the engine
// writes, python3-dbfread reads; a dBASE IV table written by another library lists field
// for field as its dump says.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/platform.h"
#include "table_test_util.h"

namespace zedra::testing {
namespace {

const std::string kPeer = std::string("/usr/bin/python3 ") + ZEDRA_TABLE_TEST_DIR + "/dbf_peer.py";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream s(text);
  std::string line;
  while (std::getline(s, line)) lines.push_back(line);
  return lines;
}

// The current record in the peer script's form.
std::string RecordLine() {
  std::string line = Deleted() ? "*" : " ";
  for (int k = 1; k <= FieldCount(); ++k) {
    const FieldDesc& f = *FieldAt(k);
    std::string raw = FieldRaw(k), cell;
    bool blank = raw.find_first_not_of(' ') == std::string::npos;
    switch (f.type) {
      case 'C':
        cell = platform::Cp1252ToUtf8(FieldText(k));
        break;
      case 'N':
      case 'F':
        if (!blank) {
          char buffer[64];
          std::snprintf(buffer, sizeof buffer, "%.4f", FieldNum(k));
          cell = buffer;
        }
        break;
      case 'D':
        if (!blank) cell = FieldDate(k);
        break;
      case 'L':
        if (std::string("TtYy").find(raw[0]) != std::string::npos) cell = "T";
        if (std::string("FfNn").find(raw[0]) != std::string::npos) cell = "F";
        break;
      default:
        break;
    }
    line += "\t" + cell;
  }
  return line;
}

class InteropTest : public TableTest {};

TEST_F(InteropTest, TablesWrittenByPythonDbfReadFieldForField) {
  struct Case {
    const char* kind;
    const char* codepage;
    uint8_t version;
    bool oem;
  };
  for (const Case& c : {Case{"db3", "cp1252", 0x03, false}, Case{"db3", "cp850", 0x03, true},
                        Case{"fp", "cp1252", 0xF5, false}}) {
    SCOPED_TRACE(std::string(c.kind) + " " + c.codepage);
    // python3-dbf names its files in lower case; the engine finds them all the same.
    const std::string name = File(std::string("peers_") + c.kind + c.codepage);
    std::string out;
    ASSERT_EQ(RunCommand(kPeer + " write " + c.kind + " " + c.codepage + " " + name + " 2>&1", &out), 0) << out;
    std::vector<std::string> expected = Lines(out);
    ASSERT_EQ(expected.size(), 4u);
    MemoHookTable() = MemoHooks{};  // memo texts are not part of this check
    ASSERT_TRUE(Use(name + ".DBF")) << TakeError();
    EXPECT_EQ(CurrentArea()->header[0], c.version);
    EXPECT_EQ(CurrentArea()->oem, c.oem);
    std::vector<std::string> seen;
    for (GoTop(); !Eof(); Skip(1)) seen.push_back(RecordLine());
    EXPECT_EQ(seen, expected);
    CloseArea();
  }
}

TEST_F(InteropTest, PythonDbfreadReadsWhatTheEngineWrote) {
  const std::vector<FieldSpec> specs = {{"NAME", 'C', 20, 0}, {"QTY", 'N', 5, 0},
                                        {"PRICE", 'N', 8, 2}, {"BORN", 'D', 8, 0},
                                        {"OK", 'L', 1, 0},    {"RATIO", 'F', 10, 4}};
  for (uint8_t version : {0x03, 0x8B}) {
    SCOPED_TRACE(int(version));
    const std::string path = File("engine" + std::to_string(version) + ".dbf");
    MemoHookTable() = MemoHooks{};
    ASSERT_TRUE(CreateDbf(path, version, specs)) << TakeError();
    ASSERT_TRUE(Use(path, Exclusive()));
    std::vector<std::string> expected;
    for (int i = 0; i < 40; ++i) {
      ASSERT_TRUE(AppendBlank());
      if (i % 7 != 3) {
        ASSERT_TRUE(SetFieldText(1, platform::Utf8ToCp1252(i == 0 ? "Zoë Ålander" : "name " + std::to_string(i))));
        ASSERT_TRUE(SetFieldNum(2, i * 37 - 500));
        ASSERT_TRUE(SetFieldNum(3, i * 1.25 - 3.5));
        ASSERT_TRUE(SetFieldDate(4, std::to_string(1990 + i) + "0" + std::to_string(1 + i % 9) + "15"));
        ASSERT_TRUE(SetFieldLogical(5, i % 2 == 0));
        ASSERT_TRUE(SetFieldNum(6, i / 8.0));
      }
      ASSERT_TRUE(Replace());
      if (i % 5 == 4) {
        ASSERT_TRUE(DeleteRec());
      }
      expected.push_back(RecordLine());
    }
    CloseArea();
    std::string out;
    ASSERT_EQ(RunCommand(kPeer + " read " + path + " 2>&1", &out), 0) << out;
    std::vector<std::string> lines = Lines(out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "count 32");
    lines.erase(lines.begin());
    std::sort(lines.begin(), lines.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(lines, expected);
  }
}

// Splits a line of records.tsv.
std::vector<std::string> Cells(const std::string& line) {
  std::vector<std::string> cells;
  size_t start = 0;
  for (;;) {
    size_t tab = line.find('\t', start);
    cells.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return cells;
    start = tab + 1;
  }
}

TEST_F(InteropTest, DbaseFourTableOfAnotherProgramMatchesItsDump) {
  const std::string fixture = std::string(ZEDRA_FIXTURES_DIR) + "/dbase4-people/";
  WriteFileBytes(File("PEOPLE.DBF"), ReadFileBytes(fixture + "PEOPLE.DBF"));
  std::ifstream tsv(fixture + "records.tsv");
  ASSERT_TRUE(tsv.good());
  std::string line;
  std::getline(tsv, line);  // column names
  MemoHookTable() = MemoHooks{};
  UseOptions raw;
  raw.oem = false;  // compare the bytes as stored
  ASSERT_TRUE(Use(File("people"), raw)) << TakeError();
  EXPECT_EQ(CurrentArea()->header[0], 0x8B);
  EXPECT_TRUE(CurrentArea()->has_memo);
  EXPECT_EQ(RecCount(), 200);
  ASSERT_EQ(FieldCount(), 6);
  EXPECT_EQ(FieldType(6), 'M');
  int records = 0;
  for (GoTop(); !Eof(); Skip(1)) {
    ASSERT_TRUE(std::getline(tsv, line));
    std::vector<std::string> cells = Cells(line);
    ASSERT_GE(cells.size(), 8u);
    EXPECT_EQ(std::to_string(RecNo()), cells[0]);
    EXPECT_EQ(Deleted() ? "*" : " ", cells[1]);
    for (int k = 1; k <= 6; ++k) EXPECT_EQ(FieldRaw(k), cells[k + 1]) << "record " << RecNo() << " field " << k;
    ++records;
  }
  EXPECT_EQ(records, 200);
  // Header byte 29 names a DOS code page: by default the table is read as OEM text.
  CloseArea();
  ASSERT_TRUE(Use(File("people")));
  EXPECT_TRUE(CurrentArea()->oem);
}

// ---------------------------------------------------------------------------------------
// The zedra tool

class TableToolTest : public TableTest {
 protected:
  int Run(const std::string& args, std::string* out = nullptr) {
    std::string text;
    int status = RunCommand(std::string(ZEDRA_TOOL_PATH) + " " + args + " 2>&1", &text);
    if (out) *out = text;
    return status;
  }
};

TEST_F(TableToolTest, CreateAppendInfoAndListCsv) {
  const std::string t = File("people");
  std::string out;
  ASSERT_EQ(Run("create " + t + " --version 0x03 --field NAME:C:12 --field AMOUNT:N:8:2 "
                "--field BORN:D --field OK:L",
                &out),
            0)
      << out;
  // Creating again over the table is refused and leaves it as it was.
  const std::string before = ReadFileBytes(t + ".DBF");
  EXPECT_EQ(Run("create " + t + " --field X:C:5", &out), 1);
  EXPECT_NE(out.find("already exists; nothing was changed"), std::string::npos) << out;
  EXPECT_EQ(ReadFileBytes(t + ".DBF"), before);
  ASSERT_EQ(Run("append " + t + " NAME=Zoë AMOUNT=12.5 BORN=2024-02-29 OK=T", &out), 0) << out;
  ASSERT_EQ(Run("append " + t + " 'NAME=Smith, \"J\"' AMOUNT=-3 BORN=19991231 OK=F", &out), 0) << out;
  ASSERT_EQ(Run("append " + t + " NAME=blank", &out), 0) << out;
  // A value that does not fit appends nothing.
  EXPECT_NE(Run("append " + t + " NAME=x AMOUNT=123456789", &out), 0);
  EXPECT_NE(out.find("Error # 220"), std::string::npos) << out;
  EXPECT_NE(Run("append " + t + " NOPE=1", &out), 0);
  EXPECT_NE(Run("append " + t + " BORN=2024-13-01", &out), 0);
  EXPECT_NE(Run("append " + t + " BORN=2024-02-30", &out), 0);
  // Characters Windows-1252 lacks, and bytes that are not UTF-8, are refused, not replaced.
  EXPECT_NE(Run("append " + t + " NAME=Łódź", &out), 0);
  EXPECT_NE(out.find("Error # 220"), std::string::npos) << out;
  EXPECT_NE(Run("append " + t + " 'NAME=a\xff'", &out), 0);

  ASSERT_EQ(Run("info " + t, &out), 0) << out;
  EXPECT_NE(out.find("Version:       0x03"), std::string::npos) << out;
  EXPECT_NE(out.find("Records:       3"), std::string::npos) << out;
  EXPECT_NE(out.find("Record length: 30"), std::string::npos) << out;
  EXPECT_NE(out.find("AMOUNT      N          8         2"), std::string::npos) << out;

  ASSERT_EQ(Run("list " + t + " --csv", &out), 0) << out;
  EXPECT_EQ(out,
            "NAME,AMOUNT,BORN,OK\r\n"
            "Zoë,12.50,2024-02-29,T\r\n"
            "\"Smith, \"\"J\"\"\",-3.00,1999-12-31,F\r\n"
            "blank,,,F\r\n");
  ASSERT_EQ(Run("list " + t + " --csv --deleted --fields ok,name --start 2 --count 1", &out), 0);
  EXPECT_EQ(out, "_deleted,OK,NAME\r\nF,F,\"Smith, \"\"J\"\"\"\r\n");
  ASSERT_EQ(Run("list " + t, &out), 0) << out;
  EXPECT_NE(out.find("Record#  NAME"), std::string::npos) << out;
  EXPECT_NE(out.find("2        Smith, \"J\"  -3.00"), std::string::npos) << out;
}

TEST_F(TableToolTest, GoldenTableIsWrittenByteForByte) {
  const std::string t = File("GOLDEN");
  ASSERT_EQ(Run("create " + t + " --version 0x03 --field NAME:C:10 --field AMOUNT:N:8:2 "
                "--field BORN:D --field OK:L --field RATIO:F:6:3"),
            0);
  ASSERT_EQ(Run("append " + t + ".DBF NAME=Zoë AMOUNT=12.5 BORN=2024-02-29 OK=T RATIO=0.125"), 0);
  ASSERT_EQ(Run("append " + t + ".DBF NAME=second AMOUNT=-0.5"), 0);
  std::string made = ReadFileBytes(t + ".DBF");
  std::string golden = ReadFileBytes(std::string(ZEDRA_TEST_DATA_DIR) + "/table/GOLDEN.DBF");
  ASSERT_EQ(made.size(), golden.size());
  made.replace(1, 3, "___");  // the date of last update
  golden.replace(1, 3, "___");
  EXPECT_EQ(made, golden);
}

TEST_F(TableToolTest, ListShowsDeletedRecordsUnlessHidden) {
  const std::string t = File("d");
  ASSERT_EQ(Run("create " + t + " --field N:C:3"), 0);
  for (const char* v : {"a", "b", "c"}) ASSERT_EQ(Run("append " + t + " N=" + v), 0);
  ASSERT_TRUE(Use(t, Exclusive()));
  Goto(2);
  ASSERT_TRUE(DeleteRec());
  CloseArea();
  std::string out;
  ASSERT_EQ(Run("list " + t + " --csv --deleted", &out), 0);
  EXPECT_EQ(out, "_deleted,N\r\nF,a\r\nT,b\r\nF,c\r\n");
  ASSERT_EQ(Run("list " + t + " --csv --deleted-hidden", &out), 0);
  EXPECT_EQ(out, "N\r\na\r\nc\r\n");
  ASSERT_EQ(Run("list " + t, &out), 0);
  EXPECT_NE(out.find("2 *"), std::string::npos) << out;
}

TEST_F(TableToolTest, FieldNamesTravelAsUtf8) {
  // "GRÖSSE" stored in Windows-1252, and in code page 850 in a table marked as DOS text.
  std::string ansi = MakeDbf(0x03, {{"GR\xD6SSE", 'C', 4}}, {" ab"});
  WriteFileBytes(File("ansi.dbf"), ansi);
  std::string oem = MakeDbf(0x03, {{"GR\x99SSE", 'C', 4}}, {" ab"});
  oem[29] = 0x02;
  WriteFileBytes(File("oem.dbf"), oem);
  for (const char* name : {"ansi.dbf", "oem.dbf"}) {
    SCOPED_TRACE(name);
    const std::string t = File(name);
    std::string out;
    ASSERT_EQ(Run("list " + t + " --csv", &out), 0) << out;
    EXPECT_EQ(out, "GRÖSSE\r\nab\r\n");
    ASSERT_EQ(Run("list " + t + " --csv --fields grösse", &out), 0) << out;
    EXPECT_EQ(out, "GRÖSSE\r\nab\r\n");
    ASSERT_EQ(Run("append " + t + " GRÖSSE=cd", &out), 0) << out;
    ASSERT_EQ(Run("info " + t, &out), 0) << out;
    EXPECT_NE(out.find("  1  GRÖSSE      C"), std::string::npos) << out;
  }
}

TEST_F(TableToolTest, ErrorsGoToStandardErrorWithTheEngineText) {
  std::string out;
  WriteFileBytes(File("junk.dbf"), "this is no table at all, not even close");
  EXPECT_EQ(Run("info " + File("junk.dbf"), &out), 1);
  EXPECT_NE(out.find("Error # 210 (Not a dBASE data file)"), std::string::npos) << out;
  EXPECT_EQ(Run("list " + File("missing"), &out), 1);
  EXPECT_NE(out.find("Error # 2 (File not found)"), std::string::npos) << out;
  EXPECT_EQ(Run("create " + File("x") + " --field A:Q:3", &out), 1);
  EXPECT_EQ(Run("create " + File("x") + " --field A", &out), 2);
  EXPECT_EQ(Run("list " + File("x") + " --start 0", &out), 2);
  ASSERT_EQ(Run("create " + File("y") + " --field A:C:3", &out), 0) << out;
  EXPECT_EQ(Run("list " + File("y") + " --fields A,NOPE", &out), 2) << out;
  EXPECT_NE(out.find("no field \"NOPE\" in " + File("y") + ".DBF"), std::string::npos) << out;
}

}  // namespace
}  // namespace zedra::testing

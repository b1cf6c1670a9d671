// Memo files shared with other programs: written by python3-dbf and read here, written
// here and read by python3-dbfread and python3-dbf, and a dBASE IV table with memos
// written by another xBase library (the dbase4-people fixture).
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/memo/memo_test_util.h"

namespace zedra::testing {
namespace {

const std::string kPython = "/usr/bin/python3";
const std::string kScripts = ZEDRA_MEMO_TEST_DIR;

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

std::string Unhex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out += char(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Texts that catch block edges, line ends and 8-bit characters.
std::vector<std::string> PeerTexts() {
  return {"Short note.",
          std::string(504, 'a'),
          std::string(505, 'b'),
          "x",
          "first line\r\nsecond line\r\n\r\nafter an empty line",
          std::string(2600, 'c'),
          "",
          "LF only\nline two\n",
          "tabs\tand trailing\t",
          "caf\xE9 cr\xE8me br\xFBl\xE9"};
}

class MemoInteropTest : public MemoTest {};

TEST_F(MemoInteropTest, ReadsWhatPythonDbfWrote) {
  const std::vector<std::string> texts = PeerTexts();
  {
    std::ofstream hex(File("texts.hex"));
    for (const std::string& t : texts) hex << Hex(t) << "\n";
  }
  for (const std::string kind : {"db3", "fp"}) {
    SCOPED_TRACE(kind);
    std::string table = File("PEER_" + kind + ".dbf");
    std::string output;
    ASSERT_EQ(RunCommand(kPython + " " + kScripts + "/peer_write.py " + kind + " " + table + " " +
                             File("texts.hex") + " 2>&1",
                         &output),
              0)
        << output;
    ASSERT_TRUE(Use(table)) << TakeError();
    ASSERT_EQ(RecCount(), int32_t(texts.size()));
    int k = FieldNumber("NOTES");
    for (int32_t n = 1; n <= RecCount(); ++n) {
      Dbf4Go(n);
      EXPECT_EQ(GetMemoText(k), texts[size_t(n - 1)]) << "record " << n;
    }
    EXPECT_EQ(ErrorCode(), 0) << TakeError();
    CloseAllAreas();
  }
}

TEST_F(MemoInteropTest, PythonPeersReadWhatTheEngineWrote) {
  std::vector<std::string> texts = PeerTexts();
  for (uint8_t kind : {0x83, 0x8B, 0xF5}) {
    SCOPED_TRACE(kind);
    std::string table = File("OURS" + std::to_string(kind) + ".DBF");
    ASSERT_TRUE(CreateDbf(table, kind, {{"NAME", 'C', 10, 0}, {"NOTES", 'M', 10, 0}}));
    ASSERT_TRUE(Use(table));
    for (const std::string& t : texts) AddRecord(t);
    // A memo rewritten through a stream, and one copied from another record.
    MemoTextStream s;
    Dbf4Go(1);
    int32_t var = MemoRefOfField();
    ASSERT_EQ(AssignMemo(s, &var), 0);
    ASSERT_EQ(StreamAppend(s), 0);
    ASSERT_EQ(StreamWriteLine(s, "appended"), 0);
    ASSERT_EQ(StreamClose(s), 0);
    ASSERT_TRUE(SetFieldRaw(2, std::string(10 - std::to_string(var).size(), ' ') +
                                   std::to_string(var)));
    ASSERT_TRUE(Replace());
    CloseAllAreas();
    std::vector<std::string> expected = texts;
    expected[0] = "Short note.\r\nappended\r\n";

    std::string output;
    ASSERT_EQ(RunCommand(kPython + " " + kScripts + "/peer_read.py " + table + " NOTES", &output), 0)
        << output;
    std::vector<std::string> got = Lines(output);
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); ++i) {
      std::string text = Unhex(got[i]);
      // python3-dbfread reads a dBASE IV memo as the stored length's worth of bytes after
      // its group header, a length that counts the header: it hands out 8 bytes too many
      // (zeros of the padding, or the next memo's header). That is its own fault, so those
      // bytes are cut off before comparing.
      if (kind == 0x8B && text.size() > expected[i].size() &&
          text.size() <= expected[i].size() + 8)
        text.resize(expected[i].size());
      EXPECT_EQ(text, expected[i]) << "record " << i + 1;
    }
    if (kind == 0x8B) continue;  // python3-dbf reads no dBASE IV memo files
    // python3-dbf takes a dBASE III memo to run up to two 0x1A, as dBASE III writes it: it
    // reads exactly the text, also after a pack has copied every memo.
    auto read_with_dbf = [&] {
      std::string output;
      EXPECT_EQ(RunCommand(kPython + " " + kScripts + "/peer_read.py " + table + " NOTES dbf 2>&1",
                           &output),
                0)
          << output;
      std::vector<std::string> texts_read;
      for (const std::string& line : Lines(output)) texts_read.push_back(Unhex(line));
      return texts_read;
    };
    EXPECT_EQ(read_with_dbf(), expected);
    UseOptions exclusive;
    exclusive.exclusive = true;
    ASSERT_TRUE(Use(table, exclusive));
    PackMemofile();
    ASSERT_EQ(ErrorCode(), 0) << TakeError();
    CloseAllAreas();
    EXPECT_EQ(read_with_dbf(), expected);
  }
}

// ---------------------------------------------------------------------------------------
// The dbase4-people fixture

std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 >= s.size()) {
      out += s[i];
      continue;
    }
    char c = s[++i];
    if (c == 'n') out += '\n';
    else if (c == 'r') out += '\r';
    else if (c == 't') out += '\t';
    else if (c == 'x' && i + 2 < s.size()) {
      out += char(std::stoi(s.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else out += c;
  }
  return out;
}

struct PeopleRecord {
  int recno;
  std::string pointer;
  std::string text;
};

std::vector<PeopleRecord> PeopleRecords() {
  std::ifstream in(std::string(ZEDRA_FIXTURES_DIR) + "/dbase4-people/records.tsv");
  std::vector<PeopleRecord> records;
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::vector<std::string> cols;
    size_t start = 0;
    for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
      cols.push_back(line.substr(start, tab - start));
    cols.push_back(line.substr(start));
    if (cols.size() < 10) continue;
    records.push_back({std::stoi(cols[0]), cols[7], Unescape(cols[9])});
  }
  return records;
}

class PeopleFixtureTest : public MemoTest {
 protected:
  void SetUp() override {
    MemoTest::SetUp();
    const std::string from = std::string(ZEDRA_FIXTURES_DIR) + "/dbase4-people/";
    for (const char* name : {"PEOPLE.DBF", "PEOPLE.DBT"}) {
      WriteFileBytes(File(name), ReadFileBytes(from + name));
      std::filesystem::permissions(File(name), std::filesystem::perms::owner_read |
                                                   std::filesystem::perms::owner_write);
    }
    records_ = PeopleRecords();
    ASSERT_EQ(records_.size(), 200u);
  }
  std::vector<PeopleRecord> records_;
};

TEST_F(PeopleFixtureTest, EveryMemoReadsByteForByte) {
  ASSERT_TRUE(Use(File("PEOPLE.DBF"))) << TakeError();
  ASSERT_EQ(CurrentArea()->memo->block_size, 512);
  const int k = FieldNumber("NOTES");
  for (const PeopleRecord& r : records_) {
    Dbf4Go(r.recno);
    ASSERT_EQ(FieldRaw(k), r.pointer) << r.recno;
    EXPECT_EQ(GetMemoText(k), r.text) << "record " << r.recno;
  }
  EXPECT_EQ(ErrorCode(), 0) << TakeError();
}

TEST_F(PeopleFixtureTest, MemoCommandPrintsEveryChosenCase) {
  for (int recno = 1; recno <= 14; ++recno) {
    std::string output;
    int status = RunCommand(std::string(ZEDRA_TOOL_PATH) + " memo " + File("PEOPLE.DBF") +
                                " notes " + std::to_string(recno),
                            &output);
    EXPECT_EQ(status, 0) << recno;
    EXPECT_EQ(output, records_[size_t(recno - 1)].text) << "record " << recno;
  }
  // The table is marked as code page 437 (0x1B): the bytes E9 E8 FB are Greek theta, Greek
  // phi and the square root there.
  std::string output;
  ASSERT_EQ(RunCommand(std::string(ZEDRA_TOOL_PATH) + " memo " + File("PEOPLE.DBF") + " notes 12 --utf8",
                       &output),
            0);
  EXPECT_EQ(output, "Caf\u0398 cr\u03A6me br\u221Al\u0398e (Latin-1 bytes)");
}

// What an expression of the memo field gets: the memo read through a stream line by line
// (each line up to 255 characters), lines joined without their ends, at most 255
// characters (the memo pool less its closing zero).
std::string ExpressionText(int32_t block) {
  MemoTextStream s;
  int32_t var = block;
  if (AssignMemo(s, &var) != 0 || StreamReset(s) != 0) return "<error>";
  std::string text, line;
  while (!StreamEof(s) && text.size() < 255) {
    StreamReadLine(s, &line);
    text += line.substr(0, 255);
  }
  StreamClose(s);
  return text.substr(0, 255);
}

TEST_F(PeopleFixtureTest, MemoTextThroughTheStreamAsExpressionsReadIt) {
  ASSERT_TRUE(Use(File("PEOPLE.DBF")));
  const int k = FieldNumber("NOTES");
  for (const PeopleRecord& r : records_) {
    Dbf4Go(r.recno);
    std::string expected;
    for (char c : r.text)
      if (c != '\r' && c != '\n') expected += c;
    EXPECT_EQ(ExpressionText(MemoRefOfField(k)), expected.substr(0, 255)) << r.recno;
  }
}

TEST_F(PeopleFixtureTest, ExpressionOfTheMemoField) {
  if (!ExprHookTable().AssignExpr) GTEST_SKIP() << "no expression layer";
  ASSERT_TRUE(Use(File("PEOPLE.DBF")));
  CompiledExpr* e = ExprHookTable().AssignExpr("NOTES");
  ASSERT_NE(e, nullptr) << TakeError();
  for (const PeopleRecord& r : records_) {
    Dbf4Go(r.recno);
    std::string expected;
    for (char c : r.text)
      if (c != '\r' && c != '\n') expected += c;
    const void* v = ExprHookTable().Evaluate(e);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(std::string(static_cast<const char*>(v)), expected.substr(0, 255)) << r.recno;
  }
  ExprHookTable().ReleaseExpr(e);
}

TEST_F(PeopleFixtureTest, PackKeepsEveryMemo) {
  ASSERT_TRUE(Use(File("PEOPLE.DBF"), UseOptions{true, "", std::nullopt}));
  PackMemofile();
  ASSERT_EQ(ErrorCode(), 0) << TakeError();
  const int k = FieldNumber("NOTES");
  for (const PeopleRecord& r : records_) {
    Dbf4Go(r.recno);
    EXPECT_EQ(GetMemoText(k), r.text) << r.recno;
  }
}

}  // namespace
}  // namespace zedra::testing

// Memo text as lines (GetMemo, word wrap, EditMemo) and the memo text stream.
#include "engine/memo/memo_test_util.h"

namespace zedra::testing {
namespace {

class MemoTextTest : public MemoTest {
 protected:
  // Reads the memo of the current record through an input stream, line by line.
  std::vector<std::string> StreamLines(int32_t block) {
    MemoTextStream s;
    int32_t var = block;
    EXPECT_EQ(AssignMemo(s, &var), 0);
    EXPECT_EQ(StreamReset(s), 0);
    std::vector<std::string> lines;
    std::string line;
    while (!StreamEof(s)) {
      EXPECT_EQ(StreamReadLine(s, &line), 0);
      lines.push_back(line);
    }
    EXPECT_EQ(StreamClose(s), 0);
    return lines;
  }
  std::vector<std::string> TableLines() {
    std::vector<std::string> v;
    for (uint32_t i = 1; i <= Memos().lines.count; ++i) v.push_back(Memos().lines.lines[i]);
    return v;
  }
};

TEST_F(MemoTextTest, WordWrapBreaksAfterBlanksAndTheStreamJoinsTheLines) {
  ASSERT_TRUE(MakeTable("T.DBF", 0x8B));
  std::string paragraph;
  for (int i = 0; paragraph.size() < 200; ++i) paragraph += "word" + std::to_string(i) + " ";
  paragraph.resize(200);
  if (paragraph.back() == ' ') paragraph.back() = 'x';
  int32_t block = AddRecord(paragraph);
  Memos().WordWrap = true;
  Memos().LineWidth = 78;
  ASSERT_TRUE(GetMemo(block, 0));
  std::vector<std::string> lines = TableLines();
  ASSERT_EQ(lines.size(), 3u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_LE(lines[i].size(), 78u);
    EXPECT_EQ(lines[i].back(), ' ');
    EXPECT_EQ(Memos().lines.breaks[i + 1], 0);
  }
  EXPECT_EQ(lines[0] + lines[1] + lines[2], paragraph);
  // A word that does not fit moves whole to the next line.
  EXPECT_NE(lines[1].front(), ' ');
  EXPECT_EQ(StreamLines(block), std::vector<std::string>{paragraph});
}

TEST_F(MemoTextTest, LongWordWithoutBlanksIsCutAtTheWidth) {
  ASSERT_TRUE(MakeTable("T.DBF", 0x8B));
  int32_t block = AddRecord(std::string(100, 'z'));
  Memos().WordWrap = true;
  Memos().LineWidth = 40;
  ASSERT_TRUE(GetMemo(block, 0));
  EXPECT_EQ(TableLines(), (std::vector<std::string>{std::string(40, 'z'), std::string(40, 'z'),
                                                     std::string(20, 'z')}));
  // Without word wrap lines end at 253 characters.
  Memos().WordWrap = false;
  block = AddRecord(std::string(300, 'y'));
  ASSERT_TRUE(GetMemo(block, 0));
  EXPECT_EQ(TableLines(), (std::vector<std::string>{std::string(253, 'y'), std::string(47, 'y')}));
}

TEST_F(MemoTextTest, LineEndsAndTheirFlags) {
  ASSERT_TRUE(MakeTable("T.DBF", 0x8B));
  int32_t block = AddRecord("one\r\ntwo\x8D\nthree\rfour\r\n\r\nlast");
  ASSERT_TRUE(GetMemo(block, 0));
  EXPECT_EQ(TableLines(), (std::vector<std::string>{"one", "two", "three", "four", "", "last"}));
  const auto& b = Memos().lines.breaks;
  EXPECT_EQ(std::vector<uint8_t>(b.begin() + 1, b.begin() + 7),
            (std::vector<uint8_t>{0x0D, 0x8D, 0x0D, 0x0D, 0x0D, 0}));
  // A line limit stops early.
  ASSERT_TRUE(GetMemo(block, 2));
  EXPECT_EQ(TableLines(), (std::vector<std::string>{"one", "two"}));
  // Block 0 is one empty line.
  ASSERT_TRUE(GetMemo(0, 0));
  EXPECT_EQ(Memos().lines.count, 1u);
}

TEST_F(MemoTextTest, ByteThreeEndsAMemo) {
  ASSERT_TRUE(MakeTable("T.DBF", 0x8B));
  AddRecord(std::string("before\x03" "after", 12));
  EXPECT_EQ(GetMemoText(2), "before");
  ASSERT_TRUE(GetMemo(MemoRefOfField(), 0));
  EXPECT_EQ(TableLines(), std::vector<std::string>{"before"});
}

TEST_F(MemoTextTest, Dbase3MemoStopsAt1AEvenWithMoreInTheBlock) {
  // Shared, so that the memo file can be changed beside the engine on every system.
  ASSERT_TRUE(MakeTable("T.DBF", 0x83, false));
  int32_t block = AddRecord("visible");
  std::string dbt = ReadFileBytes(File("T.DBT"));
  dbt.replace(512 + 8, 6, "hidden");  // after the 0x1A at 519
  WriteFileBytes(File("T.DBT"), dbt);
  EXPECT_EQ(GetMemoText(2), "visible");
  ASSERT_TRUE(GetMemo(block, 0));
  EXPECT_EQ(TableLines(), std::vector<std::string>{"visible"});
}

TEST_F(MemoTextTest, OutputStreamStoresWhatWasWritten) {
  for (uint8_t kind : {0x83, 0x8B, 0xF5}) {
    SCOPED_TRACE(kind);
    CloseAllAreas();
    ASSERT_TRUE(MakeTable("O" + std::to_string(kind) + ".DBF", kind));
    ASSERT_TRUE(AppendBlank());
    MemoTextStream s;
    int32_t var = 77;
    ASSERT_EQ(AssignMemo(s, &var), 0);
    ASSERT_EQ(StreamRewrite(s), 0);
    EXPECT_EQ(var, 0);  // at once, before anything is written
    ASSERT_EQ(StreamWriteLine(s, "first line"), 0);
    ASSERT_EQ(StreamWrite(s, "sec"), 0);
    ASSERT_EQ(StreamWriteLine(s, "ond"), 0);
    ASSERT_EQ(StreamWrite(s, "abc"), 0);
    ASSERT_EQ(StreamClose(s), 0);
    EXPECT_GT(var, 0);
    EXPECT_EQ(ReadMemoText(var), "first line\r\nsecond\r\nabc");

    // "abc" alone has no line end.
    ASSERT_EQ(StreamRewrite(s), 0);
    ASSERT_EQ(StreamWrite(s, "abc"), 0);
    ASSERT_EQ(StreamClose(s), 0);
    EXPECT_EQ(ReadMemoText(var), "abc");

    // Nothing written leaves 0.
    ASSERT_EQ(StreamRewrite(s), 0);
    ASSERT_EQ(StreamClose(s), 0);
    EXPECT_EQ(var, 0);
  }
}

TEST_F(MemoTextTest, SeveralLinesInOneWriteStayApart) {
  ASSERT_TRUE(MakeTable("T.DBF", 0x8B));
  MemoTextStream s;
  int32_t var = 0;
  ASSERT_EQ(AssignMemo(s, &var), 0);
  ASSERT_EQ(StreamRewrite(s), 0);
  ASSERT_EQ(StreamWrite(s, "a\r\nb\r\nc"), 0);
  ASSERT_EQ(StreamClose(s), 0);
  EXPECT_EQ(ReadMemoText(var), "a\r\nb\r\nc");
}

TEST_F(MemoTextTest, SoftReturnsAreRewrittenAsCrLf) {
  ASSERT_TRUE(MakeTable("T.DBF", 0x8B));
  int32_t block = AddRecord("one\x8D\ntwo\x8D\nthree");
  MemoTextStream s;
  int32_t var = block;
  ASSERT_EQ(AssignMemo(s, &var), 0);
  ASSERT_EQ(StreamAppend(s), 0);
  ASSERT_EQ(StreamWriteLine(s, "four"), 0);
  ASSERT_EQ(StreamClose(s), 0);
  EXPECT_EQ(var, block);  // it still fits its block
  EXPECT_EQ(ReadMemoText(var), "one\r\ntwo\r\nthree\r\nfour\r\n");
}

TEST_F(MemoTextTest, AppendToAnEmptyMemoReplacesItsEmptyLine) {
  ASSERT_TRUE(MakeTable("T.DBF", 0x83));
  MemoTextStream s;
  int32_t var = 0;
  ASSERT_EQ(AssignMemo(s, &var), 0);
  ASSERT_EQ(StreamAppend(s), 0);
  ASSERT_EQ(StreamWriteLine(s, "only"), 0);
  ASSERT_EQ(StreamClose(s), 0);
  EXPECT_EQ(ReadMemoText(var), "only\r\n");
}

TEST_F(MemoTextTest, RewriteInPlaceWithSmallBlocksSparesTheNextMemo) {
  Memos().DefaultBlockSize = 64;
  ASSERT_TRUE(MakeTable("T.DBF", 0x8B));
  int32_t first = AddRecord(std::string(100, 'a') + "\r\n");  // two blocks of 64
  AddRecord("neighbour");
  MemoTextStream s;
  int32_t var = first;
  ASSERT_EQ(AssignMemo(s, &var), 0);
  ASSERT_EQ(StreamAppend(s), 0);
  ASSERT_EQ(StreamWriteLine(s, std::string(200, 'b')), 0);
  ASSERT_EQ(StreamClose(s), 0);
  EXPECT_NE(var, first);  // it no longer fits its two blocks
  EXPECT_EQ(ReadMemoText(var), std::string(100, 'a') + "\r\n" + std::string(200, 'b') + "\r\n");
  EXPECT_EQ(GetMemoText(2), "neighbour");
}

TEST_F(MemoTextTest, LongOutputLinesAreSplitWithoutStrayLineEnds) {
  ASSERT_TRUE(MakeTable("T.DBF", 0x8B));
  // 253 and 254 characters with their CR LF fill the stream's buffer: the line end must
  // neither end up inside the line nor add an empty line.
  for (size_t length : {253, 254, 255, 510, 600}) {
    SCOPED_TRACE(length);
    MemoTextStream s;
    int32_t var = 0;
    ASSERT_EQ(AssignMemo(s, &var), 0);
    ASSERT_EQ(StreamRewrite(s), 0);
    ASSERT_EQ(StreamWriteLine(s, std::string(length, 'L')), 0);
    ASSERT_EQ(StreamWriteLine(s, "next"), 0);
    ASSERT_EQ(StreamClose(s), 0);
    std::string text = ReadMemoText(var);
    ASSERT_EQ(text.substr(text.size() - 8), "\r\nnext\r\n");
    text.resize(text.size() - 6);  // keeps the last line's CR LF
    size_t letters = 0;
    for (size_t at = 0; at < text.size();) {
      size_t end = text.find("\r\n", at);
      ASSERT_NE(end, std::string::npos);
      std::string line = text.substr(at, end - at);
      EXPECT_FALSE(line.empty());
      EXPECT_LE(line.size(), 254u);
      EXPECT_EQ(line, std::string(line.size(), 'L'));
      letters += line.size();
      at = end + 2;
    }
    EXPECT_EQ(letters, length);
    if (length <= 254) {
      EXPECT_EQ(text, std::string(length, 'L') + "\r\n");
    }
  }
}

TEST_F(MemoTextTest, TheLineAfterTheCapacityIsDropped) {
  ASSERT_TRUE(MakeTable("T.DBF", 0x8B));
  std::string text;
  for (int i = 1; i <= 1030; ++i) text += "line" + std::to_string(i) + "\r\n";
  int32_t block = AddRecord(text);
  ASSERT_TRUE(GetMemo(block, 0));
  EXPECT_EQ(Memos().lines.count, 1024u);
  EXPECT_EQ(Memos().lines.lines[1024], "line1024");
  std::vector<std::string> lines = StreamLines(block);
  ASSERT_EQ(lines.size(), 1024u);
  EXPECT_EQ(lines.back(), "line1024");
  // An output stream refuses the line after the last.
  MemoTextStream s;
  int32_t var = 0;
  ASSERT_EQ(AssignMemo(s, &var), 0);
  ASSERT_EQ(StreamRewrite(s), 0);
  int result = 0;
  for (int i = 1; i <= 1025 && result == 0; ++i) result = StreamWriteLine(s, "x");
  EXPECT_EQ(result, 101);
  StreamClose(s);
}

TEST_F(MemoTextTest, InputStreamDeliversLineEndsAsWritten) {
  ASSERT_TRUE(MakeTable("T.DBF", 0x8B));
  int32_t block = AddRecord("a\r\nb\x8D\n\x8D\nc\r\n\r\nd");
  MemoTextStream s;
  int32_t var = block;
  ASSERT_EQ(AssignMemo(s, &var), 0);
  ASSERT_EQ(StreamReset(s), 0);
  std::string all;
  while (!StreamEof(s)) {
    all += s.buffer.substr(s.buffer_pos);
    s.buffer_pos = s.buffer.size();
  }
  StreamClose(s);
  // The soft return joins its line to the next; the last line has no line end.
  EXPECT_EQ(all, "a\r\nbc\r\n\r\nd");
}

TEST_F(MemoTextTest, AssignMemoNeedsATableWithAMemoFile) {
  MemoTextStream s;
  int32_t var = 0;
  EXPECT_EQ(AssignMemo(s, &var), 215);
  EXPECT_EQ(TakeError(), "215:  [AssignMemo]");
  ASSERT_TRUE(CreateDbf(File("P.DBF"), 0x03, {{"NAME", 'C', 5, 0}}));
  ASSERT_TRUE(Use(File("P.DBF")));
  EXPECT_EQ(AssignMemo(s, &var), 1019);
  EXPECT_EQ(TakeError(), "1019: " + File("P.DBF") + " No Memo Field [AssignMemo]");
  // A stream whose memo cannot be read fails to open with 100.
  CloseAllAreas();
  ASSERT_TRUE(MakeTable("T.DBF", 0x8B));
  var = 500;
  ASSERT_EQ(AssignMemo(s, &var), 0);
  EXPECT_EQ(StreamReset(s), 100);
  Errors().ErrorCode = 0;
}

TEST_F(MemoTextTest, StreamWorksInItsOwnArea) {
  ASSERT_TRUE(MakeTable("T.DBF", 0x8B));
  int32_t block = AddRecord("from area one");
  MemoTextStream s;
  int32_t var = block;
  ASSERT_EQ(AssignMemo(s, &var), 0);
  ASSERT_TRUE(Select(2));
  ASSERT_EQ(StreamReset(s), 0);
  std::string line;
  ASSERT_EQ(StreamReadLine(s, &line), 0);
  EXPECT_EQ(line, "from area one");
  StreamClose(s);
  EXPECT_EQ(CurrentAreaNumber(), 2);
}

TEST_F(MemoTextTest, EditMemoRewritesInPlaceWhenItFits) {
  ASSERT_TRUE(MakeTable("T.DBF", 0x8B));
  int32_t block = AddRecord(std::string(900, 'o') + "\r\n");  // two blocks
  AddRecord("next");
  ASSERT_TRUE(GetMemo(block, 0));
  Memos().lines.lines[1] = "short";
  Memos().lines.count = 1;
  EXPECT_EQ(EditMemo(block), block);
  EXPECT_EQ(ReadMemoText(block), "short\r\n");
  ASSERT_TRUE(GetMemo(block, 0));
  Memos().lines.lines[1] = std::string(250, 'p');
  Memos().lines.lines[2] = std::string(250, 'q');
  Memos().lines.lines[3] = std::string(250, 'r');
  Memos().lines.count = 3;
  Memos().lines.breaks_allocated = true;
  Memos().lines.breaks.assign(1025, 0);
  // The rewrite left one block in its group header: 756 bytes move behind "next".
  int32_t moved = EditMemo(block);
  EXPECT_EQ(moved, 4);
  EXPECT_EQ(ReadMemoText(moved).size(), 3u * 252);
  // Shorter again: it stays.
  Memos().lines.count = 1;
  EXPECT_EQ(EditMemo(moved), moved);
  EXPECT_EQ(ReadMemoText(moved), std::string(250, 'p') + "\r\n");
  Dbf4Go(2);
  EXPECT_EQ(GetMemoText(2), "next");
}

}  // namespace
}  // namespace zedra::testing

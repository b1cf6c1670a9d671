// Memo files in their three layouts: what a new file holds, where memos land, the
// header updates, the free-block chain, and memo files that are damaged.
#include <cstring>

#include "memo/memo_format.h"
#include "engine/memo/memo_test_util.h"

namespace zedra::testing {
namespace {

uint32_t LE32At(const std::string& s, size_t at) {
  return GetLE32(reinterpret_cast<const uint8_t*>(s.data()) + at);
}
uint32_t BE32At(const std::string& s, size_t at) {
  return GetBE32(reinterpret_cast<const uint8_t*>(s.data()) + at);
}

class MemoFileTest : public MemoTest {};

TEST_F(MemoFileTest, NewDbase3FileAndFirstMemo) {
  ASSERT_TRUE(MakeTable("T.DBF", 0x83)) << TakeError();
  std::string dbt = ReadFileBytes(MemoPath("T.DBF", "DBT"));
  ASSERT_EQ(dbt.size(), 513u);
  EXPECT_EQ(dbt[0], '\x01');
  EXPECT_EQ(dbt.substr(1, 511), std::string(511, '\0'));
  EXPECT_EQ(dbt[512], '\x1A');

  EXPECT_EQ(AddRecord("hello"), 1);
  dbt = ReadFileBytes(MemoPath("T.DBF", "DBT"));
  ASSERT_EQ(dbt.size(), 1024u);
  EXPECT_EQ(LE32At(dbt, 0), 2u);
  // The text ends with two 0x1A, as dBASE III writes it.
  EXPECT_EQ(dbt.substr(512, 7), "hello\x1A\x1A");
  EXPECT_EQ(dbt.substr(519), std::string(1024 - 519, '\0'));
  EXPECT_EQ(GetMemoText(2), "hello");

  // 1000 characters take the text, the two 0x1A and zeros: two blocks.
  std::string text(1000, 'x');
  EXPECT_EQ(AddRecord(text), 2);
  dbt = ReadFileBytes(MemoPath("T.DBF", "DBT"));
  ASSERT_EQ(dbt.size(), 2048u);
  EXPECT_EQ(dbt.substr(1024, 1000), text);
  EXPECT_EQ(dbt.substr(2024, 2), "\x1A\x1A");
  EXPECT_EQ(dbt.substr(2026), std::string(22, '\0'));
  EXPECT_EQ(LE32At(dbt, 0), 4u);
}

TEST_F(MemoFileTest, NewDbase4FileIsPaddedByTheFirstMemo) {
  ASSERT_TRUE(MakeTable("PEOPLE1.DBF", 0x8B)) << TakeError();
  std::string dbt = ReadFileBytes(MemoPath("PEOPLE1.DBF", "DBT"));
  ASSERT_EQ(dbt.size(), 24u);
  EXPECT_EQ(LE32At(dbt, 0), 1u);
  EXPECT_EQ(dbt.substr(8, 8), std::string("PEOPLE1\0", 8));
  EXPECT_EQ(GetLE16(reinterpret_cast<const uint8_t*>(dbt.data()) + 18), 0x0102);
  EXPECT_EQ(GetLE16(reinterpret_cast<const uint8_t*>(dbt.data()) + 20), 512);

  EXPECT_EQ(AddRecord("first"), 1);
  dbt = ReadFileBytes(MemoPath("PEOPLE1.DBF", "DBT"));
  ASSERT_EQ(dbt.size(), 512u + 8 + 5);
  EXPECT_EQ(dbt.substr(24, 512 - 24), std::string(488, '\0'));
  EXPECT_EQ(dbt.substr(512, 4), std::string("\xFF\xFF\x08\x00", 4));
  EXPECT_EQ(LE32At(dbt, 516), 13u);
  EXPECT_EQ(dbt.substr(520), "first");
  EXPECT_EQ(LE32At(dbt, 0), 2u);
  // The next memo starts on the next block boundary.
  EXPECT_EQ(AddRecord("second"), 2);
  EXPECT_EQ(GetMemoText(2), "second");
  Dbf4Go(1);
  EXPECT_EQ(GetMemoText(2), "first");
}

TEST_F(MemoFileTest, NewFptFileWithBlockSize64) {
  Memos().DefaultBlockSize = 64;
  ASSERT_TRUE(MakeTable("F.DBF", 0xF5)) << TakeError();
  std::string fpt = ReadFileBytes(MemoPath("F.DBF", "FPT"));
  ASSERT_EQ(fpt.size(), 512u);
  EXPECT_EQ(BE32At(fpt, 0), 8u);
  EXPECT_EQ(GetBE16(reinterpret_cast<const uint8_t*>(fpt.data()) + 6), 64);
  EXPECT_EQ(fpt.substr(8), std::string(504, '\0'));

  std::string text(100, 'f');
  EXPECT_EQ(AddRecord(text), 8);
  fpt = ReadFileBytes(MemoPath("F.DBF", "FPT"));
  EXPECT_EQ(BE32At(fpt, 512), 1u);
  EXPECT_EQ(BE32At(fpt, 516), 100u);
  EXPECT_EQ(fpt.substr(520, 100), text);
  EXPECT_EQ(BE32At(fpt, 0), (620u + 63) / 64);
  EXPECT_EQ(AddRecord("next"), 10);
  EXPECT_EQ(GetMemoText(2), "next");
}

TEST_F(MemoFileTest, BlanksStoreNothing) {
  ASSERT_TRUE(MakeTable("T.DBF", 0x8B));
  std::string before = ReadFileBytes(MemoPath("T.DBF", "DBT"));
  EXPECT_EQ(AddMemo("    "), 0);
  EXPECT_EQ(AddMemo(""), 0);
  EXPECT_EQ(ErrorCode(), 0);
  EXPECT_EQ(ReadFileBytes(MemoPath("T.DBF", "DBT")), before);
  // Trailing blanks are not stored.
  EXPECT_EQ(AddRecord("text   "), 1);
  EXPECT_EQ(GetMemoText(2), "text");
}

TEST_F(MemoFileTest, EdgeLengthsRoundTripInEveryKind) {
  const std::vector<size_t> lengths = {1, 7, 8, 503, 504, 505, 511, 512, 1016, 1017, 2600};
  for (uint8_t kind : {0x83, 0x8B, 0xF5}) {
    SCOPED_TRACE(kind);
    CloseAllAreas();
    ASSERT_TRUE(MakeTable("K" + std::to_string(kind) + ".DBF", kind)) << TakeError();
    std::vector<std::string> texts;
    for (size_t n : lengths) {
      std::string t;
      for (size_t i = 0; i < n; ++i) t.push_back(char('a' + (i * 7 + n) % 26));
      if (n > 10) t[n / 2] = '\r', t[n / 2 + 1] = '\n';
      texts.push_back(t);
      AddRecord(t);
    }
    for (size_t i = 0; i < texts.size(); ++i) {
      Dbf4Go(int32_t(i + 1));
      EXPECT_EQ(GetMemoText(2), texts[i]) << lengths[i];
    }
    EXPECT_EQ(ErrorCode(), 0) << TakeError();
  }
}

TEST_F(MemoFileTest, OpeningTwiceIs1007) {
  ASSERT_TRUE(MakeTable("T.DBF", 0x8B));
  OpenMemofile(File("T.DBF"));
  EXPECT_EQ(TakeError(), "1007: " + File("T.DBT") + " [USE]");
  // The first descriptor is still in place.
  EXPECT_EQ(AddRecord("still open"), 1);
}

TEST_F(MemoFileTest, MissingMemoFileIsReported) {
  ASSERT_TRUE(CreateDbf(File("T.DBF"), 0x8B, {{"NOTES", 'M', 10, 0}}));
  EraseFile(File("T.DBT"));
  EXPECT_FALSE(Use(File("T.DBF")));
  EXPECT_NE(Errors().PendingMessage.find("Memo file not found: " + File("T.DBT") + " [USE]"),
            std::string::npos)
      << Errors().PendingMessage;
}

TEST_F(MemoFileTest, StoredBlockSizeZeroMeansTheDefault) {
  ASSERT_TRUE(CreateDbf(File("T.DBF"), 0x8B, {{"NAME", 'C', 10, 0}, {"NOTES", 'M', 10, 0}}));
  std::string dbt = ReadFileBytes(File("T.DBT"));
  dbt[20] = dbt[21] = 0;
  WriteFileBytes(File("T.DBT"), dbt);
  ASSERT_TRUE(Use(File("T.DBF")));
  EXPECT_EQ(CurrentArea()->memo->block_size, 512);
  EXPECT_EQ(AddRecord("x"), 1);
  EXPECT_EQ(ReadFileBytes(File("T.DBT")).size(), 512u + 9);
}

TEST_F(MemoFileTest, CloseAndRecreate) {
  ASSERT_TRUE(MakeTable("T.DBF", 0xF5));
  AddRecord("gone soon");
  RecreateMemofile(File("T.DBF"));
  ASSERT_TRUE(CurrentArea()->memo);
  // The table's own kind is created again: an empty FPT file.
  EXPECT_EQ(ReadFileBytes(File("T.FPT")).size(), 512u);
  CloseMemofile();
  EXPECT_FALSE(CurrentArea()->memo);
  CloseMemofile();  // nothing open: nothing happens
  EXPECT_EQ(ErrorCode(), 0);
}

// A dBASE IV file laid out by hand: `blocks` blocks of 512 bytes with a free chain.
std::string Dbase4Image(uint32_t blocks, uint32_t head) {
  std::string img(blocks * 512, '\0');
  auto* p = reinterpret_cast<uint8_t*>(img.data());
  PutLE32(p, head);
  PutLE16(p + 18, 0x0102);
  PutLE16(p + 20, 512);
  return img;
}
void PutRun(std::string& img, uint32_t block, uint32_t next, uint32_t length) {
  auto* p = reinterpret_cast<uint8_t*>(img.data()) + block * 512;
  PutLE32(p, next);
  PutLE32(p + 4, length);
}

TEST_F(MemoFileTest, AllocateTakesAFittingRunAndUnlinksIt) {
  ASSERT_TRUE(MakeTable("T.DBF", 0x8B));
  CloseMemofile();
  std::string img = Dbase4Image(12, 3);
  PutRun(img, 3, 7, 2);   // blocks 3-4
  PutRun(img, 7, 12, 4);  // blocks 7-10
  WriteFileBytes(File("T.DBT"), img);
  OpenMemofile(File("T.DBF"));
  ASSERT_EQ(ErrorCode(), 0) << TakeError();

  // Three blocks: the run at 7 is taken, its fourth block goes back to the chain.
  EXPECT_EQ(AllocateBlocks(3, 0, "test"), 7u);
  std::string now = ReadFileBytes(File("T.DBT"));
  EXPECT_EQ(LE32At(now, 3 * 512), 10u);      // 3 -> 10
  EXPECT_EQ(LE32At(now, 10 * 512), 12u);     // 10 -> end
  EXPECT_EQ(LE32At(now, 10 * 512 + 4), 1u);  // one block
  // Two blocks: the head run, unlinked from the header.
  EXPECT_EQ(AllocateBlocks(2, 0, "test"), 3u);
  now = ReadFileBytes(File("T.DBT"));
  EXPECT_EQ(LE32At(now, 0), 10u);
  // Nothing fits: the end of the file, and the last element points past it.
  EXPECT_EQ(AllocateBlocks(5, 0, "test"), 12u);
  now = ReadFileBytes(File("T.DBT"));
  EXPECT_EQ(LE32At(now, 10 * 512), 17u);
  EXPECT_EQ(ErrorCode(), 0);
}

TEST_F(MemoFileTest, FreeBlocksKeepsTheChainInBlockOrder) {
  ASSERT_TRUE(MakeTable("T.DBF", 0x8B));
  CloseMemofile();
  std::string img = Dbase4Image(20, 5);
  PutRun(img, 5, 15, 1);
  PutRun(img, 15, 20, 2);
  WriteFileBytes(File("T.DBT"), img);
  OpenMemofile(File("T.DBF"));
  FreeBlocks(9, 3 * 512);  // between 5 and 15
  FreeBlocks(2, 512);      // before the head
  std::string now = ReadFileBytes(File("T.DBT"));
  EXPECT_EQ(LE32At(now, 0), 2u);
  EXPECT_EQ(LE32At(now, 2 * 512), 5u);
  EXPECT_EQ(LE32At(now, 5 * 512), 9u);
  EXPECT_EQ(LE32At(now, 9 * 512), 15u);
  EXPECT_EQ(LE32At(now, 9 * 512 + 4), 3u);
  // Freeing the header block, a block beyond the file or the head itself records nothing.
  FreeBlocks(0, 512);
  FreeBlocks(40, 512);
  FreeBlocks(2, 512);
  EXPECT_EQ(ReadFileBytes(File("T.DBT")), now);
  EXPECT_EQ(ErrorCode(), 0);
}

TEST_F(MemoFileTest, LoopingFreeChainsEnd) {
  ASSERT_TRUE(MakeTable("T.DBF", 0x8B));
  CloseMemofile();
  std::string img = Dbase4Image(10, 2);
  PutRun(img, 2, 4, 1);
  PutRun(img, 4, 2, 1);  // back to 2
  WriteFileBytes(File("T.DBT"), img);
  OpenMemofile(File("T.DBF"));
  FreeBlocks(8, 512);
  EXPECT_EQ(AllocateBlocks(3, 0, "test"), 10u);
  // A self-loop at the head.
  PutRun(img, 2, 2, 1);
  CloseMemofile();
  WriteFileBytes(File("T.DBT"), img);
  OpenMemofile(File("T.DBF"));
  FreeBlocks(6, 512);
  EXPECT_EQ(AllocateBlocks(2, 0, "test"), 10u);
}

TEST_F(MemoFileTest, AllocateKeepsAMemoThatStillFits) {
  ASSERT_TRUE(MakeTable("T.DBF", 0x8B));
  AddRecord(std::string(1500, 'a'));  // blocks 1-3
  AddRecord("b");                      // block 4
  EXPECT_EQ(AllocateBlocks(2, 1, "test"), 1u);
  EXPECT_EQ(AllocateBlocks(3, 1, "test"), 1u);
  // A memo that needs more goes elsewhere.
  EXPECT_EQ(AllocateBlocks(4, 1, "test"), 5u);
}

TEST_F(MemoFileTest, UpdateMemoHeaderCountsBlocksAndRefills) {
  ASSERT_TRUE(MakeTable("T.DBF", 0x8B));
  AddRecord(std::string(2000, 'r'));  // four blocks
  ASSERT_TRUE(GetMemo(1, 0));
  uint32_t refills = Memos().Refills;
  EXPECT_EQ(refills, 4u);  // 504, then three of 512
  AddRecord("z");
  std::string dbt = ReadFileBytes(File("T.DBT"));
  EXPECT_EQ(LE32At(dbt, 0), 6u);
  // Every header update since the read added its refills to the counter.
  EXPECT_EQ(LE32At(dbt, 32), refills);
}

// ---------------------------------------------------------------------------------------
// Damaged files

TEST_F(MemoFileTest, GroupLengthPastTheEndIsAReadFault) {
  // Shared, so that the memo file can be changed beside the engine on every system.
  ASSERT_TRUE(MakeTable("T.DBF", 0x8B, false));
  AddRecord("short text");
  std::string dbt = ReadFileBytes(File("T.DBT"));
  PutLE32(reinterpret_cast<uint8_t*>(dbt.data()) + 516, 0x7FFFFFF0);
  WriteFileBytes(File("T.DBT"), dbt);
  EXPECT_EQ(GetMemoText(2), "");
  EXPECT_EQ(TakeError(), "30: " + File("T.DBT") + " [GetMemoText]");
  EXPECT_FALSE(GetMemo(1, 0));
  EXPECT_EQ(ErrorCode(), 30);
}

TEST_F(MemoFileTest, BlockBeyondTheFileIs1003) {
  ASSERT_TRUE(MakeTable("T.DBF", 0x83));
  AddRecord("one");
  EXPECT_FALSE(GetMemo(99, 0));
  EXPECT_EQ(TakeError(), "1003: " + File("T.DBT") + "\n Record # 1 [GetMemo]");
  EXPECT_FALSE(GetMemo(-99, 0));
  EXPECT_EQ(ErrorCode(), 1003);
}

TEST_F(MemoFileTest, TruncatedFilesNeverReadOutOfBounds) {
  for (uint8_t kind : {0x83, 0x8B, 0xF5}) {
    CloseAllAreas();
    std::string name = "TR" + std::to_string(kind) + ".DBF";
    ASSERT_TRUE(MakeTable(name, kind));
    AddRecord(std::string(700, 'q'));
    AddRecord("tail");
    std::string path = MemoPath(name, kind == 0xF5 ? "FPT" : "DBT");
    const std::string whole = ReadFileBytes(path);
    for (size_t len = 0; len <= whole.size(); len += (len < 530 ? 1 : 37)) {
      CloseMemofile();
      WriteFileBytes(path, whole.substr(0, len));
      OpenMemofile(File(name));
      Errors().ErrorCode = 0;
      for (int32_t r = 1; r <= 2; ++r) {
        Dbf4Go(r);
        std::string text = GetMemoText(2);
        EXPECT_LE(text.size(), 700u);
        Errors().ErrorCode = 0;
        GetMemo(MemoRefOfField(), 0);
        Errors().ErrorCode = 0;
      }
      ClearMemoLines(true);
    }
  }
}

TEST_F(MemoFileTest, OverwrittenBytesNeverCrash) {
  ASSERT_TRUE(MakeTable("T.DBF", 0x8B));
  AddRecord(std::string(600, 'w'));
  AddRecord("x\r\ny");
  const std::string whole = ReadFileBytes(File("T.DBT"));
  for (size_t at : {0, 4, 18, 20, 21, 32, 512, 513, 514, 516, 519, 1536, 1540}) {
    for (uint8_t value : {0x00, 0x01, 0x08, 0x7F, 0xFF}) {
      std::string bad = whole;
      if (at >= bad.size()) continue;
      bad[at] = char(value);
      CloseMemofile();
      WriteFileBytes(File("T.DBT"), bad);
      OpenMemofile(File("T.DBF"));
      for (int32_t r = 1; r <= 2; ++r) {
        Dbf4Go(r);
        GetMemoText(2);
        Errors().ErrorCode = 0;
      }
      // An append still works, or fails with an error of its own.
      AddMemo("appended");
      Errors().ErrorCode = 0;
    }
  }
}

TEST_F(MemoFileTest, EmptyMemoFileTakesNoMemo) {
  ASSERT_TRUE(MakeTable("T.DBF", 0x8B));
  CloseMemofile();
  WriteFileBytes(File("T.DBT"), "");
  OpenMemofile(File("T.DBF"));
  EXPECT_EQ(AddMemo("text"), 0);
  EXPECT_EQ(ErrorCode(), 30);
  EXPECT_EQ(ReadFileBytes(File("T.DBT")), "");
}

}  // namespace
}  // namespace zedra::testing

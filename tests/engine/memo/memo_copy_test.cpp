// Copying memos between memo files of every kind, and packing a memo file.
#include <filesystem>

#include "engine/memo/memo_test_util.h"

namespace zedra::testing {
namespace {

class MemoCopyTest : public MemoTest {
 protected:
  std::string Ext(uint8_t kind) { return kind == 0xF5 ? "FPT" : "DBT"; }
  // Puts the raw memo reference into field 2 of record n.
  void SetRef(int32_t n, const std::string& ref) {
    Dbf4Go(n);
    std::string v(10 - std::min<size_t>(10, ref.size()), ' ');
    ASSERT_TRUE(SetFieldRaw(2, v + ref));
    ASSERT_TRUE(Replace());
  }
};

TEST_F(MemoCopyTest, PackGivesEveryReferenceItsOwnCopy) {
  ASSERT_TRUE(MakeTable("T.DBF", 0x83));
  AddRecord("alpha");
  AddMemo(std::string(1500, 'd'));  // dead: no record refers to it
  AddRecord("beta");
  AddRecord("x");
  SetRef(3, "1");  // record 3 shares record 1's memo
  EXPECT_EQ(ReadFileBytes(File("T.DBT")).size(), 512u * 7);
  PackMemofile();
  ASSERT_EQ(ErrorCode(), 0) << TakeError();
  std::vector<int32_t> refs;
  for (int32_t n = 1; n <= 3; ++n) {
    Dbf4Go(n);
    refs.push_back(MemoRefOfField());
  }
  EXPECT_EQ(refs, (std::vector<int32_t>{1, 2, 3}));
  // Three blocks of memos; the last one ("alpha" and two 0x1A) is not padded.
  EXPECT_EQ(ReadFileBytes(File("T.DBT")).size(), 512u * 3 + 7);
  Dbf4Go(1);
  EXPECT_EQ(GetMemoText(2), "alpha");
  Dbf4Go(2);
  EXPECT_EQ(GetMemoText(2), "beta");
  Dbf4Go(3);
  EXPECT_EQ(GetMemoText(2), "alpha");
  EXPECT_EQ(GetLE32(reinterpret_cast<const uint8_t*>(ReadFileBytes(File("T.DBT")).data())), 4u);
}

TEST_F(MemoCopyTest, PackDropsDeadBlocksInEveryKind) {
  for (uint8_t kind : {0x83, 0x8B, 0xF5}) {
    SCOPED_TRACE(kind);
    CloseAllAreas();
    std::string name = "P" + std::to_string(kind) + ".DBF";
    ASSERT_TRUE(MakeTable(name, kind));
    std::vector<std::string> texts;
    for (int i = 0; i < 6; ++i) {
      texts.push_back(std::string(300 + 250 * i, char('a' + i)) + "\r\nend" + std::to_string(i));
      AddRecord(texts.back());
    }
    Dbf4Go(2);
    DeleteRec();
    Dbf4Go(5);
    DeleteRec();
    const size_t before = ReadFileBytes(MemoPath(name, Ext(kind))).size();
    ASSERT_TRUE(Pack()) << TakeError();
    EXPECT_LT(ReadFileBytes(MemoPath(name, Ext(kind))).size(), before);
    ASSERT_EQ(RecCount(), 4);
    const std::vector<int> kept = {0, 2, 3, 5};
    for (int32_t n = 1; n <= 4; ++n) {
      Dbf4Go(n);
      EXPECT_EQ(GetMemoText(2), texts[size_t(kept[size_t(n - 1)])]);
    }
    EXPECT_FALSE(FilePresent(MemoPath(name, "$$$")));
  }
}

TEST_F(MemoCopyTest, TheRecordInTheBufferShowsItsNewReference) {
  ASSERT_TRUE(MakeTable("T.DBF", 0x8B));
  AddMemo(std::string(2000, 'd'));
  AddRecord("mine");
  EXPECT_EQ(MemoRefOfField(), 5);
  PackMemofile();
  ASSERT_EQ(ErrorCode(), 0) << TakeError();
  // Writing the buffer back must not bring the old reference back.
  ASSERT_TRUE(Replace());
  Dbf4Go(1);
  EXPECT_EQ(MemoRefOfField(), 1);
  EXPECT_EQ(GetMemoText(2), "mine");
}

TEST_F(MemoCopyTest, AMemoThatCannotBeReadStopsThePackBeforeAnyChange) {
  ASSERT_TRUE(MakeTable("T.DBF", 0x8B));
  AddRecord("kept");
  AddRecord("y");
  AddMemo("dead");
  AddRecord(std::string(700, 'z'));
  SetRef(2, "99");  // beyond the end of the file
  // Record 3's memo is cut short: its group header claims more text than is left.
  std::string dbt = ReadFileBytes(File("T.DBT"));
  const std::string dbf = ReadFileBytes(File("T.DBF"));
  std::filesystem::resize_file(File("T.DBT"), dbt.size() - 100);
  dbt.resize(dbt.size() - 100);
  PackMemofile();
  EXPECT_EQ(TakeError(), "1003: " + File("T.DBT") +
                             " Memo block # 99 Record # 2; Memo block # 4 Record # 3: 2 memos "
                             "cannot be read, nothing was changed [PackMemofile]");
  EXPECT_FALSE(Pack());
  EXPECT_EQ(ErrorCode(), 1003);
  Errors().ErrorCode = 0;
  EXPECT_EQ(ReadFileBytes(File("T.DBT")), dbt);
  EXPECT_EQ(ReadFileBytes(File("T.DBF")), dbf);
  EXPECT_FALSE(FilePresent(File("T.$$$")));
  // Forced, the two references become blank and are counted; the readable memo stays.
  int32_t dropped = 0;
  ASSERT_TRUE(Pack(true, &dropped)) << TakeError();
  EXPECT_EQ(dropped, 2);
  for (int32_t n : {2, 3}) {
    Dbf4Go(n);
    EXPECT_EQ(FieldRaw(2), std::string(10, ' '));
    EXPECT_EQ(GetMemoText(2), "");
  }
  Dbf4Go(1);
  EXPECT_EQ(GetMemoText(2), "kept");
}

TEST_F(MemoCopyTest, AFailedPackChangesNothing) {
  ASSERT_TRUE(MakeTable("T.DBF", 0x8B));
  AddRecord("one");
  AddMemo("dead");
  AddRecord("two");
  const std::string dbt = ReadFileBytes(File("T.DBT"));
  const std::string dbf = ReadFileBytes(File("T.DBF"));
  // The packed file cannot be created: a directory stands under its name.
  ASSERT_TRUE(std::filesystem::create_directory(File("T.$$$")));
  PackMemofile();
  EXPECT_NE(ErrorCode(), 0);
  Errors().ErrorCode = 0;
  EXPECT_EQ(ReadFileBytes(File("T.DBT")), dbt);
  EXPECT_EQ(ReadFileBytes(File("T.DBF")), dbf);
  Dbf4Go(2);
  EXPECT_EQ(GetMemoText(2), "two");
  // A shared table is not rewritten: another program could hold the old files open.
  CloseAllAreas();
  ASSERT_TRUE(Use(File("T.DBF")));
  PackMemofile();
  EXPECT_EQ(ErrorCode(), 225);
  Errors().ErrorCode = 0;
  EXPECT_EQ(ReadFileBytes(File("T.DBT")), dbt);
}

TEST_F(MemoCopyTest, ATextWithZeroBytesKeepsItsGroupHeaderInADbase3File) {
  ASSERT_TRUE(MakeTable("S.DBF", 0x8B));
  const std::string text("nul\0inside", 10);
  int32_t block = AddRecord(text);
  ASSERT_TRUE(Select(2));
  ASSERT_TRUE(MakeTable("D.DBF", 0x83));
  int32_t copied = CopyMemo(1, block, false);
  EXPECT_EQ(copied, -1);
  std::string dbt = ReadFileBytes(File("D.DBT"));
  EXPECT_EQ(dbt.substr(512, 4), std::string("\xFF\xFF\x08\x00", 4));
  EXPECT_EQ(GetLE32(reinterpret_cast<const uint8_t*>(dbt.data()) + 516), 18u);
  EXPECT_EQ(ReadMemoText(copied), text);
  // Packing keeps it in that form.
  ASSERT_TRUE(AppendBlank());
  SetRef(1, "-1");
  AddRecord("plain");
  PackMemofile();
  ASSERT_EQ(ErrorCode(), 0) << TakeError();
  Dbf4Go(1);
  EXPECT_EQ(MemoRefOfField(), -1);
  EXPECT_EQ(GetMemoText(2), text);
  Dbf4Go(2);
  EXPECT_EQ(GetMemoText(2), "plain");
}

TEST_F(MemoCopyTest, PackKeepsADbase3GroupHeaderMemoAndWritesEmptyReferencesBlank) {
  ASSERT_TRUE(MakeTable("G.DBF", 0x83));
  AddRecord("plain");
  // A group-header memo whose text holds a 0x1A: as plain text it would end there.
  std::string dbt = ReadFileBytes(File("G.DBT"));
  dbt.resize(1024, '\0');
  const std::string text("before\x1A" "after", 12);
  dbt += std::string("\xFF\xFF\x08\x00", 4) + std::string(4, '\0') + text;
  PutLE32(reinterpret_cast<uint8_t*>(dbt.data()) + 1024 + 4, uint32_t(text.size() + 8));
  CloseAllAreas();
  WriteFileBytes(File("G.DBT"), dbt);
  ASSERT_TRUE(Use(File("G.DBF"), Exclusive()));
  ASSERT_TRUE(AppendBlank());
  SetRef(2, "-2");
  ASSERT_TRUE(AppendBlank());
  SetRef(3, "0");  // as older packs wrote it
  ASSERT_TRUE(AppendBlank());
  ASSERT_TRUE(SetFieldText(2, "0"));
  EXPECT_EQ(FieldRaw(2), std::string(10, ' '));
  ASSERT_TRUE(Pack()) << TakeError();
  Dbf4Go(2);
  EXPECT_LT(MemoRefOfField(), 0);
  EXPECT_EQ(GetMemoText(2), text);
  Dbf4Go(3);
  EXPECT_EQ(FieldRaw(2), std::string(10, ' '));
  Dbf4Go(1);
  EXPECT_EQ(GetMemoText(2), "plain");
}

TEST_F(MemoCopyTest, ZapKeepsTheMemoKindAndBlockSize) {
  Memos().DefaultBlockSize = 64;
  for (uint8_t kind : {0x83, 0xF5}) {
    SCOPED_TRACE(kind);
    CloseAllAreas();
    const std::string name = "Z" + std::to_string(kind) + ".DBF";
    ASSERT_TRUE(MakeTable(name, kind));
    AddRecord(std::string(2000, 'q'));
    const std::string memo = MemoPath(name, Ext(kind));
    ASSERT_TRUE(Zap()) << TakeError();
    const std::string empty = ReadFileBytes(memo);
    EXPECT_EQ(empty.size(), kind == 0x83 ? 513u : 512u);
    EXPECT_EQ(empty.substr(0, 8), kind == 0x83 ? std::string("\x01\0\0\0\0\0\0\0", 8)
                                               : std::string("\0\0\0\x08\0\0\0\x40", 8));
    EXPECT_EQ(AddRecord("again"), kind == 0x83 ? 1 : 8);
    EXPECT_EQ(GetMemoText(2), "again");
  }
}

TEST_F(MemoCopyTest, Dbase3IntoDbase4WritesLengthPlus8WithoutThe1A) {
  ASSERT_TRUE(MakeTable("S.DBF", 0x83));
  int32_t block = AddRecord("seven c");
  ASSERT_TRUE(Select(2));
  ASSERT_TRUE(MakeTable("D.DBF", 0x8B));
  EXPECT_EQ(CopyMemo(1, block, false), 1);
  std::string dbt = ReadFileBytes(File("D.DBT"));
  ASSERT_EQ(dbt.size(), 512u + 8 + 7);
  EXPECT_EQ(GetLE32(reinterpret_cast<const uint8_t*>(dbt.data()) + 516), 15u);
  EXPECT_EQ(dbt.substr(520), "seven c");
}

TEST_F(MemoCopyTest, EveryKindCopiesIntoEveryKind) {
  const std::vector<std::string> texts = {"short", std::string(504, 'e'), std::string(505, 'f'),
                                          "lines\r\nand\r\nmore\r\n" + std::string(1200, 'g')};
  const uint8_t kinds[] = {0x83, 0x8B, 0xF5};
  for (uint8_t from : kinds) {
    for (uint8_t to : kinds) {
      SCOPED_TRACE(std::to_string(from) + " -> " + std::to_string(to));
      CloseAllAreas();
      Memos().DefaultBlockSize = from == 0xF5 ? 64 : 512;
      std::string a = "A" + std::to_string(from) + std::to_string(to);
      ASSERT_TRUE(MakeTable(a + ".DBF", from));
      std::vector<int32_t> blocks;
      for (const std::string& t : texts) blocks.push_back(AddRecord(t));
      ASSERT_TRUE(Select(2));
      Memos().DefaultBlockSize = to == 0xF5 ? 32 : 1024;
      ASSERT_TRUE(MakeTable("B" + a.substr(1) + ".DBF", to));
      for (size_t i = 0; i < texts.size(); ++i) {
        int32_t copied = CopyMemo(1, blocks[i], false);
        ASSERT_NE(copied, 0) << TakeError();
        EXPECT_EQ(ReadMemoText(copied), texts[i]);
      }
      EXPECT_EQ(CopyMemo(1, 0, false), 0);
      ASSERT_TRUE(Select(1));
    }
  }
}

TEST_F(MemoCopyTest, KeepNumberCopiesToTheSameBlock) {
  ASSERT_TRUE(MakeTable("S.DBF", 0x8B));
  AddRecord("first");
  int32_t block = AddRecord("second");
  ASSERT_TRUE(Select(2));
  ASSERT_TRUE(MakeTable("D.DBF", 0x8B));
  EXPECT_EQ(MemoHookTable().CopyMemoKeepNumber(1, block), block);
  EXPECT_EQ(ReadMemoText(block), "second");
}

TEST_F(MemoCopyTest, AppendFromCopiesTheMemosOfAnotherArea) {
  ASSERT_TRUE(MakeTable("S.DBF", 0xF5));
  AddRecord("one\r\nmemo");
  ASSERT_TRUE(AppendBlank());  // no memo
  AddRecord(std::string(3000, 'l'));
  ASSERT_TRUE(Select(2));
  ASSERT_TRUE(MakeTable("D.DBF", 0x83));
  AddRecord("already here");
  ASSERT_TRUE(AppendFrom(1)) << TakeError();
  ASSERT_EQ(RecCount(), 4);
  const std::vector<std::string> expected = {"already here", "one\r\nmemo", "",
                                             std::string(3000, 'l')};
  for (int32_t n = 1; n <= 4; ++n) {
    Dbf4Go(n);
    EXPECT_EQ(GetMemoText(2), expected[size_t(n - 1)]) << n;
  }
  Dbf4Go(3);
  EXPECT_EQ(FieldRaw(2), std::string(10, ' '));
}

TEST_F(MemoCopyTest, AppendFromTakesADamagedReferenceForNoMemo) {
  ASSERT_TRUE(MakeTable("S.DBF", 0x8B));
  AddRecord("kept");
  ASSERT_TRUE(AppendBlank());
  // Beyond the 32-bit range: narrowed, it would name some unrelated block.
  ASSERT_TRUE(SetFieldRaw(2, "9999999999"));
  ASSERT_TRUE(Replace());
  ASSERT_TRUE(Select(2));
  ASSERT_TRUE(MakeTable("D.DBF", 0x8B));
  ASSERT_TRUE(AppendFrom(1)) << TakeError();
  ASSERT_EQ(RecCount(), 2);
  Dbf4Go(1);
  EXPECT_EQ(GetMemoText(2), "kept");
  Dbf4Go(2);
  EXPECT_EQ(FieldRaw(2), std::string(10, ' '));
  EXPECT_EQ(GetMemoText(2), "");
}

TEST_F(MemoCopyTest, TransformsApplyToWhatIsStored) {
  auto scramble = [](uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) p[i] ^= 0x5A;
  };
  for (uint8_t kind : {0x83, 0x8B}) {
    SCOPED_TRACE(kind);
    CloseAllAreas();
    std::string name = "X" + std::to_string(kind) + ".DBF";
    ASSERT_TRUE(MakeTable(name, kind));
    CurrentArea()->write_transform = scramble;
    CurrentArea()->read_transform = scramble;
    const std::string text = "secret text\r\n" + std::string(700, 's');
    int32_t block = AddRecord(text);
    std::string raw = ReadFileBytes(MemoPath(name, "DBT"));
    EXPECT_EQ(raw.find("secret"), std::string::npos);
    EXPECT_EQ(ReadMemoText(block), text);
    AddMemo("dead");
    AddRecord("after");
    PackMemofile();
    ASSERT_EQ(ErrorCode(), 0) << TakeError();
    Dbf4Go(1);
    EXPECT_EQ(GetMemoText(2), text);
    Dbf4Go(2);
    EXPECT_EQ(GetMemoText(2), "after");
  }
}

}  // namespace
}  // namespace zedra::testing

// Opening and creating tables, navigation with hidden records and filters, field access,
// Pack and Zap; and what Use makes of corrupted files.
#include <cstring>
#include <tuple>

#include "platform/platform.h"
#include "table/code_pages.h"
#include "table_test_util.h"

namespace zedra::testing {
namespace {

const std::vector<FieldSpec> kSpecs = {
    {"NAME", 'C', 12, 0}, {"AMOUNT", 'N', 9, 2}, {"COUNT", 'N', 4, 0},
    {"BORN", 'D', 0, 0},  {"ACTIVE", 'L', 0, 0}};

class CommandsTest : public TableTest {
 protected:
  // Creates T.DBF with rows of (name, deleted) and opens it.
  void MakeTable(const std::vector<std::pair<std::string, bool>>& rows, bool exclusive = true) {
    ASSERT_TRUE(CreateDbf(File("T"), 0x03, kSpecs)) << TakeError();
    ASSERT_TRUE(Use(File("T"), exclusive ? Exclusive() : UseOptions{}));
    for (const auto& [name, deleted] : rows) {
      ASSERT_TRUE(AppendBlank());
      ASSERT_TRUE(SetFieldText(1, name));
      ASSERT_TRUE(Replace());
      if (deleted) {
        ASSERT_TRUE(DeleteRec());
      }
    }
  }
  std::vector<std::string> Walk(bool backwards = false) {
    std::vector<std::string> seen;
    if (backwards) {
      for (GoBottom(); !Bof() && !Eof(); Skip(-1)) seen.push_back(FieldText(1));
    } else {
      for (GoTop(); !Eof(); Skip(1)) seen.push_back(FieldText(1));
    }
    return seen;
  }
};

TEST_F(CommandsTest, CreateWritesTheDescriptorLayout) {
  ASSERT_TRUE(CreateDbf(File("new"), 0x03, kSpecs));
  std::string bytes = ReadFileBytes(File("new.DBF"));
  auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  ASSERT_EQ(bytes.size(), 32u + 5 * 32 + 1 + 1);
  EXPECT_EQ(p[0], 0x03);
  EXPECT_EQ(GetLE32(p + 4), 0u);
  EXPECT_EQ(GetLE16(p + 8), 32 + 5 * 32 + 1);
  EXPECT_EQ(GetLE16(p + 10), 1 + 12 + 9 + 4 + 8 + 1);
  EXPECT_EQ(bytes.substr(32, 11), std::string("NAME\0\0\0\0\0\0\0", 11));
  EXPECT_EQ(bytes[32 + 11], 'C');
  EXPECT_EQ(p[64 + 16], 9);
  EXPECT_EQ(p[64 + 17], 2);
  EXPECT_EQ(p[128 + 16], 8) << "D gets its length";
  EXPECT_EQ(bytes[192], '\x0D');
  EXPECT_EQ(bytes[193], '\x1A');
}

TEST_F(CommandsTest, CreateRefusesWhatItCannotWrite) {
  EXPECT_FALSE(CreateDbf(File("a"), 0x04, kSpecs));
  EXPECT_FALSE(CreateDbf(File("a"), 0x03, {}));
  EXPECT_FALSE(CreateDbf(File("a"), 0x03, {{"1BAD", 'C', 5, 0}}));
  EXPECT_FALSE(CreateDbf(File("a"), 0x03, {{"X", 'C', 5, 0}, {"x", 'N', 5, 0}}));
  EXPECT_FALSE(CreateDbf(File("a"), 0x03, {{"X", 'N', 5, 4}}));
  EXPECT_FALSE(CreateDbf(File("a"), 0x03, {{"X", 'Q', 5, 0}}));
  EXPECT_FALSE(CreateDbf(File("a"), 0x03, {{"NOTES", 'M', 10, 0}}));
  EXPECT_NE(Errors().PendingMessage.find("version byte with a memo file"), std::string::npos);
  TakeError();
  MemoHookTable() = MemoHooks{};
  EXPECT_FALSE(CreateDbf(File("a"), 0x83, {{"NOTES", 'M', 10, 0}}))
      << "no memo layer installed: the M field is refused";
  EXPECT_NE(Errors().PendingMessage.find("memo files are not available"), std::string::npos);
  TakeError();
  EXPECT_FALSE(FilePresent(File("a.DBF")));
  // With the memo layer's hook, the memo file is created alongside.
  std::string created;
  uint8_t kind = 0;
  MemoHookTable().CreateMemofile = [&](const std::string& name, uint8_t k) {
    created = name;
    kind = k;
  };
  EXPECT_TRUE(CreateDbf(File("m"), 0x8B, {{"NOTES", 'M', 0, 0}}));
  EXPECT_EQ(created, File("m.DBF"));
  EXPECT_EQ(kind, 0x8B);
}

TEST_F(CommandsTest, UseFindsNamesInAnyCase) {
  WriteFileBytes(File("peers.dbf"), MakeDbf(0x03, {{"A", 'C', 3}}, {" abc"}));
  ASSERT_TRUE(Use(File("PEERS"))) << TakeError();
  EXPECT_EQ(FieldText(1), "abc");
  EXPECT_EQ(AreaAlias(), "PEERS");
  EXPECT_FALSE(Use(File("missing")));
  EXPECT_EQ(ErrorCode(), 2);
}

TEST_F(CommandsTest, OemFlagFollowsTheCodePageMark) {
  struct Case {
    uint8_t mark;
    bool oem;
  };
  // 0x01, 0x02: DOS 437, 850; 0x86-0x88: DOS 737, 852, 857; 0x03, 0x57, 0xC8: Windows.
  for (Case c : {Case{0x01, true}, Case{0x02, true}, Case{0x86, true}, Case{0x87, true},
                 Case{0x88, true}, Case{0x00, false}, Case{0x03, false}, Case{0x57, false},
                 Case{0xC8, false}}) {
    std::string image = MakeDbf(0x03, {{"A", 'C', 3}}, {" abc"});
    image[29] = char(c.mark);
    WriteFileBytes(File("CP.DBF"), image);
    ASSERT_TRUE(Use(File("CP.DBF"))) << TakeError();
    EXPECT_EQ(CurrentArea()->oem, c.oem) << int(c.mark);
    CloseArea();
  }
}

TEST_F(CommandsTest, EachMarkReadsInItsOwnCodePage) {
  struct Case {
    uint8_t mark;
    uint16_t code_page;
    bool oem;
    uint8_t stored, read;  // a letter as stored and as the engine reads it
    uint16_t text_page;    // the code page of the text as read
  };
  const Case cases[] = {
      {0x00, 0, false, 0x9E, 0x9E, 1252},      // no mark: Windows-1252, as stored
      {0x01, 437, true, 0x82, 0xE9, 1252},     // e acute
      {0x1B, 437, true, 0x9B, 0xA2, 1252},     // cent sign (850 has o slash there)
      {0x02, 850, true, 0x9B, 0xF8, 1252},     // o slash
      {0x03, 1252, false, 0x9E, 0x9E, 1252},
      {0x57, 1252, false, 0xE9, 0xE9, 1252},
      {0x58, 1252, false, 0xE9, 0xE9, 1252},
      {0x64, 852, true, 0x9D, 0xA3, 1250},     // L with stroke
      {0x1F, 852, true, 0x9D, 0xA3, 1250},
      {0x65, 866, true, 0x80, 0xC0, 1251},     // Cyrillic A
      {0x26, 866, true, 0xF0, 0xA8, 1251},     // Cyrillic Yo
      {0x08, 865, true, 0xAF, 0xA4, 1252},     // currency sign (850 has a guillemet)
      {0xC8, 1250, false, 0xA3, 0xA3, 1250},
      {0xC9, 1251, false, 0xC0, 0xC0, 1251},
      {0x68, 850, true, 0x9B, 0xF8, 1252},     // Kamenicky: code page 850, as before
      {0x4D, 0, false, 0x9B, 0x9B, 1252},      // a multi-byte code page: unknown
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.mark));
    std::string image = MakeDbf(0x03, {{"A", 'C', 3}}, {std::string(" a") + char(c.stored) + "c"});
    image[29] = char(c.mark);
    WriteFileBytes(File("CP.DBF"), image);
    ASSERT_TRUE(Use(File("CP.DBF"), Exclusive())) << TakeError();
    EXPECT_EQ(CurrentArea()->code_page, c.code_page);
    EXPECT_EQ(CurrentArea()->oem, c.oem);
    EXPECT_EQ(TextCodePage(*CurrentArea()).number, c.text_page);
    Dbf4Go(1);
    EXPECT_EQ(FieldText(1), std::string("a") + char(c.read) + "c");
    // Written back through the pair, the stored byte comes back.
    ASSERT_TRUE(SetFieldText(1, std::string("x") + char(c.read)));
    ASSERT_TRUE(Replace());
    CloseArea();
    EXPECT_EQ(ReadFileBytes(File("CP.DBF")).substr(image.size() - 5, 4),
              std::string(" x") + char(c.stored) + " ");
  }
  // Field names are put in capitals of the table's own code page: U diaeresis (850),
  // Cyrillic yu and ge (866, small letters stored), c caron (852).
  for (auto [mark, stored, capitals] : {std::tuple{0x02, "\x9A""BER", "\x9A""BER"},
                                        std::tuple{0x65, "\xEE\xA3", "\x9E\x83"},
                                        std::tuple{0x64, "\x9F", "\xAC"}}) {
    std::string named = MakeDbf(0x03, {{stored, 'C', 1}}, {" a"});
    named[29] = char(mark);
    WriteFileBytes(File("CP.DBF"), named);
    ASSERT_TRUE(Use(File("CP.DBF")));
    EXPECT_EQ(FieldAt(1)->Name(), capitals) << mark;
    CloseArea();
  }
  // A code page set for every table wins over the mark.
  std::string image = MakeDbf(0x03, {{"A", 'C', 1}}, {" \x80"});
  WriteFileBytes(File("CP.DBF"), image);
  Tables().CodePageOverride = 866;
  ASSERT_TRUE(Use(File("CP.DBF")));
  Dbf4Go(1);
  EXPECT_TRUE(CurrentArea()->oem);
  EXPECT_EQ(FieldText(1), "\xC0");
  CloseArea();
  Tables().CodePageOverride = 0;
}

TEST_F(CommandsTest, ReadOnlyUseReadsButDoesNotWrite) {
  MakeTable({{"a", false}, {"b", false}});
  CloseArea();
  UseOptions o;
  o.read_only = true;
  ASSERT_TRUE(Use(File("T"), o));
  EXPECT_EQ(MemoOpenModeFor(*CurrentArea()) & 7u, 0u) << "its memo file is read only too";
  GoBottom();
  EXPECT_EQ(FieldText(1), "b");
  EXPECT_TRUE(FLock()) << "a file open for reading locks as a reader";
  CloseArea();
  o.exclusive = true;
  ASSERT_TRUE(Use(File("T"), o));
  EXPECT_FALSE(Replace());
  EXPECT_NE(ErrorCode(), 0);
  TakeError();
  CloseArea();
  EXPECT_EQ(ErrorCode(), 0) << "nothing was changed, so nothing is written at close";
}

TEST_F(CommandsTest, UseOpensTheMemoFileThroughTheHook) {
  WriteFileBytes(File("M.DBF"), MakeDbf(0x83, {{"N", 'M', 10}}, {}));
  MemoHookTable() = MemoHooks{};
  int opened = 0, closed = 0;
  MemoHookTable().OpenMemofile = [&](const std::string&) { ++opened; };
  MemoHookTable().CloseMemofile = [&] { ++closed; };
  ASSERT_TRUE(Use(File("M.DBF")));
  EXPECT_TRUE(CurrentArea()->has_memo);
  EXPECT_EQ(opened, 1);
  CloseArea();
  EXPECT_EQ(closed, 1);
  // A memo file that does not open fails the Use and leaves the area empty.
  MemoHookTable().OpenMemofile = [&](const std::string& name) { SetError(2, "Memo file not found: " + name + " [USE]"); };
  EXPECT_FALSE(Use(File("M.DBF")));
  EXPECT_EQ(ErrorCode(), 2);
  EXPECT_EQ(CurrentArea(), nullptr);
}

TEST_F(CommandsTest, NavigationHidesDeletedRecordsAndFollowsTheFilter) {
  MakeTable({{"a", false}, {"b", true}, {"c", false}, {"d", true}, {"e", false}});
  EXPECT_EQ(Walk(), (std::vector<std::string>{"a", "b", "c", "d", "e"}));
  SetDeleted(true);
  EXPECT_EQ(Walk(), (std::vector<std::string>{"a", "c", "e"}));
  EXPECT_EQ(Walk(true), (std::vector<std::string>{"e", "c", "a"}));
  // A filter through the expression hooks (here: a stand-in evaluator).
  static int32_t result;
  ExprHookTable().ExpressionsAvailable = true;
  ExprHookTable().AssignExpr = [](const std::string&) { return reinterpret_cast<CompiledExpr*>(&result); };
  ExprHookTable().ExprType = [](const CompiledExpr*) { return 'L'; };
  ExprHookTable().Evaluate = [](CompiledExpr*) -> const void* {
    result = FieldText(1) != "c";
    return &result;
  };
  int released = 0;
  ExprHookTable().ReleaseExpr = [&](CompiledExpr*& e) { ++released, e = nullptr; };
  ASSERT_TRUE(SetFilter("NAME <> 'c'"));
  EXPECT_EQ(Walk(), (std::vector<std::string>{"a", "e"}));
  Skip(-5);
  EXPECT_TRUE(Bof());
  EXPECT_EQ(FieldText(1), "a");
  Skip(7);
  EXPECT_TRUE(Eof());
  EXPECT_EQ(RecNo(), 6);
  ASSERT_TRUE(SetFilter(""));
  EXPECT_EQ(released, 1);
  EXPECT_EQ(Walk(), (std::vector<std::string>{"a", "c", "e"}));
}

TEST_F(CommandsTest, AfterMoveHookThatClosesItsAreaEndsNavigation) {
  for (int step = 0; step < 4; ++step) {
    MakeTable({{"a", false}, {"b", true}});
    SetDeleted(true);
    CurrentArea()->AfterMoveHook = [] { CloseArea(); };
    if (step == 0) GoTop();
    if (step == 1) GoBottom();
    if (step == 2) Skip(1);
    if (step == 3) Skip(-1);
    EXPECT_EQ(CurrentArea(), nullptr) << step;
    Errors().ErrorCode = 0;
  }
}

TEST_F(CommandsTest, FilterNeedsTheExpressionLayerAndALogicalResult) {
  MakeTable({{"a", false}});
  ExprHookTable() = ExprHooks{};
  EXPECT_FALSE(SetFilter("NAME = 'a'"));
  EXPECT_EQ(ErrorCode(), 220);
  TakeError();
  ExprHookTable().ExpressionsAvailable = true;
  ExprHookTable().AssignExpr = [](const std::string&) { return reinterpret_cast<CompiledExpr*>(8); };
  ExprHookTable().Evaluate = [](CompiledExpr*) -> const void* { return nullptr; };
  ExprHookTable().ExprType = [](const CompiledExpr*) { return 'C'; };
  int released = 0;
  ExprHookTable().ReleaseExpr = [&](CompiledExpr*& e) { ++released, e = nullptr; };
  EXPECT_FALSE(SetFilter("NAME"));
  EXPECT_EQ(released, 1);
  EXPECT_EQ(CurrentArea()->FilterExpression, nullptr);
}

TEST_F(CommandsTest, EmptyTableIsAtBothEnds) {
  MakeTable({});
  GoTop();
  EXPECT_TRUE(Eof());
  EXPECT_TRUE(Bof());
  EXPECT_EQ(RecNo(), 1);
  Skip(1);
  EXPECT_TRUE(Eof());
}

TEST_F(CommandsTest, FieldsAreWrittenInTheirStoredForms) {
  MakeTable({{"x", false}});
  ASSERT_TRUE(SetFieldNum(2, 1234.567));
  EXPECT_EQ(FieldRaw(2), "  1234.57");
  ASSERT_TRUE(SetFieldText(2, "-0.005"));
  EXPECT_EQ(FieldRaw(2), "    -0.01");
  ASSERT_TRUE(SetFieldText(2, "999999.994"));
  EXPECT_EQ(FieldRaw(2), "999999.99");
  EXPECT_FALSE(SetFieldText(2, "999999.995")) << "rounds to 1000000.00, too wide";
  EXPECT_FALSE(SetFieldNum(3, 12345));
  EXPECT_FALSE(SetFieldText(3, "12a"));
  EXPECT_EQ(FieldRaw(2), "999999.99") << "a refused value leaves the field alone";
  TakeError();
  ASSERT_TRUE(SetFieldNum(3, -42));
  EXPECT_EQ(FieldRaw(3), " -42");
  EXPECT_DOUBLE_EQ(FieldNum(3), -42);
  ASSERT_TRUE(SetFieldDate(4, "20240229"));
  EXPECT_EQ(FieldDate(4), "20240229");
  EXPECT_FALSE(SetFieldDate(4, "2024-02-29"));
  EXPECT_FALSE(SetFieldDate(4, "20241301"));
  // Only days the calendar has: readers of the table refuse the others.
  for (const char* bad : {"20240230", "20230229", "21000229", "20240431", "00000101", "20240100"})
    EXPECT_FALSE(SetFieldDate(4, bad)) << bad;
  for (const char* good : {"20000229", "20240131", "19001231", "00010101"})
    EXPECT_TRUE(SetFieldDate(4, good)) << good;
  ASSERT_TRUE(SetFieldDate(4, ""));
  EXPECT_EQ(FieldDate(4), "        ");
  ASSERT_TRUE(SetFieldLogical(5, true));
  EXPECT_TRUE(FieldLogical(5));
  ASSERT_TRUE(SetFieldText(5, "f"));
  EXPECT_EQ(FieldRaw(5), "F");
  ASSERT_TRUE(SetFieldText(5, "y"));
  EXPECT_EQ(FieldRaw(5), "T") << "a logical is stored as T or F";
  ASSERT_TRUE(SetFieldText(5, "N"));
  EXPECT_EQ(FieldRaw(5), "F");
  EXPECT_FALSE(SetFieldText(1, "thirteen char"));
  ASSERT_TRUE(SetFieldText(1, "twelve chars   "));
  EXPECT_EQ(FieldRaw(1), "twelve chars");
  EXPECT_FALSE(SetFieldText(9, "x"));
  EXPECT_EQ(FieldNumber("amount"), 2);
  EXPECT_EQ(FieldNumber("nope"), 0);
  TakeError();
  ASSERT_TRUE(Replace());
  Dbf4Go(1);
  EXPECT_EQ(FieldText(1), "twelve chars");
  EXPECT_DOUBLE_EQ(FieldNum(2), 999999.99);
}

TEST_F(CommandsTest, PackRemovesDeletedRecordsAndZapEmpties) {
  MakeTable({{"a", true}, {"b", false}, {"c", true}, {"d", true}, {"e", false}});
  ASSERT_TRUE(Pack()) << TakeError();
  EXPECT_EQ(RecCount(), 2);
  EXPECT_EQ(Walk(), (std::vector<std::string>{"b", "e"}));
  CloseArea();
  std::string bytes = ReadFileBytes(File("T.DBF"));
  auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  const size_t hl = GetLE16(p + 8), rl = GetLE16(p + 10);
  EXPECT_EQ(GetLE32(p + 4), 2u);
  ASSERT_EQ(bytes.size(), hl + 2 * rl + 1);
  EXPECT_EQ(bytes.back(), '\x1A');

  ASSERT_TRUE(Use(File("T")));
  EXPECT_FALSE(Pack()) << "a shared table is not packed";
  EXPECT_EQ(ErrorCode(), 225);
  TakeError();
  ASSERT_TRUE(Use(File("T"), Exclusive()));
  ASSERT_TRUE(Zap());
  EXPECT_EQ(RecCount(), 0);
  CloseArea();
  bytes = ReadFileBytes(File("T.DBF"));
  EXPECT_EQ(bytes.size(), hl + 1);
  EXPECT_EQ(GetLE32(reinterpret_cast<const uint8_t*>(bytes.data()) + 4), 0u);
}

TEST_F(CommandsTest, EveryUseCountsTheRecordsInTheFileAndPackKeepsThem) {
  // Three records, a header that counts one: a writer killed before its header write.
  std::string image = MakeDbf(0x03, {{"A", 'C', 3}}, {" abc", "*def", " ghi"});
  PutLE32(reinterpret_cast<uint8_t*>(image.data()) + 4, 1);
  WriteFileBytes(File("LAG.DBF"), image);
  ASSERT_TRUE(Use(File("LAG"), Exclusive()));
  EXPECT_EQ(RecCount(), 3);
  ASSERT_TRUE(Pack()) << TakeError();
  EXPECT_EQ(Walk(), (std::vector<std::string>{"abc", "ghi"}));
  CloseArea();
  ASSERT_TRUE(Use(File("LAG")));
  EXPECT_EQ(RecCount(), 2);
}

TEST_F(CommandsTest, APackThatCannotCreateItsFilesChangesNothing) {
  MakeTable({{"a", true}, {"b", false}});
  CloseArea();
  const std::string before = ReadFileBytes(File("T.DBF"));
  ASSERT_TRUE(Use(File("T"), Exclusive()));
  // A directory that cannot be written: creating any file fails.
  platform::SetFaultHook([](platform::FileChange change, size_t*) -> uint32_t {
    return change == platform::FileChange::Create ? platform::kErrAccessDenied : 0;
  });
  EXPECT_FALSE(Pack());
  EXPECT_FALSE(Zap());
  platform::SetFaultHook({});
  EXPECT_EQ(ErrorCode(), 5);
  TakeError();
  EXPECT_EQ(Walk(), (std::vector<std::string>{"a", "b"}));
  CloseArea();
  // Nor does a table opened for reading only get replaced.
  UseOptions read_only = Exclusive();
  read_only.read_only = true;
  ASSERT_TRUE(Use(File("T"), read_only));
  EXPECT_FALSE(Pack());
  EXPECT_EQ(ErrorCode(), 5);
  TakeError();
  CloseArea();
  EXPECT_EQ(ReadFileBytes(File("T.DBF")), before);
}

TEST_F(CommandsTest, AppendAndReplaceCallTheIndexHooksInsideTheWriteBracket) {
  MakeTable({{"a", false}});
  std::vector<std::string> calls;
  IndexHooks& ix = IndexHookTable();
  ix.IndexOpen = [] { return true; };
  ix.WriteBracket = [&](bool enter) { calls.push_back(enter ? "enter" : "leave"); };
  ix.RecordAppended = [&] { calls.push_back("appended"); };
  ix.RecordReplaced = [&] { calls.push_back("replaced"); };
  ASSERT_TRUE(AppendBlank());
  ASSERT_TRUE(Replace());
  EXPECT_EQ(calls, (std::vector<std::string>{"enter", "appended", "leave", "enter", "replaced", "leave"}));
  IndexHookTable() = IndexHooks{};
}

TEST_F(CommandsTest, MovesRunInsideOneReadBracketAndABracketNotEnteredStopsMoveOrChange) {
  MakeTable({{"a", false}, {"b", false}, {"c", false}});
  std::vector<std::string> calls;
  int depth = 0;
  bool refuse = false;
  IndexHooks& ix = IndexHookTable();
  ix.IndexOpen = [] { return true; };
  ix.ReadBracket = [&](bool enter) {
    if (enter && refuse) return SetError(1202, "busy");
    depth += enter ? 1 : -1;
    calls.push_back(enter ? "(" : ")");
  };
  const auto step = [&](const char* name, int32_t r) {
    calls.push_back(depth == 1 ? name : std::string(name) + " outside");
    return r >= 1 && r <= 3 ? r : 0;
  };
  ix.Top = [&] { return step("top", 1); };
  ix.Bottom = [&] { return step("bottom", 3); };
  ix.Next = [&] { return step("next", RecNo() + 1); };
  ix.Prior = [&] { return step("prior", RecNo() - 1); };
  ix.RecordReached = [&] { step("reached", 0); };
  GoTop();
  Skip(2);
  EXPECT_EQ(RecNo(), 3);
  ASSERT_TRUE(Goto(2));
  GoBottom();
  Skip(-1);
  EXPECT_EQ(RecNo(), 2);
  EXPECT_EQ(calls, (std::vector<std::string>{"(", "top", ")", "(", "next", "next", ")", "(", "reached",
                                             ")", "(", "bottom", ")", "(", "prior", ")"}));
  calls.clear();
  refuse = true;
  GoTop();
  EXPECT_EQ(ErrorCode(), 1202);
  EXPECT_FALSE(Goto(1));
  EXPECT_EQ(RecNo(), 2);
  EXPECT_TRUE(calls.empty());
  refuse = false;

  // A write bracket that cannot be entered: nothing is written and it is not left.
  ix.RecordAppended = [&] { calls.push_back("appended"); };
  ix.RecordReplaced = [&] { calls.push_back("replaced"); };
  ix.WriteBracket = [&](bool enter) {
    if (enter) SetError(1202, "busy");
    calls.push_back(enter ? "enter" : "leave");
  };
  CloseArea();
  const std::string before = ReadFileBytes(File("T.DBF"));
  ASSERT_TRUE(Use(File("T")));
  ASSERT_TRUE(Goto(1));
  ASSERT_TRUE(RLock(1));
  calls.clear();
  EXPECT_FALSE(AppendBlank());
  EXPECT_EQ(ErrorCode(), 1202);
  CurrentArea()->record[1] = 'z';
  EXPECT_FALSE(Replace());
  EXPECT_EQ(ErrorCode(), 1202);
  EXPECT_FALSE(DeleteRec());
  EXPECT_EQ(calls, (std::vector<std::string>{"enter", "enter", "enter"}));
  EXPECT_EQ(RecCount(), 3);
  // The table lock byte the append took is free again.
  IndexHookTable() = IndexHooks{};
  EXPECT_TRUE(LockDbfFile());
  UnlockDbfFile();
  CloseArea();
  EXPECT_EQ(ReadFileBytes(File("T.DBF")), before);
}

TEST_F(CommandsTest, RecordChangesAreRefusedWhileAnOpenIndexCannotBeMaintained) {
  MakeTable({{"a", false}});
  CloseArea();
  const std::string before = ReadFileBytes(File("T.DBF"));
  ASSERT_TRUE(Use(File("T"), Exclusive()));
  IndexHooks& ix = IndexHookTable();
  ix.IndexOpen = [] { return true; };
  // An index layer without the maintenance entries.
  ix.RecordAppended = nullptr;
  ix.RecordReplaced = nullptr;
  ix.Reindex = nullptr;  // an index that cannot be rebuilt either
  AutoReportScope quiet(false);
  ASSERT_TRUE(Goto(1));
  EXPECT_FALSE(AppendBlank());
  EXPECT_EQ(ErrorCode(), 254);
  EXPECT_NE(Errors().PendingMessage.find("[AppendRecord]"), std::string::npos);
  EXPECT_FALSE(Replace());
  EXPECT_EQ(ErrorCode(), 254);
  EXPECT_FALSE(DeleteRec());
  EXPECT_EQ(ErrorCode(), 254);
  EXPECT_FALSE(Recall());
  EXPECT_EQ(ErrorCode(), 254);
  EXPECT_FALSE(Pack());
  EXPECT_EQ(ErrorCode(), 254);
  EXPECT_NE(Errors().PendingMessage.find("[Pack]"), std::string::npos);
  EXPECT_FALSE(Zap());
  EXPECT_EQ(ErrorCode(), 254);
  EXPECT_EQ(RecCount(), 1);
  EXPECT_EQ(CurrentArea()->record[0], ' ');  // the refused delete left the buffer alone
  IndexHookTable() = IndexHooks{};
  CloseArea();
  EXPECT_EQ(ReadFileBytes(File("T.DBF")), before);
}

TEST_F(CommandsTest, NavigationFollowsTheIndexHooks) {
  MakeTable({{"a", false}, {"b", false}, {"c", false}});
  // An order that runs 3, 1, 2.
  static const int32_t kOrder[] = {3, 1, 2};
  static int pos;
  IndexHooks& ix = IndexHookTable();
  ix.IndexOpen = [] { return true; };
  ix.Top = [] { return kOrder[pos = 0]; };
  ix.Bottom = [] { return kOrder[pos = 2]; };
  ix.Next = [] { return ++pos < 3 ? kOrder[pos] : 0; };
  ix.Prior = [] { return --pos >= 0 ? kOrder[pos] : 0; };
  ix.Eof = [] { return pos >= 3; };
  ix.Bof = [] { return pos < 0; };
  ix.SetBof = [](bool) {};
  ix.SetEof = [](bool) {};
  std::vector<std::string> seen;
  for (GoTop(); !Eof(); Skip(1)) seen.push_back(FieldText(1));
  EXPECT_EQ(seen, (std::vector<std::string>{"c", "a", "b"}));
  IndexHookTable() = IndexHooks{};
}

// ---------------------------------------------------------------------------------------
// Corrupted files

class CorruptTableTest : public TableTest {
 protected:
  // Use on the bytes must fail with 210 and a message naming the check.
  void ExpectRefused(const std::string& bytes, const std::string& reason) {
    WriteFileBytes(File("BAD.DBF"), bytes);
    EXPECT_FALSE(Use(File("BAD.DBF"))) << reason;
    EXPECT_EQ(ErrorCode(), 210) << reason;
    EXPECT_NE(Errors().PendingMessage.find(reason), std::string::npos)
        << Errors().PendingMessage << " / " << reason;
    EXPECT_EQ(CurrentArea(), nullptr);
    TakeError();
  }
  const std::string good_ = MakeDbf(0x03, {{"A", 'C', 4}, {"B", 'N', 3}}, {" abcd123", " efgh456"});
};

TEST_F(CorruptTableTest, EveryTruncationIsRefusedOrReadable) {
  for (size_t n = 0; n < good_.size(); ++n) {
    WriteFileBytes(File("CUT.DBF"), good_.substr(0, n));
    bool opened = Use(File("CUT.DBF"));
    if (opened) {
      // What opens must read cleanly to the end.
      int count = 0;
      for (GoTop(); !Eof() && ErrorCode() == 0; Skip(1)) ++count;
      EXPECT_EQ(ErrorCode(), 0) << n;
      EXPECT_LE(count, 2);
      CloseArea();
    } else {
      EXPECT_NE(ErrorCode(), 0) << n;
      TakeError();
    }
  }
}

TEST_F(CorruptTableTest, HeaderChecks) {
  ExpectRefused("", "shorter than a table header");
  std::string bad = good_;
  bad[0] = 0x43;
  ExpectRefused(bad, "unknown version byte 0x43");
  bad = good_;
  PutLE16(reinterpret_cast<uint8_t*>(bad.data()) + 8, 4000);
  ExpectRefused(bad, "beyond the end of the file");
  bad = good_;
  PutLE16(reinterpret_cast<uint8_t*>(bad.data()) + 8, 20);
  ExpectRefused(bad, "out of range");
  bad = good_;
  PutLE16(reinterpret_cast<uint8_t*>(bad.data()) + 10, 9);
  ExpectRefused(bad, "do not add up");
  bad = good_;
  PutLE16(reinterpret_cast<uint8_t*>(bad.data()) + 10, 0);
  ExpectRefused(bad, "too small");
  bad = good_;
  bad[32 + 32 + 32] = 'X';  // the terminator overwritten
  ExpectRefused(bad, "without their terminator");
  bad = good_;
  bad[32 + 16] = 0;  // field A of length 0
  ExpectRefused(bad, "of length 0");
  ExpectRefused(MakeDbf(0x03, {}, {}), "no fields");
}

TEST_F(CorruptTableTest, TooManyFieldsAndUnknownTypes) {
  std::vector<RawField> many(256, RawField{"F", 'C', 1});
  ExpectRefused(MakeDbf(0x03, many, {}), "more than 255 fields");
  many.resize(255);
  WriteFileBytes(File("WIDE.DBF"), MakeDbf(0x03, many, {}));
  EXPECT_TRUE(Use(File("WIDE.DBF")));
  EXPECT_EQ(FieldCount(), 255);
  // A type the engine does not know is accepted and takes no room in the typed image.
  WriteFileBytes(File("ODD.DBF"), MakeDbf(0x03, {{"A", 'C', 2}, {"Z", '@', 8}}, {" ab12345678"}));
  ASSERT_TRUE(Use(File("ODD.DBF")));
  EXPECT_EQ(FieldType(2), '@');
  EXPECT_EQ(CurrentArea()->TypedImage().size(), 1u + 3);
  EXPECT_EQ(FieldRaw(2), "12345678");
}

TEST_F(CorruptTableTest, CountBeyondTheFileIsCut) {
  std::string bad = good_;
  PutLE32(reinterpret_cast<uint8_t*>(bad.data()) + 4, 1000000);
  WriteFileBytes(File("BIG.DBF"), bad);
  ASSERT_TRUE(Use(File("BIG.DBF"), Exclusive()));
  EXPECT_EQ(RecCount(), 2);
  GoBottom();
  EXPECT_EQ(FieldText(1), "efgh");
}

TEST_F(CorruptTableTest, Dbase2TableOpens) {
  // 0x02, count 2, date, record length 6, descriptors of 16 bytes from offset 8.
  std::string h(521, '\0');
  h[0] = 0x02;
  h[1] = 2;
  h[6] = 6;
  std::memcpy(&h[8], "NAME", 4);
  h[8 + 11] = 'C';
  h[8 + 12] = 5;
  h[24] = 0x0D;
  WriteFileBytes(File("D2.DBF"), h + " alpha beta " + "\x1A");
  ASSERT_TRUE(Use(File("D2.DBF"))) << TakeError();
  EXPECT_EQ(RecCount(), 2);
  Skip(1);
  EXPECT_EQ(FieldText(1), "beta");
}

}  // namespace
}  // namespace zedra::testing

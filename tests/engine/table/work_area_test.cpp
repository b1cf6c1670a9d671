// Record reads and writes, the typed record image, code-page translation, Peek and Poke,
// the after-move hook and closing areas.
#include <cstring>
#include <random>

#include "base/dates.h"
#include "platform/platform.h"
#include "table_test_util.h"

namespace zedra::testing {
namespace {

const std::vector<RawField> kFields = {
    {"NAME", 'C', 6}, {"QTY", 'N', 4}, {"PRICE", 'N', 7, 2}, {"BORN", 'D', 8},
    {"OK", 'L', 1},   {"NOTES", 'M', 10}, {"PIC", 'G', 3}};
// 6 + 4 + 7 + 8 + 1 + 10 + 3 + 1 = 40 bytes a record.
const std::vector<std::string> kRecords = {
    " Anna    12  -3.5020240229T         7ABC",
    "*Bob   -001   1.00        n          XYZ",
    " Carl  abcd 99.999199912317         ---"};

class WorkAreaTest : public TableTest {
 protected:
  void SetUp() override {
    TableTest::SetUp();
    WriteFileBytes(File("T.DBF"), MakeDbf(0x03, kFields, kRecords));
    ASSERT_TRUE(Use(File("T.DBF"), Exclusive()));
  }
  DbfArea& A() { return *CurrentArea(); }
};

TEST_F(WorkAreaTest, OpenLeavesTheAreaAsRequired) {
  DbfArea& a = A();
  EXPECT_EQ(a.update_state, UpdateState::Clean);
  EXPECT_EQ(a.header_length, 32 + 7 * 32 + 1);
  EXPECT_EQ(a.record_length, 40);
  EXPECT_EQ(a.field_count, 7);
  EXPECT_EQ(a.fields[0].offset, 1);
  EXPECT_EQ(a.fields[6].offset, 37);
  EXPECT_EQ(a.alias, "T");
  EXPECT_FALSE(a.has_memo);
  EXPECT_EQ(RecNo(), 1);
  EXPECT_EQ(FieldCount(), 7);
  EXPECT_EQ(RecSize(), 40);
}

TEST_F(WorkAreaTest, TypedImageByteForByte) {
  Dates().DateStyle = 2;  // DD/MM/YY
  Dates().CenturyOn = true;
  Dbf4RawGo(1);
  auto img = [this]() -> const std::vector<uint8_t>& { return A().TypedImage(); };
  ASSERT_EQ(img().size(), 1u + 7 + 4 + 8 + 11 + 1 + 4 + 0);
  EXPECT_EQ(img()[0], 0);
  EXPECT_EQ(img()[1], 6);
  EXPECT_EQ(std::string(img().begin() + 2, img().begin() + 8), "Anna  ");
  int32_t qty;
  std::memcpy(&qty, &img()[8], 4);
  EXPECT_EQ(qty, 12);
  double price;
  std::memcpy(&price, &img()[12], 8);
  EXPECT_DOUBLE_EQ(price, -3.5);
  EXPECT_EQ(img()[20], 10);
  EXPECT_EQ(std::string(img().begin() + 21, img().begin() + 31), "29/02/2024");
  EXPECT_EQ(img()[31], 1);
  int32_t memo;
  std::memcpy(&memo, &img()[32], 4);
  EXPECT_EQ(memo, 7);

  Dbf4RawGo(2);
  EXPECT_EQ(img()[0], 1) << "deleted";
  std::memcpy(&qty, &img()[8], 4);
  EXPECT_EQ(qty, -1);
  EXPECT_EQ(img()[31], 0) << "'n' is false";
}

TEST_F(WorkAreaTest, TypedImageDatesFollowEveryDateStyle) {
  auto img = [this]() -> const std::vector<uint8_t>& { return A().TypedImage(); };
  for (int style = 0; style <= 8; ++style) {
    for (bool century : {false, true}) {
      SetDateStyle(style);
      Dates().CenturyOn = century;
      Dbf4RawGo(1);
      std::string expected = DateFromCanonical(century ? "02/29/2024" : "02/29/24");
      EXPECT_EQ(std::string(img().begin() + 21, img().begin() + 21 + img()[20]), expected) << style;
      Dbf4RawGo(2);
      EXPECT_EQ(std::string(img().begin() + 21, img().begin() + 21 + img()[20]), EmptyDate(style)) << style;
    }
  }
}

TEST_F(WorkAreaTest, TypedImageOfUnparsableAndBlankValues) {
  Dates().DateStyle = 0;
  Dates().CenturyOn = false;
  Dbf4RawGo(3);
  auto img = [this]() -> const std::vector<uint8_t>& { return A().TypedImage(); };
  int32_t qty;
  std::memcpy(&qty, &img()[8], 4);
  EXPECT_EQ(qty, 0) << "abcd is not a number";
  EXPECT_EQ(img()[20], 8);
  EXPECT_EQ(std::string(img().begin() + 21, img().begin() + 29), "12/31/99");
  Dbf4RawGo(2);
  EXPECT_EQ(std::string(img().begin() + 21, img().begin() + 29), EmptyDate(0));
}

// The image made on first use is the one a move would have made at once: the same bytes
// although the record buffer and the date style change between the move and the read.
// One run reads the image after every operation (so it is made at the move), the other
// only now and then, after the changes; both make the same operations.
TEST_F(WorkAreaTest, TypedImageMadeOnUseEqualsTheImageAtTheMove) {
  std::mt19937 rng(5);
  auto pick = [&rng](std::initializer_list<const char*> choices) {
    return std::string(choices.begin()[rng() % choices.size()]);
  };
  std::vector<std::string> records;
  for (int i = 0; i < 300; ++i) {
    std::string r = rng() % 4 == 0 ? "*" : " ";
    r += pick({"Anna  ", "      ", "\xe9t\xe9   "});
    r += pick({"  12", "-001", "abcd", "    ", "+7  ", "9999"});
    r += pick({"  -3.50", "   1.00", "99.9991", "       ", " 1e3   ", "  .25  "});
    r += pick({"20240229", "        ", "2024022x", "19991231"});
    r += pick({"T", "n", "y", " ", "?"});
    r += pick({"         7", "          ", "      abc1", "2147483648"});
    r += pick({"ABC", "   "});
    records.push_back(r);
  }
  const std::string table = MakeDbf(0x03, kFields, records);
  std::vector<std::vector<uint8_t>> at_move;  // the first run's image after each step
  std::vector<std::string> trace[2];
  for (int run = 0; run < 2; ++run) {
    CloseArea();
    const std::string path = File("R" + std::to_string(run) + ".DBF");
    WriteFileBytes(path, table);
    ASSERT_TRUE(Use(path, Exclusive()));
    rng.seed(17);
    SetDateStyle(0);
    Dates().CenturyOn = false;
    for (int step = 0; step < 3000; ++step) {
      const int count = RecCount();
      switch (rng() % 8) {
        case 0: Dbf4Go(int32_t(1 + rng() % (count + 2))); break;
        case 1: Dbf4RawGo(int32_t(1 + rng() % (count + 2))); break;
        case 2: Skip(int32_t(rng() % 9) - 4); break;
        case 3: rng() % 2 ? GoTop() : GoBottom(); break;
        case 4: SetFieldRaw(int(1 + rng() % 7), pick({"42", "", "x", "20010101"})); Replace(); break;
        case 5: AppendBlank(); SetFieldRaw(int(1 + rng() % 7), pick({"T", "-5.5", "19000101"})); Replace(); break;
        case 6: rng() % 2 ? DeleteRec() : Recall(); break;
        default: ClearRecord(); break;
      }
      trace[run].push_back(std::to_string(RecNo()) + "/" + std::to_string(ErrorCode()));
      Errors().ErrorCode = 0;
      if (run == 0) at_move.push_back(A().TypedImage());
      // Changes the image of the last move must not see.
      const bool read_now = rng() % 5 == 0;
      SetFieldRaw(int(1 + rng() % 7), pick({"77", "19700101", "F", "zz"}));
      SetDateStyle(int(rng() % 9));
      Dates().CenturyOn = rng() % 2;
      Errors().ErrorCode = 0;
      if (run == 1 && read_now) {
        ASSERT_EQ(A().TypedImage(), at_move[size_t(step)]) << "step " << step;
      }
    }
  }
  EXPECT_EQ(trace[0], trace[1]);
  EXPECT_GT(RecCount(), 300);
}

TEST_F(WorkAreaTest, GetDbfRecordOutOfRangeLeavesBufferAndPosition) {
  Dbf4RawGo(2);
  std::vector<uint8_t> before = A().record;
  for (int32_t n : {0, 4, -7}) {
    GetDbfRecord(A(), n);
    EXPECT_EQ(ErrorCode(), 212) << n;
    EXPECT_NE(Errors().PendingMessage.find("Invalid record number = " + std::to_string(n)), std::string::npos);
    EXPECT_NE(Errors().PendingMessage.find("[GetDbfRecord]"), std::string::npos);
    TakeError();
    EXPECT_EQ(A().record, before);
    EXPECT_EQ(RecNo(), 2);
  }
}

TEST_F(WorkAreaTest, RawGoPastTheEndGivesBlankBufferAndEof) {
  Dbf4RawGo(50);
  EXPECT_EQ(ErrorCode(), 0);
  EXPECT_EQ(RecNo(), 4);
  EXPECT_TRUE(A().at_end);
  EXPECT_TRUE(dEOF());
  EXPECT_EQ(A().record, std::vector<uint8_t>(40, ' '));
  Dbf4RawGo(0);
  EXPECT_EQ(ErrorCode(), 212);
  EXPECT_EQ(Errors().PendingMessage, " [Dbf4RawGo]");
}

TEST_F(WorkAreaTest, PutBeyondTheEndAppendsExactlyOne) {
  Dbf4RawGo(1);
  PutDbfRecord(A(), 13);
  ASSERT_EQ(ErrorCode(), 0);
  EXPECT_EQ(A().record_count, 4);
  EXPECT_EQ(RecNo(), 4);
  EXPECT_EQ(A().update_state, UpdateState::Appended);
  Dbf4RawGo(2);
  PutDbfRecord(A(), 2);
  EXPECT_EQ(A().update_state, UpdateState::Appended) << "stays Appended through rewrites";
  PutDbfRecord(A(), 0);
  EXPECT_EQ(ErrorCode(), 212) << "record 0 would overwrite the header";
  EXPECT_EQ(A().record_count, 4);
}

TEST_F(WorkAreaTest, FieldTypeChecksItsNumber) {
  EXPECT_EQ(FieldType(3), 'N');
  EXPECT_EQ(FieldType(7), 'G');
  for (int n : {0, 8}) {
    EXPECT_EQ(FieldType(n), ' ');
    EXPECT_EQ(ErrorCode(), 220);
    EXPECT_EQ(Errors().PendingMessage, "Invalid field number. [FieldType(" + std::to_string(n) + ")]");
    TakeError();
  }
}

TEST_F(WorkAreaTest, OemFlagConvertsAllButTheDeletionFlag) {
  A().oem = true;
  // 0x81 is u-umlaut in code page 850; the deletion flag byte must stay as it is.
  Dbf4RawGo(1);
  A().record[0] = '*';
  A().record[1] = char(0xFC);  // u-umlaut in Windows-1252
  PutDbfRecord(A(), 1);
  std::string bytes = ReadFileBytes(File("T.DBF"));
  const size_t at = A().header_length;
  EXPECT_EQ(bytes[at], '*');
  EXPECT_EQ(uint8_t(bytes[at + 1]), platform::AnsiToOem(0xFC));
  EXPECT_EQ(uint8_t(bytes[at + 1]), 0x81);
  EXPECT_EQ(A().record[1], 0xFC) << "the buffer keeps its readable form";
  Dbf4RawGo(1);
  EXPECT_EQ(A().record[1], 0xFC);
}

TEST_F(WorkAreaTest, TransformsRunAroundTheStoredForm) {
  auto flip = [](uint8_t* d, size_t n) {
    for (size_t i = 0; i < n; ++i) d[i] ^= 0x20;
  };
  A().write_transform = flip;
  A().read_transform = flip;
  ClearRecord();
  ASSERT_TRUE(SetFieldText(1, "Anna"));
  PutDbfRecord(A(), 1);
  std::string bytes = ReadFileBytes(File("T.DBF"));
  EXPECT_EQ(bytes.substr(A().header_length, 5), " aNNA") << "the deletion flag is left alone";
  EXPECT_EQ(FieldText(1), "Anna");
  Dbf4RawGo(2);
  Dbf4RawGo(1);
  EXPECT_EQ(FieldText(1), "Anna");
}

TEST_F(WorkAreaTest, PeekWithAndWithoutCache) {
  for (uint32_t cache : {0u, 100u, 65536u}) {
    Tables().PeekCacheSize = cache;
    EXPECT_EQ(Peek(1, 3), "Carl  ") << cache;
    EXPECT_EQ(Peek(0, 2), "*") << cache;
    EXPECT_EQ(Peek(2, 2), "-001") << cache;
    EXPECT_EQ(Peek(8, 1), "");
    EXPECT_EQ(Peek(1, 4), "");
    EXPECT_EQ(Peek(1, 0), "");
    EXPECT_EQ(ErrorCode(), 0);
  }
  // Poke writes through the cache.
  Tables().PeekCacheSize = 4096;
  EXPECT_EQ(Peek(1, 1), "Anna  ");
  Poke("Zed", 1, 2);
  EXPECT_EQ(Peek(1, 2), "Zed   ");
  Tables().PeekCacheSize = 0;
  EXPECT_EQ(Peek(1, 2), "Zed   ");
}

TEST_F(WorkAreaTest, PeekCacheFollowsReplace) {
  Tables().PeekCacheSize = 4096;
  EXPECT_EQ(Peek(1, 1), "Anna  ");
  Dbf4RawGo(1);
  ASSERT_TRUE(SetFieldText(1, "Dora"));
  ASSERT_TRUE(Replace());
  EXPECT_EQ(Peek(1, 1), "Dora  ");
}

TEST_F(WorkAreaTest, PokeNeedsALockInASharedArea) {
  CloseArea();
  ASSERT_TRUE(Use(File("T.DBF")));
  Poke("Xx", 1, 1);
  EXPECT_EQ(ErrorCode(), 1200);
  EXPECT_EQ(Errors().PendingMessage, "Record not locked [Poke(Xx,1,1)]");
  TakeError();
  ASSERT_TRUE(RLock(1));
  Poke("Xx", 1, 1);
  EXPECT_EQ(ErrorCode(), 0);
  EXPECT_EQ(Peek(1, 1), "Xxna  ");
  Poke("Yy", 1, 2);
  EXPECT_EQ(ErrorCode(), 1200);
  TakeError();
  ASSERT_TRUE(LockSingleByte());
  Poke("Yy", 1, 1);
  EXPECT_EQ(ErrorCode(), 1200) << "the single-byte lock covers no record";
  TakeError();
  ASSERT_TRUE(FLock());
  Poke("Yy", 1, 2);
  EXPECT_EQ(ErrorCode(), 0);
}

TEST_F(WorkAreaTest, AfterMoveHookRunsOnceAndMayNotMoveTheArea) {
  int calls = 0;
  A().AfterMoveHook = [&] {
    ++calls;
    Dbf4Go(1);  // a nested move does not call the hook again
  };
  Dbf4Go(1);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(ErrorCode(), 0);
  Dbf4Go(2);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(ErrorCode(), 224) << "the hook moved the area";
  EXPECT_TRUE(static_cast<bool>(A().AfterMoveHook)) << "the hook is put back";
  TakeError();

  // An error the hook leaves is reported with the table's name.
  A().AfterMoveHook = [] { SetError(215, "No database in use [RecNo]  WorkArea = 2"); };
  Dbf4Go(1);
  EXPECT_EQ(ErrorCode(), 215);
  EXPECT_EQ(Errors().PendingMessage, File("T.DBF"));
  TakeError();
  // A hook that raises still gets its area made current again and is put back.
  A().AfterMoveHook = [] {
    SetCurrentArea(9);
    throw EZedraError("raised");
  };
  EXPECT_THROW(Dbf4Go(2), EZedraError);
  EXPECT_EQ(CurrentAreaNumber(), 1);
  EXPECT_TRUE(static_cast<bool>(A().AfterMoveHook));
}

TEST_F(WorkAreaTest, AreaOperationsOnAnEmptyArea) {
  Select(5);
  EXPECT_EQ(RecCount(), 0);
  EXPECT_EQ(ErrorCode(), 215);
  EXPECT_EQ(Errors().PendingMessage, "No database in use [RecCount]  WorkArea = 5");
  TakeError();
  EXPECT_EQ(FieldCount(), 0);
  EXPECT_EQ(FieldType(1), ' ');
  EXPECT_EQ(RecNo(), 0);
  EXPECT_EQ(AreaAlias(), "");
  EXPECT_EQ(Peek(1, 1), "");
  EXPECT_FALSE(IsLocked(1));
  EXPECT_FALSE(Select(0));
  EXPECT_FALSE(Select(36));
}

TEST_F(WorkAreaTest, CloseAllAreasLeavesAreaOneCurrent) {
  CloseArea();
  ASSERT_TRUE(Use(File("T.DBF")));
  Select(7);
  ASSERT_TRUE(Use(File("T.DBF"), [] { UseOptions o; o.alias = "second"; return o; }()));
  EXPECT_EQ(AreaAlias(), "SECOND");
  Select(34);
  ASSERT_TRUE(Use(File("T.DBF")));
  CloseAllAreas();
  EXPECT_EQ(CurrentAreaNumber(), 1);
  EXPECT_EQ(AreaAt(1), nullptr);
  EXPECT_EQ(AreaAt(7), nullptr);
  EXPECT_NE(AreaAt(34), nullptr) << "areas 34 and 35 close only at shut-down";
  EngineShutdown();
  EXPECT_EQ(AreaAt(34), nullptr);
  EngineStartup();
  SetAutoReport(false);
}

TEST_F(WorkAreaTest, VirtualAreaIsServedByItsHandler) {
  std::vector<std::pair<int, int32_t>> calls;
  VirtualHandler() = [&](DbfArea& area) { calls.push_back({area.virtual_op, area.virtual_record}); };
  auto area = std::make_unique<DbfArea>();
  area->is_virtual = true;
  area->file_name = "VIRTUAL";
  area->record_count = 5;
  area->record_length = 4;
  area->record.assign(4, 'x');
  DbfArea& v = *area;
  Tables().areas[9] = std::move(area);
  Select(9);
  Dbf4RawGo(3);
  PutDbfRecord(v, 99);
  ClearRecord();
  EXPECT_EQ(v.record, std::vector<uint8_t>(4, 0)) << "no field table: zeros";
  v.HideDeleted = true;
  EXPECT_TRUE(RecordVisible());
  v.record[0] = 1;
  EXPECT_FALSE(RecordVisible());
  EXPECT_EQ(Peek(1, 1), "");
  EXPECT_EQ(ErrorCode(), 1100);
  EXPECT_EQ(Errors().PendingMessage, "Operation cannot be used on virtual files. [Peek]");
  TakeError();
  Poke("ab", 1, 2);
  EXPECT_EQ(ErrorCode(), 1100);
  EXPECT_EQ(Errors().PendingMessage, "Operation cannot be used on virtual files.[Poke(ab,1,2)]");
  TakeError();
  EXPECT_FALSE(IsLocked(1));
  EXPECT_EQ(ErrorCode(), 1100);
  EXPECT_EQ(Errors().PendingMessage, "[IsLocked]");
  TakeError();
  CloseArea();
  EXPECT_EQ(calls, (std::vector<std::pair<int, int32_t>>{{3, 3}, {8, 6}, {1, 6}}));
  VirtualHandler() = nullptr;
}

TEST_F(WorkAreaTest, CloseAreaReleasesFilterThroughTheHooks) {
  auto* fake = reinterpret_cast<CompiledExpr*>(0x1000);
  int released = 0;
  ExprHookTable().ReleaseExpr = [&](CompiledExpr*& e) {
    ++released;
    e = nullptr;
  };
  A().FilterExpression = fake;
  A().SecondExpression = fake;
  CloseArea();
  EXPECT_EQ(released, 2);
}

}  // namespace
}  // namespace zedra::testing

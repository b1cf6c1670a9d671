// The evaluator: operators, field values from file areas (and empty tables), memo text,
// node and pool reuse, errors during evaluation, filters through the table layer.
#include <atomic>
#include <cmath>
#include <cstring>
#include <cstdlib>
#include <new>
#include <random>

#include "expr_test_util.h"
#include "memo/memo.h"
#include "table/hooks.h"

// Counts the allocations of this test program, to show that a repeated evaluation makes
// none.
namespace {
std::atomic<long> allocations{0};
}
// GCC takes the replaced operators for a mismatched pair of malloc and delete.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size) {
  ++allocations;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

namespace zedra::testing {
namespace {

std::string MemoField(int32_t block) {
  char text[16];
  std::snprintf(text, sizeof text, "%10d", block);
  return text;
}

class EvaluatorTest : public ExprTest {
 protected:
  void People() {
    MakeTable("people",
              {{"NAME", 'C', 20, 0},
               {"AMOUNT", 'N', 10, 2},
               {"BORN", 'D', 8, 0},
               {"ACTIVE", 'L', 1, 0},
               {"COUNT", 'N', 4, 0}},
              {{"Smith", "750.50", "19991231", "T", "3"},
               {"*", "jones", "100", "", "F", "-2"},
               {"Miller", "501", "20240101", "Y", "0"},
               {"*", "Brown", "900", "20000229", "T", "1"}});
  }
};

TEST_F(EvaluatorTest, Operators) {
  struct Case {
    const char* text;
    const char* value;
  } cases[] = {
      {"2+3*4", "14.00"},
      {"2-3-4", "-5.00"},
      {"-2^2", "4.00"},
      {"2^3^2", "64.00"},
      {"2**0.5*2**0.5", "2.00"},
      {"0^2", "0.00"},
      {"7/2", "3.50"},
      {".T. .OR. .F. .AND. .F.", ".T."},
      {".NOT. .T. .OR. .T.", ".T."},
      {".T. = .F.", ".F."},
      {".F. # .F.", ".F."},
      {"'ABC' = ''", ".F."},
      {"'' $ 'ABC'", ".F."},
      {"'B' $ 'ABC'", ".T."},
      {"'ABC' == 'ABC '", ".F."},
      {"'ABC ' = 'ABC'", ".T."},
      {"'SMITH' = 'SM'", ".T."},
      {"'SM' = 'SMITH'", ".F."},
      {"'SMITH' <> 'SM'", ".T."},
      {"'SMITH' # 'SMITH'", ".F."},
      {"'ab' < 'abc'", ".T."},
      {"'abc' <= 'abc'", ".T."},
      {"'b' > 'abc'", ".T."},
      {"'a' >= 'b'", ".F."},
      {"'a' < 'A'", ".F."},
      {"'\xe9' > 'z'", ".T."},  // bytes compare unsigned
      {"'AB  ' - 'CD'", "ABCD  "},
      {"'   ' - 'CD'", "CD   "},
      {"'AB' + 'CD'", "ABCD"},
      {"1 = 1.0", ".T."},
      {"0.1 + 0.2 = 0.3", ".F."},  // exact comparison
      {"3 >= 3 .AND. 2 <= 1", ".F."},
      {"CTOD('12/31/99') - CTOD('01/01/99')", "364.00"},
      {"CTOD('12/31/99') + 1", "20000101"},
      {"1 + CTOD('12/31/99')", "20000101"},
      {"CTOD('03/01/00') - 1", "20000229"},
      {"CTOD('  /  /  ') + 3", "        "},
      {"CTOD('01/01/99') > CTOD('12/31/98')", ".T."},
      {"CTOD('01/01/99') = CTOD('01/01/1999')", ".T."},
      {"CTOD('  /  /  ') = CTOD('02/30/99')", ".T."},
  };
  for (const Case& c : cases) EXPECT_EQ(Eval(c.text), c.value) << c.text;
}

TEST_F(EvaluatorTest, DivisionByZeroGoesOn) {
  CompiledExpr* e = AssignExpr("1/0 + 1");
  ASSERT_NE(e, nullptr);
  Evaluate(e);
  EXPECT_EQ(ResultNumber(*e), 1.0E250 + 1);
  EXPECT_EQ(TakeError(), "358: Error during evaluation: Divide by 0 [Evaluate/Engine]");
  ReleaseExpr(e);
  // A MOD divisor that truncates to 0 is a division by zero too.
  e = AssignExpr("MOD(5, 0.5)");
  ASSERT_NE(e, nullptr);
  Evaluate(e);
  EXPECT_EQ(ResultNumber(*e), 1.0E250);
  EXPECT_EQ(TakeError(), "358: Error during evaluation: Divide by 0 [Evaluate/Engine]");
  ReleaseExpr(e);
}

// Whole-number powers are exact; others are the platform's pow.
TEST_F(EvaluatorTest, IntegerPowersAreExact) {
  for (const char* text : {"3^2 = 9", "INT(3^2) = 9", "2^10 = 1024", "10^-2 = 0.01",
                           "(-3)^2 = 9", "(-2)^3 = -8", "2^-1 = 0.5", "3**3 = 27",
                           "10^15 = 1000000000000000", "7^0 = 1", "(-7)^0 = 1"})
    EXPECT_EQ(Eval(text), ".T.") << text;
  auto number = [&](const char* text) {
    CompiledExpr* e = AssignExpr(text);
    EXPECT_NE(e, nullptr) << text;
    if (!e) return 0.0;
    Evaluate(e);
    double v = ResultNumber(*e);
    ReleaseExpr(e);
    return v;
  };
  EXPECT_EQ(number("2^53"), 9007199254740992.0);
  EXPECT_EQ(number("3^40"), std::pow(3.0, 40.0));  // beyond 2^53
  EXPECT_EQ(number("2^0.5"), std::pow(2.0, 0.5));
  EXPECT_EQ(number("1.5^3"), 3.375);
}

TEST_F(EvaluatorTest, PowersWithoutARealResultAreNaN) {
  for (const char* text : {"(-8)^(1/3)", "0^(-1)"}) {
    CompiledExpr* e = AssignExpr(text);
    ASSERT_NE(e, nullptr);
    Evaluate(e);
    EXPECT_TRUE(std::isnan(ResultNumber(*e))) << text;
    ReleaseExpr(e);
  }
  EXPECT_EQ(Eval("(-2)^3"), "-8.00");
  EXPECT_EQ(Eval("0^0"), "1.00");
  EXPECT_EQ(Eval("4^0.5"), "2.00");
}

TEST_F(EvaluatorTest, FieldsOfTheCurrentRecord) {
  People();
  struct Case {
    int record;
    const char* text;
    const char* value;
  } cases[] = {
      {1, "NAME", "Smith               "},
      {1, "TRIM(NAME) + '|'", "Smith|"},
      {1, "AMOUNT", "750.50"},
      {1, "AMOUNT > 500 .AND. ACTIVE", ".T."},
      {1, "DTOS(BORN)", "19991231"},
      {1, "BORN + 1", "20000101"},
      {1, "COUNT * 2", "6.00"},
      {1, "DELETED()", ".F."},
      {1, "RECNO()", "1.00"},
      {2, "DELETED()", ".T."},
      {2, "BORN", "        "},
      {2, "BORN + 3", "        "},
      {2, "DTOC(BORN)", "  /  /  "},
      {2, "ACTIVE", ".F."},
      {2, "COUNT", "-2"},
      {3, "ACTIVE", ".T."},
      {3, "UPPER(NAME)+DTOS(BORN)", "MILLER              20240101"},
      {3, "PEOPLE->AMOUNT", "501.00"},
      {4, "RECNO()", "4.00"},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(Goto(c.record));
    EXPECT_EQ(Eval(c.text), c.value) << c.text << " @" << c.record;
  }
}

TEST_F(EvaluatorTest, EmptyTableReadsAsBlanks) {
  MakeTable("empty", {{"NAME", 'C', 5, 0}, {"AMOUNT", 'N', 6, 1}, {"BORN", 'D', 8, 0},
                      {"ACTIVE", 'L', 1, 0}},
            {});
  EXPECT_EQ(Eval("NAME + '|'"), "     |");
  EXPECT_EQ(Eval("AMOUNT"), "0.0");
  EXPECT_EQ(Eval("BORN"), "        ");
  EXPECT_EQ(Eval("ACTIVE"), ".F.");
  EXPECT_EQ(Eval("RECNO()"), "1.00");  // the end-of-file position
}

TEST_F(EvaluatorTest, FieldsFollowTheCurrentAreaOrTheirAlias) {
  People();
  ASSERT_TRUE(Goto(3));
  CompiledExpr* plain = AssignExpr("AMOUNT");
  CompiledExpr* aliased = AssignExpr("PEOPLE->AMOUNT");
  CompiledExpr* text = AssignExpr("NAME");
  ASSERT_TRUE(plain && aliased && text);
  ASSERT_TRUE(Select(2));
  MakeTable("other", {{"PRICE", 'N', 5, 1}, {"LABEL", 'N', 3, 0}}, {{"12.5", "7"}});
  // Field 2 of the current area is now LABEL; the aliased field still reads area 1.
  Evaluate(plain);
  EXPECT_EQ(ResultNumber(*plain), 7);
  Evaluate(aliased);
  EXPECT_EQ(ResultNumber(*aliased), 501);
  // A field whose type no longer fits the code gives the blank value of its type.
  Evaluate(text);
  EXPECT_EQ(ResultText(*text), "");
  ASSERT_TRUE(Select(3));  // an empty area
  Evaluate(plain);
  EXPECT_EQ(ResultNumber(*plain), 0);
  EXPECT_EQ(Eval("DELETED()"), ".F.");
  ReleaseExpr(plain);
  ReleaseExpr(aliased);
  ReleaseExpr(text);
  EXPECT_EQ(Eval("RECNO()"), "0.00");
  EXPECT_EQ(TakeError(), "215: No database in use [RecNo]  WorkArea = 3");
}

TEST_F(EvaluatorTest, NumericFieldTexts) {
  // A numeric field's text becomes the number of its leading well-formed part.
  MakeTable("nums", {{"V", 'N', 8, 2}}, {});
  struct Case {
    const char* raw;
    const char* value;
  } cases[] = {{"   12.50", "12.50"}, {"      -3", "-3.00"}, {"1e3     ", "1000.00"},
               {"12abc   ", "12.00"},  {"abc     ", "0.00"},  {"        ", "0.00"},
               {"      .5", "0.50"},   {"1.2.3   ", "1.20"},  {"      +7", "7.00"},
               {"1E999   ", "inf"},    {"-1E999  ", "-inf"},  {"1E-999  ", "0.00"}};
  for (const Case& c : cases) {
    ASSERT_TRUE(AppendBlank());
    ASSERT_TRUE(SetFieldRaw(1, c.raw));
    ASSERT_TRUE(Replace());
    EXPECT_EQ(Eval("V"), c.value) << c.raw;
  }
}

TEST_F(EvaluatorTest, RepeatedEvaluationAllocatesNothing) {
  People();
  const char* texts[] = {
      "UPPER(NAME)+DTOS(BORN)",
      "AMOUNT > 500 .AND. ACTIVE",
      "IIF(ACTIVE, LOWER(NAME), SPACE(3)) + STR(AMOUNT, 12, 3) + DTOC(BORN)",
      "CDOW(BORN) + CMONTH(BORN) + SOUNDEX(NAME) + REPLICATE('ab', 7)",
      "SUBSTR(NAME, 2, 3) + STUFF(NAME, 1, 2, 'xyz') + LTRIM(' a') + RIGHT(NAME, 2)",
      "YEAR(BORN) + MONTH(BORN) + DAY(BORN) + DOW(BORN) + VAL('12') + LEN(NAME)",
  };
  for (const char* text : texts) {
    CompiledExpr* e = AssignExpr(text);
    ASSERT_NE(e, nullptr) << text;
    for (int record = 1; record <= 4; ++record) {
      ASSERT_TRUE(Goto(record));
      std::string first;
      Evaluate(e);
      if (e->type == 'C') first = std::string(ResultText(*e));
      double number = e->type == 'N' ? ResultNumber(*e) : 0;
      size_t nodes = e->values.count();
      long before = allocations;
      const void* result = Evaluate(e);
      EXPECT_EQ(allocations - before, 0) << text;
      EXPECT_EQ(e->values.count(), nodes);
      if (e->type == 'C') {
        EXPECT_EQ(result, e->pool.get());  // a text result starts the pool
        EXPECT_EQ(std::string(ResultText(*e)), first);
      }
      if (e->type == 'N') {
        EXPECT_EQ(ResultNumber(*e), number);
      }
    }
    ReleaseExpr(e);
  }
}

TEST_F(EvaluatorTest, TextsAreCutAt255) {
  MakeTable("wide", {{"W", 'C', 200, 0}}, {{std::string(200, 'w')}});
  EXPECT_EQ(Eval("W + W"), std::string(255, 'w'));
  EXPECT_EQ(Eval("W - 'x'"), std::string(200, 'w') + "x");
  EXPECT_EQ(Eval("LEN(W + W + W)"), "255.00");
  EXPECT_EQ(Eval("REPLICATE('abc', 100)"), [] {
    std::string s;
    while (s.size() < 255) s += "abc";
    return s.substr(0, 255);
  }());
  EXPECT_EQ(Eval("LEN(SPACE(1000))"), "255.00");
  EXPECT_EQ(Eval("LEN(STR(1, 300))"), "255.00");
  EXPECT_EQ(ErrorCode(), 0);
}

// An evaluation that fails has no value: Evaluate gives nullptr and the results read as
// empty, never as what an earlier evaluation (an earlier record) left in the pool.
TEST_F(EvaluatorTest, AFailedEvaluationHasNoValue) {
  // A hand-made pool too small for the value.
  CompiledExpr* e = AssignExpr("'abc' + 'def'");
  ASSERT_NE(e, nullptr);
  ASSERT_NE(Evaluate(e), nullptr);
  EXPECT_EQ(ResultText(*e), "abcdef");
  const uint16_t fits = e->pool_size;
  e->pool_size = 5;
  EXPECT_EQ(Evaluate(e), nullptr);
  EXPECT_EQ(TakeError(), "354: Working pool overflow [PARSER/Allocate]");
  EXPECT_EQ(ResultText(*e), "");
  EXPECT_EQ(e->pool[0], '\0');
  e->pool_size = fits;
  ASSERT_NE(Evaluate(e), nullptr);
  EXPECT_EQ(ResultText(*e), "abcdef");
  ReleaseExpr(e);

  // Unaliased fields are read in the area current at evaluation time, whose field may be
  // longer than the pool was made for: the key of the second area's record fails instead
  // of repeating the first area's value.
  MakeTable("short", {{"NAME", 'C', 5, 0}}, {{"Ann"}});
  ASSERT_TRUE(Select(2));
  MakeTable("long", {{"NAME", 'C', 40, 0}}, {{"Bob"}});
  ASSERT_TRUE(Select(1));
  CompiledExpr* key = AssignExpr("NAME");
  CompiledExpr* test = AssignExpr(".NOT. (NAME = 'Bob')");
  ASSERT_NE(key, nullptr);
  ASSERT_NE(test, nullptr);
  EXPECT_STREQ(static_cast<const char*>(Evaluate(key)), "Ann  ");
  EXPECT_NE(Evaluate(test), nullptr);
  EXPECT_TRUE(ResultLogical(*test));
  ASSERT_TRUE(Select(2));
  EXPECT_EQ(Evaluate(key), nullptr);
  EXPECT_EQ(ResultText(*key), "");
  EXPECT_EQ(ErrorCode(), 354);
  TakeError();
  EXPECT_EQ(Evaluate(test), nullptr);
  EXPECT_FALSE(ResultLogical(*test));
  TakeError();
  ReleaseExpr(key);
  ReleaseExpr(test);

  // A filter that fails shows no record and leaves its error, also with AutoReport off.
  ASSERT_TRUE(Select(3));
  MakeTable("small", {{"NAME", 'C', 5, 0}}, {{"Cyd"}}, 0x03, "B");
  ASSERT_TRUE(Select(1));
  ASSERT_TRUE(SetFilter(".NOT. (B->NAME = 'x')")) << TakeError();
  GoTop();
  EXPECT_FALSE(Eof());
  ASSERT_TRUE(Select(3));
  CloseArea();
  MakeTable("wide", {{"NAME", 'C', 60, 0}}, {{"Dan"}}, 0x03, "B");
  ASSERT_TRUE(Select(1));
  GoTop();
  EXPECT_EQ(ErrorCode(), 354);  // the move stops with the error
  TakeError();
  EXPECT_FALSE(RecordVisible());
  EXPECT_EQ(ErrorCode(), 354);
  TakeError();
}

// A memo field whose reference is negative (a memo in the group-header form of a
// dBASE III memo file) is read at the absolute value, as GetMemoText reads it. POSIX
// only: the test writes into the memo file while the engine holds it exclusively.
#ifndef _WIN32
TEST_F(EvaluatorTest, NegativeMemoReferencesReadAsTheMemoLayerReadsThem) {
  MakeTable("notes", {{"NOTES", 'M', 10, 0}}, {{}}, 0x83);
  ASSERT_TRUE(Goto(1));
  // The group-header form, by hand: FF FF 08 00, the length + 8, then text with a 0x00.
  const std::string text("ab\0cd", 5);
  std::string memo = "\xFF\xFF\x08";
  memo += std::string(1, '\0');
  const uint32_t length = uint32_t(text.size()) + 8;
  for (int i = 0; i < 4; ++i) memo += char((length >> (8 * i)) & 0xFF);
  memo += text;
  memo.resize(512, '\0');
  {
    // Block 1, where the new file's creation marker stands.
    std::FILE* f = std::fopen(CurrentArea()->memo->file_name.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fseek(f, 512, SEEK_SET), 0);
    ASSERT_EQ(std::fwrite(memo.data(), 1, memo.size(), f), memo.size());
    std::fclose(f);
  }
  ASSERT_TRUE(SetFieldRaw(1, MemoField(-1)));
  ASSERT_TRUE(Replace());
  EXPECT_EQ(GetMemoText(1), text);
  // Expression text ends at the 0x00 byte, as every character value does.
  EXPECT_EQ(Eval("NOTES"), "ab");
  EXPECT_EQ(ErrorCode(), 0) << TakeError();
  // A reference beyond the file is an error in both, and the evaluation has no value.
  ASSERT_TRUE(SetFieldRaw(1, MemoField(-9)));
  ASSERT_TRUE(Replace());
  CompiledExpr* e = AssignExpr("NOTES");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(Evaluate(e), nullptr);
  EXPECT_NE(ErrorCode(), 0);
  TakeError();
  ReleaseExpr(e);
}
#endif

TEST_F(EvaluatorTest, ReleaseOnlyWhatIsListed) {
  CompiledExpr* e = AssignExpr("1");
  CompiledExpr* alias = e;
  ReleaseExpr(e);
  EXPECT_EQ(e, nullptr);
  ReleaseExpr(alias);  // already released: nothing happens
  EXPECT_EQ(alias, alias);
  CompiledExpr stranger;
  CompiledExpr* p = &stranger;
  ReleaseExpr(p);
  EXPECT_EQ(p, &stranger);
  EXPECT_EQ(Evaluate(nullptr), nullptr);
  EXPECT_EQ(EvaluateKey(), nullptr);
  CompiledExpr* key = AssignExpr("'k' + 'ey'");
  SetKeyExpression(key);
  EXPECT_STREQ(static_cast<const char*>(EvaluateKey()), "key");
  EXPECT_EQ(ExprText(key), "'k' + 'ey'");
  ReleaseExpr(key);
  EXPECT_EQ(EvaluateKey(), nullptr);
}

TEST_F(EvaluatorTest, MemoTextThroughTheMemoLayer) {
  MakeTable("notes", {{"TITLE", 'C', 5, 0}, {"NOTES", 'M', 10, 0}}, {{"one"}, {"two"}}, 0x8B);
  ASSERT_TRUE(Goto(1));
  int32_t block = MemoHookTable().AddMemo("ab\r\ncd");
  ASSERT_GT(block, 0) << TakeError();
  ASSERT_TRUE(SetFieldRaw(2, MemoField(block)));
  ASSERT_TRUE(Replace()) << TakeError();
  ASSERT_TRUE(Goto(2));
  int32_t long_block = MemoHookTable().AddMemo(std::string(300, 'x') + "\r\n" + "yz");
  ASSERT_TRUE(SetFieldRaw(2, MemoField(long_block)));
  ASSERT_TRUE(Replace());

  ASSERT_TRUE(Goto(1));
  char type;
  EXPECT_EQ(Eval("NOTES", &type), "abcd");
  EXPECT_EQ(type, 'M');
  ASSERT_TRUE(Goto(2));
  // A line of 300 characters keeps 255; the text keeps pool size - 1 characters.
  EXPECT_EQ(Eval("NOTES"), std::string(255, 'x'));
  SetMemoPoolSize(400);
  EXPECT_EQ(Eval("NOTES"), std::string(255, 'x') + "yz");
  SetMemoPoolSize(10);
  EXPECT_EQ(Eval("NOTES"), std::string(9, 'x'));
  // Without the memo layer's hook a memo field yields no text.
  MemoHookTable().AssignMemo = nullptr;
  EXPECT_EQ(Eval("NOTES"), "");
  EXPECT_EQ(CurrentAreaNumber(), 1);
}

TEST_F(EvaluatorTest, FiltersAndHiddenDeletedRecords) {
  People();
  auto visible = [] {
    std::string out;
    for (GoTop(); !Eof(); Skip(1)) out += std::to_string(RecNo());
    return out;
  };
  EXPECT_EQ(visible(), "1234");
  ASSERT_TRUE(SetFilter("AMOUNT > 500 .AND. .NOT. DELETED()"));
  EXPECT_EQ(visible(), "13");
  SetDeleted(true);
  ASSERT_TRUE(SetFilter("AMOUNT > 500"));
  EXPECT_EQ(visible(), "13");
  GoBottom();
  EXPECT_EQ(RecNo(), 3);
  ASSERT_TRUE(SetFilter(""));
  EXPECT_EQ(visible(), "13");
  SetDeleted(false);
  EXPECT_EQ(visible(), "1234");
  EXPECT_FALSE(SetFilter("AMOUNT"));
  EXPECT_EQ(ErrorCode(), 220);
  TakeError();
  EXPECT_FALSE(SetFilter("AMOUNT >"));
  EXPECT_EQ(ErrorCode(), 351);
  TakeError();
  ASSERT_TRUE(SetFilter("'o' $ NAME"));
  EXPECT_EQ(visible(), "24");
  // Closing the area releases the filter.
  CloseArea();
  EXPECT_TRUE(ExprEngine().compiled.empty());
}

// A virtual area's record buffer holds native values: length-prefixed texts, doubles,
// 32-bit integers and flag bytes at the fields' offsets.
TEST_F(EvaluatorTest, FieldsOfAVirtualArea) {
  auto area = std::make_unique<DbfArea>();
  auto field = [](const char* name, char type, uint8_t length, uint8_t decimals,
                  uint16_t offset) {
    FieldDesc f;
    std::copy(name, name + std::strlen(name), f.name.begin());
    f.type = type, f.length = length, f.decimals = decimals, f.offset = offset;
    return f;
  };
  area->fields = {field("NAME", 'C', 5, 0, 1), field("BORN", 'D', 8, 0, 7),
                  field("AMOUNT", 'N', 8, 2, 18), field("QTY", 'N', 4, 0, 26),
                  field("OK", 'L', 1, 0, 30)};
  area->field_count = 5;
  area->is_virtual = true;
  area->alias = "VIRT";
  area->record_count = 1;
  area->record.assign(31, 0);
  uint8_t* r = area->record.data();
  r[1] = 2, r[2] = 'a', r[3] = 'b', r[4] = 'X';
  r[7] = 8;
  std::memcpy(r + 8, "12/31/99", 8);
  double amount = 12.5;
  int32_t qty = -7;
  std::memcpy(r + 18, &amount, 8);
  std::memcpy(r + 26, &qty, 4);
  r[30] = 1;
  Tables().areas[5] = std::move(area);
  EXPECT_EQ(Eval("VIRT->NAME + '|'"), "ab|");
  EXPECT_EQ(Eval("DTOS(VIRT->BORN)"), "19991231");
  EXPECT_EQ(Eval("VIRT->AMOUNT"), "12.50");
  EXPECT_EQ(Eval("VIRT->QTY"), "-7");
  EXPECT_EQ(Eval("VIRT->OK"), ".T.");
  // DELETED() reads the typed image's deleted byte as hide-deleted does: non-zero.
  ASSERT_TRUE(Select(5));
  EXPECT_EQ(Eval("DELETED()"), ".F.");
  r[0] = 1;
  EXPECT_EQ(Eval("DELETED()"), ".T.");
  ASSERT_TRUE(Select(1));
  // A record buffer shorter than its fields reads what is there and no further.
  Tables().areas[5]->record.resize(20);
  EXPECT_EQ(Eval("VIRT->AMOUNT"), "0.00");
  EXPECT_EQ(Eval("VIRT->OK"), ".F.");
  Tables().areas[5].reset();
}

TEST_F(EvaluatorTest, UnknownValueTypesAreReported) {
  CompiledExpr* e = AssignExpr("1");
  ASSERT_NE(e, nullptr);
  ExprEngine().current = e;
  PushSD(ValMemo, ExprNode::Value{});
  EXPECT_EQ(TakeError(), "356: Unknown data type (none of \"C\",\"N\",\"F\",\"L\",\"D\"or\"M\") "
                         "[PARSER/PushSD]");
  double v = 1;
  PushWD(999, &v, 0);
  EXPECT_EQ(TakeError().substr(0, 4), "356:");
  ReleaseExpr(e);
}

// Random texts made of the language's pieces compile or fail cleanly, and whatever
// compiles evaluates without harm (the sanitizers watch).
TEST_F(EvaluatorTest, RandomTextsNeverHarm) {
  People();
  ASSERT_TRUE(Goto(2));
  const char* pieces[] = {"NAME", "AMOUNT", "BORN", "ACTIVE", "PEOPLE->COUNT", "1", "0",
                          "1E300", "'ab '", "''", "\"x\"", ".T.", ".NOT.", "+", "-", "*",
                          "/", "^", "=", "==", "<>", "$", "<", ">=", ".AND.", ".OR.", "(",
                          ")", ",", "STR(", "SUBSTR(", "IIF(", "CTOD(", "DTOS(", "MOD(",
                          "ROUND(", "REPLICATE(", "STUFF(", "SPACE(", "MAX(", "CHR(",
                          "UPPER(", "AT(", "DATE()", "RECNO()", "DELETED()", " ", "'"};
  std::mt19937 random(20261208);
  int compiled = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    int count = 1 + int(random() % 12);
    for (int i = 0; i < count; ++i) text += pieces[random() % std::size(pieces)];
    CompiledExpr* e = AssignExpr(text);
    if (!e) {
      EXPECT_EQ(ErrorCode(), 351) << text;
      TakeError();
      continue;
    }
    ++compiled;
    Evaluate(e);
    Evaluate(e);
    Errors().ErrorCode = 0;
    ReleaseExpr(e);
  }
  EXPECT_GT(compiled, 100);
  EXPECT_TRUE(ExprEngine().compiled.empty());
}

}  // namespace
}  // namespace zedra::testing

// UPPER, LOWER and index keys on tables of other scripts: the letters of the table's own
// code page, and keys stored in the code page of the file.
#include <algorithm>

#include "expr/expr.h"
#include "index_test_util.h"
#include "table/code_pages.h"

namespace zedra::testing {
namespace {

class CodePageKeysTest : public IndexTest {
 protected:
  // A table in the code page of `mark` holding the names, with a production index on
  // UPPER(NAME); left open in the tag's order.
  void MakeTable(uint8_t mark, const std::vector<std::string>& names) {
    ASSERT_TRUE(CreateDbf(File("S.DBF"), 0x03, {{"NAME", 'C', 12, 0}}, mark)) << TakeError();
    ASSERT_TRUE(Use(File("S.DBF"), Exclusive()));
    for (const std::string& name : names) {
      std::string text;
      ASSERT_TRUE(Utf8ToText(*CurrentArea(), name, &text, nullptr)) << name;
      ASSERT_TRUE(AppendBlank());
      ASSERT_TRUE(SetFieldText(1, text));
      ASSERT_TRUE(Replace());
    }
    ASSERT_TRUE(MakeIndex({{"NAME", "UPPER(NAME)", "", 0, 0}}, "")) << TakeError();
    ASSERT_TRUE(SetIndexTo("")) << TakeError();
    ASSERT_TRUE(SetOrderToTag("NAME")) << TakeError();
  }

  // A character expression (given as UTF-8) on the current record, as UTF-8.
  std::string Eval(const std::string& utf8) {
    std::string text;
    EXPECT_TRUE(Utf8ToText(*CurrentArea(), utf8, &text, nullptr)) << utf8;
    CompiledExpr* e = AssignExpr(text);
    EXPECT_NE(e, nullptr) << TakeError();
    if (!e) return "";
    std::string value = Evaluate(e) ? std::string(ResultText(*e)) : "<error>";
    ReleaseExpr(e);
    return TextToUtf8(*CurrentArea(), AllTrim(value));
  }

  std::vector<std::string> UpperInTagOrder() {
    std::vector<std::string> seen;
    for (GoTop(); !Eof(); Skip(1)) seen.push_back(Eval("UPPER(NAME)"));
    return seen;
  }
};

TEST_F(CodePageKeysTest, CyrillicNamesOrderAsTheirCapitals) {
  const std::vector<std::string> names = {"яков", "Борис", "алла", "Вера", "юрий", "гена", "Эмма"};
  const std::vector<std::string> alphabetical = {"АЛЛА", "БОРИС", "ВЕРА", "ГЕНА", "ЭММА", "ЮРИЙ", "ЯКОВ"};
  for (uint8_t mark : {uint8_t(0x65), uint8_t(0xC9)}) {  // code pages 866 and 1251
    SCOPED_TRACE(int(mark));
    MakeTable(mark, names);
    EXPECT_EQ(UpperInTagOrder(), alphabetical);
    Goto(2);
    EXPECT_EQ(Eval("LOWER(NAME)"), "борис");
    EXPECT_EQ(Eval("UPPER(\"ёж\")"), "ЁЖ");
    std::string sought;
    ASSERT_TRUE(Utf8ToText(*CurrentArea(), "ЮР", &sought, nullptr));
    EXPECT_TRUE(Seek(sought));
    EXPECT_EQ(RecNo(), 5);
    // The keys are the capitals as the table stores its text.
    const std::string file = ReadFileBytes(File("S.MDX"));
    std::vector<LeafEntry> keys = WalkTag(file, 1);
    ASSERT_EQ(keys.size(), names.size());
    std::string stored;
    ASSERT_TRUE(Utf8ToStoredText(*CurrentArea(), "АЛЛА", &stored, nullptr));
    EXPECT_EQ(keys[0].key.substr(0, 4), stored);
    EXPECT_EQ(keys[0].record, 3u);
    EXPECT_EQ(uint8_t(stored[0]), mark == 0x65 ? 0x80 : 0xC0);
    CloseArea();
  }
}

TEST_F(CodePageKeysTest, CentralEuropeanCapitalsInBothCodePages) {
  const std::vector<std::string> names = {"łódź", "Źdźbło", "šťáva", "zebra", "Ábel"};
  for (uint8_t mark : {uint8_t(0x64), uint8_t(0xC8)}) {  // code pages 852 and 1250
    SCOPED_TRACE(int(mark));
    MakeTable(mark, names);
    std::vector<std::string> expected = {"ŁÓDŹ", "ŹDŹBŁO", "ŠŤÁVA", "ZEBRA", "ÁBEL"};
    // In the order of the capitals' bytes as stored.
    std::sort(expected.begin(), expected.end(), [](const std::string& a, const std::string& b) {
      std::string x, y;
      Utf8ToStoredText(*CurrentArea(), a, &x, nullptr);
      Utf8ToStoredText(*CurrentArea(), b, &y, nullptr);
      return std::lexicographical_compare(x.begin(), x.end(), y.begin(), y.end(),
                                          [](char p, char q) { return uint8_t(p) < uint8_t(q); });
    });
    EXPECT_EQ(UpperInTagOrder(), expected);
    EXPECT_EQ(expected.front(), "ZEBRA");  // ASCII first: every accented capital is above it
    Goto(1);
    EXPECT_EQ(Eval("LOWER(UPPER(NAME))"), "łódź");
    CloseArea();
  }
  // A Windows-1252 table is unchanged: Polish letters it cannot hold stay out of it.
  ASSERT_TRUE(CreateDbf(File("W.DBF"), 0x03, {{"NAME", 'C', 12, 0}}));
  ASSERT_TRUE(Use(File("W.DBF")));
  std::string text;
  EXPECT_FALSE(Utf8ToText(*CurrentArea(), "łódź", &text, nullptr));
  EXPECT_EQ(Eval("UPPER(\"éšœ\")"), "ÉŠŒ");
}

}  // namespace
}  // namespace zedra::testing

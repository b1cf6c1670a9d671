// The MDX layout: numeric keys byte for byte, the comparisons, a new file's header and
// the tag table with its name tree.
#include <fstream>
#include <sstream>

#include "base/dates.h"
#include "index/index_internal.h"
#include "index/mdx_format.h"
#include "index_test_util.h"

namespace zedra::testing {
namespace {

std::string Hex(const uint8_t* p, size_t n) {
  static const char* digits = "0123456789ABCDEF";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += digits[p[i] >> 4];
    s += digits[p[i] & 15];
  }
  return s;
}

std::string KeyHex(const std::string& text) { return Hex(mdx::NumericKey(text).data(), 12); }

TEST(NumericKeyTest, FollowsTheFiveSteps) {
  // text as the evaluator formats it -> the 12 bytes.
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"0", "340100000000000000000000"},            // zero: no digits, sign clear
      {"-0.00", "340100000000000000000000"},        // zero is never negative
      {"-1", "35A910000000000000000000"},           // one digit raised to 10
      {"0.50", "340950000000000000000000"},         // run of 1 shorter than 2 decimals
      {"12", "362912000000000000000000"},
      {"-10", "36A910000000000000000000"},          // trailing zero dropped, then 10
      {"1000000000000000", "442910000000000000000000"},  // 1E15
      {"0.02", "330520000000000000000000"},         // a zero after the point lowers byte 0
      {"-608880.00", "3AA960888000000000000000"},   // run of 3 not shorter than 2
      {"-857585.32", "3AA185758532000000000000"},
      {"1200.00", "382912000000000000000000"},
      {"12.50", "361112500000000000000000"},
      {"   +7.25", "350D72500000000000000000"},
      {"123456789012345678901234", "4C4D12345678901234567890"},  // 20 digits kept, one zero run
  };
  for (const auto& [text, hex] : cases) EXPECT_EQ(KeyHex(text), hex) << text;
}

TEST(NumericKeyTest, MatchesTheKeysAnotherWriterStored) {
  std::ifstream in(std::string(ZEDRA_FIXTURES_DIR) + "/dbase4-people/tag-AMOUNT.hex.txt");
  ASSERT_TRUE(in);
  std::string line;
  int lines = 0;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string record, text, hex;
    std::getline(fields, record, '\t');
    std::getline(fields, text, '\t');
    std::getline(fields, hex, '\t');
    char formatted[64];
    std::snprintf(formatted, sizeof formatted, "%.2f", std::stod(text));
    // That writer counts the digits of byte 1 its own way; the exponent, the sign and
    // the digits are the same.
    const std::string ours = KeyHex(formatted);
    EXPECT_EQ(ours.substr(0, 2), hex.substr(0, 2)) << text;
    EXPECT_EQ(ours.substr(4), hex.substr(4)) << text;
    EXPECT_EQ(ours[2] >= '8', hex[2] >= '8') << text;
    ++lines;
  }
  EXPECT_EQ(lines, 200);
}

TEST(KeyCompareTest, NumbersDatesAndTextInOrderBothWays) {
  const std::vector<std::string> ascending = {"-608880.00", "-10.00", "-2.00", "-0.02", "0.00",
                                              "0.02", "0.50", "3.00", "12.00", "1200.00"};
  for (size_t i = 0; i < ascending.size(); ++i)
    for (size_t j = 0; j < ascending.size(); ++j) {
      auto a = mdx::NumericKey(ascending[i]), b = mdx::NumericKey(ascending[j]);
      const int c = CompareNumericKeys(a.data(), b.data(), 12);
      EXPECT_EQ(c < 0, i < j) << ascending[i] << " vs " << ascending[j];
      EXPECT_EQ(c == 0, i == j) << ascending[i] << " vs " << ascending[j];
      EXPECT_EQ(CompareNumericKeysDescending(a.data(), b.data(), 12) < 0, j < i);
    }
  auto date = [](double d) {
    std::array<uint8_t, 8> k;
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    PutLE32(k.data(), uint32_t(bits));
    PutLE32(k.data() + 4, uint32_t(bits >> 32));
    return k;
  };
  auto early = date(2451545), late = date(2460000), blank = date(1.0E100), other_blank = date(21474835648.0);
  EXPECT_EQ(CompareDateKeys(early.data(), late.data(), 8), -1);
  EXPECT_EQ(CompareDateKeys(late.data(), early.data(), 8), 1);
  EXPECT_EQ(CompareDateKeysDescending(early.data(), late.data(), 8), 1);
  EXPECT_EQ(CompareDateKeys(blank.data(), other_blank.data(), 8), 0);
  EXPECT_EQ(CompareDateKeys(late.data(), other_blank.data(), 8), -1);
  const uint8_t a[] = {'A', 0xE9}, b[] = {'A', 'z'};
  EXPECT_GT(CompareCharKeys(a, b, 2), 0);  // unsigned bytes
  EXPECT_LT(CompareCharKeysDescending(a, b, 2), 0);
  EXPECT_EQ(CompareCharKeys(a, b, 1), 0);
  EXPECT_EQ(mdx::TreeLevels(1000, 63), 4);
  EXPECT_EQ(mdx::TreeLevels(0, 63), 2);
  EXPECT_EQ(mdx::MaxKeys(mdx::EntryLength(100)), 9);
  EXPECT_EQ(mdx::MaxKeys(mdx::EntryLength(1)), 126);
  EXPECT_EQ(mdx::MaxKeys(mdx::EntryLength(8)), 84);
}

class MdxFileTest : public IndexTest {
 protected:
  void SetUp() override {
    IndexTest::SetUp();
    ASSERT_TRUE(CreateDbf(File("PEOPLE.DBF"), 0x03, {{"NAME", 'C', 10, 0}}));
    ASSERT_TRUE(Use(File("PEOPLE.DBF"), Exclusive()));
  }
  IndexFile& F() { return CurrentAreaIndex().file; }
  std::string Name(int k) { return std::string(reinterpret_cast<char*>(F().Entry(k) + 4)); }
  std::vector<int> Tree(int k) {
    const uint8_t* e = F().Entry(k);
    return {e[16], e[17], e[18]};
  }
};

TEST_F(MdxFileTest, NewFileHeaderAndTagTable) {
  ASSERT_TRUE(CreateMdxHeader(File("PEOPLE.MDX")));
  const std::string bytes = ReadFileBytes(File("PEOPLE.MDX"));
  ASSERT_EQ(bytes.size(), 2048u);
  const TodayDate today = TodayParts();
  EXPECT_EQ(uint8_t(bytes[0]), 2);
  EXPECT_EQ(uint8_t(bytes[1]), uint8_t(today.year - 1900));
  EXPECT_EQ(uint8_t(bytes[2]), today.month);
  EXPECT_EQ(uint8_t(bytes[3]), today.day);
  EXPECT_EQ(bytes.substr(44, 3), bytes.substr(1, 3));
  EXPECT_EQ(bytes.substr(4, 7), std::string("PEOPLE\0", 7));
  EXPECT_EQ(LE16(bytes, 20), 2);
  EXPECT_EQ(LE16(bytes, 22), 1024);
  EXPECT_EQ(uint8_t(bytes[24]), 1);
  EXPECT_EQ(uint8_t(bytes[25]), 48);
  EXPECT_EQ(LE16(bytes, 26), 32);
  EXPECT_EQ(uint8_t(bytes[28]), 0);
  EXPECT_EQ(bytes.substr(512), std::string(1536, '\0'));

  // The name tree after adding and after replacing a tag.
  ASSERT_TRUE(AddTagEntry(F(), "name", 4, 'C'));
  ASSERT_TRUE(AddTagEntry(F(), "AMOUNT", 6, 'N'));
  ASSERT_TRUE(AddTagEntry(F(), "BORN", 8, 'D'));
  EXPECT_EQ(F().TagCount(), 3);
  EXPECT_EQ(Name(1), "NAME");
  EXPECT_EQ(Tree(0), (std::vector<int>{0, 1, 0}));
  EXPECT_EQ(Tree(1), (std::vector<int>{2, 0, 0}));
  EXPECT_EQ(Tree(2), (std::vector<int>{0, 3, 1}));
  EXPECT_EQ(Tree(3), (std::vector<int>{0, 0, 2}));
  EXPECT_EQ(F().Entry(3)[19], 2);
  EXPECT_EQ(F().Entry(3)[20], 'D');
  ASSERT_TRUE(AddTagEntry(F(), "amount", 10, 'N'));  // replaced: BORN moves to entry 2
  EXPECT_EQ(F().TagCount(), 3);
  EXPECT_EQ(Name(2), "BORN");
  EXPECT_EQ(Name(3), "AMOUNT");
  EXPECT_EQ(GetLE32(F().Entry(3)), 10u);
  EXPECT_EQ(Tree(1), (std::vector<int>{2, 0, 0}));
  EXPECT_EQ(Tree(2), (std::vector<int>{3, 0, 1}));
  EXPECT_EQ(Tree(3), (std::vector<int>{0, 0, 2}));
  // A prefix is another name.
  ASSERT_TRUE(AddTagEntry(F(), "NA", 12, 'C'));
  EXPECT_EQ(F().TagCount(), 4);

  // 47 tags fill the table; a 48th is refused, a same-name replacement is not.
  for (int k = 5; k <= 47; ++k) ASSERT_TRUE(AddTagEntry(F(), "T" + std::to_string(k), 100 + k, 'C'));
  EXPECT_EQ(F().TagCount(), 47);
  EXPECT_FALSE(AddTagEntry(F(), "EXTRA", 1, 'C'));
  EXPECT_EQ(ErrorCode(), 254);
  Errors().ErrorCode = 0;
  EXPECT_TRUE(AddTagEntry(F(), "T5", 2, 'C'));
  EXPECT_EQ(F().TagCount(), 47);
  FlushIndexHeader();
  EXPECT_EQ(uint8_t(ReadFileBytes(File("PEOPLE.MDX"))[28]), 47);
  // A count beyond the table's 47 entries (a damaged file) reaches no byte past them.
  F().header[28] = 200;
  EXPECT_EQ(F().TagCount(), 47);
  EXPECT_FALSE(ReadTagAnchor(1, 100));
  EXPECT_TRUE(AddTagEntry(F(), "T6", 3, 'C'));
  EXPECT_EQ(Name(47), "T6");
  CloseIndexFile();
}

}  // namespace
}  // namespace zedra::testing

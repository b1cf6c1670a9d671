// Day numbers, date texts and block lists.
#include <cmath>
#include <cstring>
#include <tuple>

#include "expr/block_list.h"
#include "expr_test_util.h"

namespace zedra::testing {
namespace {

using DayNumberTest = ExprTest;

TEST_F(DayNumberTest, YmdToDayAndBack) {
  EXPECT_EQ(YmdToDay(2000, 2, 29), 2451604.0);
  EXPECT_EQ(YmdToDay(1, 1, 1), 1721426.0);
  EXPECT_EQ(YmdToDay(9999, 12, 31), 5373484.0);
  for (auto [y, m, d] : {std::tuple{1900, 2, 29}, {1999, 13, 1}, {1999, 0, 1}, {1999, 4, 31},
                         {1999, 1, 0}, {-1, 1, 1}}) {
    EXPECT_EQ(YmdToDay(y, m, d), kBlankDay) << y << "-" << m << "-" << d;
  }
  EXPECT_EQ(DtosToDay("19991231"), 2451544.0);
  EXPECT_EQ(DtosToDay("        "), kBlankDay);
  EXPECT_EQ(DtosToDay("1999x231"), kBlankDay);  // a month that is no number counts as 0
  EXPECT_EQ(DtosToDay("1999"), kBlankDay);
  EXPECT_EQ(DtosToDay(std::string_view("19991231\0" "9", 10)), 2451544.0);
  EXPECT_EQ(DayToDtos(2451544), "19991231");
  EXPECT_EQ(DayToDtos(2451544.75), "19991231");
  EXPECT_EQ(DayToDtos(kBlankDay), "        ");
  EXPECT_EQ(DayToDtos(1721425), "        ");
  EXPECT_EQ(DayToDtos(1721425.5), "        ");  // not day 0 of January of year 1
  EXPECT_EQ(DayToDtos(1721426.5), "00010101");
  EXPECT_EQ(DayToDtos(5373484.5), "        ");
  EXPECT_EQ(DayToDtos(5373485), "        ");
  EXPECT_EQ(DayToDtos(std::nan("")), "        ");
  EXPECT_EQ(DayToDtos(1721426), "00010101");
  EXPECT_EQ(DayToDtos(1721790), "00011231");
  EXPECT_EQ(DayToDtos(5373484), "99991231");
}

// Every day number of the calendar goes to its text and back unchanged, and consecutive
// days are consecutive dates.
TEST_F(DayNumberTest, EveryDayRoundTrips) {
  int py = 0, pm = 0, pd = 0;
  for (double day = 1721426; day <= 5373484; ++day) {
    int y, m, d;
    ASSERT_TRUE(DayToYmd(day, &y, &m, &d));
    ASSERT_EQ(YmdToDay(y, m, d), day);
    if (py != 0) {
      bool next_day = y == py && m == pm && d == pd + 1;
      bool next_month = y == py && m == pm + 1 && d == 1;
      bool next_year = y == py + 1 && m == 1 && d == 1 && pm == 12 && pd == 31;
      ASSERT_TRUE(next_day || next_month || next_year) << day;
    }
    py = y, pm = m, pd = d;
  }
}

TEST_F(DayNumberTest, DayToTextByStyle) {
  struct Case {
    int style;
    bool century;
    const char* text;
    const char* blank;
  } cases[] = {
      {0, true, "12/31/1999", "  /  /    "}, {0, false, "12/31/99", "  /  /  "},
      {1, true, "1999.12.31", "    .  .  "}, {1, false, "99.12.31", "  .  .  "},
      {2, false, "31/12/99", "  /  /  "},   {3, false, "31-12-99", "  -  -  "},
      {4, false, "31.12.99", "  .  .  "},   {5, true, "31.12.1999", "  .  .    "},
      {6, false, "31.12.99", "  .  .  "},   {7, false, "31.12.99", "  .  .  "},
      {8, false, "31/12/99", "  /  /  "},   {8, true, "31/12/1999", "  /  /    "},
  };
  for (const Case& c : cases) {
    Dates().CenturyOn = c.century;
    SetDateStyle(c.style);
    EXPECT_EQ(DayToText(2451544), c.text) << c.style;
    EXPECT_EQ(DayToText(kBlankDay), c.blank) << c.style;
    EXPECT_EQ(DayToText(1721425), c.blank) << c.style;
    EXPECT_EQ(DayToText(1721425.5), c.blank) << c.style;
    // The text reads back as the same day (four-digit years are forced when reading).
    if (c.century) {
      EXPECT_EQ(TextToDay(c.text), 2451544) << c.style;
    }
  }
  Dates().CenturyOn = true;
  SetDateStyle(0);
  EXPECT_EQ(DayToText(1721426), "01/01/0001");
}

TEST_F(DayNumberTest, DateTextsToDtos) {
  EXPECT_EQ(DateToDtos("12/31/99"), "19991231");
  EXPECT_EQ(DateToDtos("12/31/55"), "20551231");  // the two-digit-year window
  EXPECT_EQ(DateToDtos("12/31/1899"), "18991231");
  EXPECT_EQ(DateToDtos("  /  /  "), "        ");
  EXPECT_EQ(DateToDtos(""), "        ");
  EXPECT_EQ(DateToDtos("1/2/3"), "20030102");
  EXPECT_EQ(TextToDay("12/31/99"), 2451544);
  EXPECT_EQ(TextToDay("02/30/99"), kBlankDay);
  EXPECT_EQ(TextToDay("  /  /  "), kBlankDay);
  EXPECT_FALSE(Dates().CenturyOn);  // the forced century is given back
  SetDateStyle(5);
  EXPECT_EQ(DateToDtos("31.12.99"), "19991231");
  SetDateStyle(1);
  EXPECT_EQ(DateToDtos("99.12.31"), "19991231");
  // Parts that do not fit a DTOS text give the blank text, not a longer one.
  SetDateStyle(0);
  EXPECT_EQ(DateToDtos("123/45/1999"), "        ");
}

std::string Walk(const BlockList& list) {
  std::string out;
  for (Block* b = NextBlock(list, nullptr); b; b = NextBlock(list, b))
    out += static_cast<char>(b->Data()[0]);
  return out;
}

TEST(BlockListTest, AddIterateRemove) {
  BlockList list;
  EXPECT_EQ(NextBlock(list, nullptr), nullptr);
  EXPECT_EQ(RemoveNewest(list), nullptr);
  for (char c : {'A', 'B', 'C'}) {
    std::byte* data = AddBlock(list, 5);
    ASSERT_NE(data, nullptr);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(data[i], std::byte{0});
    data[0] = std::byte(c);
  }
  EXPECT_EQ(Walk(list), "ABC");
  EXPECT_EQ(list.newest()->size, 15);
  std::unique_ptr<Block> c = RemoveNewest(list);
  ASSERT_TRUE(c);
  EXPECT_EQ(char(c->Data()[0]), 'C');
  EXPECT_EQ(char(list.newest()->Data()[0]), 'B');
  EXPECT_EQ(Walk(list), "AB");
  // The cursor variant links after the cursor; after the newest it appends.
  Block* first = NextBlock(list, nullptr);
  Block* x = AddBlockAfter(list, first, 1);
  x->Data()[0] = std::byte('x');
  EXPECT_EQ(Walk(list), "AxB");
  Block* y = AddBlockAfter(list, list.newest(), 1);
  y->Data()[0] = std::byte('y');
  EXPECT_EQ(Walk(list), "AxBy");
  EXPECT_EQ(list.newest(), y);
  while (RemoveNewest(list)) {
  }
  EXPECT_TRUE(list.empty());
  // A block whose size does not fit its 16-bit size field is refused.
  EXPECT_EQ(AddBlock(list, 65526), nullptr);
  EXPECT_NE(AddBlock(list, 65525), nullptr);
}

}  // namespace
}  // namespace zedra::testing

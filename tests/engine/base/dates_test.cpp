// Date styles, canonical form, year window, names and the locale step.
#include <gtest/gtest.h>

#include "base/dates.h"
#include "engine.h"
#include "platform/platform.h"

namespace zedra {
namespace {

class DatesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetLocaleOverride(platform::LocaleInfo{});
    EngineStartup();
    // A fixed window: the one of 2026.
    Dates().CenturyBase = 1956;
  }
  void TearDown() override {
    EngineShutdown();
    platform::SetLocaleOverride(std::nullopt);
  }
  void Style(int style, bool century) {
    Dates().CenturyOn = century;
    SetDateStyle(style);
  }
};

TEST_F(DatesTest, EveryStyleBothWays) {
  struct Case {
    int style;
    bool century;
    const char* styled;
    const char* canonical;
  };
  const Case cases[] = {
      {0, false, "12/25/26", "12/25/26"},     {0, true, "12/25/2026", "12/25/2026"},
      {1, false, "26.12.25", "12/25/26"},     {1, true, "2026.12.25", "12/25/2026"},
      {2, false, "25/12/26", "12/25/26"},     {2, true, "25/12/1999", "12/25/1999"},
      {3, false, "25-12-26", "12/25/26"},     {3, true, "25-12-2026", "12/25/2026"},
      {4, false, "25.12.26", "12/25/26"},     {5, true, "25.12.2026", "12/25/2026"},
      {6, false, "25.12.26", "12/25/26"},     {7, true, "25.12.2026", "12/25/2026"},
      {8, false, "25.12.26", "12/25/26"},     {8, true, "01.02.2003", "02/01/2003"},
  };
  for (const Case& c : cases) {
    Style(c.style, c.century);
    EXPECT_EQ(DateToCanonical(c.styled), c.canonical) << c.style << " " << c.styled;
    EXPECT_EQ(DateFromCanonical(c.canonical), c.styled) << c.style << " " << c.canonical;
  }
}

TEST_F(DatesTest, ConversionRules) {
  Style(1, true);
  EXPECT_EQ(DateToCanonical("26.12.25"), "12/25/2026");
  Style(0, false);
  EXPECT_EQ(DateToCanonical("1/2/3"), "01/02/03");
  EXPECT_EQ(DateToCanonical("19991231"), "19991231");  // no separator: unchanged
  EXPECT_EQ(DateToCanonical("  /  /  "), "  /  /  ");
  EXPECT_EQ(DateToCanonical(" 1 / 2 / 3 \x01"), "01/02/03");
  // Cut before the NUL: "12/2" has no second separator, so the day stays empty.
  EXPECT_EQ(DateToCanonical(std::string("12/2\0/99", 8)), "12/00/02");
  Style(5, false);
  EXPECT_EQ(DateFromCanonical("  /  /  "), "  .  .  ");
  EXPECT_EQ(EmptyDate(1), "  .  .  ");
  Style(5, true);
  EXPECT_EQ(EmptyDate(1), "    .  .  ");
  EXPECT_EQ(EmptyDate(3), "  -  -    ");
  EXPECT_EQ(EmptyDate(9), "  /  /    ");
}

TEST_F(DatesTest, YearWindow) {
  EXPECT_EQ(CenturyOf("55"), 2000);
  EXPECT_EQ(CenturyOf("56"), 1900);
  Dates().CenturyOn = true;
  EXPECT_EQ(ExpandYear("55"), "2055");
  EXPECT_EQ(ExpandYear("56"), "1956");
  EXPECT_EQ(ExpandYear("7"), "0007");
  Dates().CenturyOn = false;
  EXPECT_EQ(ExpandYear("55"), "55");
}

TEST_F(DatesTest, DayOfWeekAndNames) {
  Style(0, false);
  EXPECT_EQ(DOW("01/01/24"), 2);
  EXPECT_EQ(CDOW("01/01/24"), "Monday   ");
  EXPECT_EQ(CMONTH("01/01/24"), "January  ");
  EXPECT_EQ(DOW("03/01/00"), 4);   // 1 March 2000, a Wednesday
  EXPECT_EQ(DOW("02/29/2000"), 3); // four-digit year, a Tuesday
  EXPECT_EQ(CDOW("  /  /  "), std::string(10, ' '));
  EXPECT_EQ(CMONTH("  /  /  "), std::string(9, ' '));
  EXPECT_EQ(CMONTH("13/01/24"), std::string(9, ' '));
  Style(5, false);
  EXPECT_EQ(CDOW("26.11.26"), "Donnerstag");  // a Thursday, ten characters
  EXPECT_EQ(CMONTH("01.03.26"), "M\x84rz     ");
  Style(4, false);
  EXPECT_EQ(CMONTH("01.02.26"), "F\x82vrier  ");
  EXPECT_EQ(CDOW("26.11.26"), "Jeudi   ");
  Style(6, false);
  EXPECT_EQ(CMONTH("01.09.26"), "Septiembre");
  Style(8, false);
  EXPECT_EQ(CDOW("26.11.26").size(), 11u);
  EXPECT_EQ(platform::Cp866ToUtf8(CDOW("26.11.26")), "Четверг    ");
}

TEST_F(DatesTest, DatePartsAndMalformedInput) {
  Style(0, true);
  EXPECT_EQ(MONTH("12/25/2026"), 12);
  EXPECT_EQ(DAY("12/25/2026"), 25);
  EXPECT_EQ(YEAR("12/25/2026"), 2026);
  Style(0, false);
  EXPECT_EQ(YEAR("12/25/26"), 26);
  EXPECT_EQ(DAY("12/xx/26"), 0);
  EXPECT_EQ(YEAR("12/25/x6"), 0);
}

TEST_F(DatesTest, StyleNineCountsAsZero) {
  Style(9, false);
  EXPECT_EQ(Dates().DateStyle, 0);
  EXPECT_EQ(Dates().ShortDateFormat, "MM/dd/yy");
  Style(1, true);
  EXPECT_EQ(Dates().ShortDateFormat, "yyyy.MM.dd");
  EXPECT_EQ(Dates().DateSeparator, '.');
  Style(3, false);
  EXPECT_EQ(Dates().ShortDateFormat, "dd-MM-yy");
}

TEST_F(DatesTest, StartupFollowsTheLocale) {
  struct Case {
    const char* locale_name;
    const char* format;
    int language_style;
    int synced_style;
    bool century;
  };
  const Case cases[] = {
      {"de_DE.UTF-8", "%d.%m.%Y", 5, 5, true},   {"en_GB.UTF-8", "%d/%m/%y", 2, 2, false},
      {"fr_CA.UTF-8", "%Y-%m-%d", 7, 1, true},   {"fr_FR.UTF-8", "%d/%m/%Y", 4, 2, true},
      {"en_US.UTF-8", "%m/%d/%Y", 0, 0, true},   {"it_IT.UTF-8", "%d-%m-%Y", 3, 3, true},
      {"ru_RU.UTF-8", "%d.%m.%Y", 8, 5, true},   {"es_ES.UTF-8", "%d/%m/%y", 6, 2, false},
      {"C", "%m/%d/%y", 0, 0, false},
  };
  for (const Case& c : cases) {
    platform::LocaleInfo info;
    info.language_id = platform::LanguageIdFromLocaleName(c.locale_name);
    info.short_date_format = platform::WindowsDatePattern(c.format);
    for (char ch : info.short_date_format)
      if (ch != 'd' && ch != 'M' && ch != 'y') {
        info.date_separator = ch;
        break;
      }
    platform::SetLocaleOverride(info);
    EXPECT_EQ(StyleFromLanguage(), c.language_style) << c.locale_name;
    EngineStartup();
    EXPECT_EQ(Dates().LanguageStyle, c.language_style) << c.locale_name;
    EXPECT_EQ(Dates().DateStyle, c.synced_style) << c.locale_name;
    EXPECT_EQ(Dates().CenturyOn, c.century) << c.locale_name;
  }
}

TEST_F(DatesTest, LanguagePunctuationBeforeTheLocaleStep) {
  platform::LocaleInfo info;
  info.language_id = 0x0407;
  platform::SetLocaleOverride(info);
  DateStartup();
  EXPECT_EQ(Dates().DecimalPoint, ',');
  EXPECT_EQ(Dates().ThousandsSeparator, '.');
  info.language_id = 0x0419;
  platform::SetLocaleOverride(info);
  DateStartup();
  EXPECT_EQ(Dates().ThousandsSeparator, ' ');
  EXPECT_EQ(Dates().CenturyBase, platform::LocalNow().year - 70);
}

TEST_F(DatesTest, TodayAndFileDates) {
  TodayDate today = TodayParts();
  platform::CivilTime now = platform::LocalNow();
  EXPECT_EQ(today.year, now.year);
  // The day of the week agrees with the styled computation.
  Dates().CenturyOn = true;
  SetDateStyle(0);
  char text[16];
  std::snprintf(text, sizeof text, "%02d/%02d/%04d", today.month, today.day, today.year);
  EXPECT_EQ(today.dow, DOW(text));
  FileDateTime f = FileDateParts(0);
  EXPECT_GE(f.year, 1969);
}

}  // namespace
}  // namespace zedra

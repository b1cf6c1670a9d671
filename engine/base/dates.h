// National date styles and date texts.
//
// The engine holds dates as text in one of nine national styles (month/day/year,
// year.month.day, day/month/year, ...). Every date operation first turns a date of the
// current style into the canonical form MM/DD/YY (or MM/DD/YYYY with the century on).
// Day and month names are stored as OEM bytes: code page 850, and 866 for Russian.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zedra {

struct DateSettings {
  uint8_t DateStyle = 0;        // 0..8
  bool CenturyOn = false;       // four-digit years
  uint16_t CenturyBase = 1900;  // current year - 70: base of the two-digit-year window
  uint8_t LanguageStyle = 0;    // the style derived from the user's language
  char DecimalPoint = '.';
  char ThousandsSeparator = ',';
  // The runtime's short-date format and date separator; they follow SetDateStyle.
  std::string ShortDateFormat = "MM/dd/yy";
  char DateSeparator = '/';
};

DateSettings& Dates();

// Style of the user's default language; number punctuation and the year window are set
// by DateStartup, which runs this.
uint8_t StyleFromLanguage();
void DateStartup();
void SetDateStyle(int style);
void SyncDateStyle();

std::string DateToCanonical(std::string_view date);
std::string DateFromCanonical(std::string_view canonical);
std::string ExpandYear(std::string_view year);
int CenturyOf(std::string_view yy);
std::string EmptyDate(int style);

int DOW(std::string_view date);
std::string CDOW(std::string_view date);
std::string CMONTH(std::string_view date);
int MONTH(std::string_view date);
int DAY(std::string_view date);
int YEAR(std::string_view date);

// The name table (OEM bytes, fixed-width fields) and field width used by a style.
std::string_view DayNameTable(int style, int* width);
std::string_view MonthNameTable(int style, int* width);
// True when a style's names are stored in code page 866 rather than 850.
inline bool StyleUsesCp866(int style) { return style == 8; }

struct TodayDate {
  int year = 0, month = 0, day = 0, dow = 0;  // dow: 1 = Sunday
};
TodayDate TodayParts();

struct FileDateTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
// A platform file time stamp (seconds since 1970) in local time.
FileDateTime FileDateParts(int64_t stamp);

uint32_t TickSeconds();

}  // namespace zedra

// Day numbers: a date held as its Julian day number in a double, and the conversions
// between day numbers, year/month/day triples and date texts (YYYYMMDD and the text of the
// engine's current date style).
//
// Day 1721426 is 1 January of year 1 in the proleptic Gregorian calendar and 5373484 is
// 31 December 9999. The blank or invalid date is the day number 1.0E100; conversions never
// fail, they give that value or the blank text instead.
#pragma once

#include <string>
#include <string_view>

namespace zedra {

// The blank or invalid date.
inline constexpr double kBlankDay = 1.0E100;
// The day before 1 January of year 1, and 31 December 9999.
inline constexpr double kDayBeforeYear1 = 1721425.0;
inline constexpr double kLastDay = 5373484.0;

bool IsLeapYear(long long year);
// Days of all years before `year` (0 for year 1 and below).
long long DaysBeforeYear(long long year);

// The day number of a date, or kBlankDay when the date is invalid (a year below 1, a
// month outside 1..12, a day outside the month).
double YmdToDay(long long year, long long month, long long day);

// The date of a day number inside kDayBeforeYear1 + 1 <= day <= kLastDay (a fraction is
// dropped). Returns false, and leaves the outputs alone, for any other value.
bool DayToYmd(double day, int* year, int* month, int* day_of_month);

// "YYYYMMDD" (the first 8 characters, up to a zero byte) to a day number; 8 blanks, and
// any text that is not a valid date, give kBlankDay. A part that is not a number counts
// as 0.
double DtosToDay(std::string_view text);
// A day number as "YYYYMMDD", or 8 blanks outside the valid range.
std::string DayToDtos(double day);
// A day number as a date text of the current date style, or that style's blank form.
std::string DayToText(double day);
// A date text of the current style to "YYYYMMDD" (read with four-digit years); a date
// whose parts are all 0 becomes 8 blanks.
std::string DateToDtos(std::string_view text);
// A date text of the current style to a day number (read with four-digit years).
double TextToDay(std::string_view text);

}  // namespace zedra

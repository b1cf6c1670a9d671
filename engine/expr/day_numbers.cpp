// Day numbers and their conversions to and from date texts.
#include "expr/day_numbers.h"

#include <cmath>
#include <cstdio>

#include "base/dates.h"

namespace zedra {
namespace {

// Days of the year before each month, and the year's total, in a common year.
constexpr int kMonthStart[13] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};

// Day 1 of year 1 is this day number plus 1.
constexpr long long kEpoch = 1721425;

// A date part read as a number: blanks and control characters around it are ignored, an
// optional sign and at most 18 digits are accepted; anything else counts as 0.
long long PartValue(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.empty() || s.size() > 18) return 0;
  long long v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return 0;
    v = v * 10 + (c - '0');
  }
  return negative ? -v : v;
}

struct Ymd {
  long long year = 0, month = 0, day = 0;
};

// A date text of the current style, normalised to month, day and year with four-digit
// years, split into its numeric parts. Missing parts are 0.
Ymd NormalisedParts(std::string_view text) {
  DateSettings& d = Dates();
  bool century = d.CenturyOn;
  d.CenturyOn = true;
  std::string canonical;
  try {
    canonical = DateToCanonical(text.substr(0, 10));
  } catch (...) {
    d.CenturyOn = century;
    throw;
  }
  d.CenturyOn = century;
  std::string_view c = canonical;
  if (size_t zero = c.find('\0'); zero != std::string_view::npos) c = c.substr(0, zero);
  Ymd r;
  long long* parts[3] = {&r.month, &r.day, &r.year};
  for (int i = 0; i < 3; ++i) {
    size_t slash = c.find('/');
    *parts[i] = PartValue(c.substr(0, slash));
    if (slash == std::string_view::npos) break;
    c.remove_prefix(slash + 1);
  }
  return r;
}

int YearLength(long long year) { return IsLeapYear(year) ? 366 : 365; }

// Appends v as `digits` decimal digits, zero-padded (v is below 10^digits).
void AppendDigits(std::string& out, int v, int digits) {
  char d[4];
  for (int i = digits - 1; i >= 0; --i, v /= 10) d[i] = char('0' + v % 10);
  out.append(d, size_t(digits));
}

}  // namespace

bool IsLeapYear(long long year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

long long DaysBeforeYear(long long year) {
  if (year <= 1) return 0;
  long long z = year - 1;
  return z * 365 + z / 4 - z / 100 + z / 400;
}

double YmdToDay(long long year, long long month, long long day) {
  // The calendar has no year 0: counted like year 1, its dates would fall on the days of
  // years 1 and 2 and read back as other dates, so they are invalid like negative years.
  // Years beyond any date text are refused before the arithmetic could overflow.
  if (year < 1 || year > 99999999 || month < 1 || month > 12 || day < 1) return kBlankDay;
  bool leap = IsLeapYear(year);
  int length = kMonthStart[month] - kMonthStart[month - 1] + (leap && month == 2 ? 1 : 0);
  if (day > length) return kBlankDay;
  long long day_of_year = kMonthStart[month - 1] + day + (leap && month > 2 ? 1 : 0);
  return static_cast<double>(kEpoch + DaysBeforeYear(year) + day_of_year);
}

bool DayToYmd(double day, int* year, int* month, int* day_of_month) {
  // A fraction above day 1721425 still truncates to that day, which lies before year 1
  // and would read as day 0 of January.
  if (!(day >= kDayBeforeYear1 + 1 && day <= kLastDay)) return false;
  long long n = static_cast<long long>(std::trunc(day)) - kEpoch;
  long long y = n / 366;
  if (y == 0) y = 1;
  n -= DaysBeforeYear(y);
  while (n > YearLength(y)) {
    n -= YearLength(y);
    ++y;
  }
  bool leap = IsLeapYear(y);
  int m = 1;
  while (m < 12 && kMonthStart[m] + (leap && m >= 2 ? 1 : 0) < n) ++m;
  long long before = kMonthStart[m - 1] + (leap && m > 2 ? 1 : 0);
  *year = static_cast<int>(y);
  *month = m;
  *day_of_month = static_cast<int>(n - before);
  return true;
}

double DtosToDay(std::string_view text) {
  text = text.substr(0, 8);
  if (size_t zero = text.find('\0'); zero != std::string_view::npos) text = text.substr(0, zero);
  if (text == "        ") return kBlankDay;
  long long year = PartValue(text.substr(0, 4));
  long long month = text.size() > 4 ? PartValue(text.substr(4, 2)) : 0;
  long long day = text.size() > 6 ? PartValue(text.substr(6, 2)) : 0;
  return YmdToDay(year, month, day);
}

std::string DayToDtos(double day) {
  int y, m, d;
  if (!DayToYmd(day, &y, &m, &d)) return std::string(8, ' ');
  std::string text;
  AppendDigits(text, y, 4);
  AppendDigits(text, m, 2);
  AppendDigits(text, d, 2);
  return text;
}

std::string DayToText(double day) {
  const DateSettings& s = Dates();
  std::string year_blanks(s.CenturyOn ? 4 : 2, ' ');
  int y, m, d;
  // Day 1721425 lies before year 1 and has no text of its own: it reads as blank, as it
  // does in DayToDtos.
  bool valid = DayToYmd(day, &y, &m, &d);
  std::string year, month, dd;
  if (valid) {
    AppendDigits(year, s.CenturyOn ? y : y % 100, s.CenturyOn ? 4 : 2);
    AppendDigits(month, m, 2);
    AppendDigits(dd, d, 2);
  }
  switch (s.DateStyle) {
    case 1:
      return valid ? year + "." + month + "." + dd : year_blanks + ".  .  ";
    case 2:
    case 8:
      return valid ? dd + "/" + month + "/" + year : "  /  /" + year_blanks;
    case 3:
      return valid ? dd + "-" + month + "-" + year : "  -  -" + year_blanks;
    case 4:
    case 5:
    case 6:
    case 7:  // day, month and year with "." like the other day-first styles with "."
      return valid ? dd + "." + month + "." + year : "  .  ." + year_blanks;
    default:
      return valid ? month + "/" + dd + "/" + year : "  /  /" + year_blanks;
  }
}

std::string DateToDtos(std::string_view text) {
  Ymd p = NormalisedParts(text);
  if (p.year < 0 || p.year > 9999 || p.month < 0 || p.month > 99 || p.day < 0 || p.day > 99)
    return std::string(8, ' ');
  char out[16];
  std::snprintf(out, sizeof out, "%04lld%02lld%02lld", p.year, p.month, p.day);
  std::string r = out;
  return r == "00000000" ? std::string(8, ' ') : r;
}

double TextToDay(std::string_view text) {
  Ymd p = NormalisedParts(text);
  return YmdToDay(p.year, p.month, p.day);
}

}  // namespace zedra

// Date styles, the canonical date form, the two-digit-year window, day and month names.
#include "base/dates.h"

#include <cstdint>

#include "platform/platform.h"

namespace zedra {
namespace {

// Day names Sunday first, month names January first: fixed-width fields padded with
// blanks, stored as OEM bytes (code page 850; 866 for Russian).
// Sunday Monday Tuesday Wednesday Thursday Friday Saturday
constexpr std::string_view kEnglishDays =
    "Sunday   "
    "Monday   "
    "Tuesday  "
    "Wednesday"
    "Thursday "
    "Friday   "
    "Saturday ";
// Domenica Lunedi Martedi Mercoledi Giovedi Venerdi Sabato
constexpr std::string_view kItalianDays =
    "Domenica "
    "Lunedi   "
    "Martedi  "
    "Mercoledi"
    "Giovedi  "
    "Venerdi  "
    "Sabato   ";
// Dimanche Lundi Mardi Mercredi Jeudi Vendredi Samedi
constexpr std::string_view kFrenchDays =
    "Dimanche"
    "Lundi   "
    "Mardi   "
    "Mercredi"
    "Jeudi   "
    "Vendredi"
    "Samedi  ";
// Sonntag Montag Dienstag Mittwoch Donnerstag Freitag Samstag
constexpr std::string_view kGermanDays =
    "Sonntag   "
    "Montag    "
    "Dienstag  "
    "Mittwoch  "
    "Donnerstag"
    "Freitag   "
    "Samstag   ";
// Domingo Lunes Martes Miercoles Jueves Viernes Sabado
constexpr std::string_view kSpanishDays =
    "Domingo  "
    "Lunes    "
    "Martes   "
    "Miercoles"
    "Jueves   "
    "Viernes  "
    "Sabado   ";
// Воскресенье Понедельник Вторник Среда Четверг Пятница Суббота
constexpr std::string_view kRussianDays =
    "\x82\xAE\xE1\xAA\xE0\xA5\xE1\xA5\xAD\xEC\xA5"
    "\x8F\xAE\xAD\xA5\xA4\xA5\xAB\xEC\xAD\xA8\xAA"
    "\x82\xE2\xAE\xE0\xAD\xA8\xAA    "
    "\x91\xE0\xA5\xA4\xA0      "
    "\x97\xA5\xE2\xA2\xA5\xE0\xA3    "
    "\x8F\xEF\xE2\xAD\xA8\xE6\xA0    "
    "\x91\xE3\xA1\xA1\xAE\xE2\xA0    ";
// January February March April May June July August September October November December
constexpr std::string_view kEnglishMonths =
    "January  "
    "February "
    "March    "
    "April    "
    "May      "
    "June     "
    "July     "
    "August   "
    "September"
    "October  "
    "November "
    "December ";
// Gennaio Febbraio Marzo Aprile Maggio Giugno Luglio Agosto Settembre Ottobre Novembre Dicembre
constexpr std::string_view kItalianMonths =
    "Gennaio  "
    "Febbraio "
    "Marzo    "
    "Aprile   "
    "Maggio   "
    "Giugno   "
    "Luglio   "
    "Agosto   "
    "Settembre"
    "Ottobre  "
    "Novembre "
    "Dicembre ";
// Janvier Février Mars Avril Mai Juin Juillet Août Septembre Octobre Novembre Décembre
constexpr std::string_view kFrenchMonths =
    "Janvier  "
    "F\x82vrier  "
    "Mars     "
    "Avril    "
    "Mai      "
    "Juin     "
    "Juillet  "
    "Ao\x96t     "
    "Septembre"
    "Octobre  "
    "Novembre "
    "D\x82" "cembre ";
// Januar Februar März April Mai Juni Juli August September Oktober November Dezember
constexpr std::string_view kGermanMonths =
    "Januar   "
    "Februar  "
    "M\x84rz     "
    "April    "
    "Mai      "
    "Juni     "
    "Juli     "
    "August   "
    "September"
    "Oktober  "
    "November "
    "Dezember ";
// Enero Febrero Marzo Abril Mayo Junio Julio Agosto Septiembre Octubre Noviembre Diciembre
constexpr std::string_view kSpanishMonths =
    "Enero     "
    "Febrero   "
    "Marzo     "
    "Abril     "
    "Mayo      "
    "Junio     "
    "Julio     "
    "Agosto    "
    "Septiembre"
    "Octubre   "
    "Noviembre "
    "Diciembre ";
// Январь Февраль Март Апрель Май Июнь Июль Август Сентябрь Октябрь Ноябрь Декабрь
constexpr std::string_view kRussianMonths =
    "\x9F\xAD\xA2\xA0\xE0\xEC  "
    "\x94\xA5\xA2\xE0\xA0\xAB\xEC "
    "\x8C\xA0\xE0\xE2    "
    "\x80\xAF\xE0\xA5\xAB\xEC  "
    "\x8C\xA0\xA9     "
    "\x88\xEE\xAD\xEC    "
    "\x88\xEE\xAB\xEC    "
    "\x80\xA2\xA3\xE3\xE1\xE2  "
    "\x91\xA5\xAD\xE2\xEF\xA1\xE0\xEC"
    "\x8E\xAA\xE2\xEF\xA1\xE0\xEC "
    "\x8D\xAE\xEF\xA1\xE0\xEC  "
    "\x84\xA5\xAA\xA0\xA1\xE0\xEC ";

struct StyleInfo {
  const char* format_head;  // the short-date format around the year
  const char* format_tail;
  bool year_first;
  char separator;
  std::string_view days;
  int day_width;
  std::string_view months;
  int month_width;
};

// Styles 0 to 8: field order, runtime short-date format, separator and name tables.
const StyleInfo kStyles[9] = {
    {"MM/dd/", "", false, '/', kEnglishDays, 9, kEnglishMonths, 9},
    {"", ".MM.dd", true, '.', kEnglishDays, 9, kEnglishMonths, 9},
    {"dd/MM/", "", false, '/', kEnglishDays, 9, kEnglishMonths, 9},
    {"dd-MM-", "", false, '-', kItalianDays, 9, kItalianMonths, 9},
    {"dd.MM.", "", false, '.', kFrenchDays, 8, kFrenchMonths, 9},
    {"dd.MM.", "", false, '.', kGermanDays, 10, kGermanMonths, 9},
    {"dd.MM.", "", false, '.', kSpanishDays, 9, kSpanishMonths, 10},
    {"dd.MM.", "", false, '.', kFrenchDays, 8, kFrenchMonths, 9},
    {"dd.MM.", "", false, '.', kRussianDays, 11, kRussianMonths, 8},
};

const StyleInfo& Style(int style) { return kStyles[style >= 0 && style <= 8 ? style : 0]; }

// Canonical and styled dates are at most 10 characters.
constexpr size_t kDateLength = 10;

std::string_view Trim33(std::string_view s) {
  while (!s.empty() && static_cast<uint8_t>(s.front()) < 33) s.remove_prefix(1);
  while (!s.empty() && static_cast<uint8_t>(s.back()) < 33) s.remove_suffix(1);
  return s;
}

// The value of a number text as the runtime reads it: leading blanks allowed, an optional
// sign, then digits to the end. Anything else is no number.
bool NumberValue(std::string_view s, long* value) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
  if (i == s.size()) return false;
  long v = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    if (v < 100000000) v = v * 10 + (s[i] - '0');
  }
  *value = negative ? -v : v;
  return true;
}

long ValueOr0(std::string_view s) {
  long v = 0;
  return NumberValue(s, &v) ? v : 0;
}

// Cuts at 10 characters and before the first NUL.
std::string_view CutDate(std::string_view s) {
  s = s.substr(0, kDateLength);
  if (size_t nul = s.find('\0'); nul != std::string_view::npos) s = s.substr(0, nul);
  return s;
}

struct DateParts {
  std::string p1, p2, p3;
  bool AllEmpty() const { return p1.empty() && p2.empty() && p3.empty(); }
};

// Splits at the separator: before the first, between the first and second, the rest.
// A part whose separator is missing stays empty; each part is trimmed and keeps at most
// four characters.
DateParts SplitDate(std::string_view s, char sep) {
  DateParts parts;
  size_t first = s.find(sep);
  std::string_view rest = s;
  if (first != std::string_view::npos) {
    parts.p1 = std::string(Trim33(s.substr(0, first)).substr(0, 4));
    rest = s.substr(first + 1);
  }
  size_t second = rest.find(sep);
  if (second != std::string_view::npos) {
    parts.p2 = std::string(Trim33(rest.substr(0, second)).substr(0, 4));
    rest = rest.substr(second + 1);
  }
  parts.p3 = std::string(Trim33(rest).substr(0, 4));
  return parts;
}

std::string Pad2(std::string s) {
  while (s.size() < 2) s.insert(s.begin(), '0');
  return s;
}

std::string YearBlanks() { return std::string(Dates().CenturyOn ? 4 : 2, ' '); }

bool IsEmptyCanonical(const std::string& t) {
  std::string_view v = t;
  while (!v.empty() && v.back() == ' ') v.remove_suffix(1);
  return v == "  /  /";
}

// Days from 1 January of year 1 (as day 1) to the given date, proleptic Gregorian.
int64_t DaysFromYearOne(int year, int month, int day) {
  int64_t y = year - (month <= 2 ? 1 : 0);
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  int64_t yoe = y - era * 400;
  int64_t mp = (month + 9) % 12;
  int64_t doy = (153 * mp + 2) / 5 + day - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  int64_t days_since_epoch_0000_03_01 = era * 146097 + doe;
  // 0001-01-01 is day 306 after 0000-03-01.
  return days_since_epoch_0000_03_01 - 306 + 1;
}

}  // namespace

DateSettings& Dates() {
  static DateSettings settings;
  return settings;
}

uint8_t StyleFromLanguage() {
  uint16_t id = platform::CurrentLocale().language_id;
  int primary = id & 0x3FF;
  int sub = id >> 10;
  switch (primary) {
    case 7: return 5;                    // German
    case 9: return sub == 1 ? 0 : 2;     // English: United States, or elsewhere
    case 10: return 6;                   // Spanish
    case 12: return sub == 3 ? 7 : 4;    // French: Canada, or elsewhere
    case 16: return 3;                   // Italian
    case 25: return 8;                   // Russian
    default: return 0;
  }
}

void DateStartup() {
  DateSettings& d = Dates();
  d = DateSettings{};
  uint8_t style = StyleFromLanguage();
  d.DateStyle = d.LanguageStyle = style;
  if (style >= 3 && style <= 6) {
    d.DecimalPoint = ',';
    d.ThousandsSeparator = '.';
  } else {
    d.DecimalPoint = '.';
    d.ThousandsSeparator = style == 8 ? ' ' : ',';
  }
  d.CenturyBase = static_cast<uint16_t>(platform::LocalNow().year - 70);
}

void SetDateStyle(int style) {
  DateSettings& d = Dates();
  d.DateStyle = static_cast<uint8_t>(style < 0 || style > 8 ? 0 : style);
  const StyleInfo& s = Style(d.DateStyle);
  std::string year = d.CenturyOn ? "yyyy" : "yy";
  d.ShortDateFormat = s.year_first ? year + s.format_tail : s.format_head + year;
  d.DateSeparator = s.separator;
}

void SyncDateStyle() {
  platform::LocaleInfo locale = platform::CurrentLocale();
  DateSettings& d = Dates();
  d.ThousandsSeparator = locale.thousands_separator;
  d.DecimalPoint = locale.decimal_point;
  std::string upper = locale.short_date_format;
  for (char& c : upper) c = static_cast<char>(platform::AnsiUpper(static_cast<uint8_t>(c)));
  d.CenturyOn = upper.find("YYYY") != std::string::npos;
  int style = 0;
  char first = locale.short_date_format.empty() ? '\0' : locale.short_date_format[0];
  if (first == 'D' || first == 'd') {
    style = locale.date_separator == '-' ? 3 : locale.date_separator == '.' ? 5 : 2;
  } else if (first == 'Y' || first == 'y') {
    style = 1;
  }
  SetDateStyle(style);
}

int CenturyOf(std::string_view yy) {
  long v = ValueOr0(yy.substr(0, 2));
  int base = Dates().CenturyBase;
  return v >= base % 100 ? (base / 100) * 100 : (base / 100 + 1) * 100;
}

std::string ExpandYear(std::string_view year) {
  std::string y(year);
  if (!Dates().CenturyOn) return y;
  if (y.size() == 2) y = std::to_string(CenturyOf(y)).substr(0, 2) + y;
  while (y.size() < 4) y.insert(y.begin(), '0');
  return y;
}

std::string EmptyDate(int style) {
  std::string blanks = YearBlanks();
  if (style == 1) return blanks + ".  .  ";
  if (style == 3) return "  -  -" + blanks;
  if (style >= 4 && style <= 8) return "  .  ." + blanks;
  return "  /  /" + blanks;
}

std::string DateToCanonical(std::string_view date) {
  std::string_view s = date.substr(0, kDateLength);
  char sep;
  if (s.find('/') != std::string_view::npos) {
    sep = '/';
  } else if (s.find('-') != std::string_view::npos) {
    sep = '-';
  } else if (s.find('.') != std::string_view::npos) {
    sep = '.';
  } else {
    return std::string(s);
  }
  DateParts p = SplitDate(CutDate(s), sep);
  if (p.AllEmpty()) return EmptyDate(0);
  std::string a = Pad2(p.p1), b = Pad2(p.p2), c = Pad2(p.p3);
  std::string result;
  switch (Dates().DateStyle) {
    case 0: result = a + "/" + b + "/" + ExpandYear(c); break;
    case 1: result = b + "/" + c + "/" + ExpandYear(a); break;
    default: result = b + "/" + a + "/" + ExpandYear(c); break;
  }
  return result.substr(0, kDateLength);
}

std::string DateFromCanonical(std::string_view canonical) {
  DateParts p = SplitDate(CutDate(canonical), '/');
  int style = Dates().DateStyle;
  if (p.AllEmpty()) return EmptyDate(style);
  std::string month = Pad2(p.p1), day = Pad2(p.p2), year = ExpandYear(Pad2(p.p3));
  std::string result;
  switch (style) {
    case 1: result = year + "." + month + "." + day; break;
    case 2: result = day + "/" + month + "/" + year; break;
    case 3: result = day + "-" + month + "-" + year; break;
    case 4: case 5: case 6: case 7: case 8: result = day + "." + month + "." + year; break;
    default: result = month + "/" + day + "/" + year; break;
  }
  return result.substr(0, kDateLength);
}

namespace {

// Zeller's congruence on a canonical date; 1 = Sunday .. 7 = Saturday.
int DowOfCanonical(std::string_view v) {
  int64_t month = ValueOr0(v.substr(0, 2));
  int64_t day = v.size() > 3 ? ValueOr0(v.substr(3, 2)) : 0;
  int64_t year;
  if (v.size() == 8) {
    year = ValueOr0(v.substr(6, 2)) + CenturyOf(v.substr(6, 2));
  } else {
    year = v.size() > 6 ? ValueOr0(v.substr(6, 4)) : 0;
  }
  int64_t m = month, k = year % 100, j = year / 100;
  if (m < 3) {
    m += 12;
    if (k == 0) {
      k = 99;
      j -= 1;
    } else {
      k -= 1;
    }
  }
  int64_t h = (day + (26 * m + 26) / 10 + k + k / 4 + j / 4 - 2 * j) % 7;
  if (h < 0) h += 7;
  return h == 0 ? 7 : static_cast<int>(h);
}

}  // namespace

int DOW(std::string_view date) { return DowOfCanonical(DateToCanonical(date)); }

std::string_view DayNameTable(int style, int* width) {
  const StyleInfo& s = Style(style);
  *width = s.day_width;
  return s.days;
}

std::string_view MonthNameTable(int style, int* width) {
  const StyleInfo& s = Style(style);
  *width = s.month_width;
  return s.months;
}

std::string CDOW(std::string_view date) {
  std::string t = DateToCanonical(date);
  if (IsEmptyCanonical(t)) return std::string(10, ' ');
  int width;
  std::string_view table = DayNameTable(Dates().DateStyle, &width);
  int n = DowOfCanonical(t);
  return std::string(table.substr(static_cast<size_t>((n - 1) * width), width));
}

std::string CMONTH(std::string_view date) {
  std::string t = DateToCanonical(date);
  if (IsEmptyCanonical(t)) return std::string(9, ' ');
  long m = ValueOr0(std::string_view(t).substr(0, 2));
  // A month outside 1 to 12 has no name: it reads as the empty date does.
  if (m < 1 || m > 12) return std::string(9, ' ');
  int width;
  std::string_view table = MonthNameTable(Dates().DateStyle, &width);
  return std::string(table.substr(static_cast<size_t>((m - 1) * width), width)).substr(0, 10);
}

int MONTH(std::string_view date) {
  return static_cast<int>(ValueOr0(std::string_view(DateToCanonical(date)).substr(0, 2)));
}

int DAY(std::string_view date) {
  std::string t = DateToCanonical(date);
  return t.size() > 3 ? static_cast<int>(ValueOr0(std::string_view(t).substr(3, 2))) : 0;
}

int YEAR(std::string_view date) {
  std::string t = DateToCanonical(date);
  return t.size() > 6 ? static_cast<int>(ValueOr0(std::string_view(t).substr(6))) : 0;
}

TodayDate TodayParts() {
  platform::CivilTime now = platform::LocalNow();
  int64_t days = DaysFromYearOne(now.year, now.month, now.day);
  return {now.year, now.month, now.day, static_cast<int>(days % 7 + 1)};
}

FileDateTime FileDateParts(int64_t stamp) {
  platform::CivilTime t = platform::LocalTimeOf(stamp);
  return {t.year, t.month, t.day, t.hour, t.minute, t.second};
}

uint32_t TickSeconds() { return platform::TickCount() / 1000; }

}  // namespace zedra

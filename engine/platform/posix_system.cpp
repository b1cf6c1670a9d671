// POSIX clock, sleep and locale for the engine.
#include <langinfo.h>
#include <locale.h>
#include <time.h>

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace zedra::platform {
namespace {

std::optional<LocaleInfo>& LocaleOverride() {
  static std::optional<LocaleInfo> value;
  return value;
}

CivilTime FromTm(const struct tm& t) {
  return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
}

// The locale name that decides dates: LC_ALL, then LC_TIME, then LANG.
std::string LocaleName() {
  for (const char* var : {"LC_ALL", "LC_TIME", "LANG"}) {
    const char* value = std::getenv(var);
    if (value && *value) return value;
  }
  return "C";
}

}  // namespace

uint32_t TickCount() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

CivilTime LocalNow() { return LocalTimeOf(static_cast<int64_t>(::time(nullptr))); }

CivilTime LocalTimeOf(int64_t seconds) {
  time_t t = static_cast<time_t>(seconds);
  struct tm parts;
  if (!localtime_r(&t, &parts)) return {};
  return FromTm(parts);
}

void SleepMs(uint32_t ms) {
  struct timespec ts;
  ts.tv_sec = ms / 1000;
  ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  while (nanosleep(&ts, &ts) != 0) {
  }
}

uint16_t LanguageIdFromLocaleName(const std::string& name) {
  std::string lang = name.substr(0, name.find_first_of(".@"));
  std::string primary = lang.substr(0, lang.find('_'));
  std::string region = lang.find('_') == std::string::npos ? "" : lang.substr(lang.find('_') + 1);
  if (primary == "en") return region == "US" || region.empty() ? 0x0409 : 0x0809;
  if (primary == "de") return 0x0407;
  if (primary == "fr") return region == "CA" ? 0x0C0C : 0x040C;
  if (primary == "es") return 0x0C0A;
  if (primary == "it") return 0x0410;
  if (primary == "ru") return 0x0419;
  return 0x0409;
}

std::string WindowsDatePattern(const std::string& format) {
  std::string out;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%' || i + 1 >= format.size()) {
      out += format[i];
      continue;
    }
    char c = format[++i];
    if (c == 'E' || c == 'O' || c == '-') {  // modifiers: take the conversion after them
      if (i + 1 >= format.size()) break;
      c = format[++i];
    }
    switch (c) {
      case 'd': out += "dd"; break;
      case 'e': out += "d"; break;
      case 'm': out += "MM"; break;
      case 'y': out += "yy"; break;
      case 'Y': out += "yyyy"; break;
      case 'b': case 'h': out += "MMM"; break;
      case 'B': out += "MMMM"; break;
      case 'D': out += "MM/dd/yy"; break;
      case 'F': out += "yyyy-MM-dd"; break;
      case '%': out += '%'; break;
      default: break;
    }
  }
  return out;
}

LocaleInfo CurrentLocale() {
  if (LocaleOverride()) return *LocaleOverride();
  LocaleInfo info;
  std::string name = LocaleName();
  info.language_id = LanguageIdFromLocaleName(name);
  // Query the named locale without disturbing the process's own C locale.
  locale_t loc = newlocale(LC_ALL_MASK, name.c_str(), static_cast<locale_t>(0));
  if (!loc) loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  if (loc) {
    std::string pattern = WindowsDatePattern(nl_langinfo_l(D_FMT, loc));
    if (!pattern.empty()) info.short_date_format = pattern;
    const char* decimal = nl_langinfo_l(RADIXCHAR, loc);
    const char* thousands = nl_langinfo_l(THOUSEP, loc);
    if (decimal && std::strlen(decimal) == 1) info.decimal_point = decimal[0];
    if (thousands && std::strlen(thousands) == 1) info.thousands_separator = thousands[0];
    freelocale(loc);
  }
  // The date separator is the first character of the pattern that is no date letter.
  info.date_separator = '/';
  for (char c : info.short_date_format)
    if (c != 'd' && c != 'M' && c != 'y') {
      info.date_separator = c;
      break;
    }
  return info;
}

void SetLocaleOverride(std::optional<LocaleInfo> locale) { LocaleOverride() = std::move(locale); }

}  // namespace zedra::platform

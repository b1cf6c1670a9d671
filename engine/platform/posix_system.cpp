// POSIX clock, sleep, locale and error mode for the engine.
#include <langinfo.h>
#include <locale.h>
#include <time.h>

#include <cstdlib>
#include <cstring>

#include "platform/layer.h"
#include "platform/platform.h"

namespace zedra::platform {
namespace {

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

// No critical-error dialogs here to keep away.
QuietCriticalErrors::QuietCriticalErrors() {}
QuietCriticalErrors::~QuietCriticalErrors() {}

void SleepMs(uint32_t ms) {
  struct timespec ts;
  ts.tv_sec = ms / 1000;
  ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  while (nanosleep(&ts, &ts) != 0) {
  }
}

LocaleInfo CurrentLocale() {
  if (const auto& test_locale = layer::CurrentLocaleOverride()) return *test_locale;
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
  info.date_separator = layer::DateSeparatorOf(info.short_date_format);
  return info;
}

}  // namespace zedra::platform

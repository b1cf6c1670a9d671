// Windows clock, sleep, locale and error mode for the engine.
#include <windows.h>

#include <string>

#include "platform/layer.h"
#include "platform/platform.h"
#include "platform/win32_locale.h"

namespace zedra::platform {
namespace {

// Seconds between 1601-01-01 (the start of a FILETIME) and 1970-01-01.
constexpr int64_t kEpochDifference = 11644473600LL;
// The last second a SYSTEMTIME can hold (30827-12-31), in seconds since 1601.
constexpr int64_t kLastFileTimeSecond = 910692730085LL;

CivilTime FromSystemTime(const SYSTEMTIME& t) {
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

// One of a locale's texts, turned into Windows-1252 through UTF-8, so that what it says
// does not depend on the machine's own ANSI code page. Empty when the locale lacks it.
std::string LocaleText(LCID locale, LCTYPE type) {
  wchar_t wide[128];
  const int n = ::GetLocaleInfoW(locale, type, wide, static_cast<int>(std::size(wide)));
  if (n <= 1) return {};
  char utf8[512];
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, wide, n - 1, utf8, sizeof utf8, nullptr,
                                          nullptr);
  if (bytes <= 0) return {};
  return Utf8ToCp1252(std::string_view(utf8, static_cast<size_t>(bytes)));
}

// A separator of one character that Windows-1252 holds; otherwise the one given.
char SingleCharacter(const std::string& text, char otherwise) {
  return text.size() == 1 && text[0] != '?' ? text[0] : otherwise;
}

LocaleInfo LocaleOf(LCID locale, LCTYPE flags, uint16_t language_id) {
  LocaleInfo info;
  info.language_id = language_id;
  const std::string pattern = LocaleText(locale, LOCALE_SSHORTDATE | flags);
  if (!pattern.empty()) info.short_date_format = pattern;
  info.date_separator =
      SingleCharacter(LocaleText(locale, LOCALE_SDATE | flags),
                      layer::DateSeparatorOf(info.short_date_format));
  info.decimal_point = SingleCharacter(LocaleText(locale, LOCALE_SDECIMAL | flags),
                                       info.decimal_point);
  info.thousands_separator = SingleCharacter(LocaleText(locale, LOCALE_STHOUSAND | flags),
                                             info.thousands_separator);
  return info;
}

}  // namespace

uint32_t TickCount() { return ::GetTickCount(); }

CivilTime LocalNow() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  return FromSystemTime(now);
}

CivilTime LocalTimeOf(int64_t seconds) {
  if (seconds < -kEpochDifference || seconds > kLastFileTimeSecond - kEpochDifference) return {};
  const uint64_t ticks = static_cast<uint64_t>(seconds + kEpochDifference) * 10000000u;
  FILETIME utc_file;
  utc_file.dwLowDateTime = static_cast<DWORD>(ticks);
  utc_file.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  SYSTEMTIME utc, local;
  // The time zone's rule for that date, summer time included, not today's offset.
  if (!::FileTimeToSystemTime(&utc_file, &utc) ||
      !::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local))
    return {};
  return FromSystemTime(local);
}

void SleepMs(uint32_t ms) { ::Sleep(ms); }

LocaleInfo LocaleInfoOf(uint16_t language_id) {
  const LCID locale = MAKELCID(language_id, SORT_DEFAULT);
  if (!::IsValidLocale(locale, LCID_SUPPORTED)) return LocaleInfo{};
  return LocaleOf(locale, LOCALE_NOUSEROVERRIDE, language_id);
}

LocaleInfo CurrentLocale() {
  if (const auto& test_locale = layer::CurrentLocaleOverride()) return *test_locale;
  return LocaleOf(LOCALE_USER_DEFAULT, 0, ::GetUserDefaultLangID());
}

QuietCriticalErrors::QuietCriticalErrors()
    : previous_(::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX)) {}

QuietCriticalErrors::~QuietCriticalErrors() { ::SetErrorMode(previous_); }

}  // namespace zedra::platform

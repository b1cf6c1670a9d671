// Single-byte code pages from the system's converter (glibc's iconv) and case mapping
// (the C.UTF-8 locale's towupper/towlower).
#include <iconv.h>
#include <locale.h>
#include <wctype.h>

#include <cerrno>
#include <map>
#include <memory>
#include <string>

#include "platform/codepage_source.h"

namespace zedra::platform {
namespace {

// One byte through an open converter into UTF-32LE; kNoCharacter when the converter
// rejects it or needs more bytes (a multi-byte code page).
char32_t ConvertByte(iconv_t cd, uint8_t byte, bool* incomplete) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
  char in[1] = {static_cast<char>(byte)};
  unsigned char out[8] = {};
  char* in_ptr = in;
  char* out_ptr = reinterpret_cast<char*>(out);
  size_t in_left = 1, out_left = sizeof out;
  if (iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left) == static_cast<size_t>(-1)) {
    if (errno == EINVAL) *incomplete = true;
    return kNoCharacter;
  }
  if (sizeof out - out_left != 4) return kNoCharacter;
  return char32_t(out[0]) | char32_t(out[1]) << 8 | char32_t(out[2]) << 16 |
         char32_t(out[3]) << 24;
}

// Case mapping independent of the user's locale: Unicode's simple mapping as the
// C.UTF-8 locale has it (a locale object of our own; the process locale is not touched).
locale_t CaseLocale() {
  static locale_t locale = [] {
    locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(nullptr));
    return l ? l : newlocale(LC_CTYPE_MASK, "C", locale_t(nullptr));
  }();
  return locale;
}

void FillCaseMaps(CodePage& page) {
  std::map<char32_t, uint8_t> byte_of;
  for (int b = 0; b < 256; ++b)
    if (page.defined[b]) byte_of.emplace(page.unicode[b], uint8_t(b));
  const locale_t locale = CaseLocale();
  for (int b = 0; b < 256; ++b) {
    page.upper[b] = page.lower[b] = uint8_t(b);
    if (!page.defined[b] || !locale) continue;
    const wint_t c = wint_t(page.unicode[b]);
    if (auto it = byte_of.find(char32_t(towupper_l(c, locale))); it != byte_of.end())
      page.upper[b] = it->second;
    if (auto it = byte_of.find(char32_t(towlower_l(c, locale))); it != byte_of.end())
      page.lower[b] = it->second;
  }
}

}  // namespace

std::unique_ptr<CodePage> BuildCodePage(uint16_t number) {
  const std::string name = "CP" + std::to_string(number);
  iconv_t cd = iconv_open("UTF-32LE", name.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return nullptr;
  auto page = std::make_unique<CodePage>();
  page->number = number;
  bool incomplete = false;
  for (int b = 0; b < 256; ++b) {
    // The lower half is ASCII in every code page the engine uses.
    SetCharacter(*page, b, b < 0x80 ? char32_t(b) : ConvertByte(cd, uint8_t(b), &incomplete));
  }
  iconv_close(cd);
  if (incomplete) return nullptr;  // not a single-byte code page
  FillCaseMaps(*page);
  return page;
}

}  // namespace zedra::platform

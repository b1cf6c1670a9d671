// Single-byte code pages on Windows, from the engine's own tables (codepage_data.h),
// which hold what the POSIX build reads from glibc. The system's converters and case
// mapping are not those: they count the unassigned bytes 0x80-0x9F as characters, and
// their case mapping is the system's own (Wine's gives no capital to dotless i, final
// sigma or the micro sign), while a table's bytes must read, convert and sort the same on
// every machine. A code page the tables do not hold is not available here.
#include <memory>

#include "platform/codepage_data.h"
#include "platform/codepage_source.h"

namespace zedra::platform {

std::unique_ptr<CodePage> BuildCodePage(uint16_t number) {
  for (const tables::CodePageData& data : tables::kCodePageData) {
    if (data.number != number) continue;
    auto page = std::make_unique<CodePage>();
    page->number = number;
    for (int b = 0; b < 0x80; ++b) {
      SetCharacter(*page, b, char32_t(b));
      page->upper[b] = b >= 'a' && b <= 'z' ? uint8_t(b - 0x20) : uint8_t(b);
      page->lower[b] = b >= 'A' && b <= 'Z' ? uint8_t(b + 0x20) : uint8_t(b);
    }
    for (int b = 0x80; b < 256; ++b) {
      const char16_t c = data.unicode[b - 0x80];
      SetCharacter(*page, b, c != 0 ? char32_t(c) : kNoCharacter);
      page->upper[b] = data.upper[b - 0x80];
      page->lower[b] = data.lower[b - 0x80];
    }
    return page;
  }
  return nullptr;
}

}  // namespace zedra::platform

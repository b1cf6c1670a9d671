// TEMPORARY: a minimal FindCodePage so that the Windows build links; the Windows code
// page file proper replaces it.
//
// Single-byte code pages from the system's converter (MultiByteToWideChar with the code
// page's number, never the machine's own ANSI or OEM page) and the invariant locale's
// case mapping, each once, on first use.
#include <windows.h>

#include <map>
#include <memory>
#include <mutex>

#include "platform/platform.h"

namespace zedra::platform {
namespace {

char32_t CaseOf(char32_t c, DWORD how) {
  wchar_t in = static_cast<wchar_t>(c), out = 0;
  if (c > 0xFFFF || ::LCMapStringEx(LOCALE_NAME_INVARIANT, how, &in, 1, &out, 1, nullptr,
                                    nullptr, 0) != 1)
    return c;
  return out;
}

std::unique_ptr<CodePage> BuildCodePage(uint16_t number) {
  // 0 to 3 and 42 are no code pages but stand for the machine's own ANSI, OEM, Mac and
  // thread pages and the symbol page.
  if (number <= CP_THREAD_ACP || number == CP_SYMBOL) return nullptr;
  CPINFO info;
  if (!::GetCPInfo(number, &info) || info.MaxCharSize != 1) return nullptr;
  auto page = std::make_unique<CodePage>();
  page->number = number;
  for (int b = 0; b < 256; ++b) {
    char in = static_cast<char>(b);
    wchar_t out = 0;
    char32_t c = kNoCharacter;
    if (b < 0x80) {
      c = char32_t(b);
    } else if (::MultiByteToWideChar(number, MB_ERR_INVALID_CHARS, &in, 1, &out, 1) == 1) {
      c = out;
    }
    page->defined[b] = c != kNoCharacter;
    page->unicode[b] = c != kNoCharacter ? c : b < 0xA0 ? char32_t(b) : kNoCharacter;
  }
  std::map<char32_t, uint8_t> byte_of;
  for (int b = 0; b < 256; ++b)
    if (page->defined[b]) byte_of.emplace(page->unicode[b], uint8_t(b));
  for (int b = 0; b < 256; ++b) {
    page->upper[b] = page->lower[b] = uint8_t(b);
    if (!page->defined[b]) continue;
    if (auto it = byte_of.find(CaseOf(page->unicode[b], LCMAP_UPPERCASE)); it != byte_of.end())
      page->upper[b] = it->second;
    if (auto it = byte_of.find(CaseOf(page->unicode[b], LCMAP_LOWERCASE)); it != byte_of.end())
      page->lower[b] = it->second;
  }
  return page;
}

}  // namespace

const CodePage* FindCodePage(uint16_t number) {
  static std::map<uint16_t, std::unique_ptr<CodePage>> cache;
  static std::mutex mutex;
  std::lock_guard<std::mutex> lock(mutex);
  auto it = cache.find(number);
  if (it == cache.end()) it = cache.emplace(number, BuildCodePage(number)).first;
  return it->second.get();
}

}  // namespace zedra::platform

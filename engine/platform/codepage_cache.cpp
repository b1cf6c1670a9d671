// The code pages and DOS/Windows pairs, each built once on first use from the system's
// source (BuildCodePage), and Windows-1252, which is never missing.
#include <map>
#include <memory>
#include <mutex>

#include "platform/codepage_source.h"
#include "platform/platform.h"

namespace zedra::platform {
namespace {

std::mutex& CacheMutex() {
  static std::mutex m;
  return m;
}

}  // namespace

const CodePage* FindCodePage(uint16_t number) {
  static std::map<uint16_t, std::unique_ptr<CodePage>> cache;
  std::lock_guard<std::mutex> lock(CacheMutex());
  auto it = cache.find(number);
  if (it == cache.end()) it = cache.emplace(number, BuildCodePage(number)).first;
  return it->second.get();
}

const CodePage& Windows1252() {
  static const CodePage page = [] {
    if (const CodePage* found = FindCodePage(1252)) return *found;
    CodePage latin1;
    latin1.number = 1252;
    for (int b = 0; b < 256; ++b) {
      latin1.unicode[b] = char32_t(b);
      latin1.defined[b] = true;
      latin1.upper[b] = AnsiUpper(uint8_t(b));
      latin1.lower[b] = AnsiLower(uint8_t(b));
    }
    return latin1;
  }();
  return page;
}

const OemAnsiPair* FindOemAnsiPair(uint16_t dos_code_page) {
  const uint16_t windows = WindowsCodePageOf(dos_code_page);
  if (windows == 0) return nullptr;
  const CodePage* oem = FindCodePage(dos_code_page);
  const CodePage* ansi = FindCodePage(windows);
  static std::map<uint16_t, std::unique_ptr<OemAnsiPair>> cache;
  std::lock_guard<std::mutex> lock(CacheMutex());
  auto it = cache.find(dos_code_page);
  if (it == cache.end()) {
    std::unique_ptr<OemAnsiPair> pair;
    if (oem && ansi) {
      pair = std::make_unique<OemAnsiPair>(BuildOemAnsiPair(*oem, *ansi));
      if (dos_code_page == 850)
        for (int b = 0; b < 256; ++b) {
          pair->to_ansi[b] = OemToAnsi(uint8_t(b));
          pair->to_oem[b] = AnsiToOem(uint8_t(b));
        }
    }
    it = cache.emplace(dos_code_page, std::move(pair)).first;
  }
  return it->second.get();
}

}  // namespace zedra::platform

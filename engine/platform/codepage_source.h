// What each system gives the code pages (posix_codepages.cpp, win32_codepages.cpp): the
// characters and case maps of one single-byte code page. The cache, Windows-1252 and the
// DOS/Windows pairs built on top are the same everywhere (codepage_cache.cpp).
#pragma once

#include <cstdint>
#include <memory>

#include "platform/platform.h"

namespace zedra::platform {

// The code page with this number, built from the system's source; null when that source
// has no single-byte code page of this number. Called once per number.
std::unique_ptr<CodePage> BuildCodePage(uint16_t number);

// Records the character of a byte, or kNoCharacter for a byte the code page leaves out
// (which then stands for itself if it is one of 0x80-0x9F).
inline void SetCharacter(CodePage& page, int byte, char32_t c) {
  page.defined[byte] = c != kNoCharacter;
  page.unicode[byte] = c != kNoCharacter ? c : byte < 0xA0 ? char32_t(byte) : kNoCharacter;
}

}  // namespace zedra::platform

// The engine's own ANSI (Windows-1252) and OEM (code page 850) pair and Windows-1252 case
// mapping; the pairing of a DOS code page with the Windows code page of its script; text
// between code pages and UTF-8.
#include <map>
#include <mutex>

#include "platform/codepage_tables.h"
#include "platform/platform.h"

namespace zedra::platform {
namespace {

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// The character at text[*at] (advancing *at past it); false for bytes that are not
// well-formed UTF-8 (overlong forms and surrogates included), *at then past them.
bool NextUtf8(std::string_view text, size_t* at, char32_t* cp) {
  const uint8_t c = static_cast<uint8_t>(text[*at]);
  size_t length = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
  if (length == 0 || *at + length > text.size()) {
    ++*at;
    while (*at < text.size() && (static_cast<uint8_t>(text[*at]) & 0xC0) == 0x80) ++*at;
    return false;
  }
  char32_t value = length == 1 ? c : c & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    const uint8_t next = static_cast<uint8_t>(text[*at + i]);
    if ((next & 0xC0) != 0x80) {
      *at += i;
      return false;
    }
    value = value << 6 | (next & 0x3F);
  }
  *at += length;
  static constexpr char32_t kSmallest[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < kSmallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
    return false;
  *cp = value;
  return true;
}

// Every character of a code page with its byte; the stand-ins for undefined bytes 0x80-0x9F
// count as characters, so that they come back unchanged.
const std::map<char32_t, uint8_t>& BytesOf(const CodePage& page) {
  static std::mutex mutex;
  static std::map<const CodePage*, std::map<char32_t, uint8_t>> cache;
  std::lock_guard<std::mutex> lock(mutex);
  auto [it, added] = cache.try_emplace(&page);
  if (added)
    for (int b = 255; b >= 0; --b)
      if (page.unicode[b] != kNoCharacter) it->second[page.unicode[b]] = uint8_t(b);
  return it->second;
}

}  // namespace

uint8_t AnsiToOem(uint8_t c) { return c < 0x80 ? c : tables::kAnsiToOem[c - 0x80]; }
uint8_t OemToAnsi(uint8_t c) { return c < 0x80 ? c : tables::kOemToAnsi[c - 0x80]; }

uint8_t AnsiUpper(uint8_t c) {
  if (c >= 'a' && c <= 'z') return static_cast<uint8_t>(c - 0x20);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<uint8_t>(c - 0x20);
  switch (c) {
    case 0x9A: return 0x8A;  // s caron
    case 0x9C: return 0x8C;  // oe
    case 0x9E: return 0x8E;  // z caron
    case 0xFF: return 0x9F;  // y diaeresis
    default: return c;
  }
}

uint8_t AnsiLower(uint8_t c) {
  if (c >= 'A' && c <= 'Z') return static_cast<uint8_t>(c + 0x20);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<uint8_t>(c + 0x20);
  switch (c) {
    case 0x8A: return 0x9A;
    case 0x8C: return 0x9C;
    case 0x8E: return 0x9E;
    case 0x9F: return 0xFF;
    default: return c;
  }
}

uint16_t WindowsCodePageOf(uint16_t dos_code_page) {
  switch (dos_code_page) {
    case 437: case 850: case 860: case 861: case 863: case 865: return 1252;
    case 852: return 1250;
    case 866: return 1251;
    case 857: return 1254;
    case 737: return 1253;
    default: return 0;
  }
}

OemAnsiPair BuildOemAnsiPair(const CodePage& oem, const CodePage& ansi) {
  OemAnsiPair pair;
  pair.oem = &oem;
  pair.ansi = &ansi;
  std::map<char32_t, uint8_t> ansi_byte;
  for (int b = 0x80; b < 256; ++b)
    if (ansi.defined[b]) ansi_byte.emplace(ansi.unicode[b], uint8_t(b));
  std::array<bool, 256> oem_paired{}, ansi_paired{};
  for (int b = 0; b < 0x80; ++b) {
    pair.to_ansi[b] = pair.to_oem[b] = uint8_t(b);
    oem_paired[b] = ansi_paired[b] = true;
  }
  for (int d = 0x80; d < 256; ++d) {
    if (!oem.defined[d]) continue;
    auto it = ansi_byte.find(oem.unicode[d]);
    if (it == ansi_byte.end() || ansi_paired[it->second]) continue;
    pair.to_ansi[d] = it->second;
    pair.to_oem[it->second] = uint8_t(d);
    oem_paired[d] = ansi_paired[it->second] = true;
  }
  for (int d = 0x80, w = 0x80; d < 256; ++d) {
    if (oem_paired[d]) continue;
    while (ansi_paired[w]) ++w;  // as many left on each side: w stays below 256
    pair.to_ansi[d] = uint8_t(w);
    pair.to_oem[w] = uint8_t(d);
    ansi_paired[w] = true;
  }
  return pair;
}

std::string CodePageToUtf8(const CodePage& page, std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char ch : bytes) AppendUtf8(out, page.unicode[static_cast<uint8_t>(ch)]);
  return out;
}

bool Utf8ToCodePage(const CodePage& page, std::string_view text, std::string* bytes,
                    std::string* missing) {
  const std::map<char32_t, uint8_t>& byte_of = BytesOf(page);
  bytes->clear();
  bytes->reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    const size_t start = at;
    char32_t cp = 0;
    const bool well_formed = NextUtf8(text, &at, &cp);
    auto it = well_formed ? byte_of.find(cp) : byte_of.end();
    if (it == byte_of.end()) {
      if (missing) *missing = std::string(text.substr(start, at - start));
      return false;
    }
    *bytes += static_cast<char>(it->second);
  }
  return true;
}

std::string Cp1252ToUtf8(std::string_view bytes) { return CodePageToUtf8(Windows1252(), bytes); }

std::string Cp850ToUtf8(std::string_view bytes) {
  const CodePage* page = FindCodePage(850);
  return CodePageToUtf8(page ? *page : Windows1252(), bytes);
}

std::string Cp866ToUtf8(std::string_view bytes) {
  const CodePage* page = FindCodePage(866);
  return CodePageToUtf8(page ? *page : Windows1252(), bytes);
}

std::string Utf8ToCp1252(std::string_view text) {
  const std::map<char32_t, uint8_t>& byte_of = BytesOf(Windows1252());
  std::string out;
  for (size_t at = 0; at < text.size();) {
    char32_t cp = 0;
    const bool well_formed = NextUtf8(text, &at, &cp);
    auto it = well_formed ? byte_of.find(cp) : byte_of.end();
    out += it == byte_of.end() ? '?' : static_cast<char>(it->second);
  }
  return out;
}

}  // namespace zedra::platform

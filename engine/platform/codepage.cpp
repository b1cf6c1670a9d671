// ANSI (Windows-1252) and OEM (code page 850) conversion, Windows-1252 case mapping and
// UTF-8 output of code-page text.
#include "platform/codepage_tables.h"
#include "platform/platform.h"

namespace zedra::platform {
namespace {

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string ToUtf8(std::string_view bytes, const uint16_t (&upper)[128]) {
  std::string out;
  out.reserve(bytes.size());
  for (char ch : bytes) {
    uint8_t c = static_cast<uint8_t>(ch);
    AppendUtf8(out, c < 0x80 ? c : upper[c - 0x80]);
  }
  return out;
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

std::string Cp1252ToUtf8(std::string_view bytes) { return ToUtf8(bytes, tables::kCp1252Unicode); }
std::string Cp850ToUtf8(std::string_view bytes) { return ToUtf8(bytes, tables::kCp850Unicode); }
std::string Cp866ToUtf8(std::string_view bytes) { return ToUtf8(bytes, tables::kCp866Unicode); }

std::string Utf8ToCp1252(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    uint8_t c = static_cast<uint8_t>(text[i]);
    uint32_t cp;
    size_t len;
    if (c < 0x80) {
      cp = c;
      len = 1;
    } else if ((c & 0xE0) == 0xC0 && i + 1 < text.size()) {
      cp = ((c & 0x1Fu) << 6) | (static_cast<uint8_t>(text[i + 1]) & 0x3Fu);
      len = 2;
    } else if ((c & 0xF0) == 0xE0 && i + 2 < text.size()) {
      cp = ((c & 0x0Fu) << 12) | ((static_cast<uint8_t>(text[i + 1]) & 0x3Fu) << 6) |
           (static_cast<uint8_t>(text[i + 2]) & 0x3Fu);
      len = 3;
    } else {
      // Four-byte sequences and broken bytes have no place in Windows-1252.
      size_t skip = 1;
      while (i + skip < text.size() && (static_cast<uint8_t>(text[i + skip]) & 0xC0) == 0x80)
        ++skip;
      out += '?';
      i += skip;
      continue;
    }
    i += len;
    if (cp < 0x80) {
      out += static_cast<char>(cp);
      continue;
    }
    char mapped = '?';
    for (int b = 0; b < 128; ++b)
      if (tables::kCp1252Unicode[b] == cp) {
        mapped = static_cast<char>(0x80 + b);
        break;
      }
    out += mapped;
  }
  return out;
}

}  // namespace zedra::platform

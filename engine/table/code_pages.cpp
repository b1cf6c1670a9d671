// Header byte 29 and the code pages of tables.
#include "table/code_pages.h"

#include "base/files.h"
#include "table/work_area.h"

namespace zedra {
namespace {

struct MarkEntry {
  uint8_t mark;
  uint16_t code_page;
};

// The dBASE language-driver marks. Several marks share a code page (one per country);
// the first of each code page is the one written. Kamenicky (0x68, code page 895) and
// Mazovia (0x69, 620) have no converter on the system: they are read as code page 850,
// as every DOS mark was before marks were told apart.
constexpr MarkEntry kMarks[] = {
    {0x01, 437},  {0x02, 850},  {0x03, 1252}, {0x64, 852},  {0x65, 866},  {0x66, 865},
    {0x67, 861},  {0x6A, 737},  {0x6B, 857},  {0x6C, 863},  {0x24, 860},  {0xC8, 1250},
    {0xC9, 1251}, {0xCA, 1254}, {0xCB, 1253}, {0xCC, 1257}, {0x08, 865},  {0x09, 437},
    {0x0A, 850},  {0x0B, 437},  {0x0D, 437},  {0x0E, 850},  {0x0F, 437},  {0x10, 850},
    {0x11, 437},  {0x12, 850},  {0x14, 850},  {0x15, 437},  {0x16, 850},  {0x17, 865},
    {0x18, 437},  {0x19, 437},  {0x1A, 850},  {0x1B, 437},  {0x1C, 863},  {0x1D, 850},
    {0x1F, 852},  {0x22, 852},  {0x23, 852},  {0x25, 850},  {0x26, 866},  {0x37, 850},
    {0x40, 852},  {0x57, 1252}, {0x58, 1252}, {0x59, 1252}, {0x68, 850},  {0x69, 850},
    {0x86, 737},  {0x87, 852},  {0x88, 857},
};

const platform::CodePage& PageOr1252(const platform::CodePage* page) {
  return page ? *page : platform::Windows1252();
}

}  // namespace

uint16_t CodePageOfMark(uint8_t mark) {
  for (const MarkEntry& e : kMarks)
    if (e.mark == mark) return e.code_page;
  return 0;
}

uint8_t MarkOfCodePage(uint16_t code_page) {
  for (const MarkEntry& e : kMarks)
    if (e.code_page == code_page) return e.mark;
  return 0;
}

bool IsDosCodePage(uint16_t code_page) { return platform::WindowsCodePageOf(code_page) != 0; }

bool CodePageAvailable(uint16_t code_page) {
  if (MarkOfCodePage(code_page) == 0) return false;
  return IsDosCodePage(code_page) ? platform::FindOemAnsiPair(code_page) != nullptr
                                  : platform::FindCodePage(code_page) != nullptr;
}

void SetAreaCodePage(DbfArea& area, uint16_t code_page, std::optional<bool> oem) {
  area.code_page = code_page;
  area.oem_pair = nullptr;
  area.ansi_page = nullptr;
  const bool dos = IsDosCodePage(code_page);
  area.oem = oem.value_or(dos);
  if (dos) {
    area.oem_pair = platform::FindOemAnsiPair(code_page);
    if (area.oem_pair && area.oem_pair->ansi->number != 1252) area.ansi_page = area.oem_pair->ansi;
  } else if (code_page != 0 && code_page != 1252) {
    area.ansi_page = platform::FindCodePage(code_page);
  }
}

const platform::CodePage& TextCodePage(const DbfArea& area) { return PageOr1252(area.ansi_page); }

const platform::CodePage& StoredCodePage(const DbfArea& area) {
  if (!area.oem) return TextCodePage(area);
  return area.oem_pair ? *area.oem_pair->oem : PageOr1252(platform::FindCodePage(850));
}

void AreaAnsiToOem(const DbfArea& area, std::span<uint8_t> text) {
  if (area.oem_pair)
    for (uint8_t& c : text) c = area.oem_pair->to_oem[c];
  else
    for (uint8_t& c : text) c = platform::AnsiToOem(c);
}

void AreaOemToAnsi(const DbfArea& area, std::span<uint8_t> text) {
  if (area.oem_pair)
    for (uint8_t& c : text) c = area.oem_pair->to_ansi[c];
  else
    for (uint8_t& c : text) c = platform::OemToAnsi(c);
}

// The engine's own Windows-1252 mapping serves every table read in Windows-1252.
char AreaUpperChar(const DbfArea* area, char c) {
  if (!area || !area->ansi_page) return UpperChar(c);
  return static_cast<char>(area->ansi_page->upper[static_cast<uint8_t>(c)]);
}

char AreaLowerChar(const DbfArea* area, char c) {
  if (!area || !area->ansi_page) return LowerChar(c);
  return static_cast<char>(area->ansi_page->lower[static_cast<uint8_t>(c)]);
}

char StoredUpperChar(const DbfArea& area, char c) {
  uint8_t b = static_cast<uint8_t>(c);
  if (area.oem) AreaOemToAnsi(area, std::span(&b, 1));
  b = static_cast<uint8_t>(AreaUpperChar(&area, static_cast<char>(b)));
  if (area.oem) AreaAnsiToOem(area, std::span(&b, 1));
  return static_cast<char>(b);
}

std::string TextToUtf8(const DbfArea& area, std::string_view text) {
  if (!area.oem) return platform::CodePageToUtf8(TextCodePage(area), text);
  std::string stored(text);
  AreaAnsiToOem(area, std::span(reinterpret_cast<uint8_t*>(stored.data()), stored.size()));
  return StoredTextToUtf8(area, stored);
}

bool Utf8ToText(const DbfArea& area, std::string_view utf8, std::string* text,
                std::string* missing) {
  if (!area.oem) return platform::Utf8ToCodePage(TextCodePage(area), utf8, text, missing);
  if (!Utf8ToStoredText(area, utf8, text, missing)) return false;
  AreaOemToAnsi(area, std::span(reinterpret_cast<uint8_t*>(text->data()), text->size()));
  return true;
}

std::string StoredTextToUtf8(const DbfArea& area, std::string_view bytes) {
  return platform::CodePageToUtf8(StoredCodePage(area), bytes);
}

bool Utf8ToStoredText(const DbfArea& area, std::string_view utf8, std::string* bytes,
                      std::string* missing) {
  return platform::Utf8ToCodePage(StoredCodePage(area), utf8, bytes, missing);
}

std::string CodePageName(uint16_t code_page) {
  if (code_page >= 1250 && code_page <= 1258) return "Windows-" + std::to_string(code_page);
  return "code page " + std::to_string(code_page);
}

}  // namespace zedra

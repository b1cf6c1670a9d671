// Code pages of tables: what header byte 29 (the language-driver mark) means to the
// engine, the conversion of a table's text between its stored and readable forms, and
// its text as UTF-8.
//
// A mark names a DOS code page (437, 850, 852, 857, 860, 861, 863, 865, 866, 737) or a
// Windows one (1250-1254, 1257). A DOS table stores its text in the DOS code page and is
// read in the Windows code page of the same script (its OEM/ANSI pair: 437/850 with 1252,
// 852 with 1250, 866 with 1251, 857 with 1254, 737 with 1253); a Windows table is read as
// stored. Byte 0 and unknown marks: Windows-1252, no conversion.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace zedra {

struct DbfArea;

// The code page a mark stands for; 0 for byte 0 and marks the engine does not know.
uint16_t CodePageOfMark(uint8_t mark);
// The mark written for a code page (437 0x01, 850 0x02, 852 0x64, 866 0x65, 1250 0xC8,
// 1251 0xC9, 1252 0x03 ...); 0 for a code page without one.
uint8_t MarkOfCodePage(uint16_t code_page);
// Whether a code page is a DOS one, stored as OEM text.
bool IsDosCodePage(uint16_t code_page);
// Whether the engine can read and write tables in this code page on this system.
bool CodePageAvailable(uint16_t code_page);

// Gives an area its code page (0: none): the OEM flag (unless oem says otherwise), the
// OEM/ANSI pair and the code page its text is read in.
void SetAreaCodePage(DbfArea& area, uint16_t code_page, std::optional<bool> oem);

// The code page of the area's text as read (Windows-1252 for an unmarked table), and
// the one its bytes are stored in (the DOS code page of an OEM table): memo texts are
// kept as stored.
const platform::CodePage& TextCodePage(const DbfArea& area);
const platform::CodePage& StoredCodePage(const DbfArea& area);

// Text between the area's readable (ANSI) and stored (OEM) forms, in place; only for
// an area with the OEM flag set.
void AreaAnsiToOem(const DbfArea& area, std::span<uint8_t> text);
void AreaOemToAnsi(const DbfArea& area, std::span<uint8_t> text);

// Case conversion of the area's readable text (the area may be null: Windows-1252).
char AreaUpperChar(const DbfArea* area, char c);
char AreaLowerChar(const DbfArea* area, char c);
// The capital of a byte as the area stores it (a field name's letter).
char StoredUpperChar(const DbfArea& area, char c);

// Readable text of the area (field values) and stored text (memo texts) as UTF-8, and
// back. Every stored byte shows as the character its code page gives it. The conversions
// from UTF-8 fail for a character the table's code page cannot hold, which *missing then
// receives.
std::string TextToUtf8(const DbfArea& area, std::string_view text);
bool Utf8ToText(const DbfArea& area, std::string_view utf8, std::string* text,
                std::string* missing);
std::string StoredTextToUtf8(const DbfArea& area, std::string_view bytes);
bool Utf8ToStoredText(const DbfArea& area, std::string_view utf8, std::string* bytes,
                      std::string* missing);

// The name of a code page for messages: "Windows-1251", "code page 866".
std::string CodePageName(uint16_t code_page);

}  // namespace zedra

// Profile (INI) files read and written one key at a time.
//
// A profile file is text made of sections ("[Name]") and key lines ("Key=Value"). Reads
// and writes behave like the Windows private-profile functions, so that a settings file
// moves freely between this program and others on either platform:
//   - section and key names match without regard to ASCII case and to blanks around them;
//     the first matching section and, inside it, the first matching key win;
//   - a value is read with the blanks around it removed, and one pair of matching quotes
//     around the whole value ('...' or "...") removed as well;
//   - lines before the first section, lines without "=" and comment lines (";...") are
//     never keys, and are kept untouched by writes;
//   - a write replaces the key's line in place, or adds the key after the last non-blank
//     line of its section, or appends the section at the end of the file; every other
//     byte of the file is kept, and the lines written end in CR LF;
//   - a write to a missing file creates it;
//   - a line break inside a written value becomes a blank, so that a value can never
//     inject keys or sections of its own.
// Each call reads the file afresh; nothing is cached between calls.
#pragma once

#include <QString>
#include <optional>
#include <string>
#include <string_view>

namespace dayvane {

// The value of key in section of the profile text, or nothing when the section or the
// key is absent.
std::optional<std::string> ProfileLookup(std::string_view text, std::string_view section,
                                         std::string_view key);

// The profile text with key of section set to value (see the rules above).
std::string ProfileUpdate(std::string_view text, std::string_view section, std::string_view key,
                          std::string_view value);

// The whole text of the file at path; empty when the file is missing or cannot be read.
// Reading several keys from one text with ProfileLookup reads the file once.
std::string ReadProfileText(const QString& path);

// Reads key of section from the file at path; default_value when the file, the section
// or the key is missing or the file cannot be read.
std::string GetProfileString(const QString& path, std::string_view section, std::string_view key,
                             std::string_view default_value);

// Writes key of section to the file at path. The file is replaced as a whole (a new copy
// is written and then renamed over the old one), so a failed write leaves the old file
// intact. Returns false when the file could not be written.
bool WriteProfileString(const QString& path, std::string_view section, std::string_view key,
                        std::string_view value);

}  // namespace dayvane

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
// Each call reads the file afresh; nothing is cached between calls. Reading many keys
// (ProfileIndex) and writing many keys (ProfileUpdateAll, WriteProfileStrings) take one
// pass over the text, so the time grows with the file's size and not with size x keys.
#pragma once

#include <QString>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dayvane {

// Every key of a profile text, looked up by section and key in constant time. The text
// must outlive the index.
class ProfileIndex {
 public:
  explicit ProfileIndex(std::string_view text);
  ~ProfileIndex();

  // The value of key in section, or nothing when the section or the key is absent.
  std::optional<std::string> Lookup(std::string_view section, std::string_view key) const;

  // The text split into lines and sections (ProfileUpdateAll works on it too).
  struct Parsed;

 private:
  std::unique_ptr<Parsed> parsed_;
};

// The value of key in section of the profile text, or nothing when the section or the
// key is absent.
std::optional<std::string> ProfileLookup(std::string_view text, std::string_view section,
                                         std::string_view key);

// One key to write.
struct ProfileEntry {
  std::string section;
  std::string key;
  std::string value;
};

// The profile text with each entry written in turn (see the rules above): the same text
// as ProfileUpdate applied entry by entry, made in one pass.
std::string ProfileUpdateAll(std::string_view text, const std::vector<ProfileEntry>& entries);

// The profile text with key of section set to value.
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

// Writes every entry, in order, with one read and one replacement of the file; the file
// holds all of them or, when the write fails (false), none.
bool WriteProfileStrings(const QString& path, const std::vector<ProfileEntry>& entries);

}  // namespace dayvane

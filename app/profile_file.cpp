// Profile-file reading and writing; the rules are in profile_file.h.
#include "profile_file.h"

#include <QFile>
#include <QSaveFile>
#include <unordered_map>
#include <vector>

namespace dayvane {
namespace {

// One line of the file: its text without the line end, and the line end as it stood
// ("\r\n", "\n", or empty for a last line without one).
struct Line {
  std::string_view text;
  std::string_view end;
};

std::vector<Line> SplitLines(std::string_view text) {
  std::vector<Line> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    if (nl == std::string_view::npos) {
      lines.push_back({text.substr(pos), {}});
      break;
    }
    size_t stop = nl;
    if (stop > pos && text[stop - 1] == '\r') --stop;
    lines.push_back({text.substr(pos, stop - pos), text.substr(stop, nl + 1 - stop)});
    pos = nl + 1;
  }
  return lines;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// The form under which names are compared: blanks around them dropped, ASCII letters in
// lower case.
std::string NameKey(std::string_view name) {
  name = Trim(name);
  std::string key(name);
  for (char& c : key) c = AsciiLower(c);
  return key;
}

// The section name of a header line, or nothing for any other line.
std::optional<std::string_view> SectionName(std::string_view line) {
  line = Trim(line);
  if (line.empty() || line.front() != '[') return std::nullopt;
  line.remove_prefix(1);
  size_t close = line.find(']');
  if (close != std::string_view::npos) line = line.substr(0, close);
  return Trim(line);
}

// Splits a key line at its first "="; nothing for lines that hold no key.
std::optional<std::pair<std::string_view, std::string_view>> KeyLine(std::string_view line) {
  std::string_view trimmed = Trim(line);
  if (trimmed.empty() || trimmed.front() == ';') return std::nullopt;
  size_t eq = trimmed.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return std::make_pair(Trim(trimmed.substr(0, eq)), Trim(trimmed.substr(eq + 1)));
}

std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// The first section of each name: where its lines lie, the first line of each of its keys,
// and the line after which a new key goes (its last non-blank line, or its header).
struct Section {
  size_t header = 0;
  size_t insert_after = 0;
  std::unordered_map<std::string, size_t> keys;
};

std::optional<std::string> ReadWholeFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  QByteArray bytes = file.readAll();
  if (file.error() != QFileDevice::NoError) return std::nullopt;
  return bytes.toStdString();
}

constexpr std::string_view kLineEnd = "\r\n";

}  // namespace

struct ProfileIndex::Parsed {
  std::vector<Line> lines;
  std::vector<Section> sections;
  std::unordered_map<std::string, size_t> by_name;  // section name -> its first section

  explicit Parsed(std::string_view text) : lines(SplitLines(text)) {
    Section* current = nullptr;  // nullptr before the first section and in repeated ones
    for (size_t i = 0; i < lines.size(); ++i) {
      const std::string_view line = lines[i].text;
      if (auto name = SectionName(line)) {
        current = nullptr;
        if (by_name.emplace(NameKey(*name), sections.size()).second) {
          sections.push_back(Section{i, i, {}});
          current = &sections.back();
        }
        continue;
      }
      if (!current) continue;
      if (!Trim(line).empty()) current->insert_after = i;
      if (auto kv = KeyLine(line)) current->keys.emplace(NameKey(kv->first), i);
    }
  }

  const Section* Find(std::string_view section) const {
    auto it = by_name.find(NameKey(section));
    return it == by_name.end() ? nullptr : &sections[it->second];
  }
};

ProfileIndex::ProfileIndex(std::string_view text) : parsed_(std::make_unique<Parsed>(text)) {}

ProfileIndex::~ProfileIndex() = default;

std::optional<std::string> ProfileIndex::Lookup(std::string_view section,
                                                std::string_view key) const {
  const Section* s = parsed_->Find(section);
  if (!s) return std::nullopt;
  auto it = s->keys.find(NameKey(key));
  if (it == s->keys.end()) return std::nullopt;
  return std::string(Unquote(KeyLine(parsed_->lines[it->second].text)->second));
}

std::optional<std::string> ProfileLookup(std::string_view text, std::string_view section,
                                         std::string_view key) {
  return ProfileIndex(text).Lookup(section, key);
}

namespace {

// The key line a write puts in the file. A line break inside the value would end the
// line early and let the rest pass for keys or sections of its own; it becomes a blank.
std::string KeyLineText(const ProfileEntry& entry) {
  std::string line = entry.key + "=" + entry.value;
  for (char& c : line) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return line;
}

// New key lines gathered for one place: after an existing section's last line, or in a
// section appended at the end. A key written twice keeps its place and the later value.
struct NewKeys {
  std::string section;  // the name as first written (for an appended section)
  std::vector<std::string> lines;
  std::unordered_map<std::string, size_t> index;

  void Put(const std::string& key, std::string line) {
    auto [it, added] = index.emplace(NameKey(key), lines.size());
    if (added) {
      lines.push_back(std::move(line));
    } else {
      lines[it->second] = std::move(line);
    }
  }
};

}  // namespace

std::string ProfileUpdateAll(std::string_view text, const std::vector<ProfileEntry>& entries) {
  const ProfileIndex::Parsed parsed(text);
  const std::vector<Line>& lines = parsed.lines;

  std::unordered_map<size_t, std::string> replaced;        // line -> its new text
  std::unordered_map<size_t, NewKeys> inserted;            // section -> keys added to it
  std::vector<NewKeys> appended;                           // sections added at the end
  std::unordered_map<std::string, size_t> appended_index;  // their names
  for (const ProfileEntry& entry : entries) {
    std::string line = KeyLineText(entry);
    if (const Section* s = parsed.Find(entry.section)) {
      auto key = s->keys.find(NameKey(entry.key));
      if (key != s->keys.end()) {
        replaced[key->second] = std::move(line);
      } else {
        inserted[static_cast<size_t>(s - parsed.sections.data())].Put(entry.key, std::move(line));
      }
      continue;
    }
    auto [it, added] = appended_index.emplace(NameKey(entry.section), appended.size());
    if (added) appended.push_back(NewKeys{entry.section, {}, {}});
    appended[it->second].Put(entry.key, std::move(line));
  }

  // Where the added keys of each section go.
  std::unordered_map<size_t, const NewKeys*> insert_after;
  for (const auto& [section, keys] : inserted) {
    insert_after[parsed.sections[section].insert_after] = &keys;
  }

  std::string out;
  out.reserve(text.size() + 64 * entries.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    auto r = replaced.find(i);
    out.append(r == replaced.end() ? lines[i].text : std::string_view(r->second));
    out.append(lines[i].end);
    auto ins = insert_after.find(i);
    if (ins == insert_after.end()) continue;
    if (lines[i].end.empty()) out.append(kLineEnd);
    for (const std::string& line : ins->second->lines) out.append(line).append(kLineEnd);
  }
  for (const NewKeys& section : appended) {
    if (!out.empty() && out.back() != '\n') out.append(kLineEnd);
    out.append("[").append(section.section).append("]").append(kLineEnd);
    for (const std::string& line : section.lines) out.append(line).append(kLineEnd);
  }
  return out;
}

std::string ProfileUpdate(std::string_view text, std::string_view section, std::string_view key,
                          std::string_view value) {
  return ProfileUpdateAll(
      text, {ProfileEntry{std::string(section), std::string(key), std::string(value)}});
}

std::string ReadProfileText(const QString& path) { return ReadWholeFile(path).value_or(""); }

std::string GetProfileString(const QString& path, std::string_view section, std::string_view key,
                             std::string_view default_value) {
  auto value = ProfileLookup(ReadProfileText(path), section, key);
  return value ? *value : std::string(default_value);
}

bool WriteProfileString(const QString& path, std::string_view section, std::string_view key,
                        std::string_view value) {
  return WriteProfileStrings(
      path, {ProfileEntry{std::string(section), std::string(key), std::string(value)}});
}

bool WriteProfileStrings(const QString& path, const std::vector<ProfileEntry>& entries) {
  std::string text;
  if (QFile::exists(path)) {
    auto old = ReadWholeFile(path);
    // A file that exists but cannot be read is left alone rather than overwritten with
    // only the keys written now.
    if (!old) return false;
    text = std::move(*old);
  }
  const std::string updated = ProfileUpdateAll(text, entries);
  QSaveFile file(path);
  // In a folder where no new file may be created the old one is rewritten in place.
  file.setDirectWriteFallback(true);
  if (!file.open(QIODevice::WriteOnly)) return false;
  if (file.write(updated.data(), static_cast<qint64>(updated.size())) !=
      static_cast<qint64>(updated.size())) {
    file.cancelWriting();
    return false;
  }
  return file.commit();
}

}  // namespace dayvane

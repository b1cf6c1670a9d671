// Profile-file reading and writing; the rules are in profile_file.h.
#include "profile_file.h"

#include <QFile>
#include <QSaveFile>
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

bool SameName(std::string_view a, std::string_view b) {
  a = Trim(a);
  b = Trim(b);
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
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

// Where a section lies in the line list: its header and one past its last line.
struct SectionSpan {
  size_t header;
  size_t end;
};

std::optional<SectionSpan> FindSection(const std::vector<Line>& lines, std::string_view section) {
  for (size_t i = 0; i < lines.size(); ++i) {
    auto name = SectionName(lines[i].text);
    if (!name || !SameName(*name, section)) continue;
    size_t end = i + 1;
    while (end < lines.size() && !SectionName(lines[end].text)) ++end;
    return SectionSpan{i, end};
  }
  return std::nullopt;
}

std::optional<std::string> ReadWholeFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  QByteArray bytes = file.readAll();
  if (file.error() != QFileDevice::NoError) return std::nullopt;
  return bytes.toStdString();
}

constexpr std::string_view kLineEnd = "\r\n";

}  // namespace

std::optional<std::string> ProfileLookup(std::string_view text, std::string_view section,
                                         std::string_view key) {
  std::vector<Line> lines = SplitLines(text);
  auto span = FindSection(lines, section);
  if (!span) return std::nullopt;
  for (size_t i = span->header + 1; i < span->end; ++i) {
    auto kv = KeyLine(lines[i].text);
    if (kv && SameName(kv->first, key)) return std::string(Unquote(kv->second));
  }
  return std::nullopt;
}

std::string ProfileUpdate(std::string_view text, std::string_view section, std::string_view key,
                          std::string_view value) {
  std::vector<Line> lines = SplitLines(text);
  std::string new_line = std::string(key) + "=" + std::string(value);
  // A line break inside the value would end the key's line early and let the rest pass
  // for keys or sections of its own; it is written as a blank instead.
  for (char& c : new_line) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  std::string out;
  out.reserve(text.size() + new_line.size() + section.size() + 8);
  auto append_line = [&out](const Line& line) {
    out.append(line.text);
    out.append(line.end);
  };

  auto span = FindSection(lines, section);
  if (!span) {
    out.assign(text);
    if (!out.empty() && out.back() != '\n') out.append(kLineEnd);
    out.append("[").append(section).append("]").append(kLineEnd);
    out.append(new_line).append(kLineEnd);
    return out;
  }

  // The line to replace, or the line after which the new key goes.
  size_t replace = lines.size();
  for (size_t i = span->header + 1; i < span->end; ++i) {
    auto kv = KeyLine(lines[i].text);
    if (kv && SameName(kv->first, key)) {
      replace = i;
      break;
    }
  }
  size_t insert_after = span->header;
  if (replace == lines.size()) {
    for (size_t i = span->header + 1; i < span->end; ++i) {
      if (!Trim(lines[i].text).empty()) insert_after = i;
    }
  }

  for (size_t i = 0; i < lines.size(); ++i) {
    if (i == replace) {
      out.append(new_line);
      out.append(lines[i].end);
      continue;
    }
    append_line(lines[i]);
    if (replace == lines.size() && i == insert_after) {
      if (lines[i].end.empty()) out.append(kLineEnd);
      out.append(new_line).append(kLineEnd);
    }
  }
  return out;
}

std::string ReadProfileText(const QString& path) { return ReadWholeFile(path).value_or(""); }

std::string GetProfileString(const QString& path, std::string_view section, std::string_view key,
                             std::string_view default_value) {
  auto value = ProfileLookup(ReadProfileText(path), section, key);
  return value ? *value : std::string(default_value);
}

bool WriteProfileString(const QString& path, std::string_view section, std::string_view key,
                        std::string_view value) {
  std::string text;
  if (QFile::exists(path)) {
    auto old = ReadWholeFile(path);
    // A file that exists but cannot be read is left alone rather than overwritten with
    // only the one key.
    if (!old) return false;
    text = std::move(*old);
  }
  std::string updated = ProfileUpdate(text, section, key, value);
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

// The settings module and the settings file Dayvane.Ini.
#include "app_settings.h"

#include <QDir>

#include "profile_file.h"

namespace dayvane {
namespace {

constexpr std::string_view kWinSet = "WinSet";
constexpr std::string_view kThemes = "THEMES";

// Texts travel through the file as 8-bit bytes. Files written on Windows hold the ANSI
// code page, which agrees with Latin-1 for every letter a font name uses there; a name
// Latin-1 cannot hold is written as UTF-8. Reading is the exact inverse: the bytes are
// taken as UTF-8 only when they are valid UTF-8 and hold a character beyond Latin-1
// (exactly the names the writing puts in UTF-8), and as Latin-1 otherwise. So a name read
// from the file goes back byte for byte, whatever 8-bit code page the program that wrote
// it used, even when its bytes happen to form UTF-8 for Latin letters.
QString FromFileBytes(const std::string& bytes) {
  const QByteArray raw = QByteArray::fromStdString(bytes);
  const QString utf8 = QString::fromUtf8(raw);
  if (!utf8.contains(QChar::ReplacementCharacter)) {
    for (QChar c : utf8) {
      if (c.unicode() > 0xFF) return utf8;
    }
  }
  return QString::fromLatin1(raw);
}

std::string ToFileBytes(const QString& text) {
  for (QChar c : text) {
    if (c.unicode() > 0xFF) return text.toUtf8().toStdString();
  }
  return text.toLatin1().toStdString();
}

// The readers take the file's keys, read and indexed once per LoadSettings.
int32_t ReadInteger(const ProfileIndex& file, std::string_view key, int32_t default_value) {
  // A missing key reads as empty, which no number is.
  return ParseProfileInteger(file.Lookup(kWinSet, key).value_or(""), default_value);
}

bool ReadBool(const ProfileIndex& file, std::string_view key) {
  return ReadInteger(file, key, 0) != 0;
}

QString ReadName(const ProfileIndex& file, std::string_view key, const char* default_value) {
  return CutFontName(FromFileBytes(file.Lookup(kWinSet, key).value_or(default_value)));
}

// Gathers keys in the order they are written and writes them all to the file at once
// (Commit).
class Writer {
 public:
  explicit Writer(QString path) : path_(std::move(path)) {}

  void Text(std::string_view section, std::string_view key, const std::string& value) {
    entries_.push_back({std::string(section), std::string(key), value});
  }
  void Integer(std::string_view key, int32_t value) { Text(kWinSet, key, std::to_string(value)); }
  void Bool(std::string_view key, bool value) { Text(kWinSet, key, value ? "1" : "0"); }
  // The writing rule for one font's style: only the style that is the whole set is true.
  void Style(const char* prefix, FontStyleSet style) {
    const std::string p = prefix;
    Bool(p + "Bold", style == kStyleBold);
    Bool(p + "Italic", style == kStyleItalic);
    Bool(p + "Underline", style == kStyleUnderline);
    Bool(p + "StrikeOut", style == kStyleStrikeOut);
  }
  // Returns false when the file could not be written.
  bool Commit() const { return WriteProfileStrings(path_, entries_); }

 private:
  QString path_;
  std::vector<ProfileEntry> entries_;
};

// The reading rule for the four style booleans of one font.
FontStyleSet DecodeStyle(bool bold, bool italic, bool underline, bool strike_out,
                         FontStyleSet previous) {
  if (bold) return kStyleBold;
  if (italic) return kStyleItalic;
  if (underline) return kStyleUnderline;
  if (strike_out) return kStyleStrikeOut;
  return previous;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

SettingsState& Settings() {
  static SettingsState state;
  return state;
}

AppSettingsRecord& AppSettings() { return Settings().AppSettings; }

QString CutFontName(const QString& name) { return name.left(kFontNameMax); }

void InitSettingsModule() {
  SettingsState& s = Settings();
  s = SettingsState{};
  s.ProductName = QStringLiteral("Dayvane");
  s.Version = QStringLiteral("1.0");
  s.WebLine = QStringLiteral("www.dayvane.example");
  s.SupportLine = QStringLiteral("support@dayvane.example");
}

QString SettingsFilePath() {
  return QDir::currentPath() + QLatin1Char('/') + QLatin1String(kSettingsFileName);
}

int32_t ParseProfileInteger(std::string_view text, int32_t default_value) {
  std::string_view digits;
  bool hex = false;
  if (!text.empty() && text.front() == '$') {
    digits = text.substr(1);
    hex = true;
  } else if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    digits = text.substr(2);
    hex = true;
  }
  if (hex) {
    if (digits.empty()) return default_value;
    uint64_t value = 0;
    for (char c : digits) {
      int d = HexDigit(c);
      if (d < 0) return default_value;
      value = value * 16 + static_cast<uint64_t>(d);
      if (value > 0xFFFFFFFFull) return default_value;
    }
    return static_cast<int32_t>(static_cast<uint32_t>(value));
  }

  bool negative = false;
  digits = text;
  if (!digits.empty() && (digits.front() == '-' || digits.front() == '+')) {
    negative = digits.front() == '-';
    digits.remove_prefix(1);
  }
  if (digits.empty()) return default_value;
  int64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return default_value;
    value = value * 10 + (c - '0');
    if (value > 2147483648LL) return default_value;
  }
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return default_value;
  return static_cast<int32_t>(value);
}

void LoadSettings() {
  const std::string text = ReadProfileText(SettingsFilePath());
  const ProfileIndex file(text);
  AppSettingsRecord& a = AppSettings();
  a.CurrentPlacement.Top = ReadInteger(file, "Top", defaults::kTop);
  a.CurrentPlacement.Left = ReadInteger(file, "Left", defaults::kLeft);
  a.CurrentPlacement.Width = ReadInteger(file, "Width", defaults::kWidth);
  a.CurrentPlacement.Height = ReadInteger(file, "Height", defaults::kHeight);

  a.CMBC = ReadInteger(file, "CMBC", defaults::kCMBC);
  a.CTC = ReadInteger(file, "CTC", defaults::kCTC);
  a.CTBC = ReadInteger(file, "CTBC", defaults::kCTBC);
  a.CTTC = ReadInteger(file, "CTTC", defaults::kCTTC);
  a.CTTTC = ReadInteger(file, "CTTTC", defaults::kCTTTC);
  a.WC = ReadInteger(file, "WC", defaults::kWC);

  a.JMsgFN = ReadName(file, "JMsgFN", defaults::kFontName);
  a.CalFN = ReadName(file, "CalFN", defaults::kFontName);

  a.JMsgFS = ReadInteger(file, "JMsgFS", defaults::kFontSize);
  a.CalFS = ReadInteger(file, "CalFS", defaults::kFontSize);
  a.JMsgFC = ReadInteger(file, "JMsgFC", defaults::kFontColor);
  a.CalFC = ReadInteger(file, "CalFC", defaults::kFontColor);
  a.SPTOP = ReadInteger(file, "SPTOP", defaults::kSPTOP);

  const bool msg_bold = ReadBool(file, "JMsgFSBold");
  const bool msg_italic = ReadBool(file, "JMsgFSItalic");
  const bool msg_underline = ReadBool(file, "JMsgFSUnderline");
  const bool msg_strike = ReadBool(file, "JMsgFSStrikeOut");
  const bool cal_bold = ReadBool(file, "CalFSBold");
  const bool cal_italic = ReadBool(file, "CalFSItalic");
  const bool cal_underline = ReadBool(file, "CalFSUnderline");
  const bool cal_strike = ReadBool(file, "CalFSStrikeOut");
  a.CalStyle = DecodeStyle(cal_bold, cal_italic, cal_underline, cal_strike, a.CalStyle);
  a.JMsgStyle = DecodeStyle(msg_bold, msg_italic, msg_underline, msg_strike, a.JMsgStyle);
}

bool SaveSettings(const Placement& live_window, int32_t live_panel_height) {
  Writer w(SettingsFilePath());
  SettingsState& s = Settings();
  const AppSettingsRecord& a = s.AppSettings;

  const qsizetype lines = s.ThemeLines.size();
  w.Text(kThemes, "ThemeLINES", std::to_string(lines));
  for (qsizetype i = 0; i < lines; ++i) {
    const std::string n = std::to_string(i);
    w.Text(kThemes, "DB_" + n, ToFileBytes(s.ThemeLines[i]));
    w.Text(kThemes, "DBD_" + n,
           i < s.ThemeLinesD.size() ? ToFileBytes(s.ThemeLinesD[i]) : std::string());
  }

  w.Integer("Top", live_window.Top);
  w.Integer("Left", live_window.Left);
  w.Integer("Width", live_window.Width);
  w.Integer("Height", live_window.Height);
  w.Integer("CMBC", a.CMBC);
  w.Integer("CTC", a.CTC);
  w.Integer("CTBC", a.CTBC);
  w.Integer("CTTC", a.CTTC);
  w.Integer("CTTTC", a.CTTTC);
  w.Integer("WC", a.WC);
  w.Text(kWinSet, "JMsgFN", ToFileBytes(a.JMsgFN));
  w.Integer("JMsgFS", a.JMsgFS);
  w.Text(kWinSet, "CalFN", ToFileBytes(a.CalFN));
  w.Integer("CalFS", a.CalFS);
  w.Integer("SPTOP", live_panel_height);
  w.Integer("CalFC", a.CalFC);
  w.Integer("JMsgFC", a.JMsgFC);
  w.Style("JMsgFS", a.JMsgStyle);
  w.Style("CalFS", a.CalStyle);

  // Only a save that reached the file counts as one; otherwise the changes stay unsaved
  // and the close flow still offers to save them.
  if (!w.Commit()) return false;
  s.SavedThisRun = true;
  s.UnsavedChanges = false;
  return true;
}

void WritePosition(int32_t top, int32_t left) {
  Writer w(SettingsFilePath());
  w.Integer("Top", top);
  w.Integer("Left", left);
  w.Commit();
}

}  // namespace dayvane

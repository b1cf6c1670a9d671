// The calendar's settings module: the product strings, the settings record AppSettings
// shared by the main window and the options dialog, the change flags, and the settings
// file Dayvane.Ini with its reading (LoadSettings) and writing (SaveSettings,
// WritePosition) routines.
//
// The file lives in the working directory and its path is rebuilt at every access. Its
// section WinSet holds the window placement, the colours and the fonts; section THEMES
// holds the theme-line lists (always empty, so always ThemeLINES=0). Everything here
// runs on the GUI thread.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <string_view>

namespace dayvane {

// A font's style set, one bit per style. The file stores four booleans per font, and only
// a single style survives a save and a reload (see LoadSettings and SaveSettings).
using FontStyleSet = uint8_t;
inline constexpr FontStyleSet kStyleBold = 1;
inline constexpr FontStyleSet kStyleItalic = 2;
inline constexpr FontStyleSet kStyleUnderline = 4;
inline constexpr FontStyleSet kStyleStrikeOut = 8;

// Font names are kept to this many characters; whoever stores a name into AppSettings
// cuts it with CutFontName.
inline constexpr int kFontNameMax = 40;
QString CutFontName(const QString& name);

// A colour as the settings file holds it: red in the lowest byte (0x00BBGGRR). A value
// with the top bit set names a system colour (see color_value.h).
using ColorValue = int32_t;

// The main window's position and size in screen pixels: its client area, the window
// without the frame the window manager adds (which is not known before the window is
// first shown, so a frame position could not be given back exactly).
struct Placement {
  int32_t Top = 0;
  int32_t Left = 0;
  int32_t Width = 0;
  int32_t Height = 0;
};

// The settings record, starting zeroed (empty names, empty style sets).
struct AppSettingsRecord {
  Placement CurrentPlacement;  // refreshed from the live window before a dialog shows
  ColorValue CMBC = 0;         // month background
  ColorValue CTC = 0;          // kept and written back; colours nothing
  ColorValue CTBC = 0;         // title background
  ColorValue CTTC = 0;         // title text
  ColorValue CTTTC = 0;        // trailing days of the neighbouring months
  ColorValue WC = 0;           // window colour
  QString JMsgFN;              // message font; kept and written back only
  QString CalFN;               // calendar font
  int32_t JMsgFS = 0;          // points
  int32_t CalFS = 0;           // points
  FontStyleSet JMsgStyle = 0;
  FontStyleSet CalStyle = 0;
  ColorValue CalFC = 0;  // calendar font colour (day numbers)
  ColorValue JMsgFC = 0;
  int32_t SPTOP = 0;  // height of the calendar panel in pixels
};

// Defaults of the keys of section WinSet.
namespace defaults {
inline constexpr int32_t kTop = 50;
inline constexpr int32_t kLeft = 50;
inline constexpr int32_t kWidth = 190;
inline constexpr int32_t kHeight = 153;
inline constexpr ColorValue kCMBC = 16777215;  // white
inline constexpr ColorValue kCTC = 16711680;   // pure blue
inline constexpr ColorValue kCTBC = 0;         // black
inline constexpr ColorValue kCTTC = 16777215;
inline constexpr ColorValue kCTTTC = 16777215;
inline constexpr ColorValue kWC = 8421376;  // teal
inline constexpr const char* kFontName = "System";
inline constexpr int32_t kFontSize = 10;
inline constexpr ColorValue kFontColor = 0;
inline constexpr int32_t kSPTOP = 305;
}  // namespace defaults

// The module's state: one per program.
struct SettingsState {
  // Product strings, set once at start-up.
  QString ProductName;
  QString Version;
  QString WebLine;
  QString SupportLine;

  AppSettingsRecord AppSettings;

  // Change flags. ColorsChanged and FontChanged describe the current showing of the
  // options dialog; UnsavedChanges is set by an Apply that changed something and cleared
  // by SaveSettings; SavedThisRun is the other way round.
  bool ColorsChanged = false;
  bool FontChanged = false;
  bool UnsavedChanges = false;
  bool SavedThisRun = false;

  // The two parallel theme-line lists. Nothing fills them, so the file always receives
  // ThemeLINES=0.
  QStringList ThemeLines;
  QStringList ThemeLinesD;
};

SettingsState& Settings();
// Shorthand for Settings().AppSettings.
AppSettingsRecord& AppSettings();

// The module's start-up: product strings set, AppSettings zeroed, lists emptied, flags
// cleared. Runs before any window exists (and at the start of each test).
void InitSettingsModule();

// The settings file: the working directory as it is now, followed by "Dayvane.Ini".
inline constexpr const char* kSettingsFileName = "Dayvane.Ini";
QString SettingsFilePath();

// Reads an integer the way the settings file stores it: signed decimal; hexadecimal when
// the text is longer than two characters and begins with "0x" or "0X", or begins with
// "$" (up to eight hexadecimal digits; values above 0x7FFFFFFF wrap to negative, as the
// system colours do). Anything else, or a decimal value out of the 32-bit range, gives
// default_value.
int32_t ParseProfileInteger(std::string_view text, int32_t default_value);

// Reads every key of WinSet into AppSettings (CurrentPlacement included), with the
// defaults for missing or unreadable keys, names cut to kFontNameMax, and each style set
// decoded from its four booleans: the first true one of Bold, Italic, Underline,
// StrikeOut sets the style to that one alone; with none true the style stays as it was.
void LoadSettings();

// Writes the whole file: THEMES first, then every key of WinSet, taking the window's
// placement from live_window and SPTOP from live_panel_height, the rest from
// AppSettings. A style boolean is written true only when its style is the whole set.
// Afterwards SavedThisRun is true and UnsavedChanges false. Returns false, leaving both
// flags as they were, when any key could not be written.
bool SaveSettings(const Placement& live_window, int32_t live_panel_height);

// Writes only Top and Left of WinSet (the close flow's write after a move). A failure
// goes unnoticed: the window then simply opens at its old place.
void WritePosition(int32_t top, int32_t left);

}  // namespace dayvane

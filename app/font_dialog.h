// The font dialog of the options dialog: Qt's font dialog (family, style, size, underline,
// strike-out) with a text colour chosen from the sixteen basic colours, and the small
// value type that carries a calendar font in and out of it.
#pragma once

#include <QDialog>
#include <QFont>
#include <QString>

#include "app_settings.h"

class QComboBox;
class QFontDialog;
class QLabel;
class QObject;
class QEvent;

namespace dayvane {

// A font as the settings hold it: name, size in points, colour as stored in the settings
// file (0x00BBGGRR, or a system colour), and any combination of styles.
struct FontChoice {
  QString name;
  int32_t size = 0;
  ColorValue color = 0;
  FontStyleSet style = 0;

  bool operator==(const FontChoice&) const = default;
};

// Sets the font's bold, italic, underline and strike-out to those of style.
void SetFontStyle(QFont& font, FontStyleSet style);
// A QFont with the choice's name, size and style (the colour is not part of a QFont). A
// size that is not positive leaves the default size.
QFont FontFromChoice(const FontChoice& choice);
// The style set of a font: bold, italic, underline and strike-out, any combination.
FontStyleSet StyleOfFont(const QFont& font);

// The dialog window. The colour list holds the sixteen basic colours; a colour that is
// none of them (a system colour, a hand-edited value) is offered as one more entry,
// "Custom", so that confirming without touching the colour returns it unchanged. It is run
// like any dialog, through the prompts (CurrentPrompts().Exec), and read back with Choice().
class FontDialogWindow : public QDialog {
  Q_OBJECT

 public:
  explicit FontDialogWindow(QWidget* parent = nullptr);

  void SetChoice(const FontChoice& choice);
  FontChoice Choice() const;

  // The parts, for tests.
  QFontDialog* FontPart() const { return fontPart_; }
  QComboBox* ColorBox() const { return colorBox_; }
  QLabel* Sample() const { return sample_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void UpdateSample();
  // Shows font in Qt's dialog as the user's choice.
  void SetFontPart(const QFont& font);
  // Follows the user's changes in Qt's dialog.
  void FontChanged(const QFont& font);

  QFontDialog* fontPart_;
  QComboBox* colorBox_;
  QLabel* sample_;
  int32_t size_ = 0;  // the size handed in, kept when the dialog reports none
  QFont chosen_;      // the font as the user chose it last
  bool adjusting_ = false;
  // A name handed in that the font database does not list, and the family shown for it.
  QString substituteName_;
  QString substituteFamily_;
};

}  // namespace dayvane

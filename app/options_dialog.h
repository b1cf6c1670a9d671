// TOptionsF: the options dialog. It edits the five window colours and the calendar font in
// AppSettings directly, keeps a snapshot taken at each showing, and either keeps the edits
// (Apply, the OK result) or puts the snapshot back (Cancel, the close box, Escape: the
// cancel result), asking first when something was changed. The main window shows it
// modally and applies the values to the calendar after an Apply.
#pragma once

#include <QDialog>
#include <QString>
#include <QWidget>

#include "app_settings.h"

class QButtonGroup;
class QFrame;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class TMyColorGrid;

namespace dayvane {

class FontDialogWindow;

// The colour a grid cell stands for, as the settings file stores it (red in the lowest
// byte); indices outside 0 .. 15 give 0 (black).
ColorValue PaletteIndexToColor(int index);
// The cell showing `color`, or -1 when it is none of the sixteen.
int ColorToPaletteIndex(ColorValue color);

// A filled rectangle with a one-pixel black outline showing one colour.
class ColorSwatch : public QWidget {
  Q_OBJECT

 public:
  explicit ColorSwatch(QWidget* parent = nullptr);
  QColor Color() const { return color_; }
  void SetColor(const QColor& color);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor color_;
};

// What the dialog puts back when its edits are discarded.
struct OptionsSnapshot {
  ColorValue CMBC = 0;
  ColorValue CTBC = 0;
  ColorValue CTTC = 0;
  ColorValue CTTTC = 0;
  ColorValue WC = 0;
  QString JMsgFN;
  QString CalFN;
  int32_t JMsgFS = 0;
  int32_t CalFS = 0;
  ColorValue CalFC = 0;
  ColorValue JMsgFC = 0;
  FontStyleSet CalStyle = 0;
  FontStyleSet JMsgStyle = 0;
};

class TOptionsF : public QDialog {
  Q_OBJECT

 public:
  // The colour targets, in the order of RG's items.
  static constexpr int kTargetCount = 5;

  explicit TOptionsF(QWidget* parent = nullptr);
  ~TOptionsF() override;

  // Every close request ends here (Apply, Cancel, the close box, Escape): ConfirmDiscard
  // decides whether the dialog closes and with which result.
  void done(int result) override;

  // The selected colour target (RG's item index), -1 for none.
  int RGItemIndex() const;
  // The setting of colour target `item` (0 .. 4), nullptr outside.
  static ColorValue* TargetSetting(int item);
  // The swatch of colour target `item`.
  ColorSwatch* TargetSwatch(int item) const;
  // Marks `color` in the grid when it is one of the sixteen; otherwise the grid keeps its mark.
  void SelectGridColor(ColorValue color);

  bool AppliedThisShowing() const { return appliedThisShowing_; }

  // The controls, named as on the form.
  QLabel* Label1;
  QGroupBox* RG;
  QButtonGroup* RGButtons;
  QRadioButton* RGItems[kTargetCount];
  ColorSwatch* CMBCS;
  ColorSwatch* CTBCS;
  ColorSwatch* CTTCS;
  ColorSwatch* CTTTCS;
  ColorSwatch* WCS;
  TMyColorGrid* CG;
  QFrame* Panel1;
  QLabel* Label2;
  QPushButton* Button3;
  QLabel* CalL;
  QFrame* Panel3;
  QPushButton* Button1;
  QPushButton* CancelB;
  // Created when Set Font is first pressed.
  FontDialogWindow* FontDialog1 = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormShow();
  void FormActivate();
  void RGClick();
  void CG2Click();
  void Button3Click();
  void Button1Click();
  void CancelBClick();
  // Returns false when the user chose to stay (the close is called off).
  bool ConfirmDiscard();
  void ShowCalendarFont();

  OptionsSnapshot snapshot_;
  bool appliedThisShowing_ = false;
};

}  // namespace dayvane

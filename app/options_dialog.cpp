// The options dialog: its fixed layout, the colour targets, the font choice, and the close
// rules (keep on Apply, otherwise confirm and restore).
#include "options_dialog.h"

#include <QButtonGroup>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <optional>

#include "basic_colors.h"
#include "color_value.h"
#include "font_dialog.h"
#include "my_color_grid.h"
#include "prompts.h"
#include "screen_placement.h"

namespace dayvane {

ColorValue PaletteIndexToColor(int index) {
  if (index < 0 || index >= colorgrid::kBasicColorCount) return 0;
  return ValueFromColor(colorgrid::BasicColorAt(index));
}

int ColorToPaletteIndex(ColorValue color) {
  for (int i = 0; i < colorgrid::kBasicColorCount; ++i) {
    if (PaletteIndexToColor(i) == color) return i;
  }
  return -1;
}

// ---- ColorSwatch ----

ColorSwatch::ColorSwatch(QWidget* parent) : QWidget(parent), color_(0, 128, 128) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void ColorSwatch::SetColor(const QColor& color) {
  if (color == color_) return;
  color_ = color;
  update();
}

void ColorSwatch::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::black);
  p.fillRect(rect().adjusted(1, 1, -1, -1), color_);
}

// ---- Layout ----

namespace {

QFont HeadingFont() {
  QFont font(QStringLiteral("Courier New"), 12);
  font.setBold(true);
  return font;
}

QFrame* Separator(QWidget* parent, int x, int y) {
  auto* line = new QFrame(parent);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  line->setGeometry(x, y, 443, 3);
  return line;
}

QPushButton* Button(QWidget* parent, const QString& caption, int x, int y) {
  auto* button = new QPushButton(caption, parent);
  button->setGeometry(x, y, 75, 25);
  // Enter presses no button of this dialog unless it has the focus.
  button->setAutoDefault(false);
  return button;
}

// Swatch rows, beside RG's items.
constexpr int kSwatchTop[TOptionsF::kTargetCount] = {56, 94, 132, 170, 208};

// The colour targets in the order of RG's items: each one's swatch and setting.
struct ColorTarget {
  ColorSwatch* TOptionsF::*swatch;
  ColorValue AppSettingsRecord::*setting;
};
constexpr ColorTarget kTargets[TOptionsF::kTargetCount] = {
    {&TOptionsF::CMBCS, &AppSettingsRecord::CMBC}, {&TOptionsF::CTBCS, &AppSettingsRecord::CTBC},
    {&TOptionsF::CTTCS, &AppSettingsRecord::CTTC}, {&TOptionsF::CTTTCS, &AppSettingsRecord::CTTTC},
    {&TOptionsF::WCS, &AppSettingsRecord::WC},
};

}  // namespace

TOptionsF::TOptionsF(QWidget* parent) : QDialog(parent) {
  // The client area that holds the controls below (the window is 473 x 418 with its frame).
  setFixedSize(465, 391);
  setAutoFillBackground(true);
  QPalette silver = palette();
  silver.setColor(QPalette::Window, QColor(192, 192, 192));
  setPalette(silver);
  setFont(QFont(QStringLiteral("MS Sans Serif"), 8));

  Label1 = new QLabel(tr("Color Options"), this);
  Label1->setFont(HeadingFont());
  Label1->move(8, 8);
  Label1->adjustSize();

  RG = new QGroupBox(tr("Colors"), this);
  RG->setGeometry(56, 32, 249, 209);
  RGButtons = new QButtonGroup(this);
  const QString captions[kTargetCount] = {
      tr("Calendar Month Background Color"), tr("Calendar Title Background Color"),
      tr("Calendar Title Text Color"), tr("Calendar Title Trailing Text Color"),
      tr("Window Color")};
  for (int i = 0; i < kTargetCount; ++i) {
    RGItems[i] = new QRadioButton(captions[i], RG);
    RGItems[i]->adjustSize();
    // Centred on the row of its swatch (the swatches are 25 high, in dialog coordinates).
    const int rowCentre = kSwatchTop[i] + 12 - RG->y();
    RGItems[i]->move(8, rowCentre - RGItems[i]->height() / 2);
    RGButtons->addButton(RGItems[i], i);

    ColorSwatch* swatch = new ColorSwatch(this);
    swatch->setGeometry(16, kSwatchTop[i], 33, 25);
    this->*kTargets[i].swatch = swatch;
  }
  RGItems[0]->setChecked(true);
  connect(RGButtons, &QButtonGroup::idToggled, this, [this](int, bool checked) {
    if (checked) RGClick();
  });

  CG = new TMyColorGrid(this);
  CG->setGeometry(320, 38, 120, 160);
  CG->setBackgroundEnabled(false);
  // Reached with Tab after the colour targets, so that its keys (the arrows, Home, End,
  // Space to move, F to pick) work here too.
  CG->setTabStop(true);
  QFont gridFont(QStringLiteral("Courier"), 15);
  gridFont.setBold(true);
  CG->setFont(gridFont);
  connect(CG, &TMyColorGrid::OnClick, this, &TOptionsF::CG2Click);

  Panel1 = Separator(this, 8, 249);

  Label2 = new QLabel(tr("Font Options"), this);
  Label2->setFont(HeadingFont());
  Label2->move(8, 256);
  Label2->adjustSize();

  Button3 = Button(this, tr("Set Font"), 8, 288);
  connect(Button3, &QPushButton::clicked, this, &TOptionsF::Button3Click);

  CalL = new QLabel(tr("Calendar Text Font"), this);
  CalL->move(98, 290);
  CalL->adjustSize();

  Panel3 = Separator(this, 8, 339);

  Button1 = Button(this, tr("Apply"), 152, 352);
  connect(Button1, &QPushButton::clicked, this, &TOptionsF::Button1Click);
  CancelB = Button(this, tr("Cancel"), 240, 352);
  connect(CancelB, &QPushButton::clicked, this, &TOptionsF::CancelBClick);

  setTabOrder(RGItems[kTargetCount - 1], CG);
  setTabOrder(CG, Button3);
  setTabOrder(Button3, Button1);
  setTabOrder(Button1, CancelB);

  PlaceByClientArea(this);
}

TOptionsF::~TOptionsF() = default;

// ---- Colour targets ----

int TOptionsF::RGItemIndex() const { return RGButtons->checkedId(); }

ColorValue* TOptionsF::TargetSetting(int item) {
  return item >= 0 && item < kTargetCount ? &(AppSettings().*kTargets[item].setting) : nullptr;
}

ColorSwatch* TOptionsF::TargetSwatch(int item) const {
  return item >= 0 && item < kTargetCount ? this->*kTargets[item].swatch : nullptr;
}

void TOptionsF::SelectGridColor(ColorValue color) {
  const int index = ColorToPaletteIndex(color);
  if (index >= 0) CG->setForegroundIndex(index);
}

// ---- Showing ----

void TOptionsF::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;  // the window system re-showing it, not a new showing
  FormShow();
  FormActivate();
}

void TOptionsF::FormShow() {
  AppSettingsRecord& s = AppSettings();
  RGItems[0]->setChecked(true);
  SelectGridColor(s.CMBC);

  for (int i = 0; i < kTargetCount; ++i) {
    TargetSwatch(i)->SetColor(ColorFromValue(*TargetSetting(i), palette()));
  }
  snapshot_.CMBC = s.CMBC;
  snapshot_.CTBC = s.CTBC;
  snapshot_.CTTC = s.CTTC;
  snapshot_.CTTTC = s.CTTTC;
  snapshot_.WC = s.WC;

  ShowCalendarFont();

  snapshot_.JMsgFN = CutFontName(s.JMsgFN);
  snapshot_.CalFN = CutFontName(s.CalFN);
  snapshot_.JMsgFS = s.JMsgFS;
  snapshot_.CalFS = s.CalFS;
  snapshot_.CalFC = s.CalFC;
  snapshot_.JMsgFC = s.JMsgFC;
  snapshot_.CalStyle = s.CalStyle;
  snapshot_.JMsgStyle = s.JMsgStyle;

  Settings().ColorsChanged = false;
  Settings().FontChanged = false;
}

void TOptionsF::FormActivate() {
  const Placement& main = AppSettings().CurrentPlacement;
  // Centred horizontally on the main window, 20 pixels below its top; then kept on the
  // screen, since the small default window would otherwise push the wider dialog past
  // the screen's left edge and hide its swatches.
  PlaceOnScreen(this, int64_t{main.Left} + main.Width / 2 - width() / 2, int64_t{main.Top} + 20,
                width(), height());
  appliedThisShowing_ = false;
}

void TOptionsF::ShowCalendarFont() {
  const AppSettingsRecord& s = AppSettings();
  CalL->setFont(FontFromChoice({s.CalFN, s.CalFS, s.CalFC, s.CalStyle}));
  QPalette p = CalL->palette();
  p.setColor(QPalette::WindowText, ColorFromValue(s.CalFC, palette()));
  CalL->setPalette(p);
  CalL->adjustSize();
}

// ---- Events ----

void TOptionsF::RGClick() {
  if (const ColorValue* setting = TargetSetting(RGItemIndex())) SelectGridColor(*setting);
}

void TOptionsF::CG2Click() {
  const int item = RGItemIndex();
  ColorValue* setting = TargetSetting(item);
  if (!setting) return;
  Settings().ColorsChanged = true;
  *setting = PaletteIndexToColor(CG->ForegroundIndex());
  TargetSwatch(item)->SetColor(ColorFromValue(*setting, palette()));
}

void TOptionsF::Button3Click() {
  AppSettingsRecord& s = AppSettings();
  std::optional<FontChoice> chosen;
  try {
    if (!FontDialog1) FontDialog1 = new FontDialogWindow(this);
    FontDialog1->SetChoice({s.CalFN, s.CalFS, s.CalFC, s.CalStyle});
    if (CurrentPrompts().Exec(FontDialog1) == QDialog::Accepted) chosen = FontDialog1->Choice();
  } catch (...) {
    CurrentPrompts().Message(this, tr("Information"), tr("Error creating font window!"),
                             QMessageBox::Information, QMessageBox::Ok);
    return;
  }
  if (!chosen) return;
  Settings().FontChanged = true;
  s.CalFN = CutFontName(chosen->name);
  s.CalFS = chosen->size;
  s.CalFC = chosen->color;
  s.CalStyle = chosen->style;
  ShowCalendarFont();
}

void TOptionsF::Button1Click() {
  appliedThisShowing_ = true;
  SettingsState& state = Settings();
  if (state.ColorsChanged || state.FontChanged) {
    state.SavedThisRun = false;
    state.UnsavedChanges = true;
  }
  done(QDialog::Accepted);
}

void TOptionsF::CancelBClick() { done(QDialog::Rejected); }

void TOptionsF::done(int result) {
  if (appliedThisShowing_) {
    QDialog::done(result);
    return;
  }
  if (!ConfirmDiscard()) return;  // stays open with the edits in place
  QDialog::done(QDialog::Rejected);
}

bool TOptionsF::ConfirmDiscard() {
  const SettingsState& state = Settings();
  if (state.ColorsChanged || state.FontChanged) {
    const auto answer = CurrentPrompts().Message(
        this, tr("Confirm"), tr("You made changes. Do you really want to exit without applying?"),
        QMessageBox::Question, QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes) return false;
  }
  AppSettingsRecord& s = AppSettings();
  s.CMBC = snapshot_.CMBC;
  s.CTBC = snapshot_.CTBC;
  s.CTTC = snapshot_.CTTC;
  s.CTTTC = snapshot_.CTTTC;
  s.WC = snapshot_.WC;
  s.JMsgFN = snapshot_.JMsgFN;
  s.CalFN = snapshot_.CalFN;
  s.JMsgFS = snapshot_.JMsgFS;
  s.CalFS = snapshot_.CalFS;
  s.CalFC = snapshot_.CalFC;
  s.JMsgFC = snapshot_.JMsgFC;
  s.CalStyle = snapshot_.CalStyle;
  s.JMsgStyle = snapshot_.JMsgStyle;
  return true;
}

}  // namespace dayvane

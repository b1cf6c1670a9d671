// Tests of the options dialog and its font dialog, headless, with the prompts replaced so
// that each question is answered by the test: colour picks, the close rules with their
// confirmation, the snapshot, the font choice and its failure, placement and the look.
#include "options_dialog.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QFontDialog>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <QToolButton>
#include <stdexcept>
#include <vector>

#include "app/app_test_support.h"
#include "app/qt_test_environment.h"
#include "app_settings.h"
#include "color_value.h"
#include "application.h"
#include "font_dialog.h"
#include "main_form.h"
#include "month_calendar.h"
#include "my_color_grid.h"
#include "prompts.h"
#include "screen_placement.h"

namespace dayvane {
namespace {

constexpr ColorValue kTeal = 8421376;
constexpr ColorValue kBlue = 16711680;
constexpr ColorValue kRed = 255;
constexpr ColorValue kWhite = 16777215;

using testing::L;
using testing::Rendered;
using testing::ScriptedPrompts;
using testing::WorkingDirectory;

const QString kDiscardQuestion =
    QStringLiteral("You made changes. Do you really want to exit without applying?");

class OptionsDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitSettingsModule();
    AppSettingsRecord& s = AppSettings();
    s.CurrentPlacement = {50, 50, 190, 153};
    s.CMBC = kWhite;
    s.CTC = kBlue;
    s.CTBC = 0;
    s.CTTC = kWhite;
    s.CTTTC = kWhite;
    s.WC = kTeal;
    s.JMsgFN = s.CalFN = QStringLiteral("System");
    s.JMsgFS = s.CalFS = 10;
  }

  // Shows the dialog the way the main window does: flags cleared, then shown.
  void Open() {
    Settings().ColorsChanged = Settings().FontChanged = false;
    dialog_.show();
  }
  void ClickCell(int cell, Qt::MouseButton button = Qt::LeftButton) {
    QTest::mouseClick(dialog_.CG, button, {}, dialog_.CG->CellRect(cell).center());
  }
  // Runs the font dialog with the user choosing `choice` and OK.
  void ChooseFont(const FontChoice& choice) {
    prompts_.on_exec = [choice](QDialog* d) {
      static_cast<FontDialogWindow*>(d)->SetChoice(choice);
      return int(QDialog::Accepted);
    };
    dialog_.Button3->click();
  }

  ScriptedPrompts prompts_;
  TOptionsF dialog_;
};

TEST_F(OptionsDialogTest, LaidOutAsDesigned) {
  Open();
  EXPECT_EQ(dialog_.Label1->text(), L("Color Options"));
  EXPECT_EQ(dialog_.RG->title(), L("Colors"));
  EXPECT_EQ(dialog_.RG->geometry(), QRect(56, 32, 249, 209));
  const char* captions[] = {"Calendar Month Background Color", "Calendar Title Background Color",
                            "Calendar Title Text Color", "Calendar Title Trailing Text Color",
                            "Window Color"};
  for (int i = 0; i < TOptionsF::kTargetCount; ++i) {
    EXPECT_EQ(dialog_.RGItems[i]->text(), L(captions[i]));
    EXPECT_EQ(dialog_.TargetSwatch(i)->geometry(), QRect(16, 56 + 38 * i, 33, 25));
  }
  EXPECT_EQ(dialog_.CG->geometry(), QRect(320, 38, 120, 160));
  EXPECT_FALSE(dialog_.CG->BackgroundEnabled());
  EXPECT_EQ(dialog_.CG->focusPolicy(), Qt::TabFocus);  // a tab stop, after the targets
  EXPECT_EQ(dialog_.Button3->text(), L("Set Font"));
  EXPECT_EQ(dialog_.CalL->text(), L("Calendar Text Font"));
  EXPECT_EQ(dialog_.Button1->geometry(), QRect(152, 352, 75, 25));
  EXPECT_EQ(dialog_.Button1->text(), L("Apply"));
  EXPECT_EQ(dialog_.CancelB->text(), L("Cancel"));
  dialog_.done(QDialog::Rejected);
}

TEST_F(OptionsDialogTest, OpeningMarksTheMonthBackgroundAndFillsTheSwatches) {
  AppSettings().CMBC = kTeal;
  AppSettings().CTBC = kRed;
  dialog_.RGItems[3]->setChecked(true);
  Open();
  EXPECT_EQ(dialog_.RGItemIndex(), 0);
  EXPECT_EQ(dialog_.CG->ForegroundIndex(), 6);
  EXPECT_EQ(dialog_.CMBCS->Color(), QColor(0, 128, 128));
  EXPECT_EQ(dialog_.CTBCS->Color(), QColor(255, 0, 0));
  EXPECT_EQ(dialog_.WCS->Color(), QColor(0, 128, 128));

  // Choosing a target marks its colour; a colour outside the sixteen leaves the mark.
  dialog_.RGItems[1]->click();
  EXPECT_EQ(dialog_.CG->ForegroundIndex(), 9);
  AppSettings().CTTC = 0x123456;
  dialog_.RGItems[2]->click();
  EXPECT_EQ(dialog_.CG->ForegroundIndex(), 9);
  dialog_.done(QDialog::Rejected);
}

TEST_F(OptionsDialogTest, PickStoresIntoTheSelectedTargetOnly) {
  Open();
  dialog_.RGItems[4]->click();
  ClickCell(12);
  EXPECT_TRUE(Settings().ColorsChanged);
  EXPECT_EQ(AppSettings().WC, kBlue);
  EXPECT_EQ(dialog_.WCS->Color(), QColor(0, 0, 255));
  EXPECT_EQ(AppSettings().CMBC, kWhite);

  // A right click (background disabled) stores the current foreground colour again.
  dialog_.RGItems[1]->click();  // CTBC is black: cell 0
  Settings().ColorsChanged = false;
  ClickCell(9, Qt::RightButton);
  EXPECT_EQ(dialog_.CG->Selection(), 9);
  EXPECT_EQ(dialog_.CG->BackgroundIndex(), 0);
  EXPECT_EQ(AppSettings().CTBC, 0);
  EXPECT_TRUE(Settings().ColorsChanged);
  prompts_.answers = {QMessageBox::Yes};
  dialog_.done(QDialog::Rejected);
}

TEST_F(OptionsDialogTest, CancelAfterAPickAsksAndNoKeepsTheDialogOpen) {
  Open();
  ClickCell(9);
  EXPECT_EQ(AppSettings().CMBC, kRed);

  prompts_.answers = {QMessageBox::No};
  dialog_.CancelB->click();
  ASSERT_EQ(prompts_.asked.size(), 1u);
  EXPECT_EQ(prompts_.asked[0].caption, L("Confirm"));
  EXPECT_EQ(prompts_.asked[0].text, kDiscardQuestion);
  EXPECT_EQ(prompts_.asked[0].icon, QMessageBox::Question);
  EXPECT_EQ(prompts_.asked[0].buttons, QMessageBox::Yes | QMessageBox::No);
  EXPECT_TRUE(dialog_.isVisible());
  EXPECT_EQ(AppSettings().CMBC, kRed);
  EXPECT_EQ(dialog_.CMBCS->Color(), QColor(255, 0, 0));

  prompts_.answers = {QMessageBox::Yes};
  dialog_.CancelB->click();
  EXPECT_FALSE(dialog_.isVisible());
  EXPECT_EQ(dialog_.result(), QDialog::Rejected);
  EXPECT_EQ(AppSettings().CMBC, kWhite);
  EXPECT_FALSE(Settings().UnsavedChanges);
}

TEST_F(OptionsDialogTest, CancelPutsBackEveryColourTheDialogShows) {
  // Five colours, no two alike, so that one put back into another's place shows.
  const ColorValue before[TOptionsF::kTargetCount] = {kWhite, 0, kBlue, kRed, kTeal};
  for (int i = 0; i < TOptionsF::kTargetCount; ++i) *TOptionsF::TargetSetting(i) = before[i];
  Open();
  for (int i = 0; i < TOptionsF::kTargetCount; ++i) {
    dialog_.RGItems[i]->click();
    ClickCell(13);  // fuchsia, none of the five
    EXPECT_EQ(dialog_.TargetSwatch(i)->Color(), QColor(255, 0, 255)) << i;
  }
  prompts_.answers = {QMessageBox::Yes};
  dialog_.CancelB->click();
  ASSERT_FALSE(dialog_.isVisible());

  // The next opening shows the old colours, and so do the settings behind them.
  Open();
  for (int i = 0; i < TOptionsF::kTargetCount; ++i) {
    EXPECT_EQ(*TOptionsF::TargetSetting(i), before[i]) << dialog_.RGItems[i]->text().toStdString();
    EXPECT_EQ(ValueFromColor(dialog_.TargetSwatch(i)->Color()), before[i]) << i;
  }
  EXPECT_EQ(AppSettings().CTC, kBlue);  // never the dialog's
  dialog_.done(QDialog::Rejected);
}

TEST_F(OptionsDialogTest, TheGridIsReachedWithTabAndShowsItsSelector) {
  Open();
  dialog_.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog_));
  const QImage unfocused = Rendered(*dialog_.CG);
  dialog_.RGItems[4]->click();  // Window Color
  dialog_.RGItems[4]->setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  ASSERT_EQ(QApplication::focusWidget(), dialog_.CG);

  // The selector: the selection cell (0, the teal window colour is 6) drawn otherwise.
  const QImage focused = Rendered(*dialog_.CG);
  const QRect cell = dialog_.CG->CellRect(dialog_.CG->Selection());
  int changed = 0;
  for (int y = cell.top(); y <= cell.bottom(); ++y)
    for (int x = cell.left(); x <= cell.right(); ++x)
      changed += focused.pixel(x, y) != unfocused.pixel(x, y);
  EXPECT_GT(changed, cell.width());  // a dotted outline at least half round the cell
  const QRect other = dialog_.CG->CellRect(5);
  EXPECT_EQ(focused.copy(other), unfocused.copy(other));

  // Its keys work here: Right, Right, F picks cell 2 for the window colour.
  QTest::keyClick(dialog_.CG, Qt::Key_Right);
  QTest::keyClick(dialog_.CG, Qt::Key_Right);
  QTest::keyClick(dialog_.CG, Qt::Key_F);
  EXPECT_EQ(AppSettings().WC, PaletteIndexToColor(2));
  EXPECT_TRUE(Settings().ColorsChanged);

  // Then on to Set Font.
  QTest::keyClick(dialog_.CG, Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), dialog_.Button3);
  prompts_.answers = {QMessageBox::Yes};
  dialog_.done(QDialog::Rejected);
}

TEST_F(OptionsDialogTest, CloseBoxAndEscapeBehaveLikeCancel) {
  Open();
  ClickCell(2);
  prompts_.answers = {QMessageBox::No};
  dialog_.close();
  EXPECT_TRUE(dialog_.isVisible());
  EXPECT_EQ(prompts_.asked.size(), 1u);

  prompts_.answers = {QMessageBox::Yes};
  QTest::keyClick(&dialog_, Qt::Key_Escape);
  EXPECT_FALSE(dialog_.isVisible());
  EXPECT_EQ(prompts_.asked.size(), 2u);
  EXPECT_EQ(AppSettings().CMBC, kWhite);
}

TEST_F(OptionsDialogTest, CancelWithoutChangesClosesWithoutAQuestion) {
  Open();
  dialog_.RGItems[2]->click();
  ClickCell(5, Qt::MiddleButton);  // a middle click is no pick
  dialog_.CancelB->click();
  EXPECT_TRUE(prompts_.asked.empty());
  EXPECT_FALSE(dialog_.isVisible());
  EXPECT_EQ(dialog_.result(), QDialog::Rejected);
  EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
}

TEST_F(OptionsDialogTest, ApplyKeepsEditsAndReopeningTakesANewSnapshot) {
  Settings().SavedThisRun = true;
  Open();
  ClickCell(9);
  dialog_.Button1->click();
  EXPECT_FALSE(dialog_.isVisible());
  EXPECT_EQ(dialog_.result(), QDialog::Accepted);
  EXPECT_EQ(AppSettings().CMBC, kRed);
  EXPECT_TRUE(Settings().UnsavedChanges);
  EXPECT_FALSE(Settings().SavedThisRun);
  EXPECT_TRUE(prompts_.asked.empty());

  // The next showing starts from the applied values and clears AppliedThisShowing.
  Open();
  EXPECT_FALSE(dialog_.AppliedThisShowing());
  EXPECT_EQ(dialog_.CG->ForegroundIndex(), 9);
  ClickCell(15);
  prompts_.answers = {QMessageBox::Yes};
  dialog_.CancelB->click();
  EXPECT_EQ(AppSettings().CMBC, kRed);
}

TEST_F(OptionsDialogTest, ApplyWithoutChangesLeavesTheFlags) {
  Settings().SavedThisRun = true;
  Open();
  dialog_.Button1->click();
  EXPECT_EQ(dialog_.result(), QDialog::Accepted);
  EXPECT_TRUE(Settings().SavedThisRun);
  EXPECT_FALSE(Settings().UnsavedChanges);
}

TEST_F(OptionsDialogTest, FontChoiceIsStoredShownAndRestoredOnDiscard) {
  Open();
  ChooseFont({QStringLiteral("DejaVu Serif"), 18, kRed, kStyleBold | kStyleItalic});
  EXPECT_TRUE(Settings().FontChanged);
  EXPECT_EQ(AppSettings().CalFN, L("DejaVu Serif"));
  EXPECT_EQ(AppSettings().CalFS, 18);
  EXPECT_EQ(AppSettings().CalFC, kRed);
  EXPECT_EQ(AppSettings().CalStyle, kStyleBold | kStyleItalic);
  EXPECT_EQ(dialog_.CalL->font().pointSize(), 18);
  EXPECT_TRUE(dialog_.CalL->font().bold());
  EXPECT_TRUE(dialog_.CalL->font().italic());
  EXPECT_EQ(dialog_.CalL->palette().color(QPalette::WindowText), QColor(255, 0, 0));

  prompts_.answers = {QMessageBox::Yes};
  dialog_.CancelB->click();
  EXPECT_EQ(AppSettings().CalFN, L("System"));
  EXPECT_EQ(AppSettings().CalFS, 10);
  EXPECT_EQ(AppSettings().CalFC, 0);
  EXPECT_EQ(AppSettings().CalStyle, 0);
}

TEST_F(OptionsDialogTest, ApplyAfterAFontChangeSetsFontChanged) {
  Open();
  ChooseFont({QStringLiteral("DejaVu Sans"), 14, kBlue, kStyleUnderline});
  dialog_.Button1->click();
  EXPECT_EQ(dialog_.result(), QDialog::Accepted);
  EXPECT_TRUE(Settings().FontChanged);
  EXPECT_FALSE(Settings().ColorsChanged);
  EXPECT_TRUE(Settings().UnsavedChanges);
  EXPECT_EQ(AppSettings().CalFN, L("DejaVu Sans"));
  EXPECT_EQ(AppSettings().CalStyle, kStyleUnderline);
}

TEST_F(OptionsDialogTest, FontDialogFailureIsReportedAndChangesNothing) {
  Open();
  prompts_.on_exec = [](QDialog*) -> int { throw std::runtime_error("no font dialog"); };
  prompts_.answers = {QMessageBox::Ok};
  dialog_.Button3->click();
  ASSERT_EQ(prompts_.asked.size(), 1u);
  EXPECT_EQ(prompts_.asked[0].caption, L("Information"));
  EXPECT_EQ(prompts_.asked[0].text, L("Error creating font window!"));
  EXPECT_EQ(prompts_.asked[0].icon, QMessageBox::Information);
  EXPECT_EQ(prompts_.asked[0].buttons, QMessageBox::Ok);
  EXPECT_FALSE(Settings().FontChanged);
  EXPECT_EQ(AppSettings().CalFN, L("System"));

  // A cancelled font dialog changes nothing either.
  prompts_.on_exec = [](QDialog*) { return int(QDialog::Rejected); };
  dialog_.Button3->click();
  EXPECT_FALSE(Settings().FontChanged);
  dialog_.CancelB->click();
  EXPECT_EQ(prompts_.asked.size(), 1u);
}

TEST_F(OptionsDialogTest, PlacedBelowTheMainWindowsTopAndCentred) {
  AppSettings().CurrentPlacement = {100, 200, 401, 300};
  Open();
  // Client areas, as the main window's placement is.
  EXPECT_EQ(dialog_.geometry().left(), 200 + 401 / 2 - dialog_.width() / 2);
  EXPECT_EQ(dialog_.geometry().top(), 120);
  dialog_.done(QDialog::Rejected);
}

TEST_F(OptionsDialogTest, KeptOnTheScreenBesideTheSmallDefaultWindow) {
  // The default window (left 50, width 190) would centre the wider dialog past the
  // screen's left edge.
  AppSettings().CurrentPlacement = {50, 50, 190, 153};
  Open();
  const QRect area = dialog_.screen()->availableGeometry();
  EXPECT_EQ(dialog_.frameGeometry().left(), area.left());
  EXPECT_EQ(dialog_.geometry().top(), 70);
  dialog_.done(QDialog::Rejected);
  EXPECT_EQ(KeptOnScreen({-75, 70}, {440, 400}, dialog_.screen()).x(),
            dialog_.screen()->availableGeometry().left());
  EXPECT_EQ(KeptOnScreen({100, 70}, {440, 400}, nullptr), QPoint(100, 70));
}

TEST_F(OptionsDialogTest, RenderedSwatchesAndGridMarker) {
  AppSettings().CMBC = kTeal;
  AppSettings().CTTTC = kRed;
  Open();
  const QImage image = Rendered(dialog_);
  EXPECT_EQ(image.pixelColor(dialog_.CMBCS->geometry().center()), QColor(0, 128, 128));
  EXPECT_EQ(image.pixelColor(dialog_.CTTTCS->geometry().center()), QColor(255, 0, 0));
  EXPECT_EQ(image.pixelColor(dialog_.CTTTCS->geometry().topLeft()), QColor(0, 0, 0));
  // Cell 6 (teal) carries the red asterisk; cell 9 (red) none, the background being off.
  EXPECT_EQ(dialog_.CG->Markers(), (std::vector<TMyColorGrid::Marker>{
                                       {dialog_.CG->CellRect(6), QColor(255, 0, 0)}}));
  dialog_.done(QDialog::Rejected);
}

TEST(PaletteIndexToColor, MapsCellsToStoredValues) {
  const ColorValue expected[16] = {0,        128,      32768,    32896,   8388608, 8388736,
                                   8421376,  12632256, 8421504,  255,     65280,   65535,
                                   16711680, 16711935, 16776960, 16777215};
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(PaletteIndexToColor(i), expected[i]) << i;
    EXPECT_EQ(ColorToPaletteIndex(expected[i]), i);
  }
  EXPECT_EQ(PaletteIndexToColor(-1), 0);
  EXPECT_EQ(PaletteIndexToColor(16), 0);
  EXPECT_EQ(ColorToPaletteIndex(0x123456), -1);
  EXPECT_EQ(ColorToPaletteIndex(static_cast<ColorValue>(0x80000005)), -1);
}

// ---- The font dialog itself ----

TEST(FontDialogWindow, RoundTripsStylesColoursAndKeepsAnUnknownColour) {
  FontDialogWindow window;
  const QString family = QFontInfo(QFont(QStringLiteral("DejaVu Sans"))).family();
  window.SetChoice(
      {family, 16, 65280, kStyleBold | kStyleItalic | kStyleUnderline | kStyleStrikeOut});
  FontChoice back = window.Choice();
  EXPECT_EQ(back.name, family);
  EXPECT_EQ(back.size, 16);
  EXPECT_EQ(back.color, 65280);
  EXPECT_EQ(back.style, kStyleBold | kStyleItalic | kStyleUnderline | kStyleStrikeOut);
  EXPECT_EQ(window.ColorBox()->count(), 16);

  // A regular font comes back regular, and as the family's plain face.
  window.SetChoice({family, 16, 65280, 0});
  EXPECT_EQ(window.Choice().style, 0);
  EXPECT_FALSE(window.FontPart()->currentFont().styleName().contains(L("Condensed")));

  // A system colour (window colour, index 5) is offered as an extra entry and kept.
  const ColorValue system = static_cast<ColorValue>(0x80000005);
  window.SetChoice({family, 9, system, 0});
  EXPECT_EQ(window.ColorBox()->count(), 17);
  EXPECT_EQ(window.Choice().color, system);
  EXPECT_EQ(window.Choice().style, 0);
  window.ColorBox()->setCurrentIndex(9);
  EXPECT_EQ(window.Choice().color, kRed);
  window.SetChoice({family, 9, kWhite, 0});
  EXPECT_EQ(window.ColorBox()->count(), 16);
}

TEST(FontDialogWindow, ANameOutsideTheFontListKeepsItsStyles) {
  // "System" is the settings' default name and no font of this machine: confirming the
  // dialog untouched must not lose bold on the substitute family.
  FontDialogWindow window;
  for (const char* name : {"System", "No Such Font At All"}) {
    for (FontStyleSet style : {kStyleBold, FontStyleSet(kStyleBold | kStyleItalic),
                               FontStyleSet(kStyleBold | kStyleStrikeOut)}) {
      window.SetChoice({L(name), 14, kRed, style});
      const FontChoice back = window.Choice();
      EXPECT_EQ(back.style, style) << name << " style " << int(style);
      EXPECT_EQ(back.size, 14) << name;
      EXPECT_EQ(back.color, kRed) << name;
    }
  }
}

TEST(FontDialogWindow, EscapeInTheFontPartClosesTheWholeDialog) {
  FontDialogWindow window;
  window.show();
  QTest::keyClick(window.FontPart(), Qt::Key_Escape);
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(window.result(), QDialog::Rejected);
  EXPECT_FALSE(window.FontPart()->isHidden());
}

// The list of Qt's font dialog that holds `entry` (the family, style and size lists).
QListView* ListHolding(FontDialogWindow& window, const QString& entry) {
  for (QListView* list : window.FontPart()->findChildren<QListView*>()) {
    if (list->model() &&
        !list->model()->match(list->model()->index(0, 0), Qt::DisplayRole, entry, 1,
                              Qt::MatchFixedString).isEmpty()) {
      return list;
    }
  }
  return nullptr;
}

// Selects `entry` in that list as a click would.
void Choose(FontDialogWindow& window, const QString& entry) {
  QListView* list = ListHolding(window, entry);
  ASSERT_NE(list, nullptr) << entry.toStdString();
  const QModelIndexList found = list->model()->match(list->model()->index(0, 0), Qt::DisplayRole,
                                                     entry, 1, Qt::MatchFixedString);
  list->setCurrentIndex(found.front());
}

TEST(FontDialogWindow, AnotherFamilyKeepsTheChosenStyle) {
  FontDialogWindow window;
  window.show();
  for (FontStyleSet style : {FontStyleSet(0), kStyleBold, kStyleItalic,
                             FontStyleSet(kStyleBold | kStyleItalic)}) {
    window.SetChoice({L("DejaVu Serif"), 12, 0, style});
    for (const char* family : {"DejaVu Sans", "DejaVu Sans Mono", "DejaVu Serif"}) {
      Choose(window, L(family));
      const FontChoice back = window.Choice();
      EXPECT_EQ(back.name, L(family));
      EXPECT_EQ(back.style, style) << family << " style " << int(style);
      EXPECT_EQ(back.size, 12) << family;
    }
  }
}

TEST(FontDialogWindow, TheDefaultFontOffersBoldAndKeepsItsName) {
  FontDialogWindow window;
  window.show();
  window.SetChoice({L("System"), 10, 0, 0});
  EXPECT_NE(ListHolding(window, L("Bold")), nullptr);  // the style list has a bold face
  EXPECT_EQ(window.Choice(), (FontChoice{L("System"), 10, 0, 0}));  // confirmed untouched
  Choose(window, L("Bold"));
  EXPECT_EQ(window.Choice(), (FontChoice{L("System"), 10, 0, kStyleBold}));
  Choose(window, L("DejaVu Serif"));
  EXPECT_EQ(window.Choice(), (FontChoice{L("DejaVu Serif"), 10, 0, kStyleBold}));
}

TEST(FontDialogWindow, TheListsShowEightRowsHoweverLargeTheDialogIs) {
  FontDialogWindow window;
  window.SetChoice({L("DejaVu Sans"), 10, 0, 0});
  // Squeezed as far as its layout lets it, as on a small or scaled screen.
  window.resize(1, 1);
  window.show();
  int lists = 0;
  for (QListView* list : window.FontPart()->findChildren<QListView*>()) {
    ++lists;
    EXPECT_GE(list->viewport()->height(), 8 * list->fontMetrics().lineSpacing());
  }
  EXPECT_EQ(lists, 3);  // family, style, size
}

TEST(FontDialogWindow, ShowsOneSampleInTheChosenFontAndColour) {
  FontDialogWindow window;
  window.show();
  window.SetChoice({L("DejaVu Serif"), 20, kRed, kStyleItalic});
  int samples = 0;
  for (QWidget* w : window.findChildren<QWidget*>()) {
    if (!w->isVisible()) continue;
    const auto* label = qobject_cast<QLabel*>(w);
    const auto* edit = qobject_cast<QLineEdit*>(w);
    samples += (label && label->text() == L("AaBbYyZz")) || (edit && edit->text() == L("AaBbYyZz"));
  }
  EXPECT_EQ(samples, 1);
  EXPECT_EQ(window.Sample()->font().family(), L("DejaVu Serif"));
  EXPECT_TRUE(window.Sample()->font().italic());
  EXPECT_EQ(window.Sample()->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  Choose(window, L("36"));
  EXPECT_EQ(window.Sample()->font().pointSize(), 36);
}

// ---- The road of one settings change, through the main window ----

// One run of the program: the forms created and the main window shown, with every dialog
// run through the test's prompts.
class ProgramRun {
 public:
  ProgramRun() {
    InitSettingsModule();
    forms_ = CreateForms();
    forms_.Form1->show();
    QCoreApplication::processEvents();
  }
  ~ProgramRun() {
    forms_.Form1->close();
    delete forms_.Form1;
  }
  TForm1* form() const { return forms_.Form1; }
  TOptionsF* options() const { return forms_.OptionsF; }

 private:
  Forms forms_;
};

// Counts the calendar's pixels of one colour as it is drawn now.
int CalendarPixels(TForm1* form, const QColor& color) {
  const QImage image = Rendered(*form->MonthCalendar1);
  int n = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) n += image.pixelColor(x, y) == color;
  return n;
}

class OptionsRoadTest : public ::testing::Test {
 protected:
  WorkingDirectory wd_;
  ScriptedPrompts prompts_;
};

TEST_F(OptionsRoadTest, PickApplySaveAndTheNextStartShowsIt) {
  {
    ProgramRun run;
    const QColor red(255, 0, 0);
    EXPECT_EQ(CalendarPixels(run.form(), red), 0);
    prompts_.on_exec = [&](QDialog* dialog) {
      EXPECT_EQ(dialog, run.options());
      dialog->show();
      TMyColorGrid* grid = run.options()->CG;
      QTest::mouseClick(grid, Qt::LeftButton, {}, grid->CellRect(9).center());
      run.options()->Button1->click();
      return dialog->result();
    };
    run.form()->OptionsB->click();
    EXPECT_EQ(run.form()->MonthCalendar1->ColorSlot(TMonthCalendar::kSlotMonthBackground), kRed);
    EXPECT_TRUE(Settings().UnsavedChanges);
    // The month background is painted red now.
    EXPECT_GT(CalendarPixels(run.form(), red), 1000);

    run.form()->SaveBClick();
    const std::string ini = zedra::testing::ReadFileBytes(wd_.Ini());
    EXPECT_NE(ini.find("\r\nCMBC=255\r\n"), std::string::npos) << ini;
    EXPECT_FALSE(Settings().UnsavedChanges);
  }
  ProgramRun next;
  EXPECT_EQ(next.form()->MonthCalendar1->ColorSlot(TMonthCalendar::kSlotMonthBackground), kRed);
}

TEST_F(OptionsRoadTest, TheSizeChosenInTheFontDialogIsTheCalendarsSize) {
  ProgramRun run;
  prompts_.on_exec = [&](QDialog* dialog) {
    if (auto* fonts = qobject_cast<FontDialogWindow*>(dialog)) {
      fonts->show();
      Choose(*fonts, L("DejaVu Sans Mono"));
      Choose(*fonts, L("20"));
      fonts->hide();
      return int(QDialog::Accepted);
    }
    dialog->show();
    run.options()->Button3->click();
    EXPECT_EQ(run.options()->CalL->font().pointSize(), 20);  // the dialog's sample
    run.options()->Button1->click();
    return dialog->result();
  };
  run.form()->OptionsB->click();
  const QFont font = run.form()->MonthCalendar1->font();
  EXPECT_EQ(font.family(), L("DejaVu Sans Mono"));
  EXPECT_EQ(font.pointSize(), 20);
  prompts_.answers = {QMessageBox::No};  // "Save Changes Before Exiting?"
}

TEST_F(OptionsRoadTest, ChosenFontReachesTheCalendarOnlyOnApply) {
  ProgramRun run;
  const FontChoice serif{QStringLiteral("DejaVu Serif"), 16, kBlue, kStyleItalic};
  bool apply = false;
  prompts_.on_exec = [&](QDialog* dialog) {
    if (auto* fonts = qobject_cast<FontDialogWindow*>(dialog)) {
      fonts->SetChoice(serif);
      return int(QDialog::Accepted);
    }
    dialog->show();
    run.options()->Button3->click();
    if (apply) {
      run.options()->Button1->click();
    } else {
      prompts_.answers = {QMessageBox::Yes};
      run.options()->CancelB->click();
    }
    return dialog->result();
  };
  run.form()->OptionsB->click();
  EXPECT_EQ(run.form()->MonthCalendar1->font().family(), L("System"));
  EXPECT_EQ(AppSettings().CalFN, L("System"));

  apply = true;
  run.form()->OptionsB->click();
  EXPECT_TRUE(Settings().FontChanged);
  const QFont font = run.form()->MonthCalendar1->font();
  EXPECT_EQ(font.family(), L("DejaVu Serif"));
  EXPECT_EQ(font.pointSize(), 16);
  EXPECT_TRUE(font.italic());
  EXPECT_EQ(run.form()->MonthCalendar1->ColorSlot(TMonthCalendar::kSlotText), kBlue);
  prompts_.answers = {QMessageBox::No};  // "Save Changes Before Exiting?"
}

}  // namespace
}  // namespace dayvane

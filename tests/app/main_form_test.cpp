// The main window's flows, headless, with the prompts answered by the tests: start-up
// with and without a settings file, the close rules, Save, the options, about and help
// commands, and the calendar's colour slots.
#include "main_form.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QToolButton>

#include "about_box.h"
#include "app/app_test_support.h"
#include "app/qt_test_environment.h"
#include "application.h"
#include "help_window.h"
#include "month_calendar.h"
#include "options_dialog.h"
#include "today.h"

namespace dayvane {
namespace {

using testing::L;
using testing::ScriptedPrompts;
using testing::WorkingDirectory;
using zedra::testing::ReadFileBytes;
using zedra::testing::WriteFileBytes;

void Settle() {
  for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
}

// One run of the program: the settings module started afresh, the forms created and the
// main window shown (which reads the settings file).
class ProgramRun {
 public:
  ProgramRun() {
    InitSettingsModule();
    forms_ = CreateForms();
    form()->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(form()));
    Settle();
  }
  ~ProgramRun() { delete forms_.Form1; }

  TForm1* form() const { return forms_.Form1; }
  const Forms& forms() const { return forms_; }
  void Close() {
    Settle();
    form()->close();
  }

 private:
  Forms forms_;
};

// Writes the file a Save leaves behind for the window as it first opens, so that the next
// run starts with stored sizes that match the window.
std::string SaveMatchingFile(const WorkingDirectory& wd) {
  ProgramRun run;
  run.form()->SaveBClick();
  run.Close();
  return ReadFileBytes(wd.Ini());
}

std::string ReplaceLine(std::string file, const std::string& key, const std::string& value) {
  const size_t at = file.find("\r\n" + key + "=");
  EXPECT_NE(at, std::string::npos) << key;
  const size_t end = file.find("\r\n", at + 2);
  return file.replace(at + 2, end - at - 2, key + "=" + value);
}

// Fixes the calendar's today for the life of the object.
class FixedToday {
 public:
  explicit FixedToday(QDate date) { SetTodayOverride(date); }
  ~FixedToday() { SetTodayOverride(std::nullopt); }
};

TEST(MainFormTest, StartsWithTheDefaultsWithoutASettingsFile) {
  WorkingDirectory wd;
  ScriptedPrompts prompts;
  const FixedToday today(QDate(2024, 2, 29));
  ProgramRun run;
  TForm1* f = run.form();
  EXPECT_EQ(f->windowTitle(), L("Dayvane 1.0"));
  EXPECT_EQ(f->geometry().topLeft(), QPoint(50, 50));  // the client area, as stored
  const auto& loaded = f->LoadedPlacement();
  EXPECT_EQ(loaded.Top, 50);
  EXPECT_EQ(loaded.Left, 50);
  EXPECT_EQ(loaded.Width, 190);
  EXPECT_EQ(loaded.Height, 153);
  EXPECT_EQ(loaded.SPTOP, 305);
  EXPECT_TRUE(f->Panel1->isVisible());
  EXPECT_TRUE(f->MonthCalendar1->isVisible());
  EXPECT_EQ(f->MonthCalendar1->selectedDate(), QDate(2024, 2, 29));
  EXPECT_EQ(f->MonthCalendar1->font().family(), L("System"));
  EXPECT_EQ(f->MonthCalendar1->font().pointSize(), 10);
  EXPECT_FALSE(f->MonthCalendar1->font().bold());
  EXPECT_EQ(f->Panel1->palette().color(QPalette::Window), QColor(0, 128, 128));
  EXPECT_EQ(f->palette().color(QPalette::Window), QColor(0, 128, 128));
  EXPECT_NE(f->Panel2->palette().color(QPalette::Window), QColor(0, 128, 128));
  EXPECT_EQ(run.forms().OptionsF->windowTitle(), L("Dayvane Options"));
  EXPECT_EQ(Application().Title, L("Orvelle v1.0"));
  EXPECT_FALSE(QFile::exists(QString::fromStdString(wd.Ini())));  // reading creates nothing

  // 190 x 153 is smaller than the calendar allows and the panel is not 305 high, but the
  // window is as the program opened it: nothing was changed, so nothing is asked or written.
  EXPECT_GT(f->width(), 190);
  EXPECT_NE(f->Panel1->height(), 305);
  run.Close();
  EXPECT_TRUE(prompts.asked.empty());
  EXPECT_FALSE(QFile::exists(QString::fromStdString(wd.Ini())));
}

TEST(MainFormTest, AMoveAloneWritesOnlyTopAndLeftWithoutAsking) {
  WorkingDirectory wd;
  ScriptedPrompts prompts;
  const std::string saved = SaveMatchingFile(wd);
  ASSERT_TRUE(prompts.asked.empty());

  ProgramRun run;
  run.form()->move(run.form()->x() + 30, run.form()->y() + 20);
  run.Close();
  EXPECT_TRUE(prompts.asked.empty());
  EXPECT_EQ(ReadFileBytes(wd.Ini()), ReplaceLine(ReplaceLine(saved, "Top", "70"), "Left", "80"));

  // Neither moved nor resized: nothing is written.
  const std::string now = ReadFileBytes(wd.Ini());
  ProgramRun again;
  again.Close();
  EXPECT_TRUE(prompts.asked.empty());
  EXPECT_EQ(ReadFileBytes(wd.Ini()), now);
}

TEST(MainFormTest, AResizeAsksAndOnlyYesWrites) {
  WorkingDirectory wd;
  ScriptedPrompts prompts;
  const std::string saved = SaveMatchingFile(wd);

  {
    ProgramRun run;
    run.form()->resize(run.form()->width() + 40, run.form()->height() + 30);
    prompts.answers = {QMessageBox::No};
    run.Close();
    EXPECT_EQ(prompts.asked.size(), 1u);
    EXPECT_EQ(ReadFileBytes(wd.Ini()), saved);
  }
  {
    ProgramRun run;
    run.form()->resize(run.form()->width() + 40, run.form()->height() + 30);
    const int width = run.form()->width();
    prompts.answers = {QMessageBox::Yes};
    run.Close();
    EXPECT_EQ(prompts.asked.size(), 2u);
    EXPECT_NE(ReadFileBytes(wd.Ini()).find("\r\nWidth=" + std::to_string(width) + "\r\n"),
              std::string::npos);
  }
}

TEST(MainFormTest, AStoredPanelHeightThatDiffersAsksUntilASave) {
  WorkingDirectory wd;
  ScriptedPrompts prompts;
  WriteFileBytes(wd.Ini(), ReplaceLine(SaveMatchingFile(wd), "SPTOP", "305"));
  const std::string stale = ReadFileBytes(wd.Ini());
  for (int i = 0; i < 2; ++i) {
    ProgramRun run;
    prompts.answers = {QMessageBox::No};
    run.Close();
    EXPECT_EQ(prompts.asked.size(), static_cast<size_t>(i + 1));
    EXPECT_EQ(ReadFileBytes(wd.Ini()), stale);
  }
  int panel_height = 0;
  {
    ProgramRun run;
    panel_height = run.form()->Panel1->height();
    prompts.answers = {QMessageBox::Yes};
    run.Close();
    EXPECT_EQ(prompts.asked.size(), 3u);
  }
  const std::string fixed = ReadFileBytes(wd.Ini());
  EXPECT_EQ(fixed, ReplaceLine(stale, "SPTOP", std::to_string(panel_height)));
  ProgramRun quiet;
  quiet.Close();
  EXPECT_EQ(prompts.asked.size(), 3u);
  EXPECT_EQ(ReadFileBytes(wd.Ini()), fixed);
}

TEST(MainFormTest, AfterSaveNeitherAResizeNorAMoveIsWritten) {
  WorkingDirectory wd;
  ScriptedPrompts prompts;
  ProgramRun run;
  run.form()->SaveChangesMade1->trigger();
  const std::string saved = ReadFileBytes(wd.Ini());
  EXPECT_NE(saved.find("\r\nSPTOP=" + std::to_string(run.form()->Panel1->height()) + "\r\n"),
            std::string::npos);
  EXPECT_TRUE(Settings().SavedThisRun);
  run.form()->resize(run.form()->width() + 50, run.form()->height() + 50);
  run.form()->move(run.form()->x() + 10, run.form()->y() + 10);
  run.Close();
  EXPECT_TRUE(prompts.asked.empty());
  EXPECT_EQ(ReadFileBytes(wd.Ini()), saved);
}

TEST(MainFormTest, ASaveThatFailsSaysSoAndTheCloseStillAsks) {
  WorkingDirectory wd;
  ScriptedPrompts prompts;
  SaveMatchingFile(wd);
  ProgramRun run;
  Settings().UnsavedChanges = true;  // as after an Apply
  ASSERT_TRUE(QFile::remove(QString::fromStdString(wd.Ini())));
  ASSERT_TRUE(QDir().mkdir(QString::fromStdString(wd.Ini())));
  prompts.answers = {QMessageBox::Ok};
  run.form()->SaveB->click();
  ASSERT_EQ(prompts.asked.size(), 1u);
  EXPECT_EQ(prompts.asked[0].icon, QMessageBox::Warning);
  EXPECT_TRUE(prompts.asked[0].text.contains(L("Dayvane.Ini")));
  EXPECT_FALSE(Settings().SavedThisRun);
  prompts.answers = {QMessageBox::No};
  run.Close();
  ASSERT_EQ(prompts.asked.size(), 2u);
  EXPECT_EQ(prompts.asked[1].text, L("Save Changes Before Exiting?"));
}

TEST(MainFormTest, OptionsApplyOnlyWhatChangedAndOnlyOnApply) {
  WorkingDirectory wd;
  ScriptedPrompts prompts;
  ProgramRun run;
  TForm1* f = run.form();
  TMonthCalendar* cal = f->MonthCalendar1;
  const ColorValue kRed = 255;
  const ColorValue kGreen = 0x00FF00;

  // The dialog sees fresh flags and the live placement, changes a colour, and is
  // cancelled: nothing reaches the calendar.
  Settings().ColorsChanged = true;
  Settings().FontChanged = true;
  f->setGeometry(120, 90, f->width(), f->height());
  prompts.on_exec = [&](QDialog* dialog) {
    EXPECT_EQ(dialog, run.forms().OptionsF);
    EXPECT_FALSE(Settings().ColorsChanged);
    EXPECT_FALSE(Settings().FontChanged);
    EXPECT_EQ(AppSettings().CurrentPlacement.Left, 120);
    EXPECT_EQ(AppSettings().CurrentPlacement.Top, 90);
    EXPECT_EQ(AppSettings().CurrentPlacement.Width, f->width());
    AppSettings().CMBC = kRed;
    Settings().ColorsChanged = true;
    return static_cast<int>(QDialog::Rejected);
  };
  f->OptionsB->click();
  EXPECT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(cal->ColorSlot(TMonthCalendar::kSlotMonthBackground), 16777215);

  // Apply without a change flag applies nothing either.
  prompts.on_exec = [&](QDialog*) {
    AppSettings().CMBC = kRed;
    AppSettings().CalFS = 20;
    return static_cast<int>(QDialog::Accepted);
  };
  f->Options1->trigger();
  EXPECT_EQ(cal->ColorSlot(TMonthCalendar::kSlotMonthBackground), 16777215);
  EXPECT_EQ(cal->font().pointSize(), 10);

  // Colours applied: slots 2 to 5 and the window colour, not the day numbers.
  prompts.on_exec = [&](QDialog*) {
    AppSettingsRecord& a = AppSettings();
    a.CMBC = kRed;
    a.CTBC = kGreen;
    a.CTTC = 1;
    a.CTTTC = 2;
    a.WC = 3;
    a.CalFC = kGreen;
    Settings().ColorsChanged = true;
    return static_cast<int>(QDialog::Accepted);
  };
  f->OptionsBClick();
  EXPECT_EQ(cal->ColorSlot(TMonthCalendar::kSlotMonthBackground), kRed);
  EXPECT_EQ(cal->ColorSlot(TMonthCalendar::kSlotTitleBackground), kGreen);
  EXPECT_EQ(cal->ColorSlot(TMonthCalendar::kSlotTitleText), 1);
  EXPECT_EQ(cal->ColorSlot(TMonthCalendar::kSlotTrailingText), 2);
  EXPECT_EQ(cal->ColorSlot(TMonthCalendar::kSlotText), 0);
  EXPECT_EQ(f->Panel1->palette().color(QPalette::Window), QColor(3, 0, 0));

  // Font applied: name, size, style and the day-number colour.
  prompts.on_exec = [&](QDialog*) {
    AppSettingsRecord& a = AppSettings();
    a.CalFN = L("DejaVu Serif");
    a.CalFS = 16;
    a.CalStyle = kStyleItalic | kStyleUnderline;
    a.CalFC = kRed;
    Settings().FontChanged = true;
    return static_cast<int>(QDialog::Accepted);
  };
  f->OptionsBClick();
  EXPECT_EQ(cal->font().family(), L("DejaVu Serif"));
  EXPECT_EQ(cal->font().pointSize(), 16);
  EXPECT_TRUE(cal->font().italic());
  EXPECT_TRUE(cal->font().underline());
  EXPECT_FALSE(cal->font().bold());
  EXPECT_EQ(cal->ColorSlot(TMonthCalendar::kSlotText), kRed);

  // A size that is not a size leaves the calendar's size alone.
  prompts.on_exec = [&](QDialog*) {
    AppSettings().CalFS = 0;
    Settings().FontChanged = true;
    return static_cast<int>(QDialog::Accepted);
  };
  f->OptionsBClick();
  EXPECT_EQ(cal->font().pointSize(), 16);

  prompts.answers = {QMessageBox::No};
  run.Close();
}

TEST(MainFormTest, TheAboutBoxCentresOnTheWindowAndFillsItsLabels) {
  WorkingDirectory wd;
  ScriptedPrompts prompts;
  ProgramRun run;
  TForm1* f = run.form();
  f->setGeometry(101, 77, 401, 355);
  Settle();
  QPoint shown_at;  // the box's client area, as the main window's placement is
  QRect frame;
  prompts.on_exec = [&](QDialog* dialog) {
    dialog->show();
    Settle();
    shown_at = dialog->geometry().topLeft();
    frame = dialog->frameGeometry();
    dialog->hide();
    return static_cast<int>(QDialog::Accepted);
  };
  f->AboutB2->click();
  ASSERT_EQ(prompts.shown.size(), 1u);
  TAboutBox* about = run.forms().AboutBox;
  EXPECT_EQ(prompts.shown[0], about);
  EXPECT_EQ(about->size(), QSize(538, 244));
  const Placement p = AppSettings().CurrentPlacement;
  EXPECT_EQ(p.Left, 101);
  EXPECT_EQ(p.Top, 77);
  EXPECT_EQ(p.Width, f->width());
  EXPECT_EQ(shown_at, QPoint(p.Left + p.Width / 2 - 269, p.Top + p.Height / 2 - 122));
  EXPECT_EQ(about->windowTitle(), L("About Dayvane"));
  EXPECT_EQ(about->ProductName->text(), L("Dayvane"));
  EXPECT_TRUE(about->ProductName->font().bold());
  EXPECT_EQ(about->Version->text(), L("Version 1.0"));
  EXPECT_TRUE(about->WebL->text().startsWith(L("Visit us at: ")));
  EXPECT_TRUE(about->SupportL->text().startsWith(L("Email us at: ")));

  // The menu item shows the same box, placed again from the window's new place.
  f->setGeometry(150, 90, f->width(), f->height());
  Settle();
  f->About1->trigger();
  EXPECT_EQ(prompts.shown.size(), 2u);
  EXPECT_EQ(shown_at, QPoint(150 + f->width() / 2 - 269, 90 + f->height() / 2 - 122));

  // The box is wider than the window: at the screen's left or right edge the centred
  // place would cut the box off, so it moves sideways just enough to stay on the screen.
  const QRect area = about->screen()->availableGeometry();
  ASSERT_LT(f->width(), 538);
  f->setGeometry(area.left(), 60, f->width(), f->height());
  Settle();
  f->AboutB2Click();
  EXPECT_EQ(frame.left(), area.left());
  EXPECT_EQ(shown_at.y(), 60 + f->height() / 2 - 122);
  f->setGeometry(area.right() + 1 - f->width(), 60, f->width(), f->height());
  Settle();
  f->AboutB2Click();
  EXPECT_EQ(frame.right(), area.right());
  EXPECT_EQ(shown_at.y(), 60 + f->height() / 2 - 122);

  // Close answers OK.
  about->show();
  about->CloseB->click();
  EXPECT_EQ(about->result(), QDialog::Accepted);

  prompts.answers = {QMessageBox::No};
  run.Close();
}

TEST(MainFormTest, HelpOpensTheWorkingDirectorysHelpFileOrSaysItIsMissing) {
  WorkingDirectory wd;
  ScriptedPrompts prompts;
  ProgramRun run;
  THelpWindow* help = run.forms().HelpWindow;

  prompts.answers = {QMessageBox::Ok};
  run.form()->HelpB2->click();
  ASSERT_EQ(prompts.asked.size(), 1u);
  EXPECT_EQ(prompts.asked[0].icon, QMessageBox::Warning);
  EXPECT_TRUE(prompts.asked[0].text.contains(L("Dayvane.hlp")));
  EXPECT_FALSE(help->isVisible());
  EXPECT_EQ(Application().HelpFile, QDir::currentPath() + L("/Dayvane.hlp"));

  WriteFileBytes(wd.File("Dayvane.hlp"),
                 "<html><head><title>Dayvane Help</title></head><body>"
                 "<h1>Contents</h1><p>First page.</p><a name=\"keys\"></a><p>Keys.</p>"
                 "</body></html>");
  run.form()->Contents1->trigger();
  EXPECT_EQ(prompts.asked.size(), 1u);
  EXPECT_TRUE(help->isVisible());
  EXPECT_EQ(help->windowTitle(), L("Dayvane Help"));
  EXPECT_TRUE(help->Browser()->toPlainText().contains(L("First page.")));
  EXPECT_TRUE(help->RunMacro(L("JumpID(\"\",\"keys\")")));
  EXPECT_FALSE(help->RunMacro(L("JumpID(\"other.hlp\",\"keys\")")));
  EXPECT_FALSE(help->RunMacro(L("CloseWindow(\"main\")")));

  prompts.answers = {QMessageBox::No};
  run.Close();
}

TEST(MainFormTest, TheCalendarShowsTheStoredColoursAndFont) {
  WorkingDirectory wd;
  ScriptedPrompts prompts;
  WriteFileBytes(wd.Ini(),
                 "[WinSet]\r\n"
                 "CMBC=255\r\n"           // red month background
                 "CTBC=65280\r\n"         // green title
                 "CTTC=16711680\r\n"      // blue title text
                 "CTTTC=8421504\r\n"      // grey trailing days
                 "CalFC=-2147483630\r\n"  // the system's button text colour
                 "WC=0x00FFFF\r\n"        // yellow window
                 "CalFN=DejaVu Sans\r\nCalFS=13\r\nCalFSItalic=1\r\nCalFSBold=1\r\n");
  ProgramRun run;
  TMonthCalendar* cal = run.form()->MonthCalendar1;
  const QPalette pal = cal->palette();
  EXPECT_EQ(pal.color(QPalette::Base), QColor(255, 0, 0));
  EXPECT_EQ(pal.color(QPalette::Highlight), QColor(0, 255, 0));
  EXPECT_EQ(pal.color(QPalette::HighlightedText), QColor(0, 0, 255));
  EXPECT_EQ(pal.color(QPalette::Disabled, QPalette::Text), QColor(128, 128, 128));
  const QColor button_text = QApplication::palette().color(QPalette::ButtonText);
  EXPECT_EQ(pal.color(QPalette::Active, QPalette::Text), button_text);
  EXPECT_EQ(cal->weekdayTextFormat(Qt::Sunday).foreground().color(), button_text);
  EXPECT_EQ(run.form()->Panel1->palette().color(QPalette::Window), QColor(255, 255, 0));
  QWidget* bar = cal->findChild<QWidget*>(L("qt_calendar_navigationbar"));
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->palette().color(QPalette::Window), QColor(0, 255, 0));
  EXPECT_EQ(cal->font().family(), L("DejaVu Sans"));
  EXPECT_EQ(cal->font().pointSize(), 13);
  EXPECT_TRUE(cal->font().bold());
  EXPECT_FALSE(cal->font().italic());

  // The day click selects and changes nothing else.
  const QDate day(2031, 12, 31);
  cal->setSelectedDate(day);
  emit cal->clicked(day);
  EXPECT_EQ(cal->selectedDate(), day);
  EXPECT_FALSE(Settings().UnsavedChanges);

  prompts.answers = {QMessageBox::No};
  run.Close();
}

TEST(MainFormTest, ToolbarAndMenuAreAsDesigned) {
  WorkingDirectory wd;
  ScriptedPrompts prompts;
  ProgramRun run;
  TForm1* f = run.form();
  EXPECT_EQ(f->Panel2->height(), 31);
  EXPECT_EQ(f->Panel3->width(), 49);
  EXPECT_EQ(f->OptionsB->geometry(), QRect(4, 2, 35, 26));
  EXPECT_EQ(f->SaveB->geometry(), QRect(41, 2, 35, 26));
  EXPECT_EQ(f->HelpB2->geometry(), QRect(79, 2, 35, 26));
  EXPECT_EQ(f->AboutB2->geometry(), QRect(116, 2, 35, 26));
  EXPECT_EQ(f->ExitB->toolTip(), L("Exit The Program."));
  EXPECT_EQ(f->SaveB->toolTip(), L("Save Changes Made."));
  EXPECT_EQ(f->MonthCalendar1->toolTip(), L("Click on any day to see more messages."));
  f->resize(f->width() + 100, f->height());
  Settle();
  EXPECT_EQ(f->ExitB->geometry().right() + 1, f->Panel2->width() - 4);
  EXPECT_FALSE(f->SaveB->icon().pixmap(QSize(16, 16), QIcon::Disabled).isNull());
  QStringList menus;
  for (QAction* menu : f->MainMenu1->actions()) {
    menus << menu->text();
    for (QAction* item : menu->menu()->actions()) menus << item->text();
  }
  EXPECT_EQ(menus, (QStringList{L("&File"), L("&Save Changes Made"), L("&Exit"), L("&Tools"),
                                L("&Options"), L("&Help"), L("&Contents"), L("&About")}));

  // The menu's Exit runs the close flow.
  prompts.answers = {QMessageBox::No};
  f->Exit1->trigger();
  EXPECT_EQ(prompts.asked.size(), 1u);
  EXPECT_FALSE(f->isVisible());
}

}  // namespace
}  // namespace dayvane

namespace dayvane {
namespace {

// A help window that notes the macros it is sent.
class NotingHelpWindow : public THelpWindow {
 public:
  bool RunMacro(const QString& macro) override {
    macros.push_back(macro);
    return THelpWindow::RunMacro(macro);
  }
  QStringList macros;
};

TEST(MainFormHelpTest, TheHelpCommandJumpsToTheContentsTopic) {
  WorkingDirectory wd;
  ScriptedPrompts prompts;
  ProgramRun run;
  NotingHelpWindow help;
  run.form()->SetDialogs(run.forms().AboutBox, run.forms().OptionsF, &help);

  // Without a help file the viewer reports it and no macro follows.
  prompts.answers = {QMessageBox::Ok};
  run.form()->HelpB2->click();
  EXPECT_TRUE(help.macros.isEmpty());

  WriteFileBytes(wd.File("Dayvane.hlp"), "<html><body><p>Contents.</p></body></html>");
  run.form()->Contents1->trigger();
  EXPECT_TRUE(help.isVisible());
  EXPECT_EQ(help.macros, QStringList{L("JumpID(\"\",\"\")")});
  run.Close();
}

// Writes a settings file of the given WinSet lines and starts the program on it.
struct HostileCase {
  const char* what;
  const char* lines;
};

TEST(MainFormPlacementTest, HostileSettingsOpenAUsableWindowOnTheScreen) {
  const HostileCase cases[] = {
      {"huge size", "Width=2147483647\r\nHeight=2147483647\r\n"},
      {"off the bottom left", "Top=5000\r\nLeft=-3000\r\n"},
      {"off the top right", "Top=-2147483648\r\nLeft=2147483647\r\nWidth=400\r\n"},
      {"negative size", "Width=-50\r\nHeight=-2147483648\r\n"},
      {"huge font", "CalFS=499\r\n"},
      {"everything", "Top=99999\r\nLeft=99999\r\nWidth=99999\r\nHeight=99999\r\nCalFS=499\r\n"},
  };
  for (const HostileCase& c : cases) {
    SCOPED_TRACE(c.what);
    WorkingDirectory wd;
    ScriptedPrompts prompts;
    const std::string file = std::string("[WinSet]\r\n") + c.lines + "SPTOP=1\r\n";
    WriteFileBytes(wd.Ini(), file);
    ProgramRun run;
    TForm1* f = run.form();
    const QRect area = f->screen()->availableGeometry();
    EXPECT_TRUE(area.contains(f->frameGeometry())) << f->frameGeometry().x() << ","
                                                   << f->frameGeometry().y() << " "
                                                   << f->frameGeometry().width() << "x"
                                                   << f->frameGeometry().height();
    EXPECT_TRUE(f->MonthCalendar1->isVisible());
    // Untouched, the window closes without a question about the panel it could not have
    // and without writing: the file keeps what it holds until the user saves.
    prompts.answers = {QMessageBox::No};  // the stored panel height of 1 differs
    run.Close();
    EXPECT_EQ(ReadFileBytes(wd.Ini()), file);
  }
}

TEST(MainFormPlacementTest, AWindowKeptOnTheScreenCountsAsUnmovedUntilTheUserMovesIt) {
  WorkingDirectory wd;
  ScriptedPrompts prompts;
  const std::string saved = SaveMatchingFile(wd);
  const std::string off = ReplaceLine(ReplaceLine(saved, "Top", "5000"), "Left", "-3000");
  WriteFileBytes(wd.Ini(), off);
  {
    ProgramRun run;
    EXPECT_TRUE(run.form()->screen()->availableGeometry().contains(run.form()->frameGeometry()));
    run.Close();
    EXPECT_TRUE(prompts.asked.empty());
    EXPECT_EQ(ReadFileBytes(wd.Ini()), off);
  }
  ProgramRun run;
  run.form()->setGeometry(QRect(QPoint(211, 123), run.form()->size()));
  run.Close();
  EXPECT_TRUE(prompts.asked.empty());
  EXPECT_EQ(ReadFileBytes(wd.Ini()), ReplaceLine(ReplaceLine(off, "Top", "123"), "Left", "211"));
}

TEST(MainFormCloseTest, EscapeOrTheCloseButtonOfTheExitQuestionKeepsTheProgramOpen) {
  WorkingDirectory wd;
  ScriptedPrompts prompts;
  ProgramRun run;
  TForm1* f = run.form();
  bool closed = false;
  QObject::connect(f, &TForm1::closed, [&] { closed = true; });
  Settings().UnsavedChanges = true;  // as after an Apply
  prompts.answers = {QMessageBox::Cancel};
  run.Close();
  ASSERT_EQ(prompts.asked.size(), 1u);
  EXPECT_EQ(prompts.asked[0].buttons, QMessageBox::Yes | QMessageBox::No);
  EXPECT_EQ(prompts.asked[0].escape, QMessageBox::Cancel);
  EXPECT_TRUE(f->isVisible());
  EXPECT_FALSE(closed);
  EXPECT_TRUE(Settings().UnsavedChanges);
  EXPECT_FALSE(QFile::exists(QString::fromStdString(wd.Ini())));

  // Yes still saves and exits.
  prompts.answers = {QMessageBox::Yes};
  run.Close();
  EXPECT_FALSE(f->isVisible());
  EXPECT_TRUE(closed);
  EXPECT_TRUE(QFile::exists(QString::fromStdString(wd.Ini())));
}

// The real message box, answered by keys and the close button.
TEST(RealPromptsTest, EscapeAndTheCloseButtonAnswerTheGivenButton) {
  ASSERT_EQ(&CurrentPrompts(), &CurrentPrompts());
  for (bool by_key : {true, false}) {
    QTimer::singleShot(0, [by_key] {
      QWidget* box = QApplication::activeModalWidget();
      ASSERT_NE(box, nullptr);
      if (by_key) {
        QTest::keyClick(box, Qt::Key_Escape);
      } else {
        box->close();
      }
    });
    const QMessageBox::StandardButton answer =
        CurrentPrompts().Message(nullptr, L("Confirm"), L("Save Changes Before Exiting?"),
                                 QMessageBox::Question, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::Cancel);
    EXPECT_EQ(answer, QMessageBox::Cancel) << (by_key ? "Escape" : "close button");
  }
  // The box shows only Yes and No.
  QTimer::singleShot(0, [] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    int shown = 0;
    for (QAbstractButton* b : box->buttons()) shown += b->isVisibleTo(box);
    EXPECT_EQ(shown, 2);
    box->button(QMessageBox::No)->click();
  });
  EXPECT_EQ(CurrentPrompts().Message(nullptr, L("Confirm"), L("?"), QMessageBox::Question,
                                     QMessageBox::Yes | QMessageBox::No, QMessageBox::Cancel),
            QMessageBox::No);
}

}  // namespace
}  // namespace dayvane

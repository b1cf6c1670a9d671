// TForm1: the main window. A toolbar (Panel2) with five buttons, a silver strip (Panel3),
// a splitter and the calendar panel (Panel1) holding the month calendar, under a menu.
//
// Life of the window: created hidden; on its first showing the calendar goes to today
// (FormShow), then the settings file is read and applied and the window placed, captioned
// and made visible (FormActivate, once per run). The commands save the settings, run the
// options dialog, open the help and the about box, and close. Closing asks
// "Save Changes Before Exiting?" when something changed since the start of the run and
// nothing was saved (Escape or the box's close button call the exit off); a window that
// was only moved has its new position written silently.
#pragma once

#include <QDate>
#include <QMainWindow>
#include <cstdint>

#include "app_settings.h"

class QAction;
class QFrame;
class QSplitter;
class QToolButton;

namespace dayvane {

class TAboutBox;
class THelpWindow;
class TMonthCalendar;
class TOptionsF;

class TForm1 : public QMainWindow {
  Q_OBJECT

 public:
  // The placement read from the settings file at start-up; the close flow compares the
  // live window with it. Never changed afterwards.
  struct LoadedPlacementRecord {
    int32_t Top = 0;
    int32_t Left = 0;
    int32_t Width = 0;
    int32_t Height = 0;
    int32_t SPTOP = 0;
  };

  explicit TForm1(QWidget* parent = nullptr);

  // The dialogs the commands show; none is owned.
  void SetDialogs(TAboutBox* about_box, TOptionsF* options, THelpWindow* help);

  // The window's live placement (its client area).
  Placement LivePlacement() const;
  const LoadedPlacementRecord& LoadedPlacement() const { return loaded_placement_; }
  // The placement the window started with (the stored one, kept on the screen) and the
  // panel height the close flow compares with.
  const Placement& StartedPlacement() const { return started_; }
  int32_t StartedPanelHeight() const { return started_panel_height_; }

  // The controls, named as designed.
  QFrame* Panel2;
  QToolButton* OptionsB;
  QToolButton* SaveB;
  QToolButton* HelpB2;
  QToolButton* AboutB2;
  QToolButton* ExitB;
  QFrame* Panel3;
  QSplitter* Splitter1;
  QFrame* Panel1;
  TMonthCalendar* MonthCalendar1;
  QMenuBar* MainMenu1;
  QAction* SaveChangesMade1;
  QAction* Exit1;
  QAction* Options1;
  QAction* Contents1;
  QAction* About1;

 public slots:
  void SaveBClick();
  void ExitBClick();
  void OptionsBClick();
  void HelpB2Click();
  void AboutB2Click();
  void MonthCalendar1Click(QDate date);

 signals:
  // The close flow has run and the window is closing: the program ends.
  void closed();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FormCreate();
  void FormShow();
  void FormActivate();
  // What the close flow compares with: the window as it is now.
  void NoteStartedPlacement();
  // Moves the window so that its frame, known once it is on the screen, is on the screen
  // too; the new place counts as the one it started with.
  void KeepFrameOnScreen();
  // Returns false when the user called the exit off.
  bool FormClose();

  void BuildToolbar();
  void BuildMenu();
  // Colour slots 2 to 5 of the calendar, and the window colour.
  void ApplyColors();
  // Name, size and style of the calendar font.
  void ApplyCalendarFont();
  // The largest calendar the screen has room for beside the rest of the window.
  QSize CalendarRoom() const;
  void ApplyWindowColor();
  // Lets the calendar fit its panel again after a change of colours or font.
  void RefitCalendar();
  void PlaceExitButton();

  TAboutBox* about_box_ = nullptr;
  TOptionsF* options_ = nullptr;
  THelpWindow* help_ = nullptr;
  LoadedPlacementRecord loaded_placement_;
  Placement started_;
  int32_t started_panel_height_ = 0;
  bool first_run_ = false;   // there was no settings file at the start
  bool frame_kept_ = false;  // KeepFrameOnScreen has been asked for
  bool activated_ = false;
};

}  // namespace dayvane

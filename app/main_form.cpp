// The main window and its commands.
#include "main_form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QLayout>
#include <QMenuBar>
#include <QScreen>
#include <QSplitter>
#include <QToolButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>

#include "about_box.h"
#include "application.h"
#include "color_value.h"
#include "font_dialog.h"
#include "glyphs.h"
#include "help_window.h"
#include "month_calendar.h"
#include "options_dialog.h"
#include "prompts.h"
#include "screen_placement.h"
#include "today.h"

namespace dayvane {
namespace {

// The window as designed, before the settings place it.
constexpr int kDesignWidth = 523;
constexpr int kDesignHeight = 495;
constexpr int kToolbarHeight = 31;
constexpr int kButtonWidth = 35;
constexpr int kButtonHeight = 26;
constexpr int kButtonTop = 2;
// Space between the exit button and the toolbar's right edge.
constexpr int kExitRightGap = 4;
constexpr int kStripWidth = 49;
// The calendar panel keeps a narrow border of the window colour around the calendar.
constexpr int kCalendarMargin = 4;

// Font sizes below this are not applied (the calendar keeps its font size): zero or less
// is not a size. Sizes above the upper one would not fit any screen; within the range the
// screen decides (ApplyCalendarFont).
constexpr int kMinFontPoints = 1;
constexpr int kMaxFontPoints = 500;

// The colour of a window's own background role, pinned so that the window colour set on
// the main window does not spread to the toolbar and the menu.
void PinWindowColor(QWidget* widget, const QColor& color) {
  QPalette pal = widget->palette();
  pal.setColor(QPalette::Window, color);
  widget->setPalette(pal);
  widget->setAutoFillBackground(true);
}

}  // namespace

TForm1::TForm1(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("Form1"));
  setFont(QFont(QStringLiteral("MS Sans Serif"), 8));

  auto* client = new QWidget(this);
  auto* column = new QVBoxLayout(client);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  Panel2 = new QFrame(client);
  Panel2->setObjectName(QStringLiteral("Panel2"));
  Panel2->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Panel2->setFixedHeight(kToolbarHeight);
  PinWindowColor(Panel2, QApplication::palette().color(QPalette::Window));
  column->addWidget(Panel2);

  Splitter1 = new QSplitter(Qt::Horizontal, client);
  Splitter1->setObjectName(QStringLiteral("Splitter1"));
  Splitter1->setHandleWidth(0);
  Splitter1->setOpaqueResize(false);
  Splitter1->setChildrenCollapsible(false);
  column->addWidget(Splitter1, 1);

  Panel3 = new QFrame(Splitter1);
  Panel3->setObjectName(QStringLiteral("Panel3"));
  Panel3->setFrameStyle(QFrame::NoFrame);
  // The splitter between the strip and the calendar is zero pixels wide, so the strip
  // keeps its width.
  Panel3->setFixedWidth(kStripWidth);
  PinWindowColor(Panel3, QColor(192, 192, 192));  // silver

  Panel1 = new QFrame(Splitter1);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  Panel1->setAutoFillBackground(true);
  auto* fill = new QVBoxLayout(Panel1);
  fill->setContentsMargins(kCalendarMargin, kCalendarMargin, kCalendarMargin, kCalendarMargin);
  MonthCalendar1 = new TMonthCalendar(Panel1);
  MonthCalendar1->setObjectName(QStringLiteral("MonthCalendar1"));
  MonthCalendar1->setToolTip(tr("Click on any day to see more messages."));
  MonthCalendar1->setFont(QFont(QStringLiteral("Courier New"), 14));
  fill->addWidget(MonthCalendar1);
  connect(MonthCalendar1, &QCalendarWidget::clicked, this, &TForm1::MonthCalendar1Click);

  Splitter1->addWidget(Panel3);
  Splitter1->addWidget(Panel1);
  Splitter1->setStretchFactor(0, 0);
  Splitter1->setStretchFactor(1, 1);
  Splitter1->setSizes({kStripWidth, kDesignWidth - kStripWidth});
  if (QSplitterHandle* handle = Splitter1->handle(1)) handle->setCursor(Qt::SplitHCursor);

  setCentralWidget(client);
  BuildToolbar();
  BuildMenu();

  // Designed to open at the screen's centre; the settings move it on activation. Like
  // every window of the program it is placed by its client area (screen_placement.h).
  QRect design(0, 0, kDesignWidth, kDesignHeight);
  if (QScreen* screen = QApplication::primaryScreen()) {
    design.moveCenter(screen->availableGeometry().center());
  }
  setGeometry(design);
  FormCreate();
}

void TForm1::BuildToolbar() {
  struct ButtonDesign {
    QToolButton** button;
    const char* name;
    int left;
    Glyph glyph;
    QString hint;
  };
  const ButtonDesign designs[] = {
      {&OptionsB, "OptionsB", 4, Glyph::kOptions, tr("Configure options for the program.")},
      {&SaveB, "SaveB", 41, Glyph::kSave, tr("Save Changes Made.")},
      {&HelpB2, "HelpB2", 79, Glyph::kHelp, tr("Get Help For The Program.")},
      {&AboutB2, "AboutB2", 116, Glyph::kAbout, tr("Information About The Program.")},
      {&ExitB, "ExitB", kDesignWidth - kExitRightGap - kButtonWidth, Glyph::kExit,
       tr("Exit The Program.")},
  };
  for (const ButtonDesign& design : designs) {
    auto* button = new QToolButton(Panel2);
    button->setObjectName(QLatin1String(design.name));
    button->setGeometry(design.left, kButtonTop, kButtonWidth, kButtonHeight);
    button->setIcon(GlyphIcon(design.glyph));
    button->setIconSize(QSize(16, 16));
    button->setToolTip(design.hint);
    button->setFocusPolicy(Qt::NoFocus);
    *design.button = button;
  }
  connect(OptionsB, &QToolButton::clicked, this, &TForm1::OptionsBClick);
  connect(SaveB, &QToolButton::clicked, this, &TForm1::SaveBClick);
  connect(HelpB2, &QToolButton::clicked, this, &TForm1::HelpB2Click);
  connect(AboutB2, &QToolButton::clicked, this, &TForm1::AboutB2Click);
  connect(ExitB, &QToolButton::clicked, this, &TForm1::ExitBClick);
  Panel2->installEventFilter(this);
}

void TForm1::BuildMenu() {
  MainMenu1 = menuBar();
  MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
  PinWindowColor(MainMenu1, QApplication::palette().color(QPalette::Window));
  QMenu* file = MainMenu1->addMenu(tr("&File"));
  SaveChangesMade1 = file->addAction(tr("&Save Changes Made"), this, &TForm1::SaveBClick);
  Exit1 = file->addAction(tr("&Exit"), this, &TForm1::ExitBClick);
  QMenu* tools = MainMenu1->addMenu(tr("&Tools"));
  Options1 = tools->addAction(tr("&Options"), this, &TForm1::OptionsBClick);
  QMenu* help = MainMenu1->addMenu(tr("&Help"));
  Contents1 = help->addAction(tr("&Contents"), this, &TForm1::HelpB2Click);
  About1 = help->addAction(tr("&About"), this, &TForm1::AboutB2Click);
}

void TForm1::SetDialogs(TAboutBox* about_box, TOptionsF* options, THelpWindow* help) {
  about_box_ = about_box;
  options_ = options;
  help_ = help;
}

Placement TForm1::LivePlacement() const {
  const QRect client = geometry();
  Placement p;
  p.Top = client.top();
  p.Left = client.left();
  p.Width = client.width();
  p.Height = client.height();
  return p;
}

void TForm1::FormCreate() {
  setVisible(false);
  Panel1->setVisible(false);
  MonthCalendar1->setVisible(false);
}

void TForm1::FormShow() {
  MonthCalendar1->setSelectedDate(Today());
  MonthCalendar1->update();
}

void TForm1::FormActivate() {
  SettingsState& s = Settings();
  if (options_) options_->setWindowTitle(s.ProductName + tr(" Options"));

  const bool first_run = !QFile::exists(SettingsFilePath());
  LoadSettings();
  AppSettingsRecord& a = s.AppSettings;
  loaded_placement_ = {a.CurrentPlacement.Top, a.CurrentPlacement.Left, a.CurrentPlacement.Width,
                       a.CurrentPlacement.Height, a.SPTOP};

  MonthCalendar1->SetColorSlot(TMonthCalendar::kSlotText, a.CalFC);
  ApplyColors();
  ApplyCalendarFont();

  // The panel fills the client area, so the layout overrides this height at once.
  Panel1->resize(Panel1->width(), a.SPTOP);
  setWindowTitle(s.ProductName + QLatin1Char(' ') + s.Version);

  MonthCalendar1->update();
  RefitCalendar();
  Panel1->setVisible(true);
  MonthCalendar1->setVisible(true);
  RefitCalendar();

  // The placement comes last, once the font has set the window's smallest size. The
  // window goes where the file says, kept on the screen and no larger than it; the file
  // keeps the stored values until the user saves. What the window started with is what
  // the close flow compares with: only the user's own moves and resizes count as
  // changes, and without a settings file the panel's first height is no change either.
  // The layouts take in the font now rather than at the next turn of the event loop.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
  if (QLayout* own = layout()) {
    own->invalidate();
    own->activate();
  }
  const Placement& stored = a.CurrentPlacement;
  PlaceOnScreen(this, stored.Left, stored.Top, stored.Width, stored.Height);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
  if (QLayout* own = layout()) own->activate();
  RefitCalendar();
  // The calendar, shown only now, may have made the window grow to its smallest size on
  // the way: kept on the screen again at the size it has.
  const QRect grown = geometry();
  PlaceOnScreen(this, grown.x(), grown.y(), grown.width(), grown.height());
  first_run_ = first_run;
  NoteStartedPlacement();
  // The window manager's frame is known only once the window is on the screen; then the
  // frame is kept on the screen too (KeepFrameOnScreen).
  if (QWindow* handle = windowHandle()) handle->installEventFilter(this);
}

void TForm1::NoteStartedPlacement() {
  started_ = LivePlacement();
  started_panel_height_ = first_run_ ? Panel1->height() : AppSettings().SPTOP;
}

void TForm1::KeepFrameOnScreen() {
  const QRect frame = frameGeometry();
  for (const QRect& area : AvailableAreas()) {
    if (area.contains(frame)) return;
  }
  const QRect client = geometry();
  PlaceOnScreen(this, client.x(), client.y(), client.width(), client.height());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
  RefitCalendar();
  NoteStartedPlacement();
}

void TForm1::ApplyWindowColor() {
  const QColor color = ColorFromValue(AppSettings().WC, QApplication::palette());
  PinWindowColor(this, color);
  PinWindowColor(Panel1, color);
}

void TForm1::ApplyColors() {
  const AppSettingsRecord& a = AppSettings();
  MonthCalendar1->SetColorSlots({{TMonthCalendar::kSlotMonthBackground, a.CMBC},
                                 {TMonthCalendar::kSlotTitleBackground, a.CTBC},
                                 {TMonthCalendar::kSlotTitleText, a.CTTC},
                                 {TMonthCalendar::kSlotTrailingText, a.CTTTC}});
  ApplyWindowColor();
}

void TForm1::ApplyCalendarFont() {
  const AppSettingsRecord& a = AppSettings();
  QFont font = MonthCalendar1->font();
  font.setFamily(a.CalFN);
  SetFontStyle(font, a.CalStyle);
  if (a.CalFS < kMinFontPoints) {
    MonthCalendar1->setFont(font);
    return;
  }
  // The calendar needs more room the larger its font. A size whose calendar would not fit
  // the screen is shown at the largest size that fits; the setting itself is kept.
  const QSize room = CalendarRoom();
  auto fits = [&](int points) {
    font.setPointSize(points);
    MonthCalendar1->setFont(font);
    const QSize needed = MonthCalendar1->minimumSizeHint();
    return needed.width() <= room.width() && needed.height() <= room.height();
  };
  const int wanted = std::min(a.CalFS, kMaxFontPoints);
  if (fits(wanted)) return;
  int low = kMinFontPoints;  // the smallest size is shown even when nothing fits
  int high = wanted;         // does not fit
  while (high - low > 1) {
    const int middle = low + (high - low) / 2;
    (fits(middle) ? low : high) = middle;
  }
  fits(low);
}

QSize TForm1::CalendarRoom() const {
  QRect area = screen() ? screen()->availableGeometry() : QRect(0, 0, 1024, 768);
  area = area.marginsRemoved(FrameMargins(this));
  // Everything around the calendar: the menu, the toolbar, the strip and the panel's edges.
  const int edges = 2 * (kCalendarMargin + Panel1->frameWidth());
  const QSize around(kStripWidth + edges,
                     MainMenu1->sizeHint().height() + kToolbarHeight + edges);
  return (area.size() - around).expandedTo(QSize(1, 1));
}

void TForm1::RefitCalendar() {
  MonthCalendar1->updateGeometry();
  if (QLayout* layout = Panel1->layout()) {
    layout->invalidate();
    layout->activate();
  }
  if (QLayout* layout = centralWidget()->layout()) layout->activate();
}

void TForm1::SaveBClick() {
  if (SaveSettings(LivePlacement(), Panel1->height())) return;
  CurrentPrompts().Message(this, Settings().ProductName,
                           tr("The settings could not be saved to %1.")
                               .arg(QDir::toNativeSeparators(SettingsFilePath())),
                           QMessageBox::Warning, QMessageBox::Ok);
}

void TForm1::ExitBClick() { close(); }

void TForm1::OptionsBClick() {
  SettingsState& s = Settings();
  s.AppSettings.CurrentPlacement = LivePlacement();
  s.ColorsChanged = false;
  s.FontChanged = false;
  if (!options_) return;
  if (CurrentPrompts().Exec(options_) != QDialog::Accepted) return;
  if (s.ColorsChanged) ApplyColors();
  if (s.FontChanged) {
    ApplyCalendarFont();
    MonthCalendar1->SetColorSlot(TMonthCalendar::kSlotText, s.AppSettings.CalFC);
    MonthCalendar1->update();
  }
  RefitCalendar();
}

void TForm1::HelpB2Click() {
  Application().HelpFile = QDir::currentPath() + QLatin1Char('/') + QStringLiteral("Dayvane.hlp");
  if (!help_) return;
  if (help_->ShowContents(Application().HelpFile)) {
    help_->RunMacro(QStringLiteral("JumpID(\"\",\"\")"));
  }
}

void TForm1::AboutB2Click() {
  AppSettings().CurrentPlacement = LivePlacement();
  if (about_box_) CurrentPrompts().Exec(about_box_);
}

void TForm1::MonthCalendar1Click(QDate) {
  // The calendar selects the day itself; the program does nothing more.
}

bool TForm1::FormClose() {
  const SettingsState& s = Settings();
  const Placement live = LivePlacement();
  const bool unchanged = !s.UnsavedChanges && live.Width == started_.Width &&
                         live.Height == started_.Height &&
                         Panel1->height() == started_panel_height_;
  if (unchanged || s.SavedThisRun) {
    if ((live.Top != started_.Top || live.Left != started_.Left) && !s.SavedThisRun) {
      WritePosition(live.Top, live.Left);
    }
    return true;
  }
  // Escape and the box's close button mean "do not exit": the program stays open with its
  // changes.
  const QMessageBox::StandardButton answer = CurrentPrompts().Message(
      this, tr("Confirm"), tr("Save Changes Before Exiting?"), QMessageBox::Question,
      QMessageBox::Yes | QMessageBox::No, QMessageBox::Cancel);
  if (answer == QMessageBox::Yes) {
    SaveBClick();
  } else if (answer != QMessageBox::No) {
    return false;
  }
  return true;
}

void TForm1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (event->spontaneous() || activated_) return;
  activated_ = true;
  FormShow();
  FormActivate();
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (!FormClose()) {
    event->ignore();
    return;
  }
  event->accept();
  emit closed();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Panel2 && event->type() == QEvent::Resize) PlaceExitButton();
  if (watched == windowHandle() && event->type() == QEvent::Expose && !frame_kept_ &&
      windowHandle()->isExposed()) {
    frame_kept_ = true;
    // After the expose has been handled, with the frame known.
    QTimer::singleShot(0, this, &TForm1::KeepFrameOnScreen);
  }
  return QMainWindow::eventFilter(watched, event);
}

void TForm1::PlaceExitButton() {
  ExitB->move(Panel2->width() - kExitRightGap - kButtonWidth, kButtonTop);
}

}  // namespace dayvane

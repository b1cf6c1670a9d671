// Start-up and run of the calendar program.
#include "application.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <clocale>
#include <cstdio>

#include "about_box.h"
#include "app_settings.h"
#include "base/errors.h"
#include "engine.h"
#include "glyphs.h"
#include "help_window.h"
#include "main_form.h"
#include "options_dialog.h"
#include "prompts.h"
#include "table/hooks.h"

namespace dayvane {
namespace {

bool quitting = false;

// The engine's fatal path: its message in a box captioned "Program halted.". The engine
// then ends the program with the error code. Before the application object exists (an
// error during the engine's own start-up) the text goes to standard error.
void ShowFatalError(const std::string& caption, const std::string& text) {
  if (!QApplication::instance()) {
    std::fprintf(stderr, "%s\n%s\n", caption.c_str(), text.c_str());
    return;
  }
  CurrentPrompts().Message(nullptr, QString::fromLatin1(caption.c_str()),
                           QString::fromLatin1(text.c_str()), QMessageBox::Critical,
                           QMessageBox::Ok);
}

// While the engine waits for a lock the window keeps answering: pending events are
// served, then the rest of the slice (at most 20 ms, as the engine's own sleep) is spent
// in an event loop. Returns false once the program is ending.
bool ServeEventsWhileWaiting(uint32_t max_ms) {
  QElapsedTimer clock;
  clock.start();
  const int slice = static_cast<int>(std::min<uint32_t>(max_ms, 20));
  QCoreApplication::processEvents(QEventLoop::AllEvents, slice);
  const int rest = slice - static_cast<int>(clock.elapsed());
  if (rest > 0 && !quitting) {
    QEventLoop loop;
    QTimer::singleShot(rest, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return !quitting && !QCoreApplication::closingDown();
}

}  // namespace

void InstallEngineHooks() {
  quitting = false;
  zedra::SetFatalSink(ShowFatalError);
  zedra::SetWaitPump(ServeEventsWhileWaiting);
}

void RemoveEngineHooks() {
  zedra::SetFatalSink(nullptr);
  zedra::SetWaitPump(nullptr);
}

ApplicationState& Application() {
  static ApplicationState state;
  return state;
}

Forms CreateForms() {
  Application().HelpFile = QStringLiteral(".") + QDir::separator() + QStringLiteral("orvelle.hlp");
  Application().Title = QStringLiteral("Orvelle v1.0");
  QCoreApplication::setApplicationName(Application().Title);

  Forms forms;
  forms.Form1 = new TForm1();
  forms.AboutBox = new TAboutBox(forms.Form1);
  forms.OptionsF = new TOptionsF(forms.Form1);
  forms.HelpWindow = new THelpWindow(forms.Form1);
  forms.Form1->SetDialogs(forms.AboutBox, forms.OptionsF, forms.HelpWindow);
  return forms;
}

int RunDayvane(int argc, char** argv) {
  InstallEngineHooks();
  zedra::EngineStartup();
  InitSettingsModule();
  int code = 0;
  {
    QApplication app(argc, argv);
    // QApplication adopts the user's locale for the C library as well; the engine writes
    // and reads numbers with a decimal point whatever the language, so numeric
    // conversions stay in the "C" locale. Qt's own QLocale is not affected.
    std::setlocale(LC_NUMERIC, "C");
    app.setQuitOnLastWindowClosed(false);
    app.setWindowIcon(GlyphIcon(Glyph::kCalendar));
    Forms forms = CreateForms();
    QObject::connect(forms.Form1, &TForm1::closed, &app, [] {
      quitting = true;
      QCoreApplication::quit();
    });
    forms.Form1->show();
    code = app.exec();
    delete forms.Form1;
    // From here on a fatal engine error can only be written to standard error.
    zedra::SetWaitPump(nullptr);
  }
  zedra::EngineShutdown();
  zedra::SetFatalSink(nullptr);
  return code;
}

}  // namespace dayvane

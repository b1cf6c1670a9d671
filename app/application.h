// The calendar program's start-up: the application-wide title and help file, the three
// forms in their order of creation, and the run from engine start-up to engine shut-down.
#pragma once

#include <QString>

namespace dayvane {

class TForm1;
class TAboutBox;
class TOptionsF;
class THelpWindow;

struct ApplicationState {
  QString Title;     // the task bar text
  QString HelpFile;  // the application help file; the help command replaces it
};
ApplicationState& Application();

// The forms of the program, created in this order and alive for the whole run.
struct Forms {
  TForm1* Form1 = nullptr;
  TAboutBox* AboutBox = nullptr;
  TOptionsF* OptionsF = nullptr;
  THelpWindow* HelpWindow = nullptr;
};

// Sets the title and the help file, then creates the main window, the about box, the
// options dialog (and the help window that the help command shows), none of them shown.
// The caller owns Form1; the others are owned by it. Needs a QApplication.
Forms CreateForms();

// Connects the engine to the window system: its fatal errors are shown in a message box
// captioned "Program halted." (through the prompts) before the engine ends the program,
// and its lock waits keep serving window events. RemoveEngineHooks puts the engine's
// defaults back.
void InstallEngineHooks();
void RemoveEngineHooks();

// The whole program: engine start-up, the settings module, the application object, the
// forms, the message loop until the main window closes, engine shut-down. Returns the
// exit code.
int RunDayvane(int argc, char** argv);

}  // namespace dayvane

// The one door through which the calendar's flows ask the user something: message boxes
// and modal dialogs. The program uses the real boxes; a test installs its own Prompts and
// answers each question itself, so every flow runs headless, answer by answer.
#pragma once

#include <QMessageBox>
#include <QString>

class QDialog;
class QWidget;

namespace dayvane {

class Prompts {
 public:
  virtual ~Prompts() = default;

  // Shows a message box with the given buttons and returns the one pressed. Escape and
  // the box's close button answer `escape` when it is given (a button not among
  // `buttons`), and otherwise whatever the box takes them for.
  virtual QMessageBox::StandardButton Message(
      QWidget* parent, const QString& caption, const QString& text, QMessageBox::Icon icon,
      QMessageBox::StandardButtons buttons,
      QMessageBox::StandardButton escape = QMessageBox::NoButton) = 0;

  // Shows dialog modally and returns its result (QDialog::Accepted or Rejected, or the
  // code passed to done()).
  virtual int Exec(QDialog* dialog) = 0;
};

// The prompts in use: the real ones unless a test installed others.
Prompts& CurrentPrompts();
// Installs prompts (not owned; they must outlive their use); nullptr restores the real ones.
void SetPrompts(Prompts* prompts);

}  // namespace dayvane

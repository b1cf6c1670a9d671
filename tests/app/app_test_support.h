// Shared pieces of the calendar's tests: a working directory of its own per test with a
// fresh settings module, and prompts that a test answers itself.
#pragma once

#include <gtest/gtest.h>

#include <QDialog>
#include <QDir>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "app_settings.h"
#include "prompts.h"
#include "support/temp_dir.h"

namespace dayvane::testing {

// An 8-bit literal as a QString (the calendar builds without implicit conversions from char*).
inline QString L(const char* text) { return QString::fromLatin1(text); }

// Runs a test inside a temporary working directory, starting from a freshly initialised
// settings module; puts the old directory back afterwards.
class WorkingDirectory {
 public:
  WorkingDirectory() : previous_(QDir::currentPath()) {
    QDir::setCurrent(QString::fromStdString(dir_.path()));
    InitSettingsModule();
  }
  ~WorkingDirectory() { QDir::setCurrent(previous_); }

  std::string File(const std::string& name) const { return dir_.File(name); }
  std::string Ini() const { return File("Dayvane.Ini"); }

 private:
  zedra::testing::TempDir dir_;
  QString previous_;
};

// Records every message box and answers from a queue (a test failure when it runs dry);
// dialogs go to a handler (Rejected when none is set).
class ScriptedPrompts : public Prompts {
 public:
  struct Asked {
    QString caption;
    QString text;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton escape;  // what Escape and the close button answer
  };

  ScriptedPrompts() { SetPrompts(this); }
  ~ScriptedPrompts() override { SetPrompts(nullptr); }

  QMessageBox::StandardButton Message(QWidget*, const QString& caption, const QString& text,
                                      QMessageBox::Icon icon, QMessageBox::StandardButtons buttons,
                                      QMessageBox::StandardButton escape) override {
    asked.push_back({caption, text, icon, buttons, escape});
    if (answers.empty()) {
      ADD_FAILURE() << "unexpected message box: " << text.toStdString();
      return QMessageBox::NoButton;
    }
    QMessageBox::StandardButton answer = answers.front();
    answers.pop_front();
    return answer;
  }

  int Exec(QDialog* dialog) override {
    shown.push_back(dialog);
    return on_exec ? on_exec(dialog) : QDialog::Rejected;
  }

  std::deque<QMessageBox::StandardButton> answers;
  std::vector<Asked> asked;
  std::vector<QDialog*> shown;
  std::function<int(QDialog*)> on_exec;
};

}  // namespace dayvane::testing

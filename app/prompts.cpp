// The real prompts: Qt's message boxes and QDialog::exec.
#include "prompts.h"

#include <QDialog>
#include <QPushButton>

namespace dayvane {
namespace {

class RealPrompts final : public Prompts {
 public:
  QMessageBox::StandardButton Message(QWidget* parent, const QString& caption, const QString& text,
                                      QMessageBox::Icon icon, QMessageBox::StandardButtons buttons,
                                      QMessageBox::StandardButton escape) override {
    QMessageBox box(icon, caption, text, buttons, parent);
    if (escape != QMessageBox::NoButton && !(buttons & escape)) {
      // A button the box does not show, there only to be what Escape and the close
      // button press.
      QPushButton* hidden = box.addButton(escape);
      hidden->hide();
      box.setEscapeButton(hidden);
    }
    return static_cast<QMessageBox::StandardButton>(box.exec());
  }

  int Exec(QDialog* dialog) override { return dialog->exec(); }
};

RealPrompts real_prompts;
Prompts* installed = nullptr;

}  // namespace

Prompts& CurrentPrompts() { return installed ? *installed : real_prompts; }

void SetPrompts(Prompts* prompts) { installed = prompts; }

}  // namespace dayvane

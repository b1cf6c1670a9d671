// TAboutBox: the about box, a fixed-size dialog with the product name, version, a line of
// its own, a calendar picture and the web and support lines. Each time it is shown it
// centres itself on the main window's placement (CurrentPlacement) and fills its labels.
#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

namespace dayvane {

class TAboutBox : public QDialog {
  Q_OBJECT

 public:
  explicit TAboutBox(QWidget* parent = nullptr);

  // The controls as designed.
  QFrame* Panel1;
  QFrame* Panel2;
  QLabel* ProductName;
  QLabel* Version;
  QLabel* Comments;
  QWidget* ProgramIcon;  // the calendar picture
  QLabel* WebL;
  QLabel* SupportL;
  QPushButton* CloseB;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormActivate();
};

}  // namespace dayvane

// THelpWindow: the program's help viewer, a window that shows an HTML help document.
// The help command asks it for a file's contents page; a missing or unreadable file is
// reported by the viewer in a message box and no window is shown.
#pragma once

#include <QString>
#include <QWidget>

class QTextBrowser;

namespace dayvane {

class THelpWindow : public QWidget {
  Q_OBJECT

 public:
  explicit THelpWindow(QWidget* parent = nullptr);
  ~THelpWindow() override = default;

  // Opens file at its contents (the top of the document) and shows the window. Returns
  // false, after telling the user, when the file cannot be read.
  bool ShowContents(const QString& file);

  // Runs a help macro on the open document. JumpID("file","id") moves to the anchor id of
  // the document (an empty file means the open one; an empty id means its contents).
  // Returns false for a macro it does not know or a file other than the open one.
  virtual bool RunMacro(const QString& macro);

  QTextBrowser* Browser() const { return browser_; }

 private:
  QTextBrowser* browser_;
  QString file_;
};

}  // namespace dayvane

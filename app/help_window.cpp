// The help viewer.
#include "help_window.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "app_settings.h"
#include "prompts.h"

namespace dayvane {
namespace {

// How far the help window's first place lies from the main window's corner.
constexpr int kCascade = 40;

}  // namespace

THelpWindow::THelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("HelpWindow"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  browser_ = new QTextBrowser(this);
  browser_->setOpenExternalLinks(true);
  layout->addWidget(browser_);
  resize(560, 480);
}

bool THelpWindow::ShowContents(const QString& file) {
  QFileInfo info(file);
  QFile probe(file);
  if (!info.isFile() || !probe.open(QIODevice::ReadOnly)) {
    CurrentPrompts().Message(
        parentWidget(), tr("Help"),
        tr("Cannot open the help file %1.").arg(QDir::toNativeSeparators(info.absoluteFilePath())),
        QMessageBox::Warning, QMessageBox::Ok);
    return false;
  }
  probe.close();
  file_ = info.absoluteFilePath();
  // The help file's extension says nothing of its type; it is always HTML.
  browser_->setSource(QUrl::fromLocalFile(file_), QTextDocument::HtmlResource);
  browser_->verticalScrollBar()->setValue(0);
  QString title = browser_->documentTitle();
  setWindowTitle(title.isEmpty() ? tr("%1 Help").arg(Settings().ProductName) : title);
  // The first time, the help opens a little below and to the right of the main window
  // rather than wherever the desktop puts new windows.
  if (!testAttribute(Qt::WA_Moved) && parentWidget()) {
    move(parentWidget()->pos() + QPoint(kCascade, kCascade));
  }
  show();
  raise();
  activateWindow();
  return true;
}

bool THelpWindow::RunMacro(const QString& macro) {
  static const QRegularExpression jump(
      QString::fromLatin1(R"re(^\s*JumpID\s*\(\s*"([^"]*)"\s*,\s*"([^"]*)"\s*\)\s*$)re"),
      QRegularExpression::CaseInsensitiveOption);
  const QRegularExpressionMatch m = jump.match(macro);
  if (!m.hasMatch() || file_.isEmpty()) return false;
  const QString file = m.captured(1);
  const QString id = m.captured(2);
  if (!file.isEmpty() && QFileInfo(file).absoluteFilePath() != file_) return false;
  if (id.isEmpty()) {
    browser_->verticalScrollBar()->setValue(0);
  } else {
    browser_->scrollToAnchor(id);
  }
  return true;
}

}  // namespace dayvane

// The about box. Positions are the design's, in pixels at 96 dpi.
#include "about_box.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

#include "app_settings.h"
#include "glyphs.h"
#include "screen_placement.h"

namespace dayvane {
namespace {

constexpr int kClientWidth = 538;
constexpr int kClientHeight = 244;

QLabel* CentredLabel(QWidget* parent, int y) {
  auto* label = new QLabel(parent);
  label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  label->setGeometry((344 - 250) / 2, y, 250, 18);
  return label;
}

// The calendar picture, drawn at the pixel density of the screen it is on.
class Picture final : public QWidget {
 public:
  explicit Picture(QWidget* parent) : QWidget(parent), icon_(GlyphIcon(Glyph::kCalendar)) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    icon_.paint(&painter, rect());
  }

 private:
  QIcon icon_;
};

}  // namespace

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("AboutBox"));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  setFixedSize(kClientWidth, kClientHeight);
  setFont(QApplication::font());
  QPalette face = palette();
  face.setColor(QPalette::Window, QApplication::palette().color(QPalette::Button));
  setPalette(face);
  setAutoFillBackground(true);

  Panel1 = new QFrame(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  Panel1->setLineWidth(2);
  Panel1->setGeometry(9, 8, 520, 185);

  Panel2 = new QFrame(Panel1);
  Panel2->setObjectName(QStringLiteral("Panel2"));
  Panel2->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Panel2->setLineWidth(3);
  Panel2->setGeometry(88, 6, 344, 78);

  ProductName = CentredLabel(Panel2, 10);
  QFont bold = ProductName->font();
  bold.setBold(true);
  ProductName->setFont(bold);
  Version = CentredLabel(Panel2, 30);
  Comments = CentredLabel(Panel2, 48);
  Comments->setText(tr("Your month at a glance."));

  ProgramIcon = new Picture(Panel1);
  ProgramIcon->setGeometry(244, 93, 32, 32);

  WebL = new QLabel(Panel1);
  WebL->setGeometry(8, 133, 504, 18);
  SupportL = new QLabel(Panel1);
  SupportL->setGeometry(8, 157, 504, 18);

  CloseB = new QPushButton(tr("Close"), this);
  CloseB->setGeometry(220, 204, 97, 33);
  CloseB->setDefault(true);
  connect(CloseB, &QPushButton::clicked, this, &QDialog::accept);

  PlaceByClientArea(this);
}

void TAboutBox::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormActivate();
}

void TAboutBox::FormActivate() {
  const Placement& main = AppSettings().CurrentPlacement;
  // Centred on the main window; C++ division truncates toward zero as wanted. The box is
  // wider than the small default window, so near a screen edge the centred place would
  // cut off the box's text and its Close button: it is kept on the screen, as the options
  // dialog is.
  PlaceOnScreen(this, int64_t{main.Left} + main.Width / 2 - width() / 2,
                int64_t{main.Top} + main.Height / 2 - height() / 2, width(), height());
  const SettingsState& s = Settings();
  ProductName->setText(s.ProductName);
  Version->setText(tr("Version ") + s.Version);
  WebL->setText(tr("Visit us at: ") + s.WebLine);
  SupportL->setText(tr("Email us at: ") + s.SupportLine);
  setWindowTitle(tr("About ") + s.ProductName);
}

}  // namespace dayvane

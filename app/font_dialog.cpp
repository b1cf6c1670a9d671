// The font dialog with its colour list.
#include "font_dialog.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFontDatabase>
#include <QFontDialog>
#include <QFontInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPixmap>
#include <QStyle>
#include <QVBoxLayout>
#include <cstdlib>

#include "basic_colors.h"
#include "color_value.h"

namespace dayvane {

void SetFontStyle(QFont& font, FontStyleSet style) {
  font.setBold((style & kStyleBold) != 0);
  font.setItalic((style & kStyleItalic) != 0);
  font.setUnderline((style & kStyleUnderline) != 0);
  font.setStrikeOut((style & kStyleStrikeOut) != 0);
}

QFont FontFromChoice(const FontChoice& choice) {
  QFont font(choice.name);
  if (choice.size > 0) font.setPointSize(choice.size);
  SetFontStyle(font, choice.style);
  return font;
}

FontStyleSet StyleOfFont(const QFont& font) {
  FontStyleSet style = 0;
  if (font.bold()) style |= kStyleBold;
  if (font.italic()) style |= kStyleItalic;
  if (font.underline()) style |= kStyleUnderline;
  if (font.strikeOut()) style |= kStyleStrikeOut;
  return style;
}

namespace {

// The font with the style name of its family nearest to its boldness and slant: the same
// slant if the family has it, then the nearest weight. Qt's dialog selects its style list
// entry by name and keeps its previous entry when the generic name ("Normal", "Italic")
// is not in the family's list (which may say "Book", "Oblique").
QFont WithStyleName(QFont font) {
  // Any slant mismatch weighs more than the whole weight range.
  constexpr int kSlantMismatch = 10000;
  const QString family = QFontInfo(font).family();
  QString best;
  int bestDistance = 0;
  for (const QString& style : QFontDatabase::styles(family)) {
    // QFontDatabase::italic() says false for an oblique style; the font it builds does not.
    const QFont candidate = QFontDatabase::font(family, style, 12);
    const int distance = std::abs(candidate.weight() - font.weight()) +
                         (candidate.italic() != font.italic() ? kSlantMismatch : 0);
    // Among equal weights the shortest name is the plain one ("Book", not "Condensed").
    if (best.isEmpty() || distance < bestDistance ||
        (distance == bestDistance && style.size() < best.size())) {
      best = style;
      bestDistance = distance;
    }
  }
  if (!best.isEmpty()) font.setStyleName(best);
  return font;
}

// Rows the font dialog's lists always show.
constexpr int kListRows = 8;

QPixmap Swatch(const QColor& color) {
  QPixmap pixmap(16, 12);
  pixmap.fill(color);
  return pixmap;
}

}  // namespace

FontDialogWindow::FontDialogWindow(QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr("Font"));

  // Qt's own dialog, embedded as a plain widget without its buttons; ours close the whole.
  fontPart_ = new QFontDialog(this);
  fontPart_->setOptions(QFontDialog::DontUseNativeDialog | QFontDialog::NoButtons);
  fontPart_->setWindowFlags(Qt::Widget);
  fontPart_->setSizeGripEnabled(false);
  // Escape and Enter inside the embedded dialog would close it alone; they close ours.
  fontPart_->installEventFilter(this);
  connect(fontPart_, &QFontDialog::currentFontChanged, this, &FontDialogWindow::FontChanged);
  // The family, style and size lists keep this many rows whatever the screen's scale;
  // otherwise Qt squeezes them to a few rows when the dialog is large against the screen.
  for (QListView* list : fontPart_->findChildren<QListView*>()) {
    // Room for a horizontal scroll bar too, which a narrow list shows below its rows.
    list->setMinimumHeight(kListRows * list->fontMetrics().lineSpacing() + 2 * list->frameWidth() +
                           list->style()->pixelMetric(QStyle::PM_ScrollBarExtent));
  }
  // One sample, ours, which shows the colour as well.
  for (QGroupBox* group : fontPart_->findChildren<QGroupBox*>()) {
    if (group->findChild<QLineEdit*>()) group->hide();
  }

  colorBox_ = new QComboBox(this);
  for (int i = 0; i < colorgrid::kBasicColorCount; ++i) {
    const QColor color = colorgrid::BasicColorAt(i);
    colorBox_->addItem(Swatch(color),
                       QString::fromLatin1(colorgrid::kBasicColors[static_cast<size_t>(i)].name),
                       QVariant::fromValue<int>(ValueFromColor(color)));
  }
  connect(colorBox_, &QComboBox::currentIndexChanged, this, &FontDialogWindow::UpdateSample);
  auto* colorLabel = new QLabel(tr("&Color:"), this);
  colorLabel->setBuddy(colorBox_);

  sample_ = new QLabel(tr("AaBbYyZz"), this);
  sample_->setAlignment(Qt::AlignCenter);
  sample_->setMinimumHeight(40);
  sample_->setFrameShape(QFrame::StyledPanel);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* colorRow = new QHBoxLayout;
  colorRow->addWidget(colorLabel);
  colorRow->addWidget(colorBox_);
  colorRow->addWidget(sample_, 1);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(fontPart_);
  layout->addLayout(colorRow);
  layout->addWidget(buttons);
}

bool FontDialogWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == fontPart_ && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Escape) {
      reject();
      return true;
    }
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      accept();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void FontDialogWindow::SetChoice(const FontChoice& choice) {
  size_ = choice.size;
  QFont font = FontFromChoice(choice);
  // A name the font database does not list (the default "System", a font of another
  // machine) would leave Qt's dialog on a generic family whose style list may lack the
  // bold faces. The dialog offers the family the name resolves to, which has them, and
  // gives the name back unchanged as long as the user keeps that family.
  substituteName_.clear();
  substituteFamily_.clear();
  if (!QFontDatabase::families().contains(choice.name)) {
    substituteName_ = choice.name;
    substituteFamily_ = QFontInfo(font).family();
    font.setFamily(substituteFamily_);
  }
  SetFontPart(WithStyleName(font));

  // The colour: one of the sixteen, or an extra entry that keeps the value as it is.
  const int basicCount = colorgrid::kBasicColorCount;
  while (colorBox_->count() > basicCount) colorBox_->removeItem(basicCount);
  int index = colorBox_->findData(QVariant::fromValue<int>(choice.color));
  if (index < 0) {
    colorBox_->addItem(Swatch(ColorFromValue(choice.color, palette())), tr("Custom"),
                       QVariant::fromValue<int>(choice.color));
    index = basicCount;
  }
  colorBox_->setCurrentIndex(index);
  UpdateSample();
}

void FontDialogWindow::SetFontPart(const QFont& font) {
  adjusting_ = true;
  fontPart_->setCurrentFont(font);
  adjusting_ = false;
  chosen_ = fontPart_->currentFont();
  UpdateSample();
}

void FontDialogWindow::FontChanged(const QFont& font) {
  if (adjusting_) return;
  // Another family: Qt's dialog would take whatever style of the new family has the old
  // style's name, or its first; the user keeps the style chosen, as near as the family has it.
  if (font.family() != chosen_.family()) {
    QFont kept = chosen_;
    kept.setFamily(font.family());
    if (font.pointSize() > 0) kept.setPointSize(font.pointSize());
    SetFontPart(WithStyleName(kept));
    return;
  }
  chosen_ = font;
  UpdateSample();
}

FontChoice FontDialogWindow::Choice() const {
  const QFont font = fontPart_->currentFont();
  FontChoice choice;
  choice.name = !substituteName_.isEmpty() && font.family() == substituteFamily_
                    ? substituteName_
                    : font.family();
  // The dialog may report no point size (a font set in pixels); keep the one handed in.
  choice.size = font.pointSize() > 0 ? font.pointSize() : size_;
  choice.color = colorBox_->currentData().toInt();
  choice.style = StyleOfFont(font);
  return choice;
}

void FontDialogWindow::UpdateSample() {
  sample_->setFont(fontPart_->currentFont());
  QPalette p = sample_->palette();
  p.setColor(QPalette::WindowText, ColorFromValue(colorBox_->currentData().toInt(), palette()));
  sample_->setPalette(p);
}

}  // namespace dayvane

// TMyColorGrid: state, geometry, drawing and input handling of the colour grid.
#include "my_color_grid.h"

#include <QFocusEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>

TMyColorGrid::TMyColorGrid(QWidget* parent) : QWidget(parent) {
  // Every pixel is painted by the cells, so Qt need not clear the background first.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setBackgroundRole(QPalette::Button);
  setFocusPolicy(Qt::NoFocus);
  resize(100, 100);
}

TMyColorGrid::~TMyColorGrid() { ReleaseCapture(); }

// ---- Properties ----

void TMyColorGrid::setGridOrdering(TGridOrdering ordering) {
  if (ordering < go16x1 || ordering > go1x16 || ordering == ordering_) return;
  ordering_ = ordering;
  UpdateSizes();
  update();
}

void TMyColorGrid::setForegroundIndex(int index) {
  if (index == foregroundIndex_ || !foregroundEnabled_) return;
  UpdateCell(foregroundIndex_);
  foregroundIndex_ = index;
  UpdateCell(foregroundIndex_);
  Change();
}

void TMyColorGrid::setBackgroundIndex(int index) {
  if (index == backgroundIndex_ || !backgroundEnabled_) return;
  UpdateCell(backgroundIndex_);
  backgroundIndex_ = index;
  UpdateCell(backgroundIndex_);
  Change();
}

void TMyColorGrid::setSelection(int index) {
  if (index == selection_) return;
  UpdateCell(selection_);
  selection_ = index;
  UpdateCell(selection_);
}

void TMyColorGrid::setForegroundEnabled(bool on) {
  if (on == foregroundEnabled_) return;
  foregroundEnabled_ = on;
  UpdateCell(foregroundIndex_);
}

void TMyColorGrid::setBackgroundEnabled(bool on) {
  if (on == backgroundEnabled_) return;
  backgroundEnabled_ = on;
  UpdateCell(backgroundIndex_);
}

void TMyColorGrid::setCtl3D(bool on) {
  if (on == ctl3D_) return;
  ctl3D_ = on;
  update();
}

void TMyColorGrid::setTabStop(bool on) {
  tabStop_ = on;
  // A click takes the focus by hand (mousePressEvent), so only Tab is left to the policy.
  setFocusPolicy(on ? Qt::TabFocus : Qt::NoFocus);
}

void TMyColorGrid::Change() { emit OnChange(); }

// ---- Geometry ----

int TMyColorGrid::CellWidth() const { return std::max(1, width() / Columns()); }
int TMyColorGrid::CellHeight() const { return std::max(1, height() / Rows()); }

QRect TMyColorGrid::CellRect(int index) const {
  const int cw = CellWidth();
  const int ch = CellHeight();
  return QRect((index % Columns()) * cw, (index / Columns()) * ch, cw, ch);
}

int TMyColorGrid::CellAt(int x, int y) const {
  x = std::max(0, std::min(x, width() - 1));
  y = std::max(0, std::min(y, height() - 1));
  // Before a pending resize is snapped the size may hold a partial cell; keep to the grid.
  const int column = std::min(x / CellWidth(), Columns() - 1);
  const int row = std::min(y / CellHeight(), Rows() - 1);
  return row * Columns() + column;
}

QSize TMyColorGrid::SnappedSize(QSize size, TGridOrdering ordering) {
  const int columns = ColumnsOf(ordering);
  const int rows = RowsOf(ordering);
  return QSize(columns * std::max(1, size.width() / columns),
               rows * std::max(1, size.height() / rows));
}

void TMyColorGrid::UpdateSizes() {
  const QSize snapped = SnappedSize(size(), ordering_);
  if (snapped != size()) resize(snapped);  // the left and top stay
}

void TMyColorGrid::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  UpdateSizes();
}

// ---- Drawing ----

QColor TMyColorGrid::CellColor(int index) { return colorgrid::BasicColorAt(index); }

QColor TMyColorGrid::MarkerColor(QColor cell) {
  auto flip = [](int component) { return component >= 128 ? 0 : 255; };
  return QColor(flip(cell.red()), flip(cell.green()), flip(cell.blue()));
}

namespace {

// How an asterisk is laid out: centred on its cell and allowed past the cell's edges.
constexpr int kMarkerFlags = Qt::AlignCenter | Qt::TextSingleLine | Qt::TextDontClip;
const QString kMarkerText = QStringLiteral("*");

// One-pixel outline of `r`, inside it.
void Outline(QPainter& p, const QRect& r, const QColor& color) {
  p.fillRect(QRect(r.left(), r.top(), r.width(), 1), color);
  p.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), color);
  p.fillRect(QRect(r.left(), r.top(), 1, r.height()), color);
  p.fillRect(QRect(r.right(), r.top(), 1, r.height()), color);
}

// A sunken frame `width` pixels wide inside `r`: top and left in `shadow`, bottom and right
// (including the top-right and bottom-left corners) in `highlight`.
void Frame3D(QPainter& p, QRect& r, const QColor& shadow, const QColor& highlight, int width) {
  for (int i = 0; i < width && r.width() > 0 && r.height() > 0; ++i) {
    p.fillRect(QRect(r.left(), r.top(), 1, r.height() - 1), shadow);
    p.fillRect(QRect(r.left(), r.top(), r.width() - 1, 1), shadow);
    p.fillRect(QRect(r.right(), r.top(), 1, r.height()), highlight);
    p.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), highlight);
    r.adjust(1, 1, -1, -1);
  }
}

// A dotted rectangle that inverts every other pixel of the outline of `r`, visible on any
// colour.
void DottedFocusRect(QPainter& p, const QRect& r) {
  if (r.width() <= 0 || r.height() <= 0) return;
  p.save();
  p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
  const QColor white(Qt::white);
  auto dot = [&](int x, int y) {
    if (((x + y) & 1) == 0) p.fillRect(QRect(x, y, 1, 1), white);
  };
  for (int x = r.left(); x <= r.right(); ++x) {
    dot(x, r.top());
    if (r.bottom() != r.top()) dot(x, r.bottom());
  }
  for (int y = r.top() + 1; y < r.bottom(); ++y) {
    dot(r.left(), y);
    if (r.right() != r.left()) dot(r.right(), y);
  }
  p.restore();
}

}  // namespace

void TMyColorGrid::DrawCell(QPainter& p, int index, bool selector) const {
  if (index < 0 || index >= kCellCount) return;
  QRect r = CellRect(index);
  const QColor color = CellColor(index);
  if (ctl3D_) {
    Outline(p, r, palette().color(QPalette::Button));
    r.adjust(1, 1, -1, -1);
    Frame3D(p, r, palette().color(QPalette::Dark), palette().color(QPalette::Light), 2);
    if (r.width() <= 0 || r.height() <= 0) return;
    p.fillRect(r, color);
    if (selector) DottedFocusRect(p, r.adjusted(1, 1, -1, -1));
    return;
  }
  if (!selector) {
    p.fillRect(r, color);
    Outline(p, r, Qt::black);
    return;
  }
  // Without the 3D look the selector inverts the plain cell's black outline and draws a
  // second black outline two pixels further in.
  p.fillRect(r, color);
  Outline(p, r, Qt::white);
  const QRect inner = r.adjusted(2, 2, -2, -2);
  if (inner.width() > 0 && inner.height() > 0) Outline(p, inner, Qt::black);
}

std::vector<TMyColorGrid::Marker> TMyColorGrid::Markers() const {
  std::vector<Marker> markers;
  auto mark = [&](bool enabled, int index) {
    if (!enabled || index < 0 || index >= kCellCount) return;
    markers.push_back({CellRect(index), MarkerColor(CellColor(index))});
  };
  mark(foregroundEnabled_, foregroundIndex_);
  mark(backgroundEnabled_, backgroundIndex_);
  return markers;
}

void TMyColorGrid::DrawMarkers(QPainter& p) const {
  p.save();
  p.setFont(font());
  for (const Marker& marker : Markers()) {
    p.setPen(marker.color);
    p.drawText(marker.rect, kMarkerFlags, kMarkerText);
  }
  p.restore();
}

void TMyColorGrid::paintEvent(QPaintEvent* event) {
  QPainter p(this);
  p.setClipRegion(event->region());
  // Whatever the cells leave uncovered (only before a pending resize is snapped).
  p.fillRect(event->rect(), palette().color(QPalette::Button));
  for (int i = 0; i < kCellCount; ++i) {
    if (event->region().intersects(CellRect(i))) DrawCell(p, i, false);
  }
  if (hasFocus_) DrawCell(p, selection_, true);
  DrawMarkers(p);
}

// The cell and, because the asterisk is drawn unclipped and may be wider than a small cell,
// the area its asterisk covers.
QRect TMyColorGrid::MarkerRect(int index) const {
  const QRect cell = CellRect(index);
  const QRect text = QFontMetrics(font()).boundingRect(cell, kMarkerFlags, kMarkerText);
  return cell.united(text.adjusted(-1, -1, 1, 1));
}

void TMyColorGrid::UpdateCell(int index) {
  if (index < 0 || index >= kCellCount) return;
  // A marker that overflows its cell into a neighbour is repainted with that neighbour.
  update(MarkerRect(index));
}

// ---- Focus ----

void TMyColorGrid::focusInEvent(QFocusEvent* event) {
  hasFocus_ = true;
  UpdateCell(selection_);
  QWidget::focusInEvent(event);
}

void TMyColorGrid::focusOutEvent(QFocusEvent* event) {
  hasFocus_ = false;
  UpdateCell(selection_);
  QWidget::focusOutEvent(event);
}

// ---- Picks ----

void TMyColorGrid::ForegroundPick(int index) {
  if (!foregroundEnabled_ && clickEnablesColor_) {
    foregroundEnabled_ = true;
    UpdateCell(foregroundIndex_);
    foregroundIndex_ = -1;  // so that the assignment below always takes effect
  }
  setForegroundIndex(index);
}

void TMyColorGrid::BackgroundPick(int index) {
  if (!backgroundEnabled_ && clickEnablesColor_) {
    backgroundEnabled_ = true;
    UpdateCell(backgroundIndex_);
    backgroundIndex_ = -1;
  }
  setBackgroundIndex(index);
}

// ---- Keyboard ----

void TMyColorGrid::keyPressEvent(QKeyEvent* event) {
  emit OnKeyDown(event);
  // Alt combinations stay with the dialog (mnemonics).
  if (event->modifiers() & Qt::AltModifier) {
    QWidget::keyPressEvent(event);
    return;
  }
  const int range = kCellCount;
  const int columns = Columns();
  const int s = selection_;
  int next = s;
  switch (event->key()) {
    case Qt::Key_Home:
      next = 0;
      break;
    case Qt::Key_End:
      next = range - 1;
      break;
    case Qt::Key_Left:
      next = s == 0 ? range - 1 : s - 1;
      break;
    case Qt::Key_Right:
    case Qt::Key_Space:
      next = s == range - 1 ? 0 : s + 1;
      break;
    case Qt::Key_Up:
      // Off the top row: to the bottom row, one column to the left; from 0 to the last cell.
      if (s >= columns)
        next = s - columns;
      else
        next = s != 0 ? range - columns + s - 1 : range - 1;
      break;
    case Qt::Key_Down:
      // Off the bottom row: to the top row, one column to the right; from the last cell to 0.
      if (s + columns < range)
        next = s + columns;
      else
        next = s != range - 1 ? s % columns + 1 : 0;
      break;
    case Qt::Key_F:
      ForegroundPick(s);
      emit OnClick();
      break;
    case Qt::Key_B:
      BackgroundPick(s);
      emit OnClick();
      break;
    default:
      QWidget::keyPressEvent(event);
      return;
  }
  event->accept();
  if (next != selection_) setSelection(next);
}

// ---- Mouse ----

void TMyColorGrid::mousePressEvent(QMouseEvent* event) {
  emit OnMouseDown(event);
  button_ = event->button();
  buttonDown_ = true;
  const int k = CellAt(event->position().toPoint());
  if (button_ == Qt::LeftButton) {
    leftPressed_ = true;
    ForegroundPick(k);
  } else {
    // The right button (and any other) picks the background and holds the mouse until
    // its release.
    if (!captured_) {
      grabMouse();
      captured_ = true;
    }
    BackgroundPick(k);
  }
  setSelection(k);
  if (tabStop_) setFocus(Qt::MouseFocusReason);
  event->accept();
}

void TMyColorGrid::mouseMoveEvent(QMouseEvent* event) {
  emit OnMouseMove(event);
  if (!buttonDown_) return;
  const int k = CellAt(event->position().toPoint());
  // A drag moves the selection directly; it does not enable a disabled selection.
  if (button_ == Qt::LeftButton)
    setForegroundIndex(k);
  else
    setBackgroundIndex(k);
  setSelection(k);
}

void TMyColorGrid::mouseReleaseEvent(QMouseEvent* event) {
  emit OnMouseUp(event);
  buttonDown_ = false;
  // A capture taken by any press is always given back, whichever button ends it.
  ReleaseCapture();
  const bool leftClick = event->button() == Qt::LeftButton && leftPressed_ &&
                         rect().contains(event->position().toPoint());
  if (event->button() == Qt::LeftButton) leftPressed_ = false;
  if (button_ == Qt::RightButton && event->button() == Qt::RightButton) {
    emit OnClick();
  } else if (leftClick) {
    emit OnClick();
  }
  event->accept();
}

void TMyColorGrid::hideEvent(QHideEvent* event) {
  buttonDown_ = false;
  leftPressed_ = false;
  ReleaseCapture();
  QWidget::hideEvent(event);
}

void TMyColorGrid::ReleaseCapture() {
  if (!captured_) return;
  captured_ = false;
  releaseMouse();
}

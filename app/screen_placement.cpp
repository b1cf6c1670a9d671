// Keeping windows on the screens.
#include "screen_placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <limits>

namespace dayvane {
namespace {

// A rectangle in 64-bit coordinates, right and bottom exclusive, so that sizes and
// positions near the 32-bit limits neither overflow nor wrap.
struct Span {
  int64_t left, top, right, bottom;
};

Span SpanOf(const QRect& r) {
  return {r.left(), r.top(), int64_t{r.left()} + r.width(), int64_t{r.top()} + r.height()};
}

int64_t Overlap(const Span& a, const Span& b) {
  const int64_t w = std::min(a.right, b.right) - std::max(a.left, b.left);
  const int64_t h = std::min(a.bottom, b.bottom) - std::max(a.top, b.top);
  return w > 0 && h > 0 ? w * h : 0;
}

int64_t Distance(const Span& a, const Span& b) {
  const int64_t dx = std::max<int64_t>({0, b.left - a.right, a.left - b.right});
  const int64_t dy = std::max<int64_t>({0, b.top - a.bottom, a.top - b.bottom});
  return dx + dy;
}

// The area a window's frame rectangle belongs on.
const QRect& NearestArea(const Span& frame, const QList<QRect>& areas) {
  const QRect* best = &areas.front();
  int64_t best_overlap = -1;
  int64_t best_distance = std::numeric_limits<int64_t>::max();
  for (const QRect& area : areas) {
    const Span a = SpanOf(area);
    const int64_t overlap = Overlap(frame, a);
    const int64_t distance = Distance(frame, a);
    if (overlap > best_overlap || (overlap == 0 && best_overlap == 0 && distance < best_distance)) {
      best = &area;
      best_overlap = overlap;
      best_distance = distance;
    }
  }
  return *best;
}

int ToInt(int64_t v) {
  return static_cast<int>(std::clamp<int64_t>(v, std::numeric_limits<int>::min() / 2,
                                               std::numeric_limits<int>::max() / 2));
}

}  // namespace

QList<QRect> AvailableAreas() {
  QList<QRect> areas;
  for (const QScreen* screen : QGuiApplication::screens()) areas.push_back(screen->availableGeometry());
  return areas;
}

QMargins FrameMargins(const QWidget* window) {
  for (const QWidget* w = window; w; w = w->parentWidget() ? w->parentWidget()->window() : nullptr) {
    if (const QWindow* handle = w->windowHandle()) {
      const QMargins margins = handle->frameMargins();
      if (!margins.isNull()) return margins;
    }
  }
  return {};
}

QRect KeptInArea(int64_t left, int64_t top, int64_t width, int64_t height, QMargins frame,
                 QSize smallest, const QList<QRect>& areas) {
  width = std::max<int64_t>({width, smallest.width(), 1});
  height = std::max<int64_t>({height, smallest.height(), 1});
  if (areas.isEmpty()) return QRect(ToInt(left), ToInt(top), ToInt(width), ToInt(height));

  const int64_t frame_w = int64_t{frame.left()} + frame.right();
  const int64_t frame_h = int64_t{frame.top()} + frame.bottom();
  const Span asked{left - frame.left(), top - frame.top(), left + width + frame.right(),
                   top + height + frame.bottom()};
  const Span area = SpanOf(NearestArea(asked, areas));

  width = std::max<int64_t>(std::min(width, area.right - area.left - frame_w), smallest.width());
  height = std::max<int64_t>(std::min(height, area.bottom - area.top - frame_h), smallest.height());
  width = std::max<int64_t>(width, 1);
  height = std::max<int64_t>(height, 1);
  // The frame's corner, kept inside; a window larger than the area starts at its corner.
  const int64_t x = std::max(area.left, std::min(asked.left, area.right - (width + frame_w)));
  const int64_t y = std::max(area.top, std::min(asked.top, area.bottom - (height + frame_h)));
  return QRect(ToInt(x + frame.left()), ToInt(y + frame.top()), ToInt(width), ToInt(height));
}

void PlaceOnScreen(QWidget* window, int64_t left, int64_t top, int64_t width, int64_t height) {
  // A window's layout may not have passed its minimum on to the window yet.
  const QSize smallest = window->minimumSize().expandedTo(window->minimumSizeHint());
  window->setGeometry(
      KeptInArea(left, top, width, height, FrameMargins(window), smallest, AvailableAreas()));
}

void PlaceByClientArea(QWidget* window) { window->setGeometry(window->geometry()); }

QPoint KeptOnScreen(QPoint place, QSize size, const QScreen* screen) {
  if (!screen) return place;
  return KeptInArea(place.x(), place.y(), size.width(), size.height(), {}, {},
                    {screen->availableGeometry()})
      .topLeft();
}

}  // namespace dayvane

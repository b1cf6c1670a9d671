// Keeping a window on its screen.
#include "screen_placement.h"

#include <QRect>
#include <QScreen>
#include <algorithm>

namespace dayvane {

QPoint KeptOnScreen(QPoint place, QSize size, const QScreen* screen) {
  if (!screen) return place;
  QRect area = screen->availableGeometry();
  int x = std::max(area.left(), std::min(place.x(), area.right() + 1 - size.width()));
  int y = std::max(area.top(), std::min(place.y(), area.bottom() + 1 - size.height()));
  return {x, y};
}

}  // namespace dayvane

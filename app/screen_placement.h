// Keeping a window on its screen: the placement helper the dialogs share.
#pragma once

#include <QPoint>
#include <QSize>

class QScreen;

namespace dayvane {

// The top-left corner that keeps a window of the given size inside the screen's
// available area, moved as little as possible from place. Without a screen, place.
QPoint KeptOnScreen(QPoint place, QSize size, const QScreen* screen);

}  // namespace dayvane

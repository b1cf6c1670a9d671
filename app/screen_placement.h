// Keeping windows on the screens: the placement helpers the main window and the dialogs
// share. Windows are placed by their client area (the window without the frame the
// window manager adds), which is also what they report back, so that a position read
// from a window and given to it again puts it at the same place whether or not the
// frame is known yet.
#pragma once

#include <QList>
#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <cstdint>

class QScreen;
class QWidget;

namespace dayvane {

// The available area (the screen less the desktop's panels) of every screen.
QList<QRect> AvailableAreas();

// The frame the window system draws around a top-level window: the window's own when it
// is known, else that of its parent's window (the same window manager decorates both),
// else none.
QMargins FrameMargins(const QWidget* window);

// The client rectangle for a window that asks for `left`, `top`, `width` x `height` (its
// client area) with `frame` around it: on the area nearest to the frame's rectangle (the
// one it overlaps most, or else the closest), its size cut to that area less the frame
// but at least `smallest`, and moved as little as possible so that the frame lies inside
// the area (at the area's top left when it cannot). Any 32-bit values are accepted.
// Without areas the rectangle is returned as asked, its size at least 1 x 1.
QRect KeptInArea(int64_t left, int64_t top, int64_t width, int64_t height, QMargins frame,
                 QSize smallest, const QList<QRect>& areas);

// Gives a top-level window the client rectangle it asks for, kept on the screens as
// KeptInArea says (with the window's frame and the smallest size it allows).
void PlaceOnScreen(QWidget* window, int64_t left, int64_t top, int64_t width, int64_t height);

// Makes a top-level window, before it is first shown, one that is placed by its client
// area at the place it has now (rather than by its frame, or by the window system).
void PlaceByClientArea(QWidget* window);

// The top-left corner that keeps a rectangle of the given size inside the screen's
// available area, moved as little as possible from place. Without a screen, place.
QPoint KeptOnScreen(QPoint place, QSize size, const QScreen* screen);

}  // namespace dayvane

// TMyColorGrid: a control that shows the sixteen basic colours as a grid of cells and lets
// the user pick a foreground colour (left button or F) and a background colour (right
// button or B), each marked with an asterisk in its cell, plus a keyboard cursor (the
// selection) moved with Home, End, the arrows and Space.
//
// Changes redraw only the cells they affect. The geometry (cell size, cell rectangles, the
// hit test) and the markers (where each asterisk goes and in which colour) are plain
// functions so that tests reach them without painting.
#pragma once

#include <QColor>
#include <QRect>
#include <QWidget>
#include <vector>

#include "basic_colors.h"

class QKeyEvent;
class QMouseEvent;
class QPainter;

// Layout of the sixteen cells; the ordinal n gives 16 >> n columns and 1 << n rows.
enum TGridOrdering { go16x1 = 0, go8x2 = 1, go4x4 = 2, go2x8 = 3, go1x16 = 4 };

class TMyColorGrid : public QWidget {
  Q_OBJECT
  Q_PROPERTY(bool ClickEnablesColor READ ClickEnablesColor WRITE setClickEnablesColor)
  Q_PROPERTY(int ForegroundIndex READ ForegroundIndex WRITE setForegroundIndex)
  Q_PROPERTY(int BackgroundIndex READ BackgroundIndex WRITE setBackgroundIndex)
  Q_PROPERTY(bool ForegroundEnabled READ ForegroundEnabled WRITE setForegroundEnabled)
  Q_PROPERTY(bool BackgroundEnabled READ BackgroundEnabled WRITE setBackgroundEnabled)
  Q_PROPERTY(int Selection READ Selection WRITE setSelection)
  Q_PROPERTY(bool Ctl3D READ Ctl3D WRITE setCtl3D)
  Q_PROPERTY(bool TabStop READ TabStop WRITE setTabStop)

 public:
  // One cell per basic colour.
  static constexpr int kCellCount = colorgrid::kBasicColorCount;

  // Starts 100 x 100 in the 4 x 4 layout, both selections enabled at cell 0, the 3D look
  // on, not a tab stop.
  explicit TMyColorGrid(QWidget* parent = nullptr);
  ~TMyColorGrid() override;

  // A pick on a disabled foreground or background first enables it.
  bool ClickEnablesColor() const { return clickEnablesColor_; }
  void setClickEnablesColor(bool on) { clickEnablesColor_ = on; }

  // Changing the layout snaps the size to whole cells of the new layout and repaints.
  TGridOrdering GridOrdering() const { return ordering_; }
  void setGridOrdering(TGridOrdering ordering);

  // Setting a new value raises OnChange; an unchanged value, or a value for a disabled
  // selection, is ignored.
  int ForegroundIndex() const { return foregroundIndex_; }
  void setForegroundIndex(int index);
  int BackgroundIndex() const { return backgroundIndex_; }
  void setBackgroundIndex(int index);

  // A disabled selection shows no marker and refuses new values.
  bool ForegroundEnabled() const { return foregroundEnabled_; }
  void setForegroundEnabled(bool on);
  bool BackgroundEnabled() const { return backgroundEnabled_; }
  void setBackgroundEnabled(bool on);

  // The keyboard cursor; drawn with the selector while the control has the focus.
  int Selection() const { return selection_; }
  void setSelection(int index);

  // The 3D look draws each cell sunken in a button-face frame; without it each cell is
  // outlined in black.
  bool Ctl3D() const { return ctl3D_; }
  void setCtl3D(bool on);

  // With TabStop the control is reached with Tab and takes the focus when clicked.
  bool TabStop() const { return tabStop_; }
  void setTabStop(bool on);

  // Geometry of the current layout and size. Cells are at least one pixel in each
  // direction, so a control smaller than its layout still has a valid hit test.
  int Columns() const { return ColumnsOf(ordering_); }
  int Rows() const { return RowsOf(ordering_); }
  int CellWidth() const;
  int CellHeight() const;
  QRect CellRect(int index) const;
  // The cell under (x, y); points outside the control count as on its nearest edge.
  int CellAt(int x, int y) const;
  int CellAt(QPoint point) const { return CellAt(point.x(), point.y()); }

  // Size snapped to a whole number of cells in `ordering`.
  static QSize SnappedSize(QSize size, TGridOrdering ordering);
  // Colour of cell `index` (black outside 0 .. 15).
  static QColor CellColor(int index);
  // The asterisk's colour on a cell: each component 0 when it is 128 or more, else 255.
  static QColor MarkerColor(QColor cell);

  // One asterisk: centred in `rect` (its cell; it may overflow a small one) in `color`.
  struct Marker {
    QRect rect;
    QColor color;
    bool operator==(const Marker&) const = default;
  };
  // The asterisks DrawMarkers draws: the enabled foreground's, then the enabled
  // background's.
  std::vector<Marker> Markers() const;

  // Draws cell `index` (ignored outside 0 .. 15) plain or with the selector.
  void DrawCell(QPainter& painter, int index, bool selector) const;
  // Draws the enabled selections' asterisks.
  void DrawMarkers(QPainter& painter) const;

 signals:
  // ForegroundIndex or BackgroundIndex changed.
  void OnChange();
  // A click: left button released over the control, right button released, F or B.
  void OnClick();
  // Raised before the control handles the event itself.
  void OnKeyDown(QKeyEvent* event);
  void OnMouseDown(QMouseEvent* event);
  void OnMouseMove(QMouseEvent* event);
  void OnMouseUp(QMouseEvent* event);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void hideEvent(QHideEvent* event) override;

  // Runs after ForegroundIndex or BackgroundIndex changed; raises OnChange.
  virtual void Change();

 private:
  static int ColumnsOf(TGridOrdering ordering) { return kCellCount >> ordering; }
  static int RowsOf(TGridOrdering ordering) { return 1 << ordering; }

  void ForegroundPick(int index);
  void BackgroundPick(int index);
  void UpdateSizes();
  void UpdateCell(int index);
  QRect MarkerRect(int index) const;
  void ReleaseCapture();

  TGridOrdering ordering_ = go4x4;
  bool clickEnablesColor_ = false;
  int foregroundIndex_ = 0;
  int backgroundIndex_ = 0;
  bool foregroundEnabled_ = true;
  bool backgroundEnabled_ = true;
  int selection_ = 0;
  bool ctl3D_ = true;
  bool tabStop_ = false;
  bool hasFocus_ = false;
  Qt::MouseButton button_ = Qt::NoButton;  // button of the last press
  bool buttonDown_ = false;
  bool leftPressed_ = false;  // a left press began on this control (for the click)
  bool captured_ = false;     // the mouse is grabbed by a right or middle press
};

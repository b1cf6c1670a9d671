// Tests of the colour grid: geometry and snapping, the keyboard table, the setters and their
// notifications, mouse picks with capture, and the drawn cells and markers.
#include "my_color_grid.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEngine>
#include <QPaintEvent>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <climits>
#include <vector>

#include "app/qt_test_environment.h"

namespace {

// A shown grid of the given size (resize events, and so the snapping, arrive on show).
std::unique_ptr<TMyColorGrid> ShownGrid(int w = 120, int h = 160) {
  auto grid = std::make_unique<TMyColorGrid>();
  grid->resize(w, h);
  grid->show();
  return grid;
}

QPoint CentreOf(const TMyColorGrid& grid, int cell) { return grid.CellRect(cell).center(); }

void Key(TMyColorGrid& grid, Qt::Key key) { QTest::keyClick(&grid, key); }

using dayvane::testing::Rendered;

TEST(ColorGridGeometry, SnapsToWholeCellsAndHitsClampedCells) {
  auto grid = ShownGrid(121, 161);
  EXPECT_EQ(grid->size(), QSize(120, 160));
  EXPECT_EQ(grid->CellWidth(), 30);
  EXPECT_EQ(grid->CellHeight(), 40);
  EXPECT_EQ(grid->CellRect(6), QRect(60, 40, 30, 40));
  EXPECT_EQ(grid->CellAt(-5, 10), 0);
  EXPECT_EQ(grid->CellAt(500, 10), 3);
  EXPECT_EQ(grid->CellAt(500, 500), 15);
  EXPECT_EQ(grid->CellAt(59, 79), 5);
  EXPECT_EQ(grid->CellAt(60, 80), 10);

  grid->resize(100, 160);
  grid->setGridOrdering(go16x1);
  EXPECT_EQ(grid->width(), 96);
  EXPECT_EQ(grid->CellWidth(), 6);
  EXPECT_EQ(grid->CellAt(95, 0), 15);
}

TEST(ColorGridGeometry, TinyControlKeepsOnePixelCells) {
  // Narrower than its column count: cells stay one pixel wide, hit tests stay in range.
  auto grid = ShownGrid(5, 0);
  grid->setGridOrdering(go16x1);
  EXPECT_EQ(grid->CellWidth(), 1);
  EXPECT_EQ(grid->CellAt(1000, 1000), 15);
  EXPECT_EQ(TMyColorGrid::SnappedSize(QSize(0, 0), go4x4), QSize(4, 4));
}

TEST(ColorGridGeometry, OrderingGivesColumnsAndRows) {
  TMyColorGrid grid;
  const int expected[5][2] = {{16, 1}, {8, 2}, {4, 4}, {2, 8}, {1, 16}};
  for (int g = go16x1; g <= go1x16; ++g) {
    grid.setGridOrdering(static_cast<TGridOrdering>(g));
    EXPECT_EQ(grid.Columns(), expected[g][0]) << g;
    EXPECT_EQ(grid.Rows(), expected[g][1]) << g;
  }
}

struct KeyCase {
  TGridOrdering ordering;
  int from;
  Qt::Key key;
  int to;
};

TEST(ColorGridKeyboard, MovesTheSelectionWithWrapping) {
  const KeyCase cases[] = {
      {go4x4, 5, Qt::Key_Home, 0},  {go4x4, 5, Qt::Key_End, 15},   {go4x4, 0, Qt::Key_Left, 15},
      {go4x4, 6, Qt::Key_Left, 5},  {go4x4, 15, Qt::Key_Right, 0}, {go4x4, 15, Qt::Key_Space, 0},
      {go4x4, 4, Qt::Key_Space, 5}, {go4x4, 0, Qt::Key_Up, 15},    {go4x4, 3, Qt::Key_Up, 14},
      {go4x4, 9, Qt::Key_Up, 5},    {go4x4, 12, Qt::Key_Down, 1},  {go4x4, 15, Qt::Key_Down, 0},
      {go4x4, 2, Qt::Key_Down, 6},  {go8x2, 3, Qt::Key_Up, 10},    {go8x2, 9, Qt::Key_Down, 2},
      {go16x1, 7, Qt::Key_Up, 6},   {go16x1, 7, Qt::Key_Down, 8},  {go1x16, 7, Qt::Key_Up, 6},
      {go1x16, 0, Qt::Key_Up, 15},
  };
  for (const KeyCase& c : cases) {
    TMyColorGrid grid;
    grid.setGridOrdering(c.ordering);
    grid.setSelection(c.from);
    Key(grid, c.key);
    EXPECT_EQ(grid.Selection(), c.to) << "ordering " << c.ordering << " from " << c.from << " key "
                                      << QKeySequence(c.key).toString().toStdString();
  }
}

TEST(ColorGridKeyboard, FAndBPickAtTheSelectionAndClick) {
  TMyColorGrid grid;
  QSignalSpy clicks(&grid, &TMyColorGrid::OnClick);
  QSignalSpy changes(&grid, &TMyColorGrid::OnChange);
  grid.setSelection(9);
  Key(grid, Qt::Key_F);
  EXPECT_EQ(grid.ForegroundIndex(), 9);
  grid.setSelection(4);
  Key(grid, Qt::Key_B);
  EXPECT_EQ(grid.BackgroundIndex(), 4);
  EXPECT_EQ(clicks.count(), 2);
  EXPECT_EQ(changes.count(), 2);

  // With the background disabled B still clicks but changes nothing.
  grid.setBackgroundEnabled(false);
  grid.setSelection(7);
  Key(grid, Qt::Key_B);
  EXPECT_EQ(grid.BackgroundIndex(), 4);
  EXPECT_EQ(clicks.count(), 3);
  EXPECT_EQ(changes.count(), 2);
}

TEST(ColorGridProperties, DefaultsAndChangeNotification) {
  TMyColorGrid grid;
  EXPECT_FALSE(grid.ClickEnablesColor());
  EXPECT_EQ(grid.GridOrdering(), go4x4);
  EXPECT_EQ(grid.ForegroundIndex(), 0);
  EXPECT_EQ(grid.BackgroundIndex(), 0);
  EXPECT_TRUE(grid.ForegroundEnabled());
  EXPECT_TRUE(grid.BackgroundEnabled());
  EXPECT_EQ(grid.Selection(), 0);
  EXPECT_FALSE(grid.TabStop());
  EXPECT_EQ(grid.size(), QSize(100, 100));

  QSignalSpy changes(&grid, &TMyColorGrid::OnChange);
  grid.setForegroundIndex(0);
  grid.setBackgroundIndex(0);
  EXPECT_EQ(changes.count(), 0);
  grid.setForegroundIndex(6);
  grid.setBackgroundIndex(6);
  EXPECT_EQ(changes.count(), 2);

  grid.setForegroundEnabled(false);
  grid.setForegroundIndex(3);
  EXPECT_EQ(grid.ForegroundIndex(), 6);
  EXPECT_EQ(changes.count(), 2);
  grid.setSelection(12);
  EXPECT_EQ(changes.count(), 2);  // the cursor is not a colour change
}

TEST(ColorGridMouse, LeftPicksForegroundAndClicksOnRelease) {
  auto grid = ShownGrid();
  QSignalSpy clicks(grid.get(), &TMyColorGrid::OnClick);
  QTest::mousePress(grid.get(), Qt::LeftButton, {}, CentreOf(*grid, 5));
  EXPECT_EQ(grid->ForegroundIndex(), 5);
  EXPECT_EQ(grid->Selection(), 5);
  EXPECT_EQ(clicks.count(), 0);
  // A drag moves the foreground and the cursor along.
  QTest::mouseMove(grid.get(), CentreOf(*grid, 10));
  EXPECT_EQ(grid->ForegroundIndex(), 10);
  EXPECT_EQ(grid->Selection(), 10);
  QTest::mouseRelease(grid.get(), Qt::LeftButton, {}, CentreOf(*grid, 10));
  EXPECT_EQ(clicks.count(), 1);
  EXPECT_EQ(grid->BackgroundIndex(), 0);

  // Released outside the control: no click.
  QTest::mousePress(grid.get(), Qt::LeftButton, {}, CentreOf(*grid, 1));
  QTest::mouseRelease(grid.get(), Qt::LeftButton, {}, QPoint(500, 500));
  EXPECT_EQ(clicks.count(), 1);
}

TEST(ColorGridMouse, RightClickOnDisabledBackgroundMovesOnlyTheSelection) {
  auto grid = ShownGrid();
  grid->setBackgroundEnabled(false);
  QSignalSpy clicks(grid.get(), &TMyColorGrid::OnClick);
  QSignalSpy changes(grid.get(), &TMyColorGrid::OnChange);
  QTest::mousePress(grid.get(), Qt::RightButton, {}, CentreOf(*grid, 5));
  EXPECT_EQ(QWidget::mouseGrabber(), grid.get());
  QTest::mouseRelease(grid.get(), Qt::RightButton, {}, CentreOf(*grid, 5));
  EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
  EXPECT_EQ(grid->Selection(), 5);
  EXPECT_EQ(grid->BackgroundIndex(), 0);
  EXPECT_EQ(grid->ForegroundIndex(), 0);
  EXPECT_EQ(clicks.count(), 1);
  EXPECT_EQ(changes.count(), 0);

  // No background marker: only the foreground's, and purple cell 5 shows no lime asterisk.
  EXPECT_EQ(grid->Markers(),
            (std::vector<TMyColorGrid::Marker>{{grid->CellRect(0), QColor(Qt::white)}}));
  const QImage image = Rendered(*grid);
  const QRect cell = grid->CellRect(5);
  for (int y = cell.top(); y <= cell.bottom(); ++y)
    for (int x = cell.left(); x <= cell.right(); ++x)
      ASSERT_NE(image.pixelColor(x, y), QColor(0, 255, 0)) << x << "," << y;
}

TEST(ColorGridMouse, ClickEnablesColorEnablesBeforePicking) {
  auto grid = ShownGrid();
  grid->setClickEnablesColor(true);
  grid->setBackgroundEnabled(false);
  QSignalSpy changes(grid.get(), &TMyColorGrid::OnChange);
  // Same cell as the stored index: the pick still takes effect once enabled.
  QTest::mouseClick(grid.get(), Qt::RightButton, {}, CentreOf(*grid, 0));
  EXPECT_TRUE(grid->BackgroundEnabled());
  EXPECT_EQ(grid->BackgroundIndex(), 0);
  EXPECT_EQ(changes.count(), 1);
}

TEST(ColorGridMouse, MiddleButtonNeverKeepsTheCapture) {
  auto grid = ShownGrid();
  QSignalSpy clicks(grid.get(), &TMyColorGrid::OnClick);
  QTest::mousePress(grid.get(), Qt::MiddleButton, {}, CentreOf(*grid, 7));
  EXPECT_EQ(grid->BackgroundIndex(), 7);
  QTest::mouseRelease(grid.get(), Qt::MiddleButton, {}, CentreOf(*grid, 7));
  EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
  EXPECT_EQ(clicks.count(), 0);

  // Hidden while a right button is held: the capture goes too.
  QTest::mousePress(grid.get(), Qt::RightButton, {}, CentreOf(*grid, 2));
  grid->hide();
  EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
}

// ---- Drawing ----

// Records the region of every paint.
class RecordingGrid : public TMyColorGrid {
 public:
  QRegion painted;

 protected:
  void paintEvent(QPaintEvent* event) override {
    painted += event->region();
    TMyColorGrid::paintEvent(event);
  }
};

TEST(ColorGridDrawing, SettersRepaintOnlyTheCellsConcerned) {
  RecordingGrid grid;
  grid.resize(120, 160);
  grid.show();
  QCoreApplication::processEvents();
  auto repainted = [&](auto change) {
    grid.painted = QRegion();
    change();
    QCoreApplication::processEvents();
    return grid.painted;
  };
  QRegion r = repainted([&] { grid.setForegroundIndex(5); });
  EXPECT_TRUE(r.contains(grid.CellRect(0)));
  EXPECT_TRUE(r.contains(grid.CellRect(5)));
  EXPECT_FALSE(r.intersects(grid.CellRect(15).adjusted(5, 5, -5, -5)));
  EXPECT_FALSE(r.intersects(grid.CellRect(10).adjusted(5, 5, -5, -5)));

  r = repainted([&] { grid.setSelection(10); });
  EXPECT_TRUE(r.contains(grid.CellRect(10)));
  EXPECT_FALSE(r.intersects(grid.CellRect(5).adjusted(5, 5, -5, -5)));

  EXPECT_TRUE(repainted([&] { grid.setForegroundIndex(5); }).isEmpty());
  EXPECT_TRUE(repainted([&] { grid.setSelection(10); }).isEmpty());
}

QImage Render(const TMyColorGrid& grid, int cell, bool selector) {
  QImage image(grid.size(), QImage::Format_RGB32);
  image.fill(Qt::magenta);
  QPainter p(&image);
  grid.DrawCell(p, cell, selector);
  return image;
}

TEST(ColorGridDrawing, MarkerColourContrastsWithTheCell) {
  EXPECT_EQ(TMyColorGrid::MarkerColor(Qt::white), QColor(Qt::black));
  EXPECT_EQ(TMyColorGrid::MarkerColor(Qt::black), QColor(Qt::white));
  EXPECT_EQ(TMyColorGrid::MarkerColor(QColor(0, 128, 128)), QColor(255, 0, 0));
  EXPECT_EQ(TMyColorGrid::MarkerColor(QColor(127, 192, 128)), QColor(255, 0, 0));
}

int CountPixels(const QImage& image, const QRect& rect, QColor color) {
  int n = 0;
  for (int y = rect.top(); y <= rect.bottom(); ++y)
    for (int x = rect.left(); x <= rect.right(); ++x) n += image.pixelColor(x, y) == color;
  return n;
}

// A paint device that keeps every text drawn on it with its pen colour and position, so
// that a test sees what the grid asks the painter for and not how a font rasterises.
class TextRecorder : public QPaintDevice {
 public:
  struct Text {
    QString text;
    QColor color;
    QPointF at;
  };
  std::vector<Text> texts;

  QPaintEngine* paintEngine() const override { return &engine_; }

 protected:
  int metric(PaintDeviceMetric metric) const override {
    switch (metric) {
      case PdmWidth:
      case PdmHeight:
        return 1000;
      case PdmWidthMM:
      case PdmHeightMM:
        return 264;
      case PdmDpiX:
      case PdmDpiY:
      case PdmPhysicalDpiX:
      case PdmPhysicalDpiY:
        return 96;
      case PdmNumColors:
        return INT_MAX;
      case PdmDepth:
        return 32;
      default:
        return QPaintDevice::metric(metric);
    }
  }

 private:
  class Engine : public QPaintEngine {
   public:
    explicit Engine(TextRecorder& owner) : QPaintEngine(AllFeatures), owner_(owner) {}
    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState&) override {}
    void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
    void drawTextItem(const QPointF& at, const QTextItem& item) override {
      owner_.texts.push_back({item.text(), painter()->pen().color(), at});
    }
    Type type() const override { return User; }

   private:
    TextRecorder& owner_;
  };
  mutable Engine engine_{*this};
};

TEST(ColorGridDrawing, AsterisksAreDrawnInTheContrastColour) {
  using Markers = std::vector<TMyColorGrid::Marker>;
  auto grid = ShownGrid();
  grid->setForegroundIndex(15);
  grid->setBackgroundIndex(6);
  const Markers both = {{grid->CellRect(15), Qt::black}, {grid->CellRect(6), QColor(255, 0, 0)}};
  EXPECT_EQ(grid->Markers(), both);

  // The painter gets an asterisk in each marker's colour, placed inside its cell.
  TextRecorder device;
  {
    QPainter painter(&device);
    grid->DrawMarkers(painter);
  }
  ASSERT_EQ(device.texts.size(), both.size());
  for (size_t i = 0; i < both.size(); ++i) {
    EXPECT_EQ(device.texts[i].text, QStringLiteral("*")) << i;
    EXPECT_EQ(device.texts[i].color, both[i].color) << i;
    EXPECT_TRUE(both[i].rect.contains(device.texts[i].at.toPoint())) << i;
  }

  // A disabled selection has no asterisk; both on one cell give two.
  grid->setForegroundEnabled(false);
  EXPECT_EQ(grid->Markers(), Markers{both[1]});
  grid->setBackgroundEnabled(false);
  EXPECT_TRUE(grid->Markers().empty());
  grid->setForegroundEnabled(true);
  grid->setBackgroundEnabled(true);
  grid->setForegroundIndex(0);
  grid->setBackgroundIndex(0);
  EXPECT_EQ(grid->Markers(), Markers(2, {grid->CellRect(0), Qt::white}));
}

TEST(ColorGridDrawing, CellLooksWithAndWithout3D) {
  auto grid = ShownGrid();
  // As stored in an 8-bit image.
  const QColor face(grid->palette().color(QPalette::Button).rgb());
  const QColor shadow(grid->palette().color(QPalette::Dark).rgb());
  const QColor light(grid->palette().color(QPalette::Light).rgb());
  const QRect r = grid->CellRect(15);  // white, 30 x 40 at (90, 120)

  QImage image = Render(*grid, 15, false);
  EXPECT_EQ(image.pixelColor(r.topLeft()), face);
  EXPECT_EQ(image.pixelColor(r.left() + 1, r.top() + 5), shadow);
  EXPECT_EQ(image.pixelColor(r.left() + 2, r.top() + 5), shadow);
  EXPECT_EQ(image.pixelColor(r.right() - 1, r.top() + 5), light);
  EXPECT_EQ(image.pixelColor(r.left() + 5, r.bottom() - 2), light);
  EXPECT_EQ(image.pixelColor(r.left() + 3, r.top() + 3), QColor(Qt::white));
  EXPECT_EQ(image.pixelColor(r.left() - 1, r.top()), QColor(Qt::magenta));  // stays inside

  // The selector's dotted rectangle inverts every other pixel one pixel inside the fill.
  image = Render(*grid, 15, true);
  EXPECT_EQ(image.pixelColor(r.left() + 4, r.top() + 4), QColor(Qt::black));
  EXPECT_EQ(image.pixelColor(r.left() + 5, r.top() + 4), QColor(Qt::white));
  EXPECT_EQ(image.pixelColor(r.left() + 10, r.top() + 10), QColor(Qt::white));

  grid->setCtl3D(false);
  image = Render(*grid, 6, false);
  const QRect t = grid->CellRect(6);
  EXPECT_EQ(image.pixelColor(t.topLeft()), QColor(Qt::black));
  EXPECT_EQ(image.pixelColor(t.bottomRight()), QColor(Qt::black));
  EXPECT_EQ(image.pixelColor(t.left() + 1, t.top() + 1), QColor(0, 128, 128));

  image = Render(*grid, 6, true);
  EXPECT_EQ(image.pixelColor(t.topLeft()), QColor(Qt::white));
  EXPECT_EQ(image.pixelColor(t.left() + 1, t.top() + 1), QColor(0, 128, 128));
  EXPECT_EQ(image.pixelColor(t.left() + 2, t.top() + 2), QColor(Qt::black));
  EXPECT_EQ(image.pixelColor(t.left() + 3, t.top() + 3), QColor(0, 128, 128));

  // Indices outside the grid draw nothing.
  image = Render(*grid, 16, true);
  EXPECT_EQ(CountPixels(image, image.rect(), Qt::magenta), image.width() * image.height());
}

TEST(ColorGridDrawing, PaintedCellsShowThePalette) {
  auto grid = ShownGrid();
  grid->setForegroundEnabled(false);
  grid->setBackgroundEnabled(false);
  const QImage image = Rendered(*grid);
  for (int i = 0; i < TMyColorGrid::kCellCount; ++i) {
    EXPECT_EQ(image.pixelColor(grid->CellRect(i).center()), TMyColorGrid::CellColor(i)) << i;
  }
  EXPECT_EQ(TMyColorGrid::CellColor(6), QColor(0, 128, 128));
  EXPECT_EQ(TMyColorGrid::CellColor(16), QColor(Qt::black));
}

}  // namespace

// Drawing of the program's glyphs. Every shape is laid out on a 16 x 16 grid (the
// calendar picture on 32 x 32) and scaled to the pixel size asked for.
#include "glyphs.h"

#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace dayvane {
namespace {

void DrawOptions(QPainter& p) {
  // Three slider rails with their knobs at different places.
  const qreal knobs[3] = {4.5, 10.5, 7.0};
  for (int i = 0; i < 3; ++i) {
    const qreal y = 3.5 + i * 4.5;
    p.setPen(QPen(QColor(70, 70, 70), 1.4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(2, y), QPointF(14, y));
    p.setPen(QPen(QColor(20, 60, 130), 1.0));
    p.setBrush(QColor(70, 130, 210));
    p.drawEllipse(QPointF(knobs[i], y), 1.9, 1.9);
  }
}

void DrawSave(QPainter& p) {
  QPainterPath body;
  body.moveTo(2, 2);
  body.lineTo(12, 2);
  body.lineTo(14, 4);
  body.lineTo(14, 14);
  body.lineTo(2, 14);
  body.closeSubpath();
  p.setPen(QPen(QColor(20, 40, 90), 0.8));
  p.setBrush(QColor(50, 90, 170));
  p.drawPath(body);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(235, 235, 235));
  p.drawRect(QRectF(4, 8.5, 8, 5));  // label
  p.setBrush(QColor(190, 200, 215));
  p.drawRect(QRectF(4.5, 2.5, 6, 3.5));  // shutter
  p.setBrush(QColor(50, 90, 170));
  p.drawRect(QRectF(8.5, 3, 1.3, 2.5));
  p.setPen(QPen(QColor(150, 150, 150), 0.6));
  p.drawLine(QPointF(5, 10.2), QPointF(11, 10.2));
  p.drawLine(QPointF(5, 11.8), QPointF(11, 11.8));
}

void DrawDiscWithText(QPainter& p, const QString& text, int text_size) {
  p.setPen(QPen(QColor(20, 60, 130), 0.8));
  p.setBrush(QColor(45, 110, 200));
  p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setBold(true);
  font.setPixelSize(text_size);  // in grid units; the painter scales the grid
  p.setFont(font);
  p.setPen(Qt::white);
  p.drawText(QRectF(1.5, 1.5, 13, 13), Qt::AlignCenter, text);
}

void DrawExit(QPainter& p) {
  // Door frame and an open door, with an arrow leaving to the right.
  p.setPen(QPen(QColor(90, 60, 30), 1.0));
  p.setBrush(QColor(200, 160, 110));
  p.drawRect(QRectF(2.5, 1.5, 7, 13));
  p.setBrush(QColor(140, 95, 50));
  QPolygonF door;
  door << QPointF(2.5, 1.5) << QPointF(6.5, 3) << QPointF(6.5, 15) << QPointF(2.5, 14.5);
  p.drawPolygon(door);
  p.setPen(QPen(QColor(190, 30, 30), 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawLine(QPointF(8, 8), QPointF(14, 8));
  p.drawLine(QPointF(11.5, 5.5), QPointF(14, 8));
  p.drawLine(QPointF(11.5, 10.5), QPointF(14, 8));
}

void DrawArrow(QPainter& p, bool left, const QColor& tint) {
  QPolygonF head;
  if (left) {
    head << QPointF(10.5, 3) << QPointF(4.5, 8) << QPointF(10.5, 13);
  } else {
    head << QPointF(5.5, 3) << QPointF(11.5, 8) << QPointF(5.5, 13);
  }
  p.setPen(Qt::NoPen);
  p.setBrush(tint);
  p.drawPolygon(head);
}

void DrawCalendar(QPainter& p) {
  // On a 32 x 32 grid: a page with a red header, two rings and a 4 x 3 grid of days, one
  // of them marked.
  p.scale(0.5, 0.5);
  p.setPen(QPen(QColor(80, 80, 80), 1.0));
  p.setBrush(Qt::white);
  p.drawRoundedRect(QRectF(3.5, 5.5, 25, 24), 2, 2);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(200, 40, 40));
  p.drawRect(QRectF(4, 6, 24, 6));
  p.setBrush(QColor(60, 60, 60));
  p.drawRoundedRect(QRectF(9, 2.5, 2.5, 6), 1, 1);
  p.drawRoundedRect(QRectF(20.5, 2.5, 2.5, 6), 1, 1);
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 4; ++col) {
      const bool marked = row == 1 && col == 2;
      p.setBrush(marked ? QColor(0, 128, 128) : QColor(185, 185, 185));
      p.drawRect(QRectF(6.5 + col * 5.2, 14.5 + row * 4.8, 3.6, 3.2));
    }
  }
}

void DrawGlyph(QPainter& p, Glyph glyph, const QColor& tint) {
  switch (glyph) {
    case Glyph::kOptions:
      DrawOptions(p);
      break;
    case Glyph::kSave:
      DrawSave(p);
      break;
    case Glyph::kHelp:
      DrawDiscWithText(p, QStringLiteral("?"), 11);
      break;
    case Glyph::kAbout:
      DrawDiscWithText(p, QStringLiteral("i"), 11);
      break;
    case Glyph::kExit:
      DrawExit(p);
      break;
    case Glyph::kPrevious:
      DrawArrow(p, true, tint);
      break;
    case Glyph::kNext:
      DrawArrow(p, false, tint);
      break;
    case Glyph::kCalendar:
      DrawCalendar(p);
      break;
  }
}

// Greys a picture out the way disabled buttons show: lightness kept, colour dropped,
// half transparent.
QImage Disabled(const QImage& image) {
  QImage out = image.convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < out.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
    for (int x = 0; x < out.width(); ++x) {
      const int grey = 128 + qGray(line[x]) / 3;
      line[x] = qRgba(grey, grey, grey, qAlpha(line[x]) / 2);
    }
  }
  return out;
}

class GlyphEngine final : public QIconEngine {
 public:
  GlyphEngine(Glyph glyph, QColor tint) : glyph_(glyph), tint_(tint) {}

  void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
    painter->drawPixmap(rect,
                        pixmap(rect.size() * painter->device()->devicePixelRatioF(), mode, state));
  }

  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
      QPainter p(&image);
      p.setRenderHint(QPainter::Antialiasing);
      p.setRenderHint(QPainter::TextAntialiasing);
      const qreal side = qMin(size.width(), size.height());
      p.translate((size.width() - side) / 2.0, (size.height() - side) / 2.0);
      p.scale(side / 16.0, side / 16.0);
      DrawGlyph(p, glyph_, tint_);
    }
    if (mode == QIcon::Disabled) image = Disabled(image);
    return QPixmap::fromImage(image);
  }

  QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override { return size; }
  QIconEngine* clone() const override { return new GlyphEngine(glyph_, tint_); }
  QString key() const override { return QStringLiteral("dayvane-glyph"); }

 private:
  Glyph glyph_;
  QColor tint_;
};

}  // namespace

QIcon GlyphIcon(Glyph glyph, QColor tint) { return QIcon(new GlyphEngine(glyph, tint)); }

}  // namespace dayvane

// The sixteen basic colours that the colour grid shows in its cells and that the font
// dialog offers as text colours. Qt has no stock default palette, so this table is the
// grid's palette: index i is cell i.
#pragma once

#include <QColor>
#include <QRgb>
#include <array>

namespace colorgrid {

struct BasicColor {
  const char* name;
  QRgb rgb;
};

inline constexpr int kBasicColorCount = 16;

// In the order of the cells: the eight dark colours, then their light counterparts.
inline constexpr std::array<BasicColor, kBasicColorCount> kBasicColors = {{
    {"Black", qRgb(0, 0, 0)},
    {"Maroon", qRgb(128, 0, 0)},
    {"Green", qRgb(0, 128, 0)},
    {"Olive", qRgb(128, 128, 0)},
    {"Navy", qRgb(0, 0, 128)},
    {"Purple", qRgb(128, 0, 128)},
    {"Teal", qRgb(0, 128, 128)},
    {"Silver", qRgb(192, 192, 192)},
    {"Gray", qRgb(128, 128, 128)},
    {"Red", qRgb(255, 0, 0)},
    {"Lime", qRgb(0, 255, 0)},
    {"Yellow", qRgb(255, 255, 0)},
    {"Blue", qRgb(0, 0, 255)},
    {"Fuchsia", qRgb(255, 0, 255)},
    {"Aqua", qRgb(0, 255, 255)},
    {"White", qRgb(255, 255, 255)},
}};

// Colour of cell `index`; indices outside 0 .. 15 give black.
inline QColor BasicColorAt(int index) {
  if (index < 0 || index >= kBasicColorCount) return QColor(Qt::black);
  return QColor(kBasicColors[static_cast<std::size_t>(index)].rgb);
}

}  // namespace colorgrid

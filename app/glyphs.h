// The program's own pictures: the toolbar glyphs, the calendar's month arrows and the
// about box's calendar picture. They are drawn as shapes at whatever pixel size is asked
// for, so they stay sharp at 96 dpi and on high-density screens alike.
#pragma once

#include <QColor>
#include <QIcon>

namespace dayvane {

enum class Glyph {
  kOptions,   // sliders: configure the program
  kSave,      // a floppy disk
  kHelp,      // a question mark in a blue disc
  kAbout,     // an "i" in a blue disc
  kExit,      // an arrow leaving through a door
  kPrevious,  // a left-pointing arrow head in the tint colour
  kNext,      // a right-pointing arrow head in the tint colour
  kCalendar,  // a calendar page
};

// An icon that draws glyph at any size. The disabled mode shows the same shape greyed
// (the save button's second image). tint colours the arrow heads.
QIcon GlyphIcon(Glyph glyph, QColor tint = Qt::black);

}  // namespace dayvane

// Colours as the settings file holds them (0x00BBGGRR, red in the lowest byte) and their
// Qt counterparts. A value with the top bit set names one of the Windows system colours by
// its index in the low byte (COLOR_WINDOW is 5, COLOR_BTNFACE 15, ...); it is turned into
// the matching colour of the current palette whenever it is applied, so such a value
// follows the desktop's colour scheme.
#pragma once

#include <QColor>
#include <QPalette>

#include "app_settings.h"

namespace dayvane {

// True for a value that names a system colour.
inline bool IsSystemColor(ColorValue value) { return value < 0; }

// The colour a value stands for; system colours are taken from palette. Unknown system
// colour indices give the palette's window colour.
QColor ColorFromValue(ColorValue value, const QPalette& palette);

// The value of an opaque colour (alpha is dropped).
ColorValue ValueFromColor(const QColor& color);

}  // namespace dayvane

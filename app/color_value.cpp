// Conversion between settings-file colour values and QColor.
#include "color_value.h"

namespace dayvane {
namespace {

// The palette colour standing in for a Windows system colour index (COLOR_* constants).
QColor SystemColor(int index, const QPalette& p) {
  using R = QPalette::ColorRole;
  auto c = [&p](R role, QPalette::ColorGroup group = QPalette::Active) {
    return p.color(group, role);
  };
  switch (index) {
    case 0:  // COLOR_SCROLLBAR
      return c(R::Mid);
    case 1:  // COLOR_BACKGROUND (desktop)
      return c(R::Dark);
    case 2:   // COLOR_ACTIVECAPTION
    case 27:  // COLOR_GRADIENTACTIVECAPTION
    case 13:  // COLOR_HIGHLIGHT
    case 29:  // COLOR_MENUHILIGHT
      return c(R::Highlight);
    case 3:   // COLOR_INACTIVECAPTION
    case 28:  // COLOR_GRADIENTINACTIVECAPTION
      return c(R::Highlight, QPalette::Inactive);
    case 4:   // COLOR_MENU
    case 30:  // COLOR_MENUBAR
    case 10:  // COLOR_ACTIVEBORDER
    case 11:  // COLOR_INACTIVEBORDER
    case 15:  // COLOR_BTNFACE
      return c(R::Button);
    case 5:  // COLOR_WINDOW
      return c(R::Base);
    case 6:  // COLOR_WINDOWFRAME
      return c(R::Shadow);
    case 7:  // COLOR_MENUTEXT
    case 8:  // COLOR_WINDOWTEXT
      return c(R::WindowText);
    case 9:   // COLOR_CAPTIONTEXT
    case 14:  // COLOR_HIGHLIGHTTEXT
      return c(R::HighlightedText);
    case 19:  // COLOR_INACTIVECAPTIONTEXT
      return c(R::HighlightedText, QPalette::Inactive);
    case 12:  // COLOR_APPWORKSPACE
      return c(R::Mid);
    case 16:  // COLOR_BTNSHADOW
      return c(R::Dark);
    case 17:  // COLOR_GRAYTEXT
      return c(R::Text, QPalette::Disabled);
    case 18:  // COLOR_BTNTEXT
      return c(R::ButtonText);
    case 20:  // COLOR_BTNHIGHLIGHT
      return c(R::Light);
    case 21:  // COLOR_3DDKSHADOW
      return c(R::Shadow);
    case 22:  // COLOR_3DLIGHT
      return c(R::Midlight);
    case 23:  // COLOR_INFOTEXT
      return c(R::ToolTipText);
    case 24:  // COLOR_INFOBK
      return c(R::ToolTipBase);
    case 26:  // COLOR_HOTLIGHT
      return c(R::Link);
    default:
      return c(R::Window);
  }
}

}  // namespace

QColor ColorFromValue(ColorValue value, const QPalette& palette) {
  if (IsSystemColor(value)) return SystemColor(value & 0xFF, palette);
  const auto v = static_cast<uint32_t>(value);
  return QColor(static_cast<int>(v & 0xFF), static_cast<int>((v >> 8) & 0xFF),
                static_cast<int>((v >> 16) & 0xFF));
}

ColorValue ValueFromColor(const QColor& color) {
  const QColor rgb = color.toRgb();
  return static_cast<ColorValue>(static_cast<uint32_t>(rgb.red()) |
                                 (static_cast<uint32_t>(rgb.green()) << 8) |
                                 (static_cast<uint32_t>(rgb.blue()) << 16));
}

}  // namespace dayvane

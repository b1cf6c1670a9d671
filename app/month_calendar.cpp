// The month calendar and its colour slots.
#include "month_calendar.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QEvent>
#include <QTextCharFormat>
#include <QToolButton>

#include "color_value.h"
#include "glyphs.h"

namespace dayvane {
namespace {

// QCalendarWidget's own names for its parts.
constexpr const char* kNavigationBar = "qt_calendar_navigationbar";
constexpr const char* kPreviousMonth = "qt_calendar_prevmonth";
constexpr const char* kNextMonth = "qt_calendar_nextmonth";

void SetRole(QPalette& palette, QPalette::ColorRole role, const QColor& color) {
  palette.setColor(QPalette::Active, role, color);
  palette.setColor(QPalette::Inactive, role, color);
  palette.setColor(QPalette::Disabled, role, color);
}

}  // namespace

TMonthCalendar::TMonthCalendar(QWidget* parent) : QCalendarWidget(parent) {
  setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
  setGridVisible(false);
  ApplyColorSlots();
}

void TMonthCalendar::SetColorSlot(int slot, ColorValue value) { SetColorSlots({{slot, value}}); }

void TMonthCalendar::SetColorSlots(std::initializer_list<std::pair<int, ColorValue>> values) {
  bool changed = false;
  for (const auto& [slot, value] : values) {
    if (slot < 0 || slot >= kSlotCount) continue;
    slots_[slot] = value;
    changed = true;
  }
  if (changed) ApplyColorSlots();
}

std::optional<ColorValue> TMonthCalendar::ColorSlot(int slot) const {
  if (slot < 0 || slot >= kSlotCount) return std::nullopt;
  return slots_[slot];
}

QColor TMonthCalendar::SlotColor(int slot) const {
  const QPalette system = QApplication::palette();
  if (slot >= 0 && slot < kSlotCount && slots_[slot]) {
    return ColorFromValue(*slots_[slot], system);
  }
  switch (slot) {
    case kSlotText:
      return system.color(QPalette::Active, QPalette::Text);
    case kSlotTitleBackground:
      return system.color(QPalette::Active, QPalette::Highlight);
    case kSlotTitleText:
      return system.color(QPalette::Active, QPalette::HighlightedText);
    case kSlotMonthBackground:
      return system.color(QPalette::Active, QPalette::Base);
    case kSlotTrailingText:
      return system.color(QPalette::Disabled, QPalette::Text);
    default:
      return system.color(QPalette::Active, QPalette::Window);
  }
}

void TMonthCalendar::ApplyColorSlots() {
  if (applying_) return;
  applying_ = true;
  const QColor text = SlotColor(kSlotText);
  const QColor title_back = SlotColor(kSlotTitleBackground);
  const QColor title_text = SlotColor(kSlotTitleText);
  const QColor month_back = SlotColor(kSlotMonthBackground);
  const QColor trailing = SlotColor(kSlotTrailingText);

  // The day grid takes the day numbers from Text, the neighbouring months' days from the
  // disabled Text, the cells from Base and the selection from Highlight.
  QPalette pal = QApplication::palette();
  SetRole(pal, QPalette::Window, QApplication::palette().color(QPalette::Window));
  pal.setColor(QPalette::Active, QPalette::Text, text);
  pal.setColor(QPalette::Inactive, QPalette::Text, text);
  pal.setColor(QPalette::Disabled, QPalette::Text, trailing);
  SetRole(pal, QPalette::Base, month_back);
  SetRole(pal, QPalette::AlternateBase, month_back);
  SetRole(pal, QPalette::Highlight, title_back);
  SetRole(pal, QPalette::HighlightedText, title_text);
  setPalette(pal);

  // Every weekday in the day-number colour (Qt marks weekends red by default).
  QTextCharFormat day;
  day.setForeground(text);
  for (int d = Qt::Monday; d <= Qt::Sunday; ++d) {
    setWeekdayTextFormat(static_cast<Qt::DayOfWeek>(d), day);
  }
  QTextCharFormat header;
  header.setForeground(title_back);
  header.setBackground(month_back);
  setHeaderTextFormat(header);

  if (QWidget* bar = findChild<QWidget*>(QLatin1String(kNavigationBar))) {
    QPalette bar_pal = bar->palette();
    SetRole(bar_pal, QPalette::Window, title_back);
    SetRole(bar_pal, QPalette::Highlight, title_back);
    SetRole(bar_pal, QPalette::Button, title_back);
    SetRole(bar_pal, QPalette::ButtonText, title_text);
    SetRole(bar_pal, QPalette::WindowText, title_text);
    SetRole(bar_pal, QPalette::Text, title_text);
    bar->setPalette(bar_pal);
    bar->setBackgroundRole(QPalette::Window);
    bar->setAutoFillBackground(true);
    for (QToolButton* button : bar->findChildren<QToolButton*>()) {
      button->setPalette(bar_pal);
    }
    if (auto* prev = bar->findChild<QToolButton*>(QLatin1String(kPreviousMonth))) {
      prev->setIcon(GlyphIcon(Glyph::kPrevious, title_text));
    }
    if (auto* next = bar->findChild<QToolButton*>(QLatin1String(kNextMonth))) {
      next->setIcon(GlyphIcon(Glyph::kNext, title_text));
    }
  }
  update();
  applying_ = false;
}

void TMonthCalendar::changeEvent(QEvent* event) {
  QCalendarWidget::changeEvent(event);
  switch (event->type()) {
    case QEvent::StyleChange:
    case QEvent::LayoutDirectionChange:
    case QEvent::LocaleChange:
    case QEvent::ApplicationPaletteChange:
      // Qt rebuilds the arrows and the button palettes on these; system colours may
      // have changed as well.
      ApplyColorSlots();
      break;
    default:
      break;
  }
}

}  // namespace dayvane

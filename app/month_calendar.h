// TMonthCalendar: the month calendar of the main window, a QCalendarWidget that takes its
// colours by slot the way the Windows month-calendar control does:
//   slot 0  background around the month     (left at the widget's default)
//   slot 1  text: the day numbers
//   slot 2  title background (also marks the selected day and the weekday names)
//   slot 3  title text (also the text of the selected day)
//   slot 4  month background: behind the days
//   slot 5  trailing text: the days of the neighbouring months
// A slot holds a settings-file colour value; a system colour is looked up in the current
// palette each time the colours are applied, so it follows a change of the desktop's
// colours. Slots never set keep Qt's own colours.
#pragma once

#include <QCalendarWidget>
#include <array>
#include <initializer_list>
#include <optional>
#include <utility>

#include "app_settings.h"

namespace dayvane {

class TMonthCalendar : public QCalendarWidget {
  Q_OBJECT

 public:
  static constexpr int kSlotBackground = 0;
  static constexpr int kSlotText = 1;
  static constexpr int kSlotTitleBackground = 2;
  static constexpr int kSlotTitleText = 3;
  static constexpr int kSlotMonthBackground = 4;
  static constexpr int kSlotTrailingText = 5;
  static constexpr int kSlotCount = 6;

  explicit TMonthCalendar(QWidget* parent = nullptr);

  // Sets one slot (0 to 5; others are ignored) and repaints with it.
  void SetColorSlot(int slot, ColorValue value);
  // Sets several (slot, value) pairs as SetColorSlot does, applying the colours once.
  void SetColorSlots(std::initializer_list<std::pair<int, ColorValue>> values);
  // The value of a slot, or nothing when it was never set.
  std::optional<ColorValue> ColorSlot(int slot) const;
  // The colour a slot shows now: its value turned into a colour, or the widget's default.
  QColor SlotColor(int slot) const;

 protected:
  void changeEvent(QEvent* event) override;

 private:
  // Pushes the slots into the palettes and text formats of the widget and its parts.
  void ApplyColorSlots();

  std::array<std::optional<ColorValue>, kSlotCount> slots_;
  bool applying_ = false;
};

}  // namespace dayvane

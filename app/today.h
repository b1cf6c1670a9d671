// The calendar's today: the system's date, unless a test has fixed one.
#pragma once

#include <QDate>
#include <optional>

namespace dayvane {

QDate Today();
// Tests fix the date with this; std::nullopt returns to the system's.
void SetTodayOverride(std::optional<QDate> date);

}  // namespace dayvane

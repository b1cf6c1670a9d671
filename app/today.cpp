// The calendar's today.
#include "today.h"

namespace dayvane {
namespace {

std::optional<QDate>& Override() {
  static std::optional<QDate> date;
  return date;
}

}  // namespace

QDate Today() { return Override().value_or(QDate::currentDate()); }

void SetTodayOverride(std::optional<QDate> date) { Override() = date; }

}  // namespace dayvane

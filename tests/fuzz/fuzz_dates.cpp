// Date texts of any bytes through every style's conversions and name lookups.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/dates.h"
#include "engine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = [] {
    zedra::EngineStartup();
    return true;
  }();
  (void)started;
  if (size == 0) return 0;
  zedra::Dates().CenturyOn = (data[0] & 0x80) != 0;
  zedra::SetDateStyle(data[0] & 0x0F);
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  std::string canonical = zedra::DateToCanonical(text);
  (void)zedra::DateFromCanonical(canonical);
  (void)zedra::DateFromCanonical(text);
  (void)zedra::DOW(text);
  (void)zedra::CDOW(text);
  (void)zedra::CMONTH(text);
  (void)zedra::DAY(text);
  (void)zedra::MONTH(text);
  (void)zedra::YEAR(text);
  (void)zedra::ExpandYear(text.substr(0, 4));
  return 0;
}

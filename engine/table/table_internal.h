// Small helpers that the table layer's source files share.
#pragma once

#include <cstdint>
#include <string>

#include "table/hooks.h"
#include "table/work_area.h"

namespace zedra {

inline std::string Num(long long n) { return std::to_string(n); }

inline std::string Hex2(uint8_t v) {
  static const char kDigits[] = "0123456789ABCDEF";
  return std::string("0x") + kDigits[v >> 4] + kDigits[v & 15];
}

// Enters or leaves the index layer's write bracket when an index is active.
inline void WriteBracket(bool enter) {
  if (IndexActive() && IndexHookTable().WriteBracket) IndexHookTable().WriteBracket(enter);
}

}  // namespace zedra

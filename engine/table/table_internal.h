// Small helpers that the table layer's source files share.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/files.h"
#include "table/hooks.h"
#include "table/work_area.h"

namespace zedra {

inline std::string Num(long long n) { return std::to_string(n); }

inline std::string Hex2(uint8_t v) {
  static const char kDigits[] = "0123456789ABCDEF";
  return std::string("0x") + kDigits[v >> 4] + kDigits[v & 15];
}

// The block number in a memo field: leading blanks, a signed decimal; else 0. A number
// beyond the 32-bit range is damage, not a block, and counts as no memo.
inline int32_t MemoBlockOf(std::string_view text) {
  std::string t = AllTrim(text);
  if (t.empty()) return 0;
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(t.c_str(), &end, 10);
  if (errno != 0 || !end || *end != '\0' || v < INT32_MIN || v > INT32_MAX) return 0;
  return static_cast<int32_t>(v);
}

// Enters or leaves the index layer's write bracket when an index is active.
inline void WriteBracket(bool enter) {
  if (IndexActive() && IndexHookTable().WriteBracket) IndexHookTable().WriteBracket(enter);
}

}  // namespace zedra

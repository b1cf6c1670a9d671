// Decimal texts turned into doubles without the general conversion where that is exact.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zedra {

// The value of a plain decimal text, [-]digits[.digits], when one division gives it
// exactly: its digits as an integer below 2^53 over a power of ten up to 10^22. Both are
// exact doubles, so the quotient is the correctly rounded value, the one from_chars
// gives. False for any other text.
inline bool PlainDecimal(std::string_view text, double* out) {
  static constexpr double kTens[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                     1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                     1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  size_t i = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (negative) ++i;
  uint64_t digits = 0;
  size_t whole = 0, decimals = 0;
  bool point = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      if (digits >= (uint64_t(1) << 49)) return false;  // ten times more stays below 2^53
      digits = digits * 10 + uint64_t(c - '0');
      ++(point ? decimals : whole);
    } else if (c == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  if (whole == 0 || (point && decimals == 0) || decimals > 22) return false;
  const double value = double(digits) / kTens[decimals];
  *out = negative ? -value : value;
  return true;
}

}  // namespace zedra

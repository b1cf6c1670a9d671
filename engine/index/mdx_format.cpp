// The packed-decimal numeric key and the tree-level estimate of the MDX layout.
#include "index/mdx_format.h"

#include <cmath>

namespace zedra::mdx {

int TreeLevels(uint32_t n, uint32_t m) {
  int levels = 2;
  if (m < 2) m = 2;
  for (uint32_t v = n; v != 0; v /= m) ++levels;
  return levels;
}

NumericKeyBytes NumericKey(std::string_view text) {
  NumericKeyBytes key{};
  size_t i = 0;
  auto at = [&](size_t k) { return k < text.size() ? text[k] : '\0'; };
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  // Step 1: sign and leading blanks and zeros.
  while (at(i) == ' ') ++i;
  bool negative = false;
  if (at(i) == '+') {
    ++i;
  } else if (at(i) == '-') {
    negative = true;
    ++i;
  }
  while (at(i) == ' ' || at(i) == '0') ++i;
  // The decimals the text was formatted with: the digits after its point.
  int decimals = 0;
  if (size_t point = text.find('.'); point != std::string_view::npos)
    for (size_t k = point + 1; k < text.size() && digit(text[k]); ++k) ++decimals;
  // Step 2: the exponent starts at 0x34; zeros right after a leading point lower it.
  key[0] = 0x34;
  bool point_seen = false;
  if (at(i) == '.') {
    point_seen = true;
    size_t k = i + 1;
    int zeros = 0;
    while (at(k) == '0') {
      ++zeros;
      ++k;
    }
    if (digit(at(k)) && at(k) != '0') {
      key[0] = uint8_t(0x34 - zeros);
      i = k;
    } else {
      i = k;  // only zeros after the point: the value is zero
    }
  }
  // Step 3: the digits, two to a byte from byte 2, at most 20.
  int stored = 0;
  int trailing_zeros = 0;
  for (;; ++i) {
    char c = at(i);
    if (c == '.' && !point_seen) {
      point_seen = true;
      continue;
    }
    if (!digit(c)) break;
    if (!point_seen) key[0] = uint8_t(key[0] + 1);
    if (stored < 20) {
      uint8_t v = uint8_t(c - '0');
      uint8_t& b = key[2 + stored / 2];
      b = stored % 2 == 0 ? uint8_t(v << 4) : uint8_t(b | v);
      ++stored;
      trailing_zeros = v == 0 ? trailing_zeros + 1 : 0;
    }
  }
  // Step 4: the significant digit count.
  const bool short_run = point_seen && trailing_zeros < decimals;
  int g = short_run ? stored : stored - trailing_zeros;
  if (g != 0 && !short_run && g < 10) g = 10;
  if (g > 20) g = 20;
  // Step 5: sign, count and the low bit; zero is never negative.
  key[1] = uint8_t(((negative && g != 0) ? 0x80 : 0) | (g * 4) | 1);
  return key;
}

double NumericKeyValue(const uint8_t* key) {
  const int g = (key[1] >> 2) & 31;
  if (g == 0) return 0.0;
  double mantissa = 0;
  for (int d = 0; d < 20; ++d) {
    uint8_t b = key[2 + d / 2];
    int v = d % 2 == 0 ? b >> 4 : b & 0x0F;
    mantissa += v * std::pow(10.0, -(d + 1));
  }
  double value = mantissa * std::pow(10.0, int(key[0]) - 0x34);
  return (key[1] & 0x80) ? -value : value;
}

}  // namespace zedra::mdx

// The exact shortcut for plain decimal texts gives the value from_chars gives, bit for bit,
// and refuses every text it cannot take exactly.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "base/decimal_text.h"

namespace zedra {
namespace {

uint64_t Bits(double v) {
  uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

TEST(DecimalTextTest, SameValueAsFromCharsOrRefused) {
  std::mt19937_64 rng(42);
  int taken = 0;
  for (int i = 0; i < 200000; ++i) {
    std::string text = rng() % 4 == 0 ? "-" : "";
    const int whole = int(rng() % 18), decimals = int(rng() % 25);
    for (int k = 0; k < whole; ++k) text += char('0' + rng() % 10);
    if (rng() % 3) text += '.';
    for (int k = 0; k < decimals; ++k) text += char('0' + rng() % 10);
    double fast = 0, general = 0;
    if (!PlainDecimal(text, &fast)) continue;
    ++taken;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), general);
    ASSERT_EQ(ec, std::errc()) << text;
    ASSERT_EQ(end, text.data() + text.size()) << text;
    ASSERT_EQ(Bits(fast), Bits(general)) << text;
  }
  EXPECT_GT(taken, 50000);
  double v = 0;
  for (const char* refused : {"", "-", ".5", "5.", "1e5", " 1", "1 ", "+1", "1.2.3", "--1", "inf",
                              "nan", "12345678901234567", "0.12345678901234567890123"})
    EXPECT_FALSE(PlainDecimal(refused, &v)) << refused;
  ASSERT_TRUE(PlainDecimal("-0.00", &v));
  EXPECT_TRUE(std::signbit(v));
}

}  // namespace
}  // namespace zedra

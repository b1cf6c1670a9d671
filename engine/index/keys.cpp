// Keys: the three comparisons with their descending forms, the key makers that turn
// the current record into a key, BuildKey, and keys as display text.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "base/files.h"
#include "expr/day_numbers.h"
#include "expr/expr.h"
#include "index/index.h"
#include "table/code_pages.h"

namespace zedra {

int CompareCharKeys(const uint8_t* a, const uint8_t* b, size_t length) {
  for (size_t i = 0; i < length; ++i)
    if (a[i] != b[i]) return int(a[i]) - int(b[i]);
  return 0;
}

int CompareCharKeysDescending(const uint8_t* a, const uint8_t* b, size_t length) {
  return CompareCharKeys(b, a, length);
}

int CompareNumericKeys(const uint8_t* a, const uint8_t* b, size_t /*length*/) {
  const int sign_a = (a[1] & 0x80) ? -1 : 1;
  const int sign_b = (b[1] & 0x80) ? -1 : 1;
  if (sign_a != sign_b) return sign_a;
  const int digits_a = (a[1] >> 2) & 31;
  const int digits_b = (b[1] >> 2) & 31;
  const int exponent_a = digits_a == 0 ? 0 : a[0];
  const int exponent_b = digits_b == 0 ? 0 : b[0];
  if (exponent_a == exponent_b) {
    // At most the 10 digit bytes of the key.
    const size_t bytes = std::min<size_t>(size_t(std::max(digits_a, digits_b) + 1) / 2, 10);
    const uint8_t* x = sign_a > 0 ? a : b;
    const uint8_t* y = sign_a > 0 ? b : a;
    return CompareCharKeys(x + 2, y + 2, bytes);
  }
  return exponent_a < exponent_b ? -sign_a : sign_a;
}

int CompareNumericKeysDescending(const uint8_t* a, const uint8_t* b, size_t length) {
  return CompareNumericKeys(b, a, length);
}

double DateKeyValue(const uint8_t* key) {
  const uint64_t bits = uint64_t(GetLE32(key)) | (uint64_t(GetLE32(key + 4)) << 32);
  double value;
  std::memcpy(&value, &bits, sizeof value);
  // Other writers store a blank date as some number beyond 9999-12-31.
  if (std::isnan(value) || value > kLastDay) return kBlankDay;
  return value;
}

int CompareDateKeys(const uint8_t* a, const uint8_t* b, size_t /*length*/) {
  const double x = DateKeyValue(a);
  const double y = DateKeyValue(b);
  if (x == y) return 0;
  return x > y ? 1 : -1;
}

int CompareDateKeysDescending(const uint8_t* a, const uint8_t* b, size_t length) {
  return CompareDateKeys(b, a, length);
}

KeyComparator ComparatorFor(char key_type, bool descending) {
  switch (key_type) {
    case 'C': return descending ? CompareCharKeysDescending : CompareCharKeys;
    case 'N':
    case 'F': return descending ? CompareNumericKeysDescending : CompareNumericKeys;
    case 'D': return descending ? CompareDateKeysDescending : CompareDateKeys;
    default: return nullptr;
  }
}

// ---------------------------------------------------------------------------------------
// Key makers

namespace {

// value formatted as "%.*f" would format it, without the cost of the general formatter
// where the result is certain: a scaled value well inside the exactly representable
// integers and not close to a rounding tie. False leaves the work to the formatter.
bool FormatFixed(double value, int decimals, char* out, size_t size) {
  static constexpr double kPowers[] = {1, 10, 100, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};
  if (decimals < 0 || decimals > 9 || !(std::fabs(value) < 1e15)) return false;
  const double scaled = value * kPowers[decimals];
  if (!(std::fabs(scaled) < 4e15)) return false;
  const double fraction = std::fabs(scaled - std::trunc(scaled));
  if (std::fabs(fraction - 0.5) < 1e-6) return false;
  const long long n = std::llround(scaled);
  unsigned long long magnitude = n < 0 ? 0ULL - (unsigned long long)n : (unsigned long long)n;
  char digits[32];
  int count = 0;
  do {
    digits[count++] = char('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0 || count <= decimals);
  size_t at = 0;
  if (value < 0 || n < 0) out[at++] = '-';
  for (int i = count - 1; i >= 0; --i) {
    if (i == decimals - 1) out[at++] = '.';
    out[at++] = digits[i];
    if (at + 2 >= size) return false;
  }
  out[at] = '\0';
  return true;
}

}  // namespace

const uint8_t* CharKeyMaker(TagControl& tag) {
  IndexState& s = Indexes();
  SetKeyExpression(tag.key_expression);
  const char* value = static_cast<const char*>(EvaluateKey());
  s.char_key.fill(0);
  if (value) {
    const size_t length = strnlen(value, kMaxText);
    std::memcpy(s.char_key.data(), value, length);
    if (const DbfArea* area = CurrentArea(); area && area->oem)
      AreaAnsiToOem(*area, std::span(s.char_key.data(), length));
  }
  return s.char_key.data();
}

const uint8_t* NumericKeyMaker(TagControl& tag) {
  IndexState& s = Indexes();
  SetKeyExpression(tag.key_expression);
  const double* value = static_cast<const double*>(EvaluateKey());
  const int decimals = tag.key_expression ? tag.key_expression->decimals : 0;
  char text[400];
  const double v = value ? *value : 0.0;
  if (!FormatFixed(v, decimals, text, sizeof text)) std::snprintf(text, sizeof text, "%.*f", decimals, v);
  s.numeric_key = mdx::NumericKey(text);
  return s.numeric_key.data();
}

const uint8_t* DateKeyMaker(TagControl& tag) {
  IndexState& s = Indexes();
  SetKeyExpression(tag.key_expression);
  const double* value = static_cast<const double*>(EvaluateKey());
  const double day = value ? *value : kBlankDay;
  uint64_t bits;
  std::memcpy(&bits, &day, sizeof bits);
  PutLE32(s.date_key.data(), uint32_t(bits));
  PutLE32(s.date_key.data() + 4, uint32_t(bits >> 32));
  return s.date_key.data();
}

KeyMaker KeyMakerFor(char key_type) {
  switch (key_type) {
    case 'C': return CharKeyMaker;
    case 'N':
    case 'F': return NumericKeyMaker;
    case 'D': return DateKeyMaker;
    default: return nullptr;
  }
}

const uint8_t* BuildKey(int order) {
  TagControl* tag = OrderAt(order);
  if (!tag || !tag->key_maker) return nullptr;
  IndexState& s = Indexes();
  s.key_order = order;
  const uint8_t* key = tag->key_maker(*tag);
  const size_t length = std::min<size_t>(tag->KeyLength(), mdx::kMaxKeyLength);
  tag->current_key.fill(0);
  std::memcpy(tag->current_key.data(), key, length);
  return tag->current_key.data();
}

std::string KeyBytesText(const uint8_t* key, char key_type, uint16_t key_length) {
  switch (key_type) {
    case 'C': {
      const size_t length = std::min<size_t>(key_length, mdx::kMaxKeyLength);
      return std::string(reinterpret_cast<const char*>(key), strnlen(reinterpret_cast<const char*>(key), length));
    }
    case 'N':
    case 'F': {
      char text[64];
      std::snprintf(text, sizeof text, "%.15g", mdx::NumericKeyValue(key));
      return text;
    }
    case 'D': return DayToDtos(DateKeyValue(key));
    default: return std::string();
  }
}

std::optional<std::string> KeyText(int order) {
  const DbfArea* area = CurrentArea();
  if (!area) return std::nullopt;
  if (CurrentAreaIndex().natural_order) return "Rec:" + NumToText(area->current_record, 10);
  TagControl* tag = OrderAt(order);
  if (!tag || !tag->key_expression) return std::nullopt;
  SetKeyExpression(tag->key_expression);
  const void* value = EvaluateKey();
  if (!value) return std::string();
  switch (tag->KeyType()) {
    case 'C': {
      const char* text = static_cast<const char*>(value);
      return std::string(text, strnlen(text, mdx::kMaxKeyLength));
    }
    case 'N':
    case 'F': {
      char text[400];
      std::snprintf(text, sizeof text, "%*.*f", int(tag->key_expression->width),
                    int(tag->key_expression->decimals), *static_cast<const double*>(value));
      return std::string(text);
    }
    case 'D': return DayToText(*static_cast<const double*>(value));
    default: return std::string();
  }
}

}  // namespace zedra

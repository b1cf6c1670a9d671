// Reading and writing the fields of the current record buffer.
#include "table/commands.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "base/errors.h"
#include "platform/platform.h"

#include "table/table_internal.h"

namespace zedra {

const FieldDesc* FieldAt(int k) {
  DbfArea* area = CurrentArea();
  if (!area || k < 1 || k > area->field_count) return nullptr;
  return &area->fields[k - 1];
}

int FieldNumber(std::string_view name) {
  DbfArea* area = CurrentArea();
  if (!area) return 0;
  for (int k = 1; k <= area->field_count; ++k) {
    std::string n = area->fields[k - 1].Name();
    if (n.size() == name.size() &&
        std::equal(n.begin(), n.end(), name.begin(), [](char a, char b) {
          return platform::AnsiUpper(uint8_t(a)) == platform::AnsiUpper(uint8_t(b));
        }))
      return k;
  }
  return 0;
}

std::string FieldRaw(int k) {
  const FieldDesc* f = FieldAt(k);
  if (!f) return {};
  const DbfArea& area = *CurrentArea();
  return std::string(reinterpret_cast<const char*>(area.record.data()) + f->offset, f->length);
}

std::string FieldText(int k) {
  const FieldDesc* f = FieldAt(k);
  if (!f) return {};
  std::string raw = FieldRaw(k);
  size_t end = raw.find_last_not_of(' ');
  raw.erase(end == std::string::npos ? 0 : end + 1);
  if (f->type != 'C') {
    size_t start = raw.find_first_not_of(' ');
    raw.erase(0, start == std::string::npos ? raw.size() : start);
  }
  return raw;
}

double FieldNum(int k) {
  const FieldDesc* f = FieldAt(k);
  if (!f || (f->type != 'N' && f->type != 'F' && f->type != 'M')) return 0.0;
  std::string text = FieldText(k);
  // The value of the leading well-formed part, 0 when there is none.
  const char* p = text.c_str();
  if (*p == '+') ++p;
  char* end = nullptr;
  double v = std::strtod(p, &end);
  if (end == p || !std::isfinite(v)) return 0.0;
  return v;
}

std::string FieldDate(int k) {
  const FieldDesc* f = FieldAt(k);
  if (!f || f->type != 'D') return {};
  return FieldRaw(k);
}

bool FieldLogical(int k) {
  const FieldDesc* f = FieldAt(k);
  if (!f || f->type != 'L') return false;
  char c = CurrentArea()->record[f->offset];
  return c == 'T' || c == 't' || c == 'Y' || c == 'y';
}

bool Deleted() {
  DbfArea* area = CurrentArea();
  return area && !area->record.empty() && area->record[0] == kRecordDeleted;
}

namespace {

bool FieldError(int k, const std::string& what, const std::string& op) {
  const FieldDesc* f = FieldAt(k);
  std::string field = f ? f->Name() : "#" + Num(k);
  SetError(220, what + " (field " + field + ") [" + op + "]");
  return false;
}

void Store(const FieldDesc& f, std::string_view bytes) {
  DbfArea& area = *CurrentArea();
  uint8_t* p = area.record.data() + f.offset;
  std::memset(p, ' ', f.length);
  std::memcpy(p, bytes.data(), std::min<size_t>(bytes.size(), f.length));
}

// A decimal number text: optional sign, digits, optional point and digits.
bool SplitDecimal(std::string_view text, bool* negative, std::string* whole, std::string* frac) {
  *negative = false;
  whole->clear();
  frac->clear();
  size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) *negative = text[i++] == '-';
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) whole->push_back(text[i++]);
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) frac->push_back(text[i++]);
  }
  return i == text.size() && !(whole->empty() && frac->empty());
}

// The stored form of a decimal number: rounded half away from zero to `decimals`
// digits, right-aligned in `width`; false when it does not fit.
bool FormatDecimal(bool negative, std::string whole, std::string frac, int decimals, int width,
                   std::string* out) {
  whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size()));
  bool round_up = int(frac.size()) > decimals && frac[decimals] >= '5';
  frac.resize(decimals, '0');
  std::string digits = whole + frac;
  if (round_up) {
    int i = int(digits.size()) - 1;
    while (i >= 0 && digits[i] == '9') digits[i--] = '0';
    if (i >= 0) ++digits[i];
    else digits.insert(digits.begin(), '1');
  }
  whole = digits.substr(0, digits.size() - decimals);
  frac = digits.substr(digits.size() - decimals);
  if (whole.empty()) whole = "0";
  bool zero = digits.find_first_not_of('0') == std::string::npos;
  std::string text = (negative && !zero ? "-" : "") + whole + (decimals > 0 ? "." + frac : "");
  if (int(text.size()) > width) return false;
  *out = std::string(width - text.size(), ' ') + text;
  return true;
}

// A calendar date YYYYMMDD: year 1-9999, the day within its month (leap years of the
// Gregorian calendar), so that every reader of the table can take it as a date.
bool ValidDtos(std::string_view s) {
  if (s.size() != 8 || !std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  int year = std::stoi(std::string(s.substr(0, 4)));
  int month = (s[4] - '0') * 10 + (s[5] - '0');
  int day = (s[6] - '0') * 10 + (s[7] - '0');
  if (year < 1 || month < 1 || month > 12 || day < 1) return false;
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

}  // namespace

bool SetFieldRaw(int k, std::string_view bytes) {
  if (AreaNotInUse("SetFieldRaw")) return false;
  const FieldDesc* f = FieldAt(k);
  if (!f) return FieldError(k, "Invalid field number", "SetFieldRaw");
  if (bytes.size() > f->length) return FieldError(k, "Value too long", "SetFieldRaw");
  Store(*f, bytes);
  return true;
}

bool SetFieldText(int k, std::string_view text) {
  if (AreaNotInUse("SetFieldText")) return false;
  const FieldDesc* f = FieldAt(k);
  if (!f) return FieldError(k, "Invalid field number", "SetFieldText");
  std::string trimmed(text);
  if (f->type != 'C') trimmed = AllTrim(text);
  switch (f->type) {
    case 'N':
    case 'F':
    case 'M': {
      if (trimmed.empty()) {
        Store(*f, "");
        return true;
      }
      bool negative;
      std::string whole, frac, out;
      if (!SplitDecimal(trimmed, &negative, &whole, &frac))
        return FieldError(k, "Not a number: \"" + trimmed + "\"", "SetFieldText");
      int decimals = f->type == 'M' ? 0 : f->decimals;
      if (f->type == 'M' && (negative || !frac.empty()))
        return FieldError(k, "Not a memo block number: \"" + trimmed + "\"", "SetFieldText");
      if (f->type == 'M' && whole.find_first_not_of('0') == std::string::npos) {
        Store(*f, "");  // block 0 is no memo, stored blank as other programs expect
        return true;
      }
      if (!FormatDecimal(negative, whole, frac, decimals, f->length, &out))
        return FieldError(k, "Value too wide: \"" + trimmed + "\"", "SetFieldText");
      Store(*f, out);
      return true;
    }
    case 'D':
      return SetFieldDate(k, trimmed);
    case 'L':
      if (trimmed.empty()) {
        Store(*f, "");
        return true;
      }
      if (trimmed.size() == 1 && std::strchr("TtFfYyNn?", trimmed[0])) {
        // Stored as T or F; "?" is the unknown value and stays.
        char c = char(std::toupper(static_cast<unsigned char>(trimmed[0])));
        Store(*f, std::string(1, c == 'Y' ? 'T' : c == 'N' ? 'F' : c));
        return true;
      }
      return FieldError(k, "Not a logical value: \"" + trimmed + "\"", "SetFieldText");
    default:
      if (trimmed.size() > f->length) {
        // Trailing blanks beyond the width carry nothing.
        std::string_view t = trimmed;
        while (t.size() > f->length && t.back() == ' ') t.remove_suffix(1);
        if (t.size() > f->length)
          return FieldError(k, "Value too long (" + Num(long(t.size())) + " characters)", "SetFieldText");
        trimmed = std::string(t);
      }
      Store(*f, trimmed);
      return true;
  }
}

bool SetFieldNum(int k, double value) {
  if (AreaNotInUse("SetFieldNum")) return false;
  const FieldDesc* f = FieldAt(k);
  if (!f || (f->type != 'N' && f->type != 'F'))
    return FieldError(k, "Not a numeric field", "SetFieldNum");
  if (!std::isfinite(value)) return FieldError(k, "Not a finite number", "SetFieldNum");
  char buffer[400];
  // to_chars gives printf's "%.*f" text: already rounded to the field's decimals, without
  // leading zeros. Right-aligned, without the sign of a zero, it is the stored form.
  const auto [end, ec] =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, int(f->decimals));
  if (ec == std::errc()) {
    std::string_view text(buffer, size_t(end - buffer));
    if (text.front() == '-' && text.find_first_not_of("-0.") == std::string_view::npos)
      text.remove_prefix(1);
    if (text.size() > f->length)
      return FieldError(k, "Value too wide: " + std::string(buffer, end), "SetFieldNum");
    uint8_t* p = CurrentArea()->record.data() + f->offset;
    std::memset(p, ' ', f->length - text.size());
    std::memcpy(p + (f->length - text.size()), text.data(), text.size());
    return true;
  }
  std::snprintf(buffer, sizeof buffer, "%.*f", int(f->decimals), value);
  bool negative;
  std::string whole, frac, out;
  if (!SplitDecimal(buffer, &negative, &whole, &frac) ||
      !FormatDecimal(negative, whole, frac, f->decimals, f->length, &out))
    return FieldError(k, std::string("Value too wide: ") + buffer, "SetFieldNum");
  Store(*f, out);
  return true;
}

bool SetFieldDate(int k, std::string_view yyyymmdd) {
  if (AreaNotInUse("SetFieldDate")) return false;
  const FieldDesc* f = FieldAt(k);
  if (!f || f->type != 'D') return FieldError(k, "Not a date field", "SetFieldDate");
  std::string s = AllTrim(yyyymmdd);
  if (s.empty()) {
    Store(*f, "");
    return true;
  }
  if (!ValidDtos(s)) return FieldError(k, "Not a date YYYYMMDD: \"" + s + "\"", "SetFieldDate");
  Store(*f, s);
  return true;
}

bool SetFieldLogical(int k, bool value) {
  if (AreaNotInUse("SetFieldLogical")) return false;
  const FieldDesc* f = FieldAt(k);
  if (!f || f->type != 'L') return FieldError(k, "Not a logical field", "SetFieldLogical");
  Store(*f, value ? "T" : "F");
  return true;
}
}  // namespace zedra

// The built-in functions: each takes its arguments from the value stack (the last on top)
// and leaves one result there. Counts, positions, widths and codes are cut toward zero;
// texts are read up to their first zero byte and at most 255 characters, and no result
// is longer than 255 characters.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "base/dates.h"
#include "base/errors.h"
#include "base/files.h"
#include "expr/day_numbers.h"
#include "expr/expr.h"
#include "expr/internal.h"
#include "table/code_pages.h"
#include "table/work_area.h"

namespace zedra {

using namespace expr_internal;

namespace {

// Beyond this many multiplications by 10 any non-zero fraction has overflowed to infinity
// (the smallest double is about 4.9E-324 and the largest about 1.8E308), so ROUND gives
// the same result for any higher number of decimals.
constexpr int kMaxRoundSteps = 700;

// SOUNDEX code of the letters A to Z.
constexpr char kSoundexCodes[] = "01230120022455012623010202";

// A number truncated to a 64-bit integer, held within the range (NaN gives 0).
int64_t TruncInt64(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 9223372036854775807.0) return std::numeric_limits<int64_t>::max();
  if (value <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(value);
}

// The type of the value on top of the stack.
int TopType() {
  CompiledExpr* e = ExprEngine().current;
  return e->value_cursor ? NodeOf(e->value_cursor).type : ValNum;
}

// The text on top of the stack for a change in place, with its length.
char* TopText(size_t* length) {
  char* t = PeekTop();
  *length = t ? strnlen(t, kMaxText) : 0;
  return t;
}

double Round(double n, double decimals) {
  double i = std::trunc(n);
  double f = n - i;
  int d = std::min(TruncInt(decimals), kMaxRoundSteps);
  for (int k = 0; k < d; ++k) f *= 10;
  f = std::trunc(f);
  for (int k = 0; k < d; ++k) f /= 10;
  return f + i;
}

// STR: n right-aligned in w characters with d decimals; w asterisks when it does not fit.
size_t FormatStr(double n, int w, int d, char* out) {
  if (w <= 0) return 0;
  w = std::min<int>(w, static_cast<int>(kMaxText));
  if (d < 0) d = 0;
  // With decimals the text has at least "0." and the digits: too long for w already.
  bool fits = !(d > 0 && d > w - 2) && !(std::isfinite(n) && std::fabs(n) >= 1e256);
  char text[600];
  int length = 0;
  if (fits) {
    length = std::snprintf(text, sizeof text, "%.*f", d, n);
    fits = length > 0 && length <= w;
  }
  if (!fits) {
    std::memset(out, '*', size_t(w));
    return size_t(w);
  }
  std::memset(out, ' ', size_t(w - length));
  std::memcpy(out + (w - length), text, size_t(length));
  return size_t(w);
}

}  // namespace

std::string Soundex(std::string_view text) {
  text = text.substr(0, 100);
  std::string result = "0000";
  if (text.empty()) return result;
  auto upper = [](char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; };
  auto is_letter = [](char c) { return c >= 'A' && c <= 'Z'; };
  char first = upper(text[0]);
  result[0] = first;
  char last = is_letter(first) ? kSoundexCodes[first - 'A'] : '0';
  size_t filled = 1;
  for (size_t i = 1; i < text.size() && filled < 4; ++i) {
    char c = upper(text[i]);
    if (!is_letter(c)) continue;
    char code = kSoundexCodes[c - 'A'];
    if (code == last) continue;
    if (code != '0') result[filled++] = code;
    last = code;
  }
  return result;
}

namespace expr_internal {

void RunFunction(int opcode, int argc) {
  char out[kMaxText + 1];
  switch (opcode) {
    case kAbs: PushNum(ValNum, std::fabs(PopNum())); return;
    case kAsc: {
      std::string_view s = PopText();
      PushNum(ValNum, s.empty() ? 0.0 : static_cast<unsigned char>(s[0]));
      return;
    }
    case kAt: {
      std::string_view s = PopText(), sub = PopText();
      size_t at = sub.empty() ? std::string_view::npos : s.find(sub);
      PushNum(ValNum, at == std::string_view::npos ? 0.0 : double(at + 1));
      return;
    }
    // CDOW, CMONTH, DAY, MONTH, YEAR and DOW read a date through its text of the current
    // style, as the date functions of the base layer take it.
    case kCdow: PushText(CDOW(DayToText(PopNum()))); return;
    case kCmonth: PushText(CMONTH(DayToText(PopNum()))); return;
    case kChr: {
      // The low 8 bits of the whole truncated value, not of a value held to 32 bits.
      char c = static_cast<char>(TruncInt64(PopNum()) & 0xFF);
      PushText(std::string_view(&c, c == '\0' ? 0 : 1));
      return;
    }
    case kCtod: PushNum(ValDate, TextToDay(PopText().substr(0, 10))); return;
    case kDate: {
      TodayDate t = TodayParts();
      PushNum(ValDate, YmdToDay(t.year, t.month, t.day));
      return;
    }
    case kDay: PushNum(ValNum, DAY(DayToText(PopNum()))); return;
    case kMonth: PushNum(ValNum, MONTH(DayToText(PopNum()))); return;
    case kYear: PushNum(ValNum, YEAR(DayToText(PopNum()))); return;
    case kDow: {
      double d = PopNum();
      int y, m, dd;
      // A blank date has no day of the week.
      PushNum(ValNum, DayToYmd(d, &y, &m, &dd) ? DOW(DayToText(d)) : 0);
      return;
    }
    case kDeleted: {
      // A file area's deletion flag is "*"; a virtual area's buffer starts with the
      // typed image's deleted byte, non-zero when deleted (as hide-deleted reads it).
      const DbfArea* a = CurrentArea();
      bool deleted = a && !a->record.empty() &&
                     (a->is_virtual ? a->record[0] != 0 : a->record[0] == '*');
      PushLogical(deleted ? 1 : 0);
      return;
    }
    case kDtoc: PushText(DayToText(PopNum())); return;
    case kDtos: PushText(DayToDtos(PopNum())); return;
    case kIif: {
      std::string_view b = PopText(), a = PopText();
      bool c = PopLogical() != 0;
      PushText(c ? a : b);
      return;
    }
    case kInt: {
      double n = PopNum();
      // Within the 64-bit range through the integer (so that -0.5 gives 0, not -0).
      bool in_range = n > -9223372036854775808.0 && n < 9223372036854775808.0;
      PushNum(ValNum, in_range ? double(static_cast<int64_t>(n)) : std::trunc(n));
      return;
    }
    case kLeft: {
      size_t n = size_t(std::max(TruncInt(PopNum()), 0));
      size_t length;
      if (char* s = TopText(&length); s && n < length) s[n] = '\0';
      return;
    }
    case kRight: {
      int n = TruncInt(PopNum());
      size_t length;
      char* s = TopText(&length);
      if (!s) return;
      if (n <= 0) {
        s[0] = '\0';
      } else if (size_t(n) < length) {
        std::memmove(s, s + (length - size_t(n)), size_t(n));
        s[n] = '\0';
      }
      return;
    }
    case kLen: PushNum(ValNum, double(PopText().size())); return;
    case kLower:
    case kUpper: {
      // In the letters of the current table's code page.
      size_t length;
      char* s = TopText(&length);
      const DbfArea* area = CurrentArea();
      for (size_t i = 0; s && i < length; ++i)
        s[i] = opcode == kUpper ? AreaUpperChar(area, s[i]) : AreaLowerChar(area, s[i]);
      return;
    }
    case kLtrim: {
      size_t length;
      char* s = TopText(&length);
      if (!s) return;
      size_t skip = 0;
      while (skip < length && s[skip] == ' ') ++skip;
      std::memmove(s, s + skip, length - skip);
      s[length - skip] = '\0';
      return;
    }
    case kRtrim:
    case kTrim: {
      size_t length;
      char* s = TopText(&length);
      if (!s) return;
      while (length > 0 && s[length - 1] == ' ') --length;
      s[length] = '\0';
      return;
    }
    case kMax:
    case kMin: {
      int type = TopType();
      double b = PopNum(), a = PopNum();
      PushNum(type, opcode == kMax ? (a > b ? a : b) : (a < b ? a : b));
      return;
    }
    case kMod: {
      int64_t b = TruncInt64(PopNum()), a = TruncInt64(PopNum());
      if (b == 0) {
        SetError(358, "Error during evaluation: Divide by 0 [Evaluate/Engine]");
        PushNum(ValNum, 1.0E250);
      } else {
        PushNum(ValNum, b == -1 ? 0.0 : double(a % b));
      }
      return;
    }
    case kRecno: PushNum(ValNum, RecNo()); return;
    case kReplicate: {
      int n = TruncInt(PopNum());
      std::string_view s = PopText();
      size_t used = 0;
      for (int i = 0; i < n && !s.empty() && used < kMaxText; ++i) {
        size_t take = std::min(s.size(), kMaxText - used);
        std::memcpy(out + used, s.data(), take);
        used += take;
      }
      PushText(std::string_view(out, used));
      return;
    }
    case kRound: {
      double d = PopNum(), n = PopNum();
      PushNum(ValNum, Round(n, d));
      return;
    }
    case kSoundex: PushText(Soundex(PopText())); return;
    case kSpace: {
      int n = std::clamp(TruncInt(PopNum()), 0, static_cast<int>(kMaxText));
      std::memset(out, ' ', size_t(n));
      PushText(std::string_view(out, size_t(n)));
      return;
    }
    case kStr: {
      double d = argc >= 3 ? PopNum() : 0;
      double w = argc >= 2 ? PopNum() : 10;
      double n = PopNum();
      PushText(std::string_view(out, FormatStr(n, TruncInt(w), TruncInt(d), out)));
      return;
    }
    case kStuff: {
      std::string_view r = PopText();
      int count = TruncInt(PopNum());
      int start = TruncInt(PopNum());
      std::string_view s = PopText();
      size_t length = s.size();
      size_t cut_at = length, cut = 0;
      if (start > 0 && size_t(start) <= length && count > 0) {
        cut_at = size_t(start) - 1;
        cut = std::min(size_t(count), length - cut_at);
      }
      // s without the deleted part, and where r goes in.
      size_t rest = length - cut;
      size_t insert_at = start <= 0 ? 0 : std::min(size_t(start) - 1, rest);
      size_t used = 0;
      auto put = [&](std::string_view part) {
        size_t take = std::min(part.size(), kMaxText - used);
        if (take) std::memmove(out + used, part.data(), take);
        used += take;
      };
      std::string_view head = s.substr(0, cut_at), tail = s.substr(std::min(length, cut_at + cut));
      // The kept characters in order are head + tail; r goes in at insert_at of them.
      if (insert_at <= head.size()) {
        put(head.substr(0, insert_at));
        put(r);
        put(head.substr(insert_at));
        put(tail);
      } else {
        put(head);
        put(tail.substr(0, insert_at - head.size()));
        put(r);
        put(tail.substr(insert_at - head.size()));
      }
      PushText(std::string_view(out, used));
      return;
    }
    case kSubstr: {
      int count = TruncInt(PopNum());
      int start = TruncInt(PopNum());
      std::string_view s = PopText();
      if (start <= 0) start = 1;
      if (size_t(start) > s.size() || count < 0) {
        PushText("");
      } else {
        PushText(s.substr(size_t(start) - 1, size_t(count)));
      }
      return;
    }
    case kVal: {
      std::string_view s = PopText();
      while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32) s.remove_suffix(1);
      PushNum(ValNum, LeadingNumber(s));
      return;
    }
    default: return;
  }
}

}  // namespace expr_internal

}  // namespace zedra

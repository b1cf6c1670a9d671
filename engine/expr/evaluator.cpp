// The evaluator: node lists, the value stack and the working pool, field values, memo
// text, the operators, Evaluate, ReleaseExpr, and the layer's start-up with its
// expression services.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "base/decimal_text.h"
#include "base/errors.h"
#include "expr/day_numbers.h"
#include "expr/expr.h"
#include "expr/internal.h"
#include "table/hooks.h"
#include "table/work_area.h"

namespace zedra {

using namespace expr_internal;

namespace {

// Data bytes of one code or value node.
constexpr uint32_t kNodeSize = sizeof(ExprNode);
// The quotient a division by zero leaves.
constexpr double kDivideByZeroResult = 1.0E250;

const char kUnknownType[] = "Unknown data type (none of \"C\",\"N\",\"F\",\"L\",\"D\"or\"M\")";

// An empty text for results that have no pool.
char empty_text[1] = {'\0'};

Block* FirstNode(const BlockList& list) { return NextBlock(list, nullptr); }

// Reports an error after which the running evaluation has no value.
void EvalFailure(uint16_t code, const std::string& message) {
  ExprEngine().eval_failed = true;
  SetError(code, message);
}

// Adds a node after `cursor` (or as the first one) and constructs it in place.
Block* NewNode(BlockList& list, Block* cursor) {
  Block* b = AddBlockAfter(list, cursor, kNodeSize);
  if (b) ::new (static_cast<void*>(b->Data())) ExprNode();
  return b;
}

bool GrowList(BlockList& list, Block*& cursor, const char* tag, bool is_value_stack) {
  auto fail = [&] {
    if (is_value_stack) {
      EvalFailure(217, tag);
    } else {
      SetError(217, tag);
    }
    return false;
  };
  if (list.empty()) {
    Block* b = NewNode(list, nullptr);
    if (!b) return fail();
    cursor = b;
    if (is_value_stack) {
      CompiledExpr* e = ExprEngine().current;
      ExprNode& n = NodeOf(b);
      if (e->type == 'N' || e->type == 'D') e->result = &n.value.num;
      if (e->type == 'L') e->result = &n.value.logical;
    }
    return true;
  }
  if (cursor->next != FirstNode(list)) {
    cursor = cursor->next;
    return true;
  }
  Block* b = NewNode(list, cursor);
  if (!b) return fail();
  cursor = b;
  return true;
}

// The node a push fills: the bottom node when the stack is empty and reused, else a new
// top.
ExprNode* TakePushNode() {
  CompiledExpr* e = ExprEngine().current;
  if (e->reuse) {
    e->reuse = false;
    return &NodeOf(e->value_cursor);
  }
  if (!WStackCheck()) return nullptr;
  return &NodeOf(e->value_cursor);
}

bool IsNumberStart(std::string_view t, size_t i) {
  return i < t.size() && t[i] >= '0' && t[i] <= '9';
}

// The block number a memo field holds, read as the memo layer reads it: leading blanks,
// a sign, digits; 0 when there are none or they leave the 32-bit range. A negative
// number is a memo in the group-header form of a dBASE III memo file, which the memo
// layer finds at the absolute value.
int32_t MemoReference(std::string_view field) {
  size_t i = 0;
  while (i < field.size() && field[i] == ' ') ++i;
  const bool negative = i < field.size() && field[i] == '-';
  if (i < field.size() && (field[i] == '-' || field[i] == '+')) ++i;
  int64_t value = 0;
  const size_t digits_start = i;
  for (; IsNumberStart(field, i); ++i) {
    value = value * 10 + (field[i] - '0');
    if (value > INT32_MAX) return 0;
  }
  if (i == digits_start) return 0;
  return static_cast<int32_t>(negative ? -value : value);
}

// Restores the current work area when it goes out of scope.
class AreaRestore {
 public:
  AreaRestore() : saved_(CurrentAreaNumber()) {}
  ~AreaRestore() { SetCurrentArea(saved_); }
  AreaRestore(const AreaRestore&) = delete;
  AreaRestore& operator=(const AreaRestore&) = delete;

 private:
  uint8_t saved_;
};

// Field `field` (1-based) of work area `area` (above kExprAreas: the current area) and,
// in *owner, its area; nullptr when there is no such area or field.
const FieldDesc* FieldAt(int field, int area, const DbfArea** owner) {
  const DbfArea* a = area <= kExprAreas ? AreaAt(area) : CurrentArea();
  if (!a || field < 1 || field > a->field_count || size_t(field) > a->fields.size())
    return nullptr;
  *owner = a;
  return &a->fields[field - 1];
}

// GetFieldValue for a field found in its area.
const void* FieldValue(const DbfArea& a, const FieldDesc& f, char* buffer);

// Reads the memo whose block number is `reference` into the pool as one text, its lines
// joined without separators, at most pool size - 1 characters. A memo that cannot be
// read fails the evaluation.
void PushMemo(const int32_t* reference, int area) {
  CompiledExpr* e = ExprEngine().current;
  if (!reference) {
    // Nothing to push; the result at the pool's start reads as empty.
    if (e->pool_top && e->pool_top < e->pool.get() + e->pool_size) *e->pool_top = '\0';
    return;
  }
  int32_t block = *reference;
  ExprNode* node = TakePushNode();
  if (!node) return;
  node->opcode = 0;
  node->type = ValMemo;
  node->value.text = e->pool_top ? e->pool_top : empty_text;
  if (e->pool_top) *e->pool_top = '\0';
  AreaRestore restore;
  if (area <= kExprAreas) SetCurrentArea(static_cast<uint8_t>(area));
  MemoHooks& hooks = MemoHookTable();
  if (!hooks.AssignMemo || !e->pool_top || e->pool_size == 0) return;
  MemoTextStream stream;
  if (hooks.AssignMemo(stream, &block) != 0) {
    ExprEngine().eval_failed = true;
    return;
  }
  char* out = e->pool_top;
  char* last = e->pool.get() + e->pool_size - 1;  // the byte kept for the zero
  if (StreamReset(stream) != 0) {
    ExprEngine().eval_failed = true;
  } else {
    std::string line;
    while (!StreamEof(stream)) {
      if (StreamReadLine(stream, &line) != 0) {
        ExprEngine().eval_failed = true;
        break;
      }
      size_t length = std::min(line.size(), kMaxText);
      size_t room = static_cast<size_t>(last - out);
      size_t take = std::min(length, room);
      std::memcpy(out, line.data(), take);
      out += take;
      if (take < length) break;
    }
  }
  *out = '\0';
  StreamClose(stream);
}

// Pushes the value of a field; the opcode decides the value type. A field that is not
// there, or whose type no longer fits the code (another table is open in the area now),
// gives the blank value of that type.
void PushField(int kind, int field, int area) {
  ExprState& s = ExprEngine();
  const DbfArea* a = nullptr;
  const FieldDesc* f = FieldAt(field, area, &a);
  char type = f ? f->type : ' ';
  if (type == 'F') type = 'N';
  static constexpr char kKinds[] = {'C', 'N', 'L', 'D', 'M'};
  const void* value = type == kKinds[kind] ? FieldValue(*a, *f, s.string_buffer.data()) : nullptr;
  switch (kind) {
    case 0:
      if (value) {
        PushWD(ValChar, value, s.field_push_length);
      } else {
        PushText("");
      }
      break;
    case 1: PushNum(ValNum, value ? *static_cast<const double*>(value) : 0.0); break;
    case 2: PushLogical(value ? *static_cast<const int32_t*>(value) : 0); break;
    case 3:
      PushNum(ValDate, value ? DtosToDay(static_cast<const char*>(value)) : kBlankDay);
      break;
    default: PushMemo(static_cast<const int32_t*>(value), area); break;
  }
}

int CompareText(std::string_view a, std::string_view b) {
  size_t n = std::min(a.size(), b.size());
  int c = n ? std::memcmp(a.data(), b.data(), n) : 0;
  if (c != 0) return c;
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

// A whole-number power of a whole number is multiplied out while it stays below 2^53,
// where every product is exact (a negative exponent then takes one division, rounded
// once): 3^2 is 9 and 10^-2 is 0.01. Every other power is the platform's pow.
double Power(double a, double b) {
  if (a == 0 && b < 0) return std::numeric_limits<double>::quiet_NaN();
  constexpr double kExactLimit = 9007199254740992.0;  // 2^53
  if (std::trunc(a) == a && std::trunc(b) == b && std::fabs(b) <= 64) {
    const int n = static_cast<int>(std::fabs(b));
    const double base = std::fabs(a);
    double product = 1;
    for (int i = 0; i < n && product <= kExactLimit; ++i) product *= base;
    if (product <= kExactLimit) {
      if (a < 0 && n % 2 == 1) product = -product;
      return b < 0 ? 1 / product : product;
    }
  }
  return std::pow(a, b);
}

void RunOperator(int op) {
  ExprState& s = ExprEngine();
  switch (op) {
    case kAddNum: case kAddNumDate: case kAddDateNum: {
      double b = PopNum(), a = PopNum();
      PushNum(op == kAddNum ? ValNum : ValDate, a + b);
      return;
    }
    case kSubNum: case kSubDateNum: case kSubDates: {
      double b = PopNum(), a = PopNum();
      PushNum(op == kSubDateNum ? ValDate : ValNum, a - b);
      return;
    }
    case kMul: {
      double b = PopNum(), a = PopNum();
      PushNum(ValNum, a * b);
      return;
    }
    case kDiv: {
      double b = PopNum(), a = PopNum();
      if (b == 0) {
        SetError(358, "Error during evaluation: Divide by 0 [Evaluate/Engine]");
        PushNum(ValNum, kDivideByZeroResult);
      } else {
        PushNum(ValNum, a / b);
      }
      return;
    }
    case kPower: {
      double b = PopNum(), a = PopNum();
      PushNum(ValNum, Power(a, b));
      return;
    }
    case kConcat: case kConcatMove: {
      std::string_view b = PopText(), a = PopText();
      char* out = s.scratch.data();
      size_t keep = a.size();
      if (op == kConcatMove)
        while (keep > 0 && a[keep - 1] == ' ') --keep;
      size_t n = 0;
      auto put = [&](std::string_view part) {
        size_t take = std::min(part.size(), kMaxText - n);
        if (take) std::memmove(out + n, part.data(), take);
        n += take;
      };
      put(a.substr(0, keep));
      put(b);
      put(a.substr(keep));
      PushText(std::string_view(out, n));
      return;
    }
    case kEqNum: case kEqDate: case kGtNum: case kGtDate: case kLtNum: case kLtDate:
    case kNeNum: case kNeDate: case kLeNum: case kLeDate: case kGeNum: case kGeDate: {
      double b = PopNum(), a = PopNum();
      bool r;
      switch (op) {
        case kEqNum: case kEqDate: r = a == b; break;
        case kGtNum: case kGtDate: r = a > b; break;
        case kLtNum: case kLtDate: r = a < b; break;
        case kNeNum: case kNeDate: r = a != b; break;
        case kLeNum: case kLeDate: r = a <= b; break;
        default: r = a >= b; break;
      }
      PushLogical(r ? 1 : 0);
      return;
    }
    case kEqChar: case kIdentical: case kContained: case kGtChar: case kLtChar: case kNeChar:
    case kLeChar: case kGeChar: {
      std::string_view b = PopText(), a = PopText();
      bool r;
      switch (op) {
        case kEqChar: r = !b.empty() && a.substr(0, b.size()) == b; break;
        case kIdentical: r = a == b; break;
        case kContained: r = !a.empty() && b.find(a) != std::string_view::npos; break;
        case kGtChar: r = CompareText(a, b) > 0; break;
        case kLtChar: r = CompareText(a, b) < 0; break;
        case kNeChar: r = a != b; break;
        case kLeChar: r = CompareText(a, b) <= 0; break;
        default: r = CompareText(a, b) >= 0; break;
      }
      PushLogical(r ? 1 : 0);
      return;
    }
    case kEqLog: case kNeLog: {
      int32_t b = PopLogical(), a = PopLogical();
      PushLogical((a == b) == (op == kEqLog) ? 1 : 0);
      return;
    }
    case kOr: case kAnd: {
      bool b = PopLogical() != 0, a = PopLogical() != 0;
      PushLogical((op == kOr ? (a || b) : (a && b)) ? 1 : 0);
      return;
    }
    case kNot: PushLogical(PopLogical() == 0 ? 1 : 0); return;
    case kNegate: PushNum(ValNum, -PopNum()); return;
    default: return;
  }
}

// Runs the code of the current expression.
void Run(CompiledExpr* e) {
  Block* node = FirstNode(e->code);
  Block* last = e->code.newest();
  while (node) {
    e->code_cursor = node;
    const ExprNode& n = NodeOf(node);
    const int op = n.opcode;
    if (op == kOpEnd) break;
    if (op == kOpConstant) {
      switch (n.type) {
        case ValChar: PushWD(ValChar, n.value.text, 0); break;
        case ValNum:
        case ValDate: PushNum(n.type, n.value.num); break;
        default: PushLogical(n.value.logical); break;
      }
    } else if (op >= kTokCharField && op < kTokAliasField) {
      int field = PopLogical();
      PushField(op - kTokCharField, field, kExprAreas + 1);
    } else if (op >= kTokAliasField && op < kTokAliasField + 5) {
      int area = PopLogical();
      int field = PopLogical();
      PushField(op - kTokAliasField, field, area);
    } else if (IsFunctionOpcode(op)) {
      RunFunction(op, n.argc);
    } else {
      RunOperator(op);
    }
    if (node == last) break;
    node = node->next;
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------

namespace expr_internal {

std::string_view TextOf(const char* text) {
  if (!text) return {};
  return std::string_view(text, strnlen(text, kMaxText));
}

double PopNum() {
  const void* v = PopWD();
  return v ? *static_cast<const double*>(v) : 0.0;
}

int32_t PopLogical() {
  const void* v = PopWD();
  return v ? *static_cast<const int32_t*>(v) : 0;
}

std::string_view PopText() { return TextOf(static_cast<const char*>(PopWD())); }

void PushNum(int32_t type, double value) { PushWD(type, &value, 0); }
void PushLogical(int32_t value) { PushWD(ValLogical, &value, 0); }

void PushText(std::string_view text) {
  ExprState& s = ExprEngine();
  size_t n = std::min(text.size(), kMaxText);
  // The value may live in the pool itself (a popped operand): build it aside first.
  char* out = s.scratch.data();
  if (n) std::memmove(out, text.data(), n);
  out[n] = '\0';
  PushWD(ValChar, out, static_cast<int>(n) + 1);
}

int TruncInt(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0) return 2147483647;
  if (value <= -2147483648.0) return -2147483647 - 1;
  return static_cast<int>(value);
}

double LeadingNumber(std::string_view t) {
  size_t i = 0;
  while (i < t.size() && (t[i] == ' ' || t[i] == '\t')) ++i;
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
    negative = t[i] == '-';
    ++i;
  }
  size_t digits_start = i;
  size_t digits = 0;
  while (IsNumberStart(t, i)) ++i, ++digits;
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (IsNumberStart(t, i)) ++i, ++digits;
  }
  if (digits == 0) return 0.0;
  size_t end = i;
  bool negative_exponent = false;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    size_t j = i + 1;
    if (j < t.size() && (t[j] == '+' || t[j] == '-')) {
      negative_exponent = t[j] == '-';
      ++j;
    }
    if (IsNumberStart(t, j)) {
      while (IsNumberStart(t, j)) ++j;
      end = j;
    }
  }
  double value = 0;
  if (PlainDecimal(t.substr(digits_start, end - digits_start), &value))
    return negative ? -value : value;
  std::errc ec = std::from_chars(t.data() + digits_start, t.data() + end, value,
                                 std::chars_format::general).ec;
  if (ec == std::errc::result_out_of_range) {
    value = negative_exponent ? 0.0 : std::numeric_limits<double>::infinity();
  } else if (ec != std::errc()) {
    value = 0.0;
  }
  return negative ? -value : value;
}

}  // namespace expr_internal

ExprState& ExprEngine() {
  static ExprState state;
  return state;
}

void ExprStartup() {
  ExprState& s = ExprEngine();
  s.compiled.clear();
  s = ExprState{};
  ExprHooks& h = ExprHookTable();
  h.ExpressionsAvailable = true;
  h.AssignExpr = [](const std::string& text) { return AssignExpr(text); };
  h.ReleaseExpr = [](CompiledExpr*& expr) { ReleaseExpr(expr); };
  h.Evaluate = [](CompiledExpr* expr) { return Evaluate(expr); };
  h.ExprText = [](const CompiledExpr* expr) { return ExprText(expr); };
  h.EvaluateKey = [] { return EvaluateKey(); };
  h.ExprType = [](const CompiledExpr* expr) { return ExprType(expr); };
}

void ExprShutdown() {
  ExprState& s = ExprEngine();
  s.current = nullptr;
  s.key = nullptr;
  s.compiled.clear();
}

// ---------------------------------------------------------------------------------------
// Code and value stack

bool SStackCheck() {
  CompiledExpr* e = ExprEngine().current;
  return e && GrowList(e->code, e->code_cursor, " [PARSER/SStackCheck]", false);
}

bool WStackCheck() {
  CompiledExpr* e = ExprEngine().current;
  return e && GrowList(e->values, e->value_cursor, " [PARSER/WStackCheck]", true);
}

void PushSD(int32_t type, ExprNode::Value value) {
  if (type != ValChar && type != ValNum && type != ValDate && type != ValLogical) {
    SetError(356, std::string(kUnknownType) + " [PARSER/PushSD]");
    return;
  }
  if (!SStackCheck()) return;
  ExprNode& n = NodeOf(ExprEngine().current->code_cursor);
  n.opcode = kOpConstant;
  n.argc = 0;
  n.type = type;
  n.value = value;
}

void AppendOp(int32_t opcode, int32_t count) {
  if (!SStackCheck()) return;
  ExprNode& n = NodeOf(ExprEngine().current->code_cursor);
  n.opcode = opcode;
  n.argc = count;
  n.type = 0;
  n.value.num = 0;
}

char* Allocate(const char* bytes, int length) {
  CompiledExpr* e = ExprEngine().current;
  char* end = e->pool ? e->pool.get() + e->pool_size : nullptr;
  if (length < 0 || !e->pool_top || length > end - e->pool_top) {
    EvalFailure(354, "Working pool overflow [PARSER/Allocate]");
    return nullptr;
  }
  char* copy = e->pool_top;
  if (length > 0) std::memmove(copy, bytes, static_cast<size_t>(length));
  e->pool_top += length;
  return copy;
}

void PushWD(int32_t type, const void* value, int length) {
  if (type != ValChar && type != ValNum && type != ValDate && type != ValLogical) {
    EvalFailure(356, std::string(kUnknownType) + " [PARSER/PushWD]");
    return;
  }
  ExprNode* n = TakePushNode();
  if (!n) return;
  n->opcode = 0;
  n->type = type;
  switch (type) {
    case ValChar: {
      const char* text = static_cast<const char*>(value);
      if (!text) text = empty_text;
      if (length < 1) length = static_cast<int>(TextOf(text).size()) + 1;
      n->value.text = Allocate(text, length);
      break;
    }
    case ValNum:
    case ValDate: n->value.num = *static_cast<const double*>(value); break;
    default: n->value.logical = *static_cast<const int32_t*>(value); break;
  }
}

const void* PopWD() {
  CompiledExpr* e = ExprEngine().current;
  Block* b = e->value_cursor;
  if (!b) return nullptr;  // nothing was ever pushed
  if (b == FirstNode(e->values)) {
    e->reuse = true;
  } else {
    e->value_cursor = b->previous;
  }
  ExprNode& n = NodeOf(b);
  switch (n.type) {
    case ValChar:
      if (n.value.text) e->pool_top = n.value.text;
      return n.value.text;
    case ValNum:
    case ValDate: return &n.value.num;
    case ValLogical: return &n.value.logical;
    default:
      EvalFailure(356, std::string(kUnknownType) + " [PARSER/PopWD]");
      return nullptr;
  }
}

char* PeekTop() {
  CompiledExpr* e = ExprEngine().current;
  if (!e->value_cursor) return nullptr;
  ExprNode& n = NodeOf(e->value_cursor);
  return n.type == ValChar ? n.value.text : nullptr;
}

// ---------------------------------------------------------------------------------------
// Field values

const void* GetFieldValue(int field, char* buffer, int area) {
  const DbfArea* a = nullptr;
  const FieldDesc* f = FieldAt(field, area, &a);
  return f ? FieldValue(*a, *f, buffer) : nullptr;
}

namespace {

const void* FieldValue(const DbfArea& a, const FieldDesc& f, char* buffer) {
  ExprState& s = ExprEngine();
  const std::vector<uint8_t>& rec = a.record;
  // The field's bytes, cut to the record buffer.
  size_t offset = std::min<size_t>(f.offset, rec.size());
  size_t length = std::min<size_t>(f.length, rec.size() - offset);
  const char* bytes = reinterpret_cast<const char*>(rec.data()) + offset;
  if (a.record_count == 0) {
    switch (f.type) {
      case 'C':
        std::memset(buffer, ' ', std::min<size_t>(f.length, kMaxText));
        buffer[std::min<size_t>(f.length, kMaxText)] = '\0';
        s.field_push_length = static_cast<int>(std::min<size_t>(f.length, kMaxText)) + 1;
        return buffer;
      case 'D':
        s.date_text.fill('\0');
        std::memset(s.date_text.data(), ' ', std::min<size_t>(f.length, 8));
        return s.date_text.data();
      case 'N':
      case 'F': s.field_number = 0; return &s.field_number;
      case 'L': s.field_logical = 0; return &s.field_logical;
      default: return nullptr;
    }
  }
  if (a.is_virtual) {
    auto read = [&](void* out, size_t n) {
      std::memset(out, 0, n);
      if (offset + n <= rec.size()) std::memcpy(out, rec.data() + offset, n);
    };
    switch (f.type) {
      case 'C': {
        // A length byte, then the characters.
        size_t n = offset + 1 <= rec.size() ? std::min<size_t>(f.length, rec.size() - offset - 1)
                                            : 0;
        n = std::min({n, kMaxText, size_t(offset < rec.size() ? rec[offset] : 0)});
        if (n) std::memcpy(buffer, rec.data() + offset + 1, n);
        buffer[n] = '\0';
        s.field_push_length = static_cast<int>(n) + 1;
        return buffer;
      }
      case 'D': {
        uint8_t prefix = offset < rec.size() ? rec[offset] : 0;
        size_t n = std::min<size_t>(prefix, rec.size() - std::min(rec.size(), offset + 1));
        std::string_view text;
        if (n) text = std::string_view(reinterpret_cast<const char*>(rec.data()) + offset + 1, n);
        std::string dtos = DateToDtos(text);
        s.date_text.fill('\0');
        std::memcpy(s.date_text.data(), dtos.data(), std::min<size_t>(dtos.size(), 8));
        return s.date_text.data();
      }
      case 'N':
      case 'F':
        if (f.decimals > 0) {
          read(&s.field_number, sizeof(double));
        } else {
          int32_t v;
          read(&v, sizeof v);
          s.field_number = v;
        }
        return &s.field_number;
      case 'L': {
        uint8_t v;
        read(&v, 1);
        s.field_logical = v != 0;
        return &s.field_logical;
      }
      case 'M': read(&s.field_memo, sizeof(int32_t)); return &s.field_memo;
      default: return nullptr;
    }
  }
  switch (f.type) {
    case 'C': {
      size_t n = std::min(length, kMaxText);
      if (n) std::memcpy(buffer, bytes, n);
      buffer[n] = '\0';
      s.field_push_length = static_cast<int>(n) + 1;
      return buffer;
    }
    case 'D':
      // Only the field's own bytes: a date field shorter than 8 reads as an invalid date.
      s.date_text.fill('\0');
      if (length) std::memcpy(s.date_text.data(), bytes, std::min<size_t>(length, 8));
      return s.date_text.data();
    case 'N':
    case 'F':
      s.field_number = LeadingNumber(std::string_view(bytes, length));
      return &s.field_number;
    case 'L': {
      char c = length ? bytes[0] : ' ';
      s.field_logical = c == 'T' || c == 't' || c == 'Y' || c == 'y';
      return &s.field_logical;
    }
    case 'M': s.field_memo = MemoReference(std::string_view(bytes, length)); return &s.field_memo;
    default: return nullptr;
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Evaluate and release

const void* Evaluate(CompiledExpr* expr) {
  if (!expr) return nullptr;
  ExprState& s = ExprEngine();
  s.current = expr;
  expr->pool_top = expr->pool.get();
  expr->code_cursor = FirstNode(expr->code);
  expr->value_cursor = FirstNode(expr->values);
  expr->reuse = expr->value_cursor != nullptr;
  s.eval_failed = false;
  Run(expr);
  expr->has_value = !s.eval_failed;
  if (s.eval_failed) {
    // Nothing of this or an earlier evaluation may be taken for the result.
    if (expr->pool) expr->pool[0] = '\0';
    return nullptr;
  }
  if (expr->type == 'C' || expr->type == 'M') return expr->pool ? expr->pool.get() : empty_text;
  return expr->result;
}

const void* EvaluateKey() { return Evaluate(ExprEngine().key); }

void SetKeyExpression(CompiledExpr* expr) { ExprEngine().key = expr; }

namespace {

// Where expr is in the engine's list of compiled expressions (the list's end if not).
auto FindCompiled(const CompiledExpr* expr) {
  auto& compiled = ExprEngine().compiled;
  return std::find_if(compiled.begin(), compiled.end(),
                      [&](const auto& e) { return e.get() == expr; });
}

}  // namespace

bool IsCompiledExpr(const CompiledExpr* expr) {
  return expr && FindCompiled(expr) != ExprEngine().compiled.end();
}

void ReleaseExpr(CompiledExpr*& expr) {
  if (!expr) return;
  ExprState& s = ExprEngine();
  auto it = FindCompiled(expr);
  if (it == s.compiled.end()) return;
  if (s.current == expr) s.current = nullptr;
  if (s.key == expr) s.key = nullptr;
  std::unique_ptr<CompiledExpr> owned = std::move(*it);
  s.compiled.erase(it);
  expr = nullptr;
}

std::string ExprText(const CompiledExpr* expr) { return expr ? expr->text : std::string(); }

char ExprType(const CompiledExpr* expr) { return expr ? expr->type : ' '; }

std::string_view ResultText(const CompiledExpr& expr) {
  if ((expr.type != 'C' && expr.type != 'M') || !expr.has_value || !expr.pool) return {};
  // A memo text may fill its whole pool; the guard byte after the pool ends it.
  return std::string_view(expr.pool.get(), strnlen(expr.pool.get(), size_t(expr.pool_size) + 1));
}

double ResultNumber(const CompiledExpr& expr) {
  if ((expr.type != 'N' && expr.type != 'D') || !expr.has_value || !expr.result) return 0.0;
  return *static_cast<const double*>(expr.result);
}

bool ResultLogical(const CompiledExpr& expr) {
  if (expr.type != 'L' || !expr.has_value || !expr.result) return false;
  return *static_cast<const int32_t*>(expr.result) != 0;
}

}  // namespace zedra

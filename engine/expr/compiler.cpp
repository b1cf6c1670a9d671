// The compiler: lexer, keyword table, field lookup, the shift-reduce parser with its type
// rules and code emission, error reports, AssignExpr and CheckExpression.
//
// The parser is an LR(1) shift-reduce parser written out by hand. It keeps the parse
// stack of the grammar
//
//   start   : e END
//   e       : e OP e | '+' e | '-' e | .NOT. e | '(' e ')' | literal | field | call
//   call    : FUNCTION '(' [ e { ',' e } ] ')'      (each function its own argument count)
//
// with nine precedence levels (.OR. loosest, then .AND., = <> #, == $, < > <= >=, + -,
// * /, ^ and the prefix operators tightest), every binary operator left-associative. It
// takes the same steps as the table-driven automaton of that grammar: a token is read
// only in states that need a look-ahead (states whose single action is a reduction -
// after a literal, a field, a ')' , a prefix operator's operand or the right operand of
// "^" - reduce without one), and a look-ahead with no action is a syntax error at once.
// So the lexer's position at each error, which the excerpt of the message shows, is that
// of the automaton.
#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "base/errors.h"
#include "base/files.h"
#include "expr/expr.h"
#include "expr/internal.h"
#include "table/work_area.h"

namespace zedra {

using namespace expr_internal;

namespace {

// The lexer's end mark (a zero byte, a byte 0xFF or a position beyond the buffer).
constexpr int kEndMark = -1;
// Names and number literals are at most this long; longer ones are refused.
constexpr size_t kMaxName = 80;
// The lexer has reported the token's fault itself (a name or number too long): the
// parser fails without a report of its own.
constexpr int kTokReported = -3;
// Decimals of number literals and of expressions whose decimals are not known.
constexpr uint8_t kDefaultDecimals = 2;
constexpr uint8_t kNoDecimals = 19;
// The parse stack holds the initial state and at most 149 symbols.
constexpr size_t kParseStackEntries = 150;

struct Keyword {
  const char* name;
  int token;
  uint16_t pool;  // bytes one use adds to the working pool
};

// The keyword table, in its order; abbreviations are entries of their own.
constexpr Keyword kKeywords[] = {
    {"ABS", kAbs, 0},         {"ASC", kAsc, 0},          {"AT", kAt, 0},
    {"CDOW", kCdow, 15},      {"CHR", kChr, 2},          {"CMON", kCmonth, 15},
    {"CMONT", kCmonth, 15},   {"CMONTH", kCmonth, 15},   {"CTOD", kCtod, 0},
    {"DATE", kDate, 0},       {"DAY", kDay, 0},          {"DELE", kDeleted, 0},
    {"DELET", kDeleted, 0},   {"DELETE", kDeleted, 0},   {"DELETED", kDeleted, 0},
    {"DOW", kDow, 0},         {"DTOC", kDtoc, 11},       {"DTOS", kDtos, 9},
    {"IIF", kIif, 256},       {"INT", kInt, 0},          {"LEFT", kLeft, 0},
    {"LEN", kLen, 0},         {"LOWE", kLower, 0},       {"LOWER", kLower, 0},
    {"LTRI", kLtrim, 0},      {"LTRIM", kLtrim, 0},      {"MAX", kMax, 0},
    {"MIN", kMin, 0},         {"MOD", kMod, 0},          {"MONT", kMonth, 0},
    {"MONTH", kMonth, 0},     {"RECN", kRecno, 0},       {"RECNO", kRecno, 0},
    {"REPL", kReplicate, 256}, {"REPLI", kReplicate, 256}, {"REPLIC", kReplicate, 256},
    {"REPLICA", kReplicate, 256}, {"REPLICAT", kReplicate, 256},
    {"REPLICATE", kReplicate, 256}, {"RIGH", kRight, 0}, {"RIGHT", kRight, 0},
    {"ROUN", kRound, 0},      {"ROUND", kRound, 0},      {"RTRI", kRtrim, 0},
    {"RTRIM", kRtrim, 0},     {"SOUN", kSoundex, 15},    {"SOUND", kSoundex, 15},
    {"SOUNDE", kSoundex, 15}, {"SOUNDEX", kSoundex, 15}, {"SPAC", kSpace, 256},
    {"SPACE", kSpace, 256},   {"STR", kStr, 256},        {"STUF", kStuff, 0},
    {"STUFF", kStuff, 0},     {"SUBS", kSubstr, 0},      {"SUBST", kSubstr, 0},
    {"SUBSTR", kSubstr, 0},   {"TRIM", kTrim, 0},        {"UPPE", kUpper, 0},
    {"UPPER", kUpper, 0},     {"VAL", kVal, 0},          {"YEAR", kYear, 0},
    {".F.", kTokFalse, 0},    {".T.", kTokTrue, 0},      {".NOT.", kTokNot, 0},
    {".OR.", kTokOr, 0},      {".AND.", kTokAnd, 0},     {"$EOT$", kTokUnknown, 0},
};

// Argument types of a function: C, N, D, L, or X for "N or D, the same for all" (MAX,
// MIN); the result type letter, X meaning the arguments' type.
struct FunctionInfo {
  int token;
  const char* name;  // the full keyword, as error messages show it
  int min_args;
  int max_args;
  const char* args;
  char result;
};

constexpr FunctionInfo kFunctions[] = {
    {kAbs, "ABS", 1, 1, "N", 'N'},          {kAsc, "ASC", 1, 1, "C", 'N'},
    {kAt, "AT", 2, 2, "CC", 'N'},           {kCdow, "CDOW", 1, 1, "D", 'C'},
    {kChr, "CHR", 1, 1, "N", 'C'},          {kCmonth, "CMONTH", 1, 1, "D", 'C'},
    {kCtod, "CTOD", 1, 1, "C", 'D'},        {kDate, "DATE", 0, 0, "", 'D'},
    {kDay, "DAY", 1, 1, "D", 'N'},          {kDeleted, "DELETED", 0, 0, "", 'L'},
    {kDow, "DOW", 1, 1, "D", 'N'},          {kDtoc, "DTOC", 1, 1, "D", 'C'},
    {kDtos, "DTOS", 1, 1, "D", 'C'},        {kIif, "IIF", 3, 3, "LCC", 'C'},
    {kInt, "INT", 1, 1, "N", 'N'},          {kLeft, "LEFT", 2, 2, "CN", 'C'},
    {kLen, "LEN", 1, 1, "C", 'N'},          {kLower, "LOWER", 1, 1, "C", 'C'},
    {kLtrim, "LTRIM", 1, 1, "C", 'C'},      {kMax, "MAX", 2, 2, "XX", 'X'},
    {kMin, "MIN", 2, 2, "XX", 'X'},         {kMod, "MOD", 2, 2, "NN", 'N'},
    {kMonth, "MONTH", 1, 1, "D", 'N'},      {kRecno, "RECNO", 0, 0, "", 'N'},
    {kReplicate, "REPLICATE", 2, 2, "CN", 'C'}, {kRight, "RIGHT", 2, 2, "CN", 'C'},
    {kRound, "ROUND", 2, 2, "NN", 'N'},     {kRtrim, "RTRIM", 1, 1, "C", 'C'},
    {kSoundex, "SOUNDEX", 1, 1, "C", 'C'},  {kSpace, "SPACE", 1, 1, "N", 'C'},
    {kStr, "STR", 1, 3, "NNN", 'C'},        {kStuff, "STUFF", 4, 4, "CNNC", 'C'},
    {kSubstr, "SUBSTR", 3, 3, "CNN", 'C'},  {kTrim, "TRIM", 1, 1, "C", 'C'},
    {kUpper, "UPPER", 1, 1, "C", 'C'},      {kVal, "VAL", 1, 1, "C", 'N'},
    {kYear, "YEAR", 1, 1, "D", 'N'},
};

const FunctionInfo* FindFunction(int token) {
  for (const FunctionInfo& f : kFunctions)
    if (f.token == token) return &f;
  return nullptr;
}

bool IsFunctionToken(int token) { return IsFunctionOpcode(token) && FindFunction(token); }

int TypeOfLetter(char letter) {
  switch (letter) {
    case 'C': return ValChar;
    case 'N': return ValNum;
    case 'L': return ValLogical;
    case 'D': return ValDate;
    default: return ValMemo;
  }
}

char LetterOfType(int type) {
  switch (type) {
    case ValChar: return 'C';
    case ValNum: return 'N';
    case ValLogical: return 'L';
    case ValDate: return 'D';
    default: return 'M';
  }
}

// ---------------------------------------------------------------------------------------
// Reading characters

int ReadChar(bool name_mode) {
  ExprState& s = ExprEngine();
  uint32_t p = s.position++;
  if (p > 255) return kEndMark;
  unsigned char c = static_cast<unsigned char>(s.text[p]);
  if (c == 0 || c == 0xFF) return kEndMark;
  if (name_mode && c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 'a' + 'A');
  return c;
}

void Unread() {
  ExprState& s = ExprEngine();
  if (s.position > 0) --s.position;
}

bool IsDigit(int c) { return c >= '0' && c <= '9'; }
bool IsLetter(int c) { return c >= 'A' && c <= 'Z'; }

void AddPool(uint32_t bytes) {
  ExprState& s = ExprEngine();
  s.pool_estimate = std::min<uint32_t>(s.pool_estimate + bytes, 0xFFFF);
}

// What the lexer hands to the parser with a token.
ExprState::TokenValue& Lexeme() { return ExprEngine().lexeme; }

// Field lookup. With an alias arrow the name is ALIAS.FIELD. Returns the field token
// (321..325, or 326..330 with an alias) or 0 when the name is not a field.
int FindField(const std::string& name, bool alias_arrow) {
  ExprState& s = ExprEngine();
  DbfArea* area = nullptr;
  int area_number = 0;
  std::string field_name = name;
  if (alias_arrow) {
    size_t dot = name.find('.');
    // An alias of more than 10 characters names no area (cut to 10 it could name the
    // wrong one).
    if (dot == std::string::npos || dot > 10) return 0;
    std::string alias = name.substr(0, dot);
    field_name = dot == std::string::npos ? std::string() : name.substr(dot + 1);
    for (int n = 1; n <= kExprAreas; ++n) {
      DbfArea* a = AreaAt(n);
      if (a && a->alias == alias) {
        area = a;
        area_number = n;
        break;
      }
    }
  } else {
    area = CurrentArea();
    area_number = CurrentAreaNumber();
  }
  if (!area) return 0;
  for (size_t i = 0; i < area->fields.size() && i < area->field_count; ++i) {
    const FieldDesc& f = area->fields[i];
    if (f.Name() != field_name) continue;
    int token;
    switch (f.type) {
      case 'C': token = kTokCharField; break;
      case 'N':
      case 'F': token = kTokCharField + 1; break;
      case 'L': token = kTokCharField + 2; break;
      case 'D': token = kTokCharField + 3; break;
      case 'M': token = kTokCharField + 4; break;
      default: return 0;
    }
    s.width_estimate = f.length;
    if (f.type == 'C') AddPool(uint32_t(f.length) + 1);
    if (f.type == 'N' || f.type == 'F')
      s.decimals_estimate = s.decimals_estimate == kNoDecimals ? f.decimals : kDefaultDecimals;
    Lexeme().field = static_cast<int>(i) + 1;
    Lexeme().area = area_number;
    return alias_arrow ? token - kTokCharField + kTokAliasField : token;
  }
  return 0;
}

int NumberToken(int first) {
  ExprState& s = ExprEngine();
  char buffer[kMaxName];
  size_t used = 0;
  buffer[used++] = static_cast<char>(first);
  bool dot = false;
  for (;;) {
    int c = ReadChar(true);
    if (IsDigit(c) || c == 'E' || (c == '.' && !dot)) {
      if (c == '.') dot = true;
      if (used == kMaxName) {
        ReportExprError("Syntax error: number longer than 80 characters");
        return kTokReported;
      }
      buffer[used++] = static_cast<char>(c);
    } else {
      Unread();
      break;
    }
  }
  Lexeme().number = LeadingNumber(std::string_view(buffer, used));
  s.width_estimate = 0;
  s.decimals_estimate = kDefaultDecimals;
  return kTokNumber;
}

int StringToken(int quote) {
  ExprState& s = ExprEngine();
  uint32_t start = s.literal_used;
  for (;;) {
    int c = ReadChar(false);
    if (c == kEndMark) return kTokUnterminated;
    if (c == quote) break;
    // The last byte of the buffer stays the zero of the last literal that fits. A text
    // the lexer reads whole (255 characters) never fills the buffer: a literal of n
    // characters takes n + 2 of the text and n + 1 bytes here.
    static_assert(sizeof(ExprState::literal) > 255);
    if (s.literal_used + 1 < s.literal.size()) s.literal[s.literal_used++] = static_cast<char>(c);
    AddPool(1);
  }
  if (s.literal_used < s.literal.size()) s.literal[s.literal_used++] = '\0';
  AddPool(1);
  uint32_t length = s.literal_used > start ? s.literal_used - start - 1 : 0;
  std::byte* block = AddBlock(s.current ? s.current->literals : s.lexer_literals, length + 1);
  if (!block) {
    SetError(217, " [AssignExpr()]");
    return kTokUnterminated;
  }
  std::memcpy(block, s.literal.data() + start, length);
  Lexeme().literal = reinterpret_cast<char*>(block);
  s.width_estimate = 0;
  s.decimals_estimate = kDefaultDecimals;
  return kTokString;
}

int NameToken(int first) {
  ExprState& s = ExprEngine();
  std::string name(1, static_cast<char>(first));
  bool arrow = false;
  auto too_long = [&] {
    if (name.size() < kMaxName) return false;
    ReportExprError("Syntax error: name longer than 80 characters");
    return true;
  };
  for (;;) {
    int c = ReadChar(true);
    if (IsDigit(c) || IsLetter(c) || c == '_' || (c == '.' && !arrow)) {
      if (too_long()) return kTokReported;
      name += static_cast<char>(c);
      continue;
    }
    if (c == '-' && !arrow) {
      int next = ReadChar(true);
      if (next == '>') {
        if (too_long()) return kTokReported;
        name += '.';
        arrow = true;
        continue;
      }
      Unread();
      Unread();
      break;
    }
    Unread();
    break;
  }
  int token = FindField(name, arrow);
  if (token != 0) {
    // A field name followed by "(" is a function name.
    uint32_t saved = s.position;
    int c;
    do {
      c = ReadChar(true);
    } while (c == ' ' || c == '\t');
    s.position = saved;
    if (c != '(') return token;
  }
  s.width_estimate = 0;
  s.decimals_estimate = kDefaultDecimals;
  for (const Keyword& k : kKeywords) {
    if (k.token == kTokUnknown) break;  // the end marker
    if (name == k.name) {
      AddPool(k.pool);
      return k.token;
    }
  }
  return kTokUnknown;
}

// ---------------------------------------------------------------------------------------
// The parser

constexpr int kExpr = -100;  // the nonterminal e on the parse stack

struct Symbol {
  int token;     // a terminal, or kExpr
  int type = 0;  // value type of an e
};

// Binding level of a binary operator token; 0 for any other token.
int Level(int token) {
  switch (token) {
    case kTokOr: return 1;
    case kTokAnd: return 2;
    case '=': case kTokNotEqual: return 3;
    case kTokExactEqual: case kTokContained: return 4;
    case '<': case '>': case kTokLessEqual: case kTokGreaterEqual: return 5;
    case '+': case '-': return 6;
    case '*': case '/': return 7;
    case '^': return 8;
    default: return 0;
  }
}

const char* OperatorName(int token) {
  switch (token) {
    case '+': return "+";
    case '-': return "-";
    case '*': return "*";
    case '/': return "/";
    case '=': return "=";
    case kTokContained: return "$";
    case kTokExactEqual: return "==";
    case '>': return ">";
    case '<': return "<";
    case kTokNotEqual: return "<>";
    case kTokLessEqual: return "<=";
    case kTokGreaterEqual: return ">=";
    case kTokOr: return ".OR.";
    case kTokAnd: return ".AND.";
    case kTokNot: return ".NOT.";
    case '^': return "** or ^";
    default: return "";
  }
}

// The opcode of a binary operator for its operand types, and the result type; 0 when
// the types do not fit.
int BinaryOpcode(int token, int a, int b, int* result) {
  const int N = ValNum, D = ValDate, C = ValChar, L = ValLogical;
  *result = ValLogical;
  switch (token) {
    case '+':
      if (a == N && b == N) return *result = N, kAddNum;
      if (a == N && b == D) return *result = D, kAddNumDate;
      if (a == D && b == N) return *result = D, kAddDateNum;
      if (a == C && b == C) return *result = C, kConcat;
      return 0;
    case '-':
      if (a == N && b == N) return *result = N, kSubNum;
      if (a == D && b == N) return *result = D, kSubDateNum;
      if (a == D && b == D) return *result = N, kSubDates;
      if (a == C && b == C) return *result = C, kConcatMove;
      return 0;
    case '*': return a == N && b == N ? (*result = N, kMul) : 0;
    case '/': return a == N && b == N ? (*result = N, kDiv) : 0;
    case '^': return a == N && b == N ? (*result = N, kPower) : 0;
    default: break;
  }
  if (a != b) return 0;
  auto pick = [&](int num, int date, int chr, int log) {
    if (a == N) return num;
    if (a == D) return date;
    if (a == C) return chr;
    if (a == L) return log;
    return 0;
  };
  switch (token) {
    case '=': return pick(kEqNum, kEqDate, kEqChar, kEqLog);
    case kTokNotEqual: return pick(kNeNum, kNeDate, kNeChar, kNeLog);
    case kTokExactEqual: return pick(0, 0, kIdentical, 0);
    case kTokContained: return pick(0, 0, kContained, 0);
    case '>': return pick(kGtNum, kGtDate, kGtChar, 0);
    case '<': return pick(kLtNum, kLtDate, kLtChar, 0);
    case kTokLessEqual: return pick(kLeNum, kLeDate, kLeChar, 0);
    case kTokGreaterEqual: return pick(kGeNum, kGeDate, kGeChar, 0);
    case kTokOr: return pick(0, 0, 0, kOr);
    case kTokAnd: return pick(0, 0, 0, kAnd);
    default: return 0;
  }
}

class Parser {
 public:
  // True when the text compiled; the result type letter is left in the state.
  bool Run();

 private:
  enum class Step { kContinue, kAccept, kFail };

  bool Shift(int token, int type = 0);
  int LookAhead();
  Step ExpectOperand();
  Step AfterExpr();
  Step ReduceBinary();
  Step ReducePrefix();
  Step ReduceCall(size_t open);
  bool SyntaxError() {
    if (!(have_look_ && look_ == kTokReported)) ReportExprError("Syntax error");
    return false;
  }

  std::vector<Symbol> stack_;
  int look_ = kEndMark;  // kEndMark: no look-ahead read
  bool have_look_ = false;
};

int Parser::LookAhead() {
  if (!have_look_) {
    look_ = GetToken(&Lexeme().number);
    have_look_ = true;
  }
  return look_;
}

bool Parser::Shift(int token, int type) {
  // The initial state is the stack's first entry.
  if (stack_.size() + 2 > kParseStackEntries) {
    ReportExprError("Parser_stack_overflow");
    return false;
  }
  stack_.push_back({token, type});
  have_look_ = false;
  return true;
}

bool Parser::Run() {
  stack_.clear();
  stack_.reserve(kParseStackEntries);
  have_look_ = false;
  for (;;) {
    Step step;
    if (stack_.empty() || stack_.back().token != kExpr) {
      step = ExpectOperand();
    } else {
      step = AfterExpr();
    }
    if (step == Step::kAccept) return true;
    if (step == Step::kFail) return false;
  }
}

// States before an operand: the start, after "(", ",", an operator or a prefix operator;
// and after a function name, which must be followed by "(".
Parser::Step Parser::ExpectOperand() {
  const int top = stack_.empty() ? 0 : stack_.back().token;
  if (IsFunctionToken(top)) {
    if (LookAhead() != '(') return SyntaxError(), Step::kFail;
    return Shift('(') ? Step::kContinue : Step::kFail;
  }
  if (top == ')') {
    // ")" closes a group or a call: reduced without a look-ahead.
    size_t open = stack_.size() - 1;
    int depth = 0;
    while (open > 0) {
      --open;
      int t = stack_[open].token;
      if (t == ')') ++depth;
      if (t == '(' && depth-- == 0) break;
    }
    if (open > 0 && IsFunctionToken(stack_[open - 1].token)) return ReduceCall(open);
    int type = stack_[stack_.size() - 2].type;
    stack_.resize(open);
    stack_.push_back({kExpr, type});
    return Step::kContinue;
  }
  // A zero-argument function takes ")" at once.
  if (top == '(' && stack_.size() >= 2) {
    const FunctionInfo* f = FindFunction(stack_[stack_.size() - 2].token);
    if (f && f->max_args == 0) {
      if (LookAhead() != ')') return SyntaxError(), Step::kFail;
      return Shift(')') ? Step::kContinue : Step::kFail;
    }
  }
  int t = LookAhead();
  ExprNode::Value v{};
  switch (t) {
    case kTokNumber:
      if (!Shift(t)) return Step::kFail;
      v.num = Lexeme().number;
      PushSD(ValNum, v);
      stack_.back() = {kExpr, ValNum};
      return Step::kContinue;
    case kTokString:
      if (!Shift(t)) return Step::kFail;
      v.text = Lexeme().literal;
      PushSD(ValChar, v);
      stack_.back() = {kExpr, ValChar};
      return Step::kContinue;
    case kTokTrue:
    case kTokFalse:
      if (!Shift(t)) return Step::kFail;
      v.logical = t == kTokTrue ? 1 : 0;
      PushSD(ValLogical, v);
      stack_.back() = {kExpr, ValLogical};
      return Step::kContinue;
    case '(':
    case '+':
    case '-':
    case kTokNot:
      return Shift(t) ? Step::kContinue : Step::kFail;
    default:
      break;
  }
  if (t >= kTokCharField && t <= kTokCharField + 9) {
    if (!Shift(t)) return Step::kFail;
    bool aliased = t >= kTokAliasField;
    int kind = aliased ? t - kTokAliasField : t - kTokCharField;
    v.logical = Lexeme().field;
    PushSD(ValLogical, v);
    if (aliased) {
      v.logical = Lexeme().area;
      PushSD(ValLogical, v);
    }
    AppendOp(t, aliased ? 2 : 1);
    stack_.back() = {kExpr, ValChar + kind};
    return Step::kContinue;
  }
  if (IsFunctionToken(t)) return Shift(t) ? Step::kContinue : Step::kFail;
  return SyntaxError(), Step::kFail;
}

// States after an e: reduce a prefix operator or "^" at once; otherwise decide on the
// look-ahead.
Parser::Step Parser::AfterExpr() {
  const size_t n = stack_.size();
  const int below = n >= 2 ? stack_[n - 2].token : 0;
  const bool prefix = (below == '+' || below == '-' || below == kTokNot) &&
                      (n == 2 || stack_[n - 3].token != kExpr);
  if (prefix) return ReducePrefix();
  if (below == '^') return ReduceBinary();

  int t = LookAhead();
  int level = Level(t);
  if (n >= 3 && stack_[n - 3].token == kExpr && Level(below) > 0) {
    // e OP e
    if (level > Level(below)) return Shift(t) ? Step::kContinue : Step::kFail;
    if (level > 0 || t == ')' || t == ',' || t == kTokEnd) return ReduceBinary();
    return SyntaxError(), Step::kFail;
  }
  if (level > 0) return Shift(t) ? Step::kContinue : Step::kFail;
  if (n == 1) {
    if (t != kTokEnd) return SyntaxError(), Step::kFail;
    AppendOp(kOpEnd, 0);
    ExprEngine().result_type = LetterOfType(stack_[0].type);
    return Step::kAccept;
  }
  // Inside parentheses: a group, or the arguments of a call.
  size_t open = n - 1;
  int args = 0;
  while (open > 0 && stack_[open].token != '(') {
    if (stack_[open].token == kExpr) ++args;
    --open;
  }
  const FunctionInfo* f = open > 0 ? FindFunction(stack_[open - 1].token) : nullptr;
  if (!f) {
    if (t == ')') return Shift(t) ? Step::kContinue : Step::kFail;
    return SyntaxError(), Step::kFail;
  }
  if (t == ',' && args < f->max_args) return Shift(t) ? Step::kContinue : Step::kFail;
  if (t == ')' && args >= f->min_args) return Shift(t) ? Step::kContinue : Step::kFail;
  return SyntaxError(), Step::kFail;
}

Parser::Step Parser::ReduceBinary() {
  const size_t n = stack_.size();
  int op = stack_[n - 2].token;
  int result;
  int opcode = BinaryOpcode(op, stack_[n - 3].type, stack_[n - 1].type, &result);
  if (opcode == 0) {
    ReportExprError(std::string("PARSER:Type mismatch in expression \"") + OperatorName(op) +
                    "\"");
    return Step::kFail;
  }
  AppendOp(opcode, 2);
  stack_.resize(n - 3);
  stack_.push_back({kExpr, result});
  return Step::kContinue;
}

Parser::Step Parser::ReducePrefix() {
  const size_t n = stack_.size();
  int op = stack_[n - 2].token;
  int type = stack_[n - 1].type;
  bool fits = op == kTokNot ? type == ValLogical : type == ValNum;
  if (!fits) {
    const char* name = op == '+' ? "Unary +" : op == '-' ? "Unary -" : ".NOT.";
    ReportExprError(std::string("PARSER:Type mismatch in expression \"") + name + "\"");
    return Step::kFail;
  }
  if (op == '-') AppendOp(kNegate, 1);
  if (op == kTokNot) AppendOp(kNot, 1);
  stack_.resize(n - 2);
  stack_.push_back({kExpr, type});
  return Step::kContinue;
}

Parser::Step Parser::ReduceCall(size_t open) {
  const FunctionInfo& f = *FindFunction(stack_[open - 1].token);
  std::vector<int> types;
  for (size_t i = open + 1; i < stack_.size(); ++i)
    if (stack_[i].token == kExpr) types.push_back(stack_[i].type);
  bool fits = true;
  int result = TypeOfLetter(f.result);
  for (size_t i = 0; i < types.size(); ++i) {
    char want = f.args[i];
    if (want == 'X') {
      fits = fits && (types[i] == ValNum || types[i] == ValDate) && types[i] == types[0];
      result = types[0];
    } else {
      fits = fits && types[i] == TypeOfLetter(want);
    }
  }
  if (!fits) {
    ReportExprError(std::string("PARSER:Type mismatch in function \"") + f.name + "\"");
    return Step::kFail;
  }
  AppendOp(f.token, static_cast<int>(types.size()));
  stack_.resize(open - 1);
  stack_.push_back({kExpr, result});
  return Step::kContinue;
}

// Releases a half-built expression when a compile fails or an error report raises.
class ReleaseOnFailure {
 public:
  explicit ReleaseOnFailure(CompiledExpr* expr) : expr_(expr) {}
  ~ReleaseOnFailure() {
    if (expr_) ReleaseExpr(expr_);
  }
  CompiledExpr* Keep() { return std::exchange(expr_, nullptr); }
  ReleaseOnFailure(const ReleaseOnFailure&) = delete;
  ReleaseOnFailure& operator=(const ReleaseOnFailure&) = delete;

 private:
  CompiledExpr* expr_;
};

// Refuses, with a report, a text that the lexer would read only in part: one that goes
// on beyond the text buffer, or after a zero byte or a byte 0xFF (the lexer's end
// mark). Blanks, tabs and zero bytes at the end carry nothing and may be dropped.
bool LexerReadsWhole(std::string_view text) {
  ExprState& s = ExprEngine();
  const size_t last = text.find_last_not_of(std::string_view(" \t\0", 3));
  if (last == std::string_view::npos) return true;
  const size_t capacity = s.text.size() - 1;
  const size_t mark = text.find_first_of(std::string_view("\0\xFF", 2));
  if (mark <= last && mark < capacity) {
    s.position = uint32_t(mark);
    ReportExprError("Syntax error: character 0x00 or 0xFF inside the expression");
    return false;
  }
  if (last >= capacity) {
    s.position = uint32_t(capacity);
    ReportExprError("Syntax error: expression longer than 255 characters");
    return false;
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------

void StartLexer(std::string_view text) {
  ExprState& s = ExprEngine();
  text = text.substr(0, s.text.size() - 1);
  std::fill(s.text.begin(), s.text.end(), '\0');
  std::copy(text.begin(), text.end(), s.text.begin());
  s.position = 0;
  s.literal.fill('\0');
  s.literal_used = 0;
  s.width_estimate = 0;
  s.decimals_estimate = kNoDecimals;
  s.pool_estimate = 0;
  s.result_type = ' ';
  s.current = nullptr;
  s.lexer_literals.Clear();
}

int GetToken(double* number) {
  int c;
  do {
    c = ReadChar(true);
  } while (c == ' ' || c == '\t');
  if (c == kEndMark) return kTokEnd;
  if (IsDigit(c)) {
    int t = NumberToken(c);
    if (number) *number = Lexeme().number;
    return t;
  }
  if (c == '\'' || c == '"') return StringToken(c);
  auto followed_by = [](int wanted) {
    int next = ReadChar(true);
    if (next == wanted) return true;
    Unread();
    return false;
  };
  switch (c) {
    case '=': return followed_by('=') ? kTokExactEqual : '=';
    case '*': return followed_by('*') ? '^' : '*';
    case '#': return kTokNotEqual;
    case '$': return kTokContained;
    case '>': return followed_by('=') ? kTokGreaterEqual : '>';
    case '<':
      if (followed_by('=')) return kTokLessEqual;
      if (followed_by('>')) return kTokNotEqual;
      return '<';
    default: break;
  }
  if (IsLetter(c) || c == '.' || c == '_') return NameToken(c);
  return c;
}

void ReportExprError(const std::string& message) {
  const ExprState& s = ExprEngine();
  std::string_view text(s.text.data(), strnlen(s.text.data(), s.text.size()));
  std::string m = message + "\r\n";
  size_t start = 0;
  if (s.position <= 50) {
    m += "[";
  } else {
    m += "[...";
    start = std::min<size_t>(s.position - 51, text.size());
  }
  std::string_view rest = text.substr(start);
  if (rest.size() > 51) {
    m.append(rest.substr(0, 51));
    m += "...]\r\n";
  } else {
    m.append(rest);
    m += "]\r\n";
  }
  SetError(351, "Error in expression : " + m + " [AssignExpr]");
}

CompiledExpr* AssignExpr(const std::string& text) {
  ExprState& s = ExprEngine();
  if (ErrorCode() >= 350 && ErrorCode() <= 363) Errors().ErrorCode = 0;
  s.compiled.push_back(std::make_unique<CompiledExpr>());
  CompiledExpr* e = s.compiled.back().get();
  ReleaseOnFailure guard(e);
  StartLexer(text);
  s.current = e;
  s.lexeme = ExprState::TokenValue{};
  if (!LexerReadsWhole(text)) return nullptr;

  Parser parser;
  if (!parser.Run()) return nullptr;

  e->text.assign(s.text.data(), strnlen(s.text.data(), s.text.size()));
  e->type = s.result_type;
  e->pool_size = e->type == 'M' ? s.memo_pool_size : static_cast<uint16_t>(s.pool_estimate);
  if (e->pool_size != 0) {
    e->pool = std::make_unique<char[]>(size_t(e->pool_size) + 1);  // zero-filled
    e->pool_top = e->pool.get();
  }
  e->decimals = 0;
  switch (e->type) {
    case 'C':
      e->width = s.pool_estimate == uint32_t(s.width_estimate) + 1 ? s.width_estimate : 0;
      break;
    case 'N':
      e->decimals = s.decimals_estimate <= 18 ? s.decimals_estimate : kDefaultDecimals;
      e->width = s.width_estimate >= e->decimals + 2 ? s.width_estimate : e->decimals + 11;
      break;
    case 'D': e->width = 8; break;
    case 'L': e->width = 1; break;
    default: e->width = static_cast<int16_t>(e->pool_size); break;
  }
  return guard.Keep();
}

int CheckExpression(std::string& text, bool for_key) {
  text = TrimRightText(text);
  if (text.empty()) return 359;
  if (for_key && text.size() > 220) return 360;
  ExprState& s = ExprEngine();
  uint16_t memo_pool = s.memo_pool_size;
  s.memo_pool_size = 0;
  int result;
  {
    AutoReportScope quiet(false);
    CompiledExpr* e = AssignExpr(text);
    if (e) {
      char type = e->type;
      ReleaseExpr(e);
      if (for_key) {
        result = type == 'M' || type == 'L' ? 361 : 0;
      } else {
        result = type == 'L' ? 0 : 362;
      }
    } else {
      result = ErrorCode();
    }
  }
  Errors().ErrorCode = 0;
  s.memo_pool_size = memo_pool;
  return result;
}

int CheckExpression(std::string_view text) {
  std::string copy(text);
  return CheckExpression(copy, false);
}

void SetMemoPoolSize(uint16_t size) { ExprEngine().memo_pool_size = size; }
uint16_t GetMemoPoolSize() { return ExprEngine().memo_pool_size; }

}  // namespace zedra

// The expression language: compiling dBASE expressions (index keys, FOR conditions,
// filters) to postfix code, and evaluating that code against the current records of the
// work areas.
//
// A CompiledExpr is made by AssignExpr and lives until ReleaseExpr. Its code list and
// value stack are node lists (block lists of 24-byte nodes); character values live in the
// expression's working pool, allocated once at compile time, so that evaluating the same
// expression again allocates nothing. The compiler's and the evaluator's state is
// engine-wide: one compile or evaluation at a time, on the engine's thread.
//
// Errors: 217 memory, 351 expression error (with an excerpt of the text), 354 working
// pool overflow, 356 unknown value type, 358 division by zero; CheckExpression answers
// 359 empty, 360 key text over 220 characters, 361 key of type M or L, 362 condition not
// logical. The codes 350 to 363 are cleared by the next compile.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "expr/block_list.h"

namespace zedra {

// Value types; the same numbers are the type codes of code and value-stack nodes.
inline constexpr int32_t ValChar = 331;
inline constexpr int32_t ValNum = 332;
inline constexpr int32_t ValLogical = 333;
inline constexpr int32_t ValDate = 334;
inline constexpr int32_t ValMemo = 335;

// Opcodes of the code list besides the operators and functions (which are their token
// codes): a constant, and the end of the code.
inline constexpr int32_t kOpConstant = 0;
inline constexpr int32_t kOpEnd = -1;

// The pool size given to expressions of type M until SetMemoPoolSize changes it.
inline constexpr uint16_t kDefaultMemoPoolSize = 256;
// Character values are at most this long (a zero byte follows them).
inline constexpr size_t kMaxText = 255;

// One node of a code list or value stack.
//   FIELD    | SIZE | MEANING
//   opcode   |    4 | operation (code list); 0 on the value stack
//   argc     |    4 | operands the operation takes
//   type     |    4 | value type of a constant or a stacked value
//   reserved |    4 | unused
//   value    |    8 | double (N, D), 32-bit integer (L, field and area numbers) or a
//            |      | pointer to a zero-terminated text (C, M)
struct ExprNode {
  int32_t opcode = 0;
  int32_t argc = 0;
  int32_t type = 0;
  int32_t reserved = 0;
  union Value {
    double num;
    int32_t logical;
    char* text;
  } value{};
};
static_assert(sizeof(ExprNode) == 24);

// One compiled expression.
struct CompiledExpr {
  std::string text;        // the expression text (at most 255 characters)
  char type = ' ';         // C, N, L, D or M
  int16_t width = 0;
  uint8_t decimals = 0;
  const void* result = nullptr;  // where evaluation leaves the result
  BlockList literals;      // one block per string literal, zero-terminated
  Block* code_cursor = nullptr;
  Block* value_cursor = nullptr;
  BlockList code;          // postfix code; the oldest block is the first node
  BlockList values;        // value stack; the oldest block is the bottom
  bool reuse = false;      // the stack is empty and its bottom node is reused next
  uint16_t pool_size = 0;
  // pool_size bytes, and one guard byte that is always zero so that no text read from
  // the pool can run past it.
  std::unique_ptr<char[]> pool;
  char* pool_top = nullptr;  // first free byte during evaluation
  bool has_value = false;    // the last evaluation ran without a failure
};

// The layer's engine-wide state.
struct ExprState {
  // Every compiled expression; ReleaseExpr releases only what it finds here.
  std::vector<std::unique_ptr<CompiledExpr>> compiled;
  CompiledExpr* current = nullptr;  // the expression being built or run
  CompiledExpr* key = nullptr;      // the current key expression (set by the index layer)
  bool eval_failed = false;         // the running evaluation met an error (not 358)
  uint16_t memo_pool_size = kDefaultMemoPoolSize;

  // Compiler state, rebuilt by every AssignExpr.
  std::array<char, 256> text{};     // the text and a zero byte
  uint32_t position = 0;            // next character to read, 0-based
  std::array<char, 511> literal{};  // all string literals of the expression
  uint32_t literal_used = 0;
  uint8_t width_estimate = 0;
  uint8_t decimals_estimate = 19;   // 19: none yet
  uint32_t pool_estimate = 0;
  char result_type = ' ';
  // What the lexer hands to the parser with a token.
  struct TokenValue {
    double number = 0;
    char* literal = nullptr;  // a literal's text in the expression's literal list
    int field = 0;
    int area = 0;
  } lexeme;
  // Literal texts read by the lexer outside a compile (tests of the lexer).
  BlockList lexer_literals;

  // GetFieldValue's result buffers and the evaluator's text buffers.
  double field_number = 0;
  int32_t field_logical = 0;
  int32_t field_memo = 0;
  std::array<char, 12> date_text{};
  std::array<char, 256> string_buffer{};
  int field_push_length = 0;
  std::array<char, 256> scratch{};
};

ExprState& ExprEngine();

// Layer start-up: a clean state and the expression services installed in ExprHooks.
// Shut-down releases every compiled expression.
void ExprStartup();
void ExprShutdown();

// ---------------------------------------------------------------------------------------
// Compiling

// Compiles a text. Returns nullptr after reporting the failure (217, or 351 with the
// message and an excerpt of the text). Nothing is compiled in part: a text of more than
// 255 characters (trailing blanks aside), one with a byte 0x00 or 0xFF before its end,
// and a name or number of more than 80 characters are syntax errors.
CompiledExpr* AssignExpr(const std::string& text);

// Compiles only to test. `text` comes back without trailing blanks and control
// characters. Returns 0, or 359 (empty), 360 (key over 220 characters), 361 (key of type M
// or L), 362 (condition not logical) or the code the compile reported. Nothing is reported.
int CheckExpression(std::string& text, bool for_key);
// The same for a condition, on a copy of the text.
int CheckExpression(std::string_view text);

void SetMemoPoolSize(uint16_t size);
uint16_t GetMemoPoolSize();

// Reports error 351 for the text being compiled: message, then an excerpt of the text
// around the lexer's position.
void ReportExprError(const std::string& message);

// The next token of the text being compiled (for tests of the lexer). Token codes below
// 256 are the character itself; *number receives a number literal's value.
int GetToken(double* number = nullptr);
// Resets the compiler to read `text` (for tests of the lexer).
void StartLexer(std::string_view text);

// ---------------------------------------------------------------------------------------
// Evaluating

// Runs the expression on the current records; the result's address (C and M a
// zero-terminated text, N and D a double, L a 32-bit integer), valid until the next
// evaluation or the release of the expression. nullptr for a missing expression, and for
// an evaluation that failed (working pool overflow 354, unknown value type 356, no memory
// 217, a memo that cannot be read): it has no value, and the Result accessors give the
// empty text, 0 and false. A division by zero (358) is not a failure; its quotient is
// 1.0E250.
const void* Evaluate(CompiledExpr* expr);
// Evaluate of the current key expression.
const void* EvaluateKey();
void SetKeyExpression(CompiledExpr* expr);
// Releases an expression found in the engine's list and sets the reference to nullptr.
void ReleaseExpr(CompiledExpr*& expr);
std::string ExprText(const CompiledExpr* expr);
char ExprType(const CompiledExpr* expr);
// Whether expr is a live compiled expression.
bool IsCompiledExpr(const CompiledExpr* expr);

// The last result read by type (after Evaluate).
std::string_view ResultText(const CompiledExpr& expr);
double ResultNumber(const CompiledExpr& expr);
bool ResultLogical(const CompiledExpr& expr);

// Building code (used by the compiler): append a constant or an operation node to the
// current expression's code list. Types other than C, N, L, D report 356.
void PushSD(int32_t type, ExprNode::Value value);
void AppendOp(int32_t opcode, int32_t count);
// Grows the code list / the value stack of the current expression by one node (reusing
// nodes left by an earlier evaluation); false after reporting 217.
bool SStackCheck();
bool WStackCheck();

// The value stack of the current expression. PushWD copies a value: a text of `length`
// bytes (below 1: its length and its zero byte) into the pool, a double (N, D) or a 32-bit
// integer (L). PopWD returns the popped value's address; for a text it also gives its
// pool space back. PeekTop is the text on top, for changes in place.
void PushWD(int32_t type, const void* value, int length);
const void* PopWD();
char* PeekTop();
// Copies `length` bytes to the pool's top; nullptr after reporting 354 when they do not
// fit.
char* Allocate(const char* bytes, int length);

// The value of field `field` (1-based) of the current record of work area `area` (above
// 32: the current area): C a text in `buffer` (256 bytes), D the YYYYMMDD text, N a
// double, L a 32-bit integer, M a 32-bit memo block number. nullptr when there is no such
// field or area.
const void* GetFieldValue(int field, char* buffer, int area);

// ---------------------------------------------------------------------------------------
// Functions shared with the index layer

// The four-character phonetic code of a text.
std::string Soundex(std::string_view text);

}  // namespace zedra

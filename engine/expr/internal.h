// What the compiler, the evaluator and the built-in functions of the expression layer
// share, and nothing else includes.
#pragma once

#include <cstdint>
#include <new>
#include <string_view>

#include "expr/expr.h"

namespace zedra::expr_internal {

// Token codes of the lexer; codes below 256 are the character itself.
inline constexpr int kTokEnd = 0;
inline constexpr int kTokCharField = 321;     // 321..325: C, N, L, D, M field
inline constexpr int kTokAliasField = 326;    // 326..330: the same with an alias
inline constexpr int kTokUnknown = 336;
inline constexpr int kTokFalse = 337;
inline constexpr int kTokTrue = 338;
inline constexpr int kTokNot = 339;
inline constexpr int kTokOr = 340;
inline constexpr int kTokAnd = 341;
inline constexpr int kTokNotEqual = 342;
inline constexpr int kTokLessEqual = 343;
inline constexpr int kTokGreaterEqual = 344;
inline constexpr int kTokExactEqual = 345;
inline constexpr int kTokContained = 346;
inline constexpr int kTokString = 331;
inline constexpr int kTokNumber = 332;
// A string literal that reaches the end of the text: no parser state accepts it.
inline constexpr int kTokUnterminated = -2;

// Work areas whose fields an expression can name; a higher area number in a field's code
// means the current area.
inline constexpr int kExprAreas = 32;

// Function tokens (equal to their opcodes).
enum Function : int {
  kAbs = 257, kAsc = 259, kAt = 261, kCdow = 264, kChr = 266, kCmonth = 267, kCtod = 269,
  kDate = 270, kDay = 271, kDeleted = 272, kDow = 274, kDtoc = 275, kDtos = 277, kIif = 283,
  kInt = 284, kLeft = 288, kLen = 289, kLower = 292, kLtrim = 293, kMax = 294, kMin = 295,
  kMod = 296, kMonth = 297, kRecno = 300, kReplicate = 301, kRight = 302, kRound = 303,
  kRtrim = 305, kSoundex = 308, kSpace = 310, kStr = 311, kStuff = 312, kSubstr = 313,
  kTrim = 316, kUpper = 318, kVal = 319, kYear = 320,
};

inline constexpr bool IsFunctionOpcode(int opcode) { return opcode >= kAbs && opcode <= kYear; }

// Operator opcodes.
enum Op : int {
  kAddNum = 347, kAddNumDate = 348, kAddDateNum = 349, kConcat = 350, kSubNum = 351,
  kSubDateNum = 352, kSubDates = 353, kConcatMove = 354, kMul = 355, kDiv = 356,
  kPower = 357, kEqNum = 358, kEqDate = 359, kEqChar = 360, kEqLog = 361, kIdentical = 362,
  kContained = 363, kGtNum = 364, kGtDate = 365, kGtChar = 366, kLtNum = 367,
  kLtDate = 368, kLtChar = 369, kNeNum = 370, kNeDate = 371, kNeChar = 372, kNeLog = 373,
  kLeNum = 374, kLeDate = 375, kLeChar = 376, kGeNum = 377, kGeDate = 378, kGeChar = 379,
  kOr = 380, kAnd = 381, kNot = 382, kNegate = 383,
};

// The current expression's code node at a block of its code list.
inline ExprNode& NodeOf(Block* b) { return *std::launder(reinterpret_cast<ExprNode*>(b->Data())); }

// A character value as the operators read it: up to its first zero byte, at most 255
// characters; a missing value (after a pool overflow) reads as empty.
std::string_view TextOf(const char* text);

// Value-stack helpers for the operators and functions.
double PopNum();
int32_t PopLogical();
std::string_view PopText();
void PushNum(int32_t type, double value);
void PushLogical(int32_t value);
// Pushes a text of at most 255 characters (cut there) with its zero byte.
void PushText(std::string_view text);

// Runs one built-in function (opcode 257..320).
void RunFunction(int opcode, int argc);

// Truncates a count, position, width or code toward zero into the int range (NaN 0).
int TruncInt(double value);

// The leading well-formed decimal number of a text (blanks, a sign, digits, a fraction,
// an exponent); 0 when there is none. Never reads beyond the view.
double LeadingNumber(std::string_view text);

}  // namespace zedra::expr_internal

// The compiler: tokens, code emitted, precedence, type rules, widths and decimals, error
// messages with their excerpts, CheckExpression.
#include <cmath>
#include <sstream>

#include <gmock/gmock.h>

#include "expr_test_util.h"

namespace zedra::testing {
namespace {

// The code list as text: constants as N<value>, C'<text>', L<value>; operations as
// <opcode>/<operands>; the end as END.
std::string Code(const CompiledExpr& e) {
  std::ostringstream out;
  for (Block* b = NextBlock(e.code, nullptr); b; b = NextBlock(e.code, b)) {
    const ExprNode& n = *reinterpret_cast<const ExprNode*>(b->Data());
    if (b != NextBlock(e.code, nullptr)) out << ' ';
    if (n.opcode == kOpEnd) {
      out << "END";
    } else if (n.opcode != kOpConstant) {
      out << n.opcode << '/' << n.argc;
    } else if (n.type == ValNum) {
      out << 'N' << n.value.num;
    } else if (n.type == ValDate) {
      out << 'D' << n.value.num;
    } else if (n.type == ValChar) {
      out << "C'" << n.value.text << "'";
    } else {
      out << 'L' << n.value.logical;
    }
  }
  return out.str();
}

class CompilerTest : public ExprTest {
 protected:
  void SetUp() override {
    ExprTest::SetUp();
    MakeTable("people",
              {{"NAME", 'C', 20, 0},
               {"PRICE", 'N', 10, 2},
               {"QTY", 'N', 5, 0},
               {"BORN", 'D', 8, 0},
               {"ACTIVE", 'L', 1, 0},
               {"DATE", 'D', 8, 0},
               {"A", 'L', 1, 0},
               {"B", 'L', 1, 0},
               {"C", 'L', 1, 0},
               {"UPPER", 'C', 4, 0},
               {"RATE", 'F', 8, 3}},
              {});
  }

  std::string Compile(const std::string& text) {
    CompiledExpr* e = AssignExpr(text);
    if (!e) return "error " + TakeError();
    std::string out = Code(*e);
    ReleaseExpr(e);
    return out;
  }

  // "type width decimals"
  std::string Shape(const std::string& text) {
    CompiledExpr* e = AssignExpr(text);
    if (!e) return "error " + TakeError();
    std::string out = std::string(1, e->type) + " " + std::to_string(e->width) + " " +
                      std::to_string(e->decimals);
    ReleaseExpr(e);
    return out;
  }
};

TEST_F(CompilerTest, CodeFollowsPrecedenceAndAssociativity) {
  struct Case {
    const char* text;
    const char* code;
  } cases[] = {
      {"2+3*4", "N2 N3 N4 355/2 347/2 END"},
      {"2-3-4", "N2 N3 351/2 N4 351/2 END"},
      {"2^3^2", "N2 N3 357/2 N2 357/2 END"},
      {"2**3", "N2 N3 357/2 END"},
      {"-2^2", "N2 383/1 N2 357/2 END"},
      {"+2", "N2 END"},
      {"(1+2)*3", "N1 N2 347/2 N3 355/2 END"},
      {".T. .OR. .F. .AND. .F.", "L1 L0 L0 381/2 380/2 END"},
      {"A = QTY < PRICE", "L7 323/1 L3 322/1 L2 322/1 367/2 361/2 END"},
      {"QTY < PRICE = A", "L3 322/1 L2 322/1 367/2 L7 323/1 361/2 END"},
      {"A < B = C", "error"},  // (A < B) = C: "<" takes no logicals
      {"QTY < 1 = ACTIVE", "L3 322/1 N1 367/2 L5 323/1 361/2 END"},
      {".NOT. A = B", "L7 323/1 382/1 L8 323/1 361/2 END"},
      {"'a' $ 'abc' .AND. 'x' == 'x'", "C'a' C'abc' 363/2 C'x' C'x' 362/2 381/2 END"},
      {"\"it's\" + 'say \"hi\"'", "C'it's' C'say \"hi\"' 350/2 END"},
      {"1 # 2 .OR. 1 <> 2", "N1 N2 370/2 N1 N2 370/2 380/2 END"},
      {"1 <= 2 .AND. 3 >= 2", "N1 N2 374/2 N3 N2 377/2 381/2 END"},
      {"BORN - 1 > BORN", "L4 324/1 N1 352/2 L4 324/1 365/2 END"},
      {"1 + BORN", "N1 L4 324/1 348/2 END"},
      {"BORN - BORN", "L4 324/1 L4 324/1 353/2 END"},
      {"NAME - 'x' = 'y'", "L1 321/1 C'x' 354/2 C'y' 360/2 END"},
      {"STR(QTY)", "L3 322/1 311/1 END"},
      {"STR(QTY,8)", "L3 322/1 N8 311/2 END"},
      {"STR(QTY,8,2)", "L3 322/1 N8 N2 311/3 END"},
      {"SUBS(NAME,2,3)", "L1 321/1 N2 N3 313/3 END"},
      {"IIF(ACTIVE,'Y','N')", "L5 323/1 C'Y' C'N' 283/3 END"},
      {"RECNO() + 1", "300/0 N1 347/2 END"},
      {"DELETED()", "272/0 END"},
      {"DATE + 1", "L6 324/1 N1 349/2 END"},
      {"DATE()", "270/0 END"},
      {"DATE ( )", "270/0 END"},
      {"PEOPLE->QTY", "L3 L1 327/2 END"},
      {"people->qty", "L3 L1 327/2 END"},
      {"MAX(BORN, DATE())", "L4 324/1 270/0 294/2 END"},
      {"1E5", "N100000 END"},
      {"1E-5", "N1 N5 351/2 END"},
      {"1.5.AND.", "error"},
      {"UPPER(NAME)", "L1 321/1 318/1 END"},
      {"UPPER + 'x'", "L10 321/1 C'x' 350/2 END"},
      {"RATE", "L11 322/1 END"},
  };
  for (const Case& c : cases) {
    std::string code = Compile(c.text);
    if (std::string(c.code) == "error") {
      EXPECT_EQ(code.substr(0, 5), "error") << c.text;
    } else {
      EXPECT_EQ(code, c.code) << c.text;
    }
  }
}

TEST_F(CompilerTest, Tokens) {
  struct Case {
    const char* text;
    std::vector<int> tokens;
  } cases[] = {
      {"a .and. b", {321 + 2, 341, 321 + 2}},  // A and B are logical fields
      {"A.AND.B", {336}},
      {".5", {336}},
      {"<> # <= >= == = $ ** ^", {342, 342, 343, 344, 345, '=', 346, '^', '^'}},
      {"< > * / ( ) , + - ?", {'<', '>', '*', '/', '(', ')', ',', '+', '-', '?'}},
      {"CDO SUBSTRI SUBS CMON REPLICAT $EOT$", {336, 336, 313, 267, 301, 346, 336, 346}},
      {".T. .f. .Not. .OR.", {338, 337, 339, 340}},
      {"A -> B", {323, '-', '>', 323}},
      {"NAME-1", {321, '-', 332}},
      {"'abc", {-2}},
      {"\t 12.5.3", {332, 336}},
      {"X\xff" "Y", {336}},
  };
  for (const Case& c : cases) {
    StartLexer(c.text);
    std::vector<int> got;
    for (int t = GetToken(); t != 0 && got.size() < 20; t = GetToken()) {
      got.push_back(t);
      if (t == -2) break;
    }
    EXPECT_EQ(got, c.tokens) << c.text;
  }
  StartLexer("123.45E2 7");
  double v = 0;
  EXPECT_EQ(GetToken(&v), 332);
  EXPECT_EQ(v, 12345);
}

TEST_F(CompilerTest, WidthAndDecimals) {
  SetMemoPoolSize(300);
  struct Case {
    const char* text;
    const char* shape;
  } cases[] = {
      {"PRICE", "N 10 2"},   {"PRICE*2", "N 13 2"},  {"2*PRICE", "N 10 2"},
      {"QTY", "N 5 0"},      {"RATE", "N 8 3"},      {"QTY+PRICE", "N 10 2"},
      {"1", "N 13 2"},       {"NAME", "C 20 0"},     {"LTRIM(NAME)", "C 20 0"},
      // UPPER is also a field of the table here: looking it up as a field counts it too.
      {"UPPER(NAME)", "C 0 0"},
      {"NAME+NAME", "C 0 0"}, {"'abc'", "C 0 0"},    {"LEFT(NAME,3)", "C 0 0"},
      {"BORN", "D 8 0"},     {"ACTIVE", "L 1 0"},    {"DTOS(BORN)", "C 8 0"},
      {"DELETED()", "L 1 0"}, {"(PRICE)", "N 10 2"},
  };
  for (const Case& c : cases) EXPECT_EQ(Shape(c.text), c.shape) << c.text;
}

TEST_F(CompilerTest, MemoFieldOnlyAlone) {
  CloseAllAreas();
  MakeTable("notes", {{"TITLE", 'C', 10, 0}, {"NOTES", 'M', 10, 0}}, {}, 0x8B);
  EXPECT_EQ(Shape("NOTES"), "M 256 0");
  SetMemoPoolSize(1000);
  EXPECT_EQ(Shape("NOTES"), "M 1000 0");
  EXPECT_EQ(Shape("NOTES + 'x'"),
            "error 351: Error in expression : PARSER:Type mismatch in expression \"+\"\r\n"
            "[NOTES + 'x']\r\n [AssignExpr]");
  EXPECT_EQ(Shape("TRIM(NOTES)"),
            "error 351: Error in expression : PARSER:Type mismatch in function \"TRIM\"\r\n"
            "[TRIM(NOTES)]\r\n [AssignExpr]");
  EXPECT_EQ(Shape("(NOTES)"), "M 1000 0");
}

TEST_F(CompilerTest, ErrorMessages) {
  auto message = [](const std::string& m, const std::string& excerpt) {
    return "error 351: Error in expression : " + m + "\r\n" + excerpt + "\r\n [AssignExpr]";
  };
  struct Case {
    const char* text;
    const char* message;
  } cases[] = {
      {"1+'A'", "PARSER:Type mismatch in expression \"+\""},
      {"QTY == 1", "PARSER:Type mismatch in expression \"==\""},
      {"QTY # 'a'", "PARSER:Type mismatch in expression \"<>\""},
      {"2 ^ 'a'", "PARSER:Type mismatch in expression \"** or ^\""},
      {"-'a'", "PARSER:Type mismatch in expression \"Unary -\""},
      {"+'a'", "PARSER:Type mismatch in expression \"Unary +\""},
      {".NOT. 1", "PARSER:Type mismatch in expression \".NOT.\""},
      {".NOT. A = 1", "PARSER:Type mismatch in expression \"=\""},
      {"1 .AND. A", "PARSER:Type mismatch in expression \".AND.\""},
      {"BORN + BORN", "PARSER:Type mismatch in expression \"+\""},
      {"SUBS(QTY,1,2)", "PARSER:Type mismatch in function \"SUBSTR\""},
      {"MAX(1, BORN)", "PARSER:Type mismatch in function \"MAX\""},
      {"IIF(A, 1, 2)", "PARSER:Type mismatch in function \"IIF\""},
      {"SUBSTR(NAME,2)", "Syntax error"},
      {"STR(1,2,3,4)", "Syntax error"},
      {"RECNO", "Syntax error"},
      {"RECNO(1)", "Syntax error"},
      {"ABS()", "Syntax error"},
      {"\"abc", "Syntax error"},
      {"1 'abc", "Syntax error"},
      {"A.AND.B", "Syntax error"},
      {"PEOPLE -> QTY", "Syntax error"},
      {"CDO(BORN)", "Syntax error"},
      {"SUBSTRI(NAME,1,1)", "Syntax error"},
      {"", "Syntax error"},
      {"1 2", "Syntax error"},
      {"(1", "Syntax error"},
      {"1)", "Syntax error"},
      {"(1,2)", "Syntax error"},
      {"NOSUCH->QTY", "Syntax error"},
      {"1 + .NOT.", "Syntax error"},
      {"Ä", "Syntax error"},
  };
  for (const Case& c : cases) {
    std::string excerpt = std::string("[") + c.text + "]";
    EXPECT_EQ(Compile(c.text), message(c.message, excerpt)) << c.text;
  }
}

// The lexer's position at the error decides the excerpt: a syntax error after reading the
// offending token, a type error when the automaton reduces.
TEST_F(CompilerTest, ExcerptFollowsThePosition) {
  // A literal, then a number that the lexer ends at position 100.
  std::string t = "'" + std::string(97, 'x') + "'1" + std::string(20, ' ');
  ASSERT_EQ(t.size(), 120u);
  std::string got = Compile(t);
  EXPECT_EQ(got, "error 351: Error in expression : Syntax error\r\n[..." + t.substr(49, 51) +
                     "...]\r\n [AssignExpr]");

  // A type error of "^" is reduced at once after its right operand...
  std::string pow = std::string(60, ' ') + "2^'a'" + std::string(40, ' ') + "+1";
  EXPECT_EQ(Compile(pow), "error 351: Error in expression : PARSER:Type mismatch in expression "
                          "\"** or ^\"\r\n[..." +
                              pow.substr(65 - 51, 51) + "...]\r\n [AssignExpr]");
  // ... while "+" waits for the look-ahead.
  std::string plus = std::string(60, ' ') + "2+'a'" + std::string(40, ' ') + "+1";
  EXPECT_EQ(Compile(plus), "error 351: Error in expression : PARSER:Type mismatch in expression "
                           "\"+\"\r\n[..." +
                               plus.substr(106 - 51, 51) + "...]\r\n [AssignExpr]");
  // At position 50 or below the excerpt starts with the text.
  std::string early = "1+'a'-1" + std::string(60, ' ');
  EXPECT_EQ(Compile(early), "error 351: Error in expression : PARSER:Type mismatch in "
                            "expression \"+\"\r\n[" +
                                early.substr(0, 51) + "...]\r\n [AssignExpr]");
}

TEST_F(CompilerTest, ParseStackHolds149Symbols) {
  // 148 opening parentheses and a number are 149 symbols; one more overflows.
  EXPECT_EQ(Compile(std::string(148, '(') + "1").substr(0, 50),
            "error 351: Error in expression : Syntax error\r\n[..");
  std::string over = std::string(149, '(') + "1";
  EXPECT_EQ(Compile(over).substr(0, 56),
            "error 351: Error in expression : Parser_stack_overflow\r\n");
  EXPECT_EQ(Compile(std::string(74, '-') + "1").substr(0, 6), "N1 383");
  std::string prefix(149, '-');
  EXPECT_EQ(Compile(prefix + "1").substr(0, 56),
            "error 351: Error in expression : Parser_stack_overflow\r\n");
}

TEST_F(CompilerTest, FieldsAndAliases) {
  // A second table under a long alias and one under a short alias in area 3.
  ASSERT_TRUE(Select(2));
  MakeTable("second", {{"QTY", 'N', 4, 1}, {"CODE", 'C', 3, 0}}, {}, 0x03, "VERYLONGALIAS");
  ASSERT_TRUE(Select(3));
  MakeTable("third", {{"CODE", 'C', 3, 0}}, {}, 0x03, "PEOPLE");
  ASSERT_TRUE(Select(1));
  EXPECT_EQ(Compile("PEOPLE->QTY"), "L3 L1 327/2 END");  // area 1 comes first
  EXPECT_EQ(Compile("PEOPLE->CODE"), "error 351: Error in expression : Syntax error\r\n"
                                     "[PEOPLE->CODE]\r\n [AssignExpr]");
  EXPECT_EQ(Compile("VERYLONGALIAS->QTY").substr(0, 45),
            "error 351: Error in expression : Syntax error");
  // An alias is not cut to its first 10 characters to find an area.
  ASSERT_TRUE(Select(4));
  MakeTable("fourth", {{"QTY", 'N', 4, 1}}, {}, 0x03, "TENLETTERS");
  ASSERT_TRUE(Select(1));
  EXPECT_EQ(Compile("TENLETTERS->QTY"), "L1 L4 327/2 END");
  EXPECT_EQ(Compile("TENLETTERSX->QTY").substr(0, 45),
            "error 351: Error in expression : Syntax error");
  // An unaliased name is a field of the current area only.
  EXPECT_EQ(Compile("CODE").substr(0, 9), "error 351");
  ASSERT_TRUE(Select(2));
  EXPECT_EQ(Compile("CODE"), "L2 321/1 END");
  EXPECT_EQ(Shape("QTY"), "N 4 1");
  // A field name followed by "(" is a function.
  ASSERT_TRUE(Select(1));
  EXPECT_EQ(Compile("UPPER ('x')"), "C'x' 318/1 END");
  // Areas above 32 are not searched.
  ASSERT_TRUE(Select(33));
  MakeTable("high", {{"HIGHF", 'C', 3, 0}}, {}, 0x03, "HIGH");
  ASSERT_TRUE(Select(1));
  EXPECT_EQ(Compile("HIGH->HIGHF").substr(0, 9), "error 351");
}

TEST_F(CompilerTest, CheckExpressionCodes) {
  std::string t = "   \t ";
  EXPECT_EQ(CheckExpression(t, false), 359);
  t = "QTY > 1  \r\n";
  EXPECT_EQ(CheckExpression(t, false), 0);
  EXPECT_EQ(t, "QTY > 1");
  EXPECT_EQ(CheckExpression("QTY"), 362);
  t = "DELETED()";
  EXPECT_EQ(CheckExpression(t, true), 361);
  t = "NAME";
  EXPECT_EQ(CheckExpression(t, true), 0);
  t = "NAME + " + std::string(220, ' ') + "NAME";
  EXPECT_EQ(CheckExpression(t, true), 360);
  EXPECT_EQ(CheckExpression("1 +"), 351);
  EXPECT_EQ(ErrorCode(), 0);
  EXPECT_TRUE(Errors().AutoReport == false);
  // The error mode and memo pool size come back as they were.
  SetAutoReport(true);
  SetMemoPoolSize(77);
  EXPECT_EQ(CheckExpression("1 +"), 351);
  EXPECT_TRUE(Errors().AutoReport);
  EXPECT_EQ(GetMemoPoolSize(), 77);
  SetAutoReport(false);
}

TEST_F(CompilerTest, AssignExprClearsAnEarlierExpressionError) {
  EXPECT_EQ(AssignExpr("1+"), nullptr);
  EXPECT_EQ(ErrorCode(), 351);
  CompiledExpr* e = AssignExpr("1+1");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(ErrorCode(), 0);
  ReleaseExpr(e);
  EXPECT_EQ(e, nullptr);
  SetError(215, "other");
  e = AssignExpr("1+1");
  EXPECT_EQ(ErrorCode(), 215);  // errors of other layers stay
  ReleaseExpr(e);
  // Failed compiles leave nothing behind in the engine's list.
  EXPECT_TRUE(ExprEngine().compiled.empty());
}

// When a report raises, the half-built expression is released on the way out.
TEST_F(CompilerTest, RaisedErrorsLeaveNothingBehind) {
  SetAutoReport(true);
  Errors().RaiseOnReport = true;
  EXPECT_THROW(AssignExpr("QTY + 'x'"), EZedraError);
  EXPECT_THROW(AssignExpr("(((1"), EZedraError);
  Errors().RaiseOnReport = false;
  SetAutoReport(false);
  EXPECT_TRUE(ExprEngine().compiled.empty());
  EXPECT_EQ(ExprEngine().current, nullptr);
  EXPECT_EQ(Compile("1"), "N1 END");
}

// Nothing is compiled in part: what the lexer would not read is refused with a syntax
// error and the excerpt, where the old lexer cut it and compiled the rest.
TEST_F(CompilerTest, TextsAndLiteralsTheLexerWouldCutAreRefused) {
  auto sum = [](int terms) {
    std::string text = "1";
    for (int i = 1; i < terms; ++i) text += "+1";
    return text;
  };
  // 128 terms take 255 characters; 5000 terms go far beyond.
  EXPECT_EQ(Eval(sum(128)), "128.00");
  EXPECT_EQ(Eval(sum(5000)),
            "error 351: Error in expression : Syntax error: expression longer than 255 "
            "characters\r\n[..." +
                sum(26) + "]\r\n [AssignExpr]");
  // A condition beyond the 255th character (a filter's second half) is not dropped.
  std::string filter = "QTY > 1" + std::string(250, ' ') + ".AND. QTY < 3";
  EXPECT_THAT(Compile(filter), ::testing::StartsWith("error 351: Error in expression : Syntax "
                                                     "error: expression longer than 255 characters"));
  // Blanks and zero bytes at the end carry nothing and may go.
  CompiledExpr* e = AssignExpr("1+1" + std::string(300, ' ') + std::string(4, '\0'));
  ASSERT_NE(e, nullptr) << TakeError();
  EXPECT_EQ(ExprText(e), "1+1" + std::string(252, ' '));
  ReleaseExpr(e);
  // A zero byte or a byte 0xFF ends the lexer's reading: text after one is refused.
  for (const std::string& text : {std::string("1+1\0+1", 6), std::string("1+1\xFF"),
                                  std::string("'a\xFF' = 'a'")})
    EXPECT_THAT(Compile(text), ::testing::StartsWith("error 351: Error in expression : Syntax error: "
                                                     "character 0x00 or 0xFF inside the expression"))
        << text;

  // Number literals and names: 80 characters are read whole, 81 are refused.
  EXPECT_EQ(Compile("1" + std::string(79, '0')), "N1e+79 END");
  EXPECT_EQ(Compile("1" + std::string(80, '0') + "+1"),
            "error 351: Error in expression : Syntax error: number longer than 80 "
            "characters\r\n[..." +
                std::string(51, '0') + "...]\r\n [AssignExpr]");
  EXPECT_THAT(Compile(std::string(80, 'Q')),
              ::testing::StartsWith("error 351: Error in expression : Syntax error\r\n"));
  EXPECT_THAT(Compile(std::string(81, 'Q')),
              ::testing::StartsWith("error 351: Error in expression : Syntax error: name longer "
                                    "than 80 characters\r\n"));
  // The lexer's own report is the only one.
  EXPECT_EQ(ExprEngine().compiled.size(), 0u);
}

}  // namespace
}  // namespace zedra::testing

// The math command (60) and the motion command (61): arithmetic that the expression language
// lacks, and one step of a damped two-dimensional motion over two array variables.
#pragma once
#include <cstddef>
#include <cstdint>

// Argument ids of the math command: the output, the operands x and y (kept unevaluated and
// evaluated by the handler), the text, then the selectors, of which the first present in
// precedence order decides.
enum {
    KX_MATH_ARG_OUT = 0,
    KX_MATH_ARG_X = 1,
    KX_MATH_ARG_Y = 2,
    KX_MATH_ARG_TEXT = 3,
    KX_MATH_SIN = 4,
    KX_MATH_ASIN = 5,
    KX_MATH_SINH = 6,
    KX_MATH_COS = 7,
    KX_MATH_ACOS = 8,
    KX_MATH_COSH = 9,
    KX_MATH_TAN = 10,
    KX_MATH_ATAN = 11,
    KX_MATH_ATAN2 = 12,
    KX_MATH_TANH = 13,
    KX_MATH_SQRT = 14,
    KX_MATH_ABS = 15,
    KX_MATH_EXP = 16,
    KX_MATH_LOG = 17,
    KX_MATH_LOG10 = 18,
    KX_MATH_POW = 19,
    KX_MATH_RANDOM = 20,
    KX_MATH_CRC32 = 21,
    KX_MATH_INT_TEXT = 22,
};
// The selectors in the order they are tested.
enum { KX_MATH_SELECTORS = 19 };
extern const uint8_t g_abMathSelectorOrder[KX_MATH_SELECTORS];

// Argument ids of the motion command: the parameter array P and the state array S.
enum { KX_MOTION_ARG_PARAMS = 0, KX_MOTION_ARG_STATE = 1 };
// The results r0..r3 go to elements 31..34 of S.
enum { KX_MOTION_FIRST_RESULT = 31, KX_MOTION_RESULTS = 4 };

int CmdMath(void);
int CmdMotionStep(void);

// ---- The integer text parser ----
// Grammar over tokens (blanks skipped; a line feed or the end of the text ends the tokens):
//   sum     := ["+" | "-"] product { ("+" | "-") product }     a trailing operator is ignored
//   product := factor { ("*" | "/" | "%") factor }              division by 0 keeps the left value
//   factor  := digits | "(" sum [")"] | anything else (0, not consumed)
// Parsing ends where the grammar ends; trailing text is ignored. Arithmetic is signed 64-bit with
// wrap-around; a digit run beyond int64 reads as INT64_MAX.
enum { KX_INT_EXPR_TEXT = 1024 };   // the parser's copy: texts of at most 1023 bytes
struct INT_EXPR_PARSE {
    char szText[KX_INT_EXPR_TEXT];
    const char* pCursor;   // after the current token
    const char* pToken;    // the current token (a run of digits or one byte); nTokenLen 0 at the end
    size_t nTokenLen;
};

// The value of an integer arithmetic text (cut at 1023 bytes on a whole cp932 character).
int64_t EvalIntExprText(const char* pszText);
// Copies the text, puts the cursor at its start and reads the first token.
void StartIntExprParse(INT_EXPR_PARSE* pParse, const char* pszText);
// Reads the next token: 0 at the end (a line feed or the terminator, where the cursor stays),
// else non-zero.
int NextIntExprToken(INT_EXPR_PARSE* pParse);
int64_t ParseIntSum(INT_EXPR_PARSE* pParse);
int64_t ParseIntProduct(INT_EXPR_PARSE* pParse);
int64_t ParseIntFactor(INT_EXPR_PARSE* pParse);
// Space and tab.
int IsBlank(int c);

// ---- The motion step ----
// Reads P1, P2, P4..P7 of the parameter array and S3..S30 of the state array by their variables'
// types (an element beyond a variable's count, or of a text variable, reads as 0) and computes the
// four results in double precision. Returns 0.
int ComputeMotionStep(int nParamVar, int nStateVar, double adResult[KX_MOTION_RESULTS]);

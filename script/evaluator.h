// The expression evaluator: runs the compiled byte code of a command argument on a value stack and
// delivers a 64-bit integer, a double or a text. It also reports which variable element the
// expression designated, so commands can write results back, and serves the declaration commands,
// which read a variable's name and dimensions instead of its value.
//
// Byte code: tokens of one opcode byte, a little-endian uint16 payload length L and L payload
// bytes; the walk advances by L + 3 and never reads past the expression's length. Evaluation is
// postfix; the result is slot 0 of the stack. One evaluation runs at a time (engine-wide state).
#pragma once
#include <cstddef>
#include <cstdint>

enum {
    KX_EXPR_STACK = 1024,       // value stack slots
    KX_EXPR_POOL = 1024,        // text buffers 1..1023 (0 marks a number)
    KX_EXPR_TEXT_BUFFER = 4096, // bytes per text buffer: texts are at most 4095 bytes
    KX_EXPR_MAX_DEPTH = 128,    // nesting of array subscripts
    KX_EXPR_MAX_SUBSCRIPTS = 8, // subscripts of one array access
};

// Evaluator modes, also the evaluator types 1..4 of an argument record.
enum {
    KX_EXPR_MODE_INT = 1,          // integer result
    KX_EXPR_MODE_FLOAT = 2,        // double result
    KX_EXPR_MODE_TEXT_INT = 3,     // text result, integer arithmetic
    KX_EXPR_MODE_TEXT_FLOAT = 4,   // text result, floating arithmetic
};

// Error ids the evaluator reports (fatal script errors; texts from the game's message table).
enum {
    KX_ERR_EXPR_SUBSCRIPT_RANGE = 107010,   // subscript outside its dimension
    KX_ERR_EXPR_SUBSCRIPT_COUNT = 107020,   // wrong subscript count for an indirect system variable
    KX_ERR_EXPR_NO_VARIABLE = 108010,       // variable number without a descriptor
    KX_ERR_EXPR_NOT_NUMBER = 108210,        // text that is not a number
    KX_ERR_EXPR_TEXT_OPERAND = 160010,      // a text where a number is needed
    KX_ERR_EXPR_BAD_CODE = 900030,          // unknown opcode or malformed byte code
};

// Prefix of a variable token: none, the backquote (0x60) or '#' (0x23); a prefixed variable gives
// its reference value variable x 2^32 + element index instead of its content.
enum { KX_EXPR_PREFIX_NONE = 0, KX_EXPR_PREFIX_BACKQUOTE = 1, KX_EXPR_PREFIX_HASH = 2 };

// The value stack: one slot is an EXPR_VALUE spread over three parallel columns. Integer
// arithmetic keeps numbers in the int64 column, floating arithmetic in the double column. A text
// slot has a pool index (its buffer) and 0 in both number columns, so a text counts as 0 where a
// number is read.
struct EXPR_VALUE {
    int64_t llInt;
    double dFloat;
    uint16_t wStr;   // string-pool index; 0 = a number
};
extern int64_t g_aExprInt[KX_EXPR_STACK];
extern double g_aExprFloat[KX_EXPR_STACK];
extern uint16_t g_anExprStr[KX_EXPR_STACK];
extern uint16_t g_nExprSp;   // slots in use

// The text buffers, kept for the run (static storage, so no evaluation can run out of memory),
// with the length of each buffer's text. g_nStrPoolNext is the next free buffer (1 at each start).
extern char g_apszStrPool[KX_EXPR_POOL][KX_EXPR_TEXT_BUFFER];
extern uint16_t g_anStrPoolLen[KX_EXPR_POOL];
extern uint16_t g_nStrPoolNext;

extern int g_nExprMode;   // KX_EXPR_MODE_* of the running evaluation

// Open array accesses per nesting depth: stack position of the placeholder, variable, prefix.
extern uint16_t g_anOpenPos[KX_EXPR_MAX_DEPTH];
extern uint16_t g_anOpenVar[KX_EXPR_MAX_DEPTH];
extern uint8_t g_anOpenPrefix[KX_EXPR_MAX_DEPTH];
extern int g_nSubscriptDepth;
// Subscripts of the last closed access, and their count.
extern int64_t g_allSubscript[KX_EXPR_MAX_SUBSCRIPTS];
extern int g_nSubscriptCount;

// Designation of the last evaluation: variable of the last variable token, element index of the
// last closed array access (0 for a plain variable), prefix of the last variable token, and 1 when
// a whole-variable reference ('v') ran. g_nRefVar and g_nRefElem change only by variable tokens.
extern int32_t g_nRefVar;
extern int64_t g_nRefElem;
extern uint8_t g_nRefPrefix;
extern uint8_t g_bRefTaken;

// Output of a text evaluation: the caller's buffer, its size and the length written.
extern char* g_pszExprOut;
extern size_t g_nExprOutCap;
extern int g_nExprOutLen;

// Declaration mode (set by the declaration commands around their first argument): a variable at
// depth 0 is only recorded, and the subscripts of its access are left as the dimension sizes.
extern uint8_t g_bDeclMode;
// Set when a constant pre-evaluation (constant mode) meets a variable token.
extern uint8_t g_bNotConstant;

// One opcode handler: the token's payload and its length; 0, or -1 when the opcode failed.
typedef int (*EXPR_OP_FN)(const uint8_t* pbPayload, uint32_t nLen);
extern EXPR_OP_FN g_apfnExprOps[256];

// The evaluators by evaluator type (byte 2 of an argument record). Every one of the 256 entries is
// set: types outside 1..4 evaluate as type 1 for numbers and type 3 for texts, and the double
// table also holds entries 6..9 (floating).
typedef int64_t (*EVAL_INT_FN)(const uint8_t* pbCode, uint32_t nLen);
typedef double (*EVAL_FLOAT_FN)(const uint8_t* pbCode, uint32_t nLen);
// Text evaluators write a terminated text into pszOut (nOutCap bytes; 4096 hold every text) and
// return its length.
typedef int (*EVAL_STRING_FN)(char* pszOut, size_t nOutCap, const uint8_t* pbCode, uint32_t nLen);
extern EVAL_INT_FN g_apfnEvalInt[256];
extern EVAL_FLOAT_FN g_apfnEvalFloat[256];
extern EVAL_STRING_FN g_apfnEvalString[256];

// Mode 1, int64 of slot 0.
int64_t EvalExprInt(const uint8_t* pbCode, uint32_t nLen);
// Mode 2, double of slot 0 truncated toward zero (NaN and out of range give INT64_MIN).
int64_t EvalExprFloatToInt(const uint8_t* pbCode, uint32_t nLen);
// Mode 1, int64 of slot 0 converted to double.
double EvalExprIntAsFloat(const uint8_t* pbCode, uint32_t nLen);
// Mode 2, double of slot 0.
double EvalExprFloat(const uint8_t* pbCode, uint32_t nLen);
// Mode 3 (4): the text of slot 0, cut to nOutCap - 1 bytes at a whole cp932 character; a number in
// slot 0 gives the empty text. Returns the length.
int EvalExprString(char* pszOut, size_t nOutCap, const uint8_t* pbCode, uint32_t nLen);
int EvalExprStringFloat(char* pszOut, size_t nOutCap, const uint8_t* pbCode, uint32_t nLen);

// Runs the byte code in the mode g_nExprMode. 0, or -1 when an opcode failed (after its report).
// In modes 3 and 4 the text of slot 0 goes to g_pszExprOut (when set). The callers above ignore
// the result and deliver whatever slot 0 holds.
int RunExprCode(const uint8_t* pbCode, uint32_t nLen);

// Fills g_apfnExprOps. bFull 1: every opcode with its handler; 0 (constant mode, while script
// bodies are loaded): the variable opcodes set g_bNotConstant and fail without a message.
void RegisterExprOps(int bFull);
// Fills the evaluator tables by type.
void InitEvaluatorTables(void);
// Fills the evaluator's tables and gives the variable store its evaluator of initial texts.
// Calling it again changes nothing.
void InstallEvaluator(void);

// Reads a text as a number the way the 'i' opcode does. A text beginning "0x" takes 1 to 16 hex
// digits (either case) up to the first other character: KX_NUMTEXT_INT with their 64 bits, or
// KX_NUMTEXT_BAD_HEX for no digit or more than 16. Any other text may hold only digits, '.' and
// '-' (else KX_NUMTEXT_NOT_NUMBER, which callers report as 108210): with a '.' KX_NUMTEXT_FLOAT
// and the double, without KX_NUMTEXT_INT and the saturating decimal value (the empty text is 0).
// Nothing is reported here.
enum { KX_NUMTEXT_INT = 1, KX_NUMTEXT_FLOAT = 2, KX_NUMTEXT_BAD_HEX = -1, KX_NUMTEXT_NOT_NUMBER = -2 };
int ReadNumberText(const char* psz, int64_t* pllValue, double* pdValue);

// Script variables: the numbered variable table, the shape of each variable (type, dimensions,
// element count), its element values, the accessors every command uses and the element
// assignment operators.
//
// Numbers 1000 and above are user variables whose values live in their descriptor. Numbers below
// 1000 are system variables: their descriptors carry a type and an element count, but every read
// asks the engine through g_SysVarHooks.
#pragma once
#include <cstddef>
#include <cstdint>

enum {
    KX_VAR_TYPE_NONE = 0,
    KX_VAR_TYPE_INT = 1,      // 64-bit integer
    KX_VAR_TYPE_FLOAT = 2,    // double
    KX_VAR_TYPE_STRING = 3,   // text (cp932 bytes, terminated)
};

enum {
    KX_VAR_MAX_DIMS = 8,
    KX_VAR_MAX_ELEMENTS = 4000000,
    KX_FIRST_USER_VAR = 1000,   // numbers below are system variables
    KX_VAR_TEXT_BUFFER = 4096,  // evaluator and system-variable texts: at most 4095 bytes
};

// Error ids of the variable store (texts come from the game's message table).
enum {
    KX_ERR_VAR_TOO_MANY_ELEMENTS = 101100,   // element count above 4,000,000 (argument: 4000000)
    KX_ERR_VAR_NO_ELEMENTS = 101110,         // a dimension size below 1
    KX_ERR_VAR_WRONG_TYPE = 101140,          // a value of the wrong kind for the variable
    KX_ERR_VAR_DEF_NUMBER = 900070,          // a definition names a number outside the table
};

// One variable. The arrays of the variable's own type are the only ones allocated: changing the
// type releases the others. nCount always matches the allocated arrays (a failed reshape leaves
// the old values and count in place), so every access bounded by nCount is safe.
struct VAR_DESC {
    uint8_t bClass;                        // 1..4, from the definition; selects what a reset re-initialises
    uint8_t bType;                         // KX_VAR_TYPE_*
    int8_t nDims;                          // 0..8
    int32_t anDim[KX_VAR_MAX_DIMS];        // sizes of dimensions 0..nDims-1
    int64_t llCount;                       // elements (row-major, last dimension fastest); 0 before first init
    int64_t* pllValues;                    // int64 variable: llCount elements
    double* pdValues;                      // double variable: llCount elements
    char** ppszTexts;                      // text variable: llCount heap texts, each terminated
    uint16_t* pwTextCap;                   // text variable: per element the usable buffer size in bytes
                                           // (held in 16 bits, never above the real size)
};

// The variable table: one descriptor per number 0..g_nVarDesc-1, created zeroed when the variable
// table file is read and never freed during the run.
extern VAR_DESC** g_ppVarDesc;
extern int32_t g_nVarDesc;
// A 32-bit value from the variable table file that scripts read as system variable 124.
extern int32_t g_nVarTableExtra;
// The whole variable-definition file image (kxbin\kxv.kbn) and its size in bytes, kept for the run:
// the global definitions are applied at start, the local ones at each script's first load, and the
// reset of globals walks them again.
extern uint8_t* g_pVarDefs;
extern size_t g_nVarDefsBytes;

// Creates the table of nCount zeroed descriptors (replacing any previous table). 0, or -1 after
// error 100010.
int CreateVarTable(int32_t nCount);
// Releases the table and every value (tests and shut-down).
void FreeVarTable(void);
// The descriptor of a number, or NULL when the number is outside the table.
VAR_DESC* GetVarDesc(int nVar);
// Releases every value array of a descriptor and clears its type and count (shape kept).
void ReleaseVarValues(VAR_DESC* pVar);

// ---- Shape and initialisation (0, or -1 after a reported error) ----

// Type := int64 (double), count from the dimensions, every element := value.
int InitVarInt(VAR_DESC* pVar, int64_t llValue);
int InitVarFloat(VAR_DESC* pVar, double dValue);
// Type := text; every element gets its own copy of the nLen bytes of pbText, terminated.
int InitVarString(VAR_DESC* pVar, const char* pbText, size_t nLen);
// llCount := product of the dimension sizes (1 with none). A size below 1: error 101110; a product
// above 4,000,000: error 101100 with 4000000 as argument; both fatal, count left as it was. The
// arrays of a typed variable follow the new count (the first elements stay, new ones are 0 or
// empty), so the count always matches them.
int UpdateVarCount(VAR_DESC* pVar);
// The element count the dimensions give, without reporting: 1..4,000,000, or 0 when a size is
// below 1, or KX_VAR_MAX_ELEMENTS + 1 when the (saturating) product is above the limit.
int64_t ComputeVarCount(const VAR_DESC* pVar);
// Dimension 0 := n (meant for one-dimensional arrays): the first min(old, new) elements stay, new
// numbers are 0, new texts are empty with capacity 1. A variable of no type is left alone (0).
// Count errors are reported before anything changes.
int ResizeVarArray(VAR_DESC* pVar, int32_t n);

// ---- Variable definitions ----

// Evaluates a definition's initial-text bytecode (nLen bytes) as text with integer arithmetic into
// pszOut (KX_VAR_TEXT_BUFFER bytes, terminated); returns the text length, or -1 on failure. The
// expression evaluator installs it; while NULL, initial texts are empty.
typedef int (*KX_VARDEF_TEXT_FN)(const uint8_t* pbCode, size_t nLen, char* pszOut);
extern KX_VARDEF_TEXT_FN g_pfnEvalVarDefText;

// Walks the definition records of g_pVarDefs and applies the selected ones: the descriptor takes
// class, type, dimensions, and every element the initial value (InitVarInt / InitVarFloat /
// InitVarString). With pllResetMasks NULL the selection is that of applying definitions: key -1
// selects scope 1 and 3, key s selects scope 2 of script s. With three masks (int64, double, text)
// it is that of ResetGlobalVars. A number not below g_nVarDesc: error 900070 (fatal), -1. A record
// that does not fit the image or has more than 8 dimensions: error 104010 with the file name, -1.
int ApplyVarDefRecords(int nKey, const int64_t* pllResetMasks);
// Re-applies the global definitions of scope 1 (only when nKey is -1): a definition of type 1, 2
// or 3 and class c in 1..4 only when bit c-1 of the int64, double or text mask is set; any other
// class or type always.
int ResetGlobalVars(int nKey, int64_t llIntMask, int64_t llFloatMask, int64_t llTextMask);

// ---- System variables ----

// The engine's readers and writer of the system variables (numbers below 1000). The element is
// passed with its full 64 bits. A NULL reader gives 0, 0.0 or the empty text; a NULL writer
// refuses the write (-1).
struct KX_SYSVAR_HOOKS {
    int64_t (*pfnReadInt)(int nVar, int64_t llElem);
    double (*pfnReadFloat)(int nVar, int64_t llElem);
    // Writes the text into pszOut (KX_VAR_TEXT_BUFFER bytes, terminated); returns its length.
    int (*pfnReadString)(int nVar, char* pszOut, int64_t llElem);
    // nKind is KX_VAR_TYPE_INT, _FLOAT or _STRING; the matching value argument holds the value
    // (a text as pbText with nLen bytes). 0, or -1 when refused.
    int (*pfnWrite)(int nVar, int64_t llElem, int nKind, int64_t llValue, double dValue,
                    const char* pbText, size_t nLen);
};
extern KX_SYSVAR_HOOKS g_SysVarHooks;

// ---- Store accessors ----
// The element is checked against 0..count-1 with its low 32 bits taken as signed. Out-of-range
// reads give 0, 0.0 or NULL and out-of-range writes -1, both without an error; so does a number
// outside the table.

// The element as an integer, by the variable's type: int64 as it is, a double truncated toward
// zero (DoubleToInt64), a text or no type 0. System variables: the engine's integer reader.
int64_t GetVarInt(int nVar, int64_t llElem);
// The element as a double: int64 converted, double as it is, other types 0.0. System variables:
// the engine's double reader.
double GetVarFloat(int nVar, int64_t llElem);
// The element's text (owned by the variable, valid until it is written), or NULL when out of range
// or not a text variable. For a system variable the engine's text is first stored into the
// variable's own element.
const char* GetVarString(int nVar, int64_t llElem);
// int64 variable: store; double: store converted. Other type: error 101140 (fatal), -1.
int SetVarInt(int nVar, int64_t llElem, int64_t llValue);
// int64 variable: store truncated toward zero (DoubleToInt64); double: store. Other: 101140, -1.
int SetVarFloat(int nVar, int64_t llElem, double dValue);
// Text variables only (else 101140, -1): the element's buffer grows when needed and takes the
// text with its terminator.
int SetVarString(int nVar, int64_t llElem, const char* pszText);
// The same for nLen bytes (which may hold NUL bytes); the element is terminated after them.
int SetVarStringBytes(int nVar, int64_t llElem, const char* pbBytes, size_t nLen);
// No type or range report: stores nLen bytes into an element of a text variable that the caller
// checked (growing the buffer to nLen + 1 when needed), terminated. 0, or -1 (100010 when no
// memory; -1 silently when the element is not there).
int WriteVarStringBytes(VAR_DESC* pVar, int64_t llElem, const char* pbBytes, size_t nLen);

// For k = 0, 1, ...: target element nTargetFirst + k := length of source element nSourceFirst + k;
// stops after the first empty text or at the end of either array. Returns the number of non-empty
// texts stored. The source must be a text variable and the target an int64 (or double) variable;
// otherwise nothing is stored and the result is 0.
int64_t StoreStringLengths(int64_t llSourceFirst, int nSourceVar, int64_t llTargetFirst, int nTargetVar);

// Upper-cases the ASCII letters a-z in place; both bytes of a cp932 double-byte character are
// skipped (a lead byte before the terminator ends the walk).
void UpperCaseAscii(char* psz);

// ---- Element assignment operators ----
// Operators 0 "=", 1 "+=", 2 "-=", 3 "*=", 4 "/=", 5 "%=", 6 "&=", 7 "|=", 8 "^=". Entry op is the
// int64 form, entry 9 + op the double form. Each answers 0, or -1 with the variable unchanged when
// the element is outside 0..count-1 or the variable has no array of that kind.
enum { KX_ELEM_OPS = 9 };
typedef int (*ELEM_INT_OP)(VAR_DESC* pVar, int32_t nElem, int64_t llValue);
typedef int (*ELEM_FLOAT_OP)(VAR_DESC* pVar, int32_t nElem, double dValue);
union ELEM_OP {
    ELEM_INT_OP pfnInt;       // entries 0..8
    ELEM_FLOAT_OP pfnFloat;   // entries 9..17
};
extern ELEM_OP g_apfnElemOps[2 * KX_ELEM_OPS];
// Fills g_apfnElemOps (it is also filled before start-up; calling again changes nothing).
void RegisterElemOps(void);

int ElemIntSet(VAR_DESC* pVar, int32_t nElem, int64_t llValue);
int ElemIntAdd(VAR_DESC* pVar, int32_t nElem, int64_t llValue);
int ElemIntSub(VAR_DESC* pVar, int32_t nElem, int64_t llValue);
int ElemIntMul(VAR_DESC* pVar, int32_t nElem, int64_t llValue);   // low 64 bits
int ElemIntDiv(VAR_DESC* pVar, int32_t nElem, int64_t llValue);   // toward zero; unchanged by 0
int ElemIntMod(VAR_DESC* pVar, int32_t nElem, int64_t llValue);   // sign of the dividend; unchanged by 0
int ElemIntAnd(VAR_DESC* pVar, int32_t nElem, int64_t llValue);
int ElemIntOr(VAR_DESC* pVar, int32_t nElem, int64_t llValue);
int ElemIntXor(VAR_DESC* pVar, int32_t nElem, int64_t llValue);
int ElemFloatSet(VAR_DESC* pVar, int32_t nElem, double dValue);
int ElemFloatAdd(VAR_DESC* pVar, int32_t nElem, double dValue);
int ElemFloatSub(VAR_DESC* pVar, int32_t nElem, double dValue);
int ElemFloatMul(VAR_DESC* pVar, int32_t nElem, double dValue);
int ElemFloatDiv(VAR_DESC* pVar, int32_t nElem, double dValue);   // unchanged by 0.0 or NaN
// Element and value truncated toward zero to int64 (DoubleToInt64), the integer result converted
// back. Mod leaves the element unchanged when the value is NaN or truncates to 0.
int ElemFloatMod(VAR_DESC* pVar, int32_t nElem, double dValue);
int ElemFloatAnd(VAR_DESC* pVar, int32_t nElem, double dValue);
int ElemFloatOr(VAR_DESC* pVar, int32_t nElem, double dValue);
int ElemFloatXor(VAR_DESC* pVar, int32_t nElem, double dValue);

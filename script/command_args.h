// Command arguments: the engine-wide COMMAND_ARGS record that every command handler fills first
// with FetchCommandArgs (its own command id), then reads by argument id.
//
// FetchCommandArgs walks the argument records of the current thread's current command, evaluates
// each expression the way the command table (kxc.kbn) declares for that command and argument
// (value kind: 64-bit integer, text, or kept unevaluated), applies the declared range check and
// records which variable element each expression designated. The record holds the arguments of
// the command being executed and is overwritten by the next one.
//
// Slots are numbered 1..n in the order of the command's argument records. Every table is as wide
// as the record fields that index it (an argument id and an argument count are one byte each), so
// no value from a script body can index outside them; an id the command table does not declare,
// or a record or expression outside its region of the body, is refused (104010) instead.
#pragma once
#include <cstdint>

enum {
    KX_ARG_IDS = 256,          // argument ids 0..255 (presence map entries)
    KX_ARG_SLOTS = 256,        // slots 1..255; entry 0 is never a slot
    KX_ARG_TEXT_BUFFER = 4096, // bytes per text slot: argument texts are at most 4095 bytes
};

// Value kinds of an argument (command table).
enum { KX_ARGKIND_INT = 0, KX_ARGKIND_TEXT = 1, KX_ARGKIND_RAW = 2 };

// Assignment operators of an argument record.
enum { KX_ARGOP_SET = 0, KX_ARGOP_ADD = 1, KX_ARGOP_SUB = 2, KX_ARGOP_MUL = 3, KX_ARGOP_DIV = 4 };

// Range-check failures (fatal script errors; texts from the game's message table). The message
// arguments are the command name, the argument name and the value as a 64-bit integer, then:
enum {
    KX_ERR_ARG_RANGE = 101000,        // outside minimum..maximum: minimum, maximum
    KX_ERR_ARG_MINIMUM = 101010,      // below the minimum: minimum
    KX_ERR_ARG_COLOUR_OR_NONE = 101020,  // not -1..0xFFFFFF: nothing more
    KX_ERR_ARG_COLOUR = 101030,       // not 0..0xFFFFFF: nothing more
    KX_ERR_ARG_ABOVE_3 = 101210,      // above 3: 3
    KX_ERR_ARG_NEGATIVE = 101220,     // negative: nothing more
};

// ---- COMMAND_ARGS ----
extern uint8_t g_abArgSlot[KX_ARG_IDS];          // slot of an argument id; 0 when not given
extern uint8_t g_nArgCount;                      // argument records of the command
extern int32_t g_anArgId[KX_ARG_SLOTS];
extern int32_t g_anArgEvalType[KX_ARG_SLOTS];    // evaluator type (1 int, 2 float, 3 text/int, 4 text/float)
extern int32_t g_anArgOp[KX_ARG_SLOTS];          // KX_ARGOP_*
extern int32_t g_anArgLen[KX_ARG_SLOTS];         // expression length (flow commands: a command index)
extern int32_t g_anArgOffset[KX_ARG_SLOTS];      // expression offset into the body's expression bytes
extern int64_t g_anArgValue[KX_ARG_SLOTS];       // value of an integer argument
// Text of a text argument: a 4096-byte buffer allocated on the slot's first text and kept for the run.
extern char* g_apszArgText[KX_ARG_SLOTS];
// Expression bytes of an unevaluated argument, for handlers that evaluate it themselves; NULL when
// offset and length do not lie inside the body's expression bytes (flow commands keep command
// indices in the length field; they read g_anArgLen and never evaluate it).
extern const uint8_t* g_apArgExpr[KX_ARG_SLOTS];
// Designation of an evaluated argument: the variable of its last variable token (0 when the
// expression has none), the element index of its last array access, and 1 when it contained a
// whole-variable reference.
extern int32_t g_anArgVar[KX_ARG_SLOTS];
extern int64_t g_anArgElem[KX_ARG_SLOTS];
extern uint8_t g_abArgRefTaken[KX_ARG_SLOTS];

// Decodes the current command's arguments (g_pCurThread, g_nCurCommand) as command nCmd declares
// them. 0 when every argument was decoded and passed its check; -1 after the first failing check
// (later arguments are not decoded) or a reported damaged record or missing text buffer.
int FetchCommandArgs(int nCmd);

// The value kind and check kind of one argument of a command; -1 when the command table does not
// declare it.
int GetArgValueKind(int nCmd, int nArgId);
int GetArgCheckKind(int nCmd, int nArgId);
// Applies check kind nKind to a value: 0 when accepted, else the error id (nothing reported).
int TestArgCheck(int nKind, int64_t llValue);

// Slot of an argument id (0 when absent) and the argument's fields by id.
inline int ArgSlot(int nArgId) { return (nArgId >= 0 && nArgId < KX_ARG_IDS) ? g_abArgSlot[nArgId] : 0; }
inline int HasArg(int nArgId) { return ArgSlot(nArgId) != 0; }
// An argument's value, its low 32 bits as a signed number, its low byte, its operator and its text
// ("" when absent or not a text), by id.
inline int64_t ArgInt(int nArgId) { return g_anArgValue[ArgSlot(nArgId)]; }
inline int32_t ArgLow32(int nArgId) { return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(ArgInt(nArgId)))); }
inline uint8_t ArgLowByte(int nArgId) { return static_cast<uint8_t>(static_cast<uint64_t>(ArgInt(nArgId))); }
inline int ArgOp(int nArgId) { return g_anArgOp[ArgSlot(nArgId)]; }
inline const char* ArgText(int nArgId)
{
    const int s = ArgSlot(nArgId);
    return s && g_apszArgText[s] ? g_apszArgText[s] : "";
}
// The variable element an output argument names, after FetchCommandArgs: its number, element and
// description; all 0 / NULL when the argument is absent or its expression names no variable (a
// literal written where a variable belongs), so a command never stores into whatever variable 0
// is. The description is also NULL when no such variable exists.
struct VAR_DESC;
struct ARG_OUT {
    int nVar;
    int64_t llElem;
    VAR_DESC* pVar;
};
ARG_OUT GetArgOut(int nArgId);
// The expression of an unevaluated argument and its length: 0, or -1 after 104010 when it does
// not lie inside the body's expression bytes (or the argument is absent: -1, nothing reported).
int GetArgExpr(int nArgId, const uint8_t** ppCode, uint32_t* pnLen);

// Combines a current value with an argument by its operator: "=" value, "+=" current + value,
// "-=" current - value, "*=" current x value (all wrapping), "/=" current / value toward zero
// (INT64_MIN / -1 gives INT64_MIN; a value of 0 leaves current); any other operator: current.
int64_t ApplyArgOp(int nOp, int64_t llCurrent, int64_t llValue);
// As ApplyArgOp, then "+=" results above the maximum become the maximum, "-=" results below the
// minimum the minimum, "*=" and "/=" results are limited to minimum..maximum; "=" and a division
// by 0 are not limited.
int64_t ApplyArgOpClamped(int nOp, int64_t llCurrent, int64_t llValue, int64_t llMin, int64_t llMax);
// As ApplyArgOp, then "-=", "*=" and "/=" results below the minimum become the minimum; "=", "+="
// and a division by 0 are not limited.
int64_t ApplyArgOpMin(int nOp, int64_t llCurrent, int64_t llValue, int64_t llMin);

// Clears the record (presence map, count, slots); text buffers are kept.
void ClearCommandArgs(void);
// Releases the text buffers (tests and shut-down).
void FreeCommandArgTexts(void);

// System variables: the variable numbers below 1000, whose every read asks the engine for a current
// value (time, timers, machine facts, the command line, the running thread's call frame and
// parameters, counters, window events, keys and mouse, folders, tree paths, the message text).
// Their descriptors (type and element count) come from the variable definitions like any other;
// the element selects among related values. A few of them can also be assigned.
//
// Every element index that reaches a reader or the writer is checked here: an element outside
// what a number serves reads as 0, 0.0 or the empty text and is not written.
#pragma once
#include <cstddef>
#include <cstdint>

// Numbers 0..KX_SYSVAR_LAST are served; any other number reads as 0, 0.0 or the empty text.
enum { KX_SYSVAR_LAST = 547 };

enum {
    KX_ERR_SYSVAR_FILE_INDEX = 107010,   // number 14 with an index outside the file list (fatal)
    KX_ERR_SYSVAR_READ_ONLY = 101150,    // assignment to a system variable that cannot be assigned
    KX_ERR_SYSVAR_REF_TYPE = 108230,     // indirect assignment to a variable of the wrong type
};

// The readers. GetSysVarString writes a terminated text of at most 4095 bytes into pszOut, which
// holds KX_VAR_TEXT_BUFFER (4096) bytes, and returns its length.
int64_t GetSysVarInt(int nVar, int64_t llElem);
double GetSysVarFloat(int nVar, int64_t llElem);
int GetSysVarString(int nVar, char* pszOut, int64_t llElem);

// The type a number is read with (KX_VAR_TYPE_INT, _FLOAT or _STRING); KX_VAR_TYPE_NONE for
// numbers above KX_SYSVAR_LAST or negative.
int GetSysVarType(int nVar);

// Assignments to the system variables of each type; nOp is the assignment operator 0 "=" ... 8
// "^=" (most numbers ignore it). Result 0 (also for an element that selects nothing), or -1 after
// a reported error:
// - int64: 15 file-list count; 50 indirect (the referenced variable must be an int64 user
//   variable, else 108230; its element through the operator); 53 integer argument k of the current
//   call frame with the operator (k in 1..count; division by 0 leaves it); 117..120 window events
//   (low byte); 132 menu command; 144 hold counter of key k (1..1023); 145 last key; 146 last mouse
//   button; 147..275 hold counters of mapped keys; 276..279 and 280 joystick hold counters;
//   281..409 press counts of mapped keys; 410..413 and 414 joystick press counts. Hold counters go
//   through SetKeyCounter. Any other number: 101150.
// - double: 51 indirect (a double user variable, else 108230); 54 double argument k with "=",
//   "+=", "-=", "*=", "/=". Any other number: no effect, no error.
// - text: 52 indirect (a text user variable, else 108230); 122 and 123 the message text and its
//   width codes; 128 current layer-tree path; 131 current menu-tree path (each cut at a whole
//   character to its buffer). Any other number: 101150.
int AssignSysVarInt(int nVar, int64_t llElem, int nOp, int64_t llValue);
int AssignSysVarFloat(int nVar, int64_t llElem, int nOp, double dValue);
int AssignSysVarString(int nVar, int64_t llElem, const char* pbText, size_t nLen);

// The variable store's write of one element ("="): by the type of the number's descriptor (or the
// type it is read with when the descriptor has none), the value converted between int64 and
// double; a text for a number variable or a number for a text one is error 101140.
int WriteSysVar(int nVar, int64_t llElem, int nKind, int64_t llValue, double dValue, const char* pbText, size_t nLen);

// Installs the readers and WriteSysVar into g_SysVarHooks of the variable store. Start-up calls it
// once among the engine's one-time tables, before the script system starts.
void InstallSystemVariables(void);

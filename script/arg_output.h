// Outputs of the script commands: the variable element an argument designates, and the stores
// into it that the commands share.
//
// An argument whose expression names no variable (a literal) designates nothing: its output is
// treated as absent, so a literal never sends a result into some other variable.
#pragma once
#include <cstdint>

#include "script/command_args.h"

using ARG_OUTPUT = ARG_OUT;

// The output of argument nArgId (GetArgOut): false when the argument is absent or designates no
// variable.
bool GetArgOutput(int nArgId, ARG_OUTPUT* pOut);
// 1 when the output is a text variable.
int IsTextOutput(const ARG_OUTPUT& o);
// A number into an int64 or double element (a text variable: error 101140, fatal, -1); an element
// outside the variable stores nothing. 0 or -1.
int StoreOutputInt(const ARG_OUTPUT& o, int64_t llValue);
// A text into a text element (another type: error 101140, fatal, -1). 0 or -1.
int StoreOutputText(const ARG_OUTPUT& o, const char* pszText);
// 0, 0.0 or the empty text, by the variable's type.
void StoreOutputEmpty(const ARG_OUTPUT& o);

// The value of an integer argument: the designated element's value when it names a variable,
// else the argument's own value; 0 when absent.
int64_t ArgIntValue(int nArgId);

// Paths of the script commands: every '/' outside cp932 double-byte characters becomes '\', in place.
void SlashesToBackslashesCp932(char* psz);

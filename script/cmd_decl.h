// The declaration commands, which give a variable its type, dimensions and initial value, and the
// assignment command, which changes one element, a whole variable or a writable system variable.
//
// In all four the first argument record of the command is the target and the second the value;
// a command with fewer records reads the missing ones as empty expressions. Each handler returns
// 0 to go on, or -1 after a reported error.
#pragma once

// Declarations: the target is read in declaration mode, so its subscripts are the dimension sizes
// (no subscript: a single element; at most 8); every element then takes the value. Declaring a
// declared variable again reshapes and retypes it. A shape that is refused (a size below 1:
// 101110; more than 4,000,000 elements: 101100) leaves the variable as it was.
int CmdDeclareInt(void);      // 64-bit integers
int CmdDeclareFloat(void);    // doubles
int CmdDeclareString(void);   // texts (at most 4095 bytes from the value)

// Assignment. The target record's operator byte is 0 "=", 1 "+=", 2 "-=", 3 "*=", 4 "/=", 5 "%=",
// 6 "&=", 7 "|=", 8 "^=".
// - A whole user variable (a 'v' token): every element := the value, by the variable's type; the
//   operator is not applied.
// - An element of an int64 variable: the operator with the value from the integer evaluator of
//   the value's type; of a double variable: with the value evaluated in floating arithmetic
//   whatever its type. Division and remainder by 0 leave the element. An element outside the
//   variable is left alone.
// - An element of a text variable: "=" stores the text; "+=" appends it when the joined text is
//   below 4096 bytes, else the element stays; other operators: 101140.
// - A variable of no type: 101140.
// - A system variable: a whole-variable target does nothing; an element goes to the writable
//   system variables (script/system_vars.h), other numbers refuse (101150).
int CmdAssign(void);

// The script-line tokenizer: splits one line of script-like source text into tokens for the
// script itself. Each token's text goes into an element of a text array variable, its kind into an
// element of a number array variable, and the block-comment state is carried from one line to the
// next through a third variable element. Text is cp932: a double-byte character is never split.
#pragma once
#include <cstdint>

// The longest line scanned, in bytes (the system command's text buffers hold 1023 bytes and the
// terminator); a longer line is cut at the last whole character that fits.
enum { KX_TOKEN_LINE_MAX = 1023 };

// Token kinds as stored into the kinds array.
enum {
    KX_TOKEN_END_OF_LINE = 0,   // a line comment, or a carriage return inside a block comment: text "\r"
    KX_TOKEN_PLUS_PLUS = 11,    // "++"
    KX_TOKEN_PLUS_ASSIGN = 12,  // "+="
    KX_TOKEN_MUL_ASSIGN = 14,   // "*="
    KX_TOKEN_DIV_ASSIGN = 15,   // "/="
    KX_TOKEN_CHAR = 16,         // any other single byte
    KX_TOKEN_STRING = 31,       // from the opening quote through the closing quote or carriage return
    KX_TOKEN_WORD = 32,
    KX_TOKEN_BACKSLASH = 51,
    KX_TOKEN_OPEN = 52,         // '('
    KX_TOKEN_CLOSE = 53,        // ')'
    KX_TOKEN_COMMA = 54,
    KX_TOKEN_AT = 55,
    KX_TOKEN_DOLLAR = 56,
    KX_TOKEN_HASH = 57,
};

// Tokenizes a terminated line. The three references are reference values (variable number in the
// high 32 bits, element index in the low 32 bits):
//   llTextsRef  a text array and the element that receives the first token's text;
//   llKindsRef  an int64 or double array and the element that receives the first token's kind;
//   llStateRef  the element that holds the block-comment state between calls (non-zero: the
//               previous line ended inside a block comment).
// Token n goes to element first + n of both arrays (32-bit element arithmetic). Kinds are stored
// like SetVarInt, texts like SetVarString: elements outside an array are skipped silently, an
// array of the wrong type reports 101140 (fatal) at each store. A word or string still open at the
// end of the line is dropped. Returns the number of tokens, skipped stores included.
int64_t TokenizeScriptLine(const char* pszLine, int64_t llTextsRef, int64_t llKindsRef, int64_t llStateRef);

// Writes expression byte code for tests, the script builder and the demo builder.
//
// A token is one opcode byte, a little-endian uint16 payload length L and L payload bytes. The
// evaluation is postfix: operands first, then the operator. Every function appends to `code`.
//
//   a + 1        ExprAsmVar(c, 1000); ExprAsmInt(c, 1); ExprAsmOp(c, '+');
//   b[1, 2]      ExprAsmElement(c, 1001, {1, 2});
//   "ab" + s     ExprAsmText(c, "ab"); ExprAsmVar(c, 1002); ExprAsmOp(c, '+');
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Prefix bytes of the variable tokens: none, the backquote and '#' (both give the reference value
// variable x 2^32 + element instead of the content).
enum { EXPR_PREFIX_NONE = 0, EXPR_PREFIX_BACKQUOTE = 0x60, EXPR_PREFIX_HASH = 0x23 };

// Any token as given (also for damaged byte code in tests). The payload length is written as
// nLen's low 16 bits; nLenField >= 0 writes that value in the length field instead.
void ExprAsmToken(std::vector<uint8_t>& code, uint8_t bOp, const void* pPayload, size_t nLen,
                  int nLenField = -1);

// Integer literal in the smallest of 'B', 'W', 'I', 'L' that holds it.
void ExprAsmInt(std::vector<uint8_t>& code, int64_t v);
// Integer literal of a given width (1, 2, 4 or 8 bytes; the value is cut to it).
void ExprAsmIntWidth(std::vector<uint8_t>& code, int64_t v, int nBytes);
// Double literal ('F').
void ExprAsmDouble(std::vector<uint8_t>& code, double d);
// Text literal ('M') of cp932 bytes (a NUL byte ends the text for the evaluator): backslashes are
// doubled (never a trail byte), the quote is the first byte that does not stand alone in the text,
// preferring '"' then '\''. A lead byte without a trail byte at the end is left out. 0, or -1
// (nothing written) when the text leaves no usable quote byte.
int ExprAsmText(std::vector<uint8_t>& code, const std::string& strText);

// Variable tokens.
void ExprAsmVar(std::vector<uint8_t>& code, uint16_t nVar, uint8_t bPrefix = EXPR_PREFIX_NONE);     // 'H'
void ExprAsmOpen(std::vector<uint8_t>& code, uint16_t nVar, uint8_t bPrefix = EXPR_PREFIX_NONE);    // 'V'
void ExprAsmClose(std::vector<uint8_t>& code);                                                      // ')'
void ExprAsmVarRef(std::vector<uint8_t>& code, uint16_t nVar, uint8_t bPrefix = EXPR_PREFIX_NONE);  // 'v'
// An array access with literal subscripts: 'V', the subscripts separated by ',', ')'.
void ExprAsmElement(std::vector<uint8_t>& code, uint16_t nVar, const std::vector<int64_t>& subscripts,
                    uint8_t bPrefix = EXPR_PREFIX_NONE);

// A token without payload: 'R' negate, 's' to text, 'i' to number, the arithmetic '+' '-' '*' '/'
// '%', the comparisons '=' '!' '>' '<' 'Z' (>=) 'S' (<=), the bitwise 'A' 'O' '^', the logical
// '&' '|', the separator ',' and ')'.
void ExprAsmOp(std::vector<uint8_t>& code, char cOp);

// Whole expressions of one literal, as the script builder stores constant arguments.
std::vector<uint8_t> MakeExprInt(int64_t v);
std::vector<uint8_t> MakeExprDouble(double d);
std::vector<uint8_t> MakeExprText(const std::string& strText);
// Whole expressions of one variable, or of one element of an array with literal subscripts.
std::vector<uint8_t> MakeExprVar(uint16_t nVar, uint8_t bPrefix = EXPR_PREFIX_NONE);
std::vector<uint8_t> MakeExprElement(uint16_t nVar, const std::vector<int64_t>& subscripts,
                                     uint8_t bPrefix = EXPR_PREFIX_NONE);

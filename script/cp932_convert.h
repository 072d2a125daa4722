// Width and case conversion of cp932 texts, from tables of our own (no system locale involved).
//
// Case: the single-byte letters a-z / A-Z, and the double-byte letters that have a case partner in
// cp932: the full-width Latin letters, the Greek and Cyrillic alphabets and the Roman numerals 1 to
// 10 (whose small forms exist twice, in the NEC-selected and the IBM extension rows; the capital
// forms map to the IBM row, the capitals of either row to the NEC row 13 form).
//
// Width: every single-byte character with a full-width form in cp932 (the printable ASCII
// characters 0x20..0x7E and the half-width katakana 0xA1..0xDF) and that form, one character for
// one character (voiced marks are not joined). The narrowing is the exact inverse, and also takes
// the second copies of the full-width quote and apostrophe in the NEC-selected extension row.
#pragma once
#include <cstddef>
#include <cstdint>

// The case partner of a double-byte character (lead byte x 256 + trail byte), or the code itself
// when it has none.
uint16_t UpperCp932Char(uint16_t wCode);
uint16_t LowerCp932Char(uint16_t wCode);
// Upper- or lower-cases a terminated text in place, single-byte and double-byte letters alike.
// Lengths never change. A lead byte followed by the terminator ends the walk.
void UpperCaseCp932(char* psz);
void LowerCaseCp932(char* psz);

// The full-width form of a single-byte character (a double-byte code), or 0 when it has none.
uint16_t FullWidthOf(uint8_t bChar);
// The half-width byte of a double-byte character, or 0 when it has none.
uint8_t HalfWidthOf(uint16_t wCode);

// Writes src with every single-byte character that has a full-width form turned into it (Full),
// or every double-byte character that has a half-width form turned into it (Half), into dst of cap
// bytes: the text stops at the last whole character that fits cap - 1 bytes and is terminated.
// Returns the bytes written without the terminator. cap 0 writes nothing.
size_t ToFullWidthCp932(char* dst, size_t cap, const char* src);
size_t ToHalfWidthCp932(char* dst, size_t cap, const char* src);

// Code page 932 text helpers. Every byte-wise walk over engine text consults one lead-byte table;
// a lead byte followed by the terminator ends the walk.
#pragma once
#include <cstddef>
#include <cstdint>

// 1 for the cp932 lead bytes 0x81..0x9F and 0xE0..0xFC, else 0.
extern const uint8_t g_abLeadByte[256];
inline int IsLeadByte(unsigned char c) { return g_abLeadByte[c]; }

// The next character after p: two bytes for a lead byte with a trail byte, one otherwise; never
// steps past the terminator (a lead byte followed by NUL counts as one byte).
const char* NextCharCp932(const char* p);
// Bytes of the character at p (0 at the terminator, 1 or 2).
int CharLenCp932(const char* p);

// Copies src into dst (cap bytes including the terminator), cutting at the last whole cp932
// character that fits. Returns the bytes copied without the terminator. cap 0 writes nothing.
size_t CopyTextBounded(char* dst, size_t cap, const char* src);
// The same for at most n bytes of src (the end of the n bytes counts like the terminator).
size_t CopyTextBoundedN(char* dst, size_t cap, const char* src, size_t n);
// Appends src to the text in dst under the same rule. Returns the new length.
size_t AppendTextBounded(char* dst, size_t cap, const char* src);
// The longest prefix of src[0..n) that ends on a character boundary and is at most limit bytes.
size_t CutAtCharBoundary(const char* src, size_t n, size_t limit);

// ASCII-only case folding; cp932 trail bytes are never touched.
void LowerCaseASCII(char* psz);
void UpperCaseASCII(char* psz);
// Compares without regard to ASCII letter case: <0, 0, >0 like strcmp.
int CompareNoCaseASCII(const char* a, const char* b);
int CompareNoCaseASCIIN(const char* a, const char* b, size_t n);

// Every '/' that is not the trail byte of a double-byte character becomes '\'.
void SlashesToBackslashes(char* psz);

// Position after the last '\' or '/' outside double-byte characters (psz itself when none).
const char* FindFileNamePart(const char* psz);

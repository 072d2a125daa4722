// Arithmetic that never traps, and number/text conversions shared by the script runtime.
#pragma once
#include <cstddef>
#include <cstdint>

// a / b and a % b on 64-bit integers: INT64_MIN / -1 gives INT64_MIN and INT64_MIN % -1 gives 0.
// A divisor of 0 gives the caller's value for it.
int64_t DivInt64(int64_t a, int64_t b, int64_t onZero);
int64_t ModInt64(int64_t a, int64_t b, int64_t onZero);
// Wrapping add, subtract, multiply, negate and shifts (two's complement, no undefined behaviour).
int64_t AddInt64(int64_t a, int64_t b);
int64_t SubInt64(int64_t a, int64_t b);
int64_t MulInt64(int64_t a, int64_t b);
int64_t NegInt64(int64_t a);
int64_t ShlInt64(int64_t a, int64_t n);   // n taken modulo 64, like the x86 shift
int64_t SarInt64(int64_t a, int64_t n);   // arithmetic shift, n modulo 64
// Truncation toward zero; NaN, infinities and values outside int64 give INT64_MIN.
int64_t DoubleToInt64(double d);

// Decimal text of a 64-bit integer ("%lld"). Returns the length; dst holds at least 21 bytes.
int FormatInt64(char* dst, size_t cap, int64_t v);
// Text of a double in the engine's form (printf "%f"-style with six decimals).
int FormatDouble(char* dst, size_t cap, double v);
// Parses an optional sign and decimal digits after leading blanks; stops at the first other
// character; overflow wraps like the runtime's 64-bit conversion. *pEnd gets the stop position.
int64_t ParseInt64(const char* psz, const char** pEnd);
// The same reading, but a value beyond int64 gives INT64_MAX (or INT64_MIN when negative).
int64_t ParseInt64Saturating(const char* psz, const char** pEnd);
// strtod on the text ('.' as the decimal point whatever the locale); 0.0 when nothing parses.
double ParseDouble(const char* psz, const char** pEnd);

// The C runtime's rand of the original platform: state = state * 214013 + 2531011,
// result (state >> 16) & 0x7FFF. Our own, never the C library's.
void MsvcSrand(uint32_t seed);
int MsvcRand(void);

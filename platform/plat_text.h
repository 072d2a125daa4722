// Code page 932 (Shift_JIS) and UTF-8 at the boundary to the system, through iconv "CP932".
#pragma once
#include <cstddef>
#include <string>

// Convert a NUL-terminated text. The output is always NUL-terminated when cap > 0 and is cut at
// a whole character when it does not fit. Returns the bytes written without the NUL, or -1 when
// the input holds a sequence that cannot be converted (the output then holds what came before it).
int PlatCp932ToUtf8(const char* pszSrc, char* pszDst, size_t cap);
int PlatUtf8ToCp932(const char* pszSrc, char* pszDst, size_t cap);

// The same into strings. Bytes that cannot be converted become '?'.
std::string PlatCp932ToUtf8String(const char* pszSrc);
std::string PlatUtf8ToCp932String(const char* pszSrc);
// nLen bytes of cp932 (NUL bytes included) as UTF-8; each character that cannot be converted becomes
// the given UTF-8 text.
std::string PlatCp932BytesToUtf8(const char* pbSrc, size_t nLen, const char* pszReplacementUtf8);
// 1 when every character of the UTF-8 text has a cp932 form, else 0.
int PlatUtf8FitsCp932(const char* pszSrc);

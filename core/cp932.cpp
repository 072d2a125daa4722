// Code page 932 text helpers: one lead-byte table and the walks, copies and foldings built on it.
#include "core/cp932.h"

#include <cstring>

namespace {

constexpr bool IsLeadValue(unsigned v) { return (v >= 0x81 && v <= 0x9F) || (v >= 0xE0 && v <= 0xFC); }

struct LEAD_TABLE {
    uint8_t ab[256];
};

constexpr LEAD_TABLE BuildLeadTable()
{
    LEAD_TABLE t{};
    for (unsigned v = 0; v < 256; ++v)
        t.ab[v] = IsLeadValue(v) ? 1 : 0;
    return t;
}

constexpr LEAD_TABLE kLeadTable = BuildLeadTable();

inline unsigned char FoldLowerASCII(unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c; }

// Length of the character at src[i] in a text of n bytes: the end of the range acts like the
// terminator, so a lead byte in the last position is one byte.
inline size_t CharLenInRange(const char* src, size_t i, size_t n)
{
    if (IsLeadByte(static_cast<unsigned char>(src[i])) && i + 1 < n && src[i + 1] != '\0')
        return 2;
    return 1;
}

// Bytes of the text at src (at most n, stopping at a NUL) that fit limit bytes without splitting a
// double-byte character.
size_t FitPrefix(const char* src, size_t n, size_t limit)
{
    size_t used = 0;
    while (used < n && src[used] != '\0') {
        size_t len = CharLenInRange(src, used, n);
        if (used + len > limit)
            break;
        used += len;
    }
    return used;
}

}  // namespace

const uint8_t g_abLeadByte[256] = {
#define KX_ROW(b) kLeadTable.ab[b], kLeadTable.ab[b + 1], kLeadTable.ab[b + 2], kLeadTable.ab[b + 3], \
                  kLeadTable.ab[b + 4], kLeadTable.ab[b + 5], kLeadTable.ab[b + 6], kLeadTable.ab[b + 7]
    KX_ROW(0x00), KX_ROW(0x08), KX_ROW(0x10), KX_ROW(0x18), KX_ROW(0x20), KX_ROW(0x28), KX_ROW(0x30), KX_ROW(0x38),
    KX_ROW(0x40), KX_ROW(0x48), KX_ROW(0x50), KX_ROW(0x58), KX_ROW(0x60), KX_ROW(0x68), KX_ROW(0x70), KX_ROW(0x78),
    KX_ROW(0x80), KX_ROW(0x88), KX_ROW(0x90), KX_ROW(0x98), KX_ROW(0xA0), KX_ROW(0xA8), KX_ROW(0xB0), KX_ROW(0xB8),
    KX_ROW(0xC0), KX_ROW(0xC8), KX_ROW(0xD0), KX_ROW(0xD8), KX_ROW(0xE0), KX_ROW(0xE8), KX_ROW(0xF0), KX_ROW(0xF8),
#undef KX_ROW
};

const char* NextCharCp932(const char* p)
{
    if (*p == '\0')
        return p;
    if (IsLeadByte(static_cast<unsigned char>(p[0])) && p[1] != '\0')
        return p + 2;
    return p + 1;
}

int CharLenCp932(const char* p)
{
    return static_cast<int>(NextCharCp932(p) - p);
}

size_t CutAtCharBoundary(const char* src, size_t n, size_t limit)
{
    if (limit >= n) {
        // Everything fits; the end of the range is a boundary by definition.
        return n;
    }
    size_t used = 0;
    while (used < n) {
        size_t len = CharLenInRange(src, used, n);
        if (used + len > limit)
            break;
        used += len;
    }
    return used;
}

size_t CopyTextBoundedN(char* dst, size_t cap, const char* src, size_t n)
{
    if (cap == 0)
        return 0;
    size_t used = FitPrefix(src, n, cap - 1);
    memmove(dst, src, used);
    dst[used] = '\0';
    return used;
}

size_t CopyTextBounded(char* dst, size_t cap, const char* src)
{
    return CopyTextBoundedN(dst, cap, src, SIZE_MAX);
}

size_t AppendTextBounded(char* dst, size_t cap, const char* src)
{
    if (cap == 0)
        return 0;
    size_t len = strnlen(dst, cap);
    if (len == cap) {
        // Not terminated within the buffer: keep what fits as a whole text first.
        len = CutAtCharBoundary(dst, cap, cap - 1);
        dst[len] = '\0';
    }
    return len + CopyTextBounded(dst + len, cap - len, src);
}

void LowerCaseASCII(char* psz)
{
    for (char* p = psz; *p != '\0'; p = const_cast<char*>(NextCharCp932(p))) {
        if (*p >= 'A' && *p <= 'Z')
            *p = static_cast<char>(*p + 32);
    }
}

void UpperCaseASCII(char* psz)
{
    for (char* p = psz; *p != '\0'; p = const_cast<char*>(NextCharCp932(p))) {
        if (*p >= 'a' && *p <= 'z')
            *p = static_cast<char>(*p - 32);
    }
}

int CompareNoCaseASCIIN(const char* a, const char* b, size_t n)
{
    // Both texts are walked together: a lead byte is never a letter, so equal bytes so far mean the
    // same character boundaries in both, and trail bytes are compared exactly.
    size_t i = 0;
    bool bTrail = false;
    while (i < n) {
        unsigned char ca = static_cast<unsigned char>(a[i]);
        unsigned char cb = static_cast<unsigned char>(b[i]);
        if (!bTrail) {
            ca = FoldLowerASCII(ca);
            cb = FoldLowerASCII(cb);
        }
        if (ca != cb)
            return ca < cb ? -1 : 1;
        if (ca == 0)
            return 0;
        bTrail = !bTrail && IsLeadByte(ca);
        ++i;
    }
    return 0;
}

int CompareNoCaseASCII(const char* a, const char* b)
{
    return CompareNoCaseASCIIN(a, b, SIZE_MAX);
}

void SlashesToBackslashes(char* psz)
{
    for (char* p = psz; *p != '\0'; p = const_cast<char*>(NextCharCp932(p))) {
        if (*p == '/')
            *p = '\\';
    }
}

const char* FindFileNamePart(const char* psz)
{
    const char* pName = psz;
    for (const char* p = psz; *p != '\0'; p = NextCharCp932(p)) {
        if (*p == '\\' || *p == '/')
            pName = p + 1;
    }
    return pName;
}

// 64-bit arithmetic that never traps, number/text conversions and the original runtime's rand.
#include "core/kx_math.h"

#include <atomic>
#include <charconv>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

int64_t DivInt64(int64_t a, int64_t b, int64_t onZero)
{
    if (b == 0)
        return onZero;
    if (b == -1)
        return NegInt64(a);   // INT64_MIN / -1 wraps to INT64_MIN instead of trapping
    return a / b;
}

int64_t ModInt64(int64_t a, int64_t b, int64_t onZero)
{
    if (b == 0)
        return onZero;
    if (b == -1)
        return 0;
    return a % b;
}

int64_t AddInt64(int64_t a, int64_t b) { return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b)); }
int64_t SubInt64(int64_t a, int64_t b) { return static_cast<int64_t>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b)); }
int64_t MulInt64(int64_t a, int64_t b) { return static_cast<int64_t>(static_cast<uint64_t>(a) * static_cast<uint64_t>(b)); }
int64_t NegInt64(int64_t a) { return static_cast<int64_t>(0 - static_cast<uint64_t>(a)); }

int64_t ShlInt64(int64_t a, int64_t n)
{
    return static_cast<int64_t>(static_cast<uint64_t>(a) << (static_cast<uint64_t>(n) & 63));
}

int64_t SarInt64(int64_t a, int64_t n)
{
    return a >> (static_cast<uint64_t>(n) & 63);
}

int64_t DoubleToInt64(double d)
{
    // The range test is false for NaN; 2^63 itself does not fit.
    if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0))
        return INT64_MIN;
    return static_cast<int64_t>(d);
}

namespace {

int CopyOut(char* dst, size_t cap, const char* src, size_t len)
{
    if (cap == 0)
        return 0;
    if (len > cap - 1)
        len = cap - 1;   // the texts here are ASCII, so any cut is a character boundary
    memcpy(dst, src, len);
    dst[len] = '\0';
    return static_cast<int>(len);
}

inline bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Leading blanks and one optional sign, as the C runtime's conversions read them.
const char* SkipBlanksAndSign(const char* p, bool* pbNeg)
{
    while (IsBlank(*p))
        ++p;
    *pbNeg = (*p == '-');
    if (*p == '-' || *p == '+')
        ++p;
    return p;
}

}  // namespace

int FormatInt64(char* dst, size_t cap, int64_t v)
{
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    return CopyOut(dst, cap, buf, static_cast<size_t>(res.ptr - buf));
}

int FormatDouble(char* dst, size_t cap, double v)
{
    // Up to 309 integer digits, a sign, the point and six decimals; to_chars gives exactly what
    // printf "%f" gives under the "C" locale, nan and inf included.
    char buf[400];
    auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 6);
    if (res.ec != std::errc())
        return CopyOut(dst, cap, "", 0);
    return CopyOut(dst, cap, buf, static_cast<size_t>(res.ptr - buf));
}

int64_t ParseInt64(const char* psz, const char** pEnd)
{
    bool bNeg = false;
    const char* p = SkipBlanksAndSign(psz, &bNeg);
    const char* pDigits = p;
    uint64_t v = 0;
    while (*p >= '0' && *p <= '9') {
        v = v * 10 + static_cast<uint64_t>(*p - '0');
        ++p;
    }
    if (pEnd)
        *pEnd = (p == pDigits) ? psz : p;
    if (bNeg)
        v = 0 - v;
    return static_cast<int64_t>(v);
}

int64_t ParseInt64Saturating(const char* psz, const char** pEnd)
{
    bool bNeg = false;
    const char* p = SkipBlanksAndSign(psz, &bNeg);
    const char* pDigits = p;
    // Magnitude limit: 2^63 for a negative value, 2^63 - 1 otherwise.
    const uint64_t nLimit = bNeg ? (uint64_t{1} << 63) : static_cast<uint64_t>(INT64_MAX);
    uint64_t v = 0;
    bool bOver = false;
    while (*p >= '0' && *p <= '9') {
        const uint64_t d = static_cast<uint64_t>(*p - '0');
        if (!bOver && (v > (nLimit - d) / 10))
            bOver = true;
        if (!bOver)
            v = v * 10 + d;
        ++p;
    }
    if (pEnd)
        *pEnd = (p == pDigits) ? psz : p;
    if (bOver)
        return bNeg ? INT64_MIN : INT64_MAX;
    return bNeg ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
}

double ParseDouble(const char* psz, const char** pEnd)
{
    bool bNeg = false;
    const char* p = SkipBlanksAndSign(psz, &bNeg);
    // from_chars reads the decimal forms (and inf and nan) without looking at the locale; it
    // would take a second sign, which strtod refuses.
    double d = 0.0;
    if (*p == '-' || *p == '+') {
        if (pEnd)
            *pEnd = psz;
        return 0.0;
    }
    const char* pLimit = p + strlen(p);
    auto res = std::from_chars(p, pLimit, d, std::chars_format::general);
    if (res.ptr == p) {
        if (pEnd)
            *pEnd = psz;
        return 0.0;
    }
    if (res.ec == std::errc::result_out_of_range) {
        // Too large or too small for a double: strtod gives the infinity or the denormal/zero
        // that C expects. Hand it the same characters with the locale's decimal point.
        std::string s(p, res.ptr);
        const char* pszPoint = localeconv()->decimal_point;
        size_t dot = s.find('.');
        if (dot != std::string::npos && pszPoint && strcmp(pszPoint, ".") != 0)
            s.replace(dot, 1, pszPoint);
        d = strtod(s.c_str(), nullptr);
    }
    if (pEnd)
        *pEnd = res.ptr;
    return bNeg ? -d : d;
}

namespace {
std::atomic<uint32_t> s_nMsvcRandState{1};
}

void MsvcSrand(uint32_t seed)
{
    s_nMsvcRandState.store(seed, std::memory_order_relaxed);
}

int MsvcRand(void)
{
    uint32_t cur = s_nMsvcRandState.load(std::memory_order_relaxed);
    uint32_t next;
    do {
        next = cur * 214013u + 2531011u;
    } while (!s_nMsvcRandState.compare_exchange_weak(cur, next, std::memory_order_relaxed));
    return static_cast<int>((next >> 16) & 0x7FFF);
}

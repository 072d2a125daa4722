// cp932 <-> UTF-8 through iconv. One pair of conversion handles serves the whole process; a lock
// keeps their use to one thread at a time (iconv handles carry state and are not thread-safe).
#include "platform/plat_text.h"
#include "platform/plat_internal.h"

#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <mutex>

static std::mutex g_mxConv;
static iconv_t g_acdConv[2] = {(iconv_t)-1, (iconv_t)-1};

enum { CONV_DONE = 0, CONV_BAD = -1, CONV_FULL = 1 };

// Runs one conversion step with the lock held. *ppIn/*pInLeft and *ppOut/*pOutLeft advance.
static int RunConvLocked(int nDir, const char** ppIn, size_t* pInLeft, char** ppOut, size_t* pOutLeft)
{
    iconv_t cd = g_acdConv[nDir];
    if (cd == (iconv_t)-1) {
        cd = nDir == PLAT_CONV_CP932_TO_UTF8 ? iconv_open("UTF-8", "CP932") : iconv_open("CP932", "UTF-8");
        if (cd == (iconv_t)-1) return CONV_BAD;
        g_acdConv[nDir] = cd;
    }
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (*pInLeft == 0) return CONV_DONE;
    size_t r = iconv(cd, const_cast<char**>(ppIn), pInLeft, ppOut, pOutLeft);
    if (r != (size_t)-1) return CONV_DONE;
    if (errno == E2BIG) return CONV_FULL;
    return CONV_BAD;   // EILSEQ, or EINVAL for a sequence cut off by the end of the text
}

static int IsTrailByte(unsigned char c)
{
    return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC);
}

// Length of the unconvertible character at p (at least 1, at most n), so that it becomes one '?'.
static size_t GetBadSequenceLength(int nDir, const unsigned char* p, size_t n)
{
    if (nDir == PLAT_CONV_CP932_TO_UTF8) {
        int bLead = (p[0] >= 0x81 && p[0] <= 0x9F) || (p[0] >= 0xE0 && p[0] <= 0xFC);
        return (bLead && n >= 2 && IsTrailByte(p[1])) ? 2 : 1;
    }
    size_t len = p[0] >= 0xF0 && p[0] <= 0xF4 ? 4 : p[0] >= 0xE0 && p[0] <= 0xEF ? 3 : p[0] >= 0xC2 && p[0] <= 0xDF ? 2 : 1;
    if (len > n) return 1;
    for (size_t i = 1; i < len; i++)
        if ((p[i] & 0xC0) != 0x80) return 1;
    return len;
}

// Converts into a string. With bReplace each unconvertible character becomes pszReplacement ('?'
// when NULL), otherwise the conversion stops there and -1 is returned.
static int ConvertToString(int nDir, const char* pSrc, size_t n, std::string* pOut, int bReplace,
                           const char* pszReplacement = nullptr)
{
    pOut->clear();
    char buf[512];
    std::lock_guard<std::mutex> lock(g_mxConv);
    while (n > 0) {
        char* pOutPos = buf;
        size_t outLeft = sizeof buf;
        int r = RunConvLocked(nDir, &pSrc, &n, &pOutPos, &outLeft);
        pOut->append(buf, (size_t)(pOutPos - buf));
        if (r == CONV_BAD) {
            if (!bReplace || n == 0) return -1;
            size_t skip = GetBadSequenceLength(nDir, (const unsigned char*)pSrc, n);
            pOut->append(pszReplacement ? pszReplacement : "?");
            pSrc += skip;
            n -= skip;
        }
    }
    return 0;
}

int PlatConvertStrict(int nDir, const char* pSrc, size_t n, std::string* pOut)
{
    return ConvertToString(nDir, pSrc, n, pOut, 0);
}

static int ConvertToBuffer(int nDir, const char* pszSrc, char* pszDst, size_t cap)
{
    if (cap == 0) return 0;
    if (!pszSrc) pszSrc = "";
    size_t n = strlen(pszSrc);
    char* pOutPos = pszDst;
    size_t outLeft = cap - 1;
    int r;
    {
        std::lock_guard<std::mutex> lock(g_mxConv);
        r = RunConvLocked(nDir, &pszSrc, &n, &pOutPos, &outLeft);
    }
    // iconv never writes part of a character, so a full buffer ends on a whole character.
    *pOutPos = '\0';
    if (r == CONV_BAD) return -1;
    return (int)(pOutPos - pszDst);
}

int PlatCp932ToUtf8(const char* pszSrc, char* pszDst, size_t cap)
{
    return ConvertToBuffer(PLAT_CONV_CP932_TO_UTF8, pszSrc, pszDst, cap);
}

int PlatUtf8ToCp932(const char* pszSrc, char* pszDst, size_t cap)
{
    return ConvertToBuffer(PLAT_CONV_UTF8_TO_CP932, pszSrc, pszDst, cap);
}

std::string PlatCp932ToUtf8String(const char* pszSrc)
{
    std::string s;
    if (pszSrc) ConvertToString(PLAT_CONV_CP932_TO_UTF8, pszSrc, strlen(pszSrc), &s, 1);
    return s;
}

std::string PlatUtf8ToCp932String(const char* pszSrc)
{
    std::string s;
    if (pszSrc) ConvertToString(PLAT_CONV_UTF8_TO_CP932, pszSrc, strlen(pszSrc), &s, 1);
    return s;
}

int PlatUtf8FitsCp932(const char* pszSrc)
{
    std::string s;
    if (!pszSrc) return 1;
    return ConvertToString(PLAT_CONV_UTF8_TO_CP932, pszSrc, strlen(pszSrc), &s, 0) == 0 ? 1 : 0;
}

std::string PlatCp932BytesToUtf8(const char* pbSrc, size_t nLen, const char* pszReplacementUtf8)
{
    std::string s;
    if (pbSrc && nLen) ConvertToString(PLAT_CONV_CP932_TO_UTF8, pbSrc, nLen, &s, 1, pszReplacementUtf8);
    return s;
}

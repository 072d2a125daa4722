// The bounded cursor of compiled-file loaders.
#include "core/byte_reader.h"

#include <cstring>
#include <type_traits>

namespace {

// Reserves n bytes at the position: 1 with *pp at their start, or 0 after setting the flag.
int TakeBytes(BIN_CURSOR* pCur, size_t n, const uint8_t** pp)
{
    *pp = nullptr;
    if (pCur->bFailed || pCur->nPos > pCur->nSize || n > pCur->nSize - pCur->nPos) {
        pCur->bFailed = 1;
        return 0;
    }
    if (pCur->pBase) *pp = pCur->pBase + pCur->nPos;
    pCur->nPos += n;
    return 1;
}

// Reads a little-endian value of sizeof(T) bytes (a double as its bit pattern): 0, or -1 with
// *pOut zero.
template <class T>
int ReadFixed(BIN_CURSOR* pCur, T* pOut)
{
    const uint8_t* p;
    uint64_t v = 0;
    const int ok = TakeBytes(pCur, sizeof(T), &p);
    if (ok)
        for (int i = static_cast<int>(sizeof(T)) - 1; i >= 0; i--) v = (v << 8) | p[i];
    if constexpr (std::is_floating_point_v<T>)
        std::memcpy(pOut, &v, sizeof(T));
    else
        *pOut = static_cast<T>(v);
    return ok ? 0 : -1;
}

}  // namespace

void InitBinCursor(BIN_CURSOR* pCur, const void* pBase, size_t nSize)
{
    pCur->pBase = static_cast<const uint8_t*>(pBase);
    pCur->nSize = pBase ? nSize : 0;
    pCur->nPos = 0;
    pCur->bFailed = 0;
}

int ReadU8(BIN_CURSOR* pCur, uint8_t* pOut) { return ReadFixed(pCur, pOut); }
int ReadU16(BIN_CURSOR* pCur, uint16_t* pOut) { return ReadFixed(pCur, pOut); }
int ReadI32(BIN_CURSOR* pCur, int32_t* pOut) { return ReadFixed(pCur, pOut); }
int ReadU32(BIN_CURSOR* pCur, uint32_t* pOut) { return ReadFixed(pCur, pOut); }
int ReadI64(BIN_CURSOR* pCur, int64_t* pOut) { return ReadFixed(pCur, pOut); }
int ReadF64(BIN_CURSOR* pCur, double* pOut) { return ReadFixed(pCur, pOut); }

int ReadCStr(BIN_CURSOR* pCur, const char** ppsz, size_t* pnLen)
{
    *ppsz = nullptr;
    if (pnLen) *pnLen = 0;
    if (pCur->bFailed || pCur->nPos >= pCur->nSize) {
        pCur->bFailed = 1;
        return -1;
    }
    const uint8_t* pStart = pCur->pBase + pCur->nPos;
    const void* pNul = std::memchr(pStart, 0, pCur->nSize - pCur->nPos);
    if (!pNul) {
        pCur->bFailed = 1;
        return -1;
    }
    size_t nLen = static_cast<size_t>(static_cast<const uint8_t*>(pNul) - pStart);
    pCur->nPos += nLen + 1;
    *ppsz = reinterpret_cast<const char*>(pStart);
    if (pnLen) *pnLen = nLen;
    return 0;
}

int ReadBytes(BIN_CURSOR* pCur, void* pDst, size_t n)
{
    const uint8_t* p;
    if (!TakeBytes(pCur, n, &p)) {
        if (pDst && n) std::memset(pDst, 0, n);
        return -1;
    }
    if (n) std::memcpy(pDst, p, n);
    return 0;
}

int ReadSpan(BIN_CURSOR* pCur, size_t n, const uint8_t** pp)
{
    return TakeBytes(pCur, n, pp) ? 0 : -1;
}

int SkipBytes(BIN_CURSOR* pCur, size_t n)
{
    const uint8_t* p;
    return TakeBytes(pCur, n, &p) ? 0 : -1;
}

int SeekCursor(BIN_CURSOR* pCur, size_t nPos)
{
    if (pCur->bFailed || nPos > pCur->nSize) {
        pCur->bFailed = 1;
        return -1;
    }
    pCur->nPos = nPos;
    return 0;
}

size_t CursorRemaining(const BIN_CURSOR* pCur)
{
    if (pCur->bFailed || pCur->nPos > pCur->nSize) return 0;
    return pCur->nSize - pCur->nPos;
}

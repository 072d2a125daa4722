// The variable store: descriptors, their values, the accessors and the element operators.
#include "script/variables.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "core/cp932.h"
#include "core/errors.h"
#include "core/kx_math.h"

VAR_DESC** g_ppVarDesc = nullptr;
int32_t g_nVarDesc = 0;
int32_t g_nVarTableExtra = 0;
uint8_t* g_pVarDefs = nullptr;
size_t g_nVarDefsBytes = 0;
KX_VARDEF_TEXT_FN g_pfnEvalVarDefText = nullptr;
KX_SYSVAR_HOOKS g_SysVarHooks = {};

namespace {

const char kVarDefsFile[] = "kxbin\\kxv.kbn";

void ReportNoMemory(void) { ReportScriptError(KX_ERR_NO_MEMORY, 1); }

// The recorded capacity of a buffer of nBytes: held in 16 bits, never above the real size.
uint16_t CapOf(size_t nBytes) { return nBytes > 0xFFFF ? 0xFFFF : static_cast<uint16_t>(nBytes); }

// A heap copy of nLen bytes, terminated; NULL when no memory.
char* NewText(const char* pbText, size_t nLen)
{
    if (nLen >= SIZE_MAX - 1) return nullptr;
    char* p = static_cast<char*>(std::malloc(nLen + 1));
    if (!p) return nullptr;
    if (nLen) std::memcpy(p, pbText, nLen);
    p[nLen] = '\0';
    return p;
}

void FreeTexts(char** ppszTexts, int64_t llFrom, int64_t llTo)
{
    for (int64_t i = llFrom; i < llTo; ++i) std::free(ppszTexts[i]);
}

// The element as a checked index: the low 32 bits taken as signed; -1 when outside 0..count-1.
int64_t CheckedIndex(const VAR_DESC* pVar, int64_t llElem)
{
    const int32_t n = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(llElem)));
    if (n < 0 || n >= pVar->llCount) return -1;
    return n;
}

// Reports a count error and answers 0, or answers the valid count.
int64_t CheckCount(const VAR_DESC* pVar)
{
    const int64_t c = ComputeVarCount(pVar);
    if (c < 1) {
        ReportScriptError(KX_ERR_VAR_NO_ELEMENTS, 1);
        return 0;
    }
    if (c > KX_VAR_MAX_ELEMENTS) {
        ReportScriptErrorF(KX_ERR_VAR_TOO_MANY_ELEMENTS, 1, static_cast<int>(KX_VAR_MAX_ELEMENTS));
        return 0;
    }
    return c;
}

// Brings the value arrays of a typed variable to llNew elements: the first min(old, new) stay, new
// numbers are 0 and new texts empty with capacity 1. Nothing changes when memory runs out.
int ReshapeValues(VAR_DESC* pVar, int64_t llNew)
{
    const int64_t llOld = pVar->llCount;
    if (llNew == llOld) return 0;
    const size_t n = static_cast<size_t>(llNew);
    switch (pVar->bType) {
    case KX_VAR_TYPE_INT: {
        void* p = std::realloc(pVar->pllValues, n * sizeof(int64_t));
        if (!p) { ReportNoMemory(); return -1; }
        pVar->pllValues = static_cast<int64_t*>(p);
        for (int64_t i = llOld; i < llNew; ++i) pVar->pllValues[i] = 0;
        break;
    }
    case KX_VAR_TYPE_FLOAT: {
        void* p = std::realloc(pVar->pdValues, n * sizeof(double));
        if (!p) { ReportNoMemory(); return -1; }
        pVar->pdValues = static_cast<double*>(p);
        for (int64_t i = llOld; i < llNew; ++i) pVar->pdValues[i] = 0.0;
        break;
    }
    case KX_VAR_TYPE_STRING:
        if (llNew < llOld) {
            FreeTexts(pVar->ppszTexts, llNew, llOld);
            pVar->llCount = llNew;
            // Shrinking in place: a refused shrink keeps the larger, still valid arrays.
            if (void* p = std::realloc(pVar->ppszTexts, n * sizeof(char*))) pVar->ppszTexts = static_cast<char**>(p);
            if (void* p = std::realloc(pVar->pwTextCap, n * sizeof(uint16_t))) pVar->pwTextCap = static_cast<uint16_t*>(p);
            return 0;
        } else {
            void* pTexts = std::realloc(pVar->ppszTexts, n * sizeof(char*));
            if (!pTexts) { ReportNoMemory(); return -1; }
            pVar->ppszTexts = static_cast<char**>(pTexts);   // larger than needed until the count grows
            void* pCaps = std::realloc(pVar->pwTextCap, n * sizeof(uint16_t));
            if (!pCaps) { ReportNoMemory(); return -1; }
            pVar->pwTextCap = static_cast<uint16_t*>(pCaps);
            for (int64_t i = llOld; i < llNew; ++i) {
                char* psz = NewText("", 0);
                if (!psz) {
                    FreeTexts(pVar->ppszTexts, llOld, i);
                    ReportNoMemory();
                    return -1;
                }
                pVar->ppszTexts[i] = psz;
                pVar->pwTextCap[i] = 1;
            }
        }
        break;
    default:
        return 0;
    }
    pVar->llCount = llNew;
    return 0;
}

// Installs fresh arrays of one type, releasing everything the variable held before.
void InstallValues(VAR_DESC* pVar, uint8_t bType, int64_t llCount, int64_t* pllValues, double* pdValues,
                   char** ppszTexts, uint16_t* pwCaps)
{
    ReleaseVarValues(pVar);
    pVar->bType = bType;
    pVar->llCount = llCount;
    pVar->pllValues = pllValues;
    pVar->pdValues = pdValues;
    pVar->ppszTexts = ppszTexts;
    pVar->pwTextCap = pwCaps;
}

}  // namespace

// ---- Table ----

int CreateVarTable(int32_t nCount)
{
    FreeVarTable();
    if (nCount < 0) nCount = 0;
    VAR_DESC** pp = static_cast<VAR_DESC**>(std::calloc(nCount ? static_cast<size_t>(nCount) : 1, sizeof(VAR_DESC*)));
    if (!pp) { ReportNoMemory(); return -1; }
    for (int32_t i = 0; i < nCount; ++i) {
        pp[i] = static_cast<VAR_DESC*>(std::calloc(1, sizeof(VAR_DESC)));
        if (!pp[i]) {
            for (int32_t j = 0; j < i; ++j) std::free(pp[j]);
            std::free(pp);
            ReportNoMemory();
            return -1;
        }
    }
    g_ppVarDesc = pp;
    g_nVarDesc = nCount;
    return 0;
}

void FreeVarTable(void)
{
    if (g_ppVarDesc) {
        for (int32_t i = 0; i < g_nVarDesc; ++i) {
            if (g_ppVarDesc[i]) {
                ReleaseVarValues(g_ppVarDesc[i]);
                std::free(g_ppVarDesc[i]);
            }
        }
        std::free(g_ppVarDesc);
    }
    g_ppVarDesc = nullptr;
    g_nVarDesc = 0;
}

VAR_DESC* GetVarDesc(int nVar)
{
    if (!g_ppVarDesc || nVar < 0 || nVar >= g_nVarDesc) return nullptr;
    return g_ppVarDesc[nVar];
}

void ReleaseVarValues(VAR_DESC* pVar)
{
    if (!pVar) return;
    if (pVar->ppszTexts) {
        // A text array is always as long as the count while the variable is a text variable.
        if (pVar->bType == KX_VAR_TYPE_STRING) FreeTexts(pVar->ppszTexts, 0, pVar->llCount);
        std::free(pVar->ppszTexts);
    }
    std::free(pVar->pllValues);
    std::free(pVar->pdValues);
    std::free(pVar->pwTextCap);
    pVar->pllValues = nullptr;
    pVar->pdValues = nullptr;
    pVar->ppszTexts = nullptr;
    pVar->pwTextCap = nullptr;
    pVar->bType = KX_VAR_TYPE_NONE;
    pVar->llCount = 0;
}

// ---- Shape ----

int64_t ComputeVarCount(const VAR_DESC* pVar)
{
    if (pVar->nDims < 0 || pVar->nDims > KX_VAR_MAX_DIMS) return 0;
    for (int i = 0; i < pVar->nDims; ++i)
        if (pVar->anDim[i] < 1) return 0;
    // Saturating product: eight sizes of up to 2^31 would overflow 64 bits.
    int64_t c = 1;
    for (int i = 0; i < pVar->nDims; ++i) {
        c *= pVar->anDim[i];
        if (c > KX_VAR_MAX_ELEMENTS) return KX_VAR_MAX_ELEMENTS + 1;
    }
    return c;
}

int UpdateVarCount(VAR_DESC* pVar)
{
    const int64_t c = CheckCount(pVar);
    if (!c) return -1;
    if (pVar->bType == KX_VAR_TYPE_INT || pVar->bType == KX_VAR_TYPE_FLOAT || pVar->bType == KX_VAR_TYPE_STRING)
        return ReshapeValues(pVar, c);
    pVar->llCount = c;
    return 0;
}

int ResizeVarArray(VAR_DESC* pVar, int32_t n)
{
    if (pVar->bType != KX_VAR_TYPE_INT && pVar->bType != KX_VAR_TYPE_FLOAT && pVar->bType != KX_VAR_TYPE_STRING)
        return 0;
    VAR_DESC shape = *pVar;
    shape.anDim[0] = n;
    const int64_t c = CheckCount(&shape);
    if (!c) return -1;
    if (ReshapeValues(pVar, c) != 0) return -1;
    pVar->anDim[0] = n;
    return 0;
}

int InitVarInt(VAR_DESC* pVar, int64_t llValue)
{
    const int64_t c = CheckCount(pVar);
    if (!c) return -1;
    if (pVar->bType != KX_VAR_TYPE_INT || pVar->llCount != c || !pVar->pllValues) {
        int64_t* p = static_cast<int64_t*>(std::malloc(static_cast<size_t>(c) * sizeof(int64_t)));
        if (!p) { ReportNoMemory(); return -1; }
        InstallValues(pVar, KX_VAR_TYPE_INT, c, p, nullptr, nullptr, nullptr);
    }
    for (int64_t i = 0; i < c; ++i) pVar->pllValues[i] = llValue;
    return 0;
}

int InitVarFloat(VAR_DESC* pVar, double dValue)
{
    const int64_t c = CheckCount(pVar);
    if (!c) return -1;
    if (pVar->bType != KX_VAR_TYPE_FLOAT || pVar->llCount != c || !pVar->pdValues) {
        double* p = static_cast<double*>(std::malloc(static_cast<size_t>(c) * sizeof(double)));
        if (!p) { ReportNoMemory(); return -1; }
        InstallValues(pVar, KX_VAR_TYPE_FLOAT, c, nullptr, p, nullptr, nullptr);
    }
    for (int64_t i = 0; i < c; ++i) pVar->pdValues[i] = dValue;
    return 0;
}

int InitVarString(VAR_DESC* pVar, const char* pbText, size_t nLen)
{
    const int64_t c = CheckCount(pVar);
    if (!c) return -1;
    if (!pbText) nLen = 0;
    // The new text may be one of the variable's own elements: everything is copied before the old
    // texts are released.
    char** ppszTexts = static_cast<char**>(std::malloc(static_cast<size_t>(c) * sizeof(char*)));
    uint16_t* pwCaps = static_cast<uint16_t*>(std::malloc(static_cast<size_t>(c) * sizeof(uint16_t)));
    if (!ppszTexts || !pwCaps) {
        std::free(ppszTexts);
        std::free(pwCaps);
        ReportNoMemory();
        return -1;
    }
    const uint16_t wCap = CapOf(nLen + 1);
    for (int64_t i = 0; i < c; ++i) {
        char* psz = NewText(pbText, nLen);
        if (!psz) {
            FreeTexts(ppszTexts, 0, i);
            std::free(ppszTexts);
            std::free(pwCaps);
            ReportNoMemory();
            return -1;
        }
        ppszTexts[i] = psz;
        pwCaps[i] = wCap;
    }
    InstallValues(pVar, KX_VAR_TYPE_STRING, c, nullptr, nullptr, ppszTexts, pwCaps);
    return 0;
}

// ---- Definitions ----

namespace {

bool ReadU16(const uint8_t* pb, size_t nSize, size_t nPos, uint16_t* pw)
{
    if (nPos > nSize || nSize - nPos < 2) return false;
    *pw = static_cast<uint16_t>(pb[nPos] | (pb[nPos + 1] << 8));
    return true;
}

int ReportDefsDamaged(void)
{
    ReportScriptErrorF(KX_ERR_FILE_READ, 1, kVarDefsFile);
    return -1;
}

}  // namespace

int ApplyVarDefRecords(int nKey, const int64_t* pllResetMasks)
{
    const uint8_t* pb = g_pVarDefs;
    const size_t nSize = g_nVarDefsBytes;
    uint16_t wRecords = 0;
    if (!pb || !ReadU16(pb, nSize, 8, &wRecords)) return ReportDefsDamaged();

    char* pszText = nullptr;   // the initial-text buffer of the walk, made at the first text definition
    int nResult = 0;
    size_t nPos = 10;
    for (uint32_t r = 0; r < wRecords; ++r) {
        if (nSize - nPos < 8) { nResult = ReportDefsDamaged(); break; }
        const uint8_t* pRec = pb + nPos;
        const uint8_t bScope = pRec[0];
        const uint8_t bClass = pRec[1];
        const uint16_t wScript = static_cast<uint16_t>(pRec[2] | (pRec[3] << 8));
        const uint16_t wVar = static_cast<uint16_t>(pRec[4] | (pRec[5] << 8));
        const uint8_t bType = pRec[6];
        const uint8_t bDims = pRec[7];
        if (wVar >= g_nVarDesc || !g_ppVarDesc || !g_ppVarDesc[wVar]) {
            ReportScriptErrorF(KX_ERR_VAR_DEF_NUMBER, 1, static_cast<int>(wVar));
            nResult = -1;
            break;
        }
        if (bDims > KX_VAR_MAX_DIMS) { nResult = ReportDefsDamaged(); break; }
        size_t nValuePos = nPos + 8 + 4u * bDims;
        size_t nValueLen = 0;
        size_t nRecEnd = 0;
        if (nValuePos > nSize) { nResult = ReportDefsDamaged(); break; }
        if (bType == KX_VAR_TYPE_INT || bType == KX_VAR_TYPE_FLOAT) {
            nValueLen = 8;
            nRecEnd = nValuePos + 8;
        } else if (bType == KX_VAR_TYPE_STRING) {
            uint16_t wLen = 0;
            if (!ReadU16(pb, nSize, nValuePos, &wLen)) { nResult = ReportDefsDamaged(); break; }
            nValuePos += 2;
            nValueLen = wLen;
            nRecEnd = nValuePos + wLen;
        } else {
            nRecEnd = nValuePos;
        }
        if (nRecEnd > nSize) { nResult = ReportDefsDamaged(); break; }
        nPos = nRecEnd;

        bool bSelected;
        if (pllResetMasks) {
            bSelected = nKey == -1 && bScope == 1;
            if (bSelected && bClass >= 1 && bClass <= 4 && bType >= KX_VAR_TYPE_INT && bType <= KX_VAR_TYPE_STRING)
                bSelected = (static_cast<uint64_t>(pllResetMasks[bType - 1]) >> (bClass - 1)) & 1;
        } else if (nKey == -1) {
            bSelected = bScope == 1 || bScope == 3;
        } else {
            bSelected = bScope == 2 && wScript == nKey;
        }
        if (!bSelected) continue;

        VAR_DESC* pVar = g_ppVarDesc[wVar];
        pVar->bClass = bClass;
        pVar->nDims = static_cast<int8_t>(bDims);
        std::memset(pVar->anDim, 0, sizeof pVar->anDim);
        for (int k = 0; k < bDims; ++k) {
            uint32_t u;
            std::memcpy(&u, pRec + 8 + 4 * k, 4);   // little-endian file, little-endian host
            pVar->anDim[k] = static_cast<int32_t>(u);
        }
        const uint8_t* pValue = pb + nValuePos;
        int nInit = 0;
        if (bType == KX_VAR_TYPE_INT) {
            int64_t ll;
            std::memcpy(&ll, pValue, 8);
            nInit = InitVarInt(pVar, ll);
        } else if (bType == KX_VAR_TYPE_FLOAT) {
            double d;
            std::memcpy(&d, pValue, 8);
            nInit = InitVarFloat(pVar, d);
        } else if (bType == KX_VAR_TYPE_STRING) {
            if (!pszText) {
                pszText = static_cast<char*>(std::malloc(KX_VAR_TEXT_BUFFER));
                if (!pszText) { ReportNoMemory(); nResult = -1; break; }
            }
            pszText[0] = '\0';
            int nLen = 0;
            if (g_pfnEvalVarDefText) {
                nLen = g_pfnEvalVarDefText(pValue, nValueLen, pszText);
                if (nLen < 0) { nResult = -1; break; }
                pszText[KX_VAR_TEXT_BUFFER - 1] = '\0';
                nLen = static_cast<int>(strnlen(pszText, static_cast<size_t>(nLen < KX_VAR_TEXT_BUFFER ? nLen : KX_VAR_TEXT_BUFFER - 1)));
            }
            nInit = InitVarString(pVar, pszText, static_cast<size_t>(nLen));
        } else {
            // A type without values: the descriptor keeps the type and no elements.
            ReleaseVarValues(pVar);
            pVar->bType = bType;
        }
        if (nInit != 0) { nResult = -1; break; }
    }
    std::free(pszText);
    return nResult;
}

int ResetGlobalVars(int nKey, int64_t llIntMask, int64_t llFloatMask, int64_t llTextMask)
{
    if (nKey != -1) return 0;
    const int64_t allMasks[3] = {llIntMask, llFloatMask, llTextMask};
    return ApplyVarDefRecords(nKey, allMasks);
}

// ---- Accessors ----

int64_t GetVarInt(int nVar, int64_t llElem)
{
    const VAR_DESC* pVar = GetVarDesc(nVar);
    if (!pVar) return 0;
    const int64_t i = CheckedIndex(pVar, llElem);
    if (i < 0) return 0;
    if (nVar < KX_FIRST_USER_VAR)
        return g_SysVarHooks.pfnReadInt ? g_SysVarHooks.pfnReadInt(nVar, llElem) : 0;
    switch (pVar->bType) {
    case KX_VAR_TYPE_INT: return pVar->pllValues[i];
    case KX_VAR_TYPE_FLOAT: return DoubleToInt64(pVar->pdValues[i]);
    default: return 0;
    }
}

double GetVarFloat(int nVar, int64_t llElem)
{
    const VAR_DESC* pVar = GetVarDesc(nVar);
    if (!pVar) return 0.0;
    const int64_t i = CheckedIndex(pVar, llElem);
    if (i < 0) return 0.0;
    if (nVar < KX_FIRST_USER_VAR)
        return g_SysVarHooks.pfnReadFloat ? g_SysVarHooks.pfnReadFloat(nVar, llElem) : 0.0;
    switch (pVar->bType) {
    case KX_VAR_TYPE_INT: return static_cast<double>(pVar->pllValues[i]);
    case KX_VAR_TYPE_FLOAT: return pVar->pdValues[i];
    default: return 0.0;
    }
}

const char* GetVarString(int nVar, int64_t llElem)
{
    VAR_DESC* pVar = GetVarDesc(nVar);
    if (!pVar || pVar->bType != KX_VAR_TYPE_STRING) return nullptr;
    const int64_t i = CheckedIndex(pVar, llElem);
    if (i < 0) return nullptr;
    if (nVar < KX_FIRST_USER_VAR) {
        char szText[KX_VAR_TEXT_BUFFER];
        szText[0] = '\0';
        size_t nLen = 0;
        if (g_SysVarHooks.pfnReadString) {
            const int n = g_SysVarHooks.pfnReadString(nVar, szText, llElem);
            szText[KX_VAR_TEXT_BUFFER - 1] = '\0';
            nLen = n > 0 ? strnlen(szText, static_cast<size_t>(n)) : 0;
        }
        if (WriteVarStringBytes(pVar, i, szText, nLen) != 0) return nullptr;
    }
    return pVar->ppszTexts[i];
}

namespace {

int WriteSysVar(int nVar, int64_t llElem, int nKind, int64_t llValue, double dValue, const char* pbText, size_t nLen)
{
    if (!g_SysVarHooks.pfnWrite) return -1;
    return g_SysVarHooks.pfnWrite(nVar, llElem, nKind, llValue, dValue, pbText, nLen);
}

}  // namespace

int SetVarInt(int nVar, int64_t llElem, int64_t llValue)
{
    VAR_DESC* pVar = GetVarDesc(nVar);
    if (!pVar) return -1;
    const int64_t i = CheckedIndex(pVar, llElem);
    if (i < 0) return -1;
    if (nVar < KX_FIRST_USER_VAR) return WriteSysVar(nVar, llElem, KX_VAR_TYPE_INT, llValue, 0.0, nullptr, 0);
    switch (pVar->bType) {
    case KX_VAR_TYPE_INT: pVar->pllValues[i] = llValue; return 0;
    case KX_VAR_TYPE_FLOAT: pVar->pdValues[i] = static_cast<double>(llValue); return 0;
    default: ReportScriptError(KX_ERR_VAR_WRONG_TYPE, 1); return -1;
    }
}

int SetVarFloat(int nVar, int64_t llElem, double dValue)
{
    VAR_DESC* pVar = GetVarDesc(nVar);
    if (!pVar) return -1;
    const int64_t i = CheckedIndex(pVar, llElem);
    if (i < 0) return -1;
    if (nVar < KX_FIRST_USER_VAR) return WriteSysVar(nVar, llElem, KX_VAR_TYPE_FLOAT, 0, dValue, nullptr, 0);
    switch (pVar->bType) {
    case KX_VAR_TYPE_INT: pVar->pllValues[i] = DoubleToInt64(dValue); return 0;
    case KX_VAR_TYPE_FLOAT: pVar->pdValues[i] = dValue; return 0;
    default: ReportScriptError(KX_ERR_VAR_WRONG_TYPE, 1); return -1;
    }
}

int SetVarStringBytes(int nVar, int64_t llElem, const char* pbBytes, size_t nLen)
{
    VAR_DESC* pVar = GetVarDesc(nVar);
    if (!pVar) return -1;
    const int64_t i = CheckedIndex(pVar, llElem);
    if (i < 0) return -1;
    if (!pbBytes) nLen = 0;
    if (nVar < KX_FIRST_USER_VAR) return WriteSysVar(nVar, llElem, KX_VAR_TYPE_STRING, 0, 0.0, pbBytes ? pbBytes : "", nLen);
    if (pVar->bType != KX_VAR_TYPE_STRING) {
        ReportScriptError(KX_ERR_VAR_WRONG_TYPE, 1);
        return -1;
    }
    return WriteVarStringBytes(pVar, i, pbBytes, nLen);
}

int SetVarString(int nVar, int64_t llElem, const char* pszText)
{
    return SetVarStringBytes(nVar, llElem, pszText, pszText ? std::strlen(pszText) : 0);
}

int WriteVarStringBytes(VAR_DESC* pVar, int64_t llElem, const char* pbBytes, size_t nLen)
{
    if (!pVar || pVar->bType != KX_VAR_TYPE_STRING || !pVar->ppszTexts || !pVar->pwTextCap) return -1;
    if (llElem < 0 || llElem >= pVar->llCount) return -1;
    if (!pbBytes) nLen = 0;
    char* psz = pVar->ppszTexts[llElem];
    if (pVar->pwTextCap[llElem] < nLen + 1) {
        // A new buffer first: the bytes may come from the element itself.
        char* pNew = NewText(pbBytes, nLen);
        if (!pNew) { ReportNoMemory(); return -1; }
        std::free(psz);
        pVar->ppszTexts[llElem] = pNew;
        pVar->pwTextCap[llElem] = CapOf(nLen + 1);
        return 0;
    }
    if (nLen) std::memmove(psz, pbBytes, nLen);
    psz[nLen] = '\0';
    return 0;
}

int64_t StoreStringLengths(int64_t llSourceFirst, int nSourceVar, int64_t llTargetFirst, int nTargetVar)
{
    const VAR_DESC* pSrc = GetVarDesc(nSourceVar);
    const VAR_DESC* pDst = GetVarDesc(nTargetVar);
    if (!pSrc || !pDst || pSrc->bType != KX_VAR_TYPE_STRING) return 0;
    if (pDst->bType != KX_VAR_TYPE_INT && pDst->bType != KX_VAR_TYPE_FLOAT) return 0;
    if (llSourceFirst < 0 || llTargetFirst < 0) return 0;
    int64_t llStored = 0;
    for (int64_t s = llSourceFirst, t = llTargetFirst; s < pSrc->llCount && t < pDst->llCount; ++s, ++t) {
        const char* psz = GetVarString(nSourceVar, s);
        if (!psz) break;
        const int64_t llLen = static_cast<int64_t>(std::strlen(psz));
        SetVarInt(nTargetVar, t, llLen);
        if (llLen == 0) break;
        ++llStored;
    }
    return llStored;
}

void UpperCaseAscii(char* psz)
{
    if (psz) UpperCaseASCII(psz);
}

// ---- Element operators ----

namespace {

inline int64_t* IntElem(VAR_DESC* pVar, int32_t nElem)
{
    if (!pVar || !pVar->pllValues || pVar->bType != KX_VAR_TYPE_INT || nElem < 0 || nElem >= pVar->llCount) return nullptr;
    return &pVar->pllValues[nElem];
}

inline double* FloatElem(VAR_DESC* pVar, int32_t nElem)
{
    if (!pVar || !pVar->pdValues || pVar->bType != KX_VAR_TYPE_FLOAT || nElem < 0 || nElem >= pVar->llCount) return nullptr;
    return &pVar->pdValues[nElem];
}

}  // namespace

#define KX_ELEM_INT_OP(name, expr)                                  \
    int name(VAR_DESC* pVar, int32_t nElem, int64_t llValue)        \
    {                                                               \
        int64_t* p = IntElem(pVar, nElem);                          \
        if (!p) return -1;                                          \
        [[maybe_unused]] const int64_t a = *p;                                     \
        *p = (expr);                                                \
        return 0;                                                   \
    }

KX_ELEM_INT_OP(ElemIntSet, llValue)
KX_ELEM_INT_OP(ElemIntAdd, AddInt64(a, llValue))
KX_ELEM_INT_OP(ElemIntSub, SubInt64(a, llValue))
KX_ELEM_INT_OP(ElemIntMul, MulInt64(a, llValue))
KX_ELEM_INT_OP(ElemIntDiv, DivInt64(a, llValue, a))
KX_ELEM_INT_OP(ElemIntMod, ModInt64(a, llValue, a))
KX_ELEM_INT_OP(ElemIntAnd, a & llValue)
KX_ELEM_INT_OP(ElemIntOr, a | llValue)
KX_ELEM_INT_OP(ElemIntXor, a ^ llValue)
#undef KX_ELEM_INT_OP

#define KX_ELEM_FLOAT_OP(name, expr)                                \
    int name(VAR_DESC* pVar, int32_t nElem, double dValue)          \
    {                                                               \
        double* p = FloatElem(pVar, nElem);                         \
        if (!p) return -1;                                          \
        [[maybe_unused]] const double a = *p;                                      \
        *p = (expr);                                                \
        return 0;                                                   \
    }

KX_ELEM_FLOAT_OP(ElemFloatSet, dValue)
KX_ELEM_FLOAT_OP(ElemFloatAdd, a + dValue)
KX_ELEM_FLOAT_OP(ElemFloatSub, a - dValue)
KX_ELEM_FLOAT_OP(ElemFloatMul, a * dValue)
KX_ELEM_FLOAT_OP(ElemFloatDiv, (dValue == 0.0 || std::isnan(dValue)) ? a : a / dValue)
KX_ELEM_FLOAT_OP(ElemFloatAnd, static_cast<double>(DoubleToInt64(a) & DoubleToInt64(dValue)))
KX_ELEM_FLOAT_OP(ElemFloatOr, static_cast<double>(DoubleToInt64(a) | DoubleToInt64(dValue)))
KX_ELEM_FLOAT_OP(ElemFloatXor, static_cast<double>(DoubleToInt64(a) ^ DoubleToInt64(dValue)))
#undef KX_ELEM_FLOAT_OP

int ElemFloatMod(VAR_DESC* pVar, int32_t nElem, double dValue)
{
    double* p = FloatElem(pVar, nElem);
    if (!p) return -1;
    if (std::isnan(dValue)) return 0;
    const int64_t llDivisor = DoubleToInt64(dValue);
    if (llDivisor == 0) return 0;
    *p = static_cast<double>(ModInt64(DoubleToInt64(*p), llDivisor, 0));
    return 0;
}

ELEM_OP g_apfnElemOps[2 * KX_ELEM_OPS] = {
    {.pfnInt = ElemIntSet}, {.pfnInt = ElemIntAdd}, {.pfnInt = ElemIntSub},
    {.pfnInt = ElemIntMul}, {.pfnInt = ElemIntDiv}, {.pfnInt = ElemIntMod},
    {.pfnInt = ElemIntAnd}, {.pfnInt = ElemIntOr},  {.pfnInt = ElemIntXor},
    {.pfnFloat = ElemFloatSet}, {.pfnFloat = ElemFloatAdd}, {.pfnFloat = ElemFloatSub},
    {.pfnFloat = ElemFloatMul}, {.pfnFloat = ElemFloatDiv}, {.pfnFloat = ElemFloatMod},
    {.pfnFloat = ElemFloatAnd}, {.pfnFloat = ElemFloatOr},  {.pfnFloat = ElemFloatXor},
};

void RegisterElemOps(void)
{
    static const ELEM_INT_OP s_apfnInt[KX_ELEM_OPS] = {ElemIntSet, ElemIntAdd, ElemIntSub, ElemIntMul, ElemIntDiv,
                                                        ElemIntMod, ElemIntAnd, ElemIntOr, ElemIntXor};
    static const ELEM_FLOAT_OP s_apfnFloat[KX_ELEM_OPS] = {ElemFloatSet, ElemFloatAdd, ElemFloatSub,
                                                            ElemFloatMul, ElemFloatDiv, ElemFloatMod,
                                                            ElemFloatAnd, ElemFloatOr, ElemFloatXor};
    for (int i = 0; i < KX_ELEM_OPS; ++i) {
        g_apfnElemOps[i].pfnInt = s_apfnInt[i];
        g_apfnElemOps[KX_ELEM_OPS + i].pfnFloat = s_apfnFloat[i];
    }
}

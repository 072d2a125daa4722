// Script bodies: loading, descrambling and binding on first use; the label look-up; the script
// location of error headers.
#include "script/script_body.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/errors.h"
#include "core/file_location.h"
#include "core/kx_hash.h"
#include "core/pack_archive.h"
#include "core/sysfacts.h"
#include "script/command_ids.h"
#include "script/dispatch.h"
#include "script/evaluator.h"
#include "script/variables.h"

int32_t g_nScripts = 0;
char** g_apszScriptName = nullptr;
SCRIPT_BODY** g_ppScriptBody = nullptr;
LABEL_ENTRY** g_apLabel = nullptr;
int32_t g_nLabels = 0;
int32_t g_anLabelBucket[256] = {};

namespace {

enum { KX_BODY_HEADER = 32, KX_COMMAND_RECORD = 4, KX_LABEL_TEXT = 4096 };

// Frees the tables and image of a body and leaves it an empty record.
void ClearBody(SCRIPT_BODY* pBody)
{
    if (pBody->ppHandlerTables) {
        std::free(pBody->ppHandlerTables[0]);
        std::free(pBody->ppHandlerTables[1]);
        std::free(pBody->ppHandlerTables);
    }
    std::free(pBody->pwCommandWords);
    std::free(pBody->pbArgCounts);
    std::free(pBody->pbOpcodes);
    std::free(pBody->ppFirstArgs);
    std::free(pBody->pbImage);
    *pBody = SCRIPT_BODY{};
}

void FreeBody(SCRIPT_BODY* pBody)
{
    if (!pBody) return;
    ClearBody(pBody);
    std::free(pBody);
}

// XORs byte i with key byte i mod 4 while copying; each region starts at key byte 0.
void DescrambleCopy(uint8_t* pDst, const uint8_t* pSrc, size_t n)
{
    const uint8_t* k = g_abScriptKey;
    for (size_t i = 0; i < n; ++i) pDst[i] = static_cast<uint8_t>(pSrc[i] ^ k[i & 3]);
}

uint32_t ReadLE32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

// The label an argument's expression names, when it is a constant: its index, else -1. An
// expression outside the expression bytes is left for run time, which reports it.
int32_t ResolveConstantLabel(const SCRIPT_BODY* pBody, const ARG_RECORD* pArg)
{
    const uint64_t qwEnd = static_cast<uint64_t>(pArg->dwExprOffset) + pArg->dwExprLen;
    if (qwEnd > pBody->nExprBytes) return -1;
    static char s_szName[KX_LABEL_TEXT];
    g_bNotConstant = 0;
    EvalExprString(s_szName, sizeof s_szName, pBody->pbExpr + pArg->dwExprOffset, pArg->dwExprLen);
    if (g_bNotConstant) return -1;
    return FindLabel(s_szName, std::strlen(s_szName));
}

// Pre-resolves the constant targets of jumps and calls. A jump without arguments is left alone
// (its first record would be the next command's); indices that do not fit their field are left
// for run time.
void ResolveTargets(SCRIPT_BODY* pBody, const uint8_t* pbOpcodes)
{
    RegisterExprOps(0);
    for (int32_t i = 0; i < pBody->nCommands; ++i) {
        const uint8_t bOp = pbOpcodes[i * KX_COMMAND_RECORD];
        ARG_RECORD* pArgs = pBody->ppFirstArgs[i];
        const int nArgs = pBody->pbArgCounts[i];
        if (bOp == CMDID_GOTO && nArgs >= 1) {
            if (pArgs[0].dwExprLen & KX_ARG_LABEL_TEST) continue;
            const int32_t nLabel = ResolveConstantLabel(pBody, &pArgs[0]);
            if (nLabel >= 0 && static_cast<uint32_t>(nLabel) <= KX_ARG_LABEL_MASK)
                pArgs[0].dwExprLen = KX_ARG_LABEL_FLAG + static_cast<uint32_t>(nLabel);
        } else if (bOp == CMDID_GOSUB) {
            for (int a = 0; a < nArgs; ++a) {
                if (pArgs[a].bArgId != 0) continue;
                SetArgLabelIndex(&pArgs[a], 0);
                const int32_t nLabel = ResolveConstantLabel(pBody, &pArgs[a]);
                if (nLabel >= 1 && nLabel <= 0xFFFF) SetArgLabelIndex(&pArgs[a], static_cast<uint16_t>(nLabel));
            }
        }
    }
    RegisterExprOps(1);
}

// Builds the body from the scrambled file image. 0, -1 when the image does not fit the layout
// (the caller reports 104010), -2 when memory runs out (reported here).
int BuildBody(SCRIPT_BODY* pBody, const uint8_t* pFile, size_t nSize)
{
    if (nSize < KX_BODY_HEADER) return -1;
    const int32_t nCommands = static_cast<int32_t>(ReadLE32(pFile + 8));
    int64_t allLen[4];
    int64_t llTotal = KX_BODY_HEADER;
    for (int r = 0; r < 4; ++r) {
        allLen[r] = static_cast<int32_t>(ReadLE32(pFile + 12 + 4 * r));
        if (allLen[r] < 0) return -1;
        llTotal += allLen[r];
    }
    if (nCommands < 0 || llTotal > static_cast<int64_t>(nSize)) return -1;
    const int64_t llTableBytes = static_cast<int64_t>(nCommands) * KX_COMMAND_RECORD;
    if (llTableBytes > allLen[0] || llTableBytes > allLen[3]) return -1;

    const uint8_t* pRegion1 = pFile + KX_BODY_HEADER;
    const uint8_t* pRegion2 = pRegion1 + allLen[0];
    const uint8_t* pRegion3 = pRegion2 + allLen[1];
    const uint8_t* pRegion4 = pRegion3 + allLen[2];
    const size_t n = static_cast<size_t>(nCommands);

    // Region 1, descrambled: the argument counts must fit region 2.
    uint8_t* pbRecords = static_cast<uint8_t*>(std::malloc(n * KX_COMMAND_RECORD + 1));
    if (!pbRecords) {
        ReportError(KX_ERR_NO_MEMORY, 1);
        return -2;
    }
    DescrambleCopy(pbRecords, pRegion1, n * KX_COMMAND_RECORD);
    uint64_t qwArgs = 0;
    for (size_t i = 0; i < n; ++i) qwArgs += pbRecords[i * KX_COMMAND_RECORD + 1];
    if (qwArgs * sizeof(ARG_RECORD) > static_cast<uint64_t>(allLen[1])) {
        std::free(pbRecords);
        return -1;
    }

    // The image: argument records, then the line table (both aligned), then the expression bytes.
    const size_t nArgBytes = static_cast<size_t>(qwArgs) * sizeof(ARG_RECORD);
    const size_t nLineBytes = n * sizeof(int32_t);
    const size_t nExprBytes = static_cast<size_t>(allLen[2]);
    pBody->pbImage = static_cast<uint8_t*>(std::malloc(nArgBytes + nLineBytes + nExprBytes + 1));
    pBody->ppHandlerTables = static_cast<CMD_HANDLER**>(AllocZeroed(2 * sizeof(CMD_HANDLER*)));
    pBody->pwCommandWords = static_cast<uint16_t*>(std::malloc(n * sizeof(uint16_t) + 1));
    pBody->pbArgCounts = static_cast<uint8_t*>(std::malloc(n + 1));
    pBody->pbOpcodes = static_cast<uint8_t*>(std::malloc(n + 1));
    pBody->ppFirstArgs = static_cast<ARG_RECORD**>(std::malloc(n * sizeof(ARG_RECORD*) + 1));
    if (pBody->ppHandlerTables) {
        pBody->ppHandlerTables[0] = static_cast<CMD_HANDLER*>(std::malloc(n * sizeof(CMD_HANDLER) + 1));
        pBody->ppHandlerTables[1] = static_cast<CMD_HANDLER*>(std::malloc(n * sizeof(CMD_HANDLER) + 1));
    }
    if (!pBody->pbImage || !pBody->ppHandlerTables || !pBody->ppHandlerTables[0] || !pBody->ppHandlerTables[1] ||
        !pBody->pwCommandWords || !pBody->pbArgCounts || !pBody->pbOpcodes || !pBody->ppFirstArgs) {
        std::free(pbRecords);
        ReportError(KX_ERR_NO_MEMORY, 1);
        return -2;
    }
    ARG_RECORD* pArgs = reinterpret_cast<ARG_RECORD*>(pBody->pbImage);
    pBody->pnLineTable = reinterpret_cast<int32_t*>(pBody->pbImage + nArgBytes);
    pBody->pbExpr = pBody->pbImage + nArgBytes + nLineBytes;
    DescrambleCopy(reinterpret_cast<uint8_t*>(pArgs), pRegion2, nArgBytes);
    DescrambleCopy(pBody->pbExpr, pRegion3, nExprBytes);
    DescrambleCopy(reinterpret_cast<uint8_t*>(pBody->pnLineTable), pRegion4, nLineBytes);
    pBody->nExprBytes = static_cast<uint32_t>(nExprBytes);
    pBody->nArgRecords = static_cast<uint32_t>(qwArgs);

    size_t nArg = 0;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* pRec = pbRecords + i * KX_COMMAND_RECORD;
        pBody->ppHandlerTables[0][i] = DispatchWhilePaused;
        pBody->ppHandlerTables[1][i] = g_apfnCmdHandlers[pRec[0]];
        pBody->pbArgCounts[i] = pRec[1];
        pBody->pbOpcodes[i] = pRec[0];
        pBody->pwCommandWords[i] = static_cast<uint16_t>(pRec[2] | pRec[3] << 8);
        pBody->ppFirstArgs[i] = pArgs + nArg;
        nArg += pRec[1];
    }
    pBody->nCommands = nCommands;
    ResolveTargets(pBody, pbRecords);
    std::free(pbRecords);
    return 0;
}

}  // namespace

int AllocScriptBodyTable(void)
{
    FreeScriptBodies();
    const size_t n = g_nScripts > 0 ? static_cast<size_t>(g_nScripts) : 0;
    g_ppScriptBody = static_cast<SCRIPT_BODY**>(AllocZeroed(n * sizeof(SCRIPT_BODY*)));
    if (!g_ppScriptBody) {
        ReportError(KX_ERR_NO_MEMORY, 1);
        return -1;
    }
    return 0;
}

void FreeScriptBodies(void)
{
    if (g_ppScriptBody) {
        for (int32_t i = 0; i < g_nScripts; ++i) FreeBody(g_ppScriptBody[i]);
        std::free(g_ppScriptBody);
    }
    g_ppScriptBody = nullptr;
}

int LoadScriptBody(uint16_t wScript)
{
    if (!g_ppScriptBody || wScript >= g_nScripts) return 0;
    if (g_ppScriptBody[wScript]) return 1;
    // The record is in place before anything else: a body that fails stays empty for the run.
    SCRIPT_BODY* pBody = static_cast<SCRIPT_BODY*>(AllocZeroed(sizeof(SCRIPT_BODY)));
    if (!pBody) {
        ReportError(KX_ERR_NO_MEMORY, 1);
        return 0;
    }
    g_ppScriptBody[wScript] = pBody;

    char szName[32];
    std::snprintf(szName, sizeof szName, "kxbin\\kxt%05d.kbn", wScript);
    FILE_LOCATION loc{};
    if (LocateFile(&loc, szName, 0) <= 0) return 0;
    if (ReadLocatedFile(&loc, szName) != 0 || !loc.pData) {
        std::free(loc.pData);
        return 0;
    }
    // Binding evaluates constant jump targets and applies the local variable definitions; a fatal
    // error either reports fails the load, as a damaged file does.
    const int bFatalBefore = WasFatalErrorReported();
    const int r = BuildBody(pBody, loc.pData, loc.nSize > 0 ? static_cast<size_t>(loc.nSize) : 0);
    std::free(loc.pData);
    if (r != 0) {
        // Whatever was built goes: the record stays empty.
        ClearBody(pBody);
        if (r == -1) ReportErrorF(KX_ERR_FILE_READ, 1, szName);
        return 0;
    }
    ApplyVarDefRecords(wScript, nullptr);
    return !bFatalBefore && WasFatalErrorReported() ? 0 : 1;
}

void SetThreadBody(SCRIPT_THREAD* pThread, uint16_t wScript)
{
    if (!pThread) return;
    const SCRIPT_BODY* pBody = g_ppScriptBody && wScript < g_nScripts ? g_ppScriptBody[wScript] : nullptr;
    pThread->wScript = wScript;
    pThread->nCommands = pBody ? pBody->nCommands : 0;
    pThread->ppHandlerTables = pBody ? pBody->ppHandlerTables : nullptr;
    pThread->pwCommandWords = pBody ? pBody->pwCommandWords : nullptr;
    pThread->pbArgCounts = pBody ? pBody->pbArgCounts : nullptr;
    pThread->ppFirstArgs = pBody ? reinterpret_cast<const void* const*>(pBody->ppFirstArgs) : nullptr;
    pThread->pbExpr = pBody ? pBody->pbExpr : nullptr;
    pThread->pnLineTable = pBody ? pBody->pnLineTable : nullptr;
}

int32_t FindLabel(const char* pszName, size_t nLen)
{
    if (!pszName || !g_apLabel) return -1;
    const uint32_t h = MurmurHash2(pszName, nLen, 0);
    const int32_t nStart = g_anLabelBucket[h >> 24];
    if (nStart < 0 || nStart >= g_nLabels) return -1;
    // The walk goes on to the end of the table, not only through the bucket.
    for (int32_t i = nStart; i < g_nLabels; ++i) {
        const LABEL_ENTRY* p = g_apLabel[i];
        if (p && p->dwHash == h && p->pszName && std::strcmp(p->pszName, pszName) == 0) return i;
    }
    return -1;
}

int GetScriptLocation(const char** ppszFile, int* pnLine)
{
    const SCRIPT_THREAD* pThread = g_pCurThread;
    if (!pThread || !g_apszScriptName || pThread->wScript >= g_nScripts) return 0;
    const char* pszFile = g_apszScriptName[pThread->wScript];
    if (!pszFile) return 0;
    *ppszFile = pszFile;
    // A command index outside the body (running off its end, an empty body) has no line.
    const int32_t n = g_nCurCommand;
    *pnLine = pThread->pnLineTable && n >= 0 && n < pThread->nCommands ? pThread->pnLineTable[n] : 0;
    return 1;
}

#include "script/script_tables.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/appended_data.h"
#include "core/byte_reader.h"
#include "core/engine_hooks.h"
#include "core/errors.h"
#include "core/file_location.h"
#include "core/object_tree.h"
#include "core/pack_archive.h"
#include "core/game_config.h"
#include "script/script_body.h"
#include "script/dispatch.h"
#include "core/script_thread.h"
#include "script/variables.h"

int32_t g_nCommands = 0;
char** g_apszCmdName = nullptr;
uint8_t* g_pbArgCount = nullptr;
char*** g_appszArgName = nullptr;
uint8_t** g_apbArgValueKind = nullptr;
uint8_t** g_apbArgCheckKind = nullptr;
char* g_apszErrnoText[KX_ERRNO_TEXTS];
uint8_t g_abKeyMap[KX_KEY_MAP_SIZE];

int32_t* g_anScriptValue = nullptr;

namespace {

// Images that stay in memory because table texts point into them.
uint8_t* s_pErrorImage = nullptr;
uint8_t* s_pCommandImage = nullptr;
// The definitions image when this loader read it (g_pVarDefs may also be set by others).
uint8_t* s_pOwnVarDefs = nullptr;
// What the empty error texts point at.
char s_szEmpty[1] = "";

constexpr uint8_t KX_VALUE_KIND_RAW = 2;
constexpr int KX_LABEL_BUCKETS = 256;

int ReportDamaged(const char* pszName)
{
    ReportErrorF(KX_ERR_FILE_READ, 1, pszName);
    return -1;
}

int ReportNoMemory(void)
{
    ReportError(KX_ERR_NO_MEMORY, 1);
    return -1;
}

// The script list is searched pack first (cache, compiler, packs, then loose files) in
// appended-data mode and when the current layout's source-order byte is 0, so that a packed list
// wins over a stale loose one.
bool ScriptListPackFirst(void)
{
    if (g_bAppendedData) return true;
    return (g_bPackedData ? g_bReleaseSourceOrder : g_bDevSourceOrder) == 0;
}

int LocatePackFirst(FILE_LOCATION* pLoc, const char* pszName)
{
    pLoc->nSource = FILESRC_NONE;
    pLoc->bType = FILETYPE_NONE;
    int r = FindCachedFile(pLoc, pszName);
    if (r == 0) r = FindCompilerFile(pLoc, pszName);
    if (r == 0) r = FindPackEntry(pLoc, pszName);
    if (r == 0 && FileExists(pszName)) {
        pLoc->nSource = FILESRC_LOOSE;
        r = FILESRC_LOOSE;
    }
    return r;
}

// Finds a compiled file and reads it whole into a new buffer (freed by the caller). 0, or -1
// after a report (missing 104060, pack not openable 901040; the readers report their own
// failures).
int ReadTableFile(const char* pszName, bool bPackFirst, uint8_t** ppData, size_t* pnSize)
{
    FILE_LOCATION loc{};
    const int nFound = bPackFirst ? LocatePackFirst(&loc, pszName) : LocateFile(&loc, pszName, 0);
    return ReadFoundFile(&loc, nFound, pszName, ppData, pnSize);
}

void FreeCommandTables(void)
{
    for (int32_t i = 0; i < g_nCommands; ++i) {
        if (g_appszArgName) std::free(g_appszArgName[i]);
        if (g_apbArgValueKind) std::free(g_apbArgValueKind[i]);
        if (g_apbArgCheckKind) std::free(g_apbArgCheckKind[i]);
    }
    std::free(g_apszCmdName);
    std::free(g_pbArgCount);
    std::free(g_appszArgName);
    std::free(g_apbArgValueKind);
    std::free(g_apbArgCheckKind);
    g_apszCmdName = nullptr;
    g_pbArgCount = nullptr;
    g_appszArgName = nullptr;
    g_apbArgValueKind = nullptr;
    g_apbArgCheckKind = nullptr;
    g_nCommands = 0;
    for (char*& psz : g_apszErrnoText) psz = s_szEmpty;
    std::memset(g_abKeyMap, 0, sizeof g_abKeyMap);
    std::free(s_pCommandImage);
    s_pCommandImage = nullptr;
}

void FreeScriptList(void)
{
    if (g_apszScriptName)
        for (int32_t i = 0; i < g_nScripts; ++i) std::free(g_apszScriptName[i]);
    std::free(g_apszScriptName);
    std::free(g_anScriptValue);
    FreeScriptBodies();
    g_apszScriptName = nullptr;
    g_anScriptValue = nullptr;
    g_nScripts = 0;
}

void FreeLabels(void)
{
    if (g_apLabel) {
        for (int32_t i = 0; i < g_nLabels; ++i) {
            if (g_apLabel[i]) std::free(g_apLabel[i]->pszName);
            std::free(g_apLabel[i]);
        }
    }
    std::free(g_apLabel);
    g_apLabel = nullptr;
    g_nLabels = 0;
    std::memset(g_anLabelBucket, 0, sizeof g_anLabelBucket);
}

char* CopyBytesTerminated(const uint8_t* p, size_t n)
{
    char* psz = static_cast<char*>(std::malloc(n + 1));
    if (!psz) return nullptr;
    if (n) std::memcpy(psz, p, n);
    psz[n] = '\0';
    return psz;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// kxe.kbn

int LoadErrorTexts(void)
{
    uint8_t* pImage;
    size_t nSize;
    if (ReadTableFile(KX_FILE_ERROR_TEXTS, false, &pImage, &nSize) != 0) return -1;

    // Parsed into local tables first: a damaged file leaves the engine's own texts in use.
    BIN_CURSOR cur;
    InitBinCursor(&cur, pImage, nSize);
    int32_t nCount = 0;
    SkipBytes(&cur, 8);
    ReadI32(&cur, &nCount);
    SkipBytes(&cur, 4);
    if (cur.bFailed || nCount < 0) {
        std::free(pImage);
        return ReportDamaged(KX_FILE_ERROR_TEXTS);
    }
    // The table holds 256 entries; any further entries have no place and are not read.
    if (nCount > KX_ERROR_TABLE_MAX) nCount = KX_ERROR_TABLE_MAX;
    int32_t anId[KX_ERROR_TABLE_MAX];
    const char* apszText[KX_ERROR_TABLE_MAX];
    for (int32_t i = 0; i < nCount; ++i) {
        ReadI32(&cur, &anId[i]);
        ReadCStr(&cur, &apszText[i], nullptr);
        if (cur.bFailed) {
            std::free(pImage);
            return ReportDamaged(KX_FILE_ERROR_TEXTS);
        }
    }

    std::free(s_pErrorImage);
    s_pErrorImage = pImage;
    for (int i = 0; i < KX_ERROR_TABLE_MAX; ++i) {
        g_anErrorId[i] = 0;
        g_apszErrorText[i] = s_szEmpty;
    }
    for (int32_t i = 0; i < nCount; ++i) {
        g_anErrorId[i] = anId[i];
        g_apszErrorText[i] = const_cast<char*>(apszText[i]);
    }
    g_nErrorTexts = nCount;
    return 0;
}

// ---------------------------------------------------------------------------------------------
// kxc.kbn

int LoadCommandTable(void)
{
    uint8_t* pImage;
    size_t nSize;
    if (ReadTableFile(KX_FILE_COMMANDS, false, &pImage, &nSize) != 0) return -1;
    FreeCommandTables();
    s_pCommandImage = pImage;

    BIN_CURSOR cur;
    InitBinCursor(&cur, pImage, nSize);
    int32_t nCommands = 0;
    SkipBytes(&cur, 8);
    ReadI32(&cur, &nCommands);
    SkipBytes(&cur, 4);
    // A command entry takes at least its name's terminator and its argument count.
    if (cur.bFailed || nCommands < 0 || static_cast<size_t>(nCommands) > CursorRemaining(&cur) / 2) {
        FreeCommandTables();
        return ReportDamaged(KX_FILE_COMMANDS);
    }
    const size_t n = nCommands ? static_cast<size_t>(nCommands) : 1;
    g_apszCmdName = static_cast<char**>(std::calloc(n, sizeof(char*)));
    g_pbArgCount = static_cast<uint8_t*>(std::calloc(n, 1));
    g_appszArgName = static_cast<char***>(std::calloc(n, sizeof(char**)));
    g_apbArgValueKind = static_cast<uint8_t**>(std::calloc(n, sizeof(uint8_t*)));
    g_apbArgCheckKind = static_cast<uint8_t**>(std::calloc(n, sizeof(uint8_t*)));
    g_nCommands = nCommands;
    if (!g_apszCmdName || !g_pbArgCount || !g_appszArgName || !g_apbArgValueKind || !g_apbArgCheckKind) {
        FreeCommandTables();
        return ReportNoMemory();
    }

    for (int32_t c = 0; c < nCommands; ++c) {
        const char* pszName = nullptr;
        uint8_t bArgs = 0;
        ReadCStr(&cur, &pszName, nullptr);
        ReadU8(&cur, &bArgs);
        // An argument entry takes at least its name's terminator and its two kind bytes.
        if (cur.bFailed || bArgs > CursorRemaining(&cur) / 3) {
            FreeCommandTables();
            return ReportDamaged(KX_FILE_COMMANDS);
        }
        g_apszCmdName[c] = const_cast<char*>(pszName);
        g_pbArgCount[c] = bArgs;
        const size_t nArgs = bArgs ? bArgs : 1;
        g_appszArgName[c] = static_cast<char**>(std::calloc(nArgs, sizeof(char*)));
        g_apbArgValueKind[c] = static_cast<uint8_t*>(std::calloc(nArgs, 1));
        g_apbArgCheckKind[c] = static_cast<uint8_t*>(std::calloc(nArgs, 1));
        if (!g_appszArgName[c] || !g_apbArgValueKind[c] || !g_apbArgCheckKind[c]) {
            FreeCommandTables();
            return ReportNoMemory();
        }
        for (int a = 0; a < bArgs; ++a) {
            const char* pszArg = nullptr;
            uint8_t bValueKind = 0, bCheckKind = 0;
            ReadCStr(&cur, &pszArg, nullptr);
            ReadU8(&cur, &bValueKind);
            ReadU8(&cur, &bCheckKind);
            if (cur.bFailed) {
                FreeCommandTables();
                return ReportDamaged(KX_FILE_COMMANDS);
            }
            g_appszArgName[c][a] = const_cast<char*>(pszArg);
            // An unknown value kind keeps the expression unevaluated.
            g_apbArgValueKind[c][a] = bValueKind > KX_VALUE_KIND_RAW ? KX_VALUE_KIND_RAW : bValueKind;
            g_apbArgCheckKind[c][a] = bCheckKind;
        }
    }
    for (char*& psz : g_apszErrnoText) {
        const char* pszText = nullptr;
        ReadCStr(&cur, &pszText, nullptr);
        psz = const_cast<char*>(pszText);
    }
    ReadBytes(&cur, g_abKeyMap, sizeof g_abKeyMap);
    if (cur.bFailed) {
        FreeCommandTables();
        return ReportDamaged(KX_FILE_COMMANDS);
    }
    FillCmdHandlers(g_nCommands);
    return 0;
}

// ---------------------------------------------------------------------------------------------
// kxt.kbn

int LoadVarTable(void)
{
    uint8_t* pImage;
    size_t nSize;
    if (ReadTableFile(KX_FILE_VAR_TABLE, false, &pImage, &nSize) != 0) return -1;
    BIN_CURSOR cur;
    InitBinCursor(&cur, pImage, nSize);
    int32_t nVersion = 0, nHighest = 0, nExtra = 0;
    SkipBytes(&cur, 4);
    ReadI32(&cur, &nVersion);
    ReadI32(&cur, &nHighest);
    ReadI32(&cur, &nExtra);
    std::free(pImage);
    if (cur.bFailed) return ReportDamaged(KX_FILE_VAR_TABLE);
    if (nVersion != KX_VAR_TABLE_VERSION) {
        ReportError(KX_ERR_VAR_TABLE_VERSION, 1);
        return -1;
    }
    // Variable numbers are 16 bits wide in definitions and expressions: a higher number can never
    // be named, and a table beyond it would only exhaust memory.
    if (nHighest < -1 || nHighest > 0xFFFF) return ReportDamaged(KX_FILE_VAR_TABLE);
    if (CreateVarTable(nHighest + 1) != 0) return -1;
    g_nVarTableExtra = nExtra;
    return 0;
}

// ---------------------------------------------------------------------------------------------
// kxt_list.kbn

int LoadScriptList(void)
{
    uint8_t* pImage;
    size_t nSize;
    if (ReadTableFile(KX_FILE_SCRIPT_LIST, ScriptListPackFirst(), &pImage, &nSize) != 0) return 1;
    FreeScriptList();

    enum { KX_LIST_RECORD_FIXED = 28 };
    BIN_CURSOR cur;
    InitBinCursor(&cur, pImage, nSize);
    int32_t nScripts = 0;
    SkipBytes(&cur, 8);
    ReadI32(&cur, &nScripts);
    if (cur.bFailed || nScripts < 0 || static_cast<size_t>(nScripts) > CursorRemaining(&cur) / KX_LIST_RECORD_FIXED) {
        std::free(pImage);
        ReportDamaged(KX_FILE_SCRIPT_LIST);
        return 1;
    }
    g_nScripts = nScripts;
    const size_t n = nScripts ? static_cast<size_t>(nScripts) : 1;
    g_apszScriptName = static_cast<char**>(std::calloc(n, sizeof(char*)));
    g_anScriptValue = static_cast<int32_t*>(std::calloc(n, sizeof(int32_t)));
    if (AllocScriptBodyTable() != 0 || !g_apszScriptName || !g_anScriptValue) {
        if (g_ppScriptBody) ReportNoMemory();
        std::free(pImage);
        FreeScriptList();
        return 1;
    }

    int nResult = 0;
    for (int32_t r = 0; r < nScripts && nResult == 0; ++r) {
        int32_t nIndex = 0, nLen = 0, nValue = 0;
        const uint8_t* pName = nullptr;
        ReadI32(&cur, &nIndex);
        ReadI32(&cur, &nLen);
        if (!cur.bFailed && nLen >= 0) ReadSpan(&cur, static_cast<size_t>(nLen), &pName);
        SkipBytes(&cur, 16);
        ReadI32(&cur, &nValue);
        if (cur.bFailed || nLen < 0) {
            nResult = ReportDamaged(KX_FILE_SCRIPT_LIST);
            break;
        }
        // Each index names one slot once: a negative, too large or repeated index would leave a
        // slot without a name.
        if (nIndex < 0 || nIndex >= nScripts || g_apszScriptName[nIndex]) {
            ReportError(KX_ERR_SCRIPT_LIST_INDEX, 1);
            nResult = -1;
            break;
        }
        g_apszScriptName[nIndex] = CopyBytesTerminated(pName, static_cast<size_t>(nLen));
        if (!g_apszScriptName[nIndex]) nResult = ReportNoMemory();
        g_anScriptValue[r] = nValue;
    }
    std::free(pImage);
    if (nResult != 0) {
        FreeScriptList();
        return 1;
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// kxv.kbn

int LoadVarDefs(void)
{
    uint8_t* pImage;
    size_t nSize;
    if (ReadTableFile(KX_FILE_VAR_DEFS, false, &pImage, &nSize) != 0) return 1;
    // The records are checked as they are walked; here only the count must be there.
    if (nSize < 10) {
        std::free(pImage);
        ReportDamaged(KX_FILE_VAR_DEFS);
        return 1;
    }
    std::free(s_pOwnVarDefs);
    s_pOwnVarDefs = pImage;
    g_pVarDefs = pImage;
    g_nVarDefsBytes = nSize;
    return 0;
}

int ApplyVarDefs(int nKey)
{
    return ApplyVarDefRecords(nKey, nullptr);
}

// ---------------------------------------------------------------------------------------------
// kxl.kbn

int LoadLabels(void)
{
    uint8_t* pImage;
    size_t nSize;
    if (ReadTableFile(KX_FILE_LABELS, false, &pImage, &nSize) != 0) return -1;
    FreeLabels();

    enum { KX_LABEL_RECORD_FIXED = 13 };
    BIN_CURSOR cur;
    InitBinCursor(&cur, pImage, nSize);
    int32_t nLabels = 0;
    int32_t anBucket[KX_LABEL_BUCKETS];
    SkipBytes(&cur, 8);
    ReadI32(&cur, &nLabels);
    for (int32_t& n : anBucket) ReadI32(&cur, &n);
    anBucket[0] = 0;
    if (cur.bFailed || nLabels < 0 || static_cast<size_t>(nLabels) > CursorRemaining(&cur) / KX_LABEL_RECORD_FIXED) {
        std::free(pImage);
        return ReportDamaged(KX_FILE_LABELS);
    }
    g_apLabel = static_cast<LABEL_ENTRY**>(std::calloc(nLabels ? static_cast<size_t>(nLabels) : 1, sizeof(LABEL_ENTRY*)));
    if (!g_apLabel) {
        std::free(pImage);
        return ReportNoMemory();
    }
    g_nLabels = nLabels;

    int nResult = 0;
    for (int32_t i = 0; i < nLabels; ++i) {
        uint8_t bLen = 0;
        const uint8_t* pName = nullptr;
        LABEL_ENTRY e{};
        uint32_t dwCommand = 0;
        ReadU8(&cur, &bLen);
        ReadSpan(&cur, bLen, &pName);
        ReadU32(&cur, &e.dwHash);
        ReadU32(&cur, &dwCommand);
        ReadU16(&cur, &e.wScript);
        ReadU8(&cur, &e.nIfDepth);
        ReadU8(&cur, &e.nLoopDepth);
        e.nCommand = static_cast<int32_t>(dwCommand);
        // A jump enters the label's script and sets the thread's depths to the label's: the script
        // must be listed and the depths must fit the thread's stacks. The lookup walks from the
        // bucket start of the hash's top byte to the end of the table; a label that lies before
        // its bucket's start (or whose start is outside the table) is loaded all the same and is
        // only never found: a jump to it fails as a jump to a missing label, the rest of the game
        // runs.
        if (cur.bFailed || e.nCommand < 0 || e.wScript >= g_nScripts || e.nIfDepth >= KX_IF_DEPTH ||
            e.nLoopDepth >= KX_LOOP_DEPTH) {
            nResult = ReportDamaged(KX_FILE_LABELS);
            break;
        }
        g_apLabel[i] = static_cast<LABEL_ENTRY*>(std::malloc(sizeof(LABEL_ENTRY)));
        e.pszName = CopyBytesTerminated(pName, bLen);
        if (!g_apLabel[i] || !e.pszName) {
            std::free(e.pszName);
            nResult = ReportNoMemory();
            break;
        }
        *g_apLabel[i] = e;
    }
    std::free(pImage);
    if (nResult != 0) {
        FreeLabels();
        return -1;
    }
    std::memcpy(g_anLabelBucket, anBucket, sizeof anBucket);
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Start

int StartScriptSystem(void)
{
    if (LoadErrorTexts() != 0) return 1;
    if (LoadCommandTable() != 0) return 1;
    if (LoadVarTable() != 0) return 1;
    if (LoadScriptList() != 0) return 1;
    if (LoadVarDefs() != 0) return 1;
    if (ApplyVarDefs(-1) != 0) return 1;
    if (LoadLabels() != 0) return 1;

    const int nLabel = FindLabel(KX_START_LABEL, sizeof KX_START_LABEL - 1);
    if (nLabel < 0) {
        // Nothing else defines where the root thread starts.
        ReportErrorF(KX_ERR_LABEL_NOT_FOUND, 1, KX_START_LABEL);
        return 1;
    }
    const LABEL_ENTRY* pLabel = g_apLabel[nLabel];

    TREE_NODE* pNode = FindNodeByPath(g_pThreadRoot, "SYSTEM", KX_FIND_LEAF);
    SCRIPT_THREAD* pThread = pNode ? static_cast<SCRIPT_THREAD*>(pNode->pPayload) : nullptr;
    if (!pThread) return -1;

    // A start script without its body would leave the root thread without commands: the start
    // fails instead of running nothing. The body loader reports a damaged body itself.
    char szBody[32];
    std::snprintf(szBody, sizeof szBody, "kxbin\\kxt%05u.kbn", static_cast<unsigned>(pLabel->wScript));
    FILE_LOCATION loc{};
    const int nFound = LocateFile(&loc, szBody, 0);
    if (nFound <= 0) {
        ReportErrorF(nFound == 0 ? KX_ERR_FILE_MISSING : KX_ERR_PACK_OPEN, 1, szBody);
        return 1;
    }
    if (LoadScriptBody(pLabel->wScript) != 1) return 1;
    SetThreadBody(pThread, pLabel->wScript);
    pThread->nPC = pLabel->nCommand;
    pThread->nIfDepth = static_cast<int8_t>(pLabel->nIfDepth);
    pThread->nLoopDepth = static_cast<int8_t>(pLabel->nLoopDepth);
    return 0;
}

void FreeScriptTables(void)
{
    for (int i = 0; i < KX_ERROR_TABLE_MAX; ++i) {
        g_anErrorId[i] = 0;
        g_apszErrorText[i] = s_szEmpty;
    }
    g_nErrorTexts = 0;
    std::free(s_pErrorImage);
    s_pErrorImage = nullptr;
    FreeCommandTables();
    FreeScriptList();
    FreeLabels();
    if (s_pOwnVarDefs) {
        if (g_pVarDefs == s_pOwnVarDefs) {
            g_pVarDefs = nullptr;
            g_nVarDefsBytes = 0;
        }
        std::free(s_pOwnVarDefs);
        s_pOwnVarDefs = nullptr;
    }
}

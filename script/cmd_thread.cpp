// Script thread commands and the thread state text.
#include "script/cmd_thread.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/cp932.h"
#include "core/errors.h"
#include "core/frame_loop.h"
#include "core/kx_limits.h"
#include "core/object_tree.h"
#include "core/sysfacts.h"
#include "core/engine_globals.h"
#include "script/arg_output.h"
#include "script/command_args.h"
#include "script/command_ids.h"
#include "script/dispatch.h"
#include "script/flow_frames.h"
#include "script/script_body.h"
#include "script/script_tables.h"
#include "core/script_thread.h"
#include "script/variables.h"

namespace {

// Argument ids of the thread command.
enum {
    THREAD_ARG_NAME = 0,
    THREAD_ARG_RUN_A = 1,
    THREAD_ARG_RUN_B = 2,
    THREAD_ARG_KEY = 3,
    THREAD_ARG_INT = 4,      // int parameters 1..10
    THREAD_ARG_FLOAT = 14,   // float parameters 1..10
    THREAD_ARG_TEXT = 24,    // text parameters 1..10
    THREAD_ARG_LABEL = 34,
    THREAD_ARG_STATE = 35,
    THREAD_ARG_RERUN = 37,
    THREAD_ARG_PARAMS = 10,
};

// Argument ids of the information command: the thread, the output, and the answers.
enum { INFO_ARG_NAME = 0, INFO_ARG_OUT = 1, INFO_ARG_TEXT_SWITCH = 10, INFO_ARG_STATE = 19 };
// The answers in the order in which the first present one is chosen.
const int kInfoAnswers[] = {2, 3, 4, 5, 6, 9, 8, 11, 12, 13, 16, 17, 18, 7, 10, 19};

// Argument ids of the script-list query.
enum { LIST_ARG_NAME = 0, LIST_ARG_COUNT = 1, LIST_ARG_VALUE = 2, LIST_ARG_EMOTE = 3, LIST_ARG_INDEX = 4, LIST_ARG_OUT = 5 };

const char kStateMagic[8] = {1, 2, 3, 4, 5, 6, 7, 8};

SCRIPT_THREAD* ThreadOf(const TREE_NODE* pNode) { return pNode ? static_cast<SCRIPT_THREAD*>(pNode->pPayload) : nullptr; }

const char* ScriptName(int nScript)
{
    if (!g_apszScriptName || nScript < 0 || nScript >= g_nScripts || !g_apszScriptName[nScript]) return "";
    return g_apszScriptName[nScript];
}

// The node a thread command names: the running thread for an empty name, else the leaf at the
// path made absolute against the current thread path (pszPath receives it). 0 with the node (which
// may be NULL), -1 after a reported error.
int ResolveThreadName(int nCmd, const char* pszName, char* pszPath, TREE_NODE** ppNode)
{
    *ppNode = nullptr;
    pszPath[0] = '\0';
    if (!pszName[0]) {
        *ppNode = g_pCurThreadNode;
        if (g_pCurThreadNode && g_pCurThreadNode->pszName) CopyTextBounded(pszPath, KX_MAX_OBJECT_PATH, g_pCurThreadNode->pszName);
        return 0;
    }
    const int r = NormalizeObjectPath(pszPath, pszName, g_pszThreadPath, 0);
    if (r < 0) return -1;
    if (r == 1) {
        ReportScriptErrorF(KX_ERR_THREAD_IS_GROUP, 1, GetScriptCommandName(nCmd), pszPath);
        return -1;
    }
    *ppNode = FindNodeByPath(g_pThreadRoot, pszPath, KX_FIND_LEAF);
    return 0;
}

// Empties the thread's parameters (entries 0..16).
void ClearThreadParams(SCRIPT_THREAD* pThread)
{
    for (int i = 0; i < KX_THREAD_PARAMS; ++i) {
        pThread->allParam[i] = 0;
        pThread->adParam[i] = 0.0;
        std::free(pThread->apszParam[i]);
        pThread->apszParam[i] = nullptr;
    }
}

// Points the thread at a label: its script's body and the label's command; parameters from the
// command's arguments. 0, or -1 after a reported error.
int StartAtLabel(SCRIPT_THREAD* pThread, const LABEL_ENTRY* pLabel)
{
    SetThreadBody(pThread, pLabel->wScript);
    pThread->nPC = pLabel->nCommand;
    ClearThreadParams(pThread);
    for (int i = 1; i <= THREAD_ARG_PARAMS; ++i) {
        if (HasArg(THREAD_ARG_INT + i - 1)) pThread->allParam[i] = ArgInt(THREAD_ARG_INT + i - 1);
        if (HasArg(THREAD_ARG_FLOAT + i - 1)) pThread->adParam[i] = static_cast<double>(ArgInt(THREAD_ARG_FLOAT + i - 1));
        if (HasArg(THREAD_ARG_TEXT + i - 1)) {
            const char* psz = ArgText(THREAD_ARG_TEXT + i - 1);
            const size_t n = std::strlen(psz);
            char* pCopy = static_cast<char*>(std::malloc(n + 1));
            if (!pCopy) {
                ReportError(KX_ERR_NO_MEMORY, 1);
                return -1;
            }
            std::memcpy(pCopy, psz, n + 1);
            pThread->apszParam[i] = pCopy;
        }
    }
    return 0;
}

// ---- the state text ----

struct STATE_WRITER {
    char* p;
    size_t nCap;
    size_t nPos;
    bool bFull;
};

void PutRaw(STATE_WRITER& w, const char* pb, size_t n)
{
    if (w.bFull || n > w.nCap - w.nPos) {
        w.bFull = true;
        return;
    }
    std::memcpy(w.p + w.nPos, pb, n);
    w.nPos += n;
}

void PutByte(STATE_WRITER& w, uint8_t b)
{
    const char a[2] = {static_cast<char>('a' + (b >> 4)), static_cast<char>('a' + (b & 15))};
    PutRaw(w, a, 2);
}

void PutU32(STATE_WRITER& w, uint32_t v)
{
    for (int k = 24; k >= 0; k -= 8) PutByte(w, static_cast<uint8_t>(v >> k));
}

struct STATE_READER {
    const uint8_t* p;
    size_t nLen;
    size_t nPos;
    bool bBad;
};

uint8_t GetByte(STATE_READER& r)
{
    if (r.bBad || r.nLen - r.nPos < 2) {
        r.bBad = true;
        return 0;
    }
    const uint8_t hi = r.p[r.nPos], lo = r.p[r.nPos + 1];
    if (hi < 'a' || hi > 'p' || lo < 'a' || lo > 'p') {
        r.bBad = true;
        return 0;
    }
    r.nPos += 2;
    return static_cast<uint8_t>(((hi - 'a') << 4) | (lo - 'a'));
}

uint32_t GetU32(STATE_READER& r)
{
    uint32_t v = 0;
    for (int k = 0; k < 4; ++k) v = (v << 8) | GetByte(r);
    return v;
}

int32_t GetI32(STATE_READER& r) { return static_cast<int32_t>(GetU32(r)); }

// Makes sure entries 0..n of a stack exist (allocated cleared). false after 100010.
template <class T>
bool EnsureEntries(T** apEntries, int n)
{
    for (int i = 0; i <= n; ++i) {
        if (apEntries[i]) continue;
        apEntries[i] = static_cast<T*>(AllocZeroed(sizeof(T)));
        if (!apEntries[i]) {
            ReportError(KX_ERR_NO_MEMORY, 1);
            return false;
        }
    }
    return true;
}

// ---- outputs ----

// The source line of a command of the thread's body, 0 outside it.
int64_t LineOf(const SCRIPT_THREAD* t, int64_t nCommand)
{
    if (!t->pnLineTable || nCommand < 0 || nCommand >= t->nCommands) return 0;
    return t->pnLineTable[nCommand];
}

}  // namespace

// ---- ending a thread ----

void EndThreadNode(TREE_NODE* pNode)
{
    if (!pNode || pNode->bGroup) return;
    RemoveNode(pNode);
    FreeScriptThread(ThreadOf(pNode));
    pNode->pPayload = nullptr;
    if (pNode == g_pCurThreadNode) {
        g_pCurThreadNode = nullptr;
        g_pCurThread = nullptr;
    }
    FreeTreeNode(pNode);
}

// ---- the state text ----

size_t GetThreadStateLength(const SCRIPT_THREAD* pThread)
{
    if (!pThread) return 0;
    const int d = pThread->nIfDepth > 0 ? pThread->nIfDepth : 0;
    const int m = pThread->nCallDepth > 0 ? pThread->nCallDepth : 0;
    const int e = pThread->nLoopDepth > 0 ? pThread->nLoopDepth : 0;
    return KX_THREAD_STATE_BASE + static_cast<size_t>(KX_THREAD_STATE_IF * d + KX_THREAD_STATE_CALL * m +
                                                      KX_THREAD_STATE_LOOP * e) +
           std::strlen(ScriptName(pThread->wScript));
}

int EncodeThreadState(char* pBuf, size_t nCap, const SCRIPT_THREAD* pThread)
{
    if (!pBuf || !pThread) return -1;
    const int d = pThread->nIfDepth, m = pThread->nCallDepth, e = pThread->nLoopDepth;
    if (d < 0 || d >= KX_IF_DEPTH || m < 0 || m >= KX_CALL_DEPTH || e < 0 || e >= KX_LOOP_DEPTH) return -1;
    STATE_WRITER w{pBuf, nCap, 0, false};
    PutRaw(w, kStateMagic, sizeof kStateMagic);
    PutByte(w, static_cast<uint8_t>(d));
    for (int i = 0; i < d; ++i) {
        const IF_BLOCK z{};
        const IF_BLOCK& b = pThread->apIf[i] ? *pThread->apIf[i] : z;
        PutByte(w, b.bLoopDepth);
        PutU32(w, static_cast<uint32_t>(b.nIfCommand));
        PutU32(w, static_cast<uint32_t>(b.nBlockEnd));
    }
    PutByte(w, static_cast<uint8_t>(m));
    for (int i = 0; i < m; ++i) {
        const CALL_FRAME* c = pThread->apCall[i];
        PutByte(w, c ? c->bSavedIfDepth : 0);
        PutByte(w, c ? c->bSavedLoopDepth : 0);
        PutU32(w, static_cast<uint32_t>(c ? c->nReturnCommand : 0));
        PutU32(w, c ? c->wReturnScript : 0u);
    }
    PutByte(w, static_cast<uint8_t>(e));
    for (int i = 0; i < e; ++i) {
        const LOOP_FRAME z{};
        const LOOP_FRAME& l = pThread->apLoop[i] ? *pThread->apLoop[i] : z;
        PutByte(w, l.bIfDepth);
        PutU32(w, static_cast<uint32_t>(l.nBodyStart));
        PutU32(w, static_cast<uint32_t>(l.nLoopEnd));
        PutU32(w, static_cast<uint32_t>(static_cast<uint64_t>(l.llPassCounter)));
        PutU32(w, static_cast<uint32_t>(static_cast<uint64_t>(l.llPassCount)));
    }
    PutU32(w, static_cast<uint32_t>(pThread->anTextEnd[0]));
    PutU32(w, static_cast<uint32_t>(pThread->nPC));
    const char* pszName = ScriptName(pThread->wScript);
    const size_t n = std::strlen(pszName);
    PutU32(w, static_cast<uint32_t>(n));
    PutRaw(w, pszName, n);
    return w.bFull ? -1 : static_cast<int>(w.nPos);
}

int DecodeThreadState(const char* pText, size_t nLen, SCRIPT_THREAD* pThread)
{
    if (!pText || !pThread) return -1;
    if (nLen < sizeof kStateMagic || std::memcmp(pText, kStateMagic, sizeof kStateMagic) != 0) {
        ReportError(KX_ERR_STATE_TEXT_MAGIC, 1);
        return 0;
    }
    // Everything is read and checked first; the thread changes only once the whole text is sound.
    STATE_READER r{reinterpret_cast<const uint8_t*>(pText), nLen, sizeof kStateMagic, false};
    IF_BLOCK aIf[KX_IF_DEPTH] = {};
    struct RETURN_POINT {
        uint8_t bSavedIfDepth, bSavedLoopDepth;
        int32_t nReturnCommand;
        uint16_t wReturnScript;
    } aCall[KX_CALL_DEPTH] = {};   // the fields of a call entry that the text carries
    LOOP_FRAME aLoop[KX_LOOP_DEPTH] = {};
    bool bBad = false;

    const int d = GetByte(r);
    bBad |= d >= KX_IF_DEPTH;
    for (int i = 0; i < d && !bBad && !r.bBad; ++i) {
        aIf[i].bLoopDepth = GetByte(r);
        aIf[i].nIfCommand = GetI32(r);
        aIf[i].nBlockEnd = GetI32(r);
        bBad |= aIf[i].bLoopDepth >= KX_LOOP_DEPTH;
    }
    const int m = bBad ? 0 : GetByte(r);
    bBad |= m >= KX_CALL_DEPTH;
    for (int i = 0; i < m && !bBad && !r.bBad; ++i) {
        aCall[i].bSavedIfDepth = GetByte(r);
        aCall[i].bSavedLoopDepth = GetByte(r);
        aCall[i].nReturnCommand = GetI32(r);
        aCall[i].wReturnScript = static_cast<uint16_t>(GetU32(r));
        bBad |= aCall[i].bSavedIfDepth >= KX_IF_DEPTH || aCall[i].bSavedLoopDepth >= KX_LOOP_DEPTH ||
                aCall[i].wReturnScript >= g_nScripts;
    }
    const int e = bBad ? 0 : GetByte(r);
    bBad |= e >= KX_LOOP_DEPTH;
    for (int i = 0; i < e && !bBad && !r.bBad; ++i) {
        aLoop[i].bIfDepth = GetByte(r);
        aLoop[i].nBodyStart = GetI32(r);
        aLoop[i].nLoopEnd = GetI32(r);
        aLoop[i].llPassCounter = GetI32(r);
        aLoop[i].llPassCount = GetI32(r);
        bBad |= aLoop[i].bIfDepth >= KX_IF_DEPTH;
    }
    const int32_t nTextEnd = GetI32(r);
    const int32_t nPC = GetI32(r);
    const uint32_t nNameLen = GetU32(r);
    bBad |= r.bBad || nNameLen > nLen - r.nPos;
    if (bBad) {
        ReportErrorF(KX_ERR_STATE_TEXT, 1, GetScriptCommandName(CMDID_THREAD), "");
        return 0;
    }

    // The file name: its first bytes (at most 262) name the script, compared without ASCII case.
    char szName[KX_THREAD_STATE_NAME_MAX + 1];
    const size_t nTake = nNameLen < size_t{KX_THREAD_STATE_NAME_MAX} ? nNameLen : size_t{KX_THREAD_STATE_NAME_MAX};
    std::memcpy(szName, pText + r.nPos, nTake);
    szName[nTake] = '\0';
    r.nPos += nNameLen;
    int nScript = -1;
    const bool bWhole = std::strlen(szName) == nTake;   // a NUL inside the name matches nothing
    for (int s = 0; bWhole && s < g_nScripts && nScript < 0; ++s) {
        const char* psz = ScriptName(s);
        if (std::strlen(psz) == nTake && CompareNoCaseASCIIN(psz, szName, nTake) == 0) nScript = s;
    }
    if (nScript < 0) {
        ReportErrorF(KX_ERR_STATE_TEXT, 1, GetScriptCommandName(CMDID_THREAD), szName);
        return 0;
    }
    // The program counter must lie in the script's body (at its end the scheduler reports it).
    if (LoadScriptBody(static_cast<uint16_t>(nScript)) != 1) return 0;
    const SCRIPT_BODY* pBody = g_ppScriptBody[nScript];
    if (nPC < 0 || nPC > pBody->nCommands) {
        ReportErrorF(KX_ERR_STATE_TEXT, 1, GetScriptCommandName(CMDID_THREAD), szName);
        return 0;
    }

    if (!EnsureEntries(pThread->apIf, d) || !EnsureEntries(pThread->apCall, m) || !EnsureEntries(pThread->apLoop, e))
        return 0;
    for (int i = 0; i < d; ++i) *pThread->apIf[i] = aIf[i];
    for (int i = 0; i < m; ++i) {
        CALL_FRAME* c = pThread->apCall[i];
        c->bSavedIfDepth = aCall[i].bSavedIfDepth;
        c->bSavedLoopDepth = aCall[i].bSavedLoopDepth;
        c->nReturnCommand = aCall[i].nReturnCommand;
        c->wReturnScript = aCall[i].wReturnScript;
    }
    for (int i = 0; i < e; ++i) *pThread->apLoop[i] = aLoop[i];
    pThread->nIfDepth = static_cast<int8_t>(d);
    pThread->nCallDepth = static_cast<int8_t>(m);
    pThread->nLoopDepth = static_cast<int8_t>(e);
    pThread->anTextEnd[0] = nTextEnd;
    if (pThread->wScript != nScript || pThread->nCommands != pBody->nCommands || !pThread->ppHandlerTables)
        SetThreadBody(pThread, static_cast<uint16_t>(nScript));
    pThread->nPC = nPC;
    return static_cast<int>(r.nPos);
}

// ---- commands ----

int CmdThread(void)
{
    if (FetchCommandArgs(CMDID_THREAD) != 0) return -1;
    char szPath[KX_MAX_OBJECT_PATH];
    TREE_NODE* pNode = nullptr;
    if (ResolveThreadName(CMDID_THREAD, ArgText(THREAD_ARG_NAME), szPath, &pNode) != 0) return -1;
    SCRIPT_THREAD* pThread = ThreadOf(pNode);

    // The order key. With the re-run request the value is not combined: it is where the extra pass
    // resumes, and the key of a thread this command creates.
    const bool bRerun = HasArg(THREAD_ARG_RERUN) != 0;
    bool bKeySet = false;
    int64_t llKey = 0;
    if (HasArg(THREAD_ARG_KEY)) {
        const int64_t v = ArgInt(THREAD_ARG_KEY);
        if (bRerun) {
            llKey = static_cast<int32_t>(v);
        } else {
            const int64_t llBase = pThread ? static_cast<int32_t>(pNode->llOrder) : 1;
            llKey = static_cast<int32_t>(ApplyArgOpMin(g_anArgOp[ArgSlot(THREAD_ARG_KEY)], llBase, v, 1));
            if (pNode) SetNodeOrder(pNode, llKey);
        }
        bKeySet = true;
    }

    if (!pNode) {
        if (!HasArg(THREAD_ARG_LABEL) || !szPath[0]) {
            ReportScriptErrorF(KX_ERR_NO_THREAD, 1, GetScriptCommandName(CMDID_THREAD), szPath);
            return -1;
        }
        if (!bKeySet || llKey == -1) llKey = 1;
    }

    if (HasArg(THREAD_ARG_LABEL)) {
        const char* pszLabel = ArgText(THREAD_ARG_LABEL);
        const int32_t nLabel = FindLabel(pszLabel, std::strlen(pszLabel));
        if (nLabel < 0) {
            ReportScriptErrorF(KX_ERR_LABEL_NOT_FOUND, 1, pszLabel);
            return -1;
        }
        const LABEL_ENTRY* pLabel = g_apLabel[nLabel];
        // The body first: a thread is only made once it has something to run.
        if (LoadScriptBody(pLabel->wScript) != 1) return -1;
        bool bCreated = false;
        if (!pNode) {
            pNode = CreateNode(g_pThreadRoot, szPath, 0, llKey);
            if (!pNode) return -1;
            bCreated = true;
        }
        if (!pThread) {
            pThread = AttachScriptThread(pNode);
            if (!pThread) {
                if (bCreated) {
                    RemoveNode(pNode);
                    FreeTreeNode(pNode);
                }
                return -1;
            }
        }
        if (StartAtLabel(pThread, pLabel) != 0) return -1;
    }
    if (!pThread) {
        ReportScriptErrorF(KX_ERR_NO_THREAD, 1, GetScriptCommandName(CMDID_THREAD), szPath);
        return -1;
    }

    if (HasArg(THREAD_ARG_RUN_A)) pThread->bRunA = static_cast<uint8_t>(ArgInt(THREAD_ARG_RUN_A));
    if (HasArg(THREAD_ARG_RUN_B)) pThread->bRunB = static_cast<uint8_t>(ArgInt(THREAD_ARG_RUN_B));

    if (HasArg(THREAD_ARG_STATE)) {
        const char* pszState = ArgText(THREAD_ARG_STATE);
        if (DecodeThreadState(pszState, std::strlen(pszState), pThread) <= 0) return -1;
    }

    if (bRerun) {
        g_llRerunPass = 1;
        if (HasArg(THREAD_ARG_KEY)) g_llResumeKey = llKey;
    }
    return 0;
}

int CmdThreadEnd(void)
{
    if (FetchCommandArgs(CMDID_THREAD_END) != 0) return -1;
    if (!HasArg(0)) {
        TREE_NODE* pNode = g_pCurThreadNode;
        const SCRIPT_THREAD* pThread = g_pCurThread;
        if (!pNode || (pThread && pThread->bRoot)) {
            ReportScriptErrorF(KX_ERR_SYSTEM_THREAD_END, 1, GetScriptCommandName(CMDID_THREAD_END));
            return -1;
        }
        EndThreadNode(pNode);
        return -1;
    }
    char szPath[KX_MAX_OBJECT_PATH];
    if (NormalizeObjectPath(szPath, ArgText(0), g_pszThreadPath, 0) < 0) return -1;
    TREE_NODE* pNode = std::strcmp(szPath, "SYSTEM") == 0 ? nullptr : FindNodeByPath(g_pThreadRoot, szPath, KX_FIND_LEAF);
    const SCRIPT_THREAD* pThread = ThreadOf(pNode);
    if (std::strcmp(szPath, "SYSTEM") == 0 || (pThread && pThread->bRoot)) {
        ReportScriptErrorF(KX_ERR_SYSTEM_THREAD_END, 1, GetScriptCommandName(CMDID_THREAD_END));
        return -1;
    }
    if (!pNode) {
        ReportScriptErrorF(KX_ERR_NO_THREAD, 1, GetScriptCommandName(CMDID_THREAD_END), szPath);
        return -1;
    }
    // Decided before the node goes: ending a thread of the running thread's name ends the turn.
    const bool bSameName = g_pCurThreadNode && g_pCurThreadNode->pszName && pNode->pszName &&
                           std::strcmp(g_pCurThreadNode->pszName, pNode->pszName) == 0;
    EndThreadNode(pNode);
    return bSameName ? -1 : 0;
}

int CmdThreadInfo(void)
{
    if (FetchCommandArgs(CMDID_THREAD_INFO) != 0) return -1;
    ARG_OUTPUT o;
    if (!GetArgOutput(INFO_ARG_OUT, &o)) return 0;

    TREE_NODE* pNode = g_pCurThreadNode;
    const char* pszName = ArgText(INFO_ARG_NAME);
    if (pszName[0]) {
        // A group name names no thread: the answer is that of a missing one.
        char szPath[KX_MAX_OBJECT_PATH];
        const int r = NormalizeObjectPath(szPath, pszName, g_pszThreadPath, 0);
        if (r < 0) return -1;
        pNode = r == 0 ? FindNodeByPath(g_pThreadRoot, szPath, KX_FIND_LEAF) : nullptr;
    }
    const SCRIPT_THREAD* t = ThreadOf(pNode);
    if (!t) {
        StoreOutputEmpty(o);
        return 0;
    }

    int nAnswer = 0;
    for (int id : kInfoAnswers)
        if (HasArg(id)) {
            nAnswer = id;
            break;
        }
    const bool bRunning = t == g_pCurThread;
    const bool bInCall = t->nCallDepth > 0 && t->apCall[0];
    switch (nAnswer) {
    case 2: SetVarInt(o.nVar, o.llElem, 1); return 0;
    case 3: SetVarInt(o.nVar, o.llElem, t->bRunA); return 0;
    case 4: SetVarInt(o.nVar, o.llElem, t->bRunB); return 0;
    case 5: SetVarInt(o.nVar, o.llElem, pNode->llOrder); return 0;
    case 6:
        if (IsTextOutput(o)) SetVarString(o.nVar, o.llElem, ScriptName(t->wScript));
        return 0;
    case 9:
        if (IsTextOutput(o)) SetVarString(o.nVar, o.llElem, ScriptName(bInCall ? t->apCall[0]->wReturnScript : t->wScript));
        return 0;
    case 8: SetVarInt(o.nVar, o.llElem, LineOf(t, bRunning ? g_nCurCommand : static_cast<int64_t>(t->nPC) - 1)); return 0;
    case 11: {
        const int64_t llLine = bInCall ? t->apCall[0]->nCallLine
                                       : LineOf(t, bRunning ? g_nCurCommand : static_cast<int64_t>(t->nPC) - 1);
        SetVarInt(o.nVar, o.llElem, llLine);
        return 0;
    }
    case 12: SetVarInt(o.nVar, o.llElem, t->anTextEnd[0]); return 0;
    case 13: SetVarInt(o.nVar, o.llElem, t->anTextEnd[1]); return 0;
    case 16: SetVarInt(o.nVar, o.llElem, t->nIfDepth); return 0;
    case 17: SetVarInt(o.nVar, o.llElem, t->nCallDepth); return 0;
    case 18: SetVarInt(o.nVar, o.llElem, t->nLoopDepth); return 0;
    case 7: SetVarInt(o.nVar, o.llElem, t->wScript); return 0;
    case INFO_ARG_TEXT_SWITCH:
        // The script index at call depth 0; the command then goes on as for the state text, which
        // only a text output takes.
        SetVarInt(o.nVar, o.llElem, bInCall ? t->apCall[0]->wReturnScript : t->wScript);
        [[fallthrough]];
    case INFO_ARG_STATE: {
        if (!IsTextOutput(o)) return 0;
        // Sized for the deepest stacks, so every state text fits.
        std::vector<char> buf(GetThreadStateLength(t) + 1);
        const int n = EncodeThreadState(buf.data(), buf.size(), t);
        if (n < 0) return -1;
        SetVarStringBytes(o.nVar, o.llElem, buf.data(), static_cast<size_t>(n));
        return 0;
    }
    default: SetVarInt(o.nVar, o.llElem, 0); return 0;
    }
}

int CmdScriptList(void)
{
    if (FetchCommandArgs(CMDID_SCRIPT_LIST) != 0) return -1;
    ARG_OUTPUT o;
    if (!GetArgOutput(LIST_ARG_OUT, &o)) return 0;
    const int32_t i = HasArg(LIST_ARG_INDEX) ? static_cast<int32_t>(ArgInt(LIST_ARG_INDEX)) : 0;
    const bool bListed = i >= 1 && i <= g_nScripts;
    if (HasArg(LIST_ARG_COUNT))
        SetVarInt(o.nVar, o.llElem, g_nScripts);
    else if (HasArg(LIST_ARG_VALUE))
        SetVarInt(o.nVar, o.llElem, bListed && g_anScriptValue ? g_anScriptValue[i - 1] : 0);
    else if (HasArg(LIST_ARG_NAME))
        SetVarString(o.nVar, o.llElem, bListed ? ScriptName(i - 1) : "");
    else if (HasArg(LIST_ARG_EMOTE))
        SetVarInt(o.nVar, o.llElem, g_bEmoteAvailable ? 1 : 0);
    else
        SetVarInt(o.nVar, o.llElem, 0);
    return 0;
}

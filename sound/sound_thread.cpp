// The sound thread and its request ring. Script commands never touch a sound buffer: they post
// requests into the ring under the engine lock, and the sound thread executes them in posting order,
// holding the lock for a whole pass (requests, fades, tracking and refills of every channel).
#include "sound/sound_thread.h"
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include "core/cp932.h"
#include "core/engine_globals.h"
#include "core/engine_hooks.h"
#include "core/errors.h"
#include "core/frame_loop.h"
#include "core/kx_texts.h"
#include "core/object_tree.h"
#include "core/sysfacts.h"
#include "core/window_record.h"
#include "platform/plat_audio.h"
#include "platform/plat_msgbox.h"
#include "platform/plat_thread.h"
#include "platform/plat_time.h"
#include "core/game_config.h"
#include "core/script_thread.h"

PLAT_DS* g_lpDirectSound = nullptr;
uint8_t g_bSoundsPaused = 0;

TREE_NODE** g_apSndReqNode = nullptr;
uint8_t* g_abSndReqCode = nullptr;
char** g_apszSndReqText = nullptr;
int32_t* g_anSndReqValue = nullptr;
std::atomic<int32_t>* g_anSndReqDone = nullptr;
std::atomic<int32_t> g_nSndReqWrite{0};
std::atomic<int32_t> g_nSndReqRead{0};
SOUND_OP_FN g_apfnSoundOps[SNDREQ_CODE_COUNT];

namespace {

enum { SOUND_ERROR_TEXT_SIZE = 1024, RING_FULL_ERROR = 110200, COOPERATIVE_ERROR = 110010 };
// Sleeps between passes: short while requests wait, longer otherwise.
enum { SLEEP_IDLE_MS = 20, SLEEP_BUSY_MS = 3, STOP_HOLD_MS = 20 };

PLAT_THREAD* s_pSoundThread = nullptr;
std::atomic<SOUND_WAIT_IDLE_FN> s_pfnWaitIdle{nullptr};
// The ring's text buffers: one block, SNDREQ_TEXT_SIZE bytes per entry.
char* s_pRingText = nullptr;

struct SOUND_ERROR_TEXT {
    int32_t nCode;
    int nText;
};
const SOUND_ERROR_TEXT kSoundErrorTexts[] = {
    {-1, TXT_SND_ERR_NO_BUFFER},       {-310, TXT_SND_ERR_NO_BUFFER},
    {-330, TXT_SND_ERR_NO_BUFFER},     {-410, TXT_SND_ERR_NO_BUFFER},
    {-430, TXT_SND_ERR_NO_BUFFER},     {-1010, TXT_SND_ERR_NO_BUFFER},
    {-110, TXT_SND_ERR_PLAY},          {-120, TXT_SND_ERR_PLAY},
    {-440, TXT_SND_ERR_PLAY},          {-320, TXT_SND_ERR_POSITION},
    {-340, TXT_SND_ERR_POSITION},      {-420, TXT_SND_ERR_POSITION},
    {-1020, TXT_SND_ERR_OPEN_FILE},    {-1030, TXT_SND_ERR_OGG_FORMAT},
    {-1040, TXT_SND_ERR_OGG_UNSEEKABLE}, {-1045, TXT_SND_ERR_OGG_CHAINED},
    {-1050, TXT_SND_ERR_OGG_INFO},     {-1060, TXT_SND_ERR_DS_BUFFER},
    {-1080, TXT_SND_ERR_DS_BUFFER},    {-1070, TXT_SND_ERR_DS_ALLOC},
    {-1090, TXT_SND_ERR_DS_ALLOC},     {-1120, TXT_SND_ERR_DS_CREATE},
    {-2010, TXT_SND_ERR_OGG_OPEN},     {-3010, TXT_SND_ERR_OGG_OPEN},
    {-2020, TXT_SND_ERR_OGG_SEEK},     {-3020, TXT_SND_ERR_OGG_SEEK},
    {-3030, TXT_SND_ERR_WRITE},        {-3040, TXT_SND_ERR_LOCK},
    {-3050, TXT_SND_ERR_UNLOCK},       {-90001, TXT_SND_ERR_OGG_DECODE},
    {-90002, TXT_SND_ERR_OGG_DECODE},
};

struct DS_CREATE_TEXT {
    int nResult;
    int nText;
};
const DS_CREATE_TEXT kCreateFailureTexts[] = {
    {DSERR_ALLOCATED, TXT_SND_INIT_ALLOCATED},
    {DSERR_NODRIVER, TXT_SND_INIT_NODRIVER},
    {DSERR_INVALIDPARAM, TXT_SND_INIT_INVALIDPARAM},
    {DSERR_OUTOFMEMORY, TXT_SND_INIT_OUTOFMEMORY},
    {DSERR_NOAGGREGATION, TXT_SND_INIT_NOAGGREGATION},
};

uint32_t MainWindowHandle(void)
{
    const WINDOW_STATE* pWin = g_apWindowState[0];
    return pWin ? pWin->hWnd : g_hMainWnd;
}

// The main window's active flag; without a main window nothing can take the focus away.
int IsMainWindowActive(void)
{
    const WINDOW_STATE* pWin = g_apWindowState[0];
    return pWin ? pWin->bActive != 0 : 1;
}

uint8_t ReadSoundThreadState(void)
{
    PlatLockEnter(g_csEngine);
    const uint8_t b = g_bSoundThreadState;
    PlatLockLeave(g_csEngine);
    return b;
}

void WriteSoundThreadState(uint8_t b)
{
    PlatLockEnter(g_csEngine);
    g_bSoundThreadState = b;
    PlatLockLeave(g_csEngine);
}

}  // namespace

// The start-up hook: 0 when the device opened, 1 when it did not.
int InitDirectSoundHook(void)
{
    return InitDirectSound() == 1 ? 0 : 1;
}

// The shut-down hook: the thread has been told to stop; join it, then give the device back.
void ReleaseDirectSoundHook(void)
{
    JoinSoundThread();
    ReleaseDirectSound();
}

// ---------------------------------------------------------------------------------------------
// Device

int InitDirectSound(void)
{
    PLAT_DS* pDs = nullptr;
    const int hr = PlatDsCreate(&pDs);
    if (hr != PLAT_DS_OK || !pDs) {
        for (const DS_CREATE_TEXT& t : kCreateFailureTexts) {
            if (t.nResult == hr) {
                ShowMessageBox(GetEngineText(TXT_SND_INIT_CAPTION), "%s", GetEngineText(t.nText));
                break;
            }
        }
        return 0;
    }
    g_lpDirectSound = pDs;
    if (PlatDsSetCooperativeLevel(pDs, MainWindowHandle(), DSSCL_PRIORITY) != PLAT_DS_OK) {
        // No device is better than one that was never set up: release it so that no buffer is made.
        PlatDsRelease(pDs);
        g_lpDirectSound = nullptr;
        ReportError(COOPERATIVE_ERROR, 0);
        return 0;
    }
    return 1;
}

void ReleaseDirectSound(void)
{
    if (g_nSoundMode == SNDMODE_OFF || !g_lpDirectSound) return;
    PlatDsSetCooperativeLevel(g_lpDirectSound, MainWindowHandle(), DSSCL_NORMAL);
    PlatDsRelease(g_lpDirectSound);
    g_lpDirectSound = nullptr;
}

int StopChannelBuffer(SOUND_CHANNEL* pChannel)
{
    if (!g_lpDirectSound || !pChannel || !pChannel->pBuffer) return 0;
    PlatDsBufferStop(pChannel->pBuffer);
    return 1;
}

// ---------------------------------------------------------------------------------------------
// Request ring

int InitSoundRequests(void)
{
    if (!g_apSndReqNode) {
        TREE_NODE** ppNode = new (std::nothrow) TREE_NODE*[SNDREQ_RING_SIZE]();
        uint8_t* pCode = new (std::nothrow) uint8_t[SNDREQ_RING_SIZE]();
        char** ppText = new (std::nothrow) char*[SNDREQ_RING_SIZE]();
        char* pText = new (std::nothrow) char[static_cast<size_t>(SNDREQ_RING_SIZE) * SNDREQ_TEXT_SIZE]();
        int32_t* pValue = new (std::nothrow) int32_t[SNDREQ_RING_SIZE]();
        std::atomic<int32_t>* pDone = new (std::nothrow) std::atomic<int32_t>[SNDREQ_RING_SIZE]();
        if (!ppNode || !pCode || !ppText || !pText || !pValue || !pDone) {
            delete[] ppNode;
            delete[] pCode;
            delete[] ppText;
            delete[] pText;
            delete[] pValue;
            delete[] pDone;
            ReportError(KX_ERR_NO_MEMORY, 1);
            return -1;
        }
        for (int32_t i = 0; i < SNDREQ_RING_SIZE; ++i) {
            ppText[i] = pText + static_cast<size_t>(i) * SNDREQ_TEXT_SIZE;
            pDone[i].store(0);
        }
        s_pRingText = pText;
        g_abSndReqCode = pCode;
        g_apszSndReqText = ppText;
        g_anSndReqValue = pValue;
        g_anSndReqDone = pDone;
        g_apSndReqNode = ppNode;
    }
    g_apfnSoundOps[0] = nullptr;
    g_apfnSoundOps[SNDREQ_LOAD] = SoundOpLoad;
    g_apfnSoundOps[SNDREQ_PLAY] = SoundOpPlay;
    g_apfnSoundOps[SNDREQ_PAUSE] = SoundOpPause;
    g_apfnSoundOps[SNDREQ_FADEOUT] = SoundOpFadeOut;
    g_apfnSoundOps[SNDREQ_VOLUME] = SoundOpVolume;
    g_apfnSoundOps[SNDREQ_FADE_TARGET] = SoundOpFadeTarget;
    g_apfnSoundOps[SNDREQ_LOOP_COUNT] = SoundOpLoopCount;
    g_apfnSoundOps[SNDREQ_END_POS] = SoundOpEndPos;
    g_apfnSoundOps[SNDREQ_START_POS] = SoundOpStartPos;
    g_apfnSoundOps[SNDREQ_LOOP_START] = SoundOpLoopStart;
    g_apfnSoundOps[SNDREQ_PAN] = SoundOpPan;
    g_apfnSoundOps[SNDREQ_FREQUENCY] = SoundOpFrequency;
    g_apfnSoundOps[SNDREQ_NOP] = SoundOpNop;
    g_apfnSoundOps[SNDREQ_UNLOAD] = SoundOpUnload;
    return 0;
}

void ResetSoundRequests(void)
{
    InitSoundRequests();
    PlatLockEnter(g_csEngine);
    for (int32_t i = 0; i < SNDREQ_RING_SIZE; ++i) {
        g_apSndReqNode[i] = nullptr;
        g_abSndReqCode[i] = 0;
        g_apszSndReqText[i][0] = '\0';
        g_anSndReqValue[i] = 0;
        g_anSndReqDone[i].store(0);
    }
    g_nSndReqWrite.store(0);
    g_nSndReqRead.store(0);
    PlatLockLeave(g_csEngine);
}

int32_t PostSoundRequest(TREE_NODE* pNode, uint8_t bCode, int32_t nValue, const char* pszText)
{
    if (!g_apSndReqNode) return -1;
    PlatLockEnter(g_csEngine);
    const int32_t w = g_nSndReqWrite.load();
    const int32_t wNext = (w + 1) % SNDREQ_RING_SIZE;
    if (wNext == g_nSndReqRead.load()) {
        PlatLockLeave(g_csEngine);
        // The ring only fills while the sound thread is stuck or gone: the request is dropped, and
        // the poster gets no entry to wait for.
        ReportError(RING_FULL_ERROR, 0);
        return -1;
    }
    g_apSndReqNode[w] = pNode;
    g_abSndReqCode[w] = bCode;
    g_anSndReqValue[w] = nValue;
    CopyTextBounded(g_apszSndReqText[w], SNDREQ_TEXT_SIZE, pszText ? pszText : "");
    g_anSndReqDone[w].store(0);
    g_nSndReqWrite.store(wNext);
    PlatLockLeave(g_csEngine);
    return w;
}

int IsSoundWaitOver(void)
{
    if (g_bEngineStop.load()) return 1;
    const uint8_t bState = ReadSoundThreadState();
    if (bState == SNDTHREAD_RUNNING) return 0;
    if (bState == SNDTHREAD_NOT_STARTED && s_pfnWaitIdle.load()) return 0;
    return 1;
}

void IdleSoundWait(void)
{
    // The sound thread may be handing a message box to the window thread, which may be the one
    // waiting here: the wait's turns serve it.
    if (SOUND_WAIT_IDLE_FN pfn = s_pfnWaitIdle.load()) pfn();
    else PlatWaitTurn(1);
}

void SetSoundWaitIdle(SOUND_WAIT_IDLE_FN pfnIdle)
{
    s_pfnWaitIdle.store(pfnIdle);
}

int WaitSoundRequest(int32_t nEntry)
{
    if (nEntry < 0 || nEntry >= SNDREQ_RING_SIZE || !g_anSndReqDone) return -1;
    // A request whose handler failed is never marked done: the wait ends with the sound thread.
    for (;;) {
        if (g_anSndReqDone[nEntry].load() != 0) return 0;
        if (IsSoundWaitOver()) return g_anSndReqDone[nEntry].load() != 0 ? 0 : -1;
        IdleSoundWait();
    }
}

// ---------------------------------------------------------------------------------------------
// The thread

int StartSoundThread(void)
{
    if (s_pSoundThread) return 0;
    // Running from now on, so that shut-down waits even for a thread that has not begun yet.
    WriteSoundThreadState(SNDTHREAD_RUNNING);
    s_pSoundThread = PlatThreadStart(SoundThreadProc, nullptr);
    if (!s_pSoundThread) {
        WriteSoundThreadState(SNDTHREAD_ENDED);
        return -1;
    }
    PlatThreadSetIdealProcessor(s_pSoundThread, g_nCPUs > 0 ? g_nCPUs - 1 : 0);
    PlatThreadSetPriority(s_pSoundThread, PLAT_PRIORITY_BELOW_NORMAL);
    return 0;
}

void JoinSoundThread(void)
{
    if (!s_pSoundThread) return;
    PlatThreadJoin(s_pSoundThread, nullptr);
    s_pSoundThread = nullptr;
}

int StartSoundSystem(void)
{
    if (InitSoundRequests() != 0) return -1;
    if (StartSoundThread() != 0) return -1;
    if (g_nSoundMode != SNDMODE_OFF && CreateSoundRoot() != 0) return -1;
    return 0;
}

int CreateSoundRoot(void)
{
    if (!g_pSoundRoot) return -1;
    // The sound thread walks the tree every pass: the node is linked in under the lock.
    PlatLockEnter(g_csEngine);
    TREE_NODE* pNode = CreateNode(g_pSoundRoot, "ROOT", 0, SND_SILENCE_ORDER);
    SOUND_CHANNEL* pChannel = pNode ? AttachSoundChannel(pNode) : nullptr;
    if (pChannel) {
        CopyTextBounded(pChannel->szName, sizeof pChannel->szName, " ");
        pChannel->bSourceKind = SNDSRC_WAV;
    }
    PlatLockLeave(g_csEngine);
    if (!pChannel) return -1;
    // Half a second of built-in silence, looped at a low volume for the whole run.
    PostSoundRequest(pNode, SNDREQ_VOLUME, 2, nullptr);
    PostSoundRequest(pNode, SNDREQ_LOAD, 0, " ");
    PostSoundRequest(pNode, SNDREQ_PLAY, 0, nullptr);
    return 0;
}

void ApplySoundFocusPause(void)
{
    TREE_NODE* pFirst = g_pSoundRoot ? g_pSoundRoot->pFirstChild : nullptr;
    const int bEnginePaused = g_bEnginePaused == 1;
    int nSet = -1;  // 1 pause everything, 0 resume, -1 nothing
    if (g_bRunInBackground) {
        if (bEnginePaused && !g_bSoundsPaused) nSet = 1;
        else if (!bEnginePaused && g_bSoundsPaused) nSet = 0;
    } else {
        const int bActive = IsMainWindowActive();
        if (bEnginePaused || (!bActive && !g_bSoundsPaused)) nSet = 1;
        else if (bActive && g_bSoundsPaused) nSet = 0;
    }
    if (nSet < 0) return;
    g_bSoundsPaused = static_cast<uint8_t>(nSet);
    // Errors of the focus pause are not the game's: they are ignored.
    PauseSoundTree(pFirst, nSet);
}

int DrainSoundRequests(void)
{
    if (!g_apSndReqNode) return 0;
    for (;;) {
        const int32_t r = g_nSndReqRead.load();
        if (r == g_nSndReqWrite.load()) return 0;
        if (g_apSndReqNode[r]) {
            const uint8_t bCode = g_abSndReqCode[r];
            SOUND_OP_FN pfn = bCode < SNDREQ_CODE_COUNT ? g_apfnSoundOps[bCode] : nullptr;
            if (pfn) {
                const int nResult = pfn(r);
                if (nResult < 0) return nResult;
                if (nResult == 0) return 0;  // kept; this and every later request wait
            }
        }
        g_anSndReqDone[r].store(1);
        g_nSndReqRead.store((r + 1) % SNDREQ_RING_SIZE);
    }
}

int RunSoundPassOnce(void)
{
    PlatLockEnter(g_csEngine);
    TREE_NODE* pFirst = g_pSoundRoot ? g_pSoundRoot->pFirstChild : nullptr;
    ApplySoundFocusPause();
    int nResult = DrainSoundRequests();
    if (nResult >= 0) {
        StepSoundFades(pFirst);
        nResult = TrackSoundPlayback(pFirst);
    }
    if (nResult >= 0) nResult = RefillSoundBuffers(pFirst);
    const uint8_t bStop = g_bEngineStop.load();
    PlatLockLeave(g_csEngine);
    if (nResult < 0) return nResult;
    return bStop ? 0 : 1;
}

int RunSoundLoop(void)
{
    for (;;) {
        const int bEmpty = g_nSndReqRead.load() == g_nSndReqWrite.load();
        PlatSleep(bEmpty ? SLEEP_IDLE_MS : SLEEP_BUSY_MS);
        const int nResult = RunSoundPassOnce();
        if (nResult == 0) return 0;
        if (nResult < 0) {
            ShowSoundError(nResult);
            return nResult;
        }
    }
}

void StopAllSounds(void)
{
    PlatLockEnter(g_csEngine);
    PlatSleep(STOP_HOLD_MS);
    PlatLockLeave(g_csEngine);
    // Query commands read channels under the lock: the channels are unloaded under it too.
    PlatLockEnter(g_csEngine);
    if (g_pSoundRoot) UnloadSoundTree(g_pSoundRoot->pFirstChild);
    PlatLockLeave(g_csEngine);
}

int SoundThreadProc(void* pArg)
{
    (void)pArg;
    WriteSoundThreadState(SNDTHREAD_RUNNING);
    RunSoundLoop();
    StopAllSounds();
    WriteSoundThreadState(SNDTHREAD_ENDED);
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Errors

const char* GetSoundErrorBody(int32_t nCode)
{
    for (const SOUND_ERROR_TEXT& t : kSoundErrorTexts) {
        if (t.nCode == nCode) return GetEngineText(t.nText);
    }
    return GetEngineText(TXT_SND_ERR_INTERNAL);
}

void FormatSoundError(int32_t nCode, char* pszOut, size_t nSize)
{
    if (!pszOut || nSize == 0) return;
    std::string strText;
    if (nCode == SNDERR_OGG_CHAINED) {
        strText = GetSoundErrorBody(nCode);
    } else {
        const int64_t llAbs = nCode < 0 ? -static_cast<int64_t>(nCode) : static_cast<int64_t>(nCode);
        strText = GetEngineText(TXT_SND_ERR_NUMBER);
        strText += std::to_string(llAbs);
        strText += "\n\n";
        strText += GetSoundErrorBody(nCode);
    }
    CopyTextBoundedN(pszOut, nSize, strText.data(), strText.size());
}

void ShowSoundError(int32_t nCode)
{
    char szText[SOUND_ERROR_TEXT_SIZE];
    FormatSoundError(nCode, szText, sizeof szText);
    PlatMessageBoxA("DEBUG Message", szText, PLAT_MB_OK);
    // The game cannot go on without its sounds: it ends as after a fatal error.
    StopEngineForError();
}

// The sound commands. They never touch a channel's buffers: every change goes through the request
// ring, and the commands wait (outside the engine lock) only for what must have happened before
// the script goes on. Every change of the sound tree and every read of a channel happens under the
// engine lock, because the sound thread walks the tree and writes the channels in each pass.
#include "sound/cmd_sound.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/file_location.h"
#include "core/kx_limits.h"
#include "core/object_tree.h"
#include "platform/plat_audio.h"
#include "platform/plat_thread.h"
#include "script/command_args.h"
#include "script/command_ids.h"
#include "script/dispatch.h"
#include "core/game_config.h"
#include "script/script_tables.h"
#include "script/variables.h"
#include "sound/sound.h"

namespace {

// Nodes taken out of the tree whose record and channel are not freed yet: an UNLOAD for them can
// still wait in the ring. ReclaimDeletedSoundNodes frees them once nothing can reach them.
std::vector<TREE_NODE*> s_apDeleted;



SOUND_CHANNEL* NodeChannel(const TREE_NODE* pNode) { return pNode ? static_cast<SOUND_CHANNEL*>(pNode->pPayload) : nullptr; }

// The node at the path argument: *pbGroup 1 for a group path. -1 after a reported path error, 0
// otherwise (*ppNode NULL when there is no such object).
int FindSoundArgNode(int nArgId, char* pszPath, int* pbGroup, TREE_NODE** ppNode)
{
    *ppNode = nullptr;
    const int r = NormalizeObjectPath(pszPath, ArgText(nArgId), g_pszSoundPath ? g_pszSoundPath : "", 0);
    if (r < 0) return -1;
    *pbGroup = r;
    if (g_pSoundRoot) *ppNode = FindNodeByPath(g_pSoundRoot, pszPath, r ? KX_FIND_GROUP : KX_FIND_LEAF);
    return 0;
}

// Waits outside the lock until the channel is empty. 0, or -1 when the wait ended because the sound
// thread is gone or the engine stops.
int WaitChannelEmpty(const SOUND_CHANNEL* pChannel)
{
    for (;;) {
        if (pChannel->bState.load() == SNDSTATE_EMPTY) return 0;
        if (IsSoundWaitOver()) return pChannel->bState.load() == SNDSTATE_EMPTY ? 0 : -1;
        IdleSoundWait();
    }
}

// Posts a request and waits until the sound thread has executed it. A request that could not be
// posted (the ring is full, already reported) is not waited for. 0, or -1 when the wait ended
// without the request being done.
int PostAndWait(TREE_NODE* pNode, uint8_t bCode, int32_t nValue, const char* pszText)
{
    const int32_t nEntry = PostSoundRequest(pNode, bCode, nValue, pszText);
    if (nEntry < 0) return 0;
    return WaitSoundRequest(nEntry) == 0 ? 0 : -1;
}

// Creates the node and its channel as one change of the tree. The parent is looked up first so
// that a missing group is reported outside the lock. The node, or NULL after a reported error.
TREE_NODE* CreateSoundNode(const char* pszPath, int bGroup)
{
    if (!g_pSoundRoot || !FindParentNode(pszPath, g_pSoundRoot)) return nullptr;
    PlatLockEnter(g_csEngine);
    TREE_NODE* pNode = CreateNode(g_pSoundRoot, pszPath, static_cast<uint8_t>(bGroup ? 1 : 0), 1);
    if (pNode && !AttachSoundChannel(pNode)) {
        RemoveNode(pNode);
        FreeTreeNode(pNode);
        pNode = nullptr;
    }
    PlatLockLeave(g_csEngine);
    return pNode;
}

// Step 4 of the sound command: unload what the object holds, find the file and load it. 1 go on,
// 0 end the command (the file was not found), -1 after an error.
int GiveSoundFile(TREE_NODE* pNode, SOUND_CHANNEL* pChannel)
{
    if (pChannel->bState.load() != SNDSTATE_EMPTY) {
        if (PostSoundRequest(pNode, SNDREQ_UNLOAD, 0, nullptr) >= 0 && WaitChannelEmpty(pChannel) != 0) return -1;
    }
    char szResolved[KX_MAX_PATH];
    FILE_LOCATION loc{};
    const int r = ResolveResourceFile(&loc, szResolved, sizeof szResolved, ArgText(SOUND_ARG_FILE), RESOLVE_SOUND);
    if (r < 0) return -1;
    // A name the channel cannot hold is a name no file can be loaded by.
    if (r == 1 || std::strlen(szResolved) >= static_cast<size_t>(SND_NAME_SIZE)) return 0;
    uint8_t bKind;
    switch (loc.bType) {
    case FILETYPE_WAV: bKind = SNDSRC_WAV; break;
    case FILETYPE_OGG: bKind = SNDSRC_OGG; break;
    default:
        ReportScriptErrorF(KX_ERR_SOUND_BAD_TYPE, 1, GetScriptCommandName(CMDID_SOUND), szResolved);
        return -1;
    }
    PlatLockEnter(g_csEngine);
    pChannel->bSourceKind = bKind;
    PlatLockLeave(g_csEngine);
    return PostAndWait(pNode, SNDREQ_LOAD, 0, szResolved) == 0 ? 1 : -1;
}

// The levels of the frame at the play cursor: the first sample, or (nWhich 2) the second channel's
// sample, mono frames answering their only sample.
int ReadSoundLevel(SOUND_CHANNEL* pChannel, int nWhich)
{
    if (!pChannel || !pChannel->pBuffer) return -1;
    const uint32_t nChannels = pChannel->fmt.nChannels, nBits = pChannel->fmt.wBitsPerSample;
    if ((nChannels != 1 && nChannels != 2) || (nBits != 8 && nBits != 16)) return -1;
    uint32_t dwPlay = 0;
    if (PlatDsBufferGetCurrentPosition(pChannel->pBuffer, &dwPlay, nullptr) != PLAT_DS_OK) return -1;
    const uint32_t nFrame = nBits / 8 * nChannels;
    void* p1 = nullptr;
    void* p2 = nullptr;
    uint32_t n1 = 0, n2 = 0;
    if (PlatDsBufferLock(pChannel->pBuffer, dwPlay, nFrame, &p1, &n1, &p2, &n2, 0) != PLAT_DS_OK) return -1;
    int nLevel = -1;
    if (p1 && n1 >= nFrame) {
        const uint32_t nIndex = (nWhich == 2 && nChannels == 2) ? 1 : 0;
        const uint8_t* pb = static_cast<const uint8_t*>(p1);
        if (nBits == 16) {
            int16_t s;
            std::memcpy(&s, pb + nIndex * 2, 2);
            nLevel = std::abs(static_cast<int>(s));
        } else {
            nLevel = std::abs(static_cast<int>(pb[nIndex]) - 128);
        }
    }
    PlatDsBufferUnlock(pChannel->pBuffer, p1, n1, p2, n2);
    return nLevel;
}

// A property of ids 1..22 except 8, read under the lock. 0, or 1 for a position query into a text
// output before anything was loaded (the caller reports it).
int ReadSoundProperty(SOUND_CHANNEL* c, int nId, int bTextOut, int64_t* pllValue)
{
    int nResult = 0;
    int64_t v = 0;
    PlatLockEnter(g_csEngine);
    switch (nId) {
    case 1: v = c->bSourceKind != SNDSRC_NONE ? 1 : 0; break;
    case 2: v = c->bEnabled; break;
    case 3: {
        const uint8_t s = c->bState.load();
        v = (s == SNDSTATE_FADEIN || s == SNDSTATE_PLAYING || s == SNDSTATE_FADEOUT) ? 1 : 0;
        break;
    }
    case 4: v = c->bPaused; break;
    case 5: v = c->nVolume; break;
    case 6: v = c->nPan; break;
    case 7: v = c->nFrequency; break;
    case 9: v = c->bSourceKind; break;
    case 10: v = c->nStartPos; break;
    case 11: v = c->nLoopStart; break;
    case 12: v = c->nEndPos; break;
    case 13: v = c->nPlaysRequested; break;
    case 14: v = c->nPlaysDone; break;
    case 15:
        if (c->llBytesPerSec == 0) nResult = bTextOut ? 1 : 0;
        else v = c->llBytesPlayed * 1000 / c->llBytesPerSec;
        break;
    case 16: v = c->llLength; break;
    case 17: v = c->fmt.nChannels; break;
    case 18: v = c->fmt.wBitsPerSample; break;
    case 19: v = c->fmt.nSamplesPerSec; break;
    case 20: v = GetSoundLevelFirst(c); break;
    case 21: v = GetSoundLevelSecond(c); break;
    case 22: v = c->bDecodedForm; break;
    default: break;
    }
    PlatLockLeave(g_csEngine);
    *pllValue = v;
    return nResult;
}

// The nodes that pending requests name, sorted; and (pbLoadPending) whether one of them is a LOAD
// or PLAY for pNode, the requests that can fill an empty channel. Runs under the lock.
std::vector<TREE_NODE*> PendingRequestNodes(const TREE_NODE* pNode, bool* pbLoadPending)
{
    std::vector<TREE_NODE*> apNodes;
    if (pbLoadPending) *pbLoadPending = false;
    if (!g_apSndReqNode) return apNodes;
    for (int32_t i = g_nSndReqRead.load(); i != g_nSndReqWrite.load(); i = (i + 1) % SNDREQ_RING_SIZE) {
        if (!g_apSndReqNode[i]) continue;
        apNodes.push_back(g_apSndReqNode[i]);
        if (pbLoadPending && g_apSndReqNode[i] == pNode &&
            (g_abSndReqCode[i] == SNDREQ_LOAD || g_abSndReqCode[i] == SNDREQ_PLAY))
            *pbLoadPending = true;
    }
    std::sort(apNodes.begin(), apNodes.end());
    return apNodes;
}

// Frees the deleted nodes that nothing can reach any more. A node out of the tree is reached by
// the sound thread only through the requests that name it; under the lock the thread is between
// passes, so a node that no pending request names is the caller's alone.
void ReclaimDeletedLocked(void)
{
    if (s_apDeleted.empty()) return;
    const std::vector<TREE_NODE*> apPending = PendingRequestNodes(nullptr, nullptr);
    std::vector<TREE_NODE*> apKeep;
    for (TREE_NODE* pNode : s_apDeleted) {
        if (std::binary_search(apPending.begin(), apPending.end(), pNode)) {
            apKeep.push_back(pNode);
            continue;
        }
        SOUND_CHANNEL* pChannel = NodeChannel(pNode);
        pNode->pPayload = nullptr;
        if (pChannel) ReleaseSoundChannel(pChannel);
        FreeTreeNode(pNode);
    }
    s_apDeleted.swap(apKeep);
}

}  // namespace

int GetSoundLevelFirst(SOUND_CHANNEL* pChannel) { return ReadSoundLevel(pChannel, 1); }
int GetSoundLevelSecond(SOUND_CHANNEL* pChannel) { return ReadSoundLevel(pChannel, 2); }

int ReclaimDeletedSoundNodes(void)
{
    PlatLockEnter(g_csEngine);
    ReclaimDeletedLocked();
    const int n = static_cast<int>(s_apDeleted.size());
    PlatLockLeave(g_csEngine);
    return n;
}

void DeleteSoundNode(TREE_NODE* pNode)
{
    if (!pNode) return;
    SOUND_CHANNEL* pChannel = NodeChannel(pNode);
    // An empty channel with no LOAD or PLAY on its way stays empty: its UNLOAD would do nothing,
    // and posting one per object would fill the ring when a large group is deleted at once.
    PlatLockEnter(g_csEngine);
    bool bLoadPending = false;
    PendingRequestNodes(pNode, &bLoadPending);
    const bool bUnload = !pChannel || pChannel->bState.load() != SNDSTATE_EMPTY || bLoadPending;
    PlatLockLeave(g_csEngine);
    // A wait that ends because the sound thread is gone leaves nobody who could touch the node.
    if (bUnload && PostSoundRequest(pNode, SNDREQ_UNLOAD, 0, nullptr) >= 0 && pChannel) WaitChannelEmpty(pChannel);
    PlatLockEnter(g_csEngine);
    ReclaimDeletedLocked();
    RemoveNode(pNode);
    s_apDeleted.push_back(pNode);
    PlatLockLeave(g_csEngine);
}

void DeleteSoundChildren(TREE_NODE* pNode)
{
    if (!pNode) return;
    TREE_NODE* pChild = pNode->pFirstChild;
    while (pChild) {
        // The next sibling is taken first: deleting the child unlinks it.
        TREE_NODE* pNext = pChild->pNext;
        if (pChild->bGroup) DeleteSoundChildren(pChild);
        DeleteSoundNode(pChild);
        pChild = pNext;
    }
}

void DeleteSoundGroup(TREE_NODE* pNode)
{
    if (!pNode) return;
    DeleteSoundChildren(pNode);
    DeleteSoundNode(pNode);
}

int CmdSound(void)
{
    if (FetchCommandArgs(CMDID_SOUND) != 0) return -1;
    if (g_nSoundMode == SNDMODE_OFF) return 0;

    char szPath[KX_MAX_OBJECT_PATH];
    int bGroup = 0;
    TREE_NODE* pNode = nullptr;
    if (FindSoundArgNode(SOUND_ARG_PATH, szPath, &bGroup, &pNode) < 0) return -1;
    const bool bFile = HasArg(SOUND_ARG_FILE);
    // A group holds other objects, never a sound of its own: a file for one is refused whether the
    // group is new or already there (its channel would play the file without its settings).
    if (bGroup && bFile) {
        ReportScriptErrorF(KX_ERR_SOUND_GROUP_FILE, 1, GetScriptCommandName(CMDID_SOUND));
        return -1;
    }
    if (!pNode) {
        if (!bGroup && !bFile) return 0;
        pNode = CreateSoundNode(szPath, bGroup);
        if (!pNode) return -1;
    }
    SOUND_CHANNEL* pChannel = NodeChannel(pNode);
    if (!pChannel) return -1;

    if (bFile) {
        const int r = GiveSoundFile(pNode, pChannel);
        if (r <= 0) return r;
    }

    if (HasArg(SOUND_ARG_ENABLED)) {
        PlatLockEnter(g_csEngine);
        pChannel->bEnabled = static_cast<uint8_t>(ArgInt(SOUND_ARG_ENABLED));
        PostSoundRequest(pNode, SNDREQ_VOLUME, pChannel->nVolume, nullptr);
        PlatLockLeave(g_csEngine);
    }

    // The settings that need not have happened before the script goes on, in this fixed order.
    static const struct {
        int nArgId;
        uint8_t bCode;
    } kSettings[] = {
        {SOUND_ARG_START, SNDREQ_START_POS}, {SOUND_ARG_LOOP_START, SNDREQ_LOOP_START},
        {SOUND_ARG_END, SNDREQ_END_POS},     {SOUND_ARG_PLAYS, SNDREQ_LOOP_COUNT},
        {SOUND_ARG_PAN, SNDREQ_PAN},         {SOUND_ARG_FREQUENCY, SNDREQ_FREQUENCY},
        {SOUND_ARG_NOP, SNDREQ_NOP},
    };
    for (const auto& s : kSettings) {
        if (!HasArg(s.nArgId)) continue;
        if (s.nArgId == SOUND_ARG_PLAYS) {
            // The tracker reads it in every pass.
            PlatLockEnter(g_csEngine);
            pChannel->nPlaysRequested = ArgLow32(SOUND_ARG_PLAYS);
            PlatLockLeave(g_csEngine);
        }
        PostSoundRequest(pNode, s.bCode, ArgLow32(s.nArgId), nullptr);
    }
    const bool bPlaySwitch = HasArg(SOUND_ARG_PLAY);
    if (HasArg(SOUND_ARG_VOLUME))
        PostSoundRequest(pNode, bPlaySwitch ? SNDREQ_FADE_TARGET : SNDREQ_VOLUME, ArgLow32(SOUND_ARG_VOLUME), nullptr);

    if (bPlaySwitch) {
        const int32_t nFade = HasArg(SOUND_ARG_FADE) ? ArgLow32(SOUND_ARG_FADE) : 0;
        if (ArgInt(SOUND_ARG_PLAY) == 1) {
            if (PostAndWait(pNode, SNDREQ_PLAY, nFade, nullptr) != 0) return -1;
        } else {
            PostSoundRequest(pNode, SNDREQ_FADEOUT, nFade, nullptr);
        }
    }
    if (HasArg(SOUND_ARG_PAUSE)) {
        if (PostAndWait(pNode, SNDREQ_PAUSE, ArgInt(SOUND_ARG_PAUSE) == 1 ? 1 : 0, nullptr) != 0) return -1;
    }
    return 0;
}

int CmdSoundDelete(void)
{
    if (FetchCommandArgs(CMDID_SOUND_DELETE) != 0) return -1;
    char szPath[KX_MAX_OBJECT_PATH];
    int bGroup = 0;
    TREE_NODE* pNode = nullptr;
    if (FindSoundArgNode(SOUND_ARG_PATH, szPath, &bGroup, &pNode) < 0) return -1;
    if (!pNode) return 0;
    if (bGroup)
        DeleteSoundGroup(pNode);
    else
        DeleteSoundNode(pNode);
    return 0;
}

int CmdSoundGet(void)
{
    if (FetchCommandArgs(CMDID_SOUND_GET) != 0) return -1;
    const auto [nVar, llElem, pVar] = GetArgOut(SOUND_GET_ARG_OUT);

    char szPath[KX_MAX_OBJECT_PATH];
    int bGroup = 0;
    TREE_NODE* pNode = nullptr;
    if (FindSoundArgNode(SOUND_GET_ARG_PATH, szPath, &bGroup, &pNode) < 0) return -1;
    if (!pVar) return 0;
    const bool bTextOut = pVar->bType == KX_VAR_TYPE_STRING;
    SOUND_CHANNEL* pChannel = NodeChannel(pNode);
    if (!pChannel) {
        // An element outside the variable is left as it is: the stores refuse it without a report.
        if (bTextOut) SetVarString(nVar, llElem, "");
        else if (pVar->bType == KX_VAR_TYPE_INT || pVar->bType == KX_VAR_TYPE_FLOAT) SetVarInt(nVar, llElem, 0);
        return 0;
    }

    int64_t v = 0;
    for (int nId = SOUND_GET_ARG_FIRST; nId <= SOUND_GET_ARG_LAST_INT; ++nId) {
        if (!HasArg(nId)) continue;
        ReadSoundProperty(pChannel, nId, bTextOut, &v);
        return SetVarInt(nVar, llElem, v) == 0 ? 0 : -1;
    }

    // Every present one in turn into the same output: the last one stands.
    static const int kOrder[] = {9, 8, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22};
    for (int nId : kOrder) {
        if (!HasArg(nId)) continue;
        if (nId == SOUND_GET_ARG_NAME) {
            char szName[SND_NAME_SIZE];
            PlatLockEnter(g_csEngine);
            std::memcpy(szName, pChannel->szName, sizeof szName);
            PlatLockLeave(g_csEngine);
            szName[sizeof szName - 1] = 0;
            if (SetVarString(nVar, llElem, szName) != 0) return -1;
            continue;
        }
        if (ReadSoundProperty(pChannel, nId, bTextOut, &v) != 0) {
            ReportScriptError(KX_ERR_VAR_WRONG_TYPE, 1);
            return -1;
        }
        if (SetVarInt(nVar, llElem, v) != 0) return -1;
    }
    return 0;
}

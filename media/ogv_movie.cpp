// Theora movies: THEORALIB.DLL decodes an Ogg file held in memory into the frame buffer, and each
// engine frame the frame of the movie's clock (30 per second from its start) is copied into the
// target layer. The library is bound when a movie starts and released when it stops.
#include "media/movies.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "core/cp932.h"
#include "core/errors.h"
#include "core/file_location.h"
#include "core/frame_loop.h"
#include "core/game_config.h"
#include "core/kx_limits.h"
#include "core/kx_texts.h"
#include "core/object_tree.h"
#include "core/window_record.h"
#include "image/cmd_layer.h"
#include "script/dispatch.h"
#include "image/dirty_rects.h"
#include "image/layer.h"
#include "platform/plat_file.h"
#include "platform/plat_modules.h"
#include "platform/plat_theora.h"
#include "platform/plat_time.h"
#include "script/command_args.h"
#include "script/command_ids.h"
#include "script/variables.h"
#include "sound/sound.h"

void* g_hOgvVideo = nullptr;
void* g_hOgvAudio = nullptr;
uint8_t* g_pOgvFrame = nullptr;
uint8_t** g_ppOgvRows = nullptr;
int32_t OGV_SX = 0, OGV_SY = 0;
uint8_t* g_pOgvData = nullptr;
int64_t g_nOgvDataSize = 0;
TREE_NODE* g_pOgvLayer = nullptr;
uint8_t g_bOgvPlaying = 0;
uint32_t g_dwOgvStart = 0;
int32_t g_nOgvFrame = 0;
int32_t g_nOgvTotalFrames = 0;

namespace {

enum { KX_ERR_OGV_LAYER_MISSING = 101250 };

// The library's entries by name, bound per movie.
struct THEORA_LIB {
    PLAT_MODULE* pModule;
    THEORA_M_CREATE_FN mCreate;
    THEORA_M_FREE_FN mFree;
    THEORA_M_LOAD_FN mLoad;
    THEORA_M_DECODEFRAME_FN mDecodeFrame;
    THEORA_M_SETVREVERS_FN mSetVRevers;
    THEORA_M_TOTALFRAME_FN mTotalFrame;
    THEORA_W_CREATE_FN wCreate;
    THEORA_W_FREE_FN wFree;
    THEORA_W_LOAD_FN wLoad;
    THEORA_W_NOWSAMPLE_FN wNowSample;
    void* apOthers[14];   // the names the engine binds and never calls
};
THEORA_LIB s_lib{};

const char* const k_apszTheoraNames[24] = {
    "theoralib_m_create", "theoralib_m_free", "theoralib_m_init", "theoralib_m_load", "theoralib_m_exists",
    "theoralib_m_decodeframe", "theoralib_m_setvrevers", "theoralib_m_setdecodemode", "theoralib_m_nowframe",
    "theoralib_m_totalframe", "theoralib_m_totaltime", "theoralib_m_info", "theoralib_m_comment",
    "theoralib_w_create", "theoralib_w_free", "theoralib_w_init", "theoralib_w_load", "theoralib_w_exists",
    "theoralib_w_decodesample", "theoralib_w_nowsample", "theoralib_w_totalsample", "theoralib_w_totaltime",
    "theoralib_w_info", "theoralib_w_comment"};

// The library reads the movie data only through these.
int32_t OgvReadCallback(void* pData, void* pDest, int64_t llPos, int32_t nCount)
{
    if (!pData || !pDest || llPos < 0 || nCount <= 0 || llPos >= g_nOgvDataSize) return 0;
    const int64_t n = std::min<int64_t>(nCount, g_nOgvDataSize - llPos);
    std::memcpy(pDest, static_cast<const uint8_t*>(pData) + llPos, static_cast<size_t>(n));
    return static_cast<int32_t>(n);
}

int64_t OgvSizeCallback(void) { return g_nOgvDataSize; }

uint8_t* OgvRowCallback(void*, int32_t nRow)
{
    if (!g_ppOgvRows || nRow < 0 || nRow >= OGV_SY) return nullptr;
    return g_ppOgvRows[nRow];
}

int32_t OgvResizeCallback(void*, int32_t nWidth, int32_t nHeight)
{
    if (nWidth == OGV_SX && nHeight == OGV_SY && g_pOgvFrame) return 0;
    return ResizeOgvFrameBuffer(nWidth, nHeight) == 0 ? 0 : -1;
}

void FreeOgvFrameBuffer(void)
{
    std::free(g_ppOgvRows);
    g_ppOgvRows = nullptr;
    std::free(g_pOgvFrame);
    g_pOgvFrame = nullptr;
    OGV_SX = OGV_SY = 0;
}

// Everything OpenOgvMovie made, released (also after a half-made open).
void ReleaseOgvParts(void)
{
    if (g_hOgvVideo && s_lib.mFree) s_lib.mFree(g_hOgvVideo);
    g_hOgvVideo = nullptr;
    if (g_hOgvAudio && s_lib.wFree) s_lib.wFree(g_hOgvAudio);
    g_hOgvAudio = nullptr;
    FreeOgvFrameBuffer();
    std::free(g_pOgvData);
    g_pOgvData = nullptr;
    g_nOgvDataSize = 0;
    g_nOgvTotalFrames = 0;
    UnloadTheoraLib();
}

// The command's file name: lower case, '\' separators.
void NormaliseMovieName(char* pszOut, size_t nCap, const char* pszName)
{
    CopyTextBounded(pszOut, nCap, pszName);
    LowerCaseASCII(pszOut);
    SlashesToBackslashes(pszOut);
}

int IsLooseFile(const char* pszName)
{
    PLAT_FILE* pFile = PlatFileOpen(pszName, PLAT_FILE_READ);
    if (!pFile) return 0;
    PlatFileClose(pFile);
    return 1;
}

void EndOgvMovie(void)
{
    StopOgvMovie();
    g_pOgvLayer = nullptr;
    g_bOgvPlaying = 0;
}

}  // namespace

int BindTheoraLib(void)
{
    UnloadTheoraLib();
    PLAT_MODULE* pModule = PlatLoadLibrary("TheoraLib.dll");
    if (!pModule) return 0;
    void* ap[24];
    for (int i = 0; i < 24; ++i) ap[i] = PlatGetProcAddress(pModule, k_apszTheoraNames[i]);
    s_lib.pModule = pModule;
    s_lib.mCreate = reinterpret_cast<THEORA_M_CREATE_FN>(ap[0]);
    s_lib.mFree = reinterpret_cast<THEORA_M_FREE_FN>(ap[1]);
    s_lib.mLoad = reinterpret_cast<THEORA_M_LOAD_FN>(ap[3]);
    s_lib.mDecodeFrame = reinterpret_cast<THEORA_M_DECODEFRAME_FN>(ap[5]);
    s_lib.mSetVRevers = reinterpret_cast<THEORA_M_SETVREVERS_FN>(ap[6]);
    s_lib.mTotalFrame = reinterpret_cast<THEORA_M_TOTALFRAME_FN>(ap[9]);
    s_lib.wCreate = reinterpret_cast<THEORA_W_CREATE_FN>(ap[13]);
    s_lib.wFree = reinterpret_cast<THEORA_W_FREE_FN>(ap[14]);
    s_lib.wLoad = reinterpret_cast<THEORA_W_LOAD_FN>(ap[16]);
    s_lib.wNowSample = reinterpret_cast<THEORA_W_NOWSAMPLE_FN>(ap[19]);
    const int k_aOthers[14] = {2, 4, 7, 8, 10, 11, 12, 15, 17, 18, 20, 21, 22, 23};
    for (int i = 0; i < 14; ++i) s_lib.apOthers[i] = ap[k_aOthers[i]];
    return 1;
}

void UnloadTheoraLib(void)
{
    if (s_lib.pModule) PlatFreeLibrary(s_lib.pModule);
    s_lib = THEORA_LIB{};
}

int ResizeOgvFrameBuffer(int32_t nWidth, int32_t nHeight)
{
    std::free(g_ppOgvRows);
    g_ppOgvRows = nullptr;
    if (nWidth < 1 || nHeight < 1) {
        std::free(g_pOgvFrame);
        g_pOgvFrame = nullptr;
        OGV_SX = OGV_SY = 0;
        return 0;
    }
    // The allocation notice is for the developer: a box here would stop the game at every movie.
    char szNotice[128];
    FormatText(szNotice, sizeof szNotice, GetEngineText(TXT_OGV_ALLOC_NOTICE), nWidth, nHeight);
    DebugTrace("ResizeOgvFrameBuffer", szNotice);
    // The size is taken in 64 bits and capped: the sizes come from the file. The sizes change only
    // together with the buffer, so no row is ever longer than the buffer holds.
    uint8_t* pNew = nullptr;
    uint8_t** ppRows = nullptr;
    if (nWidth <= KX_OGV_MAX_SIDE && nHeight <= KX_OGV_MAX_SIDE) {
        // 64-byte aligned, so that the conversion's wide stores never split a cache line (rows of
        // a width that is a multiple of 16 pixels all start on a boundary).
        const size_t nBytes = (static_cast<size_t>(nWidth) * 4u * static_cast<size_t>(nHeight) + 63u) / 64u * 64u;
        pNew = static_cast<uint8_t*>(std::aligned_alloc(64, nBytes));
        if (pNew) {
            std::free(g_pOgvFrame);
            g_pOgvFrame = pNew;
            ppRows = static_cast<uint8_t**>(std::malloc(sizeof(uint8_t*) * static_cast<size_t>(nHeight)));
        }
    }
    if (!pNew || !ppRows) {
        ShowMessageBox("", GetEngineText(TXT_OGV_ALLOC_FAILED), nWidth, nHeight);
        FreeOgvFrameBuffer();
        return -1;
    }
    std::memset(g_pOgvFrame, 0, static_cast<size_t>(nWidth) * 4u * static_cast<size_t>(nHeight));
    for (int32_t y = 0; y < nHeight; ++y) ppRows[y] = g_pOgvFrame + static_cast<size_t>(y) * nWidth * 4u;
    g_ppOgvRows = ppRows;
    OGV_SX = nWidth;
    OGV_SY = nHeight;
    return 0;
}

int OpenOgvMovie(const char* pszName)
{
    if (!BindTheoraLib()) {
        ShowMessageBox("", GetEngineText(TXT_OGV_DLL_MISSING));
        return -1;
    }
    if (ResizeOgvFrameBuffer(1, 1) != 0) {
        ReleaseOgvParts();
        return -1;
    }
    FILE_LOCATION loc{};
    const int nFound = LocateFile(&loc, pszName, 0);
    uint8_t* pData = nullptr;
    size_t nSize = 0;
    if (ReadFoundFile(&loc, nFound, pszName, &pData, &nSize) != 0) {
        ReleaseOgvParts();
        return -1;
    }
    g_pOgvData = pData;
    g_nOgvDataSize = static_cast<int64_t>(nSize);

    g_hOgvVideo = s_lib.mCreate();
    if (!g_hOgvVideo) {
        ReleaseOgvParts();
        return -1;
    }
    s_lib.mSetVRevers(g_hOgvVideo, 1);
    if (s_lib.mLoad(g_hOgvVideo, g_pOgvData, OgvReadCallback, OgvSizeCallback, g_pOgvFrame, OgvRowCallback,
                    OgvResizeCallback, 0) != 0) {
        // Not a Theora movie, damaged headers, or a frame buffer that could not be made.
        ReportErrorF(KX_ERR_FILE_READ, 0, pszName);
        ReleaseOgvParts();
        return -1;
    }
    // The sound plays on the engine's mixer; without sound it is silent.
    PlatTheoraSetAudioDevice(g_nSoundMode != SNDMODE_OFF ? g_lpDirectSound : nullptr);
    g_hOgvAudio = s_lib.wCreate();
    if (g_hOgvAudio) s_lib.wLoad(g_hOgvAudio, g_pOgvData, OgvReadCallback, OgvSizeCallback);   // no sound: silent
    g_nOgvTotalFrames = s_lib.mTotalFrame(g_hOgvVideo);
    return 0;
}

void ShowOgvFrame(TREE_NODE* pNode)
{
    if (!g_hOgvVideo || s_lib.mDecodeFrame(g_hOgvVideo, g_nOgvFrame) != 1) return;
    LAYER* pLayer = GetNodeLayer(pNode);
    if (!pLayer || !pLayer->pOwnedPixels || !g_pOgvFrame) return;
    // A layer of another size gets the top-left part that both have.
    if (pLayer->nBufWidth != pLayer->nWidth || pLayer->nBufHeight != pLayer->nHeight) return;
    const int32_t nCols = std::min(OGV_SX, pLayer->nWidth), nRows = std::min(OGV_SY, pLayer->nHeight);
    if (nCols <= 0 || nRows <= 0) return;
    const size_t nStride = static_cast<size_t>(pLayer->nWidth) * 4u;
    for (int32_t y = 0; y < nRows; ++y)
        std::memcpy(pLayer->pOwnedPixels + static_cast<size_t>(y) * nStride, g_ppOgvRows[y], static_cast<size_t>(nCols) * 4u);
    MarkPixelsChanged(pLayer);
    MarkLayerDirty(pNode);
}

void StopOgvMovie(void)
{
    if (!g_hOgvVideo && !g_pOgvData && !g_pOgvFrame && !s_lib.pModule) return;
    ReleaseOgvParts();
}

// The test switch KOLVEX_FRAME_CLOCK=1 (read when a movie starts): the movie's time counts the
// engine's frames, 1000 / frame rate ms each, instead of following the clock, so that the picture
// shown at a given frame is the same on a machine of any speed.
static uint8_t s_bOgvFrameClock = 0;
static int64_t s_llOgvStartFrame = 0;

// Milliseconds the playing movie has run.
static uint32_t OgvElapsedMs(void)
{
    if (!s_bOgvFrameClock) return PlatGetTime() - g_dwOgvStart;
    const int64_t llFps = g_nFps < 1 ? 1 : g_nFps;
    // Rounded up, so that the frames of a whole number of pictures (two each at 60 frames a second)
    // reach that picture exactly.
    return static_cast<uint32_t>(((g_llFrameCount - s_llOgvStartFrame) * 1000 + llFps - 1) / llFps);
}

void AdvanceOgvMovie(void)
{
    if (!g_bOgvPlaying) return;
    const uint32_t dwElapsed = OgvElapsedMs();
    const uint32_t dwFrame = dwElapsed * 30u / 1000u;
    if (dwFrame >= static_cast<uint32_t>(std::max(g_nOgvTotalFrames, 0))) {
        EndOgvMovie();
        return;
    }
    g_nOgvFrame = static_cast<int32_t>(dwFrame);
    ShowOgvFrame(g_pOgvLayer);
}

void ForgetOgvLayer(TREE_NODE* pNode)
{
    if (pNode && pNode == g_pOgvLayer) EndOgvMovie();
}

int CmdOgvPlay(void)
{
    if (FetchCommandArgs(CMDID_OGV_PLAY) != 0) return -1;
    TREE_NODE* pNode = nullptr;
    char szPath[KX_MAX_OBJECT_PATH] = "";
    if (HasArg(OGV_PLAY_ARG_LAYER)) {
        const int bGroup = ResolveLayerArgPath(szPath);
        if (bGroup < 0) return -1;
        pNode = FindLayerNode(szPath, bGroup);
        if (!pNode || !GetNodeLayer(pNode)) {
            ReportScriptErrorF(KX_ERR_OGV_LAYER_MISSING, 1, GetScriptCommandName(CMDID_OGV_PLAY), szPath);
            return -1;
        }
    }
    if (HasArg(OGV_PLAY_ARG_WIDTH))
        g_nMovieW = static_cast<int32_t>(ApplyArgOp(ArgOp(OGV_PLAY_ARG_WIDTH), g_nMovieW, ArgInt(OGV_PLAY_ARG_WIDTH)));
    if (HasArg(OGV_PLAY_ARG_HEIGHT))
        g_nMovieH = static_cast<int32_t>(ApplyArgOp(ArgOp(OGV_PLAY_ARG_HEIGHT), g_nMovieH, ArgInt(OGV_PLAY_ARG_HEIGHT)));
    if (!HasArg(OGV_PLAY_ARG_FILE)) return 0;
    // A movie needs a layer to play into.
    if (!pNode) {
        ReportScriptErrorF(KX_ERR_OGV_LAYER_MISSING, 1, GetScriptCommandName(CMDID_OGV_PLAY), szPath);
        return -1;
    }
    char szFile[KX_MAX_PATH];
    NormaliseMovieName(szFile, sizeof szFile, ArgText(OGV_PLAY_ARG_FILE));
    if (!HasArg(OGV_PLAY_ARG_WIDTH) && g_apWindowState[0]) g_nMovieW = g_apWindowState[0]->nWidth;
    if (!HasArg(OGV_PLAY_ARG_HEIGHT) && g_apWindowState[0]) g_nMovieH = g_apWindowState[0]->nHeight;
    if (!IsLooseFile(szFile)) return 0;

    // A movie that plays is ended first: its decoders and the library go before the new start.
    EndOgvMovie();
    if (OpenOgvMovie(szFile) != 0) return 0;
    g_pOgvLayer = pNode;
    g_nOgvFrame = 0;
    g_dwOgvStart = PlatGetTime();
    const char* pszFrameClock = std::getenv("KOLVEX_FRAME_CLOCK");
    s_bOgvFrameClock = pszFrameClock && std::strcmp(pszFrameClock, "1") == 0;
    s_llOgvStartFrame = g_llFrameCount;
    ShowOgvFrame(pNode);
    g_bOgvPlaying = 1;
    return 0;
}

int CmdOgvStop(void)
{
    EndOgvMovie();
    return 0;
}

int CmdOgvGet(void)
{
    if (FetchCommandArgs(CMDID_OGV_GET) != 0) return -1;
    const ARG_OUT out = GetArgOut(OGV_GET_ARG_OUT);
    if (!out.nVar) return 0;   // absent, or a literal in its place
    const int nVar = out.nVar;
    const int64_t llElem = out.llElem;
    int64_t v;
    if (HasArg(OGV_GET_ARG_WINDOW_PLAYING))
        v = g_bMoviePlaying;
    else if (HasArg(OGV_GET_ARG_SAMPLE))
        v = g_hOgvAudio && s_lib.wNowSample ? s_lib.wNowSample(g_hOgvAudio) : 0;
    else if (HasArg(OGV_GET_ARG_HEIGHT))
        v = g_nMovieH;
    else if (HasArg(OGV_GET_ARG_VOLUME))
        v = g_nMovieVolume;
    else if (HasArg(OGV_GET_ARG_MPEG_FILE))
        v = GetMpegKind(ArgText(OGV_GET_ARG_MPEG_FILE));
    else
        return 0;
    return SetVarInt(nVar, llElem, v) == 0 ? 0 : -1;
}

int CmdMovieNop(void)
{
    return FetchCommandArgs(CMDID_MOVIE_NOP) != 0 ? -1 : 0;
}

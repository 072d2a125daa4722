// Window movies: a movie file played over the main window's picture by the platform's movie back
// end, in the DirectShow style (scaled placement, the sound volume law, graph events) or the MCI
// style (placement in the output area, volume x 1000 / 256, a notification at the end), chosen by
// the settings at start-up. While one plays the frame step does not draw the main window.
#include "media/movies.h"

#include <cmath>
#include <cstring>

#include "core/cp932.h"
#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/frame_loop.h"
#include "core/game_config.h"
#include "core/kx_limits.h"
#include "core/settings.h"
#include "core/window_record.h"
#include "platform/plat_file.h"
#include "platform/plat_movie.h"
#include "script/command_args.h"
#include "script/command_ids.h"
#include "script/variables.h"
#include "sound/sound.h"

char g_szMovieFile[KX_MAX_PATH] = "";
uint8_t g_nMciMovieOpen = 0;

namespace {

enum { KX_ERR_MOVIE_NO_NAME = 101510, KX_ERR_MOVIE_GRAPH = 101520 };

PLAT_DS* MovieAudioDevice(void) { return g_nSoundMode != SNDMODE_OFF ? g_lpDirectSound : nullptr; }

int32_t GameWidth(void) { return g_apWindowState[0] ? g_apWindowState[0]->nWidth : 0; }
int32_t GameHeight(void) { return g_apWindowState[0] ? g_apWindowState[0]->nHeight : 0; }

}  // namespace

// ---- placement ---------------------------------------------------------------------------------

MOVIE_RECT PlaceDirectShowMovie(int32_t x, int32_t y, int32_t w, int32_t h)
{
    const int32_t gw = GameWidth(), gh = GameHeight();
    const double fx = gw != 0 ? static_cast<double>(g_nOutputWidth) / gw : 1.0;
    const double fy = gh != 0 ? static_cast<double>(g_nOutputHeight) / gh : 1.0;
    MOVIE_RECT r;
    r.x = static_cast<int32_t>(g_nOutputOffsetX + fx * x);
    r.y = static_cast<int32_t>(g_nOutputOffsetY + fy * y);
    r.w = gw != 0 ? static_cast<int32_t>(static_cast<int64_t>(w) * g_nOutputWidth / gw) : w;
    r.h = gh != 0 ? static_cast<int32_t>(static_cast<int64_t>(h) * g_nOutputHeight / gh) : h;
    return r;
}

MOVIE_RECT PlaceMciMovie(int32_t x, int32_t y, int32_t w, int32_t h)
{
    const int64_t gw = GameWidth(), gh = GameHeight();
    int64_t aw = g_nOutputWidth, ah = g_nOutputHeight, ax = g_nOutputOffsetX, ay = g_nOutputOffsetY;
    if (g_nScaleMode == 2 && gw > 0 && gh > 0) {
        // The largest rectangle of the game's shape centred in the drawing target.
        const int64_t tw = g_nTargetWidth, th = g_nTargetHeight;
        if (th > gh * tw / gw) {
            aw = tw;
            ah = gh * tw / gw;
        } else {
            aw = gw * th / gh;
            ah = th;
        }
        ax = (tw - aw) / 2;
        ay = (th - ah) / 2;
    }
    MOVIE_RECT r;
    r.x = static_cast<int32_t>(ax + x);
    r.y = static_cast<int32_t>(ay + y);
    r.w = gw != 0 ? static_cast<int32_t>(w * aw / gw) : w;
    r.h = gh != 0 ? static_cast<int32_t>(h * ah / gh) : h;
    return r;
}

// ---- DirectShow style --------------------------------------------------------------------------

// The platform's movie over the owner's window rectangle, its sound on the engine's mixer.
static int OpenPlatMovie(PLAT_HWND hOwner, const char* pszFile, int32_t x, int32_t y, int32_t w, int32_t h,
                         int32_t nVolume, int nNotify)
{
    PLAT_MOVIE_OPEN o{};
    o.hOwner = hOwner;
    o.pszFile = pszFile;
    o.x = x;
    o.y = y;
    o.w = w;
    o.h = h;
    o.nVolume = nVolume;
    o.nNotify = nNotify;
    o.pAudio = MovieAudioDevice();
    return PlatMovieOpen(&o);
}

int OpenDirectShowMovie(PLAT_HWND hOwner, const char* pszFile, int32_t x, int32_t y, int32_t w, int32_t h, int32_t nVolume)
{
    ReleaseDirectShowMovie();
    if (!pszFile || !*pszFile) return -1;
    return OpenPlatMovie(hOwner, pszFile, x, y, w, h, SoundVolumeToBuffer(nVolume), PLAT_MOVIE_NOTIFY_GRAPH) == 0 ? 0 : -2;
}

int SetDirectShowWindowRect(int32_t x, int32_t y, int32_t w, int32_t h)
{
    return PlatMovieSetRect(x, y, w, h) == 0 ? 0 : -1;
}

void SetDirectShowVolume(int32_t nVolume)
{
    if (PlatMovieIsOpen()) PlatMovieSetVolume(SoundVolumeToBuffer(nVolume));
}

int PumpDirectShowEvents(void)
{
    if (!PlatMovieIsOpen()) return 0;
    for (;;) {
        const int nEvent = PlatMovieGetEvent();
        if (nEvent == PLAT_MOVIE_EVENT_NONE) return 0;
        // A failed decoding ends the movie as its end does: nothing more will come.
        if (nEvent == PLAT_MOVIE_EVENT_COMPLETE || nEvent == PLAT_MOVIE_EVENT_USERABORT ||
            nEvent == PLAT_MOVIE_EVENT_ERRORABORT) {
            ReleaseDirectShowMovie();
            return 1;
        }
    }
}

void StopDirectShowMovie(void)
{
    if (PlatMovieIsOpen()) PlatMovieStop();
}

void ReleaseDirectShowMovie(void)
{
    PlatMovieRelease();
}

// ---- MCI style ---------------------------------------------------------------------------------

int OpenMCIMovie(PLAT_HWND hOwner, const char* pszFile, int32_t x, int32_t y, int32_t w, int32_t h)
{
    CloseMCIMovie();
    return OpenPlatMovie(hOwner, pszFile, x, y, w, h, 0, PLAT_MOVIE_NOTIFY_MCI) == 0 ? 1 : 0;
}

void MoveMCIMovie(int32_t x, int32_t y, int32_t w, int32_t h)
{
    PlatMovieSetRect(x, y, w, h);
}

void SetMCIMovieVolume(int32_t nVolume)
{
    PlatMovieSetVolumeLinear(nVolume * 1000 / 256);
}

void StopMCIMovie(void)
{
    PlatMovieStop();
}

void CloseMCIMovie(void)
{
    PlatMovieStop();
    PlatMovieRelease();
}

// ---- the window procedure's and the frame step's parts -------------------------------------------

void HandleGraphNotify(void)
{
    if (PumpDirectShowEvents() == 1) g_bMoviePlaying = 0;
}

void HandleMciNotify(uintptr_t wParam)
{
    if (!g_nMciMovieOpen) return;
    // A failure ends the movie as well: the device plays nothing more.
    if (wParam == PLAT_MCI_NOTIFY_SUCCESSFUL || wParam == PLAT_MCI_NOTIFY_FAILURE) g_bMoviePlaying = 0;
}

void RepositionMovieWindow(void)
{
    if (!PlatMovieIsOpen()) return;
    const MOVIE_RECT r = g_bUseDirectShow ? PlaceDirectShowMovie(g_nMovieX, g_nMovieY, g_nMovieW, g_nMovieH)
                                          : PlaceMciMovie(g_nMovieX, g_nMovieY, g_nMovieW, g_nMovieH);
    if (g_bUseDirectShow)
        SetDirectShowWindowRect(r.x, r.y, r.w, r.h);
    else
        MoveMCIMovie(r.x, r.y, r.w, r.h);
}

int IsWindowMovieOwningScreen(void)
{
    if (g_bDrawDuringMovie) return 0;
    return g_bUseDirectShow ? g_bMoviePlaying != 0 : g_nMciMovieOpen != 0;
}

void ReleaseWindowMovies(void)
{
    ReleaseDirectShowMovie();
    CloseMCIMovie();
    g_nMciMovieOpen = 0;
    g_bMoviePlaying = 0;
    // A Theora movie still playing at shut-down goes with them.
    StopOgvMovie();
}

// ---- commands ----------------------------------------------------------------------------------

int CmdMovie(void)
{
    if (FetchCommandArgs(CMDID_MOVIE) != 0) return -1;
    if (HasArg(MOVIE_ARG_X)) g_nMovieX = static_cast<int32_t>(ApplyArgOp(ArgOp(MOVIE_ARG_X), g_nMovieX, ArgInt(MOVIE_ARG_X)));
    if (HasArg(MOVIE_ARG_Y)) g_nMovieY = static_cast<int32_t>(ApplyArgOp(ArgOp(MOVIE_ARG_Y), g_nMovieY, ArgInt(MOVIE_ARG_Y)));
    if (HasArg(MOVIE_ARG_W)) g_nMovieW = static_cast<int32_t>(ApplyArgOp(ArgOp(MOVIE_ARG_W), g_nMovieW, ArgInt(MOVIE_ARG_W)));
    if (HasArg(MOVIE_ARG_H)) g_nMovieH = static_cast<int32_t>(ApplyArgOp(ArgOp(MOVIE_ARG_H), g_nMovieH, ArgInt(MOVIE_ARG_H)));

    if (HasArg(MOVIE_ARG_FILE)) {
        char szFile[KX_MAX_PATH];
        CopyTextBounded(szFile, sizeof szFile, ArgText(MOVIE_ARG_FILE));
        LowerCaseASCII(szFile);
        SlashesToBackslashes(szFile);
        if (!HasArg(MOVIE_ARG_X)) g_nMovieX = 0;
        if (!HasArg(MOVIE_ARG_Y)) g_nMovieY = 0;
        if (!HasArg(MOVIE_ARG_W)) g_nMovieW = GameWidth();
        if (!HasArg(MOVIE_ARG_H)) g_nMovieH = GameHeight();
        PLAT_FILE* pFile = PlatFileOpen(szFile, PLAT_FILE_READ);
        if (!pFile) return 0;
        PlatFileClose(pFile);
        CopyTextBounded(g_szMovieFile, sizeof g_szMovieFile, szFile);
        g_bMoviePlaying = 0;
    }

    if (HasArg(MOVIE_ARG_VOLUME)) {
        g_nMovieVolume = static_cast<int32_t>(ArgInt(MOVIE_ARG_VOLUME));
        if (g_bUseDirectShow)
            SetDirectShowVolume(g_nMovieVolume);
        else
            SetMCIMovieVolume(g_nMovieVolume);
    }

    if (!HasArg(MOVIE_ARG_PLAY)) return 0;
    const int64_t llPlay = ArgInt(MOVIE_ARG_PLAY);
    if (llPlay == 0) {
        if (g_bUseDirectShow)
            StopDirectShowMovie();
        else
            StopMCIMovie();
        g_bMoviePlaying = 0;
        return 0;
    }
    if (llPlay != 1) return 0;

    if (g_bUseDirectShow) {
        const MOVIE_RECT r = PlaceDirectShowMovie(g_nMovieX, g_nMovieY, g_nMovieW, g_nMovieH);
        const int nResult = OpenDirectShowMovie(g_hMainWnd, g_szMovieFile, r.x, r.y, r.w, r.h, g_nMovieVolume);
        if (nResult == -1) {
            ReportScriptError(KX_ERR_MOVIE_NO_NAME, 0);
            return -1;
        }
        if (nResult != 0) {
            ReportScriptError(KX_ERR_MOVIE_GRAPH, 0);
            return -1;
        }
    } else {
        const MOVIE_RECT r = PlaceMciMovie(g_nMovieX, g_nMovieY, g_nMovieW, g_nMovieH);
        g_nMciMovieOpen = static_cast<uint8_t>(OpenMCIMovie(g_hMainWnd, g_szMovieFile, r.x, r.y, r.w, r.h));
        // A device that did not open plays nothing: the movie is not reported as playing.
        if (!g_nMciMovieOpen) return 0;
        SetMCIMovieVolume(g_nMovieVolume);
    }
    g_bMoviePlaying = 1;
    return 0;
}

int CmdMovieStop(void)
{
    if (g_bUseDirectShow)
        ReleaseDirectShowMovie();
    else
        CloseMCIMovie();
    g_szMovieFile[0] = 0;
    g_bMoviePlaying = 0;
    g_nMovieVolume = 256;
    g_nMciMovieOpen = 0;
    return 0;
}

int CmdMovieGet(void)
{
    if (FetchCommandArgs(CMDID_MOVIE_GET) != 0) return -1;
    const ARG_OUT out = GetArgOut(MOVIE_GET_ARG_OUT);
    if (!out.nVar) return 0;   // absent, or a literal in its place
    int64_t v;
    if (HasArg(MOVIE_GET_ARG_PLAYING)) v = g_bMoviePlaying;
    else if (HasArg(MOVIE_GET_ARG_X)) v = g_nMovieX;
    else if (HasArg(MOVIE_GET_ARG_Y)) v = g_nMovieY;
    else if (HasArg(MOVIE_GET_ARG_W)) v = g_nMovieW;
    else if (HasArg(MOVIE_GET_ARG_H)) v = g_nMovieH;
    else if (HasArg(MOVIE_GET_ARG_VOLUME)) v = g_nMovieVolume;
    else if (HasArg(MOVIE_GET_ARG_MPEG_FILE)) v = GetMpegKind(ArgText(MOVIE_GET_ARG_MPEG_FILE));
    else return 0;
    return SetVarInt(out.nVar, out.llElem, v) == 0 ? 0 : -1;
}

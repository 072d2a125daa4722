// Movies: Theora movies decoded by THEORALIB.DLL into a layer on a 30-frames-per-second clock
// (commands 73 to 76), and window movies played over the main window's picture by a back end
// (commands 70 to 72). Both run on the thread that runs the scripts and take no lock; the window
// procedure hands the window movie's notifications over on the window thread.
#pragma once
#include <cstddef>
#include <cstdint>

struct TREE_NODE;

// ---- shared by both kinds --------------------------------------------------------------------

// The movie rectangle in game coordinates (width and height are also the Theora command's) and
// the window movie's volume 0..256 (256 at start and after a stop).
extern int32_t g_nMovieX, g_nMovieY, g_nMovieW, g_nMovieH;
extern int32_t g_nMovieVolume;
// 1 while a window movie plays.
extern uint8_t g_bMoviePlaying;

// The MPEG kind of a file in the working folder: 0 missing, 1 MPEG-1 program stream, 2 MPEG-2
// program stream, 255 anything else (also a file of fewer than five bytes).
int GetMpegKind(const char* pszName);

// ---- Theora movies ---------------------------------------------------------------------------

// Largest frame side the engine makes a frame buffer for.
enum { KX_OGV_MAX_SIDE = 8192 };

extern void* g_hOgvVideo;
extern void* g_hOgvAudio;
extern uint8_t* g_pOgvFrame;        // OGV_SX x OGV_SY pixels of 4 bytes
extern uint8_t** g_ppOgvRows;       // OGV_SY row pointers into it
extern int32_t OGV_SX, OGV_SY;
extern uint8_t* g_pOgvData;         // the movie file, whole
extern int64_t g_nOgvDataSize;
extern TREE_NODE* g_pOgvLayer;      // the layer node the movie is drawn into
extern uint8_t g_bOgvPlaying;
extern uint32_t g_dwOgvStart;
extern int32_t g_nOgvFrame;
extern int32_t g_nOgvTotalFrames;

// Binds THEORALIB.DLL (any copy bound before is released first): 1, or 0 when it is missing.
int BindTheoraLib(void);
void UnloadTheoraLib(void);
// A frame buffer of width x height: 0, or -1 (then OGV_SX = OGV_SY = 0 and no buffer). Traces the
// allocation notice for a height of at least 1; a failure shows its box.
int ResizeOgvFrameBuffer(int32_t nWidth, int32_t nHeight);
// Opens a movie file found through the file sources: 0, or -1 after a box or a report.
int OpenOgvMovie(const char* pszName);
// Decodes frame g_nOgvFrame and copies it into the node's layer (clipped to both sizes).
void ShowOgvFrame(TREE_NODE* pNode);
// Releases the decoders, the buffers and the library; nothing when no movie is loaded.
void StopOgvMovie(void);

// The frame step's advance of a playing movie.
void AdvanceOgvMovie(void);
// The layer code tells that a node is being freed: a movie drawn into it stops.
void ForgetOgvLayer(TREE_NODE* pNode);

int CmdOgvPlay(void);
int CmdOgvStop(void);
int CmdOgvGet(void);
int CmdMovieNop(void);

// Argument ids.
enum {
    OGV_PLAY_ARG_LAYER = 0,
    OGV_PLAY_ARG_NUMBER = 1,
    OGV_PLAY_ARG_FILE = 2,
    OGV_PLAY_ARG_WIDTH = 4,
    OGV_PLAY_ARG_HEIGHT = 5,
    OGV_GET_ARG_WINDOW_PLAYING = 0,
    OGV_GET_ARG_SAMPLE = 1,
    OGV_GET_ARG_HEIGHT = 2,
    OGV_GET_ARG_VOLUME = 3,
    OGV_GET_ARG_MPEG_FILE = 4,
    OGV_GET_ARG_OUT = 5,
};

// ---- window movies ---------------------------------------------------------------------------

#include "platform/plat_window.h"

extern char g_szMovieFile[];          // KX_MAX_PATH bytes
extern uint8_t g_nMciMovieOpen;       // 1 while an MCI-style movie is open

// A rectangle in client pixels.
struct MOVIE_RECT {
    int32_t x, y, w, h;
};
// Where a movie of the game rectangle goes in the main window's client area: the DirectShow style
// scales position and size by output / game size from the output's offset; the MCI style places it
// unscaled from the output area's offset (in scale mode 2 the largest area of the game's shape
// centred in the target) and scales its size.
MOVIE_RECT PlaceDirectShowMovie(int32_t x, int32_t y, int32_t w, int32_t h);
MOVIE_RECT PlaceMciMovie(int32_t x, int32_t y, int32_t w, int32_t h);

// DirectShow style. Open: 0, -1 for an empty name, -2 when the movie cannot be played. The others
// touch only an open movie.
int OpenDirectShowMovie(PLAT_HWND hOwner, const char* pszFile, int32_t x, int32_t y, int32_t w, int32_t h, int32_t nVolume);
int SetDirectShowWindowRect(int32_t x, int32_t y, int32_t w, int32_t h);
void SetDirectShowVolume(int32_t nVolume);        // 0..256 by the sound volume law
int PumpDirectShowEvents(void);                   // 1 when the movie ended (or failed) and was released
void StopDirectShowMovie(void);
void ReleaseDirectShowMovie(void);
// MCI style. Open: 1, or 0 when it does not open.
int OpenMCIMovie(PLAT_HWND hOwner, const char* pszFile, int32_t x, int32_t y, int32_t w, int32_t h);
void MoveMCIMovie(int32_t x, int32_t y, int32_t w, int32_t h);
void SetMCIMovieVolume(int32_t nVolume);          // 0..256 sent as nVolume x 1000 / 256
void StopMCIMovie(void);
void CloseMCIMovie(void);

// The window procedure: the graph event message, the MCI notification, and a new main window size.
void HandleGraphNotify(void);
void HandleMciNotify(uintptr_t wParam);
void RepositionMovieWindow(void);

int IsWindowMovieOwningScreen(void);
void ReleaseWindowMovies(void);
int CmdMovie(void);
int CmdMovieStop(void);
int CmdMovieGet(void);

enum {
    MOVIE_ARG_FILE = 0,
    MOVIE_ARG_PLAY = 1,
    MOVIE_ARG_X = 2,
    MOVIE_ARG_Y = 3,
    MOVIE_ARG_W = 4,
    MOVIE_ARG_H = 5,
    MOVIE_ARG_VOLUME = 6,
    MOVIE_GET_ARG_PLAYING = 0,
    MOVIE_GET_ARG_X = 1,
    MOVIE_GET_ARG_Y = 2,
    MOVIE_GET_ARG_W = 3,
    MOVIE_GET_ARG_H = 4,
    MOVIE_GET_ARG_VOLUME = 5,
    MOVIE_GET_ARG_MPEG_FILE = 6,
    MOVIE_GET_ARG_OUT = 7,
};

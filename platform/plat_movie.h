// Window movies in place of DirectShow filter graphs and the MCI "MPEGVideo" device: one movie at a
// time plays over a window's client area. Three back ends stand behind the same calls:
//   ffmpeg  (default) libavformat and libavcodec decode the file on a thread of their own;
//           libswscale scales each picture to the movie rectangle, which is drawn into the window's
//           retained picture and presented on the window thread; libswresample turns the sound
//           into 16-bit stereo at 48000 Hz, played as a streaming voice of the engine's mixer.
//           Pictures follow the clock from the start of playback.
//   null    nothing can be rendered: every open fails with -2.
//   fake    tests: records every call as a line of text and plays nothing; events are injected.
// The end of a movie and a decoding failure are queued as events and announced to the owner window
// by a posted message: PLAT_WM_GRAPH_NOTIFY (the event is read with PlatMovieGetEvent), or for
// the MCI style PLAT_WM_MCI_NOTIFY with wParam PLAT_MCI_NOTIFY_SUCCESSFUL or _FAILURE.
// The calls belong to one thread at a time (the engine's script thread, or the window thread while
// it handles a notification); the decoding thread is internal.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/plat_window.h"

struct PLAT_DS;

enum { PLAT_MOVIE_FFMPEG = 0, PLAT_MOVIE_NULL = 1, PLAT_MOVIE_FAKE = 2 };
enum { PLAT_MOVIE_NOTIFY_GRAPH = 0, PLAT_MOVIE_NOTIFY_MCI = 1 };
// Events, with DirectShow's codes.
enum {
    PLAT_MOVIE_EVENT_NONE = 0,
    PLAT_MOVIE_EVENT_COMPLETE = 0x01,     // EC_COMPLETE
    PLAT_MOVIE_EVENT_USERABORT = 0x02,    // EC_USERABORT
    PLAT_MOVIE_EVENT_ERRORABORT = 0x03,   // EC_ERRORABORT
};
constexpr uint32_t PLAT_WM_GRAPH_NOTIFY = 0x8001;
constexpr uint32_t PLAT_WM_MCI_NOTIFY = 0x03B9;   // MM_MCINOTIFY
constexpr uintptr_t PLAT_MCI_NOTIFY_SUCCESSFUL = 0x01;
constexpr uintptr_t PLAT_MCI_NOTIFY_FAILURE = 0x08;

struct PLAT_MOVIE_OPEN {
    PLAT_HWND hOwner;          // the window drawn into and told of events
    const char* pszFile;       // cp932 path with '\' (resolved like every file name)
    int32_t x, y, w, h;        // the rectangle in client pixels
    int32_t nVolume;           // hundredths of a decibel, -10000..0
    int nNotify;               // PLAT_MOVIE_NOTIFY_*
    PLAT_DS* pAudio;           // the mixer the sound plays on; NULL: silent
};

// Chooses the back end for the next open (an open movie is released first).
void PlatMovieSetBackend(int nBackend);
int PlatMovieGetBackend(void);

// Releases any movie, then opens and starts this one: 0 playing, -2 when it cannot be played (no
// such file, no decoder for it, the null back end).
int PlatMovieOpen(const PLAT_MOVIE_OPEN* pOpen);
// 1 while a movie is open (playing, stopped or ended but not released).
int PlatMovieIsOpen(void);
// The rectangle in client pixels; 0, or -1 without a movie.
int PlatMovieSetRect(int32_t x, int32_t y, int32_t w, int32_t h);
// Hundredths of a decibel (clamped to -10000..0); 0, or -1 without a movie.
int PlatMovieSetVolume(int32_t nVolume);
// The MCI volume scale: 0..1000 linear (1000 full); 0, or -1 without a movie.
int PlatMovieSetVolumeLinear(int32_t nLevel);
// Holds the movie where it is (picture and sound stop); 0, or -1 without a movie.
int PlatMovieStop(void);
// Ends the movie and frees everything; nothing without a movie.
void PlatMovieRelease(void);
// The next queued event, PLAT_MOVIE_EVENT_NONE when there is none.
int PlatMovieGetEvent(void);

// ---- fake back end ---------------------------------------------------------------------------
// The calls it received, one line each: "open <file> <x> <y> <w> <h> <volume> <notify>",
// "rect <x> <y> <w> <h>", "volume <v>", "linear <v>", "stop", "release"; taken and cleared.
std::vector<std::string> PlatMovieFakeTakeLog(void);
// The result of the next opens (default 0).
void PlatMovieFakeSetOpenResult(int nResult);
// Queues an event of the open movie and posts its notification to the owner.
void PlatMovieFakeRaiseEvent(int nEvent);

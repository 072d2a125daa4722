// The window-movie back ends behind platform/plat_movie.h (platform only).
#pragma once
#include <cstdint>

#include "platform/plat_movie.h"

struct PLAT_MOVIE_BACKEND_OPS {
    int (*pfnOpen)(const PLAT_MOVIE_OPEN* pOpen);   // 0 playing, -2
    void (*pfnSetRect)(int32_t x, int32_t y, int32_t w, int32_t h);
    void (*pfnSetVolume)(int32_t nVolume);          // hundredths of a decibel
    void (*pfnStop)(void);
    void (*pfnRelease)(void);
};
extern const PLAT_MOVIE_BACKEND_OPS g_FfmpegMovieOps;

// Queues an event of the open movie and posts its notification to the owner (any thread).
void PlatMovieQueueEvent(int nEvent);

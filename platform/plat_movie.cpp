// Window movies: the back end in use, the event queue and the null and fake back ends.
#include "platform/plat_movie.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <mutex>

#include "platform/plat_movie_backend.h"

namespace {

std::mutex g_eventLock;
std::deque<int> g_events;
int g_nBackend = PLAT_MOVIE_FFMPEG;
bool g_bOpen = false;
PLAT_HWND g_hOwner = 0;
int g_nNotify = PLAT_MOVIE_NOTIFY_GRAPH;

// ---- null: nothing renders ----
int NullOpen(const PLAT_MOVIE_OPEN*) { return -2; }
void NullRect(int32_t, int32_t, int32_t, int32_t) {}
void NullVolume(int32_t) {}
void NullNothing(void) {}
const PLAT_MOVIE_BACKEND_OPS k_nullOps = {NullOpen, NullRect, NullVolume, NullNothing, NullNothing};

// ---- fake: a log of the calls ----
std::vector<std::string> g_fakeLog;
int g_nFakeOpenResult = 0;
int FakeOpen(const PLAT_MOVIE_OPEN* p)
{
    g_fakeLog.push_back("open " + std::string(p->pszFile ? p->pszFile : "") + " " + std::to_string(p->x) + " " +
                        std::to_string(p->y) + " " + std::to_string(p->w) + " " + std::to_string(p->h) + " " +
                        std::to_string(p->nVolume) + " " + std::to_string(p->nNotify));
    return g_nFakeOpenResult;
}
void FakeRect(int32_t x, int32_t y, int32_t w, int32_t h)
{
    g_fakeLog.push_back("rect " + std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(w) + " " + std::to_string(h));
}
void FakeVolume(int32_t v) { g_fakeLog.push_back("volume " + std::to_string(v)); }
void FakeStop(void) { g_fakeLog.push_back("stop"); }
void FakeRelease(void) { g_fakeLog.push_back("release"); }
const PLAT_MOVIE_BACKEND_OPS k_fakeOps = {FakeOpen, FakeRect, FakeVolume, FakeStop, FakeRelease};

const PLAT_MOVIE_BACKEND_OPS& Ops(void)
{
    switch (g_nBackend) {
    case PLAT_MOVIE_NULL: return k_nullOps;
    case PLAT_MOVIE_FAKE: return k_fakeOps;
    default: return g_FfmpegMovieOps;
    }
}

int32_t ClampVolume(int32_t v) { return std::clamp<int32_t>(v, -10000, 0); }

}  // namespace

void PlatMovieSetBackend(int nBackend)
{
    PlatMovieRelease();
    g_nBackend = nBackend;
}

int PlatMovieGetBackend(void) { return g_nBackend; }

int PlatMovieOpen(const PLAT_MOVIE_OPEN* pOpen)
{
    PlatMovieRelease();
    if (!pOpen || !pOpen->pszFile) return -2;
    {
        std::lock_guard<std::mutex> g(g_eventLock);
        g_events.clear();
        g_hOwner = pOpen->hOwner;
        g_nNotify = pOpen->nNotify;
    }
    PLAT_MOVIE_OPEN o = *pOpen;
    o.nVolume = ClampVolume(o.nVolume);
    const int r = Ops().pfnOpen(&o);
    if (r != 0) {
        Ops().pfnRelease();
        return -2;
    }
    g_bOpen = true;
    return 0;
}

int PlatMovieIsOpen(void) { return g_bOpen ? 1 : 0; }

int PlatMovieSetRect(int32_t x, int32_t y, int32_t w, int32_t h)
{
    if (!g_bOpen) return -1;
    Ops().pfnSetRect(x, y, w, h);
    return 0;
}

int PlatMovieSetVolume(int32_t nVolume)
{
    if (!g_bOpen) return -1;
    Ops().pfnSetVolume(ClampVolume(nVolume));
    return 0;
}

int PlatMovieSetVolumeLinear(int32_t nLevel)
{
    if (!g_bOpen) return -1;
    if (g_nBackend == PLAT_MOVIE_FAKE) {
        g_fakeLog.push_back("linear " + std::to_string(nLevel));
        return 0;
    }
    const int32_t v = nLevel <= 0 ? -10000 : static_cast<int32_t>(std::lround(2000.0 * std::log10(std::min(nLevel, 1000) / 1000.0)));
    Ops().pfnSetVolume(ClampVolume(v));
    return 0;
}

int PlatMovieStop(void)
{
    if (!g_bOpen) return -1;
    Ops().pfnStop();
    return 0;
}

void PlatMovieRelease(void)
{
    if (!g_bOpen) return;
    Ops().pfnRelease();
    g_bOpen = false;
    std::lock_guard<std::mutex> g(g_eventLock);
    g_events.clear();
    g_hOwner = 0;
}

int PlatMovieGetEvent(void)
{
    std::lock_guard<std::mutex> g(g_eventLock);
    if (g_events.empty()) return PLAT_MOVIE_EVENT_NONE;
    const int n = g_events.front();
    g_events.pop_front();
    return n;
}

void PlatMovieQueueEvent(int nEvent)
{
    PLAT_HWND hOwner;
    int nNotify;
    {
        std::lock_guard<std::mutex> g(g_eventLock);
        g_events.push_back(nEvent);
        hOwner = g_hOwner;
        nNotify = g_nNotify;
    }
    if (!hOwner) return;
    if (nNotify == PLAT_MOVIE_NOTIFY_MCI)
        PlatPostMessage(hOwner, PLAT_WM_MCI_NOTIFY,
                        nEvent == PLAT_MOVIE_EVENT_COMPLETE ? PLAT_MCI_NOTIFY_SUCCESSFUL : PLAT_MCI_NOTIFY_FAILURE, 0);
    else
        PlatPostMessage(hOwner, PLAT_WM_GRAPH_NOTIFY, 0, 0);
}

std::vector<std::string> PlatMovieFakeTakeLog(void)
{
    std::vector<std::string> v;
    v.swap(g_fakeLog);
    return v;
}

void PlatMovieFakeSetOpenResult(int nResult) { g_nFakeOpenResult = nResult; }

void PlatMovieFakeRaiseEvent(int nEvent)
{
    if (g_bOpen) PlatMovieQueueEvent(nEvent);
}

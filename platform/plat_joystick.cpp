// Joysticks through SDL's joystick API, a none backend and a fake (see plat_joystick.h).
#include "platform/plat_joystick.h"

#include <SDL.h>

#include <mutex>

#include "platform/plat_window.h"

namespace {

struct FAKE_SLOT {
    uint8_t bPresent;
    PLAT_JOYINFO info;
};

std::mutex s_mtx;
int s_nBackend = PLAT_JOY_BACKEND_SDL;
int s_nFakeDevs = PLAT_JOY_SLOTS;
FAKE_SLOT s_aFake[PLAT_JOY_SLOTS];
// SDL side: touched on the window thread only.
int s_bSdlInit = 0;            // 1 subsystem up, -1 it failed
SDL_Joystick* s_apStick[PLAT_JOY_SLOTS];

void SdlClose(void)
{
    for (auto& p : s_apStick) {
        if (p) SDL_JoystickClose(p);
        p = nullptr;
    }
    if (s_bSdlInit == 1) SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
    s_bSdlInit = 0;
}

// Headless runs (the dummy or offscreen video driver) have no joysticks.
int IsHeadless(void)
{
    const char* psz = SDL_getenv("SDL_VIDEODRIVER");
    return psz && (SDL_strcasecmp(psz, "dummy") == 0 || SDL_strcasecmp(psz, "offscreen") == 0);
}

int SdlInit(void)
{
    if (s_bSdlInit == 0) s_bSdlInit = !IsHeadless() && SDL_InitSubSystem(SDL_INIT_JOYSTICK) == 0 ? 1 : -1;
    return s_bSdlInit == 1;
}

struct SDL_CALL {
    int nSlot;
    PLAT_JOYINFO* pInfo;
    int nResult;
};

void SdlNumDevs(void* pArg) { static_cast<SDL_CALL*>(pArg)->nResult = SdlInit() ? PLAT_JOY_SLOTS : 0; }

void SdlRead(void* pArg)
{
    SDL_CALL* c = static_cast<SDL_CALL*>(pArg);
    c->nResult = -1;
    if (!SdlInit()) return;
    SDL_JoystickUpdate();
    SDL_Joystick*& p = s_apStick[c->nSlot];
    if (p && !SDL_JoystickGetAttached(p)) {
        SDL_JoystickClose(p);
        p = nullptr;
    }
    // Slot s is SDL's device index s; a stick plugged in later is opened on its first reading.
    if (!p && c->nSlot < SDL_NumJoysticks()) p = SDL_JoystickOpen(c->nSlot);
    if (!p) return;
    c->pInfo->dwXpos = PlatJoystickMapAxis(SDL_JoystickGetAxis(p, 0));
    c->pInfo->dwYpos = PlatJoystickMapAxis(SDL_JoystickGetAxis(p, 1));
    uint32_t dwButtons = 0;
    const int nButtons = SDL_JoystickNumButtons(p);
    for (int i = 0; i < nButtons && i < 32; ++i)
        if (SDL_JoystickGetButton(p, i)) dwButtons |= 1u << i;
    c->pInfo->dwButtons = dwButtons;
    c->nResult = 0;
}

void SdlShutdown(void*) { SdlClose(); }

}  // namespace

uint32_t PlatJoystickMapAxis(int32_t nAxis)
{
    const int64_t v = static_cast<int64_t>(nAxis) + PLAT_JOY_CENTRE;
    const int64_t nMax = PLAT_JOY_AXIS_MAX;
    return static_cast<uint32_t>(v < 0 ? 0 : v > nMax ? nMax : v);
}

void PlatJoystickUseBackend(int nBackend)
{
    PlatJoystickShutdown();
    std::lock_guard<std::mutex> lock(s_mtx);
    s_nBackend = nBackend;
    s_nFakeDevs = PLAT_JOY_SLOTS;
    for (auto& f : s_aFake) f = FAKE_SLOT{};
}

int PlatJoystickGetNumDevs(void)
{
    int nBackend;
    {
        std::lock_guard<std::mutex> lock(s_mtx);
        nBackend = s_nBackend;
        if (nBackend == PLAT_JOY_BACKEND_FAKE) return s_nFakeDevs;
    }
    if (nBackend != PLAT_JOY_BACKEND_SDL) return 0;
    SDL_CALL c{0, nullptr, 0};
    if (PlatRunOnWindowThread(SdlNumDevs, &c, 1) != 0) return 0;
    return c.nResult;
}

int PlatJoystickGetPos(int nSlot, PLAT_JOYINFO* pInfo)
{
    if (!pInfo || nSlot < 0 || nSlot >= PLAT_JOY_SLOTS) return -1;
    int nBackend;
    {
        std::lock_guard<std::mutex> lock(s_mtx);
        nBackend = s_nBackend;
        if (nBackend == PLAT_JOY_BACKEND_FAKE) {
            if (nSlot >= s_nFakeDevs || !s_aFake[nSlot].bPresent) return -1;
            *pInfo = s_aFake[nSlot].info;
            return 0;
        }
    }
    if (nBackend != PLAT_JOY_BACKEND_SDL) return -1;
    PLAT_JOYINFO info{};
    SDL_CALL c{nSlot, &info, -1};
    if (PlatRunOnWindowThread(SdlRead, &c, 1) != 0 || c.nResult != 0) return -1;
    *pInfo = info;
    return 0;
}

void PlatJoystickShutdown(void)
{
    // Nothing SDL-side was ever opened without a window thread, so a refusal leaves nothing behind.
    PlatRunOnWindowThread(SdlShutdown, nullptr, 1);
}

void PlatFakeJoystickSetNumDevs(int nCount)
{
    std::lock_guard<std::mutex> lock(s_mtx);
    s_nFakeDevs = nCount;
}

void PlatFakeJoystickSet(int nSlot, int bPresent, uint32_t dwX, uint32_t dwY, uint32_t dwButtons)
{
    if (nSlot < 0 || nSlot >= PLAT_JOY_SLOTS) return;
    std::lock_guard<std::mutex> lock(s_mtx);
    s_aFake[nSlot].bPresent = bPresent ? 1 : 0;
    s_aFake[nSlot].info = PLAT_JOYINFO{dwX, dwY, dwButtons};
}

// The E-mote component: the outside library "VEVuvoz.dll" (with "emotedriver.dll" beside it) that
// plays E-mote animations. Start-up binds its 80 entry points by ordinal; the players live in the
// engine's E-mote code, which calls the entries below on 32-bit handles (0 meaning none) and 32-bit
// floats. No such component exists on this platform, so it normally stays absent.
#pragma once
#include <cstdint>

struct PLAT_MODULE;

// The bound ordinals: 1, 2, 3, 101..121 and 201..256.
enum { EMOTE_ENTRY_COUNT = 80 };

// Entry types of the called ordinals. Every entry answers a 32-bit word; only the ones noted use it.
// 2: three words {the Direct3D device pointer, 0, 0}; answers the device object, 0 on failure.
//    The first word is pointer-sized, as a device pointer does not fit 32 bits here.
typedef uint32_t (*EMOTE_CREATE_DEVICE_FN)(const uintptr_t* pDeviceWords);
// 110: (device object, 0), once after 2.
typedef uint32_t (*EMOTE_INIT_DEVICE_FN)(uint32_t hDevice, uint32_t nZero);
// 119: (device object, file data, size, slot of the player handle); stores the player, 0 on failure.
typedef uint32_t (*EMOTE_CREATE_PLAYER_FN)(uint32_t hDevice, const void* pData, uint32_t nSize, uint32_t* phPlayer);
// One handle: 102 (releases the device object), 202 (releases a player), 205, 236, 253, 256 (draws
// into the current render target), 255 (low byte 1 = busy).
typedef uint32_t (*EMOTE_HANDLE_FN)(uint32_t hHandle);
// Player and one float: 214, 216, 218 (values), 254 (advance by frames = ms x 0.06).
typedef uint32_t (*EMOTE_FLOAT_FN)(uint32_t hPlayer, float f);
// 220: (player, x, y, 0, 0), position offsets.
typedef uint32_t (*EMOTE_COORD_FN)(uint32_t hPlayer, float x, float y, uint32_t nZero1, uint32_t nZero2);
// 222 scale (1.0 = 100 %), 224 rotation in radians: (player, value, 0, 0).
typedef uint32_t (*EMOTE_FLOAT_ZZ_FN)(uint32_t hPlayer, float f, uint32_t nZero1, uint32_t nZero2);
// 233: (player, name in cp932, value, frames, 0), one name/value pair over a time.
typedef uint32_t (*EMOTE_VARIABLE_FN)(uint32_t hPlayer, const char* pszName, float fValue, float fFrames, uint32_t nZero);
// 235: (player, five floats).
typedef uint32_t (*EMOTE_FIVE_FLOATS_FN)(uint32_t hPlayer, float f1, float f2, float f3, float f4, float f5);
// 245: (player, UTF-8 text, 1).
typedef uint32_t (*EMOTE_TEXT_FLAG_FN)(uint32_t hPlayer, const char* pszUtf8, uint32_t nFlag);
// 247: (player, UTF-8 text); 246: (player, "") with low byte 1 = busy.
typedef uint32_t (*EMOTE_TEXT_FN)(uint32_t hPlayer, const char* pszUtf8);

// The called entries, typed. Each is always callable: an entry the component lacks (and every entry
// while the component is absent) is a stand-in that does nothing and fails: 2 answers 0, 119 stores a
// player of 0, 246 and 255 answer "not busy", the rest answer 0.
struct EMOTE_API {
    EMOTE_CREATE_DEVICE_FN pfnCreateDevice2;
    EMOTE_INIT_DEVICE_FN pfnInitDevice110;
    EMOTE_HANDLE_FN pfnReleaseDevice102;
    EMOTE_CREATE_PLAYER_FN pfnCreatePlayer119;
    EMOTE_HANDLE_FN pfnReleasePlayer202;
    EMOTE_HANDLE_FN pfnCall205;
    EMOTE_FLOAT_FN pfnSetValue214;
    EMOTE_FLOAT_FN pfnSetValue216;
    EMOTE_FLOAT_FN pfnSetValue218;
    EMOTE_COORD_FN pfnSetCoord220;
    EMOTE_FLOAT_ZZ_FN pfnSetScale222;
    EMOTE_FLOAT_ZZ_FN pfnSetRotation224;
    EMOTE_VARIABLE_FN pfnSetVariable233;
    EMOTE_FIVE_FLOATS_FN pfnCall235;
    EMOTE_HANDLE_FN pfnCall236;
    EMOTE_HANDLE_FN pfnCall253;
    EMOTE_TEXT_FLAG_FN pfnSendText245;
    EMOTE_TEXT_FN pfnIsBusyText246;
    EMOTE_TEXT_FN pfnSendText247;
    EMOTE_FLOAT_FN pfnProgress254;
    EMOTE_HANDLE_FN pfnIsBusy255;
    EMOTE_HANDLE_FN pfnDraw256;
};

extern PLAT_MODULE* g_hEmoteDll;                  // "VEVuvoz.dll" while bound, else NULL
// g_bEmoteAvailable (core/engine_globals.h): 1 once the component is bound.
extern void* g_apEmoteEntries[EMOTE_ENTRY_COUNT]; // every bound ordinal in ascending order, never NULL
extern EMOTE_API g_EmoteApi;

// The table index of an ordinal, or -1 for an ordinal that is not bound.
int EmoteEntryIndex(int nOrdinal);

// "emotedriver.dll" must load (it is freed again at once), then "VEVuvoz.dll" is loaded and kept and
// its ordinals bound; g_bEmoteAvailable := 1. Either library missing: nothing is set. A bound
// component stays bound on a second call. 0 when available, -1 when not.
int LoadEmoteDLL(void);
// Releases the component and puts every entry back to its stand-in; g_bEmoteAvailable := 0.
void UnloadEmoteDLL(void);

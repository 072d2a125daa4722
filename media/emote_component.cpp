// Binding of the E-mote component by ordinal, with failing stand-ins for whatever it lacks.
#include "media/emote_component.h"

#include "core/engine_globals.h"
#include "core/errors.h"
#include "platform/plat_modules.h"

PLAT_MODULE* g_hEmoteDll = nullptr;
void* g_apEmoteEntries[EMOTE_ENTRY_COUNT] = {};
EMOTE_API g_EmoteApi = {};

namespace {

// Stand-ins: they touch nothing but an output slot and report failure or "not busy".
uint32_t MissingEntry(void) { return 0; }
uint32_t MissingCreateDevice(const uintptr_t*) { return 0; }
uint32_t MissingInitDevice(uint32_t, uint32_t) { return 0; }
uint32_t MissingCreatePlayer(uint32_t, const void*, uint32_t, uint32_t* phPlayer)
{
    if (phPlayer) *phPlayer = 0;
    return 0;
}
uint32_t MissingHandle(uint32_t) { return 0; }
uint32_t MissingFloat(uint32_t, float) { return 0; }
uint32_t MissingCoord(uint32_t, float, float, uint32_t, uint32_t) { return 0; }
uint32_t MissingFloatZZ(uint32_t, float, uint32_t, uint32_t) { return 0; }
uint32_t MissingVariable(uint32_t, const char*, float, float, uint32_t) { return 0; }
uint32_t MissingFiveFloats(uint32_t, float, float, float, float, float) { return 0; }
uint32_t MissingTextFlag(uint32_t, const char*, uint32_t) { return 0; }
uint32_t MissingText(uint32_t, const char*) { return 0; }

int EmoteOrdinalAt(int nIndex)
{
    if (nIndex < 3) return nIndex + 1;
    if (nIndex < 24) return nIndex - 3 + 101;
    return nIndex - 24 + 201;
}

// A typed entry from the table; an empty slot gets the stand-in.
template <class FN>
void BindCalled(FN* ppfn, int nOrdinal, FN pfnMissing)
{
    void*& p = g_apEmoteEntries[EmoteEntryIndex(nOrdinal)];
    if (!p) p = reinterpret_cast<void*>(pfnMissing);
    *ppfn = reinterpret_cast<FN>(p);
}

// Fills the table from the module (NULL: stand-ins throughout) and the typed entries from the table.
// The component's entries are not required to be present; each missing one is named in the trace.
int BindEmoteEntries(PLAT_MODULE* pModule)
{
    for (int i = 0; i < EMOTE_ENTRY_COUNT; ++i) {
        const int nOrdinal = EmoteOrdinalAt(i);
        g_apEmoteEntries[i] = pModule ? PlatGetProcOrdinal(pModule, nOrdinal) : nullptr;
        if (pModule && !g_apEmoteEntries[i]) {
            char szText[96];
            FormatText(szText, sizeof szText, "VEVuvoz.dll has no ordinal %d; a failing stand-in takes its place",
                       nOrdinal);
            DebugTrace("E-mote", szText);
        }
    }
    EMOTE_API& api = g_EmoteApi;
    BindCalled(&api.pfnCreateDevice2, 2, MissingCreateDevice);
    BindCalled(&api.pfnInitDevice110, 110, MissingInitDevice);
    BindCalled(&api.pfnReleaseDevice102, 102, MissingHandle);
    BindCalled(&api.pfnCreatePlayer119, 119, MissingCreatePlayer);
    BindCalled(&api.pfnReleasePlayer202, 202, MissingHandle);
    BindCalled(&api.pfnCall205, 205, MissingHandle);
    BindCalled(&api.pfnSetValue214, 214, MissingFloat);
    BindCalled(&api.pfnSetValue216, 216, MissingFloat);
    BindCalled(&api.pfnSetValue218, 218, MissingFloat);
    BindCalled(&api.pfnSetCoord220, 220, MissingCoord);
    BindCalled(&api.pfnSetScale222, 222, MissingFloatZZ);
    BindCalled(&api.pfnSetRotation224, 224, MissingFloatZZ);
    BindCalled(&api.pfnSetVariable233, 233, MissingVariable);
    BindCalled(&api.pfnCall235, 235, MissingFiveFloats);
    BindCalled(&api.pfnCall236, 236, MissingHandle);
    BindCalled(&api.pfnCall253, 253, MissingHandle);
    BindCalled(&api.pfnSendText245, 245, MissingTextFlag);
    BindCalled(&api.pfnIsBusyText246, 246, MissingText);
    BindCalled(&api.pfnSendText247, 247, MissingText);
    BindCalled(&api.pfnProgress254, 254, MissingFloat);
    BindCalled(&api.pfnIsBusy255, 255, MissingHandle);
    BindCalled(&api.pfnDraw256, 256, MissingHandle);
    for (void*& p : g_apEmoteEntries) {
        if (!p) p = reinterpret_cast<void*>(MissingEntry);
    }
    return 0;
}

// The entries are callable from the start, before the component is ever looked for.
[[maybe_unused]] const int s_nInitialBinding = BindEmoteEntries(nullptr);

}  // namespace

int EmoteEntryIndex(int nOrdinal)
{
    if (nOrdinal >= 1 && nOrdinal <= 3) return nOrdinal - 1;
    if (nOrdinal >= 101 && nOrdinal <= 121) return nOrdinal - 101 + 3;
    if (nOrdinal >= 201 && nOrdinal <= 256) return nOrdinal - 201 + 24;
    return -1;
}

int LoadEmoteDLL(void)
{
    if (g_bEmoteAvailable) return 0;
    // The component cannot work without its driver beside it; only its presence matters here.
    PLAT_MODULE* pDriver = PlatLoadLibrary("emotedriver.dll");
    if (!pDriver) return -1;
    PlatFreeLibrary(pDriver);
    PLAT_MODULE* pModule = PlatLoadLibrary("VEVuvoz.dll");
    if (!pModule) return -1;
    BindEmoteEntries(pModule);
    g_hEmoteDll = pModule;
    g_bEmoteAvailable = 1;
    return 0;
}

void UnloadEmoteDLL(void)
{
    BindEmoteEntries(nullptr);
    PlatFreeLibrary(g_hEmoteDll);
    g_hEmoteDll = nullptr;
    g_bEmoteAvailable = 0;
}

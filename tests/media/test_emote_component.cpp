// Binding the outside components of start-up: the E-mote component by ordinal and the touch library
// by name, present (a fake module) and absent.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "core/engine_globals.h"
#include "display/touch_library.h"
#include "media/emote_component.h"
#include "platform/plat_modules.h"
#include "tests/media/emote_fake.h"
#include "tests/support/engine_test.h"

namespace {

// ---- E-mote ----

std::vector<std::string>& g_vecCalls = g_EmoteFake.calls;

struct EMOTE_FIXTURE : EngineTest {
    void SetUp() override
    {
        // The player handle 0x77 is busy by the plain test; the file bytes are recorded as text.
        ResetEmoteFake();
        g_EmoteFake.hNextPlayer = 0x77;
        g_EmoteFake.hBusy255 = 0x77;
        g_EmoteFake.bRecordData = true;
    }
    void TearDown() override
    {
        UnloadEmoteDLL();
        UnloadTouchLibrary();
        PlatResetModules();
    }
    static void RegisterComponent(bool bDriver, bool bPlayer)
    {
        if (bDriver) {
            ASSERT_EQ(PlatRegisterFakeModule("emotedriver.dll", nullptr, 0), 0);
        }
        if (bPlayer) {
            // Every called ordinal except 246, which the component may lack like any other.
            ASSERT_EQ(RegisterEmoteFake(false), 0);
        }
    }
};

// Without the component every entry is still callable and fails: no device, no player, never busy.
void ExpectStandIns(void)
{
    for (void* p : g_apEmoteEntries) EXPECT_NE(p, nullptr);
    const uintptr_t aWords[3] = {0x1234, 0, 0};
    EXPECT_EQ(g_EmoteApi.pfnCreateDevice2(aWords), 0u);
    uint32_t hPlayer = 5;
    g_EmoteApi.pfnCreatePlayer119(0x4400, "psb", 3, &hPlayer);
    EXPECT_EQ(hPlayer, 0u);
    EXPECT_EQ(g_EmoteApi.pfnIsBusy255(0x77) & 0xFF, 0u);
    EXPECT_EQ(g_EmoteApi.pfnIsBusyText246(0x77, "") & 0xFF, 0u);
    g_EmoteApi.pfnSetCoord220(0x77, 1.0f, 2.0f, 0, 0);
    g_EmoteApi.pfnDraw256(0x77);
    EXPECT_TRUE(g_vecCalls.empty());
}

TEST_F(EMOTE_FIXTURE, EitherLibraryMissingLeavesTheComponentAbsent)
{
    const struct {
        bool bDriver, bPlayer;
    } aCases[] = {{false, false}, {true, false}, {false, true}};
    for (const auto& c : aCases) {
        SCOPED_TRACE(std::string("driver ") + (c.bDriver ? "present" : "missing") + ", component " +
                     (c.bPlayer ? "present" : "missing"));
        PlatResetModules();
        RegisterComponent(c.bDriver, c.bPlayer);
        EXPECT_EQ(LoadEmoteDLL(), -1);
        EXPECT_EQ(g_bEmoteAvailable, 0);
        EXPECT_EQ(g_hEmoteDll, nullptr);
        ExpectStandIns();
    }
}

TEST_F(EMOTE_FIXTURE, PresentComponentIsBoundByOrdinalAndReleased)
{
    RegisterComponent(true, true);
    ASSERT_EQ(LoadEmoteDLL(), 0);
    EXPECT_EQ(g_bEmoteAvailable, 1);
    ASSERT_NE(g_hEmoteDll, nullptr);
    PLAT_MODULE* hBound = g_hEmoteDll;
    EXPECT_EQ(LoadEmoteDLL(), 0);
    EXPECT_EQ(g_hEmoteDll, hBound);

    // The table holds the fake's entries at their ordinals, stand-ins elsewhere.
    EXPECT_EQ(g_apEmoteEntries[EmoteEntryIndex(2)], EmoteFakeEntry(2));
    EXPECT_EQ(g_apEmoteEntries[EmoteEntryIndex(256)], EmoteFakeEntry(256));
    for (void* p : g_apEmoteEntries) EXPECT_NE(p, nullptr);
    const int aBadOrdinals[] = {0, 4, 100, 122, 200, 257};
    for (int n : aBadOrdinals) EXPECT_EQ(EmoteEntryIndex(n), -1) << n;
    EXPECT_EQ(EmoteEntryIndex(1), 0);
    EXPECT_EQ(EmoteEntryIndex(121), 23);
    EXPECT_EQ(EmoteEntryIndex(201), 24);
    EXPECT_EQ(EmoteEntryIndex(256), EMOTE_ENTRY_COUNT - 1);

    // Each typed entry reaches its ordinal with its arguments as given.
    const EMOTE_API& api = g_EmoteApi;
    const uintptr_t aWords[3] = {0x1234, 0, 0};
    EXPECT_EQ(api.pfnCreateDevice2(aWords), 0x4400u);
    uint32_t hPlayer = 0;
    api.pfnInitDevice110(0x4400, 0);
    api.pfnCreatePlayer119(0x4400, "psb", 3, &hPlayer);
    EXPECT_EQ(hPlayer, 0x77u);
    api.pfnSetValue214(hPlayer, 0.5f);
    api.pfnSetValue218(hPlayer, 0.25f);
    api.pfnSetValue216(hPlayer, -1.5f);
    api.pfnCall205(hPlayer);
    api.pfnSetCoord220(hPlayer, -3.5f, 2.25f, 0, 0);
    api.pfnSetScale222(hPlayer, 1.0f, 0, 0);
    api.pfnSetRotation224(hPlayer, -0.5f, 0, 0);
    api.pfnSetVariable233(hPlayer, "face", 2.0f, 6.0f, 0);
    api.pfnCall235(hPlayer, 0.0f, 1.0f, 2.0f, 3.0f, 4.0f);
    api.pfnCall236(hPlayer);
    api.pfnCall253(hPlayer);
    api.pfnSendText245(hPlayer, "hi", 1);
    api.pfnSendText247(hPlayer, "yo");
    EXPECT_EQ(api.pfnIsBusy255(hPlayer) & 0xFF, 1u);
    EXPECT_EQ(api.pfnIsBusyText246(hPlayer, "") & 0xFF, 0u);   // the fake lacks 246: stand-in
    api.pfnProgress254(hPlayer, 0.96f);
    api.pfnDraw256(hPlayer);
    api.pfnReleasePlayer202(hPlayer);
    api.pfnReleaseDevice102(0x4400);
    const std::vector<std::string> expected = {
        "2 4660 0 0", "110 17408 0", "119 17408 psb 3", "214 119 0.5", "218 119 0.25", "216 119 -1.5",
        "205 119", "220 119 -3.5 2.25 0 0", "222 119 1 0 0", "224 119 -0.5 0 0", "233 119 'face' 2 6 0",
        "235 119 0 1 2 3 4", "236 119", "253 119", "245 119 'hi' 1", "247 119 'yo'", "255 119",
        "254 119 0.96", "256 119", "202 119", "102 17408",
    };
    EXPECT_EQ(g_vecCalls, expected);

    // Unloaded, nothing reaches the component any more.
    UnloadEmoteDLL();
    g_vecCalls.clear();
    EXPECT_EQ(g_bEmoteAvailable, 0);
    EXPECT_EQ(g_hEmoteDll, nullptr);
    ExpectStandIns();
}

// ---- touch ----

struct TOUCH_FIXTURE : EMOTE_FIXTURE {};

uintptr_t g_wLastParam = 0;
intptr_t g_lLastParam = 0;
int FakeGesture(uintptr_t wParam, intptr_t lParam)
{
    g_wLastParam = wParam;
    g_lLastParam = lParam;
    return 1;
}
int FakeOther(void) { return 0; }
void* Fn(auto pfn) { return reinterpret_cast<void*>(pfn); }

void RegisterTouch(int nOmit)
{
    const char* const apszNames[TOUCH_ENTRY_COUNT] = {"ZEDUZ_DLLVersion", "REVUZ_OvadedUridevo",
                                                      "ZEDUZ_RegisterTouchWindow", "ZEDUZ_UnregisterTouchWindow",
                                                      "ZEDUZ_TouchInfo"};
    std::vector<PLAT_MODULE_ENTRY> entries;
    for (int i = 0; i < TOUCH_ENTRY_COUNT; ++i) {
        if (i != nOmit) entries.push_back({apszNames[i], 0, i == TOUCH_ENTRY_GESTURE ? Fn(FakeGesture) : Fn(FakeOther)});
    }
    ASSERT_EQ(PlatRegisterFakeModule("zeduz.dll", entries.data(), static_cast<int>(entries.size())), 0);
}

void ExpectNoTouch(void)
{
    EXPECT_EQ(g_bTouchAvailable, 0);
    EXPECT_EQ(g_hTouchDll, nullptr);
    for (void* p : g_apTouchEntries) EXPECT_EQ(p, nullptr);
    EXPECT_EQ(g_pfnTouchGesture(1, 2), 0);
}

TEST_F(TOUCH_FIXTURE, TouchLibraryWithAllExportsIsBound)
{
    RegisterTouch(-1);
    ASSERT_EQ(LoadTouchLibrary(), 0);
    EXPECT_EQ(g_bTouchAvailable, 1);
    EXPECT_NE(g_hTouchDll, nullptr);
    for (void* p : g_apTouchEntries) EXPECT_NE(p, nullptr);
    EXPECT_EQ(g_pfnTouchGesture(0xF00D, -77), 1);
    EXPECT_EQ(g_wLastParam, 0xF00Du);
    EXPECT_EQ(g_lLastParam, -77);

    // Loading again when the library has gone drops what was bound.
    PlatHideModule("zeduz.dll", 1);
    EXPECT_EQ(LoadTouchLibrary(), -1);
    ExpectNoTouch();
}

TEST_F(TOUCH_FIXTURE, TouchLibraryOrAnExportMissingMeansNoTouch)
{
    EXPECT_EQ(LoadTouchLibrary(), -1);
    ExpectNoTouch();
    for (int nOmit = 0; nOmit < TOUCH_ENTRY_COUNT; ++nOmit) {
        SCOPED_TRACE(nOmit);
        RegisterTouch(nOmit);
        EXPECT_EQ(LoadTouchLibrary(), -1);
        ExpectNoTouch();
    }
    RegisterTouch(-1);
    ASSERT_EQ(LoadTouchLibrary(), 0);
    UnloadTouchLibrary();
    ExpectNoTouch();
}

}  // namespace

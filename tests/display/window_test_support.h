// Fixture of the window tests: the Fake window backend, a 1920x1080 desktop, the 640x480 game of the
// start values, and the four records made afresh.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>

#include "root/startup.h"
#include "core/appended_data.h"
#include "core/cp932.h"
#include "core/engine_globals.h"
#include "core/engine_hooks.h"
#include "core/errors.h"
#include "core/frame_loop.h"
#include "core/settings.h"
#include "core/sysfacts.h"
#include "display/window_state.h"
#include "platform/plat_window.h"
#include "core/game_config.h"
#include "tests/support/engine_test.h"
#include "tests/support/test_support.h"

class WINDOW_TEST_FIXTURE : public EngineTest {
protected:
    ERROR_RECORDER errors;
    MSGBOX_RECORDER boxes;

    void SetUp() override
    {
        ASSERT_EQ(PlatInitWindowSystem(PLAT_BACKEND_FAKE), 0);
        g_pfnMainWindowProc = DefaultGameWndProc;   // the window records alone, without the engine's procedure
        g_nDesktopWidth = 1920;
        g_nDesktopHeight = 1080;
        CopyTextBounded(g_szInstanceName, sizeof g_szInstanceName, "C::game:kolvex.exe");
        ASSERT_EQ(CreateWindowStates(), 0);
    }
    void TearDown() override
    {
        for (WINDOW_STATE* p : g_apWindowState)
            if (p && p->hWnd) PlatDestroyWindow(p->hWnd);
        PlatShutdownWindowSystem();
        // The records stay for the process; the back layers they own go with the test.
        for (int i = 0; i < KX_WINDOWS; ++i) CreateWindowBackLayer(i, 0, 0);
        // Tests that run several cases through TearDown and SetUp start each from the start state.
        ResetEngineState();
    }
};

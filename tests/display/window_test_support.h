// Fixture of the window tests: the Fake window backend, a 1920x1080 desktop, a 640x480 game, the
// four records made afresh, and the screen-mode switches back at their defaults.
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
#include "tests/support/test_support.h"

class WINDOW_TEST_FIXTURE : public ::testing::Test {
protected:
    ERROR_RECORDER errors;
    MSGBOX_RECORDER boxes;

    void SetUp() override
    {
        ASSERT_EQ(PlatInitWindowSystem(PLAT_BACKEND_FAKE), 0);
        InstallEngineParts();
        g_pfnMainWindowProc = DefaultGameWndProc;   // the window records alone, without the engine's procedure
        ResetUserSettings();
        ResetErrorStateForRun();
        g_bEngineStop = 0;
        g_nDesktopWidth = 1920;
        g_nDesktopHeight = 1080;
        g_nScreenWidth = 640;
        g_nScreenHeight = 480;
        g_bFramedWindow = 1;
        g_bResizable = 0;
        g_bScreenSaver = 0;
        g_bFullscreen = 0;
        g_bMaximized = 0;
        g_bThreadedFrames = 0;
        g_hMainWnd = 0;
        CopyTextBounded(g_szInstanceName, sizeof g_szInstanceName, "C::game:kolvex.exe");
        ASSERT_EQ(CreateWindowStates(), 0);
    }
    void TearDown() override
    {
        for (WINDOW_STATE* p : g_apWindowState)
            if (p && p->hWnd) PlatDestroyWindow(p->hWnd);
        PlatShutdownWindowSystem();
        g_hMainWnd = 0;
        for (int i = 0; i < KX_WINDOWS; ++i) CreateWindowBackLayer(i, 0, 0);
        std::free(g_pOutputBuffer);
        g_pOutputBuffer = nullptr;
        g_nOutputWidth = g_nOutputHeight = 0;
        InstallEngineParts();
        g_bEngineStop = 0;
        g_bScreenSaver = 0;
        g_bFullscreen = 0;
        g_bMaximized = 0;
    }
};

// Helpers of the tests that drive the real kolvex on a virtual X server with a window manager:
// starting programs, running the X tools (wmctrl, xdotool, xwd), and screenshots.
#pragma once
#include <gtest/gtest.h>
#include <sys/types.h>

#include <csignal>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/test_support.h"
#include "tools/lib/kx_writers.h"
#include "tools/lib/script_builder.h"

// Starts a program in the background, its output to pszOut (or discarded). The process id, or 0.
pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env, const char* pszOut = nullptr);
// Runs a tool to its end; its standard output. *pStatus: its exit status, or -1.
std::string RunTool(const std::vector<std::string>& args, int* pStatus = nullptr);
// Waits for the process to end: its exit status, -3 after a signal, -1 when it still runs.
int WaitExit(pid_t pid, int nMs);
// The window manager's list (wmctrl -l): each managed window's id with its whole line.
std::vector<std::pair<std::string, std::string>> ManagedWindows(void);
// The ids of the managed windows with this title, as the window manager lists them.
std::vector<std::string> WindowsTitled(const char* pszTitle);
// Waits until the window manager lists one window of the title: its id, or "".
std::string WaitForTitle(const char* pszTitle, int nMs = 60000);
void Pause(int nMs);
// Ends a process started here (SIGTERM, or SIGKILL for one that must not clean up) and forgets it.
void EndProcess(pid_t* pPid, int nSignal = SIGTERM);
// One value of xwininfo's report ("  Width: 320" -> "320"), or ""; as a number, or -99999.
std::string WinInfoValue(const std::string& strInfo, const std::string& strKey);
int WinInfoInt(const std::string& strInfo, const std::string& strKey);

// A picture as 0xRRGGBB values.
struct X11_SHOT {
    int w = 0, h = 0;
    std::vector<uint32_t> px;
    uint32_t At(int x, int y) const { return px[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)]; }
};
// What the X server shows of a window (xwd -id), or of the whole screen.
X11_SHOT Capture(const std::string& strWindow);
// Captures the window (or the screen) until the check holds for the capture or the time has passed
// (a safety net: a loaded machine draws late). The last capture; *pbHeld whether the check held.
template <class CHECK>
X11_SHOT CaptureWhen(const std::string& strWindow, CHECK fCheck, bool* pbHeld, int nMs = 30000)
{
    X11_SHOT shot;
    *pbHeld = false;
    for (int i = 0; i < nMs / 100 && !*pbHeld; ++i) {
        if (i) Pause(100);
        shot = Capture(strWindow);
        *pbHeld = shot.w > 0 && fCheck(shot);
    }
    return shot;
}
// With KX_X11_SHOTS naming a folder, the shot is written there as a PNG file of that name.
void KeepShot(const X11_SHOT& shot, const char* pszName);

// The expression "key nVk is held down in this frame" (the key-hold system array) for a script's if.
std::vector<uint8_t> KeyPressed(int nVk);

// The desktop tests' game: a 480 x 320 window with the title, whose start script is the one built.
GAME_DATA DesktopGame(const SCRIPT_BUILDER& b, const char* pszTitle);

// Starts openbox and waits until it manages the screen: its process id, or 0. Stopped again with
// EndProcess.
pid_t StartWindowManager(void);

// The fixture of the tests on the virtual X server's desktop: openbox runs for the suite when
// KX_X11_DESKTOP=1 (its ctest entries set it); the program a test starts (m_pid) is killed at the
// end unless the test saw it end.
class X11_DESKTOP_TEST : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    // Skips the test outside a desktop ctest entry; a derived SetUp calls this one first and returns
    // unless Ready().
    void SetUp() override;
    void TearDown() override;
    bool Ready() const { return !IsSkipped() && !HasFatalFailure(); }
    // 1 under a desktop ctest entry with its window manager running (a test skips otherwise).
    static bool OnDesktop(void);

    static pid_t s_pidWm;
    TEMP_DIR dir;
    pid_t m_pid = 0;
};

// What the tests on a virtual X server with a window manager share: starting programs and tools,
// waiting for them, the window manager's list of windows, xwininfo's values and screenshots (xwd),
// kept as PNG files in the folder KX_X11_SHOTS names.
#pragma once
#include <gtest/gtest.h>

#include <fcntl.h>
#include <png.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_support.h"

extern char** environ;

namespace x11test {

// Starts a program in the background, its output to pszOut (or discarded). The process id, or 0.
inline pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env, const char* pszOut = nullptr)
{
    SPAWN_ARGS sa;
    MakeSpawnArgs(&sa, args, env);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, pszOut ? pszOut : "/dev/null", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    pid_t pid = 0;
    const int r = posix_spawnp(&pid, sa.argv[0], &fa, nullptr, sa.argv.data(), sa.envp.data());
    posix_spawn_file_actions_destroy(&fa);
    return r == 0 ? pid : 0;
}

// Runs a tool to its end; its standard output. *pStatus: its exit status, or -1.
inline std::string RunTool(const std::vector<std::string>& args, int* pStatus = nullptr)
{
    int fds[2];
    if (pipe(fds) != 0) return "";
    std::vector<std::string> argStore = args;
    std::vector<char*> argv;
    for (std::string& s : argStore) argv.push_back(s.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    posix_spawn_file_actions_addclose(&fa, fds[0]);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int r = posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    std::string out;
    if (r == 0) {
        char buf[65536];
        ssize_t n;
        while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    }
    close(fds[0]);
    int nStatus = 0;
    if (r == 0) waitpid(pid, &nStatus, 0);
    if (pStatus) *pStatus = r == 0 && WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    return out;
}

// Waits for the process to end: its exit status, -3 after a signal, -1 when it still runs.
inline int WaitExit(pid_t pid, int nMs)
{
    for (int i = 0; i < nMs / 10; ++i) {
        int nStatus = 0;
        if (waitpid(pid, &nStatus, WNOHANG) == pid) return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -3;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

// The window manager's list (wmctrl -l): each managed window's id with its whole line.
inline std::vector<std::pair<std::string, std::string>> ManagedWindows(void)
{
    std::vector<std::pair<std::string, std::string>> out;
    const std::string list = RunTool({"wmctrl", "-l"});
    size_t nStart = 0;
    while (nStart < list.size()) {
        size_t nEnd = list.find('\n', nStart);
        if (nEnd == std::string::npos) nEnd = list.size();
        const std::string line = list.substr(nStart, nEnd - nStart);
        if (!line.empty()) out.emplace_back(line.substr(0, line.find(' ')), line);
        nStart = nEnd + 1;
    }
    return out;
}

// The ids of the managed windows with this title, as the window manager lists them.
inline std::vector<std::string> WindowsTitled(const char* pszTitle)
{
    std::vector<std::string> ids;
    const std::string strTail = std::string(" ") + pszTitle;
    for (const auto& w : ManagedWindows()) {
        const std::string& line = w.second;
        if (line.size() > strTail.size() && line.compare(line.size() - strTail.size(), strTail.size(), strTail) == 0)
            ids.push_back(w.first);
    }
    return ids;
}

inline void Pause(int nMs)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(nMs));
}

// A picture as 0xRRGGBB values.
struct SHOT {
    int w = 0, h = 0;
    std::vector<uint32_t> px;
    uint32_t At(int x, int y) const { return px[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)]; }
};

inline uint32_t BigEndian32(const std::string& s, size_t i)
{
    return (uint32_t(uint8_t(s[i])) << 24) | (uint32_t(uint8_t(s[i + 1])) << 16) | (uint32_t(uint8_t(s[i + 2])) << 8) |
           uint32_t(uint8_t(s[i + 3]));
}

inline int MaskShift(uint32_t m)
{
    int n = 0;
    while (m && !(m & 1)) m >>= 1, ++n;
    return n;
}

// What the X server shows of a window (xwd -id), or of the whole screen.
inline SHOT Capture(const std::string& strWindow)
{
    SHOT shot;
    const std::string d = strWindow.empty() ? RunTool({"xwd", "-silent", "-root"}) : RunTool({"xwd", "-silent", "-id", strWindow});
    if (d.size() < 100) return shot;
    uint32_t hdr[25];
    for (int i = 0; i < 25; ++i) hdr[i] = BigEndian32(d, static_cast<size_t>(i) * 4);
    const uint32_t nHeader = hdr[0], w = hdr[4], h = hdr[5], nOrder = hdr[7], nBpp = hdr[11], nLine = hdr[12];
    const uint32_t rm = hdr[14], gm = hdr[15], bm = hdr[16], nColours = hdr[19];
    const size_t nOff = nHeader + size_t(nColours) * 12;
    const size_t nBytes = nBpp / 8;
    if (nBytes < 3 || nBytes > 4 || d.size() < nOff + size_t(nLine) * h || w == 0 || h == 0) return shot;
    shot.w = static_cast<int>(w);
    shot.h = static_cast<int>(h);
    shot.px.resize(size_t(w) * h);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const size_t i = nOff + size_t(y) * nLine + size_t(x) * nBytes;
            uint32_t v = 0;
            for (size_t k = 0; k < nBytes; ++k) {
                const uint32_t b = uint8_t(d[i + k]);
                v |= nOrder == 0 ? b << (8 * k) : b << (8 * (nBytes - 1 - k));
            }
            const uint32_t r = (v & rm) >> MaskShift(rm), g = (v & gm) >> MaskShift(gm), b = (v & bm) >> MaskShift(bm);
            shot.px[size_t(y) * w + x] = (r << 16) | (g << 8) | b;
        }
    return shot;
}

inline void KeepShot(const SHOT& shot, const char* pszName)
{
    const char* pszDir = std::getenv("KX_X11_SHOTS");
    if (!pszDir || !*pszDir || shot.w <= 0) return;
    std::vector<uint8_t> rgb;
    for (uint32_t v : shot.px) rgb.insert(rgb.end(), {uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    img.width = static_cast<png_uint_32>(shot.w);
    img.height = static_cast<png_uint_32>(shot.h);
    img.format = PNG_FORMAT_RGB;
    const std::string strPath = std::string(pszDir) + "/" + pszName;
    EXPECT_NE(png_image_write_to_file(&img, strPath.c_str(), 0, rgb.data(), 0, nullptr), 0) << strPath;
}

// One value of xwininfo's report ("  Width: 320" -> "320"), or "".
inline std::string WinInfoValue(const std::string& strInfo, const std::string& strKey)
{
    const size_t i = strInfo.find(strKey + ":");
    if (i == std::string::npos) return "";
    size_t j = i + strKey.size() + 1;
    while (j < strInfo.size() && strInfo[j] == ' ') ++j;
    const size_t e = strInfo.find('\n', j);
    return strInfo.substr(j, e == std::string::npos ? std::string::npos : e - j);
}

inline int WinInfoInt(const std::string& strInfo, const std::string& strKey)
{
    const std::string s = WinInfoValue(strInfo, strKey);
    return s.empty() ? -99999 : std::atoi(s.c_str());
}

// Waits until the window manager lists one window of the title: its id, or "".
inline std::string WaitForTitle(const char* pszTitle, int nMs = 10000)
{
    for (int i = 0; i < nMs / 50; ++i) {
        const std::vector<std::string> ids = WindowsTitled(pszTitle);
        if (ids.size() == 1) return ids[0];
        Pause(50);
    }
    return "";
}


// 1 when the test runs under the kolvex_x11_desktop test (KX_X11_DESKTOP=1), which starts the X
// server.
inline bool OnX11Desktop(void)
{
    const char* psz = std::getenv("KX_X11_DESKTOP");
    return psz && std::strcmp(psz, "1") == 0;
}

// Starts the window manager (openbox) and waits until it answers: its process id, or 0.
inline pid_t StartWindowManager(void)
{
    const pid_t pid = Spawn({"openbox"}, {});
    for (int i = 0; pid && i < 200; ++i) {
        int nStatus = -1;
        RunTool({"wmctrl", "-m"}, &nStatus);
        if (nStatus == 0) break;
        Pause(50);
    }
    return pid;
}

// Ends a process started here (SIGTERM, or SIGKILL for one that must not clean up) and forgets it.
inline void EndProcess(pid_t* pPid, int nSignal = SIGTERM)
{
    if (!*pPid) return;
    kill(*pPid, nSignal);
    waitpid(*pPid, nullptr, 0);
    *pPid = 0;
}

// The fixture of the desktop tests: the window manager runs for the suite; outside the
// kolvex_x11_desktop test every test is skipped. A derived SetUp calls this one first and returns
// when it skipped or failed.
class X11_DESKTOP_TEST : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (OnX11Desktop()) s_pidWm = StartWindowManager();
    }
    static void TearDownTestSuite() { EndProcess(&s_pidWm); }
    void SetUp() override
    {
        if (!OnX11Desktop()) GTEST_SKIP() << "runs under the kolvex_x11_desktop test only";
        ASSERT_NE(s_pidWm, 0) << "openbox did not start";
    }
    bool Ready() const { return !IsSkipped() && !HasFatalFailure(); }

    static inline pid_t s_pidWm = 0;
};

}  // namespace x11test

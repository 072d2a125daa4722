// Programs, X tools and screenshots for the tests on a virtual X server.
#include "tests/support/x11_desktop.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <png.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "tests/support/test_support.h"
#include "tools/lib/expr_assembler.h"

extern char** environ;

namespace {

uint32_t BigEndian32(const std::string& s, size_t i)
{
    return (uint32_t(uint8_t(s[i])) << 24) | (uint32_t(uint8_t(s[i + 1])) << 16) | (uint32_t(uint8_t(s[i + 2])) << 8) |
           uint32_t(uint8_t(s[i + 3]));
}

int MaskShift(uint32_t m)
{
    int n = 0;
    while (m && !(m & 1)) m >>= 1, ++n;
    return n;
}

}  // namespace

pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env, const char* pszOut)
{
    SPAWN_ARGS sa;
    MakeSpawnArgs(&sa, args, env);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    // As from the desktop: no terminal.
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, pszOut ? pszOut : "/dev/null", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    pid_t pid = 0;
    const int r = posix_spawnp(&pid, sa.argv[0], &fa, nullptr, sa.argv.data(), sa.envp.data());
    posix_spawn_file_actions_destroy(&fa);
    return r == 0 ? pid : 0;
}

std::string RunTool(const std::vector<std::string>& args, int* pStatus)
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

int WaitExit(pid_t pid, int nMs)
{
    for (int i = 0; i < nMs / 10; ++i) {
        int nStatus = 0;
        if (waitpid(pid, &nStatus, WNOHANG) == pid) return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -3;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

std::vector<std::pair<std::string, std::string>> ManagedWindows(void)
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

std::vector<std::string> WindowsTitled(const char* pszTitle)
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

std::string WaitForTitle(const char* pszTitle, int nMs)
{
    for (int i = 0; i < nMs / 50; ++i) {
        const std::vector<std::string> ids = WindowsTitled(pszTitle);
        if (ids.size() == 1) return ids[0];
        Pause(50);
    }
    return "";
}

void EndProcess(pid_t* pPid, int nSignal)
{
    if (!*pPid) return;
    kill(*pPid, nSignal);
    waitpid(*pPid, nullptr, 0);
    *pPid = 0;
}

std::string WinInfoValue(const std::string& strInfo, const std::string& strKey)
{
    const size_t i = strInfo.find(strKey + ":");
    if (i == std::string::npos) return "";
    size_t j = i + strKey.size() + 1;
    while (j < strInfo.size() && strInfo[j] == ' ') ++j;
    const size_t e = strInfo.find('\n', j);
    return strInfo.substr(j, e == std::string::npos ? std::string::npos : e - j);
}

int WinInfoInt(const std::string& strInfo, const std::string& strKey)
{
    const std::string s = WinInfoValue(strInfo, strKey);
    return s.empty() ? -99999 : std::atoi(s.c_str());
}

void Pause(int nMs)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(nMs));
}

X11_SHOT Capture(const std::string& strWindow)
{
    X11_SHOT shot;
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

void KeepShot(const X11_SHOT& shot, const char* pszName)
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

std::vector<uint8_t> KeyPressed(int nVk)
{
    constexpr int kSysKeyHold = 144;
    std::vector<uint8_t> e;
    ExprAsmElement(e, kSysKeyHold, {nVk});
    ExprAsmInt(e, 1);
    ExprAsmOp(e, '=');
    return e;
}

GAME_DATA DesktopGame(const SCRIPT_BUILDER& b, const char* pszTitle)
{
    GAME_DATA game = DefaultGameData();
    game.config.nWidth = 480;
    game.config.nHeight = 320;
    game.config.strTitle = pszTitle;
    game.scripts.push_back(ScriptFromBuilder("start.txt", b));
    return game;
}

pid_t StartWindowManager(void)
{
    pid_t pid = Spawn({"openbox"}, {});
    for (int i = 0; pid && i < 200; ++i) {
        int nStatus = -1;
        RunTool({"wmctrl", "-m"}, &nStatus);
        if (nStatus == 0) return pid;
        Pause(50);
    }
    // Never answered (refused by the server, or gone): the tests say so instead of waiting for
    // windows that no window manager will list.
    EndProcess(&pid, SIGKILL);
    return 0;
}

pid_t X11_DESKTOP_TEST::s_pidWm = 0;

bool X11_DESKTOP_TEST::OnDesktop(void)
{
    const char* psz = std::getenv("KX_X11_DESKTOP");
    return psz && std::string(psz) == "1";
}

void X11_DESKTOP_TEST::SetUpTestSuite()
{
    if (OnDesktop()) s_pidWm = StartWindowManager();
}

void X11_DESKTOP_TEST::TearDownTestSuite()
{
    EndProcess(&s_pidWm);
}

void X11_DESKTOP_TEST::SetUp()
{
    if (!OnDesktop()) GTEST_SKIP() << "runs under the desktop tests on a virtual X server only";
    ASSERT_NE(s_pidWm, 0) << "openbox did not start";
}

void X11_DESKTOP_TEST::TearDown()
{
    EndProcess(&m_pid, SIGKILL);
}

// Processor count, desktop mode, memory and CPUID.
#include "platform/plat_sysinfo.h"
#include "platform/plat_internal.h"

#include <SDL.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sys/statvfs.h>
#include <sys/sysinfo.h>
#include <atomic>
#include <string>
#include "platform/plat_file.h"
#include <unistd.h>
#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

static std::mutex g_mxDesktop;
static int g_bFakeDesktop = 0;
static PLAT_DESKTOP_INFO g_diFake;

int PlatGetProcessorCount(void)
{
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    if (n < 1) return 1;
    return n > 0x7FFFFFFF ? 0x7FFFFFFF : (int)n;
}

// "WxHxBITS@HZ" or "WxHxBITS". 1 when it reads.
static int ParseDesktopText(const char* psz, PLAT_DESKTOP_INFO* pOut)
{
    PLAT_DESKTOP_INFO di{0, 0, 0, 0};
    int nEnd = 0;
    if (sscanf(psz, "%dx%dx%d%n", &di.nWidth, &di.nHeight, &di.nBits, &nEnd) != 3) return 0;
    const char* pRest = psz + nEnd;
    if (*pRest == '@') {
        int nEnd2 = 0;
        if (sscanf(pRest + 1, "%d%n", &di.nRefresh, &nEnd2) != 1) return 0;
        pRest += 1 + nEnd2;
    }
    if (*pRest != '\0' || di.nWidth <= 0 || di.nHeight <= 0 || di.nBits <= 0 || di.nRefresh < 0) return 0;
    *pOut = di;
    return 1;
}

void PlatGetDesktopInfo(PLAT_DESKTOP_INFO* pOut)
{
    {
        std::lock_guard<std::mutex> lock(g_mxDesktop);
        if (g_bFakeDesktop) {
            *pOut = g_diFake;
            return;
        }
    }
    const char* pszEnv = getenv("KOLVEX_DESKTOP");
    if (pszEnv && ParseDesktopText(pszEnv, pOut)) return;

    *pOut = PLAT_DESKTOP_INFO{1024, 768, 32, 0};
    if (PlatIsHeadless()) return;
    // The video subsystem is started for the question only when nobody started it yet.
    int bStarted = 0;
    if (!SDL_WasInit(SDL_INIT_VIDEO)) {
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
            SDL_ClearError();
            return;
        }
        bStarted = 1;
    }
    SDL_DisplayMode mode;
    if (SDL_GetDesktopDisplayMode(0, &mode) == 0 && mode.w > 0 && mode.h > 0) {
        pOut->nWidth = mode.w;
        pOut->nHeight = mode.h;
        pOut->nBits = PlatCountModeBits((int)SDL_BITSPERPIXEL(mode.format), (int)SDL_BYTESPERPIXEL(mode.format));
        pOut->nRefresh = mode.refresh_rate > 0 ? mode.refresh_rate : 0;
    }
    if (bStarted) SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

void PlatSetFakeDesktopInfo(const PLAT_DESKTOP_INFO* pInfo)
{
    std::lock_guard<std::mutex> lock(g_mxDesktop);
    g_bFakeDesktop = pInfo != nullptr;
    if (pInfo) g_diFake = *pInfo;
}

void PlatGetMemoryInfo(PLAT_MEMORY_INFO* pOut)
{
    pOut->nTotal = 0;
    pOut->nAvail = 0;
    struct sysinfo si;
    if (sysinfo(&si) == 0) {
        pOut->nTotal = (uint64_t)si.totalram * si.mem_unit;
        pOut->nAvail = ((uint64_t)si.freeram + si.bufferram) * si.mem_unit;
    }
    // The kernel's own estimate also counts the page cache it can drop.
    if (FILE* fp = fopen("/proc/meminfo", "re")) {
        char line[256];
        unsigned long long kb;
        while (fgets(line, sizeof line, fp)) {
            if (sscanf(line, "MemAvailable: %llu kB", &kb) == 1) {
                pOut->nAvail = (uint64_t)kb * 1024u;
                break;
            }
        }
        fclose(fp);
    }
    if (pOut->nTotal && pOut->nAvail > pOut->nTotal) pOut->nAvail = pOut->nTotal;
}

int PlatCpuid(uint32_t nLeaf, uint32_t nSubLeaf, uint32_t regs[4])
{
    regs[0] = regs[1] = regs[2] = regs[3] = 0;
#if defined(__x86_64__) || defined(__i386__)
    unsigned a, b, c, d;
    if (!__get_cpuid_count(nLeaf, nSubLeaf, &a, &b, &c, &d)) return -1;
    regs[0] = a;
    regs[1] = b;
    regs[2] = c;
    regs[3] = d;
    return 0;
#else
    (void)nLeaf;
    (void)nSubLeaf;
    return -1;
#endif
}

int64_t PlatGetDiskFreeBytes(const char* pszPath)
{
    std::string strNative;
    if (PlatResolvePath(pszPath ? pszPath : "", &strNative) == -2) return 0;
    if (strNative.empty()) strNative = ".";
    struct statvfs st;
    for (;;) {
        if (statvfs(strNative.c_str(), &st) == 0)
            return static_cast<int64_t>(st.f_bavail) * static_cast<int64_t>(st.f_frsize);
        size_t slash = strNative.find_last_of('/');
        if (slash == std::string::npos) strNative = ".";
        else if (slash == 0) strNative = "/";
        else strNative.resize(slash);
        if (strNative == "." || strNative == "/") return statvfs(strNative.c_str(), &st) == 0
            ? static_cast<int64_t>(st.f_bavail) * static_cast<int64_t>(st.f_frsize) : 0;
    }
}

static std::atomic<int> g_nAdminAnswer{-1};

int PlatIsUserAdmin(void)
{
    int n = g_nAdminAnswer.load();
    if (n >= 0) return n;
    return geteuid() == 0 ? 1 : 0;
}

void PlatSetUserAdminForTest(int nAnswer)
{
    g_nAdminAnswer.store(nAnswer < 0 ? -1 : (nAnswer ? 1 : 0));
}

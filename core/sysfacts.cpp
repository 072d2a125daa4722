// Facts about the machine, the system report, the engine's random generator and cleared allocation.
#include "core/sysfacts.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>

#include "core/errors.h"
#include "core/kx_format_consts.h"
#include "core/settings.h"
#include "platform/plat_file.h"
#include "platform/plat_sysinfo.h"

uint8_t g_nOSCode = KX_OS_CODE_LINUX;
int8_t g_nCPUs = 1;
int8_t g_nWorkers = 1;
int32_t g_nDesktopWidth;
int32_t g_nDesktopHeight;
int32_t g_nDesktopBits;
int32_t g_nDesktopRefresh = -1;
int32_t g_nDirectXVersion;

namespace {

struct OS_BUILD_CODE {
    uint16_t nBuild;
    uint8_t nCode;
};

const OS_BUILD_CODE s_aOSBuilds[] = {
    {950, 1},   {1111, 2},  {1212, 3},  {1214, 4},                      // Windows 95, OSR2, 2.1, 2.5
    {1057, 12}, {1381, 13},                                             // NT 3.51, NT 4.0
    {1998, 20}, {2222, 21},                                             // Windows 98, 98 SE
    {3000, 30},                                                         // Windows Me
    {2195, 40},                                                         // Windows 2000
    {2211, 45}, {2223, 45}, {2239, 45}, {2247, 45}, {2250, 45}, {2257, 45},   // XP pre-releases
    {2600, 50},                                                         // Windows XP
    {3790, 60},                                                         // Server 2003 / XP x64
    {5219, 65}, {5260, 65}, {5270, 65}, {5381, 65}, {5384, 65},         // Vista pre-releases
    {5536, 65}, {5568, 65}, {5600, 65}, {5743, 65},
    {6000, 70}, {6001, 70}, {6002, 70},                                 // Vista
    {6801, 80}, {7000, 80}, {7100, 80}, {7600, 80},                     // Windows 7
    {8158, 90}, {8250, 90}, {8375, 90}, {9200, 90},                     // Windows 8
    {9374, 91}, {9600, 91},                                             // Windows 8.1
};

std::atomic<int32_t> s_nFakeOSBuild{-1};

std::mutex s_lockRandom;
std::mt19937 s_random;   // default state: seed 5489

// The trace receives every report line under one caption.
const char* const kReportCaption = "SYSTEM_INFO";

void TraceLine(const char* pszFormat, ...) __attribute__((format(printf, 1, 2)));
void TraceLine(const char* pszFormat, ...)
{
    char szLine[256];
    va_list ap;
    va_start(ap, pszFormat);
    vsnprintf(szLine, sizeof szLine, pszFormat, ap);
    va_end(ap);
    DebugTrace(kReportCaption, szLine);
}

void StoreRegisterText(char* pDst, const uint32_t* pRegs, int nRegs)
{
    // Register contents are text in little-endian byte order.
    for (int i = 0; i < nRegs; ++i)
        for (int b = 0; b < 4; ++b)
            pDst[i * 4 + b] = static_cast<char>((pRegs[i] >> (8 * b)) & 0xFF);
}

}  // namespace

int GetOSCodeForBuild(uint32_t nBuild)
{
    const uint16_t nLow = static_cast<uint16_t>(nBuild & 0xFFFF);
    for (const auto& e : s_aOSBuilds)
        if (e.nBuild == nLow)
            return e.nCode;
    return 255;
}

int GetOSCode(void)
{
    int32_t nFake = s_nFakeOSBuild.load(std::memory_order_relaxed);
    if (nFake >= 0)
        return GetOSCodeForBuild(static_cast<uint32_t>(nFake));
    return KX_OS_CODE_LINUX;
}

void SetFakeOSBuild(int32_t nBuild)
{
    s_nFakeOSBuild.store(nBuild < 0 ? -1 : nBuild, std::memory_order_relaxed);
}

int8_t ClampCPUCount(int nProcessors)
{
    // A signed byte holds at most 127; more processors must not wrap to a negative count.
    return static_cast<int8_t>(std::clamp(nProcessors, 1, 127));
}

int8_t CountWorkers(int nCPUs, int nWorkerCap)
{
    int n = std::min(nWorkerCap, std::max(1, nCPUs));
    return static_cast<int8_t>(std::clamp(n, 1, 127));
}

int ReadSystemMetrics(void)
{
    g_nOSCode = static_cast<uint8_t>(GetOSCode());
    g_nCPUs = ClampCPUCount(PlatGetProcessorCount());
    g_nWorkers = CountWorkers(g_nCPUs, g_nWorkerCap);

    PLAT_DESKTOP_INFO info{};
    PlatGetDesktopInfo(&info);
    g_nDesktopWidth = info.nWidth;
    g_nDesktopHeight = info.nHeight;
    g_nDesktopBits = info.nBits;
    // Unsigned comparison: an unknown (0) or odd negative rate also reads as -1.
    g_nDesktopRefresh = static_cast<uint32_t>(info.nRefresh) < 60u ? -1 : info.nRefresh;
    return 0;
}

int GetDirectXVersion(int* pnMajor, int* pnMinor, char* pcLetter)
{
    if (pnMajor)
        *pnMajor = KX_DIRECTX_VERSION;
    if (pnMinor)
        *pnMinor = 0;
    if (pcLetter)
        *pcLetter = ' ';
    return 0;
}

int GetFileVersion64(const char* pszPath, uint64_t* pVersion)
{
    if (pVersion)
        *pVersion = 0;
    if (!pszPath || !*pszPath || !pVersion)
        return KX_E_INVALIDARG;
    // Files on this system carry no Windows version resource.
    return KX_E_FAIL;
}

uint64_t MakeVersion64(uint16_t a, uint16_t b, uint16_t c, uint16_t d)
{
    return (static_cast<uint64_t>(a) << 48) | (static_cast<uint64_t>(b) << 32) |
           (static_cast<uint64_t>(c) << 16) | static_cast<uint64_t>(d);
}

int CompareVersion64(uint64_t x, uint64_t y)
{
    return x < y ? -1 : (x > y ? 1 : 0);
}

int DisableDesktopComposition(void)
{
    return -1;
}

int IdentifyCPU(CPU_INFO* pOut)
{
    memset(pOut, 0, sizeof *pOut);
    uint32_t r[4];
    if (PlatCpuid(0, 0, r) != 0)
        return -1;
    const uint32_t nMaxLeaf = r[0];
    const uint32_t vendor[3] = {r[1], r[3], r[2]};   // ebx, edx, ecx
    StoreRegisterText(pOut->szVendor, vendor, 3);
    pOut->szVendor[12] = '\0';

    if (nMaxLeaf >= 1 && PlatCpuid(1, 0, r) == 0) {
        const uint32_t eax = r[0], ecx = r[2], edx = r[3];
        const int nBaseFamily = static_cast<int>((eax >> 8) & 0xF);
        const int nBaseModel = static_cast<int>((eax >> 4) & 0xF);
        pOut->nStepping = static_cast<int>(eax & 0xF);
        pOut->nFamily = nBaseFamily == 0xF ? nBaseFamily + static_cast<int>((eax >> 20) & 0xFF) : nBaseFamily;
        pOut->nModel = (nBaseFamily == 0x6 || nBaseFamily == 0xF) ? nBaseModel + static_cast<int>(((eax >> 16) & 0xF) << 4)
                                                                  : nBaseModel;
        pOut->bMMX = (edx >> 23) & 1;
        pOut->bSSE = (edx >> 25) & 1;
        pOut->bSSE2 = (edx >> 26) & 1;
        const bool bOSSaves = ((ecx >> 27) & 1) && ((ecx >> 28) & 1);   // OSXSAVE and AVX
        if (bOSSaves && nMaxLeaf >= 7 && PlatCpuid(7, 0, r) == 0)
            pOut->bAVX2 = (r[1] >> 5) & 1;
    }

    if (PlatCpuid(0x80000000u, 0, r) == 0 && r[0] >= 0x80000004u) {
        char szRaw[49] = {};
        for (uint32_t i = 0; i < 3; ++i) {
            if (PlatCpuid(0x80000002u + i, 0, r) != 0) {
                szRaw[0] = '\0';
                break;
            }
            StoreRegisterText(szRaw + i * 16, r, 4);
        }
        szRaw[48] = '\0';
        const char* p = szRaw;
        while (*p == ' ')
            ++p;
        snprintf(pOut->szBrand, sizeof pOut->szBrand, "%s", p);
    }
    return 0;
}

const char* WaveFormatName(uint32_t dwFormats)
{
    if (dwFormats & (KX_WAVE_FORMAT_4M16 | KX_WAVE_FORMAT_4S16))
        return "44.1kHz(16-bit)";
    if (dwFormats & (KX_WAVE_FORMAT_4M08 | KX_WAVE_FORMAT_4S08))
        return "44.1kHz(8-bit)";
    if (dwFormats & (KX_WAVE_FORMAT_2M16 | KX_WAVE_FORMAT_2S16))
        return "22.05kHz(16-bit)";
    if (dwFormats & (KX_WAVE_FORMAT_2M08 | KX_WAVE_FORMAT_2S08))
        return "22.05kHz,(8-bit)";
    if (dwFormats & (KX_WAVE_FORMAT_1M16 | KX_WAVE_FORMAT_1S16))
        return "11.025kHz(16-bit)";
    if (dwFormats & (KX_WAVE_FORMAT_1M08 | KX_WAVE_FORMAT_1S08))
        return "11.025kHz(8-bit)";
    return "Disable";
}

void DumpSystemInfo(void)
{
    // A report of an earlier run may lie there; it is removed whether or not it exists.
    PlatFileDelete(".\\info.txt");

    CPU_INFO cpu;
    IdentifyCPU(&cpu);
    PLAT_MEMORY_INFO mem{};
    PlatGetMemoryInfo(&mem);
    const uint64_t nMB = 1024u * 1024u;
    const unsigned nTotalMB = static_cast<unsigned>(std::min<uint64_t>(mem.nTotal / nMB, UINT32_MAX));
    const unsigned nAvailMB = static_cast<unsigned>(std::min<uint64_t>(mem.nAvail / nMB, UINT32_MAX));

    TraceLine("OS_VER = %d", g_nOSCode);
    TraceLine("CPU_NAME = %s", cpu.szBrand);
    TraceLine("CPU_MMX = %d", cpu.bMMX);
    TraceLine("CPU_SSE = %d", cpu.bSSE);
    TraceLine("CPU_SSE2 = %d", cpu.bSSE2);
    TraceLine("CPU_CORENUM = %d", g_nCPUs);
    TraceLine("CPU_COREUSE = %d", g_nWorkers);
    TraceLine("DirectX_VER = %d", g_nDirectXVersion);
    TraceLine("MEM_TOTAL = %u MB", nTotalMB);
    TraceLine("MEM_AVAIL = %u MB", nAvailMB);
    TraceLine("SCREEN = %d x %d x %d bit (%dHz)", g_nDesktopWidth, g_nDesktopHeight, g_nDesktopBits, g_nDesktopRefresh);
    // The system offers no list of display adapters or wave devices; the one display mode
    // known is the desktop's.
    PLAT_DESKTOP_INFO desk{};
    PlatGetDesktopInfo(&desk);
    TraceLine("DISPLAYMODE");
    TraceLine("[%3d]%4dx%4d %2d bit (%d Hz)", 0, desk.nWidth, desk.nHeight, desk.nBits, desk.nRefresh);
}

void SeedRandom(uint32_t seed)
{
    std::lock_guard<std::mutex> guard(s_lockRandom);
    s_random.seed(seed);
}

uint32_t NextRandom(void)
{
    std::lock_guard<std::mutex> guard(s_lockRandom);
    return static_cast<uint32_t>(s_random());
}

void* AllocZeroed(size_t n)
{
    // No object can be larger than PTRDIFF_MAX; refuse such sizes before asking the allocator.
    if (n > static_cast<size_t>(PTRDIFF_MAX))
        return nullptr;
    return calloc(n ? n : 1, 1);
}

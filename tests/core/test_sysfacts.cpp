#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "core/kx_format_consts.h"
#include "core/settings.h"
#include "core/sysfacts.h"
#include "platform/plat_sysinfo.h"
#include "tests/support/test_support.h"

namespace {

TEST(SysFacts, OSCodeTable)
{
    const struct { uint32_t nBuild; int nCode; } cases[] = {
        {950, 1}, {1111, 2}, {1212, 3}, {1214, 4}, {1057, 12}, {1381, 13}, {1998, 20}, {2222, 21},
        {3000, 30}, {2195, 40}, {2211, 45}, {2257, 45}, {2600, 50}, {3790, 60}, {5219, 65},
        {5743, 65}, {6000, 70}, {6002, 70}, {6801, 80}, {7600, 80}, {8158, 90}, {9200, 90},
        {9374, 91}, {9600, 91},
        {7601, 255},                  // Windows 7 SP1 is not in the table
        {19045, 255},                 // neither is Windows 10
        {0, 255},
        {0x00010000u + 2600, 50},     // only the low 16 bits count
    };
    for (const auto& c : cases)
        EXPECT_EQ(GetOSCodeForBuild(c.nBuild), c.nCode) << c.nBuild;
}

TEST(SysFacts, OSCodeOfThisSystemAndFake)
{
    EXPECT_EQ(GetOSCode(), KX_OS_CODE_LINUX);
    SetFakeOSBuild(950);
    EXPECT_EQ(GetOSCode(), 1);
    SetFakeOSBuild(7601);
    EXPECT_EQ(GetOSCode(), 255);
    SetFakeOSBuild(-1);
    EXPECT_EQ(GetOSCode(), KX_OS_CODE_LINUX);
}

TEST(SysFacts, WorkerCounts)
{
    const struct { int nProcessors, nCap, nCPUs, nWorkers; } cases[] = {
        {1, 4, 1, 1},
        {8, 4, 8, 4},
        {8, 1, 8, 1},      // the user setting for one worker
        {2, 4, 2, 2},
        {200, 4, 127, 4},  // more than a signed byte holds: clamped, never negative
        {128, 1, 127, 1},
        {0, 4, 1, 1},
        {8, 0, 8, 1},      // a cap below 1 still leaves one worker
    };
    for (const auto& c : cases) {
        int8_t nCPUs = ClampCPUCount(c.nProcessors);
        EXPECT_EQ(nCPUs, c.nCPUs) << c.nProcessors;
        EXPECT_EQ(CountWorkers(nCPUs, c.nCap), c.nWorkers) << c.nProcessors << " cap " << c.nCap;
    }
}

TEST(SysFacts, ReadSystemMetrics)
{
    const int nSavedCap = g_nWorkerCap;
    const struct { int nRefresh, nStored; } refresh[] = {{59, -1}, {60, 60}, {144, 144}, {0, -1}};
    for (const auto& r : refresh) {
        PLAT_DESKTOP_INFO fake{1920, 1080, 24, r.nRefresh};
        PlatSetFakeDesktopInfo(&fake);
        g_nWorkerCap = 1;
        EXPECT_EQ(ReadSystemMetrics(), 0);
        EXPECT_EQ(g_nDesktopWidth, 1920);
        EXPECT_EQ(g_nDesktopHeight, 1080);
        EXPECT_EQ(g_nDesktopBits, 24);
        EXPECT_EQ(g_nDesktopRefresh, r.nStored) << r.nRefresh;
        EXPECT_EQ(g_nWorkers, 1);
    }
    PlatSetFakeDesktopInfo(nullptr);
    g_nWorkerCap = 4;
    ReadSystemMetrics();
    EXPECT_EQ(g_nOSCode, KX_OS_CODE_LINUX);
    EXPECT_EQ(g_nCPUs, ClampCPUCount(PlatGetProcessorCount()));
    EXPECT_EQ(g_nWorkers, CountWorkers(g_nCPUs, 4));
    g_nWorkerCap = nSavedCap;
}

TEST(SysFacts, VersionsAndMissingSystemServices)
{
    EXPECT_EQ(MakeVersion64(4, 8, 0, 400), 0x0004000800000190ull);
    const struct { uint64_t x, y; int nOrder; } cases[] = {
        {MakeVersion64(4, 8, 0, 400), MakeVersion64(4, 8, 0, 400), 0},
        {MakeVersion64(4, 8, 0, 399), MakeVersion64(4, 8, 0, 400), -1},
        {MakeVersion64(4, 9, 0, 0), MakeVersion64(4, 8, 65535, 65535), 1},
        {MakeVersion64(5, 1, 2258, 400), MakeVersion64(4, 8, 0, 400), 1},
        {MakeVersion64(65535, 0, 0, 0), MakeVersion64(1, 0, 0, 0), 1},   // compared unsigned
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CompareVersion64(c.x, c.y), c.nOrder);
        EXPECT_EQ(CompareVersion64(c.y, c.x), -c.nOrder);
    }

    uint64_t v = 123;
    EXPECT_EQ(GetFileVersion64(nullptr, &v), KX_E_INVALIDARG);
    EXPECT_EQ(GetFileVersion64("d3d9.dll", nullptr), KX_E_INVALIDARG);
    EXPECT_EQ(GetFileVersion64("d3d9.dll", &v), KX_E_FAIL);
    EXPECT_EQ(v, 0u);
    EXPECT_LT(KX_E_FAIL, 0);

    int nMajor = -1, nMinor = -1;
    char cLetter = 'x';
    EXPECT_EQ(GetDirectXVersion(&nMajor, &nMinor, &cLetter), 0);
    EXPECT_EQ(nMajor, KX_DIRECTX_VERSION);
    EXPECT_EQ(nMinor, 0);
    EXPECT_EQ(cLetter, ' ');
    EXPECT_EQ(DisableDesktopComposition(), -1);
}

TEST(SysFacts, WaveFormatName)
{
    const struct { uint32_t dwFormats; const char* pszName; } cases[] = {
        {0xFFF, "44.1kHz(16-bit)"},
        {KX_WAVE_FORMAT_4S16, "44.1kHz(16-bit)"},
        {KX_WAVE_FORMAT_4M08 | KX_WAVE_FORMAT_2S16, "44.1kHz(8-bit)"},
        {KX_WAVE_FORMAT_2M16 | KX_WAVE_FORMAT_1S16, "22.05kHz(16-bit)"},
        {KX_WAVE_FORMAT_2S08, "22.05kHz,(8-bit)"},
        {KX_WAVE_FORMAT_1M16 | KX_WAVE_FORMAT_1M08, "11.025kHz(16-bit)"},
        {KX_WAVE_FORMAT_1S08, "11.025kHz(8-bit)"},
        {0, "Disable"},
        {0xF000, "Disable"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(WaveFormatName(c.dwFormats), c.pszName) << std::hex << c.dwFormats;
}

TEST(SysFacts, IdentifyCPU)
{
    CPU_INFO cpu;
#if defined(__x86_64__) || defined(__i386__)
    ASSERT_EQ(IdentifyCPU(&cpu), 0);
    EXPECT_EQ(strlen(cpu.szVendor), 12u);
#if defined(__x86_64__)
    EXPECT_EQ(cpu.bSSE2, 1);   // every x86-64 processor has it
    EXPECT_EQ(cpu.bSSE, 1);
#endif
    EXPECT_NE(cpu.szBrand[0], ' ');
    EXPECT_LE(strlen(cpu.szBrand), 48u);
#else
    EXPECT_EQ(IdentifyCPU(&cpu), -1);
    EXPECT_EQ(cpu.szVendor[0], '\0');
#endif
}

TEST(SysFacts, MersenneTwisterReference)
{
    SeedRandom(5489);
    uint32_t v = 0;
    for (int i = 0; i < 10000; ++i)
        v = NextRandom();
    EXPECT_EQ(v, 4123659995u);
    SeedRandom(5489);
    EXPECT_EQ(NextRandom(), 3499211612u);   // the first reference output
}

TEST(SysFacts, AllocZeroed)
{
    const size_t n = 64 * 1024 + 3;
    auto* p = static_cast<unsigned char*>(AllocZeroed(n));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::count(p, p + n, 0), static_cast<std::ptrdiff_t>(n));
    free(p);
    void* pEmpty = AllocZeroed(0);
    EXPECT_NE(pEmpty, nullptr);
    free(pEmpty);
    EXPECT_EQ(AllocZeroed(SIZE_MAX), nullptr);
    EXPECT_EQ(AllocZeroed(SIZE_MAX / 2 + 1), nullptr);
}

TEST(SysFacts, DumpSystemInfoDeletesOldReport)
{
    TEMP_DIR dir;
    dir.Write("info.txt", std::string("old report"));
    dir.Write("keep.txt", std::string("other file"));
    const auto saved = std::filesystem::current_path();
    std::filesystem::current_path(dir.strNative);
    DumpSystemInfo();
    DumpSystemInfo();   // nothing to delete the second time
    std::filesystem::current_path(saved);
    EXPECT_FALSE(dir.Exists("info.txt"));
    EXPECT_TRUE(dir.Exists("keep.txt"));
}

}  // namespace

// Facts about the machine and their test overrides.
#include "platform/plat_sysinfo.h"

#include <gtest/gtest.h>
#include <cstdlib>

namespace {

TEST(PlatSysinfo, DesktopComesFromFakeEnvironmentOrHeadlessDefault)
{
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    struct DESKTOP_CASE {
        const char* pszEnv;
        PLAT_DESKTOP_INFO expect;
    };
    const DESKTOP_CASE aCases[] = {
        {"1920x1080x32@60", {1920, 1080, 32, 60}},
        {"800x600x16", {800, 600, 16, 0}},
        {"1920x1080", {1024, 768, 32, 0}},        // unreadable values are ignored
        {"0x600x32@60", {1024, 768, 32, 0}},
        {"800x600x16@60hz", {1024, 768, 32, 0}},
        {nullptr, {1024, 768, 32, 0}},
    };
    for (const DESKTOP_CASE& c : aCases) {
        if (c.pszEnv) setenv("KOLVEX_DESKTOP", c.pszEnv, 1); else unsetenv("KOLVEX_DESKTOP");
        PLAT_DESKTOP_INFO di;
        PlatGetDesktopInfo(&di);
        EXPECT_EQ(di.nWidth, c.expect.nWidth) << (c.pszEnv ? c.pszEnv : "none");
        EXPECT_EQ(di.nHeight, c.expect.nHeight);
        EXPECT_EQ(di.nBits, c.expect.nBits);
        EXPECT_EQ(di.nRefresh, c.expect.nRefresh);
    }
    setenv("KOLVEX_DESKTOP", "800x600x16@75", 1);
    PLAT_DESKTOP_INFO fake{3840, 2160, 32, 144};
    PlatSetFakeDesktopInfo(&fake);
    PLAT_DESKTOP_INFO di;
    PlatGetDesktopInfo(&di);
    EXPECT_EQ(di.nWidth, 3840);
    EXPECT_EQ(di.nRefresh, 144);
    PlatSetFakeDesktopInfo(nullptr);
    PlatGetDesktopInfo(&di);
    EXPECT_EQ(di.nWidth, 800);
    unsetenv("KOLVEX_DESKTOP");
}

TEST(PlatSysinfo, ProcessorsMemoryAndCpuid)
{
    EXPECT_GE(PlatGetProcessorCount(), 1);
    PLAT_MEMORY_INFO mi;
    PlatGetMemoryInfo(&mi);
    EXPECT_GT(mi.nTotal, 0u);
    EXPECT_LE(mi.nAvail, mi.nTotal);
#if defined(__x86_64__) || defined(__i386__)
    uint32_t regs[4];
    ASSERT_EQ(PlatCpuid(0, 0, regs), 0);
    EXPECT_GE(regs[0], 1u);   // the highest basic leaf
    EXPECT_EQ(PlatCpuid(regs[0] + 1, 0, regs), -1);
#endif
}

}  // namespace

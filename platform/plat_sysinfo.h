// Facts about the machine.
#pragma once
#include <cstdint>

int PlatGetProcessorCount(void);   // at least 1

struct PLAT_DESKTOP_INFO {
    int nWidth, nHeight;   // pixels
    int nBits;             // colour depth
    int nRefresh;          // Hz, 0 when unknown
};
// The primary desktop, from SDL; KOLVEX_DESKTOP=WxHxBITS@HZ or the test setter overrides it.
// Without a display: 1024 x 768 x 32 at 0 Hz. Asks SDL, so call it on the window thread; when SDL's
// video is not started yet, it is started for the question and stopped again.
void PlatGetDesktopInfo(PLAT_DESKTOP_INFO* pOut);
void PlatSetFakeDesktopInfo(const PLAT_DESKTOP_INFO* pInfo);   // NULL returns to the real one

struct PLAT_MEMORY_INFO {
    uint64_t nTotal, nAvail;   // bytes of physical memory
};
void PlatGetMemoryInfo(PLAT_MEMORY_INFO* pOut);

// CPUID: regs receive eax, ebx, ecx, edx; 0, or -1 when the leaf is not supported.
int PlatCpuid(uint32_t nLeaf, uint32_t nSubLeaf, uint32_t regs[4]);

// Bytes available to this user on the volume that holds the engine path (a missing path: the
// volume of its nearest existing folder); 0 when the question fails.
int64_t PlatGetDiskFreeBytes(const char* pszPath);
// 1 when the user has administrator rights (the super-user), else 0. Tests may fix the answer
// (nAnswer 0 or 1; -1 returns to the real one).
int PlatIsUserAdmin(void);
void PlatSetUserAdminForTest(int nAnswer);

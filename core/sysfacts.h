// Facts about the machine gathered at start-up (system version code, processors and workers,
// desktop, DirectX level), the system report for the debug trace, the engine's random generator
// and cleared allocation.
#pragma once
#include <cstddef>
#include <cstdint>

// The system version as a small code (see GetOSCodeForBuild). Every comparison with it is
// unsigned, so 255 counts as the newest system.
extern uint8_t g_nOSCode;
// Processors, clamped to 1..127 so that the count never wraps negative.
extern int8_t g_nCPUs;
// Image workers: min(g_nWorkerCap, max(1, g_nCPUs)).
extern int8_t g_nWorkers;
// The primary desktop; a refresh rate below 60 Hz (or unknown) reads as -1.
extern int32_t g_nDesktopWidth;
extern int32_t g_nDesktopHeight;
extern int32_t g_nDesktopBits;
extern int32_t g_nDesktopRefresh;
// The DirectX major version reported to scripts (filled by start-up from GetDirectXVersion).
extern int32_t g_nDirectXVersion;

// Result codes of GetFileVersion64, with the values Windows gives them.
inline constexpr int32_t KX_E_FAIL = static_cast<int32_t>(0x80004005u);
inline constexpr int32_t KX_E_INVALIDARG = static_cast<int32_t>(0x80070057u);
inline constexpr int32_t KX_E_OUTOFMEMORY = static_cast<int32_t>(0x8007000Eu);

// The code of a Windows build number (its low 16 bits are used): 1..4 Windows 95, 12/13 NT 3.51
// and 4.0, 20/21 Windows 98, 30 Me, 40 Windows 2000, 45/50 XP, 60 Server 2003, 65/70 Vista,
// 80 Windows 7, 90/91 Windows 8 and 8.1; 255 for any other build.
int GetOSCodeForBuild(uint32_t nBuild);
// The code of the running system: KX_OS_CODE_LINUX here, or the code of the build given to
// SetFakeOSBuild.
int GetOSCode(void);
// Tests: let GetOSCode answer for a Windows build number; a negative number returns to the real one.
void SetFakeOSBuild(int32_t nBuild);

// The processor count as stored (1..127), and the worker count for it under a cap (a cap below 1
// counts as 1).
int8_t ClampCPUCount(int nProcessors);
int8_t CountWorkers(int nCPUs, int nWorkerCap);

// Fills g_nOSCode, g_nCPUs, g_nWorkers (with g_nWorkerCap of the user settings) and the desktop
// facts. Returns 0.
int ReadSystemMetrics(void);

// The installed DirectX version. There are no system DLLs to probe: major KX_DIRECTX_VERSION,
// minor 0, letter ' '. Any output may be NULL. Returns 0.
int GetDirectXVersion(int* pnMajor, int* pnMinor, char* pcLetter);
// A file's version resource as a 64-bit version (see MakeVersion64). 0, KX_E_INVALIDARG for a
// missing path or output, KX_E_FAIL when the file has no version resource (files here never do).
// *pVersion is 0 on failure.
int GetFileVersion64(const char* pszPath, uint64_t* pVersion);
// a.b.c.d with 16 bits each, a highest.
uint64_t MakeVersion64(uint16_t a, uint16_t b, uint16_t c, uint16_t d);
// -1, 0 or 1 as x is older than, equal to or newer than y.
int CompareVersion64(uint64_t x, uint64_t y);

// Switches desktop composition off. There is no composition manager to ask: -1.
int DisableDesktopComposition(void);

// What CPUID tells of the processor.
struct CPU_INFO {
    char szVendor[13];     // e.g. "GenuineIntel"; empty without CPUID
    int nFamily;           // display family (base plus extended family for family 15)
    int nModel;            // display model (extended model added for families 6 and 15)
    int nStepping;
    uint8_t bMMX, bSSE, bSSE2;
    uint8_t bAVX2;         // CPUID reports AVX2 and the system saves the extended registers
    char szBrand[49];      // the 48-byte brand text without leading blanks; empty when absent
};
// 0, or -1 when the processor cannot be asked (the record is then cleared).
int IdentifyCPU(CPU_INFO* pOut);

// The wave-device format bits of a formats mask (the values of the WAVE_FORMAT_ flags).
enum {
    KX_WAVE_FORMAT_1M08 = 0x001, KX_WAVE_FORMAT_1S08 = 0x002, KX_WAVE_FORMAT_1M16 = 0x004, KX_WAVE_FORMAT_1S16 = 0x008,
    KX_WAVE_FORMAT_2M08 = 0x010, KX_WAVE_FORMAT_2S08 = 0x020, KX_WAVE_FORMAT_2M16 = 0x040, KX_WAVE_FORMAT_2S16 = 0x080,
    KX_WAVE_FORMAT_4M08 = 0x100, KX_WAVE_FORMAT_4S08 = 0x200, KX_WAVE_FORMAT_4M16 = 0x400, KX_WAVE_FORMAT_4S16 = 0x800,
};
// The best format in the mask as text ("44.1kHz(16-bit)" ... "Disable").
const char* WaveFormatName(uint32_t dwFormats);

// Deletes ".\info.txt" and hands the system report to the debug trace, one line at a time.
void DumpSystemInfo(void);

// The engine's random generator (MT19937): SeedRandom(5489) gives the reference sequence, which
// is also the sequence before any seeding. Thread-safe.
void SeedRandom(uint32_t seed);
uint32_t NextRandom(void);

// n bytes cleared to zero (n = 0 gives a valid pointer too); NULL when memory runs out.
// Free with free().
void* AllocZeroed(size_t n);

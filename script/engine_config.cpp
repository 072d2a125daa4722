// The compiled engine configuration kxbin\kxcfg.kbn.
//
// Layout (little-endian, no magic number or version):
//   0  16 bytes  not read
//   16 int32     logical screen width        20 int32  logical screen height
//   24 int32     show the main window at the first frame (low byte)
//   28 8 bytes   image extension order       36 4 bytes  sound extension order
//   40 int32     threaded frames (0 or 1)    44 int32  debug build (low byte)
//   48 int32     sound mode (low byte)       52 int32  main window has a sizing frame (low byte)
//   56 int32     windows have a caption and frame (low byte)
//   60 int32     kept, read nowhere          64 int32  development source order (low byte)
//   68 int32     release source order        72 4 bytes  not read
//   76 uint16    title length L (at most 128), then L bytes of cp932 title without a terminator
#include "script/engine_config.h"

#include <cstdlib>
#include <cstring>

#include "core/byte_reader.h"
#include "core/errors.h"
#include "core/file_location.h"
#include "core/frame_loop.h"
#include "core/sysfacts.h"
#include "core/window_record.h"


namespace {

// The fields as the file holds them, before any check.
struct CONFIG_IMAGE {
    int32_t nWidth, nHeight, nShow;
    uint8_t abImageOrder[8];
    uint8_t abSoundOrder[4];
    int32_t nThreaded, nDebug, nSoundMode, nResizable, nFramed, nSpare, nDevOrder, nReleaseOrder;
    uint16_t nTitleLen;
    const uint8_t* pTitle;   // nTitleLen bytes inside the file image
};

// Finds the file through the file sources and reads it whole (freed by the caller with free()).
// 0, or -1 after a fatal report: missing 104060, its pack does not open 901040; the readers report
// their own failures (104010 and the pack errors).
int ReadConfigFile(const char* pszName, uint8_t** ppData, size_t* pnSize)
{
    FILE_LOCATION loc{};
    return ReadFoundFile(&loc, LocateFile(&loc, pszName, 0), pszName, ppData, pnSize);
}

// Takes every field through the bounded cursor. 0, or -1 when the image is shorter than the fixed
// part plus the title it announces.
int ParseConfigImage(const uint8_t* pData, size_t nSize, CONFIG_IMAGE* pOut)
{
    BIN_CURSOR cur;
    InitBinCursor(&cur, pData, nSize);
    SkipBytes(&cur, 16);
    ReadI32(&cur, &pOut->nWidth);
    ReadI32(&cur, &pOut->nHeight);
    ReadI32(&cur, &pOut->nShow);
    ReadBytes(&cur, pOut->abImageOrder, sizeof pOut->abImageOrder);
    ReadBytes(&cur, pOut->abSoundOrder, sizeof pOut->abSoundOrder);
    ReadI32(&cur, &pOut->nThreaded);
    ReadI32(&cur, &pOut->nDebug);
    ReadI32(&cur, &pOut->nSoundMode);
    ReadI32(&cur, &pOut->nResizable);
    ReadI32(&cur, &pOut->nFramed);
    ReadI32(&cur, &pOut->nSpare);
    ReadI32(&cur, &pOut->nDevOrder);
    ReadI32(&cur, &pOut->nReleaseOrder);
    SkipBytes(&cur, 4);
    ReadU16(&cur, &pOut->nTitleLen);
    // The title is taken in place: a length beyond the file fails here, before anything is copied.
    ReadSpan(&cur, pOut->nTitleLen, &pOut->pTitle);
    return cur.bFailed ? -1 : 0;
}

bool SizeInRange(int32_t nWidth, int32_t nHeight)
{
    return nWidth >= KX_CONFIG_MIN_WIDTH && nWidth <= KX_CONFIG_MAX_SIZE && nHeight >= KX_CONFIG_MIN_HEIGHT &&
           nHeight <= KX_CONFIG_MAX_SIZE;
}

// Applies the checked fields in the file's order of checks. 0, or 1 after a fatal report.
int ApplyConfig(const CONFIG_IMAGE& cfg)
{
    // Screen size: 0 x 0 asks for the desktop's size; anything else must lie in range.
    int32_t nWidth = cfg.nWidth, nHeight = cfg.nHeight;
    if (nWidth == 0 && nHeight == 0) {
        nWidth = g_nDesktopWidth;
        nHeight = g_nDesktopHeight;
    } else if (!SizeInRange(nWidth, nHeight)) {
        ReportError(KX_ERR_CONFIG_VALUE, 1);
        return 1;
    }
    g_nScreenWidth = nWidth;
    g_nScreenHeight = nHeight;
    if (WINDOW_STATE* pMain = g_apWindowState[0]) {
        pMain->nWidth = nWidth;
        pMain->nHeight = nHeight;
        pMain->bVisible = static_cast<uint8_t>(cfg.nShow);
    }
    std::memcpy(g_abImageExtOrder, cfg.abImageOrder, sizeof g_abImageExtOrder);
    std::memcpy(g_abSoundExtOrder, cfg.abSoundOrder, sizeof g_abSoundExtOrder);

    // Title: an empty one becomes a single space so that the window always has a caption.
    if (cfg.nTitleLen > KX_CONFIG_TITLE_MAX) {
        ReportError(KX_ERR_CONFIG_TITLE, 1);
        return 1;
    }
    std::memcpy(g_szWindowTitle, cfg.pTitle, cfg.nTitleLen);
    g_szWindowTitle[cfg.nTitleLen] = '\0';
    if (g_szWindowTitle[0] == '\0') std::memcpy(g_szWindowTitle, " ", 2);

    if (cfg.nThreaded != 0 && cfg.nThreaded != 1) {
        ReportError(KX_ERR_CONFIG_VALUE, 1);
        return 1;
    }
    g_bThreadedFrames = static_cast<uint8_t>(cfg.nThreaded);
    g_bDebug = static_cast<uint8_t>(cfg.nDebug);
    g_nSoundMode = static_cast<uint8_t>(cfg.nSoundMode);
    g_bResizable = static_cast<uint8_t>(cfg.nResizable);
    g_bFramedWindow = static_cast<uint8_t>(cfg.nFramed);
    g_bConfigSpare = static_cast<uint8_t>(cfg.nSpare);
    g_bDevSourceOrder = static_cast<uint8_t>(cfg.nDevOrder);
    g_bReleaseSourceOrder = static_cast<uint8_t>(cfg.nReleaseOrder);
    return 0;
}

}  // namespace

int32_t ScreenTextureSide(int32_t nLogical)
{
    for (int32_t nSide = 256; nSide <= 2048; nSide *= 2)
        if (nSide >= nLogical) return nSide;
    return 4096;
}

int LoadEngineConfig(void)
{
    static const char kName[] = KX_ENGINE_CONFIG_FILE;
    uint8_t* pData = nullptr;
    size_t nSize = 0;
    if (ReadConfigFile(kName, &pData, &nSize) != 0) return -1;

    CONFIG_IMAGE cfg{};
    if (ParseConfigImage(pData, nSize, &cfg) != 0) {
        std::free(pData);
        ReportErrorF(KX_ERR_FILE_READ, 1, kName);
        return -1;
    }
    const int r = ApplyConfig(cfg);
    std::free(pData);
    if (r != 0) return r;

    if (g_nScreenTexWidth == 0) g_nScreenTexWidth = ScreenTextureSide(g_nScreenWidth);
    if (g_nScreenTexHeight == 0) g_nScreenTexHeight = ScreenTextureSide(g_nScreenHeight);
    return 0;
}

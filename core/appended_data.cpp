// Appended data: the marker, the header behind the executable and the screen-saver switches.
#include "core/appended_data.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/kx_texts.h"
#include "core/pack_archive.h"
#include "core/settings.h"
#include "platform/plat_file.h"
#include "platform/plat_msgbox.h"
#include "platform/plat_preview.h"

// Patched in the executable's file by the packaging tool; read through volatile so that the
// compiler never folds the default into the code.
__attribute__((section("kx_res"), used)) volatile KX_RES_MARKER g_KxResMarker = {KX_RES_TAG, KX_RES_NO_DATA};

uint8_t g_bAppendedData = 0;
uint32_t g_dwBareExeSize = 0;
int64_t g_qwPackOffset = 0;
uint8_t g_bScreenSaver = 0;
uint32_t g_dwPreviewSize = 0;
int32_t g_nPreviewParent = 0;

static uint32_t GetU32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

uint32_t ReadExeSizeResource(void)
{
    return g_KxResMarker.dwBareSize;
}

int64_t ReadAppendedHeader(uint32_t dwBare, int* pbMagic)
{
    *pbMagic = 0;
    PLAT_FILE* pFile = PlatFileOpen(g_szExeFile, PLAT_FILE_READ);
    if (!pFile) return 0;
    if (dwBare > 0 && PlatFileSeek(pFile, dwBare, PLAT_SEEK_SET) == static_cast<int64_t>(dwBare)) {
        uint8_t ab[KX_APPENDED_HEADER_SIZE];
        if (PlatFileRead(pFile, ab, sizeof ab) == static_cast<int64_t>(sizeof ab) &&
            std::memcmp(ab, KX_APPENDED_MAGIC, 4) == 0) {
            *pbMagic = 1;
            g_qwPackOffset = GetU32(ab + 4);
            g_dwPreviewSize = GetU32(ab + 8);
        }
    }
    int64_t llLength = PlatFileSize(pFile);
    PlatFileClose(pFile);
    return llLength < 0 ? 0 : llLength;
}

static int StopWithBox(void)
{
    PlatMessageBoxA(nullptr, "FS", PLAT_MB_OK);
    return -1;
}

int DetectAppendedData(void)
{
    uint32_t dwBare = ReadExeSizeResource();
    int bMagic = 0;
    g_qwPackOffset = 0;
    g_dwPreviewSize = 0;
    int64_t llLength = ReadAppendedHeader(dwBare, &bMagic);
    if (dwBare == 0) return StopWithBox();
    if (dwBare == KX_RES_NO_DATA || llLength == 0 || llLength == dwBare || !bMagic) {
        g_qwPackOffset = 0;
        g_dwPreviewSize = 0;
        return 0;
    }
    // The header comes from the file: the picture and the pack must both lie inside it.
    const int64_t llAfterHeader = static_cast<int64_t>(dwBare) + KX_APPENDED_HEADER_SIZE;
    if (llAfterHeader + g_dwPreviewSize > llLength || static_cast<int64_t>(dwBare) + g_qwPackOffset > llLength ||
        g_qwPackOffset < KX_APPENDED_HEADER_SIZE + static_cast<int64_t>(g_dwPreviewSize))
        return StopWithBox();
    g_dwBareExeSize = dwBare;
    g_bScreenSaver = g_dwPreviewSize != 0;
    g_bPackedData = 1;
    g_bAppendedData = 1;
    return 1;
}

// A switch: '/' or '-' and then the letter, in either case.
static int IsSwitch(const char* psz, char cLetter)
{
    return psz && (psz[0] == '/' || psz[0] == '-') && psz[1] != 0 && (psz[1] | 0x20) == cLetter;
}

int RunScreenSaverCommand(void)
{
    const int nArgs = g_nCmdLineArgCount < 0 ? 0 : g_nCmdLineArgCount;
    const char* pszFirst = nArgs >= 1 ? g_apszCmdLineArgs[1] : nullptr;
    if (nArgs == 0 || (nArgs == 1 && IsSwitch(pszFirst, 'c'))) {
        ShowMessageBox(GetEngineText(TXT_SCR_ABOUT_CAPTION), "%s", GetEngineText(TXT_SCR_ABOUT));
        return -1;
    }
    if (nArgs == 2 && IsSwitch(pszFirst, 'p')) {
        // A number beyond the window ids' range names no window (rather than another one, cut short).
        const long nParent = std::atol(g_apszCmdLineArgs[2]);
        CreateScreenSaverPreview(nParent > 0 && nParent <= INT32_MAX ? static_cast<int32_t>(nParent) : 0);
        return -1;
    }
    if (nArgs == 2 && IsSwitch(pszFirst, 'a')) return -1;
    return 0;
}

int LoadScreenSaverBitmap(std::vector<uint8_t>* pOut)
{
    pOut->clear();
    PLAT_FILE* pFile = PlatFileOpen(g_szExeFile, PLAT_FILE_READ);
    if (!pFile) return -1;
    int r = -1;
    uint8_t ab[4];
    const int64_t llLength = PlatFileSize(pFile);
    const int64_t llStart = static_cast<int64_t>(g_dwBareExeSize) + KX_APPENDED_HEADER_SIZE;
    if (PlatFileSeek(pFile, static_cast<int64_t>(g_dwBareExeSize) + 8, PLAT_SEEK_SET) >= 0 &&
        PlatFileRead(pFile, ab, 4) == 4) {
        const uint32_t dwSize = GetU32(ab);
        if (dwSize > 0 && llStart + dwSize <= llLength && PlatFileSeek(pFile, llStart, PLAT_SEEK_SET) == llStart) {
            try {
                pOut->resize(dwSize);
                if (PlatFileRead(pFile, pOut->data(), dwSize) == static_cast<int64_t>(dwSize)) r = 0;
            } catch (...) {
                r = -1;
            }
        }
    }
    PlatFileClose(pFile);
    if (r != 0) pOut->clear();
    return r;
}

int DecodePreviewPicture(const uint8_t* pData, size_t nSize, PREVIEW_PICTURE* pOut)
{
    enum { FILE_HEADER = 14, INFO_HEADER = 40, PIXELS = 54, MAX_SIDE = 1 << 15 };
    if (!pData || nSize < PIXELS) return -1;
    const uint8_t* pInfo = pData + FILE_HEADER;
    const int32_t nWidth = static_cast<int32_t>(GetU32(pInfo + 4));
    const int32_t nHeight = static_cast<int32_t>(GetU32(pInfo + 8));
    const uint16_t wBits = static_cast<uint16_t>(pInfo[14] | pInfo[15] << 8);
    if (GetU32(pInfo) < INFO_HEADER || wBits != 24) return -1;
    if (nWidth <= 0 || nWidth > MAX_SIDE || nHeight == 0 || nHeight < -MAX_SIDE || nHeight > MAX_SIDE) return -1;
    const int32_t nRows = nHeight < 0 ? -nHeight : nHeight;
    const size_t nStride = (static_cast<size_t>(nWidth) * 3 + 3) & ~static_cast<size_t>(3);
    if (nStride * static_cast<size_t>(nRows) > nSize - PIXELS) return -1;
    pOut->nWidth = nWidth;
    pOut->nHeight = nRows;
    pOut->nStride = static_cast<int32_t>(nStride);
    pOut->pixels.assign(pData + PIXELS, pData + PIXELS + nStride * static_cast<size_t>(nRows));
    pOut->apRows.resize(static_cast<size_t>(nRows));
    // Stored bottom-up unless the height is negative.
    for (int32_t y = 0; y < nRows; ++y) {
        const int32_t nStored = nHeight > 0 ? nRows - 1 - y : y;
        pOut->apRows[static_cast<size_t>(y)] = pOut->pixels.data() + nStride * static_cast<size_t>(nStored);
    }
    return 0;
}

int CreateScreenSaverPreview(int32_t nParent)
{
    g_nPreviewParent = nParent;
    std::vector<uint8_t> image;
    PREVIEW_PICTURE picture;
    if (LoadScreenSaverBitmap(&image) != 0 || DecodePreviewPicture(image.data(), image.size(), &picture) != 0) {
        std::fprintf(stderr, "kolvex: the screen saver's preview picture cannot be read\n");
        return 1;
    }
    // Shown until the settings dialog closes its window (or the process is asked to end).
    const int r = PlatRunPreviewWindow(nParent > 0 ? static_cast<unsigned long>(nParent) : 0, KX_PREVIEW_CLASS_NAME,
                                       picture.nWidth, picture.nHeight, picture.apRows.data());
    if (r == PLAT_PREVIEW_NO_WINDOW) {
        std::fprintf(stderr, "kolvex: no window %ld to show the screen saver's preview in\n", static_cast<long>(nParent));
        return 1;
    }
    if (r == PLAT_PREVIEW_NO_X11) {
        std::fprintf(stderr, "kolvex: the screen saver's preview is shown on an X11 display only\n");
        return 1;
    }
    return 0;
}

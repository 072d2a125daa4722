// The appended-data trailer and the screen-saver switches. The input: a uint32 that, taken modulo
// the file's length + 1, is the bare size in the marker; a line of switches (words split at
// blanks, up to the first line feed); the rest is the executable's file. The header behind the
// bare size is detected as at start-up, the preview picture of a screen-saver build is loaded and
// checked, and the switches are served.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/appended_data.h"
#include "core/engine_globals.h"
#include "core/pack_archive.h"
#include "core/settings.h"
#include "fuzz/support.h"

namespace {

void ResetAppendedState(void)
{
    g_bAppendedData = 0;
    g_dwBareExeSize = 0;
    g_qwPackOffset = 0;
    g_bScreenSaver = 0;
    g_dwPreviewSize = 0;
    g_nPreviewParent = 0;
    g_bPackedData = 0;
    g_KxResMarker.dwBareSize = KX_RES_NO_DATA;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* pArgc, char*** pArgv)
{
    FuzzInit(pArgc, pArgv);
    std::snprintf(g_szExeFile, sizeof g_szExeFile, "%s\\kolvex.exe", FuzzDirEngine().c_str());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize < 4) return 0;
    const uint32_t dwPick = FuzzU32(pData);
    const uint8_t* p = pData + 4;
    const uint8_t* pEnd = pData + nSize;
    const uint8_t* pLine = static_cast<const uint8_t*>(std::memchr(p, '\n', size_t(pEnd - p)));
    std::vector<std::string> words;
    const uint8_t* pFile = p;
    if (pLine) {
        std::string strWord;
        for (const uint8_t* q = p; q < pLine; ++q) {
            if (*q == ' ' || *q == '\t' || *q == 0) {
                if (!strWord.empty()) words.push_back(strWord);
                strWord.clear();
            } else {
                strWord.push_back(static_cast<char>(*q));
            }
        }
        if (!strWord.empty()) words.push_back(strWord);
        pFile = pLine + 1;
    }
    const size_t nFile = size_t(pEnd - pFile);
    FuzzWriteFile("kolvex.exe", pFile, nFile);

    ResetAppendedState();
    g_KxResMarker.dwBareSize = static_cast<uint32_t>(dwPick % (uint64_t(nFile) + 1));
    const int r = DetectAppendedData();
    if (r == 1) {
        // What start-up trusts from here on: the preview and the pack lie inside the file.
        if (uint64_t(g_dwBareExeSize) + KX_APPENDED_HEADER_SIZE + g_dwPreviewSize > nFile ||
            uint64_t(g_dwBareExeSize) + uint64_t(g_qwPackOffset) > nFile)
            __builtin_trap();
        std::vector<uint8_t> image;
        if (LoadScreenSaverBitmap(&image) == 0) {
            if (image.size() != g_dwPreviewSize) __builtin_trap();
            PREVIEW_PICTURE picture;
            DecodePreviewPicture(image.data(), image.size(), &picture);
        }
        if (CopyCommandLineArgs(g_szExeFile, words) == 0) RunScreenSaverCommand();
    }
    ResetAppendedState();
    FuzzEndInput();
    return 0;
}

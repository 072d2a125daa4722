// A game carried inside the executable: its pack is appended to the engine's executable behind a
// small header, and the executable's size before the appended data is kept in a marker of its own
// section, which the packaging tool (tools/kxpack --embed) patches. A header that announces a
// preview picture makes a screen-saver build, which serves the screen-saver switches.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// The marker: "KX_RES", a NUL, "201", NULs up to 16 bytes, then the uint32 size O of the
// executable without appended data (4: none). It lives in the section "kx_res".
struct KX_RES_MARKER {
    char szTag[16];
    uint32_t dwBareSize;
};
extern volatile KX_RES_MARKER g_KxResMarker;
#define KX_RES_TAG "KX_RES\0" "201"
enum { KX_RES_TAG_SIZE = 16, KX_RES_NO_DATA = 4 };

// The appended header at file offset O: "KXER", uint32 pack offset from O, uint32 preview size,
// 4 unused bytes, then the preview picture (a BMP file image).
enum { KX_APPENDED_HEADER_SIZE = 16 };
#define KX_APPENDED_MAGIC "KXER"

extern uint8_t g_bAppendedData;    // the game's pack is appended to the executable
extern uint32_t g_dwBareExeSize;   // the executable's size without the appended data
extern int64_t g_qwPackOffset;     // the appended pack's offset from the bare size
extern uint8_t g_bScreenSaver;     // the executable carries a screen-saver preview picture
extern uint32_t g_dwPreviewSize;   // the preview picture's bytes
extern int32_t g_nPreviewParent;   // the window the last preview was asked for

// O from the marker (0 when it holds 0).
uint32_t ReadExeSizeResource(void);
// Reads the header at O of the executable g_szExePath into the globals and returns the file's
// length; 0 when the executable cannot be opened. *pbMagic is 1 when the magic matched.
int64_t ReadAppendedHeader(uint32_t dwBare, int* pbMagic);
// 1 appended data found (flags set), 0 none, -1 the process ends (after the box "FS": the marker
// holds 0, or the header's pack or picture lies beyond the file's end).
int DetectAppendedData(void);
// Screen-saver builds, from the process arguments: 0 go on with normal start-up, -1 end the process.
int RunScreenSaverCommand(void);

// The preview picture: 24-bit rows of the standard stride ((w * 3 + 3) & ~3), bottom-up as stored;
// apRows[y] is the row shown at line y from the top.
struct PREVIEW_PICTURE {
    int32_t nWidth, nHeight, nStride;
    std::vector<uint8_t> pixels;
    std::vector<const uint8_t*> apRows;
};
// The picture's file image from the executable, checked against the file's length. 0 or -1.
int LoadScreenSaverBitmap(std::vector<uint8_t>* pOut);
// Checks and takes a BMP file image: 24 bits, w > 0, 0 < |h|, every row inside the image. 0 or -1.
int DecodePreviewPicture(const uint8_t* pData, size_t nSize, PREVIEW_PICTURE* pOut);
// The preview window's class and title.
#define KX_PREVIEW_CLASS_NAME "KOLVEXScreenSaver"
// Shows the preview inside the window nParent (an X window id) until that window goes away or the
// process is asked to end: 0, or 1 when it could not be shown (the picture cannot be read, no such
// window, no X11 display), with a line on standard error.
int CreateScreenSaverPreview(int32_t nParent);

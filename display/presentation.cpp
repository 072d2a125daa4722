// Presentation into the platform window's retained framebuffer, and the diagnostic switches that
// end a run after some frames and keep its last picture.
#include "display/presentation.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/codecs.h"
#include "core/engine_globals.h"
#include "core/engine_hooks.h"
#include "core/frame_loop.h"
#include "core/game_config.h"
#include "core/settings.h"
#include "display/window_state.h"
#include "image/layer.h"
#include "imageproc/compositor.h"
#include "imageproc/pixel_ops.h"
#include "imageproc/scaling.h"
#include "platform/plat_audio.h"
#include "platform/plat_editbox.h"
#include "platform/plat_file.h"
#include "platform/plat_paths.h"

namespace {

struct FRAMEBUFFER {
    uint8_t* pPixels;
    int nWidth, nHeight, nPitch;
};

int32_t ClampToInt(int64_t v)
{
    if (v > INT32_MAX / 2) return INT32_MAX / 2;
    if (v < INT32_MIN / 2) return INT32_MIN / 2;
    return static_cast<int32_t>(v);
}

// Copies the source rectangle (sx, sy, sw, sh; rows of nSrcStride pixels, top-down) to the
// destination rectangle (dx, dy, dw, dh) of the framebuffer, clipped to it. Equal sizes copy rows;
// other sizes take the nearest source pixel: sx + floor((x + 0.5) * sw / dw).
void BlitToFramebuffer(const FRAMEBUFFER& fb, int dx, int dy, int dw, int dh, const uint8_t* pSrc, int nSrcStride,
                       int sx, int sy, int sw, int sh)
{
    if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0 || !pSrc) return;
    const int x0 = dx < 0 ? 0 : dx, y0 = dy < 0 ? 0 : dy;
    const int x1 = dx + dw > fb.nWidth ? fb.nWidth : dx + dw;
    const int y1 = dy + dh > fb.nHeight ? fb.nHeight : dy + dh;
    if (x0 >= x1 || y0 >= y1) return;
    const bool bSame = dw == sw && dh == sh;
    for (int y = y0; y < y1; ++y) {
        const int64_t srcY = bSame ? sy + (y - dy) : sy + ((2 * static_cast<int64_t>(y - dy) + 1) * sh) / (2 * static_cast<int64_t>(dh));
        const uint8_t* pRow = pSrc + static_cast<size_t>(srcY) * static_cast<size_t>(nSrcStride) * 4;
        uint8_t* pOut = fb.pPixels + static_cast<size_t>(y) * static_cast<size_t>(fb.nPitch);
        if (bSame) {
            std::memcpy(pOut + static_cast<size_t>(x0) * 4, pRow + static_cast<size_t>(sx + (x0 - dx)) * 4,
                        static_cast<size_t>(x1 - x0) * 4);
            continue;
        }
        for (int x = x0; x < x1; ++x) {
            const int64_t srcX = sx + ((2 * static_cast<int64_t>(x - dx) + 1) * sw) / (2 * static_cast<int64_t>(dw));
            std::memcpy(pOut + static_cast<size_t>(x) * 4, pRow + static_cast<size_t>(srcX) * 4, 4);
        }
    }
}

// Blackens the framebuffer outside the rectangle (the letterbox bars).
void FillOutside(const FRAMEBUFFER& fb, int x, int y, int w, int h)
{
    for (int row = 0; row < fb.nHeight; ++row) {
        uint8_t* p = fb.pPixels + static_cast<size_t>(row) * static_cast<size_t>(fb.nPitch);
        if (row < y || row >= y + h || w <= 0) {
            std::memset(p, 0, static_cast<size_t>(fb.nWidth) * 4);
            continue;
        }
        const int l = x < 0 ? 0 : (x > fb.nWidth ? fb.nWidth : x);
        const int r = x + w < 0 ? 0 : (x + w > fb.nWidth ? fb.nWidth : x + w);
        if (l > 0) std::memset(p, 0, static_cast<size_t>(l) * 4);
        if (r < fb.nWidth) std::memset(p + static_cast<size_t>(r) * 4, 0, static_cast<size_t>(fb.nWidth - r) * 4);
    }
}

bool UseThreadedBilinear(void)
{
    return g_PixelOps.bSSE && g_bAllowSSE;
}

// Scales the whole layer into the scaled-frame buffer at the output size. 0, or -1 when the buffer
// cannot hold the output size or the scaler failed.
int ScaleIntoOutput(const LAYER* pLayer, bool bBilinear, bool bPresentTables)
{
    const int32_t tw = g_nOutputWidth, th = g_nOutputHeight;
    if (!g_pOutputBuffer || static_cast<int64_t>(tw) * th > GetOutputBufferCapacity()) return -1;
    const int32_t sw = pLayer->nWidth, sh = pLayer->nHeight;
    if (!bBilinear) return ScaleNearest(g_pOutputBuffer, pLayer->pDisplayPixels, 0, 0, sw - 1, sh - 1, sw, sh, tw, th);
    const int32_t x2 = (sw - 1) * 100, y2 = (sh - 1) * 100;
    if (bPresentTables)
        return ScaleBilinearPresent(g_pOutputBuffer, pLayer->pDisplayPixels, 0, 0, x2, y2, sw, sh, tw * 100, th * 100);
    if (UseThreadedBilinear())
        return ScaleBilinearThreaded(g_pOutputBuffer, pLayer->pDisplayPixels, 0, 0, x2, y2, sw, sh, tw * 100, th * 100);
    return ScaleBilinear(g_pOutputBuffer, pLayer->pDisplayPixels, 0, 0, x2, y2, sw, sh, tw * 100, th * 100);
}

// Diagnostic switches.
int64_t s_llQuitAfterFrames = 0;        // 0: off
int64_t s_llFramesAtInstall = 0;
char s_szScreenshotPath[4096];          // empty: off
std::vector<int64_t> s_allShotFrames;   // frames whose picture is written beside the last one
struct FRAME_SHOT {
    int64_t llFrame;
    int nWidth, nHeight;
    std::vector<uint8_t> aPixels;       // B,G,R,A rows
};
std::vector<FRAME_SHOT> s_aFrameShots;  // their pictures, written at shut-down
size_t s_nNextShot = 0;
uint8_t s_bFrameSound = 0;              // the frame-driven sound sink is chosen
std::vector<uint8_t> s_aShot;           // window 0's last presented picture, B,G,R,A rows
int s_nShotWidth = 0, s_nShotHeight = 0;

// Writes B,G,R,A rows of w x h pixels as a PNG file. 0 or -1.
int WritePngFile(const uint8_t* pPixels, int w, int h, const char* pszHostPath)
{
    if (!pPixels || w <= 0 || h <= 0) return -1;
    const uint64_t nBound = KxPngSaveBound(w, h);
    if (nBound > UINT32_MAX) return -1;
    std::vector<uint8_t> aPng(static_cast<size_t>(nBound));
    uint32_t nLen = static_cast<uint32_t>(nBound);
    if (g_pfnPngSave(pPixels, w, h, w * 4, 0, 6, aPng.data(), &nLen) != 0 || nLen > aPng.size()) return -1;
    // Replaced whole: a failed write leaves the earlier picture, never an empty file.
    return PlatWriteHostFileAtomic(pszHostPath, aPng.data(), nLen) == 0 ? 0 : -1;
}

// A screenshot that could not be written, with the system's reason when a file operation failed.
void TellShotFailure(const char* pszHostPath, int nErr)
{
    if (nErr)
        std::fprintf(stderr, "kolvex: the screenshot %s could not be written: %s\n", pszHostPath, std::strerror(nErr));
    else
        std::fprintf(stderr, "kolvex: the screenshot %s could not be written\n", pszHostPath);
}

void KeepScreenshot(const FRAMEBUFFER& fb)
{
    if (!s_szScreenshotPath[0] || fb.nWidth <= 0 || fb.nHeight <= 0) return;
    s_nShotWidth = fb.nWidth;
    s_nShotHeight = fb.nHeight;
    s_aShot.resize(static_cast<size_t>(fb.nWidth) * static_cast<size_t>(fb.nHeight) * 4);
    for (int y = 0; y < fb.nHeight; ++y)
        std::memcpy(&s_aShot[static_cast<size_t>(y) * static_cast<size_t>(fb.nWidth) * 4],
                    fb.pPixels + static_cast<size_t>(y) * static_cast<size_t>(fb.nPitch), static_cast<size_t>(fb.nWidth) * 4);
}

// The click switch: the frames (counted like the quit switch, ascending) at which the left button
// goes down, each at a point of the game screen (-1, -1: the middle of the picture); it comes up
// again two frames later.
struct DIAG_CLICK {
    int64_t llFrame;
    int32_t x, y;
};
std::vector<DIAG_CLICK> s_aClicks;
size_t s_nNextClick = 0;
int64_t s_llReleaseAt = -1;
int32_t s_nClickX = -1, s_nClickY = -1;   // the point of the click under way

// On the window thread: a left-button press (pDown not NULL) or release at the click's point of
// window 0's picture, as a player's mouse would give it. A window without focus gets it first, as
// a click into it would.
void DiagnosticClick(void* pDown)
{
    const PLAT_HWND hwnd = g_hMainWnd;
    if (!hwnd || !PlatIsWindow(hwnd)) return;
    int x = g_nOutputOffsetX + g_nOutputWidth / 2, y = g_nOutputOffsetY + g_nOutputHeight / 2;
    // A point of the game screen, scaled as the picture is.
    if (s_nClickX >= 0 && g_nScreenWidth > 0 && g_nScreenHeight > 0) {
        x = g_nOutputOffsetX + static_cast<int>(int64_t(s_nClickX) * g_nOutputWidth / g_nScreenWidth);
        y = g_nOutputOffsetY + static_cast<int>(int64_t(s_nClickY) * g_nOutputHeight / g_nScreenHeight);
    }
    if (pDown && g_apWindowState[0] && !g_apWindowState[0]->bActive) PlatFakeInjectFocus(hwnd, 1);
    PlatFakeInjectMouseMove(hwnd, x, y);
    PlatFakeInjectMouseButton(hwnd, 1, pDown ? 1 : 0, x, y);
}

// Reads a rising list of positive frame numbers "N,M,..."; with bPoints an entry may be "N@X:Y" (a
// point of the game screen; -1, -1 when none is given). false, with the list empty, when the text is
// not such a list.
bool ParseFrameList(const char* pszList, bool bPoints, std::vector<DIAG_CLICK>* pOut)
{
    pOut->clear();
    for (const char* p = pszList;;) {
        char* pEnd = nullptr;
        const long long n = std::strtoll(p, &pEnd, 10);
        bool bBad = pEnd == p || n <= 0 || (!pOut->empty() && n <= pOut->back().llFrame);
        DIAG_CLICK entry{n, -1, -1};
        if (!bBad && bPoints && *pEnd == '@') {
            const char* q = pEnd + 1;
            const long long x = std::strtoll(q, &pEnd, 10);
            bBad = pEnd == q || *pEnd != ':' || x < 0 || x > KX_MAX_IMAGE_WIDTH;
            if (!bBad) {
                q = pEnd + 1;
                const long long y = std::strtoll(q, &pEnd, 10);
                bBad = pEnd == q || y < 0 || y > KX_MAX_IMAGE_WIDTH;
                entry.x = static_cast<int32_t>(x);
                entry.y = static_cast<int32_t>(y);
            }
        }
        if (bBad || (*pEnd != 0 && *pEnd != ',')) {
            pOut->clear();
            return false;
        }
        pOut->push_back(entry);
        if (*pEnd == 0) return true;
        p = pEnd + 1;
    }
}

void DiagnosticClicks(int64_t llFrame)
{
    static int s_nDown = 1;
    if (s_llReleaseAt >= 0 && llFrame >= s_llReleaseAt) {
        s_llReleaseAt = -1;
        PlatRunOnWindowThread(DiagnosticClick, nullptr, 0);
    }
    if (s_nNextClick < s_aClicks.size() && llFrame >= s_aClicks[s_nNextClick].llFrame && s_llReleaseAt < 0) {
        s_nClickX = s_aClicks[s_nNextClick].x;
        s_nClickY = s_aClicks[s_nNextClick].y;
        ++s_nNextClick;
        s_llReleaseAt = llFrame + 2;
        PlatRunOnWindowThread(DiagnosticClick, &s_nDown, 0);
    }
}



}  // namespace

namespace {

bool s_bMovieOnScreen = false;   // a window movie owned the main window at the last frame's end

// While a window movie owns the main window the frames draw nothing: the window shows the movie's
// pictures, which its back end draws into the window on the window thread.
bool MovieOwnsMainWindow(void)
{
    return !g_bDrawDuringMovie && g_EngineHooks.pfnIsWindowMovieOwningScreen &&
           g_EngineHooks.pfnIsWindowMovieOwningScreen() != 0;
}

// On the window thread, where a window movie draws its pictures into the window: the screenshot
// becomes what the main window shows now.
void KeepShotFromWindow(void*)
{
    uint32_t* pFb = nullptr;
    FRAMEBUFFER fb{};
    if (!g_hMainWnd || PlatGetWindowFramebuffer(g_hMainWnd, &pFb, &fb.nWidth, &fb.nHeight, &fb.nPitch) != 0 || !pFb)
        return;
    fb.pPixels = reinterpret_cast<uint8_t*>(pFb);
    KeepScreenshot(fb);
}

}  // namespace

void DiagnosticMainWindowClosing(void)
{
    if (s_szScreenshotPath[0] && s_bMovieOnScreen) KeepShotFromWindow(nullptr);
}

// Last step of shut-down: writes the kept picture.
void DiagnosticShutdown(void)
{
    if (!s_szScreenshotPath[0]) return;
    std::string strBase = s_szScreenshotPath;
    if (strBase.size() > 4 && strBase.compare(strBase.size() - 4, 4, ".png") == 0) strBase.resize(strBase.size() - 4);
    for (const FRAME_SHOT& shot : s_aFrameShots) {
        const std::string strPath = strBase + "-" + std::to_string(shot.llFrame) + ".png";
        errno = 0;
        if (WritePngFile(shot.aPixels.data(), shot.nWidth, shot.nHeight, strPath.c_str()) != 0)
            TellShotFailure(strPath.c_str(), errno);
    }
    s_aFrameShots.clear();
    errno = 0;
    if (SaveWindowScreenshot(s_szScreenshotPath) != 0) TellShotFailure(s_szScreenshotPath, errno);
}

namespace {

void PresentMainWindowForShot(void*)
{
    if (g_apWindowState[0] && g_apWindowState[0]->hWnd) RepaintWindow(g_apWindowState[0]);
}

// Composes and presents this frame's picture now, so that the kept screenshot shows it: the frame
// may have been skipped, and the first frame is composed while the main window is still hidden.
void PresentFrameForShot(void)
{
    // While a window movie owns the window it is taken as the window shows it, never painted over.
    if (s_bMovieOnScreen) {
        if (PlatIsWindowThread()) KeepShotFromWindow(nullptr);
        else PlatRunOnWindowThread(KeepShotFromWindow, nullptr, 1);
        return;
    }
    if (RenderWindowCPU(0) != 0) return;
    if (PlatIsWindowThread()) PresentMainWindowForShot(nullptr);
    else PlatRunOnWindowThread(PresentMainWindowForShot, nullptr, 1);
}

// The picture of frame N, kept until shut-down writes it as "<KOLVEX_SCREENSHOT without .png>-N.png"
// (encoding it now would slow the frame it was taken in).
void KeepFrameScreenshot(int64_t llFrame)
{
    PresentFrameForShot();
    if (s_aShot.empty()) return;
    s_aFrameShots.push_back(FRAME_SHOT{llFrame, s_nShotWidth, s_nShotHeight, s_aShot});
}

}  // namespace

// At the end of every frame: the frame's sound for the frame-driven sink, the clicks, the
// screenshots of chosen frames, and the count towards the quit switch.
void DiagnosticFrameEnd(void)
{
    const int64_t llFrame = g_llFrameCount - s_llFramesAtInstall;
    if (s_bFrameSound) PlatDsAdvanceFrame(g_nFps);
    DiagnosticClicks(llFrame);
    if (s_szScreenshotPath[0]) s_bMovieOnScreen = MovieOwnsMainWindow();
    if (s_nNextShot < s_allShotFrames.size() && llFrame >= s_allShotFrames[s_nNextShot] && !g_bEngineStop) {
        ++s_nNextShot;
        KeepFrameScreenshot(llFrame);
    }
    if (s_llQuitAfterFrames > 0 && llFrame >= s_llQuitAfterFrames && !g_bEngineStop) {
        s_llQuitAfterFrames = 0;
        // The screenshot shows this frame's picture: presentation happens when the window is next
        // painted, which the quit would stop (or, under a window movie, what the window shows).
        if (s_szScreenshotPath[0]) PresentFrameForShot();
        RequestQuit();
    }
}

namespace {

// What the main window's whole picture was last presented with: a part is presented only into the
// same placement (a changed one needs the letterbox bars and every pixel anew).
struct PLACEMENT {
    int nFbW, nFbH;
    int32_t lw, lh, ow, oh, lx, ly, ox, oy;
    int nScaleMode, bInterpolate, bFullscreen, bMaximized, bThreaded;
    bool operator==(const PLACEMENT&) const = default;
};
PLACEMENT s_aPlacement[KX_WINDOWS];
bool s_abPlaced[KX_WINDOWS];
// The window's present count after the picture was last presented: another count means someone else
// (a window movie, a blank client) presented meanwhile, and the next presentation is whole.
int s_anPresents[KX_WINDOWS];

// The layer box (inclusive, kept inside lw x lh) as the rectangle of the output (ow x oh) that holds
// every output pixel drawn from it. Scaling reads neighbouring source pixels, so the box grows by
// two source pixels and the rectangle by two output pixels on each side.
PLAT_RECT ScaledRect(int64_t l, int64_t t, int64_t r, int64_t b, int32_t lw, int32_t lh, int32_t ow, int32_t oh)
{
    const auto Lo = [](int64_t v, int32_t from, int32_t to) {
        const int64_t x = ((v - 2) * to) / from - 2;
        return static_cast<int32_t>(x < 0 ? 0 : x);
    };
    const auto Hi = [](int64_t v, int32_t from, int32_t to) {
        const int64_t x = ((v + 3) * to + from - 1) / from + 2;
        return static_cast<int32_t>(x > to ? to : x);
    };
    return PLAT_RECT{Lo(l, lw, ow), Lo(t, lh, oh), Hi(r, lw, ow), Hi(b, lh, oh)};
}

}  // namespace

int PresentWindow(WINDOW_STATE* pState, LAYER* pLayer)
{
    return PresentWindowPart(pState, pLayer, nullptr);
}

int PresentWindowPart(WINDOW_STATE* pState, LAYER* pLayer, const DIRTY_BOX* pPart)
{
    if (!pState || !pLayer || g_bEngineStop) return 1;
    const int64_t llW = pLayer->rcUnion.llRight - pLayer->rcUnion.llLeft + 1;
    const int64_t llH = pLayer->rcUnion.llBottom - pLayer->rcUnion.llTop + 1;
    if (!pPart && (llW <= 0 || llH <= 0)) return 1;
    if (g_nOutputWidth <= 0 || g_nOutputHeight <= 0) return 1;
    if (!pLayer->pDisplayPixels || pLayer->nWidth <= 0 || pLayer->nHeight <= 0) return 1;
    FRAMEBUFFER fb{};
    uint32_t* pFb = nullptr;
    if (!pState->hWnd || PlatGetWindowFramebuffer(pState->hWnd, &pFb, &fb.nWidth, &fb.nHeight, &fb.nPitch) != 0 || !pFb)
        return 1;
    // A minimised window, or one the window system hides, shows nothing: no work until it is seen
    // again, which paints it.
    if (PlatIsWindowOutOfSight(pState->hWnd)) return 1;
    fb.pPixels = reinterpret_cast<uint8_t*>(pFb);

    const bool bMain = pState->nIndex == 0;
    const int32_t lw = pLayer->nWidth, lh = pLayer->nHeight;
    const int32_t ow = g_nOutputWidth, oh = g_nOutputHeight;
    const int32_t lx = ClampToInt(pLayer->llX), ly = ClampToInt(pLayer->llY);
    pState->bmi.biWidth = lw;
    pState->bmi.biHeight = -lh;
    const bool bLetterbox = bMain && (g_bFullscreen || g_bMaximized);
    if (bLetterbox) {
        g_nOutputOffsetX = (g_nTargetWidth - ow) / 2;
        g_nOutputOffsetY = (g_nTargetHeight - oh) / 2;
    } else if (bMain) {
        g_nOutputOffsetX = g_nOutputOffsetY = 0;
    }
    const int ox = g_nOutputOffsetX, oy = g_nOutputOffsetY;

    // A part is presented only into the placement the last whole picture had, and only from a box
    // that lies in the layer.
    const int nSlot = pState->nIndex >= 0 && pState->nIndex < KX_WINDOWS ? pState->nIndex : -1;
    const PLACEMENT place{fb.nWidth, fb.nHeight, lw, lh, ow, oh, lx, ly, ox, oy, g_nScaleMode, g_bInterpolate,
                          g_bFullscreen, g_bMaximized, g_bThreadedFrames};
    int64_t pl = 0, pt = 0, pr = -1, pb = -1;
    if (pPart) {
        pl = std::max<int64_t>(pPart->llLeft, 0);
        pt = std::max<int64_t>(pPart->llTop, 0);
        pr = std::min<int64_t>(pPart->llRight, lw - 1);
        pb = std::min<int64_t>(pPart->llBottom, lh - 1);
        // (A picture the framebuffer copy itself stretches is presented whole.)
        const bool bBlitStretch = bLetterbox && g_nScaleMode == 0 && !(g_bMaximized && !g_bFullscreen) &&
                                  (ow != lw || oh != lh);
        if (bBlitStretch || nSlot < 0 || !s_abPlaced[nSlot] || !(s_aPlacement[nSlot] == place) ||
            PlatGetWindowPresentCount(pState->hWnd) != s_anPresents[nSlot])
            pPart = nullptr;
        else if (pl > pr || pt > pb) return 1;
    }
    PLAT_RECT rcShown{0, 0, 0, 0};   // the framebuffer's rectangle presented as a part

    if (bLetterbox) {
        const bool bScaled = g_nScaleMode != 0 || (g_bMaximized && !g_bFullscreen);
        if (bScaled) {
            const bool bBilinear = (g_nScaleMode != 0 && g_bInterpolate) || (g_bMaximized && !g_bFullscreen);
            if (ScaleIntoOutput(pLayer, bBilinear, false) != 0) return 1;
            pState->bmi.biWidth = ow;
            pState->bmi.biHeight = -oh;
            if (pPart) {
                const PLAT_RECT rc = ScaledRect(pl, pt, pr, pb, lw, lh, ow, oh);
                BlitToFramebuffer(fb, ox + rc.left, oy + rc.top, rc.right - rc.left, rc.bottom - rc.top, g_pOutputBuffer,
                                  ow, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top);
                rcShown = PLAT_RECT{ox + rc.left, oy + rc.top, ox + rc.right, oy + rc.bottom};
            } else {
                BlitToFramebuffer(fb, ox, oy, ow, oh, g_pOutputBuffer, ow, 0, 0, ow, oh);
            }
        } else if (pPart) {
            const int w = static_cast<int>(pr - pl + 1), h = static_cast<int>(pb - pt + 1);
            BlitToFramebuffer(fb, ox + static_cast<int>(pl), oy + static_cast<int>(pt), w, h, pLayer->pDisplayPixels, lw,
                              static_cast<int>(pl), static_cast<int>(pt), w, h);
            rcShown = PLAT_RECT{ox + static_cast<int>(pl), oy + static_cast<int>(pt), ox + static_cast<int>(pl) + w,
                                oy + static_cast<int>(pt) + h};
        } else {
            BlitToFramebuffer(fb, ox, oy, ow, oh, pLayer->pDisplayPixels, lw, 0, 0, lw, lh);
        }
        // The bars stay as the whole picture left them when only a part is presented.
        if (!pPart) FillOutside(fb, ox, oy, ow, oh);
    } else if (bMain && (lw != ow || lh != oh)) {
        pState->bmi.biWidth = ow;
        pState->bmi.biHeight = -oh;
        const bool bBilinear = g_bInterpolate != 0;
        if (ScaleIntoOutput(pLayer, bBilinear, bBilinear && g_bThreadedFrames) != 0) return 1;
        if (pPart) {
            const PLAT_RECT rc = ScaledRect(pl, pt, pr, pb, lw, lh, ow, oh);
            BlitToFramebuffer(fb, lx + rc.left, ly + rc.top, rc.right - rc.left, rc.bottom - rc.top, g_pOutputBuffer, ow,
                              rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top);
            rcShown = PLAT_RECT{lx + rc.left, ly + rc.top, lx + rc.right, ly + rc.bottom};
        } else {
            BlitToFramebuffer(fb, lx, ly, ow, oh, g_pOutputBuffer, ow, 0, 0, ow, oh);
        }
    } else if (pPart) {
        const int w = static_cast<int>(pr - pl + 1), h = static_cast<int>(pb - pt + 1);
        const int dx = lx + static_cast<int>(pl), dy = ly + static_cast<int>(pt);
        BlitToFramebuffer(fb, dx, dy, w, h, pLayer->pDisplayPixels, lw, static_cast<int>(pl), static_cast<int>(pt), w, h);
        rcShown = PLAT_RECT{dx, dy, dx + w, dy + h};
    } else {
        // The dirty box, kept inside the layer.
        const int64_t l = pLayer->rcUnion.llLeft < 0 ? 0 : pLayer->rcUnion.llLeft;
        const int64_t t = pLayer->rcUnion.llTop < 0 ? 0 : pLayer->rcUnion.llTop;
        const int64_t r = pLayer->rcUnion.llRight >= lw ? lw - 1 : pLayer->rcUnion.llRight;
        const int64_t b = pLayer->rcUnion.llBottom >= lh ? lh - 1 : pLayer->rcUnion.llBottom;
        if (l > r || t > b) return 1;
        const int w = static_cast<int>(r - l + 1), h = static_cast<int>(b - t + 1);
        const int dx = lx + static_cast<int>(l), dy = ly + static_cast<int>(t);
        if (dx == 0 && dy > 0 && dy + h >= lh)
            BlitToFramebuffer(fb, lx + static_cast<int>(l), ly, w, lh, pLayer->pDisplayPixels, lw,
                              static_cast<int>(l), 0, w, lh);
        else
            BlitToFramebuffer(fb, dx, dy, w, h, pLayer->pDisplayPixels, lw, static_cast<int>(l),
                              static_cast<int>(t), w, h);
    }
    // The script's edit box stays on the picture however the picture is scaled or placed.
    if (bMain) PlatEditBoxSetPicturePlace(pState->hWnd, ox, oy, ow, oh, g_nScreenWidth, g_nScreenHeight);
    if (pPart) {
        PlatPresentWindowRect(pState->hWnd, &rcShown);
    } else {
        PlatPresentWindow(pState->hWnd);
        if (nSlot >= 0) {
            s_aPlacement[nSlot] = place;
            s_abPlaced[nSlot] = true;
        }
    }
    if (nSlot >= 0) s_anPresents[nSlot] = PlatGetWindowPresentCount(pState->hWnd);
    if (bMain) KeepScreenshot(fb);
    return 0;
}

int RepaintWindow(WINDOW_STATE* pState)
{
    if (!pState || !pState->pLayerSet || !pState->pBackLayer) return 0;
    LAYER* p = GetNodeLayer(pState->pLayerSet);
    if (!p) return 0;
    // A paint the frames asked for presents the part of the picture composed since the last one;
    // any other (an expose, a resize, a menu or the edit box, a call) presents the whole picture.
    DIRTY_BOX part{};
    const bool bComposed = TakeUnpresentedBox(pState->nIndex, p, &part) == 1;
    const bool bPart = pState->hWnd && PlatIsWindowPaintPart(pState->hWnd) == 1;
    if (bPart && !bComposed) return 0;
    p->rcUnion.llLeft = 0;
    p->rcUnion.llTop = 0;
    p->rcUnion.llRight = static_cast<int64_t>(p->nWidth) - 1;
    p->rcUnion.llBottom = static_cast<int64_t>(p->nHeight) - 1;
    PresentWindowPart(pState, p, bPart ? &part : nullptr);
    p->bChanged = 1;
    return 0;
}

void InstallDiagnosticSwitches(void)
{
    const char* pszFrames = std::getenv("KOLVEX_QUIT_AFTER_FRAMES");
    s_llQuitAfterFrames = 0;
    if (pszFrames && *pszFrames) {
        char* pEnd = nullptr;
        const long long n = std::strtoll(pszFrames, &pEnd, 10);
        if (pEnd && *pEnd == 0 && n > 0) s_llQuitAfterFrames = n;
        else std::fprintf(stderr, "kolvex: KOLVEX_QUIT_AFTER_FRAMES=%s is not a positive number; ignored\n", pszFrames);
    }
    s_llFramesAtInstall = g_llFrameCount;
    s_aClicks.clear();
    s_nNextClick = 0;
    s_llReleaseAt = -1;
    if (const char* pszClicks = std::getenv("KOLVEX_CLICK_AT_FRAMES"); pszClicks && *pszClicks) {
        if (!ParseFrameList(pszClicks, true, &s_aClicks))
            std::fprintf(stderr, "kolvex: KOLVEX_CLICK_AT_FRAMES=%s is not a rising list of positive frame "
                                 "numbers (each may be followed by @X:Y); ignored\n", pszClicks);
    }
    const char* pszAudio = std::getenv("KOLVEX_AUDIO");
    s_bFrameSound = pszAudio && std::strncmp(pszAudio, "framewav:", 9) == 0;
    s_allShotFrames.clear();
    s_aFrameShots.clear();
    s_nNextShot = 0;
    if (const char* pszFrames = std::getenv("KOLVEX_SCREENSHOT_AT_FRAMES"); pszFrames && *pszFrames) {
        std::vector<DIAG_CLICK> frames;
        if (ParseFrameList(pszFrames, false, &frames))
            for (const DIAG_CLICK& f : frames) s_allShotFrames.push_back(f.llFrame);
        else
            std::fprintf(stderr, "kolvex: KOLVEX_SCREENSHOT_AT_FRAMES=%s is not a rising list of positive frame "
                                 "numbers; ignored\n", pszFrames);
    }
    const char* pszShot = std::getenv("KOLVEX_SCREENSHOT");
    s_szScreenshotPath[0] = 0;
    s_aShot.clear();
    s_nShotWidth = s_nShotHeight = 0;
    s_bMovieOnScreen = false;
    if (pszShot && *pszShot) {
        // Relative to the folder kolvex was started in, not to the game folder it works in.
        const std::string strShot = PlatFromStartFolder(pszShot);
        if (strShot.size() < sizeof s_szScreenshotPath)
            std::memcpy(s_szScreenshotPath, strShot.c_str(), strShot.size() + 1);
        else
            std::fprintf(stderr, "kolvex: KOLVEX_SCREENSHOT path too long; ignored\n");
    }
}

int SaveWindowScreenshot(const char* pszHostPath)
{
    if (!pszHostPath || !*pszHostPath) return -1;
    // The picture kept at the last presentation, else what the window shows now.
    std::vector<uint8_t> aNow;
    const uint8_t* pPixels = s_aShot.empty() ? nullptr : s_aShot.data();
    int w = s_nShotWidth, h = s_nShotHeight;
    if (!pPixels && g_hMainWnd) {
        uint32_t* pFb = nullptr;
        int nPitch = 0;
        if (PlatGetWindowFramebuffer(g_hMainWnd, &pFb, &w, &h, &nPitch) != 0 || !pFb || w <= 0 || h <= 0) return -1;
        aNow.resize(static_cast<size_t>(w) * static_cast<size_t>(h) * 4);
        for (int y = 0; y < h; ++y)
            std::memcpy(&aNow[static_cast<size_t>(y) * static_cast<size_t>(w) * 4],
                        reinterpret_cast<const uint8_t*>(pFb) + static_cast<size_t>(y) * static_cast<size_t>(nPitch),
                        static_cast<size_t>(w) * 4);
        pPixels = aNow.data();
    }
    // Nothing was ever presented (the picture stayed blank): the window showed black.
    if (!pPixels && g_apWindowState[0] && g_apWindowState[0]->nWidth > 0 && g_apWindowState[0]->nHeight > 0) {
        w = g_apWindowState[0]->nWidth;
        h = g_apWindowState[0]->nHeight;
        aNow.assign(static_cast<size_t>(w) * static_cast<size_t>(h) * 4, 0);
        for (size_t i = 3; i < aNow.size(); i += 4) aNow[i] = 0xFF;
        pPixels = aNow.data();
    }
    if (!pPixels || w <= 0 || h <= 0) return -1;
    return WritePngFile(pPixels, w, h, pszHostPath);
}

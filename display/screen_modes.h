// Screen modes and monitors: the main window is windowed, maximised (the picture fitted into the
// client area) or fullscreen (a borderless window covering one monitor). This is where the output
// size follows from the game's logical size, the target size and the scale mode; where fullscreen is
// entered and left with the sizes saved and restored; and where the engine keeps track of the
// monitor the main window is on. Sub windows have no screen modes.
//
// Fullscreen never changes the monitor's display mode. The window covers the monitor at the
// desktop's mode, and the display mode a switch would have chosen (the smallest one of the
// monitor's aspect that holds the game, or the monitor's own size) is emulated: the picture is
// laid out in that mode as a switched monitor would show it and scaled by the engine from there to
// the monitor's real size.
#pragma once
#include <cstdint>

#include "platform/plat_display.h"
#include "platform/plat_window.h"

struct WINDOW_STATE;

// The main window's monitor (left, top, width, height) and the number of its display device in the
// window system's order (0 when unknown). g_nDesktopWidth and g_nDesktopHeight (core/sysfacts.h)
// follow the monitor's size.
struct MONITOR_RECT {
    int32_t nLeft, nTop, nWidth, nHeight;
};
extern MONITOR_RECT g_rcMonitor;
extern int32_t g_nMonitorNumber;
// Target and output sizes as they were before fullscreen (0 while not fullscreen).
extern int32_t g_nFullSavedTargetWidth, g_nFullSavedTargetHeight;
extern int32_t g_nFullSavedOutputWidth, g_nFullSavedOutputHeight;
// The display mode fullscreen emulates (0 while not fullscreen).
extern int32_t g_nFullscreenModeWidth, g_nFullscreenModeHeight;

// The changing of the display mode failed: the window system refused fullscreen (not fatal).
enum { KX_ERR_DISPLAY_MODE = 105210 };
// Display modes looked at per monitor.
enum { KX_DISPLAY_MODES_MAX = 10000 };
enum { KX_SCALE_NONE = 0, KX_SCALE_FIT = 1, KX_SCALE_COVER = 2, KX_SCALE_STRETCH = 3 };

// The output size for a picture of the logical size lw x lh in the target size tw x th, as a pure
// function: fit (scale mode 1, or always when bFitAlways), cover (2), stretch (3) or none (0); an
// unknown mode keeps *pw x *ph. Except for cover, an output wider or higher than the monitor
// (mw x mh) becomes half the monitor in each direction, unless half the monitor would be empty.
void ChooseOutputSize(int32_t lw, int32_t lh, int32_t tw, int32_t th, int nScaleMode, int bFitAlways, int32_t mw,
                      int32_t mh, int32_t* pw, int32_t* ph);
// ChooseOutputSize with the engine's scale mode (fit while the main window is maximised and not
// fullscreen) and the monitor's size; the output buffer follows a changed size. The picture's
// offsets in the client area are set for fullscreen and maximised states. 0, or -1 when the output
// buffer could not be made (reported).
int ComputeOutputSize(int32_t lw, int32_t lh, int32_t tw, int32_t th);
// The output size of the main window computed again for its logical size in the current target
// (in fullscreen through the emulated display mode). What a new game screen size takes.
void UpdateOutputSize(void);

// The display mode fullscreen emulates, as a pure function over a monitor's modes (at most
// KX_DISPLAY_MODES_MAX): the modes of the monitor's aspect (width x 1000 / height, truncated, equal
// to the monitor's) that hold the game lw x lh and have the colour depth nBits qualify; the first
// one wins unless a later one is smaller in both width and height, which then wins in its turn.
// 1 with *pw x *ph that mode, or 0 with the monitor's size mw x mh when none qualifies.
int FindBestDisplayMode(const PLAT_DISPLAY_MODE* pModes, int nModes, int32_t mw, int32_t mh, int32_t lw, int32_t lh,
                        int32_t nBits, int32_t* pw, int32_t* ph);

// Switches the main window's screen mode: 1 fullscreen, any other value windowed. 1 when the
// window's mode changed, 0 when it stayed (the same mode asked for, no main window, or a refused
// change).
int SetFullscreen(int nMode);
// The steps of SetFullscreen on the main window's record; g_bFullscreen is 1 while EnterFullscreen
// runs. EnterFullscreen leaves the window windowed again when fullscreen is refused.
void EnterFullscreen(WINDOW_STATE* pState);
void LeaveFullscreen(WINDOW_STATE* pState, int bKeepDisplayMode);
// Makes the window cover its monitor. 0, or -1 after the refusal is reported (error 105210, not
// fatal) and the windowed window is back as it was, sizes and frame included.
int ChangeDisplayMode(WINDOW_STATE* pState, int nMonitor);
// The window leaves fullscreen and, unless the engine stops, gets its frame (a borderless main
// window a caption too) and its menu bar back; a maximised main window is restored.
void RestoreDisplayMode(WINDOW_STATE* pState);
// Other programs' windows keep their places: the desktop's mode never changes and the window
// system gives a program no hold on another's windows. Nothing is saved or restored.
void SaveOtherWindows(void);
void RestoreOtherWindows(void);
// Has the window system draw the window's frame again.
void RefreshWindowPos(PLAT_HWND hwnd);

// The monitor under the window's centre becomes the current one (g_rcMonitor and the monitor size);
// pOut receives its description. The monitor's number, or -1 when there is no window or monitor
// (the previous values stay).
int FindMonitorDevice(PLAT_HWND hwnd, PLAT_MONITOR_INFO* pOut);
// WM_MOVE of the main window: the current monitor follows it; a new monitor number is stored and,
// with Direct3D drawing in the plain windowed state, the drawing device is to be reset.
void HandleWmMove(PLAT_HWND hwnd);

// The engine's wiring: every slot of the four hook tables (core, script runtime, layers, display)
// and every command of the command table gets its function here, in one place. The tables belong
// to the folders that call through them; only this file, standing above every subsystem, knows
// which subsystem answers.
#include "root/startup.h"

#include "core/compiler_link.h"
#include "core/engine_hooks.h"
#include "core/errors.h"
#include "core/input.h"
#include "core/worker_pool.h"
#include "display/cmd_window.h"
#include "display/cursor.h"
#include "display/display_hooks.h"
#include "display/menus.h"
#include "display/presentation.h"
#include "display/screen_modes.h"
#include "display/gpu_device.h"
#include "display/gpu_layers.h"
#include "display/window_proc.h"
#include "display/window_state.h"
#include "image/frame_sheet.h"
#include "image/image_save.h"
#include "image/kcg_format.h"
#include "image/layer.h"
#include "image/text_draw.h"
#include "image/text_font.h"
#include "imageproc/blend_modes.h"
#include "imageproc/compositor.h"
#include "imageproc/image_effects.h"
#include "imageproc/pixel_ops.h"
#include "imageproc/scaling.h"
#include "media/movies.h"
#include "media/emote.h"
#include "media/flash_host.h"
#include "platform/plat_process.h"
#include "platform/plat_trace.h"
#include "platform/plat_window.h"
#include "save/cmd_save.h"
#include "script/cmd_file.h"
#include "script/dispatch.h"
#include "script/engine_control.h"
#include "script/evaluator.h"
#include "script/script_body.h"
#include "script/script_hooks.h"
#include "script/script_tables.h"
#include "script/system_vars.h"
#include "script/text_buffer.h"
#include "script/variables.h"
#include "sound/sound.h"

namespace {

// The main window's client area cleared to black, for a new game screen size.
void ClearMainWindowBlack(void)
{
    ClearWindowBlack(g_apWindowState[0]);
}

// Start-up's screen mode of the main window (always windowed).
void SetMainWindowFullscreen(int nMode)
{
    SetFullscreen(nMode);
}

// Shut-down leaves fullscreen; the engine is stopping, so the window keeps its fullscreen frame
// until it goes. 0.
int LeaveMainWindowFullscreen(void)
{
    if (g_apWindowState[0]) LeaveFullscreen(g_apWindowState[0], 0);
    return 0;
}

void SetPauseOnCaptionDrag(uint8_t bOn) { g_bPauseOnCaptionDrag = bOn; }

void WireEngineHooks(void)
{
    ENGINE_HOOKS& h = g_EngineHooks;
    // Start-up
    h.pfnInitPixelOps = InitPixelOps;
    h.pfnRunCompilerLink = RunCompilerLink;
    h.pfnInitEngineOnce = InitEngineOnce;
    h.pfnInitDirectSound = InitDirectSoundHook;
    h.pfnInitJoysticks = InitJoysticks;
    h.pfnCreateMenuHostWindow = CreateMenuHostWindow;
    h.pfnStartScriptSystem = StartScriptSystem;
    h.pfnStartWorkerThreads = StartWorkerThreads;
    h.pfnStartSoundSystem = StartSoundSystem;
    h.pfnSetFullscreen = SetMainWindowFullscreen;
    h.pfnStartScriptTimers = StartScriptTimers;
    h.pfnClearMemorySaveSlots = ClearMemorySaveSlots;
    h.pfnInitDirect3D = InitDirect3D;
    // Once-only tables
    h.pfnInitBlendTables = InitBlendTables;
    h.pfnInitEvaluatorTables = InitEvaluatorTables;
    h.pfnRegisterKeyHandlers = RegisterKeyHandlers;
    h.pfnRegisterElemOps = RegisterElemOps;
    h.pfnRegisterExprOps = RegisterExprOps;
    h.pfnCreateTextBuffer = CreateTextBufferStep;
    h.pfnInitFontList = InitFontList;
    // Frame step
    h.pfnPollInput = PollInput;
    h.pfnAdvanceOgvMovie = AdvanceOgvMovie;
    h.pfnUpdateInputState = UpdateInputState;
    h.pfnClearTextBuffer = ClearTextBufferStep;
    h.pfnApplyPendingLayerProps = ApplyPendingLayerPropsStep;
    h.pfnIsWindowMovieOwningScreen = IsWindowMovieOwningScreen;
    h.pfnRenderWindowCPU = RenderWindowCPU;
    h.pfnShowMainWindowFirstFrame = ShowMainWindowFirstFrame;
    h.pfnAdvanceEmotePlayers = AdvanceEmotePlayers;
    h.pfnIsAnyEmotePlayerBusy = IsAnyEmotePlayerBusy;
    h.pfnRequestFullRedraw = RequestFullRedraw;
    h.pfnUpdateMenuBarAutoShow = UpdateMenuBarAutoShow;
    h.pfnPresentWindowCPU = PresentWindowCPU;
    h.pfnResetDirtyRects = ResetDirtyRectsStep;
    h.pfnServePopupMenuRequest = ServePopupMenuRequest;
    h.pfnEndFrameDiagnostics = DiagnosticFrameEnd;
    // Scheduler, input, errors and the quit request
    h.pfnGetCursorScreenPos = PlatGetCursorPos;
    h.pfnSetMainWindowCloseMode = SetMainWindowCloseMode;
    h.pfnUpdateCursorAutoHide = UpdateCursorAutoHide;
    h.pfnUpdatePauseState = UpdatePauseState;
    h.pfnRequestCursorShow = RequestCursorShow;
    h.pfnGetScriptLocation = GetScriptLocation;
    h.pfnGetScriptCommand = GetCurrentCommandName;
    // The four object trees' payloads
    h.pfnSetUpLayerTree = SetUpLayerTree;
    h.pfnFreeLayerTree = FreeNodeSubtree;
    h.pfnAttachScriptThread = AttachScriptThread;
    h.pfnFreeScriptThread = FreeScriptThread;
    h.pfnAttachSoundChannel = AttachSoundChannel;
    h.pfnReleaseSoundChannel = ReleaseSoundChannel;
    h.pfnAttachMenuItem = AttachMenuItem;
    h.pfnReleaseMenuItem = ReleaseMenuItem;
    // Shut-down
    h.pfnStopWorkerThreads = StopWorkerThreads;
    h.pfnReleaseEmotePlayers = ReleaseEmotePlayers;
    h.pfnReleaseDirect3D = ReleaseDirect3D;
    h.pfnReleaseWindowMovies = ReleaseWindowMovies;
    h.pfnReleaseDirectSound = ReleaseDirectSoundHook;
    h.pfnDestroyMenus = DestroyMenus;
    h.pfnLeaveFullscreen = LeaveMainWindowFullscreen;
    h.pfnFreeTextRenderSlots = FreeTextRenderSlots;
    h.pfnFreePendingRecords = FreeAllSaveBuffers;
    h.pfnReleaseFlashControl = ReleaseFlashControl;
    h.pfnShutdownDiagnostics = DiagnosticShutdown;
}

void WireScriptHooks(void)
{
    SCRIPT_HOOKS& h = g_ScriptHooks;
    h.pfnIsMainWindowActive = IsMainWindowActive;
    h.pfnIsCaptionDragHeld = IsCaptionDragHeld;
    h.pfnAddPausedTime = AddTimerPausedTime;
    h.pfnComputeOutputSize = UpdateOutputSize;
    h.pfnClearWindowBlack = ClearMainWindowBlack;
    h.pfnResetDirect3D = ResetDirect3D;
    h.pfnApplyCursorRequest = ApplyCursorRequest;
    h.pfnSaveLayerImage = SaveNodeLayerImage;
    h.pfnSetPauseOnCaptionDrag = SetPauseOnCaptionDrag;
}

void WireLayerHooks(void)
{
    LAYER_HOOKS& h = g_LayerHooks;
    h.pfnReleaseLayerTextures = ReleaseLayerTextures;
    h.pfnUploadLayerTextures = UploadLayerTextures;
    h.pfnRenderGpuFrame = RenderGpuFrame;
    h.pfnPasteLayerTexturesGpu = PasteLayerTexturesGpu;
    h.pfnCaptureLayerGpu = CaptureLayerGpu;
    h.pfnFreeFrameSheet = FreeFrameSheet;
    h.pfnReleaseEmotePlayer = ReleaseEmotePlayer;
    h.pfnCreateEmotePlayer = CreateEmotePlayer;
    h.pfnStartEmotePlayer = StartEmotePlayer;
    h.pfnRetargetEmoteLayer = RetargetEmoteLayer;
    h.pfnSelectTextSlot = EffectSelectTextSlot;
    h.pfnDrawTextChar = EffectDrawTextChar;
    h.pfnComposeGroupLayer = ComposeGroupLayer;
    h.pfnWindowLayerSetSlot = WindowLayerSetSlot;
    h.pfnWindowBackLayer = WindowBackLayer;
    h.pfnForgetLayerNode = ForgetOgvLayer;
}

void WireDisplayHooks(void)
{
    DISPLAY_HOOKS& h = g_DisplayHooks;
    h.pfnRepaintWindow = RepaintWindow;
    h.pfnClickLayerHit = ClickLayerHit;
    h.pfnRequestCursorShow = RequestCursorShow;
    h.pfnMarkLayerSetDirty = MarkLayerSetDirty;
    h.pfnRemoveTrayIcon = ReleaseMainWindowExtras;
    h.pfnSetWindowMenuBar = SetWindowMenuBar;
    h.pfnDetachMenuBar = DetachMenuBar;
    h.pfnSetTrayPopupMenu = SetTrayPopupMenu;
    h.pfnHandleGraphNotify = HandleGraphNotify;
    h.pfnHandleMciNotify = HandleMciNotify;
    h.pfnFollowMainWindowSize = [] {
        RepositionMovieWindow();
        RepositionFlashWindow();
        ResetEmoteTransforms();
    };
    h.pfnResetEmoteTransforms = ResetEmoteTransforms;
    h.pfnInitEmoteDevice = InitEmoteDevice;
    h.pfnDrawEmoteLayer = DrawEmoteLayer;
    // The players draw with the device's transforms; E-mote names them by the Direct3D numbers.
    g_pfnEmoteSetTransform = [](int nState, const EMOTE_MATRIX* pMatrix) {
        const int nSg = nState == EMOTE_TS_WORLD ? SG_TS_WORLD : nState == EMOTE_TS_VIEW ? SG_TS_VIEW : SG_TS_PROJECTION;
        SetGpuDeviceTransform(nSg, &pMatrix->m[0][0]);
    };
}

}  // namespace

void InstallEngineParts(void)
{
    WireEngineHooks();
    WireScriptHooks();
    WireLayerHooks();
    WireDisplayHooks();
    InstallCommandHandlers();
    // The subsystems' own dispatch tables: the evaluator's entries, the system variables' readers,
    // the worker pool's job routines and the window procedure.
    InstallEvaluator();
    InstallSystemVariables();
    InstallScalingJobs();
    InstallRotationJob();
    InstallCompositor();
    InstallKcgJobs();
    InstallWindowProc();
    // What the platform's libraries say without being asked goes to the engine's debug trace; the
    // platform's lines are UTF-8 already.
    PlatSetTraceSink(DebugTraceUtf8);
    // An opener that ends with a failure after the command went on is reported as the command would.
    PlatSetOpenFailureHandler(ReportFailedOpen);
}

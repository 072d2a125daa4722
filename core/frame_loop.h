// The main loop, the frame step with its pacing, and the script scheduler.
#pragma once
#include <atomic>
#include <cstdint>

struct TREE_NODE;
struct SCRIPT_THREAD;

extern int g_nFps;                       // target frames per second (0 counts as 1)
extern uint8_t g_bFrameSkip;             // drawing may be skipped when frames run late
extern uint32_t g_dwFrameTime;           // time of the current frame
extern int64_t g_llFrameCount;
extern int64_t g_llPassCount;
extern int64_t g_llRerunPass;            // a command asks for one more pass in the same frame
extern int64_t g_llResumeKey;            // order key from which that pass resumes; 0 none
extern std::atomic<uint8_t> g_bFrameHold;      // the quit confirmation is open
extern std::atomic<int> g_bInFrameWait;        // the frame thread sits in the pacing wait
extern std::atomic<int> g_bInWndProc;          // window procedures running (a nesting count)
extern uint8_t g_bThreadedFrames;        // frames run on a thread of their own
extern uint8_t g_bRunning;               // the main loop runs until WM_QUIT
extern int g_nStepsLastSecond, g_nDrawsLastSecond;
// The main window's handle (a PLAT_HWND; 0 while there is none). Start-up sets it.
extern uint32_t g_hMainWnd;
// 1 while an image worker waits for work; defined by the image worker pool. The window thread
// dispatches in threaded mode only while it is set.
extern std::atomic<int> g_bWorkerWaiting;

// Frame thread states, read and written under the engine lock.
enum { KX_THREAD_NOT_STARTED = 0xFF, KX_THREAD_RUNNING = 0, KX_FRAME_THREAD_ENDED = 9, KX_SOUND_THREAD_ENDED = 1 };
extern uint8_t g_bFrameThreadState;
// g_bFrameThreadState, read under the engine lock.
uint8_t GetFrameThreadState(void);

// The main loop on the window thread, after a successful start; returns the WM_QUIT code.
int RunMainLoop(void);
// The main loop's input poll (g_EngineHooks.pfnPollInput). With the frames on their own thread the
// poll writes what the frame's input step reads (the key state, the active window, the mouse), so
// like a window procedure it runs only while the frame thread sits in its pacing wait; a turn
// without one polls nothing, and a press in between is kept by the platform for the next poll.
void PollInputBesideFrames(void);
// One frame: 0 go on, 1 stop (the caller then calls RequestQuit).
uint8_t RunFrame(void);
// Sleeps until the frame's time; returns 1 when the next frame's drawing is to be skipped.
uint8_t PaceFrame(void);
// One scheduler pass over the children of a thread-tree node. Always 0.
int RunScriptThreads(TREE_NODE* pNode);
// Stop flag on, the main window asked to close (or the loop told to end when there is none).
void RequestQuit(void);
void StartFrameThread(void);
// Waits for the frame thread's end (state 9) and joins it; nothing when it never started. Sets the
// stop flag first, so a frame thread that has not ended on its own ends at its next frame. On the
// window thread it keeps serving calls handed to that thread while it waits.
void WaitFrameThread(void);
void CountDrawnFrame(void);
void ResetFrameClock(void);
// Zeroes the published per-second values and both counters (start-up).
void ResetFrameCounters(void);
// Publishes the counts of the second so far, zeroes both counters and starts a new second now
// (frame-rate changes).
void PublishFrameCounters(void);
// Puts the frame step back to its state at load: 16.16 carry, skip verdict and skip flag, the
// first frame still to come, the debug escape's counter and corners, the per-second counters.
void ResetFrameState(void);
// Clears the thread's text-clear request and clears the message text when it was set.
void ConsumeTextClearRequest(SCRIPT_THREAD* pThread);

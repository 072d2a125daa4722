// A script thread: one cooperative task that runs the commands of one loaded script body.
#pragma once
#include <cstdint>

struct TREE_NODE;
struct IF_BLOCK;
struct CALL_FRAME;
struct LOOP_FRAME;

// A command handler: decodes its own arguments, returns 0 to go on with the next command or
// non-zero (-1 after an error) to end the thread's turn for this frame.
typedef int (*CMD_HANDLER)(void);

enum { KX_THREAD_PARAMS = 17, KX_IF_DEPTH = 128, KX_CALL_DEPTH = 64, KX_LOOP_DEPTH = 64 };

struct SCRIPT_THREAD {
    int64_t llPassStamp;          // the scheduler's pass counter at the thread's last turn
    uint8_t bRoot;                // 1 only for the root thread "SYSTEM"
    uint8_t bTextClearRequest;    // the message text is cleared at the thread's next turn
    int32_t anTextEnd[2];
    uint8_t bRunA, bRunB;         // the thread runs only while both are non-zero
    int32_t nWaitFrames;          // frames still to wait
    uint32_t dwWakeTime;          // ms before which the thread sleeps; 0 none
    int32_t nPC;                  // index of the next command in the current body
    int32_t nCommands;            // commands in the current body; a program counter at or past it is an error
    CMD_HANDLER** ppHandlerTables;  // [0] while the engine is paused, [1] otherwise; indexed by command
    const uint16_t* pwCommandWords;
    const uint8_t* pbArgCounts;
    const void* const* ppFirstArgs;
    const uint8_t* pbExpr;
    const int32_t* pnLineTable;
    uint16_t wScript;
    int8_t nIfDepth;
    IF_BLOCK* apIf[KX_IF_DEPTH];
    int8_t nCallDepth;
    CALL_FRAME* apCall[KX_CALL_DEPTH];
    int8_t nLoopDepth;
    LOOP_FRAME* apLoop[KX_LOOP_DEPTH];
    int64_t allParam[KX_THREAD_PARAMS];
    double adParam[KX_THREAD_PARAMS];
    char* apszParam[KX_THREAD_PARAMS];
};

// The running thread, its node and the command being executed; set by the scheduler before each
// handler call, read by handlers and by the error reports.
extern SCRIPT_THREAD* g_pCurThread;
extern TREE_NODE* g_pCurThreadNode;
extern int32_t g_nCurCommand;

// The engine pause (the main window is inactive) and the switch that keeps scripts running then.
extern uint8_t g_bEnginePaused;
extern uint8_t g_bRunInBackground;
// The pause now is a caption drag's (the pause-on-drag switch): it holds the scripts until the drag
// ends, running in the background or not, as a modal move would hold the frame step.
extern uint8_t g_bCaptionDragPause;

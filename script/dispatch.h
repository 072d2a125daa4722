// The command-handler table, the default handlers and the engine pause that holds every command
// while the main window is inactive.
#pragma once
#include <cstdint>

#include "core/script_thread.h"
#include "script/command_ids.h"

struct TREE_NODE;

// Handlers by command id (opcode). The opcode of a command record is a byte, so the table has 256
// slots: ids the command table does not define stay CmdUnknown.
enum { KX_CMD_HANDLER_SLOTS = 256 };
extern CMD_HANDLER g_apfnCmdHandlers[KX_CMD_HANDLER_SLOTS];

// The handler of every command id, installed by the composition root (root/command_table.cpp).
extern CMD_HANDLER g_apfnCommandTable[KX_COMMAND_IDS];
// Fills the table: CmdUnknown everywhere, then the installed handlers of the ids below nCommands
// (the command count of kxc.kbn, at most 121) that name a command. Called by the command-table
// loader, and once the composition root has installed the handlers.
void FillCmdHandlers(int nCommands);
// The name of a command id as this engine knows it, or NULL beyond the table. Messages use
// GetScriptCommandName.
const char* GetCommandName(int nId);
// The name every error report gives a command: the game's compiled command table's (kxc.kbn),
// else this engine's own, else "".
const char* GetScriptCommandName(int nId);

// The name of the command the current script thread runs (g_EngineHooks.pfnGetScriptCommand), or
// NULL when no script thread is current or its command lies outside its body.
const char* GetCurrentCommandName(void);

// Does nothing: returns 0 (ids 0, 9, 77, 80, 82-84; the expression opcode ',').
int CmdNop(void);
// Reports 900050 (fatal) and returns -1.
int CmdUnknown(void);

// The handler bound to every command in entry 0 of a body's table pair: waits while the engine is
// paused, then runs the command's own handler. 1 when the engine stops or quits while paused.
int DispatchWhilePaused(void);

// The pause: g_bEnginePaused and g_bRunInBackground (script/script_thread.h) and the pause start.
// Written under g_csEngine (except the background case of UpdatePauseState).
extern int64_t g_llPauseStart;   // PlatGetTime() at the start of the pause (low 32 bits), 0 when none
// Follows the main window's active flag: pauses when inactive, resumes when active again; with
// g_bRunInBackground set only clears the pause flag. A caption drag's pause (g_bCaptionDragPause)
// lasts while the drag does.
void UpdatePauseState(void);
void EnterPause(void);
void LeavePause(void);

// The pause asks g_ScriptHooks (script/script_hooks.h) whether the main window is active and
// hands a finished pause to the script timers through it.

// A zeroed SCRIPT_THREAD with zeroed level-0 entries of its if, call and loop stacks and both run
// flags 1, made the node's payload. NULL after error 100010 (fatal): nothing is attached.
SCRIPT_THREAD* AttachScriptThread(TREE_NODE* pNode);
// Frees the thread record with its stack entries and parameter texts (the node's removal).
void FreeScriptThread(SCRIPT_THREAD* pThread);

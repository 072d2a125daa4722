// Pieces of a game under test that many fixtures share: a temporary folder made the current and the
// program folder, and the script thread tree with its "SYSTEM" thread.
#pragma once
#include <string>

#include "core/object_tree.h"
#include "script/dispatch.h"
#include "tests/support/test_support.h"

// Makes the folder the current and the program folder, with no pack index and the data read loose;
// the current folder it replaces goes to *pOldCwd. Call it through ASSERT_NO_FATAL_FAILURE.
void EnterGameFolder(const TEMP_DIR& dir, std::string* pOldCwd);
// Frees the pack index and makes the folder EnterGameFolder replaced current again.
void LeaveGameFolder(const std::string& strOldCwd);

// A fresh thread tree in g_pThreadRoot holding the "SYSTEM" thread (order 100); its node, or
// nullptr (with a test failure) when it cannot be made.
TREE_NODE* CreateSystemThread(void);
// Frees every thread of the tree and the tree itself; no thread is current afterwards.
void FreeThreadTree(void);
// Stops a loaded game: frees the script tables, the variables and the thread tree.
void FreeScriptGame(void);

// A game with every object tree made as at the engine's start, in the game folder (as
// EnterGameFolder), with the evaluator, the system variables and the fake clock at 100000 ms.
// Call it through ASSERT_NO_FATAL_FAILURE.
void OpenObjectTreeGame(const TEMP_DIR& dir, std::string* pOldCwd);
// Frees what the game loaded and every object tree, stops the fake clock and leaves the folder.
void CloseObjectTreeGame(const std::string& strOldCwd);

// Replaces the handler of a command, in the table and in every script body loaded so far.
void BindCommandHandler(int nId, CMD_HANDLER pfn);

// A command handler that halts the current thread at its command (the thread's turn ends and the
// next one runs the command again), counting the halts in g_nTestHalts.
extern int g_nTestHalts;
int HaltForTest(void);

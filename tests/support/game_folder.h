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

// Replaces the handler of a command, in the table and in every script body loaded so far.
void BindCommandHandler(int nId, CMD_HANDLER pfn);

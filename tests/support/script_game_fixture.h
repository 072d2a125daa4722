// A base for tests that run scripts of a game folder: a temporary folder made the game folder, the
// pack index cleared, the evaluator installed, a thread tree with its "SYSTEM" thread, and a script
// builder for script 0 that starts at "SYSTEM_START". The engine's state is put back by EngineTest.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/object_tree.h"
#include "core/script_thread.h"
#include "tests/support/engine_test.h"
#include "tests/support/test_support.h"
#include "tools/lib/script_builder.h"

class SCRIPT_GAME_FIXTURE : public EngineTest {
protected:
    ERROR_RECORDER errors;
    TEMP_DIR dir;
    std::string strOldCwd;
    TREE_NODE* pSystem = nullptr;
    SCRIPT_BUILDER b;
    // Variable definitions added to the game's own (user variables of the test script).
    std::vector<KXV_DEF> userDefs;

    // The common set-up and tear-down; derived fixtures call them from their own.
    void OpenScriptGame();
    void CloseScriptGame();
    SCRIPT_THREAD* System() const { return static_cast<SCRIPT_THREAD*>(pSystem->pPayload); }
    // Ends script 0 with a wait of llParkFrames frames, writes the game folder with it as "main.txt"
    // and starts the script system, which must report nothing.
    void StartParked(int64_t llParkFrames);
    // Frees the tables of an earlier run, ends the script with a command that halts the SYSTEM
    // thread (it sets g_bScriptHalted), writes the game folder with it as "main.txt" (user variables
    // up to 1099, the definitions and message texts given) and starts the script system with the
    // SYSTEM thread set to run and g_bScriptHalted cleared. Reports of the start are the caller's.
    void StartHalting(SCRIPT_BUILDER& script, const std::vector<KXV_DEF>& defs,
                      const std::vector<KXE_ENTRY>& texts = {});
    // One pass of the scheduler over the thread tree.
    void Pass();
};

// Set when a script started by StartHalting reaches its end.
extern bool g_bScriptHalted;

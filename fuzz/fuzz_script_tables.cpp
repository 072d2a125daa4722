// The compiled tables read at start-up: the first input byte chooses which of the six tables the
// rest of the input replaces in a sound game (message texts, commands, variable table, script
// list, variable definitions, labels); then the script system starts as at the engine's start.
#include "core/errors.h"
#include "fuzz/support.h"
#include "script/command_ids.h"
#include "script/dispatch.h"
#include "script/evaluator.h"
#include "script/script_body.h"
#include "script/script_tables.h"

namespace {
std::vector<GAME_FILE> s_game;
const char* const kTables[] = {KX_FILE_ERROR_TEXTS, KX_FILE_COMMANDS, KX_FILE_VAR_TABLE,
                               KX_FILE_SCRIPT_LIST, KX_FILE_VAR_DEFS, KX_FILE_LABELS};
}  // namespace

extern "C" int LLVMFuzzerInitialize(int* pArgc, char*** pArgv)
{
    FuzzInit(pArgc, pArgv);
    InstallEvaluator();
    s_game = BuildGameFiles(FuzzSampleGame());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize < 1) return 0;
    const std::string strTable = kTables[pData[0] % 6];
    std::vector<FUZZ_FILE> files = FuzzFilesOf(s_game);
    for (FUZZ_FILE& f : files)
        if (f.strName == strTable) f = FUZZ_FILE{strTable, pData + 1, nSize - 1};
    FuzzSetMemoryFiles(files);
    FillCmdHandlers(0);
    if (FuzzCreateSystemThread() && StartScriptSystem() == 0) {
        // What the running game looks up next: labels and the other script's body.
        FindLabel("b", 1);
        FindLabel("a", 1);
        if (g_nScripts > 1) LoadScriptBody(1);
    }
    FuzzFreeScriptGame();
    FillCmdHandlers(KX_COMMAND_IDS);
    FuzzClearMemoryFiles();
    FuzzEndInput();
    return 0;
}

// Script bodies: the input is the body of script 0 of a sound game; the script system starts and
// loads it (descrambled, the handlers bound, jump and call targets pre-resolved), then the source
// location of error reports is looked up at every command.
#include "core/errors.h"
#include "core/object_tree.h"
#include "fuzz/support.h"
#include "script/command_ids.h"
#include "script/dispatch.h"
#include "script/evaluator.h"
#include "script/script_body.h"
#include "script/script_tables.h"
#include "script/script_thread.h"

namespace {
std::vector<GAME_FILE> s_game;
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzInit();
    InstallEvaluator();
    s_game = BuildGameFiles(FuzzSampleGame());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    std::vector<FUZZ_FILE> files = FuzzFilesOf(s_game);
    const std::string strBody = KxBodyFileName(0);
    for (FUZZ_FILE& f : files)
        if (f.strName == strBody) f = FUZZ_FILE{strBody, pData, nSize};
    FuzzSetMemoryFiles(files);
    FillCmdHandlers(0);
    TREE_NODE* pSystem = FuzzCreateSystemThread();
    if (pSystem) {
        StartScriptSystem();
        LoadScriptBody(0);
        SCRIPT_THREAD* t = static_cast<SCRIPT_THREAD*>(pSystem->pPayload);
        SetThreadBody(t, 0);
        g_pCurThread = t;
        g_pCurThreadNode = pSystem;
        for (int32_t c = -1; c <= t->nCommands && c < 4096; ++c) {
            g_nCurCommand = c;
            const char* pszFile = nullptr;
            int nLine = 0;
            GetScriptLocation(&pszFile, &nLine);
        }
    }
    FuzzFreeScriptGame();
    FillCmdHandlers(KX_COMMAND_IDS);
    FuzzClearMemoryFiles();
    FuzzEndInput();
    return 0;
}

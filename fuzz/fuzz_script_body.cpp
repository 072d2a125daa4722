// Script bodies: the input is the body of script 0 of a sound game; the script system starts and
// loads it (descrambled, the handlers bound, jump and call targets pre-resolved), then the source
// location of error reports is looked up at every command and every command's argument records are
// decoded (their expressions evaluated) as commands of each argument kind would decode them.
// Nothing is run: a fuzzed script could name any file or program.
#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/object_tree.h"
#include "fuzz/support.h"
#include "script/command_args.h"
#include "script/command_ids.h"
#include "script/dispatch.h"
#include "script/evaluator.h"
#include "script/script_body.h"
#include "script/script_tables.h"
#include "core/script_thread.h"
#include "tools/lib/command_table.h"

namespace {
std::vector<GAME_FILE> s_game;
// Commands whose argument definitions decode the records: the one with the most arguments (texts
// and integers) and one with an argument kept unevaluated.
std::vector<int> s_decoders;
}

extern "C" int LLVMFuzzerInitialize(int* pArgc, char*** pArgv)
{
    FuzzInit(pArgc, pArgv);
    InstallEvaluator();
    s_game = BuildGameFiles(FuzzSampleGame());
    const KXC_TABLE table = CanonicalCommandTable();
    size_t nMost = 0;
    int nWidest = 0, nRaw = -1;
    for (size_t c = 0; c < table.commands.size(); ++c) {
        const std::vector<KXC_ARG>& args = table.commands[c].args;
        if (args.size() > nMost) nMost = args.size(), nWidest = int(c);
        for (const KXC_ARG& a : args)
            if (a.bValueKind == ARGKIND_RAW && nRaw < 0) nRaw = int(c);
    }
    s_decoders.push_back(nWidest);
    if (nRaw >= 0) s_decoders.push_back(nRaw);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    FuzzSetMemoryFilesWithBody(s_game, 0, pData, nSize);
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
            if (c < 0 || c >= t->nCommands) continue;
            // The command's own definition, found back through the handler bound to its opcode.
            const CMD_HANDLER pfn = t->ppHandlerTables ? t->ppHandlerTables[1][c] : nullptr;
            for (int k = 0; pfn && k < g_nCommands && k < KX_CMD_HANDLER_SLOTS; ++k)
                if (g_apfnCmdHandlers[k] == pfn) {
                    FetchCommandArgs(k);
                    break;
                }
            for (int nCmd : s_decoders) FetchCommandArgs(nCmd);
            g_bEngineStop = 0;
        }
        FreeCommandArgTexts();
    }
    FuzzFreeScriptGame();
    FillCmdHandlers(KX_COMMAND_IDS);
    FuzzClearMemoryFiles();
    FuzzEndInput();
    return 0;
}

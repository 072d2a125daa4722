// The printable thread state text that carries a thread's position and flow stacks through text
// variables and save files: the input is the text, restored into a thread of a sound game of two
// scripts; a restored thread is written out again.
#include <vector>

#include "core/object_tree.h"
#include "fuzz/support.h"
#include "script/cmd_thread.h"
#include "script/command_ids.h"
#include "script/dispatch.h"
#include "script/evaluator.h"
#include "script/script_body.h"
#include "script/script_tables.h"
#include "core/script_thread.h"

namespace {
std::vector<GAME_FILE> s_game;
TREE_NODE* s_pThreadA = nullptr;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int* pArgc, char*** pArgv)
{
    FuzzInit(pArgc, pArgv);
    InstallEvaluator();
    s_game = BuildGameFiles(FuzzSampleGame());
    FuzzSetMemoryFiles(FuzzFilesOf(s_game));
    FillCmdHandlers(0);
    if (!FuzzCreateSystemThread() || StartScriptSystem() != 0) std::abort();
    FuzzEndInput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    // A fresh thread each time: nothing of an earlier input's stacks stays behind.
    s_pThreadA = CreateNode(g_pThreadRoot, "A", 0, 1);
    SCRIPT_THREAD* t = s_pThreadA ? AttachScriptThread(s_pThreadA) : nullptr;
    if (t) {
        const int n = DecodeThreadState(reinterpret_cast<const char*>(pData), nSize, t);
        if (n > 0) {
            std::vector<char> buf(GetThreadStateLength(t) + 1);
            EncodeThreadState(buf.data(), buf.size(), t);
        }
        FreeScriptThread(t);
        s_pThreadA->pPayload = nullptr;
    }
    if (s_pThreadA) {
        RemoveNode(s_pThreadA);
        FreeTreeNode(s_pThreadA);
        s_pThreadA = nullptr;
    }
    FuzzEndInput();
    return 0;
}

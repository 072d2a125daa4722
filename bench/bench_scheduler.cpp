// The script scheduler: one pass over many threads, idle (waiting) and running one command each.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/frame_loop.h"
#include "core/object_tree.h"
#include "core/sysfacts.h"
#include "core/script_thread.h"

namespace {

int CmdYield(void)
{
    g_pCurThread->nPC = 0;
    return 1;
}

CMD_HANDLER g_aBody[1] = {CmdYield};
CMD_HANDLER* g_apTables[2] = {g_aBody, g_aBody};

void BM_SchedulerPass(benchmark::State& state)
{
    const int nThreads = static_cast<int>(state.range(0));
    const bool bIdle = state.range(1) != 0;
    TREE_NODE* pRoot = CreateRootNode();
    std::vector<TREE_NODE*> nodes;
    for (int i = 0; i < nThreads; ++i) {
        std::string name = "t" + std::to_string(i);
        TREE_NODE* pNode = CreateNode(pRoot, name.c_str(), 0, i);
        auto* p = static_cast<SCRIPT_THREAD*>(AllocZeroed(sizeof(SCRIPT_THREAD)));
        p->bRunA = p->bRunB = 1;
        p->ppHandlerTables = g_apTables;
        p->nCommands = 1;
        pNode->pPayload = p;
        nodes.push_back(pNode);
    }
    for (auto _ : state) {
        if (bIdle)
            for (TREE_NODE* pNode : nodes) static_cast<SCRIPT_THREAD*>(pNode->pPayload)->nWaitFrames = 2;
        ++g_llPassCount;
        RunScriptThreads(pRoot);
    }
    state.SetItemsProcessed(state.iterations() * nThreads);
    for (TREE_NODE* pNode : nodes) {
        free(pNode->pPayload);
        RemoveNode(pNode);
        FreeTreeNode(pNode);
    }
    FreeTreeNode(pRoot);
}
BENCHMARK(BM_SchedulerPass)->Args({1000, 1})->Args({1000, 0})->Args({4096, 0});

}  // namespace

// Command dispatch through the scheduler with bodies of do-nothing commands; loading a large body;
// label look-up.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/compiler_link.h"
#include "core/frame_loop.h"
#include "core/kx_hash.h"
#include "core/object_tree.h"
#include "core/pack_archive.h"
#include "root/startup.h"
#include "script/dispatch.h"
#include "script/script_body.h"
#include "script/variables.h"
#include "tools/lib/command_table.h"
#include "tools/lib/kx_writers.h"

namespace {

int CmdRewind(void)
{
    g_pCurThread->nPC = 0;
    return 1;
}

// Script 0 of a one-script game, handed over as an in-memory compiler file: nCommands do-nothing
// commands, then one that ends the turn and jumps back to the start.
struct BENCH_GAME {
    std::vector<uint8_t> body, defs;
    std::string strName = "kxbin\\kxt00000.kbn";
    COMPILER_FILE file{};
    COMPILER_FILE* apFiles[1] = {&file};
    char szScript[16] = "main.txt";
    char* apszNames[1] = {szScript};

    explicit BENCH_GAME(int nCommands)
    {
        // The command tables and the error reporters' hooks, which the scheduler reaches.
        InstallEngineParts();
        InitPackNameTable();
        KX_BODY b;
        for (int i = 0; i < nCommands; ++i) {
            KX_COMMAND_RECORD c;
            c.bOpcode = static_cast<uint8_t>(i % 2 ? KXCMD_NOP : KXCMD_NOP82);
            b.commands.push_back(c);
            b.lines.push_back(static_cast<uint32_t>(i + 1));
        }
        b.commands.push_back(KX_COMMAND_RECORD{});
        b.lines.push_back(static_cast<uint32_t>(nCommands + 1));
        body = BuildKxBody(b);
        defs = BuildKxv({});
        file = COMPILER_FILE{strName.c_str(), static_cast<int32_t>(body.size()), body.data()};
        g_apCompilerFiles = apFiles;
        g_nCompilerFiles = 1;
        g_pVarDefs = defs.data();
        g_nVarDefsBytes = defs.size();
        g_apszScriptName = apszNames;
        g_nScripts = 1;
        AllocScriptBodyTable();
    }
    ~BENCH_GAME()
    {
        FreeScriptBodies();
        g_nScripts = 0;
        g_apszScriptName = nullptr;
        g_apCompilerFiles = nullptr;
        g_nCompilerFiles = 0;
        g_pVarDefs = nullptr;
        g_nVarDefsBytes = 0;
    }
};

void BM_DispatchNops(benchmark::State& state)
{
    const int nNops = static_cast<int>(state.range(0));
    BENCH_GAME game(nNops);
    if (LoadScriptBody(0) != 1) {
        state.SkipWithError("body did not load");
        return;
    }
    g_ppScriptBody[0]->ppHandlerTables[1][nNops] = CmdRewind;
    TREE_NODE* pRoot = CreateRootNode();
    TREE_NODE* pNode = CreateNode(pRoot, "T", 0, 1);
    SCRIPT_THREAD* pThread = AttachScriptThread(pNode);
    SetThreadBody(pThread, 0);
    for (auto _ : state) {
        ++g_llPassCount;
        RunScriptThreads(pRoot);
    }
    state.SetItemsProcessed(state.iterations() * (nNops + 1));   // commands per second
    pNode->pPayload = nullptr;
    FreeScriptThread(pThread);
    RemoveNode(pNode);
    FreeTreeNode(pNode);
    FreeTreeNode(pRoot);
}
BENCHMARK(BM_DispatchNops)->Arg(1)->Arg(100)->Arg(10000);

void BM_LoadBody(benchmark::State& state)
{
    const int nCommands = static_cast<int>(state.range(0));
    BENCH_GAME game(nCommands);
    for (auto _ : state) {
        AllocScriptBodyTable();
        benchmark::DoNotOptimize(LoadScriptBody(0));
    }
    state.SetItemsProcessed(state.iterations() * nCommands);
}
BENCHMARK(BM_LoadBody)->Arg(100000);

void BM_FindLabel(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    const bool bHit = state.range(1) != 0;
    std::vector<std::string> names;
    for (int i = 0; i < n; ++i) names.push_back("label_" + std::to_string(i));
    std::vector<LABEL_ENTRY> labels(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) labels[i] = LABEL_ENTRY{names[i].data(), HashName(names[i].c_str()), i, 0, 0, 0};
    std::stable_sort(labels.begin(), labels.end(), [](const LABEL_ENTRY& a, const LABEL_ENTRY& b) { return a.dwHash < b.dwHash; });
    std::vector<LABEL_ENTRY*> ptrs;
    for (LABEL_ENTRY& l : labels) ptrs.push_back(&l);
    for (int b = 0, i = 0; b < 256; ++b) {
        while (i < n && static_cast<int>(labels[i].dwHash >> 24) < b) ++i;
        g_anLabelBucket[b] = i;
    }
    g_anLabelBucket[0] = 0;
    g_apLabel = ptrs.data();
    g_nLabels = n;
    const std::string strMiss = "no_such_label";
    size_t k = 0;
    for (auto _ : state) {
        const std::string& s = bHit ? names[k++ % names.size()] : strMiss;
        benchmark::DoNotOptimize(FindLabel(s.c_str(), s.size()));
    }
    g_apLabel = nullptr;
    g_nLabels = 0;
}
BENCHMARK(BM_FindLabel)->Args({20000, 1})->Args({20000, 0});

}  // namespace

// Object trees: lookups among a full group of children and the scheduler's backward walk.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "core/object_tree.h"

namespace {

struct FULL_GROUP {
    TREE_NODE* pRoot = nullptr;
    std::vector<std::string> paths;

    explicit FULL_GROUP(uint8_t bGroupChildren)
    {
        pRoot = CreateRootNode();
        CreateNode(pRoot, "W0", 1, 1);
        for (int i = 0; i < KX_TREE_MAX_CHILDREN; ++i) {
            paths.push_back("W0/layer" + std::to_string(i));
            CreateNode(pRoot, paths.back().c_str(), bGroupChildren, i);
        }
    }
    ~FULL_GROUP()
    {
        TREE_NODE* pW0 = pRoot->pFirstChild;
        while (TREE_NODE* pChild = pW0->pFirstChild) {
            RemoveNode(pChild);
            FreeTreeNode(pChild);
        }
        RemoveNode(pW0);
        FreeTreeNode(pW0);
        FreeTreeNode(pRoot);
    }
};

void BM_FindLeafByPath(benchmark::State& state)
{
    FULL_GROUP tree(0);
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(FindNodeByPath(tree.pRoot, tree.paths[i].c_str(), KX_FIND_LEAF));
        i = (i + 1) % tree.paths.size();
    }
}
BENCHMARK(BM_FindLeafByPath);

void BM_FindGroupByPath(benchmark::State& state)
{
    FULL_GROUP tree(1);
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(FindNodeByPath(tree.pRoot, tree.paths[i].c_str(), KX_FIND_GROUP));
        i = (i + 1) % tree.paths.size();
    }
}
BENCHMARK(BM_FindGroupByPath);

// One scheduler pass: every child from the last to the first by position.
void BM_BackwardPassByPosition(benchmark::State& state)
{
    FULL_GROUP tree(0);
    TREE_NODE* pW0 = tree.pRoot->pFirstChild;
    for (auto _ : state) {
        for (int64_t k = pW0->nChildCount; k >= 1; --k)
            benchmark::DoNotOptimize(GetNthChild(pW0, k));
    }
    state.SetItemsProcessed(state.iterations() * pW0->nChildCount);
}
BENCHMARK(BM_BackwardPassByPosition);

void BM_NormalizeObjectPath(benchmark::State& state)
{
    char szOut[KX_MAX_OBJECT_PATH];
    for (auto _ : state)
        benchmark::DoNotOptimize(NormalizeObjectPath(szOut, "../menu/button.3", "W0/title/bg", 0));
}
BENCHMARK(BM_NormalizeObjectPath);

}  // namespace

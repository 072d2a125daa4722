// The compositor's benchmark scene, shared by the compositor benchmarks and the pixman comparison:
// window 0 of 1920 x 1080 with an opaque background, three 700 x 1000 sprites with alpha (a solid
// body in a faint surround, as character art has), a 1800 x 300 message window at opacity 200 and
// 60 glyphs of 24 x 24, all of pseudo-random pixels from one fixed seed.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

struct TREE_NODE;

constexpr int32_t kBenchSceneW = 1920, kBenchSceneH = 1080;

struct BENCH_SCENE {
    TREE_NODE* pWindow = nullptr;          // "W0", the layer set of window 0
    TREE_NODE* pGlyph = nullptr;           // one glyph of the message ("W0/text31")
    size_t nLayerBytes = 0;                // pixels of every layer drawn in a full redraw, in bytes
    std::vector<TREE_NODE*> layers;        // every layer in drawing order
};

// A layer of the scene's kind at the path (below the layer root): w x h pseudo-random pixels from
// the scene's seed, opaque or a solid body in a faint surround.
TREE_NODE* MakeBenchLayer(const char* pszPath, int32_t w, int32_t h, int64_t x, int64_t y, int64_t llOrder, bool bOpaque);

// Made on the first call (with the engine's tables, pixel routines and compositor installed), the
// same scene afterwards.
BENCH_SCENE& BenchCompositorScene();

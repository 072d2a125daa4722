// Text drawing as a message window does it: a line of 40 Japanese characters at size 24,
// anti-aliased with edge 2 (five copies per character), into a 1920 x 1080 layer. Warm: every
// glyph already rendered once; cold: the glyph cache emptied before every line, so each character
// is rasterised again. Drawn with the system's IPA Gothic when it is installed, else with the
// test fonts (whose Japanese glyphs are rectangles).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "core/cp932.h"
#include "core/object_tree.h"
#include "image/layer.h"
#include "image/text_draw.h"
#include "image/text_font.h"
#include "platform/plat_text.h"
#include "root/startup.h"

namespace {

constexpr int32_t kW = 1920, kH = 1080;

struct TEXT_SCENE {
    LAYER* pLayer = nullptr;
    TREE_NODE* pRoot = nullptr;
    std::string strLine;
    bool bSystemFont = false;
    TEXT_SCENE()
    {
        // The engine's hooks: freeing a node releases its layer through them.
        InstallEngineParts();
        InitFontList();
        bSystemFont = SetSlotFontByName(PlatUtf8ToCp932String("IPAゴシック").c_str()) == 1;
        if (bSystemFont) {
            strLine = PlatUtf8ToCp932String(
                "吾輩は猫である。名前はまだ無い。どこで生れたかとんと見当がつかぬ。何でも薄暗いじ");
        } else {
            const std::string strHere = __FILE__;
            const std::string strFonts = strHere.substr(0, strHere.rfind('/')) + "/../tests/data/fonts";
            InitFontListFrom(strFonts.c_str());
            for (int i = 0; i < 20; ++i) strLine += PlatUtf8ToCp932String("あ漢");
        }
        pRoot = CreateRootNode();
        pLayer = CreateNodeLayer(CreateNode(pRoot, "t", 0, 1));
        SetLayerPixels(pLayer, AllocPixelBuffer(nullptr, kW, kH, nullptr), kW, kH);
        g_anTextSize[0] = 24;
        g_anTextHeight[0] = 24;
    }
    ~TEXT_SCENE()
    {
        while (pRoot->pFirstChild) FreeNodeSubtree(pRoot->pFirstChild);
        FreeTreeNode(pRoot);
        FreeFontList();
    }
    // One line with slot 0's style; returns its width.
    int32_t DrawLine(int32_t nEdge)
    {
        int32_t x = 40;
        for (const char* p = strLine.c_str(); *p;) {
            const int32_t n = CharLenCp932(p);
            x += DrawTextChar(p, n, g_anTextColorA[0], 0x4080C0, 1, 0, g_anTextSize[0], g_anTextHeight[0], 0,
                              g_abTextAntialias[0], nEdge, x, 500, g_abTextTransparent[0], pLayer, nullptr);
            p += n;
        }
        return x;
    }
};

void Run(benchmark::State& state, bool bCold, uint8_t bTransparent)
{
    TEXT_SCENE s;
    g_abTextTransparent[0] = bTransparent;
    ClearGlyphCache();
    s.DrawLine(2);
    const int64_t nRenders = g_llGlyphRenders;
    for (auto _ : state) {
        if (bCold) ClearGlyphCache();
        benchmark::DoNotOptimize(s.DrawLine(2));
    }
    state.counters["chars"] = benchmark::Counter(double(state.iterations()) * 40, benchmark::Counter::kIsRate);
    state.counters["renders_per_line"] = double(g_llGlyphRenders - nRenders) / double(state.iterations());
    state.SetLabel(s.bSystemFont ? "IPA Gothic" : "test fonts");
    g_abTextTransparent[0] = 0;
}

void BM_TextLineWarm(benchmark::State& state) { Run(state, false, 0); }
void BM_TextLineCold(benchmark::State& state) { Run(state, true, 0); }
void BM_TextLineWarmBlend(benchmark::State& state) { Run(state, false, 1); }

BENCHMARK(BM_TextLineWarm)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TextLineCold)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TextLineWarmBlend)->Unit(benchmark::kMicrosecond);

}  // namespace

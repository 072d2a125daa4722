// Layer commands run from built game folders: the object trees (window 0's group "W0"), a script 0
// that starts at "SYSTEM_START" with the commands a test emits and then parks in a long wait, one
// pass of the scheduler, and the layers and variables read back.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "root/startup.h"
#include "core/engine_globals.h"
#include "core/engine_tables.h"
#include "core/errors.h"
#include "core/frame_loop.h"
#include "core/object_tree.h"
#include "core/pack_archive.h"
#include "display/window_state.h"
#include "image/cmd_layer.h"
#include "image/cmd_layer_info.h"
#include "image/dirty_rects.h"
#include "image/layer.h"
#include "platform/plat_file.h"
#include "platform/plat_time.h"
#include "script/command_args.h"
#include "script/evaluator.h"
#include "script/script_body.h"
#include "script/script_tables.h"
#include "core/script_thread.h"
#include "script/system_vars.h"
#include "script/variables.h"
#include "tests/support/engine_test.h"
#include "tests/support/game_folder.h"
#include "tests/support/test_support.h"
#include "tools/lib/bmp_writer.h"
#include "tools/lib/command_table.h"
#include "tools/lib/expr_assembler.h"
#include "tools/lib/script_builder.h"

namespace layer_cmd_test {

constexpr uint16_t kVarInt = 1000, kVarText = 1001, kVarInts = 1002, kVarTexts = 1003;
constexpr int kArrayElems = 64;

inline BUILDER_ARG I(int nId, int64_t v, uint8_t bOp = ARGOP_SET)
{
    return ExprArg(static_cast<uint8_t>(nId), MakeExprInt(v), EVALTYPE_INT, bOp);
}
inline BUILDER_ARG T(int nId, const std::string& s) { return ExprArg(static_cast<uint8_t>(nId), MakeExprText(s), EVALTYPE_TEXT); }
// The output designation of the information command: the integer or the text variable.
inline BUILDER_ARG OutInt() { return ExprArg(LAYER_INFO_ARG_OUT, MakeExprVar(kVarInt), EVALTYPE_INT); }
inline BUILDER_ARG OutText() { return ExprArg(LAYER_INFO_ARG_OUT, MakeExprVar(kVarText), EVALTYPE_TEXT); }

// Element k of the integer or the text array as the output.
inline BUILDER_ARG OutIntAt(int64_t k) { return ExprArg(LAYER_INFO_ARG_OUT, MakeExprElement(kVarInts, {k}), EVALTYPE_INT); }
inline BUILDER_ARG OutTextAt(int64_t k)
{
    return ExprArg(LAYER_INFO_ARG_OUT, MakeExprElement(kVarTexts, {k}), EVALTYPE_TEXT);
}

// A 24-bit BMP of w x h pixels given as 0xRRGGBB values (rows top-down).
inline std::vector<uint8_t> Bmp(int32_t w, int32_t h, const std::vector<uint32_t>& px)
{
    BMP_WRITER_OPTIONS opt;
    opt.nBits = 24;
    return WriteBmp(w, h, opt, px.data(), nullptr);
}

class LayerCmdTest : public EngineTest {
protected:
    ERROR_RECORDER errors;
    MSGBOX_RECORDER boxes;
    TEMP_DIR dir;
    std::string strOldCwd;
    SCRIPT_BUILDER b;
    WINDOW_STATE aWindow[KX_WINDOWS]{};
    WINDOW_STATE* apSavedWindow[KX_WINDOWS]{};
    std::vector<KXE_ENTRY> messages;   // the game's message texts, so that report arguments can be read back
    static inline TREE_NODE* s_pLayerSet = nullptr;
    static inline LAYER s_back{};

    void SetUp() override
    {
        // A case after Reset() starts without the capture layer of the tree it freed.
        g_pCaptureLayer = nullptr;
        std::memset(g_abSwitchTable, 1, sizeof g_abSwitchTable);
        ASSERT_NO_FATAL_FAILURE(OpenObjectTreeGame(dir, &strOldCwd));
        s_pLayerSet = W0();
        g_LayerHooks.pfnWindowLayerSetSlot = [](int i) { return i == 0 ? &s_pLayerSet : nullptr; };
        g_LayerHooks.pfnWindowBackLayer = [](int i) { return i == 0 ? &s_back : nullptr; };
        for (int i = 0; i < KX_WINDOWS; ++i) {
            apSavedWindow[i] = g_apWindowState[i];
            aWindow[i].nIndex = i;
            g_apWindowState[i] = &aWindow[i];
        }
        InitScriptBuilder(&b, 0);
        ASSERT_EQ(AddLabel(&b, "SYSTEM_START"), 0);
    }
    void TearDown() override
    {
        CloseObjectTreeGame(strOldCwd);
        s_pLayerSet = nullptr;
        for (int i = 0; i < KX_WINDOWS; ++i) g_apWindowState[i] = apSavedWindow[i];
        // Reset() runs the next case in the same test.
        g_bEngineStop = 0;
        g_bFullRedraw = 0;
    }
    // A fresh tree and script between the cases of a table.
    void Reset()
    {
        TearDown();
        ResetEngineState();
        errors.reports.clear();
        boxes.boxes.clear();
        SetUp();
    }

    void Layer(std::vector<BUILDER_ARG> args) { ASSERT_GE(EmitCommand(&b, KXCMD_LAYER, args), 0); }
    void Delete(std::vector<BUILDER_ARG> args) { ASSERT_GE(EmitCommand(&b, KXCMD_LAYER_DELETE, args), 0); }
    void Info(std::vector<BUILDER_ARG> args) { ASSERT_GE(EmitCommand(&b, KXCMD_LAYER_INFO, args), 0); }

    // The park at the end, the folder written, the scripts started and one pass run.
    void Run()
    {
        ASSERT_NO_FATAL_FAILURE(WriteGame());
        ASSERT_EQ(StartScriptSystem(), 0);
        Pass();
    }
    // The park at the end and the game folder written, with the fixture's variables and messages.
    void WriteGame()
    {
        ASSERT_GE(EmitCommand(&b, KXCMD_WAIT, {I(0, 1000000)}), 0);
        ASSERT_EQ(FinishScriptBody(&b), 0) << b.strError;
        GAME_DATA game = DefaultGameData();
        game.defs.push_back(MakeIntVarDef(kVarInt, 99));
        game.defs.push_back(MakeTextVarDef(kVarText, "x"));
        game.defs.push_back(MakeIntVarDef(kVarInts, 99, {kArrayElems}));
        game.defs.push_back(MakeTextVarDef(kVarTexts, "x", {kArrayElems}));
        game.errors = messages;
        game.scripts = {ScriptFromBuilder("main.txt", b)};
        ASSERT_EQ(WriteGameFolder(dir.strNative, BuildGameFiles(game)), 0);
    }
    // One question of the information command: its arguments after the common ones, and the answer.
    struct INFO_CASE {
        std::vector<BUILDER_ARG> args;
        int64_t llExpected;
    };
    // Asks every case, the common arguments first, into element i of the integer array, runs the
    // script and expects the answers without an error.
    void AskAndExpect(const std::vector<BUILDER_ARG>& common, const std::vector<INFO_CASE>& cases)
    {
        for (size_t i = 0; i < cases.size(); ++i) {
            std::vector<BUILDER_ARG> args = common;
            args.insert(args.end(), cases[i].args.begin(), cases[i].args.end());
            args.push_back(OutIntAt(int64_t(i)));
            Info(args);
        }
        Run();
        ASSERT_TRUE(errors.reports.empty());
        for (size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(GetVarInt(kVarInts, int64_t(i)), cases[i].llExpected) << i;
    }
    void Pass()
    {
        ++g_llPassCount;
        RunScriptThreads(g_pThreadRoot);
    }

    static TREE_NODE* W0() { return FindNodeByPath(g_pLayerRoot, "W0", KX_FIND_GROUP); }
    static TREE_NODE* Node(const char* pszPath, bool bGroup = false)
    {
        return FindNodeByPath(g_pLayerRoot, pszPath, bGroup ? KX_FIND_GROUP : KX_FIND_LEAF);
    }
    static LAYER* L(const char* pszPath, bool bGroup = false) { return GetNodeLayer(Node(pszPath, bGroup)); }
    static uint32_t Px(const LAYER* p, int x, int y)
    {
        uint32_t v;
        std::memcpy(&v, p->pDisplayPixels + (size_t(y) * p->nWidth + x) * 4, 4);
        return v;
    }
    int64_t OutInt() const { return GetVarInt(kVarInt, 0); }
    std::string OutText() const
    {
        const char* p = GetVarString(kVarText, 0);
        return p ? p : "(null)";
    }
    // The first report as (id, fatal), or (0, 0).
    std::pair<int, int> FirstError() const
    {
        if (errors.reports.empty()) return {0, 0};
        return {errors.reports[0].nId, errors.reports[0].bFatal};
    }
};

}  // namespace layer_cmd_test

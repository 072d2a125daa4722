// Save files and memory save slots: the input is written as a save file and put into memory slot
// 0; the load command then reads records of the DNOs the file's table names (and the slot blob of
// DNO 1024) into whole variables and elements of each type and into a layer, as a script would.
#include <cstdlib>
#include <cstring>

#include "core/codecs.h"
#include "core/engine_tables.h"
#include "core/object_tree.h"
#include "core/settings.h"
#include "display/window_state.h"
#include "fuzz/support.h"
#include "image/layer.h"
#include "platform/plat_time.h"
#include "save/cmd_load.h"
#include "save/cmd_save.h"
#include "save/save_format.h"
#include "script/command_ids.h"
#include "script/dispatch.h"
#include "script/evaluator.h"
#include "script/script_body.h"
#include "script/script_tables.h"
#include "core/script_thread.h"
#include "script/system_vars.h"
#include "script/variables.h"
#include "tools/lib/command_table.h"
#include "tools/lib/expr_assembler.h"

namespace {

constexpr uint16_t kInt = 1000, kFloat = 1001, kText = 1002, kInts23 = 1003, kTexts = 1004, kFloats23 = 1005,
                   kDno = 1009;

std::vector<GAME_FILE> s_game;
TREE_NODE* s_pSystem = nullptr;
TREE_NODE* s_pLayerSet = nullptr;
LAYER s_back{};
WINDOW_STATE s_aWindow[KX_WINDOWS]{};
int s_nLoads = 0;

BUILDER_ARG File() { return ExprArg(LOAD_ARG_FILE, MakeExprText("f"), EVALTYPE_TEXT); }
BUILDER_ARG Slot0() { return ExprArg(LOAD_ARG_SLOT, MakeExprInt(0), EVALTYPE_INT); }
BUILDER_ARG Dno() { return ExprArg(LOAD_ARG_DNO, MakeExprVar(kDno), EVALTYPE_INT); }
BUILDER_ARG Whole(uint16_t nVar)
{
    std::vector<uint8_t> code;
    ExprAsmVarRef(code, nVar);
    return ExprArg(LOAD_ARG_VAR, code, EVALTYPE_INT);
}
BUILDER_ARG Elem(uint16_t nVar, std::vector<int64_t> subs, uint8_t bType)
{
    return ExprArg(LOAD_ARG_VAR, subs.empty() ? MakeExprVar(nVar) : MakeExprElement(nVar, subs), bType);
}
BUILDER_ARG Layer() { return ExprArg(LOAD_ARG_LAYER, MakeExprText(":W0/pic"), EVALTYPE_TEXT); }

GAME_DATA SaveGame(void)
{
    SCRIPT_BUILDER b;
    InitScriptBuilder(&b, 0);
    AddLabel(&b, KX_START_LABEL);
    const std::vector<std::vector<BUILDER_ARG>> loads = {
        {File(), Dno(), Whole(kInt)},
        {File(), Dno(), Whole(kInts23)},
        {File(), Dno(), Elem(kInts23, {1, 2}, EVALTYPE_INT)},
        {File(), Dno(), Whole(kFloats23)},
        {File(), Dno(), Elem(kFloat, {}, EVALTYPE_FLOAT)},
        {File(), Dno(), Whole(kTexts)},
        {File(), Dno(), Elem(kText, {}, EVALTYPE_TEXT)},
        {File(), Dno(), Layer()},
        {Slot0(), Dno(), Whole(kInts23)},
        {Slot0(), Dno(), Elem(kTexts, {3}, EVALTYPE_TEXT)},
        {Slot0(), Dno(), Layer()},
    };
    for (const auto& args : loads) EmitCommand(&b, KXCMD_LOAD, args);
    s_nLoads = int(loads.size());
    EmitCommand(&b, KXCMD_WAIT, {ExprArg(0, MakeExprInt(1000000))});
    FinishScriptBody(&b);
    GAME_DATA game = DefaultGameData();
    game.defs.push_back(MakeIntVarDef(kInt, 7));
    game.defs.push_back(MakeFloatVarDef(kFloat, 1.5));
    game.defs.push_back(MakeTextVarDef(kText, "old"));
    game.defs.push_back(MakeIntVarDef(kInts23, 9, {2, 3}));
    game.defs.push_back(MakeTextVarDef(kTexts, "old", {8}));
    game.defs.push_back(MakeFloatVarDef(kFloats23, 0.25, {2, 3}));
    game.defs.push_back(MakeIntVarDef(kDno, 1));
    game.scripts = {ScriptFromBuilder("main.txt", b)};
    return game;
}

void FreeSlots(void)
{
    for (int i = 0; i < KX_SAVE_SLOT_TABLE; ++i) {
        std::free(g_apMemSlot[i]);
        g_apMemSlot[i] = nullptr;
        g_anMemSlotCapacity[i] = g_anMemSlotSize[i] = g_anMemSlotReadPos[i] = 0;
    }
}

// The target layer, made again when a load replaced it (or never made it back).
void EnsurePictureLayer(void)
{
    if (FindNodeByPath(g_pLayerRoot, "W0/pic", KX_FIND_LEAF)) return;
    TREE_NODE* pNode = CreateNode(g_pLayerRoot, "W0/pic", 0, 1);
    LAYER* pLayer = pNode ? CreateNodeLayer(pNode) : nullptr;
    uint8_t* pPixels = pLayer ? AllocPixelBuffer(nullptr, 2, 2, nullptr) : nullptr;
    if (pPixels) SetLayerPixels(pLayer, pPixels, 2, 2);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* pArgc, char*** pArgv)
{
    FuzzInit(pArgc, pArgv);
    InstallEvaluator();
    InstallSystemVariables();
    PlatUseFakeClock(1);
    PlatSetFakeTime(100000);
    if (CreateObjectTrees() != 0) std::abort();
    std::memset(g_abSwitchTable, 1, sizeof g_abSwitchTable);
    s_pLayerSet = FindNodeByPath(g_pLayerRoot, "W0", KX_FIND_GROUP);
    g_LayerHooks.pfnWindowLayerSetSlot = [](int i) { return i == 0 ? &s_pLayerSet : nullptr; };
    g_LayerHooks.pfnWindowBackLayer = [](int i) { return i == 0 ? &s_back : nullptr; };
    for (int i = 0; i < KX_WINDOWS; ++i) {
        s_aWindow[i].nIndex = i;
        g_apWindowState[i] = &s_aWindow[i];
    }
    std::strcpy(g_szSaveFolder, "save\\");
    s_game = BuildGameFiles(SaveGame());
    FuzzSetMemoryFiles(FuzzFilesOf(s_game));
    s_pSystem = FindNodeByPath(g_pThreadRoot, "SYSTEM", KX_FIND_LEAF);
    if (!s_pSystem || StartScriptSystem() != 0) std::abort();
    FuzzEndInput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    FuzzWriteFile("save/f.sd", pData, nSize);
    FreeSlots();
    g_apMemSlot[0] = static_cast<uint8_t*>(std::malloc(nSize ? nSize : 1));
    if (!g_apMemSlot[0]) return 0;
    if (nSize) std::memcpy(g_apMemSlot[0], pData, nSize);
    g_anMemSlotCapacity[0] = g_anMemSlotSize[0] = uint32_t(nSize);

    // The DNOs the table names (a few), DNO 1 when it names none.
    std::vector<int> dnos;
    for (int d = 1; d <= KX_SAVE_TABLE_ENTRIES && 16 + 4 * size_t(d) <= nSize && dnos.size() < 4; ++d)
        if (FuzzU32(pData + 12 + 4 * d) != 0) dnos.push_back(d);
    if (dnos.empty()) dnos.push_back(1);

    SCRIPT_THREAD* t = static_cast<SCRIPT_THREAD*>(s_pSystem->pPayload);
    for (int d : dnos) {
        SetVarInt(kDno, 0, d);
        for (int k = 0; k < s_nLoads; ++k) {
            EnsurePictureLayer();
            g_pCurThread = t;
            g_pCurThreadNode = s_pSystem;
            g_nCurCommand = k;
            CmdLoad();
            FuzzEndInput();
        }
    }
    g_pCurThread = nullptr;
    g_pCurThreadNode = nullptr;
    FreeSlots();
    FuzzEndInput();
    return 0;
}

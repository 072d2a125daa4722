// The composition root leaves no slot of a hook table empty and binds every command id.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/engine_hooks.h"
#include "display/display_hooks.h"
#include "image/layer.h"
#include "root/startup.h"
#include "script/command_ids.h"
#include "script/dispatch.h"
#include "script/script_hooks.h"
#include "script/variables.h"

namespace {

// The slots of a table of function pointers, in order.
template <class TABLE>
std::vector<void*> Slots(const TABLE& table)
{
    static_assert(sizeof(TABLE) % sizeof(void*) == 0, "a hook table holds function pointers only");
    std::vector<void*> slots(sizeof(TABLE) / sizeof(void*));
    std::memcpy(slots.data(), &table, sizeof(TABLE));
    return slots;
}

template <class TABLE>
void ExpectEverySlotInstalled(const TABLE& table, const char* pszName)
{
    const std::vector<void*> slots = Slots(table);
    for (size_t i = 0; i < slots.size(); ++i) EXPECT_NE(slots[i], nullptr) << pszName << " slot " << i;
}

}  // namespace

TEST(Wiring, EveryHookSlotIsInstalled)
{
    g_EngineHooks = ENGINE_HOOKS{};
    g_ScriptHooks = SCRIPT_HOOKS{};
    g_LayerHooks = LAYER_HOOKS{};
    g_DisplayHooks = DISPLAY_HOOKS{};
    g_SysVarHooks = KX_SYSVAR_HOOKS{};
    InstallEngineParts();
    ExpectEverySlotInstalled(g_EngineHooks, "g_EngineHooks");
    ExpectEverySlotInstalled(g_ScriptHooks, "g_ScriptHooks");
    ExpectEverySlotInstalled(g_LayerHooks, "g_LayerHooks");
    ExpectEverySlotInstalled(g_DisplayHooks, "g_DisplayHooks");
    ExpectEverySlotInstalled(g_SysVarHooks, "g_SysVarHooks");
}

TEST(Wiring, EveryCommandIdHasAHandler)
{
    InstallEngineParts();
    for (int i = 0; i < KX_COMMAND_IDS; ++i) {
        SCOPED_TRACE(std::string(GetCommandName(i)));
        const bool bUnused = std::string(GetCommandName(i)).rfind("unused", 0) == 0;
        if (bUnused) {
            EXPECT_EQ(g_apfnCommandTable[i], nullptr);
            EXPECT_EQ(g_apfnCmdHandlers[i], CmdUnknown);
        } else {
            EXPECT_NE(g_apfnCommandTable[i], nullptr);
            EXPECT_EQ(g_apfnCmdHandlers[i], g_apfnCommandTable[i]);
        }
    }
}

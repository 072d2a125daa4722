// Tables filled once at start-up (InitEngineOnce) and read by the blend code and the script runtime.
#pragma once
#include <cstdint>

// Rows a = 0..256, columns j = 0..511: (j - 255) * a / 256, respectively / 255, rounded toward zero.
// A caller reads row a at column 255 + d for a signed difference d in -255..256.
extern int16_t g_awMulDiv256[257][512];
extern int16_t g_awMulDiv255[257][512];
// [a][j] = a * j / 255 rounded down.
extern uint8_t g_abMulDiv255[256][256];

// The per-command switches of the script runtime; all on after start-up.
enum { KX_COMMAND_SWITCHES = 128 };
extern uint8_t g_abSwitchTable[KX_COMMAND_SWITCHES];

// Fills the three division tables.
void FillMulDivTables(void);

#include "core/engine_tables.h"

int16_t g_awMulDiv256[257][512];
int16_t g_awMulDiv255[257][512];
uint8_t g_abMulDiv255[256][256];
uint8_t g_abSwitchTable[KX_COMMAND_SWITCHES];

void FillMulDivTables(void)
{
    // C++ division truncates toward zero, which is the rounding the blend code expects for
    // negative differences.
    for (int a = 0; a <= 256; ++a) {
        for (int j = 0; j < 512; ++j) {
            g_awMulDiv256[a][j] = static_cast<int16_t>((j - 255) * a / 256);
            g_awMulDiv255[a][j] = static_cast<int16_t>((j - 255) * a / 255);
        }
    }
    for (int a = 0; a < 256; ++a)
        for (int j = 0; j < 256; ++j)
            g_abMulDiv255[a][j] = static_cast<uint8_t>(a * j / 255);
}

// The engine configuration's values, before and after the loader has read the file.
#include "core/game_config.h"

uint8_t g_bDebug = 0;
uint8_t g_abImageExtOrder[8] = {1, 2, 3, 4, 5, 6, 0, 0};
uint8_t g_abSoundExtOrder[4] = {1, 2, 0, 0};
uint8_t g_bDevSourceOrder = 0;
uint8_t g_bReleaseSourceOrder = 0;
int32_t g_nScreenWidth = 640;
int32_t g_nScreenHeight = 480;
char g_szWindowTitle[KX_WINDOW_TITLE_BYTES] = "KOLVEX";
int g_nSoundMode = 1;
uint8_t g_bResizable = 0;
uint8_t g_bFramedWindow = 1;
uint8_t g_bConfigSpare = 0;
int32_t g_nScreenTexWidth = 0;
int32_t g_nScreenTexHeight = 0;

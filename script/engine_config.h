// The compiled engine configuration kxbin\kxcfg.kbn.
#pragma once
#include <cstdint>

extern uint8_t g_bDebug;   // the game was compiled as a debug build

// Reads kxbin\kxcfg.kbn. 0, or non-zero after a reported error (start-up then stops).
int LoadEngineConfig(void);

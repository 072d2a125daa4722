// Stand-in until the compiled tables and the configuration are read: no named keys, no sound.
#include "script/standin_script_state.h"

uint8_t g_abKeyMap[256];
int g_nSoundMode = 0;

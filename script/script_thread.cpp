// Stand-ins for the pause state until the command dispatch with its pause handling is built.
#include "script/script_thread.h"

uint8_t g_bEnginePaused = 0;
uint8_t g_bRunInBackground = 1;

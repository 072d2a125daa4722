// State of the compiled tables and configuration that the system variables read, declared here
// until their loaders declare it (same names and types); the definitions below go with this header.
#pragma once
#include <cstdint>

// The key number of each named key: the 256 bytes that end the compiled command table.
extern uint8_t g_abKeyMap[256];
// Sound mode of the compiled configuration: 0 none, 1 optional, 2 required (start-up leaves 0 or 1).
extern int g_nSoundMode;

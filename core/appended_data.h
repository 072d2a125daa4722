// A pack appended to the executable behind a small header.
#pragma once
#include <cstdint>

extern uint8_t g_bAppendedData;    // the game's pack is appended to the executable
extern uint32_t g_dwBareExeSize;   // the executable's size without the appended data
extern int64_t g_qwPackOffset;     // the appended pack's offset from the bare size
extern uint8_t g_bScreenSaver;     // the executable carries a screen-saver preview picture

// 1 appended data found (flags set), 0 none, -1 the process ends (after a message).
int DetectAppendedData(void);
// Screen-saver builds: 0 go on with normal start-up, -1 end the process.
int RunScreenSaverCommand(void);

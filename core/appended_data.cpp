// Until appended data is detected, the engine runs from loose files and packs on disk.
#include "core/appended_data.h"

uint8_t g_bAppendedData = 0;
uint32_t g_dwBareExeSize = 0;
int64_t g_qwPackOffset = 0;
uint8_t g_bScreenSaver = 0;

int DetectAppendedData(void)
{
    return 0;
}

int RunScreenSaverCommand(void)
{
    return 0;
}

// The SDL window backend.
#include "platform/plat_window_backend.h"

namespace {

int SdlStart(void) { return -1; }
void SdlStop(void) {}
int SdlCreate(PLAT_WINDOW_REC*) { return -1; }
void SdlDestroy(PLAT_WINDOW_REC*) {}
void SdlApply(PLAT_WINDOW_REC*) {}
int SdlPresent(PLAT_WINDOW_REC*) { return -1; }
void SdlPump(void) {}
void SdlWait(uint32_t) {}
void SdlWake(void) {}

}  // namespace

const PLAT_WINDOW_BACKEND g_SdlWindowBackend = {
    SdlStart, SdlStop, SdlCreate, SdlDestroy, SdlApply, SdlApply, SdlApply, SdlApply,
    SdlPresent, SdlPump, SdlWait, SdlWake,
};

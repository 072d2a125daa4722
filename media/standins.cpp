// Stand-ins for the media parts that are not built yet (see media/standins.h).
#include "media/standins.h"

#include "script/command_ids.h"
#include "script/dispatch.h"


void AdvanceEmotePlayers(uint32_t) {}
int IsAnyEmotePlayerBusy(void) { return 0; }
void ReleaseEmotePlayers(void) {}
int CreateEmotePlayer(LAYER*, const uint8_t*, size_t) { return -1; }
void ReleaseEmotePlayer(LAYER*) {}
void RetargetEmoteLayer(LAYER*, LAYER*) {}
int CmdEmote(void) { return ReportCommandNotBuilt(CMDID_EMOTE); }

void ReleaseFlashControl(void) {}
int CmdFlashOpen(void) { return ReportCommandNotBuilt(CMDID_FLASH_OPEN); }
int CmdFlashClose(void) { return ReportCommandNotBuilt(CMDID_FLASH_CLOSE); }
int CmdFlashGet(void) { return ReportCommandNotBuilt(CMDID_FLASH_GET); }

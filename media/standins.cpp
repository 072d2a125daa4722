// Stand-ins for the media parts that are not built yet (see media/standins.h).
#include "media/standins.h"

#include "script/command_ids.h"
#include "script/dispatch.h"

#include "media/movies.h"

int IsWindowMovieOwningScreen(void) { return 0; }
// Shut-down releases the movies; a Theora movie still playing goes with them.
void ReleaseWindowMovies(void) { StopOgvMovie(); }
int CmdMovie(void) { return ReportCommandNotBuilt(CMDID_MOVIE); }
int CmdMovieStop(void) { return ReportCommandNotBuilt(CMDID_MOVIE_STOP); }
int CmdMovieGet(void) { return ReportCommandNotBuilt(CMDID_MOVIE_GET); }

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

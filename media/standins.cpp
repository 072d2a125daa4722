// Stand-ins for the media parts that are not built yet (see media/standins.h).
#include "media/standins.h"

#include "script/command_ids.h"
#include "script/dispatch.h"

void AdvanceOgvMovie(void) {}
int IsWindowMovieOwningScreen(void) { return 0; }
void ReleaseWindowMovies(void) {}
int CmdMovie(void) { return ReportCommandNotBuilt(CMDID_MOVIE); }
int CmdMovieStop(void) { return ReportCommandNotBuilt(CMDID_MOVIE_STOP); }
int CmdMovieGet(void) { return ReportCommandNotBuilt(CMDID_MOVIE_GET); }
int CmdOgvPlay(void) { return ReportCommandNotBuilt(CMDID_OGV_PLAY); }
int CmdOgvStop(void) { return ReportCommandNotBuilt(CMDID_OGV_STOP); }
int CmdOgvGet(void) { return ReportCommandNotBuilt(CMDID_OGV_GET); }
int CmdMovieNop(void) { return ReportCommandNotBuilt(CMDID_MOVIE_NOP); }

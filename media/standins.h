// Theora and window movies are not built yet. Until they are, these stand-ins with their final
// names keep their places in the hook tables and the command table: no movie plays and the
// commands report that they are not part of this build.
#pragma once
#include <cstddef>
#include <cstdint>

// Movies.
void AdvanceOgvMovie(void);
int IsWindowMovieOwningScreen(void);
void ReleaseWindowMovies(void);
int CmdMovie(void);
int CmdMovieStop(void);
int CmdMovieGet(void);
int CmdOgvPlay(void);
int CmdOgvStop(void);
int CmdOgvGet(void);
int CmdMovieNop(void);

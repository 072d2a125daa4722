// Putting the sound code's run state back to its start values, for a test program between two tests.
#pragma once

// Puts the sound folder's globals back to the values they hold when the program starts: the sound
// device released, the sounds not paused and the request ring emptied (the ring's arrays, made once,
// are kept). The sound tree is one of the core's trees (core/core_state.h). A sound thread a test
// started is stopped by that test before this runs.
void ResetSoundState(void);

// Putting the media code's run state back to its start values, for a test program between two tests.
#pragma once

// Puts the media folder's globals back to the values they hold when the program starts: the E-mote
// component unbound (released the way shut-down releases it).
void ResetMediaState(void);

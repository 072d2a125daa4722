// Putting the pixel code's run state back to its start values, for a test program between two tests.
#pragma once

// Puts the imageproc folder's globals back to the values they hold when the program starts: the
// pixel routine table at its plain forms with no processor level chosen, the mask curve cleared and
// the inline blend limit at its default. The swirl distance table, a cache kept for the process, is
// kept.
void ResetImageprocState(void);

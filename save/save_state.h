// Putting the save code's run state back to its start values, for a test program between two tests.
#pragma once

// Puts the save folder's globals back to the values they hold when the program starts: the pending
// records, the scratch buffer and the memory slots freed, and the save-file writer back at the
// platform's atomic writer.
void ResetSaveState(void);

// Putting the display's run state back to its start values, for a test program between two tests.
#pragma once

// Puts the display folder's globals back to the values they hold when the program starts: the
// shared file list freed, the window procedure's pending requests and saved sizes, the screen
// modes' monitor and saved sizes, the cursor's auto-hide, the menu host window and the main window
// procedure. The window records, made once and never freed, are kept (their shared values are the
// core's); the touch library stays bound for the process. The display hook table is the
// composition root's: it installs it again afterwards.
void ResetDisplayState(void);

// Putting the script runtime's run state back to its start values, for a test program between two
// tests.
#pragma once

// Puts the script runtime's globals back to the values they hold when the program starts: frees the
// message text buffer, the compiled tables (commands, script names and bodies, labels, error texts,
// the variable definitions read from the game) and the variable table the way shut-down frees them,
// empties the command arguments and the evaluator's state, and sets the timers, the cursor and
// screen-saver requests and the pause back. A test that points one of these globals at its own
// memory puts it back before this runs. The hook tables, the evaluator's entries and the
// command table are the composition root's: it installs them again afterwards.
void ResetScriptState(void);

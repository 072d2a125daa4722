// The whole engine's run state back at its start values: what a test program needs between two tests
// so that each starts as a fresh process would.
#pragma once

// Resets every folder's globals (each folder's Reset…State), from the top down: a folder's records
// may point into the records of the folders below it, so those go last. The wiring is installed
// before (the trees' payloads are released through the real hooks, whatever a test put into a slot)
// and again after (the resets leave the hook tables, the command table and the dispatch tables as
// the program's start-up leaves them).
void ResetEngineState(void);

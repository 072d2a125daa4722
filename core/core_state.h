// Putting the core's run state back to its start values: what a test program needs between two
// tests so that each starts as a fresh process would.
#pragma once

// Puts the core's globals back to the values they hold when the program starts: the stop and pause
// switches, the frame loop's counters and pacing, the compiled configuration's values, the user
// settings, the input state, the object trees (freed through the engine hooks, as shut-down frees
// them) and their current paths, the pack index, the preload lists, the command-line copies, the
// system facts, the window records' shared values and the output buffer (freed). The error
// reporters' per-run state is put back too.
// Kept as they are: what lives for the whole process (the engine lock, held mutexes, the window
// records, which are made once and never freed, the codec bindings, the error hook of a recorder,
// the worker pool's records and the arithmetic tables) and the hook table, which the composition
// root installs. The folders above the core reset first: their records may point into the core's.
void ResetCoreState(void);

// The object trees' current paths back at their own buffers, emptied (core/object_tree.cpp).
void ResetObjectTreePaths(void);

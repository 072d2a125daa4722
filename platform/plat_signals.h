// The signals that ask a program to end (SIGINT from the terminal, SIGTERM from kill or the
// session, SIGHUP when the terminal goes away) as a quit request the frame loop serves.
#pragma once

// Installs the handlers. A first signal only sets the quit flag; a second one, while the orderly
// shut-down has not finished, ends the process at once as the signal's default would.
void PlatInstallQuitSignals(void);
// Gives back the default handling (after shut-down, and in tests).
void PlatRemoveQuitSignals(void);
// 1 once when a quit signal came since the last call, else 0.
int PlatTakeQuitSignal(void);
// 1 while a quit signal is pending or was taken, until PlatRemoveQuitSignals.
int PlatQuitSignalSeen(void);

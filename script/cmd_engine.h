// The engine-control commands: quit and restart, the per-command switches, the frame rate, the
// input switches, engine settings, waiting, and the commands that only decode their arguments.
// Every handler decodes its arguments first (a decoding failure answers -1) and uses only the low
// bits of each value that its setting holds.
#pragma once

// 13: argument 0 given sets the restart-after-shut-down flag from its low byte; the engine then
// stops (the frame step asks for the quit). 0.
int CmdQuit(void);
// 14: for k = 1..121 the switch of command k takes the low byte of argument k + 2 when given. 0.
int CmdSetSwitches(void);
// 15, 88, 99: the arguments are decoded and range-checked, nothing else. 0.
int CmdArgsOnly15(void);
int CmdArgsOnly88(void);
int CmdArgsOnly99(void);
// 28: argument 0 the frame rate (SetFrameRate), argument 1 the frame-skip switch. 0.
int CmdFrameRate(void);
// 49: argument 0 the keyboard switch, 1 the joystick switch, 2 the mouse switch; turning the mouse
// off asks the window thread to hide the cursor, turning it on again to show it. 0.
int CmdInputSwitches(void);
// 51: nothing, no argument decoding. 0.
int CmdNop51(void);
// 93: screen-saver blocking (0), running in the background (1, taken only while the main window is
// active), the game screen size (2 width, 3 height, both above 0), timers 1..4 stopped by 0 and
// restarted by 1 (4..7). 0.
int CmdEngineSettings(void);
// 104: argument 0 non-zero waits that many frames, else argument 1 non-zero waits that many
// milliseconds; -1 while the thread waits (its turn ends), else 0.
int CmdWait(void);

// The composition root: the entry point, start-up in its order with every subsystem's part wired in,
// the once-only initialiser, shut-down and restart, the single-instance protocol and the program's
// paths. It stands above every subsystem; nothing below it includes this header.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Wires the engine (root/wiring.cpp): every slot of the core's, the script runtime's, the layer
// code's and the display's hook tables, the command table, and the subsystems' own dispatch tables.
// The program calls it once before KolvexMain; every test program calls it before its tests, and a
// test that put its own function into a slot calls it again to put the wiring back.
void InstallEngineParts(void);
// Binds every command id to its handler (root/command_table.cpp) and fills the dispatch table.
void InstallCommandHandlers(void);
// The entry: the program's exit status. 0 after a quit the game or the player asked for (and when
// start-up ends as asked: a served switch, another copy brought to the front); 1 when start-up
// fails or a fatal error was reported during the run.
int KolvexMain(int argc, char** argv);

// Takes the game folder from the arguments (see PlatInitProgramPaths) and fills the engine paths and
// the mutex names. 0, or -1 when the folder cannot be used.
int InitProgramPaths(int argc, char** argv);
// Asks the running copy of that name to come to the front, and says on standard output that it did
// (or that another copy runs or is starting when none answered). 0.
int ActivateRunningInstance(const char* pszClass);
void ReleaseInstanceMutexes(void);
void ReleaseInstanceMutex(int nIndex);

// 0 run the main loop, -1 start-up stopped, 1 the scripts could not start and a quit was requested.
int8_t StartEngine(void);
// The one-time tables; the body runs at the first call only.
void InitEngineOnce(void);
// Tries a temporary file in the working folder; sets g_bFolderReadOnly when it cannot. 0.
int ProbeFolderWritable(void);
// The orderly shut-down, once after a start (however far it came).
void ShutdownEngine(void);
// Starts a program from an argument vector (cp932; args[0] the program) without waiting. 0 or -1.
int RunProgram(const std::vector<std::string>& args);
void InitTimerResolution(void);
void EndTimerResolution(void);

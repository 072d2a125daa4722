// Starting programs in place of ShellExecuteEx and FindExecutable. No shell ever runs.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Splits a Windows-style parameter text into arguments (spaces separate, double quotes group,
// backslashes before a quote escape it, as the Microsoft C runtime does).
std::vector<std::string> PlatSplitCommandLine(const char* pszParams);

// Starts the program (cp932 engine path or a name searched in PATH) with the parameters split as
// above, without waiting. 0 when the program started, -1 when it could not.
// Arguments reach the program in UTF-8; one that holds a '\' and names an existing file or folder
// as an engine path is passed as its native path.
int PlatStartProcess(const char* pszFile, const char* pszParams);
// Starts a program from an argument vector (cp932). 0 or -1.
int PlatStartProcessArgv(const std::vector<std::string>& args);

// Opens a document or folder (engine path) with the program the desktop associates with it: the
// program "xdg-open" from an argument vector, the parameters split as above appended. With
// pllProcess the started program is left to the caller, who waits with PlatProcessEnded (0 there
// when nothing was started that can be waited for, as under the test hook). 0, or -1.
int PlatOpenWithAssociated(const char* pszPath, const char* pszParams, int64_t* pllProcess);
// 1 when the program has ended (and is collected), 0 while it runs. A handle of 0 counts as ended.
int PlatProcessEnded(int64_t llProcess);

// The program that opens an existing document with its associated program, in place of
// FindExecutable: the engine path of "xdg-open" as found in PATH. 0, or -1 (pszOut empty) when the
// document does not exist or there is no such program.
int PlatFindAssociatedProgram(const char* pszDocument, char* pszOut, size_t cap);

// A program started to be waited for: the caller polls for its end and must collect it.
struct PLAT_PROCESS {
    int nPid;   // 0 when nothing runs
};
// Starts a program from an argument vector (cp932; args[0] an engine path or a name as above) and
// keeps its handle in *pProc. 0, or -1 when it could not start.
int PlatSpawnProcess(const std::vector<std::string>& args, PLAT_PROCESS* pProc);
// 1 while the program runs; 0 once it has ended (collected: *pnExitCode gets its exit code, or 128
// plus the signal that ended it), after which the handle is empty. -1 for an empty handle.
int PlatPollProcess(PLAT_PROCESS* pProc, int* pnExitCode);

// The program that opens a document for editing: $VISUAL, then $EDITOR (cp932 into pszOut).
// 0 when one is configured, -1 when none (pszOut then empty).
int PlatFindExecutable(const char* pszDocument, char* pszOut, size_t cap);

// Tests: every start goes to the hook instead (args[0] is the program); its result is returned.
typedef int (*PLAT_SPAWN_HOOK)(const std::vector<std::string>& args, void* pUser);
void PlatSetSpawnHook(PLAT_SPAWN_HOOK pfnHook, void* pUser);

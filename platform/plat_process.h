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

// Opening a file or a web address "with its program", in place of ShellExecuteEx
// (platform/plat_open.cpp):
// - a web address ("scheme:..." with a scheme of two letters or more, or "www." and a name) goes to
//   the desktop's opener, the program "xdg-open" from PATH, as its one argument;
// - an executable file (execute permission and an ELF or "#!" start) is started itself, by argument
//   vector, with the parameters split as PlatSplitCommandLine does;
// - any other file or folder (engine path, found without regard to ASCII case, whether or not it
//   holds a folder part) goes to the opener as its one argument, its real absolute path; the opener
//   takes no parameters, so parameters given for it are dropped with a line in the trace.
enum { PLAT_OPEN_STARTED = 0, PLAT_OPEN_FAILED = -1, PLAT_OPEN_MISSING = -2 };
struct PLAT_OPENED {
    int64_t llProcess;   // what was started, for PlatProcessEnded; 0 when nothing can be waited for
    int bOpener;         // 1 when it is the opener (its failing end is the open's failure)
};
// With pOpened the caller waits for the started program itself. Without it, the platform watches
// the opener and, when it ends with a failure, calls the open-failure handler on the window thread.
// PLAT_OPEN_STARTED, PLAT_OPEN_FAILED (nothing could be started: no opener installed, an empty
// name), or PLAT_OPEN_MISSING (no such file or folder).
int PlatOpenWithAssociated(const char* pszTarget, const char* pszParams, PLAT_OPENED* pOpened);
// 1 when the text is a web address as above.
int PlatIsWebAddress(const char* pszText);
// Hands a text (cp932) to the desktop's opener as the web page to show: unchanged (in UTF-8), as
// its one argument, whatever the text looks like; the browser decides what it names. Nothing is
// waited for: an opener that ends with a failure goes to the open-failure handler as above.
// PLAT_OPEN_STARTED, or PLAT_OPEN_FAILED (an empty text, or no opener could be started).
int PlatOpenWebPage(const char* pszText);
// 1 when the program has ended (and is collected; *pnExitCode, when given, gets its exit status, or
// 128 plus the signal that ended it), 0 while it runs. A handle of 0 counts as ended with status 0.
int PlatProcessEnded(int64_t llProcess, int* pnExitCode = nullptr);
// Called on the window thread when an opener the platform watches ends with a failure: the target as
// given (cp932) and the opener's exit status. Not called once the window system has stopped.
typedef void (*PLAT_OPEN_FAILURE_HANDLER)(const char* pszTarget, int nExitCode);
void PlatSetOpenFailureHandler(PLAT_OPEN_FAILURE_HANDLER pfnHandler);

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

// The system command: host-system utilities chosen by a function code (message output, files,
// folder listing, the script-line tokenizer, dialogs, registry deletion, disk space, the
// administrator test, the debug log, the script's edit box, engine switches, the timer pause).
#pragma once
#include <cstddef>
#include <cstdint>

// Argument ids: the code, the result, the numbers N, P, Q, R and the texts A, B.
enum {
    SYS_ARG_CODE = 0, SYS_ARG_RESULT = 1, SYS_ARG_N = 2, SYS_ARG_P = 3, SYS_ARG_Q = 4, SYS_ARG_R = 5,
    SYS_ARG_A = 22, SYS_ARG_B = 23,
};
enum {
    KX_SYS_TEXT_BUFFER = 1024,       // A and B hold at most 1023 bytes
    KX_FILE_LIST_MAX = 8192,         // names of one folder listing
    KX_FILE_LIST_NAME = 521,         // bytes of each name buffer of the shared list
    KX_EDIT_CHILD_TEXT = 261,        // bytes read back from the edit box
    KX_EDIT_LIMIT = 256,             // bytes the edit box and the edit dialog take
    KX_EDIT_DIALOG_TEXT = 4096,
    KX_SAVE_DIALOG_PATH = 521,
};
inline constexpr int64_t KX_DEBUG_LOG_BUDGET = 10485760;   // bytes the system command may append in a run
inline constexpr const char* KX_DEBUG_LOG_NAME = "debuglog.txt";

int CmdSystem(void);

// State the command owns (the switches g_bDrawDuringMovie and g_bGpuDirect live in core).
extern uint8_t g_bScriptTimersPaused;
extern int64_t g_llTimerPauseStamp;
extern char g_szEditDialogText[KX_EDIT_DIALOG_TEXT];
extern uint8_t g_bEditDialogResult;
extern int32_t g_nDebugLogBytes;

// Writes a file found in the game's sources to a disk path, whole or not at all. 0, or -1 (not
// found 104060, pack not openable 901040, the readers' reports; a disk file that cannot be written:
// ReportFileWriteFailure, the old file kept).
int ExtractFileToDisk(const char* pszName, const char* pszDiskPath);
// The text file of function 15: the path holds the text and a line end afterwards, the file
// replaced whole. 0, or -1 after ReportFileWriteFailure (the old file kept).
int WriteTextFileLine(const char* pszPath, const char* pszText);
// A file the system command writes (or the registry store) could not be written: 102140, not
// fatal, with the command's name, the path, the error number and the system's text for it.
void ReportFileWriteFailure(const char* pszPath, int nErr);
// The folder's files (those ending in "." + extension, without case; all when the extension is
// empty) and, with bFolders, its folders as "name/", sorted by name without regard to ASCII case;
// at most 8192 (the limit shows a box once reached). They replace the shared file list. 0.
int ListDirectory(const char* pszFolder, const char* pszExtension, int bFolders);
// The registry deletions: 0, or -1 at the first failing step.
int DeleteUserRegEntry(const char* pszSubkey, const char* pszName);
int DeleteMachineRegValue(const char* pszSubkey, const char* pszName);
int DeleteMachineRegKey(const char* pszSubkey);
// Appends one formatted line to the debug log in the program folder within the run's budget.
int64_t AppendDebugLogF(const char* pszFileName, uint8_t bResetFirst, const char* pszText);
void DeleteDebugLog(void);
// The pause of the script timers and its end (the span leaves the running timers' readings).
void PauseScriptTimers(void);
void ResumeScriptTimers(void);
// Puts the command's state back as at load (tests and a new run).
void ResetSystemCommandState(void);

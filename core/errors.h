// Error reporting by six-digit message id, plain message boxes, the debug log and the debug trace.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>
#include <type_traits>

// One argument of a formatted report. Formats are checked against the arguments: a directive
// whose argument is missing or of another kind is printed as it stands, so a text from game data
// can never read a wrong argument.
enum { KX_ARG_INT = 1, KX_ARG_DOUBLE = 2, KX_ARG_STR = 3 };
struct KX_FMT_ARG {
    int nKind;
    int64_t llValue;
    double dValue;
    const char* pszValue;
};
inline KX_FMT_ARG MakeFmtArg(const char* psz) { return KX_FMT_ARG{KX_ARG_STR, 0, 0.0, psz ? psz : "(null)"}; }
inline KX_FMT_ARG MakeFmtArg(char* psz) { return MakeFmtArg(static_cast<const char*>(psz)); }
inline KX_FMT_ARG MakeFmtArg(const std::string& s) { return MakeFmtArg(s.c_str()); }
template <class T, std::enable_if_t<std::is_integral_v<T> || std::is_enum_v<T>, int> = 0>
inline KX_FMT_ARG MakeFmtArg(T v) { return KX_FMT_ARG{KX_ARG_INT, static_cast<int64_t>(v), 0.0, nullptr}; }
template <class T, std::enable_if_t<std::is_floating_point_v<T>, int> = 0>
inline KX_FMT_ARG MakeFmtArg(T v) { return KX_FMT_ARG{KX_ARG_DOUBLE, 0, static_cast<double>(v), nullptr}; }

// printf-style formatting into cap bytes (cut at a whole cp932 character, always terminated).
// Supports flags, width, precision ('*' too), the length modifiers h, l, ll, I64, and the
// conversions d i u x X o c s f F e E g G and %%. Returns the length written.
size_t FormatChecked(char* pszOut, size_t cap, const char* pszFormat, const KX_FMT_ARG* pArgs, int nArgs);
template <class... A>
inline size_t FormatText(char* pszOut, size_t cap, const char* pszFormat, const A&... args) {
    KX_FMT_ARG a[sizeof...(A) + 1] = {MakeFmtArg(args)...};
    return FormatChecked(pszOut, cap, pszFormat, a, static_cast<int>(sizeof...(A)));
}

// The compiled message table, filled from kxbin\kxe.kbn by the script tables' loader.
enum { KX_ERROR_TABLE_MAX = 256 };
extern int g_nErrorTexts;
extern int32_t g_anErrorId[KX_ERROR_TABLE_MAX];
extern char* g_apszErrorText[KX_ERROR_TABLE_MAX];

enum { KX_ERROR_BUFFER = 1024 };
extern char g_szErrorFormat[KX_ERROR_BUFFER];
extern char g_szErrorMessage[KX_ERROR_BUFFER];
extern const char* g_pszErrorFile;   // script file of the last report with a header, else NULL
extern int g_nErrorLine;             // its line, else 1
extern const char* g_pszErrorCaption;
extern uint8_t g_bErrorShown;

// Ids with texts of the engine's own.
enum {
    KX_ERR_LICENSE = 100000,
    KX_ERR_NO_MEMORY = 100010,
    KX_ERR_FILE_READ = 104010,
    KX_ERR_FILE_NO_MEMORY = 104030,
    KX_ERR_FILE_MISSING = 104060,
    KX_ERR_PACK_DAMAGED = 104100,
    KX_ERR_TOO_MANY_FOLDERS = 104110,
    KX_ERR_FOLDERS_TOO_DEEP = 104111,
    KX_ERR_PACK_VERSION = 104120,
    KX_ERR_TOO_MANY_PACKS = 104130,
    KX_ERR_TOO_MANY_ENTRIES = 104140,
    KX_ERR_PACK_DUPLICATE = 104150,
    KX_ERR_EXPAND_NO_MEMORY = 106010,
    KX_ERR_PATH_TOO_LONG = 900021,
    KX_ERR_EXPAND_BUFFER = 900040,
    KX_ERR_PACK_OPEN = 901040,
};

// The four reporters. The text comes from LookupErrorText; the fatal byte is ORed into the engine
// stop flag; the error dialog is shown for the first error of the run, and for the first fatal one
// when an error that ended nothing took the first. Every report also writes one line to standard
// error and the trace, whatever the table holds: "kolvex: fatal error 160010 in start.txt line 3
// (command wait): text" (the script reporters name the place and the command). For an id the
// table has no text for, the box shows the id and the command before the unlisted-id text.
void ReportError(int nId, uint8_t bFatal);
void ReportScriptError(int nId, uint8_t bFatal);
void ReportErrorV(int nId, uint8_t bFatal, const KX_FMT_ARG* pArgs, int nArgs);
void ReportScriptErrorV(int nId, uint8_t bFatal, const KX_FMT_ARG* pArgs, int nArgs);
template <class... A>
inline void ReportErrorF(int nId, uint8_t bFatal, const A&... args) {
    KX_FMT_ARG a[sizeof...(A) + 1] = {MakeFmtArg(args)...};
    ReportErrorV(nId, bFatal, a, static_cast<int>(sizeof...(A)));
}
template <class... A>
inline void ReportScriptErrorF(int nId, uint8_t bFatal, const A&... args) {
    KX_FMT_ARG a[sizeof...(A) + 1] = {MakeFmtArg(args)...};
    ReportScriptErrorV(nId, bFatal, a, static_cast<int>(sizeof...(A)));
}

// Notes: failures that end nothing and take no box (a document or an address that did not open).
// They write the one line of every report, with the reason (UTF-8, English) after it, and reach
// the error hook as non-fatal; the stop flag, the box and its texts stay as they are.
void NoteErrorV(int nId, uint8_t bWithLocation, const char* pszWhy, const KX_FMT_ARG* pArgs, int nArgs);
template <class... A>
inline void NoteErrorF(int nId, const char* pszWhy, const A&... args) {
    KX_FMT_ARG a[sizeof...(A) + 1] = {MakeFmtArg(args)...};
    NoteErrorV(nId, 0, pszWhy, a, static_cast<int>(sizeof...(A)));
}
template <class... A>
inline void NoteScriptErrorF(int nId, const char* pszWhy, const A&... args) {
    KX_FMT_ARG a[sizeof...(A) + 1] = {MakeFmtArg(args)...};
    NoteErrorV(nId, 1, pszWhy, a, static_cast<int>(sizeof...(A)));
}

// A stop that a failure caused, where the failing code has shown its own box instead of a report:
// the engine stops as after a fatal report, and the run ends with status 1. Safe on any thread.
void StopEngineForError(void);

// Where the running script is comes from g_EngineHooks.pfnGetScriptLocation (core/engine_hooks.h).

const char* LookupErrorText(int nId);
const char* BuildErrorText(int nId, uint8_t bFatal);
const char* BuildErrorTextWithLocation(int nId, uint8_t bFatal);
void ShowErrorDialog(const char* pszText);
// Parameters for the editor that opens a script at a line (the editor's file name decides).
void FormatEditorParams(char* pszOut, size_t cap, const char* pszEditorName, const char* pszPath, int nLine);

// The part after the last '\' or '/' (double-byte characters skipped) into pszOut. 1, or 0 with an
// empty output when the path ends with a separator or has none.
int GetPathFileName(char* pszOut, size_t cap, const char* pszPath);

// A plain message box: formatted into 1024 bytes, system-modal, OK button.
void ShowMessageBoxV(const char* pszCaption, const char* pszFormat, const KX_FMT_ARG* pArgs, int nArgs);
template <class... A>
inline void ShowMessageBox(const char* pszCaption, const char* pszFormat, const A&... args) {
    KX_FMT_ARG a[sizeof...(A) + 1] = {MakeFmtArg(args)...};
    ShowMessageBoxV(pszCaption, pszFormat, a, static_cast<int>(sizeof...(A)));
}

// The debug log in the program folder. Returns the bytes appended.
int64_t WriteDebugLog(const char* pszFileName, uint8_t bResetFirst, int64_t llBudget,
                      const char* pszFormat, const KX_FMT_ARG* pArgs, int nArgs);
int AppendLogLine(const char* pszPath, const char* pszText);

// The debug trace: a caption and a text (cp932) at many points. It does nothing unless the
// environment names a file in KOLVEX_TRACE (a relative name is taken from the folder kolvex was
// started in), to which it appends "caption: text" lines in UTF-8. The file has a lock of its own,
// never the engine lock, so a line can be written on any thread at any time.
void DebugTrace(const char* pszCaption, const char* pszText);
// The same for a caption and a text that are UTF-8 already (the platform's trace sink).
void DebugTraceUtf8(const char* pszCaption, const char* pszText);

// Puts the per-run state back: no dialog shown yet, the log's first write to come, default caption,
// no fatal report seen.
void ResetErrorStateForRun(void);
// 1 once a fatal error was reported in this run (the program's exit status is then 1), else 0.
int WasFatalErrorReported(void);
// The id of the run's first fatal report (0 when none) and its first text argument (cp932; empty
// when it had none).
int GetFirstFatalReport(std::string* pstrArg);
// The same id with every text argument of that report, in their order (cp932).
int GetFirstFatalReportArgs(std::vector<std::string>* pArgs);

// Words in English beside the game's own (Japanese) text for the reports a player can act on (a
// damaged pack): what is wrong, naming the files by their real paths, and what to do. UTF-8; empty
// for the other ids. The error box shows them under the text, and the line that ends the run
// repeats them.
std::string DescribeReportInEnglish(int nId, const std::vector<std::string>& args);

// Tests: sees every report as (id, fatal byte, final text).
typedef void (*KX_ERROR_HOOK)(int nId, uint8_t bFatal, const char* pszText, void* pUser);
void SetErrorHook(KX_ERROR_HOOK pfnHook, void* pUser);

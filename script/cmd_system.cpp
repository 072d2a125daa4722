// The system command and the small routines its function codes call.
#include "script/cmd_system.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/cp932.h"
#include "core/engine_globals.h"
#include "core/engine_hooks.h"
#include "core/errors.h"
#include "core/file_location.h"
#include "core/kx_limits.h"
#include "core/kx_texts.h"
#include "core/window_record.h"
#include "platform/plat_dialog.h"
#include "platform/plat_editbox.h"
#include "platform/plat_file.h"
#include "platform/plat_process.h"
#include "platform/plat_registry.h"
#include "platform/plat_sysinfo.h"
#include "platform/plat_text.h"
#include "platform/plat_thread.h"
#include "platform/plat_time.h"
#include "platform/plat_window.h"
#include "script/arg_output.h"
#include "script/cmd_file.h"
#include "script/command_args.h"
#include "script/command_ids.h"
#include "script/dispatch.h"
#include "script/engine_control.h"
#include "script/script_hooks.h"
#include "script/tokenizer.h"
#include "script/variables.h"

// A file could not be written (command name, file name, error number, the system's text for it).
constexpr int kErrFileWrite = 102140;

uint8_t g_bScriptTimersPaused = 0;
int64_t g_llTimerPauseStamp = 0;
char g_szEditDialogText[KX_EDIT_DIALOG_TEXT];
uint8_t g_bEditDialogResult = 0;
int32_t g_nDebugLogBytes = 0;

namespace {

std::string g_strEditDialogInit;

struct ENGINE_LOCK {
    ENGINE_LOCK() { if (g_csEngine) PlatLockEnter(g_csEngine); }
    ~ENGINE_LOCK() { if (g_csEngine) PlatLockLeave(g_csEngine); }
    ENGINE_LOCK(const ENGINE_LOCK&) = delete;
    ENGINE_LOCK& operator=(const ENGINE_LOCK&) = delete;
};

// The text of argument A or B: the designated text element, or a literal's own text; empty when
// absent or the element is not a text. At most 1023 bytes, cut at a whole character.
void ReadTextArg(int nArgId, char* pszOut)
{
    pszOut[0] = '\0';
    const int s = ArgSlot(nArgId);
    if (!s) return;
    const char* psz = nullptr;
    if (g_anArgVar[s] != 0) {
        const VAR_DESC* pVar = GetVarDesc(g_anArgVar[s]);
        if (pVar && pVar->bType == KX_VAR_TYPE_STRING) psz = GetVarString(g_anArgVar[s], g_anArgElem[s]);
    } else {
        psz = ArgText(nArgId);
    }
    if (psz) CopyTextBounded(pszOut, KX_SYS_TEXT_BUFFER, psz);
}

// A reference value (variable x 2^32 + element) of a user variable: false when it names none.
bool SplitReference(int64_t llRef, int* pnVar, int64_t* pllElem)
{
    const uint64_t u = static_cast<uint64_t>(llRef);
    const uint64_t nVar = u >> 32;
    if (nVar < KX_FIRST_USER_VAR || nVar >= static_cast<uint64_t>(g_nVarDesc)) return false;
    *pnVar = static_cast<int>(nVar);
    *pllElem = static_cast<int64_t>(static_cast<int32_t>(static_cast<uint32_t>(u)));
    return true;
}

PLAT_HWND MainWindow(void)
{
    const WINDOW_STATE* pWin = g_apWindowState[0];
    return pWin ? pWin->hWnd : 0;
}

// The shared file list replaced by the names, under the engine lock.
void ReplaceFileList(const std::vector<std::string>& names)
{
    char** ppNew = static_cast<char**>(std::calloc(names.size() + 1, sizeof(char*)));
    if (!ppNew) {
        ReportError(KX_ERR_NO_MEMORY, 1);
        return;
    }
    for (size_t i = 0; i < names.size(); ++i) {
        ppNew[i] = static_cast<char*>(std::malloc(KX_FILE_LIST_NAME));
        if (!ppNew[i]) {
            for (size_t k = 0; k < i; ++k) std::free(ppNew[k]);
            std::free(ppNew);
            ReportError(KX_ERR_NO_MEMORY, 1);
            return;
        }
        CopyTextBounded(ppNew[i], KX_FILE_LIST_NAME, names[i].c_str());
    }
    ENGINE_LOCK lock;
    if (g_apszFileList) {
        for (char** pp = g_apszFileList; *pp; ++pp) std::free(*pp);
        std::free(g_apszFileList);
    }
    g_apszFileList = ppNew;
    g_nFileListCount = static_cast<int32_t>(names.size());
}

int CompareNamesNoCase(const std::string& a, const std::string& b)
{
    const int r = CompareNoCaseASCII(a.c_str(), b.c_str());
    return r != 0 ? r : a.compare(b);
}

// Code 34: a drive form "X:\..." means the game's own volume; any other path its own volume.
int64_t FreeBytesOf(const char* pszPath)
{
    const bool bDrive = ((pszPath[0] | 0x20) >= 'a' && (pszPath[0] | 0x20) <= 'z') && pszPath[1] == ':';
    return PlatGetDiskFreeBytes(bDrive ? "." : pszPath);
}

int SaveDialog(const char* pszInitial, const char* pszFilterName, const char* pszPattern, std::string* pPath)
{
    PLAT_DIALOG_REQUEST req{PLAT_DLG_SAVE_FILE, GetEngineText(TXT_SAVE_DIALOG_TITLE), nullptr, pszInitial, 0,
                            pszFilterName, pszPattern};
    // The file buffer holds 521 bytes: a longer choice fails as the dialog would.
    return PlatShowDialog(&req, pPath) == 1 && pPath->size() < KX_SAVE_DIALOG_PATH ? 1 : 0;
}

int EditDialog(const char* pszInit)
{
    g_strEditDialogInit = pszInit;
    PLAT_DIALOG_REQUEST req{PLAT_DLG_EDIT, GetEngineText(TXT_EDIT_DIALOG_CAPTION), nullptr, g_strEditDialogInit.c_str(),
                            KX_EDIT_LIMIT, nullptr, nullptr};
    std::string strText;
    g_EngineHooks.pfnRequestCursorShow();
    g_ScriptHooks.pfnApplyCursorRequest();
    const int r = PlatShowDialog(&req, &strText);
    if (r < 0) return -1;
    g_bEditDialogResult = r == 1 ? 1 : 0;
    if (r == 1) CopyTextBounded(g_szEditDialogText, sizeof g_szEditDialogText, strText.c_str());
    return 0;
}

}  // namespace

// ---- routines ----

int ExtractFileToDisk(const char* pszName, const char* pszDiskPath)
{
    FILE_LOCATION loc{};
    const int nFound = LocateFile(&loc, pszName, 0);
    uint8_t* pData = nullptr;
    size_t n = 0;
    if (ReadFoundFile(&loc, nFound, pszName, &pData, &n) != 0) return -1;
    errno = 0;
    const int r = PlatWriteFileAtomic(pszDiskPath, pData, n);
    const int nErr = errno;
    std::free(pData);
    if (r != 0) {
        ReportFileWriteFailure(pszDiskPath, nErr);
        return -1;
    }
    return 0;
}

int WriteTextFileLine(const char* pszPath, const char* pszText)
{
    // The file is replaced whole: a reader sees the old text or the new line, never an empty or
    // half-written file, and a file that cannot be written keeps its old content.
    std::string strLine = pszText;
    strLine += "\r\n";
    errno = 0;
    if (PlatWriteFileAtomic(pszPath, strLine.data(), strLine.size()) != 0) {
        ReportFileWriteFailure(pszPath, errno);
        return -1;
    }
    return 0;
}

void ReportFileWriteFailure(const char* pszPath, int nErr)
{
    if (nErr == 0) nErr = EIO;
    const char* pszText = std::strerror(nErr);
    ReportScriptErrorF(kErrFileWrite, 0, GetScriptCommandName(CMDID_SYSTEM), pszPath, nErr,
                       PlatUtf8ToCp932String(pszText ? pszText : "").c_str());
}

int ListDirectory(const char* pszFolder, const char* pszExtension, int bFolders)
{
    std::vector<PLAT_DIR_ENTRY> entries;
    std::vector<std::string> names;
    if (PlatListDir(pszFolder, &entries) == 0) {
        std::sort(entries.begin(), entries.end(), [](const PLAT_DIR_ENTRY& a, const PLAT_DIR_ENTRY& b) {
            return CompareNamesNoCase(a.strName, b.strName) < 0;
        });
        const std::string strSuffix = std::string(".") + pszExtension;
        for (const PLAT_DIR_ENTRY& e : entries) {
            if (e.bIsDir) {
                if (!bFolders) continue;
                names.push_back(e.strName + "/");
            } else {
                if (*pszExtension && !EndsWithNoCase(e.strName.c_str(), strSuffix.c_str())) continue;
                names.push_back(e.strName);
            }
            if (names.size() == KX_FILE_LIST_MAX) {
                ShowMessageBox("", GetEngineText(TXT_LIST_LIMIT), static_cast<int>(KX_FILE_LIST_MAX));
                break;
            }
        }
    }
    ReplaceFileList(names);
    return 0;
}

// A registry change that could not be stored is reported with the store's path; the store keeps
// what it held. The result of the registry call, -1 for both failures.
static int CheckRegistryChange(int r)
{
    if (r == -2) {
        const int nErr = errno;
        ReportFileWriteFailure(PlatUtf8ToCp932String(PlatGetRegistryPath().c_str()).c_str(), nErr);
    }
    return r == 0 ? 0 : -1;
}

int DeleteUserRegEntry(const char* pszSubkey, const char* pszName)
{
    if (!PlatRegKeyExists("HKEY_CURRENT_USER", pszSubkey)) return -1;
    if (CheckRegistryChange(PlatRegDeleteValue("HKEY_CURRENT_USER", pszSubkey, pszName)) != 0) return -1;
    return CheckRegistryChange(PlatRegDeleteKey("HKEY_CURRENT_USER", pszSubkey));
}

int DeleteMachineRegValue(const char* pszSubkey, const char* pszName)
{
    if (!PlatRegKeyExists("HKEY_LOCAL_MACHINE", pszSubkey)) return -1;
    return CheckRegistryChange(PlatRegDeleteValue("HKEY_LOCAL_MACHINE", pszSubkey, pszName));
}

int DeleteMachineRegKey(const char* pszSubkey)
{
    return CheckRegistryChange(PlatRegDeleteKey("HKEY_LOCAL_MACHINE", pszSubkey));
}

int64_t AppendDebugLogF(const char* pszFileName, uint8_t bResetFirst, const char* pszText)
{
    const KX_FMT_ARG aArgs[1] = {MakeFmtArg(pszText)};
    const int64_t llWritten = WriteDebugLog(pszFileName, bResetFirst, KX_DEBUG_LOG_BUDGET - g_nDebugLogBytes, "%s", aArgs, 1);
    const int64_t llTotal = g_nDebugLogBytes + llWritten;
    g_nDebugLogBytes = static_cast<int32_t>(std::min<int64_t>(llTotal, INT32_MAX));
    return llWritten;
}

void DeleteDebugLog(void)
{
    char szPath[KX_MAX_PATH];
    FormatText(szPath, sizeof szPath, "%s\\%s", g_szExeDir, KX_DEBUG_LOG_NAME);
    ENGINE_LOCK lock;
    PlatFileDelete(szPath);
}

void PauseScriptTimers(void)
{
    ENGINE_LOCK lock;
    if (g_bScriptTimersPaused) return;
    g_bScriptTimersPaused = 1;
    g_llTimerPauseStamp = static_cast<int64_t>(PlatGetTime());
}

void ResumeScriptTimers(void)
{
    ENGINE_LOCK lock;
    if (!g_bScriptTimersPaused) return;
    g_bScriptTimersPaused = 0;
    const uint32_t dwSpan = PlatGetTime() - static_cast<uint32_t>(g_llTimerPauseStamp);
    for (int i = 0; i < KX_SCRIPT_TIMERS; ++i)
        if (g_abTimerRunning[i]) g_anTimerPaused[i] += dwSpan;
    g_llTimerPauseStamp = 0;
}

void ResetSystemCommandState(void)
{
    g_bScriptTimersPaused = 0;
    g_llTimerPauseStamp = 0;
    g_szEditDialogText[0] = '\0';
    g_bEditDialogResult = 0;
    g_nDebugLogBytes = 0;
    g_strEditDialogInit.clear();
    g_bDrawDuringMovie = 0;
    PlatEditBoxClose();
}

// ---- the command ----

int CmdSystem(void)
{
    if (FetchCommandArgs(CMDID_SYSTEM) != 0) return -1;
    char szA[KX_SYS_TEXT_BUFFER], szB[KX_SYS_TEXT_BUFFER];
    ReadTextArg(SYS_ARG_A, szA);
    ReadTextArg(SYS_ARG_B, szB);
    const int64_t llCode = HasArg(SYS_ARG_CODE) ? ArgInt(SYS_ARG_CODE) : 0;
    const int64_t N = ArgIntValue(SYS_ARG_N), P = ArgIntValue(SYS_ARG_P), Q = ArgIntValue(SYS_ARG_Q);
    const int32_t R = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(ArgIntValue(SYS_ARG_R))));
    ARG_OUTPUT out;
    const bool bOut = GetArgOutput(SYS_ARG_RESULT, &out);
    auto storeInt = [&](int64_t v) { return bOut && StoreOutputInt(out, v) != 0 ? -1 : 0; };
    auto storeText = [&](const char* psz) { return bOut && StoreOutputText(out, psz) != 0 ? -1 : 0; };

    switch (llCode) {
    case 1: return storeInt(502);
    case 2: ShowMessageBox("", "= %s", szA); return 0;
    case 10: ShowMessageBox(nullptr, "COM:10 Deleted."); return 0;
    case 30: ShowMessageBox(nullptr, "COM:30 Deleted."); return 0;
    case 31: ShowMessageBox(nullptr, "COM:31 Deleted."); return 0;
    case 12:
        SlashesToBackslashesCp932(szA);
        SlashesToBackslashesCp932(szB);
        LowerCaseASCII(szA);
        DebugTrace("extract", szB);
        ExtractFileToDisk(szA, szB);
        return 0;
    case 15: {
        SlashesToBackslashesCp932(szA);
        DebugTrace("write", szA);
        WriteTextFileLine(szA, szB);
        return 0;
    }
    case 21:
        SlashesToBackslashesCp932(szA);
        ListDirectory(szA, szB, N != 0);
        return 0;
    case 22: return storeInt(TokenizeScriptLine(szA, N, P, Q));
    case 23: {
        int nSrc = 0, nDst = 0;
        int64_t llSrc = 0, llDst = 0;
        int64_t llCount = 0;
        if (SplitReference(N, &nSrc, &llSrc) && SplitReference(P, &nDst, &llDst))
            llCount = StoreStringLengths(llSrc, nSrc, llDst, nDst);
        return storeInt(llCount);
    }
    case 25:
    case 26: {
        std::string strPath;
        const bool bBmp = llCode == 25;
        if (!SaveDialog(szA, bBmp ? "BMP File(*.bmp)" : "PNG File(*.png)", bBmp ? "*.bmp" : "*.png", &strPath)) return 0;
        return storeText(strPath.c_str());
    }
    case 27: g_bDrawDuringMovie = 1; return 0;
    case 28: g_bDrawDuringMovie = 0; return 0;
    case 32:
        SlashesToBackslashesCp932(szA);
        PlatSetCurrentDir(szA);
        return 0;
    case 33: SlashesToBackslashesCp932(szA); DeleteUserRegEntry(szA, szB); return 0;
    case 34: SlashesToBackslashesCp932(szA); return storeInt(FreeBytesOf(szA));
    case 36: SlashesToBackslashesCp932(szA); DeleteMachineRegValue(szA, szB); return 0;
    case 37: SlashesToBackslashesCp932(szA); DeleteMachineRegKey(szA); return 0;
    case 38: return storeInt(PlatIsUserAdmin());
    case 51: DeleteDebugLog(); return 0;
    case 52: AppendDebugLogF(KX_DEBUG_LOG_NAME, 1, szA); return 0;
    case 80: g_bGpuDirect = 1; return 0;
    case 81: g_bGpuDirect = 0; return 0;
    case 100:
    case 110:
        if (PLAT_HWND h = MainWindow()) PlatShowWindow(h, llCode == 100 ? PLAT_SW_HIDE : PLAT_SW_SHOW);
        return 0;
    case 120:
        return OpenWebPage(szA);
    case 10102:
        // Over the main window's picture, at a place of its client area.
        PlatEditBoxCreate(MainWindow(), szA, static_cast<int>(N), static_cast<int>(P), static_cast<int>(Q), R, KX_EDIT_LIMIT);
        return 0;
    case 10103: PlatEditBoxClose(); return 0;
    case 10104: PlatEditBoxSetText(szA); return 0;
    case 10105: {
        char szText[KX_EDIT_CHILD_TEXT];
        PlatEditBoxGetText(szText, sizeof szText);
        return storeText(szText);
    }
    case 10201:
        if (EditDialog(szA) != 0) return -1;
        return storeInt(g_bEditDialogResult);
    case 10205: return storeText(g_szEditDialogText);
    case 20005: PlatEditBoxSetFocus(1); return 0;
    case 20006: PlatEditBoxSetFocus(0); return 0;
    case 20011: g_ScriptHooks.pfnSetPauseOnCaptionDrag(1); return 0;
    case 20012: g_ScriptHooks.pfnSetPauseOnCaptionDrag(0); return 0;
    case 20013: PauseScriptTimers(); return 0;
    case 20014: ResumeScriptTimers(); return 0;
    case 20021: return storeInt(0);
    case 21000: {
        SlashesToBackslashesCp932(szA);
        PLAT_DIALOG_REQUEST req{PLAT_DLG_FOLDER, szB, nullptr, szA, 0, nullptr, nullptr};
        std::string strFolder;
        if (PlatShowDialog(&req, &strFolder) != 1 || strFolder.size() >= KX_FILE_LIST_NAME) strFolder.clear();
        return storeText(strFolder.c_str());
    }
    case 21031: return storeText("C:\\WINDOWS");
    default: return 0;
    }
}

// The file commands, the preload cache and the text readers.
#include "script/cmd_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/cp932.h"
#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/file_location.h"
#include "core/kx_limits.h"
#include "core/object_tree.h"
#include "core/preload_cache.h"
#include "core/window_record.h"
#include "platform/plat_file.h"
#include "platform/plat_paths.h"
#include "platform/plat_process.h"
#include "platform/plat_text.h"
#include "platform/plat_thread.h"
#include "platform/plat_time.h"
#include "platform/plat_window.h"
#include "script/arg_output.h"
#include "script/command_args.h"
#include "script/command_ids.h"
#include "script/dispatch.h"
#include "script/script_hooks.h"
#include "script/script_tables.h"
#include "script/text_buffer.h"
#include "script/variables.h"
#include "core/script_thread.h"

namespace {

enum { KX_ERR_LAYER_TO_SAVE_MISSING = 101250 };

// A script's path: lower case, '\' separators.
std::string ScriptPath(const char* pszArg)
{
    std::string s = pszArg ? pszArg : "";
    LowerCaseASCII(&s[0]);
    SlashesToBackslashesCp932(&s[0]);
    return s;
}

// 1 when the text ends with a single-byte '\' (not the trail byte of a double-byte character).
bool EndsWithSeparator(const std::string& s)
{
    const char* p = s.c_str();
    const char* pLast = nullptr;
    for (; *p; p = NextCharCp932(p)) pLast = p;
    return pLast && *pLast == '\\' && NextCharCp932(pLast) == pLast + 1;
}

const char* CmdNameOf(int nCmd) { return GetScriptCommandName(nCmd); }

// A file could not be written (command name, file name, error number, the system's text for it).
constexpr int kErrFileWrite = 102140;

// Serves the window while a started program runs: the window thread dispatches its messages (a
// WM_QUIT that arrives is put back for the main loop); elsewhere the window thread pumps on its own.
void ServeWindowWhileWaiting(void)
{
    if (!PlatIsWindowThread()) return;
    PlatPumpWindowThread();
    PLAT_MSG msg;
    while (PlatPeekMessage(&msg, PLAT_PM_NOREMOVE)) {
        if (PlatGetMessage(&msg) <= 0) {
            PlatPostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        PlatDispatchMessage(&msg);
    }
}

int SaveLayerArg(const std::string& strFile, int nFormat)
{
    std::string strName = ArgText(FILE_ARG_LAYER);
    if (HasArg(FILE_ARG_LAYER_NUMBER)) strName += "." + std::to_string(ArgInt(FILE_ARG_LAYER_NUMBER));
    char szPath[KX_MAX_OBJECT_PATH];
    const int r = NormalizeObjectPath(szPath, strName.c_str(), g_pszLayerPath ? g_pszLayerPath : "", 0);
    if (r < 0) return -1;
    TREE_NODE* pNode = g_pLayerRoot ? FindNodeByPath(g_pLayerRoot, szPath, r ? KX_FIND_GROUP : KX_FIND_LEAF) : nullptr;
    if (!pNode) {
        ReportScriptErrorF(KX_ERR_LAYER_TO_SAVE_MISSING, 1, CmdNameOf(CMDID_FILE), szPath);
        return -1;
    }
    static const char* const kExt[] = {"", ".bmp", ".png", ".jpg", ".webp"};
    std::string strOut = strFile;
    if (!EndsWithNoCase(strOut.c_str(), kExt[nFormat])) strOut += kExt[nFormat];
    const bool bLevel = HasArg(FILE_ARG_LEVEL);
    const int64_t v = ArgInt(FILE_ARG_LEVEL);
    auto clamp = [&](int64_t lo, int64_t hi, int64_t def) {
        return static_cast<int>(!bLevel ? def : v < lo ? lo : v > hi ? hi : v);
    };
    int nLevel = 0;
    if (nFormat == KX_SAVE_FORMAT_PNG) nLevel = clamp(0, 9, 5);
    if (nFormat == KX_SAVE_FORMAT_JPEG) nLevel = clamp(1, 100, 90);
    if (nFormat == KX_SAVE_FORMAT_WEBP) nLevel = clamp(0, 101, 90);
    return g_ScriptHooks.pfnSaveLayerImage(pNode, strOut.c_str(), nFormat, nLevel) == 0 ? 0 : -1;
}

// Finds a text file in the sources' order and reads it whole with CR LF appended. 0, or -1 after
// a report (missing 104060, pack not openable 901040, the readers' own).
int ReadTextFile(const char* pszArg, std::string* pText)
{
    const std::string strPath = ScriptPath(pszArg);
    FILE_LOCATION loc{};
    const int nFound = LocateFile(&loc, strPath.c_str(), 0);
    uint8_t* pData = nullptr;
    size_t n = 0;
    if (ReadFoundFile(&loc, nFound, strPath.c_str(), &pData, &n) != 0) return -1;
    pText->assign(reinterpret_cast<const char*>(pData), n);
    std::free(pData);
    *pText += "\r\n";
    return 0;
}

// The elements of an output array from element 0: its first dimension bounds the line reader.
int64_t FirstDimension(const VAR_DESC* pVar)
{
    return pVar->nDims >= 1 ? pVar->anDim[0] : pVar->llCount;
}

struct ARRAY_FILL {
    int nVar;
    int64_t llNext;
    int64_t llLimit;
    int bFailed;
};

int StoreLine(const std::string& s, void* pUser)
{
    ARRAY_FILL* f = static_cast<ARRAY_FILL*>(pUser);
    SetVarString(f->nVar, f->llNext++, s.c_str());
    return f->llNext >= f->llLimit ? 1 : 0;
}

void StoreField(const std::string& s, void* pUser)
{
    ARRAY_FILL* f = static_cast<ARRAY_FILL*>(pUser);
    SetVarString(f->nVar, f->llNext++, s.c_str());
}

void IgnoreField(const std::string&, void*) {}

// The text array of an output argument: false after 101140 for a variable of another type, or
// when there is no output at all (*pbNone).
bool TextArrayOutput(int nArgId, ARG_OUTPUT* pOut, bool* pbNone)
{
    *pbNone = !GetArgOutput(nArgId, pOut);
    if (*pbNone) return false;
    if (IsTextOutput(*pOut)) return true;
    SetVarString(pOut->nVar, 0, "");   // reports 101140
    return false;
}

}  // namespace

// ---- opening with the program ----

namespace {

// A target as the person knows it: a file by its real path, an address as written.
std::string ShownTarget(const char* pszTarget)
{
    return PlatIsWebAddress(pszTarget) ? PlatCp932ToUtf8String(pszTarget) : PlatDisplayPath(pszTarget);
}

// A failed open is noted on standard error and in the trace, never in the run's one box: that box
// stays for the errors that end the game, which the person must be shown.
int ReportOpenFailure(const char* pszTarget, const std::string& strWhy, int nId, bool bWithLocation)
{
    const std::string strWhyShown = ShownTarget(pszTarget) + " could not be opened: " + strWhy;
    if (bWithLocation) NoteScriptErrorF(nId, strWhyShown.c_str(), pszTarget);
    else NoteErrorF(nId, strWhyShown.c_str(), pszTarget);
    return -1;
}

std::string OpenerEndedWith(int nExitCode)
{
    return "the desktop's opener (xdg-open) ended with status " + std::to_string(nExitCode) +
           " (2: no such file, 3: no program for it, 4: the program failed)";
}

}  // namespace

void ReportFailedOpen(const char* pszTarget, int nExitCode)
{
    ReportOpenFailure(pszTarget ? pszTarget : "", OpenerEndedWith(nExitCode), KX_ERR_FILE_READ, false);
}

int OpenWithProgram(const char* pszTarget, const char* pszParams, bool bWait)
{
    DebugTrace("open", pszTarget);
    PLAT_OPENED opened{0, 0};
    const int r = PlatOpenWithAssociated(pszTarget, pszParams, bWait ? &opened : nullptr);
    if (r == PLAT_OPEN_MISSING) return ReportOpenFailure(pszTarget, "there is no such file", KX_ERR_FILE_MISSING, true);
    if (r != PLAT_OPEN_STARTED)
        return ReportOpenFailure(pszTarget, "the desktop's opener (xdg-open, package xdg-utils) could not be started",
                                 KX_ERR_FILE_READ, true);
    // The wait ends with the program, or when the game stops meanwhile (the player quit): the
    // program then runs on by itself.
    int nExitCode = 0;
    while (bWait && !g_bEngineStop && !PlatProcessEnded(opened.llProcess, &nExitCode)) {
        ServeWindowWhileWaiting();
        PlatWaitTurn(10);
    }
    // The program's own status is its business; the opener's says whether anything opened.
    if (bWait && opened.bOpener && nExitCode != 0)
        return ReportOpenFailure(pszTarget, OpenerEndedWith(nExitCode), KX_ERR_FILE_READ, true);
    return 0;
}

int OpenWebPage(const char* pszAddress)
{
    DebugTrace("open web page", pszAddress);
    if (!pszAddress || !*pszAddress) {
        NoteScriptErrorF(KX_ERR_FILE_READ, "no web page was opened: no address given", "");
        return -1;
    }
    if (PlatOpenWebPage(pszAddress) != PLAT_OPEN_STARTED)
        return ReportOpenFailure(pszAddress, "the desktop's opener (xdg-open, package xdg-utils) could not be started",
                                 KX_ERR_FILE_READ, true);
    return 0;
}

// ---- preload cache ----

void RemoveCachedEntry(int nList, int nEntry)
{
    if (nList < 0 || nList >= KX_PRELOAD_LISTS || nEntry < 0 || nEntry >= KX_PRELOAD_MAX_ENTRIES) return;
    PRELOAD_ENTRY* a = g_aPreloadCache[nList];
    std::free(a[nEntry].pszName);
    const int32_t nCount = g_anPreloadCount[nList] < KX_PRELOAD_MAX_ENTRIES ? g_anPreloadCount[nList] : KX_PRELOAD_MAX_ENTRIES;
    for (int32_t i = nEntry; i + 1 < nCount; ++i) a[i] = a[i + 1];
    if (nCount > 0 && nEntry < nCount) a[nCount - 1] = PRELOAD_ENTRY{};
}

void FreePreloadCache(void)
{
    for (int l = 0; l < KX_PRELOAD_LISTS; ++l) {
        for (PRELOAD_ENTRY& e : g_aPreloadCache[l]) {
            std::free(e.pszName);
            std::free(e.pData);
            e = PRELOAD_ENTRY{};
        }
        g_anPreloadCount[l] = 0;
    }
}

int PreloadFile(int nList, const char* pszName, int nKind)
{
    if (nList < 0 || nList >= KX_PRELOAD_LISTS) return 0;
    FILE_LOCATION loc{};
    char szResolved[KX_MAX_PATH];
    const int r = ResolveResourceFile(&loc, szResolved, sizeof szResolved, pszName, nKind);
    if (r < 0) return -1;
    if (r == 1) return 0;
    PRELOAD_ENTRY* a = g_aPreloadCache[nList];
    int32_t& nCount = g_anPreloadCount[nList];

    // Already in this list: moved to the end, not read again.
    for (int32_t g = 0; g < nCount; ++g) {
        if (!a[g].pszName || CompareNoCaseASCII(a[g].pszName, szResolved) != 0) continue;
        PRELOAD_ENTRY e = a[g];
        char* pszName2 = strdup(e.pszName);
        if (!pszName2) {
            ReportError(KX_ERR_NO_MEMORY, 1);
            return -1;
        }
        RemoveCachedEntry(nList, g);
        e.pszName = pszName2;
        a[nCount - 1] = e;
        return 0;
    }

    // Held by another list: a copy of its data; else read from its source.
    FILE_LOCATION cached{};
    if (FindCachedFile(&cached, szResolved) == FILESRC_CACHE) loc = cached;
    loc.pData = nullptr;
    if (ReadLocatedFile(&loc, szResolved) != 0) return -1;
    char* pszCopy = strdup(szResolved);
    if (!pszCopy) {
        std::free(loc.pData);
        ReportError(KX_ERR_NO_MEMORY, 1);
        return -1;
    }
    LowerCaseASCII(pszCopy);
    PRELOAD_ENTRY e{pszCopy, loc.pData, loc.nSize, loc.bType};
    if (nCount >= KX_PRELOAD_MAX_ENTRIES) {
        std::free(a[0].pData);
        RemoveCachedEntry(nList, 0);
        nCount = KX_PRELOAD_MAX_ENTRIES;
        a[nCount - 1] = e;
    } else {
        a[nCount++] = e;
    }
    return 0;
}

// ---- folders ----

int IsDirectory(const char* pszPath)
{
    PLAT_FILE_STAT st{};
    return PlatFileStat(pszPath, &st) == 0 && st.bExists && st.bIsDir ? 1 : 0;
}

int CreateDirectoryPath(const char* pszPath)
{
    std::string strPrefix;
    for (const char* p = pszPath; *p;) {
        const char* q = NextCharCp932(p);
        if (*p == '\\' && q == p + 1 && !strPrefix.empty()) PlatMakeDir(strPrefix.c_str());
        strPrefix.append(p, static_cast<size_t>(q - p));
        p = q;
    }
    return 0;
}

int IsEmptyOrRootPath(const char* pszPath)
{
    std::string s = pszPath ? pszPath : "";
    SlashesToBackslashesCp932(&s[0]);
    while (EndsWithSeparator(s)) s.pop_back();
    if (s.empty()) return 1;                                                     // "" or "\"
    if (s.size() == 2 && s[1] == ':' && (s[0] | 0x20) >= 'a' && (s[0] | 0x20) <= 'z') return 1;   // a drive
    return 0;
}

// ---- commands ----

int CmdFile(void)
{
    if (FetchCommandArgs(CMDID_FILE) != 0) return -1;
    const std::string strPath = ScriptPath(ArgText(FILE_ARG_PATH));
    const std::string strDest = ScriptPath(ArgText(FILE_ARG_DEST));
    std::string strDir = ScriptPath(ArgText(FILE_ARG_DIR));
    if (!EndsWithSeparator(strDir)) strDir += '\\';

    int nFormat = HasArg(FILE_ARG_BMP) && ArgInt(FILE_ARG_BMP) == 1 ? KX_SAVE_FORMAT_BMP : KX_SAVE_FORMAT_PNG;
    if (HasArg(FILE_ARG_PNG) && ArgInt(FILE_ARG_PNG) == 1) nFormat = KX_SAVE_FORMAT_PNG;
    if (HasArg(FILE_ARG_JPEG) && ArgInt(FILE_ARG_JPEG) == 1) nFormat = KX_SAVE_FORMAT_JPEG;
    if (HasArg(FILE_ARG_WEBP) && ArgInt(FILE_ARG_WEBP) == 1) nFormat = KX_SAVE_FORMAT_WEBP;

    // A preload's result is not the command's: a failed preload is silent.
    if (HasArg(FILE_ARG_PRELOAD_IMAGE)) {
        const int64_t n = ArgInt(FILE_ARG_PRELOAD_IMAGE);
        if (n >= 1 && n <= KX_PRELOAD_LISTS) PreloadFile(static_cast<int>(n - 1), strPath.c_str(), RESOLVE_IMAGE);
    }
    if (HasArg(FILE_ARG_PRELOAD_SOUND)) {
        const int64_t n = ArgInt(FILE_ARG_PRELOAD_SOUND);
        if (n >= 1 && n <= KX_PRELOAD_LISTS) PreloadFile(static_cast<int>(n - 1), strPath.c_str(), RESOLVE_SOUND);
    }
    if (HasArg(FILE_ARG_LAYER) && SaveLayerArg(strPath, nFormat) != 0) return -1;
    if (HasArg(FILE_ARG_MKDIR)) CreateDirectoryPath(strDir.c_str());
    if (HasArg(FILE_ARG_COPY)) {
        DebugTrace("copy", (strPath + " -> " + strDest).c_str());
        errno = 0;
        if (PlatFileCopy(strPath.c_str(), strDest.c_str(), 0) != 0) {
            const int nErr = errno ? errno : EIO;
            // A missing source is ignored, as the command always did; a copy that could not be
            // written is reported (not fatal), and the destination keeps what it held.
            PLAT_FILE_STAT st{};
            if (PlatFileStat(strPath.c_str(), &st) == 0 && st.bExists && !st.bIsDir) {
                const char* pszText = std::strerror(nErr);
                ReportScriptErrorF(kErrFileWrite, 0, CmdNameOf(CMDID_FILE), strDest, nErr,
                                   PlatUtf8ToCp932String(pszText ? pszText : "").c_str());
            }
        }
    }
    if (HasArg(FILE_ARG_DELETE)) {
        // Deleting an empty path or a root is refused: it would name the game folder or a volume.
        if (HasArg(FILE_ARG_PATH) && !IsEmptyOrRootPath(strPath.c_str())) {
            DebugTrace("delete", strPath.c_str());
            PlatFileDelete(strPath.c_str());
        }
        if (HasArg(FILE_ARG_DIR) && !IsEmptyOrRootPath(strDir.c_str())) {
            DebugTrace("remove folder", strDir.c_str());
            PlatRemoveDir(strDir.c_str());
        }
    }
    if ((HasArg(FILE_ARG_OPEN) || HasArg(FILE_ARG_OPEN_WAIT)) && !strPath.empty()) {
        // A web address keeps its letters and slashes; a file is found whatever its letter case.
        const char* pszRaw = ArgText(FILE_ARG_PATH);
        const std::string strTarget = PlatIsWebAddress(pszRaw) ? std::string(pszRaw) : strPath;
        if (OpenWithProgram(strTarget.c_str(), ArgText(FILE_ARG_PARAMS), !HasArg(FILE_ARG_OPEN)) != 0) return -1;
    }
    return 0;
}

int CmdFileQuery(void)
{
    if (FetchCommandArgs(CMDID_FILE_QUERY) != 0) return -1;
    int nKind = -1;
    for (int nId : {FILEQ_ARG_DIR, FILEQ_ARG_FILE, FILEQ_ARG_IMAGE, FILEQ_ARG_SOUND})
        if (HasArg(nId)) nKind = nId;
    const std::string strPath = ScriptPath(nKind >= 0 ? ArgText(nKind) : "");
    ARG_OUTPUT o;
    const bool bOut = GetArgOutput(FILEQ_ARG_OUT, &o);

    if (HasArg(FILEQ_ARG_EXISTS)) {
        int bExists = 0;
        if (nKind == FILEQ_ARG_DIR) {
            bExists = IsDirectory(strPath.c_str());
        } else if (nKind >= 0) {
            static const int kResolve[] = {0, RESOLVE_ANY, RESOLVE_IMAGE, RESOLVE_SOUND};
            FILE_LOCATION loc{};
            char szResolved[KX_MAX_PATH];
            bExists = ResolveResourceFile(&loc, szResolved, sizeof szResolved, strPath.c_str(), kResolve[nKind]) == 0;
        }
        return bOut && StoreOutputInt(o, bExists) != 0 ? -1 : 0;
    }
    if (HasArg(FILEQ_ARG_SIZE)) {
        int64_t llSize = 0;
        PLAT_FILE_STAT st{};
        if (nKind == FILEQ_ARG_FILE && PlatFileStat(strPath.c_str(), &st) == 0 && st.bExists && !st.bIsDir)
            llSize = st.nSize;
        return bOut && StoreOutputInt(o, llSize) != 0 ? -1 : 0;
    }
    if (HasArg(FILEQ_ARG_PROGRAM)) {
        char szProgram[264] = {};
        if (nKind != FILEQ_ARG_DIR) PlatFindAssociatedProgram(strPath.c_str(), szProgram, sizeof szProgram);
        if (!bOut) return 0;
        if (IsTextOutput(o)) return StoreOutputText(o, szProgram) == 0 ? 0 : -1;
        return StoreOutputInt(o, 0) == 0 ? 0 : -1;
    }
    return 0;
}

int CmdReadTextLines(void)
{
    if (FetchCommandArgs(CMDID_READ_TEXT_LINES) != 0) return -1;
    if (!HasArg(0)) {
        if (HasArg(2) && ArgInt(2) == 1 && g_pTextBuffer) {
            g_pTextBuffer->bClearPending = 1;
            ClearTextBuffer();
        }
        return 0;
    }
    std::string strText;
    if (ReadTextFile(ArgText(0), &strText) != 0) return -1;
    ARG_OUTPUT o;
    bool bNone = false;
    if (!TextArrayOutput(1, &o, &bNone)) return bNone ? 0 : -1;
    ARRAY_FILL fill{o.nVar, 0, FirstDimension(o.pVar), 0};
    std::string strRest;
    if (fill.llLimit > 0) SplitTextLines(strText.data(), strText.size(), StoreLine, &fill, &strRest);
    SetVarString(o.nVar, fill.llNext, strRest.c_str());
    SetVarString(o.nVar, fill.llNext + 1, "");
    return 0;
}

int CmdCsvRead(void)
{
    if (FetchCommandArgs(CMDID_CSV_READ) != 0) return -1;
    std::string strText;
    if (ReadTextFile(ArgText(0), &strText) != 0) return -1;
    ARG_OUTPUT o;
    bool bNone = false;
    if (!TextArrayOutput(1, &o, &bNone)) return bNone ? 0 : -1;
    ARRAY_FILL fill{o.nVar, 0, o.pVar->llCount, 0};
    ScanCsvFields(strText.data(), strText.size(), 1, StoreField, &fill);
    return 0;
}

int CmdCsvCount(void)
{
    if (FetchCommandArgs(CMDID_CSV_COUNT) != 0) return -1;
    std::string strText;
    if (ReadTextFile(ArgText(0), &strText) != 0) return -1;
    const int64_t llCount = ScanCsvFields(strText.data(), strText.size(), 0, IgnoreField, nullptr);
    ARG_OUTPUT o;
    if (GetArgOutput(2, &o) && StoreOutputInt(o, llCount) != 0) return -1;
    return 0;
}

// ---- scanners ----

void SplitTextLines(const char* pData, size_t n, int (*pfnLine)(const std::string& s, void* pUser), void* pUser,
                    std::string* pRest)
{
    std::string strLine;
    size_t i = 0;
    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(pData[i]);
        if (c == '\r' || c == '\n') {
            i += (c == '\r' && i + 1 < n && pData[i + 1] == '\n') ? 2 : 1;
            strLine.push_back('\r');
            const int bStop = pfnLine(strLine, pUser);
            strLine.clear();
            if (bStop) break;
            continue;
        }
        const size_t nChar = IsLeadByte(c) && i + 1 < n ? 2 : 1;
        strLine.append(pData + i, nChar);
        i += nChar;
    }
    *pRest = strLine;
}

int64_t ScanCsvFields(const char* pData, size_t n, int bEmptyLines,
                      void (*pfnField)(const std::string& s, void* pUser), void* pUser)
{
    int64_t llFields = 0;
    bool bSingle = false;   // the single-quote state runs across lines
    size_t i = 0;
    auto skipBlanks = [&](size_t k) {
        while (k < n && (pData[k] == ' ' || pData[k] == '\t')) k++;
        return k;
    };
    while (i < n) {
        bool bDouble = false, bContent = false, bComma = false;
        size_t nStart = skipBlanks(i);
        i = nStart;
        while (i < n && pData[i] != '\r' && pData[i] != '\n') {
            const unsigned char c = static_cast<unsigned char>(pData[i]);
            if (IsLeadByte(c) && i + 1 < n) {
                bContent = true;
                i += 2;
                continue;
            }
            if (c == ',' && !bDouble && !bSingle) {
                pfnField(std::string(pData + nStart, i - nStart), pUser);
                llFields++;
                bComma = true;
                i = nStart = skipBlanks(i + 1);
                continue;
            }
            if (c == '"') bDouble = !bDouble;
            if (c == '\'') bSingle = !bSingle;
            if (c != ' ' && c != '\t') bContent = true;
            i++;
        }
        if (bContent || bComma) {
            pfnField(std::string(pData + nStart, i - nStart), pUser);
            llFields++;
        } else if (bEmptyLines) {
            pfnField(std::string(), pUser);
            llFields++;
        }
        if (i < n) i += (pData[i] == '\r' && i + 1 < n && pData[i + 1] == '\n') ? 2 : 1;
    }
    return llFields;
}

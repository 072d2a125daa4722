// Error reporting by message id, plain message boxes, the debug log and the debug trace.
#include "core/errors.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "core/appended_data.h"
#include "core/cp932.h"
#include "core/engine_globals.h"
#include "core/engine_hooks.h"
#include "core/kx_texts.h"
#include "platform/plat_file.h"
#include "platform/plat_msgbox.h"
#include "platform/plat_paths.h"
#include "platform/plat_process.h"
#include "platform/plat_text.h"
#include "platform/plat_thread.h"
#include "platform/plat_time.h"
#include "platform/plat_window.h"
#include "core/game_config.h"

int g_nErrorTexts = 0;
int32_t g_anErrorId[KX_ERROR_TABLE_MAX];
char* g_apszErrorText[KX_ERROR_TABLE_MAX];

char g_szErrorFormat[KX_ERROR_BUFFER];
char g_szErrorMessage[KX_ERROR_BUFFER];
const char* g_pszErrorFile = nullptr;
int g_nErrorLine = 1;
const char* g_pszErrorCaption = "KOLVEX Debug Info.";
uint8_t g_bErrorShown = 0;

namespace {

// The error dialog's controls.
enum { IDC_ERROR_EDIT = 1033, IDC_ERROR_EXIT = 1034 };

// Texts of the engine's own; they win over the compiled table.
struct BUILTIN_TEXT {
    int nId;
    int nText;
};
const BUILTIN_TEXT kBuiltinTexts[] = {
    {KX_ERR_LICENSE, TXT_LICENSE_NOTICE},
    {KX_ERR_NO_MEMORY, TXT_ERR_100010},
    {KX_ERR_FILE_READ, TXT_ERR_104010},
    {KX_ERR_FILE_NO_MEMORY, TXT_ERR_104030},
    {KX_ERR_FILE_MISSING, TXT_ERR_104060},
    {KX_ERR_PACK_DAMAGED, TXT_ERR_104100},
    {KX_ERR_TOO_MANY_FOLDERS, TXT_ERR_104110},
    {KX_ERR_FOLDERS_TOO_DEEP, TXT_ERR_104111},
    {KX_ERR_PACK_VERSION, TXT_ERR_104120},
    {KX_ERR_TOO_MANY_PACKS, TXT_ERR_104130},
    {KX_ERR_TOO_MANY_ENTRIES, TXT_ERR_104140},
    {KX_ERR_PACK_DUPLICATE, TXT_ERR_104150},
    {KX_ERR_EXPAND_NO_MEMORY, TXT_ERR_106010},
    {KX_ERR_PATH_TOO_LONG, TXT_ERR_900021},
    {KX_ERR_EXPAND_BUFFER, TXT_ERR_900040},
    {KX_ERR_PACK_OPEN, TXT_ERR_901040},
};

// Editors that take a line number, and the form of their parameters.
enum { EDP_LINE_PATH, EDP_QPATH_L_LINE, EDP_QPATH_R_LINE, EDP_QPATH_SLASH_LINE, EDP_PATH_J_LINE,
       EDP_QPATH_PLUS_LINE_Q, EDP_PATH_R_LINE, EDP_JCAP_LINE_QPATH, EDP_J_LINE_QPATH,
       EDP_JL_LINE_PATH, EDP_QPATH_SLASH_LINE_Q, EDP_QPATH_Y_LINE, EDP_PATH };
struct EDITOR_FORM {
    const char* pszName;
    int nForm;
};
const EDITOR_FORM kEditorForms[] = {
    {"apsaly.exe", EDP_LINE_PATH},
    {"EmEditor.exe", EDP_QPATH_L_LINE},
    {"Ginnie.exe", EDP_QPATH_R_LINE},
    {"GinnieFE.exe", EDP_QPATH_R_LINE},
    {"Jcref.exe", EDP_QPATH_R_LINE},
    {"JmEdit2.exe", EDP_QPATH_SLASH_LINE},
    {"K2Editor.exe", EDP_PATH_J_LINE},
    {"MIW.exe", EDP_QPATH_PLUS_LINE_Q},
    {"oseditor2.exe", EDP_LINE_PATH},
    {"otbedit.exe", EDP_PATH_R_LINE},
    {"QXW32.exe", EDP_JCAP_LINE_QPATH},
    {"tepa.exe", EDP_J_LINE_QPATH},
    {"TeraPad.exe", EDP_JL_LINE_PATH},
    {"whinny.exe", EDP_QPATH_SLASH_LINE_Q},
    {"WZEDITOR.exe", EDP_PATH_J_LINE},
    {"sakura.exe", EDP_QPATH_Y_LINE},
    {"hidemaru.exe", EDP_J_LINE_QPATH},
};

// Guards the shared text buffers while a report is built; reports come from several threads.
std::recursive_mutex g_mtxReport;
KX_ERROR_HOOK g_pfnErrorHook = nullptr;
void* g_pErrorHookUser = nullptr;
uint8_t g_bLogFirstWrite = 1;
// The log's size warning was shown in this run: the box comes once, the warning line every time.
uint8_t g_bLogWarningShown = 0;

// Appends one directive's text: a conversion checked against its argument.
struct FORMAT_STATE {
    std::string strOut;
    size_t nLimit;
    const KX_FMT_ARG* pArgs;
    int nArgs;
    int nNext;
};

const KX_FMT_ARG* TakeArg(FORMAT_STATE& st, int nKind)
{
    if (st.nNext >= st.nArgs || st.pArgs[st.nNext].nKind != nKind) return nullptr;
    return &st.pArgs[st.nNext++];
}

// Width and precision are bounded so a directive from game data cannot ask for megabytes.
constexpr int kMaxFieldWidth = 1024;

void PadField(std::string& out, const std::string& body, int nWidth, bool bLeft, char cPad)
{
    if (static_cast<int>(body.size()) >= nWidth) { out += body; return; }
    std::string pad(static_cast<size_t>(nWidth) - body.size(), cPad);
    if (bLeft) { out += body; out += std::string(pad.size(), ' '); }
    else if (cPad == '0' && !body.empty() && (body[0] == '-' || body[0] == '+' || body[0] == ' ')) {
        out += body[0]; out += pad; out.append(body, 1, std::string::npos);
    } else { out += pad; out += body; }
}

// Formats one directive starting at p (just after '%'). Returns the position after it, having
// appended either its conversion or, when the arguments do not fit it, its text as it stands.
const char* FormatDirective(FORMAT_STATE& st, const char* pStart)
{
    const char* p = pStart;
    std::string flags;
    while (*p && std::strchr("-+ #0", *p)) flags += *p++;
    const int nSaved = st.nNext;
    auto literal = [&]() {
        st.nNext = nSaved;
        st.strOut += '%';
        return pStart;   // the rest is copied as plain text by the caller
    };
    int nWidth = -1, nPrecision = -1;
    bool bLeft = flags.find('-') != std::string::npos;
    if (*p == '*') {
        const KX_FMT_ARG* a = TakeArg(st, KX_ARG_INT);
        if (!a) return literal();
        int64_t w = a->llValue;
        if (w < 0) { bLeft = true; w = -w; }
        if (w > kMaxFieldWidth) return literal();
        nWidth = static_cast<int>(w);
        ++p;
    } else {
        int w = 0;
        bool bAny = false;
        while (*p >= '0' && *p <= '9') { w = w * 10 + (*p++ - '0'); bAny = true; if (w > kMaxFieldWidth) return literal(); }
        if (bAny) nWidth = w;
    }
    if (*p == '.') {
        ++p;
        if (*p == '*') {
            const KX_FMT_ARG* a = TakeArg(st, KX_ARG_INT);
            if (!a) return literal();
            if (a->llValue > kMaxFieldWidth) return literal();
            nPrecision = a->llValue < 0 ? -1 : static_cast<int>(a->llValue);
            ++p;
        } else {
            int pr = 0;
            while (*p >= '0' && *p <= '9') { pr = pr * 10 + (*p++ - '0'); if (pr > kMaxFieldWidth) return literal(); }
            nPrecision = pr;
        }
    }
    // Length modifiers change nothing here: every integer argument is carried as 64 bits.
    if (p[0] == 'I' && p[1] == '6' && p[2] == '4') p += 3;
    else if (p[0] == 'I' && p[1] == '3' && p[2] == '2') p += 3;
    else while (*p && std::strchr("hlLqjzt", *p)) ++p;

    const char c = *p;
    if (c == '\0') return literal();
    char szBuf[kMaxFieldWidth * 2 + 400];
    std::string spec = "%" + flags;
    if (nWidth >= 0) spec += std::to_string(nWidth);
    if (nPrecision >= 0) spec += "." + std::to_string(nPrecision);
    switch (c) {
    case 'd': case 'i': case 'u': case 'x': case 'X': case 'o': {
        const KX_FMT_ARG* a = TakeArg(st, KX_ARG_INT);
        if (!a) return literal();
        spec += "ll";
        spec += c;
        if (c == 'd' || c == 'i') std::snprintf(szBuf, sizeof szBuf, spec.c_str(), static_cast<long long>(a->llValue));
        else std::snprintf(szBuf, sizeof szBuf, spec.c_str(), static_cast<unsigned long long>(a->llValue));
        st.strOut += szBuf;
        break;
    }
    case 'c': {
        const KX_FMT_ARG* a = TakeArg(st, KX_ARG_INT);
        if (!a) return literal();
        std::string body(1, static_cast<char>(a->llValue));
        if (body[0] == '\0') body.clear();
        PadField(st.strOut, body, nWidth, bLeft, ' ');
        break;
    }
    case 's': {
        const KX_FMT_ARG* a = TakeArg(st, KX_ARG_STR);
        if (!a) return literal();
        size_t n = std::strlen(a->pszValue);
        if (nPrecision >= 0 && static_cast<size_t>(nPrecision) < n)
            n = CutAtCharBoundary(a->pszValue, n, static_cast<size_t>(nPrecision));
        // A text longer than the output can hold is cut here already, so a long argument costs nothing.
        if (n > st.nLimit) n = CutAtCharBoundary(a->pszValue, n, st.nLimit);
        PadField(st.strOut, std::string(a->pszValue, n), nWidth, bLeft, ' ');
        break;
    }
    case 'f': case 'F': case 'e': case 'E': case 'g': case 'G': case 'a': case 'A': {
        const KX_FMT_ARG* a = TakeArg(st, KX_ARG_DOUBLE);
        if (!a) return literal();
        spec += c;
        std::snprintf(szBuf, sizeof szBuf, spec.c_str(), a->dValue);
        st.strOut += szBuf;
        break;
    }
    default:
        return literal();
    }
    return p + 1;
}

// The text of the compiled table or of the engine for an id.
const char* FindBuiltinText(int nId)
{
    for (const BUILTIN_TEXT& b : kBuiltinTexts)
        if (b.nId == nId) return GetEngineText(b.nText);
    return nullptr;
}

void SetErrorFormat(const char* pszHeader, const char* pszText)
{
    g_szErrorFormat[0] = '\0';
    if (pszHeader) CopyTextBounded(g_szErrorFormat, sizeof g_szErrorFormat, pszHeader);
    AppendTextBounded(g_szErrorFormat, sizeof g_szErrorFormat, pszText);
}

// 1 when the compiled table or the engine has a text for the id (an empty text is none).
bool HasErrorText(int nId)
{
    if (FindBuiltinText(nId)) return true;
    const int nCount = g_nErrorTexts < 0 ? 0 : (g_nErrorTexts > KX_ERROR_TABLE_MAX ? KX_ERROR_TABLE_MAX : g_nErrorTexts);
    for (int i = 0; i < nCount; ++i)
        if (g_anErrorId[i] == nId && g_apszErrorText[i]) return g_apszErrorText[i][0] != '\0';
    return false;
}

// A text that becomes part of a format: every '%' stays text.
std::string EscapePercent(const char* psz)
{
    std::string out;
    for (const char* p = psz ? psz : ""; *p;) {
        int n = CharLenCp932(p);
        if (n == 1 && *p == '%') out += '%';
        out.append(p, static_cast<size_t>(n));
        p += n;
    }
    return out;
}

// The current script command's name, or "" when none is known.
const char* CurrentCommandName(void)
{
    const char* psz = g_EngineHooks.pfnGetScriptCommand ? g_EngineHooks.pfnGetScriptCommand() : nullptr;
    return psz ? psz : "";
}

// What the box shows before the text of an id that the table lacks: the id, and for a script
// error the command, so the report still names itself.
std::string MissingTextLines(int nId, bool bScript)
{
    char szLines[KX_ERROR_BUFFER];
    FormatText(szLines, sizeof szLines, GetEngineText(TXT_ERR_ID_LINES), nId);
    std::string out = szLines;
    const char* pszCommand = bScript ? CurrentCommandName() : "";
    if (*pszCommand) {
        FormatText(szLines, sizeof szLines, GetEngineText(TXT_ERR_COMMAND_LINES), pszCommand);
        out += EscapePercent(szLines);
    }
    return out;
}

// Set by the first fatal report of the run: the program then ends with a failure status.
std::atomic<uint8_t> g_bFatalSeen{0};
// The first fatal report's id and text argument (under g_mtxReport), for the line that tells a
// person in English why start-up failed.
int g_nFirstFatalId = 0;
std::vector<std::string> g_aFirstFatalArgs;

void StoreFatal(uint8_t bFatal)
{
    // A non-fatal report never cancels a pending stop.
    g_bEngineStop.fetch_or(bFatal ? 1 : 0);
    if (bFatal) g_bFatalSeen = 1;
}

}  // namespace

void StopEngineForError(void)
{
    StoreFatal(1);
}

// Shows the box when the run still has one for a report of this kind.
// English words, when given, stand under the game's text (the box is then given in UTF-8).
static void ShowReportBox(const char* pszText, uint8_t bFatal, const std::string& strEnglishUtf8);

namespace {

// A cp932 text as one line of UTF-8: every run of line breaks and tabs becomes one space.
std::string OneLineUtf8(const char* pszCp932)
{
    const std::string strUtf8 = PlatCp932ToUtf8String(pszCp932 ? pszCp932 : "");
    std::string out;
    bool bBlank = false;
    for (char c : strUtf8) {
        if (c == '\n' || c == '\r' || c == '\t' || c == ' ') {
            bBlank = !out.empty();
            continue;
        }
        if (bBlank) out += ' ';
        bBlank = false;
        out += c;
    }
    return out;
}

// The one line a report writes to standard error and the trace, without the program's name:
// "fatal error 160010 in start.txt line 3 (command wait): text". The text is the report's own
// message; for an id that the table lacks, what the table would have needed and the arguments.
std::string ReportLine(int nId, uint8_t bFatal, bool bWithLocation, const char* pszWhy, const KX_FMT_ARG* pArgs,
                       int nArgs)
{
    std::string strLine = (bFatal ? "fatal error " : "error ") + std::to_string(nId);
    const char* pszFile = nullptr;
    int nLine = 0;
    if (bWithLocation && g_EngineHooks.pfnGetScriptLocation(&pszFile, &nLine) == 1 && pszFile) {
        strLine += " in " + OneLineUtf8(pszFile);
        if (nLine > 0) strLine += " line " + std::to_string(nLine);
        if (const char* pszCommand = CurrentCommandName(); *pszCommand)
            strLine += " (command " + OneLineUtf8(pszCommand) + ")";
    }
    strLine += ": ";
    if (HasErrorText(nId)) {
        char szText[KX_ERROR_BUFFER];
        FormatChecked(szText, sizeof szText, LookupErrorText(nId), pArgs, nArgs);
        strLine += OneLineUtf8(szText);
    } else {
        strLine += "the game's message table (kxbin/kxe.kbn) has no text for this id";
        for (int i = 0; i < nArgs; ++i) {
            strLine += i == 0 ? "; its arguments: " : ", ";
            const KX_FMT_ARG& a = pArgs[i];
            if (a.nKind == KX_ARG_STR) strLine += "\"" + OneLineUtf8(a.pszValue) + "\"";
            else if (a.nKind == KX_ARG_INT) strLine += std::to_string(a.llValue);
            else {
                char szNumber[64];
                std::snprintf(szNumber, sizeof szNumber, "%g", a.dValue);
                strLine += szNumber;
            }
        }
    }
    if (pszWhy && *pszWhy) strLine += std::string(" (") + pszWhy + ")";
    return strLine;
}

// Standard error and the trace get the line at once, before any box waits for its answer.
void WriteReportLine(const std::string& strLine)
{
    std::fprintf(stderr, "kolvex: %s\n", strLine.c_str());
    std::fflush(stderr);
    DebugTraceUtf8("kolvex", strLine.c_str());
}

// The run's boxes: the first report's, and the first fatal report's when an earlier report that
// ended nothing took the first (under g_mtxReport).
uint8_t g_bFatalBoxShown = 0;

void Report(int nId, uint8_t bFatal, bool bWithLocation, const KX_FMT_ARG* pArgs, int nArgs)
{
    std::string strShown, strLine;
    std::vector<std::string> args;
    for (int i = 0; i < nArgs; ++i)
        if (pArgs[i].nKind == KX_ARG_STR && pArgs[i].pszValue) args.emplace_back(pArgs[i].pszValue);
    {
        std::lock_guard<std::recursive_mutex> lock(g_mtxReport);
        const char* pszFormat = bWithLocation ? BuildErrorTextWithLocation(nId, bFatal) : BuildErrorText(nId, bFatal);
        FormatChecked(g_szErrorMessage, sizeof g_szErrorMessage, pszFormat, pArgs, nArgs);
        if (g_pfnErrorHook) g_pfnErrorHook(nId, bFatal, g_szErrorMessage, g_pErrorHookUser);
        strShown = g_szErrorMessage;
        // The licence notice goes through the reporters for its box; it is no error.
        if (nId != KX_ERR_LICENSE) strLine = ReportLine(nId, bFatal, bWithLocation, nullptr, pArgs, nArgs);
        if (bFatal && g_nFirstFatalId == 0) {
            g_nFirstFatalId = nId;
            g_aFirstFatalArgs = args;
        }
    }
    if (!strLine.empty()) WriteReportLine(strLine);
    ShowReportBox(strShown.c_str(), bFatal, DescribeReportInEnglish(nId, args));
}

// Turns the engine path into the form the editor understands: '\' outside double-byte characters
// becomes '/'.
std::string EditorPathFromEnginePath(const std::string& strPath)
{
    std::string out = strPath;
    for (size_t i = 0; i < out.size(); ++i) {
        if (IsLeadByte(static_cast<unsigned char>(out[i])) && i + 1 < out.size()) { ++i; continue; }
        if (out[i] == '\\') out[i] = '/';
    }
    return out;
}

// The Edit button: opens the failing script at the failing line in the user's editor.
void OpenScriptInEditor(void)
{
    if (!g_pszErrorFile) return;
    std::string strPath = g_szExeDir;
    if (g_pszErrorFile[0] != '\\' && g_pszErrorFile[0] != '/' && !strPath.empty()) strPath += '\\';
    strPath += g_pszErrorFile;

    char szEditor[KX_MAX_PATH] = {};
    if (PlatFindExecutable(strPath.c_str(), szEditor, sizeof szEditor) != 0 || szEditor[0] == '\0') return;
    size_t n = std::strlen(szEditor);
    if (n > 0 && szEditor[n - 1] == ' ') szEditor[n - 1] = '\0';

    char szName[KX_MAX_PATH];
    GetPathFileName(szName, sizeof szName, szEditor);
    const std::string strNative = EditorPathFromEnginePath(strPath);
    char szParams[KX_MAX_PATH + 64];
    FormatEditorParams(szParams, sizeof szParams, szName, strNative.c_str(), g_nErrorLine);
    PlatStartProcess(szEditor, szParams);
}

}  // namespace

size_t FormatChecked(char* pszOut, size_t cap, const char* pszFormat, const KX_FMT_ARG* pArgs, int nArgs)
{
    if (cap == 0) return 0;
    FORMAT_STATE st{std::string(), cap, pArgs, nArgs, 0};
    const char* p = pszFormat ? pszFormat : "";
    while (*p && st.strOut.size() < cap) {
        if (*p != '%') {
            // Copy a whole character so a trail byte that looks like '%' is never a directive.
            int n = CharLenCp932(p);
            st.strOut.append(p, static_cast<size_t>(n));
            p += n;
            continue;
        }
        if (p[1] == '%') { st.strOut += '%'; p += 2; continue; }
        p = FormatDirective(st, p + 1);
    }
    return CopyTextBoundedN(pszOut, cap, st.strOut.data(), st.strOut.size());
}

const char* LookupErrorText(int nId)
{
    const char* pszText = nullptr;
    const int nCount = g_nErrorTexts < 0 ? 0 : (g_nErrorTexts > KX_ERROR_TABLE_MAX ? KX_ERROR_TABLE_MAX : g_nErrorTexts);
    for (int i = 0; i < nCount; ++i) {
        if (g_anErrorId[i] == nId && g_apszErrorText[i]) { pszText = g_apszErrorText[i]; break; }
    }
    if (!pszText) pszText = GetEngineText(TXT_ERR_UNLISTED);
    if (const char* pszBuiltin = FindBuiltinText(nId)) pszText = pszBuiltin;
    return pszText;
}

const char* BuildErrorText(int nId, uint8_t bFatal)
{
    std::lock_guard<std::recursive_mutex> lock(g_mtxReport);
    g_pszErrorFile = nullptr;
    g_nErrorLine = 1;
    if (HasErrorText(nId)) SetErrorFormat(nullptr, LookupErrorText(nId));
    else SetErrorFormat(MissingTextLines(nId, false).c_str(), LookupErrorText(nId));
    StoreFatal(bFatal);
    return g_szErrorFormat;
}

const char* BuildErrorTextWithLocation(int nId, uint8_t bFatal)
{
    std::lock_guard<std::recursive_mutex> lock(g_mtxReport);
    const char* pszFile = nullptr;
    int nLine = 1;
    if (g_EngineHooks.pfnGetScriptLocation(&pszFile, &nLine) != 1 || !pszFile)
        return BuildErrorText(nId, bFatal);

    // The header becomes part of the format of the F reporters: a '%' in the file name must stay text.
    char szHeader[KX_ERROR_BUFFER];
    FormatText(szHeader, sizeof szHeader, GetEngineText(TXT_ERR_HEADER), EscapePercent(pszFile), nLine);
    std::string strHeader = szHeader;
    if (!HasErrorText(nId)) strHeader += MissingTextLines(nId, true);
    SetErrorFormat(strHeader.c_str(), LookupErrorText(nId));
    g_pszErrorFile = pszFile;
    g_nErrorLine = nLine;
    StoreFatal(bFatal);
    return g_szErrorFormat;
}

void ReportError(int nId, uint8_t bFatal) { Report(nId, bFatal, false, nullptr, 0); }
void ReportScriptError(int nId, uint8_t bFatal) { Report(nId, bFatal, true, nullptr, 0); }
void ReportErrorV(int nId, uint8_t bFatal, const KX_FMT_ARG* pArgs, int nArgs) { Report(nId, bFatal, false, pArgs, nArgs); }
void ReportScriptErrorV(int nId, uint8_t bFatal, const KX_FMT_ARG* pArgs, int nArgs) { Report(nId, bFatal, true, pArgs, nArgs); }

void NoteErrorV(int nId, uint8_t bWithLocation, const char* pszWhy, const KX_FMT_ARG* pArgs, int nArgs)
{
    std::string strLine;
    {
        // The box's texts, its file and line and the stop flag stay as they are.
        std::lock_guard<std::recursive_mutex> lock(g_mtxReport);
        char szText[KX_ERROR_BUFFER];
        FormatChecked(szText, sizeof szText, LookupErrorText(nId), pArgs, nArgs);
        if (g_pfnErrorHook) g_pfnErrorHook(nId, 0, szText, g_pErrorHookUser);
        strLine = ReportLine(nId, 0, bWithLocation != 0, pszWhy, pArgs, nArgs);
    }
    WriteReportLine(strLine);
}

void ShowErrorDialog(const char* pszText)
{
    ShowReportBox(pszText, 0, std::string());
}

static void ShowReportBox(const char* pszText, uint8_t bFatal, const std::string& strEnglishUtf8)
{
    {
        // The run's one box; a fatal error that follows a box of an error that ended nothing still
        // gets its own, since its text says why the game ends.
        std::lock_guard<std::recursive_mutex> lock(g_mtxReport);
        if (bFatal ? g_bFatalBoxShown : g_bErrorShown) return;
        g_bErrorShown = 1;
        if (bFatal) g_bFatalBoxShown = 1;
    }
    // The person must be able to answer the box: the cursor shows, also for the engine afterwards.
    g_EngineHooks.pfnRequestCursorShow();
    PlatShowCursor(1);
    const std::string strText = pszText ? pszText : "";
    const bool bEdit = g_bDebug && g_pszErrorFile;
    // Without a person to answer, the box must not start an editor.
    const int nDefault = bEdit && PlatMessageBoxInteractive() ? IDC_ERROR_EDIT : IDC_ERROR_EXIT;
    PLAT_MSGBOX_BUTTON buttons[2];
    int nButtons = 0;
    if (bEdit) buttons[nButtons++] = PLAT_MSGBOX_BUTTON{IDC_ERROR_EDIT, GetEngineText(TXT_ERR_BUTTON_EDIT)};
    buttons[nButtons++] = PLAT_MSGBOX_BUTTON{IDC_ERROR_EXIT, GetEngineText(TXT_ERR_BUTTON_EXIT)};
    // The dialog stays open after Edit, like the modal dialog it stands for.
    // With English words beside the game's text the box is given in UTF-8, where the real names of
    // the files fit whatever their characters.
    std::string strCaptionUtf8, strTextUtf8;
    std::vector<std::string> labels;
    PLAT_MSGBOX_BUTTON buttonsUtf8[2];
    if (!strEnglishUtf8.empty()) {
        strCaptionUtf8 = PlatCp932ToUtf8String(g_pszErrorCaption ? g_pszErrorCaption : "");
        strTextUtf8 = PlatShowFolderAliases(PlatCp932ToUtf8String(strText.c_str())) + "\n\n" + strEnglishUtf8;
        for (int i = 0; i < nButtons; ++i) labels.push_back(PlatCp932ToUtf8String(buttons[i].pszText));
        for (int i = 0; i < nButtons; ++i) buttonsUtf8[i] = PLAT_MSGBOX_BUTTON{buttons[i].nId, labels[static_cast<size_t>(i)].c_str()};
    }
    for (;;) {
        int nAnswer = strEnglishUtf8.empty()
                          ? PlatMessageBox(g_pszErrorCaption, strText.c_str(), buttons, nButtons, nDefault)
                          : PlatMessageBoxUtf8Buttons(strCaptionUtf8.c_str(), strTextUtf8.c_str(), buttonsUtf8, nButtons,
                                                      nDefault);
        if (nAnswer != IDC_ERROR_EDIT || !bEdit) break;
        OpenScriptInEditor();
        if (!PlatMessageBoxInteractive()) break;
    }
}

void FormatEditorParams(char* pszOut, size_t cap, const char* pszEditorName, const char* pszPath, int nLine)
{
    int nForm = EDP_PATH;
    for (const EDITOR_FORM& f : kEditorForms) {
        if (CompareNoCaseASCII(f.pszName, pszEditorName ? pszEditorName : "") == 0) { nForm = f.nForm; break; }
    }
    const char q = '"';
    const char* P = pszPath ? pszPath : "";
    const int L = nLine;
    switch (nForm) {
    case EDP_LINE_PATH: FormatText(pszOut, cap, " /j%d %s", L, P); break;
    case EDP_QPATH_L_LINE: FormatText(pszOut, cap, " %c%s%c /l %d", q, P, q, L); break;
    case EDP_QPATH_R_LINE: FormatText(pszOut, cap, " %c%s%c /r%d", q, P, q, L); break;
    case EDP_QPATH_SLASH_LINE: FormatText(pszOut, cap, " %c%s%c/%d", q, P, q, L); break;
    case EDP_PATH_J_LINE: FormatText(pszOut, cap, " %s /j%d", P, L); break;
    case EDP_QPATH_PLUS_LINE_Q: FormatText(pszOut, cap, " %c%s+%d%c", q, P, L, q); break;
    case EDP_PATH_R_LINE: FormatText(pszOut, cap, " %s /r%d", P, L); break;
    case EDP_JCAP_LINE_QPATH: FormatText(pszOut, cap, " -J%d %c%s%c", L, q, P, q); break;
    case EDP_J_LINE_QPATH: FormatText(pszOut, cap, " /j%d %c%s%c", L, q, P, q); break;
    case EDP_JL_LINE_PATH: FormatText(pszOut, cap, " /jl=%d %s", L, P); break;
    case EDP_QPATH_SLASH_LINE_Q: FormatText(pszOut, cap, " %c%s/%d%c", q, P, L, q); break;
    case EDP_QPATH_Y_LINE: FormatText(pszOut, cap, " %c%s%c -Y=%d", q, P, q, L); break;
    default:
        // Any other editor gets the path alone; quoted when it holds a blank, so it stays one argument.
        if (std::strchr(P, ' ')) FormatText(pszOut, cap, " %c%s%c", q, P, q);
        else FormatText(pszOut, cap, " %s", P);
        break;
    }
}

int GetPathFileName(char* pszOut, size_t cap, const char* pszPath)
{
    if (cap == 0) return 0;
    pszOut[0] = '\0';
    if (!pszPath) return 0;
    const char* pszName = FindFileNamePart(pszPath);
    if (pszName == pszPath || *pszName == '\0') return 0;
    CopyTextBounded(pszOut, cap, pszName);
    return 1;
}

void ShowMessageBoxV(const char* pszCaption, const char* pszFormat, const KX_FMT_ARG* pArgs, int nArgs)
{
    char szText[1024];
    FormatChecked(szText, sizeof szText, pszFormat, pArgs, nArgs);
    PlatMessageBoxA(pszCaption, szText, PLAT_MB_OK | PLAT_MB_SYSTEMMODAL);
}

int64_t WriteDebugLog(const char* pszFileName, uint8_t bResetFirst, int64_t llBudget,
                      const char* pszFormat, const KX_FMT_ARG* pArgs, int nArgs)
{
    const char* pszName = pszFileName ? pszFileName : "";
    char szPath[KX_MAX_PATH];
    FormatText(szPath, sizeof szPath, "%s\\%s", g_szExeDir, pszName);
    int64_t llWritten = 0;
    auto append = [&](const char* pszText) {
        AppendLogLine(szPath, pszText);
        llWritten += static_cast<int64_t>(std::strlen(pszText)) + 1;
    };
    if (g_bLogFirstWrite) {
        if (bResetFirst) PlatFileDelete(szPath);
        PLAT_LOCAL_TIME t{};
        PlatGetLocalTime(&t);
        char szHeader[512];
        FormatText(szHeader, sizeof szHeader, GetEngineText(TXT_LOG_HEADER), t.nYear % 100, t.nMonth, t.nDay,
                   t.nHour, t.nMinute, t.nSecond);
        append(szHeader);
        g_bLogFirstWrite = 0;
    }
    // Script texts reach 4095 bytes; the line buffer holds them with room for formatting.
    static thread_local char szLine[8192];
    FormatChecked(szLine, sizeof szLine, pszFormat, pArgs, nArgs);
    append(szLine);
    if (llBudget <= 0) {
        char szWarning[1024];
        FormatText(szWarning, sizeof szWarning, GetEngineText(TXT_LOG_TOO_BIG), pszName);
        append(szWarning);
        if (!g_bLogWarningShown) {
            g_bLogWarningShown = 1;
            ShowMessageBox("", "%s", szWarning);
        }
    }
    return llWritten;
}

int AppendLogLine(const char* pszPath, const char* pszText)
{
    PlatLockEnter(g_csEngine);
    if (PLAT_FILE* f = PlatFileOpen(pszPath, PLAT_FILE_APPEND)) {
        const size_t n = std::strlen(pszText);
        PlatFileWrite(f, pszText, static_cast<int64_t>(n));
        PlatFileWrite(f, "\n", 1);
        PlatFileClose(f);
    }
    PlatLockLeave(g_csEngine);
    return 0;
}

namespace {

// The trace file has a lock of its own: a line may be written on any thread, also inside a box
// shown for a thread that holds the engine lock, and the window thread then serves that box.
std::mutex g_mtxTrace;

}  // namespace

void DebugTraceUtf8(const char* pszCaption, const char* pszText)
{
    const char* pszTraceFile = std::getenv("KOLVEX_TRACE");
    if (!pszTraceFile || !*pszTraceFile) return;
    // A relative name is taken from the folder kolvex was started in, not the game folder.
    const std::string strPath = PlatUtf8ToCp932String(PlatFromStartFolder(pszTraceFile).c_str());
    std::string strLine = pszCaption ? pszCaption : "";
    strLine += ": ";
    strLine += pszText ? pszText : "";
    strLine += '\n';
    std::lock_guard<std::mutex> lock(g_mtxTrace);
    if (PLAT_FILE* f = PlatFileOpen(strPath.c_str(), PLAT_FILE_APPEND)) {
        PlatFileWrite(f, strLine.data(), static_cast<int64_t>(strLine.size()));
        PlatFileClose(f);
    }
}

void DebugTrace(const char* pszCaption, const char* pszText)
{
    // The engine's texts are cp932; the trace is a file of the user's system, read as UTF-8.
    if (!std::getenv("KOLVEX_TRACE")) return;
    DebugTraceUtf8(PlatCp932ToUtf8String(pszCaption ? pszCaption : "").c_str(),
                   PlatCp932ToUtf8String(pszText ? pszText : "").c_str());
}

void SetErrorHook(KX_ERROR_HOOK pfnHook, void* pUser)
{
    std::lock_guard<std::recursive_mutex> lock(g_mtxReport);
    g_pfnErrorHook = pfnHook;
    g_pErrorHookUser = pUser;
}

void ResetErrorStateForRun(void)
{
    std::lock_guard<std::recursive_mutex> lock(g_mtxReport);
    g_bErrorShown = 0;
    g_bFatalBoxShown = 0;
    g_bLogFirstWrite = 1;
    g_bLogWarningShown = 0;
    g_pszErrorFile = nullptr;
    g_nErrorLine = 1;
    g_pszErrorCaption = "KOLVEX Debug Info.";
    g_bFatalSeen = 0;
    g_nFirstFatalId = 0;
    g_aFirstFatalArgs.clear();
}

int WasFatalErrorReported(void)
{
    return g_bFatalSeen.load();
}

int GetFirstFatalReport(std::string* pstrArg)
{
    std::lock_guard<std::recursive_mutex> lock(g_mtxReport);
    if (pstrArg) *pstrArg = g_aFirstFatalArgs.empty() ? std::string() : g_aFirstFatalArgs[0];
    return g_nFirstFatalId;
}

int GetFirstFatalReportArgs(std::vector<std::string>* pArgs)
{
    std::lock_guard<std::recursive_mutex> lock(g_mtxReport);
    if (pArgs) *pArgs = g_aFirstFatalArgs;
    return g_nFirstFatalId;
}

namespace {

// A pack as the player knows it: its real path; the executable itself in the one-file layout, where
// the pack travels inside it.
std::string PackShown(const std::string& strPack)
{
    if (g_bAppendedData) return "the game file " + PlatDisplayPath(PlatGetExecutablePath());
    return "the pack " + PlatDisplayPath(strPack.c_str());
}

const char kGetTheGameAgain[] =
    "get the game again: reinstall it, or copy the game's folder (or this pack) again from where it came";

}  // namespace

std::string DescribeReportInEnglish(int nId, const std::vector<std::string>& args)
{
    const std::string strPack = args.empty() ? std::string() : args[0];
    switch (nId) {
    case KX_ERR_PACK_DAMAGED: {
        // The entry's name as stored in the pack (cp932, '\' separators).
        const std::string strEntry = args.size() > 1 ? PlatCp932ToUtf8String(args[1].c_str()) : std::string("?");
        return PackShown(strPack) + " is damaged: its entry " + strEntry +
               " cannot be read (the pack is cut short, or bytes in it were altered); " + kGetTheGameAgain;
    }
    case KX_ERR_PACK_VERSION:
        return PackShown(strPack) + " is damaged or of another format (its header or its table of entries is cut "
               "short or altered, or it is of a version this engine does not read); " + kGetTheGameAgain;
    default:
        return std::string();
    }
}

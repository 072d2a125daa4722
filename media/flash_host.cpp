// The Flash host: the control host bound once, the child window and control of one Flash movie, and
// the Flash commands.
#include "media/flash_host.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/file_location.h"
#include "core/kx_texts.h"
#include "core/window_record.h"
#include "display/window_state.h"
#include "platform/plat_modules.h"
#include "platform/plat_text.h"
#include "script/command_args.h"
#include "script/command_ids.h"
#include "script/variables.h"

PLAT_HWND g_hFlashWnd = 0;
char g_szFlashFile[KX_FLASH_FILE] = {};
uint8_t g_bFlashOpen = 0;
int32_t g_nFlashTotalFrames = 0;
int32_t g_nFlashValue = 0;
int32_t g_nFlashX = 0, g_nFlashY = 0, g_nFlashW = 0, g_nFlashH = 0;
FLASH_CONTROL* g_pFlash = nullptr;
int32_t g_nFlashRefs = 0;

namespace {

// The control host: 0 not looked for yet, 1 bound, -1 missing (the player is not installed).
int s_nHostState = 0;
PLAT_MODULE* s_hAtl = nullptr;
ATL_AX_WIN_INIT_FN s_pfnWinInit = nullptr;
ATL_AX_CREATE_CONTROL_FN s_pfnCreateControl = nullptr;
ATL_AX_GET_CONTROL_FN s_pfnGetControl = nullptr;

int BindHost()
{
    if (s_nHostState != 0) return s_nHostState;
    s_nHostState = -1;
    s_hAtl = PlatLoadLibrary("atl.dll");
    if (s_hAtl) {
        s_pfnWinInit = reinterpret_cast<ATL_AX_WIN_INIT_FN>(PlatGetProcAddress(s_hAtl, "AtlAxWinInit"));
        s_pfnCreateControl = reinterpret_cast<ATL_AX_CREATE_CONTROL_FN>(PlatGetProcAddress(s_hAtl, "AtlAxCreateControl"));
        s_pfnGetControl = reinterpret_cast<ATL_AX_GET_CONTROL_FN>(PlatGetProcAddress(s_hAtl, "AtlAxGetControl"));
        if (s_pfnWinInit && s_pfnCreateControl && s_pfnGetControl) return s_nHostState = 1;
        // A host without its entries is as good as none: nothing may be called through it.
        PlatFreeLibrary(s_hAtl);
        s_hAtl = nullptr;
        s_pfnWinInit = nullptr;
        s_pfnCreateControl = nullptr;
        s_pfnGetControl = nullptr;
    }
    // The engine's own box names a Windows library the player could not miss here; a trace says
    // what is really the case.
    DebugTrace("Flash", "The Flash player is not installed: Flash movies are not shown.");
    return s_nHostState;
}

// UTF-8 as UTF-16, at most nMax characters.
std::u16string Utf8ToUtf16(const std::string& s, size_t nMax)
{
    std::u16string out;
    for (size_t i = 0; i < s.size() && out.size() < nMax;) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        uint32_t cp = 0xFFFD;
        size_t n = 1;
        if (c < 0x80) cp = c;
        else if ((c & 0xE0) == 0xC0 && i + 1 < s.size()) { cp = ((c & 0x1Fu) << 6) | (s[i + 1] & 0x3Fu); n = 2; }
        else if ((c & 0xF0) == 0xE0 && i + 2 < s.size()) { cp = ((c & 0x0Fu) << 12) | ((s[i + 1] & 0x3Fu) << 6) | (s[i + 2] & 0x3Fu); n = 3; }
        else if ((c & 0xF8) == 0xF0 && i + 3 < s.size()) {
            cp = ((c & 0x07u) << 18) | ((s[i + 1] & 0x3Fu) << 12) | ((s[i + 2] & 0x3Fu) << 6) | (s[i + 3] & 0x3Fu);
            n = 4;
        }
        i += n;
        if (cp >= 0x10000) {
            if (out.size() + 2 > nMax) break;
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::u16string Cp932ToUtf16(const char* psz, size_t nMax) { return Utf8ToUtf16(PlatCp932ToUtf8String(psz), nMax); }

// The main window's game size (0 x 0 without a main window record).
void GameSize(int32_t* pW, int32_t* pH)
{
    const WINDOW_STATE* p = g_apWindowState[0];
    *pW = p ? p->nWidth : 0;
    *pH = p ? p->nHeight : 0;
}

// The game rectangle in output pixels (no scaling while the game size is 0).
void OutputRect(int32_t* pX, int32_t* pY, int32_t* pW, int32_t* pH)
{
    int32_t nGameW, nGameH;
    GameSize(&nGameW, &nGameH);
    *pX = g_nOutputOffsetX + g_nFlashX;
    *pY = g_nOutputOffsetY + g_nFlashY;
    *pW = nGameW ? static_cast<int32_t>(int64_t(g_nFlashW) * g_nOutputWidth / nGameW) : g_nFlashW;
    *pH = nGameH ? static_cast<int32_t>(int64_t(g_nFlashH) * g_nOutputHeight / nGameH) : g_nFlashH;
}

intptr_t FlashWndProc(PLAT_HWND hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    return PlatDefWindowProc(hwnd, msg, wParam, lParam);
}

}  // namespace

void ResetFlashHost(void)
{
    PlatFreeLibrary(s_hAtl);
    s_hAtl = nullptr;
    s_nHostState = 0;
    s_pfnWinInit = nullptr;
    s_pfnCreateControl = nullptr;
    s_pfnGetControl = nullptr;
}

int32_t OpenFlashControl(PLAT_HWND hwnd, const char16_t* pszPath)
{
    if (BindHost() != 1) return 0;
    s_pfnWinInit();
    if (s_pfnCreateControl(KX_FLASH_CLSID, hwnd, nullptr, nullptr) < 0) return 0;
    FLASH_CONTROL* pUnknown = nullptr;
    if (s_pfnGetControl(hwnd, &pUnknown) < 0 || !pUnknown) return 0;
    FLASH_CONTROL* pFlash = nullptr;
    const int32_t hr = pUnknown->pVtbl->pfnQueryInterface(pUnknown, KX_FLASH_IID, &pFlash);
    pUnknown->pVtbl->pfnRelease(pUnknown);
    if (hr < 0 || !pFlash) return 0;
    g_pFlash = pFlash;
    int32_t nFrames = 0;
    pFlash->pVtbl->pfnPutMovie(pFlash, pszPath);
    pFlash->pVtbl->pfnGetTotalFrames(pFlash, &nFrames);
    pFlash->pVtbl->pfnPlay(pFlash);
    ++g_nFlashRefs;
    return nFrames;
}

void ReleaseFlashControl(void)
{
    if (g_nFlashRefs <= 0) return;
    --g_nFlashRefs;
    if (g_pFlash) g_pFlash->pVtbl->pfnRelease(g_pFlash);
    g_pFlash = nullptr;
}

int32_t GetFlashCurrentFrame(void)
{
    if (!g_pFlash) return 0;
    int32_t nFrame = 0;
    if (g_pFlash->pVtbl->pfnCurrentFrame(g_pFlash, &nFrame) < 0) return 0;
    return nFrame;
}

int32_t IsFlashPlaying(void)
{
    if (!g_pFlash) return 0;
    int16_t b = 0;
    if (g_pFlash->pVtbl->pfnGetPlaying(g_pFlash, &b) < 0) return 0;
    return b == -1 ? 1 : 0;
}

int64_t GetFlashVariable(const char* pszName)
{
    if (!g_pFlash || !pszName) return 0;
    const std::u16string name = Cp932ToUtf16(pszName, 4095);
    char szValue[256] = {};
    if (g_pFlash->pVtbl->pfnGetVariable(g_pFlash, name.c_str(), szValue, sizeof szValue) < 0) {
        ShowMessageBox("", GetEngineText(TXT_FLASH_NO_VARIABLE), pszName);
        return 0;
    }
    szValue[sizeof szValue - 1] = '\0';
    return std::strtoll(szValue, nullptr, 10);
}

void RepositionFlashWindow(void)
{
    if (!g_hFlashWnd) return;
    int32_t x, y, w, h;
    OutputRect(&x, &y, &w, &h);
    PlatSetWindowPos(g_hFlashWnd, x, y, w, h, PLAT_SWP_NOZORDER | PLAT_SWP_NOACTIVATE);
}

int CmdFlashClose(void)
{
    ReleaseFlashControl();
    if (g_hFlashWnd) PlatDestroyWindow(g_hFlashWnd);
    g_szFlashFile[0] = '\0';
    g_bFlashOpen = 0;
    g_nFlashValue = 0;
    g_nFlashTotalFrames = 0;
    g_hFlashWnd = 0;
    return 0;
}

int CmdFlashOpen(void)
{
    if (FetchCommandArgs(CMDID_FLASH_OPEN) != 0) return -1;
    // The rectangle: absent values take their defaults, given ones combine with the current ones.
    int32_t nGameW, nGameH;
    GameSize(&nGameW, &nGameH);
    const struct {
        int nId;
        int32_t* pn;
        int32_t nDefault;
    } aRect[] = {{FLASH_OPEN_ARG_X, &g_nFlashX, 0}, {FLASH_OPEN_ARG_Y, &g_nFlashY, 0},
                 {FLASH_OPEN_ARG_W, &g_nFlashW, nGameW}, {FLASH_OPEN_ARG_H, &g_nFlashH, nGameH}};
    for (const auto& r : aRect)
        *r.pn = HasArg(r.nId) ? static_cast<int32_t>(ApplyArgOp(ArgOp(r.nId), *r.pn, ArgInt(r.nId))) : r.nDefault;

    char szFile[KX_FLASH_FILE];
    std::strncpy(szFile, ArgText(FLASH_OPEN_ARG_FILE), sizeof szFile - 1);
    szFile[sizeof szFile - 1] = '\0';
    for (char* p = szFile; *p; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) {   // a double-byte character stays as it is
            if (!p[1]) break;
            ++p;
            continue;
        }
        if (c == '/') *p = '\\';
        else *p = static_cast<char>(std::tolower(c));
    }
    if (!FileExists(szFile)) {
        ReportScriptErrorF(KX_ERR_FILE_MISSING, 1, szFile);
        return -1;
    }
    // One movie at a time: a new one replaces the open one with its window.
    if (g_hFlashWnd || g_nFlashRefs > 0) CmdFlashClose();
    std::memcpy(g_szFlashFile, szFile, sizeof g_szFlashFile);
    g_bFlashOpen = 0;
    if (!HasArg(FLASH_OPEN_ARG_PLAY) || ArgInt(FLASH_OPEN_ARG_PLAY) != 1) return 0;

    int32_t x, y, w, h;
    OutputRect(&x, &y, &w, &h);
    char szClass[KX_MAX_PATH + 16];
    if (MakeWindowClassName(0, szClass, sizeof szClass) != 0) szClass[0] = '\0';
    const PLAT_HWND hParent = g_apWindowState[0] ? g_apWindowState[0]->hWnd : 0;
    const uint32_t nStyle = PLAT_WS_CHILD | PLAT_WS_VISIBLE | PLAT_WS_CLIPSIBLINGS | PLAT_WS_CLIPCHILDREN;
    g_hFlashWnd = hParent ? PlatCreateWindow(szClass, "kx_fls", nStyle, x, y, w, h, hParent, FlashWndProc, nullptr) : 0;
    if (!g_hFlashWnd) {
        ShowMessageBox("", "%s", GetEngineText(TXT_FLASH_NO_WINDOW));
        return 0;
    }
    PlatShowWindow(g_hFlashWnd, PLAT_SW_SHOW);
    PlatInvalidateWindow(g_hFlashWnd, 0);

    std::string strPath = g_szWorkDir;
    strPath += "\\";
    strPath += g_szFlashFile;
    const std::u16string path = Cp932ToUtf16(strPath.c_str(), KX_FLASH_FILE - 1);
    g_nFlashTotalFrames = OpenFlashControl(g_hFlashWnd, path.c_str());
    g_nFlashValue = HasArg(FLASH_OPEN_ARG_VALUE) ? static_cast<int32_t>(ArgInt(FLASH_OPEN_ARG_VALUE)) : 0;
    g_bFlashOpen = 1;
    return 0;
}

int CmdFlashGet(void)
{
    if (FetchCommandArgs(CMDID_FLASH_GET) != 0) return -1;
    const ARG_OUT out = GetArgOut(FLASH_GET_ARG_OUT);
    int64_t llValue = 0;
    if (HasArg(FLASH_GET_ARG_PLAYING)) llValue = IsFlashPlaying();
    else if (HasArg(FLASH_GET_ARG_VARIABLE)) llValue = GetFlashVariable("koolvex");
    else if (HasArg(FLASH_GET_ARG_X)) llValue = g_nFlashX;
    else if (HasArg(FLASH_GET_ARG_Y)) llValue = g_nFlashY;
    else if (HasArg(FLASH_GET_ARG_W)) llValue = g_nFlashW;
    else if (HasArg(FLASH_GET_ARG_H)) llValue = g_nFlashH;
    else if (HasArg(FLASH_GET_ARG_FRAME)) llValue = g_bFlashOpen ? GetFlashCurrentFrame() : 0;
    else if (HasArg(FLASH_GET_ARG_VALUE)) llValue = g_bFlashOpen ? g_nFlashValue : 0;
    else if (HasArg(FLASH_GET_ARG_TOTAL)) llValue = g_bFlashOpen ? g_nFlashTotalFrames : 0;
    else return 0;
    if (!out.nVar) return 0;   // absent, or a literal in its place
    // A text cannot take the number: the store reports 101140.
    return SetVarInt(out.nVar, out.llElem, llValue) == 0 || !g_bEngineStop ? 0 : -1;
}

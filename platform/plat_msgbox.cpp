// Message boxes through SDL on the calling thread (the sound and frame threads report errors too,
// and waiting for the window thread could deadlock against it). Without a display the caption and
// text go to stderr and the default button answers.
#include "platform/plat_msgbox.h"
#include "platform/plat_internal.h"
#include "platform/plat_text.h"

#include <SDL.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

static std::mutex g_mxMsgBox;
static PLAT_MSGBOX_HOOK g_pfnMsgBoxHook = nullptr;
static void* g_pMsgBoxHookUser = nullptr;

// SDL reads driver names without regard to ASCII case.
static int IsDriverName(const char* pszValue, const char* pszName)
{
    for (;; pszValue++, pszName++) {
        char c = *pszValue;
        if (c >= 'A' && c <= 'Z') c = (char)(c + 32);
        if (c != *pszName) return 0;
        if (c == 0) return 1;
    }
}

int PlatIsHeadless(void)
{
    const char* pszDriver = getenv("SDL_VIDEODRIVER");
    if (pszDriver && (IsDriverName(pszDriver, "dummy") || IsDriverName(pszDriver, "offscreen"))) return 1;
    const char* pszX = getenv("DISPLAY");
    const char* pszWayland = getenv("WAYLAND_DISPLAY");
    return (!pszX || !*pszX) && (!pszWayland || !*pszWayland);
}

// A button text without its mnemonic markers: "&Yes" shows "Yes", "&&" shows one '&'. Works on the
// UTF-8 form, where '&' is never part of another character.
static std::string StripMnemonic(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); i++) {
        if (s[i] == '&') {
            if (i + 1 < s.size() && s[i + 1] == '&') out.push_back('&'), i++;
            continue;
        }
        out.push_back(s[i]);
    }
    return out;
}

static int WriteToStderr(const char* pszCaption, const char* pszText)
{
    std::string strCaption = PlatCp932ToUtf8String(pszCaption ? pszCaption : "");
    std::string strText = PlatCp932ToUtf8String(pszText ? pszText : "");
    std::lock_guard<std::mutex> lock(g_mxMsgBox);
    fprintf(stderr, "[%s]\n%s\n", strCaption.c_str(), strText.c_str());
    fflush(stderr);
    return 0;
}

// Shows the box with SDL. 0 with the chosen id in *pChosen (the default when the box was closed
// without a button), or -1 when SDL could not show it.
static int ShowSdlBox(const char* pszCaption, const char* pszText, const PLAT_MSGBOX_BUTTON* pButtons,
                      int nButtons, int nDefaultId, Uint32 nFlags, int* pChosen)
{
    std::string strCaption = PlatCp932ToUtf8String(pszCaption ? pszCaption : "");
    std::string strText = PlatCp932ToUtf8String(pszText ? pszText : "");
    std::vector<std::string> aTexts;
    std::vector<SDL_MessageBoxButtonData> aButtons;
    for (int i = 0; i < nButtons; i++) aTexts.push_back(StripMnemonic(PlatCp932ToUtf8String(pButtons[i].pszText ? pButtons[i].pszText : "")));
    if (nButtons <= 0) aTexts.push_back("OK");
    for (size_t i = 0; i < aTexts.size(); i++) {
        SDL_MessageBoxButtonData b;
        b.buttonid = nButtons > 0 ? pButtons[i].nId : nDefaultId;
        b.text = aTexts[i].c_str();
        b.flags = 0;
        if (b.buttonid == nDefaultId) b.flags |= SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT;
        if (aTexts.size() == 1) b.flags |= SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT;
        aButtons.push_back(b);
    }
    SDL_MessageBoxData data{};
    data.flags = nFlags | SDL_MESSAGEBOX_BUTTONS_LEFT_TO_RIGHT;
    data.window = nullptr;
    data.title = strCaption.c_str();
    data.message = strText.c_str();
    data.numbuttons = (int)aButtons.size();
    data.buttons = aButtons.data();
    data.colorScheme = nullptr;
    int nChosen = -1;
    if (SDL_ShowMessageBox(&data, &nChosen) != 0) {
        SDL_ClearError();
        return -1;
    }
    *pChosen = nDefaultId;
    for (const SDL_MessageBoxButtonData& b : aButtons)
        if (b.buttonid == nChosen) *pChosen = nChosen;
    return 0;
}

static int ShowBox(const char* pszCaption, const char* pszText, const PLAT_MSGBOX_BUTTON* pButtons,
                   int nButtons, int nDefaultId, Uint32 nFlags)
{
    PLAT_MSGBOX_HOOK pfnHook;
    void* pUser;
    {
        std::lock_guard<std::mutex> lock(g_mxMsgBox);
        pfnHook = g_pfnMsgBoxHook;
        pUser = g_pMsgBoxHookUser;
    }
    if (pfnHook) return pfnHook(pszCaption, pszText, pButtons, nButtons, nDefaultId, pUser);
    int nChosen;
    if (!PlatIsHeadless() && ShowSdlBox(pszCaption, pszText, pButtons, nButtons, nDefaultId, nFlags, &nChosen) == 0)
        return nChosen;
    WriteToStderr(pszCaption, pszText);
    return nDefaultId;
}

int PlatMessageBox(const char* pszCaption, const char* pszText, const PLAT_MSGBOX_BUTTON* pButtons, int nButtons,
                   int nDefaultId)
{
    return ShowBox(pszCaption, pszText, pButtons, nButtons, nDefaultId, SDL_MESSAGEBOX_INFORMATION);
}

int PlatMessageBoxA(const char* pszCaption, const char* pszText, unsigned uType)
{
    static const PLAT_MSGBOX_BUTTON s_aOk[] = {{PLAT_IDOK, "OK"}};
    static const PLAT_MSGBOX_BUTTON s_aOkCancel[] = {{PLAT_IDOK, "OK"}, {PLAT_IDCANCEL, "Cancel"}};
    static const PLAT_MSGBOX_BUTTON s_aAbortRetryIgnore[] = {
        {PLAT_IDABORT, "&Abort"}, {PLAT_IDRETRY, "&Retry"}, {PLAT_IDIGNORE, "&Ignore"}};
    static const PLAT_MSGBOX_BUTTON s_aYesNoCancel[] = {
        {PLAT_IDYES, "&Yes"}, {PLAT_IDNO, "&No"}, {PLAT_IDCANCEL, "Cancel"}};
    static const PLAT_MSGBOX_BUTTON s_aYesNo[] = {{PLAT_IDYES, "&Yes"}, {PLAT_IDNO, "&No"}};
    static const PLAT_MSGBOX_BUTTON s_aRetryCancel[] = {{PLAT_IDRETRY, "&Retry"}, {PLAT_IDCANCEL, "Cancel"}};
    static const struct {
        const PLAT_MSGBOX_BUTTON* pButtons;
        int nButtons;
    } s_aSets[] = {{s_aOk, 1}, {s_aOkCancel, 2}, {s_aAbortRetryIgnore, 3},
                   {s_aYesNoCancel, 3}, {s_aYesNo, 2}, {s_aRetryCancel, 2}};

    unsigned nType = uType & PLAT_MB_TYPEMASK;
    if (nType >= sizeof s_aSets / sizeof s_aSets[0]) nType = PLAT_MB_OK;   // sets we do not know show OK
    const PLAT_MSGBOX_BUTTON* pButtons = s_aSets[nType].pButtons;
    int nButtons = s_aSets[nType].nButtons;
    int nDefault = (int)((uType & PLAT_MB_DEFMASK) >> 8);
    if (nDefault >= nButtons) nDefault = 0;   // a default past the last button falls back to the first

    // The icon bits: 0x10 stop, 0x20 question, 0x30 exclamation, 0x40 information.
    Uint32 nFlags = SDL_MESSAGEBOX_INFORMATION;
    switch (uType & 0xF0) {
    case 0x10: nFlags = SDL_MESSAGEBOX_ERROR; break;
    case 0x30: nFlags = SDL_MESSAGEBOX_WARNING; break;
    default: break;
    }
    return ShowBox(pszCaption ? pszCaption : "Error", pszText, pButtons, nButtons, pButtons[nDefault].nId, nFlags);
}

void PlatSetMessageBoxHook(PLAT_MSGBOX_HOOK pfnHook, void* pUser)
{
    std::lock_guard<std::mutex> lock(g_mxMsgBox);
    g_pfnMsgBoxHook = pfnHook;
    g_pMsgBoxHookUser = pUser;
}

int PlatMessageBoxInteractive(void)
{
    {
        std::lock_guard<std::mutex> lock(g_mxMsgBox);
        if (g_pfnMsgBoxHook) return 1;
    }
    return PlatIsHeadless() ? 0 : 1;
}

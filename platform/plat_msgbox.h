// Message boxes in place of MessageBoxA and modal dialogs with buttons.
#pragma once

struct PLAT_MSGBOX_BUTTON {
    int nId;              // the answer when chosen
    const char* pszText;  // cp932; a '&' marks the mnemonic and is not shown
};

// Shows a modal box on the calling thread. Texts are cp932. Returns the chosen button's id.
// Without a display (no DISPLAY/WAYLAND_DISPLAY, or SDL_VIDEODRIVER dummy/offscreen) it writes the
// caption and the whole text to stderr in UTF-8 and answers nDefaultId.
int PlatMessageBox(const char* pszCaption, const char* pszText,
                   const PLAT_MSGBOX_BUTTON* pButtons, int nButtons, int nDefaultId);

// MessageBoxA's button sets and answers.
enum {
    PLAT_MB_OK = 0x0, PLAT_MB_OKCANCEL = 0x1, PLAT_MB_ABORTRETRYIGNORE = 0x2,
    PLAT_MB_YESNOCANCEL = 0x3, PLAT_MB_YESNO = 0x4, PLAT_MB_RETRYCANCEL = 0x5,
    PLAT_MB_TYPEMASK = 0xF,
    PLAT_MB_DEFBUTTON2 = 0x100, PLAT_MB_DEFBUTTON3 = 0x200, PLAT_MB_DEFMASK = 0xF00,
    PLAT_MB_SYSTEMMODAL = 0x1000,
};
enum { PLAT_IDOK = 1, PLAT_IDCANCEL = 2, PLAT_IDABORT = 3, PLAT_IDRETRY = 4, PLAT_IDIGNORE = 5,
       PLAT_IDYES = 6, PLAT_IDNO = 7 };
// A NULL caption shows "Error" like the system's default caption.
int PlatMessageBoxA(const char* pszCaption, const char* pszText, unsigned uType);

// Tests: every box goes to the hook, which answers; texts are cp932 as passed.
typedef int (*PLAT_MSGBOX_HOOK)(const char* pszCaption, const char* pszText,
                                const PLAT_MSGBOX_BUTTON* pButtons, int nButtons, int nDefaultId,
                                void* pUser);
void PlatSetMessageBoxHook(PLAT_MSGBOX_HOOK pfnHook, void* pUser);

// 1 when a box is answered by a person or by the test hook, 0 when it only goes to stderr.
int PlatMessageBoxInteractive(void);

// Message boxes through the engine's own box, the input dialog through the platform's dialogs,
// the clipboard and the registry store.
#include "script/cmd_dialog.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "core/cp932.h"
#include "core/engine_hooks.h"
#include "core/errors.h"
#include "platform/plat_clipboard.h"
#include "platform/plat_dialog.h"
#include "platform/plat_msgbox.h"
#include "platform/plat_registry.h"
#include "script/arg_output.h"
#include "script/command_args.h"
#include "script/command_ids.h"
#include "script/script_hooks.h"

namespace {

// The cursor is made visible before any modal box.
void ShowCursorForBox(void)
{
    g_EngineHooks.pfnRequestCursorShow();
    g_ScriptHooks.pfnApplyCursorRequest();
}

int RunInputDialog(void)
{
    ShowCursorForBox();
    const int32_t nLimit = HasArg(MSGBOX_ARG_LIMIT) ? ArgLow32(MSGBOX_ARG_LIMIT) : 0;
    PLAT_DIALOG_REQUEST req{PLAT_DLG_INPUT, ArgText(MSGBOX_ARG_CAPTION), ArgText(MSGBOX_ARG_TEXT),
                            ArgText(MSGBOX_ARG_INITIAL), nLimit > 0 ? nLimit : 0, nullptr, nullptr};
    std::string strText;
    const int r = PlatShowDialog(&req, &strText);
    if (r < 0) return -1;
    // The dialog has no Cancel: closing it otherwise keeps the text as it stands, the initial one.
    if (r == 0) {
        strText = req.pszInitial;
        if (req.nLimit > 0) PlatCutCp932(&strText, static_cast<size_t>(req.nLimit));
    }
    // The result buffer holds 4096 bytes.
    PlatCutCp932(&strText, KX_ARG_TEXT_BUFFER - 1);
    ARG_OUTPUT o;
    if (GetArgOutput(MSGBOX_ARG_ANSWER_OUT, &o) && StoreOutputInt(o, 1) != 0) return -1;
    if (GetArgOutput(MSGBOX_ARG_INPUT_OUT, &o) && StoreOutputText(o, strText.c_str()) != 0) return -1;
    return 0;
}

}  // namespace

int CmdMessageBox(void)
{
    if (FetchCommandArgs(CMDID_MESSAGE_BOX) != 0) return -1;
    if (HasArg(MSGBOX_ARG_NOTHING)) return 0;
    if (HasArg(MSGBOX_ARG_INPUT)) return RunInputDialog();

    unsigned uButtons = PLAT_MB_OK;
    if (HasArg(MSGBOX_ARG_OKCANCEL)) uButtons = PLAT_MB_OKCANCEL;
    if (HasArg(MSGBOX_ARG_YESNO)) uButtons = PLAT_MB_YESNO;
    if (HasArg(MSGBOX_ARG_YESNOCANCEL)) uButtons = PLAT_MB_YESNOCANCEL;
    unsigned uDefault = 0;
    const int64_t llDefault = HasArg(MSGBOX_ARG_DEFAULT) ? ArgInt(MSGBOX_ARG_DEFAULT) : 0;
    if (llDefault == 2) uDefault = PLAT_MB_DEFBUTTON2;
    if (llDefault == 3) uDefault = PLAT_MB_DEFBUTTON3;
    unsigned uIcon = 0;
    switch (HasArg(MSGBOX_ARG_ICON) ? ArgInt(MSGBOX_ARG_ICON) : 0) {
    case 1: uIcon = PLAT_MB_ICONINFORMATION; break;
    case 2: uIcon = PLAT_MB_ICONQUESTION; break;
    case 3: uIcon = PLAT_MB_ICONEXCLAMATION; break;
    case 4: uIcon = PLAT_MB_ICONSTOP; break;
    default: break;
    }
    ShowCursorForBox();
    const int nPressed = PlatMessageBoxA(ArgText(MSGBOX_ARG_CAPTION), ArgText(MSGBOX_ARG_TEXT), uButtons | uDefault | uIcon);

    ARG_OUTPUT o;
    if (!GetArgOutput(MSGBOX_ARG_ANSWER_OUT, &o)) return 0;
    int64_t llAnswer = 1;
    if (uButtons == PLAT_MB_OK || uButtons == PLAT_MB_OKCANCEL)
        llAnswer = nPressed == PLAT_IDCANCEL ? 2 : 1;
    else
        llAnswer = nPressed == PLAT_IDYES ? 1 : nPressed == PLAT_IDNO ? 2 : 3;
    return StoreOutputInt(o, llAnswer) == 0 ? 0 : -1;
}

int CmdClipboardCopy(void)
{
    if (FetchCommandArgs(CMDID_CLIPBOARD_COPY) != 0) return -1;
    if (!HasArg(0) || !HasArg(1)) return 0;
    PlatSetClipboardText(ArgText(1));
    return 0;
}

int CmdClipboardPaste(void)
{
    if (FetchCommandArgs(CMDID_CLIPBOARD_PASTE) != 0) return -1;
    if (!HasArg(0)) return 0;
    std::string strClip;
    if (PlatGetClipboardText(&strClip) != 0) return -1;   // no text: the turn ends, nothing reported
    // The first 1024 bytes, without control characters; a double-byte character only whole.
    const size_t n = std::min<size_t>(strClip.size(), KX_CLIPBOARD_PASTE_BYTES);
    std::string strText;
    for (size_t i = 0; i < n;) {
        const unsigned char c = static_cast<unsigned char>(strClip[i]);
        if (IsLeadByte(c)) {
            if (i + 1 < n) strText.append(strClip, i, 2);
            i += 2;
            continue;
        }
        if (c >= 0x20) strText.push_back(static_cast<char>(c));
        i++;
    }
    ARG_OUTPUT o;
    if (GetArgOutput(1, &o) && StoreOutputText(o, strText.c_str()) != 0) return -1;
    return 0;
}

const char* SplitRegistryRoot(const char* pszPath, const char** ppszSubkey)
{
    static const char* const kRoots[] = {"HKEY_CLASSES_ROOT",     "HKEY_CURRENT_USER",   "HKEY_LOCAL_MACHINE",
                                         "HKEY_USERS",            "HKEY_PERFORMANCE_DATA", "HKEY_CURRENT_CONFIG",
                                         "HKEY_DYN_DATA"};
    for (const char* pszRoot : kRoots) {
        const size_t n = std::strlen(pszRoot);
        if (std::strncmp(pszPath, pszRoot, n) == 0 && pszPath[n] == '\\') {
            *ppszSubkey = pszPath + n + 1;
            return pszRoot;
        }
    }
    return nullptr;
}

int ReadRegistryValue(const char* pszRoot, const char* pszSubkey, const char* pszName, char* pBuf, size_t cap)
{
    if (!pBuf || cap == 0) return -1;
    std::memset(pBuf, 0, cap);
    if (!PlatRegKeyExists(pszRoot, pszSubkey)) return -1;
    // A text comes with its terminator, so the buffer's full size is offered: a text that fills it
    // with its terminator (cap - 1 bytes) reads whole, a longer one fails. Data without a terminator
    // (a number, binary data) that fills the buffer to its last byte would leave no room for one and
    // fails too.
    size_t nSize = 0;
    if (PlatRegQueryValue(pszRoot, pszSubkey, pszName, pBuf, cap, &nSize, nullptr) != 0 ||
        (nSize >= cap && pBuf[cap - 1] != '\0')) {
        std::memset(pBuf, 0, cap);
        return -1;
    }
    pBuf[nSize < cap ? nSize : cap - 1] = '\0';
    return 0;
}

int CmdRegRead(void)
{
    if (FetchCommandArgs(CMDID_REG_READ) != 0) return -1;
    char szPath[KX_ARG_TEXT_BUFFER];
    CopyTextBounded(szPath, sizeof szPath, ArgText(0));
    SlashesToBackslashesCp932(szPath);
    const char* pszSubkey = nullptr;
    const char* pszRoot = SplitRegistryRoot(szPath, &pszSubkey);
    if (!pszRoot || !HasArg(2)) return 0;
    char szValue[KX_REG_VALUE_BUFFER];
    const int r = ReadRegistryValue(pszRoot, pszSubkey, HasArg(1) ? ArgText(1) : nullptr, szValue, sizeof szValue);
    ARG_OUTPUT o;
    if (!GetArgOutput(2, &o)) return 0;
    if (r != 0) {
        StoreOutputEmpty(o);
        return 0;
    }
    if (IsTextOutput(o)) StoreOutputText(o, szValue);
    return 0;
}

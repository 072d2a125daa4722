// The dialog, clipboard and registry commands: message boxes and the text-input dialog, copying
// text to and from the clipboard, and reading a registry value.
#pragma once
#include <cstddef>

// Argument ids of the message box command (10).
enum {
    MSGBOX_ARG_CAPTION = 0, MSGBOX_ARG_TEXT = 1, MSGBOX_ARG_INITIAL = 9, MSGBOX_ARG_INPUT_OUT = 10,
    MSGBOX_ARG_ANSWER_OUT = 11, MSGBOX_ARG_OKCANCEL = 13, MSGBOX_ARG_YESNO = 14, MSGBOX_ARG_YESNOCANCEL = 15,
    MSGBOX_ARG_INPUT = 16, MSGBOX_ARG_LIMIT = 17, MSGBOX_ARG_DEFAULT = 18, MSGBOX_ARG_ICON = 19,
    MSGBOX_ARG_NOTHING = 20,
};
enum { KX_REG_VALUE_BUFFER = 1024, KX_CLIPBOARD_PASTE_BYTES = 1024 };

int CmdMessageBox(void);
int CmdClipboardCopy(void);
int CmdClipboardPaste(void);
int CmdRegRead(void);

// Reads a value into pBuf (cap bytes): the buffer is zeroed, at most cap - 1 bytes are read, so the
// text always ends within it. 0, or -1 when the key or value is missing or larger than that.
int ReadRegistryValue(const char* pszRoot, const char* pszSubkey, const char* pszName, char* pBuf, size_t cap);
// The root of a key path ("HKEY_CURRENT_USER\..." compared with case) without its '\', and where
// the subkey starts; NULL when the path starts with no root.
const char* SplitRegistryRoot(const char* pszPath, const char** ppszSubkey);

// Dialogs that SDL lacks, in place of DialogBoxParam (text input, multi-line edit), GetSaveFileName
// and the shell's folder browser. (The script's edit box is platform/plat_editbox.h.)
//
// The dialogs run the program "zenity" (KOLVEX_ZENITY names another) from an argument vector,
// never through a shell, and wait for it. Texts are cp932 on both sides. Without a display the
// caption and the text go to stderr and the dialog answers with its default: the text and edit
// dialogs with OK and their initial text, the file and folder choices as cancelled (nobody chose
// a place). When zenity is not installed every dialog answers as cancelled.
#pragma once
#include <string>

enum {
    PLAT_DLG_INPUT = 1,      // one line of text; pszText is the message, nLimit the byte limit
    PLAT_DLG_EDIT = 2,       // several lines; the answer's line breaks are CR LF
    PLAT_DLG_SAVE_FILE = 3,  // a file to write; pszInitial the proposed name, the filter applies
    PLAT_DLG_FOLDER = 4,     // a folder; pszInitial the folder to start in
};

struct PLAT_DIALOG_REQUEST {
    int nKind;                    // PLAT_DLG_*
    const char* pszCaption;       // title
    const char* pszText;          // message (input dialog)
    const char* pszInitial;       // initial text, name or folder
    int nLimit;                   // byte limit of the answer (0: none); a character is never split
    const char* pszFilterName;    // e.g. "PNG File(*.png)" (save dialog; may be NULL)
    const char* pszFilterPattern; // e.g. "*.png"
};

// 1: confirmed, the answer (cp932; paths as engine paths with '\') in *pOut; 0: cancelled or no
// dialog program; -1: the dialog program could not be run.
int PlatShowDialog(const PLAT_DIALOG_REQUEST* pReq, std::string* pOut);

// Tests: every dialog goes to the hook, which answers as above.
typedef int (*PLAT_DIALOG_HOOK)(const PLAT_DIALOG_REQUEST* pReq, std::string* pOut, void* pUser);
void PlatSetDialogHook(PLAT_DIALOG_HOOK pfnHook, void* pUser);

// Cuts a cp932 text to at most nLimit bytes without splitting a double-byte character.
void PlatCutCp932(std::string* pText, size_t nLimit);

// The text of a one-line edit field, as a person edits it: cp932 bytes with a caret and a selection
// (both byte offsets on character boundaries), a byte limit that binds typing and pasting, and an
// input method's composition shown at the caret until it is committed. No drawing and no window
// here: the edit box (platform/plat_editbox.h) keeps one of these and feeds it keys and text.
#pragma once
#include <cstddef>
#include <string>

struct PLAT_EDIT_TEXT {
    std::string strText;         // cp932
    size_t nCaret = 0;           // byte offset, on a character boundary
    size_t nAnchor = 0;          // the selection's other end; equal to nCaret: nothing selected
    size_t nLimit = 0;           // bytes typing may fill (0: no limit)
    std::string strComposition;  // UTF-8, not yet part of the text
    int nCompositionCursor = 0;  // the composition's own caret, in characters from its start
};

// The keys the field understands (the virtual-key codes of the window system).
enum {
    PLAT_EDIT_KEY_BACK = 0x08, PLAT_EDIT_KEY_END = 0x23, PLAT_EDIT_KEY_HOME = 0x24, PLAT_EDIT_KEY_LEFT = 0x25,
    PLAT_EDIT_KEY_UP = 0x26, PLAT_EDIT_KEY_RIGHT = 0x27, PLAT_EDIT_KEY_DOWN = 0x28, PLAT_EDIT_KEY_DELETE = 0x2E,
    PLAT_EDIT_KEY_A = 'A',
};

// Replaces the whole text (a program's own text: the limit does not bind it, as with an edit
// control); caret at its end, nothing selected, no composition. A lone lead byte at the end stays.
void PlatEditSetText(PLAT_EDIT_TEXT* pEdit, const std::string& strCp932);

// Typed or pasted UTF-8 text in place of the selection, at the caret. Each character cp932 cannot
// hold is refused (left out, never replaced by another); control characters are left out; the text
// ends at its first line break (a one-line field); characters that would pass the limit are refused.
// The composition ends. The count of characters taken.
int PlatEditInsertUtf8(PLAT_EDIT_TEXT* pEdit, const std::string& strUtf8);

// A key press: Left, Right (by one character; with bShift the selection grows), Home, End, Up
// (as Home), Down (as End), Backspace and Delete (the selection, else one character), Ctrl+A
// (everything). 1 when the key is one of these (whether or not anything changed), else 0. A key
// changes nothing while a composition is open.
int PlatEditKey(PLAT_EDIT_TEXT* pEdit, int nKey, int bShift, int bCtrl);

// The selected bytes ("" when nothing is selected); and the selection taken out of the text.
std::string PlatEditSelection(const PLAT_EDIT_TEXT* pEdit);
void PlatEditDeleteSelection(PLAT_EDIT_TEXT* pEdit);

// The caret to a byte offset (moved back onto a character boundary); bExtend keeps the anchor.
void PlatEditPlaceCaret(PLAT_EDIT_TEXT* pEdit, size_t nOffset, int bExtend);

// The input method's composition (UTF-8, its caret in characters); an empty text ends it.
void PlatEditSetComposition(PLAT_EDIT_TEXT* pEdit, const std::string& strUtf8, int nCursor);

// The byte length of the character at nOffset (1, or 2 for a lead byte with a byte after it).
size_t PlatEditCharBytes(const std::string& strCp932, size_t nOffset);

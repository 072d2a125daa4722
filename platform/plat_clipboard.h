// The clipboard in place of OpenClipboard / SetClipboardData / GetClipboardData with CF_TEXT.
// Texts are cp932 here and UTF-8 on the window system's clipboard (SDL, on the window thread).
// Without a window system running, or with a video driver that has no clipboard, the texts stay in
// a clipboard of the process's own.
#pragma once
#include <string>

// 0, or -1 when the window system refused the text.
int PlatSetClipboardText(const char* pszCp932);
// 0 with the text (characters cp932 lacks become '?'); -1 when the clipboard holds no text.
int PlatGetClipboardText(std::string* pOut);
// The same as the window system holds it (UTF-8, every character kept).
int PlatGetClipboardTextUtf8(std::string* pOut);
// Tests: empties the process's own clipboard.
void PlatClearClipboardForTest(void);

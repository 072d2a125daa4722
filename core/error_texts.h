// The standard texts of the error ids the engine reports, for the message table (kxe.kbn) that the
// tools write into a game: a Japanese text and an English line for every id without a text of the
// engine's own. A game's own texts come first in its table and so win over these.
#pragma once
#include <string>

struct STANDARD_ERROR_TEXT {
    int nId;
    const char* pszJapanese;   // UTF-8, with the report's printf directives
    const char* pszEnglish;    // UTF-8, one line without directives
};

// The table, ordered by id.
const STANDARD_ERROR_TEXT* GetStandardErrorTexts(int* pnCount);
// The message-table text of an id in cp932: the Japanese text, a line feed and the English line;
// "" for an id without a standard text.
std::string StandardErrorTextCp932(int nId);

// Where the program and the game live, and the user's folders.
#pragma once
#include <string>
#include <vector>

// Decides the game folder from the arguments, in this order: the folder after a leading "--game",
// a first argument that names an existing folder, the current folder when it holds "kxbin" or a
// ".kpf" file, else the executable's folder. The arguments that chose it are removed; the rest
// (without argv[0]) are returned as cp932 in pArgs (characters cp932 lacks become '?').
// Returns 0, or -1 when the folder cannot be expressed in cp932.
int PlatInitProgramPaths(int argc, char** argv, std::vector<std::string>* pArgs);

// Engine paths (cp932, '\'), valid after PlatInitProgramPaths.
const char* PlatGetProgramPath(void);    // the game folder, '\', the executable's file name
const char* PlatGetProgramFolder(void);  // the game folder, without a trailing separator
const char* PlatGetExecutablePath(void); // the real executable, for restarting
// $XDG_DATA_HOME (else ~/.local/share) and `xdg-user-dir DOCUMENTS` (else ~/Documents).
const char* PlatGetAppDataDir(void);
const char* PlatGetDocumentsDir(void);

// Tests: override the user folders (NULL restores the real ones).
void PlatSetUserFoldersForTest(const char* pszAppData, const char* pszDocuments);

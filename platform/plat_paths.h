// Where the program and the game live, and the user's folders.
#pragma once
#include <string>
#include <vector>

// Decides the game folder from the arguments, in this order: the folder after a leading "--game",
// a first argument that names an existing folder, the current folder when it holds "kxbin" or a
// ".kpf" file (in any letter case), else the executable's folder. The chosen folder becomes the
// current folder. The arguments that chose it are removed; the rest (without argv[0]) are returned
// as cp932 in pArgs (characters cp932 lacks become '?').
// Returns 0, or -1 when the folder cannot be expressed in cp932 or cannot be entered (a "--game"
// folder that does not exist).
// The executable is /proc/self/exe; tests may name another one in the variable KOLVEX_EXE_PATH.
int PlatInitProgramPaths(int argc, char** argv, std::vector<std::string>* pArgs);

// Engine paths (cp932, '\'), valid after PlatInitProgramPaths. The folder keeps the letter case of
// the file system: "/home/a/Game" reads "\home\a\Game"; the file system root reads "".
const char* PlatGetProgramPath(void);    // the game folder, '\', the executable's file name
const char* PlatGetProgramFolder(void);  // the game folder, without a trailing separator
const char* PlatGetExecutablePath(void); // the real executable, for restarting (PlatStartProcess
                                         // starts it even when cp932 lacks part of its path)
// $XDG_DATA_HOME (else ~/.local/share) and `xdg-user-dir DOCUMENTS` (else ~/Documents), without a
// trailing separator. Characters cp932 lacks become '?'.
const char* PlatGetAppDataDir(void);
const char* PlatGetDocumentsDir(void);

// Tests: override the user folders (NULL restores the real ones).
void PlatSetUserFoldersForTest(const char* pszAppData, const char* pszDocuments);

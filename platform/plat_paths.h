// Where the program and the game live, and the user's folders.
#pragma once
#include <string>
#include <vector>

// Decides the game folder from the arguments, in this order: the folder after a leading "--game",
// a first argument that names an existing folder, the current folder when it holds "kxbin" or a
// ".kpf" file (in any letter case), else the executable's folder. The chosen folder becomes the
// current folder. The arguments that chose it are removed; the rest (without argv[0]) are returned
// as cp932 in pArgs (characters cp932 lacks become '?').
// Returns 0, or -1 when the folder cannot be used: "--game" without a folder or with one that does
// not exist or cannot be entered, a first argument that looks like a path (not a switch such as
// "/info") but names no folder, or a folder cp932 cannot express. PlatGetProgramPathsProblem then
// says which, naming the folder as the user wrote it (UTF-8).
// The executable is /proc/self/exe; tests may name another one in the variable KOLVEX_EXE_PATH.
int PlatInitProgramPaths(int argc, char** argv, std::vector<std::string>* pArgs);

const char* PlatGetProgramPathsProblem(void);
// 1 when the arguments named the game folder (by --game or as the first argument), 0 when it was
// chosen without them (the current folder or the executable's).
int PlatGameFolderWasNamed(void);
// 1 when the program talks to a terminal (its standard input or error is one), 0 when it was
// started from a desktop, where only a box reaches the person.
int PlatHasTerminal(void);

// A native path (UTF-8) the user gave, such as a file named in the environment: a relative one is
// taken from the folder the program was started in (PlatInitProgramPaths makes the game folder the
// current one). Absolute paths, and every path before PlatInitProgramPaths, come back unchanged.
std::string PlatFromStartFolder(const char* pszNative);

// An engine path as the user knows it, for messages: the real path (UTF-8, '/'), absolute.
std::string PlatDisplayPath(const char* pszPath);

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

// A text for the user (UTF-8) with every folder alias replaced by the real folder it stands for.
std::string PlatShowFolderAliases(const std::string& strUtf8);
// Tests: forgets every folder alias.
void PlatClearFolderAliasesForTest(void);

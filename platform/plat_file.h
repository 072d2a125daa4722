// Files and folders in place of CreateFile, FindFirstFile, CopyFile and friends.
//
// Engine paths are cp932 with '\' (or '/') separators. A relative path is relative to the current
// folder (the game folder); an absolute one starts with a separator. The platform converts a path to
// UTF-8, turns '\' into '/', tries the exact path and otherwise resolves each component without regard
// to ASCII letter case (a name as written wins, else the first match in name order).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The native (UTF-8, '/') path for an engine path. Returns 0 when the file or folder exists (the
// result then names it with its real letter case), -1 when it does not (the result names where it
// would be created: its existing folders resolved, the rest converted as written), -2 when the path
// cannot be converted.
int PlatResolvePath(const char* pszPath, std::string* pNative);

enum {
    PLAT_FILE_READ = 1,       // existing file, read only
    PLAT_FILE_WRITE = 2,      // create or truncate, write only
    PLAT_FILE_APPEND = 3,     // create when missing, writes go to the end
    PLAT_FILE_READWRITE = 4,  // existing file, read and write
};
enum { PLAT_SEEK_SET = 0, PLAT_SEEK_CUR = 1, PLAT_SEEK_END = 2 };

struct PLAT_FILE;
PLAT_FILE* PlatFileOpen(const char* pszPath, int nMode);   // NULL on failure
int64_t PlatFileRead(PLAT_FILE* pFile, void* pBuf, int64_t n);        // bytes read, -1 on error
int64_t PlatFileWrite(PLAT_FILE* pFile, const void* pBuf, int64_t n); // bytes written, -1 on error
int64_t PlatFileSeek(PLAT_FILE* pFile, int64_t off, int nWhence);     // new position, -1 on error
int64_t PlatFileTell(PLAT_FILE* pFile);
int64_t PlatFileSize(PLAT_FILE* pFile);
int PlatFileClose(PLAT_FILE* pFile);   // 0, or -1 when buffered data could not be written

struct PLAT_FILE_STAT {
    int bExists;
    int bIsDir;
    int64_t nSize;
    int64_t nModifiedTime;   // seconds since 1970
    int bReadOnly;
};
int PlatFileStat(const char* pszPath, PLAT_FILE_STAT* pOut);   // 0 (even when missing: bExists 0), -1 on error

int PlatFileDelete(const char* pszPath);                          // 0 or -1
int PlatFileCopy(const char* pszFrom, const char* pszTo, int bFailIfExists);
int PlatFileRename(const char* pszFrom, const char* pszTo);      // replaces an existing target
int PlatMakeDir(const char* pszPath);                             // 0, also when it exists; -1
int PlatMakeDirs(const char* pszPath);                            // every missing folder on the way
int PlatRemoveDir(const char* pszPath);                           // empty folders only

struct PLAT_DIR_ENTRY {
    std::string strName;   // cp932
    int bIsDir;
    int64_t nSize;
};
// The entries of a folder (without "." and ".."), sorted by name bytes. Names that cp932 cannot
// represent are left out. 0, or -1 when the folder cannot be read.
int PlatListDir(const char* pszPath, std::vector<PLAT_DIR_ENTRY>* pOut);

// Reads a whole file. 0, -1 when it cannot be opened or read.
int PlatReadFile(const char* pszPath, std::vector<uint8_t>* pOut);
// Writes a whole file so that a reader sees the old content or the new one whole, whatever stops
// the writer: through a temporary file ".kxtmp-<pid>-XXXXXX" in the target's folder, flushed to
// disk and renamed over the target. The target keeps its mode and owner; a read-only target is not
// replaced (EACCES). Temporaries left by writers that died are removed by the first write into
// their folder. 0, or -1 with errno set to the failing step's error and the old file as it was.
// The test switch KOLVEX_WRITE_FAULT (kill@N or enospc@N, optionally ",NAME" for files whose name
// ends in NAME) stops such a write once N bytes are written: by SIGKILL, or as a full disk.
int PlatWriteFileAtomic(const char* pszPath, const void* pData, size_t n);
// The same for a native path (UTF-8, '/') such as a file named on the command line.
int PlatWriteHostFileAtomic(const char* pszHostPath, const void* pData, size_t n);
// The same with the mode a new file gets (less the process's file mask).
int PlatWriteNativeFileAtomic(const std::string& strNative, const void* pData, size_t n, unsigned nNewMode);

int PlatSetCurrentDir(const char* pszPath);
// The current folder as an engine path (cp932, '\').
std::string PlatGetCurrentDir(void);

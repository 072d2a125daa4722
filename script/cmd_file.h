// The file commands and the preload cache: the file command (preload, save a layer, create,
// copy, delete, open), the file query, and the readers that turn text and comma-separated files
// into text arrays.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Argument ids of the file command (20).
enum {
    FILE_ARG_PATH = 0, FILE_ARG_DEST = 1, FILE_ARG_DIR = 2, FILE_ARG_MKDIR = 3, FILE_ARG_COPY = 4,
    FILE_ARG_DELETE = 5, FILE_ARG_OPEN = 6, FILE_ARG_OPEN_WAIT = 7, FILE_ARG_PARAMS = 8, FILE_ARG_LEVEL = 9,
    FILE_ARG_LAYER = 10, FILE_ARG_LAYER_NUMBER = 11, FILE_ARG_BMP = 12, FILE_ARG_PNG = 13, FILE_ARG_JPEG = 14,
    FILE_ARG_WEBP = 15, FILE_ARG_PRELOAD_IMAGE = 16, FILE_ARG_PRELOAD_SOUND = 17,
};
// Argument ids of the file query (21).
enum {
    FILEQ_ARG_DIR = 0, FILEQ_ARG_FILE = 1, FILEQ_ARG_IMAGE = 2, FILEQ_ARG_SOUND = 3, FILEQ_ARG_EXISTS = 4,
    FILEQ_ARG_SIZE = 5, FILEQ_ARG_PROGRAM = 6, FILEQ_ARG_OUT = 7,
};

// Opens a file or web address with its program (the desktop's opener, or an executable file
// itself with the parameters), waiting for what it started when bWait is set. A file that does not
// exist, an opener that cannot start or that ends with a failure is noted (104060, 104010: a line
// on standard error and in the trace, no box; the game goes on). 0, or -1 after such a note.
int OpenWithProgram(const char* pszTarget, const char* pszParams, bool bWait);
// Shows a web page: the text goes unchanged to the desktop's opener (the system command's code
// 120). An empty text, or an opener that cannot start or ends with a failure, is noted as above.
// 0, or -1 after such a note.
int OpenWebPage(const char* pszAddress);
// The failing end of an opener that nobody waited for (called on the window thread): reported as
// OpenWithProgram reports it.
void ReportFailedOpen(const char* pszTarget, int nExitCode);

int CmdFile(void);
int CmdFileQuery(void);
int CmdReadTextLines(void);
int CmdCsvRead(void);
int CmdCsvCount(void);

// Loads a file whole into preload list nList (0..3) as an image (kind 0) or a sound (kind 1).
// A file already in that list moves to its end without being read again; a file held by another
// list is copied from it. A full list (512 entries) drops its oldest entry. 0 (also when the file
// does not exist), or -1 when it cannot be resolved or read.
int PreloadFile(int nList, const char* pszName, int nKind);
// Frees the entry's name (not its data) and moves the later entries of the list down by one; the
// entry count is the caller's.
void RemoveCachedEntry(int nList, int nEntry);
// Frees every entry of the four lists (tests and shut-down).
void FreePreloadCache(void);
// Creates every folder along the path; the last component only when the path ends with '\'. 0.
int CreateDirectoryPath(const char* pszPath);
// 1 when the path exists and is a folder, else 0.
int IsDirectory(const char* pszPath);
// 1 when a path names no file at all or a file-system root ("", "\", "c:\", "/"), which delete
// and remove refuse.
int IsEmptyOrRootPath(const char* pszPath);

// The readers' scanners over a text with its line breaks (the readers append CR LF to the file).
// Each line (cut at CR LF, a lone CR or a lone LF; a double-byte character kept whole) is given
// with a CR appended, until the callback answers non-zero; the unfinished rest of a line goes into
// *pRest (empty when the text ended with a line break or the scan was stopped).
void SplitTextLines(const char* pData, size_t n, int (*pfnLine)(const std::string& s, void* pUser), void* pUser,
                    std::string* pRest);
// The comma-separated fields in order; with bEmptyLines, one empty field for each empty or blank
// line. Returns the number of fields given.
int64_t ScanCsvFields(const char* pData, size_t n, int bEmptyLines,
                      void (*pfnField)(const std::string& s, void* pUser), void* pUser);

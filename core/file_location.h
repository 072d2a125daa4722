// Finding and reading the files the engine loads by name. Four sources hold files: loose files on
// disk, the files the script compiler handed over in memory, pack entries and the preload cache.
// LocateFile finds a name; the reader of the found source then returns the whole content.
#pragma once
#include <cstddef>
#include <cstdint>

struct PLAT_FILE;

// Where a file was found.
enum {
    FILESRC_NONE = 0,
    FILESRC_LOOSE = 1,
    FILESRC_PACK = 2,
    FILESRC_COMPILER = 3,
    FILESRC_CACHE = 4,
};

// File types, from a name's extension or from a pack entry's type byte.
enum {
    FILETYPE_NONE = 0,
    FILETYPE_BMP = 1,
    FILETYPE_PNG = 2,
    FILETYPE_JPG = 3,
    FILETYPE_GIF = 4,
    FILETYPE_WAV = 5,
    FILETYPE_OGG = 6,
    FILETYPE_PSD = 7,
    FILETYPE_KCG = 8,
    FILETYPE_PSB = 9,
    FILETYPE_WEBP = 10,
};

// Kinds of ResolveResourceFile.
enum { RESOLVE_IMAGE = 0, RESOLVE_SOUND = 1, RESOLVE_ANY = 9 };

struct FILE_LOCATION {
    int32_t nSize;          // bytes of the file, set by a reader
    uint8_t* pData;         // the content, set by a reader; the caller frees it with free()
    int8_t nSource;         // FILESRC_*
    uint8_t bType;          // FILETYPE_*
    int32_t nEntry;         // index in the pack index (pack)
    int32_t nPack;          // pack number (pack)
    int64_t llDataOffset;   // position in the pack after the entry's type byte, from its base (pack)
    int32_t nCompilerIndex; // index in the compiler's file list (compiler)
    int32_t nCacheGroup;    // preload list 0..3 (cache)
    int32_t nCacheIndex;    // entry in that list (cache)
};

// An open pack: a file and the base offset that every seek adds and every tell subtracts. In
// appended-data mode every pack opens the executable at the appended pack's base.
struct SUBFILE {
    PLAT_FILE* pFile;
    uint8_t bOpen;
    int64_t llBase;
};

// Result of the finders and LocateFile: the source (1..4), 0 not found, -2 a pack that should
// hold the name does not open.
int LocateFile(FILE_LOCATION* pLoc, const char* pszName, uint8_t bWantType);
// 1 when the path names an existing file (not a folder), else 0.
int FileExists(const char* pszPath);
// The pack entry of a name (lower case, '\' separators): 2 found, 0 not found, -2 pack not openable.
int FindPackEntry(FILE_LOCATION* pLoc, const char* pszName);
// 3 found in the compiler's file list (names compared without case, first match), else 0.
int FindCompilerFile(FILE_LOCATION* pLoc, const char* pszName);
// 4 found in the preload cache (lists 0..3 in order, names compared without case), else 0.
int FindCachedFile(FILE_LOCATION* pLoc, const char* pszName);

// Readers: fill size and data with a new buffer. 0 success, -2 damaged pack data, -3 read, memory
// or format failure (reported).
// Reads a file that a finder located, with the reader of its source: 0, or the reader's negative
// result (the readers report their own failures).
int ReadLocatedFile(FILE_LOCATION* pLoc, const char* pszName);
// Finishes a look-up whose finder returned nFound: missing reports 104060 and a pack that does not
// open 901040 (both fatal, with the name); otherwise the file is read whole into *ppData (the
// caller's to free) and *pnSize. 0, or -1 after a report.
int ReadFoundFile(FILE_LOCATION* pLoc, int nFound, const char* pszName, uint8_t** ppData, size_t* pnSize);
int ReadLooseFile(FILE_LOCATION* pLoc, const char* pszName);
int ReadPackEntry(FILE_LOCATION* pLoc, const char* pszName);   // core/pack_archive.cpp
int ReadCompilerFile(FILE_LOCATION* pLoc, const char* pszName);
int ReadCachedFile(FILE_LOCATION* pLoc, const char* pszName);

// Resolves a resource name (image, sound or any file): normalised, lower case, '\' separators and,
// without an extension of its kind, the configured extensions tried in order. The resolved name
// goes into pszOut (cap bytes). 0 found, 1 not found, -1 failure (a pack that does not open, a
// name too long, or an unknown kind). The caller's name is left as it was.
int ResolveResourceFile(FILE_LOCATION* pLoc, char* pszOut, size_t cap, const char* pszName, int nKind);

// The file type of a name by its extension (without case); 0 for anything else.
int FileTypeFromName(const char* pszName);
// 1 when the text is at least as long as the suffix and ends with it (without case), else 0.
int EndsWithNoCase(const char* pszText, const char* pszSuffix);

// Packs as files of their own. Seek and tell count from the base; integers are little-endian.
int OpenSubfile(SUBFILE* pSub, const char* pszPath);   // 0, or -1 when the file does not open
int SeekSubfile(SUBFILE* pSub, int64_t llOffset);      // 0, or -1
int64_t TellSubfile(SUBFILE* pSub);                    // -1 on error
int64_t ReadSubfile(SUBFILE* pSub, void* pBuf, int64_t n);   // bytes read, -1 on error
int ReadSubfileByte(SUBFILE* pSub, uint8_t* pb);       // 0, or -1 at the end or on error
int ReadSubfileInt32(SUBFILE* pSub, int32_t* pn);
int ReadSubfileInt64(SUBFILE* pSub, int64_t* pll);
// Bytes from the base to the end of the file (-1 on error).
int64_t SubfileSize(SUBFILE* pSub);
void CloseSubfile(SUBFILE* pSub);

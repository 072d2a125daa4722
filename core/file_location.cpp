#include "core/file_location.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "core/appended_data.h"
#include "core/compiler_link.h"
#include "core/cp932.h"
#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/kx_hash.h"
#include "core/kx_limits.h"
#include "core/object_tree.h"
#include "core/pack_archive.h"
#include "platform/plat_file.h"
#include "core/game_config.h"
#include "core/preload_cache.h"

// ---------------------------------------------------------------------------------------------
// Subfiles

int OpenSubfile(SUBFILE* pSub, const char* pszPath)
{
    pSub->pFile = nullptr;
    pSub->bOpen = 0;
    pSub->llBase = 0;
    // An appended pack lives inside the executable, whatever pack path the caller names.
    const char* pszOpen = g_bAppendedData ? g_szExeFile : pszPath;
    PLAT_FILE* pFile = PlatFileOpen(pszOpen, PLAT_FILE_READ);
    if (!pFile) return -1;
    pSub->pFile = pFile;
    pSub->bOpen = 1;
    pSub->llBase = g_bAppendedData ? static_cast<int64_t>(g_dwBareExeSize) + g_qwPackOffset : 0;
    if (PlatFileSeek(pFile, pSub->llBase, PLAT_SEEK_SET) < 0) {
        CloseSubfile(pSub);
        return -1;
    }
    return 0;
}

int SeekSubfile(SUBFILE* pSub, int64_t llOffset)
{
    if (!pSub->bOpen || llOffset < 0 || llOffset > INT64_MAX - pSub->llBase) return -1;
    return PlatFileSeek(pSub->pFile, pSub->llBase + llOffset, PLAT_SEEK_SET) < 0 ? -1 : 0;
}

int64_t TellSubfile(SUBFILE* pSub)
{
    if (!pSub->bOpen) return -1;
    int64_t ll = PlatFileTell(pSub->pFile);
    return ll < 0 ? -1 : ll - pSub->llBase;
}

int64_t ReadSubfile(SUBFILE* pSub, void* pBuf, int64_t n)
{
    if (!pSub->bOpen || n < 0) return -1;
    return PlatFileRead(pSub->pFile, pBuf, n);
}

int ReadSubfileByte(SUBFILE* pSub, uint8_t* pb)
{
    return ReadSubfile(pSub, pb, 1) == 1 ? 0 : -1;
}

int ReadSubfileInt32(SUBFILE* pSub, int32_t* pn)
{
    uint8_t b[4];
    if (ReadSubfile(pSub, b, 4) != 4) return -1;
    *pn = static_cast<int32_t>(static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
                               static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24);
    return 0;
}

int ReadSubfileInt64(SUBFILE* pSub, int64_t* pll)
{
    uint8_t b[8];
    if (ReadSubfile(pSub, b, 8) != 8) return -1;
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | b[i];
    *pll = static_cast<int64_t>(v);
    return 0;
}

int64_t SubfileSize(SUBFILE* pSub)
{
    if (!pSub->bOpen) return -1;
    int64_t ll = PlatFileSize(pSub->pFile);
    return ll < pSub->llBase ? -1 : ll - pSub->llBase;
}

void CloseSubfile(SUBFILE* pSub)
{
    if (pSub->bOpen && pSub->pFile) PlatFileClose(pSub->pFile);
    pSub->pFile = nullptr;
    pSub->bOpen = 0;
}

// ---------------------------------------------------------------------------------------------
// Names and types

int EndsWithNoCase(const char* pszText, const char* pszSuffix)
{
    size_t nText = std::strlen(pszText);
    size_t nSuffix = std::strlen(pszSuffix);
    if (nText < nSuffix) return 0;
    return CompareNoCaseASCII(pszText + nText - nSuffix, pszSuffix) == 0 ? 1 : 0;
}

int FileTypeFromName(const char* pszName)
{
    static const struct { const char* pszExt; int nType; } kTypes[] = {
        {".bmp", FILETYPE_BMP}, {".png", FILETYPE_PNG}, {".jpg", FILETYPE_JPG},   {".gif", FILETYPE_GIF},
        {".psd", FILETYPE_PSD}, {".kcg", FILETYPE_KCG}, {".psb", FILETYPE_PSB},   {".webp", FILETYPE_WEBP},
        {".wav", FILETYPE_WAV}, {".ogg", FILETYPE_OGG},
    };
    for (const auto& t : kTypes)
        if (EndsWithNoCase(pszName, t.pszExt)) return t.nType;
    return FILETYPE_NONE;
}

// ---------------------------------------------------------------------------------------------
// Finders

int FileExists(const char* pszPath)
{
    PLAT_FILE_STAT st{};
    if (PlatFileStat(pszPath, &st) != 0) return 0;
    return st.bExists && !st.bIsDir ? 1 : 0;
}

int FindCompilerFile(FILE_LOCATION* pLoc, const char* pszName)
{
    for (int32_t i = 0; i < g_nCompilerFiles; ++i) {
        const COMPILER_FILE* pFile = g_apCompilerFiles[i];
        if (pFile && pFile->pszName && CompareNoCaseASCII(pFile->pszName, pszName) == 0) {
            pLoc->nCompilerIndex = i;
            pLoc->nSource = FILESRC_COMPILER;
            return FILESRC_COMPILER;
        }
    }
    return 0;
}

int FindCachedFile(FILE_LOCATION* pLoc, const char* pszName)
{
    for (int nGroup = 0; nGroup < KX_PRELOAD_LISTS; ++nGroup) {
        int32_t nCount = std::min<int32_t>(g_anPreloadCount[nGroup], KX_PRELOAD_MAX_ENTRIES);
        for (int32_t i = 0; i < nCount; ++i) {
            const PRELOAD_ENTRY& e = g_aPreloadCache[nGroup][i];
            if (e.pszName && CompareNoCaseASCII(e.pszName, pszName) == 0) {
                pLoc->nCacheGroup = nGroup;
                pLoc->nCacheIndex = i;
                pLoc->bType = e.bType;
                pLoc->nSource = FILESRC_CACHE;
                return FILESRC_CACHE;
            }
        }
    }
    return 0;
}

int FindPackEntry(FILE_LOCATION* pLoc, const char* pszName)
{
    if (g_nPackEntries <= 0 || !g_pdwPackHash) return 0;
    const uint32_t h = HashName(pszName);
    // The index is sorted by hash: the run of equal hashes, walked in index order, holds every
    // candidate; each is confirmed by its stored name.
    const uint32_t* pBegin = g_pdwPackHash;
    const uint32_t* pEnd = g_pdwPackHash + g_nPackEntries;
    for (const uint32_t* p = std::lower_bound(pBegin, pEnd, h); p != pEnd && *p == h; ++p) {
        const int32_t nEntry = static_cast<int32_t>(p - pBegin);
        const int32_t nPack = g_pnPackNumber[nEntry];
        char szPath[KX_MAX_PATH];
        SUBFILE sub;
        if (BuildPackOpenPath(szPath, sizeof szPath, nPack) != 0 || OpenSubfile(&sub, szPath) != 0) return -2;
        // Stored length byte, name bytes (at most 255) and the type byte.
        uint8_t abStored[1 + 255 + 1];
        int64_t nRead = -1;
        if (SeekSubfile(&sub, g_pnPackNamePos[nEntry]) == 0) nRead = ReadSubfile(&sub, abStored, sizeof abStored);
        char szStored[256];
        int nLen = nRead >= 1 ? DecodePackName(szStored, abStored[0], abStored + 1, static_cast<size_t>(nRead - 1)) : -1;
        // The type byte must follow the name.
        if (nLen >= 0 && 1 + nLen < nRead && CompareNoCaseASCII(szStored, pszName) == 0) {
            pLoc->bType = abStored[1 + nLen];
            pLoc->llDataOffset = g_pnPackNamePos[nEntry] + 1 + nLen + 1;
            CloseSubfile(&sub);
            pLoc->nSource = FILESRC_PACK;
            pLoc->nEntry = nEntry;
            pLoc->nPack = nPack;
            return FILESRC_PACK;
        }
        CloseSubfile(&sub);
    }
    return 0;
}

int LocateFile(FILE_LOCATION* pLoc, const char* pszName, uint8_t bWantType)
{
    pLoc->nSource = FILESRC_NONE;
    pLoc->bType = FILETYPE_NONE;
    if (FileExists(pszName)) {
        pLoc->nSource = FILESRC_LOOSE;
        if (bWantType) pLoc->bType = static_cast<uint8_t>(FileTypeFromName(pszName));
        return FILESRC_LOOSE;
    }
    int r = FindCompilerFile(pLoc, pszName);
    if (r != 0) return r;
    return FindPackEntry(pLoc, pszName);
}

// ---------------------------------------------------------------------------------------------
// Readers

// A buffer for a file of n bytes (one byte for an empty file, so that success never means NULL).
static uint8_t* AllocFileBuffer(int64_t n)
{
    return static_cast<uint8_t*>(std::malloc(n > 0 ? static_cast<size_t>(n) : 1));
}

int ReadLooseFile(FILE_LOCATION* pLoc, const char* pszName)
{
    PLAT_FILE* pFile = PlatFileOpen(pszName, PLAT_FILE_READ);
    if (!pFile) {
        ReportErrorF(KX_ERR_FILE_READ, 1, pszName);
        return -3;
    }
    int64_t llSize = PlatFileSize(pFile);
    if (llSize < 0) {
        PlatFileClose(pFile);
        ReportErrorF(KX_ERR_FILE_READ, 1, pszName);
        return -3;
    }
    // Sizes are int32 throughout the engine: a larger file cannot be held.
    uint8_t* pData = llSize <= INT32_MAX ? AllocFileBuffer(llSize) : nullptr;
    if (!pData) {
        PlatFileClose(pFile);
        ReportErrorF(KX_ERR_FILE_NO_MEMORY, 1, pszName);
        return -3;
    }
    if (PlatFileRead(pFile, pData, llSize) != llSize) {
        // The file shrank or the device failed after it was opened: the same report as a file that
        // cannot be read at all, never a silent failure.
        PlatFileClose(pFile);
        std::free(pData);
        ReportErrorF(KX_ERR_FILE_READ, 1, pszName);
        return -3;
    }
    PlatFileClose(pFile);
    pLoc->nSize = static_cast<int32_t>(llSize);
    pLoc->pData = pData;
    return 0;
}

// A copy of bytes held in memory, as the compiler and cache readers return them.
static int CopyHeldFile(FILE_LOCATION* pLoc, const char* pszName, const uint8_t* pSrc, int32_t nSize)
{
    uint8_t* pData = nSize >= 0 ? AllocFileBuffer(nSize) : nullptr;
    if (!pData) {
        ReportErrorF(KX_ERR_FILE_NO_MEMORY, 1, pszName);
        return -3;
    }
    if (nSize > 0) std::memcpy(pData, pSrc, static_cast<size_t>(nSize));
    pLoc->nSize = nSize;
    pLoc->pData = pData;
    return 0;
}

int ReadCompilerFile(FILE_LOCATION* pLoc, const char* pszName)
{
    int32_t i = pLoc->nCompilerIndex;
    if (i < 0 || i >= g_nCompilerFiles || !g_apCompilerFiles[i]) return -3;
    const COMPILER_FILE* pFile = g_apCompilerFiles[i];
    return CopyHeldFile(pLoc, pszName, pFile->pData, pFile->nSize);
}

int ReadCachedFile(FILE_LOCATION* pLoc, const char* pszName)
{
    int32_t g = pLoc->nCacheGroup, i = pLoc->nCacheIndex;
    if (g < 0 || g >= KX_PRELOAD_LISTS || i < 0 || i >= std::min<int32_t>(g_anPreloadCount[g], KX_PRELOAD_MAX_ENTRIES))
        return -3;
    const PRELOAD_ENTRY& e = g_aPreloadCache[g][i];
    return CopyHeldFile(pLoc, pszName, e.pData, e.nSize);
}

// ---------------------------------------------------------------------------------------------
// Resource names

// Copies name + extension into the output, reporting a result that does not fit.
static int SetResolvedName(char* pszOut, size_t cap, const char* pszName, const char* pszExt)
{
    size_t nName = std::strlen(pszName), nExt = std::strlen(pszExt);
    if (cap == 0 || nName + nExt >= cap) {
        ReportErrorF(KX_ERR_PATH_TOO_LONG, 1, pszName);
        return -1;
    }
    std::memcpy(pszOut, pszName, nName);
    std::memcpy(pszOut + nName, pszExt, nExt + 1);
    return 0;
}

int ResolveResourceFile(FILE_LOCATION* pLoc, char* pszOut, size_t cap, const char* pszName, int nKind)
{
    static const char* const kImageExt[] = {".bmp", ".png", ".jpg", ".gif", ".psb", ".webp"};
    static const char* const kSoundExt[] = {".wav", ".ogg"};
    static const char* const kImageOrder[] = {nullptr, ".png", ".bmp", ".jpg", ".gif", ".psb", ".webp"};
    static const char* const kSoundOrder[] = {nullptr, ".ogg", ".wav"};

    // Work on a copy: the caller's text stays as it was.
    char szSlashed[KX_MAX_PATH];
    if (CopyTextBounded(szSlashed, sizeof szSlashed, pszName) != std::strlen(pszName)) {
        ReportErrorF(KX_ERR_PATH_TOO_LONG, 1, pszName);
        return -1;
    }
    for (char* p = szSlashed; *p; p = const_cast<char*>(NextCharCp932(p)))
        if (*p == '\\') *p = '/';
    char szName[KX_MAX_OBJECT_PATH];
    if (NormalizeObjectPath(szName, szSlashed, "", 1) < 0) return -1;
    LowerCaseASCII(szName);
    SlashesToBackslashes(szName);

    int bHasExt;
    if (nKind == RESOLVE_IMAGE) {
        bHasExt = 0;
        for (const char* pszExt : kImageExt) bHasExt |= EndsWithNoCase(szName, pszExt);
    } else if (nKind == RESOLVE_SOUND) {
        bHasExt = 0;
        for (const char* pszExt : kSoundExt) bHasExt |= EndsWithNoCase(szName, pszExt);
    } else if (nKind == RESOLVE_ANY) {
        bHasExt = 1;
    } else {
        return -1;
    }

    if (bHasExt) {
        if (SetResolvedName(pszOut, cap, szName, "") != 0) return -1;
        int r = LocateFile(pLoc, pszOut, 1);
        return r < 0 ? -1 : r > 0 ? 0 : 1;
    }
    const uint8_t* pOrder = nKind == RESOLVE_IMAGE ? g_abImageExtOrder : g_abSoundExtOrder;
    const int nOrder = nKind == RESOLVE_IMAGE ? 7 : 2;
    const char* const* ppszExt = nKind == RESOLVE_IMAGE ? kImageOrder : kSoundOrder;
    const int nMaxCode = nKind == RESOLVE_IMAGE ? 6 : 2;
    for (int i = 0; i < nOrder; ++i) {
        int nCode = pOrder[i];
        if (nCode < 1 || nCode > nMaxCode) continue;
        if (SetResolvedName(pszOut, cap, szName, ppszExt[nCode]) != 0) return -1;
        int r = LocateFile(pLoc, pszOut, 1);
        if (r < 0) return -1;
        if (r > 0) return 0;
    }
    return 1;
}

int ReadLocatedFile(FILE_LOCATION* pLoc, const char* pszName)
{
    switch (pLoc->nSource) {
    case FILESRC_LOOSE: return ReadLooseFile(pLoc, pszName);
    case FILESRC_PACK: return ReadPackEntry(pLoc, pszName);
    case FILESRC_COMPILER: return ReadCompilerFile(pLoc, pszName);
    case FILESRC_CACHE: return ReadCachedFile(pLoc, pszName);
    default: return -2;
    }
}

int ReadFoundFile(FILE_LOCATION* pLoc, int nFound, const char* pszName, uint8_t** ppData, size_t* pnSize)
{
    *ppData = nullptr;
    *pnSize = 0;
    if (nFound == 0) {
        ReportErrorF(KX_ERR_FILE_MISSING, 1, pszName);
        return -1;
    }
    if (nFound < 0) {
        ReportErrorF(KX_ERR_PACK_OPEN, 1, pszName);
        return -1;
    }
    if (ReadLocatedFile(pLoc, pszName) != 0 || !pLoc->pData || pLoc->nSize < 0) {
        std::free(pLoc->pData);
        pLoc->pData = nullptr;
        return -1;
    }
    *ppData = pLoc->pData;
    *pnSize = static_cast<size_t>(pLoc->nSize);
    return 0;
}

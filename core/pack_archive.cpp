#include "core/pack_archive.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <set>
#include <vector>

#include "core/appended_data.h"
#include "core/codecs.h"
#include "core/cp932.h"
#include "core/engine_globals.h"
#include "core/errors.h"
#include "core/file_location.h"
#include "core/kx_format_consts.h"
#include "core/kx_hash.h"
#include "core/kx_limits.h"
#include "platform/plat_file.h"
#include "platform/plat_memory.h"
#include "platform/plat_paths.h"

char* g_apszPackPath[KX_MAX_PACKS];
int32_t g_nPacks = 0;
char* g_apszUpdatePackPath[KX_MAX_UPDATE_PACKS + 1];
int32_t g_nPackEntryTotal = 0;
uint32_t* g_pdwPackHash = nullptr;
int32_t* g_pnPackNumber = nullptr;
int32_t* g_pnPackNamePos = nullptr;
int32_t g_nPackEntries = 0;
uint8_t g_bPackedData = 0;

uint8_t g_abPackNameLength[256];
uint8_t g_abScriptKey[4];

static const char kPackMagic[4] = {'K', 'P', 'F', '\0'};
static const uint8_t kNameXor = 0xC5;

// ---------------------------------------------------------------------------------------------
// Names

int InitPackNameTable(void)
{
    for (int i = 0; i < 256; ++i) g_abPackNameLength[i] = static_cast<uint8_t>(i);
    for (const auto& pair : KX_PACK_PERM_PAIRS) {
        g_abPackNameLength[pair[0]] = pair[1];
        g_abPackNameLength[pair[1]] = pair[0];
    }
    const uint32_t dwKey = ComputeCRC32(KX_SCRIPT_KEY_TEXT, std::strlen(KX_SCRIPT_KEY_TEXT));
    for (int i = 0; i < 4; ++i) g_abScriptKey[i] = static_cast<uint8_t>(dwKey >> (24 - 8 * i));
    return 0;
}

int DecodePackName(char* pszOut, uint8_t bStoredLength, const uint8_t* pStored, size_t nAvail)
{
    const int nLen = g_abPackNameLength[255 - bStoredLength];
    if (static_cast<size_t>(nLen) > nAvail) {
        pszOut[0] = '\0';
        return -1;
    }
    for (int i = 0; i < nLen; ++i) pszOut[i] = static_cast<char>(~pStored[i] ^ kNameXor);
    pszOut[nLen] = '\0';
    return nLen;
}

int BuildPackOpenPath(char* pszOut, size_t cap, int32_t nPack)
{
    if (nPack < 0 || nPack >= g_nPacks || !g_apszPackPath[nPack]) return -1;
    const char* pszPack = g_apszPackPath[nPack];
    std::string s;
    if (!g_bPackedData) {
        s = g_szExeDir;
        s += '\\';
    }
    s += pszPack;
    if (s.size() >= cap) return -1;
    std::memcpy(pszOut, s.c_str(), s.size() + 1);
    return 0;
}

// 1 when the path's file name without extension is "update1" .. "update9" (without case).
static int IsUpdatePackPath(const char* pszPath)
{
    const char* pszFile = FindFileNamePart(pszPath);
    const char* pszDot = std::strrchr(pszFile, '.');
    const size_t nStem = pszDot ? static_cast<size_t>(pszDot - pszFile) : std::strlen(pszFile);
    return nStem == 7 && CompareNoCaseASCIIN(pszFile, "update", 6) == 0 && pszFile[6] >= '1' && pszFile[6] <= '9'
               ? 1
               : 0;
}

// ---------------------------------------------------------------------------------------------
// Registration

void FreePackIndex(void)
{
    for (auto& psz : g_apszPackPath) {
        std::free(psz);
        psz = nullptr;
    }
    for (auto& psz : g_apszUpdatePackPath) {
        std::free(psz);
        psz = nullptr;
    }
    std::free(g_pdwPackHash);   // the block of all three
    g_pdwPackHash = nullptr;
    g_pnPackNumber = nullptr;
    g_pnPackNamePos = nullptr;
    g_nPacks = 0;
    g_nPackEntries = 0;
    g_nPackEntryTotal = 0;
}

static char* DuplicateText(const char* psz)
{
    size_t n = std::strlen(psz) + 1;
    char* p = static_cast<char*>(std::malloc(n));
    if (p) std::memcpy(p, psz, n);
    return p;
}

// The files left out as no packs, each told once.
static std::set<std::string> s_setToldNotPack;
static std::vector<std::string> s_aLeftOutPacks;

std::vector<std::string> ListLeftOutPacks(void)
{
    return s_aLeftOutPacks;
}

int RegisterPack(const char* pszPath)
{
    if (g_nPacks >= KX_MAX_PACKS) {
        ReportErrorF(KX_ERR_TOO_MANY_PACKS, 1, KX_MAX_PACKS);
        return -1;
    }
    char* pszCopy = DuplicateText(pszPath);
    if (!pszCopy) {
        ReportError(KX_ERR_NO_MEMORY, 1);
        return -1;
    }
    std::free(g_apszPackPath[g_nPacks]);
    g_apszPackPath[g_nPacks] = pszCopy;

    SUBFILE sub;
    if (OpenSubfile(&sub, pszPath) != 0) {
        ReportErrorF(KX_ERR_PACK_OPEN, 1, pszPath);
        return -2;
    }
    char abMagic[4];
    int32_t nVersion = 0, nCount = 0;
    const bool bMagic = ReadSubfile(&sub, abMagic, 4) == 4 && std::memcmp(abMagic, kPackMagic, 4) == 0;
    const bool bHeader = bMagic && ReadSubfileInt32(&sub, &nVersion) == 0 && ReadSubfileInt32(&sub, &nCount) == 0;
    CloseSubfile(&sub);

    if (!bMagic) {
        // Not a pack: the slot is taken by the next one. Said on standard error, because a game
        // whose only pack this was fails next with a missing file, which would not name it. Once
        // per file: the index is built again on a restart of the scripts.
        if (s_setToldNotPack.insert(pszPath).second) {
            s_aLeftOutPacks.push_back(pszPath);
            std::fprintf(stderr, "kolvex: %s is not a pack archive (no pack header); it is left out\n",
                         PlatDisplayPath(pszPath).c_str());
        }
        std::free(g_apszPackPath[g_nPacks]);
        g_apszPackPath[g_nPacks] = nullptr;
        return 0;
    }
    if (!bHeader || nVersion < KX_PACK_VERSION_MIN || nCount < 0) {
        ReportErrorF(KX_ERR_PACK_VERSION, 1, pszPath);
        return -1;
    }
    if (nCount > KX_MAX_PACK_ENTRIES - g_nPackEntryTotal) {
        ReportErrorF(KX_ERR_TOO_MANY_ENTRIES, 1, KX_MAX_PACK_ENTRIES);
        return -1;
    }
    g_nPackEntryTotal += nCount;
    ++g_nPacks;
    return 0;
}

namespace {
struct SCAN_FOLDER {
    std::string strPath;
    int nDepth;
};
}  // namespace

static int ScanPackFoldersBody(int nMaxDepth, const char* pszStart)
{
    std::vector<SCAN_FOLDER> folders;
    folders.push_back(SCAN_FOLDER{pszStart, 1});
    std::vector<PLAT_DIR_ENTRY> entries;
    for (size_t nFolder = 0; nFolder < folders.size(); ++nFolder) {
        // Copies: the list grows while the folder is walked.
        const std::string strFolder = folders[nFolder].strPath;
        const int nDepth = folders[nFolder].nDepth;
        entries.clear();
        if (PlatListDir(strFolder.c_str(), &entries) != 0) continue;
        for (const PLAT_DIR_ENTRY& e : entries) {
            const char* pszName = e.strName.c_str();
            if (e.bIsDir) {
                if (CompareNoCaseASCII(pszName, "pac") != 0 || nDepth > nMaxDepth) continue;
                if (folders.size() >= KX_MAX_SCAN_FOLDERS) {
                    ReportError(KX_ERR_TOO_MANY_FOLDERS, 1);
                    return -1;
                }
                if (nDepth >= KX_MAX_SCAN_DEPTH) {
                    ReportError(KX_ERR_FOLDERS_TOO_DEEP, 1);
                    return -1;
                }
                folders.push_back(SCAN_FOLDER{strFolder + "\\" + e.strName, nDepth + 1});
                continue;
            }
            if (!EndsWithNoCase(pszName, ".kpf")) continue;
            std::string strPath = strFolder + "\\" + e.strName;
            LowerCaseASCII(strPath.data());
            if (IsUpdatePackPath(pszName)) {
                const int nSlot = pszName[6] - '0';
                char* pszCopy = DuplicateText(strPath.c_str());
                if (!pszCopy) throw std::bad_alloc();
                std::free(g_apszUpdatePackPath[nSlot]);
                g_apszUpdatePackPath[nSlot] = pszCopy;
                continue;
            }
            if (RegisterPack(strPath.c_str()) < 0) return -1;
        }
    }
    return 0;
}

int ScanPackFolders(int nMaxDepth, const char* pszStart)
{
    try {
        return ScanPackFoldersBody(nMaxDepth, pszStart);
    } catch (const std::bad_alloc&) {
        ReportError(KX_ERR_NO_MEMORY, 1);
        return -1;
    }
}

// ---------------------------------------------------------------------------------------------
// The index

namespace {

// An error met while the index is built. It is reported only once it is known to be the first in
// index order, because tables are read whole before equal hashes are compared.
struct INDEX_ERROR {
    int32_t nTime = INT32_MAX;   // the entry being taken in when it arose (the entries before it stay)
    int nId = 0;
    int bFatal = 0;
    std::string strArg;
};

// An earlier entry switched off by an update pack's entry nTime: its hash becomes dwHash.
struct INDEX_FLIP {
    int32_t nTime;
    int32_t nEntry;
    uint32_t dwHash;
};

// A key: the hash in the upper half, the pack number and the entry number in the lower, so that
// keys in order are in hash order and, within a hash, in index order.
constexpr int kKeyEntryBits = 18;
constexpr uint64_t kKeyEntryMask = (uint64_t(1) << kKeyEntryBits) - 1;
static_assert(KX_MAX_PACK_ENTRIES <= (1 << kKeyEntryBits), "entry numbers fit their key bits");
static_assert(KX_MAX_PACKS <= (1 << (32 - kKeyEntryBits)), "pack numbers fit their key bits");

inline uint64_t MakeKey(uint32_t dwHash, int32_t nPack, int32_t nEntry)
{
    return static_cast<uint64_t>(dwHash) << 32 | static_cast<uint64_t>(nPack) << kKeyEntryBits |
           static_cast<uint64_t>(nEntry);
}
inline uint32_t KeyHash(uint64_t k) { return static_cast<uint32_t>(k >> 32); }
inline int32_t KeyPack(uint64_t k) { return static_cast<int32_t>(static_cast<uint32_t>(k) >> kKeyEntryBits); }
inline int32_t KeyEntry(uint64_t k) { return static_cast<int32_t>(k & kKeyEntryMask); }

// The radix sort's digits: the hash in three digits of 11, 11 and 10 bits, least significant first.
constexpr int kDigitBits = 11;
constexpr int kDigits = 3;
constexpr uint32_t kDigitMask = (1u << kDigitBits) - 1;
constexpr size_t kDigitValues = size_t(1) << kDigitBits;
static_assert(kDigits * kDigitBits >= 32, "the digits cover the hash");

// The working state of one build. Besides the final arrays only a sort buffer for the keys is
// allocated, in one piece with them. The final arrays serve as working space until they are
// filled: the hash array holds the name positions in index order, the pack number and position
// arrays hold the keys as the tables are read (and are the other half of the radix sort), and the
// sort buffer, where the sorted keys end, is the buffer the tables are read through until then.
struct INDEX_BUILD {
    uint64_t* pKeys = nullptr;         // the keys in index order, in the pack number and position arrays
    uint64_t* pSortBuf = nullptr;      // the sorted keys
    uint8_t* pReadBuf = nullptr;       // the start of the sort buffer
    size_t nChunk = 0;                 // bytes of pReadBuf
    uint32_t anCount[kDigits][kDigitValues] = {};   // the sort's histograms of the hashes' digits
    uint8_t abLengthOf[256] = {};      // a name's length by its stored length byte
    int32_t nParsed = 0;               // entries read from the tables
    int32_t nFirstConfig = INT32_MAX;  // the first entry named kxbin\kxcfg.kbn
    bool abUpdate[KX_MAX_PACKS] = {};  // the pack is an update pack
    INDEX_ERROR readError;             // a damaged or unreadable table (nothing read after it)
    INDEX_ERROR matchError;            // a duplicate name or an unreadable name of equal hash
    std::vector<INDEX_FLIP> flips;
    // The two packs names were last read from, kept open (an update pack's entry and the entry
    // it replaces are read in turn): their numbers (-1 none), the one used last.
    SUBFILE aNameSub[2] = {};
    int32_t anNamePack[2] = {-1, -1};
    int nNameLast = 0;
};

// Keeps the error if it comes before the one held. -1.
int KeepError(INDEX_ERROR* pErr, int32_t nTime, int nId, int bFatal, const char* pszArg)
{
    if (nTime < pErr->nTime) {
        pErr->nTime = nTime;
        pErr->nId = nId;
        pErr->bFatal = bFatal;
        pErr->strArg = pszArg;
    }
    return -1;
}

// Counts the digits of a hash into the histograms of the sort.
inline void CountHashDigits(uint32_t (*pCount)[kDigitValues], uint32_t h)
{
    ++pCount[0][h & kDigitMask];
    ++pCount[1][h >> kDigitBits & kDigitMask];
    ++pCount[2][h >> 2 * kDigitBits];
}

constexpr size_t kMaxEntryBytes = KX_PACK_ENTRY_FIXED + 255;
constexpr size_t kReadChunk = size_t(1) << 16;
const char kConfigName[] = "kxbin\\kxcfg.kbn";

// Where a table's entries go: keys, positions (in index order) and the sort's histograms.
struct TABLE_SINK {
    const uint8_t* pLengthOf;   // a name's length by its stored length byte
    uint64_t* pKeys;
    uint32_t* pPositions;
    uint32_t (*pCount)[kDigitValues];
    uint64_t qwPack;        // the pack number in its key bits
    int32_t nNext;          // the next entry's number in the whole index
    int32_t nFirstConfig;   // the first entry named kxbin\kxcfg.kbn
};

// Runs of one name length shorter than this are followed by a stretch of entries taken without
// guessing the next one's place.
constexpr int32_t kShortRun = 4;
constexpr int32_t kPlainStretch = 64;

}  // namespace

// True when the entry at p (held whole, name length nLen) is named kxbin\kxcfg.kbn.
[[gnu::noinline]] static bool IsConfigEntry(const uint8_t* p, size_t nLen)
{
    char szName[256];
    DecodePackName(szName, p[4], p + 5, nLen);
    return CompareNoCaseASCII(szName, kConfigName) == 0;
}

// Takes the entry at p, held whole, its name nLen bytes long: hash (4), stored length (1), name
// (nLen), then 22 fixed bytes. nPosBias turns p's address into the position of its stored length
// byte in the pack.
inline void TakeEntry(TABLE_SINK* pSink, const uint8_t* p, size_t nLen, uintptr_t nPosBias)
{
    const int32_t j = pSink->nNext;
    const uint32_t h = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                       static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
    pSink->pKeys[j] = static_cast<uint64_t>(h) << 32 | pSink->qwPack | static_cast<uint32_t>(j);
    CountHashDigits(pSink->pCount, h);
    pSink->pPositions[j] = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p) + nPosBias);
    if (nLen == sizeof kConfigName - 1 && pSink->nFirstConfig == INT32_MAX && IsConfigEntry(p, nLen))
        pSink->nFirstConfig = j;
    pSink->nNext = j + 1;
}

// Takes the entries from p on (*pnLeft at most) that start at least the longest entry's size before
// pEnd, the end of the held bytes: they are held whole whatever their names' lengths (the held
// bytes all belong to the table). Returns where it stopped.
static const uint8_t* TakeHeldEntries(TABLE_SINK* pSink, const uint8_t* p, const uint8_t* pEnd, uintptr_t nPosBias,
                                      int32_t* pnLeft)
{
    TABLE_SINK sink = *pSink;   // in registers while the entries are taken
    int32_t nLeft = *pnLeft;
    const auto held = [&] { return nLeft > 0 && static_cast<size_t>(pEnd - p) >= kMaxEntryBytes; };
    while (held()) {
        // Names mostly come in runs of one length (a folder's files named alike): within a run
        // the next entry's place is known before its length byte is read, so the entries are not
        // taken one after the other's length.
        const size_t nLen = sink.pLengthOf[p[4]];
        int32_t nRun = 0;
        do {
            TakeEntry(&sink, p, nLen, nPosBias);
            p += KX_PACK_ENTRY_FIXED + nLen;
            --nLeft;
            ++nRun;
        } while (held() && sink.pLengthOf[p[4]] == nLen);
        if (nRun >= kShortRun) continue;
        // Where the lengths change often, each run's end is a wrong guess that costs more than
        // waiting for the length: a stretch of entries is taken one after the other's length.
        for (int32_t k = 0; k < kPlainStretch && held(); ++k) {
            const size_t nEntryLen = sink.pLengthOf[p[4]];
            TakeEntry(&sink, p, nEntryLen, nPosBias);
            p += KX_PACK_ENTRY_FIXED + nEntryLen;
            --nLeft;
        }
    }
    *pSink = sink;
    *pnLeft = nLeft;
    return p;
}

// Reads one pack's table into the keys and the positions (kept in the hash array, in index order),
// through the read buffer. 0, or -1 with the read error kept.
static int ReadPackTable(INDEX_BUILD* pBuild, int32_t nPack)
{
    const char* pszPath = g_apszPackPath[nPack];
    SUBFILE sub;
    if (OpenSubfile(&sub, pszPath) != 0) return KeepError(&pBuild->readError, pBuild->nParsed, KX_ERR_PACK_OPEN, 1, pszPath);
    int32_t nCount = 0, nTableSize = 0;
    const int64_t llFileSize = SubfileSize(&sub);
    bool bOk = SeekSubfile(&sub, 8) == 0 && ReadSubfileInt32(&sub, &nCount) == 0 &&
               ReadSubfileInt32(&sub, &nTableSize) == 0;
    // The table must fit the file and hold at least the fixed part of every entry, and the count
    // must still be the one registered.
    bOk = bOk && nCount >= 0 && nTableSize >= 0 && nCount <= g_nPackEntryTotal - pBuild->nParsed &&
          static_cast<int64_t>(nCount) * KX_PACK_ENTRY_FIXED <= nTableSize && nTableSize <= INT32_MAX - 64 &&
          llFileSize >= KX_PACK_HEADER_SIZE + static_cast<int64_t>(nTableSize) &&
          SeekSubfile(&sub, KX_PACK_HEADER_SIZE) == 0;
    const int32_t nFirst = pBuild->nParsed;
    const size_t nTable = static_cast<size_t>(nTableSize);
    uint8_t* const pBuf = pBuild->pReadBuf;
    TABLE_SINK sink{pBuild->abLengthOf, pBuild->pKeys, g_pdwPackHash, pBuild->anCount, static_cast<uint64_t>(nPack) << kKeyEntryBits,
                    nFirst, pBuild->nFirstConfig};
    size_t nBufFrom = 0, nBufLen = 0;   // the table offset of pBuf[0] and the bytes held
    size_t nOffset = 0;                 // never past the table's end
    bool bNameCut = false;
    for (int32_t nLeft = bOk ? nCount : 0; nLeft > 0;) {
        // Whole entries in the buffer: what is left of the held bytes moves to its front.
        const size_t nNeed = std::min(kMaxEntryBytes, nTable - nOffset);
        if (nOffset + nNeed > nBufFrom + nBufLen) {
            const size_t nKeep = nBufFrom + nBufLen - nOffset;
            std::memmove(pBuf, pBuf + (nOffset - nBufFrom), nKeep);
            nBufFrom = nOffset;
            const size_t nRead = std::min(pBuild->nChunk - nKeep, nTable - nOffset - nKeep);
            if (ReadSubfile(&sub, pBuf + nKeep, static_cast<int64_t>(nRead)) != static_cast<int64_t>(nRead)) {
                bOk = false;
                break;
            }
            nBufLen = nKeep + nRead;
        }
        const uint8_t* const pStart = pBuf + (nOffset - nBufFrom);
        const uintptr_t nPosBias = KX_PACK_HEADER_SIZE + 4 + nBufFrom - reinterpret_cast<uintptr_t>(pBuf);
        const uint8_t* p = TakeHeldEntries(&sink, pStart, pBuf + nBufLen, nPosBias, &nLeft);
        if (p == pStart) {
            // Near the end of the held bytes, which is the table's end here: the entry is checked
            // against it.
            const size_t nAvail = nTable - nOffset;
            const size_t nLen = nAvail >= 5 ? g_abPackNameLength[255 - p[4]] : 0;
            if (nAvail < 5 || nAvail < KX_PACK_ENTRY_FIXED + nLen) {
                bNameCut = true;
                break;
            }
            TakeEntry(&sink, p, nLen, nPosBias);
            p += KX_PACK_ENTRY_FIXED + nLen;
            --nLeft;
        }
        nOffset += static_cast<size_t>(p - pStart);
    }
    pBuild->nParsed = sink.nNext;
    pBuild->nFirstConfig = sink.nFirstConfig;
    CloseSubfile(&sub);
    if (!bOk) {
        // A table that cannot be read gives none of its entries.
        pBuild->nParsed = nFirst;
        if (pBuild->nFirstConfig >= nFirst) pBuild->nFirstConfig = INT32_MAX;
    }
    if (!bOk || bNameCut) return KeepError(&pBuild->readError, pBuild->nParsed, KX_ERR_PACK_VERSION, 1, pszPath);
    return 0;
}

// Sorts n keys (their order is index order) by hash, keeping the order of equal hashes: least
// significant digit first, one pass per digit that is not the same in every key. The passes go
// between pKeys and pScratch (n keys each); returns the one that holds the sorted keys. pCount holds
// the histograms of the hashes' digits (CountHashDigits).
static uint64_t* SortKeysByHash(uint64_t* pKeys, uint64_t* pScratch, size_t n, const uint32_t (*pCount)[kDigitValues])
{
    uint64_t* pFrom = pKeys;
    uint64_t* pTo = pScratch;
    if (n < 2) return pFrom;
    for (int nPass = 0; nPass < kDigits; ++nPass) {
        const int nShift = 32 + kDigitBits * nPass;
        const uint32_t* pDigits = pCount[nPass];
        if (pDigits[pFrom[0] >> nShift & kDigitMask] == n) continue;
        uint32_t anStart[kDigitValues];
        uint32_t nSum = 0;
        for (size_t d = 0; d < kDigitValues; ++d) {
            anStart[d] = nSum;
            nSum += pDigits[d];
        }
        for (size_t i = 0; i < n; ++i) {
            const uint64_t k = pFrom[i];
            pTo[anStart[k >> nShift & kDigitMask]++] = k;
        }
        std::swap(pFrom, pTo);
    }
    return pFrom;
}

// Sorts n keys held in the pack number and position arrays or in the sort buffer, through the
// other; the sorted keys end in the sort buffer, which is returned. The histograms are those
// counted while the tables were read, or counted here.
static uint64_t* SortKeysIntoBuffer(INDEX_BUILD* pBuild, uint64_t* pKeys, size_t n, bool bCounted)
{
    if (!bCounted) {
        std::memset(pBuild->anCount, 0, sizeof pBuild->anCount);
        for (size_t i = 0; i < n; ++i) CountHashDigits(pBuild->anCount, KeyHash(pKeys[i]));
    }
    uint64_t* const pOther = pKeys == pBuild->pSortBuf ? reinterpret_cast<uint64_t*>(g_pnPackNumber) : pBuild->pSortBuf;
    const uint64_t* pSorted = SortKeysByHash(pKeys, pOther, n, pBuild->anCount);
    if (pSorted != pBuild->pSortBuf) std::memcpy(pBuild->pSortBuf, pSorted, n * sizeof(uint64_t));
    return pBuild->pSortBuf;
}

// The stored name of index entry nEntry, decoded, from the pack as registered (relative to the
// current folder, as during start-up). The pack stays open for the next name. 0, or -1 when the
// pack does not open or the name is cut.
static int ReadIndexedName(INDEX_BUILD* pBuild, int32_t nEntry, char* pszOut)
{
    const int32_t nPack = g_pnPackNumber[nEntry];
    int nSlot = pBuild->anNamePack[0] == nPack ? 0 : pBuild->anNamePack[1] == nPack ? 1 : -1;
    if (nSlot < 0) {
        nSlot = 1 - pBuild->nNameLast;
        CloseSubfile(&pBuild->aNameSub[nSlot]);
        pBuild->anNamePack[nSlot] = -1;
        if (OpenSubfile(&pBuild->aNameSub[nSlot], g_apszPackPath[nPack]) != 0) return -1;
        pBuild->anNamePack[nSlot] = nPack;
    }
    pBuild->nNameLast = nSlot;
    SUBFILE* pSub = &pBuild->aNameSub[nSlot];
    uint8_t ab[256];
    int64_t nRead = -1;
    if (SeekSubfile(pSub, g_pnPackNamePos[nEntry]) == 0) nRead = ReadSubfile(pSub, ab, sizeof ab);
    if (nRead < 1) return -1;
    return DecodePackName(pszOut, ab[0], ab + 1, static_cast<size_t>(nRead - 1)) < 0 ? -1 : 0;
}

// An earlier entry of equal hash met by entry nEntry (named pszName): 0 another name, 1 switched
// off (the update pack's entry replaces it), -1 with the error kept.
static int MeetEarlierEntry(INDEX_BUILD* pBuild, int32_t nEarlier, int32_t nEntry, const char* pszName)
{
    char szEarlier[256];
    if (ReadIndexedName(pBuild, nEarlier, szEarlier) != 0)
        return KeepError(&pBuild->matchError, nEntry, KX_ERR_PACK_OPEN, 0, g_apszPackPath[g_pnPackNumber[nEarlier]]);
    if (CompareNoCaseASCII(szEarlier, pszName) != 0) return 0;
    if (!pBuild->abUpdate[g_pnPackNumber[nEntry]])
        return KeepError(&pBuild->matchError, nEntry, KX_ERR_PACK_DUPLICATE, 0, pszName);
    return 1;
}

// The name of entry nEntry for comparing, read back from its pack. 0, or -1 with the error kept.
static int ReadEntryNameToMatch(INDEX_BUILD* pBuild, int32_t nEntry, char* pszOut)
{
    if (ReadIndexedName(pBuild, nEntry, pszOut) == 0) return 0;
    return KeepError(&pBuild->matchError, nEntry, KX_ERR_PACK_OPEN, 0, g_apszPackPath[g_pnPackNumber[nEntry]]);
}

// The entries of one hash above 1 (n > 1 of them, in index order): each meets the earlier ones
// still live, in index order; the ones an update pack replaces leave the group for hash 0.
static void MatchHashRun(INDEX_BUILD* pBuild, const uint64_t* pRun, size_t n, std::vector<int32_t>* pLive)
{
    pLive->assign(1, KeyEntry(pRun[0]));
    for (size_t t = 1; t < n; ++t) {
        const int32_t j = KeyEntry(pRun[t]);
        if (j >= pBuild->matchError.nTime) return;   // past the first error nothing counts
        if (!pLive->empty()) {
            char szName[256];
            if (ReadEntryNameToMatch(pBuild, j, szName) != 0) return;
            for (size_t m = 0; m < pLive->size();) {
                const int r = MeetEarlierEntry(pBuild, (*pLive)[m], j, szName);
                if (r < 0) return;
                if (r == 0) {
                    ++m;
                    continue;
                }
                pBuild->flips.push_back(INDEX_FLIP{j, (*pLive)[m], 0u});
                pLive->erase(pLive->begin() + static_cast<std::ptrdiff_t>(m));
            }
        }
        pLive->push_back(j);
    }
}

// The groups of hash 0 and 1: the entries stored with those hashes and the entries switched off,
// which join them when they are replaced and move between them when replaced again. pLow holds
// the keys of hash 0 and then of hash 1 (nLow of them).
static void MatchLowHashes(INDEX_BUILD* pBuild, const uint64_t* pLow, size_t nLow)
{
    // Entries joining the group of hash 0 from higher hashes, by the time they were switched off.
    std::vector<INDEX_FLIP> joins = pBuild->flips;
    std::stable_sort(joins.begin(), joins.end(),
                     [](const INDEX_FLIP& a, const INDEX_FLIP& b) { return a.nTime < b.nTime; });
    size_t nZero = 0;
    while (nZero < nLow && pLow[nZero] >> 32 == 0) ++nZero;
    std::vector<int32_t> groups[2];   // live entries of hash 0 and 1, in index order
    const auto insert = [](std::vector<int32_t>& group, int32_t n) {
        group.insert(std::lower_bound(group.begin(), group.end(), n), n);
    };
    size_t nJoin = 0;
    for (size_t a = 0, b = nZero; a < nZero || b < nLow;) {
        // The stored entries of hash 0 and 1 in index order.
        const bool bZero = b >= nLow || (a < nZero && KeyEntry(pLow[a]) < KeyEntry(pLow[b]));
        const int32_t j = KeyEntry(bZero ? pLow[a++] : pLow[b++]);
        const int h = bZero ? 0 : 1;
        for (; nJoin < joins.size() && joins[nJoin].nTime < j; ++nJoin) insert(groups[0], joins[nJoin].nEntry);
        if (j >= pBuild->matchError.nTime) return;
        std::vector<int32_t>& group = groups[h];
        if (!group.empty()) {
            char szName[256];
            if (ReadEntryNameToMatch(pBuild, j, szName) != 0) return;
            for (size_t m = 0; m < group.size();) {
                const int32_t nEarlier = group[m];
                const int r = MeetEarlierEntry(pBuild, nEarlier, j, szName);
                if (r < 0) return;
                if (r == 0) {
                    ++m;
                    continue;
                }
                group.erase(group.begin() + static_cast<std::ptrdiff_t>(m));
                insert(groups[1 - h], nEarlier);
                pBuild->flips.push_back(INDEX_FLIP{j, nEarlier, static_cast<uint32_t>(1 - h)});
            }
        }
        insert(group, j);
    }
}

// Writes the hashes in index order from the sorted keys (entries below nEntries) and switches off
// the entries replaced before entry nUpTo was taken in (with it).
static void WriteIndexOrderHashes(INDEX_BUILD* pBuild, const uint64_t* pSorted, size_t n, int32_t nEntries, int32_t nUpTo)
{
    for (size_t i = 0; i < n; ++i) {
        const int32_t j = KeyEntry(pSorted[i]);
        if (j < nEntries) g_pdwPackHash[j] = KeyHash(pSorted[i]);
    }
    std::stable_sort(pBuild->flips.begin(), pBuild->flips.end(),
                     [](const INDEX_FLIP& a, const INDEX_FLIP& b) { return a.nTime < b.nTime; });
    for (const INDEX_FLIP& f : pBuild->flips)
        if (f.nTime <= nUpTo) g_pdwPackHash[f.nEntry] = f.dwHash;
}

// Reads every table, then finds the entries of equal hashes through one sort: only those are
// compared by name (read back from their packs), in the order the entries were taken in, and the
// first error in that order is the one reported. The arrays end sorted by hash, equal hashes in
// index order.
static int BuildIndexArrays(INDEX_BUILD* pBuild)
{
    for (int32_t nPack = 0; nPack < g_nPacks; ++nPack) {
        pBuild->abUpdate[nPack] = IsUpdatePackPath(g_apszPackPath[nPack]) != 0;
        if (ReadPackTable(pBuild, nPack) != 0) break;
    }
    const size_t n = static_cast<size_t>(pBuild->nParsed);
    // The histograms counted while reading hold the keys of a table that was then dropped too.
    uint64_t* const pSorted = SortKeysIntoBuffer(pBuild, pBuild->pKeys, n, pBuild->readError.nTime == INT32_MAX);
    // Pack numbers and positions in index order, for reading names back: first only for the entries
    // whose names are compared (those of equal hashes), and for all once an error or a replaced
    // entry needs the index in index order.
    const auto takeIndexOrder = [pSorted](size_t nFrom, size_t nTo) {
        for (size_t i = nFrom; i < nTo; ++i) {
            const int32_t j = KeyEntry(pSorted[i]);
            g_pnPackNumber[j] = KeyPack(pSorted[i]);
            g_pnPackNamePos[j] = static_cast<int32_t>(g_pdwPackHash[j]);
        }
    };

    size_t nLow = 0;
    while (nLow < n && KeyHash(pSorted[nLow]) <= 1) ++nLow;
    std::vector<int32_t> live;
    for (size_t i = nLow; i < n;) {
        // i starts a run of equal hashes. Equal hashes are few: a block of keys of which no two
        // neighbours (the last with the key after the block too) share a hash is passed over whole.
        constexpr size_t kBlock = 32;
        if (n - i > kBlock) {
            uint64_t qwEqual = 0;
            for (size_t t = i; t < i + kBlock; ++t)
                qwEqual |= static_cast<uint64_t>(KeyHash(pSorted[t]) == KeyHash(pSorted[t + 1]));
            if (qwEqual == 0) {
                i += kBlock;
                continue;
            }
        }
        const uint32_t h = KeyHash(pSorted[i]);
        size_t e = i + 1;
        while (e < n && KeyHash(pSorted[e]) == h) ++e;
        if (e - i > 1) {
            takeIndexOrder(i, e);
            MatchHashRun(pBuild, pSorted + i, e - i, &live);
        }
        i = e;
    }
    takeIndexOrder(0, nLow);
    MatchLowHashes(pBuild, pSorted, nLow);

    const INDEX_ERROR* pError = nullptr;
    int32_t nEntries = pBuild->nParsed;
    if (pBuild->matchError.nTime != INT32_MAX) {
        pError = &pBuild->matchError;
        nEntries = pError->nTime + 1;   // the entry that met the error was taken in
    } else if (pBuild->readError.nTime != INT32_MAX) {
        pError = &pBuild->readError;
    }
    if (pBuild->nFirstConfig < nEntries) g_bPackedData = 1;
    g_nPackEntries = nEntries;
    if (pError || !pBuild->flips.empty()) takeIndexOrder(0, n);
    if (pError) {
        // The index as far as it came, in index order.
        WriteIndexOrderHashes(pBuild, pSorted, n, nEntries, pError->nTime);
        ReportErrorF(pError->nId, pError->bFatal, pError->strArg.c_str());
        return -1;
    }
    if (!pBuild->flips.empty()) {
        // Replaced entries have new hashes: the keys are made again in index order and sorted again.
        WriteIndexOrderHashes(pBuild, pSorted, n, nEntries, INT32_MAX);
        for (size_t j = 0; j < n; ++j)
            pSorted[j] = MakeKey(g_pdwPackHash[j], g_pnPackNumber[j], static_cast<int32_t>(j));
        std::memcpy(g_pdwPackHash, g_pnPackNamePos, n * sizeof(int32_t));
        SortKeysIntoBuffer(pBuild, pSorted, n, false);
    }
    // The positions in index order are in the hash array: gathered in key order, then the hashes.
    for (size_t i = 0; i < n; ++i) {
        g_pnPackNumber[i] = KeyPack(pSorted[i]);
        g_pnPackNamePos[i] = static_cast<int32_t>(g_pdwPackHash[KeyEntry(pSorted[i])]);
    }
    for (size_t i = 0; i < n; ++i) g_pdwPackHash[i] = KeyHash(pSorted[i]);
    return 0;
}

int BuildPackIndex(void)
{
    FreePackIndex();
    if (g_bAppendedData) {
        // Any path opens the executable at the appended pack.
        if (RegisterPack("appended.kpf") < 0) return -1;
    } else if (ScanPackFolders(1, ".") != 0) {
        return -1;
    }
    // Update packs come last, in number order, so that each overrides what came before.
    for (int nSlot = 1; nSlot <= KX_MAX_UPDATE_PACKS; ++nSlot)
        if (g_apszUpdatePackPath[nSlot] && RegisterPack(g_apszUpdatePackPath[nSlot]) < 0) return -1;

    const size_t nAlloc = static_cast<size_t>(std::max<int32_t>(g_nPackEntryTotal, 1));
    // The three arrays and the build's sort buffer (the read buffer at first) in one block of large
    // pages: a fresh process pays for its pages per 2 MB, not per 4 KB (20 bytes an entry: the
    // full index takes two large pages). The sort buffer is freed with the arrays.
    const size_t nArray = (nAlloc * sizeof(uint32_t) + 63) / 64 * 64;
    const size_t nSortBuf = std::max(nAlloc * sizeof(uint64_t), kReadChunk);
    uint8_t* pBlock = static_cast<uint8_t*>(PlatAllocLargeArrays(3 * nArray + nSortBuf));
    if (!pBlock) {
        ReportError(KX_ERR_NO_MEMORY, 1);
        return -1;
    }
    g_pdwPackHash = reinterpret_cast<uint32_t*>(pBlock);
    g_pnPackNumber = reinterpret_cast<int32_t*>(pBlock + nArray);
    g_pnPackNamePos = reinterpret_cast<int32_t*>(pBlock + 2 * nArray);
    uint64_t* pWork = reinterpret_cast<uint64_t*>(pBlock + 3 * nArray);
    int nResult;
    INDEX_BUILD build;
    try {
        build.pKeys = reinterpret_cast<uint64_t*>(g_pnPackNumber);
        build.pSortBuf = pWork;
        build.pReadBuf = reinterpret_cast<uint8_t*>(pWork);
        build.nChunk = kReadChunk;
        for (int b = 0; b < 256; ++b) build.abLengthOf[b] = g_abPackNameLength[255 - b];
        nResult = BuildIndexArrays(&build);
    } catch (const std::bad_alloc&) {
        ReportError(KX_ERR_NO_MEMORY, 1);
        nResult = -1;
    }
    for (SUBFILE& sub : build.aNameSub) CloseSubfile(&sub);
    return nResult;
}

// ---------------------------------------------------------------------------------------------
// Reading an entry

int VerifyAndRepair(SUBFILE* pSub, uint8_t* pBuf, int32_t nLen, uint32_t dwChecksum, const char* pszName)
{
    if (nLen < 0) return -1;
    const size_t nBytes = static_cast<size_t>(nLen);
    if (MurmurHash2(pBuf, nBytes, 0) == dwChecksum) return 0;

    int32_t nParity = 0, nBlocks = 0;
    if (ReadSubfileInt32(pSub, &nParity) != 0 || nParity != KX_PACK_BLOCK) return -1;
    const size_t nExpected = (nBytes + KX_PACK_BLOCK - 1) / KX_PACK_BLOCK;
    if (ReadSubfileInt32(pSub, &nBlocks) != 0 || nBlocks < 0 || static_cast<size_t>(nBlocks) != nExpected) return -1;
    std::vector<uint8_t> checks(nExpected * 2);
    uint8_t abParity[KX_PACK_BLOCK];
    if (ReadSubfile(pSub, checks.data(), static_cast<int64_t>(checks.size())) != static_cast<int64_t>(checks.size()) ||
        ReadSubfile(pSub, abParity, KX_PACK_BLOCK) != KX_PACK_BLOCK)
        return -1;

    // X: the XOR of the blocks as read, fixed for the whole repair. Y: the XOR of the blocks as
    // they are now, kept current, so "the XOR of every other block" is Y ^ block j.
    uint8_t abX[KX_PACK_BLOCK] = {};
    for (size_t i = 0; i < nBytes; ++i) abX[i % KX_PACK_BLOCK] ^= pBuf[i];
    uint8_t abY[KX_PACK_BLOCK];
    std::memcpy(abY, abX, sizeof abY);
    for (size_t j = 0; j < nExpected; ++j) {
        uint8_t* pBlock = pBuf + j * KX_PACK_BLOCK;
        const size_t nBlock = std::min<size_t>(KX_PACK_BLOCK, nBytes - j * KX_PACK_BLOCK);
        const uint16_t wCheck = static_cast<uint16_t>(checks[2 * j] | checks[2 * j + 1] << 8);
        if (static_cast<uint16_t>(ComputeCRC32(pBlock, nBlock)) == wCheck) continue;
        for (size_t k = 0; k < nBlock; ++k) {
            if (abParity[k] == abX[k]) continue;
            const uint8_t bOld = pBlock[k];
            const uint8_t bNew = static_cast<uint8_t>(abParity[k] ^ abY[k] ^ bOld);
            pBlock[k] = bNew;
            abY[k] = static_cast<uint8_t>(abY[k] ^ bOld ^ bNew);
        }
    }
    return MurmurHash2(pBuf, nBytes, 0) == dwChecksum ? 1 : -1;
}

namespace {
// The fixed fields after an entry's type byte.
struct PACK_ENTRY_INFO {
    uint8_t bCompression;
    int32_t nSize;
    int32_t nStored;
    int64_t llOffset;
    uint32_t dwChecksum;
};
}  // namespace

static int ReadEntryInfo(SUBFILE* pSub, int64_t llAt, PACK_ENTRY_INFO* pInfo)
{
    int32_t nChecksum = 0;
    if (SeekSubfile(pSub, llAt) != 0 || ReadSubfileByte(pSub, &pInfo->bCompression) != 0 ||
        ReadSubfileInt32(pSub, &pInfo->nSize) != 0 || ReadSubfileInt32(pSub, &pInfo->nStored) != 0 ||
        ReadSubfileInt64(pSub, &pInfo->llOffset) != 0 || ReadSubfileInt32(pSub, &nChecksum) != 0)
        return -1;
    pInfo->dwChecksum = static_cast<uint32_t>(nChecksum);
    return 0;
}

// Reads the compressed bytes and inflates them into pOut (nSize bytes). The decoded length must be
// exactly the entry's size. 0, -2 damaged or not decodable, -3 no memory (reported).
static int InflateEntry(SUBFILE* pSub, const PACK_ENTRY_INFO& info, uint8_t* pOut, const char* pszPack,
                        const char* pszName)
{
    uint8_t* pStored = static_cast<uint8_t*>(std::malloc(info.nStored > 0 ? static_cast<size_t>(info.nStored) : 1));
    if (!pStored) {
        ReportErrorF(KX_ERR_FILE_NO_MEMORY, 1, pszName);
        return -3;
    }
    if (ReadSubfile(pSub, pStored, info.nStored) != info.nStored) {
        std::free(pStored);
        ReportErrorF(KX_ERR_PACK_DAMAGED, 1, pszPack, pszName);
        return -2;
    }
    int nResult = 0;
    for (int nTry = 0;; ++nTry) {
        uint32_t nOut = static_cast<uint32_t>(info.nSize);
        int z = g_pfnUncompress ? g_pfnUncompress(pOut, &nOut, pStored, static_cast<uint32_t>(info.nStored))
                                : KX_Z_MEM_ERROR;
        // Output shorter than the entry's size is damage too: the rest of the buffer would be garbage.
        if (z == KX_Z_OK && nOut != static_cast<uint32_t>(info.nSize)) z = KX_Z_DATA_ERROR;
        if (z == KX_Z_OK) break;
        if (z == KX_Z_DATA_ERROR && nTry == 0) {
            if (VerifyAndRepair(pSub, pStored, info.nStored, info.dwChecksum, pszName) >= 0) continue;
            ReportErrorF(KX_ERR_PACK_DAMAGED, 1, pszPack, pszName);
        } else if (z == KX_Z_DATA_ERROR) {
            ReportErrorF(KX_ERR_PACK_DAMAGED, 1, pszPack, pszName);
        } else if (z == KX_Z_BUF_ERROR) {
            ReportErrorF(KX_ERR_EXPAND_BUFFER, 1, pszName);
        } else {
            ReportErrorF(KX_ERR_EXPAND_NO_MEMORY, 1, pszName);
        }
        nResult = -2;
        break;
    }
    std::free(pStored);
    return nResult;
}

int ReadPackEntry(FILE_LOCATION* pLoc, const char* pszName)
{
    char szPath[KX_MAX_PATH];
    SUBFILE sub;
    const bool bKnown = pLoc->nPack >= 0 && pLoc->nPack < g_nPacks && g_apszPackPath[pLoc->nPack];
    const char* pszPack = bKnown ? g_apszPackPath[pLoc->nPack] : "";
    if (!bKnown || BuildPackOpenPath(szPath, sizeof szPath, pLoc->nPack) != 0 || OpenSubfile(&sub, szPath) != 0) {
        ReportErrorF(KX_ERR_PACK_OPEN, 1, pszPack);
        return -3;
    }
    PACK_ENTRY_INFO info{};
    const int64_t llFileSize = SubfileSize(&sub);
    bool bSound = ReadEntryInfo(&sub, pLoc->llDataOffset, &info) == 0;
    if (bSound && info.bCompression > 1) {
        CloseSubfile(&sub);
        ReportErrorF(KX_ERR_PACK_OPEN, 1, pszPack);
        return -3;
    }
    // Every size and offset must lie inside the file. A stored entry holds exactly its size; a
    // compressed one cannot decode to more than zlib's largest ratio (about 1032 to 1) allows.
    bSound = bSound && info.nSize >= 0 && info.nStored >= 0 && info.llOffset >= 0 && llFileSize >= 0 &&
             info.llOffset <= llFileSize - info.nStored &&
             (info.bCompression == 1 ? info.nSize <= static_cast<int64_t>(info.nStored) * 1032 + 64
                                     : info.nStored == info.nSize) &&
             SeekSubfile(&sub, info.llOffset) == 0;
    if (!bSound) {
        CloseSubfile(&sub);
        ReportErrorF(KX_ERR_PACK_DAMAGED, 1, pszPack, pszName);
        return -2;
    }
    uint8_t* pData = static_cast<uint8_t*>(std::malloc(info.nSize > 0 ? static_cast<size_t>(info.nSize) : 1));
    if (!pData) {
        CloseSubfile(&sub);
        ReportErrorF(KX_ERR_FILE_NO_MEMORY, 1, pszName);
        return -3;
    }
    int nResult = 0;
    if (info.bCompression == 0) {
        if (ReadSubfile(&sub, pData, info.nStored) != info.nStored ||
            VerifyAndRepair(&sub, pData, info.nStored, info.dwChecksum, pszName) < 0) {
            ReportErrorF(KX_ERR_PACK_DAMAGED, 1, pszPack, pszName);
            nResult = -2;
        }
    } else {
        nResult = InflateEntry(&sub, info, pData, pszPack, pszName);
    }
    CloseSubfile(&sub);
    if (nResult != 0) {
        std::free(pData);
        return nResult;
    }
    pLoc->pData = pData;
    pLoc->nSize = info.nSize;
    return 0;
}

#include "core/pack_archive.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <new>
#include <numeric>
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

// The stored name of index entry j, decoded, from the pack as registered (relative to the
// current folder, as during start-up). 0, or -1 when the pack does not open or the name is cut.
static int ReadIndexedName(int32_t nEntry, char* pszOut)
{
    SUBFILE sub;
    if (OpenSubfile(&sub, g_apszPackPath[g_pnPackNumber[nEntry]]) != 0) return -1;
    uint8_t ab[256];
    int64_t nRead = -1;
    if (SeekSubfile(&sub, g_pnPackNamePos[nEntry]) == 0) nRead = ReadSubfile(&sub, ab, sizeof ab);
    CloseSubfile(&sub);
    if (nRead < 1) return -1;
    return DecodePackName(pszOut, ab[0], ab + 1, static_cast<size_t>(nRead - 1)) < 0 ? -1 : 0;
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
    std::free(g_pdwPackHash);
    std::free(g_pnPackNumber);
    std::free(g_pnPackNamePos);
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
        static std::set<std::string> s_setToldNotPack;
        if (s_setToldNotPack.insert(pszPath).second)
            std::fprintf(stderr, "kolvex: %s is not a pack archive (no pack header); it is left out\n",
                         PlatDisplayPath(pszPath).c_str());
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

void SortPackIndex(int32_t nFirst, int32_t nLast)
{
    if (nFirst < 0 || nLast >= g_nPackEntries || nFirst >= nLast) return;
    // A stable order: within a run of equal hashes the entries stay in index order. Lookups confirm
    // every candidate by its name and no two live entries share a name, so any order within a run
    // finds the same entry; a stable one keeps the result independent of the sort's internals.
    // Least-significant-digit radix sort on the hash, one byte per pass: linear in the count.
    const size_t n = static_cast<size_t>(nLast - nFirst + 1);
    std::vector<int32_t> order(n), spare(n);
    std::iota(order.begin(), order.end(), nFirst);
    for (int nShift = 0; nShift < 32; nShift += 8) {
        size_t anStart[257] = {};
        for (int32_t i : order) ++anStart[((g_pdwPackHash[i] >> nShift) & 0xFF) + 1];
        for (int b = 0; b < 256; ++b) anStart[b + 1] += anStart[b];
        for (int32_t i : order) spare[anStart[(g_pdwPackHash[i] >> nShift) & 0xFF]++] = i;
        order.swap(spare);
    }
    std::vector<uint32_t> hashes(n);
    std::vector<int32_t> packs(n), positions(n);
    for (size_t i = 0; i < n; ++i) {
        hashes[i] = g_pdwPackHash[order[i]];
        packs[i] = g_pnPackNumber[order[i]];
        positions[i] = g_pnPackNamePos[order[i]];
    }
    std::copy(hashes.begin(), hashes.end(), g_pdwPackHash + nFirst);
    std::copy(packs.begin(), packs.end(), g_pnPackNumber + nFirst);
    std::copy(positions.begin(), positions.end(), g_pnPackNamePos + nFirst);
}

namespace {
// The entries read so far grouped by their current hash, each group in index order, so that every
// new entry meets exactly the earlier entries of equal hash. Hashes above 1 keep their entries in
// chains through a flat table; the hashes 0 and 1, which also collect the entries switched off by
// update packs (in any index order), keep ordered sets.
struct HASH_GROUPS {
    std::vector<uint32_t> slotHash;
    std::vector<int32_t> slotHead, slotTail;   // -1: the slot is free
    std::vector<int32_t> next;                 // per entry: the next entry of its chain, or -1
    std::set<int32_t> low[2];
    size_t nMask = 0;
    int nShift = 64;

    explicit HASH_GROUPS(size_t nEntries)
    {
        size_t nSlots = 16;
        nShift = 60;
        while (nSlots < nEntries * 2) {
            nSlots *= 2;
            --nShift;
        }
        slotHash.assign(nSlots, 0);
        slotHead.assign(nSlots, -1);
        slotTail.assign(nSlots, -1);
        next.assign(nEntries, -1);
        nMask = nSlots - 1;
    }
    // The slot of a hash above 1: the one holding it or the free one where it goes. An emptied
    // chain keeps its slot (its tail stays set), so probing never stops early.
    size_t Slot(uint32_t h) const
    {
        // Fibonacci hashing: the top bits of the product depend on every bit of the hash.
        size_t i = static_cast<size_t>((h * 0x9E3779B97F4A7C15ull) >> nShift);
        while (slotTail[i] >= 0 && slotHash[i] != h) i = (i + 1) & nMask;
        return i;
    }
    void Append(uint32_t h, int32_t j)
    {
        if (h <= 1) {
            low[h].insert(j);
            return;
        }
        size_t i = Slot(h);
        slotHash[i] = h;
        if (slotHead[i] < 0) {
            slotHead[i] = j;
        } else {
            next[slotTail[i]] = j;
        }
        slotTail[i] = j;
        next[j] = -1;
    }
};
}  // namespace

// The decision for an earlier entry of equal hash: 0 another name, 1 switched off (the update
// pack's entry replaces it), -1 after a reported error.
static int MeetEarlierEntry(int32_t nEarlier, const char* pszName, bool bUpdatePack)
{
    char szEarlier[256];
    if (ReadIndexedName(nEarlier, szEarlier) != 0) {
        ReportErrorF(KX_ERR_PACK_OPEN, 0, g_apszPackPath[g_pnPackNumber[nEarlier]]);
        return -1;
    }
    if (CompareNoCaseASCII(szEarlier, pszName) != 0) return 0;
    if (!bUpdatePack) {
        ReportErrorF(KX_ERR_PACK_DUPLICATE, 0, pszName);
        return -1;
    }
    // No name can reach the earlier entry any more.
    g_pdwPackHash[nEarlier] = g_pdwPackHash[nEarlier] == 0 ? 1u : 0u;
    return 1;
}

// Compares a new entry with every earlier entry of its hash, in index order. 0, or -1 after a
// reported error.
static int CheckDuplicates(HASH_GROUPS* pGroups, uint32_t h, const char* pszName, bool bUpdatePack)
{
    if (h <= 1) {
        std::set<int32_t>& group = pGroups->low[h];
        for (auto it = group.begin(); it != group.end();) {
            const int32_t nEarlier = *it;
            int r = MeetEarlierEntry(nEarlier, pszName, bUpdatePack);
            if (r < 0) return -1;
            if (r == 0) {
                ++it;
                continue;
            }
            it = group.erase(it);
            pGroups->low[1 - h].insert(nEarlier);
        }
        return 0;
    }
    const size_t nSlot = pGroups->Slot(h);
    if (pGroups->slotTail[nSlot] < 0) return 0;
    int32_t nPrev = -1;
    for (int32_t nEarlier = pGroups->slotHead[nSlot]; nEarlier >= 0;) {
        const int32_t nNext = pGroups->next[nEarlier];
        int r = MeetEarlierEntry(nEarlier, pszName, bUpdatePack);
        if (r < 0) return -1;
        if (r == 1) {
            // Out of this chain and into the group of its new hash.
            if (nPrev < 0) {
                pGroups->slotHead[nSlot] = nNext;
            } else {
                pGroups->next[nPrev] = nNext;
            }
            if (pGroups->slotTail[nSlot] == nEarlier && nPrev >= 0) pGroups->slotTail[nSlot] = nPrev;
            pGroups->low[g_pdwPackHash[nEarlier]].insert(nEarlier);
        } else {
            nPrev = nEarlier;
        }
        nEarlier = nNext;
    }
    return 0;
}

// Reads one pack's entry table into the index from entry *pnNext on. Names are read back from the
// packs only where hashes are equal. 0, or -1 after a reported error.
static int IndexPack(int32_t nPack, int32_t* pnNext, HASH_GROUPS* pGroups)
{
    const char* pszPath = g_apszPackPath[nPack];
    SUBFILE sub;
    if (OpenSubfile(&sub, pszPath) != 0) {
        ReportErrorF(KX_ERR_PACK_OPEN, 1, pszPath);
        return -1;
    }
    int32_t nCount = 0, nTableSize = 0;
    const int64_t llFileSize = SubfileSize(&sub);
    bool bOk = SeekSubfile(&sub, 8) == 0 && ReadSubfileInt32(&sub, &nCount) == 0 &&
               ReadSubfileInt32(&sub, &nTableSize) == 0;
    // The table must fit the file and hold at least the fixed part of every entry, and the count
    // must still be the one registered.
    bOk = bOk && nCount >= 0 && nTableSize >= 0 && nCount <= g_nPackEntryTotal - *pnNext &&
          static_cast<int64_t>(nCount) * KX_PACK_ENTRY_FIXED <= nTableSize && nTableSize <= INT32_MAX - 64 &&
          llFileSize >= KX_PACK_HEADER_SIZE + static_cast<int64_t>(nTableSize);
    std::vector<uint8_t> table;
    if (bOk) {
        table.resize(static_cast<size_t>(nTableSize));
        bOk = SeekSubfile(&sub, KX_PACK_HEADER_SIZE) == 0 &&
              ReadSubfile(&sub, table.data(), nTableSize) == nTableSize;
    }
    CloseSubfile(&sub);
    if (!bOk) {
        ReportErrorF(KX_ERR_PACK_VERSION, 1, pszPath);
        return -1;
    }
    const bool bUpdatePack = IsUpdatePackPath(pszPath);
    size_t nOffset = 0;
    for (int32_t i = 0; i < nCount; ++i) {
        // hash (4), stored length (1), name (L), then 22 fixed bytes.
        char szName[256];
        int nLen = -1;
        if (nOffset + 5 <= table.size())
            nLen = DecodePackName(szName, table[nOffset + 4], table.data() + nOffset + 5, table.size() - nOffset - 5);
        if (nLen < 0 || nOffset + KX_PACK_ENTRY_FIXED + nLen > table.size()) {
            ReportErrorF(KX_ERR_PACK_VERSION, 1, pszPath);
            return -1;
        }
        const uint8_t* p = table.data() + nOffset;
        const uint32_t h = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
        const int32_t j = (*pnNext)++;
        g_pdwPackHash[j] = h;
        g_pnPackNumber[j] = nPack;
        g_pnPackNamePos[j] = static_cast<int32_t>(KX_PACK_HEADER_SIZE + nOffset + 4);
        nOffset += KX_PACK_ENTRY_FIXED + nLen;
        if (CompareNoCaseASCII(szName, "kxbin\\kxcfg.kbn") == 0) g_bPackedData = 1;
        if (CheckDuplicates(pGroups, h, szName, bUpdatePack) != 0) return -1;
        pGroups->Append(h, j);
    }
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
    g_pdwPackHash = static_cast<uint32_t*>(std::malloc(nAlloc * sizeof(uint32_t)));
    g_pnPackNumber = static_cast<int32_t*>(std::malloc(nAlloc * sizeof(int32_t)));
    g_pnPackNamePos = static_cast<int32_t*>(std::malloc(nAlloc * sizeof(int32_t)));
    if (!g_pdwPackHash || !g_pnPackNumber || !g_pnPackNamePos) {
        ReportError(KX_ERR_NO_MEMORY, 1);
        return -1;
    }
    int32_t nNext = 0;
    try {
        HASH_GROUPS groups(nAlloc);
        for (int32_t nPack = 0; nPack < g_nPacks; ++nPack) {
            int r = IndexPack(nPack, &nNext, &groups);
            g_nPackEntries = nNext;
            if (r != 0) return -1;
        }
    } catch (const std::bad_alloc&) {
        ReportError(KX_ERR_NO_MEMORY, 1);
        return -1;
    }
    g_nPackEntries = nNext;
    if (g_nPackEntries > 0) SortPackIndex(0, g_nPackEntries - 1);
    return 0;
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

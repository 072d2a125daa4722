// Pack archives (.kpf): the merged index of every pack's entries, built once at start-up, and the
// reading of one entry (stored or zlib) with its checksum and parity repair.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct SUBFILE;

enum {
    KX_MAX_PACKS = 100,
    KX_MAX_PACK_ENTRIES = 200000,
    KX_PACK_VERSION_MIN = 234,
    KX_PACK_HEADER_SIZE = 32,
    KX_PACK_ENTRY_FIXED = 27,      // bytes of a table entry besides its name
    KX_PACK_BLOCK = 1024,          // repair block and parity length
    KX_MAX_UPDATE_PACKS = 9,
    KX_MAX_SCAN_FOLDERS = 1000,
    KX_MAX_SCAN_DEPTH = 32,
};

// Packs: registration order; paths relative to the game folder, lower-cased.
extern char* g_apszPackPath[KX_MAX_PACKS];
extern int32_t g_nPacks;
// update1.kpf .. update9.kpf as found by the scan (slots 1..9; 0 unused).
extern char* g_apszUpdatePackPath[KX_MAX_UPDATE_PACKS + 1];
// Entries counted by the packs' headers so far.
extern int32_t g_nPackEntryTotal;
// The index: three parallel arrays sorted by hash. An entry overridden by an update pack has its
// hash replaced by 0 (or 1 when it was 0), so only the update pack's entry matches its name.
extern uint32_t* g_pdwPackHash;
extern int32_t* g_pnPackNumber;
extern int32_t* g_pnPackNamePos;   // position of the entry's stored length byte in its pack
extern int32_t g_nPackEntries;
// Set when a pack holds kxbin\kxcfg.kbn: the packed layout.
extern uint8_t g_bPackedData;

// The pack-name length permutation and the script-body key (most significant byte first).
extern uint8_t g_abPackNameLength[256];
extern uint8_t g_abScriptKey[4];

// Builds the name permutation and the script key. 0.
int InitPackNameTable(void);
// Registers the packs of a folder and its "pac" sub-folders down to nMaxDepth (start folder depth 1);
// update packs go into their slots. 0, or -1 after a reported error.
int ScanPackFolders(int nMaxDepth, const char* pszStart);
// 0 registered (or skipped: not a pack), -1 or -2 after a reported error.
int RegisterPack(const char* pszPath);
// The files named like packs that RegisterPack left out because they are no pack archives (engine
// paths, in the order met), so that a failed start can name them.
std::vector<std::string> ListLeftOutPacks(void);
// Registers every pack and reads their tables into the index. 0, or -1 after a reported error.
int BuildPackIndex(void);
// Releases the index and the pack paths; counts back to 0.
void FreePackIndex(void);

// The checksum test of an entry's stored bytes and the parity repair from the trailer that follows
// them (the subfile stands just after the stored bytes). 0 intact, 1 repaired, -1 damaged.
int VerifyAndRepair(SUBFILE* pSub, uint8_t* pBuf, int32_t nLen, uint32_t dwChecksum, const char* pszName);

// The path a pack is opened by after start-up: prefixed with the game folder outside the packed
// layout. 0, or -1 when it does not fit.
int BuildPackOpenPath(char* pszOut, size_t cap, int32_t nPack);
// Decodes a stored name (its stored length byte and the following bytes, nAvail of them) into
// pszOut (256 bytes). The name's length, or -1 when it runs past nAvail.
int DecodePackName(char* pszOut, uint8_t bStoredLength, const uint8_t* pStored, size_t nAvail);

// The save command (86) and the save-clear command (87): records are built in memory, one pending
// record per DNO, and written together into a save file in the save folder or into a memory save
// slot. The memory slots are save-file images kept for the run; slot 99999 packs all of them into
// the pending record of DNO 1024.
//
// Files are never patched in place: a new image of the whole file is built in memory and written
// to a temporary file beside it, which is renamed over the old file only when every byte has been
// written. A failed flush keeps the pending records.
#pragma once
#include <cstddef>
#include <cstdint>

#include "save/save_format.h"

struct LAYER;

enum {
    KX_SAVE_DNO_COUNT = KX_SAVE_TABLE_ENTRIES,   // DNO 1..1024, pending index DNO - 1
    KX_SAVE_SLOT_COUNT = KX_SAVE_MEM_SLOTS,      // memory slots 0..499 are used
    KX_SAVE_SLOT_TABLE = KX_SAVE_MEM_SLOT_TABLE, // entries of the slot tables
    KX_SAVE_SLOT_ALL = 99999,                    // the slot number that packs every slot into DNO 1024
    KX_SAVE_SCRATCH_MIN = 1 << 20,
};

// Argument ids of the save command.
enum {
    SAVE_ARG_FILE = 0,
    SAVE_ARG_SLOT = 1,
    SAVE_ARG_DNO = 2,
    SAVE_ARG_VAR = 3,
    SAVE_ARG_LAYER = 4,
    SAVE_ARG_LAYER_NUMBER = 5,
    SAVE_ARG_CONTAINER_FIRST = 6,    // 6 + 4 x (type - 1) + (class - 1)
    SAVE_ARG_CONTAINER_LAST = 17,
};

// ---- pending records (index DNO - 1) ----
// A pending record holds one record in its file form without the leading DNO: a 12-byte record
// header and the compressed body, or a container header with its sub-records. Size 0: none.
extern uint8_t* g_apPendingRecord[KX_SAVE_DNO_COUNT];
extern uint32_t g_anPendingSize[KX_SAVE_DNO_COUNT];
extern uint32_t g_anPendingCapacity[KX_SAVE_DNO_COUNT];
// Serialisation buffer of one body before compression; kept for the run.
extern uint8_t* g_pSaveScratch;
extern uint32_t g_nSaveScratchSize;

// ---- memory slots (0..499 used; 501 entries) ----
// Each slot is a growing buffer holding one save-file image: allocated on first use, only grows.
// Size is the write position (the used size after a write); the read position serves the loader.
extern uint8_t* g_apMemSlot[KX_SAVE_SLOT_TABLE];
extern uint32_t g_anMemSlotCapacity[KX_SAVE_SLOT_TABLE];
extern uint32_t g_anMemSlotSize[KX_SAVE_SLOT_TABLE];
extern uint32_t g_anMemSlotReadPos[KX_SAVE_SLOT_TABLE];

// Writes a whole save file: PlatWriteFileAtomic (a temporary file beside the target, renamed over
// it when complete). Tests put a failing writer here. 0, or -1 with errno set.
extern int (*g_pfnWriteSaveFile)(const char* pszPath, const void* pData, size_t n);

// Command handlers: 0 go on, -1 after an error.
int CmdSave(void);
int CmdSaveClear(void);

// Raw size of a record including its 12-byte header; -1 when it cannot be stored (a body above
// the format's limits).
int64_t GetSaveRecordSize(int bLayer, int nVar, int64_t llElem, int bWhole, const LAYER* pLayer);
// Appends one record (header and compressed body) to the pending record of DNO index nIndex.
// Returns the compressed size + 12, or -1 after a reported failure (the pending record is then
// left as it was before the call).
int64_t AppendSaveRecord(int nIndex, int bLayer, int nVar, int64_t llElem, int bWhole, const LAYER* pLayer,
                         int64_t llRecordSize);
uint64_t GetVarCompressBound(uint64_t n);
uint64_t GetLayerCompressBound(uint64_t n);

// Pending-buffer appenders (the buffer must have been grown first; 0 or -1 when it would overflow).
int GrowPendingRecord(int nIndex, uint64_t nCapacity);
int AppendPendingU8(int nIndex, uint8_t b);
int AppendPendingU16(int nIndex, uint16_t w);
int AppendPendingU32(int nIndex, uint32_t dw);
int PatchPendingU32(int nIndex, uint32_t nPos, uint32_t dw);
uint32_t GetPendingSize(int nIndex);

// Slot writers: 4-byte little-endian integers and byte blocks at the slot's write position,
// advancing it; 0, or -1 when the slot's capacity would be exceeded (nothing written).
int WriteSlotU32(int nSlot, uint32_t dw);
int WriteSlotBytes(int nSlot, const void* p, uint32_t n);
uint32_t GetSlotWritePos(int nSlot);
void SetSlotWritePos(int nSlot, uint32_t nPos);

// Builds the pending record of DNO 1024 from all memory slots: 0, or -1 after a reported failure
// (no partial DNO 1024 is left pending).
int PackMemorySlots(void);
// Frees the pending record of DNO index nIndex, or of all 1024 with -1.
void FreePendingRecords(int nIndex);
// Shut-down hook: frees every pending record and the scratch buffer.
void FreeAllSaveBuffers(void);
// Start-up: clears the four slot tables (buffers are released).
void ClearMemorySaveSlots(void);
// Creates every missing level of a folder (engine path, cp932 with '\'; a trailing '\' allowed).
// 0 when the folder exists afterwards, -1 otherwise.
int CreateSaveFolder(const char* pszFolder);
// Replaces every single-byte character a by b, skipping cp932 double-byte pairs.
void ReplaceCharDBCS(char* psz, char a, char b);

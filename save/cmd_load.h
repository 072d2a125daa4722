// The load command (54): reads one record by its DNO from a save file or from a memory save slot
// and restores it into a script variable (whole or one element), as a layer image that replaces a
// layer node, or, for a container, into every variable it holds. DNO 1024 of a file restores all
// memory slots from their packed blob.
//
// Every length, count and offset comes from outside and is checked against the bytes actually
// read before use; a record is wholly validated before its target is touched.
#pragma once
#include <cstddef>
#include <cstdint>

struct TREE_NODE;

// Argument ids of the load command.
enum {
    LOAD_ARG_FILE = 0,
    LOAD_ARG_SLOT = 1,
    LOAD_ARG_DNO = 2,
    LOAD_ARG_VAR = 3,
    LOAD_ARG_LAYER = 4,
    LOAD_ARG_LAYER_NUMBER = 5,
};

// The load command. 0 to go on; -1 after an error, and also after a container was restored (the
// thread's turn ends for this frame). A DNO the file does not hold reports 102110 and answers 0.
int CmdLoad(void);

// Uncompresses a record body into exactly nDst bytes: zlib when bZlib is 1, else Snappy. A failure,
// or a body that does not give exactly nDst bytes, shows "Uncompress Error." (zlib) or
// "Snp Uncompress Error." (Snappy) and answers -1; 0 on success.
int UncompressSaveRecord(const uint8_t* pSrc, uint32_t nSrc, uint8_t* pDst, uint32_t nDst, int bZlib);

// Restores a raw kind-0 body into variable nVar: the whole variable (bWhole 1) or its element llElem.
// The body is validated completely before anything is stored. pszPathText names the file in the
// damaged-file message (empty for a slot). 0, or -1 after a reported error.
int RestoreVariableRecord(int nVar, int bWhole, const uint8_t* pBody, size_t nBody, int64_t llElem,
                          const char* pszPathText);

// Replaces the layer node pOld by a new leaf at the absolute path pszPath (order key 1) whose new
// layer holds the image of the raw kind-1 body; no other property is restored. The body is
// validated and the pixel buffer made before the old node is freed, so a refusal leaves the tree as
// it was. 0, or -1 after a reported error.
int RestoreLayerRecord(TREE_NODE* pOld, const char* pszPath, const uint8_t* pBody, size_t nBody);

// Restores memory slots 0..499 from a slot blob record (its 12-byte header and packed entries,
// nRecord bytes). Every entry is uncompressed before any slot changes; a damaged blob shows
// "Load Error." and leaves every slot as it was. 0 or -1.
int RestoreMemorySlots(const uint8_t* pRecord, size_t nRecord);

// Slot readers: read at the slot's read position and advance it. Every read is bounded by the
// slot's size; 0, or -1 (nothing read, position unchanged) when the bytes are not there.
int ReadSlotU8(int nSlot, uint8_t* pb);
int ReadSlotU16(int nSlot, uint16_t* pw);
int ReadSlotU32(int nSlot, uint32_t* pdw);
int ReadSlotBytes(int nSlot, void* pOut, uint32_t n);

// The save-data byte layout: the save-file header with its offset table, the record framing, the
// bodies of the three record kinds (a variable, a layer image, a container of variables), the blob
// of all memory slots that DNO 1024 of a file may hold, and the codec each body uses.
//
// A memory slot holds exactly the bytes of a save file, so every function here works on both. All
// integers are little-endian. Everything that parses bytes from outside checks every length, count
// and offset against the bytes it was given and answers a KX_SAVE_ERR_* code instead of reading
// past them; the callers turn the codes into the engine's reports.
//
// File layout:
//   0     "KXSD", u32 480, u32 record count, u32 1024 (table size), u32 offset[1024]
//   4112  records, each: u32 DNO, 12-byte record header, the compressed body
// Record header: u8 kind, u8 1, u16 variable number (kind 0; else 0), u32 packed size, u32 raw size.
// Kind-0 body (Snappy): u32 type, u32 n, u32 dim[n], u32 value size, values (8 bytes each) or per
//   text element u32 length and its bytes. One element = a variable with n 0.
// Kind-1 body (zlib level 9): u32 1680, u32 P = w x 4 x h, the 1680-byte layer block (width at
//   136, height at 140), P pixel bytes B,G,R,A rows top-down.
// Kind-2 (container, not compressed again): kind-0 sub-records (header + Snappy body) one after the
//   other; packed size = their summed sizes, raw size = the sum of (raw body + 12).
// Slot blob (record of DNO 1024): a kind-0 header (variable 0), packed = summed entry sizes, raw =
//   sum of (slot size + 8); then 500 entries: u32 S, u32 Z, Z bytes (zlib level 1; S 0 and Z 0 for
//   an empty slot).
#pragma once
#include <cstddef>
#include <cstdint>

struct VAR_DESC;
struct LAYER;

enum {
    KX_SAVE_VERSION = 480,
    KX_SAVE_TABLE_ENTRIES = 1024,        // offset table entries; also the largest DNO
    KX_SAVE_MAX_DNO = 1024,
    KX_SAVE_SLOT_BLOB_DNO = 1024,        // DNO of a file that holds the memory-slot blob
    KX_SAVE_HEADER_SIZE = 4112,          // magic, version, count, table size, table
    KX_SAVE_RECORD_HEADER_SIZE = 12,
    KX_SAVE_RECORD_PREFIX = 16,          // u32 DNO + record header
    KX_SAVE_MEM_SLOTS = 500,             // slots 0..499
    KX_SAVE_MEM_SLOT_TABLE = 501,        // entries of the slot tables
    KX_SAVE_MIN_SLOT_CAPACITY = 51200,
    KX_SAVE_NAME_MAX = 32,               // bytes of a file name before ".sd"
    KX_SAVE_MAX_VALUE_SIZE = 40000000,   // largest value size of a kind-0 body
    KX_SAVE_LAYER_BLOCK_SIZE = 1680,
    KX_SAVE_LAYER_BLOCK_WIDTH = 136,     // int32 offsets inside the layer block
    KX_SAVE_LAYER_BLOCK_HEIGHT = 140,
    KX_SAVE_MAX_LAYER_WIDTH = 8192,
    KX_SAVE_LAYER_ZLIB_LEVEL = 9,
    KX_SAVE_SLOT_ZLIB_LEVEL = 1,
    KX_SAVE_SLOT_BLOB_ENTRY_PREFIX = 8,  // u32 S, u32 Z
};

// Record kinds.
enum { SAVEREC_VARIABLE = 0, SAVEREC_LAYER = 1, SAVEREC_CONTAINER = 2 };

// Error ids of the save and load commands (texts in the game's message table).
enum {
    KX_ERR_SAVE_NO_FILE = 102100,        // load: file (or slot) missing
    KX_ERR_SAVE_NO_RECORD = 102110,      // load: the DNO is not in the file
    KX_ERR_SAVE_TYPE = 102120,           // load: stored type differs from the variable's
    KX_ERR_SAVE_CREATE = 102140,         // save: the file cannot be created or written
    KX_ERR_SAVE_NAME_SLASH = 102150,     // a '\' in the file name
    KX_ERR_SAVE_NAME_LONG = 102160,      // a file name above 32 bytes
    KX_ERR_SAVE_PENDING = 102170,        // save: a record for the DNO is still pending
    KX_ERR_SAVE_MAGIC = 108030,
    KX_ERR_SAVE_VERSION = 108040,
    KX_ERR_SAVE_LAYER_INTO_VAR = 108050, // a layer record loaded into a variable
    KX_ERR_SAVE_VALUE_SIZE = 108070,     // value size refused or not matching the target
    KX_ERR_SAVE_DIMS = 108080,           // dimension count differs from the target
    KX_ERR_SAVE_DIM_SIZE = 108090,       // a dimension size differs from the target
    KX_ERR_SAVE_VAR_INTO_LAYER = 108100, // a variable record loaded into a layer
    KX_ERR_SAVE_LAYER_BLOCK = 108110,    // layer block or layer size refused
    KX_ERR_SAVE_INTERNAL = 900000,       // stored type or dimension count outside the format
};

// Results of the functions below (0 is success).
enum {
    KX_SAVE_OK = 0,
    KX_SAVE_ERR_SHORT = -1,        // the bytes end before a field, or a size runs past them
    KX_SAVE_ERR_MAGIC = -2,        // not "KXSD"
    KX_SAVE_ERR_VERSION = -3,      // not 480
    KX_SAVE_ERR_TYPE = -4,         // kind-0 type outside 1..3 (or a variable of no type)
    KX_SAVE_ERR_DIMS = -5,         // more than 8 dimensions
    KX_SAVE_ERR_VALUE_SIZE = -6,   // value size above 40,000,000, or not what the elements need
    KX_SAVE_ERR_TEXT_LENGTH = -7,  // a text element longer than what is left of its body
    KX_SAVE_ERR_LAYER_BLOCK = -8,  // layer block size not 1680
    KX_SAVE_ERR_LAYER_WIDE = -9,   // layer width above 8192
    KX_SAVE_ERR_LAYER_SIZE = -10,  // width or height below 1, or P not w x 4 x h
    KX_SAVE_ERR_CODEC = -11,       // compression failed, or decompression did not give the raw size
    KX_SAVE_ERR_NO_RECORD = -12,   // offset 0: the DNO is not stored
    KX_SAVE_ERR_BAD_DNO = -13,     // a DNO outside 1..1024
    KX_SAVE_ERR_ARG = -14,         // a bad call (NULL, element outside the variable, capacity too small)
    KX_SAVE_ERR_KIND = -15,        // record kind outside 0..2, or the wrong kind for the call
};

// ---- Little-endian fields ----
inline void PutSaveU16(uint8_t* p, uint16_t v) { p[0] = static_cast<uint8_t>(v); p[1] = static_cast<uint8_t>(v >> 8); }
inline void PutSaveU32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v); p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16); p[3] = static_cast<uint8_t>(v >> 24);
}
inline uint16_t GetSaveU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t GetSaveU32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

// ---- File header ----
struct SAVE_FILE_HEADER {
    uint32_t nVersion;
    uint32_t nCount;                           // records in the file
    uint32_t nTableSize;                       // 1024 as written; the reader does not rely on it
    uint32_t anOffset[KX_SAVE_TABLE_ENTRIES];  // anOffset[d - 1]: file offset of DNO d, 0 when absent
};
// Writes the 4112 header bytes ("KXSD", version, count, table size, table) into pOut.
void WriteSaveFileHeader(const SAVE_FILE_HEADER* pHdr, uint8_t* pOut);
// A header with version 480, count 0, table size 1024 and every offset 0.
void InitSaveFileHeader(SAVE_FILE_HEADER* pHdr);
// Parses the first bytes of a file or slot image. Checks, in this order: at least 8 bytes, magic
// (KX_SAVE_ERR_MAGIC), version (KX_SAVE_ERR_VERSION), then 4112 bytes (KX_SAVE_ERR_SHORT). Fewer
// than 4 bytes count as a wrong magic. Offsets are not checked here (see LocateSaveRecord).
int ParseSaveFileHeader(const uint8_t* pData, size_t nSize, SAVE_FILE_HEADER* pOut);

// ---- Record header ----
struct SAVE_RECORD_HEADER {
    uint8_t bKind;        // SAVEREC_*
    uint8_t bOne;         // 1 as written; not checked by the reader
    uint16_t wVar;        // variable number for kind 0, else 0
    uint32_t nPacked;     // bytes that follow the header
    uint32_t nRaw;        // body size after decompression (kind 2: sum of sub-record raw + 12)
};
void WriteSaveRecordHeader(const SAVE_RECORD_HEADER* pHdr, uint8_t* pOut);
// KX_SAVE_ERR_SHORT under 12 bytes; KX_SAVE_ERR_KIND for a kind above 2.
int ParseSaveRecordHeader(const uint8_t* pData, size_t nSize, SAVE_RECORD_HEADER* pOut);

// Finds the record of a DNO in a whole file or slot image: the offset must be non-zero (else
// KX_SAVE_ERR_NO_RECORD), at or after 4112, and the DNO, the header and nPacked bytes must lie
// inside the image (else KX_SAVE_ERR_SHORT). DNO outside 1..1024: KX_SAVE_ERR_BAD_DNO. The header
// must have been parsed by the caller's own checks or is parsed again here (magic and version).
// On success *pRec holds the header and *ppPacked the packed bytes (nPacked of them).
int LocateSaveRecord(const uint8_t* pImage, size_t nSize, int nDno, SAVE_RECORD_HEADER* pRec,
                     const uint8_t** ppPacked);
// The record that starts at nPos of a file image (used when a file is rewritten): stored DNO
// (must be 1..1024, else KX_SAVE_ERR_BAD_DNO), header and body must fit the image (else
// KX_SAVE_ERR_SHORT). *pnRecordBytes := 16 + packed size.
int ReadSaveRecordAt(const uint8_t* pImage, size_t nSize, size_t nPos, uint32_t* pnDno, SAVE_RECORD_HEADER* pRec,
                     size_t* pnRecordBytes);

// ---- Kind 0: variables ----
// Raw body size of a variable record (without the 12-byte header). bWhole 1: the whole variable
// nVar; 0: its element llElem only. Variables below 1000 are read through the store accessors.
// KX_SAVE_ERR_ARG for a number outside the table or an element outside the variable,
// KX_SAVE_ERR_TYPE for a variable without type, KX_SAVE_ERR_VALUE_SIZE when the value size would
// exceed 40,000,000 (such a record could never be loaded, so it is not written).
int GetVarBodySize(int nVar, int bWhole, int64_t llElem, uint32_t* pnSize);
// Writes the raw body into pOut (nCap bytes, at least GetVarBodySize's size; else
// KX_SAVE_ERR_ARG). *pnWritten := bytes written. Same errors as GetVarBodySize.
int SerializeVarBody(int nVar, int bWhole, int64_t llElem, uint8_t* pOut, size_t nCap, size_t* pnWritten);

// A parsed kind-0 body. Pointers refer into the parsed bytes.
struct SAVE_VAR_BODY {
    uint32_t nType;                        // 1 int64, 2 double, 3 text
    uint32_t nDims;                        // 0..8
    uint32_t anDim[8];
    uint32_t nValueSize;                   // the u32 after the dimensions
    uint64_t llCount;                      // elements: product of the dimensions (1 when none)
    const uint8_t* pValues;                // nValueSize bytes
};
// Parses and validates a raw kind-0 body of nSize bytes. Checks, in this order, each answered
// with the fields read so far already in *pOut: 8 bytes (SHORT), type 1..3 (TYPE), dims <= 8
// (DIMS), the dimensions and value size present (SHORT), value size <= 40,000,000 (VALUE_SIZE),
// value bytes inside the body (SHORT); then types 1/2: value size == count x 8 (VALUE_SIZE);
// type 3: the elements walked inside the value bytes: a length beyond what is left
// (TEXT_LENGTH), then exactly count elements filling exactly the value size (VALUE_SIZE). A zero
// dimension size gives count 0. Bytes after the values are ignored.
int ParseVarBody(const uint8_t* pData, size_t nSize, SAVE_VAR_BODY* pOut);
// Reads value i (0..count-1) of a parsed int64 or double body.
int64_t GetSaveBodyInt(const SAVE_VAR_BODY* pBody, uint64_t i);
double GetSaveBodyFloat(const SAVE_VAR_BODY* pBody, uint64_t i);
// Walks the text elements of a parsed text body: *pnPos starts at 0; each call gives the next
// element's bytes and length and returns 1, or 0 after the last one.
int NextSaveBodyText(const SAVE_VAR_BODY* pBody, size_t* pnPos, const char** ppText, uint32_t* pnLen);

// ---- Kind 1: layers ----
// Raw body size of a layer record: 8 + 1680 + width x 4 x height. KX_SAVE_ERR_ARG for NULL,
// KX_SAVE_ERR_LAYER_SIZE for a negative size, KX_SAVE_ERR_VALUE_SIZE above 4 GB - 1.
int GetLayerBodySize(const LAYER* pLayer, uint32_t* pnSize);
// u32 1680, u32 P, the layer block (SerializeLayerRecord: pointer fields and reserved bytes 0),
// the owned pixels (zeros when the layer has none). Same errors, plus KX_SAVE_ERR_ARG for nCap.
int SerializeLayerBody(const LAYER* pLayer, uint8_t* pOut, size_t nCap, size_t* pnWritten);

struct SAVE_LAYER_BODY {
    int32_t nWidth;               // from block byte 136
    int32_t nHeight;              // from block byte 140
    const uint8_t* pBlock;        // the 1680-byte block
    const uint8_t* pPixels;       // nPixelBytes = width x 4 x height
    uint32_t nPixelBytes;
};
// Checks, in this order: 8 bytes (SHORT), block size 1680 (LAYER_BLOCK), the block present
// (SHORT), width above 8192 (LAYER_WIDE, width and height already in *pOut), width or height
// below 1 or P != w x 4 x h in 64 bits (LAYER_SIZE), the pixels present (SHORT).
int ParseLayerBody(const uint8_t* pData, size_t nSize, SAVE_LAYER_BODY* pOut);

// ---- Compression by kind ----
// Largest compressed size for nRaw bytes of a body of a kind: Snappy's bound for kinds 0 and 2,
// a zlib bound (never below raw x 12 / 10) for kind 1.
uint64_t GetSaveCompressBound(int nKind, uint32_t nRaw);
// Compresses a body: kind 1 zlib level 9, kind 0 Snappy. *pnDstLen: capacity in, size out.
// KX_SAVE_ERR_CODEC when the codec fails (also for a capacity below the bound), KX_SAVE_ERR_KIND.
int CompressSaveBody(int nKind, const uint8_t* pSrc, uint32_t nSrcLen, uint8_t* pDst, uint32_t* pnDstLen);
// Uncompresses a body (zlib for kind 1, Snappy for kinds 0 and 2) into exactly nRaw bytes:
// anything else, including a different produced size, is KX_SAVE_ERR_CODEC.
int UncompressSaveBody(int nKind, const uint8_t* pSrc, uint32_t nSrcLen, uint8_t* pDst, uint32_t nRaw);

// Writes a whole record without its DNO: the 12-byte header (kind, 1, variable number, packed,
// raw) and the compressed body of the nRaw bytes at pRaw. pOut has nCap bytes; it needs 12 +
// GetSaveCompressBound (else KX_SAVE_ERR_ARG). *pnOut := 12 + packed size. Kind 2 is refused
// (KX_SAVE_ERR_KIND): a container is built with BeginSaveContainer / EndSaveContainer around
// kind-0 records.
int BuildSaveRecord(int nKind, uint16_t wVar, const uint8_t* pRaw, uint32_t nRaw, uint8_t* pOut, size_t nCap,
                    size_t* pnOut);
// Container framing: Begin writes the 12-byte header with packed 0 and raw 0 (nCap >= 12);
// End patches the header from the nSubBytes bytes of sub-records that follow it, summing their
// raw sizes + 12. End walks them and answers KX_SAVE_ERR_SHORT when they do not tile exactly.
int BeginSaveContainer(uint8_t* pOut, size_t nCap);
int EndSaveContainer(uint8_t* pHeader, size_t nSubBytes);
// Walks the sub-records of a container's packed bytes: *pnPos starts at 0; each call gives the
// next sub-record's header and compressed body and returns 1, 0 at the end, or
// KX_SAVE_ERR_SHORT (a header or body running past nSize), KX_SAVE_ERR_KIND (a sub-record that
// is not kind 0).
int NextSaveContainerRecord(const uint8_t* pPacked, size_t nSize, size_t* pnPos, SAVE_RECORD_HEADER* pRec,
                            const uint8_t** ppBody);

// ---- Memory-slot blob (DNO 1024) ----
// Largest blob (header included) for the slot sizes anSize[0..499].
uint64_t GetSlotBlobBound(const uint32_t* anSize);
// Packs slots 0..499 (apSlot[i] with anSize[i] bytes; size 0 for an empty slot, its pointer may
// be NULL) into pOut: header and 500 entries, zlib level 1. KX_SAVE_ERR_ARG when nCap is below the
// bound, KX_SAVE_ERR_CODEC when a compression fails (nothing usable is left in pOut).
// *pnOut := the blob's bytes.
int BuildSlotBlob(const uint8_t* const* apSlot, const uint32_t* anSize, uint8_t* pOut, size_t nCap, size_t* pnOut);
// Walks the entries after the blob's 12-byte header (pEntries, nSize bytes = the header's packed
// size): *pnPos starts at 0; each call gives S, Z and the Z bytes and returns 1, 0 when no byte is
// left, or KX_SAVE_ERR_SHORT (an entry running past nSize). S 0 with Z not 0 is
// KX_SAVE_ERR_VALUE_SIZE. The caller counts the entries (CheckSlotBlob checks the count).
int NextSlotBlobEntry(const uint8_t* pEntries, size_t nSize, size_t* pnPos, uint32_t* pnRaw, uint32_t* pnPacked,
                      const uint8_t** ppPacked);
// Checks a whole blob record (the 12-byte header and what follows, nSize bytes): a kind-0 header,
// packed size inside nSize, exactly 500 entries filling exactly the packed size, raw size == the
// sum of (S + 8). 0 or the first KX_SAVE_ERR_* met.
int CheckSlotBlob(const uint8_t* pBlob, size_t nSize);
// Uncompresses one slot entry into exactly nRaw bytes (zlib); KX_SAVE_ERR_CODEC otherwise.
int UncompressSlotImage(const uint8_t* pSrc, uint32_t nSrcLen, uint8_t* pDst, uint32_t nRaw);

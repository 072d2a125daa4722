// Writes save files and memory-slot images for tests, independently of the engine's own writer:
// every byte is laid out here, and zlib and Snappy are called directly. Each field can be given a
// false value, so the same builder writes sound files and damaged ones (wrong magic or version,
// offsets into nowhere, lying sizes, truncated bodies, garbage in place of compressed data).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// How a record's packed bytes are made from its raw body.
enum {
    SB_CODEC_BY_KIND = -1,   // kind 1 zlib level 9, kind 2 none (sub-records), else Snappy
    SB_CODEC_NONE = 0,       // the raw bytes as they are
    SB_CODEC_SNAPPY = 1,
    SB_CODEC_ZLIB = 2,
};

struct SAVE_BUILDER_RECORD {
    int nDno = 1;                     // table slot the record is entered into (1..1024)
    int nKind = 0;                    // kind byte: 0 variable, 1 layer, 2 container (any byte for damage)
    int nOneByte = 1;                 // the second header byte
    uint16_t wVar = 0;                // variable number (kind 0)
    std::vector<uint8_t> raw;         // raw body (kinds 0 and 1; ignored for a container)
    int nCodec = SB_CODEC_BY_KIND;
    int nZlibLevel = 9;
    std::vector<SAVE_BUILDER_RECORD> subRecords;   // kind 2: the sub-records (their nDno is unused)

    // Raw options for damaged records; each left at its default writes a sound record.
    int64_t llRawDno = -1;            // DNO written before the header instead of nDno
    int64_t llRawPacked = -1;         // packed size written instead of the true one
    int64_t llRawRawSize = -1;        // raw size written instead of the true one
    bool bPackedGiven = false;        // packedBytes are written as the packed body, uncompressed
    std::vector<uint8_t> packedBytes;
    int64_t llTruncatePacked = -1;    // keep only this many packed bytes (the header still says the size)
    bool bNotInTable = false;         // write the record but leave its table entry 0
};

struct SAVE_BUILDER_OPTIONS {
    std::string strMagic = "KXSD";    // written as given, cut or padded with 0 to 4 bytes
    uint32_t nVersion = 480;
    int64_t llRawCount = -1;          // record count written instead of the true one
    uint32_t nTableSize = 1024;
    std::vector<std::pair<int, uint32_t>> rawOffsets;   // (DNO, offset) written over the table
    int64_t llTruncate = -1;          // cut the whole image to this many bytes
    std::vector<uint8_t> trailing;    // bytes appended after the last record
};

// ---- Raw bodies of kind 0 ----
// Whole variables (dims empty: a scalar / one element). Types 1 int64, 2 double, 3 text.
std::vector<uint8_t> MakeSaveIntBody(const std::vector<uint32_t>& dims, const std::vector<int64_t>& values);
std::vector<uint8_t> MakeSaveFloatBody(const std::vector<uint32_t>& dims, const std::vector<double>& values);
std::vector<uint8_t> MakeSaveTextBody(const std::vector<uint32_t>& dims, const std::vector<std::string>& texts);
// Any kind-0 body: u32 type, u32 dims.size(), the dims, u32 value size, then the value bytes. A
// value size of -1 writes values.size().
std::vector<uint8_t> MakeSaveVarBodyRaw(uint32_t nType, const std::vector<uint32_t>& dims, int64_t llValueSize,
                                        const std::vector<uint8_t>& values);

// ---- Raw bodies of kind 1 ----
// u32 block size, u32 P (-1: width x 4 x height, wrapped to 32 bits), a 1680-byte block of zeros
// with the width at 136 and the height at 140 (blockSize bytes when it is not 1680, as long as
// it is above 144), then the pixels (padded with zeros or cut to P when given otherwise).
std::vector<uint8_t> MakeSaveLayerBody(int32_t nWidth, int32_t nHeight, const std::vector<uint8_t>& pixels,
                                       uint32_t nBlockSize = 1680, int64_t llP = -1);

// ---- Memory-slot blob ----
struct SLOT_BLOB_ENTRY {
    std::vector<uint8_t> image;       // the slot's bytes (empty: an empty slot)
    int64_t llRawS = -1;              // S written instead of image.size()
    int64_t llRawZ = -1;              // Z written instead of the compressed size (bytes still as made)
    bool bGarbage = false;            // write the image bytes uncompressed in place of zlib data
};
// The record of DNO 1024 that holds the slots: slots.size() entries (500 for a sound blob), kind 0,
// variable 0, the entries uncompressed as the packed bytes, raw size = sum of (S + 8).
SAVE_BUILDER_RECORD MakeSlotBlobRecord(const std::vector<SLOT_BLOB_ENTRY>& slots);

// ---- Whole images ----
// The file (or slot) image: header, table, records in the order given (each at the next free
// position after 4112).
std::vector<uint8_t> BuildSaveImage(const std::vector<SAVE_BUILDER_RECORD>& records,
                                    const SAVE_BUILDER_OPTIONS& opt = {});
// Writes the image to a native path. 0 or -1.
int WriteSaveImageFile(const std::string& strNativePath, const std::vector<uint8_t>& image);
// The packed bytes of one record as BuildSaveImage writes them after the 12-byte header.
std::vector<uint8_t> PackSaveRecordBody(const SAVE_BUILDER_RECORD& rec);
// The 12-byte header and the packed body (no DNO), as a record appears inside a container or in
// a pending record.
std::vector<uint8_t> BuildSaveRecordBytes(const SAVE_BUILDER_RECORD& rec);

// ---- Reading back (checks in tests) ----
uint32_t SaveImageU32(const std::vector<uint8_t>& image, size_t nPos);   // 0 past the end
// The table entry of a DNO (1..1024), or 0 when the image is too short.
uint32_t SaveImageOffset(const std::vector<uint8_t>& image, int nDno);
// Uncompresses with the codec (SB_CODEC_SNAPPY / SB_CODEC_ZLIB) into a buffer of nRaw bytes;
// false when the codec fails or produces another size.
bool UncompressForTest(int nCodec, const uint8_t* pSrc, size_t nSrc, size_t nRaw, std::vector<uint8_t>* pOut);

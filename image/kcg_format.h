// KCG, the engine's own image format: a 32-bit B,G,R,A image stored in two parts so that two image
// workers can decode the halves at the same time. Each part is raw, zlib, Snappy or WebP.
//
// The 56-byte head (all integers little-endian, 32-bit):
//   0 magic "KCG\0", 4 width, 8 height, 12 reserved, 16 compression (KCGCOMP_*), 20..31 reserved,
//   32 part-1 decoded size, 36 part-1 stored size, 40..47 reserved, 48 part-2 decoded size,
//   52 part-2 stored size; part 1's data follows at 56, part 2's right after it.
// Decoded, part 1 fills the pixel buffer from its start and part 2 continues at the part-1 decoded
// size (rows top-down, stride width x 4). A WebP part is a complete WebP picture of its rows.
//
// Every size is checked against the file and the image before anything is decoded: the parts must
// lie inside the file, both decoded sizes together must fit the image, a raw part's stored size
// must equal its decoded size, and a part must decode to exactly its decoded size. Pixels no part
// covers stay 0 (transparent after the load's normal form).
#pragma once
#include <cstddef>
#include <cstdint>

struct FILE_LOCATION;
struct LAYER;
struct WORKER_JOB;
struct DECODED_IMAGE;

enum {
    KCGCOMP_RAW = 0,
    KCGCOMP_ZLIB = 1,
    KCGCOMP_SNAPPY = 2,
    KCGCOMP_WEBP = 3,
};

enum {
    KCG_HEADER_SIZE = 56,
    KCG_OFS_WIDTH = 4,
    KCG_OFS_HEIGHT = 8,
    KCG_OFS_COMPRESSION = 16,
    KCG_OFS_DECODED1 = 32,
    KCG_OFS_STORED1 = 36,
    KCG_OFS_DECODED2 = 48,
    KCG_OFS_STORED2 = 52,
};

// The head's fields as read from a file.
struct KCG_HEADER {
    uint8_t abMagic[4];
    uint32_t nWidth;
    uint32_t nHeight;
    uint32_t nCompression;
    uint32_t nDecoded1, nStored1;
    uint32_t nDecoded2, nStored2;
};

// Reads the head from a file image; -1 when the image is shorter than the head.
int ReadKCGHeader(const uint8_t* pData, size_t nSize, KCG_HEADER* pHead);

// Decodes a KCG file image into a new pixel buffer (AllocPixelBuffer) with has-alpha 1. Decodes the
// parts on image workers 0 and 1 when there are two or more, else here. Failures, each -1 with
// nothing allocated left behind: a short head, a part outside the file, decoded sizes beyond the
// image or a raw part whose sizes differ ("File Check Error."), a size outside 1..8192 (100091
// with the name), a part that does not decode ("Uncompress Status Error 1." / "... 2."). A magic
// other than "KCG\0" shows "File Check Error." and decoding goes on. An unknown compression decodes
// nothing: the image stays cleared.
int DecodeKCGImage(const uint8_t* pData, size_t nSize, const char* pszName, DECODED_IMAGE* pOut);

// LoadKCG of the image loader: reads the located file whole (by its source kind), decodes it and
// installs the pixels in the layer. 0, or -1 with the layer unchanged.
int LoadKCGImage(FILE_LOCATION* pLoc, LAYER* pLayer, const char* pszName);

// Worker job routines of the codes JOB_KCG_RAW .. JOB_KCG_WEBP. The record's index chooses the part
// (0: part 1, 1: part 2, any other: nothing). 0, or -(part number) when the part did not decode to
// exactly its decoded size.
int JobCopyKCGRaw(WORKER_JOB* pJob);
int JobDecodeKCGZlib(WORKER_JOB* pJob);
int JobDecodeKCGSnappy(WORKER_JOB* pJob);
int JobDecodeKCGWebP(WORKER_JOB* pJob);

// Installs the four job routines in the worker pool's table.
void InstallKcgJobs(void);

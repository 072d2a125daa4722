// A bounded cursor over the bytes of a file image, for every loader of compiled files.
// Integers are little-endian. A read that would pass the end fails instead: it returns -1, zeroes
// its output, leaves the position where it was and sets the failure flag. The flag is sticky: once
// set, every further read fails too, so a loader may read a whole record and test the flag once.
#pragma once
#include <cstddef>
#include <cstdint>

struct BIN_CURSOR {
    const uint8_t* pBase;   // first byte of the image
    size_t nSize;           // bytes in the image
    size_t nPos;            // next byte to read, 0..nSize
    uint8_t bFailed;        // 1 after any failed read or seek
};

// Points the cursor at nSize bytes from pBase, position 0, flag clear. A NULL base with size 0 is
// an empty image.
void InitBinCursor(BIN_CURSOR* pCur, const void* pBase, size_t nSize);

// Fixed-width reads: 0, or -1 (output 0).
int ReadU8(BIN_CURSOR* pCur, uint8_t* pOut);
int ReadU16(BIN_CURSOR* pCur, uint16_t* pOut);
int ReadI32(BIN_CURSOR* pCur, int32_t* pOut);
int ReadU32(BIN_CURSOR* pCur, uint32_t* pOut);
int ReadI64(BIN_CURSOR* pCur, int64_t* pOut);
int ReadF64(BIN_CURSOR* pCur, double* pOut);

// A NUL-terminated text that ends inside the image: *ppsz points at it in the image, *pnLen (may
// be NULL) is its length without the terminator, and the position moves past the terminator.
// No terminator before the end: -1 (*ppsz NULL, length 0).
int ReadCStr(BIN_CURSOR* pCur, const char** ppsz, size_t* pnLen);
// Copies n bytes into pDst: 0, or -1 (pDst zeroed, when not NULL).
int ReadBytes(BIN_CURSOR* pCur, void* pDst, size_t n);
// Takes n bytes in place: *pp points at them in the image. 0, or -1 (*pp NULL).
int ReadSpan(BIN_CURSOR* pCur, size_t n, const uint8_t** pp);
// Moves forward n bytes: 0, or -1 when fewer remain.
int SkipBytes(BIN_CURSOR* pCur, size_t n);
// Moves to position nPos (0..size; size itself is the end): 0, or -1.
int SeekCursor(BIN_CURSOR* pCur, size_t nPos);
// Bytes left after the position (0 once the flag is set).
size_t CursorRemaining(const BIN_CURSOR* pCur);

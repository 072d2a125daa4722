// The vector forms of the window filters (imageproc/filters_tone.cpp): one pass over a set of
// parallel lines of bytes, with running sums so that the cost does not grow with the radius.
//
// A pass sees the image as lines of n positions, each position nBytes bytes across (4 per
// pixel): the vertical pass walks the rows of the rectangle (a position is a row, the lines are
// its byte columns); the horizontal pass walks a strip of up to eight rows turned on its side (a
// position is one column of the strip, 32 bytes). Byte j of position i of the output is the
// window value of line j at i, computed from the same integers as the plain routine: the window
// of position i is max(0, i - r) .. min(n - 1, i + r), weighted or not, and the division by the
// window's divisor truncates.
//
// The plain routine stays the reference; filters_tone.cpp uses these forms when the processor has
// the instruction set, splits them over the image workers and falls back to the plain routine
// for lines too long for 32-bit sums.
#pragma once
#include <cstddef>
#include <cstdint>

// The longest line (positions) whose sums fit the lanes: 255 x 512 x n stays below 2^31.
enum { KX_WINDOW_MAX_LINE = 16000 };

struct WINDOW_LINES {
    const uint8_t* pIn;        // position 0 of the input
    ptrdiff_t nInStep;         // bytes from one position to the next
    uint8_t* pOut;
    ptrdiff_t nOutStep;
    const uint8_t* pZero;      // nBytes zero bytes: the positions past the end of the line
    int64_t nBytes;            // bytes across a position (a multiple of 4)
    int64_t n;                 // positions per line (1..KX_WINDOW_MAX_LINE)
    int64_t r, q, T;           // radius (1 or more), plateau half-width r / 4, tail taps min(9, r - q)
    int32_t bWeighted;
    int32_t bCopy;             // some channel copies its input byte
    int32_t bAlphaOnly;        // blue, green and red become 0, alpha the window value: a lane per pixel
    // Per position: the reciprocal of the divisor, raised a few units in the last place so that
    // sum x reciprocal truncates to the integer quotient for every sum of the window.
    const double* pInv;
    // Per position i < min(r, n): 1 where the window near the start takes its box sum (always for
    // the box filters; for the weighted ones where every weight of the window is 0).
    const uint8_t* pLeftBox;
    // Per position k < n: the weight of window entry k as a shift (512 >> d = 1 << (9 - d)), or -1
    // for weight 0.
    const int8_t* pLeftShift;
    // Per channel (B, G, R, A) twice over: lanes that take the window value, lanes that take the
    // input byte (all bits set or 0); a lane in neither becomes 0.
    uint32_t adwAverage[8];
    uint32_t adwCopy[8];
    // 3 x nBytes running sums, lane j of every array for byte j (j / 4 when bAlphaOnly).
    uint32_t* pState;
};

// Runs the pass over bytes [jBegin, jEnd) (multiples of 4) of every position.
typedef void (*PFN_WINDOW_LINES)(const WINDOW_LINES* pLines, int64_t jBegin, int64_t jEnd);
void WindowLinesSse2(const WINDOW_LINES* pLines, int64_t jBegin, int64_t jEnd);
void WindowLinesAvx2(const WINDOW_LINES* pLines, int64_t jBegin, int64_t jEnd);

// Turns nRows (1..8) rows of w pixels (nRowBytes apart) into a strip of w positions of 32 bytes,
// pixel x of row k at strip byte x * 32 + k * 4; and back.
void RowsToStrip(uint8_t* pStrip, const uint8_t* pRows, ptrdiff_t nRowBytes, int nRows, int64_t w);
void StripToRows(uint8_t* pRows, ptrdiff_t nRowBytes, const uint8_t* pStrip, int nRows, int64_t w);

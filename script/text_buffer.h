// The engine-wide message text: the text that text commands append to, with one width code per
// character ('1' single-byte, '2' double-byte, 'E' end of a message), and copies of the current
// text style.
#pragma once
#include <cstdint>

enum { KX_TEXT_BUFFER_BYTES = 8192 };
// Appends keep the text below this many bytes (a literal may fill it exactly); width codes are
// refused once they would not leave room for their terminator.
enum { KX_TEXT_LIMIT = 8190 };

// Width codes.
#define KX_WIDTH_SINGLE '1'
#define KX_WIDTH_DOUBLE '2'
#define KX_WIDTH_END 'E'

struct TEXT_BUFFER {
    int32_t nSize;          // copies of the text style (written and read by the text style commands)
    int32_t nHeight;
    int32_t nColorA;        // 0xRRGGBB
    int32_t nColorB;        // -1: same as A
    uint8_t bGradient;
    uint8_t bOrientation;
    uint8_t bBold;
    uint8_t bTransparent;
    uint8_t bAntialias;
    uint8_t bClearPending;  // the buffer is emptied at the next clear
    char* pszText;          // KX_TEXT_BUFFER_BYTES, terminated
    char* pszCodes;         // KX_TEXT_BUFFER_BYTES, terminated
    int32_t nTextLen;       // bytes in the text
    int32_t nCodeCount;     // bytes in the width codes
};

// Created at start-up; NULL before (its readers then see empty texts).
extern TEXT_BUFFER* g_pTextBuffer;

// Allocates the buffer with the style's start values (size and height 20, colour A white, colour B
// -1, gradient 1, anti-aliasing 1) and empty texts, in place of an earlier one. 0, or 1 after a
// fatal 100010 when memory runs out (the engine then stops).
int CreateTextBuffer(void);
// Empties the text and the width codes when a clear is pending, and resets the request. 0.
int ClearTextBuffer(void);
// Releases the buffer (shut-down and tests).
void FreeTextBuffer(void);
// The start-up and frame steps: CreateTextBuffer and ClearTextBuffer without their results.
void CreateTextBufferStep(void);
void ClearTextBufferStep(void);

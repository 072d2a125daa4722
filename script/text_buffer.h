// The engine-wide message text: the text that text commands append to, with one width code per
// character ('1' single-byte, '2' double-byte, 'E' end of a message), and copies of the current
// text style.
#pragma once
#include <cstdint>

enum { KX_TEXT_BUFFER_BYTES = 8192 };

struct TEXT_BUFFER {
    int32_t nSize;
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
    int32_t nTextLen;
    int32_t nCodeCount;
};

// Created at start-up; NULL before.
extern TEXT_BUFFER* g_pTextBuffer;

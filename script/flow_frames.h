// The three per-thread stacks of flow control: open if-blocks, open loops and call levels. Entries
// are allocated cleared on first use and kept for the thread's life.
#pragma once
#include <cstdint>

// Items of the call arguments and returned values are numbered 1..KX_CALL_ITEMS; each count-and-flag
// row holds the group's count in entry 0 and, in entry i, 1 when item i was given.
enum { KX_CALL_ITEMS = 16, KX_CALL_ROW = KX_CALL_ITEMS + 1 };

struct IF_BLOCK {
    uint8_t bLoopDepth;   // the thread's loop depth when the IF ran
    int32_t nIfCommand;   // command index of the IF itself
    int32_t nBlockEnd;    // command index of the END-IF (0 after the block is closed)
};

struct LOOP_FRAME {
    uint8_t bIfDepth;        // the thread's if depth when the LOOP ran
    int32_t nBodyStart;      // command index after the LOOP command
    int32_t nLoopEnd;        // command index of the LOOP-END command
    int64_t llPassCounter;   // number of the running pass, from 1
    int64_t llPassCount;     // passes to run; -1 endless
};

// Entry L: the arguments level L received, the return point saved when level L calls further, and
// the values returned to level L by its last callee. Item i is at index i - 1 of the value arrays.
struct CALL_FRAME {
    uint8_t bSavedIfDepth;
    uint8_t bSavedLoopDepth;
    int32_t nReturnCommand;
    uint16_t wReturnScript;
    int32_t nCallLine;
    int64_t allArgInt[KX_CALL_ITEMS];
    double adArgFloat[KX_CALL_ITEMS];
    char* apszArgText[KX_CALL_ITEMS];      // heap texts; NULL is the empty text
    int64_t allRetInt[KX_CALL_ITEMS];
    double adRetFloat[KX_CALL_ITEMS];
    char* apszRetText[KX_CALL_ITEMS];
    uint8_t abArgIntGiven[KX_CALL_ROW];
    uint8_t abArgFloatGiven[KX_CALL_ROW];
    uint8_t abArgTextGiven[KX_CALL_ROW];
    uint8_t abRetIntGiven[KX_CALL_ROW];
    uint8_t abRetFloatGiven[KX_CALL_ROW];
    uint8_t abRetTextGiven[KX_CALL_ROW];
};

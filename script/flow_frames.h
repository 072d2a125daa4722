// The three per-thread stacks of flow control: open if-blocks, open loops and call frames.
// Entries are allocated zeroed on first use and kept for the thread's life; entry 0 of each
// exists from the thread's creation.
#pragma once
#include <cstdint>

enum { KX_CALL_ITEMS = 17 };   // items 1..16 of each value group; entry 0 unused

// A growable heap text.
struct TEXT_SLOT {
    char* psz;
    uint32_t nCap;
};

struct IF_BLOCK {
    uint8_t nLoopDepth;    // the thread's loop depth when the IF ran
    int32_t nIfCommand;    // command index of the IF itself
    int32_t nBlockEnd;     // command index of the END-IF (0 once the block is closed)
};

struct LOOP_FRAME {
    uint8_t nIfDepth;      // the thread's if depth when the LOOP ran
    int32_t nBodyStart;    // command after the LOOP
    int32_t nLoopEnd;      // command index of the LOOP-END
    int64_t llPass;        // running pass, from 1
    int64_t llPassCount;   // passes to run; -1 endless
};

// Entry L: the arguments level L received, the return point level L saves when it calls further,
// and the values level L received from its last callee.
struct CALL_FRAME {
    uint8_t nSavedIfDepth;
    uint8_t nSavedLoopDepth;
    int32_t nReturnCommand;
    uint16_t wReturnScript;
    int32_t nCallLine;
    int64_t allArgInt[KX_CALL_ITEMS];
    double adArgFloat[KX_CALL_ITEMS];
    TEXT_SLOT aArgText[KX_CALL_ITEMS];
    int64_t allRetInt[KX_CALL_ITEMS];
    double adRetFloat[KX_CALL_ITEMS];
    TEXT_SLOT aRetText[KX_CALL_ITEMS];
    // One row per group above (int, float, text arguments; int, float, text returns): entry 0 the
    // count, entry i 1 when item i was given.
    uint8_t aabGiven[6][KX_CALL_ITEMS];
};

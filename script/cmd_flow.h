// Flow control commands: jumps to labels, subroutine calls with typed arguments and typed return
// values, if-blocks with else branches, counted loops, and the test whether a label exists.
//
// They keep the three stacks of the running thread (script/flow_frames.h): open if-blocks (at most
// 127), call levels (at most 63) and open loops (at most 63). The script compiler lays out each
// construct as a run of commands whose argument records carry command indices in their length
// fields, so most handlers read their records directly instead of decoding them. Every jump target
// is checked against the command count of the body it lands in; a label in another script loads
// that script's body and points the thread at it.
#pragma once
#include <cstdint>

#include "core/script_thread.h"

// Error ids of the flow commands (fatal; texts from the game's message table). A label that does
// not exist is KX_ERR_LABEL_NOT_FOUND (108180, script/script_tables.h) with the name.
enum {
    KX_ERR_FLOW_OUTSIDE = 101300,     // outside its construct, or leaving more levels than are open:
                                      // the command's name twice, then the construct's command name
    KX_ERR_FLOW_TOO_DEEP = 101600,    // nesting too deep: a command name twice and the limit
    KX_ERR_FLOW_NO_LOOP = 108120,     // LOOP-END without an open loop (no arguments)
    KX_ERR_FLOW_BAD_TARGET = 900050,  // a jump target outside the body it lands in
};

// Limits as the messages give them: the depth that is refused.
enum { KX_IF_LIMIT = 128, KX_CALL_LIMIT = 64, KX_LOOP_LIMIT = 64 };

// The command handlers (no arguments; 0 to go on, -1 after an error or when the thread ended).
int CmdElse(void);          // 11: head of an ELSE or ELSE-IF branch
int CmdGoto(void);          // 42
int CmdGosub(void);         // 43
int CmdIf(void);            // 44
int CmdBranchEnd(void);     // 45: end of a branch, on to the END-IF
int CmdIfBreak(void);       // 46: leave n if-blocks
int CmdIfRetry(void);       // 47: test an enclosing IF again
int CmdEndIf(void);         // 48
int CmdLabelExists(void);   // 52
int CmdLoop(void);          // 55
int CmdBreak(void);         // 56: leave n loops
int CmdContinue(void);      // 57: next pass of the n-th enclosing loop
int CmdLoopEnd(void);       // 58
int CmdReturn(void);        // 79

// The call command's argument decoder: decodes as FetchCommandArgs does, except that every
// text-valued argument is evaluated with integer arithmetic (evaluator type 3), whatever its
// record's type byte, which the body loader may have overwritten with a label index. 0, or -1
// after a reported error.
int FetchCallArgs(int nCmd);

// Copies a text into a growable heap string: with no buffer yet, a non-NULL text gets a new buffer
// of its length + 1; with a buffer, NULL empties it, a text longer than the current content gets
// the buffer reallocated to its length + 1, any other text is copied in place. 0, or -1 after
// error 100010 (the slot keeps its old text).
int AssignStringSlot(char** ppszSlot, const char* pszText);

// Moves the thread to command nCommand of script wScript: another script's body is loaded when
// needed and its tables taken into the thread. A command index outside that body reports 900050
// (fatal) and changes nothing. 0, or -1.
int SetThreadPosition(SCRIPT_THREAD* pThread, uint16_t wScript, int64_t llCommand);

// Script thread commands: start, reconfigure, end and inspect script threads, the script-list
// query, and the thread state text that carries a thread's position and flow stacks through text
// variables and save files.
#pragma once
#include <cstddef>
#include <cstdint>

struct TREE_NODE;
struct SCRIPT_THREAD;

// Error ids of the thread commands (texts from the game's message table).
enum {
    KX_ERR_THREAD_IS_GROUP = 101293,     // a thread name ending in '/' (command name, path)
    KX_ERR_NO_THREAD = 101400,           // no thread at the path (command name, path)
    KX_ERR_SYSTEM_THREAD_END = 101420,   // the root thread cannot be ended (command name)
    KX_ERR_STATE_TEXT_MAGIC = 900000,    // a thread state text without its leading bytes
    KX_ERR_STATE_TEXT = 102130,          // a state text that is damaged or names an unlisted script
};

// The thread state text: the bytes 01..08, then the if, call and loop stacks, text-end value 1, the
// program counter and the current script's file name. Every byte of a value is two letters 'a'+high
// nibble, 'a'+low nibble; 32-bit values most significant byte first. Its length is
// 38 + 18 x if depth + 20 x call depth + 34 x loop depth + the name's length, at most
// KX_THREAD_STATE_FIXED_MAX + the name's length.
enum {
    KX_THREAD_STATE_BASE = 38,
    KX_THREAD_STATE_IF = 18,
    KX_THREAD_STATE_CALL = 20,
    KX_THREAD_STATE_LOOP = 34,
    KX_THREAD_STATE_FIXED_MAX = KX_THREAD_STATE_BASE + KX_THREAD_STATE_IF * 127 + KX_THREAD_STATE_CALL * 63 +
                                KX_THREAD_STATE_LOOP * 63,
    KX_THREAD_STATE_NAME_MAX = 262,      // bytes of the file name that the look-up compares
};

// Command handlers: 0, or -1 after a reported error (or when the running thread ended itself).
int CmdScriptList(void);   // 94
int CmdThread(void);       // 95
int CmdThreadEnd(void);    // 96
int CmdThreadInfo(void);   // 97

// Writes the thread's state text into pBuf (nCap bytes, no terminator needed): its length, or -1
// when the buffer or the thread is missing, the text does not fit, or a depth is outside its stack.
int EncodeThreadState(char* pBuf, size_t nCap, const SCRIPT_THREAD* pThread);
// The length EncodeThreadState writes for the thread (0 for a missing thread).
size_t GetThreadStateLength(const SCRIPT_THREAD* pThread);

// Restores the thread from the nLen bytes of a state text: depths, stack entries, text-end value 1,
// program counter and script (whose body is loaded and taken into the thread when it changes).
// Returns the bytes read; 0 after a reported error, with the thread unchanged: 900000 without the
// leading bytes, 102130 for a text shorter than its contents, a byte that is not a letter pair,
// depths beyond 127 if-blocks, 63 calls or 63 loops, depths or scripts inside entries beyond their
// stacks or the list, a program counter outside the body, or a file name that is not in the script
// list (compared without regard to ASCII case); 100010 when an entry cannot be allocated. -1 when
// the text or the thread is missing.
int DecodeThreadState(const char* pText, size_t nLen, SCRIPT_THREAD* pThread);

// Ends the thread of a leaf node (threads have no children; groups are left alone): takes the
// node out of its tree, frees its thread record and the node.
// When it is the running thread, g_pCurThread and g_pCurThreadNode become NULL, so nothing that
// runs after the handler returns can reach the freed record (the scheduler fetches the next thread
// from the tree afresh). Nothing for NULL. Meant for every way a thread ends (this command, a
// return at call depth 0).
void EndThreadNode(TREE_NODE* pNode);

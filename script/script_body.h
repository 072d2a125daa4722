// Script bodies: the compiled commands of one listed script ("kxbin\kxt%05d.kbn"), loaded on first
// use and kept for the run, and the label look-up.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/script_thread.h"

// One argument record of a command, 12 bytes, as stored in region 2 of a body file. Records of
// the flow commands (jump, if, else, loop, call, return) keep command indices in dwExprLen.
struct ARG_RECORD {
    uint8_t bArgId;         // +0 position of the argument in the command's definition (kxc.kbn)
    uint8_t bUnused;        // +1
    uint8_t bEvalType;      // +2 1 integer, 2 double, 3 text with integer arithmetic, 4 text with double
    uint8_t bOperator;      // +3 0 "=", 1 "+=", 2 "-=", 3 "*=", 4 "/=" (5..8 "%=" "&=" "|=" "^=" for the assignment)
    uint32_t dwExprLen;     // +4 expression length in bytes (jump: 0x10000000 + label index once pre-resolved)
    uint32_t dwExprOffset;  // +8 expression offset from the start of the body's expression bytes
};
static_assert(sizeof(ARG_RECORD) == 12, "ARG_RECORD is the 12-byte file record");

// The jump's pre-resolved target: a length field with any of its top four bits set holds a label index.
enum : uint32_t { KX_ARG_LABEL_FLAG = 0x10000000u, KX_ARG_LABEL_MASK = 0x0FFFFFFFu, KX_ARG_LABEL_TEST = 0xF0000000u };
// The call's pre-resolved target: the id-0 record's bytes 2-3 read as a little-endian uint16; 0 means
// "look the name up at run time" (so a call to label 0 is always looked up).
inline uint16_t GetArgLabelIndex(const ARG_RECORD* p) { return static_cast<uint16_t>(p->bEvalType | (p->bOperator << 8)); }
inline void SetArgLabelIndex(ARG_RECORD* p, uint16_t w) { p->bEvalType = static_cast<uint8_t>(w); p->bOperator = static_cast<uint8_t>(w >> 8); }

// A loaded body, one per listed script, in the slot of its script index in g_ppScriptBody. A body
// whose file is missing or damaged stays a zeroed record: no commands, no tables.
struct SCRIPT_BODY {
    int32_t nCommands;              // N
    CMD_HANDLER** ppHandlerTables;  // the pair: [0] every command -> DispatchWhilePaused, [1] bound handlers
    uint16_t* pwCommandWords;       // N command words (counts of the call and return commands)
    uint8_t* pbArgCounts;           // N argument counts
    uint8_t* pbOpcodes;             // N command ids, for the name that error reports give
    ARG_RECORD** ppFirstArgs;       // N pointers to each command's first ARG_RECORD (inside the image)
    uint8_t* pbExpr;                // expression bytes (region 3)
    int32_t* pnLineTable;           // N source line numbers (region 4)
    uint32_t nExprBytes;            // length of region 3: an expression must lie inside [0, nExprBytes)
    uint32_t nArgRecords;           // ARG_RECORDs of all commands together
    uint8_t* pbImage;               // the descrambled regions 2, 3 and 4 (aligned), owned by the body
};

// The script list and the label table. Filled at start-up by the script tables' loader (script
// list: g_nScripts, g_apszScriptName, g_ppScriptBody through AllocScriptBodyTable; labels:
// g_apLabel, g_nLabels, g_anLabelBucket); defined with the body loader, which reads them.
extern int32_t g_nScripts;            // number of listed scripts
extern char** g_apszScriptName;       // script source file name by script index (cp932, terminated)
extern SCRIPT_BODY** g_ppScriptBody;  // one body slot per script, empty until first use

struct LABEL_ENTRY {
    char* pszName;        // own terminated copy
    uint32_t dwHash;      // MurmurHash2 of the name, seed 0
    int32_t nCommand;     // command index in the body of wScript
    uint16_t wScript;     // script index
    uint8_t nIfDepth;     // open if-blocks at the label
    uint8_t nLoopDepth;   // open loops at the label
};
extern LABEL_ENTRY** g_apLabel;       // in file order (ascending unsigned hash)
extern int32_t g_nLabels;
extern int32_t g_anLabelBucket[256];  // first label index by the top byte of the hash; entry 0 is 0

// One zeroed body slot per script (g_nScripts of them). 0, or -1 after error 100010.
int AllocScriptBodyTable(void);
// Frees every loaded body and the slot table (shut-down and tests).
void FreeScriptBodies(void);

// Loads the body of script s on first use: locates "kxbin\kxt%05d.kbn" through the file sources,
// descrambles each region with g_abScriptKey, binds the handler pair, pre-resolves constant jump and
// call targets and applies the script's local variable definitions. 1 when the body is loaded or
// was loaded before (also for the empty record of a body that failed before), 0 when the file is
// missing or unreadable or does not fit its layout (104010, fatal, with the file name) or the
// script index is outside the list. The slot always holds a record afterwards when s is listed.
int LoadScriptBody(uint16_t wScript);

// Points the thread at the body of script s: copies the six table pointers, the command count and
// the script index together (an empty record gives no tables and 0 commands). The body must have
// been loaded (LoadScriptBody); an unlisted script leaves an empty thread.
void SetThreadBody(SCRIPT_THREAD* pThread, uint16_t wScript);

// Index of the label in g_apLabel, or -1. The hash covers nLen bytes; the name must also end there.
int32_t FindLabel(const char* pszName, size_t nLen);

// The script location for the header of error reports (g_EngineHooks.pfnGetScriptLocation): the
// current thread's script file name and the source line of g_nCurCommand; 0 when there is no
// thread, no listed script or the command index is outside the body.
int GetScriptLocation(const char** ppszFile, int* pnLine);

// The compiled script tables that the script compiler writes into kxbin\: error texts (kxe.kbn),
// command table (kxc.kbn), variable table (kxt.kbn), script list (kxt_list.kbn), variable
// definitions (kxv.kbn) and labels (kxl.kbn). StartScriptSystem reads them once at start-up, gives
// the global variables their initial values and places the root thread "SYSTEM" at the label
// "SYSTEM_START". The tables live until the end of the run.
//
// Every loader reads its image through a bounded cursor: a file that does not fit its layout is
// reported as 104010 (fatal, with the file name) and the loader fails.
#pragma once
#include <cstddef>
#include <cstdint>

#include "script/script_body.h"

enum {
    KX_ERRNO_TEXTS = 37,        // errno messages 0..36 after the commands in kxc.kbn
    KX_KEY_MAP_SIZE = 256,      // key-map bytes that end kxc.kbn
    KX_VAR_TABLE_VERSION = 555, // the only version of kxt.kbn the engine reads
};

// Error ids of the loaders (texts from the message table or the engine's own).
enum {
    KX_ERR_VAR_TABLE_VERSION = 105000,   // kxt.kbn of another version
    KX_ERR_LABEL_NOT_FOUND = 108180,     // a label name that no label has (argument: the name)
    KX_ERR_SCRIPT_LIST_INDEX = 901030,   // a script-list record whose index is out of range or repeated
};

// File names (cp932, '\').
#define KX_FILE_ERROR_TEXTS "kxbin\\kxe.kbn"
#define KX_FILE_COMMANDS "kxbin\\kxc.kbn"
#define KX_FILE_VAR_TABLE "kxbin\\kxt.kbn"
#define KX_FILE_SCRIPT_LIST "kxbin\\kxt_list.kbn"
#define KX_FILE_VAR_DEFS "kxbin\\kxv.kbn"
#define KX_FILE_LABELS "kxbin\\kxl.kbn"
#define KX_START_LABEL "SYSTEM_START"

// ---- kxc.kbn: commands ----
// The command id is the command's position in the file and equals the opcode byte of the command
// records in script bodies. Names point into the file image, which stays in memory.
extern int32_t g_nCommands;               // commands in the table
extern char** g_apszCmdName;              // by command id
extern uint8_t* g_pbArgCount;             // arguments per command id
extern char*** g_appszArgName;            // [command][argument id]
// Per argument: 0 evaluated to a 64-bit integer, 1 to a text, 2 kept unevaluated (a value above 2
// in the file is stored as 2).
extern uint8_t** g_apbArgValueKind;
extern uint8_t** g_apbArgCheckKind;       // range-check kind 0..28
extern char* g_apszErrnoText[KX_ERRNO_TEXTS];
extern uint8_t g_abKeyMap[KX_KEY_MAP_SIZE];

// ---- kxt_list.kbn: scripts ----
// The script names, the body slots and the label table are declared with the body loader
// (script/script_body.h), which reads them; the loaders here fill them.
extern int32_t* g_anScriptValue;          // one value per list record, by the record's position

// ---- loaders, in start-up order ----
// Each locates its file through the file sources, reads it whole and builds its tables. A file
// that is missing is 104060, one that cannot be read 104010, a pack that does not open 901040, each
// fatal with the file name.
int LoadErrorTexts(void);      // 0, or non-zero
int LoadCommandTable(void);    // 0, or non-zero; binds the command handlers after the table
int LoadVarTable(void);        // 0, or non-zero (version other than 555: 105000)
int LoadScriptList(void);      // 0, or 1 (a bad index: 901030)
int LoadVarDefs(void);         // 0, or 1
// Labels must be sorted by hash, their bucket starts must lead to them, their script must be
// listed and their depths must fit the thread's stacks; otherwise 104010.
int LoadLabels(void);          // 0, or non-zero
// Applies the variable definitions: key -1 the global ones (scope 1 and 3), key s the local ones of
// script s. 0, or -1 after a reported error.
int ApplyVarDefs(int nKey);

// Loads every table in order, applies the global definitions and places "SYSTEM" at
// "SYSTEM_START" (its script's body loaded). 0 success, 1 a table, the start label (108180) or the
// start body (104060) failed, -1 the thread tree has no node "SYSTEM".
int StartScriptSystem(void);


// Releases every table, the loaded bodies included, and puts the counts back to 0 (tests and
// shut-down).
void FreeScriptTables(void);
